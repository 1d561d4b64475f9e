// Clients on "different machines": processes with their own connections to
// the server keeping the folder. Locks conflict across them, commits are
// seen, a client killed loses nothing it committed and leaves no lock, a
// lost connection says so and the host logs on again.
#include <signal.h>

#include <filesystem>
#include <list>
#include <random>
#include <set>
#include <string>
#include <unordered_map>

#include "child_process.h"
#include "isam_fixture.h"

namespace vkt::isam::test {
namespace {

using vkt::testing::Child;
using vkt::testing::KillOnExit;
using vkt::testing::ReadLine;
using vkt::testing::Spawn;
using vkt::testing::WaitExit;

std::string Line(int fd) { return ReadLine(fd, 30000); }

// Child roles, in a session of their own on the server of `prog`:
//   holder: locks "L" in a transaction, changes it, says "locked", commits
//           when told "commit" on its input, says "committed";
//   loader: commits "C1".."C<n>" one by one saying each, then adds "U1" and
//           locks "L" in a transaction it never ends, says "holding", waits.
int RunChild(const std::string& prog, const std::string& dir, const std::string& role, int n) {
  SetIsamProgramDirectory(prog.c_str());
  if (InitISAMXtd(15, 64, 16, 15, 1, "tester", "", kIsamServer) != 0) return 2;
  if (role == "lockfree") {
    // `dir` names the table here: says "free" when its "L" can be locked.
    ArtTable other(dir);
    if (OpenIFileXtd(&other.ifil, nullptr, nullptr, nullptr) != 0) return 11;
    if (Begin(50) == 0) return 12;
    std::string k = CodeKey("L");
    Art a;
    const bool got = GetRecord(other.key(1), k.data(), &a) == 0;
    std::printf("%s\n", got ? "free" : "locked");
    std::fflush(stdout);
    Abort();
    return CloseISAM() == 0 ? 0 : 8;
  }
  ArtTable t(dir + "/art");
  if (OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr) != 0) return 3;
  std::string k = CodeKey("L");
  Art a;
  if (role == "holder") {
    if (Begin(50) == 0 || GetRecord(t.key(1), k.data(), &a) != 0) return 4;
    a.qty = 7;
    if (ReWriteRecord(t.dat(), &a) != 0) return 5;
    std::printf("locked\n");
    std::fflush(stdout);
    char cmd[16] = {};
    if (std::fgets(cmd, sizeof cmd, stdin) == nullptr || std::string(cmd) != "commit\n") return 6;
    if (Commit(0) != 0) return 7;
    std::printf("committed\n");
    std::fflush(stdout);
    return CloseISAM() == 0 ? 0 : 8;
  }
  for (int i = 1; i <= n; ++i) {
    Art r = MakeArt("C" + std::to_string(i), "loaded", i, i);
    if (Begin(50) == 0 || AddRecord(t.dat(), &r) != 0 || Commit(0) != 0) return 9;
    std::printf("C%d\n", i);
    std::fflush(stdout);
  }
  Art u = MakeArt("U1", "never committed", 0, 0);
  if (Begin(50) == 0 || AddRecord(t.dat(), &u) != 0 || GetRecord(t.key(1), k.data(), &a) != 0) return 10;
  std::printf("holding\n");
  std::fflush(stdout);
  char cmd[16];
  while (std::fgets(cmd, sizeof cmd, stdin) != nullptr) {
  }
  return 0;
}

class ServerClientsTest : public IsamTest {
 protected:
  void SetUp() override {
    IsamTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    art_ = std::make_unique<ArtTable>(Path("art"));
    CreateArt(*art_);
    AddArts(*art_, {MakeArt("L", "lockable", 1, 1)});
  }
  Child Start(const char* role, int n = 0) {
    return Spawn({"/proc/self/exe", prog_, dir_, role, std::to_string(n)}, {"VKT_ISAM_CHILD=server"});
  }
  int32_t QtyOfL() {
    std::string k = CodeKey("L");
    Art a;
    return GetRecord(art_->key(1), k.data(), &a) == 0 ? a.qty : -1;
  }
  std::unique_ptr<ArtTable> art_;
};

TEST_F(ServerClientsTest, LocksConflictAcrossClientsAndCommitsAreSeen) {
  Child h = Start("holder");
  KillOnExit guard(h.pid);
  ASSERT_EQ(Line(h.out), "locked");
  std::string k = CodeKey("L");
  Art a;
  // The other client's lock holds here, inside and outside a transaction.
  ASSERT_NE(Begin(50), 0);
  EXPECT_EQ(GetRecord(art_->key(1), k.data(), &a), CT_LOCKED);
  ASSERT_EQ(Abort(), 0);
  ASSERT_EQ(GetRecord(art_->key(1), k.data(), &a), 0);
  EXPECT_EQ(a.qty, 1);  // its change is not committed yet
  a.qty = 3;
  EXPECT_EQ(ReWriteRecord(art_->dat(), &a), CT_LOCKED);

  ASSERT_EQ(write(h.in, "commit\n", 7), 7);
  ASSERT_EQ(Line(h.out), "committed");
  EXPECT_EQ(WaitExit(h.pid), 0);
  EXPECT_EQ(QtyOfL(), 7);
  ASSERT_NE(Begin(50), 0);
  ASSERT_EQ(GetRecord(art_->key(1), k.data(), &a), 0);
  a.qty = 8;
  ASSERT_EQ(ReWriteRecord(art_->dat(), &a), 0);
  ASSERT_EQ(Commit(0), 0);
  EXPECT_EQ(QtyOfL(), 8);
}

TEST_F(ServerClientsTest, AKilledClientLosesNothingCommittedAndLeavesNoLock) {
  Child l = Start("loader", 40);
  KillOnExit guard(l.pid);
  std::set<std::string> said;
  for (std::string line = Line(l.out); line != "holding"; line = Line(l.out)) {
    ASSERT_FALSE(line.empty()) << "the loader stopped";
    said.insert(line);
  }
  ASSERT_EQ(said.size(), 40u);
  kill(l.pid, SIGKILL);
  EXPECT_EQ(WaitExit(l.pid), -SIGKILL);

  // The server ends the dead client's session: its lock goes with it.
  std::string k = CodeKey("L");
  Art a;
  int16_t got = CT_LOCKED;
  for (int i = 0; i < 500 && got == CT_LOCKED; ++i) {
    ASSERT_NE(Begin(50), 0);
    got = GetRecord(art_->key(1), k.data(), &a);
    ASSERT_EQ(Abort(), 0);
    if (got == CT_LOCKED) usleep(10000);
  }
  EXPECT_EQ(got, 0);
  for (const std::string& code : said) {
    std::string key = CodeKey(code);
    EXPECT_EQ(GetRecord(art_->key(1), key.data(), &a), 0) << "lost " << code;
  }
  std::string u = CodeKey("U1");
  EXPECT_EQ(GetRecord(art_->key(1), u.data(), &a), CT_NOT_FOUND);
  EXPECT_EQ(NbrOfRecords(art_->dat()), 41);

  // isamtool with a connect name checks the server's folder.
  ASSERT_EQ(CloseIFile(&art_->ifil), 0);
  Child v = Spawn({ISAMTOOL_PATH, "-s", kServer, "-u", "tester", "verify", dir_}, {"VKT_ISAM_HOME=" + prog_});
  EXPECT_EQ(Line(v.out), "ok 41");
  EXPECT_EQ(WaitExit(v.pid), 0);
  Child bad = Spawn({ISAMTOOL_PATH, "-s", kServer, "-u", "nobody", "verify", dir_}, {"VKT_ISAM_HOME=" + prog_});
  EXPECT_EQ(WaitExit(bad.pid), 2);  // the server's user list refuses it
}

TEST_F(ServerClientsTest, ALostConnectionGivesAClearStatusAndLogOnAgainWorks) {
  // A connection of its own name, so that only this session is cut.
  ASSERT_EQ(CloseISAM(), 0);
  const std::string app = "isam_lost_" + std::to_string(getpid());
  {
    std::ofstream ini(prog_ + "/isamserv.ini");
    ini << "[" << kServer << "]\nbackend=postgres\ndsn=" << vkt::testing::Env("VKT_PG_DSN")
        << " application_name=" << app << "\nuser.tester=\n";
  }
  ASSERT_EQ(Init(), 0);
  ArtTable t(Path("art"));
  ASSERT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  ASSERT_NE(Begin(50), 0);
  Art half = MakeArt("HALF", "cut off", 1, 1);
  ASSERT_EQ(AddRecord(t.dat(), &half), 0);

  PGconn* admin = PQconnectdb(vkt::testing::Env("VKT_PG_DSN").c_str());
  ASSERT_EQ(PQstatus(admin), CONNECTION_OK);
  PQclear(PQexec(admin, ("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name='" +
                         app + "'").c_str()));
  PQfinish(admin);

  EXPECT_EQ(Commit(0), CT_SERVER_GONE);
  Art more = MakeArt("MORE", "after", 2, 2);
  EXPECT_EQ(AddRecord(t.dat(), &more), CT_SERVER_GONE);
  EXPECT_EQ(isam_err, CT_SERVER_GONE);

  ASSERT_EQ(CloseISAM(), 0);
  ASSERT_EQ(Init(), 0);
  ArtTable again(Path("art"));
  ASSERT_EQ(OpenIFileXtd(&again.ifil, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(NbrOfRecords(again.dat()), 1);  // nothing of the cut transaction
  std::string k = CodeKey("HALF");
  Art a;
  EXPECT_EQ(GetRecord(again.key(1), k.data(), &a), CT_NOT_FOUND);
  ASSERT_EQ(AddRecord(again.dat(), &more), 0);
  EXPECT_EQ(NbrOfRecords(again.dat()), 2);
}

// isamtool, logged on to the test's server, on the test's folder.
Child Isamtool(const std::string& prog, std::vector<std::string> args) {
  std::vector<std::string> all{ISAMTOOL_PATH, "-s", kIsamServer, "-u", "tester"};
  all.insert(all.end(), args.begin(), args.end());
  return Spawn(all, {"VKT_ISAM_HOME=" + prog});
}

std::vector<std::string> WholeLines(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) out.push_back(text.substr(at, nl - at));
  return out;  // a line cut by the kill has no newline: not a whole key
}

TEST_F(IsamTest, KilledLoadersNeverLoseACommittedKeyOnTheServer) {
  std::mt19937 rng(2026);
  std::uniform_int_distribution<int> ms(1, 40);
  std::set<std::string> printed;
  for (int round = 0; round < 15; ++round) {
    Child c = Isamtool(prog_, {"load", dir_, "1000000"});
    ASSERT_GT(c.pid, 0);
    KillOnExit guard(c.pid);
    close(c.in);
    std::string text = ReadLine(c.out, 30000) + "\n";
    usleep(static_cast<useconds_t>(ms(rng) * 1000));
    kill(c.pid, SIGKILL);
    text += vkt::testing::ReadAll(c.out, 10000);
    close(c.out);
    EXPECT_EQ(WaitExit(c.pid), -SIGKILL);
    for (const std::string& k : WholeLines(text)) printed.insert(k);

    Child v = Isamtool(prog_, {"verify", dir_});
    const std::string verdict = vkt::testing::ReadAll(v.out, 30000);
    ASSERT_EQ(WaitExit(v.pid), 0) << "round " << round << ": " << verdict;
    Child d = Isamtool(prog_, {"dump", dir_});
    std::vector<std::string> keys = WholeLines(vkt::testing::ReadAll(d.out, 30000));
    ASSERT_EQ(WaitExit(d.pid), 0);
    std::set<std::string> present(keys.begin(), keys.end());
    ASSERT_EQ(present.size(), keys.size()) << "a key twice";
    ASSERT_EQ(verdict, "ok " + std::to_string(keys.size()) + "\n");
    for (const std::string& k : printed) ASSERT_TRUE(present.count(k)) << "lost " << k << " in round " << round;
    // At most the one commit under way at each kill is there unprinted.
    ASSERT_LE(present.size(), printed.size() + static_cast<size_t>(round + 1));
  }
  EXPECT_GT(printed.size(), 15u);
}

// Clients on several machines adding to one table at once: every commit
// kept once, none twice, the indexes whole.
TEST_F(IsamTest, LoadersSideBySideOnTheServerLoseAndDuplicateNothing) {
  std::vector<Child> kids;
  std::list<KillOnExit> guards;  // never moved
  for (int i = 0; i < 3; ++i) {
    kids.push_back(Isamtool(prog_, {"load", dir_, "100"}));
    ASSERT_GT(kids.back().pid, 0);
    guards.emplace_back(kids.back().pid);
  }
  std::multiset<std::string> printed;
  for (Child& c : kids) {
    close(c.in);
    for (const std::string& k : WholeLines(vkt::testing::ReadAll(c.out, 120000))) printed.insert(k);
    close(c.out);
    EXPECT_EQ(WaitExit(c.pid), 0);
  }
  EXPECT_EQ(printed.size(), 300u);
  Child d = Isamtool(prog_, {"dump", dir_});
  std::vector<std::string> keys = WholeLines(vkt::testing::ReadAll(d.out, 30000));
  EXPECT_EQ(WaitExit(d.pid), 0);
  EXPECT_EQ(std::multiset<std::string>(keys.begin(), keys.end()), printed);
  Child v = Isamtool(prog_, {"verify", dir_});
  EXPECT_EQ(vkt::testing::ReadAll(v.out, 30000), "ok 300\n");
  EXPECT_EQ(WaitExit(v.pid), 0);
}

// Two tables whose lock names agree in the low 31 bits of their 64-bit FNV
// hashes (what a hashed key would keep) still lock apart.
TEST_F(IsamTest, TablesNeverShareTheirRecordLocks) {
  auto low31 = [](const std::string& text) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return static_cast<uint32_t>(h & 0x7fffffff);
  };
  std::unordered_map<uint32_t, std::string> seen;
  std::string first, second;
  for (int i = 0; second.empty(); ++i) {
    const std::string name = "t" + std::to_string(i);
    auto [it, fresh] = seen.emplace(low31(Path(name) + ".lck"), name);
    if (!fresh) first = it->second, second = name;
  }
  ArtTable a(Path(first)), b(Path(second));
  CreateArt(a);
  CreateArt(b);
  AddArts(a, {MakeArt("L", "first", 1, 1)});
  AddArts(b, {MakeArt("L", "second", 2, 2)});
  std::string k = CodeKey("L");
  Art ra, rb;
  ASSERT_NE(Begin(50), 0);
  ASSERT_EQ(GetRecord(a.key(1), k.data(), &ra), 0);
  EXPECT_EQ(GetRecord(b.key(1), k.data(), &rb), 0) << first << " and " << second << " share a lock";
  EXPECT_EQ(Abort(), 0);

  // A second client sees each table's lock as its own.
  ASSERT_NE(Begin(50), 0);
  ASSERT_EQ(GetRecord(a.key(1), k.data(), &ra), 0);
  Child c = Spawn({"/proc/self/exe", prog_, Path(second), "lockfree", "0"}, {"VKT_ISAM_CHILD=server"});
  ASSERT_GT(c.pid, 0);
  KillOnExit guard(c.pid);
  close(c.in);
  EXPECT_EQ(Line(c.out), "free");
  close(c.out);
  EXPECT_EQ(WaitExit(c.pid), 0);
  EXPECT_EQ(Abort(), 0);
}

// No backup of a server's folder from a client: the local folder of the
// same name is not the one asked for.
TEST_F(IsamTest, BackupOfAServerFolderIsRefused) {
  ArtTable a(Path("art"));
  CreateArt(a);
  AddArts(a, {MakeArt("B", "kept", 1, 1)});
  const std::string copy = MakeTempDir("copy");
  EXPECT_EQ(BackupIsamFolder(dir_.c_str(), copy.c_str()), CT_NOT_SUPPORTED);
  EXPECT_FALSE(std::filesystem::exists(copy + "/isam.db"));
  // Its complaint goes to standard error: read it through a shell that joins it to the output.
  Child t = Spawn({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", ISAMTOOL_PATH, "-s", kIsamServer, "-u", "tester",
                   "backup", dir_, copy},
                  {"VKT_ISAM_HOME=" + prog_});
  close(t.in);
  const std::string err = vkt::testing::ReadAll(t.out, 30000);
  EXPECT_EQ(WaitExit(t.pid), 2);
  EXPECT_NE(err.find("backup: status 999"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(copy + "/isam.db"));
}

}  // namespace
}  // namespace vkt::isam::test

int main(int argc, char** argv) {
  if (const char* role = std::getenv("VKT_ISAM_CHILD"); role != nullptr) {
    if (std::string(role) == "server" && argc == 5)
      return vkt::isam::test::RunChild(argv[1], argv[2], argv[3], std::atoi(argv[4]));
    return 99;
  }
  // Every session of this program is a client of the database server.
  setenv("VKT_ISAM_BACKEND", "postgres", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
