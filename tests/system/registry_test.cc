// CRegistry over the registry store: typed values, defaults for anything
// unreadable, the 255-byte text limit.
#include "system/registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vkt-creg-XXXXXX";
    dir_ = mkdtemp(tmpl);
    vkt::win::SetRegistryFolder(dir_);
  }
  void TearDown() override {
    vkt::win::SetRegistryFolder("");
    vkt::win::RegFailCommitsForTest(0);
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
  CRegistry reg_;
};

TEST_F(Registry, MissingKeysAndValuesGiveTheDefaults) {
  EXPECT_FALSE(reg_.SetKey("Software\\Nope", false));
  EXPECT_EQ(reg_.LastResult(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_.GetCurrentPath(), "");
  reg_.SetKey("Software\\Nope", false);
  EXPECT_EQ(reg_.ReadInt("x", 17), 17);
  ASSERT_TRUE(reg_.SetKey("Software\\Mirto", true));
  EXPECT_EQ(reg_.ReadInt("x", 17), 17);
  EXPECT_EQ(reg_.ReadString("x", "def"), "def");
  EXPECT_EQ(reg_.GetDataSize("x"), -1);
  EXPECT_EQ(reg_.GetDataType("x"), 0u);
  EXPECT_FALSE(reg_.ValueExists("x"));
  CPoint p(3, 4);
  EXPECT_FALSE(reg_.ReadPoint("x", &p));
  EXPECT_EQ(p, CPoint(3, 4));
  // A failed SetKey keeps the path it had.
  EXPECT_FALSE(reg_.SetKey("Software\\Other", false));
  EXPECT_EQ(reg_.GetCurrentPath(), "Software\\Mirto");
  CRegistry none;
  none.SetKey("Software\\Gone", false);
  EXPECT_EQ(none.GetSubKeyCount(), 1);  // the empty path is the root: "Software"
  EXPECT_TRUE(none.DELCHK("Software\\Gone"));
}

TEST_F(Registry, TypedValuesRoundTripAtTheirStoredSizes) {
  ASSERT_TRUE(reg_.SetKey("Software\\Mirto\\Opzioni", true));
  EXPECT_TRUE(reg_.WriteInt("i", -5));
  EXPECT_TRUE(reg_.WriteBool("b", true));
  EXPECT_TRUE(reg_.WriteDword("d", 0xFFFFFFF0u));
  EXPECT_TRUE(reg_.WriteColor("c", 0x00FF8000u));
  EXPECT_TRUE(reg_.WriteFloat("f", 3.25));
  COleDateTime when(2024, 2, 29, 10, 30, 0);
  EXPECT_TRUE(reg_.WriteDateTime("t", when));
  EXPECT_TRUE(reg_.WritePoint("p", CPoint(-1, 2)));
  EXPECT_TRUE(reg_.WriteSize("s", CSize(640, 480)));
  EXPECT_TRUE(reg_.WriteRect("r", CRect(1, 2, 3, 4)));
  EXPECT_TRUE(reg_.WriteString("txt", "Citt\xE0"));

  CRegistry fresh;  // a second object reads what the first wrote
  ASSERT_TRUE(fresh.SetKey("software\\MIRTO\\opzioni", false));
  EXPECT_EQ(fresh.ReadInt("i", 0), -5);
  EXPECT_TRUE(fresh.ReadBool("b", false));
  EXPECT_EQ(fresh.ReadDword("d", 0), 0xFFFFFFF0u);
  EXPECT_EQ(fresh.ReadColor("c", 0), 0x00FF8000u);
  EXPECT_EQ(fresh.ReadFloat("f", 0), 3.25);
  COleDateTime t = fresh.ReadDateTime("t", COleDateTime());
  EXPECT_EQ(static_cast<double>(t), static_cast<double>(when));
  EXPECT_EQ(t.GetStatus(), COleDateTime::valid);
  CPoint p;
  CSize s;
  CRect r;
  EXPECT_TRUE(fresh.ReadPoint("p", &p));
  EXPECT_TRUE(fresh.ReadSize("s", &s));
  EXPECT_TRUE(fresh.ReadRect("r", &r));
  EXPECT_EQ(p, CPoint(-1, 2));
  EXPECT_EQ(s, CSize(640, 480));
  EXPECT_EQ(r.right, 3);
  EXPECT_EQ(r.bottom, 4);
  EXPECT_EQ(fresh.ReadString("txt", ""), "Citt\xE0");
  EXPECT_EQ(fresh.GetDataSize("f"), 8);
  EXPECT_EQ(fresh.GetDataSize("t"), 12);
  EXPECT_EQ(fresh.GetDataSize("r"), 16);
  EXPECT_EQ(fresh.GetDataType("txt"), REG_SZ);
  EXPECT_EQ(fresh.GetDataType("i"), REG_BINARY);
  EXPECT_EQ(fresh.GetValueCount(), 10);

  // A value of another size is not the type asked for.
  EXPECT_EQ(fresh.ReadInt("f", 99), 99);
  EXPECT_EQ(fresh.ReadFloat("i", 1.5), 1.5);
  EXPECT_FALSE(fresh.ReadRect("p", &r));
  // Text is read only from text values.
  EXPECT_EQ(fresh.ReadString("i", "def"), "def");
  EXPECT_TRUE(fresh.DeleteValue("i"));
  EXPECT_FALSE(fresh.ValueExists("i"));
}

TEST_F(Registry, TextsStopAt255Bytes) {
  ASSERT_TRUE(reg_.SetKey("Software\\T", true));
  EXPECT_TRUE(reg_.WriteString("a", CString(std::string(254, 'x'))));
  EXPECT_FALSE(reg_.WriteString("b", CString(std::string(255, 'x'))));
  EXPECT_FALSE(reg_.ValueExists("b"));
  EXPECT_EQ(reg_.ReadString("a", "").GetLength(), 254);
  // Another writer stored 255 bytes with no terminator: read back ended.
  ASSERT_EQ(vkt::win::RegSetValue(HKEY_CURRENT_USER, "Software\\T", "full", REG_SZ,
                                  std::string(255, 'y')),
            ERROR_SUCCESS);
  EXPECT_EQ(reg_.ReadString("full", "def"), CString(std::string(255, 'y')));
  ASSERT_EQ(vkt::win::RegSetValue(HKEY_CURRENT_USER, "Software\\T", "long", REG_EXPAND_SZ,
                                  std::string(300, 'z')),
            ERROR_SUCCESS);
  EXPECT_EQ(reg_.ReadString("long", "def"), "def");
}

TEST_F(Registry, KeysRootsAndSeveralValuesInOneChange) {
  EXPECT_FALSE(reg_.SetRootKey(HKEY_CURRENT_CONFIG));
  EXPECT_EQ(reg_.GetRootKey(), HKEY_CURRENT_USER);
  EXPECT_TRUE(reg_.SetRootKey(HKEY_LOCAL_MACHINE));
  EXPECT_TRUE(reg_.CreateKey("Software\\A\\B"));
  EXPECT_TRUE(reg_.KeyExists("Software\\A"));
  EXPECT_FALSE(reg_.KeyExists("Software\\A", HKEY_CURRENT_USER));
  EXPECT_TRUE(reg_.SetKey("Software\\A", false));
  EXPECT_EQ(reg_.GetSubKeyCount(), 1);
  EXPECT_FALSE(reg_.DELCHK("Software\\A"));  // has a sub-key
  EXPECT_TRUE(reg_.DELCHK("Software\\A\\B"));
  EXPECT_TRUE(reg_.DELCHK("Software\\A\\B"));

  ASSERT_TRUE(reg_.WriteStrings({{"Host", "h1"}, {"Database", "d1"}}));
  vkt::win::RegFailCommitsForTest(1);
  EXPECT_FALSE(reg_.WriteStrings({{"Host", "h2"}, {"Database", "d2"}}));
  EXPECT_EQ(reg_.ReadString("Host", ""), "h1");
  EXPECT_EQ(reg_.ReadString("Database", ""), "d1");
  EXPECT_FALSE(reg_.WriteStrings({{"Host", "h3"}, {"Big", CString(std::string(300, 'q'))}}));
  EXPECT_EQ(reg_.ReadString("Host", ""), "h1");
  EXPECT_TRUE(reg_.ClearKey());
  EXPECT_EQ(reg_.GetRootKey(), HKEY_CURRENT_USER);
  EXPECT_FALSE(reg_.PathIsValid());
}

}  // namespace
