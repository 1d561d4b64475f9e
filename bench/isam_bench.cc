// The ISAM client against raw SQLite doing the same work with the same
// durability (WAL, synchronous=FULL, prepared statements, a record table and
// a key table), and the physical floor of a durable commit.
//
//   isam_bench [--benchmark_filter=CommitEach]     (folder: $VKT_BENCH_DIR or /tmp)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "isam/ctree.h"

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

struct IsamTable {
  ISEG seg{0, kKeyLen, CT_SEG_BYTES};
  IIDX ix{kKeyLen, 0, 0, 0, 0, 1, &seg, nullptr, nullptr, nullptr, nullptr};
  std::string dir, stem;
  ifil4 ifil{};

  explicit IsamTable(const char* tag) : dir(NewDir(tag)), stem(dir + "/bench") {
    InitISAMXtd(15, 64, 16, 15, 1, "bench", "", "");
    ifil.pfilnam = stem.data();
    ifil.dfilno = -1;
    ifil.dreclen = kRecLen;
    ifil.dfilmod = CT_MODE_SHARED;
    ifil.ifilmod = CT_MODE_SHARED;
    ifil.dnumidx = 1;
    ifil.ix = &ix;
    if (CreateIFileXtd(&ifil, nullptr, nullptr, 0, nullptr, nullptr) != 0) std::abort();
  }
  ~IsamTable() {
    CloseISAM();
    std::filesystem::remove_all(dir);
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

void BM_Isam_InsertTxn(benchmark::State& state) {
  IsamTable t("ii");
  uint64_t n = 0;
  char rec[kRecLen], key[16];
  for (auto _ : state) {
    Begin(50);
    for (int i = 0; i < kTxnRecords; ++i) {
      MakeRecord(n++, rec, key);
      if (AddRecord(t.dat(), rec) != 0) std::abort();
    }
    if (Commit(0) != 0) std::abort();
  }
  state.SetItemsProcessed(state.iterations() * kTxnRecords);
}

void BM_Isam_PointRead(benchmark::State& state) {
  IsamTable t("ip");
  t.Fill(kReadRecords);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> pick(0, kReadRecords - 1);
  char rec[kRecLen], key[16], out[kRecLen] = {};
  for (auto _ : state) {
    MakeRecord(static_cast<uint64_t>(pick(rng)), rec, key);
    if (GetRecord(t.dat() + 1, TransformKey(t.dat() + 1, key), out) != 0) std::abort();
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Isam_OrderedScan(benchmark::State& state) {
  IsamTable t("is");
  t.Fill(kReadRecords);
  char out[kRecLen] = {};
  if (FirstRecord(t.dat() + 1, out) != 0) std::abort();
  for (auto _ : state) {
    if (NextRecord(t.dat() + 1, out) != 0 && FirstRecord(t.dat() + 1, out) != 0) std::abort();
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Isam_CommitEach(benchmark::State& state) {
  IsamTable t("ic");
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

BENCHMARK_MAIN();
