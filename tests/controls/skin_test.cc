// Skins over a program folder of real files: which skin loads with which
// files, what lands in the parameter block's skin_ini and when, the skin's
// settings and resource colours, the gradient background.
#include <cstring>
#include <string>

#include "controls/vktskin.h"
#include "system_fixture.h"
#include "win/canvas.h"
#include "win/dialog.h"

namespace {

class SkinTest : public vkt::test::SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    CVKTSkinManager::Reset();
    Write("Styles/Office2010.cjstyles", "style");
    Write("Styles/iTunesA.cjstyles", "style");
    Write("Styles/iTunesA_Normalitunes.ini", "[TabSettings]\nBackColor=1 2 3\n");
    Write("Styles/Office2010_NormalBlue.ini",
          "[TabSettings]\nBackColor=223 233 245\n[SpreadSettings]\nGridColor=10 20 30\n");
    Write("Styles/Office2010_NormalBlack.ini", "[TabSettings]\nBackColor=0 0 0\n");
  }
  void TearDown() override {
    CVKTSkinManager::Reset();
    SystemTest::TearDown();
  }
  void AddLibrary() {
    Write("office2010.dll", "MZ");
    Write("office2010/OFFICE2010BLUE.INI",
          "[Colors]\n  colorBg = 10 20 30\ncolorBgX = 1 2 3\ncolorHalf = 7 8\ncolorBig = 300 0 0\n"
          "\tcolorTab = 0 128 255\n");
    Write("office2010/OFFICE2010BLACK.INI", "colorBg = 1 1 1\n");
  }
  std::string SkinIni() const { return par_.skin_ini; }
};

TEST_F(SkinTest, TheITunesSkinNeedsNoResourceLibraryTheOfficeSkinsDo) {
  EXPECT_EQ(CVKTSkinManager::LoadSkin(kSkinITunes), 1);
  EXPECT_EQ(SkinIni(), dir_.path() + "/Styles/iTunesA_Normalitunes.ini");
  EXPECT_EQ(CVKTSkinManager::GetSelectedSkin(), kSkinITunes);
  EXPECT_EQ(CVKTSkinManager::GetPaintTheme(), 3);
  EXPECT_TRUE(vkt::win::SkinEnabled());
  EXPECT_EQ(CVKTSkinManager::GetSetting("TabSettings", "BackColor", "?"), "1 2 3");
  EXPECT_EQ(CVKTSkinManager::GetResourceFile(), nullptr);

  // Without office2010.dll: 0, and the published settings stay the iTunes ones.
  EXPECT_EQ(CVKTSkinManager::LoadSkin(kSkinOffice2010Blue), 0);
  EXPECT_EQ(CVKTSkinManager::GetSelectedSkin(), kSkinOffice2010Blue);
  EXPECT_EQ(SkinIni(), dir_.path() + "/Styles/iTunesA_Normalitunes.ini");

  // Numbers outside 1-6 select nothing.
  EXPECT_EQ(CVKTSkinManager::LoadSkin(kSkinNone), 0);
  EXPECT_EQ(CVKTSkinManager::LoadSkin(static_cast<VKTSkin>(7)), 0);
  EXPECT_EQ(SkinIni(), dir_.path() + "/Styles/iTunesA_Normalitunes.ini");

  AddLibrary();
  EXPECT_EQ(CVKTSkinManager::LoadSkin(kSkinOffice2010Blue2), 1);
  EXPECT_EQ(SkinIni(), dir_.path() + "/Styles/Office2010_NormalBlue.ini");
  EXPECT_EQ(CVKTSkinManager::GetPaintTheme(), 5);
  EXPECT_EQ(CVKTSkinManager::GetSetting("SpreadSettings", "GridColor", "?"), "10 20 30");
  EXPECT_EQ(CVKTSkinManager::GetSetting("TabSettings", "backcolor", "?"), "223 233 245");
  EXPECT_EQ(CVKTSkinManager::GetSetting("TabSettings", "Missing", "def"), "def");
}

TEST_F(SkinTest, SkinIniIsWrittenOnlyWhenTheSkinLoaded) {
  AddLibrary();
  ASSERT_EQ(CVKTSkinManager::LoadSkin(kSkinOffice2010Black), 1);
  EXPECT_EQ(SkinIni(), dir_.path() + "/Styles/Office2010_NormalBlack.ini");
  // The silver settings file is missing: the load fails and the block
  // keeps naming the black skin's file, not a file that is not there.
  EXPECT_EQ(CVKTSkinManager::LoadSkin(kSkinOffice2010Silver), 0);
  EXPECT_EQ(SkinIni(), dir_.path() + "/Styles/Office2010_NormalBlack.ini");
  // A missing style file fails the same way.
  std::filesystem::remove(dir_ / "Styles/iTunesA.cjstyles");
  EXPECT_EQ(CVKTSkinManager::LoadSkin(kSkinITunes), 0);
  EXPECT_EQ(SkinIni(), dir_.path() + "/Styles/Office2010_NormalBlack.ini");
}

TEST_F(SkinTest, APathTooLongForTheBlockFailsAndTouchesNothing) {
  // A program folder of 500 characters: the settings path would pass the
  // field's 520 bytes.
  std::string deep = dir_.path();
  while (deep.size() < 500) deep += "/cartella";
  std::filesystem::create_directories(deep + "/Styles");
  vkt::testing::WriteFile(deep + "/Styles/iTunesA.cjstyles", "style");
  std::snprintf(par_.path, sizeof par_.path, "%s", deep.c_str());
  std::memset(par_.skin_ini, 0, sizeof par_.skin_ini);
  std::strcpy(par_.skin_ini, "prima");
  int base = 0;
  par_.date_base = &base;  // the field right after skin_ini
  EXPECT_EQ(CVKTSkinManager::LoadSkin(kSkinITunes), 0);
  EXPECT_STREQ(par_.skin_ini, "prima");
  int* const after = par_.date_base;  // packed: read by value
  EXPECT_EQ(after, &base);
  EXPECT_EQ(par_.skin_ini[sizeof par_.skin_ini - 1], '\0');
}

TEST_F(SkinTest, ResourceColoursByName) {
  AddLibrary();
  ASSERT_EQ(CVKTSkinManager::LoadSkin(kSkinOffice2010Blue), 1);
  CVKTSkinManagerResourceFile* file = CVKTSkinManager::GetResourceFile();
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->GetColor("colorBg"), RGB(10, 20, 30));
  EXPECT_EQ(file->GetColor("colorBgX"), RGB(1, 2, 3));
  EXPECT_EQ(file->GetColor("colorTab"), RGB(0, 128, 255));
  EXPECT_EQ(file->GetColor("colorNone"), 0xFFFFFFFFu);
  EXPECT_EQ(file->GetColor("colorB"), 0xFFFFFFFFu);  // a prefix is not the name
  // Named, but not three colour values: no colour rather than leftovers.
  EXPECT_EQ(file->GetColor("colorHalf"), 0xFFFFFFFFu);
  EXPECT_EQ(file->GetColor("colorBig"), 0xFFFFFFFFu);
  EXPECT_EQ(file->GetColor(""), 0xFFFFFFFFu);

  ASSERT_EQ(CVKTSkinManager::LoadSkin(kSkinOffice2010Black), 1);
  ASSERT_NE(CVKTSkinManager::GetResourceFile(), nullptr);
  EXPECT_EQ(CVKTSkinManager::GetResourceFile()->GetColor("colorBg"), RGB(1, 1, 1));
  std::filesystem::remove(dir_ / "office2010/OFFICE2010BLACK.INI");
  EXPECT_EQ(CVKTSkinManager::GetResourceFile(), nullptr);
}

class GradientDialog : public CDialog {
 public:
  BOOL OnEraseBkgnd(CDC* dc) override { return CVKTSkinManager::OnEraseBkgnd(this, dc); }
};

TEST_F(SkinTest, DialogBackgroundIsTheSkinsGradient) {
  ASSERT_EQ(CVKTSkinManager::LoadSkin(kSkinITunes), 1);
  vkt::win::SetSkinColor(15, RGB(250, 250, 250));
  vkt::win::SetSkinColor(16, RGB(0, 0, 200));
  vkt::win::DialogTemplate t;
  t.caption = "Sfondo";
  t.rect = CRect(0, 0, 200, 200);
  t.style = WS_POPUP | WS_VISIBLE;
  GradientDialog dlg;
  ASSERT_TRUE(dlg.CreateIndirect(t));
  vkt::win::Image img = vkt::win::Render(&dlg);
  const COLORREF top = img.At(100, 0), bottom = img.At(100, img.height - 1);
  EXPECT_GE(GetRValue(top), 240);
  EXPECT_GE(GetBValue(bottom), 190);
  EXPECT_LE(GetRValue(bottom), 10);
  const COLORREF mid = img.At(100, img.height / 2);
  EXPECT_GT(GetRValue(mid), 90);
  EXPECT_LT(GetRValue(mid), 160);
}

}  // namespace
