// The storage seam under the ISAM client: everything it asks of the place
// where records live. One Store serves one data folder for one session; a
// second backend (a database server) implements the same two classes.
//
// Contract for every call: it answers a Status (0 or a c-tree status with the
// system code in `sys`), never throws, and never waits longer than the
// store's busy limit (then CT_LOCKED). Calls are made by one thread at a
// time. Writes are only made between BeginWrite and Commit/Rollback; the
// client opens such a write transaction itself for a change made outside
// an ISAM transaction.
//
// The descriptors (descriptor.h) live where the store says: files beside
// the store by default, rows of the server for a server store.
//
// SQLite backend layout: "<folder>/isam.db" (WAL, synchronous=FULL) holds a
// catalog row per table, the record table r<tid>(pos, image), one key table
// k<tid>_<n>(key, pos) per index (WITHOUT ROWID, the key unique for unique
// indexes), resources and the transaction history. The ".dat"/".idx" files
// beside it are descriptors (see descriptor.h); "<name>.lck" carries the
// record locks.
#ifndef VKT_ISAM_DETAIL_STORE_H_
#define VKT_ISAM_DETAIL_STORE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "isam/detail/descriptor.h"
#include "isam/detail/schema.h"
#include "isam/detail/status.h"

namespace vkt::isam::detail {

// Where a key search starts, relative to the key (and position) given.
enum class Seek { kFirst, kLast, kGE, kGT, kLE, kLT };

struct KeyEntry {
  std::string key;
  int64_t pos = 0;
};

// Per-table access: records and key tables. Owned by the client's open
// table; valid while its Store lives.
class TableStore {
 public:
  virtual ~TableStore() = default;
  // Record images by position (position order for kFirst/kGT/...).
  virtual Status Insert(std::string_view image, int64_t* pos) = 0;
  virtual Status Update(int64_t pos, std::string_view image) = 0;
  virtual Status Erase(int64_t pos) = 0;
  // CT_NOT_FOUND when no such record.
  virtual Status Read(int64_t pos, std::string* image) = 0;
  virtual Status SeekRecord(Seek how, int64_t from, int64_t* pos, std::string* image) = 0;
  virtual Status CountRecords(int64_t* n) = 0;
  // Key tables. AddKey gives CT_DUPLICATE_KEY on a unique index.
  virtual Status AddKey(int index, std::string_view key, int64_t pos) = 0;
  virtual Status RemoveKey(int index, std::string_view key, int64_t pos) = 0;
  // The entry next to (key, pos) in `how`'s direction, and its record image
  // when `image` is not null. CT_NOT_FOUND past the ends.
  virtual Status SeekKey(int index, Seek how, std::string_view key, int64_t pos,
                         KeyEntry* out, std::string* image) = 0;
  // Entries with lo <= key <= hi.
  virtual Status CountKeys(int index, std::string_view lo, std::string_view hi,
                           int64_t* n) = 0;
  virtual Status CountAllKeys(int index, int64_t* n) = 0;
  // Drops and recreates every key table (empty) for `def`.
  virtual Status ResetKeyTables(const TableDef& def) = 0;
};

struct HistoryEntry {
  int64_t seq = 0;
  int64_t txn = 0;
  int64_t pos = 0;
  int64_t time = 0;
  int16_t type = 0;
  std::string user;
  std::string station;
  std::string image;
};

// Record locks of one table, across processes and threads. A lock belongs
// to this object; closing it releases its locks, and so does the death of
// the process.
class LockSpace {
 public:
  virtual ~LockSpace() = default;
  // Whole-file use: shared by every shared open, exclusive for an exclusive
  // open or a file block. CT_FILE_LOCKED on conflict.
  virtual Status LockFile(bool exclusive) = 0;
  virtual void UnlockFile() = 0;
  // CT_LOCKED at once on conflict (wait_ms 0), or after waiting wait_ms.
  virtual Status LockRecord(int64_t pos, bool exclusive, int wait_ms) = 0;
  virtual void UnlockRecord(int64_t pos) = 0;
  // True when another holds a lock on pos (probe, nothing kept).
  virtual bool LockedByOther(int64_t pos) = 0;
};

class Store {
 public:
  virtual ~Store() = default;

  // Write transactions; savepoints nest inside them.
  virtual Status BeginWrite() = 0;
  virtual bool InWrite() const = 0;
  virtual Status Commit() = 0;
  virtual void Rollback() = 0;
  virtual Status Savepoint(const std::string& name) = 0;
  virtual Status RollbackTo(const std::string& name) = 0;
  // Copies the whole folder's store consistently into `dest` (a file path).
  virtual Status Backup(const std::string& dest) = 0;
  // Puts every committed change into the store's own file, so that the file
  // alone holds the folder (called outside a write transaction; may wait up
  // to the busy limit for other processes). A store with no log of its own
  // has nothing to do.
  virtual Status Checkpoint() { return {}; }

  // Catalog. LoadTable gives CT_FILE_NOT_FOUND for an unknown name.
  virtual Status LoadTable(const std::string& name, TableMeta* meta) = 0;
  // Assigns meta->tid and creates its record and key tables.
  virtual Status CreateTable(TableMeta* meta) = 0;
  virtual Status SaveTable(const TableMeta& meta) = 0;
  virtual Status DropTable(const TableMeta& meta) = 0;
  virtual Status RenameTable(const TableMeta& meta, const std::string& new_name) = 0;
  virtual Status ListTables(std::vector<std::string>* names) = 0;
  virtual Status OpenTable(const TableMeta& meta, std::unique_ptr<TableStore>* out) = 0;
  // `path` is the data file's path; the lock file is its "<stem>.lck".
  virtual Status OpenLocks(const std::string& lock_path, std::unique_ptr<LockSpace>* out) = 0;

  // Resources of a table, keyed by type and number.
  struct Resource {
    uint32_t type = 0;
    uint32_t number = 0;
    std::string name;
    std::string image;  // the whole resource as added
  };
  // which: 0 by type/number, 1 by name, 2 first, 3 next after type/number.
  virtual Status FindResource(int64_t tid, int which, const Resource& key, Resource* out) = 0;
  virtual Status PutResource(int64_t tid, const Resource& res, bool replace) = 0;
  virtual Status EraseResource(int64_t tid, uint32_t type, uint32_t number) = 0;
  virtual Status NextResourceNumber(int64_t tid, uint32_t type, uint32_t* number) = 0;

  // Transaction history.
  virtual Status AddHistory(int64_t tid, const HistoryEntry& e) = 0;
  // Entries of tid after seq (pos < 0: any position; since: time limit).
  virtual Status NextHistory(int64_t tid, int64_t pos, int64_t after_seq, int64_t since,
                             HistoryEntry* out) = 0;
  virtual Status EraseHistory(int64_t tid) = 0;

  // The descriptor at `path` (a path inside the folder), as descriptor.h.
  virtual Status ReadDescriptorAt(const std::string& path, Descriptor* d) { return ReadDescriptor(path, d); }
  virtual Status WriteDescriptorAt(const std::string& path, const Descriptor& d) {
    return WriteDescriptor(path, d);
  }
  virtual Status RemoveDescriptorAt(const std::string& path) { return RemoveDescriptor(path); }
};

// Opens (creating when absent) the store of `folder`, an existing directory.
Status OpenSqliteStore(const std::string& folder, std::unique_ptr<Store>* out);

// Opens (creating when absent) the store of the logical folder `folder` on
// the PostgreSQL server `dsn` names (a libpq connection string).
Status OpenPgStore(const std::string& dsn, const std::string& folder, std::unique_ptr<Store>* out);
// CT_SERVER_NOT_FOUND unless the server answers with that connection string.
Status PingPgServer(const std::string& dsn);
// Forgets the lock-name numbers learnt from servers (tests that drop a
// server's database between cases).
void ForgetPgLockNames();
// The schema that holds `folder` on such a server.
std::string PgSchemaOfFolder(const std::string& folder);

// Fault points for tests: every storage statement counts; once armed, the
// Nth one from now fails with `status` / `sys`.
void ArmStorageFault(int64_t nth, int16_t status, int32_t sys);
void DisarmStorageFault();
// Counts down; true (and the fault) when the armed call is this one.
bool StorageFaultHere(Status* fault);

}  // namespace vkt::isam::detail

#endif  // VKT_ISAM_DETAIL_STORE_H_
