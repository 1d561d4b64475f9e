// The file-backed registry store: values survive as written, a failed
// change leaves the old file whole, two processes keep each other's values.
#include "win/registry_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace vkt::win;

class RegistryStore : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vkt-reg-XXXXXX";
    dir_ = mkdtemp(tmpl);
    SetRegistryFolder(dir_ + "/registry");
  }
  void TearDown() override {
    SetRegistryFolder("");
    RegFailCommitsForTest(0);
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
};

TEST_F(RegistryStore, ValuesComeBackAsWrittenWhateverTheirBytes) {
  const std::string key = "Software\\ODBC\\ODBC.INI\\MIRTO SQL";
  EXPECT_EQ(RegOpenKeyPath(HKEY_CURRENT_USER, key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValue(HKEY_CURRENT_USER, key, "Host", REG_SZ, "x"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegCreateKeyPath(HKEY_CURRENT_USER, key), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyPath(HKEY_CURRENT_USER, "software\\odbc"), ERROR_SUCCESS);  // parents too
  const std::string odd_name = "a = b [%] \xE8\n";
  const std::string binary("\0\n\r=%[]\xFF", 8);
  ASSERT_EQ(RegSetValue(HKEY_CURRENT_USER, key, odd_name, REG_BINARY, binary), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(HKEY_CURRENT_USER, key, "Host", REG_SZ, std::string("db\0", 3)),
            ERROR_SUCCESS);
  RegValue v;
  ASSERT_EQ(RegQueryValue(HKEY_CURRENT_USER, "SOFTWARE\\odbc\\Odbc.ini\\mirto sql\\", odd_name, &v),
            ERROR_SUCCESS);
  EXPECT_EQ(v.type, REG_BINARY);
  EXPECT_EQ(v.data, binary);
  ASSERT_EQ(RegQueryValue(HKEY_CURRENT_USER, key, "HOST", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.name, "Host");
  EXPECT_EQ(v.data, std::string("db\0", 3));
  // Other roots are other files.
  EXPECT_EQ(RegQueryValue(HKEY_LOCAL_MACHINE, key, "Host", &v), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyPath(reinterpret_cast<HKEY>(42), key), ERROR_INVALID_HANDLE);

  int sub = -1, values = -1;
  ASSERT_EQ(RegQueryInfo(HKEY_CURRENT_USER, "Software\\ODBC", &sub, &values), ERROR_SUCCESS);
  EXPECT_EQ(sub, 1);
  EXPECT_EQ(values, 0);
  ASSERT_EQ(RegQueryInfo(HKEY_CURRENT_USER, key, &sub, &values), ERROR_SUCCESS);
  EXPECT_EQ(values, 2);
  EXPECT_EQ(RegDeleteValue(HKEY_CURRENT_USER, key, odd_name), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(HKEY_CURRENT_USER, key, odd_name), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyPath(HKEY_CURRENT_USER, "Software\\ODBC"), ERROR_KEY_HAS_CHILDREN);
  // A sibling whose name sorts between the parent and its children.
  ASSERT_EQ(RegCreateKeyPath(HKEY_CURRENT_USER, "Software\\ODBC X"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyPath(HKEY_CURRENT_USER, "Software\\ODBC X"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyPath(HKEY_CURRENT_USER, key), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyPath(HKEY_CURRENT_USER, key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryStore, AFailedChangeLeavesTheOldValuesWhole) {
  const std::string key = "Software\\Test";
  ASSERT_EQ(RegCreateKeyPath(HKEY_CURRENT_USER, key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValues(HKEY_CURRENT_USER, key,
                         {{"A", REG_SZ, "old-a"}, {"B", REG_SZ, "old-b"}}),
            ERROR_SUCCESS);
  RegFailCommitsForTest(1);
  EXPECT_EQ(RegSetValues(HKEY_CURRENT_USER, key,
                         {{"A", REG_SZ, "new-a"}, {"B", REG_SZ, "new-b"}, {"C", REG_SZ, "c"}}),
            ERROR_WRITE_FAULT);
  RegValue v;
  ASSERT_EQ(RegQueryValue(HKEY_CURRENT_USER, key, "A", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.data, "old-a");
  ASSERT_EQ(RegQueryValue(HKEY_CURRENT_USER, key, "B", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.data, "old-b");
  EXPECT_EQ(RegQueryValue(HKEY_CURRENT_USER, key, "C", &v), ERROR_FILE_NOT_FOUND);
  for (const auto& e : std::filesystem::directory_iterator(dir_ + "/registry"))
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

TEST_F(RegistryStore, ADamagedFileIsAnErrorAndIsNotOverwritten) {
  ASSERT_EQ(RegCreateKeyPath(HKEY_CURRENT_USER, "K"), ERROR_SUCCESS);
  const std::string file = dir_ + "/registry/HKEY_CURRENT_USER.reg";
  { std::ofstream(file, std::ios::trunc) << "garbage\n"; }
  EXPECT_EQ(RegOpenKeyPath(HKEY_CURRENT_USER, "K"), ERROR_BADDB);
  EXPECT_EQ(RegCreateKeyPath(HKEY_CURRENT_USER, "L"), ERROR_BADDB);
  std::ifstream in(file);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "garbage");
}

TEST_F(RegistryStore, TwoProcessesChangingOneKeyKeepEveryValue) {
  ASSERT_EQ(RegCreateKeyPath(HKEY_CURRENT_USER, "Shared"), ERROR_SUCCESS);
  constexpr int kEach = 40;
  pid_t kids[2];
  for (int p = 0; p < 2; ++p) {
    kids[p] = fork();
    ASSERT_GE(kids[p], 0);
    if (kids[p] == 0) {
      int bad = 0;
      for (int k = 0; k < kEach; ++k) {
        std::string name = "p" + std::to_string(p) + "_" + std::to_string(k);
        if (RegSetValue(HKEY_CURRENT_USER, "Shared", name, REG_SZ, name) != ERROR_SUCCESS) ++bad;
      }
      _exit(bad);
    }
  }
  for (pid_t kid : kids) {
    int status = 0;
    ASSERT_EQ(waitpid(kid, &status, 0), kid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int values = 0;
  ASSERT_EQ(RegQueryInfo(HKEY_CURRENT_USER, "Shared", nullptr, &values), ERROR_SUCCESS);
  EXPECT_EQ(values, 2 * kEach);
}

}  // namespace
