// A copy between companies and an import killed with SIGKILL half way: the
// copy runs in this binary started again as a child. The source stays as it
// was, the target holds whole committed batches and passes isamtool verify.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "child_process.h"
#include "db/dbexport_fixture.h"

namespace vkt::db::test {
namespace {

namespace fs = std::filesystem;
using vkt::testing::Child;
using vkt::testing::ReadLine;
using vkt::testing::Spawn;

constexpr int kRecords = 1600;

std::string IsamtoolVerify(const std::string& dir) {
  Child c = Spawn({ISAMTOOL_PATH, "verify", dir});
  close(c.in);
  std::string out;
  for (std::string l = ReadLine(c.out); !l.empty(); l = ReadLine(c.out)) out += l + "\n";
  vkt::testing::WaitExit(c.pid);
  close(c.out);
  return out;
}

// --- The child ------------------------------------------------------------------------

// Says "ready" once `at` records went through and then waits to be killed;
// `at` 0 never stops.
class StopAt : public vkt::db::ProgressWindow {
 public:
  explicit StopAt(int at) : at_(at) {}
  bool Exists() override { return true; }
  void SetStatus(const char*) override {}
  void SetRange(int, int) override {}
  void SetStep(int) override {}
  int StepIt() override {
    if (++steps_ == at_) {
      std::printf("ready\n");
      std::fflush(stdout);
      for (;;) pause();
    }
    return 0;
  }
  int CheckCancelButton() override { return 0; }
  void HideCancel() override {}

 private:
  int at_;
  int steps_ = 0;
};

class StopProvider : public vkt::db::ProgressProvider {
 public:
  explicit StopProvider(int at) : at_(at) {}
  std::unique_ptr<vkt::db::ProgressWindow> Create(const char*) override {
    return std::make_unique<StopAt>(at_);
  }
  std::unique_ptr<vkt::db::ProgressWindow> Wrap(CVKTProgressDlg*) override { return nullptr; }

 private:
  int at_;
};

struct Host {
  Host() {
    setenv("TZ", "Europe/Rome", 1);
    tzset();
    vkt::LibraryLoad();
    std::memset(&par, 0, sizeof par);
    std::strcpy(par.app_name, "MIRTO");
    std::strcpy(par.user, "ROSSI");
    par.allow_create = 1;
    par.create_dirs = 1;
    VKTDlgInitialize(&par);
  }
  VKTAPPPARAM par;
};

// Copies company 1 into company 2 of `dir`, stopping after `at` records.
int CopyChild(const std::string& dir, int at) {
  Host h;
  StopProvider provider(at);
  vkt::db::SetProgressProvider(&provider);
  char none[1] = "";
  if (DBInitISAM(64, h.par.user, h.par.password, none, true, false, true) != 0) return 10;
  MovTable t(dir + "/dit00002/mov");
  Mov buf{};
  CDBCtree target(3, &t.ifil, &buf, PutStandard, nullptr, StampMov, 0);
  if (target.DBOpen(0) != 0) return 11;
  const int16_t s = target.DBCopy(1, 2);
  std::printf("copied %d status %d\n", target.DBNbrOfRecords(), s);
  return s == 0 ? 0 : 12;
}

// Imports the dump of `dir`/mov.bin into company 2, one record per call,
// saying "ready" after `at` of them.
int ImportChild(const std::string& dir, int at) {
  Host h;
  char none[1] = "";
  if (DBInitISAM(64, h.par.user, h.par.password, none, true, false, true) != 0) return 10;
  MovTable t(dir + "/dit00002/mov");
  Mov buf{};
  CDBCtree target(3, &t.ifil, &buf, PutStandard, nullptr, StampMov, 0);
  if (target.DBOpen(0) != 0) return 11;
  DB_IMPORT_EXPORT block{};
  block.file = std::fopen((dir + "/mov.bin").c_str(), "rb");
  if (block.file == nullptr) return 12;
  unsigned char id[2];
  int n = 0;
  while (std::fread(id, 1, 2, block.file) == 2) {
    if (target.DBImport(&block) != 0) return 13;
    if (++n == at) {
      std::printf("ready\n");
      std::fflush(stdout);
      for (;;) pause();
    }
  }
  return 0;
}

// --- The parent -----------------------------------------------------------------------------

class CrashTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    InitSession();
    fs::create_directories(dir_ + "/dit00001");
    fs::create_directories(dir_ + "/dit00002");
    std::vector<DATOBJ> schema = MovSchema();
    int changed = 0;
    ASSERT_EQ(source_.DBOpen(1), 0);
    ASSERT_EQ(source_.DBPutDoda(schema.data(), 0, &changed), 0);
    std::vector<Mov> list;
    for (int i = 1; i <= kRecords; ++i) list.push_back(MakeMov(i, 45000.0 + i));
    source_.DBSetLockStamp(1);
    ASSERT_EQ(AddMovs(source_, list), 0);
    before_ = Images(source_);
    ASSERT_EQ(source_.DBCloseIFile(), 0);
    ASSERT_EQ(target_.DBOpen(1), 0);
    ASSERT_EQ(target_.DBPutDoda(schema.data(), 0, &changed), 0);
    ASSERT_EQ(target_.DBCloseIFile(), 0);
  }

  std::vector<std::string> Images(CDBCtree& t) {
    std::vector<std::string> out;
    t.DBSetIndex(2);
    for (int16_t s = t.DBFirstRecord(); s == 0; s = t.DBNextRecord())
      out.emplace_back(static_cast<const char*>(t.DBGetBuffer()), sizeof(Mov));
    return out;
  }

  // Starts the child, waits for its "ready" and kills it.
  void RunAndKill(const char* role, int at) {
    Child c = Spawn({self_, dir_, std::to_string(at)}, {std::string("VKT_CRASH_CHILD=") + role});
    ASSERT_GT(c.pid, 0);
    EXPECT_EQ(ReadLine(c.out, 60000), "ready");
    ASSERT_EQ(kill(c.pid, SIGKILL), 0);
    EXPECT_EQ(vkt::testing::WaitExit(c.pid), -SIGKILL);
    close(c.in);
    close(c.out);
  }

  void ExpectSourceUntouched() {
    EXPECT_EQ(IsamtoolVerify(dir_ + "/dit00001"), "ok " + std::to_string(kRecords) + "\n");
    ASSERT_EQ(source_.DBOpen(0), 0);
    EXPECT_EQ(Images(source_), before_);
    ASSERT_EQ(source_.DBCloseIFile(), 0);
  }

  int32_t TargetCount() {
    EXPECT_EQ(target_.DBOpen(0), 0);
    const int32_t n = target_.DBNbrOfRecords();
    EXPECT_EQ(target_.DBCloseIFile(), 0);
    return n;
  }

  std::string self_ = fs::read_symlink("/proc/self/exe").string();
  MovTable src_t_{dir_ + "/dit00001/mov"};
  MovTable dst_t_{dir_ + "/dit00002/mov"};
  Mov sbuf_{}, dbuf_{};
  CDBCtree source_{3, &src_t_.ifil, &sbuf_, PutStandard, nullptr, StampMov, 0};
  CDBCtree target_{3, &dst_t_.ifil, &dbuf_, PutStandard, nullptr, StampMov, 0};
  std::vector<std::string> before_;
};

TEST_F(CrashTest, AKilledCopyLeavesWholeBatchesAndAnUntouchedSource) {
  // Killed with two batches committed and the third half done.
  RunAndKill("copy", 1200);
  ExpectSourceUntouched();
  EXPECT_EQ(TargetCount(), 1000);
  EXPECT_EQ(IsamtoolVerify(dir_ + "/dit00002"), "ok 1000\n");
  // The committed records are the source's first ones, byte for byte.
  ASSERT_EQ(target_.DBOpen(0), 0);
  std::vector<std::string> copied = Images(target_);
  ASSERT_EQ(copied.size(), 1000u);
  EXPECT_TRUE(std::equal(copied.begin(), copied.end(), before_.begin()));
  ASSERT_EQ(target_.DBCloseIFile(), 0);

  // A rerun finds the target not empty and copies nothing.
  Child c = Spawn({self_, dir_, "0"}, {"VKT_CRASH_CHILD=copy"});
  close(c.in);
  EXPECT_EQ(ReadLine(c.out), "copied 1000 status 0");
  EXPECT_EQ(vkt::testing::WaitExit(c.pid), 0);
  close(c.out);
  EXPECT_EQ(TargetCount(), 1000);

  // Killed inside its first batch: nothing at all.
  ASSERT_EQ(target_.DBOpen(0), 0);
  std::vector<DATOBJ> schema = MovSchema();
  ASSERT_EQ(target_.DBDeleteIFile(schema.data()), 0);
  ASSERT_EQ(target_.DBCloseIFile(), 0);
  RunAndKill("copy", 499);
  EXPECT_EQ(TargetCount(), 0);
  ExpectSourceUntouched();
}

TEST_F(CrashTest, KillsAtAnyMomentLeaveOnlyWholeBatches) {
  // No handshake: the kill lands wherever the copy is, a commit included.
  std::vector<DATOBJ> schema = MovSchema();
  for (int delay_ms : {20, 35, 45, 55, 65, 80, 100, 140}) {
    Child c = Spawn({self_, dir_, "0"}, {"VKT_CRASH_CHILD=copy"});
    ASSERT_GT(c.pid, 0);
    close(c.in);
    usleep(static_cast<useconds_t>(delay_ms) * 1000);
    kill(c.pid, SIGKILL);
    vkt::testing::WaitExit(c.pid);
    close(c.out);
    const int32_t n = TargetCount();
    EXPECT_TRUE(n % 500 == 0 || n == kRecords) << delay_ms << " ms: " << n;
    EXPECT_EQ(IsamtoolVerify(dir_ + "/dit00002"), "ok " + std::to_string(n) + "\n") << delay_ms;
    ExpectSourceUntouched();
    ASSERT_EQ(target_.DBOpen(0), 0);
    ASSERT_EQ(target_.DBDeleteIFile(schema.data()), 0);
    ASSERT_EQ(target_.DBCloseIFile(), 0);
  }
}

TEST_F(CrashTest, AKilledImportKeepsEveryRecordItAdded) {
  DB_IMPORT_EXPORT block{};
  block.file = std::fopen(Path("mov.bin").c_str(), "wb");
  ASSERT_EQ(source_.DBOpen(0), 0);
  ASSERT_EQ(source_.DBExport(&block), DB_EXPORT_DONE);
  ASSERT_EQ(source_.DBCloseIFile(), 0);
  std::fclose(block.file);
  RunAndKill("import", 300);
  EXPECT_EQ(TargetCount(), 300);
  EXPECT_EQ(IsamtoolVerify(dir_ + "/dit00002"), "ok 300\n");
  ExpectSourceUntouched();
}

}  // namespace
}  // namespace vkt::db::test

int main(int argc, char** argv) {
  if (const char* role = std::getenv("VKT_CRASH_CHILD"); role != nullptr && argc == 3) {
    const std::string r = role;
    if (r == "copy") return vkt::db::test::CopyChild(argv[1], std::atoi(argv[2]));
    if (r == "import") return vkt::db::test::ImportChild(argv[1], std::atoi(argv[2]));
    return 99;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
