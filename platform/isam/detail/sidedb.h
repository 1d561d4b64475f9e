// Small SQLite databases beside the data folders: the system queues and the
// record database dictionary. Same durability as the stores (WAL,
// synchronous=FULL); writers take the write lock up front and wait for
// other processes up to the busy limit.
#ifndef VKT_ISAM_DETAIL_SIDEDB_H_
#define VKT_ISAM_DETAIL_SIDEDB_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "isam/detail/status.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vkt::isam::detail {

// One bound value: text/blob or integer.
struct SideValue {
  bool is_int = false;
  bool blob = false;  // bound as bytes; otherwise as text (names compare by collation)
  int64_t i = 0;
  std::string s;
  static SideValue Blob(std::string v) {
    SideValue b(std::move(v));
    b.blob = true;
    return b;
  }
  SideValue(int64_t v) : is_int(true), i(v) {}             // NOLINT
  SideValue(std::string v) : s(std::move(v)) {}            // NOLINT
  SideValue(const char* v) : s(v != nullptr ? v : "") {}   // NOLINT
};

using SideRow = std::vector<SideValue>;

class SideDb {
 public:
  SideDb() = default;
  ~SideDb();
  SideDb(const SideDb&) = delete;
  SideDb& operator=(const SideDb&) = delete;
  // Opens (creating when `create`) the file and runs `schema` once.
  Status Open(const std::string& path, bool create, const char* schema);
  bool open() const { return db_ != nullptr; }
  // Runs `sql` with `args`; rows (all columns as text/blob, integers as
  // integers) go to *rows when not null.
  Status Exec(const std::string& sql, const SideRow& args = {}, std::vector<SideRow>* rows = nullptr);
  // BEGIN IMMEDIATE ... COMMIT around `body`; rolled back when it fails.
  Status Write(const std::function<Status()>& body);

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace vkt::isam::detail

#endif  // VKT_ISAM_DETAIL_SIDEDB_H_
