// SQLite, embedded: the library's statements on a local file, no server.
#include <sqlite3.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "saapi/sadriver.h"
#include "win/cp1252.h"

namespace vkt::sa {
namespace {

constexpr int kDefaultBusyMs = 5000;

}  // namespace

// SQLite result codes onto SQLSTATE classes: the one place they are mapped.
std::string SqliteSqlState(int code, const std::string& message) {
  auto has = [&](const char* s) { return message.find(s) != std::string::npos; };
  // SQLite's ODBC driver passes the primary code only: the words decide.
  if (has("UNIQUE constraint failed") || has("PRIMARY KEY must be unique")) return "23505";
  if (has("NOT NULL constraint failed")) return "23502";
  if (has("FOREIGN KEY constraint failed")) return "23503";
  if (has("CHECK constraint failed")) return "23514";
  switch (code) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY: return "23505";
    case SQLITE_CONSTRAINT_NOTNULL: return "23502";
    case SQLITE_CONSTRAINT_FOREIGNKEY: return "23503";
    case SQLITE_CONSTRAINT_CHECK: return "23514";
    default: break;
  }
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return "55P03";
    case SQLITE_CONSTRAINT: return "23000";
    case SQLITE_TOOBIG: return "22001";
    case SQLITE_MISMATCH: return "22005";
    case SQLITE_NOMEM: return "53200";
    case SQLITE_FULL: return "53100";
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return "42501";
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB: return "08001";
    default: break;
  }
  if (has("no such table") || has("no such view")) return "42P01";
  if (has("no such column")) return "42703";
  if (has("duplicate column name")) return "42701";
  if (has("trigger") && has("already exists")) return "42710";
  if (has("already exists")) return "42P07";
  if (has("syntax error") || has("incomplete input")) return "42601";
  if (has("no such function")) return "42883";
  if (has("unknown database")) return "3F000";
  if (has("is locked")) return "55006";  // in use by an open statement
  return "HY000";
}

namespace {

std::string ToUtf8(const std::string& s) { return win::Cp1252ToUtf8(s); }
std::string FromUtf8(const char* s, int n) {
  std::string out;
  win::Utf8ToCp1252(std::string_view(s, n < 0 ? std::strlen(s) : static_cast<size_t>(n)), &out);
  return out;
}

SADataType_t TypeOfDecl(const char* decl) {
  if (decl == nullptr) return SA_dtUnknown;
  std::string d;
  for (const char* p = decl; *p != '\0'; ++p) d += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  auto has = [&](const char* s) { return d.find(s) != std::string::npos; };
  if (has("BOOL")) return SA_dtBool;
  if (has("SMALLINT")) return SA_dtShort;
  if (has("BIGINT")) return SA_dtInt64;
  if (has("INT")) return SA_dtLong;
  if (has("CHAR") || has("TEXT") || has("CLOB")) return SA_dtString;
  if (has("BLOB") || has("BYTEA")) return SA_dtBytes;
  if (has("REAL") || has("FLOA") || has("DOUB")) return SA_dtDouble;
  if (has("DATE") || has("TIME")) return SA_dtDateTime;
  if (has("NUMERIC") || has("DECIMAL")) return SA_dtNumeric;
  return SA_dtUnknown;
}

// The text with quoted parts blanked, so patterns never match inside them.
std::string Mask(const std::string& s) {
  std::string m = s;
  for (size_t i = 0; i < m.size(); ++i) {
    char q = m[i];
    if (q == '\'' || q == '"') {
      size_t j = i + 1;
      while (j < m.size() && m[j] != q) m[j++] = ' ';
      i = j;
    }
  }
  return m;
}

struct Rewrite {
  enum Kind { kNone, kBusy, kAppName, kCreateSchema, kDropSchema } kind = kNone;
  int busy_ms = 0;
  std::string text;
  bool if_clause = false;
};

Rewrite Classify(const std::string& sql) {
  static const std::regex lock_timeout(
      R"(^\s*SET\s+lock_timeout\s*(?:TO|=)\s*'?\s*(\d+)\s*(ms|s)?\s*'?\s*;?\s*$)",
      std::regex::icase);
  static const std::regex innodb(R"(^\s*set\s+innodb_lock_wait_timeout\s*=\s*(\d+)\s*;?\s*$)",
                                 std::regex::icase);
  static const std::regex blocking(R"(^\s*call\s+fc_set_blockinglock\s*\(\s*(-?\d+)\s*\)\s*;?\s*$)",
                                   std::regex::icase);
  static const std::regex app(R"(^\s*SET\s+application_name\s*(?:TO|=)\s*'((?:[^']|'')*)'\s*;?\s*$)",
                              std::regex::icase);
  static const std::regex create(R"(^\s*CREATE\s+SCHEMA\s+(IF\s+NOT\s+EXISTS\s+)?(\w+)\s*;?\s*$)",
                                 std::regex::icase);
  static const std::regex drop(
      R"(^\s*DROP\s+SCHEMA\s+(IF\s+EXISTS\s+)?(\w+)(?:\s+(?:CASCADE|RESTRICT))?\s*;?\s*$)",
      std::regex::icase);
  Rewrite r;
  std::smatch m;
  if (sql.size() > 512) return r;
  if (std::regex_match(sql, m, lock_timeout)) {
    r.kind = Rewrite::kBusy;
    long v = std::atol(m[1].str().c_str());
    if (m[2].matched && (m[2].str() == "s" || m[2].str() == "S")) v *= 1000;
    // lock_timeout 0 waits for ever.
    r.busy_ms = v == 0 ? 0x7FFFFFFF : static_cast<int>(std::min(v, 0x7FFFFFFFL));
  } else if (std::regex_match(sql, m, innodb)) {
    r.kind = Rewrite::kBusy;
    long v = std::atol(m[1].str().c_str());
    r.busy_ms = static_cast<int>(std::min(v * 1000, 0x7FFFFFFFL));
  } else if (std::regex_match(sql, m, blocking)) {
    r.kind = Rewrite::kBusy;
    long v = std::atol(m[1].str().c_str());
    r.busy_ms = v < 0 ? 2000 : static_cast<int>(std::min(v * 1000, 0x7FFFFFFFL));
  } else if (std::regex_match(sql, m, app)) {
    r.kind = Rewrite::kAppName;
    r.text = m[1].str();
    for (size_t p = r.text.find("''"); p != std::string::npos; p = r.text.find("''", p + 1))
      r.text.erase(p, 1);
  } else if (std::regex_match(sql, m, create)) {
    r.kind = Rewrite::kCreateSchema;
    r.if_clause = m[1].matched;
    r.text = m[2].str();
  } else if (std::regex_match(sql, m, drop)) {
    r.kind = Rewrite::kDropSchema;
    r.if_clause = m[1].matched;
    r.text = m[2].str();
  }
  return r;
}

// Row-lock clauses of other servers: SQLite locks the whole database.
std::string StripRowLocks(const std::string& sql) {
  std::string masked = Mask(sql);
  if (masked.find_first_of("fF") == std::string::npos) return sql;
  static const std::regex lock(R"(\s+FOR\s+(?:UPDATE|SHARE)(?:\s+NOWAIT(?:\s+\d+)?)?\b)",
                               std::regex::icase);
  std::string out;
  size_t last = 0;
  for (auto it = std::sregex_iterator(masked.begin(), masked.end(), lock);
       it != std::sregex_iterator(); ++it) {
    out.append(sql, last, it->position() - last);
    last = it->position() + it->length();
  }
  out.append(sql, last, std::string::npos);
  return out;
}

class SqliteConnection;

class SqliteCursor : public Cursor {
 public:
  explicit SqliteCursor(SqliteConnection* c) : conn_(c) {}
  ~SqliteCursor() override { Close(); }
  void Execute(const std::string& sql, const std::vector<const Value*>& params) override;
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Fetch(std::vector<Value>* row) override;
  int64_t RowsAffected() const override { return changes_; }
  void Close() noexcept override {
    if (stmt_ != nullptr) sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    columns_.clear();
    pending_ = false;
  }

 private:
  void Bind(const std::vector<const Value*>& params, int first);
  void ReadRow(std::vector<Value>* row);
  SqliteConnection* conn_;
  sqlite3_stmt* stmt_ = nullptr;
  std::vector<ColumnInfo> columns_;
  bool pending_ = false;  // a stepped row not yet handed out
  int64_t changes_ = -1;
};

class SqliteConnection : public Connection {
 public:
  ~SqliteConnection() override { Destroy(); }

  void Connect(const std::string& database, const std::string&, const std::string&) override {
    sqlite3* db = nullptr;
    std::string path = database.empty() ? ":memory:" : database;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
      std::string m = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
      sqlite3_close(db);
      throw SAException(SA_DBMS_API_Error, rc, -1, SAString("08001 " + m), SAString("08001"));
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kDefaultBusyMs);
    sqlite3_create_function(db, "application_name", 0, SQLITE_UTF8, this, AppNameFn, nullptr, nullptr);
    sqlite3_create_function(db, "lock_timeout", 0, SQLITE_UTF8, this, LockTimeoutFn, nullptr, nullptr);
    busy_ms_ = kDefaultBusyMs;
    db_ = db;
    path_ = path;
  }

  void Disconnect() override {
    if (db_ == nullptr) return;
    int rc = sqlite3_close(db_);
    if (rc != SQLITE_OK) Fail(rc, "");
    db_ = nullptr;
  }

  void Destroy() noexcept override {
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  bool IsAlive() noexcept override { return db_ != nullptr; }

  void Begin(SAIsolationLevel_t level) override {
    // SERIALIZABLE takes the write lock at once, so a conflict is seen at
    // the start instead of at the first write.
    Exec(level == SA_Serializable ? "BEGIN IMMEDIATE" : "BEGIN");
  }

  void Commit() override {
    try {
      Exec("COMMIT");
    } catch (const SAException&) {
      // A failed COMMIT leaves SQLite's transaction open: end it, so that a
      // failed commit means the same on every server.
      if (db_ != nullptr && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }
  void Rollback() override {
    if (db_ != nullptr && !sqlite3_get_autocommit(db_)) Exec("ROLLBACK");
  }

  std::unique_ptr<Cursor> NewCursor() override { return std::make_unique<SqliteCursor>(this); }

  std::string ServerVersion() const override { return sqlite3_libversion(); }

  sqlite3* db() const { return db_; }

  [[noreturn]] void Fail(int rc, const std::string& sql) {
    std::string m = db_ != nullptr ? FromUtf8(sqlite3_errmsg(db_), -1) : sqlite3_errstr(rc);
    int code = db_ != nullptr ? sqlite3_extended_errcode(db_) : rc;
    int pos = -1;
    if (db_ != nullptr) {
      int off = sqlite3_error_offset(db_);
      if (off >= 0) pos = off + 1;
    }
    ThrowServerError(SqliteSqlState(code, m), code, pos, m, sql);
  }

  // Runs the library's dialect statements; true when `sql` was one of them.
  bool Special(const std::string& sql, int64_t* changes) {
    Rewrite r = Classify(sql);
    switch (r.kind) {
      case Rewrite::kNone: return false;
      case Rewrite::kBusy:
        sqlite3_busy_timeout(db_, r.busy_ms);
        busy_ms_ = r.busy_ms;
        break;
      case Rewrite::kAppName: app_name_ = r.text; break;
      case Rewrite::kCreateSchema: {
        if (Attached(r.text)) {
          if (r.if_clause) break;
          ThrowServerError("42P06", SQLITE_ERROR, -1, "schema \"" + r.text + "\" already exists", sql);
        }
        Attach(r.text, sql);
        break;
      }
      case Rewrite::kDropSchema: {
        if (!Attached(r.text)) {
          std::string f = SchemaFile(r.text);
          if (!f.empty() && access(f.c_str(), F_OK) == 0) Attach(r.text, sql);
        }
        if (!Attached(r.text)) {
          if (r.if_clause) break;
          ThrowServerError("3F000", SQLITE_ERROR, -1, "schema \"" + r.text + "\" does not exist", sql);
        }
        Exec("DETACH DATABASE \"" + r.text + "\"");
        std::string f = SchemaFile(r.text);
        if (!f.empty()) unlink(f.c_str());
        break;
      }
    }
    *changes = 0;
    return true;
  }

  // After "no such table: s.t" or "unknown database s": attaches the schema
  // file of an earlier session, when there is one. True when it did.
  bool AttachFor(const std::string& message) {
    std::string name;
    static const char* const kLeads[] = {"no such table: ", "unknown database "};
    for (const char* lead : kLeads) {
      size_t p = message.find(lead);
      if (p == std::string::npos) continue;
      name = message.substr(p + std::strlen(lead));
      size_t dot = name.find('.');
      if (std::strcmp(lead, "no such table: ") == 0) {
        if (dot == std::string::npos) return false;
        name.resize(dot);
      } else if (dot != std::string::npos) {
        name.resize(dot);
      }
    }
    if (name.empty() || Attached(name)) return false;
    std::string f = SchemaFile(name);
    if (f.empty() || access(f.c_str(), F_OK) != 0) return false;
    Attach(name, "");
    return true;
  }

 private:
  static void AppNameFn(sqlite3_context* ctx, int, sqlite3_value**) {
    auto* self = static_cast<SqliteConnection*>(sqlite3_user_data(ctx));
    std::string u = ToUtf8(self->app_name_);
    sqlite3_result_text(ctx, u.c_str(), static_cast<int>(u.size()), SQLITE_TRANSIENT);
  }

  // The busy time-out as PostgreSQL shows its lock_timeout ("0": for ever).
  static void LockTimeoutFn(sqlite3_context* ctx, int, sqlite3_value**) {
    auto* self = static_cast<SqliteConnection*>(sqlite3_user_data(ctx));
    std::string t = self->busy_ms_ == 0x7FFFFFFF ? "0" : std::to_string(self->busy_ms_) + "ms";
    sqlite3_result_text(ctx, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
  }

  std::string SchemaFile(const std::string& name) const {
    if (path_ == ":memory:" || path_.empty()) return "";
    return path_ + "." + name;
  }

  bool Attached(const std::string& name) {
    return sqlite3_db_filename(db_, name.c_str()) != nullptr;
  }

  void Attach(const std::string& name, const std::string& sql) {
    for (char c : name)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
        ThrowServerError("42602", SQLITE_ERROR, -1, "invalid schema name \"" + name + "\"", sql);
    std::string f = SchemaFile(name);
    Exec("ATTACH DATABASE '" + (f.empty() ? std::string(":memory:") : f) + "' AS \"" + name + "\"");
  }

  void Exec(const std::string& sql) {
    if (db_ == nullptr) ThrowLibraryError("Connection is not connected");
    std::string u = ToUtf8(sql);
    int rc = sqlite3_exec(db_, u.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) Fail(rc, sql);
  }

  sqlite3* db_ = nullptr;
  std::string path_;
  std::string app_name_;
  int busy_ms_ = kDefaultBusyMs;
};

void SqliteCursor::Execute(const std::string& sql_in, const std::vector<const Value*>& params) {
  Close();
  changes_ = -1;
  sqlite3* db = conn_->db();
  if (db == nullptr) ThrowLibraryError("Connection is not connected");
  if (params.empty() && conn_->Special(sql_in, &changes_)) return;
  static const std::regex show_lock(R"(^\s*SHOW\s+lock_timeout\s*;?\s*$)", std::regex::icase);
  std::string sql = std::regex_match(sql_in, show_lock) ? "SELECT lock_timeout() AS lock_timeout"
                                                        : StripRowLocks(sql_in);
  std::string u = ToUtf8(sql);
  const char* p = u.c_str();
  const char* end = p + u.size();
  int bound = 0;
  bool retried = false;
  while (p < end) {
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db, p, static_cast<int>(end - p), &st, &tail);
    if (rc != SQLITE_OK) {
      if (!retried && conn_->AttachFor(sqlite3_errmsg(db))) {
        retried = true;
        continue;
      }
      conn_->Fail(rc, sql_in);
    }
    const char* next = tail;
    while (next < end && std::isspace(static_cast<unsigned char>(*next))) ++next;
    p = next;
    if (st == nullptr) continue;  // only white space or a comment
    stmt_ = st;
    Bind(params, bound);
    bound += sqlite3_bind_parameter_count(st);
    rc = sqlite3_step(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
      Close();
      conn_->Fail(rc, sql_in);
    }
    changes_ = sqlite3_stmt_readonly(st) ? -1 : sqlite3_changes(db);
    if (p < end) {
      // Not the last statement: run it out and go on.
      while (rc == SQLITE_ROW) rc = sqlite3_step(st);
      if (rc != SQLITE_DONE) {
        Close();
        conn_->Fail(rc, sql_in);
      }
      Close();
      continue;
    }
    int n = sqlite3_column_count(st);
    if (n > 0) {
      columns_.resize(n);
      for (int k = 0; k < n; ++k) {
        columns_[k].name = FromUtf8(sqlite3_column_name(st, k), -1);
        columns_[k].type = TypeOfDecl(sqlite3_column_decltype(st, k));
        if (columns_[k].type == SA_dtUnknown && rc == SQLITE_ROW) {
          switch (sqlite3_column_type(st, k)) {
            case SQLITE_INTEGER: columns_[k].type = SA_dtInt64; break;
            case SQLITE_FLOAT: columns_[k].type = SA_dtDouble; break;
            case SQLITE_BLOB: columns_[k].type = SA_dtBytes; break;
            default: columns_[k].type = SA_dtString; break;
          }
        }
        if (columns_[k].type == SA_dtUnknown) columns_[k].type = SA_dtString;
      }
      pending_ = rc == SQLITE_ROW;
    }
  }
  if (bound != static_cast<int>(params.size()) && !params.empty())
    ThrowLibraryError("Statement has " + std::to_string(bound) + " parameters, " +
                      std::to_string(params.size()) + " given");
}

void SqliteCursor::Bind(const std::vector<const Value*>& params, int first) {
  int n = sqlite3_bind_parameter_count(stmt_);
  for (int k = 1; k <= n; ++k) {
    size_t idx = static_cast<size_t>(first + k - 1);
    if (idx >= params.size()) {
      Close();
      ThrowLibraryError("Statement has more parameters than values");
    }
    const Value& v = *params[idx];
    int rc = SQLITE_OK;
    if (v.null) {
      rc = sqlite3_bind_null(stmt_, k);
    } else {
      switch (v.type) {
        case SA_dtBool: case SA_dtShort: case SA_dtUShort: case SA_dtLong:
        case SA_dtULong: case SA_dtInt64: case SA_dtUInt64:
          rc = sqlite3_bind_int64(stmt_, k, v.i);
          break;
        case SA_dtDouble: rc = sqlite3_bind_double(stmt_, k, v.d); break;
        case SA_dtDateTime: {
          std::string t = DateTimeText(v.dt);
          rc = sqlite3_bind_text(stmt_, k, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
          break;
        }
        case SA_dtBytes: case SA_dtLongBinary: case SA_dtBLob:
          rc = sqlite3_bind_blob(stmt_, k, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
          break;
        default: {
          std::string t = ToUtf8(v.s);
          rc = sqlite3_bind_text(stmt_, k, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
          break;
        }
      }
    }
    if (rc != SQLITE_OK) {
      Close();
      conn_->Fail(rc, "");
    }
  }
}

void SqliteCursor::ReadRow(std::vector<Value>* row) {
  int n = static_cast<int>(columns_.size());
  row->resize(n);
  for (int k = 0; k < n; ++k) {
    Value& v = (*row)[k];
    v = Value();
    SADataType_t declared = columns_[k].type;
    v.type = declared;
    int st = sqlite3_column_type(stmt_, k);
    if (st == SQLITE_NULL) continue;
    v.null = false;
    switch (st) {
      case SQLITE_INTEGER:
        v.i = sqlite3_column_int64(stmt_, k);
        if (declared == SA_dtNumeric) {
          v.d = static_cast<double>(v.i);
          v.s = std::to_string(v.i);
        } else if (declared == SA_dtDouble) {
          v.d = static_cast<double>(v.i);
        } else if (declared == SA_dtString || declared == SA_dtDateTime || declared == SA_dtBytes) {
          v.type = SA_dtInt64;
        }
        break;
      case SQLITE_FLOAT:
        v.d = sqlite3_column_double(stmt_, k);
        if (declared == SA_dtNumeric) {
          char buf[64];
          auto r = std::to_chars(buf, buf + sizeof buf, v.d);
          v.s.assign(buf, r.ptr);
        } else {
          v.type = SA_dtDouble;
        }
        break;
      case SQLITE_BLOB: {
        const void* b = sqlite3_column_blob(stmt_, k);
        v.s.assign(static_cast<const char*>(b), sqlite3_column_bytes(stmt_, k));
        v.type = SA_dtBytes;
        break;
      }
      default: {
        const char* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, k));
        int len = sqlite3_column_bytes(stmt_, k);
        v.s = FromUtf8(t, len);
        if (declared == SA_dtDateTime) {
          if (!ParseDateTimeText(v.s, &v.dt)) v.type = SA_dtString;
          else v.s.clear();
        } else if (declared == SA_dtNumeric) {
          v.d = std::strtod(v.s.c_str(), nullptr);
        } else {
          v.type = SA_dtString;
        }
        break;
      }
    }
  }
}

bool SqliteCursor::Fetch(std::vector<Value>* row) {
  if (stmt_ == nullptr || columns_.empty()) return false;
  if (!pending_) {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) conn_->Fail(rc, "");
  }
  pending_ = false;
  ReadRow(row);
  return true;
}

class SqliteDriverImpl : public Driver {
 public:
  std::unique_ptr<Connection> NewConnection() override {
    return std::make_unique<SqliteConnection>();
  }
};

}  // namespace

Driver* SqliteDriver() {
  static SqliteDriverImpl driver;
  return &driver;
}

}  // namespace vkt::sa
