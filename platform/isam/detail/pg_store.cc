// PostgreSQL backend of the storage seam: the records of many machines kept
// by one server.
//
// Layout: one schema per data folder, named "isam_" and a hash of the
// folder, listed in public.isam_folders; inside it the same tables as the
// local store (catalog, counters, resources, history, r<tid>, k<tid>_<n>)
// plus "files", the descriptors. Every name, key and image is bytea, so the
// Windows-1252 bytes pass untouched and keys order byte by byte as locally.
//
// Traps worth knowing:
// - A failed statement aborts the whole server transaction, where SQLite
//   only undoes the statement. So the expected refusals are not errors here:
//   a duplicate key is "ON CONFLICT DO NOTHING" with no row back, a rename
//   onto an existing name matches no row.
// - Record locks are session advisory locks, not transaction ones: the
//   client's locks outlive transactions (a lock taken outside one, a file
//   open), and it releases them itself. The server drops them with the
//   session, so a client killed leaves none behind. Several opens of a table
//   in one session share its connection; a local table arbitrates between
//   them, as the local backend's per-open locks do.
// - A position is the highest one plus one, as locally: the insert retries
//   when another transaction took the same one first.
// - The first key of a table's advisory locks is a number the server hands
//   out once per lock name (public.isam_lock_names), not a hash: two tables
//   must never share their locks.
#include <libpq-fe.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "isam/detail/store.h"
#include "win/services.h"

namespace vkt::isam::detail {
namespace {

constexpr const char* kLockTimeout = "3s";
constexpr int kInsertRetries = 50;
constexpr unsigned kOidInt8 = 20;
constexpr unsigned kOidBytea = 17;
// The advisory lock (one bigint key, a space apart from the two-key
// record locks) that serialises creating shared objects.
constexpr int64_t kCreateLockKey = 0x564B540000000000;

uint64_t Fnv64(std::string_view s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::string Quote(const std::string& ident) {
  std::string out = "\"";
  for (char c : ident) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// One argument of a statement: an integer (int8) or bytes (bytea).
struct Arg {
  bool is_int;
  int64_t i;
  std::string_view b;
  Arg(int64_t v) : is_int(true), i(v) {}                         // NOLINT
  Arg(std::string_view v) : is_int(false), i(0), b(v) {}         // NOLINT
  Arg(const std::string& v) : is_int(false), i(0), b(v) {}       // NOLINT
};

// A result in binary format.
class Result {
 public:
  Result() = default;
  explicit Result(PGresult* r) : r_(r) {}
  Result(Result&& o) noexcept : r_(o.r_) { o.r_ = nullptr; }
  Result& operator=(Result&& o) noexcept {
    std::swap(r_, o.r_);
    return *this;
  }
  ~Result() { PQclear(r_); }
  const PGresult* get() const { return r_; }
  int rows() const { return r_ != nullptr ? PQntuples(r_) : 0; }
  int64_t changed() const { return r_ != nullptr ? std::atoll(PQcmdTuples(r_)) : 0; }
  int64_t Int(int row, int col) const {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(PQgetvalue(r_, row, col));
    if (PQgetlength(r_, row, col) != 8) return 0;
    uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v = (v << 8) | p[k];
    return static_cast<int64_t>(v);
  }
  std::string Bytes(int row, int col) const {
    return std::string(PQgetvalue(r_, row, col), static_cast<size_t>(PQgetlength(r_, row, col)));
  }

 private:
  PGresult* r_ = nullptr;
};

// The connection of one store, shared by its tables and lock spaces (a
// lock space may outlive the store: a file block).
class Conn {
 public:
  Conn(PGconn* pg, std::string dsn) : pg_(pg), dsn_(std::move(dsn)) {}
  ~Conn() { PQfinish(pg_); }
  Conn(const Conn&) = delete;
  Conn& operator=(const Conn&) = delete;

  bool gone() const { return PQstatus(pg_) != CONNECTION_OK; }
  PGTransactionStatusType txn() const { return PQtransactionStatus(pg_); }
  int backend_pid() const { return PQbackendPID(pg_); }
  const std::string& dsn() const { return dsn_; }

  // A statement without arguments, in the simple protocol (utility
  // statements, several at once).
  Status Simple(const std::string& sql) {
    Status fault;
    if (StorageFaultHere(&fault)) return fault;
    Result r(PQexec(pg_, sql.c_str()));
    return Check(r);
  }

  // A statement prepared once per connection, run with binary arguments
  // and a binary result.
  Status Run(const std::string& sql, std::initializer_list<Arg> args, Result* out = nullptr) {
    Status fault;
    if (StorageFaultHere(&fault)) return fault;
    if (args.size() > kMaxArgs) return CT_BAD_PARAMETER;
    auto it = prepared_.find(sql);
    if (it == prepared_.end()) {
      std::string name = "s" + std::to_string(prepared_.size() + 1);
      unsigned types[kMaxArgs];
      size_t n = 0;
      for (const Arg& a : args) types[n++] = a.is_int ? kOidInt8 : kOidBytea;
      Result p(PQprepare(pg_, name.c_str(), sql.c_str(), static_cast<int>(n), types));
      VKT_ISAM_RETURN_IF_ERROR(Check(p));
      it = prepared_.emplace(sql, std::move(name)).first;
    }
    const char* values[kMaxArgs];
    int lengths[kMaxArgs];
    int formats[kMaxArgs];
    unsigned char ints[kMaxArgs][8];
    size_t n = 0;
    for (const Arg& a : args) {
      if (a.is_int) {
        uint64_t v = static_cast<uint64_t>(a.i);
        for (int k = 7; k >= 0; --k, v >>= 8) ints[n][k] = static_cast<unsigned char>(v);
        values[n] = reinterpret_cast<const char*>(ints[n]);
        lengths[n] = 8;
      } else {
        // libpq wants a pointer even for an empty value.
        values[n] = a.b.data() != nullptr ? a.b.data() : "";
        lengths[n] = static_cast<int>(a.b.size());
      }
      formats[n] = 1;
      ++n;
    }
    Result r(PQexecPrepared(pg_, it->second.c_str(), static_cast<int>(n), values, lengths, formats, 1));
    Status s = Check(r);
    if (s.ok() && out != nullptr) *out = std::move(r);
    return s;
  }

  // Statements prepared for tables dropped since must be prepared again.
  void ForgetPrepared() {
    (void)Simple("DEALLOCATE ALL");
    prepared_.clear();
  }

  // The local record-lock table: who among this session's lock spaces holds
  // what. The server lock is taken by the first holder, dropped by the last.
  struct Held {
    bool exclusive = false;
    std::vector<const void*> owners;
  };
  std::map<std::pair<int32_t, int32_t>, Held> held;

 private:
  static constexpr size_t kMaxArgs = 8;

  Status Check(const Result& r);

  PGconn* pg_;
  std::string dsn_;
  std::unordered_map<std::string, std::string> prepared_;
};

Status MapSqlState(const char* state, bool gone) {
  if (gone) return {CT_SERVER_GONE, ECONNRESET};
  const std::string st = state != nullptr ? state : "";
  if (st.rfind("08", 0) == 0 || st == "57P01" || st == "57P02" || st == "57P03")
    return {CT_SERVER_GONE, ECONNRESET};
  if (st.rfind("23", 0) == 0) return {CT_DUPLICATE_KEY, 0};
  if (st == "55P03" || st == "40P01" || st == "40001" || st == "57014") return {CT_LOCKED, EAGAIN};
  if (st == "53100") return {CT_WRITE_ERROR, ENOSPC};
  if (st.rfind("53", 0) == 0 || st == "25P02" || st.rfind("42", 0) == 0 || st == "22001")
    return {CT_WRITE_ERROR, EIO};
  return {CT_READ_ERROR, EIO};
}

Status Conn::Check(const Result& r) {
  const PGresult* res = r.get();
  if (res == nullptr) return {CT_SERVER_GONE, ECONNRESET};
  switch (PQresultStatus(res)) {
    case PGRES_COMMAND_OK:
    case PGRES_TUPLES_OK:
    case PGRES_EMPTY_QUERY:
      return {};
    default:
      return MapSqlState(PQresultErrorField(res, PG_DIAG_SQLSTATE), gone());
  }
}

Status NotFoundUnless(bool found) { return found ? Status{} : Status{CT_NOT_FOUND}; }

Status OpenConn(const std::string& dsn, std::unique_ptr<Conn>* out) {
  PGconn* pg = PQconnectdb(dsn.c_str());
  if (pg == nullptr) return {CT_SERVER_NOT_FOUND, ENOMEM};
  *out = std::make_unique<Conn>(pg, dsn);
  if (PQstatus(pg) != CONNECTION_OK) return {CT_SERVER_NOT_FOUND, ECONNREFUSED};
  // The server's notices (objects already there) are no business of the host.
  PQsetNoticeProcessor(pg, [](void*, const char*) {}, nullptr);
  return {};
}

// The number of lock name `name` on the server of `conn`, handed out once and
// committed at once: a number given inside a transaction that then rolled
// back could differ from the one another client is given. Names are never
// removed, so the numbers are kept for the life of the process.
std::mutex g_lock_names_mu;
std::map<std::pair<std::string, std::string>, int32_t> g_lock_names;

Status LockIdOf(Conn& conn, const std::string& name, int32_t* id) {
  std::mutex& mu = g_lock_names_mu;
  auto& known = g_lock_names;
  const auto key = std::make_pair(conn.dsn(), name);
  {
    std::lock_guard<std::mutex> l(mu);
    if (auto it = known.find(key); it != known.end()) {
      *id = it->second;
      return {};
    }
  }
  std::unique_ptr<Conn> own;
  Conn* c = &conn;
  if (conn.txn() != PQTRANS_IDLE) {
    VKT_ISAM_RETURN_IF_ERROR(OpenConn(conn.dsn(), &own));
    c = own.get();
  }
  Result have;
  VKT_ISAM_RETURN_IF_ERROR(c->Run("SELECT count(*) FROM pg_class WHERE oid=to_regclass('public.isam_lock_names')",
                                  {}, &have));
  if (have.rows() != 1 || have.Int(0, 0) == 0) {
    Status s = c->Simple("BEGIN; SELECT pg_advisory_xact_lock(" + std::to_string(kCreateLockKey) +
                         "); CREATE TABLE IF NOT EXISTS public.isam_lock_names(name bytea PRIMARY KEY, "
                         "id int4 GENERATED BY DEFAULT AS IDENTITY UNIQUE); COMMIT");
    if (!s.ok()) {
      (void)c->Simple("ROLLBACK");
      return s;
    }
  }
  // The insert's rows are not seen by the select beside it, and a name
  // committed by another client while the insert waited is seen by neither:
  // ask again then.
  for (int attempt = 0; attempt < 3; ++attempt) {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(
        c->Run("WITH made AS (INSERT INTO public.isam_lock_names(name) VALUES($1) ON CONFLICT(name) DO NOTHING "
               "RETURNING id) SELECT id::int8 FROM made UNION ALL "
               "SELECT id::int8 FROM public.isam_lock_names WHERE name=$1",
               {name}, &r));
    if (r.rows() >= 1) {
      *id = static_cast<int32_t>(r.Int(0, 0));
      std::lock_guard<std::mutex> l(mu);
      known[key] = *id;
      return {};
    }
  }
  return {CT_LOCKED, EAGAIN};
}

class PgLocks : public LockSpace {
 public:
  PgLocks(std::shared_ptr<Conn> conn, int32_t key) : conn_(std::move(conn)), key_(key) {}
  ~PgLocks() override {
    std::vector<int32_t> mine;
    for (auto& [k, h] : conn_->held)
      if (k.first == key_ && std::find(h.owners.begin(), h.owners.end(), this) != h.owners.end())
        mine.push_back(k.second);
    for (int32_t at : mine) Release(at);
  }

  Status LockFile(bool exclusive) override {
    Status s = Take(0, exclusive);
    return s.code == CT_LOCKED ? Status{CT_FILE_LOCKED, s.sys} : s;
  }
  void UnlockFile() override { Release(0); }
  Status LockRecord(int64_t pos, bool exclusive, int wait_ms) override {
    if (pos <= 0 || pos > INT32_MAX) return CT_BAD_PARAMETER;
    int waited = 0;
    for (;;) {
      Status s = Take(static_cast<int32_t>(pos), exclusive);
      if (s.code != CT_LOCKED || waited >= wait_ms) return s;
      vkt::services().Sleep(5);
      waited += 5;
    }
  }
  void UnlockRecord(int64_t pos) override {
    if (pos > 0 && pos <= INT32_MAX) Release(static_cast<int32_t>(pos));
  }
  bool LockedByOther(int64_t pos) override {
    if (pos <= 0 || pos > INT32_MAX) return false;
    auto it = conn_->held.find({key_, static_cast<int32_t>(pos)});
    if (it != conn_->held.end())
      for (const void* o : it->second.owners)
        if (o != this) return true;
    Result r;
    Status s = conn_->Run(
        "SELECT count(*) FROM pg_locks WHERE locktype='advisory' AND granted AND pid<>pg_backend_pid() "
        "AND classid=($1::int8 & 4294967295)::oid AND objid=$2::int8::oid AND objsubid=2",
        {int64_t{static_cast<uint32_t>(key_)}, pos}, &r);
    return s.ok() && r.rows() == 1 && r.Int(0, 0) > 0;
  }

 private:
  Status Take(int32_t at, bool exclusive) {
    auto& held = conn_->held;
    auto it = held.find({key_, at});
    if (it != held.end()) {
      Conn::Held& h = it->second;
      const bool mine = std::find(h.owners.begin(), h.owners.end(), this) != h.owners.end();
      if (mine && h.owners.size() == 1) {
        if (exclusive == h.exclusive || !exclusive) return {};
        // Sole shared holder wanting it exclusive: take the exclusive lock
        // too, then let the shared one go.
        VKT_ISAM_RETURN_IF_ERROR(Server(at, true, true));
        (void)Server(at, false, false);
        h.exclusive = true;
        return {};
      }
      if (mine) return exclusive && !h.exclusive ? Status{CT_LOCKED, EAGAIN} : Status{};
      if (exclusive || h.exclusive) return {CT_LOCKED, EAGAIN};
      h.owners.push_back(this);
      return {};
    }
    VKT_ISAM_RETURN_IF_ERROR(Server(at, exclusive, true));
    held[{key_, at}] = Conn::Held{exclusive, {this}};
    return {};
  }
  void Release(int32_t at) {
    auto& held = conn_->held;
    auto it = held.find({key_, at});
    if (it == held.end()) return;
    auto& owners = it->second.owners;
    auto me = std::find(owners.begin(), owners.end(), this);
    if (me == owners.end()) return;
    owners.erase(me);
    if (!owners.empty()) return;
    (void)Server(at, it->second.exclusive, false);
    held.erase(it);
  }
  // Takes (try, no wait) or releases the server's lock of (key, at).
  Status Server(int32_t at, bool exclusive, bool take) {
    static const char* const kSql[2][2] = {
        {"SELECT pg_advisory_unlock_shared($1::int4,$2::int4)", "SELECT pg_try_advisory_lock_shared($1::int4,$2::int4)"},
        {"SELECT pg_advisory_unlock($1::int4,$2::int4)", "SELECT pg_try_advisory_lock($1::int4,$2::int4)"}};
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(conn_->Run(kSql[exclusive][take], {int64_t{key_}, int64_t{at}}, &r));
    // bool in binary: one byte.
    const bool got = r.rows() == 1 && r.Bytes(0, 0) == std::string(1, '\1');
    if (take && !got) return {CT_LOCKED, EAGAIN};
    return {};
  }

  std::shared_ptr<Conn> conn_;
  int32_t key_;
};

class PgTable : public TableStore {
 public:
  PgTable(std::shared_ptr<Conn> conn, const TableMeta& meta) : c_(std::move(conn)), tid_(meta.tid) {
    SetDef(meta.def);
    const std::string r = R();
    insert_ = "INSERT INTO " + r + "(pos,image) SELECT coalesce(max(pos),0)+1,$1 FROM " + r +
              " ON CONFLICT(pos) DO NOTHING RETURNING pos";
    update_ = "UPDATE " + r + " SET image=$2 WHERE pos=$1";
    erase_ = "DELETE FROM " + r + " WHERE pos=$1";
    read_ = "SELECT image FROM " + r + " WHERE pos=$1";
    count_ = "SELECT count(*) FROM " + r;
    static const char* const kWhere[] = {"", "", " WHERE pos>=$1", " WHERE pos>$1", " WHERE pos<=$1",
                                         " WHERE pos<$1"};
    for (int h = 0; h < 6; ++h) {
      const bool desc = h == 1 || h >= 4;
      seek_rec_[h] = "SELECT pos,image FROM " + r + kWhere[h] + (desc ? " ORDER BY pos DESC" : " ORDER BY pos") +
                     " LIMIT 1";
    }
  }

  Status Insert(std::string_view image, int64_t* pos) override {
    for (int attempt = 0; attempt < kInsertRetries; ++attempt) {
      Result r;
      VKT_ISAM_RETURN_IF_ERROR(c_->Run(insert_, {image}, &r));
      if (r.rows() == 1) {
        *pos = r.Int(0, 0);
        return {};
      }
    }
    return {CT_LOCKED, EAGAIN};
  }
  Status Update(int64_t pos, std::string_view image) override {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run(update_, {pos, image}, &r));
    return r.changed() == 1 ? Status{} : Status{CT_RECORD_DELETED};
  }
  Status Erase(int64_t pos) override {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run(erase_, {pos}, &r));
    return r.changed() == 1 ? Status{} : Status{CT_RECORD_DELETED};
  }
  Status Read(int64_t pos, std::string* image) override {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run(read_, {pos}, &r));
    if (r.rows() == 1) *image = r.Bytes(0, 0);
    return NotFoundUnless(r.rows() == 1);
  }
  Status SeekRecord(Seek how, int64_t from, int64_t* pos, std::string* image) override {
    const int h = static_cast<int>(how);
    Result r;
    if (h >= 2)
      VKT_ISAM_RETURN_IF_ERROR(c_->Run(seek_rec_[h], {from}, &r));
    else
      VKT_ISAM_RETURN_IF_ERROR(c_->Run(seek_rec_[h], {}, &r));
    if (r.rows() == 1) {
      *pos = r.Int(0, 0);
      if (image != nullptr) *image = r.Bytes(0, 1);
    }
    return NotFoundUnless(r.rows() == 1);
  }
  Status CountRecords(int64_t* n) override {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run(count_, {}, &r));
    *n = r.rows() == 1 ? r.Int(0, 0) : 0;
    return {};
  }
  Status AddKey(int index, std::string_view key, int64_t pos) override {
    Ix& ix = ix_[static_cast<size_t>(index)];
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run(ix.add, {key, pos}, &r));
    return r.changed() == 1 ? Status{} : Status{CT_DUPLICATE_KEY};
  }
  Status RemoveKey(int index, std::string_view key, int64_t pos) override {
    return c_->Run(ix_[static_cast<size_t>(index)].remove, {key, pos});
  }
  Status SeekKey(int index, Seek how, std::string_view key, int64_t pos, KeyEntry* out,
                 std::string* image) override {
    Ix& ix = ix_[static_cast<size_t>(index)];
    const int h = static_cast<int>(how);
    const bool with_image = image != nullptr;
    const std::string& sql = ix.seek[h][with_image];
    Result r;
    if (h < 2)
      VKT_ISAM_RETURN_IF_ERROR(c_->Run(sql, {}, &r));
    else if (ix.dup)
      VKT_ISAM_RETURN_IF_ERROR(c_->Run(sql, {key, pos}, &r));
    else
      VKT_ISAM_RETURN_IF_ERROR(c_->Run(sql, {key}, &r));
    if (r.rows() == 1) {
      out->key = r.Bytes(0, 0);
      out->pos = r.Int(0, 1);
      if (with_image) *image = r.Bytes(0, 2);
    }
    return NotFoundUnless(r.rows() == 1);
  }
  Status CountKeys(int index, std::string_view lo, std::string_view hi, int64_t* n) override {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run(ix_[static_cast<size_t>(index)].count_range, {lo, hi}, &r));
    *n = r.rows() == 1 ? r.Int(0, 0) : 0;
    return {};
  }
  Status CountAllKeys(int index, int64_t* n) override {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run(ix_[static_cast<size_t>(index)].count_all, {}, &r));
    *n = r.rows() == 1 ? r.Int(0, 0) : 0;
    return {};
  }
  Status ResetKeyTables(const TableDef& def) override {
    for (size_t i = 0; i < std::max(ix_.size(), def.indexes.size()) + 1; ++i)
      VKT_ISAM_RETURN_IF_ERROR(c_->Simple("DROP TABLE IF EXISTS " + K(static_cast<int>(i))));
    c_->ForgetPrepared();
    SetDef(def);
    for (size_t i = 0; i < def.indexes.size(); ++i)
      VKT_ISAM_RETURN_IF_ERROR(c_->Simple(KeyTableDdl(tid_, static_cast<int>(i), def.indexes[i].dup)));
    return {};
  }

  static std::string KeyTableDdl(int64_t tid, int index, bool dup) {
    const std::string name = "k" + std::to_string(tid) + "_" + std::to_string(index);
    return dup ? "CREATE TABLE " + name + "(key bytea NOT NULL, pos int8 NOT NULL, PRIMARY KEY(key,pos))"
               : "CREATE TABLE " + name + "(key bytea NOT NULL PRIMARY KEY, pos int8 NOT NULL)";
  }

 private:
  struct Ix {
    bool dup = false;
    std::string add, remove, count_range, count_all;
    std::string seek[6][2];
  };
  void SetDef(const TableDef& def) {
    ix_ = std::vector<Ix>(def.indexes.size());
    for (size_t i = 0; i < def.indexes.size(); ++i) {
      Ix& ix = ix_[i];
      ix.dup = def.indexes[i].dup;
      const std::string k = K(static_cast<int>(i));
      ix.add = "INSERT INTO " + k + "(key,pos) VALUES($1,$2) ON CONFLICT DO NOTHING";
      ix.remove = "DELETE FROM " + k + " WHERE key=$1 AND pos=$2";
      ix.count_range = "SELECT count(*) FROM " + k + " WHERE key>=$1 AND key<=$2";
      ix.count_all = "SELECT count(*) FROM " + k;
      static const char* const kOp[] = {"", "", ">=", ">", "<=", "<"};
      for (int h = 0; h < 6; ++h) {
        const bool desc = h == 1 || h >= 4;
        std::string cond;
        if (h >= 2)
          cond = ix.dup ? std::string(" WHERE (k.key,k.pos)") + kOp[h] + "($1,$2)"
                        : std::string(" WHERE k.key") + kOp[h] + "$1";
        const std::string order = ix.dup ? (desc ? " ORDER BY k.key DESC,k.pos DESC" : " ORDER BY k.key,k.pos")
                                         : (desc ? " ORDER BY k.key DESC" : " ORDER BY k.key");
        ix.seek[h][0] = "SELECT k.key,k.pos FROM " + k + " AS k" + cond + order + " LIMIT 1";
        ix.seek[h][1] = "SELECT k.key,k.pos,r.image FROM " + k + " AS k JOIN " + R() +
                        " AS r ON r.pos=k.pos" + cond + order + " LIMIT 1";
      }
    }
  }
  std::string R() const { return "r" + std::to_string(tid_); }
  std::string K(int index) const { return "k" + std::to_string(tid_) + "_" + std::to_string(index); }

  std::shared_ptr<Conn> c_;
  int64_t tid_;
  std::string insert_, update_, erase_, read_, count_;
  std::string seek_rec_[6];
  std::vector<Ix> ix_;
};

class PgStore : public Store {
 public:
  PgStore(std::shared_ptr<Conn> conn, std::string folder) : c_(std::move(conn)), folder_(std::move(folder)) {}
  ~PgStore() override {
    if (in_write_) Rollback();
  }

  Status BeginWrite() override {
    if (in_write_) return {};
    if (c_->gone()) return {CT_SERVER_GONE, ECONNRESET};
    VKT_ISAM_RETURN_IF_ERROR(c_->Simple("BEGIN"));
    in_write_ = true;
    return {};
  }
  bool InWrite() const override { return in_write_ && c_->txn() == PQTRANS_INTRANS; }
  Status Commit() override {
    if (!in_write_) return {};
    in_write_ = false;
    if (c_->txn() != PQTRANS_INTRANS) {
      // A failed statement aborted the transaction on the server.
      Status gone = c_->gone() ? Status{CT_SERVER_GONE, ECONNRESET} : Status{CT_WRITE_ERROR, EIO};
      (void)c_->Simple("ROLLBACK");
      return gone;
    }
    Status s = c_->Simple("COMMIT");
    // Never leave the server inside a transaction the client thinks ended.
    if (!s.ok() && c_->txn() != PQTRANS_IDLE && !c_->gone()) (void)c_->Simple("ROLLBACK");
    return s;
  }
  void Rollback() override {
    if (!in_write_) return;
    in_write_ = false;
    if (c_->txn() != PQTRANS_IDLE && !c_->gone()) (void)c_->Simple("ROLLBACK");
  }
  Status Savepoint(const std::string& name) override { return c_->Simple("SAVEPOINT " + name); }
  Status RollbackTo(const std::string& name) override {
    return c_->Simple("ROLLBACK TO SAVEPOINT " + name);
  }
  // A server's folder is saved by the server's own tools.
  Status Backup(const std::string&) override { return CT_NOT_SUPPORTED; }

  Status LoadTable(const std::string& name, TableMeta* meta) override {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run("SELECT meta FROM catalog WHERE name=$1", {name}, &r));
    if (r.rows() != 1) return {CT_FILE_NOT_FOUND, ENOENT};
    if (!ParseMeta(r.Bytes(0, 0), meta)) return {CT_NOT_ISAM_FILE, 0};
    return {};
  }
  Status CreateTable(TableMeta* meta) override {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(
        c_->Run("INSERT INTO counters(name,value) VALUES('tid',1) ON CONFLICT(name) DO UPDATE SET "
                "value=counters.value+1 RETURNING value",
                {}, &r));
    if (r.rows() != 1) return {CT_WRITE_ERROR, EIO};
    meta->tid = r.Int(0, 0);
    VKT_ISAM_RETURN_IF_ERROR(
        c_->Simple("CREATE TABLE r" + std::to_string(meta->tid) + "(pos int8 PRIMARY KEY, image bytea NOT NULL)"));
    for (size_t i = 0; i < meta->def.indexes.size(); ++i)
      VKT_ISAM_RETURN_IF_ERROR(
          c_->Simple(PgTable::KeyTableDdl(meta->tid, static_cast<int>(i), meta->def.indexes[i].dup)));
    Result ins;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run("INSERT INTO catalog(name,tid,meta) VALUES($1,$2,$3) ON CONFLICT DO NOTHING",
                                     {meta->name, meta->tid, SerializeMeta(*meta)}, &ins));
    return ins.changed() == 1 ? Status{} : Status{CT_FILE_EXISTS, EEXIST};
  }
  Status SaveTable(const TableMeta& meta) override {
    return c_->Run("UPDATE catalog SET meta=$2 WHERE tid=$1", {meta.tid, SerializeMeta(meta)});
  }
  Status DropTable(const TableMeta& meta) override {
    const std::string t = std::to_string(meta.tid);
    std::string sql = "DROP TABLE IF EXISTS r" + t;
    for (size_t i = 0; i <= meta.def.indexes.size(); ++i) sql += ", k" + t + "_" + std::to_string(i);
    VKT_ISAM_RETURN_IF_ERROR(c_->Simple(sql));
    c_->ForgetPrepared();
    return c_->Simple("DELETE FROM catalog WHERE tid=" + t + "; DELETE FROM resources WHERE tid=" + t);
  }
  Status RenameTable(const TableMeta& meta, const std::string& new_name) override {
    TableMeta m = meta;
    m.name = new_name;
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run("UPDATE catalog SET name=$2, meta=$3 WHERE tid=$1 AND NOT EXISTS "
                                     "(SELECT 1 FROM catalog WHERE name=$2)",
                                     {meta.tid, new_name, SerializeMeta(m)}, &r));
    return r.changed() == 1 ? Status{} : Status{CT_FILE_EXISTS, EEXIST};
  }
  Status ListTables(std::vector<std::string>* names) override {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run("SELECT name FROM catalog ORDER BY name", {}, &r));
    names->clear();
    for (int i = 0; i < r.rows(); ++i) names->push_back(r.Bytes(i, 0));
    return {};
  }
  Status OpenTable(const TableMeta& meta, std::unique_ptr<TableStore>* out) override {
    *out = std::make_unique<PgTable>(c_, meta);
    return {};
  }
  Status OpenLocks(const std::string& lock_path, std::unique_ptr<LockSpace>* out) override {
    // The first key of the table's advisory locks; the second is the
    // position, 0 the file.
    int32_t key = 0;
    VKT_ISAM_RETURN_IF_ERROR(LockIdOf(*c_, lock_path, &key));
    *out = std::make_unique<PgLocks>(c_, key);
    return {};
  }

  Status FindResource(int64_t tid, int which, const Resource& key, Resource* out) override {
    static const char* const kSql[] = {
        "SELECT type,number,name,image FROM resources WHERE tid=$1 AND type=$2 AND number=$3 AND $4=$4",
        "SELECT type,number,name,image FROM resources WHERE tid=$1 AND name=$4 AND $2=$2 AND $3=$3 "
        "ORDER BY type,number LIMIT 1",
        "SELECT type,number,name,image FROM resources WHERE tid=$1 AND $2=$2 AND $3=$3 AND $4=$4 "
        "ORDER BY type,number LIMIT 1",
        "SELECT type,number,name,image FROM resources WHERE tid=$1 AND (type,number)>($2,$3) AND $4=$4 "
        "ORDER BY type,number LIMIT 1"};
    if (which < 0 || which > 3) return CT_BAD_PARAMETER;
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(
        c_->Run(kSql[which], {tid, int64_t{key.type}, int64_t{key.number}, key.name}, &r));
    if (r.rows() == 1) {
      out->type = static_cast<uint32_t>(r.Int(0, 0));
      out->number = static_cast<uint32_t>(r.Int(0, 1));
      out->name = r.Bytes(0, 2);
      out->image = r.Bytes(0, 3);
    }
    return NotFoundUnless(r.rows() == 1);
  }
  Status PutResource(int64_t tid, const Resource& res, bool replace) override {
    Result r;
    if (replace) {
      VKT_ISAM_RETURN_IF_ERROR(
          c_->Run("UPDATE resources SET name=$4, image=$5 WHERE tid=$1 AND type=$2 AND number=$3",
                  {tid, int64_t{res.type}, int64_t{res.number}, res.name, res.image}, &r));
      return r.changed() == 1 ? Status{} : Status{CT_NOT_FOUND};
    }
    VKT_ISAM_RETURN_IF_ERROR(c_->Run("INSERT INTO resources(tid,type,number,name,image) "
                                     "VALUES($1,$2,$3,$4,$5) ON CONFLICT DO NOTHING",
                                     {tid, int64_t{res.type}, int64_t{res.number}, res.name, res.image}, &r));
    return r.changed() == 1 ? Status{} : Status{CT_DUPLICATE_KEY};
  }
  Status EraseResource(int64_t tid, uint32_t type, uint32_t number) override {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run("DELETE FROM resources WHERE tid=$1 AND type=$2 AND number=$3",
                                     {tid, int64_t{type}, int64_t{number}}, &r));
    return r.changed() == 1 ? Status{} : Status{CT_NOT_FOUND};
  }
  Status NextResourceNumber(int64_t tid, uint32_t type, uint32_t* number) override {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run("SELECT coalesce(max(number),0)+1 FROM resources WHERE tid=$1 AND "
                                     "type=$2 AND number<4294967295",
                                     {tid, int64_t{type}}, &r));
    *number = r.rows() == 1 ? static_cast<uint32_t>(r.Int(0, 0)) : 1;
    return {};
  }

  Status AddHistory(int64_t tid, const HistoryEntry& e) override {
    return c_->Run("INSERT INTO history(tid,pos,txn,time,type,usr,station,image) "
                   "VALUES($1,$2,$3,$4,$5,$6,$7,$8)",
                   {tid, e.pos, e.txn, e.time, int64_t{e.type}, e.user, e.station, e.image});
  }
  Status NextHistory(int64_t tid, int64_t pos, int64_t after_seq, int64_t since,
                     HistoryEntry* out) override {
    Result r;
    if (pos >= 0)
      VKT_ISAM_RETURN_IF_ERROR(c_->Run("SELECT seq,txn,pos,time,type,usr,station,image FROM history WHERE "
                                       "tid=$1 AND pos=$2 AND seq>$3 AND time>=$4 ORDER BY seq LIMIT 1",
                                       {tid, pos, after_seq, since}, &r));
    else
      VKT_ISAM_RETURN_IF_ERROR(c_->Run("SELECT seq,txn,pos,time,type,usr,station,image FROM history WHERE "
                                       "tid=$1 AND seq>$2 AND time>=$3 ORDER BY seq LIMIT 1",
                                       {tid, after_seq, since}, &r));
    if (r.rows() == 1) {
      out->seq = r.Int(0, 0);
      out->txn = r.Int(0, 1);
      out->pos = r.Int(0, 2);
      out->time = r.Int(0, 3);
      out->type = static_cast<int16_t>(r.Int(0, 4));
      out->user = r.Bytes(0, 5);
      out->station = r.Bytes(0, 6);
      out->image = r.Bytes(0, 7);
    }
    return NotFoundUnless(r.rows() == 1);
  }
  Status EraseHistory(int64_t tid) override { return c_->Run("DELETE FROM history WHERE tid=$1", {tid}); }

  Status ReadDescriptorAt(const std::string& path, Descriptor* d) override {
    Result r;
    VKT_ISAM_RETURN_IF_ERROR(c_->Run("SELECT image FROM files WHERE name=$1", {FileName(path)}, &r));
    if (r.rows() != 1) return {CT_FILE_NOT_FOUND, ENOENT};
    return ParseDescriptor(r.Bytes(0, 0), d);
  }
  Status WriteDescriptorAt(const std::string& path, const Descriptor& d) override {
    return c_->Run("INSERT INTO files(name,image) VALUES($1,$2) ON CONFLICT(name) DO UPDATE SET image=$2",
                   {FileName(path), FormatDescriptor(d)});
  }
  Status RemoveDescriptorAt(const std::string& path) override {
    return c_->Run("DELETE FROM files WHERE name=$1", {FileName(path)});
  }

 private:
  // Files of the folder by their name in it; others by their whole path.
  std::string FileName(const std::string& path) const {
    if (path.size() > folder_.size() + 1 && path.compare(0, folder_.size(), folder_) == 0 &&
        path[folder_.size()] == '/')
      return path.substr(folder_.size() + 1);
    return path;
  }

  std::shared_ptr<Conn> c_;
  std::string folder_;
  bool in_write_ = false;
};

constexpr const char* kFolderTables =
    "CREATE TABLE catalog(name bytea PRIMARY KEY, tid int8 NOT NULL UNIQUE, meta bytea NOT NULL);"
    "CREATE TABLE counters(name text PRIMARY KEY, value int8);"
    "CREATE TABLE resources(tid int8, type int8, number int8, name bytea, image bytea, "
    "PRIMARY KEY(tid,type,number));"
    "CREATE TABLE history(seq bigserial PRIMARY KEY, tid int8, pos int8, txn int8, time int8, type int8, "
    "usr bytea, station bytea, image bytea);"
    "CREATE INDEX history_pos ON history(tid,pos,seq);"
    "CREATE TABLE files(name bytea PRIMARY KEY, image bytea NOT NULL);";

}  // namespace

void ForgetPgLockNames() {
  std::lock_guard<std::mutex> l(g_lock_names_mu);
  g_lock_names.clear();
}

std::string PgSchemaOfFolder(const std::string& folder) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Fnv64(folder)));
  return std::string("isam_") + hex;
}

Status PingPgServer(const std::string& dsn) {
  PGconn* pg = PQconnectdb(dsn.c_str());
  const bool ok = pg != nullptr && PQstatus(pg) == CONNECTION_OK;
  PQfinish(pg);
  return ok ? Status{} : Status{CT_SERVER_NOT_FOUND, ECONNREFUSED};
}

Status OpenPgStore(const std::string& dsn, const std::string& folder, std::unique_ptr<Store>* out) {
  std::unique_ptr<Conn> made;
  VKT_ISAM_RETURN_IF_ERROR(OpenConn(dsn, &made));
  std::shared_ptr<Conn> conn = std::move(made);
  const std::string schema = PgSchemaOfFolder(folder);
  VKT_ISAM_RETURN_IF_ERROR(conn->Simple(std::string("SET lock_timeout='") + kLockTimeout +
                                        "'; SET client_min_messages=warning"));
  Result have;
  VKT_ISAM_RETURN_IF_ERROR(conn->Run("SELECT count(*) FROM pg_namespace WHERE nspname=convert_from($1,'UTF8')",
                                     {schema}, &have));
  if (have.rows() != 1 || have.Int(0, 0) == 0) {
    // Made whole or not at all, one creator at a time.
    VKT_ISAM_RETURN_IF_ERROR(conn->Simple("BEGIN"));
    Status s = conn->Simple("SELECT pg_advisory_xact_lock(" + std::to_string(kCreateLockKey) +
                            "); CREATE TABLE IF NOT EXISTS public.isam_folders(path bytea PRIMARY KEY, "
                            "schema text NOT NULL)");
    Result again;
    if (s.ok())
      s = conn->Run("SELECT count(*) FROM pg_namespace WHERE nspname=convert_from($1,'UTF8')", {schema},
                    &again);
    if (s.ok() && again.rows() == 1 && again.Int(0, 0) == 0) {
      s = conn->Simple("CREATE SCHEMA " + Quote(schema) + "; SET LOCAL search_path TO " + Quote(schema) + "; " +
                       kFolderTables);
      if (s.ok())
        s = conn->Run("INSERT INTO public.isam_folders(path,schema) VALUES($1,convert_from($2,'UTF8')) "
                      "ON CONFLICT(path) DO NOTHING",
                      {folder, schema});
    }
    s = s.ok() ? conn->Simple("COMMIT") : s;
    if (!s.ok()) {
      (void)conn->Simple("ROLLBACK");
      return s;
    }
  }
  VKT_ISAM_RETURN_IF_ERROR(conn->Simple("SET search_path TO " + Quote(schema)));
  *out = std::make_unique<PgStore>(std::move(conn), folder);
  return {};
}

}  // namespace vkt::isam::detail
