// CVKTPostgreSQL's connection procedures on the scripted server (every
// kind, kind 0 included, whose server does not run here) and the ODBC data
// source it writes into the registry store.
#include "sql/vktpostgresql.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "frame/vktapp.h"
#include "saapi/sascript.h"
#include "system/registry.h"
#include "win/services.h"
#include "win/winconst.h"

namespace {

using vkt::sa::ScopedDriver;
using vkt::sa::ScriptedServer;

struct Seen {
  int32_t year = -1;
  int kind = -1;
  bool flag = false;
};
Seen g_seen;
eSAClient g_client = SA_ODBC_Client;
int g_remote_kind = 1;

SAString Database(int32_t year, int kind, bool flag) {
  g_seen = Seen{year, kind, flag};
  SAString s;
  s.Format("db_%d_%d", static_cast<int>(year), kind);
  return s;
}
SAString User(int kind) { return SAString(kind == 9 ? "never" : "vkt"); }
SAString Password(int) { return SAString("pw"); }
eSAClient Client() { return g_client; }
int RemoteKind() { return g_remote_kind; }

SAException Catch(const std::function<void()>& f) {
  try {
    f();
  } catch (const SAException& e) {
    return e;
  }
  ADD_FAILURE() << "no SAException thrown";
  return SAException(SA_No_Error, 0, 0, "");
}

class Connections : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&par_, 0, sizeof par_);
    std::strcpy(par_.app_name, "MIRTO d'Oro");
    std::strcpy(par_.archive, "arc");
    par_.company = &company_;
    par_.year = &year_;
    par_.date_base = &date_base_;
    par_.pg_param = {Database, User, Password, Client};
    par_.pg_remote_param = {Database, User, Password, RemoteKind};
    VKTDlgInitialize(&par_);
    g_client = SA_ODBC_Client;
    g_remote_kind = 1;
    fake_.SetStringResource(20437, "Parametri mancanti");
  }
  void TearDown() override { vkt::LibraryLoad(); }

  VKTAPPPARAM par_;
  int32_t company_ = 1;
  int32_t year_ = 2024;
  int date_base_ = 1;
  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
  ScriptedServer server_;
  ScopedDriver odbc_{SA_ODBC_Client, &server_};
  ScopedDriver pg_{SA_PostgreSQL_Client, &server_};
};

TEST_F(Connections, OpenConnectionConnectsSetsTheSessionAndBindsTheCommand) {
  for (int kind = 0; kind <= 5; ++kind) {
    SCOPED_TRACE(kind);
    server_.ClearLog();
    CVKTPostgreSQL pg(kind);
    SAConnection con;
    SACommand cmd;
    pg.OpenConnection(&con, &cmd, true, 2023);
    std::vector<std::string> want = {"OPTION sql_attr_connection_pooling=SQL_CP_ONE_PER_DRIVER",
                                     "CONNECT db_2023_" + std::to_string(kind) + "|vkt|pw"};
    // The name is quoted: the quote inside it cannot end the literal.
    if (kind == 1 || kind == 2) want.push_back("EXEC SET application_name = 'MIRTO d''Oro'");
    EXPECT_EQ(server_.log(), want);
    EXPECT_TRUE(g_seen.flag);
    EXPECT_EQ(cmd.Connection(), &con);
    EXPECT_EQ(cmd.Option("PreFetchRows"), "250");
    EXPECT_EQ(con.IsolationLevel(), SA_ReadCommitted);
    EXPECT_EQ(con.AutoCommit(), SA_AutoCommitOn);
  }
}

TEST_F(Connections, YearZeroIsTheCurrentYearAndALiveConnectionIsKept) {
  CVKTPostgreSQL pg(2);
  SAConnection con;
  SACommand cmd;
  pg.OpenConnection(&con, &cmd, false, 0);
  EXPECT_EQ(g_seen.year, 2024);
  EXPECT_EQ(g_seen.kind, 2);
  SAConnection con2;
  pg.OpenConnection(&con2, nullptr, false, 2024);
  EXPECT_EQ(g_seen.year, 2024);

  // Alive: nothing is touched, not even the command's binding.
  SACommand other;
  server_.ClearLog();
  pg.OpenConnection(&con, &other, false, 0);
  EXPECT_EQ(server_.log(), std::vector<std::string>{"ALIVE"});
  EXPECT_EQ(other.Connection(), nullptr);

  // Dead: closed and opened again.
  server_.DropLinks();
  server_.ClearLog();
  pg.OpenConnection(&con, &other, false, 0);
  ASSERT_GE(server_.log().size(), 3u);
  EXPECT_EQ(server_.log()[1], "DISCONNECT");
  EXPECT_EQ(other.Connection(), &con);
  EXPECT_TRUE(con.isAlive());

  // A disconnect that throws falls back to freeing the handles.
  server_.DropLinks();
  server_.FailDisconnect(1);
  server_.ClearLog();
  pg.OpenConnection(&con, &other, false, 0);
  EXPECT_EQ(server_.log()[1], "DISCONNECT");
  EXPECT_EQ(server_.log()[2], "DESTROY");
  EXPECT_TRUE(con.isAlive());
}

TEST_F(Connections, ConnectFailuresPassUnchanged) {
  server_.FailConnect(ScriptedServer::Error("28P01", 1, "password authentication failed"));
  CVKTPostgreSQL pg(1);
  SAConnection con;
  SACommand cmd;
  SAException e = Catch([&] { pg.OpenConnection(&con, &cmd, false, 0); });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_EQ(e.ErrText(), "28P01 password authentication failed");
  EXPECT_FALSE(con.isConnected());
  // The application-name statement failing is reported too.
  server_.On("application_name", ScriptedServer::Error("42601", 7, "syntax error"), 1);
  e = Catch([&] { pg.OpenConnection(&con, &cmd, false, 0); });
  EXPECT_EQ(e.ErrSQLState(), "42601");
}

TEST_F(Connections, MissingProducersAreTheUserException20437) {
  CVKTPostgreSQL pg(1);
  SAConnection con;
  SACommand cmd;
  par_.pg_param.password = nullptr;
  SAException e = Catch([&] { pg.OpenConnection(&con, &cmd, false, 0); });
  EXPECT_EQ(e.ErrClass(), SA_UserGenerated_Error);
  EXPECT_EQ(e.ErrNativeCode(), 20437);
  EXPECT_EQ(e.ErrText().Left(18), "Parametri mancanti");
  EXPECT_NE(e.ErrText().Find("Func\t: CVKTPostgreSQL::OpenConnection"), -1);
  EXPECT_EQ(server_.connects(), 0);

  par_.pg_remote_param.kind = nullptr;
  par_.pg_remote_param.user = nullptr;
  e = Catch([&] { pg.OpenRemoteConnection(&con, &cmd, false, 0); });
  EXPECT_EQ(e.ErrNativeCode(), 20437);
  EXPECT_NE(e.ErrText().Find("Func\t: CVKTPostgreSQL::OpenRemoteConnection"), -1);
  // Checked in the order kind, database, user, password: the kind's line.
  int kind_line = std::atoi(e.ErrText().Mid(e.ErrText().Find("Line\t: ") + 7));
  par_.pg_remote_param.kind = RemoteKind;
  e = Catch([&] { pg.OpenRemoteConnection(&con, &cmd, false, 0); });
  int user_line = std::atoi(e.ErrText().Mid(e.ErrText().Find("Line\t: ") + 7));
  EXPECT_LT(kind_line, user_line);
  EXPECT_EQ(server_.connects(), 0);
}

TEST_F(Connections, RemoteKindChoosesTheClient) {
  // Whatever the working client is, remote kind 2 is PostgreSQL and every
  // other kind ODBC.
  g_client = SA_MySQL_Client;
  for (int kind = 0; kind <= 5; ++kind) {
    SCOPED_TRACE(kind);
    g_remote_kind = kind;
    CVKTPostgreSQL pg(3);
    SAConnection con;
    SACommand cmd;
    server_.ClearLog();
    pg.OpenRemoteConnection(&con, &cmd, false, 2022);
    EXPECT_EQ(con.Client(), kind == 2 ? SA_PostgreSQL_Client : SA_ODBC_Client);
    EXPECT_EQ(g_seen.kind, kind);
    EXPECT_EQ(g_seen.year, 2022);
    bool app_name = server_.log().back().find("application_name") != std::string::npos;
    EXPECT_EQ(app_name, kind == 1 || kind == 2);
  }
}

TEST_F(Connections, SchemaIsTheArchiveForTheMysqlKinds) {
  for (int kind = 0; kind <= 5; ++kind) {
    CVKTPostgreSQL pg(kind);
    EXPECT_EQ(pg.GetTableSchema(), kind == 3 || kind == 4 ? "arc" : "") << kind;
    EXPECT_EQ(pg.GetDefaultSchema(), pg.GetTableSchema());
  }
  CVKTPostgreSQL a(4);
  a.SetIndex(9);
  CVKTPostgreSQL b(a);
  EXPECT_EQ(b.GetDbType(), 4);
  EXPECT_EQ(b.GetIndex(), 9);
  CVKTPostgreSQL c;
  EXPECT_EQ(c.GetDbType(), 0);
  c = a;
  EXPECT_EQ(c.GetIndex(), 9);
}

class OdbcSource : public Connections {
 protected:
  void SetUp() override {
    Connections::SetUp();
    char tmpl[] = "/tmp/vkt-odbc-XXXXXX";
    dir_ = mkdtemp(tmpl);
    vkt::win::SetRegistryFolder(dir_);
    std::strcpy(par_.app_name, "MIRTO");
    std::strcpy(par_.user, "mario");
    std::strcpy(par_.password, "segreta");
    std::strcpy(par_.server, "FAIRCOMS");
  }
  void TearDown() override {
    vkt::win::SetRegistryFolder("");
    vkt::win::RegFailCommitsForTest(0);
    std::filesystem::remove_all(dir_);
    Connections::TearDown();
  }
  CString Value(const char* name) {
    CRegistry reg;
    reg.SetKey("Software\\ODBC\\ODBC.INI\\MIRTO SQL", false);
    return reg.ReadString(name, "<none>");
  }
  std::string dir_;
  const CString key_ = "Software\\ODBC\\ODBC.INI\\MIRTO SQL";
};

TEST_F(OdbcSource, WrittenOnlyWhenPresentOrForced) {
  EXPECT_EQ(SetOdbcSql(0, nullptr, nullptr), 0);
  EXPECT_TRUE(fake_.transcript().empty());
  EXPECT_EQ(SetOdbcSql(1, nullptr, nullptr), 0);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Drive ODBC non installato correttamente.");
  EXPECT_EQ(fake_.transcript()[0].caption, "SQL Error");
  EXPECT_EQ(fake_.transcript()[0].type & MB_ICONMASK, MB_ICONEXCLAMATION);

  CRegistry reg;
  ASSERT_TRUE(reg.CreateKey(key_));
  EXPECT_EQ(SetOdbcSql(0, nullptr, nullptr), 1);
  EXPECT_EQ(Value("Host"), "localhost");
  EXPECT_EQ(Value("Database"), "arc000012024");
  EXPECT_EQ(Value("Password"), "segreta");
  EXPECT_EQ(Value("User ID"), "mario");
  EXPECT_EQ(Value("Service"), "FAIRCOMS");
  std::strcpy(par_.host, "db.local");
  EXPECT_EQ(SetOdbcSql(0, "anna", "pw2"), 1);
  EXPECT_EQ(Value("Host"), "db.local");
  EXPECT_EQ(Value("User ID"), "anna");
  EXPECT_EQ(Value("Password"), "pw2");

  // The Julian selector, a missing selector, or SQLServer=0 mean "absent".
  date_base_ = 0;
  EXPECT_EQ(SetOdbcSql(0, nullptr, nullptr), 0);
  par_.date_base = nullptr;
  EXPECT_EQ(SetOdbcSql(0, nullptr, nullptr), 0);
  EXPECT_EQ(SetOdbcSql(1, nullptr, nullptr), 1);
  par_.date_base = &date_base_;
  date_base_ = 1;
  fake_.WriteProfileString("Settings", "SQLServer", "0");
  EXPECT_EQ(SetOdbcSql(0, nullptr, nullptr), 0);
  fake_.WriteProfileString("Settings", "SQLServer", "1");
  EXPECT_EQ(SetOdbcSql(0, nullptr, nullptr), 1);
}

TEST_F(OdbcSource, AFailedUpdateLeavesTheOldSourceWhole) {
  CRegistry reg;
  ASSERT_TRUE(reg.CreateKey(key_));
  ASSERT_EQ(SetOdbcSql(0, nullptr, nullptr), 1);
  year_ = 2025;
  std::strcpy(par_.host, "altro");
  vkt::win::RegFailCommitsForTest(1);
  fake_.ClearTranscript();
  EXPECT_EQ(SetOdbcSql(0, "nuovo", nullptr), 0);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Errore aggiornamento file Registro.");
  EXPECT_EQ(Value("Host"), "localhost");
  EXPECT_EQ(Value("Database"), "arc000012024");
  EXPECT_EQ(Value("User ID"), "mario");
}

}  // namespace
