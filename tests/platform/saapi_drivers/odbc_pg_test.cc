// The ODBC driver on the PostgreSQL ODBC driver and the throwaway server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/saapi_drivers/odbc_checks.h"
#include "platform/saapi_drivers/server_env.h"

namespace {

using namespace vkt::testing;

class OdbcPostgres : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = PgEnv();
    VKT_REQUIRE_PG(env_);
    dsn_ = "Driver=PostgreSQL ANSI;Server=" + env_.host + ";Port=" + std::to_string(env_.port) +
           ";Database=";
    SAConnection admin;
    admin.Connect((dsn_ + "postgres").c_str(), env_.user.c_str(), env_.password.c_str(),
                  SA_ODBC_Client);
    db_ = "vkt_odbc_" + std::to_string(getpid());
    Exec(&admin, "DROP DATABASE IF EXISTS " + db_);
    Exec(&admin, "CREATE DATABASE " + db_ + " ENCODING 'UTF8' TEMPLATE template0");
    dsn_ += db_;
  }
  void TearDown() override {
    if (db_.empty()) return;
    SAConnection admin;
    admin.Connect(("Driver=PostgreSQL ANSI;Server=" + env_.host + ";Port=" +
                   std::to_string(env_.port) + ";Database=postgres")
                      .c_str(),
                  env_.user.c_str(), env_.password.c_str(), SA_ODBC_Client);
    Exec(&admin, "DROP DATABASE IF EXISTS " + db_ + " WITH (FORCE)");
  }
  void Open(SAConnection* c) {
    c->Connect(dsn_.c_str(), env_.user.c_str(), env_.password.c_str(), SA_ODBC_Client);
  }
  ServerEnv env_;
  std::string dsn_, db_;
};

TEST_F(OdbcPostgres, TypesAndWindows1252TextRoundTrip) {
  SAConnection con;
  Open(&con);
  RoundTripTypes(&con, "CREATE TABLE types (i integer, f double precision, n numeric(15,3), "
                       "t varchar(60), ts timestamp, d date)");
  // Stored as real characters on the server.
  EXPECT_EQ(One(&con, "SELECT encode(convert_to(substr(t, 1, 5), 'UTF8'), 'hex') FROM types "
                      "WHERE t IS NOT NULL"),
            "43697474c3a0");
}

TEST_F(OdbcPostgres, TransactionsWrongPasswordAndKilledBackends) {
  SAConnection con, other;
  Open(&con);
  Open(&other);
  CommitAndRollback(&con, &other);

  SAConnection bad;
  SAException e = Catch([&] {
    bad.Connect(dsn_.c_str(), env_.user.c_str(), "wrong", SA_ODBC_Client);
  });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_EQ(e.ErrSQLState(), "08001");
  EXPECT_NE(e.ErrText().Find("password authentication failed"), -1) << e.ErrText().str();

  std::string pid = One(&con, "SELECT pg_backend_pid()");
  Exec(&other, "SELECT pg_terminate_backend(" + pid + ")");
  for (int k = 0; k < 50 && One(&other, "SELECT count(*) FROM pg_stat_activity WHERE pid = " + pid) != "0"; ++k)
    usleep(20000);
  e = Catch([&] { Exec(&con, "SELECT 1"); });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_FALSE(e.ErrText().IsEmpty());
  EXPECT_FALSE(con.isAlive());
  try {
    con.Disconnect();
  } catch (const SAException&) {
    con.Destroy();
  }
  Open(&con);
  EXPECT_EQ(One(&con, "SELECT 40 + 2"), "42");
}

}  // namespace
