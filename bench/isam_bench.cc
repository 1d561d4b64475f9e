// The ISAM client against raw SQLite doing the same work with the same
// durability (WAL, synchronous=FULL, prepared statements, a record table and
// a key table), and the physical floor of a durable commit. Then the client
// on a PostgreSQL server's folder against libpq sending the very statements
// the client sends for the same work: what the client itself costs there.
//
//   isam_bench [--benchmark_filter=CommitEach]     (folder: $VKT_BENCH_DIR or /tmp)
//   VKT_PG_DSN="host=... user=... password=... dbname=..." isam_bench --benchmark_filter='Pg|Libpq'
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "isam/ctree.h"
#include "isam/detail/store.h"

namespace {

constexpr int kRecLen = 128;
constexpr int kKeyLen = 10;
constexpr int kReadRecords = 100000;
constexpr int kTxnRecords = 10000;

std::string NewDir(const char* tag) {
  const char* base = std::getenv("VKT_BENCH_DIR");
  std::string tmpl = std::string(base != nullptr ? base : "/tmp") + "/isam_bench_" + tag + "_XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  return mkdtemp(buf.data()) != nullptr ? std::string(buf.data()) : std::string();
}

void MakeRecord(uint64_t n, char* rec, char* key) {
  std::memset(rec, 'x', kRecLen);
  std::snprintf(key, kKeyLen + 1, "%010llu", static_cast<unsigned long long>(n));
  std::memcpy(rec, key, kKeyLen);
}

// --- ISAM side ----------------------------------------------------------------

// One table of 128-byte records with one unique 10-byte key, made in the
// session the table of a kind (local folder, server folder) has opened.
struct IsamTable {
  ISEG seg{0, kKeyLen, CT_SEG_BYTES};
  IIDX ix{kKeyLen, 0, 0, 0, 0, 1, &seg, nullptr, nullptr, nullptr, nullptr};
  std::string stem;
  ifil4 ifil{};

  void Create(std::string at) {
    stem = std::move(at);
    ifil.pfilnam = stem.data();
    ifil.dfilno = -1;
    ifil.dreclen = kRecLen;
    ifil.dfilmod = CT_MODE_SHARED;
    ifil.ifilmod = CT_MODE_SHARED;
    ifil.dnumidx = 1;
    ifil.ix = &ix;
    if (CreateIFileXtd(&ifil, nullptr, nullptr, 0, nullptr, nullptr) != 0) std::abort();
  }
  int32_t dat() const { return ifil.tfilno; }
  void Fill(int n) {
    char rec[kRecLen], key[16];
    Begin(50);
    for (int i = 0; i < n; ++i) {
      MakeRecord(static_cast<uint64_t>(i), rec, key);
      if (AddRecord(dat(), rec) != 0) std::abort();
    }
    if (Commit(0) != 0) std::abort();
  }
};

// The four works, the same calls whatever keeps the table.
void InsertTxnWork(benchmark::State& state, IsamTable& t, int per_txn) {
  uint64_t n = 0;
  char rec[kRecLen], key[16];
  for (auto _ : state) {
    Begin(50);
    for (int i = 0; i < per_txn; ++i) {
      MakeRecord(n++, rec, key);
      if (AddRecord(t.dat(), rec) != 0) std::abort();
    }
    if (Commit(0) != 0) std::abort();
  }
  state.SetItemsProcessed(state.iterations() * per_txn);
}

void PointReadWork(benchmark::State& state, IsamTable& t, int records) {
  t.Fill(records);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> pick(0, records - 1);
  char rec[kRecLen], key[16], out[kRecLen] = {};
  for (auto _ : state) {
    MakeRecord(static_cast<uint64_t>(pick(rng)), rec, key);
    if (GetRecord(t.dat() + 1, TransformKey(t.dat() + 1, key), out) != 0) std::abort();
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(state.iterations());
}

void OrderedScanWork(benchmark::State& state, IsamTable& t, int records) {
  t.Fill(records);
  char out[kRecLen] = {};
  if (FirstRecord(t.dat() + 1, out) != 0) std::abort();
  for (auto _ : state) {
    if (NextRecord(t.dat() + 1, out) != 0 && FirstRecord(t.dat() + 1, out) != 0) std::abort();
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(state.iterations());
}

void CommitEachWork(benchmark::State& state, IsamTable& t) {
  uint64_t n = 0;
  char rec[kRecLen], key[16];
  for (auto _ : state) {
    MakeRecord(n++, rec, key);
    Begin(50);
    if (AddRecord(t.dat(), rec) != 0) std::abort();
    if (Commit(0) != 0) std::abort();
  }
  state.SetItemsProcessed(state.iterations());
}

// The table in a local folder of its own.
struct LocalIsamTable : IsamTable {
  std::string dir;
  explicit LocalIsamTable(const char* tag) : dir(NewDir(tag)) {
    InitISAMXtd(15, 64, 16, 15, 1, "bench", "", "");
    Create(dir + "/bench");
  }
  ~LocalIsamTable() {
    CloseISAM();
    std::filesystem::remove_all(dir);
  }
};

void BM_Isam_InsertTxn(benchmark::State& state) {
  LocalIsamTable t("ii");
  InsertTxnWork(state, t, kTxnRecords);
}

void BM_Isam_PointRead(benchmark::State& state) {
  LocalIsamTable t("ip");
  PointReadWork(state, t, kReadRecords);
}

void BM_Isam_OrderedScan(benchmark::State& state) {
  LocalIsamTable t("is");
  OrderedScanWork(state, t, kReadRecords);
}

void BM_Isam_CommitEach(benchmark::State& state) {
  LocalIsamTable t("ic");
  CommitEachWork(state, t);
}

// --- Raw SQLite side -----------------------------------------------------------

struct RawTable {
  std::string dir;
  sqlite3* db = nullptr;
  sqlite3_stmt *ins_rec = nullptr, *ins_key = nullptr, *get = nullptr, *scan = nullptr;
  sqlite3_stmt *begin = nullptr, *commit = nullptr;

  explicit RawTable(const char* tag) : dir(NewDir(tag)) {
    sqlite3_open((dir + "/raw.db").c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                 "CREATE TABLE rec(pos INTEGER PRIMARY KEY, image BLOB NOT NULL);"
                 "CREATE TABLE key(key BLOB NOT NULL PRIMARY KEY, pos INTEGER NOT NULL) WITHOUT ROWID;",
                 nullptr, nullptr, nullptr);
    Prep("INSERT INTO rec(image) VALUES(?1)", &ins_rec);
    Prep("INSERT INTO key(key,pos) VALUES(?1,?2)", &ins_key);
    Prep("SELECT r.image FROM key AS k CROSS JOIN rec AS r ON r.pos=k.pos WHERE k.key=?1", &get);
    Prep("SELECT k.key,r.image FROM key AS k CROSS JOIN rec AS r ON r.pos=k.pos WHERE k.key>?1 "
         "ORDER BY k.key LIMIT 1",
         &scan);
    Prep("BEGIN IMMEDIATE", &begin);
    Prep("COMMIT", &commit);
  }
  ~RawTable() {
    for (sqlite3_stmt* s : {ins_rec, ins_key, get, scan, begin, commit}) sqlite3_finalize(s);
    sqlite3_close(db);
    std::filesystem::remove_all(dir);
  }
  void Prep(const char* sql, sqlite3_stmt** st) {
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, st, nullptr) != SQLITE_OK) std::abort();
  }
  static void Run(sqlite3_stmt* st) {
    if (sqlite3_step(st) != SQLITE_DONE) std::abort();
    sqlite3_reset(st);
  }
  void Add(const char* rec) {
    sqlite3_bind_blob(ins_rec, 1, rec, kRecLen, SQLITE_STATIC);
    Run(ins_rec);
    sqlite3_bind_blob(ins_key, 1, rec, kKeyLen, SQLITE_STATIC);
    sqlite3_bind_int64(ins_key, 2, sqlite3_last_insert_rowid(db));
    Run(ins_key);
  }
  void Fill(int n) {
    char rec[kRecLen], key[16];
    Run(begin);
    for (int i = 0; i < n; ++i) {
      MakeRecord(static_cast<uint64_t>(i), rec, key);
      Add(rec);
    }
    Run(commit);
  }
};

void BM_RawSqlite_InsertTxn(benchmark::State& state) {
  RawTable t("ri");
  uint64_t n = 0;
  char rec[kRecLen], key[16];
  for (auto _ : state) {
    RawTable::Run(t.begin);
    for (int i = 0; i < kTxnRecords; ++i) {
      MakeRecord(n++, rec, key);
      t.Add(rec);
    }
    RawTable::Run(t.commit);
  }
  state.SetItemsProcessed(state.iterations() * kTxnRecords);
}

void BM_RawSqlite_PointRead(benchmark::State& state) {
  RawTable t("rp");
  t.Fill(kReadRecords);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> pick(0, kReadRecords - 1);
  char rec[kRecLen], key[16], out[kRecLen] = {};
  for (auto _ : state) {
    MakeRecord(static_cast<uint64_t>(pick(rng)), rec, key);
    sqlite3_bind_blob(t.get, 1, key, kKeyLen, SQLITE_STATIC);
    if (sqlite3_step(t.get) != SQLITE_ROW) std::abort();
    std::memcpy(out, sqlite3_column_blob(t.get, 0), kRecLen);
    sqlite3_reset(t.get);
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_RawSqlite_OrderedScan(benchmark::State& state) {
  RawTable t("rs");
  t.Fill(kReadRecords);
  std::string cur;
  char out[kRecLen] = {};
  for (auto _ : state) {
    sqlite3_bind_blob(t.scan, 1, cur.data(), static_cast<int>(cur.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(t.scan) == SQLITE_ROW) {
      cur.assign(static_cast<const char*>(sqlite3_column_blob(t.scan, 0)),
                 static_cast<size_t>(sqlite3_column_bytes(t.scan, 0)));
      std::memcpy(out, sqlite3_column_blob(t.scan, 1), kRecLen);
    } else {
      cur.clear();
    }
    sqlite3_reset(t.scan);
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_RawSqlite_CommitEach(benchmark::State& state) {
  RawTable t("rc");
  uint64_t n = 0;
  char rec[kRecLen], key[16];
  for (auto _ : state) {
    MakeRecord(n++, rec, key);
    RawTable::Run(t.begin);
    t.Add(rec);
    RawTable::Run(t.commit);
  }
  state.SetItemsProcessed(state.iterations());
}

// --- The floor: one small write made durable ------------------------------------

void BM_Floor_Fdatasync(benchmark::State& state) {
  std::string dir = NewDir("fs");
  int fd = open((dir + "/floor").c_str(), O_RDWR | O_CREAT, 0644);
  char block[512];
  std::memset(block, 'f', sizeof block);
  for (auto _ : state) {
    if (pwrite(fd, block, sizeof block, 0) != static_cast<ssize_t>(sizeof block)) std::abort();
    if (fdatasync(fd) != 0) std::abort();
  }
  close(fd);
  std::filesystem::remove_all(dir);
  state.SetItemsProcessed(state.iterations());
}


// --- ISAM on a PostgreSQL server ---------------------------------------------------
//
// The server of $VKT_PG_DSN; the folders and raw schemas each benchmark makes
// are dropped at its end. Fewer records than locally: every record is a
// round trip or more.

constexpr int kPgReadRecords = 20000;
constexpr int kPgTxnRecords = 1000;

std::string PgDsn() {
  const char* d = std::getenv("VKT_PG_DSN");
  return d != nullptr ? d : "";
}

bool HavePgServer(benchmark::State& state) {
  if (!PgDsn().empty()) return true;
  state.SkipWithError("VKT_PG_DSN not set");
  return false;
}

PGconn* PgConnect() {
  PGconn* pg = PQconnectdb(PgDsn().c_str());
  if (PQstatus(pg) != CONNECTION_OK) {
    std::fprintf(stderr, "isam_bench: %s", PQerrorMessage(pg));
    std::abort();
  }
  PQsetNoticeProcessor(pg, [](void*, const char*) {}, nullptr);
  return pg;
}

void PgMust(PGresult* r) {
  const ExecStatusType st = PQresultStatus(r);
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
    std::fprintf(stderr, "isam_bench: %s", PQresultErrorMessage(r));
    std::abort();
  }
  PQclear(r);
}

// A schema and, for a folder, its entry in the server's list of folders.
void PgDropSchema(const std::string& schema) {
  PGconn* pg = PgConnect();
  PgMust(PQexec(pg, ("DROP SCHEMA IF EXISTS \"" + schema + "\" CASCADE").c_str()));
  PGresult* r = PQexec(pg, "SELECT to_regclass('public.isam_folders') IS NOT NULL");
  const bool listed = PQresultStatus(r) == PGRES_TUPLES_OK && PQgetvalue(r, 0, 0)[0] == 't';
  PQclear(r);
  if (listed) {
    const char* v[] = {schema.c_str()};
    PgMust(PQexecParams(pg, "DELETE FROM public.isam_folders WHERE schema=$1", 1, nullptr, v, nullptr, nullptr, 0));
  }
  PQfinish(pg);
}

// The table in a folder of the server, through a session logged on to it.
struct IsamPgTable : IsamTable {
  std::string prog, folder;
  explicit IsamPgTable(const char* tag) : prog(NewDir(tag)) {
    std::ofstream(prog + "/isamserv.ini") << "[BENCH@server]\nbackend=postgres\ndsn=" << PgDsn()
                                          << "\nuser.bench=\n";
    vkt::isam::SetIsamProgramDirectory(prog.c_str());
    if (InitISAMXtd(15, 64, 16, 15, 1, "bench", "", "BENCH@server") != 0) std::abort();
    folder = "/isam_bench_" + std::to_string(getpid()) + "_" + tag;
    Create(folder + "/bench");
  }
  ~IsamPgTable() {
    CloseISAM();
    vkt::isam::SetIsamProgramDirectory(nullptr);
    PgDropSchema(vkt::isam::detail::PgSchemaOfFolder(folder));
    std::filesystem::remove_all(prog);
  }
};

void BM_IsamPg_InsertTxn(benchmark::State& state) {
  if (!HavePgServer(state)) return;
  IsamPgTable t("gi");
  InsertTxnWork(state, t, kPgTxnRecords);
}

void BM_IsamPg_PointRead(benchmark::State& state) {
  if (!HavePgServer(state)) return;
  IsamPgTable t("gp");
  PointReadWork(state, t, kPgReadRecords);
}

void BM_IsamPg_OrderedScan(benchmark::State& state) {
  if (!HavePgServer(state)) return;
  IsamPgTable t("gs");
  OrderedScanWork(state, t, kPgReadRecords);
}

void BM_IsamPg_CommitEach(benchmark::State& state) {
  if (!HavePgServer(state)) return;
  IsamPgTable t("gc");
  CommitEachWork(state, t);
}

// --- Raw libpq side ------------------------------------------------------------
//
// The statements the client sends for each work, read off the server's log
// (log_statement=all), sent here directly, prepared once with the same
// parameter types, binary parameters and results:
//   session      SET lock_timeout='3s'; SET client_min_messages=warning;
//                SET search_path; the open file's shared advisory lock
//   InsertTxn    BEGIN; per record the record insert (RETURNING pos) and
//                the key insert; COMMIT
//   PointRead    the key-and-image select at or after the key (one row)
//   OrderedScan  the key-and-image select after the current key (one row),
//                from the first when past the end
//   CommitEach   BEGIN; record insert; key insert; COMMIT

constexpr unsigned kPgInt8 = 20;
constexpr unsigned kPgBytea = 17;

class RawPgTable {
 public:
  explicit RawPgTable(const char* tag)
      : pg_(PgConnect()), schema_("isam_bench_raw_" + std::to_string(getpid()) + "_" + tag) {
    // Made as the client makes a folder's table, in a schema of its own.
    PgMust(PQexec(pg_, ("CREATE SCHEMA \"" + schema_ + "\"").c_str()));
    PgMust(PQexec(pg_, "SET lock_timeout='3s'; SET client_min_messages=warning"));
    PgMust(PQexec(pg_, ("SET search_path TO \"" + schema_ + "\"").c_str()));
    PgMust(PQexec(pg_, "BEGIN"));
    PgMust(PQexec(pg_, "CREATE TABLE r1(pos int8 PRIMARY KEY, image bytea NOT NULL)"));
    PgMust(PQexec(pg_, "CREATE TABLE k1_0(key bytea NOT NULL PRIMARY KEY, pos int8 NOT NULL)"));
    PgMust(PQexec(pg_, "COMMIT"));
    Prepare("lock", "SELECT pg_try_advisory_lock_shared($1::int4,$2::int4)", {kPgInt8, kPgInt8});
    Prepare("unlock", "SELECT pg_advisory_unlock_shared($1::int4,$2::int4)", {kPgInt8, kPgInt8});
    Prepare("ins", "INSERT INTO r1(pos,image) SELECT coalesce(max(pos),0)+1,$1 FROM r1 ON CONFLICT(pos) DO NOTHING "
            "RETURNING pos", {kPgBytea});
    Prepare("key", "INSERT INTO k1_0(key,pos) VALUES($1,$2) ON CONFLICT DO NOTHING", {kPgBytea, kPgInt8});
    Prepare("ge", "SELECT k.key,k.pos,r.image FROM k1_0 AS k JOIN r1 AS r ON r.pos=k.pos WHERE k.key>=$1 "
            "ORDER BY k.key LIMIT 1", {kPgBytea});
    Prepare("gt", "SELECT k.key,k.pos,r.image FROM k1_0 AS k JOIN r1 AS r ON r.pos=k.pos WHERE k.key>$1 "
            "ORDER BY k.key LIMIT 1", {kPgBytea});
    Prepare("first", "SELECT k.key,k.pos,r.image FROM k1_0 AS k JOIN r1 AS r ON r.pos=k.pos ORDER BY k.key LIMIT 1",
            {});
    // The shared lock an open file holds for as long as it is open.
    char a[8], b[8];
    PQclear(Run("lock", {Int8(a, kFileLockKey), Int8(b, 0)}));
  }
  ~RawPgTable() {
    char a[8], b[8];
    PQclear(Run("unlock", {Int8(a, kFileLockKey), Int8(b, 0)}));
    PQfinish(pg_);
    PgDropSchema(schema_);
  }

  void Simple(const char* sql) { PgMust(PQexec(pg_, sql)); }
  // A record and its key, as the client adds them: the position the record
  // insert returns goes into the key insert.
  void Add(const char* rec) {
    PGresult* r = Run("ins", {{rec, kRecLen}});
    if (PQntuples(r) != 1 || PQgetlength(r, 0, 0) != 8) std::abort();
    char pos[8];
    std::memcpy(pos, PQgetvalue(r, 0, 0), 8);
    PQclear(r);
    r = Run("key", {{rec, kKeyLen}, {pos, 8}});
    if (std::atoll(PQcmdTuples(r)) != 1) std::abort();
    PQclear(r);
  }
  // One key-and-image row: its key into *key, its image into out; false
  // when there is none.
  bool Seek(const char* stmt, std::vector<std::string_view> args, std::string* key, char* out) {
    PGresult* r = Run(stmt, std::move(args));
    const bool row = PQntuples(r) == 1;
    if (row) {
      key->assign(PQgetvalue(r, 0, 0), static_cast<size_t>(PQgetlength(r, 0, 0)));
      std::memcpy(out, PQgetvalue(r, 0, 2), std::min<size_t>(kRecLen, static_cast<size_t>(PQgetlength(r, 0, 2))));
    }
    PQclear(r);
    return row;
  }
  void Fill(int n) {
    char rec[kRecLen], key[16];
    Simple("BEGIN");
    for (int i = 0; i < n; ++i) {
      MakeRecord(static_cast<uint64_t>(i), rec, key);
      Add(rec);
    }
    Simple("COMMIT");
  }

 private:
  // Any 31-bit key: the client's is a hash of the file's name.
  static constexpr int64_t kFileLockKey = 0x2B1D0C11;

  static std::string_view Int8(char* be, int64_t v) {
    uint64_t u = static_cast<uint64_t>(v);
    for (int k = 7; k >= 0; --k, u >>= 8) be[k] = static_cast<char>(u & 0xff);
    return {be, 8};
  }
  void Prepare(const char* name, const char* sql, std::vector<unsigned> types) {
    PgMust(PQprepare(pg_, name, sql, static_cast<int>(types.size()), types.data()));
  }
  PGresult* Run(const char* name, std::vector<std::string_view> args) {
    const char* values[4];
    int lengths[4], formats[4];
    int n = 0;
    for (std::string_view a : args) {
      values[n] = a.data();
      lengths[n] = static_cast<int>(a.size());
      formats[n] = 1;
      ++n;
    }
    PGresult* r = PQexecPrepared(pg_, name, n, values, lengths, formats, 1);
    const ExecStatusType st = PQresultStatus(r);
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
      std::fprintf(stderr, "isam_bench: %s", PQresultErrorMessage(r));
      std::abort();
    }
    return r;
  }

  PGconn* pg_;
  std::string schema_;
};

void BM_RawLibpq_InsertTxn(benchmark::State& state) {
  if (!HavePgServer(state)) return;
  RawPgTable t("ri");
  uint64_t n = 0;
  char rec[kRecLen], key[16];
  for (auto _ : state) {
    t.Simple("BEGIN");
    for (int i = 0; i < kPgTxnRecords; ++i) {
      MakeRecord(n++, rec, key);
      t.Add(rec);
    }
    t.Simple("COMMIT");
  }
  state.SetItemsProcessed(state.iterations() * kPgTxnRecords);
}

void BM_RawLibpq_PointRead(benchmark::State& state) {
  if (!HavePgServer(state)) return;
  RawPgTable t("rp");
  t.Fill(kPgReadRecords);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> pick(0, kPgReadRecords - 1);
  char rec[kRecLen], key[16], out[kRecLen] = {};
  std::string found;
  for (auto _ : state) {
    MakeRecord(static_cast<uint64_t>(pick(rng)), rec, key);
    const std::string_view want(key, kKeyLen);
    // The client asks for the first key at or after, then wants it equal.
    if (!t.Seek("ge", {want}, &found, out) || found != want) std::abort();
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_RawLibpq_OrderedScan(benchmark::State& state) {
  if (!HavePgServer(state)) return;
  RawPgTable t("rs");
  t.Fill(kPgReadRecords);
  char out[kRecLen] = {};
  std::string cur, next;
  if (!t.Seek("first", {}, &cur, out)) std::abort();
  for (auto _ : state) {
    if (!t.Seek("gt", {cur}, &next, out) && !t.Seek("first", {}, &next, out)) std::abort();
    cur.swap(next);
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_RawLibpq_CommitEach(benchmark::State& state) {
  if (!HavePgServer(state)) return;
  RawPgTable t("rc");
  uint64_t n = 0;
  char rec[kRecLen], key[16];
  for (auto _ : state) {
    MakeRecord(n++, rec, key);
    t.Simple("BEGIN");
    t.Add(rec);
    t.Simple("COMMIT");
  }
  state.SetItemsProcessed(state.iterations());
}
}  // namespace

BENCHMARK(BM_Isam_InsertTxn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSqlite_InsertTxn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Isam_PointRead)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawSqlite_PointRead)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Isam_OrderedScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawSqlite_OrderedScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Isam_CommitEach)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawSqlite_CommitEach)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Floor_Fdatasync)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IsamPg_InsertTxn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawLibpq_InsertTxn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IsamPg_PointRead)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawLibpq_PointRead)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IsamPg_OrderedScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawLibpq_OrderedScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IsamPg_CommitEach)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawLibpq_CommitEach)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
