// The MariaDB client library against the throwaway MariaDB server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "platform/saapi_drivers/odbc_checks.h"
#include "platform/saapi_drivers/server_env.h"
#include "saapi/saapi.h"

namespace {

using namespace vkt::testing;

class MyDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = MyEnv();
    VKT_REQUIRE_MY(env_);
    db_ = "vkt_my_" + std::to_string(getpid());
    SAConnection admin;
    admin.Connect(Dsn("").c_str(), env_.user.c_str(), env_.password.c_str(), SA_MySQL_Client);
    Exec(&admin, "DROP DATABASE IF EXISTS " + db_);
    Exec(&admin, "CREATE DATABASE " + db_ + " CHARACTER SET utf8mb4");
    Open(&con_);
  }
  void TearDown() override {
    if (db_.empty() || !env_.ok) return;
    con_.Destroy();
    SAConnection admin;
    admin.Connect(Dsn("").c_str(), env_.user.c_str(), env_.password.c_str(), SA_MySQL_Client);
    Exec(&admin, "DROP DATABASE IF EXISTS " + db_);
  }
  std::string Dsn(const std::string& db) const {
    return env_.host + ":" + std::to_string(env_.port) + "@" + db;
  }
  void Open(SAConnection* c) {
    c->Connect(Dsn(db_).c_str(), env_.user.c_str(), env_.password.c_str(), SA_MySQL_Client);
  }
  ServerEnv env_;
  std::string db_;
  SAConnection con_;
};

TEST_F(MyDriver, ConnectsByPortAndSocketAndRefusesBadLogins) {
  EXPECT_TRUE(con_.isAlive());
  EXPECT_NE(con_.ServerVersionString().Find("MariaDB"), -1);
  SAConnection sock;
  sock.Connect((env_.socket + "@" + db_).c_str(), env_.user.c_str(), env_.password.c_str(),
               SA_MySQL_Client);
  EXPECT_EQ(One(&sock, "SELECT DATABASE()"), db_);
  SAConnection bad;
  SAException e = Catch([&] {
    bad.Connect(Dsn(db_).c_str(), env_.user.c_str(), "wrong", SA_MySQL_Client);
  });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_EQ(e.ErrNativeCode(), 1045);
  e = Catch([&] {
    bad.Connect(Dsn("nope_db").c_str(), env_.user.c_str(), env_.password.c_str(), SA_MySQL_Client);
  });
  EXPECT_EQ(e.ErrNativeCode(), 1049);
  EXPECT_FALSE(bad.isConnected());
}

TEST_F(MyDriver, TypesWindows1252TextAndNullsRoundTrip) {
  RoundTripTypes(&con_, "CREATE TABLE types (i INT, f DOUBLE, n DECIMAL(15,3), t VARCHAR(60), "
                        "ts DATETIME, d DATE) ENGINE=InnoDB");
  EXPECT_EQ(One(&con_, "SELECT HEX(CONVERT(SUBSTR(t, 1, 5) USING utf8mb4)) FROM types "
                       "WHERE t IS NOT NULL"),
            "43697474C3A0");
  // Quotes, backslashes and NULs in a bound value stay data.
  Exec(&con_, "CREATE TABLE s (v VARBINARY(40))");
  SACommand ins(&con_, "INSERT INTO s VALUES (:1)");
  ins.Param(1).setAsString(SAString("a'\\\0\"; DROP TABLE s; --", 23));
  ins.Execute();
  EXPECT_EQ(ins.RowsAffected(), 1);
  SACommand sel(&con_, "SELECT v FROM s");
  sel.Execute();
  ASSERT_TRUE(sel.FetchNext());
  EXPECT_EQ(sel[1].asBytes(), SAString("a'\\\0\"; DROP TABLE s; --", 23));
}

TEST_F(MyDriver, ErrorsTransactionsAndLockTimeouts) {
  SAConnection other;
  Open(&other);
  CommitAndRollback(&con_, &other);
  SAException e = Catch([&] { Exec(&con_, "INSERT INTO tx VALUES (2)"); });
  EXPECT_EQ(e.ErrNativeCode(), 1062);
  EXPECT_EQ(Catch([&] { Exec(&con_, "SELECT * FROM missing"); }).ErrNativeCode(), 1146);

  con_.setAutoCommit(SA_AutoCommitOff);
  con_.setIsolationLevel(SA_Serializable);
  Exec(&con_, "UPDATE tx SET k = 3 WHERE k = 2");
  Exec(&other, "set innodb_lock_wait_timeout = 1;");
  e = Catch([&] { Exec(&other, "UPDATE tx SET k = 4 WHERE k = 2"); });
  EXPECT_EQ(e.ErrNativeCode(), 1205);
  con_.Commit();
  EXPECT_EQ(One(&other, "SELECT max(k) FROM tx"), "3");
}

TEST_F(MyDriver, AKilledConnectionIsAClearErrorAndReconnects) {
  std::string id = One(&con_, "SELECT CONNECTION_ID()");
  SAConnection killer;
  Open(&killer);
  Exec(&killer, "KILL " + id);
  SAException e = Catch([&] { Exec(&con_, "SELECT 1"); });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_TRUE(e.ErrNativeCode() == 2006 || e.ErrNativeCode() == 2013 || e.ErrNativeCode() == 1927)
      << e.ErrNativeCode() << " " << e.ErrText().str();
  EXPECT_FALSE(con_.isAlive());
  con_.Disconnect();
  Open(&con_);
  EXPECT_EQ(One(&con_, "SELECT 40 + 2"), "42");
}

}  // namespace
