// System queues between processes: messages written by one process are read
// by another, in order and whole, also when the writer is killed while it
// writes.
#include <signal.h>

#include <string>

#include "child_process.h"
#include "isam_fixture.h"

namespace vkt::isam::test {
namespace {

using vkt::testing::Child;
using vkt::testing::ReadLine;
using vkt::testing::Spawn;
using vkt::testing::WaitExit;

// Child: writes "n" messages "m<i>" (without end when n is 0) to queue
// "work", announcing "ready" first; or reads one message of queue "back"
// waiting up to 20 s and prints it.
int RunChild(const std::string& dir, const std::string& role, int n) {
  SetIsamProgramDirectory(dir.c_str());
  if (InitISAMXtd(15, 16, 16, 15, 1, "child", "", "") != 0) return 2;
  char work[] = "work", back[] = "back";
  if (role == "write") {
    const int q = ctSysQueueOpen(work, 0);
    if (q < 0) return 3;
    std::printf("ready\n");
    std::fflush(stdout);
    for (int i = 0; n == 0 || i < n; ++i) {
      std::string m = "m" + std::to_string(i);
      if (ctSysQueueWrite(q, m.data(), static_cast<int>(m.size())) != 0) return 4;
    }
    return 0;
  }
  const int q = ctSysQueueOpen(back, 0);
  if (q < 0) return 3;
  std::printf("ready\n");
  std::fflush(stdout);
  char buf[64] = {};
  const int s = ctSysQueueRead(q, buf, sizeof buf - 1, 20000);
  std::printf("%s\n", s == 0 ? buf : ("#" + std::to_string(s)).c_str());
  std::fflush(stdout);
  return 0;
}

class QueueProcessTest : public IsamTest {
 protected:
  void SetUp() override {
    IsamTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    SetIsamProgramDirectory(dir_.c_str());
  }
  Child Start(const char* role, int n) {
    return Spawn({"/proc/self/exe", dir_, role, std::to_string(n)}, {"VKT_ISAM_CHILD=queue"});
  }
};

TEST_F(QueueProcessTest, AnotherProcessReadsTheMessagesInOrder) {
  Child w = Start("write", 300);
  ASSERT_EQ(ReadLine(w.out), "ready");
  char work[] = "work";
  const int q = ctSysQueueOpen(work, 0);
  ASSERT_GE(q, 0);
  for (int i = 0; i < 300; ++i) {
    char buf[32] = {};
    ASSERT_EQ(ctSysQueueRead(q, buf, sizeof buf - 1, 20000), 0) << i;
    ASSERT_EQ(std::string(buf), "m" + std::to_string(i));
  }
  EXPECT_EQ(WaitExit(w.pid), 0);
  EXPECT_EQ(ctSysQueueCount(q), 0);

  // The other way: a reader waiting in another process gets what we write.
  Child r = Start("read", 0);
  ASSERT_EQ(ReadLine(r.out), "ready");
  char back[] = "back", text[] = "ciao";
  const int b = ctSysQueueOpen(back, 0);
  ASSERT_EQ(ctSysQueueWrite(b, text, 5), 0);
  EXPECT_EQ(ReadLine(r.out), "ciao");
  EXPECT_EQ(WaitExit(r.pid), 0);
  EXPECT_EQ(ctSysQueueCount(b), 0);
}

TEST_F(QueueProcessTest, AWriterKilledMidStreamLeavesOnlyWholeMessages) {
  Child w = Start("write", 0);
  vkt::testing::KillOnExit guard(w.pid);
  ASSERT_EQ(ReadLine(w.out), "ready");
  char work[] = "work";
  const int q = ctSysQueueOpen(work, 0);
  ASSERT_GE(q, 0);
  while (ctSysQueueCount(q) < 50) usleep(2000);
  kill(w.pid, SIGKILL);
  EXPECT_EQ(WaitExit(w.pid), -SIGKILL);
  const int left = ctSysQueueCount(q);
  ASSERT_GE(left, 50);
  for (int i = 0; i < left; ++i) {
    char buf[32] = {};
    ASSERT_EQ(ctSysQueueRead(q, buf, sizeof buf - 1, 0), 0) << i;
    ASSERT_EQ(std::string(buf), "m" + std::to_string(i));
  }
  EXPECT_EQ(ctSysQueueRead(q, work, 1, 0), CT_TIMEOUT);
}

TEST_F(QueueProcessTest, IsamtoolPutsAndTakesMessagesOfTheProgramFolder) {
  Child put = Spawn({ISAMTOOL_PATH, "queue", dir_, "ordini", "put", "ordine 7"});
  EXPECT_EQ(WaitExit(put.pid), 0);
  char name[] = "ordini";
  const int q = ctSysQueueOpen(name, 0);
  ASSERT_GE(q, 0);
  char buf[32] = {};
  ASSERT_EQ(ctSysQueueRead(q, buf, sizeof buf - 1, 0), 0);
  EXPECT_STREQ(buf, "ordine 7");
  char reply[] = "evaso 7";
  ASSERT_EQ(ctSysQueueWrite(q, reply, 7), 0);
  Child count = Spawn({ISAMTOOL_PATH, "queue", dir_, "ordini", "count"});
  EXPECT_EQ(ReadLine(count.out), "1");
  EXPECT_EQ(WaitExit(count.pid), 0);
  Child get = Spawn({ISAMTOOL_PATH, "queue", dir_, "ordini", "get", "100"});
  EXPECT_EQ(ReadLine(get.out), "evaso 7");
  EXPECT_EQ(WaitExit(get.pid), 0);
  EXPECT_EQ(ctSysQueueCount(q), 0);
  Child empty = Spawn({ISAMTOOL_PATH, "queue", dir_, "ordini", "get", "50"});
  EXPECT_EQ(WaitExit(empty.pid), 2);  // nothing came: a status
}

}  // namespace
}  // namespace vkt::isam::test

int main(int argc, char** argv) {
  if (const char* role = std::getenv("VKT_ISAM_CHILD"); role != nullptr) {
    if (std::string(role) == "queue" && argc == 4)
      return vkt::isam::test::RunChild(argv[1], argv[2], std::atoi(argv[3]));
    return 99;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
