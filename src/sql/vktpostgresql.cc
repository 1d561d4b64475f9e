#include "sql/vktpostgresql.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "frame/vktapp.h"
#include "saapi/sadriver.h"
#include "sql/sqlexception.h"
#include "system/registry.h"
#include "win/services.h"
#include "win/winconst.h"

namespace vkt::sql {

bool IsPlainIdentifier(const char* text) {
  if (text == nullptr || *text == '\0') return false;
  for (const char* p = text; *p != '\0'; ++p) {
    char c = *p;
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  }
  return true;
}

std::string QuoteLiteral(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += "'";
  return out;
}

}  // namespace vkt::sql

namespace {

constexpr int kMissingProducer = 20437;

// The year of the parameter block, else the calendar's.
int32_t CurrentYear() {
  if (vktpar != nullptr && vktpar->year != nullptr) return *vktpar->year;
  std::tm tm{};
  vkt::services().LocalTime(vkt::services().NowMicros() / 1000000, &tm);
  return tm.tm_year + 1900;
}

// A connection that still answers is kept; a dead one is closed for the
// reconnect. True when there is nothing left to do.
bool KeepOrClose(SAConnection* conn) {
  if (conn->isConnected() && conn->isAlive()) return true;
  if (conn->isConnected()) {
    try {
      conn->Disconnect();
    } catch (...) {
      conn->Destroy();
    }
  }
  return false;
}

std::string AppNameStatement() {
  const char* app = vktpar != nullptr ? vktpar->app_name : "";
  return "SET application_name = " + vkt::sql::QuoteLiteral(app);
}

void Finish(SAConnection* conn, SACommand* cmd, const std::string& statement) {
  conn->setIsolationLevel(SA_ReadCommitted);
  conn->setAutoCommit(SA_AutoCommitOn);
  if (cmd == nullptr) return;
  cmd->setOption("PreFetchRows") = "250";
  cmd->setConnection(conn);
  if (!statement.empty()) {
    cmd->setCommandText(SAString(statement), SA_CmdUnknown);
    cmd->Execute();
  }
}

[[noreturn]] void NoParameterBlock(const char* function) {
  ThrowUserException("Parametri applicazione non inizializzati", vkt::sql::kSourceFile, __LINE__,
                     function, nullptr);
}

}  // namespace

CVKTPostgreSQL::CVKTPostgreSQL() : dbType(0), index(0) {}
CVKTPostgreSQL::CVKTPostgreSQL(int kind) : dbType(kind), index(0) {}
CVKTPostgreSQL::CVKTPostgreSQL(const CVKTPostgreSQL& o) = default;
CVKTPostgreSQL& CVKTPostgreSQL::operator=(const CVKTPostgreSQL& o) = default;
CVKTPostgreSQL::~CVKTPostgreSQL() = default;

void CVKTPostgreSQL::WriteFunc(SACommand*, int, void*, void*, bool) {}
void CVKTPostgreSQL::ReadFields(SACommand*, void*, bool, bool) {}
void CVKTPostgreSQL::StoreFields(SACommand*, int, void*) {}

void CVKTPostgreSQL::OpenConnection(SAConnection* conn, SACommand* cmd, bool flag,
                                    int32_t year) {
  static const char* const kFunction = "CVKTPostgreSQL::OpenConnection";
  if (conn == nullptr) vkt::sa::ThrowLibraryError("OpenConnection without a connection");
  if (KeepOrClose(conn)) return;
  conn->setOption("SQL_ATTR_CONNECTION_POOLING") = "SQL_CP_ONE_PER_DRIVER";
  int32_t effective = year != 0 ? year : CurrentYear();
  if (vktpar == nullptr) NoParameterBlock(kFunction);
  const auto& p = vktpar->pg_param;
  // The host may leave a producer out: a clear error instead of a jump to 0.
  if (p.database == nullptr || p.user == nullptr || p.password == nullptr || p.client == nullptr)
    ThrowUserException(kMissingProducer, vkt::sql::kSourceFile, __LINE__, kFunction, nullptr);
  SAString database = p.database(effective, dbType, flag);
  SAString user = p.user(dbType);
  SAString password = p.password(dbType);
  eSAClient client = p.client();
  conn->Connect(database, user, password, client);
  std::string statement = dbType == 1 || dbType == 2 ? AppNameStatement() : "";
  Finish(conn, cmd, statement);
}

void CVKTPostgreSQL::OpenRemoteConnection(SAConnection* conn, SACommand* cmd, bool flag,
                                          int32_t year) {
  static const char* const kFunction = "CVKTPostgreSQL::OpenRemoteConnection";
  if (conn == nullptr) vkt::sa::ThrowLibraryError("OpenRemoteConnection without a connection");
  if (KeepOrClose(conn)) return;
  if (vktpar == nullptr) NoParameterBlock(kFunction);
  const auto& p = vktpar->pg_remote_param;
  if (p.kind == nullptr)
    ThrowUserException(kMissingProducer, vkt::sql::kSourceFile, __LINE__, kFunction, nullptr);
  if (p.database == nullptr)
    ThrowUserException(kMissingProducer, vkt::sql::kSourceFile, __LINE__, kFunction, nullptr);
  if (p.user == nullptr)
    ThrowUserException(kMissingProducer, vkt::sql::kSourceFile, __LINE__, kFunction, nullptr);
  if (p.password == nullptr)
    ThrowUserException(kMissingProducer, vkt::sql::kSourceFile, __LINE__, kFunction, nullptr);
  int kind = p.kind();
  conn->setOption("SQL_ATTR_CONNECTION_POOLING") = "SQL_CP_ONE_PER_DRIVER";
  int32_t effective = year != 0 ? year : CurrentYear();
  SAString database = p.database(effective, kind, flag);
  SAString user = p.user(kind);
  SAString password = p.password(kind);
  eSAClient client = kind == 2 ? SA_PostgreSQL_Client : SA_ODBC_Client;
  conn->Connect(database, user, password, client);
  std::string statement = kind == 1 || kind == 2 ? AppNameStatement() : "";
  Finish(conn, cmd, statement);
}

SAString CVKTPostgreSQL::GetTableSchema() { return GetDefaultSchema(); }

SAString CVKTPostgreSQL::GetDefaultSchema() {
  if ((dbType == 3 || dbType == 4) && vktpar != nullptr) return SAString(vktpar->archive);
  return SAString();
}

int SetOdbcSql(int force, const char* user, const char* password) {
  if (vktpar == nullptr) return 0;
  const VKTAPPPARAM& par = *vktpar;
  CString key;
  key.Format("Software\\ODBC\\ODBC.INI\\%-s SQL", par.app_name);
  CRegistry reg;
  int present = reg.KeyExists(key) ? 1 : 0;
  std::string setting = vkt::services().GetProfileString("Settings", "SQLServer", "");
  if (!setting.empty() && std::atoi(setting.c_str()) == 0) present = 0;
  // A host without a day-number selector counts as the Julian one (0).
  if (vkt::DateBase() == 0) present = 0;
  if (present != 1 && force != 1) return present;
  if (!reg.SetKey(key, false)) {
    vkt::Report("Drive ODBC non installato correttamente.", "SQL Error",
                MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  char database[64];
  std::snprintf(database, sizeof database, "%-s%05ld%04ld", par.archive,
                static_cast<long>(par.company != nullptr ? *par.company : 0),
                static_cast<long>(par.year != nullptr ? *par.year : 0));
  const char* host = par.host[0] != '\0' ? par.host : "localhost";
  // One change: a failure leaves the old data source whole.
  bool ok = reg.WriteStrings({{"Host", host},
                              {"Database", database},
                              {"Password", password != nullptr ? password : par.password},
                              {"User ID", user != nullptr ? user : par.user},
                              {"Service", par.server}});
  if (!ok) {
    vkt::Report("Errore aggiornamento file Registro.", "SQL Error", MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  return 1;
}
