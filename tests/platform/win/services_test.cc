// The services seam: scripted answers, transcript, virtual clock, the system
// implementation's own answers.
#include "win/services.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

TEST(ServicesTest, ScriptedAnswersThenDefaultButtonsAreRecorded) {
  vkt::TestServices fake;
  vkt::ScopedServices use(&fake);
  fake.ScriptAnswer(IDNO);
  EXPECT_EQ(vkt::services().MessageBox("Vuoi uscire ?", "Mirto", MB_YESNO), IDNO);
  // No script left: the default button, honouring MB_DEFBUTTON2.
  EXPECT_EQ(vkt::services().MessageBox("Cancello ?", "Mirto", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(vkt::services().MessageBox("Ok", "Mirto", MB_OK), IDOK);
  EXPECT_EQ(vkt::services().MessageBox("?", "Mirto", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  // A default beyond the buttons falls back to the first.
  EXPECT_EQ(vkt::services().MessageBox("?", "Mirto", MB_OKCANCEL | MB_DEFBUTTON3), IDOK);
  ASSERT_EQ(fake.transcript().size(), 5u);
  EXPECT_EQ(fake.transcript()[0].text, "Vuoi uscire ?");
  EXPECT_EQ(fake.transcript()[0].answer, IDNO);
  EXPECT_EQ(fake.transcript()[1].type, MB_YESNO | MB_DEFBUTTON2);
}

TEST(ServicesTest, SleepAdvancesTheVirtualClocksWithoutWaiting) {
  vkt::TestServices fake;
  vkt::ScopedServices use(&fake);
  int64_t wall = vkt::services().NowMicros();
  int64_t mono = vkt::services().MonotonicMicros();
  time_t before = time(nullptr);
  for (int i = 0; i < 150; ++i) vkt::services().Sleep(500);
  EXPECT_LE(time(nullptr) - before, 1);  // 75 virtual seconds, no real ones
  EXPECT_EQ(vkt::services().NowMicros() - wall, INT64_C(75000000));
  EXPECT_EQ(vkt::services().MonotonicMicros() - mono, INT64_C(75000000));
  EXPECT_EQ(fake.sleeps().size(), 150u);
  EXPECT_EQ(fake.slept_ms(), 75000u);
}

TEST(ServicesTest, ScopedServicesRestoresThePreviousObject) {
  vkt::Services* system = &vkt::services();
  {
    vkt::TestServices a;
    vkt::ScopedServices use_a(&a);
    {
      vkt::TestServices b;
      vkt::ScopedServices use_b(&b);
      EXPECT_EQ(&vkt::services(), &b);
    }
    EXPECT_EQ(&vkt::services(), &a);
  }
  EXPECT_EQ(&vkt::services(), system);
}

TEST(ServicesTest, ExitThrowsInTestsAndWaitCursorNests) {
  vkt::TestServices fake;
  vkt::ScopedServices use(&fake);
  try {
    vkt::services().Exit(4);
    FAIL() << "Exit returned";
  } catch (const vkt::ExitRequested& e) {
    EXPECT_EQ(e.code, 4);
  }
  {
    vkt::WaitCursorGuard outer;
    {
      vkt::WaitCursorGuard inner;
      EXPECT_EQ(fake.wait_cursor_depth(), 2);
    }
    EXPECT_EQ(fake.wait_cursor_depth(), 1);
  }
  EXPECT_EQ(fake.wait_cursor_depth(), 0);
}

TEST(ServicesTest, ClipboardCanBeUnavailable) {
  vkt::TestServices fake;
  std::string text;
  EXPECT_FALSE(fake.GetClipboardText(&text));  // empty clipboard
  EXPECT_TRUE(fake.SetClipboardText("RSSMRA80A01H501U"));
  EXPECT_TRUE(fake.GetClipboardText(&text));
  EXPECT_EQ(text, "RSSMRA80A01H501U");
  fake.SetClipboardAvailable(false);
  EXPECT_FALSE(fake.GetClipboardText(&text));
  EXPECT_FALSE(fake.SetClipboardText("x"));
}

TEST(ServicesTest, SystemTimeZoneBiasIsTheStandardOffset) {
  vkt::SystemServices sys;
  setenv("TZ", "Europe/Rome", 1);
  EXPECT_EQ(sys.TimeZoneBias(), -60);  // daylight saving never included
  setenv("TZ", "America/New_York", 1);
  EXPECT_EQ(sys.TimeZoneBias(), 300);
  setenv("TZ", "UTC", 1);
  EXPECT_EQ(sys.TimeZoneBias(), 0);
  setenv("TZ", "Europe/Rome", 1);
  tzset();
  std::tm tm{};
  ASSERT_TRUE(sys.LocalTime(INT64_C(1720000000), &tm));  // 3 July 2024, summer
  EXPECT_EQ(tm.tm_hour, 11);  // 09:46:40 UTC + 2
  EXPECT_EQ(tm.tm_isdst, 1);

  vkt::TestServices fake;
  fake.SetTimeZoneBias(300);
  EXPECT_EQ(fake.TimeZoneBias(), 300);
}

TEST(ServicesTest, SystemProfileIsAnIniFileAndStringResourcesAreTheHosts) {
  char dir[] = "/tmp/vkt-profile-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  vkt::SystemServices sys;
  sys.SetProfilePath(std::string(dir) + "/sub/profile.ini");
  EXPECT_EQ(sys.GetProfileString("Options", "Server", "FAIRCOMS"), "FAIRCOMS");
  EXPECT_TRUE(sys.WriteProfileString("Options", "Server", "MIOSERVER"));
  EXPECT_TRUE(sys.WriteProfileInt("Settings", "Righe", 66));
  EXPECT_EQ(sys.GetProfileString("options", "server", ""), "MIOSERVER");
  EXPECT_EQ(sys.GetProfileInt("Settings", "Righe", 0), 66);
  EXPECT_EQ(sys.GetProfileInt("Settings", "Nessuna", 12), 12);

  EXPECT_EQ(sys.LoadString(20000), "");
  sys.SetStringResource(20000, "Codice gi\xE0 presente");
  EXPECT_EQ(sys.LoadString(20000), "Codice gi\xE0 presente");
  std::system((std::string("rm -rf ") + dir).c_str());
}

TEST(ServicesTest, SystemMessageBoxTakesTheDefaultButton) {
  vkt::SystemServices sys;
  testing::internal::CaptureStderr();
  EXPECT_EQ(sys.MessageBox("Elimino ?", "Mirto", MB_YESNO | MB_DEFBUTTON2), IDNO);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Elimino ?"), std::string::npos);
  EXPECT_NE(err.find("Mirto"), std::string::npos);
}

}  // namespace
