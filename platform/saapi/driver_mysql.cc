// The MySQL family through the MariaDB client library.
//
// Parameters are sent as literals escaped by the client library for the
// connection's character set (mysql_real_escape_string), never as the
// caller's raw text: the statement and its values still travel apart in the
// layer above, and no value can end its literal.
#include <mysql.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "saapi/sadriver.h"

namespace vkt::sa {
namespace {

// Marks a parameter in the text; no SQL text holds this byte.
constexpr char kMark = '\x01';

[[noreturn]] void Raise(MYSQL* m, const std::string& sql) {
  unsigned code = mysql_errno(m);
  const char* state = mysql_sqlstate(m);
  ThrowServerError(state != nullptr ? state : "HY000", static_cast<int>(code), -1, mysql_error(m),
                   sql);
}

SADataType_t TypeOf(const MYSQL_FIELD& f) {
  switch (f.type) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_YEAR: return SA_dtShort;
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_INT24: return SA_dtLong;
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_BIT: return SA_dtInt64;
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE: return SA_dtDouble;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL: return SA_dtNumeric;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP: return SA_dtDateTime;
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_VARCHAR:
      return f.charsetnr == 63 ? SA_dtBytes : SA_dtString;  // 63: binary
    default: return SA_dtString;
  }
}

class MyCursor : public Cursor {
 public:
  explicit MyCursor(MYSQL** m) : m_(m) {}
  ~MyCursor() override { Close(); }

  void Execute(const std::string& sql, const std::vector<const Value*>& params) override {
    Close();
    MYSQL* m = *m_;
    if (m == nullptr) ThrowLibraryError("Connection is not connected");
    std::string text = params.empty() && sql.find(kMark) == std::string::npos
                           ? sql
                           : Substitute(m, sql, params);
    if (mysql_real_query(m, text.data(), text.size()) != 0) Raise(m, sql);
    // Several statements: keep the last result, run through the rest.
    for (;;) {
      MYSQL_RES* r = mysql_store_result(m);
      if (r == nullptr && mysql_field_count(m) != 0) Raise(m, sql);
      affected_ = r == nullptr ? static_cast<int64_t>(mysql_affected_rows(m)) : -1;
      int more = mysql_next_result(m);
      if (more > 0) {
        if (r != nullptr) mysql_free_result(r);
        Raise(m, sql);
      }
      if (more == -1) {
        res_ = r;
        break;
      }
      if (r != nullptr) mysql_free_result(r);
    }
    columns_.clear();
    if (res_ != nullptr) {
      unsigned n = mysql_num_fields(res_);
      MYSQL_FIELD* f = mysql_fetch_fields(res_);
      columns_.resize(n);
      for (unsigned k = 0; k < n; ++k) {
        columns_[k].name = f[k].name;
        columns_[k].type = TypeOf(f[k]);
        columns_[k].size = static_cast<int>(f[k].length);
        columns_[k].scale = static_cast<int>(f[k].decimals);
        columns_[k].required = (f[k].flags & NOT_NULL_FLAG) != 0;
      }
    }
  }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  bool Fetch(std::vector<Value>* row) override {
    if (res_ == nullptr) return false;
    MYSQL_ROW r = mysql_fetch_row(res_);
    if (r == nullptr) return false;
    unsigned long* len = mysql_fetch_lengths(res_);
    row->resize(columns_.size());
    for (size_t k = 0; k < columns_.size(); ++k) {
      Value& v = (*row)[k];
      v = Value();
      v.type = columns_[k].type;
      if (r[k] == nullptr) continue;
      v.null = false;
      std::string t(r[k], len[k]);
      switch (v.type) {
        case SA_dtShort: case SA_dtLong: case SA_dtInt64:
          std::from_chars(t.data(), t.data() + t.size(), v.i);
          break;
        case SA_dtDouble: v.d = std::strtod(t.c_str(), nullptr); break;
        case SA_dtNumeric:
          v.s = t;
          v.d = std::strtod(t.c_str(), nullptr);
          break;
        case SA_dtDateTime:
          // "0000-00-00" is the server's no-date: the empty date-time.
          if (!ParseDateTimeText(t, &v.dt)) {
            v.type = SA_dtString;
            v.s = t;
          }
          break;
        default: v.s = std::move(t); break;
      }
    }
    return true;
  }

  int64_t RowsAffected() const override { return affected_; }

  void Close() noexcept override {
    if (res_ != nullptr) mysql_free_result(res_);
    res_ = nullptr;
    columns_.clear();
  }

 private:
  static std::string Literal(MYSQL* m, const Value& v) {
    if (v.null) return "NULL";
    switch (v.type) {
      case SA_dtBool: return v.i ? "1" : "0";
      case SA_dtShort: case SA_dtUShort: case SA_dtLong: case SA_dtULong:
      case SA_dtInt64: case SA_dtUInt64: return std::to_string(v.i);
      case SA_dtDouble: {
        if (!std::isfinite(v.d)) ThrowLibraryError("The server has no literal for this number");
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, v.d);
        return std::string(buf, r.ptr);
      }
      case SA_dtNumeric: {
        // Digits already checked as a number; written bare, as MySQL wants.
        for (char c : v.s)
          if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
                c == 'e' || c == 'E'))
            ThrowLibraryError("'" + v.s + "' is not a number");
        return v.s;
      }
      case SA_dtDateTime: return "'" + DateTimeText(v.dt) + "'";
      case SA_dtBytes: case SA_dtLongBinary: case SA_dtBLob: {
        static const char* hex = "0123456789ABCDEF";
        std::string r = "X'";
        for (unsigned char c : v.s) {
          r += hex[c >> 4];
          r += hex[c & 15];
        }
        return r + "'";
      }
      default: {
        std::string r(v.s.size() * 2 + 3, '\0');
        r[0] = '\'';
        unsigned long n = mysql_real_escape_string(m, &r[1], v.s.data(), v.s.size());
        r.resize(n + 1);
        return r + "'";
      }
    }
  }

  static std::string Substitute(MYSQL* m, const std::string& sql,
                                const std::vector<const Value*>& params) {
    std::string out;
    size_t used = 0;
    for (char c : sql) {
      if (c != kMark) {
        out += c;
        continue;
      }
      if (used >= params.size()) ThrowLibraryError("Statement text holds a control byte");
      out += Literal(m, *params[used++]);
    }
    if (used != params.size()) ThrowLibraryError("Statement text holds a control byte");
    return out;
  }

  MYSQL** m_;
  MYSQL_RES* res_ = nullptr;
  std::vector<ColumnInfo> columns_;
  int64_t affected_ = -1;
};

class MyConnection : public Connection {
 public:
  ~MyConnection() override { Destroy(); }

  void Connect(const std::string& database, const std::string& user,
               const std::string& password) override {
    HostDb hd = SplitHostDb(database);
    MYSQL* m = mysql_init(nullptr);
    if (m == nullptr) ThrowLibraryError("Out of memory connecting to MySQL");
    // latin1 is MySQL's name for Windows-1252.
    mysql_options(m, MYSQL_SET_CHARSET_NAME, "latin1");
    unsigned timeout = 10;
    mysql_options(m, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    my_bool reconnect = 0;
    mysql_options(m, MYSQL_OPT_RECONNECT, &reconnect);
    std::string host = hd.host, socket;
    if (!host.empty() && host[0] == '/') {
      socket = host;
      host = "localhost";
    }
    if (mysql_real_connect(m, host.empty() ? nullptr : host.c_str(),
                           user.empty() ? nullptr : user.c_str(),
                           password.empty() ? nullptr : password.c_str(),
                           hd.database.empty() ? nullptr : hd.database.c_str(),
                           static_cast<unsigned>(hd.port), socket.empty() ? nullptr : socket.c_str(),
                           CLIENT_MULTI_STATEMENTS | CLIENT_FOUND_ROWS) == nullptr) {
      std::string state = mysql_sqlstate(m);
      int code = static_cast<int>(mysql_errno(m));
      std::string message = mysql_error(m);
      mysql_close(m);
      ThrowServerError(state, code, -1, message);
    }
    m_ = m;
  }

  void Disconnect() override { Destroy(); }

  void Destroy() noexcept override {
    if (m_ != nullptr) mysql_close(m_);
    m_ = nullptr;
  }

  bool IsAlive() noexcept override { return m_ != nullptr && mysql_ping(m_) == 0; }

  void Begin(SAIsolationLevel_t level) override {
    const char* iso = nullptr;
    switch (level) {
      case SA_ReadUncommitted: iso = "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"; break;
      case SA_ReadCommitted: iso = "SET TRANSACTION ISOLATION LEVEL READ COMMITTED"; break;
      case SA_RepeatableRead: iso = "SET TRANSACTION ISOLATION LEVEL REPEATABLE READ"; break;
      case SA_Serializable: iso = "SET TRANSACTION ISOLATION LEVEL SERIALIZABLE"; break;
      default: break;
    }
    if (iso != nullptr) Simple(iso);
    Simple("START TRANSACTION");
  }

  void Commit() override { Simple("COMMIT"); }
  void Rollback() override { Simple("ROLLBACK"); }

  std::unique_ptr<Cursor> NewCursor() override { return std::make_unique<MyCursor>(&m_); }

  std::string Placeholder(int) const override { return std::string(1, kMark); }

  std::string ServerVersion() const override {
    return m_ != nullptr ? mysql_get_server_info(m_) : "";
  }

 private:
  void Simple(const char* sql) {
    if (m_ == nullptr) ThrowLibraryError("Connection is not connected");
    if (mysql_query(m_, sql) != 0) Raise(m_, sql);
  }
  MYSQL* m_ = nullptr;
};

class MyDriver : public Driver {
 public:
  std::unique_ptr<Connection> NewConnection() override { return std::make_unique<MyConnection>(); }
};

}  // namespace

Driver* MysqlDriver() {
  static MyDriver driver;
  return &driver;
}

}  // namespace vkt::sa
