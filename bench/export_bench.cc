// The incremental exports over 100,000 records: DBExpJson (20 files of
// 5000) and DBExpCSV (one file), each against the plain walk through the
// last-update index that both make, so the cost of the documents shows.
//
//   export_bench [--benchmark_filter=Json]     (folder: $VKT_BENCH_DIR or /tmp)
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "db/dbctree.h"
#include "frame/vktapp.h"
#include "isam/ctree.h"

namespace {

constexpr int kRecords = 100000;

#pragma pack(push, 1)
struct Art {
  double last_update;  //  0  index 1 "ArtLastUpdate"
  char codice[13];     //  8  index 2
  char descr[41];      // 21
  char um[3];          // 62
  int32_t giacenza;    // 65
  int32_t data;        // 69 day number
  double prezzo;       // 73
  double costo;        // 81
  uint8_t attivo;      // 89
  char utente[11];     // 90
};
#pragma pack(pop)

std::string NewDir() {
  const char* base = std::getenv("VKT_BENCH_DIR");
  std::string tmpl = std::string(base != nullptr ? base : "/tmp") + "/export_bench_XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  return mkdtemp(buf.data()) != nullptr ? std::string(buf.data()) : std::string();
}

// One table of 100,000 articles, made once for every benchmark.
class Fixture {
 public:
  Fixture() : dir_(NewDir()), stem_(dir_ + "/articoli") {
    std::memset(&par_, 0, sizeof par_);
    std::snprintf(par_.path, sizeof par_.path, "%s", dir_.c_str());
    par_.allow_create = 1;
    par_.create_dirs = 1;
    VKTDlgInitialize(&par_);
    std::filesystem::create_directories(dir_ + "/out");
    char none[1] = "";
    if (DBInitISAM(64, par_.user, par_.password, none, true, false, true) != 0) std::abort();
    seg_[0] = {0, 8, CT_SEG_FLOAT};
    seg_[1] = {8, 12, CT_SEG_BYTES};
    ix_[0] = IIDX{8, 0, 1, 0, 0, 1, &seg_[0], n1_, nullptr, nullptr, nullptr};
    ix_[1] = IIDX{12, 0, 0, 0, 0, 1, &seg_[1], n2_, nullptr, nullptr, nullptr};
    ifil_ = ifil4{stem_.data(), -1, sizeof(Art), 4096, 0, 2, 4096, 0, ix_, f1_, f2_, -1};
    if (table_.DBOpen(1) != 0) std::abort();
    static char names[10][24] = {"art_last_update", "art_codice", "art_descr",
                                 "art_um",          "art_giacenza", "art_data",
                                 "art_prezzo",      "art_costo", "art_attivo", "art_utente"};
    const uint16_t types[10] = {124, 144, 144, 144, 51, 75, 103, 103, 8, 144};
    const uint16_t lens[10] = {8, 13, 41, 3, 4, 4, 8, 8, 1, 11};
    DATOBJ doda[11] = {};
    for (int i = 0; i < 10; ++i) doda[i] = DATOBJ{names[i], nullptr, types[i], lens[i], {}};
    static char end[1] = "";
    doda[10].fsymb = end;
    int changed = 0;
    if (table_.DBPutDoda(doda, 0, &changed) != 0) std::abort();
    table_.DBSetLockStamp(1);
    if (DBBegin(50) == 0) std::abort();
    for (int i = 0; i < kRecords; ++i) {
      Art a{};
      a.last_update = 45000.0 + i / 1000.0;
      std::snprintf(a.codice, sizeof a.codice, "A%011d", i);
      std::snprintf(a.descr, sizeof a.descr, "Articolo %d \"speciale\" caff\xE8 C:\\dir", i);
      std::memcpy(a.um, "PZ", 3);
      a.giacenza = i % 977;
      a.data = 2460000 + i % 365;
      a.prezzo = 10.0 + i % 100;
      a.costo = 6.5 + i % 50;
      a.attivo = i % 2;
      std::memcpy(a.utente, "ROSSI", 6);
      if (table_.DBAddRecord(&a) != 0) std::abort();
    }
    if (DBCommit(0) != 0) std::abort();
  }
  ~Fixture() {
    table_.DBCloseIFile();
    DBCloseISAM(0);
    std::filesystem::remove_all(dir_);
  }

  CDBCtree& table() { return table_; }

 private:
  VKTAPPPARAM par_;
  std::string dir_, stem_;
  ISEG seg_[2];
  IIDX ix_[2];
  char n1_[16] = "ArtLastUpdate", n2_[16] = "ArtCodice";
  char f1_[16] = "art_last_update", f2_[16] = "art_utente";
  ifil4 ifil_{};
  Art buf_{};
  CDBCtree table_{1, &ifil_, &buf_, PutStandard, nullptr, nullptr, 0};
};

Fixture& Shared() {
  static Fixture* f = new Fixture();
  return *f;
}

void BM_Export_Json(benchmark::State& state) {
  CDBCtree& t = Shared().table();
  char desc[] = "Articoli", ext[] = "json";
  for (auto _ : state) {
    if (t.DBExpJson(0.0, DBL_MAX, desc, ext, nullptr, nullptr, nullptr) != 1)
      state.SkipWithError("export failed");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_Export_Csv(benchmark::State& state) {
  CDBCtree& t = Shared().table();
  char ext[] = "csv";
  for (auto _ : state) {
    if (t.DBExpCSV(0.0, DBL_MAX, ext, nullptr) != 1) state.SkipWithError("export failed");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

// The walk alone: what both exports pay before they build anything.
void BM_Export_IndexWalk(benchmark::State& state) {
  CDBCtree& t = Shared().table();
  for (auto _ : state) {
    t.DBSetIndex(1);
    int n = 0;
    for (int16_t s = t.DBFirstRecord(); s == 0; s = t.DBNextRecord()) ++n;
    if (n != kRecords) state.SkipWithError("walk short");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

BENCHMARK(BM_Export_Json)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Export_Csv)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Export_IndexWalk)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
