#include "print/file_channel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "test_util.h"

namespace vkt::print_io {
namespace {

using vkt::testing::ReadFile;
using vkt::testing::TempDir;

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      had_ = true;
      old_ = old;
    }
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_) setenv(name_.c_str(), old_.c_str(), 1);
    else unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

TEST(FileChannelTest, TemporaryFilesAreNewPrivateAndNamedWithThePrefix) {
  TempDir dir;
  std::string a, b;
  FILE* fa = CreateTempOutputFile(dir.path(), "VKT", &a);
  FILE* fb = CreateTempOutputFile(dir.path(), "VKT", &b);
  ASSERT_NE(fa, nullptr);
  ASSERT_NE(fb, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(dir.path() + "/VKT", 0), 0u) << a;
  struct stat st;
  ASSERT_EQ(stat(a.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(WriteAll(fa, "AB\r\n", 4));
  EXPECT_TRUE(CloseOutputFile(fa));
  EXPECT_TRUE(CloseOutputFile(fb));
  EXPECT_EQ(ReadFile(a), "AB\r\n");

  // A folder that does not exist falls back to $TMPDIR, as %TMP% on Windows.
  TempDir other;
  ScopedEnv tmp("TMPDIR", other.path().c_str());
  std::string c;
  FILE* fc = CreateTempOutputFile(dir / "manca", "VKT", &c);
  ASSERT_NE(fc, nullptr);
  EXPECT_EQ(c.rfind(other.path() + "/VKT", 0), 0u) << c;
  EXPECT_TRUE(CloseOutputFile(fc));
}

TEST(FileChannelTest, LostDataIsAFailure) {
  // The device is full: the buffered write looks fine, the close does not.
  FILE* full = CreateOutputFile("/dev/full");
  ASSERT_NE(full, nullptr);
  EXPECT_TRUE(WriteAll(full, "ABC", 3));
  EXPECT_FALSE(CloseOutputFile(full));

  TempDir dir;
  EXPECT_EQ(CreateOutputFile(dir / "manca/file.txt"), nullptr);
  EXPECT_EQ(CreateOutputFile(""), nullptr);
  EXPECT_FALSE(WriteAll(nullptr, "A", 1));
  EXPECT_FALSE(CloseOutputFile(nullptr));
}

TEST(FileChannelTest, ViewerIsTheVariableOrOurOwnViewFoundOnThePath) {
  {
    ScopedEnv v("VKT_TEXT_VIEWER", "/bin/sh  -x view ");
    std::string program, lead;
    ASSERT_TRUE(FindTextViewer(&program, &lead));
    EXPECT_EQ(program, "/bin/sh");
    EXPECT_EQ(lead, "-x view");
  }
  {
    ScopedEnv v("VKT_TEXT_VIEWER", "/nessuna/rizavu");
    std::string program, lead;
    EXPECT_FALSE(FindTextViewer(&program, &lead));
  }
  {
    // A file that is not executable is no viewer.
    TempDir dir;
    vkt::testing::WriteFile(dir / "vkt", "#!/bin/sh\n");
    ScopedEnv v("VKT_TEXT_VIEWER", nullptr);
    ScopedEnv path("PATH", dir.path().c_str());
    std::string program, lead;
    EXPECT_FALSE(FindTextViewer(&program, &lead));
    chmod((dir / "vkt").c_str(), 0755);
    ASSERT_TRUE(FindTextViewer(&program, &lead));
    EXPECT_EQ(program, dir / "vkt");
    EXPECT_EQ(lead, "view");
  }
  EXPECT_EQ(DirectoryOf("/a/b/VKT123"), "/a/b");
  EXPECT_EQ(DirectoryOf("/VKT123"), "/");
  EXPECT_EQ(DirectoryOf("VKT123"), ".");
}

}  // namespace
}  // namespace vkt::print_io
