// CVKTPostgreSQL on real servers: PostgreSQL for kinds 1 and 2 (and remote
// kind 1 through the PostgreSQL ODBC driver), MariaDB for kinds 3 and 4,
// the SQLite ODBC driver for kind 5.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "frame/vktapp.h"
#include "platform/saapi_drivers/odbc_checks.h"
#include "platform/saapi_drivers/server_env.h"
#include "sql/vktpostgresql.h"
#include "win/services.h"

namespace {

using namespace vkt::testing;

// What the host's producers hand out, set per test.
std::string g_database;
std::string g_user, g_password;
eSAClient g_client = SA_PostgreSQL_Client;
int g_remote_kind = 1;
int32_t g_year_seen = 0;

SAString Database(int32_t year, int, bool) {
  g_year_seen = year;
  return SAString(g_database);
}
SAString User(int) { return SAString(g_user); }
SAString Password(int) { return SAString(g_password); }
eSAClient Client() { return g_client; }
int RemoteKind() { return g_remote_kind; }

class RealServers : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&par_, 0, sizeof par_);
    std::strcpy(par_.app_name, "MIRTO d'Oro");
    std::strcpy(par_.archive, "arc");
    par_.company = &company_;
    par_.year = &year_;
    par_.pg_param = {Database, User, Password, Client};
    par_.pg_remote_param = {Database, User, Password, RemoteKind};
    VKTDlgInitialize(&par_);
  }
  void TearDown() override { vkt::LibraryLoad(); }

  // A fresh PostgreSQL database named after the test process.
  void PgDatabase(const ServerEnv& env) {
    std::string admin = env.host + ":" + std::to_string(env.port) + "@postgres";
    db_ = "vkt_sqlsrv_" + std::to_string(getpid());
    SAConnection a;
    a.Connect(admin.c_str(), env.user.c_str(), env.password.c_str(), SA_PostgreSQL_Client);
    Exec(&a, "DROP DATABASE IF EXISTS " + db_);
    Exec(&a, "CREATE DATABASE " + db_);
    g_database = env.host + ":" + std::to_string(env.port) + "@" + db_;
    g_user = env.user;
    g_password = env.password;
  }
  void DropPgDatabase(const ServerEnv& env) {
    SAConnection a;
    a.Connect((env.host + ":" + std::to_string(env.port) + "@postgres").c_str(), env.user.c_str(),
              env.password.c_str(), SA_PostgreSQL_Client);
    Exec(&a, "DROP DATABASE IF EXISTS " + db_ + " WITH (FORCE)");
  }

  VKTAPPPARAM par_;
  int32_t company_ = 1;
  int32_t year_ = 2024;
  std::string db_;
};

TEST_F(RealServers, PostgresKindsNameTheSessionAndSurviveAKilledBackend) {
  ServerEnv env = PgEnv();
  VKT_REQUIRE_PG(env);
  PgDatabase(env);
  for (int kind : {1, 2}) {
    SCOPED_TRACE(kind);
    CVKTPostgreSQL pg(kind);
    SAConnection con;
    SACommand cmd;
    pg.OpenConnection(&con, &cmd, false, 0);
    EXPECT_EQ(g_year_seen, 2024);
    EXPECT_EQ(One(&con, "SELECT application_name FROM pg_stat_activity WHERE pid = pg_backend_pid()"),
              "MIRTO d'Oro");
    EXPECT_EQ(One(&con, "SHOW transaction_isolation"), "read committed");
    cmd.setCommandText("SELECT 7");
    cmd.Execute();  // bound by OpenConnection

    std::string pid = One(&con, "SELECT pg_backend_pid()");
    SAConnection killer;
    killer.Connect(g_database.c_str(), g_user.c_str(), g_password.c_str(), SA_PostgreSQL_Client);
    Exec(&killer, "SELECT pg_terminate_backend(" + pid + ")");
    for (int k = 0; k < 50 && One(&killer, "SELECT count(*) FROM pg_stat_activity WHERE pid = " + pid) != "0"; ++k)
      usleep(20000);
    // The dead link is noticed and replaced.
    pg.OpenConnection(&con, &cmd, false, 0);
    EXPECT_NE(One(&con, "SELECT pg_backend_pid()"), pid);
    cmd.setCommandText("SELECT 8");
    cmd.Execute();
    ASSERT_TRUE(cmd.FetchNext());
    EXPECT_EQ(cmd[1].asLong(), 8);
  }
  // Remote kind 1 goes through the PostgreSQL ODBC driver.
  g_remote_kind = 1;
  std::string native = g_database;
  g_database = "Driver=PostgreSQL ANSI;Server=" + env.host + ";Port=" + std::to_string(env.port) +
               ";Database=" + db_;
  CVKTPostgreSQL pg(2);
  SAConnection remote;
  SACommand rcmd;
  pg.OpenRemoteConnection(&remote, &rcmd, false, 0);
  EXPECT_EQ(remote.Client(), SA_ODBC_Client);
  EXPECT_EQ(One(&remote, "SELECT application_name FROM pg_stat_activity WHERE pid = pg_backend_pid()"),
            "MIRTO d'Oro");
  g_database = native;
  remote.Disconnect();
  DropPgDatabase(env);
}

TEST_F(RealServers, MysqlKindsConnectWithoutASessionName) {
  ServerEnv env = MyEnv();
  VKT_REQUIRE_MY(env);
  std::string db = "vkt_sqlsrv_" + std::to_string(getpid());
  g_user = env.user;
  g_password = env.password;
  g_client = SA_MySQL_Client;
  g_database = env.host + ":" + std::to_string(env.port) + "@";
  {
    SAConnection a;
    a.Connect(g_database.c_str(), g_user.c_str(), g_password.c_str(), SA_MySQL_Client);
    Exec(&a, "DROP DATABASE IF EXISTS " + db);
    Exec(&a, "CREATE DATABASE " + db);
  }
  g_database += db;
  for (int kind : {3, 4}) {
    SCOPED_TRACE(kind);
    CVKTPostgreSQL pg(kind);
    SAConnection con;
    SACommand cmd;
    pg.OpenConnection(&con, &cmd, false, 2023);
    EXPECT_EQ(g_year_seen, 2023);
    EXPECT_EQ(One(&con, "SELECT DATABASE()"), db);
    EXPECT_EQ(pg.GetTableSchema(), "arc");
    // No session-name statement was sent (MariaDB would refuse it), and the
    // command is bound.
    cmd.setCommandText(pg.QueryAdapt("SELECT 1", 1, 0, 0));
    cmd.Execute();
    ASSERT_TRUE(cmd.FetchNext());
  }
  SAConnection a;
  a.Connect(g_database.c_str(), g_user.c_str(), g_password.c_str(), SA_MySQL_Client);
  Exec(&a, "DROP DATABASE IF EXISTS " + db);
  g_client = SA_PostgreSQL_Client;
}

TEST_F(RealServers, OtherOdbcServerKindConnectsThroughItsDriver) {
  char tmpl[] = "/tmp/vkt-kind5-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  g_database = "Driver=SQLite3;Database=" + dir + "/k5.db";
  g_user.clear();
  g_password.clear();
  g_client = SA_ODBC_Client;
  CVKTPostgreSQL pg(5);
  SAConnection con;
  SACommand cmd;
  pg.OpenConnection(&con, &cmd, false, 0);
  EXPECT_EQ(One(&con, "SELECT 6 * 7"), "42");
  std::strcpy(par_.app_name, "MIRTO");
  EXPECT_EQ(pg.QueryAdapt("SELECT * FROM admin.t", 5, 0, 0), "SELECT * FROM arc00001.t LIMIT 5");
  con.Disconnect();
  std::filesystem::remove_all(dir);
  g_client = SA_PostgreSQL_Client;
}

}  // namespace
