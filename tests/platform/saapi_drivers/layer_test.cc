// The SQL client layer over the embedded SQLite driver and the scripted
// server: binding, lazy transactions, value conversions, error classes and
// the SQLite dialect mapping.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "saapi/saapi.h"
#include "saapi/sadriver.h"
#include "saapi/sascript.h"

namespace {

using vkt::sa::ScopedDriver;
using vkt::sa::ScriptedServer;

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/vkt-saapi-XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

SAException Catch(const std::function<void()>& f) {
  try {
    f();
  } catch (const SAException& e) {
    return e;
  }
  ADD_FAILURE() << "no SAException thrown";
  return SAException(SA_No_Error, 0, 0, "");
}

TEST(SaLayer, ParametersTravelApartFromTheText) {
  ScriptedServer server;
  ScopedDriver use(SA_ODBC_Client, &server);
  SAConnection con;
  con.Connect("db", "u", "p", SA_ODBC_Client);
  SACommand cmd(&con,
                "SELECT ':x', a::text FROM t /* :y */ WHERE b = :2 AND c = :1 AND d = :2 -- :3");
  ASSERT_EQ(cmd.ParamCount(), 2);
  cmd.Param(1).setAsString("O'Hara");
  cmd.Param(2).setAsLong(7);
  cmd.Execute();
  EXPECT_EQ(server.statements().back(),
            "SELECT ':x', a::text FROM t /* :y */ WHERE b = ? AND c = ? AND d = ? -- :3 "
            "[7, 'O'Hara', 7]");

  // Named parameters in order of first appearance; `<<` binds in that order.
  cmd.setCommandText("UPDATE t SET name = :name, n = :n WHERE name = :name");
  cmd << "x" << 3L;
  cmd.Execute();
  EXPECT_EQ(server.statements().back(), "UPDATE t SET name = ?, n = ? WHERE name = ? ['x', 3, 'x']");
  EXPECT_EQ(Catch([&] { cmd << 1 << 2 << 3; }).ErrClass(), SA_Library_Error);

  // Raw text is sent as written.
  cmd.setCommandText("SELECT :1", SA_CmdSQLStmtRaw);
  EXPECT_EQ(cmd.ParamCount(), 0);
}

TEST(SaLayer, TransactionsBeginLazilyAtTheIsolationLevelSet) {
  ScriptedServer server;
  ScopedDriver use(SA_ODBC_Client, &server);
  SAConnection con;
  con.Connect("db", "u", "p", SA_ODBC_Client);
  SACommand cmd(&con, "UPDATE t SET a = 1");
  cmd.Execute();  // auto-commit: no transaction at all
  con.setAutoCommit(SA_AutoCommitOff);
  con.setIsolationLevel(SA_Serializable);
  server.ClearLog();
  con.Commit();  // nothing open: nothing sent
  EXPECT_TRUE(server.log().empty());
  cmd.Execute();
  cmd.Execute();
  con.Commit();
  con.setIsolationLevel(SA_RepeatableRead);
  cmd.Execute();
  con.Rollback();
  cmd.Execute();
  con.setAutoCommit(SA_AutoCommitOn);  // commits what is open
  std::vector<std::string> want = {
      "BEGIN 3", "EXEC UPDATE t SET a = 1", "EXEC UPDATE t SET a = 1", "COMMIT",
      "BEGIN 2", "EXEC UPDATE t SET a = 1", "ROLLBACK",
      "BEGIN 2", "EXEC UPDATE t SET a = 1", "COMMIT"};
  EXPECT_EQ(server.log(), want);
}

TEST(SaLayer, ScriptedServerForcesErrorsAndLostLinks) {
  ScriptedServer server;
  ScopedDriver use(SA_ODBC_Client, &server);
  server.OnStatement(2, ScriptedServer::Error("40P01", 0, "deadlock detected"));
  SAConnection con;
  con.Connect("db", "u", "p", SA_ODBC_Client);
  SACommand cmd(&con, "SELECT 1");
  cmd.Execute();
  SAException e = Catch([&] { cmd.Execute(); });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_EQ(e.ErrText(), "40P01 deadlock detected");
  EXPECT_EQ(e.ErrSQLState(), "40P01");
  cmd.Execute();  // the third runs again

  server.On("boom", ScriptedServer::LostLink(), 1);
  cmd.setCommandText("SELECT boom");
  e = Catch([&] { cmd.Execute(); });
  EXPECT_EQ(e.ErrSQLState(), "08006");
  EXPECT_TRUE(con.isConnected());
  EXPECT_FALSE(con.isAlive());
  con.Disconnect();
  con.Connect("db", "u", "p", SA_ODBC_Client);
  EXPECT_TRUE(con.isAlive());
  cmd.Execute();  // rule spent: succeeds on the new link

  server.FailConnect(ScriptedServer::Error("28P01", 1, "password authentication failed"));
  SAConnection other;
  e = Catch([&] { other.Connect("db", "u", "bad", SA_ODBC_Client); });
  EXPECT_EQ(e.ErrNativeCode(), 1);
  EXPECT_FALSE(other.isConnected());
}

TEST(SaLayer, UserExceptionsCarryCodeAndFormattedText) {
  SAException e = Catch([] { SAException::throwUserException(-12, "%s %d", "dup", 5); });
  EXPECT_EQ(e.ErrClass(), SA_UserGenerated_Error);
  EXPECT_EQ(e.ErrNativeCode(), -12);
  EXPECT_EQ(e.ErrPos(), -1);
  EXPECT_EQ(e.ErrText(), "dup 5");
}

TEST(SaLayer, CommandsWithoutALinkFailClearly) {
  SACommand lone;
  lone.setCommandText("SELECT 1");
  EXPECT_EQ(Catch([&] { lone.Execute(); }).ErrClass(), SA_Library_Error);
  SAConnection con;
  SACommand cmd(&con, "SELECT 1");
  EXPECT_EQ(Catch([&] { cmd.Execute(); }).ErrClass(), SA_Library_Error);
  SAConnection none;
  EXPECT_EQ(Catch([&] { none.Connect("x", "", "", static_cast<eSAClient>(5)); }).ErrClass(),
            SA_Library_Error);
  {
    // A command that outlives its connection is simply unbound.
    auto c = std::make_unique<SAConnection>();
    c->Connect(":memory:", "", "", SA_SQLite_Client);
    cmd.setConnection(c.get());
    cmd.Execute();
  }
  EXPECT_EQ(cmd.Connection(), nullptr);
}

class SqliteLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = dir_.file("main.db");
    con_.Connect(db_.c_str(), "", "", SA_SQLite_Client);
  }
  void Exec(const char* sql) {
    SACommand c(&con_, sql);
    c.Execute();
  }
  TempDir dir_;
  std::string db_;
  SAConnection con_;
};

TEST_F(SqliteLayer, ValuesRoundTripAndNullsReadAsEmpty) {
  Exec("CREATE TABLE t (i INTEGER, s SMALLINT, b BIGINT, d DOUBLE PRECISION, "
       "n NUMERIC(15,3), txt VARCHAR(40), dt TIMESTAMP, da DATE, bl BLOB)");
  SACommand ins(&con_, "INSERT INTO t VALUES (:1, :2, :3, :4, :5, :6, :7, :8, :9)");
  ins.Param(1).setAsLong(-2147483647 - 1);
  ins.Param(2).setAsShort(-32768);
  ins.Param(3).setAsInt64(9007199254740993LL);
  ins.Param(4).setAsDouble(0.1);
  ins.Param(5).setAsNumeric("12345.678");
  ins.Param(6).setAsString("perch\xE9 \x80 caf\xE8");
  ins.Param(7).setAsDateTime(SADateTime(2024, 5, 17, 23, 30, 15));
  ins.Param(8).setAsDateTime(SADateTime(2000, 1, 1, 0, 0, 0));
  ins.Param(9).setAsBytes(SAString("a\0b\xFF", 4));
  ins.Execute();
  EXPECT_EQ(ins.RowsAffected(), 1);
  for (int k = 1; k <= 9; ++k) ins.Param(k).setAsNull();
  ins.Execute();

  SACommand sel(&con_, "SELECT * FROM t ORDER BY i IS NULL");
  sel.Execute();
  ASSERT_TRUE(sel.FetchNext());
  EXPECT_EQ(sel.Field("I").asLong(), -2147483647 - 1);
  EXPECT_EQ(sel.Field("s").asShort(), -32768);
  EXPECT_EQ(sel.Field("b").asInt64(), 9007199254740993LL);
  EXPECT_EQ(sel.Field("d").asDouble(), 0.1);
  EXPECT_EQ(sel.Field("n").asDouble(), 12345.678);
  EXPECT_EQ(sel.Field("Txt").asString(), "perch\xE9 \x80 caf\xE8");
  EXPECT_EQ(sel.Field("dt").asDateTime(), SADateTime(2024, 5, 17, 23, 30, 15));
  EXPECT_DOUBLE_EQ(static_cast<double>(sel.Field("da").asDateTime()), 36526.0);
  EXPECT_EQ(sel.Field("bl").asBytes(), SAString("a\0b\xFF", 4));
  // Out of range and not-a-number conversions refuse instead of wrapping.
  EXPECT_EQ(Catch([&] { sel.Field("b").asLong(); }).ErrClass(), SA_Library_Error);
  EXPECT_EQ(Catch([&] { sel.Field("txt").asLong(); }).ErrClass(), SA_Library_Error);
  EXPECT_EQ(Catch([&] { sel.Field("nope"); }).ErrClass(), SA_Library_Error);

  ASSERT_TRUE(sel.FetchNext());
  EXPECT_TRUE(sel.Field("i").isNull());
  EXPECT_EQ(sel.Field("i").asLong(), 0);
  EXPECT_EQ(sel.Field("d").asDouble(), 0.0);
  EXPECT_EQ(sel.Field("txt").asString(), "");
  EXPECT_EQ(sel.Field("dt").asDateTime(), SADateTime());
  EXPECT_EQ(static_cast<double>(sel.Field("da").asDateTime()), 0.0);
  EXPECT_FALSE(sel.FetchNext());
}

TEST_F(SqliteLayer, TextWithQuotesIsStoredAsGivenAndInjectsNothing) {
  Exec("CREATE TABLE t (s TEXT)");
  SACommand ins(&con_, "INSERT INTO t VALUES (:1)");
  ins << "x'); DROP TABLE t; --";
  ins.Execute();
  SACommand sel(&con_, "SELECT s FROM t");
  sel.Execute();
  ASSERT_TRUE(sel.FetchNext());
  EXPECT_EQ(sel[1].asString(), "x'); DROP TABLE t; --");
}

TEST_F(SqliteLayer, RollbackDiscardsAndCommitKeeps) {
  Exec("CREATE TABLE t (k INTEGER PRIMARY KEY)");
  con_.setAutoCommit(SA_AutoCommitOff);
  con_.setIsolationLevel(SA_Serializable);
  Exec("INSERT INTO t VALUES (1)");
  EXPECT_TRUE(con_.isTransactionOpen());
  con_.Rollback();
  Exec("INSERT INTO t VALUES (2)");
  con_.Commit();
  SAConnection other;
  other.Connect(db_.c_str(), "", "", SA_SQLite_Client);
  SACommand sel(&other, "SELECT k FROM t");
  sel.Execute();
  ASSERT_TRUE(sel.FetchNext());
  EXPECT_EQ(sel[1].asLong(), 2);
  EXPECT_FALSE(sel.FetchNext());
}

TEST_F(SqliteLayer, ErrorsAreMappedOntoSqlStates) {
  Exec("CREATE TABLE t (k INTEGER PRIMARY KEY, v TEXT NOT NULL)");
  Exec("INSERT INTO t VALUES (1, 'a')");
  SAException e = Catch([&] { Exec("INSERT INTO t VALUES (1, 'b')"); });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_EQ(e.ErrText().Left(5), "23505");
  EXPECT_EQ(e.CommandText(), "INSERT INTO t VALUES (1, 'b')");
  EXPECT_EQ(Catch([&] { Exec("INSERT INTO t VALUES (2, NULL)"); }).ErrSQLState(), "23502");
  EXPECT_EQ(Catch([&] { Exec("SELECT * FROM nope"); }).ErrSQLState(), "42P01");
  EXPECT_EQ(Catch([&] { Exec("SELECT zz FROM t"); }).ErrSQLState(), "42703");
  EXPECT_EQ(Catch([&] { Exec("ALTER TABLE t ADD COLUMN v TEXT"); }).ErrSQLState(), "42701");
  EXPECT_EQ(Catch([&] { Exec("SELEC 1"); }).ErrSQLState(), "42601");

  // A writer holding the database makes a second one time out as a lock.
  con_.setAutoCommit(SA_AutoCommitOff);
  con_.setIsolationLevel(SA_Serializable);
  Exec("INSERT INTO t VALUES (5, 'x')");
  SAConnection other;
  other.Connect(db_.c_str(), "", "", SA_SQLite_Client);
  SACommand o(&other, "SET lock_timeout TO '50'");
  o.Execute();
  o.setCommandText("INSERT INTO t VALUES (6, 'y')");
  EXPECT_EQ(Catch([&] { o.Execute(); }).ErrSQLState(), "55P03");
  con_.Commit();
  o.Execute();
}

TEST_F(SqliteLayer, DialectOfTheOtherServersRuns) {
  Exec("SET application_name = 'MIRTO d''Oro'");
  SACommand c(&con_, "SELECT application_name()");
  c.Execute();
  ASSERT_TRUE(c.FetchNext());
  EXPECT_EQ(c[1].asString(), "MIRTO d'Oro");
  Exec("set innodb_lock_wait_timeout = 2;");
  Exec("call fc_set_blockinglock( -2 )");

  Exec("CREATE SCHEMA arc00007");
  Exec("CREATE SCHEMA IF NOT EXISTS arc00007");
  EXPECT_EQ(Catch([&] { Exec("CREATE SCHEMA arc00007"); }).ErrSQLState(), "42P06");
  Exec("CREATE TABLE arc00007.moviment (k INTEGER, note TEXT)");
  Exec("INSERT INTO arc00007.moviment VALUES (1, 'for update')");
  // Row locks of other servers are dropped; a quoted "FOR UPDATE" stays.
  c.setCommandText("SELECT note FROM arc00007.moviment WHERE note = 'for update' FOR UPDATE NOWAIT 2");
  c.Execute();
  ASSERT_TRUE(c.FetchNext());
  EXPECT_EQ(c[1].asString(), "for update");
  c.setCommandText("SELECT k FROM arc00007.moviment FOR SHARE");
  c.Execute();
  EXPECT_TRUE(c.FetchNext());

  // A new session finds the schema again.
  con_.Disconnect();
  con_.Connect(db_.c_str(), "", "", SA_SQLite_Client);
  c.setConnection(&con_);
  c.setCommandText("SELECT count(*) FROM arc00007.moviment");
  c.Execute();
  ASSERT_TRUE(c.FetchNext());
  EXPECT_EQ(c[1].asLong(), 1);
  // An open statement on the schema keeps it in use.
  EXPECT_EQ(Catch([&] { Exec("DROP SCHEMA arc00007 CASCADE"); }).ErrSQLState(), "55006");
  c.Close();
  Exec("DROP SCHEMA arc00007 CASCADE");
  EXPECT_FALSE(std::filesystem::exists(db_ + ".arc00007"));
  EXPECT_EQ(Catch([&] { Exec("DROP SCHEMA arc00007"); }).ErrSQLState(), "3F000");
  Exec("DROP SCHEMA IF EXISTS arc00007");
}

TEST_F(SqliteLayer, SeveralStatementsInOneTextAllRun) {
  Exec("CREATE TABLE a (x INTEGER); CREATE TABLE b (y INTEGER); INSERT INTO b VALUES (4)");
  SACommand c(&con_, "INSERT INTO a VALUES (:1); SELECT y + :2 AS z FROM b");
  c << 1 << 10;
  c.Execute();
  ASSERT_TRUE(c.isResultSet());
  ASSERT_TRUE(c.FetchNext());
  EXPECT_EQ(c.Field("Z").asLong(), 14);
}

TEST_F(SqliteLayer, AFailedCommitEndsTheTransaction) {
  Exec("CREATE TABLE p (k INTEGER PRIMARY KEY)");
  Exec("CREATE TABLE c (k INTEGER REFERENCES p(k) DEFERRABLE INITIALLY DEFERRED)");
  Exec("PRAGMA foreign_keys = ON");
  con_.setAutoCommit(SA_AutoCommitOff);
  Exec("INSERT INTO c VALUES (9)");
  SAException e = Catch([&] { con_.Commit(); });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_FALSE(con_.isTransactionOpen());
  SACommand sel(&con_, "SELECT count(*) FROM c");
  sel.Execute();
  ASSERT_TRUE(sel.FetchNext());
  EXPECT_EQ(sel[1].asLong(), 0);
}

}  // namespace
