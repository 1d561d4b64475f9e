// The DB members over system queues, security administration and the
// record database objects, used as a host uses them.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "db/db_fixture.h"
#include "db/dbctree.h"
#include "isam/ctree.h"
#include "isam/isam_testing.h"
#include "win/services.h"

namespace vkt::db::test {
namespace {

class DbCtdbTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    vkt::isam::SetIsamProgramDirectory(dir_.c_str());
  }
  ClientiTable t_{Path("ditta/clienti")};
  Cliente buf_{};
  CDBCtree table_{1, &t_.ifil, &buf_, PutStandard, nullptr, StampCliente, 0};
};

TEST_F(DbCtdbTest, QueueMessagesPassThroughInOrderAndAWaitUsesTheClock) {
  InitSession();
  char name[] = "stampe";
  const int q = DBctSysQueueOpen(name, 0);
  ASSERT_GE(q, 0);
  char first[] = "fattura 1", urgent[] = "urgente";
  ASSERT_EQ(DBctSysQueueWrite(q, first, sizeof first), 0);
  ASSERT_EQ(DBctSysQueueLIFOWrite(q, urgent, sizeof urgent), 0);
  EXPECT_EQ(DBctSysQueueCount(q), 2);
  EXPECT_EQ(DBctSysQueueMlen(q, 0), static_cast<int>(sizeof urgent));
  char buf[32];
  ASSERT_EQ(DBctSysQueueRead(q, buf, sizeof buf, 0), 0);
  EXPECT_STREQ(buf, "urgente");
  ASSERT_EQ(DBctSysQueueRead(q, buf, sizeof buf, 0), 0);
  EXPECT_STREQ(buf, "fattura 1");
  // An empty queue waited on: the wait runs on the library's clock.
  const uint64_t slept = fake_.slept_ms();
  EXPECT_EQ(DBctSysQueueRead(q, buf, sizeof buf, 1000), CT_TIMEOUT);
  EXPECT_GE(fake_.slept_ms() - slept, 1000u);
  EXPECT_EQ(DBGetUerrCod(), CT_TIMEOUT);
  EXPECT_EQ(DBctSysQueueClose(q), 0);
  EXPECT_EQ(DBctSysQueueClose(q), CT_BAD_PARAMETER);
  EXPECT_EQ(DBctSysQueueWrite(q, first, sizeof first), CT_BAD_PARAMETER);
}

TEST_F(DbCtdbTest, AnAdministratorAddsAUserWhoThenLogsOn) {
  const std::string data = Path("server");
  std::filesystem::create_directories(data);
  {
    std::ofstream ini(Path("isamserv.ini"));
    ini << "[FAIRCOM@srv]\nbackend=folder\nfolder=" << data << "\nuser.ADMIN=ADMIN\n";
  }
  char admin[] = "ADMIN", server[] = "FAIRCOM@srv", verdi[] = "VERDI", word[] = "pwd";
  EXPECT_EQ(DBInitISAM(64, verdi, word, server, true, false, true), CT_BAD_USER);
  _saUSRI u;
  std::memset(&u, 0, sizeof u);
  std::strcpy(u.usrid, "VERDI");
  std::strcpy(u.usrword, "pwd");
  EXPECT_EQ(DBSA_USERS(SA_ADD_USER, &u), CT_SA_NO_LOGON);
  ASSERT_EQ(DBSA_LOGON(admin, admin, nullptr, server), 0);
  ASSERT_EQ(DBSA_USERS(SA_ADD_USER, &u), 0);
  ASSERT_EQ(DBSA_LOGOF(), 0);
  ASSERT_EQ(DBInitISAM(64, verdi, word, server, true, false, true), 0);
  EXPECT_EQ(DBLocal(), 0);
  EXPECT_EQ(DBCloseISAM(0), 0);
}

TEST_F(DbCtdbTest, ATableListedInADatabaseIsWrittenThroughTheSessionTransaction) {
  void* session = DBctdbAllocSession(CTSESSION_CTREE);
  ASSERT_NE(session, nullptr);
  ASSERT_EQ(DBctdbCreateSession(session, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(DBctdbLogon(session, nullptr, nullptr, nullptr), 0);  // opens the ISAM session
  char ditta[] = "ditta", clienti[] = "clienti";
  std::string folder = Path("ditta");
  ASSERT_EQ(DBctdbCreateDatabase(session, ditta, folder.data()), 0);
  void* db = DBctdbAllocDatabase(session);
  ASSERT_EQ(DBctdbConnect(db, ditta), 0);
  ASSERT_EQ(table_.DBOpen(1), 0);
  ASSERT_EQ(DBctdbAddTable(db, clienti, nullptr), 0);
  char name[32], path[512];
  ASSERT_EQ(DBctdbFirstTable(db, name, sizeof name, path, sizeof path), 0);
  EXPECT_STREQ(name, "clienti");
  EXPECT_EQ(DBctdbNextTable(db, name, sizeof name, path, sizeof path), CT_NOT_FOUND);
  char owner[] = "mirto";
  EXPECT_EQ(DBctdbSetDefaultSqlTableOwner(db, owner), 0);

  ASSERT_EQ(DBctdbBegin(session), 0);
  Cliente a = MakeCliente("C001", "Rossi Mario", "RSSMRA70A01F205X", "12345678903", "Milano", 1000);
  ASSERT_EQ(DBAddRecord(t_.ifil.tfilno, &a), 0);
  const int sp = DBctdbSetSavePoint(session);
  ASSERT_GT(sp, 0);
  Cliente b = MakeCliente("C002", "Bianchi Carla", "BNCCRL82D55G273Z", "09876543217", "Palermo", 2000);
  ASSERT_EQ(DBAddRecord(t_.ifil.tfilno, &b), 0);
  ASSERT_EQ(DBctdbRestoreSavePoint(session, sp), 0);
  ASSERT_EQ(DBctdbCommit(session), 0);
  EXPECT_EQ(DBNbrOfRecords(t_.ifil.tfilno), 1);
  ASSERT_EQ(DBctdbBegin(session), 0);
  ASSERT_EQ(DBAddRecord(t_.ifil.tfilno, &b), 0);
  ASSERT_EQ(DBctdbAbort(session), 0);
  EXPECT_EQ(DBNbrOfRecords(t_.ifil.tfilno), 1);

  ASSERT_EQ(DBctdbDropTable(db, clienti), 0);
  EXPECT_EQ(DBctdbDropDatabase(session, ditta), CTDBRET_INUSE);
  ASSERT_EQ(DBctdbDisconnect(db), 0);
  ASSERT_EQ(DBctdbDropDatabase(session, ditta), 0);
  ASSERT_EQ(DBctdbAddDatabase(session, ditta, folder.data()), 0);
  EXPECT_EQ(DBctdbDeleteDatabase(session, ditta), CT_FILE_LOCKED);  // the table is open
  ASSERT_EQ(table_.DBCloseIFile(), 0);
  ASSERT_EQ(DBctdbDeleteDatabase(session, ditta), 0);

  // A second session attached to the first, detached again.
  void* other = DBctdbAllocSession(CTSESSION_CTDB);
  ASSERT_EQ(DBctdbAttachSession(other, session, CTATTACH_SESSION, 0), 0);
  ASSERT_EQ(DBctdbDetachSession(other), 0);
  DBctdbFreeSession(other);
  DBctdbFreeDatabase(db);
  ASSERT_EQ(DBctdbLogout(session), 0);
  EXPECT_EQ(DBctdbLogout(session), CTDBRET_NOTACTIVE);
  DBctdbFreeSession(session);
  EXPECT_EQ(DBctdbLogon(session, nullptr, nullptr, nullptr), CTDBRET_NOTSESSION);
}

}  // namespace
}  // namespace vkt::db::test
