// SQLite backend of the storage seam.
//
// Traps worth knowing: closing any descriptor of a file drops every POSIX
// lock the process holds on it, so the record locks are open-file-description
// locks on their own ".lck" files and the database file is never opened
// behind SQLite's back. A write transaction is BEGIN IMMEDIATE: taking the
// write lock up front means a transaction never fails half-way with a busy
// snapshot that no waiting could resolve.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "isam/detail/store.h"
#include "win/services.h"

namespace vkt::isam::detail {
namespace {

constexpr int kBusyMs = 3000;

std::atomic<int64_t> g_fault_countdown{0};
std::atomic<int16_t> g_fault_status{0};
std::atomic<int32_t> g_fault_sys{0};

Status MapRc(int rc, sqlite3* db) {
  const int ext = db != nullptr ? sqlite3_extended_errcode(db) : rc;
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return {};
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return {CT_LOCKED, ext};
    case SQLITE_CONSTRAINT:
      return {CT_DUPLICATE_KEY, ext};
    case SQLITE_FULL:
      return {CT_WRITE_ERROR, ENOSPC};
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return {CT_WRITE_ERROR, ext};
    case SQLITE_CANTOPEN:
      return {CT_FILE_NOT_FOUND, ext};
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return {CT_READ_ERROR, ext};
    default:
      return {CT_READ_ERROR, ext};
  }
}

// A prepared statement bound and stepped in one place, so that every step
// passes the fault point and every error maps the same way.
class Stmt {
 public:
  Stmt() = default;
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  ~Stmt() { sqlite3_finalize(st_); }

  bool ready() const { return st_ != nullptr; }
  Status Prepare(sqlite3* db, const std::string& sql) {
    if (st_ != nullptr) return {};
    db_ = db;
    int rc = sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &st_, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(st_);
      st_ = nullptr;
      return MapRc(rc, db);
    }
    return {};
  }
  void Reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }
  void Bind(int i, int64_t v) { sqlite3_bind_int64(st_, i, v); }
  void Bind(int i, std::string_view b) {
    sqlite3_bind_blob(st_, i, b.data(), static_cast<int>(b.size()), SQLITE_STATIC);
  }
  void BindText(int i, std::string_view t) {
    sqlite3_bind_text(st_, i, t.data(), static_cast<int>(t.size()), SQLITE_STATIC);
  }
  // SQLITE_ROW -> true in *row; SQLITE_DONE -> false.
  Status Step(bool* row) {
    Status fault;
    if (StorageFaultHere(&fault)) {
      *row = false;
      return fault;
    }
    int rc = sqlite3_step(st_);
    *row = rc == SQLITE_ROW;
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) return {};
    return MapRc(rc, db_);
  }
  Status Exec() {
    bool row = false;
    Status s = Step(&row);
    Reset();
    return s;
  }
  int64_t Int(int c) { return sqlite3_column_int64(st_, c); }
  std::string Blob(int c) {
    const void* p = sqlite3_column_blob(st_, c);
    int n = sqlite3_column_bytes(st_, c);
    return p != nullptr ? std::string(static_cast<const char*>(p), static_cast<size_t>(n))
                        : std::string();
  }
  std::string Text(int c) {
    const unsigned char* p = sqlite3_column_text(st_, c);
    return p != nullptr ? std::string(reinterpret_cast<const char*>(p)) : std::string();
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* st_ = nullptr;
};

// Builds the SQL text only the first time: the hot paths must not pay for
// string assembly on every call.
#define VKT_ISAM_PREPARE(st, db, sql)                                  \
  do {                                                                 \
    if (!(st).ready()) VKT_ISAM_RETURN_IF_ERROR((st).Prepare(db, sql)); \
  } while (0)

class OfdLocks : public LockSpace {
 public:
  explicit OfdLocks(int fd) : fd_(fd) {}
  ~OfdLocks() override { ::close(fd_); }

  Status LockFile(bool exclusive) override {
    if (!Set(0, exclusive ? F_WRLCK : F_RDLCK)) return {CT_FILE_LOCKED, errno};
    return {};
  }
  void UnlockFile() override { Set(0, F_UNLCK); }
  Status LockRecord(int64_t pos, bool exclusive, int wait_ms) override {
    if (pos <= 0) return CT_BAD_PARAMETER;
    const int type = exclusive ? F_WRLCK : F_RDLCK;
    int waited = 0;
    while (!Set(pos, type)) {
      if (errno != EAGAIN && errno != EACCES && errno != EINTR) return {CT_LOCKED, errno};
      if (waited >= wait_ms) return {CT_LOCKED, errno};
      vkt::services().Sleep(5);
      waited += 5;
    }
    return {};
  }
  void UnlockRecord(int64_t pos) override { Set(pos, F_UNLCK); }
  bool LockedByOther(int64_t pos) override {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = pos;
    fl.l_len = 1;
    if (fcntl(fd_, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
  }

 private:
  bool Set(int64_t at, int type) {
    struct flock fl {};
    fl.l_type = static_cast<short>(type);
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    return fcntl(fd_, F_OFD_SETLK, &fl) == 0;
  }
  int fd_;
};

class SqliteStore;

class SqliteTable : public TableStore {
 public:
  SqliteTable(sqlite3* db, const TableMeta& meta) : db_(db), tid_(meta.tid) {
    SetDef(meta.def);
  }

  Status Insert(std::string_view image, int64_t* pos) override {
    VKT_ISAM_PREPARE(insert_, db_, "INSERT INTO " + R() + "(image) VALUES(?1)");
    insert_.Bind(1, image);
    Status s = insert_.Exec();
    if (s.ok()) *pos = sqlite3_last_insert_rowid(db_);
    return s;
  }
  Status Update(int64_t pos, std::string_view image) override {
    VKT_ISAM_PREPARE(update_, db_, "UPDATE " + R() + " SET image=?2 WHERE pos=?1");
    update_.Bind(1, pos);
    update_.Bind(2, image);
    VKT_ISAM_RETURN_IF_ERROR(update_.Exec());
    return sqlite3_changes(db_) == 1 ? Status{} : Status{CT_RECORD_DELETED};
  }
  Status Erase(int64_t pos) override {
    VKT_ISAM_PREPARE(erase_, db_, "DELETE FROM " + R() + " WHERE pos=?1");
    erase_.Bind(1, pos);
    VKT_ISAM_RETURN_IF_ERROR(erase_.Exec());
    return sqlite3_changes(db_) == 1 ? Status{} : Status{CT_RECORD_DELETED};
  }
  Status Read(int64_t pos, std::string* image) override {
    VKT_ISAM_PREPARE(read_, db_, "SELECT image FROM " + R() + " WHERE pos=?1");
    read_.Bind(1, pos);
    bool row = false;
    Status s = read_.Step(&row);
    if (s.ok() && row) *image = read_.Blob(0);
    read_.Reset();
    if (!s.ok()) return s;
    return row ? Status{} : Status{CT_NOT_FOUND};
  }
  Status SeekRecord(Seek how, int64_t from, int64_t* pos, std::string* image) override {
    static const char* const kWhere[] = {"", "", " WHERE pos>=?1", " WHERE pos>?1",
                                         " WHERE pos<=?1", " WHERE pos<?1"};
    const int h = static_cast<int>(how);
    const bool desc = how == Seek::kLast || how == Seek::kLE || how == Seek::kLT;
    Stmt& st = seek_rec_[h];
    VKT_ISAM_PREPARE(st, db_, "SELECT pos,image FROM " + R() + kWhere[h] +
                                                 (desc ? " ORDER BY pos DESC" : " ORDER BY pos") +
                                                 " LIMIT 1");
    if (h >= 2) st.Bind(1, from);
    bool row = false;
    Status s = st.Step(&row);
    if (s.ok() && row) {
      *pos = st.Int(0);
      if (image != nullptr) *image = st.Blob(1);
    }
    st.Reset();
    if (!s.ok()) return s;
    return row ? Status{} : Status{CT_NOT_FOUND};
  }
  Status CountRecords(int64_t* n) override {
    VKT_ISAM_PREPARE(count_, db_, "SELECT count(*) FROM " + R());
    bool row = false;
    Status s = count_.Step(&row);
    if (s.ok() && row) *n = count_.Int(0);
    count_.Reset();
    return s;
  }
  Status AddKey(int index, std::string_view key, int64_t pos) override {
    Ix& ix = ix_[index];
    VKT_ISAM_PREPARE(ix.add, db_, "INSERT INTO " + K(index) + "(key,pos) VALUES(?1,?2)");
    ix.add.Bind(1, key);
    ix.add.Bind(2, pos);
    return ix.add.Exec();
  }
  Status RemoveKey(int index, std::string_view key, int64_t pos) override {
    Ix& ix = ix_[index];
    VKT_ISAM_PREPARE(ix.remove, db_, "DELETE FROM " + K(index) + " WHERE key=?1 AND pos=?2");
    ix.remove.Bind(1, key);
    ix.remove.Bind(2, pos);
    return ix.remove.Exec();
  }
  Status SeekKey(int index, Seek how, std::string_view key, int64_t pos, KeyEntry* out,
                 std::string* image) override {
    Ix& ix = ix_[index];
    const int h = static_cast<int>(how);
    const bool with_image = image != nullptr;
    Stmt& st = ix.seek[h][with_image];
    const bool desc = how == Seek::kLast || how == Seek::kLE || how == Seek::kLT;
    if (!st.ready()) {
      static const char* const kOp[] = {"", "", ">=", ">", "<=", "<"};
      std::string cond;
      if (h >= 2) cond = ix.dup ? std::string(" WHERE (k.key,k.pos)") + kOp[h] + "(?1,?2)"
                                : std::string(" WHERE k.key") + kOp[h] + "?1";
      std::string order = ix.dup ? (desc ? " ORDER BY k.key DESC,k.pos DESC" : " ORDER BY k.key,k.pos")
                                 : (desc ? " ORDER BY k.key DESC" : " ORDER BY k.key");
      std::string sql = with_image ? "SELECT k.key,k.pos,r.image FROM " + K(index) +
                                         " AS k CROSS JOIN " + R() + " AS r ON r.pos=k.pos"
                                   : "SELECT k.key,k.pos FROM " + K(index) + " AS k";
      VKT_ISAM_RETURN_IF_ERROR(st.Prepare(db_, sql + cond + order + " LIMIT 1"));
    }
    if (h >= 2) {
      st.Bind(1, key);
      if (ix.dup) st.Bind(2, pos);
    }
    bool row = false;
    Status s = st.Step(&row);
    if (s.ok() && row) {
      out->key = st.Blob(0);
      out->pos = st.Int(1);
      if (with_image) *image = st.Blob(2);
    }
    st.Reset();
    if (!s.ok()) return s;
    return row ? Status{} : Status{CT_NOT_FOUND};
  }
  Status CountKeys(int index, std::string_view lo, std::string_view hi, int64_t* n) override {
    Ix& ix = ix_[index];
    VKT_ISAM_RETURN_IF_ERROR(ix.count_range.Prepare(
        db_, "SELECT count(*) FROM " + K(index) + " WHERE key>=?1 AND key<=?2"));
    ix.count_range.Bind(1, lo);
    ix.count_range.Bind(2, hi);
    bool row = false;
    Status s = ix.count_range.Step(&row);
    if (s.ok() && row) *n = ix.count_range.Int(0);
    ix.count_range.Reset();
    return s;
  }
  Status CountAllKeys(int index, int64_t* n) override {
    Ix& ix = ix_[index];
    VKT_ISAM_PREPARE(ix.count_all, db_, "SELECT count(*) FROM " + K(index));
    bool row = false;
    Status s = ix.count_all.Step(&row);
    if (s.ok() && row) *n = ix.count_all.Int(0);
    ix.count_all.Reset();
    return s;
  }
  Status ResetKeyTables(const TableDef& def) override;

  static std::string KeyTableDdl(int64_t tid, int index, bool dup) {
    std::string name = "k" + std::to_string(tid) + "_" + std::to_string(index);
    return dup ? "CREATE TABLE " + name +
                     "(key BLOB NOT NULL, pos INTEGER NOT NULL, PRIMARY KEY(key,pos)) WITHOUT ROWID"
               : "CREATE TABLE " + name +
                     "(key BLOB NOT NULL PRIMARY KEY, pos INTEGER NOT NULL) WITHOUT ROWID";
  }

 private:
  struct Ix {
    bool dup = false;
    Stmt add, remove, count_range, count_all;
    Stmt seek[6][2];
  };
  void SetDef(const TableDef& def) {
    ix_.clear();
    ix_ = std::vector<Ix>(def.indexes.size());
    for (size_t i = 0; i < def.indexes.size(); ++i) ix_[i].dup = def.indexes[i].dup;
    count_keys_ = def.indexes.size();
  }
  std::string R() const { return "r" + std::to_string(tid_); }
  std::string K(int index) const { return "k" + std::to_string(tid_) + "_" + std::to_string(index); }

  sqlite3* db_;
  int64_t tid_;
  size_t count_keys_ = 0;
  Stmt insert_, update_, erase_, read_, count_;
  Stmt seek_rec_[6];
  std::vector<Ix> ix_;
};

Status ExecSql(sqlite3* db, const std::string& sql) {
  Status fault;
  if (StorageFaultHere(&fault)) return fault;
  char* err = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  sqlite3_free(err);
  return MapRc(rc, db);
}

Status SqliteTable::ResetKeyTables(const TableDef& def) {
  for (size_t i = 0; i < std::max(count_keys_, def.indexes.size()) + 1; ++i)
    VKT_ISAM_RETURN_IF_ERROR(ExecSql(db_, "DROP TABLE IF EXISTS " + K(static_cast<int>(i))));
  SetDef(def);
  for (size_t i = 0; i < def.indexes.size(); ++i)
    VKT_ISAM_RETURN_IF_ERROR(ExecSql(db_, KeyTableDdl(tid_, static_cast<int>(i), def.indexes[i].dup)));
  return {};
}

class SqliteStore : public Store {
 public:
  explicit SqliteStore(sqlite3* db) : db_(db) {}
  ~SqliteStore() override {
    if (in_write_) Rollback();
    stmts_.clear();
    // The last connection to close checkpoints the log into the database
    // file, so a closed folder is complete without its "-wal" file.
    sqlite3_close_v2(db_);
  }

  Status Init() {
    sqlite3_busy_timeout(db_, kBusyMs);
    sqlite3_extended_result_codes(db_, 1);
    VKT_ISAM_RETURN_IF_ERROR(ExecSql(db_, "PRAGMA journal_mode=WAL"));
    VKT_ISAM_RETURN_IF_ERROR(ExecSql(db_, "PRAGMA synchronous=FULL"));
    Stmt check;
    VKT_ISAM_RETURN_IF_ERROR(check.Prepare(db_, "SELECT count(*) FROM sqlite_master WHERE name='catalog'"));
    bool row = false;
    VKT_ISAM_RETURN_IF_ERROR(check.Step(&row));
    const bool present = row && check.Int(0) == 1;
    check.Reset();
    if (present) return {};
    VKT_ISAM_RETURN_IF_ERROR(BeginWrite());
    Status s = ExecSql(db_,
                       "CREATE TABLE IF NOT EXISTS catalog(name TEXT PRIMARY KEY, tid INTEGER NOT NULL "
                       "UNIQUE, meta BLOB NOT NULL);"
                       "CREATE TABLE IF NOT EXISTS counters(name TEXT PRIMARY KEY, value INTEGER);"
                       "CREATE TABLE IF NOT EXISTS resources(tid INTEGER, type INTEGER, number "
                       "INTEGER, name TEXT, image BLOB, PRIMARY KEY(tid,type,number));"
                       "CREATE TABLE IF NOT EXISTS history(seq INTEGER PRIMARY KEY, tid INTEGER, pos "
                       "INTEGER, txn INTEGER, time INTEGER, type INTEGER, user TEXT, station TEXT, "
                       "image BLOB);"
                       "CREATE INDEX IF NOT EXISTS history_pos ON history(tid,pos,seq);");
    if (!s.ok()) {
      Rollback();
      return s;
    }
    return Commit();
  }

  Status BeginWrite() override {
    if (in_write_) return {};
    VKT_ISAM_RETURN_IF_ERROR(ExecSql(db_, "BEGIN IMMEDIATE"));
    in_write_ = true;
    return {};
  }
  bool InWrite() const override {
    // A failed statement may have ended the transaction inside SQLite (a
    // full disk, an I/O error): then nothing is pending any more.
    return in_write_ && sqlite3_get_autocommit(db_) == 0;
  }
  Status Commit() override {
    if (!in_write_) return {};
    if (sqlite3_get_autocommit(db_) != 0) {
      in_write_ = false;
      return {CT_WRITE_ERROR, SQLITE_ABORT};
    }
    Status s = ExecSql(db_, "COMMIT");
    if (!s.ok()) {
      (void)ExecSql(db_, "ROLLBACK");
      in_write_ = false;
      return s;
    }
    in_write_ = false;
    return {};
  }
  void Rollback() override {
    if (!in_write_) return;
    if (sqlite3_get_autocommit(db_) == 0) {
      char* err = nullptr;
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, &err);
      sqlite3_free(err);
    }
    in_write_ = false;
  }
  Status Savepoint(const std::string& name) override { return ExecSql(db_, "SAVEPOINT " + name); }
  Status RollbackTo(const std::string& name) override {
    return ExecSql(db_, "ROLLBACK TO " + name);
  }
  Status Checkpoint() override {
    const int rc = sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    return MapRc(rc, db_);
  }
  Status Backup(const std::string& dest) override {
    sqlite3* out = nullptr;
    int rc = sqlite3_open_v2(dest.c_str(), &out, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_close_v2(out);
      return {CT_CREATE_FAILED, rc};
    }
    sqlite3_backup* b = sqlite3_backup_init(out, "main", db_, "main");
    if (b == nullptr) {
      Status s = MapRc(sqlite3_errcode(out), out);
      sqlite3_close_v2(out);
      return s;
    }
    do {
      rc = sqlite3_backup_step(b, 256);
      if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) sqlite3_sleep(5);
    } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
    sqlite3_backup_finish(b);
    Status s = rc == SQLITE_DONE ? Status{} : MapRc(rc, out);
    sqlite3_close_v2(out);
    return s;
  }

  Status LoadTable(const std::string& name, TableMeta* meta) override {
    Stmt& st = S("SELECT meta FROM catalog WHERE name=?1");
    VKT_ISAM_RETURN_IF_ERROR(Ready(st));
    st.BindText(1, name);
    bool row = false;
    Status s = st.Step(&row);
    std::string blob;
    if (s.ok() && row) blob = st.Blob(0);
    st.Reset();
    if (!s.ok()) return s;
    if (!row) return {CT_FILE_NOT_FOUND, ENOENT};
    if (!ParseMeta(blob, meta)) return {CT_NOT_ISAM_FILE, 0};
    return {};
  }
  Status CreateTable(TableMeta* meta) override {
    Stmt& next = S("INSERT INTO counters(name,value) VALUES('tid',1) "
                   "ON CONFLICT(name) DO UPDATE SET value=value+1 RETURNING value");
    VKT_ISAM_RETURN_IF_ERROR(Ready(next));
    bool row = false;
    Status s = next.Step(&row);
    if (s.ok() && row) meta->tid = next.Int(0);
    // RETURNING rows must be stepped to the end before the reset.
    while (s.ok() && row) s = next.Step(&row);
    next.Reset();
    VKT_ISAM_RETURN_IF_ERROR(s);
    VKT_ISAM_RETURN_IF_ERROR(ExecSql(db_, "CREATE TABLE r" + std::to_string(meta->tid) +
                                              "(pos INTEGER PRIMARY KEY, image BLOB NOT NULL)"));
    for (size_t i = 0; i < meta->def.indexes.size(); ++i)
      VKT_ISAM_RETURN_IF_ERROR(ExecSql(
          db_, SqliteTable::KeyTableDdl(meta->tid, static_cast<int>(i), meta->def.indexes[i].dup)));
    Stmt& ins = S("INSERT INTO catalog(name,tid,meta) VALUES(?1,?2,?3)");
    VKT_ISAM_RETURN_IF_ERROR(Ready(ins));
    std::string blob = SerializeMeta(*meta);
    ins.BindText(1, meta->name);
    ins.Bind(2, meta->tid);
    ins.Bind(3, blob);
    Status r = ins.Exec();
    if (r.code == CT_DUPLICATE_KEY) return {CT_FILE_EXISTS, EEXIST};
    return r;
  }
  Status SaveTable(const TableMeta& meta) override {
    Stmt& st = S("UPDATE catalog SET meta=?2 WHERE tid=?1");
    VKT_ISAM_RETURN_IF_ERROR(Ready(st));
    std::string blob = SerializeMeta(meta);
    st.Bind(1, meta.tid);
    st.Bind(2, blob);
    return st.Exec();
  }
  Status DropTable(const TableMeta& meta) override {
    const std::string t = std::to_string(meta.tid);
    VKT_ISAM_RETURN_IF_ERROR(ExecSql(db_, "DROP TABLE IF EXISTS r" + t));
    for (size_t i = 0; i <= meta.def.indexes.size(); ++i)
      VKT_ISAM_RETURN_IF_ERROR(ExecSql(db_, "DROP TABLE IF EXISTS k" + t + "_" + std::to_string(i)));
    VKT_ISAM_RETURN_IF_ERROR(ExecSql(db_, "DELETE FROM catalog WHERE tid=" + t +
                                              "; DELETE FROM resources WHERE tid=" + t));
    return {};
  }
  Status RenameTable(const TableMeta& meta, const std::string& new_name) override {
    TableMeta m = meta;
    m.name = new_name;
    Stmt& st = S("UPDATE catalog SET name=?2, meta=?3 WHERE tid=?1");
    VKT_ISAM_RETURN_IF_ERROR(Ready(st));
    std::string blob = SerializeMeta(m);
    st.Bind(1, meta.tid);
    st.BindText(2, new_name);
    st.Bind(3, blob);
    Status s = st.Exec();
    if (s.code == CT_DUPLICATE_KEY) return {CT_FILE_EXISTS, EEXIST};
    return s;
  }
  Status ListTables(std::vector<std::string>* names) override {
    Stmt& st = S("SELECT name FROM catalog ORDER BY name");
    VKT_ISAM_RETURN_IF_ERROR(Ready(st));
    names->clear();
    bool row = false;
    Status s;
    while ((s = st.Step(&row)).ok() && row) names->push_back(st.Text(0));
    st.Reset();
    return s;
  }
  Status OpenTable(const TableMeta& meta, std::unique_ptr<TableStore>* out) override {
    *out = std::make_unique<SqliteTable>(db_, meta);
    return {};
  }
  Status OpenLocks(const std::string& lock_path, std::unique_ptr<LockSpace>* out) override {
    int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return {errno == EACCES ? CT_CREATE_DENIED : CT_FILE_NOT_FOUND, errno};
    *out = std::make_unique<OfdLocks>(fd);
    return {};
  }

  Status FindResource(int64_t tid, int which, const Resource& key, Resource* out) override {
    static const char* const kSql[] = {
        "SELECT type,number,name,image FROM resources WHERE tid=?1 AND type=?2 AND number=?3",
        "SELECT type,number,name,image FROM resources WHERE tid=?1 AND name=?4 ORDER BY type,number LIMIT 1",
        "SELECT type,number,name,image FROM resources WHERE tid=?1 ORDER BY type,number LIMIT 1",
        "SELECT type,number,name,image FROM resources WHERE tid=?1 AND (type,number)>(?2,?3) "
        "ORDER BY type,number LIMIT 1"};
    if (which < 0 || which > 3) return CT_BAD_PARAMETER;
    Stmt& st = S(kSql[which]);
    VKT_ISAM_RETURN_IF_ERROR(Ready(st));
    st.Bind(1, tid);
    st.Bind(2, int64_t{key.type});
    st.Bind(3, int64_t{key.number});
    st.BindText(4, key.name);
    bool row = false;
    Status s = st.Step(&row);
    if (s.ok() && row) {
      out->type = static_cast<uint32_t>(st.Int(0));
      out->number = static_cast<uint32_t>(st.Int(1));
      out->name = st.Text(2);
      out->image = st.Blob(3);
    }
    st.Reset();
    if (!s.ok()) return s;
    return row ? Status{} : Status{CT_NOT_FOUND};
  }
  Status PutResource(int64_t tid, const Resource& res, bool replace) override {
    Stmt& st = replace ? S("UPDATE resources SET name=?4, image=?5 WHERE tid=?1 AND type=?2 AND number=?3")
                       : S("INSERT INTO resources(tid,type,number,name,image) VALUES(?1,?2,?3,?4,?5)");
    VKT_ISAM_RETURN_IF_ERROR(Ready(st));
    st.Bind(1, tid);
    st.Bind(2, int64_t{res.type});
    st.Bind(3, int64_t{res.number});
    st.BindText(4, res.name);
    st.Bind(5, res.image);
    VKT_ISAM_RETURN_IF_ERROR(st.Exec());
    if (replace && sqlite3_changes(db_) != 1) return CT_NOT_FOUND;
    return {};
  }
  Status EraseResource(int64_t tid, uint32_t type, uint32_t number) override {
    Stmt& st = S("DELETE FROM resources WHERE tid=?1 AND type=?2 AND number=?3");
    VKT_ISAM_RETURN_IF_ERROR(Ready(st));
    st.Bind(1, tid);
    st.Bind(2, int64_t{type});
    st.Bind(3, int64_t{number});
    VKT_ISAM_RETURN_IF_ERROR(st.Exec());
    return sqlite3_changes(db_) == 1 ? Status{} : Status{CT_NOT_FOUND};
  }
  Status NextResourceNumber(int64_t tid, uint32_t type, uint32_t* number) override {
    Stmt& st = S("SELECT coalesce(max(number),0)+1 FROM resources WHERE tid=?1 AND type=?2 AND number<4294967295");
    VKT_ISAM_RETURN_IF_ERROR(Ready(st));
    st.Bind(1, tid);
    st.Bind(2, int64_t{type});
    bool row = false;
    Status s = st.Step(&row);
    if (s.ok() && row) *number = static_cast<uint32_t>(st.Int(0));
    st.Reset();
    return s;
  }

  Status AddHistory(int64_t tid, const HistoryEntry& e) override {
    Stmt& st = S("INSERT INTO history(tid,pos,txn,time,type,user,station,image) "
                 "VALUES(?1,?2,?3,?4,?5,?6,?7,?8)");
    VKT_ISAM_RETURN_IF_ERROR(Ready(st));
    st.Bind(1, tid);
    st.Bind(2, e.pos);
    st.Bind(3, e.txn);
    st.Bind(4, e.time);
    st.Bind(5, int64_t{e.type});
    st.BindText(6, e.user);
    st.BindText(7, e.station);
    st.Bind(8, e.image);
    return st.Exec();
  }
  Status NextHistory(int64_t tid, int64_t pos, int64_t after_seq, int64_t since,
                     HistoryEntry* out) override {
    Stmt& st = pos >= 0 ? S("SELECT seq,txn,pos,time,type,user,station,image FROM history WHERE "
                            "tid=?1 AND pos=?2 AND seq>?3 AND time>=?4 ORDER BY seq LIMIT 1")
                        : S("SELECT seq,txn,pos,time,type,user,station,image FROM history WHERE "
                            "tid=?1 AND seq>?3 AND time>=?4 ORDER BY seq LIMIT 1");
    VKT_ISAM_RETURN_IF_ERROR(Ready(st));
    st.Bind(1, tid);
    if (pos >= 0) st.Bind(2, pos);
    st.Bind(3, after_seq);
    st.Bind(4, since);
    bool row = false;
    Status s = st.Step(&row);
    if (s.ok() && row) {
      out->seq = st.Int(0);
      out->txn = st.Int(1);
      out->pos = st.Int(2);
      out->time = st.Int(3);
      out->type = static_cast<int16_t>(st.Int(4));
      out->user = st.Text(5);
      out->station = st.Text(6);
      out->image = st.Blob(7);
    }
    st.Reset();
    if (!s.ok()) return s;
    return row ? Status{} : Status{CT_NOT_FOUND};
  }
  Status EraseHistory(int64_t tid) override {
    return ExecSql(db_, "DELETE FROM history WHERE tid=" + std::to_string(tid));
  }

 private:
  // Statements of the store itself, prepared once per SQL text.
  Stmt& S(const char* sql) {
    auto& slot = stmts_[sql];
    if (!slot) slot = std::make_unique<Stmt>();
    pending_sql_ = sql;
    return *slot;
  }
  Status Ready(Stmt& st) { return st.Prepare(db_, pending_sql_); }

  sqlite3* db_;
  bool in_write_ = false;
  std::map<std::string, std::unique_ptr<Stmt>> stmts_;
  std::string pending_sql_;
};

}  // namespace

Status OpenSqliteStore(const std::string& folder, std::unique_ptr<Store>* out) {
  sqlite3* db = nullptr;
  const std::string path = folder + "/isam.db";
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    Status s = MapRc(rc, db);
    sqlite3_close_v2(db);
    if (s.code == CT_FILE_NOT_FOUND) s.sys = errno != 0 ? errno : ENOENT;
    return s;
  }
  auto store = std::make_unique<SqliteStore>(db);
  // Several processes opening a new folder at once: switching it to WAL
  // and making its tables can answer busy without waiting in SQLite's busy
  // handler (it will not wait where waiting could deadlock). Wait here, as
  // the handler would, up to the same limit.
  Status s = store->Init();
  for (int waited = 0; s.code == CT_LOCKED && waited < kBusyMs; waited += 10) {
    if (store->InWrite()) store->Rollback();  // a commit that answered busy
    sqlite3_sleep(10);
    s = store->Init();
  }
  VKT_ISAM_RETURN_IF_ERROR(s);
  *out = std::move(store);
  return {};
}

void ArmStorageFault(int64_t nth, int16_t status, int32_t sys) {
  g_fault_status = status;
  g_fault_sys = sys;
  g_fault_countdown = nth;
}

void DisarmStorageFault() { g_fault_countdown = 0; }

bool StorageFaultHere(Status* fault) {
  if (g_fault_countdown.load(std::memory_order_relaxed) <= 0) return false;
  if (--g_fault_countdown != 0) return false;
  *fault = Status{g_fault_status.load(), g_fault_sys.load()};
  return true;
}

}  // namespace vkt::isam::detail
