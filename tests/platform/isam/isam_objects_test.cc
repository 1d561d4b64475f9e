// System queues, security administration, the record database objects,
// the file copy, renames across folders and transactions over two folders.
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "isam_fixture.h"
#include "isam/ctsql.h"

namespace vkt::isam::test {
namespace {

namespace fs = std::filesystem;

std::string Read(int q, int size = 256) {
  std::string buf(static_cast<size_t>(size), '\0');
  const int s = ctSysQueueRead(q, buf.data(), size, 0);
  if (s != 0) return "#" + std::to_string(s);
  return std::string(buf.c_str());
}

TEST_F(IsamTest, SystemQueuesKeepOrderAcrossHandlesAndSessions) {
  SetIsamProgramDirectory(dir_.c_str());
  char name[] = "jobs", other[] = "other";
  const int q = ctSysQueueOpen(name, 0);
  ASSERT_GE(q, 0);
  const int q2 = ctSysQueueOpen(name, 0);
  const int o = ctSysQueueOpen(other, 0);
  ASSERT_GE(q2, 0);
  ASSERT_NE(q, q2);
  char a[] = "a", b[] = "bb", z[] = "zzz";
  ASSERT_EQ(ctSysQueueWrite(q, a, 2), 0);
  ASSERT_EQ(ctSysQueueWrite(q2, b, 3), 0);
  ASSERT_EQ(ctSysQueueLIFOWrite(q, z, 4), 0);  // goes before the others
  EXPECT_EQ(ctSysQueueCount(q), 3);
  EXPECT_EQ(ctSysQueueCount(o), 0);
  EXPECT_EQ(ctSysQueueMlen(q2, 0), 4);
  char small[2];
  EXPECT_EQ(ctSysQueueRead(q, small, sizeof small, 0), CT_BUFFER_TOO_SMALL);
  EXPECT_EQ(ctSysQueueCount(q), 3);  // still there
  EXPECT_EQ(Read(q2), "zzz");
  EXPECT_EQ(Read(q), "a");
  // The messages outlive the session and the process's handles.
  ASSERT_EQ(CloseISAM(), 0);
  ResetIsamForTesting();
  SetIsamProgramDirectory(dir_.c_str());
  ASSERT_EQ(InitISAMXtd(15, 64, 16, 15, 1, "tester", "", ""), 0);
  EXPECT_EQ(ctSysQueueCount(q), -1);  // old handle gone
  EXPECT_EQ(uerr_cod, CT_BAD_PARAMETER);
  const int r = ctSysQueueOpen(name, 0);
  ASSERT_GE(r, 0);
  EXPECT_EQ(ctSysQueueCount(r), 1);
  EXPECT_EQ(Read(r), "bb");
  EXPECT_EQ(Read(r), "#156");  // empty: time-out at once
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ctSysQueueMlen(r, 60), -1);
  EXPECT_EQ(uerr_cod, CT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(50));
  // A message of the largest size goes through whole.
  std::string big(kSysQueueMaxMessage, 'x');
  big[0] = 'B';
  big.back() = 'E';
  ASSERT_EQ(ctSysQueueWrite(r, big.data(), kSysQueueMaxMessage), 0);
  std::string got(kSysQueueMaxMessage, '\0');
  ASSERT_EQ(ctSysQueueRead(r, got.data(), kSysQueueMaxMessage, 0), 0);
  EXPECT_EQ(got, big);
}

TEST_F(IsamTest, SystemQueuesRefuseBadInput) {
  SetIsamProgramDirectory(dir_.c_str());
  char name[] = "q";
  const int q = ctSysQueueOpen(name, 0);
  ASSERT_GE(q, 0);
  char m[] = "m";
  EXPECT_EQ(ctSysQueueOpen(nullptr, 0), -1);
  EXPECT_EQ(uerr_cod, CT_BAD_PARAMETER);
  std::string longname(kSysQueueMaxName + 1, 'n');
  EXPECT_EQ(ctSysQueueOpen(longname.data(), 0), -1);
  EXPECT_EQ(ctSysQueueOpen(name, 1), -1);
  char empty[] = "";
  EXPECT_EQ(ctSysQueueOpen(empty, 0), -1);
  EXPECT_EQ(ctSysQueueWrite(q, nullptr, 1), CT_BAD_PARAMETER);
  EXPECT_EQ(ctSysQueueWrite(q, m, 0), CT_BAD_PARAMETER);
  EXPECT_EQ(ctSysQueueWrite(q, m, kSysQueueMaxMessage + 1), CT_BAD_PARAMETER);
  EXPECT_EQ(ctSysQueueLIFOWrite(q + 1000, m, 1), CT_BAD_PARAMETER);
  EXPECT_EQ(ctSysQueueRead(q, nullptr, 10, 0), CT_BAD_PARAMETER);
  EXPECT_EQ(ctSysQueueRead(q, m, 0, 0), CT_BAD_PARAMETER);
  EXPECT_EQ(ctSysQueueRead(q, m, 1, -2), CT_BAD_PARAMETER);
  EXPECT_EQ(ctSysQueueMlen(-5, 0), -1);
  EXPECT_EQ(ctSysQueueCount(q), 0);  // nothing refused got in
  EXPECT_EQ(ctSysQueueClose(q), 0);
  EXPECT_EQ(ctSysQueueClose(q), CT_BAD_PARAMETER);
  EXPECT_EQ(ctSysQueueWrite(q, m, 1), CT_BAD_PARAMETER);
  const int open = ctSysQueueOpen(name, 0);
  ASSERT_GE(open, 0);
  ASSERT_EQ(CloseISAM(), 0);
  EXPECT_EQ(ctSysQueueOpen(name, 0), -1);
  EXPECT_EQ(uerr_cod, CT_NOT_INITIALISED);
  EXPECT_EQ(ctSysQueueWrite(open, m, 1), CT_NOT_INITIALISED);  // closed session
  EXPECT_EQ(ctSysQueueCount(open), -1);
  EXPECT_EQ(uerr_cod, CT_NOT_INITIALISED);
  char buf[4];
  EXPECT_EQ(ctSysQueueRead(open, buf, sizeof buf, 0), CT_NOT_INITIALISED);
}

class IsamServerTest : public IsamTest {
 protected:
  void SetUp() override {
    IsamTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    data_ = MakeTempDir("srv");
    std::ofstream ini(Path("isamserv.ini"));
    ini << "[FAIRCOM@host1]\nbackend=folder\nfolder=" << data_
        << "\nadmin=ADMIN, CAPO\nuser.ADMIN=segreto\nuser.CAPO=c\nuser.MARIO=m\n";
    ini.close();
    SetIsamProgramDirectory(dir_.c_str());
    ASSERT_EQ(CloseISAM(), 0);
  }
  void TearDown() override {
    IsamTest::TearDown();
    std::error_code ec;
    fs::remove_all(data_, ec);
  }
  int16_t Logon(const char* user, const char* password) {
    const int16_t s = InitISAMXtd(15, 64, 16, 15, 1, user, password, "FAIRCOM@host1");
    if (s == 0) {
      EXPECT_EQ(CloseISAM(), 0);
    }
    return s;
  }
  std::string data_;
};

_saUSRI User(const char* name, const char* password) {
  _saUSRI u;
  std::memset(&u, 0, sizeof u);
  std::snprintf(u.usrid, sizeof u.usrid, "%s", name);
  std::snprintf(u.usrword, sizeof u.usrword, "%s", password);
  return u;
}

TEST_F(IsamServerTest, SecurityAdministrationChangesWhoMayLogOn) {
  char admin[] = "ADMIN", capo[] = "CAPO", mario[] = "MARIO", good[] = "segreto", bad[] = "no",
       m[] = "m", c[] = "c", server[] = "FAIRCOM@host1", unknown[] = "NONE@x", empty[] = "";
  _saUSRI luigi = User("LUIGI", "x1");
  EXPECT_EQ(SA_USERS(SA_ADD_USER, &luigi), CT_SA_NO_LOGON);
  EXPECT_EQ(SA_LOGOF(), CT_SA_NO_LOGON);
  EXPECT_EQ(SA_LOGON(mario, m, nullptr, server), CT_SA_NOT_ADMIN);
  EXPECT_EQ(SA_LOGON(admin, bad, nullptr, server), CT_BAD_PASSWORD);
  EXPECT_EQ(SA_LOGON(admin, good, nullptr, unknown), CT_SERVER_NOT_FOUND);
  EXPECT_EQ(SA_LOGON(admin, good, nullptr, empty), CT_BAD_SERVER_NAME);
  EXPECT_EQ(SA_LOGON(nullptr, nullptr, nullptr, nullptr), CT_BAD_SERVER_NAME);
  ASSERT_EQ(SA_LOGON(capo, c, nullptr, server), 0);  // second of the list
  ASSERT_EQ(SA_LOGON(admin, good, nullptr, server), 0);

  EXPECT_EQ(Logon("LUIGI", "x1"), CT_BAD_USER);
  ASSERT_EQ(SA_USERS(SA_ADD_USER, &luigi), 0);
  EXPECT_EQ(Logon("LUIGI", "x1"), 0);
  EXPECT_EQ(SA_USERS(SA_ADD_USER, &luigi), CT_SA_USER_EXISTS);
  _saUSRI pass = User("LUIGI", "x2");
  ASSERT_EQ(SA_USERS(SA_PASS_USER, &pass), 0);
  EXPECT_EQ(Logon("LUIGI", "x1"), CT_BAD_PASSWORD);
  EXPECT_EQ(Logon("LUIGI", "x2"), 0);
  ASSERT_EQ(SA_USERS(SA_DEL_USER, &pass), 0);
  EXPECT_EQ(Logon("LUIGI", "x2"), CT_BAD_USER);
  EXPECT_EQ(SA_USERS(SA_DEL_USER, &pass), CT_BAD_USER);
  EXPECT_EQ(SA_USERS(SA_PASS_USER, &pass), CT_BAD_USER);
  EXPECT_EQ(Logon("MARIO", "m"), 0);  // the others untouched
  EXPECT_EQ(Logon("ADMIN", "segreto"), 0);

  // Bad input.
  _saUSRI self = User("ADMIN", "");
  EXPECT_EQ(SA_USERS(SA_DEL_USER, &self), CT_BAD_PARAMETER);
  EXPECT_EQ(SA_USERS(SA_ADD_USER, nullptr), CT_BAD_PARAMETER);
  _saUSRI blank = User("", "x");
  EXPECT_EQ(SA_USERS(SA_ADD_USER, &blank), CT_BAD_PARAMETER);
  _saUSRI inject = User("X=Y", "x");
  EXPECT_EQ(SA_USERS(SA_ADD_USER, &inject), CT_BAD_PARAMETER);
  _saUSRI section = User("[evil]", "x");
  EXPECT_EQ(SA_USERS(SA_ADD_USER, &section), CT_BAD_PARAMETER);
  _saUSRI newline = User("NEW", "a\nuser.EVIL=1");
  EXPECT_EQ(SA_USERS(SA_ADD_USER, &newline), CT_BAD_PARAMETER);
  EXPECT_EQ(Logon("EVIL", "1"), CT_BAD_USER);
  _saUSRI full;
  std::memset(&full, 'A', sizeof full);  // no terminator in the name
  EXPECT_EQ(SA_USERS(SA_ADD_USER, &full), CT_BAD_PARAMETER);
  EXPECT_EQ(SA_USERS(9, &luigi), CT_BAD_PARAMETER);

  ASSERT_EQ(SA_LOGOF(), 0);
  EXPECT_EQ(SA_USERS(SA_ADD_USER, &luigi), CT_SA_NO_LOGON);
}

TEST_F(IsamTest, RecordDatabaseObjectsKeepTheirDictionary) {
  if (OnServer()) GTEST_SKIP() << "the dictionary and its databases are folders of this machine";
  SetIsamProgramDirectory(dir_.c_str());
  EXPECT_EQ(ctdbAllocSession(static_cast<CTSESSION_TYPE>(7)), nullptr);
  CTHANDLE s = ctdbAllocSession(CTSESSION_CTREE);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(ctdbLogon(s, nullptr, nullptr, nullptr), CT_FILE_NOT_FOUND);  // no dictionary yet
  ASSERT_EQ(ctdbCreateSession(s, nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(fs::exists(Path("isamdict.db")));
  EXPECT_EQ(ctdbCreateSession(s, nullptr, nullptr, nullptr), CT_FILE_EXISTS);
  ASSERT_EQ(ctdbLogon(s, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(ctdbLogon(s, nullptr, nullptr, nullptr), CTDBRET_ISACTIVE);

  char d1[] = "ditta1", upper[] = "DITTA1", nope[] = "nope", empty[] = "", slash[] = "a/b", dots[] = "..";
  std::string longname(kCtdbMaxName + 1, 'n');
  ASSERT_EQ(ctdbCreateDatabase(s, d1, nullptr), 0);
  EXPECT_TRUE(fs::is_directory(Path("ditta1")));
  EXPECT_EQ(ctdbCreateDatabase(s, upper, nullptr), CT_FILE_EXISTS);
  std::string missing = Path("missing");
  EXPECT_EQ(ctdbAddDatabase(s, nope, missing.data()), CT_FILE_NOT_FOUND);
  EXPECT_EQ(ctdbCreateDatabase(s, empty, nullptr), CTDBRET_INVNAME);
  EXPECT_EQ(ctdbCreateDatabase(s, slash, nullptr), CTDBRET_INVNAME);
  EXPECT_EQ(ctdbCreateDatabase(s, dots, nullptr), CTDBRET_INVNAME);
  EXPECT_EQ(ctdbCreateDatabase(s, longname.data(), nullptr), CTDBRET_INVNAME);
  EXPECT_EQ(ctdbCreateDatabase(s, nullptr, nullptr), CTDBRET_INVNAME);

  CTHANDLE db = ctdbAllocDatabase(s);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(ctdbConnect(db, nope), CT_NOT_FOUND);
  ASSERT_EQ(ctdbConnect(db, upper), 0);  // names without case
  EXPECT_EQ(ctdbConnect(db, d1), CTDBRET_ISACTIVE);

  ArtTable t(Path("ditta1/art"));
  CreateArt(t);
  char art[] = "art", gone[] = "gone";
  char name[64], path[PATH_MAX];
  EXPECT_EQ(ctdbFirstTable(db, name, sizeof name, path, sizeof path), CT_NOT_FOUND);
  ASSERT_EQ(ctdbAddTable(db, art, nullptr), 0);
  EXPECT_EQ(ctdbAddTable(db, art, nullptr), CT_FILE_EXISTS);
  EXPECT_EQ(ctdbAddTable(db, gone, nullptr), CT_FILE_NOT_FOUND);
  ASSERT_EQ(ctdbFirstTable(db, name, sizeof name, path, sizeof path), 0);
  EXPECT_STREQ(name, "art");
  EXPECT_EQ(std::string(path), fs::canonical(Path("ditta1")).string());
  EXPECT_EQ(ctdbNextTable(db, name, sizeof name, path, sizeof path), CT_NOT_FOUND);
  EXPECT_EQ(ctdbFirstTable(db, name, 3, path, sizeof path), CT_BUFFER_TOO_SMALL);
  EXPECT_EQ(ctdbFirstTable(db, nullptr, 0, nullptr, 0), CT_BAD_PARAMETER);

  char owner[] = "admin";
  ASSERT_EQ(ctdbSetDefaultSqlTableOwner(db, owner), 0);
  char got[16];
  EXPECT_EQ(ctdbGetDefaultSqlTableOwner(db, got, sizeof got), 5);
  EXPECT_STREQ(got, "admin");

  // The session's transaction, with a save point rolled back.
  ASSERT_EQ(ctdbBegin(s), 0);
  EXPECT_EQ(ctdbBegin(s), CT_TRANSACTION_ACTIVE);
  Art one = MakeArt("1", "uno", 1, 1), two = MakeArt("2", "due", 2, 2);
  ASSERT_EQ(AddRecord(t.dat(), &one), 0);
  const int sp = ctdbSetSavePoint(s);
  ASSERT_GT(sp, 0);
  ASSERT_EQ(AddRecord(t.dat(), &two), 0);
  ASSERT_EQ(ctdbRestoreSavePoint(s, sp), 0);
  ASSERT_EQ(ctdbCommit(s), 0);
  EXPECT_EQ(NbrOfRecords(t.dat()), 1);
  ASSERT_EQ(ctdbBegin(s), 0);
  ASSERT_EQ(AddRecord(t.dat(), &two), 0);
  ASSERT_EQ(ctdbAbort(s), 0);
  EXPECT_EQ(NbrOfRecords(t.dat()), 1);
  EXPECT_EQ(ctdbCommit(s), CT_NO_TRANSACTION);
  EXPECT_EQ(ctdbSetSavePoint(s), 0);
  EXPECT_EQ(ctdbRestoreSavePoint(s, 0), CT_BAD_PARAMETER);

  // The dictionary is shared: a second session sees the same databases.
  CTHANDLE s2 = ctdbAllocSession(CTSESSION_CTDB);
  EXPECT_EQ(ctdbAttachSession(s2, s2, CTATTACH_SESSION, 0), CTDBRET_NOTSESSION);
  ASSERT_EQ(ctdbAttachSession(s2, s, CTATTACH_SESSION, 0), 0);
  CTHANDLE db2 = ctdbAllocDatabase(s2);
  ASSERT_EQ(ctdbConnect(db2, d1), 0);
  ASSERT_EQ(ctdbFirstTable(db2, name, sizeof name, nullptr, 0), 0);
  EXPECT_STREQ(name, "art");
  EXPECT_EQ(ctdbGetDefaultSqlTableOwner(db2, got, sizeof got), 5);
  ASSERT_EQ(ctdbDetachSession(s2), 0);
  EXPECT_EQ(ctdbDetachSession(s2), CTDBRET_NOTACTIVE);
  EXPECT_EQ(ctdbFirstTable(db2, name, sizeof name, nullptr, 0), CTDBRET_NOTACTIVE);
  ctdbFreeSession(s2);  // its database handle goes with it
  EXPECT_EQ(ctdbConnect(db2, d1), CTDBRET_NOTDATABASE);

  ASSERT_EQ(ctdbDropTable(db, art), 0);
  EXPECT_EQ(ctdbDropTable(db, art), CT_NOT_FOUND);
  EXPECT_EQ(ctdbFirstTable(db, name, sizeof name, path, sizeof path), CT_NOT_FOUND);
  EXPECT_TRUE(fs::exists(Path("ditta1/art.dat")));  // dropped, not deleted
  ASSERT_EQ(ctdbAddTable(db, art, nullptr), 0);

  EXPECT_EQ(ctdbDropDatabase(s, d1), CTDBRET_INUSE);
  ASSERT_EQ(ctdbDisconnect(db), 0);
  EXPECT_EQ(ctdbDisconnect(db), CTDBRET_NOTACTIVE);
  ASSERT_EQ(ctdbDropDatabase(s, d1), 0);
  EXPECT_EQ(ctdbConnect(db, d1), CT_NOT_FOUND);
  EXPECT_TRUE(fs::exists(Path("ditta1/art.dat")));
  std::string folder = Path("ditta1");
  ASSERT_EQ(ctdbAddDatabase(s, d1, folder.data()), 0);
  ASSERT_EQ(ctdbConnect(db, d1), 0);
  ASSERT_EQ(ctdbAddTable(db, art, nullptr), 0);
  fs::create_directories(Path("shared"));
  ArtTable outside(Path("shared/listino"));
  CreateArt(outside);
  AddArts(outside, {MakeArt("L", "listino", 1, 1)});
  ASSERT_EQ(CloseIFile(&outside.ifil), 0);
  char listino[] = "listino";
  std::string shared = Path("shared");
  ASSERT_EQ(ctdbAddTable(db, listino, shared.data()), 0);
  ASSERT_EQ(ctdbDisconnect(db), 0);
  EXPECT_EQ(ctdbDeleteDatabase(s, d1), CT_FILE_LOCKED);  // the table is open here
  ASSERT_EQ(CloseIFile(&t.ifil), 0);
  ASSERT_EQ(ctdbDeleteDatabase(s, d1), 0);
  EXPECT_FALSE(fs::exists(Path("ditta1")));
  EXPECT_EQ(ctdbDeleteDatabase(s, d1), CT_NOT_FOUND);
  ASSERT_EQ(OpenIFileXtd(&outside.ifil, nullptr, nullptr, nullptr), 0);  // only unlisted
  EXPECT_EQ(NbrOfRecords(outside.dat()), 1);
  ASSERT_EQ(CloseIFile(&outside.ifil), 0);

  // Unknown, freed and foreign handles answer a status.
  int junk = 0;
  EXPECT_EQ(ctdbLogon(&junk, nullptr, nullptr, nullptr), CTDBRET_NOTSESSION);
  EXPECT_EQ(ctdbConnect(&junk, d1), CTDBRET_NOTDATABASE);
  EXPECT_EQ(ctdbConnect(s, d1), CTDBRET_NOTDATABASE);  // a session is no database
  EXPECT_EQ(ctdbBegin(db), CTDBRET_NOTSESSION);
  EXPECT_EQ(ctdbAllocDatabase(&junk), nullptr);
  EXPECT_EQ(ctdbFirstTable(nullptr, name, sizeof name, path, sizeof path), CTDBRET_NOTDATABASE);
  ctdbFreeDatabase(&junk);
  ctdbFreeDatabase(db);
  ctdbFreeDatabase(db);
  EXPECT_EQ(ctdbConnect(db, d1), CTDBRET_NOTDATABASE);

  // The logon shared the open ISAM session: the logout leaves it open.
  ASSERT_EQ(ctdbLogout(s), 0);
  EXPECT_EQ(ctdbLogout(s), CTDBRET_NOTACTIVE);
  EXPECT_EQ(ctdbBegin(s), CTDBRET_NOTACTIVE);
  EXPECT_GE(AvailableFileNbr(1), 0);
  // Without one, the logon opens it and the logout closes it.
  ASSERT_EQ(CloseISAM(), 0);
  ASSERT_EQ(ctdbLogon(s, nullptr, nullptr, nullptr), 0);
  EXPECT_GE(AvailableFileNbr(1), 0);
  ASSERT_EQ(ctdbBegin(s), 0);
  ASSERT_EQ(ctdbLogout(s), 0);  // aborts the session's transaction too
  EXPECT_EQ(AvailableFileNbr(1), -1);
  EXPECT_EQ(uerr_cod, CT_NOT_INITIALISED);
  ctdbFreeSession(s);
  ctdbFreeSession(s);
  EXPECT_EQ(ctdbLogon(s, nullptr, nullptr, nullptr), CTDBRET_NOTSESSION);
  EXPECT_EQ(ctdbAttachSession(ctdbAllocSession(CTSESSION_CTREE), nullptr, CTATTACH_CTREEID, 0),
            CTDBRET_NOTACTIVE);
}

TEST_F(IsamServerTest, RecordDatabaseSessionsOfAServerCheckTheLogon) {
  CTHANDLE s = ctdbAllocSession(CTSESSION_CTREE);
  char server[] = "FAIRCOM@host1", admin[] = "ADMIN", good[] = "segreto", bad[] = "no";
  EXPECT_EQ(ctdbCreateSession(s, server, admin, bad), CT_BAD_PASSWORD);
  ASSERT_EQ(ctdbCreateSession(s, server, admin, good), 0);
  EXPECT_TRUE(fs::exists(data_ + "/isamdict.db"));  // in the server's folder
  EXPECT_EQ(ctdbLogon(s, server, admin, bad), CT_BAD_PASSWORD);
  ASSERT_EQ(ctdbLogon(s, server, admin, good), 0);
  int32_t cfg[256];
  ASSERT_EQ(SystemConfiguration(cfg), 0);
  EXPECT_EQ(cfg[128], 0);  // a client session
  char d[] = "uno";
  ASSERT_EQ(ctdbCreateDatabase(s, d, nullptr), 0);
  EXPECT_TRUE(fs::is_directory(data_ + "/uno"));
  ASSERT_EQ(ctdbLogout(s), 0);
  ctdbFreeSession(s);
}

TEST_F(IsamTest, RenameIntoAnotherFolderIsRefusedAndChangesNothing) {
  fs::create_directories(Path("other"));
  ArtTable t(Path("art"), CT_MODE_EXCLUSIVE);
  CreateArt(t);
  AddArts(t, {MakeArt("A", "a", 1, 1)});
  std::string there = Path("other/art2");
  EXPECT_EQ(RenameFile(t.dat(), there.data()), CT_NOT_SUPPORTED);
  EXPECT_FALSE(FileExists("other/art2.dat"));
  EXPECT_TRUE(FileExists("art.dat"));
  EXPECT_EQ(NbrOfRecords(t.dat()), 1);
  std::string here = Path("art3");
  ASSERT_EQ(RenameFile(t.dat(), here.data()), 0);
  EXPECT_TRUE(FileExists("art3.dat"));
  EXPECT_FALSE(FileExists("art.dat"));
}

TEST_F(IsamTest, ATransactionOverTwoFoldersCommitsEachFolderWhole) {
  fs::create_directories(Path("a"));
  fs::create_directories(Path("b"));
  ArtTable ta(Path("a/art")), tb(Path("b/art"));
  CreateArt(ta);
  CreateArt(tb);
  Art x = MakeArt("X", "x", 1, 1), y = MakeArt("Y", "y", 2, 2);
  ASSERT_NE(Begin(50), 0);
  ASSERT_EQ(AddRecord(ta.dat(), &x), 0);
  ASSERT_EQ(AddRecord(tb.dat(), &x), 0);
  ASSERT_EQ(Commit(0), 0);
  EXPECT_EQ(NbrOfRecords(ta.dat()), 1);
  EXPECT_EQ(NbrOfRecords(tb.dat()), 1);
  ASSERT_NE(Begin(50), 0);
  ASSERT_EQ(AddRecord(ta.dat(), &y), 0);
  ASSERT_EQ(AddRecord(tb.dat(), &y), 0);
  ASSERT_EQ(Abort(), 0);
  EXPECT_EQ(NbrOfRecords(ta.dat()), 1);
  EXPECT_EQ(NbrOfRecords(tb.dat()), 1);
  // The first folder's commit fails: nothing of either folder is kept.
  ASSERT_NE(Begin(50), 0);
  ASSERT_EQ(AddRecord(ta.dat(), &y), 0);
  ASSERT_EQ(AddRecord(tb.dat(), &y), 0);
  FailNthStorageOp(1, CT_WRITE_ERROR, ENOSPC);
  EXPECT_EQ(Commit(0), CT_WRITE_ERROR);
  FailNthStorageOp(0, 0, 0);
  EXPECT_EQ(NbrOfRecords(ta.dat()), 1);
  EXPECT_EQ(NbrOfRecords(tb.dat()), 1);
  // The second folder's fails: the first keeps its part, whole.
  ASSERT_NE(Begin(50), 0);
  ASSERT_EQ(AddRecord(ta.dat(), &y), 0);
  ASSERT_EQ(AddRecord(tb.dat(), &y), 0);
  FailNthStorageOp(2, CT_WRITE_ERROR, ENOSPC);
  EXPECT_EQ(Commit(0), CT_WRITE_ERROR);
  FailNthStorageOp(0, 0, 0);
  EXPECT_EQ(NbrOfRecords(ta.dat()), 2);
  EXPECT_EQ(NbrOfRecords(tb.dat()), 1);
}

// A request as the record layer fills it.
struct CopyRequest {
  char sources[3 * kCopyNameSlot] = {};
  char targets[3 * kCopyNameSlot] = {};
  char error[1024] = {};
  ctCOPYREQ req{};
  ctCOPYBLK block{};
  CopyRequest(const std::string& stem, const std::string& dest, bool same_name, bool overwrite) {
    std::snprintf(sources, kCopyNameSlot, "%s.dat", stem.c_str());
    std::snprintf(sources + kCopyNameSlot, kCopyNameSlot, "%s.idx", stem.c_str());
    std::snprintf(sources + 2 * kCopyNameSlot, kCopyNameSlot, "%s_2.idx", stem.c_str());
    for (int i = 0; i < 3; ++i)
      std::snprintf(targets + i * kCopyNameSlot, kCopyNameSlot, "%s%s", dest.c_str(),
                    same_name ? "" : (i == 0 ? "_old.dat" : i == 1 ? "_old.idx" : "_2_old.idx"));
    req.one = 1;
    req.mode = (same_name ? 293 : 265) + (overwrite ? ctCOPY_OVERWRITE : 0);
    req.kind = same_name ? 1 : 2;
    req.logon.one = 1;
    // A client session's copy logs on again as the session's user.
    if (OnServer()) std::snprintf(req.logon.user, sizeof req.logon.user, "tester");
    req.sources = sources;
    req.targets = targets;
    block = ctCOPYBLK{1, 1, static_cast<int32_t>(sizeof error), 0, &req, 0, 0, error};
  }
};

TEST_F(IsamTest, FileCopyCopiesATableIntoAnotherFolder) {
  fs::create_directories(Path("backup"));
  {
    ArtTable t(Path("art"));
    CreateArt(t);
    AddArts(t, {MakeArt("A", "alfa", 1, 1), MakeArt("B", "beta", 2, 2), MakeArt("C", "gamma", 3, 3)});
    ASSERT_EQ(CloseIFile(&t.ifil), 0);
  }
  CopyRequest same(Path("art"), Path("backup"), true, false);
  ASSERT_EQ(ctCopyFile(&same.block), 0) << same.error;
  EXPECT_STREQ(same.error, "");
  ArtTable copy(Path("backup/art"));
  ASSERT_EQ(OpenIFileXtd(&copy.ifil, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(NbrOfRecords(copy.dat()), 3);
  Art a;
  char key[34];
  std::memset(key, ' ', sizeof key);
  std::memcpy(key, "BETA", 4);
  std::memset(key + 30, 0, 4);  // the duplicate suffix: from the first
  ASSERT_EQ(GetGTERecord(copy.key(2), TransformKey(copy.key(2), key), &a), 0);
  EXPECT_EQ(Code(a), "B");  // the indexes came along
  ASSERT_EQ(CloseIFile(&copy.ifil), 0);

  // Once more: the target exists.
  CopyRequest again(Path("art"), Path("backup"), true, false);
  EXPECT_EQ(ctCopyFile(&again.block), CT_FILE_EXISTS);
  EXPECT_EQ(sysio_cod, 80);
  CopyRequest over(Path("art"), Path("backup"), true, true);
  EXPECT_EQ(ctCopyFile(&over.block), 0) << over.error;
  // A backup copy under "_old" names beside the table.
  CopyRequest backup(Path("art"), Path("art"), false, false);
  ASSERT_EQ(ctCopyFile(&backup.block), 0) << backup.error;
  EXPECT_TRUE(FileExists("art_old.dat"));

  // Bad requests.
  CopyRequest self(Path("art"), dir_, true, true);
  EXPECT_EQ(ctCopyFile(&self.block), CT_BAD_PARAMETER);
  EXPECT_NE(std::string(self.error).find("se stesso"), std::string::npos);
  EXPECT_TRUE(FileExists("art.dat"));
  EXPECT_EQ(ctCopyFile(nullptr), CT_BAD_PARAMETER);
  CopyRequest cut(Path("art"), Path("backup"), true, true);
  std::memset(cut.targets, 'x', kCopyNameSlot);  // no terminator in the slot
  EXPECT_EQ(ctCopyFile(&cut.block), CT_BAD_PARAMETER);
  CopyRequest nulls(Path("art"), Path("backup"), true, true);
  nulls.req.sources = nullptr;
  EXPECT_EQ(ctCopyFile(&nulls.block), CT_BAD_PARAMETER);
  CopyRequest missing(Path("nothing"), Path("backup"), true, true);
  EXPECT_EQ(ctCopyFile(&missing.block), CT_FILE_NOT_FOUND);
  EXPECT_NE(std::string(missing.error).find("Impossibile aprire"), std::string::npos);
  ASSERT_NE(Begin(50), 0);
  EXPECT_EQ(ctCopyFile(&over.block), CT_TRANSACTION_ACTIVE);
  ASSERT_EQ(Abort(), 0);
}

}  // namespace
}  // namespace vkt::isam::test

TEST(CtsqlTest, ConnectionErrorsAreKeptBoundedAndClearedAndANullHandleIsHarmless) {
  tagCTSQLCONN conn;
  EXPECT_STREQ(ctsqlGetErrorMessage(&conn), "");
  EXPECT_EQ(ctsqlGetErrorPos(&conn), 0);
  ctsqlSetError(&conn, "syntax error at or near \"FORM\"", 10);
  EXPECT_STREQ(ctsqlGetErrorMessage(&conn), "syntax error at or near \"FORM\"");
  EXPECT_EQ(ctsqlGetErrorPos(&conn), 10);
  ctsqlSetError(&conn, nullptr, -3);
  EXPECT_STREQ(ctsqlGetErrorMessage(&conn), "");
  EXPECT_EQ(ctsqlGetErrorPos(&conn), 0);
  ctsqlSetError(&conn, "x", 4);
  ctsqlClearError(&conn);
  EXPECT_STREQ(ctsqlGetErrorMessage(&conn), "");
  EXPECT_EQ(ctsqlGetErrorPos(&conn), 0);
  ctsqlSetError(nullptr, "x", 1);
  ctsqlClearError(nullptr);
  EXPECT_STREQ(ctsqlGetErrorMessage(nullptr), "");
  EXPECT_EQ(ctsqlGetErrorPos(nullptr), 0);
}
