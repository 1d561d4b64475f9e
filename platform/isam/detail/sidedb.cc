#include "isam/detail/sidedb.h"

#include <sqlite3.h>

#include <cerrno>
#include <string>
#include <vector>

#include "isam/ctree.h"

namespace vkt::isam::detail {
namespace {

constexpr int kBusyMs = 10000;

Status Fail(sqlite3* db, int rc) {
  const int base = rc & 0xff;
  if (base == SQLITE_BUSY || base == SQLITE_LOCKED) return {CT_LOCKED, rc};
  if (base == SQLITE_FULL) return {CT_WRITE_ERROR, ENOSPC};
  if (base == SQLITE_CANTOPEN) return {CT_FILE_NOT_FOUND, ENOENT};
  (void)db;
  return {CT_WRITE_ERROR, rc};
}

// A positive 31-bit FNV-1a of the schema text: changes when the schema does.
int64_t SchemaStamp(const char* schema) {
  uint32_t h = 2166136261u;
  for (const char* p = schema; *p != '\0'; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 16777619u;
  h &= 0x7fffffffu;
  return h == 0 ? 1 : h;
}

}  // namespace

SideDb::~SideDb() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
}

Status SideDb::Open(const std::string& path, bool create, const char* schema) {
  if (db_ != nullptr) return {};
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_FULLMUTEX;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const int err = sqlite3_system_errno(db);
    if (db != nullptr) sqlite3_close_v2(db);
    return {CT_FILE_NOT_FOUND, err != 0 ? err : ENOENT};
  }
  sqlite3_busy_timeout(db, kBusyMs);
  db_ = db;
  Status s = Exec("PRAGMA journal_mode=WAL");
  if (s.ok()) s = Exec("PRAGMA synchronous=FULL");
  // The schema is written once and stamped; later opens only read the stamp,
  // so a process that keeps writing never starves another one's open.
  if (s.ok() && schema != nullptr) {
    const int64_t stamp = SchemaStamp(schema);
    std::vector<SideRow> rows;
    s = Exec("PRAGMA user_version", {}, &rows);
    const bool current = s.ok() && rows.size() == 1 && !rows[0].empty() && rows[0][0].is_int &&
                         rows[0][0].i == stamp;
    if (s.ok() && !current)
      s = Write([&] {
        Status w = Exec(schema);
        return w.ok() ? Exec("PRAGMA user_version=" + std::to_string(stamp)) : w;
      });
  }
  if (!s.ok()) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  return s;
}

Status SideDb::Exec(const std::string& sql, const SideRow& args, std::vector<SideRow>* rows) {
  if (db_ == nullptr) return CT_NOT_INITIALISED;
  const char* tail = sql.c_str();
  const char* end = tail + sql.size();
  while (tail < end) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db_, tail, static_cast<int>(end - tail), &st, &tail);
    if (rc != SQLITE_OK) return Fail(db_, rc);
    if (st == nullptr) break;  // only blanks left
    for (size_t i = 0; i < args.size() && static_cast<int>(i) < sqlite3_bind_parameter_count(st); ++i) {
      const SideValue& v = args[i];
      if (v.is_int)
        sqlite3_bind_int64(st, static_cast<int>(i + 1), v.i);
      else if (v.blob)
        sqlite3_bind_blob(st, static_cast<int>(i + 1), v.s.data(), static_cast<int>(v.s.size()),
                          SQLITE_TRANSIENT);
      else
        sqlite3_bind_text(st, static_cast<int>(i + 1), v.s.data(), static_cast<int>(v.s.size()),
                          SQLITE_TRANSIENT);
    }
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      if (rows == nullptr) continue;
      SideRow row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        if (sqlite3_column_type(st, c) == SQLITE_INTEGER) {
          row.emplace_back(static_cast<int64_t>(sqlite3_column_int64(st, c)));
        } else {
          const void* p = sqlite3_column_blob(st, c);
          const int n = sqlite3_column_bytes(st, c);
          row.emplace_back(p != nullptr ? std::string(static_cast<const char*>(p), static_cast<size_t>(n))
                                        : std::string());
        }
      }
      rows->push_back(std::move(row));
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) return Fail(db_, rc);
  }
  return {};
}

Status SideDb::Write(const std::function<Status()>& body) {
  VKT_ISAM_RETURN_IF_ERROR(Exec("BEGIN IMMEDIATE"));
  Status s = body();
  if (s.ok()) s = Exec("COMMIT");
  if (!s.ok()) (void)Exec("ROLLBACK");
  return s;
}

}  // namespace vkt::isam::detail
