// The record database layer's write against the ISAM client's own calls,
// on the same table as BM_Isam_CommitEach (128-byte records, one 10-byte
// unique key), one durable transaction per write:
//
//   BM_Db_DBWrite          DBWrite add: user copy, wait cursor, transaction,
//                          PutStandard, stamp and buffer copies, commit
//                          (compare BM_Isam_CommitEach)
//   BM_Db_DBWriteRewrite   a host edit: DBGetRecord, then DBWrite rewrite:
//                          transaction, lock and change check, rewrite, commit
//   BM_Isam_RewriteEach    the same edit with the client's calls alone: read,
//                          then in the transaction re-read, compare, rewrite
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "db/dbctree.h"
#include "frame/vktapp.h"
#include "isam/ctree.h"

namespace {

constexpr int kRecLen = 128;
constexpr int kKeyLen = 10;
constexpr int kRewriteRecords = 1000;

std::string NewDbDir(const char* tag) {
  const char* base = std::getenv("VKT_BENCH_DIR");
  std::string tmpl = std::string(base != nullptr ? base : "/tmp") + "/db_bench_" + tag + "_XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  return mkdtemp(buf.data()) != nullptr ? std::string(buf.data()) : std::string();
}

void MakeImage(uint64_t n, char* rec) {
  std::memset(rec, 'x', kRecLen);
  char key[16];
  std::snprintf(key, sizeof key, "%010llu", static_cast<unsigned long long>(n));
  std::memcpy(rec, key, kKeyLen);
}

// The host's side: parameter block, session, one table opened by DBOpen.
struct DbTable {
  VKTAPPPARAM par{};
  ISEG seg{0, kKeyLen, CT_SEG_BYTES};
  IIDX ix{kKeyLen, 0, 0, 0, 0, 1, &seg, nullptr, nullptr, nullptr, nullptr};
  char first[8] = "key", last[8] = "filler";
  std::string dir, stem;
  ifil4 ifil{};
  char buffer[kRecLen] = {};
  CDBCtree table{1, &ifil, buffer, PutStandard, nullptr, nullptr, 0};

  explicit DbTable(const char* tag) : dir(NewDbDir(tag)), stem(dir + "/bench") {
    vkt::LibraryLoad();  // the state the shared library's constructor sets up
    std::strcpy(par.app_name, "BENCH");
    std::strcpy(par.user, "BENCH");
    par.allow_create = 1;
    VKTDlgInitialize(&par);
    char none[1] = "";
    if (DBInitISAM(64, par.user, par.password, none, true, false, true) != 0) std::abort();
    ifil.pfilnam = stem.data();
    ifil.dfilno = -1;
    ifil.dreclen = kRecLen;
    ifil.dnumidx = 1;
    ifil.ix = &ix;
    ifil.rfstfld = first;
    ifil.rlstfld = last;
    if (table.DBOpen(0) != 0) std::abort();
  }
  ~DbTable() {
    table.DBCloseIFile();
    DBCloseISAM(0);
    std::filesystem::remove_all(dir);
  }
  void Fill(int n) {
    char rec[kRecLen];
    Begin(50);
    for (int i = 0; i < n; ++i) {
      MakeImage(static_cast<uint64_t>(i), rec);
      if (AddRecord(ifil.tfilno, rec) != 0) std::abort();
    }
    if (Commit(0) != 0) std::abort();
  }
};

void BM_Db_DBWrite(benchmark::State& state) {
  DbTable t("dw");
  uint64_t n = 0;
  char rec[kRecLen];
  for (auto _ : state) {
    MakeImage(n++, rec);
    if (DBWrite(&t.table, 0, rec, &t.table) != 0) std::abort();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Db_DBWriteRewrite(benchmark::State& state) {
  DbTable t("dr");
  t.Fill(kRewriteRecords);
  if (t.table.DBSetIndex(1) != 0) std::abort();
  uint64_t n = 0;
  char key[kKeyLen + 1], edit[kRecLen];
  for (auto _ : state) {
    std::snprintf(key, sizeof key, "%010llu", static_cast<unsigned long long>(n % kRewriteRecords));
    if (t.table.DBGetRecord(key) != 0) std::abort();
    std::memcpy(edit, t.buffer, kRecLen);
    edit[kRecLen - 1] = static_cast<char>('a' + n++ % 26);
    if (DBWrite(&t.table, 1, edit, &t.table) != 0) std::abort();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Isam_RewriteEach(benchmark::State& state) {
  DbTable t("ir");
  t.Fill(kRewriteRecords);
  const int32_t dat = t.ifil.tfilno;
  uint64_t n = 0;
  char key[kKeyLen + 1], rec[kRecLen];
  char again[kRecLen];
  for (auto _ : state) {
    std::snprintf(key, sizeof key, "%010llu", static_cast<unsigned long long>(n % kRewriteRecords));
    if (GetRecord(dat + 1, TransformKey(dat + 1, key), rec) != 0) std::abort();
    Begin(50);
    if (ReReadRecord(dat, again) != 0 || std::memcmp(again, rec, kRecLen) != 0) std::abort();
    rec[kRecLen - 1] = static_cast<char>('a' + n++ % 26);
    if (ReWriteRecord(dat, rec) != 0) std::abort();
    if (Commit(0) != 0) std::abort();
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_Db_DBWrite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Db_DBWriteRewrite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Isam_RewriteEach)->Unit(benchmark::kMicrosecond);
