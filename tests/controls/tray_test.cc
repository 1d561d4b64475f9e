// The tray icon's balloons and their one action, through the recording
// notifier and the logged one.
#include "controls/vkttrayicon.h"
#include "system_fixture.h"
#include "win/winconst.h"

namespace {

class TrayTest : public vkt::test::SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    previous_ = vkt::controls::SetNotifier(&rec_);
  }
  void TearDown() override {
    vkt::controls::SetNotifier(previous_);
    SystemTest::TearDown();
  }
  vkt::controls::RecordingNotifier rec_;
  vkt::controls::TrayNotifier* previous_ = nullptr;
};

TEST_F(TrayTest, BalloonWithALinkOpensItWhenTheUserActs) {
  CVKTTrayIcon tray;
  // Not in the notification area yet: nothing shown.
  EXPECT_FALSE(tray.ShowMessage("Titolo", "Testo", NIIF_INFO, 0, nullptr, 1000));
  EXPECT_TRUE(rec_.shown.empty());

  ASSERT_TRUE(tray.Create("Mirto Gestionale", nullptr));
  EXPECT_TRUE(tray.ShowMessage("Aggiornamento", "\xC8 disponibile la versione 2.1", NIIF_INFO, 1,
                               "https://www.example.org/novita", 5000));
  ASSERT_EQ(rec_.shown.size(), 1u);
  EXPECT_EQ(rec_.shown[0].app, "Mirto Gestionale");
  EXPECT_EQ(rec_.shown[0].title, "Aggiornamento");
  EXPECT_EQ(rec_.shown[0].text, "\xC8 disponibile la versione 2.1");
  EXPECT_EQ(rec_.shown[0].icon_flags, NIIF_INFO);
  EXPECT_EQ(rec_.shown[0].timeout_ms, 5000u);
  EXPECT_TRUE(fake_.shell_calls().empty());

  tray.DoAction(0, nullptr);
  ASSERT_EQ(fake_.shell_calls().size(), 1u);
  EXPECT_EQ(fake_.shell_calls()[0], "https://www.example.org/novita|||" + std::to_string(SW_SHOWNORMAL));

  // A message without an action keeps the link, but acting opens nothing.
  EXPECT_TRUE(tray.ShowMessage("Backup", "Copia completata", NIIF_NONE, 0, "https://altro", 0));
  EXPECT_EQ(tray.GetLink().str(), "https://www.example.org/novita");
  EXPECT_EQ(tray.GetAction(), 0u);
  tray.DoAction(0, nullptr);
  tray.DoAction(0, "https://ignorato");
  EXPECT_EQ(fake_.shell_calls().size(), 1u);
  EXPECT_EQ(tray.GetLink().str(), "https://www.example.org/novita");

  // The host's own action 1 with a new link replaces both and opens it.
  tray.DoAction(1, "https://www.example.org/fattura?id=7");
  ASSERT_EQ(fake_.shell_calls().size(), 2u);
  EXPECT_EQ(fake_.shell_calls()[1], "https://www.example.org/fattura?id=7|||1");
  EXPECT_EQ(tray.GetAction(), 1u);

  // A notifier that cannot show answers false.
  rec_.result = false;
  EXPECT_FALSE(tray.ShowMessage("Errore", "Disco pieno", NIIF_ERROR, 0, nullptr, 0));
  EXPECT_EQ(rec_.shown.size(), 3u);
}

TEST_F(TrayTest, WithoutADesktopTheBalloonGoesToTheLog) {
  vkt::controls::LoggedNotifier logged;
  vkt::controls::SetNotifier(&logged);
  CVKTTrayIcon tray;
  tray.Create("Mirto", nullptr);
  EXPECT_TRUE(tray.ShowMessage("Scadenze", "3 fatture scadute, pi\xF9 di 30 giorni", NIIF_WARNING,
                               0, nullptr, 3000));
  ASSERT_EQ(fake_.notices().size(), 1u);
  EXPECT_EQ(fake_.notices()[0], "Notifica Mirto: Scadenze - 3 fatture scadute, pi\xF9 di 30 giorni");
  tray.SetTooltipText(nullptr);
  EXPECT_TRUE(tray.ShowMessage("Solo titolo", "", NIIF_NONE, 0, nullptr, 0));
  EXPECT_EQ(fake_.notices().back(), "Notifica: Solo titolo");
  // With nothing installed the library picks a notifier by itself.
  vkt::controls::SetNotifier(nullptr);
  vkt::controls::TrayNotifier& chosen = vkt::controls::Notifier();
  EXPECT_EQ(dynamic_cast<vkt::controls::DesktopNotifier*>(&chosen) != nullptr,
            vkt::controls::DesktopNotifier::Available());
}

}  // namespace
