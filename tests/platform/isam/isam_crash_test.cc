// Several processes on one data folder: loaders killed at random moments,
// loaders side by side, a backup while writing, and record locks between
// processes (the second process is this test binary run again as a child).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>
#include <sstream>

#include "child_process.h"
#include "isam_fixture.h"

namespace vkt::isam::test {
namespace {

namespace fs = std::filesystem;

using vkt::testing::Child;
using vkt::testing::ReadAll;
using vkt::testing::ReadLine;
using vkt::testing::Spawn;

int Wait(pid_t pid) { return vkt::testing::WaitExit(pid); }

struct ToolRun {
  int code;
  std::string out;
};

ToolRun Tool(const std::vector<std::string>& args) {
  std::vector<std::string> all{ISAMTOOL_PATH};
  all.insert(all.end(), args.begin(), args.end());
  Child c = Spawn(all);
  close(c.in);
  std::string out = ReadAll(c.out);
  close(c.out);
  return {Wait(c.pid), out};
}

std::vector<std::string> Lines(const std::string& text, bool complete_only) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  // A line cut by the kill has no newline: it was not a whole key.
  if (complete_only && !text.empty() && text.back() != '\n' && !out.empty()) out.pop_back();
  return out;
}

class IsamCrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetIsamForTesting();
    dir_ = MakeTempDir("crash");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    ResetIsamForTesting();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string dir_;
};

TEST_F(IsamCrashTest, KilledLoaderNeverLosesACommittedKeyNorLeavesHalfARecord) {
  std::mt19937 rng(12345);
  std::set<std::string> printed;
  for (int round = 0; round < 50; ++round) {
    Child c = Spawn({ISAMTOOL_PATH, "load", dir_, "1000000"});
    ASSERT_GT(c.pid, 0);
    close(c.in);
    // Let it commit for a random while once it is under way (a slow start,
    // as under the sanitizers, must not turn rounds into kills before work).
    std::string text = ReadLine(c.out) + "\n";
    std::uniform_int_distribution<int> ms(1, 40);
    usleep(static_cast<useconds_t>(ms(rng) * 1000));
    kill(c.pid, SIGKILL);
    text += ReadAll(c.out, 10000);
    close(c.out);
    EXPECT_EQ(Wait(c.pid), -SIGKILL);
    for (const std::string& k : Lines(text, true)) printed.insert(k);

    ToolRun v = Tool({"verify", dir_});
    ASSERT_EQ(v.code, 0) << "round " << round << ": " << v.out;
    ASSERT_EQ(v.out.rfind("ok ", 0), 0u) << v.out;
    ToolRun d = Tool({"dump", dir_});
    ASSERT_EQ(d.code, 0);
    std::vector<std::string> keys = Lines(d.out, false);
    std::set<std::string> present(keys.begin(), keys.end());
    ASSERT_EQ(present.size(), keys.size()) << "a key twice";
    ASSERT_EQ(v.out, "ok " + std::to_string(keys.size()) + "\n");
    for (const std::string& k : printed) ASSERT_TRUE(present.count(k)) << "lost " << k << " in round " << round;
    // At most the one record whose commit was under way when it died is
    // there unprinted.
    ASSERT_LE(present.size(), printed.size() + static_cast<size_t>(round + 1));
  }
  EXPECT_GT(printed.size(), 50u);
}

TEST_F(IsamCrashTest, LoadersSideBySideLoseAndDuplicateNothing) {
  std::vector<Child> kids;
  for (int i = 0; i < 3; ++i) kids.push_back(Spawn({ISAMTOOL_PATH, "load", dir_, "150"}));
  std::multiset<std::string> printed;
  for (Child& c : kids) {
    close(c.in);
    for (const std::string& k : Lines(ReadAll(c.out), true)) printed.insert(k);
    close(c.out);
    EXPECT_EQ(Wait(c.pid), 0);
  }
  EXPECT_EQ(printed.size(), 450u);
  ToolRun d = Tool({"dump", dir_});
  std::vector<std::string> keys = Lines(d.out, false);
  EXPECT_EQ(std::multiset<std::string>(keys.begin(), keys.end()), printed);
  EXPECT_EQ(Tool({"verify", dir_}).out, "ok 450\n");
}

TEST_F(IsamCrashTest, BackupOfAFolderBeingWrittenIsConsistent) {
  ASSERT_EQ(Tool({"load", dir_, "50"}).code, 0);
  Child c = Spawn({ISAMTOOL_PATH, "load", dir_, "400"});
  close(c.in);
  ReadLine(c.out);
  const std::string dest = dir_ + "/copy";
  ToolRun b = Tool({"backup", dir_, dest});
  std::string rest = ReadAll(c.out);
  close(c.out);
  EXPECT_EQ(Wait(c.pid), 0);
  ASSERT_EQ(b.code, 0) << b.out;
  ToolRun v = Tool({"verify", dest});
  ASSERT_EQ(v.code, 0) << v.out;
  EXPECT_EQ(Tool({"verify", dir_}).out, "ok 450\n");
  // The copy holds a prefix of the keys: the state at one moment.
  std::vector<std::string> copy = Lines(Tool({"dump", dest}).out, false);
  std::vector<std::string> all = Lines(Tool({"dump", dir_}).out, false);
  ASSERT_GE(copy.size(), 50u);
  ASSERT_LE(copy.size(), all.size());
  EXPECT_TRUE(std::equal(copy.begin(), copy.end(), all.begin()));
}

// Child role: holds the lock on record "L" of DIR/art until told.
int HoldLock(const std::string& dir) {
  if (InitISAMXtd(15, 64, 16, 15, 1, "child", "", "") != 0) return 10;
  ArtTable t(dir + "/art");
  if (OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr) != 0) return 11;
  if (Begin(50) == 0) return 12;
  std::string k = "L         ";
  Art a;
  if (GetRecord(t.key(1), k.data(), &a) != 0) return 13;
  std::printf("locked\n");
  std::fflush(stdout);
  std::string cmd;
  int c;
  while ((c = std::getchar()) != EOF && c != '\n') cmd.push_back(static_cast<char>(c));
  if (cmd == "die") raise(SIGKILL);
  a.qty = 42;
  if (ReWriteRecord(t.dat(), &a) != 0) return 14;
  if (Commit(0) != 0) return 15;
  std::printf("done\n");
  std::fflush(stdout);
  return 0;
}

TEST_F(IsamCrashTest, ARecordLockHeldByAnotherProcessFailsAtOnceAndDiesWithIt) {
  ASSERT_EQ(InitISAMXtd(15, 64, 16, 15, 1, "parent", "", ""), 0);
  ArtTable t(dir_ + "/art");
  ASSERT_EQ(CreateIFileXtd(&t.ifil, nullptr, nullptr, 31710, nullptr, nullptr), 0);
  Art a = MakeArt("L", "lock", 1, 1);
  ASSERT_EQ(AddRecord(t.dat(), &a), 0);
  std::string k = "L         ";

  for (const char* ending : {"commit", "die"}) {
    Child c = Spawn({"/proc/self/exe", dir_}, {"VKT_ISAM_CHILD=hold"});
    ASSERT_EQ(ReadLine(c.out), "locked");
    ASSERT_NE(Begin(50), 0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(GetRecord(t.key(1), k.data(), &a), CT_LOCKED);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
    ASSERT_EQ(Abort(), 0);
    std::string line = std::string(ending) + "\n";
    ASSERT_EQ(write(c.in, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    if (std::string(ending) == "commit") {
      EXPECT_EQ(ReadLine(c.out), "done");
      EXPECT_EQ(Wait(c.pid), 0);
    } else {
      EXPECT_EQ(Wait(c.pid), -SIGKILL);
    }
    close(c.in);
    close(c.out);
    ASSERT_NE(Begin(50), 0);
    ASSERT_EQ(GetRecord(t.key(1), k.data(), &a), 0) << ending;
    EXPECT_EQ(a.qty, 42);  // the commit's change, kept after the child died too
    ASSERT_EQ(Commit(0), 0);
  }
}

}  // namespace
}  // namespace vkt::isam::test

int main(int argc, char** argv) {
  if (const char* role = std::getenv("VKT_ISAM_CHILD"); role != nullptr) {
    if (std::string(role) == "hold" && argc == 2) return vkt::isam::test::HoldLock(argv[1]);
    return 99;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
