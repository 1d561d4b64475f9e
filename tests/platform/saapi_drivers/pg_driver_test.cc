// The libpq driver against the throwaway PostgreSQL server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "platform/saapi_drivers/server_env.h"
#include "saapi/saapi.h"

namespace {

using vkt::testing::PgEnv;
using vkt::testing::ServerEnv;

SAException Catch(const std::function<void()>& f) {
  try {
    f();
  } catch (const SAException& e) {
    return e;
  }
  ADD_FAILURE() << "no SAException thrown";
  return SAException(SA_No_Error, 0, 0, "");
}

std::string Dsn(const ServerEnv& e, const std::string& db) {
  return e.host + ":" + std::to_string(e.port) + "@" + db;
}

class PgDriver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ServerEnv e = PgEnv();
    if (!e.ok) return;
    db_ = "vkt_pgdrv_" + std::to_string(getpid());
    SAConnection admin;
    admin.Connect(Dsn(e, "postgres").c_str(), e.user.c_str(), e.password.c_str(),
                  SA_PostgreSQL_Client);
    SACommand c(&admin, ("DROP DATABASE IF EXISTS " + db_).c_str());
    c.Execute();
    c.setCommandText(("CREATE DATABASE " + db_ + " ENCODING 'UTF8' TEMPLATE template0").c_str());
    c.Execute();
  }
  static void TearDownTestSuite() {
    ServerEnv e = PgEnv();
    if (!e.ok) return;
    SAConnection admin;
    admin.Connect(Dsn(e, "postgres").c_str(), e.user.c_str(), e.password.c_str(),
                  SA_PostgreSQL_Client);
    SACommand c(&admin, ("DROP DATABASE IF EXISTS " + db_ + " WITH (FORCE)").c_str());
    c.Execute();
  }
  void SetUp() override {
    env_ = PgEnv();
    VKT_REQUIRE_PG(env_);
    Open(&con_);
  }
  void Open(SAConnection* c) {
    c->Connect(Dsn(env_, db_).c_str(), env_.user.c_str(), env_.password.c_str(),
               SA_PostgreSQL_Client);
  }
  void Exec(const std::string& sql) {
    SACommand c(&con_, sql.c_str());
    c.Execute();
  }
  std::string One(SAConnection* c, const std::string& sql) {
    SACommand q(c, sql.c_str());
    q.Execute();
    if (!q.FetchNext()) return "<none>";
    return q[1].asString().str();
  }

  static std::string db_;
  ServerEnv env_;
  SAConnection con_;
};

std::string PgDriver::db_;

TEST_F(PgDriver, ConnectsAndRefusesBadCredentialsAndDatabases) {
  EXPECT_TRUE(con_.isConnected());
  EXPECT_TRUE(con_.isAlive());
  EXPECT_EQ(con_.ServerVersionString().Left(2), "15");
  con_.Disconnect();
  EXPECT_FALSE(con_.isConnected());
  EXPECT_FALSE(con_.isAlive());

  SAConnection bad;
  SAException e = Catch([&] {
    bad.Connect(Dsn(env_, db_).c_str(), env_.user.c_str(), "wrong", SA_PostgreSQL_Client);
  });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_EQ(e.ErrNativeCode(), 1);
  EXPECT_NE(e.ErrText().Find("password authentication failed"), -1) << e.ErrText().str();
  EXPECT_FALSE(bad.isConnected());

  e = Catch([&] {
    bad.Connect(Dsn(env_, "nope_db").c_str(), env_.user.c_str(), env_.password.c_str(),
                SA_PostgreSQL_Client);
  });
  EXPECT_EQ(e.ErrNativeCode(), 1);
  // The server's own words, as the database-missing check compares them.
  EXPECT_EQ(e.ErrText(), "FATAL:  database \"nope_db\" does not exist\n");

  // The libpq connection-string form works too.
  SAConnection dsn;
  dsn.Connect(("host=" + env_.host + " port=" + std::to_string(env_.port) + " dbname=" + db_)
                  .c_str(),
              env_.user.c_str(), env_.password.c_str(), SA_PostgreSQL_Client);
  EXPECT_EQ(One(&dsn, "SELECT current_database()"), db_);
}

TEST_F(PgDriver, EveryTypeRoundTrips) {
  Exec("CREATE TABLE types (i2 smallint, i4 integer, i8 bigint, f8 double precision, "
       "n numeric(15,3), t text, vc varchar(20), d date, ts timestamp, tm time, b boolean, "
       "by bytea)");
  SACommand ins(&con_, "INSERT INTO types VALUES (:1,:2,:3,:4,:5,:6,:7,:8,:9,:10,:11,:12)");
  ins.Param(1).setAsShort(-32768);
  ins.Param(2).setAsLong(2147483647);
  ins.Param(3).setAsInt64(-9223372036854775807LL - 1);
  ins.Param(4).setAsDouble(-1.25e-300);
  ins.Param(5).setAsNumeric("-123456789012.345");
  ins.Param(6).setAsString("Citt\xE0 perch\xE9 \x80 \x93virgolette\x94");
  ins.Param(7).setAsString("O'Hara");
  ins.Param(8).setAsDateTime(SADateTime(2000, 1, 1, 0, 0, 0));
  SADateTime ts(2024, 2, 29, 23, 59, 58);
  ts.SetFraction(123456000);
  ins.Param(9).setAsDateTime(ts);
  ins.Param(10).setAsDateTime(SADateTime(1899, 12, 30, 10, 30, 15));
  ins.Param(11).setAsBool(true);
  ins.Param(12).setAsBytes(SAString("\0\x01\xFF'", 4));
  ins.Execute();
  EXPECT_EQ(ins.RowsAffected(), 1);
  for (int k = 1; k <= 12; ++k) ins.Param(k).setAsNull();
  ins.Execute();

  // The server holds the accents as real characters, not as bytes.
  EXPECT_EQ(One(&con_, "SELECT t = 'Citt\xE0 perch\xE9 \x80 \x93virgolette\x94' AND "
                       "convert_to(t, 'UTF8') = '\\x43697474c3a0207065726368c3a920e282ac20e2809c"
                       "766972676f6c65747465e2809d'::bytea FROM types WHERE t IS NOT NULL"),
            "1");

  SACommand sel(&con_, "SELECT * FROM types ORDER BY i2 NULLS LAST");
  sel.Execute();
  ASSERT_TRUE(sel.FetchNext());
  EXPECT_EQ(sel.Field("I2").asShort(), -32768);
  EXPECT_EQ(sel.Field("i4").asLong(), 2147483647);
  EXPECT_EQ(sel.Field("i8").asInt64(), -9223372036854775807LL - 1);
  EXPECT_EQ(sel.Field("f8").asDouble(), -1.25e-300);
  EXPECT_EQ(sel.Field("n").FieldType(), SA_dtNumeric);
  EXPECT_EQ(sel.Field("n").asString(), "-123456789012.345");
  EXPECT_EQ(sel.Field("n").FieldScale(), 3);
  EXPECT_EQ(sel.Field("t").asString(), "Citt\xE0 perch\xE9 \x80 \x93virgolette\x94");
  EXPECT_EQ(sel.Field("vc").asString(), "O'Hara");
  EXPECT_EQ(sel.Field("vc").FieldSize(), 20);
  EXPECT_DOUBLE_EQ(static_cast<double>(sel.Field("d").asDateTime()), 36526.0);
  EXPECT_EQ(sel.Field("ts").asDateTime(), ts);
  SADateTime tm = sel.Field("tm").asDateTime();
  EXPECT_EQ(tm.GetHour() * 3600 + tm.GetMinute() * 60 + tm.GetSecond(), 37815);
  EXPECT_TRUE(sel.Field("b").asBool());
  EXPECT_EQ(sel.Field("by").asBytes(), SAString("\0\x01\xFF'", 4));

  ASSERT_TRUE(sel.FetchNext());
  for (int k = 1; k <= sel.FieldCount(); ++k) EXPECT_TRUE(sel[k].isNull()) << k;
  EXPECT_EQ(sel.Field("i4").asLong(), 0);
  EXPECT_EQ(sel.Field("n").asDouble(), 0.0);
  EXPECT_EQ(sel.Field("t").asString(), "");
  EXPECT_EQ(sel.Field("d").asDateTime(), SADateTime());
  EXPECT_FALSE(sel.Field("b").asBool());
  EXPECT_FALSE(sel.FetchNext());

  // A NUL inside text would be cut by the protocol: refused instead.
  SACommand nul(&con_, "SELECT :1::text");
  nul.Param(1).setAsString(SAString("a\0b", 3));
  EXPECT_EQ(Catch([&] { nul.Execute(); }).ErrClass(), SA_Library_Error);
}

TEST_F(PgDriver, ServerErrorsCarrySqlStateAndPosition) {
  Exec("CREATE TABLE k (id integer PRIMARY KEY)");
  Exec("INSERT INTO k VALUES (1)");
  SAException e = Catch([&] { Exec("INSERT INTO k VALUES (1)"); });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_EQ(e.ErrText().Left(5), "23505");
  EXPECT_EQ(e.ErrSQLState(), "23505");
  e = Catch([&] { Exec("SELECT nosuch FROM k"); });
  EXPECT_EQ(e.ErrSQLState(), "42703");
  EXPECT_EQ(e.ErrPos(), 8);
  EXPECT_EQ(Catch([&] { Exec("SELECT * FROM missing_table"); }).ErrSQLState(), "42P01");
}

TEST_F(PgDriver, TransactionsBeginAtTheLevelSetAndAFailedOneCannotCommit) {
  Exec("CREATE TABLE tx (id integer PRIMARY KEY)");
  con_.setAutoCommit(SA_AutoCommitOff);
  con_.setIsolationLevel(SA_Serializable);
  EXPECT_EQ(One(&con_, "SHOW transaction_isolation"), "serializable");
  Exec("INSERT INTO tx VALUES (1)");
  SAConnection other;
  Open(&other);
  EXPECT_EQ(One(&other, "SELECT count(*) FROM tx"), "0");  // not yet committed
  con_.Commit();
  EXPECT_EQ(One(&other, "SELECT count(*) FROM tx"), "1");

  con_.setIsolationLevel(SA_ReadCommitted);
  Exec("INSERT INTO tx VALUES (2)");
  EXPECT_EQ(One(&con_, "SHOW transaction_isolation"), "read committed");
  con_.Rollback();
  EXPECT_EQ(One(&other, "SELECT count(*) FROM tx"), "1");

  // The server turns COMMIT of a failed transaction into a roll-back without
  // an error; the layer reports it.
  Exec("INSERT INTO tx VALUES (3)");
  EXPECT_THROW(Exec("INSERT INTO tx VALUES (1)"), SAException);
  SAException e = Catch([&] { con_.Commit(); });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_EQ(e.ErrSQLState(), "40000");
  EXPECT_EQ(One(&other, "SELECT count(*) FROM tx"), "1");
  EXPECT_FALSE(con_.isTransactionOpen());
  Exec("INSERT INTO tx VALUES (4)");  // a new transaction works
  con_.Commit();
  EXPECT_EQ(One(&other, "SELECT count(*) FROM tx"), "2");
}

TEST_F(PgDriver, AKilledBackendIsAClearErrorAndReconnects) {
  std::string pid = One(&con_, "SELECT pg_backend_pid()");
  SAConnection killer;
  Open(&killer);
  EXPECT_EQ(One(&killer, "SELECT pg_terminate_backend(" + pid + ")"), "1");
  for (int k = 0; k < 50 && One(&killer, "SELECT count(*) FROM pg_stat_activity WHERE pid = " + pid) != "0"; ++k)
    usleep(20000);
  SAException e = Catch([&] { Exec("SELECT 1"); });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_TRUE(e.ErrSQLState() == "57P01" || e.ErrSQLState() == "08006") << e.ErrText().str();
  EXPECT_FALSE(e.ErrText().IsEmpty());
  EXPECT_TRUE(con_.isConnected());
  EXPECT_FALSE(con_.isAlive());
  con_.Disconnect();
  Open(&con_);
  EXPECT_EQ(One(&con_, "SELECT 41 + 1"), "42");
}

TEST_F(PgDriver, PreparedParametersAreNeverPartOfTheText) {
  Exec("CREATE TABLE inj (s text)");
  SACommand ins(&con_, "INSERT INTO inj VALUES (:1)");
  ins << "'); DROP TABLE inj; --";
  ins.Execute();
  EXPECT_EQ(One(&con_, "SELECT s FROM inj"), "'); DROP TABLE inj; --");
  // Casts and dollar quotes are not parameters.
  EXPECT_EQ(One(&con_, "SELECT $$:1$$ || '::' || 5::text"), ":1::5");
}

}  // namespace
