// INI files: parsing, case rules, atomic writes shared by two processes.
#include "win/ini_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string TempDir() {
  char dir[] = "/tmp/vkt-ini-XXXXXX";
  return mkdtemp(dir);
}

TEST(IniFileTest, ParsesSectionsCommentsAndIgnoresCase) {
  vkt::win::IniFile ini;
  ini.Parse("; skin\n[TabSettings]\nTabColor = 0x00FF00\r\nSelColor=12\n"
            "[SpreadSettings]\nFont=Tahoma\n[tabsettings]\ntabcolor=99\n");
  EXPECT_EQ(ini.Get("TABSETTINGS", "TabColor", ""), "99");  // later value wins
  EXPECT_EQ(ini.Get("TabSettings", "SelColor", ""), "12");
  EXPECT_EQ(ini.Get("SpreadSettings", "font", ""), "Tahoma");
  EXPECT_EQ(ini.Get("SpreadSettings", "Missing", "def"), "def");
  EXPECT_EQ(ini.Sections().size(), 2u);
  vkt::win::IniFile again;
  again.Parse(ini.Serialize());
  EXPECT_EQ(again.Get("TabSettings", "TabColor", ""), "99");
}

TEST(IniFileTest, WritesAreAtomicAndRefuseLineBreaks) {
  std::string dir = TempDir();
  std::string path = dir + "/a/b/app.ini";
  EXPECT_TRUE(vkt::win::WriteIniString(path, "Options", "User", "mario"));
  EXPECT_TRUE(vkt::win::WriteIniString(path, "Options", "Archivio", "ARCHIVI"));
  EXPECT_EQ(vkt::win::ReadIniString(path, "Options", "User", ""), "mario");
  // A value with a line break would become a second entry: refused, file kept.
  EXPECT_FALSE(vkt::win::WriteIniString(path, "Options", "User", "x\nPassword=1"));
  EXPECT_EQ(vkt::win::ReadIniString(path, "Options", "User", ""), "mario");
  EXPECT_EQ(vkt::win::ReadIniString(path, "Options", "Password", "none"), "none");
  EXPECT_NE(access((path + ".tmp").c_str(), F_OK), 0);
  std::system(("rm -rf " + dir).c_str());
}

TEST(IniFileTest, TwoProcessesWritingDifferentEntriesKeepBoth) {
  std::string dir = TempDir();
  std::string path = dir + "/shared.ini";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  int kRounds = 100;
  if (child == 0) {
    for (int i = 0; i < kRounds; ++i)
      vkt::win::WriteIniString(path, "Child", "k" + std::to_string(i), "c");
    _exit(0);
  }
  for (int i = 0; i < kRounds; ++i)
    vkt::win::WriteIniString(path, "Parent", "k" + std::to_string(i), "p");
  int status = 0;
  waitpid(child, &status, 0);
  vkt::win::IniFile ini;
  ASSERT_TRUE(ini.Load(path));
  EXPECT_EQ(ini.Entries("Child").size(), static_cast<size_t>(kRounds));
  EXPECT_EQ(ini.Entries("Parent").size(), static_cast<size_t>(kRounds));
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
