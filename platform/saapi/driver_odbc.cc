// ODBC through unixODBC: the c-tree SQL, PostgreSQL and "other" servers.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "saapi/sadriver.h"
#include "win/cp1252.h"

namespace vkt::sa {
namespace {

// The diagnostics of a failed call, raised as one server error.
[[noreturn]] void RaiseDiag(SQLSMALLINT type, SQLHANDLE h, const std::string& sql,
                            const char* what, bool sqlite = false) {
  std::string state, message;
  SQLINTEGER native = -1;
  for (SQLSMALLINT rec = 1; rec <= 8; ++rec) {
    SQLCHAR st[6] = {0};
    SQLCHAR msg[1024] = {0};
    SQLINTEGER nat = 0;
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLGetDiagRec(type, h, rec, st, &nat, msg, sizeof msg, &len);
    if (!SQL_SUCCEEDED(rc)) break;
    std::string this_state = reinterpret_cast<char*>(st);
    // Warnings (class 01) come first at times; the error's state counts.
    if (state.empty() || (state.rfind("01", 0) == 0 && this_state.rfind("01", 0) != 0)) {
      state = this_state;
      native = nat;
    }
    if (rec > 1) message += "\n";
    message += reinterpret_cast<char*>(msg);
  }
  if (message.empty()) message = std::string(what) + " failed";
  // The call failed: a warning state alone does not describe it.
  if (state.empty() || state.rfind("01", 0) == 0)
    state = std::strcmp(what, "SQLConnect") == 0 ? "08001" : "HY000";
  if (sqlite && state == "HY000") state = SqliteSqlState(native, message);
  ThrowServerError(state, native, -1, message, sql);
}

SQLHENV Env() {
  static SQLHENV env = [] {
    SQLHENV e = SQL_NULL_HENV;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &e);
    SQLSetEnvAttr(e, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    return e;
  }();
  return env;
}

SADataType_t TypeOf(SQLSMALLINT t) {
  switch (t) {
    case SQL_BIT: return SA_dtBool;
    case SQL_TINYINT:
    case SQL_SMALLINT: return SA_dtShort;
    case SQL_INTEGER: return SA_dtLong;
    case SQL_BIGINT: return SA_dtInt64;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: return SA_dtDouble;
    case SQL_NUMERIC:
    case SQL_DECIMAL: return SA_dtNumeric;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP: return SA_dtDateTime;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return SA_dtBytes;
    default: return SA_dtString;
  }
}

struct Link {
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  bool utf8 = false;  // the driver speaks UTF-8, not the code page
};

class OdbcCursor : public Cursor {
 public:
  explicit OdbcCursor(Link* link) : link_(link) {}
  ~OdbcCursor() override {
    Close();
    if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  }

  void Execute(const std::string& sql_in, const std::vector<const Value*>& params) override {
    Close();
    if (!link_->connected) ThrowLibraryError("Connection is not connected");
    if (stmt_ == SQL_NULL_HSTMT &&
        !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, link_->dbc, &stmt_)))
      RaiseDiag(SQL_HANDLE_DBC, link_->dbc, sql_in, "SQLAllocHandle");
    std::string sql = link_->utf8 ? win::Cp1252ToUtf8(sql_in) : sql_in;
    SQLCHAR* text = reinterpret_cast<SQLCHAR*>(sql.data());
    SQLRETURN rc;
    if (params.empty()) {
      rc = SQLExecDirect(stmt_, text, static_cast<SQLINTEGER>(sql.size()));
    } else {
      rc = SQLPrepare(stmt_, text, static_cast<SQLINTEGER>(sql.size()));
      if (!SQL_SUCCEEDED(rc)) Fail(sql_in);
      Bind(params);
      rc = SQLExecute(stmt_);
    }
    if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) Fail(sql_in);
    SQLLEN count = -1;
    SQLRowCount(stmt_, &count);
    affected_ = count;
    SQLSMALLINT ncols = 0;
    SQLNumResultCols(stmt_, &ncols);
    columns_.resize(ncols);
    sqltypes_.resize(ncols);
    for (SQLSMALLINT k = 0; k < ncols; ++k) {
      SQLCHAR name[256] = {0};
      SQLSMALLINT name_len = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      SQLDescribeCol(stmt_, k + 1, name, sizeof name, &name_len, &type, &size, &digits, &nullable);
      std::string n(reinterpret_cast<char*>(name));
      if (link_->utf8) win::Utf8ToCp1252(n, &n);
      columns_[k].name = n;
      columns_[k].type = TypeOf(type);
      columns_[k].size = static_cast<int>(size);
      columns_[k].scale = digits;
      columns_[k].required = nullable == SQL_NO_NULLS;
      sqltypes_[k] = type;
    }
    open_ = true;
  }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  bool Fetch(std::vector<Value>* row) override {
    if (!open_ || columns_.empty()) return false;
    SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA) return false;
    if (!SQL_SUCCEEDED(rc)) Fail("");
    row->resize(columns_.size());
    for (size_t k = 0; k < columns_.size(); ++k) Read(static_cast<SQLUSMALLINT>(k + 1), &(*row)[k]);
    return true;
  }

  int64_t RowsAffected() const override { return affected_; }

  void Close() noexcept override {
    if (stmt_ != SQL_NULL_HSTMT && open_) {
      SQLFreeStmt(stmt_, SQL_CLOSE);
      SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
    }
    open_ = false;
    columns_.clear();
  }

 private:
  [[noreturn]] void Fail(const std::string& sql) {
    // Read the diagnostics before the statement is reset.
    try {
      RaiseDiag(SQL_HANDLE_STMT, stmt_, sql, "SQLExecute", link_->utf8);
    } catch (...) {
      SQLFreeStmt(stmt_, SQL_CLOSE);
      SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
      open_ = false;
      throw;
    }
  }

  void Bind(const std::vector<const Value*>& params) {
    size_t n = params.size();
    texts_.assign(n, std::string());
    ints_.assign(n, 0);
    dbls_.assign(n, 0);
    stamps_.assign(n, SQL_TIMESTAMP_STRUCT{});
    inds_.assign(n, 0);
    for (size_t k = 0; k < n; ++k) {
      const Value& v = *params[k];
      SQLUSMALLINT no = static_cast<SQLUSMALLINT>(k + 1);
      SQLRETURN rc;
      if (v.null) {
        inds_[k] = SQL_NULL_DATA;
        rc = SQLBindParameter(stmt_, no, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0, nullptr, 0,
                              &inds_[k]);
      } else {
        switch (v.type) {
          case SA_dtBool: case SA_dtShort: case SA_dtUShort: case SA_dtLong:
          case SA_dtULong: case SA_dtInt64: case SA_dtUInt64:
            ints_[k] = v.i;
            rc = SQLBindParameter(stmt_, no, SQL_PARAM_INPUT, SQL_C_SBIGINT,
                                  v.type == SA_dtInt64 || v.type == SA_dtUInt64 ? SQL_BIGINT : SQL_INTEGER,
                                  0, 0, &ints_[k], 0, nullptr);
            break;
          case SA_dtDouble:
            dbls_[k] = v.d;
            rc = SQLBindParameter(stmt_, no, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0,
                                  &dbls_[k], 0, nullptr);
            break;
          case SA_dtDateTime: {
            SQL_TIMESTAMP_STRUCT& t = stamps_[k];
            t.year = static_cast<SQLSMALLINT>(v.dt.GetYear());
            t.month = static_cast<SQLUSMALLINT>(v.dt.GetMonth());
            t.day = static_cast<SQLUSMALLINT>(v.dt.GetDay());
            t.hour = static_cast<SQLUSMALLINT>(v.dt.GetHour());
            t.minute = static_cast<SQLUSMALLINT>(v.dt.GetMinute());
            t.second = static_cast<SQLUSMALLINT>(v.dt.GetSecond());
            t.fraction = v.dt.Fraction() / 1000 * 1000;  // microseconds travel
            rc = SQLBindParameter(stmt_, no, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP,
                                  SQL_TYPE_TIMESTAMP, 26, 6, &t, 0, nullptr);
            break;
          }
          case SA_dtBytes: case SA_dtLongBinary: case SA_dtBLob:
            texts_[k] = v.s;
            inds_[k] = static_cast<SQLLEN>(texts_[k].size());
            rc = SQLBindParameter(stmt_, no, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                                  std::max<size_t>(texts_[k].size(), 1), 0, texts_[k].data(),
                                  inds_[k], &inds_[k]);
            break;
          default:
            texts_[k] = link_->utf8 ? win::Cp1252ToUtf8(v.s) : v.s;
            inds_[k] = static_cast<SQLLEN>(texts_[k].size());
            rc = SQLBindParameter(stmt_, no, SQL_PARAM_INPUT, SQL_C_CHAR,
                                  v.type == SA_dtNumeric ? SQL_NUMERIC : SQL_VARCHAR,
                                  std::max<size_t>(texts_[k].size(), 1),
                                  v.type == SA_dtNumeric ? Scale(v.s) : 0, texts_[k].data(),
                                  inds_[k], &inds_[k]);
            break;
        }
      }
      if (!SQL_SUCCEEDED(rc)) Fail("");
    }
  }

  static SQLSMALLINT Scale(const std::string& digits) {
    size_t dot = digits.find('.');
    return dot == std::string::npos ? 0 : static_cast<SQLSMALLINT>(digits.size() - dot - 1);
  }

  void Read(SQLUSMALLINT col, Value* v) {
    *v = Value();
    v->type = columns_[col - 1].type;
    SQLLEN ind = 0;
    SQLRETURN rc = SQL_SUCCESS;
    switch (v->type) {
      case SA_dtBool: case SA_dtShort: case SA_dtLong: case SA_dtInt64: {
        SQLBIGINT i = 0;
        rc = SQLGetData(stmt_, col, SQL_C_SBIGINT, &i, 0, &ind);
        v->i = i;
        break;
      }
      case SA_dtDouble:
        rc = SQLGetData(stmt_, col, SQL_C_DOUBLE, &v->d, 0, &ind);
        break;
      case SA_dtDateTime: {
        if (sqltypes_[col - 1] == SQL_TYPE_TIME || sqltypes_[col - 1] == SQL_TIME) {
          SQL_TIME_STRUCT t{};
          rc = SQLGetData(stmt_, col, SQL_C_TYPE_TIME, &t, 0, &ind);
          v->dt = SADateTime(1899, 12, 30, t.hour, t.minute, t.second);
        } else {
          SQL_TIMESTAMP_STRUCT t{};
          rc = SQLGetData(stmt_, col, SQL_C_TYPE_TIMESTAMP, &t, 0, &ind);
          v->dt = SADateTime(t.year, t.month, t.day, t.hour, t.minute, t.second);
          v->dt.SetFraction(t.fraction);
        }
        break;
      }
      default: {
        bool binary = v->type == SA_dtBytes;
        rc = ReadLong(col, binary ? SQL_C_BINARY : SQL_C_CHAR, &v->s, &ind);
        if (!binary && link_->utf8) win::Utf8ToCp1252(v->s, &v->s);
        if (v->type == SA_dtNumeric) v->d = std::strtod(v->s.c_str(), nullptr);
        break;
      }
    }
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) Fail("");
    v->null = ind == SQL_NULL_DATA;
    if (v->null) {
      v->i = 0;
      v->d = 0;
      v->s.clear();
      v->dt = SADateTime();
    }
  }

  // Text or bytes of any length, in pieces.
  SQLRETURN ReadLong(SQLUSMALLINT col, SQLSMALLINT ctype, std::string* out, SQLLEN* ind) {
    out->clear();
    char buf[4096];
    const SQLLEN terminator = ctype == SQL_C_CHAR ? 1 : 0;
    for (;;) {
      SQLLEN got = 0;
      SQLRETURN rc = SQLGetData(stmt_, col, ctype, buf, sizeof buf, &got);
      if (rc == SQL_NO_DATA) return SQL_SUCCESS;
      if (!SQL_SUCCEEDED(rc)) return rc;
      if (got == SQL_NULL_DATA) {
        *ind = SQL_NULL_DATA;
        return SQL_SUCCESS;
      }
      *ind = 0;
      size_t avail = sizeof buf - static_cast<size_t>(terminator);
      size_t piece = got == SQL_NO_TOTAL || got > static_cast<SQLLEN>(avail)
                         ? avail
                         : static_cast<size_t>(got);
      out->append(buf, piece);
      if (rc == SQL_SUCCESS) return SQL_SUCCESS;
    }
  }

  Link* link_;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  bool open_ = false;
  int64_t affected_ = -1;
  std::vector<ColumnInfo> columns_;
  std::vector<SQLSMALLINT> sqltypes_;
  std::vector<std::string> texts_;
  std::vector<SQLBIGINT> ints_;
  std::vector<double> dbls_;
  std::vector<SQL_TIMESTAMP_STRUCT> stamps_;
  std::vector<SQLLEN> inds_;
};

class OdbcConnection : public Connection {
 public:
  ~OdbcConnection() override { Destroy(); }

  void Connect(const std::string& database, const std::string& user,
               const std::string& password) override {
    SQLHENV env = Env();
    if (env == SQL_NULL_HENV) ThrowLibraryError("ODBC environment not available");
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &link_.dbc)))
      ThrowLibraryError("ODBC connection handle not available");
    SQLRETURN rc;
    if (database.find('=') != std::string::npos) {
      std::string cs = database;
      if (!cs.empty() && cs.back() != ';') cs += ';';
      if (!user.empty()) cs += "UID=" + Braced(user) + ";";
      if (!password.empty()) cs += "PWD=" + Braced(password) + ";";
      SQLCHAR out[1024];
      SQLSMALLINT out_len = 0;
      rc = SQLDriverConnect(link_.dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()),
                            static_cast<SQLSMALLINT>(cs.size()), out, sizeof out, &out_len,
                            SQL_DRIVER_NOPROMPT);
    } else {
      rc = SQLConnect(link_.dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(database.c_str())),
                      SQL_NTS, reinterpret_cast<SQLCHAR*>(const_cast<char*>(user.c_str())), SQL_NTS,
                      reinterpret_cast<SQLCHAR*>(const_cast<char*>(password.c_str())), SQL_NTS);
    }
    if (!SQL_SUCCEEDED(rc)) {
      try {
        RaiseDiag(SQL_HANDLE_DBC, link_.dbc, "", "SQLConnect");
      } catch (...) {
        SQLFreeHandle(SQL_HANDLE_DBC, link_.dbc);
        link_.dbc = SQL_NULL_HDBC;
        throw;
      }
    }
    link_.connected = true;
    SQLCHAR name[128] = {0};
    SQLSMALLINT len = 0;
    SQLGetInfo(link_.dbc, SQL_DRIVER_NAME, name, sizeof name, &len);
    std::string driver(reinterpret_cast<char*>(name));
    for (char& c : driver) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // SQLite's driver keeps UTF-8 behind its narrow calls.
    link_.utf8 = driver.find("sqlite") != std::string::npos;
    if (driver.find("psqlodbc") != std::string::npos) {
      // PostgreSQL converts to and from the library's code page.
      OdbcCursor c(&link_);
      c.Execute("SET client_encoding TO 'WIN1252'", {});
    }
  }

  void Disconnect() override {
    if (link_.dbc == SQL_NULL_HDBC) return;
    if (link_.connected && !SQL_SUCCEEDED(SQLDisconnect(link_.dbc)))
      RaiseDiag(SQL_HANDLE_DBC, link_.dbc, "", "SQLDisconnect");
    link_.connected = false;
    SQLFreeHandle(SQL_HANDLE_DBC, link_.dbc);
    link_.dbc = SQL_NULL_HDBC;
  }

  void Destroy() noexcept override {
    if (link_.dbc == SQL_NULL_HDBC) return;
    if (link_.connected) SQLDisconnect(link_.dbc);
    link_.connected = false;
    SQLFreeHandle(SQL_HANDLE_DBC, link_.dbc);
    link_.dbc = SQL_NULL_HDBC;
  }

  bool IsAlive() noexcept override {
    if (!link_.connected) return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    SQLRETURN rc = SQLGetConnectAttr(link_.dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
    return !SQL_SUCCEEDED(rc) || dead != SQL_CD_TRUE;
  }

  void Begin(SAIsolationLevel_t level) override {
    SQLULEN iso = 0;
    switch (level) {
      case SA_ReadUncommitted: iso = SQL_TXN_READ_UNCOMMITTED; break;
      case SA_ReadCommitted: iso = SQL_TXN_READ_COMMITTED; break;
      case SA_RepeatableRead: iso = SQL_TXN_REPEATABLE_READ; break;
      case SA_Serializable: iso = SQL_TXN_SERIALIZABLE; break;
      default: break;
    }
    // A driver without isolation levels still runs the transaction.
    if (iso != 0)
      SQLSetConnectAttr(link_.dbc, SQL_ATTR_TXN_ISOLATION, reinterpret_cast<SQLPOINTER>(iso), 0);
    if (!SQL_SUCCEEDED(SQLSetConnectAttr(link_.dbc, SQL_ATTR_AUTOCOMMIT,
                                         reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)))
      RaiseDiag(SQL_HANDLE_DBC, link_.dbc, "BEGIN", "SQLSetConnectAttr");
  }

  void Commit() override { End(SQL_COMMIT, "COMMIT"); }
  void Rollback() override { End(SQL_ROLLBACK, "ROLLBACK"); }

  std::unique_ptr<Cursor> NewCursor() override { return std::make_unique<OdbcCursor>(&link_); }

  std::string ServerVersion() const override {
    SQLCHAR v[128] = {0};
    SQLSMALLINT len = 0;
    if (link_.dbc == SQL_NULL_HDBC) return "";
    SQLGetInfo(link_.dbc, SQL_DBMS_VER, v, sizeof v, &len);
    return reinterpret_cast<char*>(v);
  }

 private:
  static std::string Braced(const std::string& s) {
    if (s.find_first_of(";{}= ") == std::string::npos) return s;
    std::string r = "{";
    for (char c : s) {
      r += c;
      if (c == '}') r += '}';
    }
    return r + "}";
  }

  void End(SQLSMALLINT how, const char* what) {
    if (!link_.connected) ThrowLibraryError("Connection is not connected");
    SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, link_.dbc, how);
    if (!SQL_SUCCEEDED(rc)) {
      try {
        RaiseDiag(SQL_HANDLE_DBC, link_.dbc, what, "SQLEndTran");
      } catch (const SAException&) {
        // Back to auto-commit first: a failed end still ends the transaction.
        SQLEndTran(SQL_HANDLE_DBC, link_.dbc, SQL_ROLLBACK);
        SQLSetConnectAttr(link_.dbc, SQL_ATTR_AUTOCOMMIT,
                          reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
        throw;
      }
    }
    SQLSetConnectAttr(link_.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                      0);
  }

  Link link_;
};

class OdbcDriverImpl : public Driver {
 public:
  std::unique_ptr<Connection> NewConnection() override {
    return std::make_unique<OdbcConnection>();
  }
};

}  // namespace

Driver* OdbcDriver() {
  static OdbcDriverImpl driver;
  return &driver;
}

}  // namespace vkt::sa
