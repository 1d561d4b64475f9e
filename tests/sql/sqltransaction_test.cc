// The transaction runners, savepoints, lock clauses and error classifiers
// on the scripted server: every kind, also those whose server does not run
// here, and failures a real server cannot be made to give on demand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/vktapp.h"
#include "platform/saapi_drivers/odbc_checks.h"
#include "saapi/sascript.h"
#include "sql/vktpostgresql.h"
#include "test_util.h"
#include "win/services.h"
#include "win/winconst.h"

namespace {

using vkt::sa::ScopedDriver;
using vkt::sa::ScriptedServer;

SAString Database(int32_t, int, bool) { return SAString("db"); }
SAString User(int) { return SAString("vkt"); }
SAString Password(int) { return SAString("pw"); }
eSAClient Client() { return SA_ODBC_Client; }

SAException Catch(const std::function<void()>& f) {
  try {
    f();
  } catch (const SAException& e) {
    return e;
  }
  ADD_FAILURE() << "no SAException thrown";
  return SAException(SA_No_Error, 0, 0, "");
}

SAException Server(const char* text, int native = 7) {
  return SAException(SA_DBMS_API_Error, native, -1, SAString(text));
}

// A classifier's answer on a temporary exception.
bool Ask(CVKTPostgreSQL& k, bool (CVKTPostgreSQL::*f)(SAException&), SAException e) {
  return (k.*f)(e);
}

int Count(const std::vector<std::string>& log, const std::string& line) {
  return static_cast<int>(std::count(log.begin(), log.end(), line));
}

// A host table class: WriteFunc runs the test's script.
class Host : public CVKTPostgreSQL {
 public:
  explicit Host(int kind) : CVKTPostgreSQL(kind) {}
  std::function<void(SACommand*, int)> write;
  std::vector<std::pair<SACommand*, int>> calls;
  std::vector<bool> flag_seen;
  void WriteFunc(SACommand* cmd, int op, void*, void*, bool) override {
    calls.emplace_back(cmd, op);
    flag_seen.push_back(psql_transaction);
    if (write) write(cmd, op);
  }
};

class Runners : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&par_, 0, sizeof par_);
    std::strcpy(par_.app_name, "MIRTO");
    std::strcpy(par_.archive, "arc");
    par_.company = &company_;
    par_.year = &year_;
    par_.pg_param = {Database, User, Password, Client};
    VKTDlgInitialize(&par_);
  }
  void TearDown() override { vkt::LibraryLoad(); }

  void ExpectClean() {
    EXPECT_EQ(fake_.wait_cursor_depth(), 0);
    EXPECT_FALSE(psql_transaction);
  }

  VKTAPPPARAM par_;
  int32_t company_ = 1;
  int32_t year_ = 2024;
  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
  ScriptedServer server_;
  ScopedDriver odbc_{SA_ODBC_Client, &server_};
};

TEST_F(Runners, SavepointNamesMustBePlainIdentifiers) {
  CVKTPostgreSQL pg(1);
  SAConnection con;
  con.Connect("db", "u", "p", SA_ODBC_Client);
  SACommand cmd(&con);
  for (const char* bad : {"", "a b", "sp1; DROP TABLE clienti1", "x'", "s-1"}) {
    SCOPED_TRACE(bad);
    SAString name(bad);
    server_.ClearLog();
    SAException e = Catch([&] { pg.CreateSavePoint(&cmd, name); });
    EXPECT_EQ(e.ErrClass(), SA_UserGenerated_Error);
    EXPECT_EQ(e.ErrNativeCode(), 0);
    EXPECT_EQ(e.ErrText().Left(25), "Savepoint name not valid!");
    EXPECT_NE(e.ErrText().Find("Func\t: CVKTPostgreSQL::CreateSavePoint"), -1);
    e = Catch([&] { pg.RollbackSavepoint(&cmd, name); });
    EXPECT_NE(e.ErrText().Find("Func\t: CVKTPostgreSQL::RollbackSavepoint"), -1);
    e = Catch([&] { pg.ReleaseSavepoint(&cmd, name); });
    EXPECT_NE(e.ErrText().Find("Func\t: CVKTPostgreSQL::ReleaseSavepoint"), -1);
    EXPECT_TRUE(server_.statements().empty());  // nothing reached the server
  }
  SAString good("sp_1");
  server_.ClearLog();
  pg.CreateSavePoint(&cmd, good);
  pg.RollbackSavepoint(&cmd, good);
  pg.ReleaseSavepoint(&cmd, good);
  EXPECT_EQ(server_.statements(), (std::vector<std::string>{
                                      "SAVEPOINT sp_1", "ROLLBACK TO SAVEPOINT sp_1",
                                      "RELEASE SAVEPOINT sp_1"}));
  // Kind 0 does nothing, even with an empty name.
  CVKTPostgreSQL ctree(0);
  SAString empty;
  server_.ClearLog();
  ctree.CreateSavePoint(&cmd, empty);
  ctree.RollbackSavepoint(&cmd, good);
  EXPECT_TRUE(server_.log().empty());
}

TEST_F(Runners, LockClausesByKind) {
  for (int kind = 0; kind <= 5; ++kind) {
    CVKTPostgreSQL pg(kind);
    EXPECT_EQ(pg.GetLockString(1), kind == 0 ? "" : " FOR SHARE") << kind;
    EXPECT_EQ(pg.GetLockString(2), kind == 5 ? " FOR UPDATE NOWAIT 2" : " FOR UPDATE") << kind;
    EXPECT_EQ(pg.GetLockString(3), "") << kind;
    EXPECT_EQ(pg.GetLockString(0), "") << kind;
  }
}

TEST_F(Runners, ClassifiersAnswerOnlyForTheirKindsServerErrors) {
  CVKTPostgreSQL ctree(0), pg(1), pg2(2), my(3), my4(4), other(5);
  SAException dup_user(SA_UserGenerated_Error, -12, -1, "dup");
  for (CVKTPostgreSQL* k : {&ctree, &pg, &pg2, &my, &my4, &other})
    EXPECT_TRUE(k->IsDupKeyErr(dup_user)) << k->GetDbType();
  SAException pg_dup = Server("23505 ERROR: duplicate key value");
  EXPECT_TRUE(pg.IsDupKeyErr(pg_dup));
  EXPECT_FALSE(my.IsDupKeyErr(pg_dup));
  EXPECT_FALSE(other.IsDupKeyErr(pg_dup));
  // The same text as a library error is not the server's.
  SAException lib(SA_Library_Error, 1062, -1, "23505 duplicate");
  EXPECT_FALSE(pg.IsDupKeyErr(lib));
  EXPECT_FALSE(my.IsDupKeyErr(lib));
  EXPECT_TRUE(Ask(my, &CVKTPostgreSQL::IsDupKeyErr, Server("Duplicate entry", 1062)));
  SAException ct_dup = Server("dup", -17002);
  EXPECT_TRUE(ctree.IsDupKeyErr(ct_dup));
  EXPECT_FALSE(pg.IsDupKeyErr(ct_dup));

  // Lock SQLSTATEs count in any case; others must match exactly.
  for (const char* t : {"55P03 lock", "55p03 lock", "40P01 deadlock", "40001 serialize"}) {
    SAException e = Server(t);
    EXPECT_TRUE(pg.IsLockErr(e)) << t;
    EXPECT_TRUE(pg2.IsLockErr(e)) << t;
    EXPECT_FALSE(other.IsLockErr(e)) << t;
    EXPECT_FALSE(my.IsLockErr(e)) << t;
  }
  SAException lower_table = Server("42p01 relation missing");
  EXPECT_FALSE(pg.IsTableNotExistErr(lower_table));
  SAException table = Server("42P01 relation missing");
  EXPECT_TRUE(pg.IsTableNotExistErr(table));
  EXPECT_TRUE(pg.IsViewNotExistErr(table));
  for (int code : {1205, 1213, 3572}) {
    SAException e = Server("lock", code);
    EXPECT_TRUE(my.IsLockErr(e)) << code;
    EXPECT_TRUE(my4.IsLockErr(e)) << code;
    EXPECT_FALSE(pg.IsLockErr(e)) << code;
  }
  EXPECT_FALSE(Ask(my, &CVKTPostgreSQL::IsLockErr, Server("x", 1062)));
  EXPECT_TRUE(Ask(ctree, &CVKTPostgreSQL::IsLockErr, Server("x", -17042)));
  EXPECT_TRUE(Ask(pg, &CVKTPostgreSQL::IsColumnNameNonExistErr, Server("42703 col")));
  EXPECT_TRUE(Ask(my, &CVKTPostgreSQL::IsColumnNameNonExistErr, Server("col", 1054)));
  EXPECT_TRUE(Ask(pg, &CVKTPostgreSQL::IsDupColumnErr, Server("42701 col")));
  EXPECT_TRUE(Ask(pg, &CVKTPostgreSQL::IsDupConstraintErr, Server("42710 c")));
  EXPECT_FALSE(Ask(ctree, &CVKTPostgreSQL::IsDupConstraintErr, Server("42710 c")));
  EXPECT_TRUE(Ask(my, &CVKTPostgreSQL::IsDatabaseNotExist, Server("Unknown database", 1049)));
  EXPECT_TRUE(Ask(pg, &CVKTPostgreSQL::IsDatabaseNotExist, Server("08001 no db", 1)));
  SAException fatale = Server("FATALE:  il database \"arc\" non esiste\n", 1);
  EXPECT_TRUE(pg2.IsDatabaseNotExist(fatale));
  EXPECT_FALSE(pg.IsDatabaseNotExist(fatale));
  SAException other_db = Server("FATALE:  il database \"arx\" non esiste\n", 1);
  EXPECT_FALSE(pg2.IsDatabaseNotExist(other_db));

  SAException trig = Server("trigger", 1359);
  EXPECT_TRUE(my.IsTriggerAlreadyExist(trig));
  EXPECT_TRUE(fake_.transcript().empty());
  EXPECT_FALSE(pg.IsTriggerAlreadyExist(trig));
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Da Implementare");
}

TEST_F(Runners, OwnConnectionRetriesNineTimesSettingTheLockWaitEachTime) {
  Host host(1);
  host.write = [](SACommand*, int) {
    SAException::throwUserException(-10, "locked");
  };
  SAException e = Catch([&] { host.SqlTransaction(1, nullptr, nullptr, false, 0); });
  EXPECT_EQ(e.ErrNativeCode(), 86);
  EXPECT_EQ(e.ErrText().Left(43), "E' stato riscontrato un errore di deadlock!");
  EXPECT_EQ(host.calls.size(), 9u);
  EXPECT_EQ(fake_.sleeps(), std::vector<uint32_t>(9, 51200));
  const auto log = server_.log();
  // A roll-back undoes the setting on PostgreSQL: every attempt sets it.
  EXPECT_EQ(Count(log, "EXEC SET lock_timeout TO 2000"), 9);
  EXPECT_EQ(Count(log, "BEGIN 3"), 9);
  EXPECT_EQ(Count(log, "ROLLBACK"), 9);
  EXPECT_EQ(Count(log, "COMMIT"), 0);
  EXPECT_EQ(log.back(), "DISCONNECT");
  for (bool inside : host.flag_seen) EXPECT_TRUE(inside);
  ExpectClean();
}

TEST_F(Runners, OwnConnectionCommitsThenDisconnectsOutsideTheRetries) {
  for (int kind : {0, 1, 3, 5}) {
    SCOPED_TRACE(kind);
    Host host(kind);
    int n = 0;
    host.write = [&](SACommand* cmd, int) {
      if (++n == 1) throw SAException(Server(kind == 3 ? "lock" : "40P01 deadlock",
                                             kind == 3 ? 1213 : kind == 0 ? -17042 : 7));
      cmd->setCommandText("UPDATE t SET v = 1");
      cmd->Execute();
    };
    server_.ClearLog();
    fake_.SetNow(0);
    std::vector<uint32_t> before = fake_.sleeps();
    if (kind == 5) {
      // Kind 5 classifies nothing as a lock: the first failure is final.
      EXPECT_EQ(Catch([&] { host.SqlTransaction(1, nullptr, nullptr, false, 0); }).ErrNativeCode(),
                7);
      EXPECT_EQ(host.calls.size(), 1u);
      EXPECT_EQ(fake_.sleeps().size(), before.size());
      EXPECT_EQ(server_.log().back(), "DISCONNECT");
      ExpectClean();
      continue;
    }
    server_.FailDisconnect(1);  // a failing disconnect still closes, quietly
    host.SqlTransaction(1, nullptr, nullptr, false, 0);
    EXPECT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(fake_.sleeps().size(), before.size() + 1);
    const auto log = server_.log();
    EXPECT_EQ(Count(log, "COMMIT"), 1);
    EXPECT_EQ(Count(log, "BEGIN " + std::to_string(kind == 0 ? 2 : 3)), 2);
    const char* lock = kind == 0 ? "EXEC call fc_set_blockinglock( -2 )"
                                 : kind == 1 ? "EXEC SET lock_timeout TO 2000"
                                             : "EXEC set innodb_lock_wait_timeout = 2;";
    EXPECT_EQ(Count(log, lock), 2);
    EXPECT_EQ(log.back(), "DESTROY");
    ExpectClean();
  }
}

TEST_F(Runners, OtherErrorsAreRolledBackAndRethrownUnchanged) {
  Host host(2);
  host.write = [](SACommand*, int) { throw SAException(Server("23505 duplicate key")); };
  SAException e = Catch([&] { host.SqlTransaction(0, nullptr, nullptr, false, 0); });
  EXPECT_EQ(e.ErrText(), "23505 duplicate key");
  EXPECT_EQ(host.calls.size(), 1u);
  EXPECT_TRUE(fake_.sleeps().empty());
  EXPECT_EQ(Count(server_.log(), "ROLLBACK"), 1);
  ExpectClean();

  // Not an SAException at all.
  host.write = [](SACommand*, int) { throw std::runtime_error("host bug"); };
  EXPECT_THROW(host.SqlTransaction(0, nullptr, nullptr, false, 0), std::runtime_error);
  EXPECT_EQ(server_.log().back(), "DISCONNECT");
  ExpectClean();

  // A connect that fails leaves no wait cursor on.
  server_.FailConnect(ScriptedServer::Error("08001", 1, "no server"));
  e = Catch([&] { host.SqlTransaction(0, nullptr, nullptr, false, 0); });
  EXPECT_EQ(e.ErrText(), "08001 no server");
  ExpectClean();
}

TEST_F(Runners, DeletesAreRefusedBeforeAnyConnection) {
  Host host(1);
  unsigned char forbidden = 1;
  par_.no_delete = &forbidden;
  SAException e = Catch([&] { host.SqlTransaction(2, nullptr, nullptr, false, 0); });
  EXPECT_EQ(e.ErrNativeCode(), -14);
  EXPECT_EQ(e.ErrText().Left(33), "Operazione annullata dall'utente!");
  ASSERT_EQ(fake_.beeps().size(), 1u);
  EXPECT_EQ(fake_.beeps()[0], (std::pair<unsigned, unsigned>(1000, 10)));
  EXPECT_TRUE(fake_.transcript().empty());
  forbidden = 0;
  fake_.ScriptAnswer(IDNO);
  e = Catch([&] { host.SqlTransaction(2, nullptr, nullptr, false, 0); });
  EXPECT_EQ(e.ErrNativeCode(), -14);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Confermi la Cancellazione....");
  EXPECT_EQ(fake_.transcript()[0].type, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  EXPECT_EQ(server_.connects(), 0);
  EXPECT_TRUE(host.calls.empty());
  fake_.ScriptAnswer(IDYES);
  host.SqlTransaction(2, nullptr, nullptr, false, 0);
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0].second, 2);
  ExpectClean();
}

TEST_F(Runners, ExistingCommandGetsBackItsSettingsOnEveryWayOut) {
  SAConnection con;
  con.Connect("db", "u", "p", SA_ODBC_Client);
  con.setAutoCommit(SA_AutoCommitOn);
  con.setIsolationLevel(SA_ReadCommitted);
  SACommand cmd(&con);
  server_.On("SHOW lock_timeout", ScriptedServer::Table({"lock_timeout"},
                                                       {{ScriptedServer::Text("1500ms")}}));
  Host host(1);
  auto check = [&](const char* how) {
    SCOPED_TRACE(how);
    EXPECT_EQ(con.AutoCommit(), SA_AutoCommitOn);
    EXPECT_EQ(con.IsolationLevel(), SA_ReadCommitted);
    EXPECT_FALSE(con.isTransactionOpen());
    EXPECT_EQ(server_.statements().back(), "SET lock_timeout TO '1500ms'");
    EXPECT_EQ(Count(server_.log(), "DISCONNECT"), 0);
    ExpectClean();
  };
  // Success.
  host.SqlTransaction(&cmd, 1, nullptr, nullptr, false);
  EXPECT_EQ(Count(server_.log(), "COMMIT"), 1);
  check("commit");
  // A rethrown error.
  server_.ClearLog();
  host.write = [](SACommand*, int) { throw SAException(Server("42601 syntax")); };
  Catch([&] { host.SqlTransaction(&cmd, 1, nullptr, nullptr, false); });
  check("rethrow");
  // The nine attempts.
  server_.ClearLog();
  host.write = [](SACommand*, int) { throw SAException(Server("55P03 lock not available")); };
  EXPECT_EQ(Catch([&] { host.SqlTransaction(&cmd, 1, nullptr, nullptr, false); }).ErrNativeCode(),
            86);
  EXPECT_EQ(Count(server_.log(), "EXEC SET lock_timeout TO 2000"), 9);
  check("86");
  // A host exception of its own.
  server_.ClearLog();
  host.write = [](SACommand*, int) { throw std::logic_error("host"); };
  EXPECT_THROW(host.SqlTransaction(&cmd, 1, nullptr, nullptr, false), std::logic_error);
  check("foreign exception");
  // A host connection with auto-commit off keeps it off.
  host.write = nullptr;
  con.setAutoCommit(SA_AutoCommitOff);
  host.SqlTransaction(&cmd, 1, nullptr, nullptr, false);
  EXPECT_EQ(con.AutoCommit(), SA_AutoCommitOff);
  EXPECT_FALSE(con.isTransactionOpen());
}

class TwoServers : public Runners {
 protected:
  void SetUp() override {
    Runners::SetUp();
    one_.Connect("one", "u", "p", SA_ODBC_Client);
    two_.Connect("two", "u", "p", SA_PostgreSQL_Client);
    c1_.setConnection(&one_);
    c2_.setConnection(&two_);
    work_ = DIST_TRANSACTION{&c1_, &c2_, 5, 1, 1, 0, true};
  }
  ScriptedServer second_;
  ScopedDriver pg_{SA_PostgreSQL_Client, &second_};
  SAConnection one_, two_;
  SACommand c1_, c2_;
  DIST_TRANSACTION work_;
};

TEST_F(TwoServers, FailuresAreJudgedByTheFailingCommandsKind) {
  // The object is kind 5, which calls nothing a lock; the second command
  // is PostgreSQL, whose deadlock is retried after 100 ms.
  Host host(5);
  int n = 0;
  host.write = [&](SACommand* cmd, int) {
    if (cmd == &c2_ && ++n == 1) throw SAException(Server("40P01 deadlock detected"));
    cmd->setCommandText("UPDATE t SET v = 1");
    cmd->Execute();
  };
  host.SqlDitribuitedTransaction(&work_, nullptr, nullptr, false);
  EXPECT_EQ(host.calls.size(), 4u);
  EXPECT_EQ(fake_.sleeps(), std::vector<uint32_t>{100});
  EXPECT_EQ(Count(server_.log(), "COMMIT"), 1);
  EXPECT_EQ(Count(second_.log(), "COMMIT"), 1);
  EXPECT_EQ(Count(server_.log(), "ROLLBACK"), 1);
  EXPECT_EQ(Count(second_.log(), "EXEC SET lock_timeout TO '50'"), 2);
  ExpectClean();

  // The same error from the kind-5 command is final, whatever the object.
  Host pg(1);
  pg.write = [&](SACommand* cmd, int) {
    if (cmd == &c1_) throw SAException(Server("40P01 deadlock detected"));
  };
  SAException e = Catch([&] { pg.SqlDitribuitedTransaction(&work_, nullptr, nullptr, false); });
  EXPECT_EQ(e.ErrText(), "40P01 deadlock detected");
  EXPECT_EQ(pg.calls.size(), 1u);
  EXPECT_EQ(fake_.sleeps().size(), 1u);
  ExpectClean();
}

TEST_F(TwoServers, ASecondCommitThatFailsIsNeverRetried) {
  second_.On("SHOW lock_timeout", ScriptedServer::Table({"lock_timeout"},
                                                       {{ScriptedServer::Text("0")}}));
  second_.FailCommit(ScriptedServer::Error("40001", 7, "could not serialize access"));
  Host host(1);
  host.write = [&](SACommand* cmd, int) {
    cmd->setCommandText("INSERT INTO t VALUES (1)");
    cmd->Execute();
  };
  SAException e = Catch([&] { host.SqlDitribuitedTransaction(&work_, nullptr, nullptr, false); });
  EXPECT_EQ(e.ErrClass(), SA_UserGenerated_Error);
  EXPECT_EQ(e.ErrText().Left(34), "Transazione distribuita incompleta");
  EXPECT_NE(e.ErrText().Find("40001 could not serialize access"), -1);
  // One run of each side's work, the first committed once.
  EXPECT_EQ(host.calls.size(), 2u);
  EXPECT_EQ(Count(server_.log(), "COMMIT"), 1);
  EXPECT_TRUE(fake_.sleeps().empty());
  EXPECT_EQ(second_.statements().back(), "SET lock_timeout TO '0'");
  EXPECT_EQ(one_.AutoCommit(), SA_AutoCommitOn);
  EXPECT_EQ(two_.AutoCommit(), SA_AutoCommitOn);
  ExpectClean();
}

TEST_F(TwoServers, OrderAndExhaustion) {
  Host host(1);
  work_.firstBeforeSecond = false;
  work_.dbType1 = 1;
  std::vector<std::string> order;
  host.write = [&](SACommand* cmd, int op) { order.push_back(cmd == &c1_ ? "c1/" + std::to_string(op) : "c2/" + std::to_string(op)); };
  host.SqlDitribuitedTransaction(&work_, nullptr, nullptr, false);
  EXPECT_EQ(order, (std::vector<std::string>{"c2/0", "c1/1"}));
  // The second side commits first.
  ASSERT_FALSE(second_.log().empty());
  host.write = [&](SACommand*, int) { SAException::throwUserException(-10, "locked"); };
  SAException e = Catch([&] { host.SqlDitribuitedTransaction(&work_, nullptr, nullptr, false); });
  EXPECT_EQ(e.ErrNativeCode(), 86);
  EXPECT_EQ(fake_.sleeps(), std::vector<uint32_t>(9, 100));
  ExpectClean();
}

}  // namespace

namespace {

// The embedded SQLite server speaks the PostgreSQL kinds' dialect: the
// runner's lock waiting is its busy time-out, given back afterwards.
using vkt::testing::Exec;
using vkt::testing::One;

TEST(SqliteRunner, TheBusyTimeOutComesBack) {
  vkt::TestServices fake;
  vkt::ScopedServices use(&fake);
  vkt::testing::TempDir dir("sqlite-runner");
  SAConnection con;
  con.Connect(SAString(dir / "a.db"), "", "", SA_SQLite_Client);
  Exec(&con, "CREATE TABLE t (k integer PRIMARY KEY)");
  Exec(&con, "SET lock_timeout TO 1234");
  EXPECT_EQ(One(&con, "SHOW lock_timeout"), "1234ms");
  SACommand cmd(&con);
  Host host(2);
  std::string inside;
  host.write = [&](SACommand* c, int) {
    inside = One(c->Connection(), "SHOW lock_timeout");
    c->setCommandText("INSERT INTO t VALUES (1)");
    c->Execute();
  };
  host.SqlTransaction(&cmd, 0, nullptr, nullptr, false);
  EXPECT_EQ(inside, "2000ms");
  EXPECT_EQ(One(&con, "SHOW lock_timeout"), "1234ms");
  EXPECT_EQ(One(&con, "SELECT count(*) FROM t"), "1");
}

}  // namespace
