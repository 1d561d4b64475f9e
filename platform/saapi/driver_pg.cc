// PostgreSQL through libpq.
#include <libpq-fe.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "saapi/sadriver.h"

namespace vkt::sa {
namespace {

constexpr int kNativeStatement = PGRES_FATAL_ERROR;  // 7
constexpr int kNativeLink = CONNECTION_BAD;          // 1

// Type OIDs of the catalogue (pg_type.h), fixed since PostgreSQL 7.
enum : Oid {
  kBool = 16, kBytea = 17, kChar = 18, kName = 19, kInt8 = 20, kInt2 = 21,
  kInt4 = 23, kText = 25, kOid = 26, kFloat4 = 700, kFloat8 = 701,
  kBpchar = 1042, kVarchar = 1043, kDate = 1082, kTime = 1083,
  kTimestamp = 1114, kTimestamptz = 1184, kNumeric = 1700,
};

SADataType_t TypeOf(Oid oid) {
  switch (oid) {
    case kBool: return SA_dtBool;
    case kInt2: return SA_dtShort;
    case kInt4: return SA_dtLong;
    case kOid: return SA_dtULong;
    case kInt8: return SA_dtInt64;
    case kFloat4:
    case kFloat8: return SA_dtDouble;
    case kNumeric: return SA_dtNumeric;
    case kDate:
    case kTime:
    case kTimestamp:
    case kTimestamptz: return SA_dtDateTime;
    case kBytea: return SA_dtBytes;
    default: return SA_dtString;
  }
}

// libpq writes "connection to server at ..., port N failed: " before what
// the server said; callers classify by the server's own words.
std::string ServerWords(const char* message) {
  std::string m = message != nullptr ? message : "";
  static const char* const kLead[] = {"connection to server at ", "connection to server on socket "};
  for (const char* lead : kLead) {
    if (m.rfind(lead, 0) == 0) {
      size_t f = m.find(" failed: ");
      if (f != std::string::npos) return m.substr(f + 9);
    }
  }
  return m;
}

void IgnoreNotice(void*, const char*) {}

class PgCursor : public Cursor {
 public:
  explicit PgCursor(PGconn** conn) : conn_(conn) {}
  ~PgCursor() override { Close(); }

  void Execute(const std::string& sql, const std::vector<const Value*>& params) override {
    Close();
    PGconn* c = *conn_;
    if (c == nullptr) ThrowLibraryError("Connection is not connected");
    if (params.empty()) {
      // Plain text may hold several statements ("SET a; SET b").
      res_ = PQexec(c, sql.c_str());
    } else {
      size_t n = params.size();
      texts_.resize(n);
      values_.resize(n);
      lengths_.resize(n);
      formats_.resize(n);
      types_.resize(n);
      for (size_t k = 0; k < n; ++k) Bind(*params[k], k);
      res_ = PQexecParams(c, sql.c_str(), static_cast<int>(n), types_.data(),
                          values_.data(), lengths_.data(), formats_.data(), 0);
    }
    Check(sql);
    row_ = -1;
    columns_.clear();
    if (PQresultStatus(res_) == PGRES_TUPLES_OK) {
      int nf = PQnfields(res_);
      columns_.resize(nf);
      oids_.resize(nf);
      for (int k = 0; k < nf; ++k) {
        columns_[k].name = PQfname(res_, k);
        oids_[k] = PQftype(res_, k);
        columns_[k].type = TypeOf(oids_[k]);
        int mod = PQfmod(res_, k);
        if (oids_[k] == kNumeric && mod >= 4) {
          columns_[k].size = ((mod - 4) >> 16) & 0xFFFF;
          columns_[k].scale = (mod - 4) & 0xFFFF;
        } else if ((oids_[k] == kVarchar || oids_[k] == kBpchar) && mod >= 4) {
          columns_[k].size = mod - 4;
        } else {
          columns_[k].size = PQfsize(res_, k);
        }
      }
    }
  }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  bool Fetch(std::vector<Value>* row) override {
    if (res_ == nullptr || columns_.empty()) return false;
    if (row_ + 1 >= PQntuples(res_)) return false;
    ++row_;
    row->resize(columns_.size());
    for (size_t k = 0; k < columns_.size(); ++k) Read(static_cast<int>(k), &(*row)[k]);
    return true;
  }

  int64_t RowsAffected() const override {
    if (res_ == nullptr) return -1;
    const char* t = PQcmdTuples(res_);
    if (t == nullptr || *t == '\0') return -1;
    return std::atoll(t);
  }

  std::string CommandTag() const { return res_ != nullptr ? PQcmdStatus(res_) : ""; }

  void Close() noexcept override {
    if (res_ != nullptr) PQclear(res_);
    res_ = nullptr;
    columns_.clear();
  }

 private:
  void Bind(const Value& v, size_t k) {
    types_[k] = 0;  // the server infers the type from the statement
    formats_[k] = 0;
    lengths_[k] = 0;
    if (v.null) {
      values_[k] = nullptr;
      return;
    }
    std::string& t = texts_[k];
    switch (v.type) {
      case SA_dtBool: t = v.i ? "true" : "false"; break;
      case SA_dtShort: case SA_dtUShort: case SA_dtLong: case SA_dtULong:
      case SA_dtInt64: case SA_dtUInt64: t = std::to_string(v.i); break;
      case SA_dtDouble: {
        if (std::isnan(v.d)) t = "NaN";
        else if (std::isinf(v.d)) t = v.d > 0 ? "Infinity" : "-Infinity";
        else {
          char buf[64];
          auto r = std::to_chars(buf, buf + sizeof buf, v.d);
          t.assign(buf, r.ptr);
        }
        break;
      }
      case SA_dtDateTime: t = DateTimeText(v.dt); break;
      case SA_dtBytes: case SA_dtLongBinary: case SA_dtBLob:
        t = v.s;
        types_[k] = kBytea;
        formats_[k] = 1;
        lengths_[k] = static_cast<int>(t.size());
        break;
      default:
        // Text parameters end at a NUL: refuse rather than cut the value.
        if (v.s.find('\0') != std::string::npos)
          ThrowLibraryError("Text parameter holds a NUL byte");
        t = v.s;
        break;
    }
    values_[k] = t.c_str();
  }

  void Check(const std::string& sql) {
    PGconn* c = *conn_;
    ExecStatusType st = res_ != nullptr ? PQresultStatus(res_) : PGRES_FATAL_ERROR;
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK || st == PGRES_EMPTY_QUERY) return;
    std::string sqlstate, message;
    int pos = -1;
    if (res_ != nullptr) {
      const char* s = PQresultErrorField(res_, PG_DIAG_SQLSTATE);
      if (s != nullptr) sqlstate = s;
      const char* p = PQresultErrorField(res_, PG_DIAG_STATEMENT_POSITION);
      if (p != nullptr) pos = std::atoi(p);
      message = PQresultErrorMessage(res_);
    }
    bool lost = PQstatus(c) == CONNECTION_BAD;
    if (st == PGRES_COPY_IN || st == PGRES_COPY_OUT || st == PGRES_COPY_BOTH) {
      Close();
      ThrowLibraryError("COPY is not supported through a command");
    }
    Close();
    if (lost) {
      std::string m = PQerrorMessage(c);
      if (message.empty() || message.find(m) == std::string::npos) message += m;
      if (sqlstate.empty()) sqlstate = "08006";
      ThrowServerError(sqlstate, kNativeLink, -1, message, sql);
    }
    if (message.empty()) message = PQerrorMessage(c);
    if (sqlstate.empty()) sqlstate = "XX000";
    ThrowServerError(sqlstate, kNativeStatement, pos, message, sql);
  }

  void Read(int k, Value* v) {
    *v = Value();
    v->type = columns_[k].type;
    if (PQgetisnull(res_, row_, k)) return;
    v->null = false;
    const char* t = PQgetvalue(res_, row_, k);
    int len = PQgetlength(res_, row_, k);
    switch (v->type) {
      case SA_dtBool: v->i = t[0] == 't' ? 1 : 0; break;
      case SA_dtShort: case SA_dtLong: case SA_dtULong: case SA_dtInt64:
        std::from_chars(t, t + len, v->i);
        break;
      case SA_dtDouble: v->d = std::strtod(t, nullptr); break;
      case SA_dtNumeric:
        v->s.assign(t, len);
        v->d = std::strtod(t, nullptr);
        break;
      case SA_dtDateTime:
        if (!ParseDateTimeText(std::string(t, len), &v->dt)) {
          // "infinity" and the like stay text; asDateTime refuses them.
          v->type = SA_dtString;
          v->s.assign(t, len);
        }
        break;
      case SA_dtBytes: {
        size_t n = 0;
        unsigned char* b = PQunescapeBytea(reinterpret_cast<const unsigned char*>(t), &n);
        if (b == nullptr) ThrowLibraryError("Cannot decode binary column");
        v->s.assign(reinterpret_cast<char*>(b), n);
        PQfreemem(b);
        break;
      }
      default: v->s.assign(t, len); break;
    }
  }

  PGconn** conn_;
  PGresult* res_ = nullptr;
  int row_ = -1;
  std::vector<ColumnInfo> columns_;
  std::vector<Oid> oids_;
  std::vector<std::string> texts_;
  std::vector<const char*> values_;
  std::vector<int> lengths_, formats_;
  std::vector<Oid> types_;
};

class PgConnection : public Connection {
 public:
  ~PgConnection() override { Destroy(); }

  void Connect(const std::string& database, const std::string& user,
               const std::string& password) override {
    std::vector<const char*> keys, values;
    HostDb hd;
    std::string port;
    bool conninfo = database.find('=') != std::string::npos;
    if (conninfo) {
      keys.push_back("dbname");
      values.push_back(database.c_str());
    } else {
      hd = SplitHostDb(database);
      if (!hd.host.empty()) {
        keys.push_back("host");
        values.push_back(hd.host.c_str());
      }
      if (hd.port != 0) {
        port = std::to_string(hd.port);
        keys.push_back("port");
        values.push_back(port.c_str());
      }
      if (!hd.database.empty()) {
        keys.push_back("dbname");
        values.push_back(hd.database.c_str());
      }
    }
    if (!user.empty()) {
      keys.push_back("user");
      values.push_back(user.c_str());
    }
    if (!password.empty()) {
      keys.push_back("password");
      values.push_back(password.c_str());
    }
    // The library's text is Windows-1252; the server converts.
    keys.push_back("client_encoding");
    values.push_back("WIN1252");
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PGconn* c = PQconnectdbParams(keys.data(), values.data(), conninfo ? 1 : 0);
    if (c == nullptr) ThrowLibraryError("Out of memory connecting to PostgreSQL");
    if (PQstatus(c) != CONNECTION_OK) {
      std::string m = ServerWords(PQerrorMessage(c));
      PQfinish(c);
      throw SAException(SA_DBMS_API_Error, kNativeLink, -1, SAString(m));
    }
    PQsetNoticeProcessor(c, IgnoreNotice, nullptr);
    conn_ = c;
  }

  void Disconnect() override { Destroy(); }

  void Destroy() noexcept override {
    if (conn_ != nullptr) PQfinish(conn_);
    conn_ = nullptr;
  }

  bool IsAlive() noexcept override {
    if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) return false;
    // An empty query is answered even inside a failed transaction.
    PGresult* r = PQexec(conn_, "");
    bool ok = r != nullptr && PQresultStatus(r) == PGRES_EMPTY_QUERY;
    if (r != nullptr) PQclear(r);
    return ok && PQstatus(conn_) == CONNECTION_OK;
  }

  void Begin(SAIsolationLevel_t level) override {
    const char* sql = "BEGIN";
    switch (level) {
      case SA_ReadUncommitted: sql = "BEGIN ISOLATION LEVEL READ UNCOMMITTED"; break;
      case SA_ReadCommitted: sql = "BEGIN ISOLATION LEVEL READ COMMITTED"; break;
      case SA_RepeatableRead: sql = "BEGIN ISOLATION LEVEL REPEATABLE READ"; break;
      case SA_Serializable: sql = "BEGIN ISOLATION LEVEL SERIALIZABLE"; break;
      default: break;
    }
    Simple(sql);
  }

  void Commit() override {
    std::string tag = Simple("COMMIT");
    // The server answers COMMIT of a failed transaction with a roll-back and
    // no error: that must not pass for a commit.
    if (tag == "ROLLBACK")
      ThrowServerError("40000", kNativeStatement, -1,
                       "COMMIT rolled back: the transaction had failed", "COMMIT");
  }

  void Rollback() override { Simple("ROLLBACK"); }

  std::unique_ptr<Cursor> NewCursor() override { return std::make_unique<PgCursor>(&conn_); }

  std::string Placeholder(int n) const override { return "$" + std::to_string(n); }

  std::string ServerVersion() const override {
    const char* v = conn_ != nullptr ? PQparameterStatus(conn_, "server_version") : nullptr;
    return v != nullptr ? v : "";
  }

 private:
  std::string Simple(const char* sql) {
    PgCursor cur(&conn_);
    cur.Execute(sql, {});
    return cur.CommandTag();
  }

  PGconn* conn_ = nullptr;
};

class PgDriver : public Driver {
 public:
  std::unique_ptr<Connection> NewConnection() override {
    return std::make_unique<PgConnection>();
  }
};

}  // namespace

Driver* PostgresDriver() {
  static PgDriver driver;
  return &driver;
}

}  // namespace vkt::sa
