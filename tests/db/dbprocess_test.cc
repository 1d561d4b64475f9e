// Two hosts on one archive: this test binary run again as a second process
// edits the same customer while the first holds it, deletes one under the
// first one's feet, and ends on a fatal error with the real exit. The
// archive is then checked by isamtool.
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "db/db_fixture.h"
#include "db/dbctree.h"
#include "frame/vktapp.h"
#include "isam/ctree.h"
#include "win/services.h"
#include "win/winconst.h"

namespace vkt::db::test {
namespace {

namespace fs = std::filesystem;

// --- Child processes ---------------------------------------------------------------

using vkt::testing::Child;
using vkt::testing::ReadLine;
using vkt::testing::Spawn;

std::vector<std::string> ReadRest(int fd) {
  std::vector<std::string> lines;
  for (std::string l = ReadLine(fd); !l.empty(); l = ReadLine(fd)) lines.push_back(l);
  return lines;
}

void Say(const Child& c, const std::string& line) {
  const std::string l = line + "\n";
  ASSERT_EQ(write(c.in, l.data(), l.size()), static_cast<ssize_t>(l.size()));
}

int Wait(Child* c) {
  int code = vkt::testing::WaitExit(c->pid);
  close(c->in);
  close(c->out);
  return code;
}

struct ToolRun {
  int code;
  std::string out;
};

ToolRun IsamtoolVerify(const std::string& dir) {
  Child c = Spawn({ISAMTOOL_PATH, "verify", dir});
  close(c.in);
  c.in = -1;
  std::string out;
  for (std::string l = ReadLine(c.out); !l.empty(); l = ReadLine(c.out)) out += l + "\n";
  int st = 0;
  waitpid(c.pid, &st, 0);
  close(c.out);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

// --- The second host ------------------------------------------------------------------

std::string StdinLine() {
  std::string line;
  std::getline(std::cin, line);
  return line;
}

// The second host's outside world: a lock retry's wait tells the first
// host and lasts until it answers.
class HandshakeServices : public vkt::TestServices {
 public:
  void Sleep(uint32_t ms) override {
    std::printf("waiting %u\n", ms);
    std::fflush(stdout);
    StdinLine();
    vkt::TestServices::Sleep(ms);
  }
};

// Every attempt of the write callback, as the first host sees them.
int16_t ReportingPut(int operation, void* record, void* extra) {
  const int16_t s = PutStandard(operation, record, extra);
  std::printf("attempt %d\n", s);
  std::fflush(stdout);
  return s;
}

struct SecondHost {
  explicit SecondHost(const std::string& dir) : t(dir + "/clienti") {
    setenv("TZ", "Europe/Rome", 1);
    tzset();
    vkt::LibraryLoad();
    std::memset(&par, 0, sizeof par);
    std::strcpy(par.app_name, "MIRTO");
    std::strcpy(par.product, "MIRTOTS");
    std::strcpy(par.user, "BIANCHI");
    VKTDlgInitialize(&par);
  }
  int Open() {
    char none[1] = "";
    if (int16_t s = DBInitISAM(64, par.user, par.password, none, true, false, true); s != 0)
      return s;
    if (int s = table.DBOpen(0); s != 0) return s;
    return table.DBSetIndex(1);
  }

  VKTAPPPARAM par;
  ClientiTable t;
  Cliente buf{};
  CDBCtree table{1, &t.ifil, &buf, ReportingPut, nullptr, StampCliente, 0};
};

// Reads C001, waits for "edit", raises the credit to 2222: the first host
// holds the record, so the write waits, then finds the record changed and
// says so; the change is made again on the record as it now is.
int EditChild(const std::string& dir) {
  HandshakeServices services;
  vkt::ScopedServices use(&services);
  SecondHost h(dir);
  if (int s = h.Open(); s != 0) return 10;
  CodeKey key("C001");
  if (h.table.DBGetRecord(key.bytes) != 0) return 11;
  std::printf("read %d\n", static_cast<int>(h.buf.fido));
  std::fflush(stdout);
  if (StdinLine() != "edit") return 12;
  Cliente edit = h.buf;
  edit.fido = 2222;
  int16_t s = DBWrite(&h.table, 1, &edit, &h.table);
  std::printf("result %d fido %d user %s\n", s, static_cast<int>(h.buf.fido),
              VKT_FIELD(h.buf, utente).c_str());
  edit = h.buf;
  edit.fido = 2222;
  s = DBWrite(&h.table, 1, &edit, &h.table);
  std::printf("result %d\n", s);
  std::fflush(stdout);
  DBCloseISAM(0);
  return 0;
}

// Deletes C002 (confirmed) and ends.
int DeleteChild(const std::string& dir) {
  vkt::TestServices services;
  vkt::ScopedServices use(&services);
  SecondHost h(dir);
  if (int s = h.Open(); s != 0) return 10;
  CodeKey key("C002");
  if (h.table.DBGetRecord(key.bytes) != 0) return 11;
  services.ScriptAnswer(IDYES);
  const int16_t s = DBWrite(&h.table, 2, &h.buf, &h.table);
  std::printf("result %d\n", s);
  std::fflush(stdout);
  DBCloseISAM(0);
  return 0;
}

// A fatal status through the real services: logged (silent host), then
// the process ends.
int FatalChild(const std::string& dir, int status) {
  SecondHost h(dir);
  h.par.silent = 1;
  FILE* log = std::fopen((dir + "/fatal.log").c_str(), "wb");
  h.par.log_file = log;
  DBISAM(status, "clienti");
  return 0;  // not reached: DBISAM ends the process
}

// --- The first host -------------------------------------------------------------------

class TwoHostsTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    InitSession();
    OpenClienti(t_, table_);
    AddClienti(table_, SomeClienti());
    ASSERT_EQ(table_.DBSetIndex(1), 0);
    fake_.ClearTranscript();
  }
  Child StartSecondHost(const char* role, int status = 0) {
    return Spawn({"/proc/self/exe", dir_, std::to_string(status)},
                 {std::string("VKT_DB_CHILD=") + role});
  }
  static bool NoTransactionOpen() { return Begin(50) != 0 && Abort() == 0; }
  int16_t Read(const char* codice) {
    CodeKey k(codice);
    return table_.DBGetRecord(k.bytes);
  }

  ClientiTable t_{Path("clienti")};
  Cliente buf_{};
  CDBCtree table_{1, &t_.ifil, &buf_, PutStandard, nullptr, StampCliente, 0};
};

// While the first host's write holds the record, the second host is let
// loose and must come back to say it waits.
const Child* g_second = nullptr;
std::vector<std::string> g_seen;
int16_t HoldingPut(int operation, void* record, void* extra) {
  const int16_t s = PutStandard(operation, record, extra);
  if (s == 0 && g_second != nullptr) {
    Say(*g_second, "edit");
    g_seen.push_back(ReadLine(g_second->out));
    g_seen.push_back(ReadLine(g_second->out));
  }
  return s;
}

TEST_F(TwoHostsTest, AnEditSeesTheOtherHostsLockThenItsChangeAndNeverOverwritesIt) {
  Child second = StartSecondHost("edit");
  ASSERT_GT(second.pid, 0);
  ASSERT_EQ(ReadLine(second.out), "read 1000");

  ASSERT_EQ(Read("C001"), 0);
  Cliente edit = buf_;
  edit.fido = 1111;
  table_.putCallback = HoldingPut;
  g_second = &second;
  g_seen.clear();
  EXPECT_EQ(DBWrite(&table_, 1, &edit, &table_), 0);
  g_second = nullptr;
  table_.putCallback = PutStandard;
  // Inside the first host's transaction the second one met the lock and
  // went to wait for the next attempt.
  EXPECT_EQ(g_seen, (std::vector<std::string>{"attempt 42", "waiting 500"}));
  Say(second, "go");
  // Next attempt: the record is no longer what it read. The write is not
  // made, and the second host now holds the first one's version.
  EXPECT_EQ(ReadRest(second.out),
            (std::vector<std::string>{"attempt -13", "result -13 fido 1111 user ROSSI", "attempt 0",
                                      "result 0"}));
  EXPECT_EQ(Wait(&second), 0);

  // The first host's buffer is now stale: its next change is refused and
  // it is handed the second host's record.
  Cliente late = buf_;
  std::memcpy(late.citta, "Bergamo", 7);
  EXPECT_EQ(DBWrite(&table_, 1, &late, &table_), DB_CHANGED);
  EXPECT_EQ(int32_t{buf_.fido}, 2222);
  EXPECT_EQ(VKT_FIELD(buf_, utente), "BIANCHI");
  ASSERT_EQ(Read("C001"), 0);
  EXPECT_EQ(VKT_FIELD(buf_, citta), "Milano");
  EXPECT_EQ(int32_t{buf_.fido}, 2222);
  late = buf_;
  std::memcpy(late.citta, "Bergamo", 7);
  EXPECT_EQ(DBWrite(&table_, 1, &late, &table_), 0);
  ASSERT_EQ(Read("C001"), 0);
  EXPECT_EQ(VKT_FIELD(buf_, citta), "Bergamo");
  EXPECT_EQ(int32_t{buf_.fido}, 2222);
  EXPECT_EQ(VKT_FIELD(buf_, utente), "ROSSI");

  ASSERT_EQ(table_.DBCloseIFile(), 0);
  const ToolRun v = IsamtoolVerify(dir_);
  EXPECT_EQ(v.code, 0) << v.out;
  EXPECT_EQ(v.out, "ok 4\n");
}

TEST_F(TwoHostsTest, ARecordDeletedByTheOtherHostIsReportedAsDeleted) {
  ASSERT_EQ(Read("C002"), 0);
  Child second = StartSecondHost("delete");
  ASSERT_GT(second.pid, 0);
  EXPECT_EQ(ReadRest(second.out), (std::vector<std::string>{"attempt 0", "result 0"}));
  EXPECT_EQ(Wait(&second), 0);
  Cliente edit = buf_;
  edit.fido = 7;
  EXPECT_EQ(DBWrite(&table_, 1, &edit, &table_), DB_DELETED);
  EXPECT_EQ(Read("C002"), CT_NOT_FOUND);
  EXPECT_EQ(table_.DBNbrOfRecords(), 3);
  EXPECT_TRUE(NoTransactionOpen());
}

TEST_F(TwoHostsTest, AFatalErrorEndsTheProcessAndNeverAsSuccess) {
  for (const auto& [status, code] : std::vector<std::pair<int, int>>{{101, 101}, {512, 1}, {-1, 255}}) {
    Child second = StartSecondHost("fatal", status);
    ASSERT_GT(second.pid, 0);
    EXPECT_EQ(Wait(&second), code) << status;
    const std::string log = ReadFile(Path("fatal.log"));
    if (status == 101) {
      EXPECT_NE(log.find("Impossibile trovare il record (Err. 101) !"), std::string::npos) << log;
      EXPECT_NE(log.find("File : clienti"), std::string::npos) << log;
    } else {
      EXPECT_NE(log.find("Errore n. " + std::to_string(status) + "\n"), std::string::npos) << log;
    }
  }
}

TEST_F(TwoHostsTest, RepairedIndexFilesPassIsamtoolsCheck) {
  ASSERT_EQ(table_.DBCloseIFile(), 0);
  ASSERT_EQ(IsamtoolVerify(dir_).out, "ok 4\n");

  // The main index file lost.
  ASSERT_TRUE(fs::remove(Path("clienti.idx")));
  EXPECT_NE(IsamtoolVerify(dir_).code, 0);
  ASSERT_EQ(table_.DBOpen(0), 0);
  ASSERT_EQ(table_.DBCloseIFile(), 0);
  ToolRun v = IsamtoolVerify(dir_);
  EXPECT_EQ(v.out, "ok 4\n");

  // The alternative index file overwritten.
  { std::ofstream(t_.alt_index(), std::ios::binary | std::ios::trunc) << "rovinato"; }
  EXPECT_NE(IsamtoolVerify(dir_).code, 0);
  ASSERT_EQ(table_.DBOpen(0), 0);
  ASSERT_EQ(table_.DBCloseIFile(), 0);
  v = IsamtoolVerify(dir_);
  EXPECT_EQ(v.out, "ok 4\n");

  // The data file's header lost: recreated over the records kept.
  ASSERT_TRUE(fs::remove(Path("clienti.dat")));
  EXPECT_NE(IsamtoolVerify(dir_).out, "ok 4\n");
  ASSERT_EQ(table_.DBOpen(0), 0);
  EXPECT_EQ(table_.DBNbrOfRecords(), 4);
  ASSERT_EQ(table_.DBCloseIFile(), 0);
  v = IsamtoolVerify(dir_);
  EXPECT_EQ(v.out, "ok 4\n");
}

}  // namespace
}  // namespace vkt::db::test

int main(int argc, char** argv) {
  if (const char* role = std::getenv("VKT_DB_CHILD"); role != nullptr && argc == 3) {
    const std::string r = role;
    if (r == "edit") return vkt::db::test::EditChild(argv[1]);
    if (r == "delete") return vkt::db::test::DeleteChild(argv[1]);
    if (r == "fatal") return vkt::db::test::FatalChild(argv[1], std::atoi(argv[2]));
    return 99;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
