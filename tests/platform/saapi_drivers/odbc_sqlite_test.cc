// The ODBC driver on the SQLite ODBC driver: the "other ODBC server" kind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/saapi_drivers/odbc_checks.h"
#include "platform/saapi_drivers/server_env.h"

namespace {

using namespace vkt::testing;

class OdbcSqlite : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vkt-odbc-XXXXXX";
    dir_ = mkdtemp(tmpl);
    dsn_ = "Driver=SQLite3;Database=" + dir_ + "/x.db;";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_, dsn_;
};

TEST_F(OdbcSqlite, TypesTextAndNullsRoundTrip) {
  SAConnection con;
  con.Connect(dsn_.c_str(), "", "", SA_ODBC_Client);
  RoundTripTypes(&con, "CREATE TABLE types (i INTEGER, f DOUBLE, n NUMERIC(15,3), t VARCHAR(60), "
                       "ts TIMESTAMP, d DATE)");
}

TEST_F(OdbcSqlite, TransactionsAndErrorStates) {
  SAConnection con, other;
  con.Connect(dsn_.c_str(), "", "", SA_ODBC_Client);
  other.Connect(dsn_.c_str(), "", "", SA_ODBC_Client);
  CommitAndRollback(&con, &other);
  SAException e = Catch([&] { Exec(&con, "SELECT * FROM missing"); });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_EQ(e.ErrSQLState().GetLength(), 5u);
  EXPECT_NE(e.ErrText().Find("missing"), -1) << e.ErrText().str();
}

TEST(OdbcErrors, AnUnknownDriverIsAServerError) {
  SAConnection con;
  SAException e = Catch([&] { con.Connect("Driver=NoSuchDriver;Database=x", "", "", SA_ODBC_Client); });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_EQ(e.ErrSQLState(), "08001");
  EXPECT_NE(e.ErrText().Find("NoSuchDriver"), -1) << e.ErrText().str();
  EXPECT_FALSE(con.isConnected());
}

}  // namespace
