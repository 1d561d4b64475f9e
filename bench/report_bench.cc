// A customer list of 10,000 records read from an ISAM file set, grouped by
// city, sorted by name and written as a PDF report; and its parts.
//
//   report_bench [--benchmark_filter=Pdf]     (folder: $VKT_BENCH_DIR or /tmp)
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "isam/ctree.h"
#include "report/report.h"

namespace {

constexpr int kRows = 10000;

#pragma pack(push, 1)
struct Cliente {
  char codice[7];
  char ragione[41];
  char citta[31];
  int32_t fido;
  double saldo;
  int32_t dal;
};
#pragma pack(pop)

// The data folder, made once and removed at exit.
struct Scratch {
  std::string dir;
  ~Scratch() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

std::string Folder() {
  static Scratch scratch;
  std::string& dir = scratch.dir;
  if (!dir.empty()) return dir;
  const char* base = std::getenv("VKT_BENCH_DIR");
  std::string tmpl = std::string(base != nullptr ? base : "/tmp") + "/report_bench_XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) return {};
  dir = tmpl;
  InitISAMXtd(15, 64, 16, 15, 1, "", "", "");
  std::string name = dir + "/clienti";
  char ixname[] = "Codice", first[] = "cli_codice", last[] = "cli_dal";
  ISEG seg = {0, 6, CT_SEG_BYTES};
  IIDX ix = {6, 0, 0, 0, 0, 1, &seg, ixname, nullptr, nullptr, nullptr};
  ifil4 f = {name.data(), -1, sizeof(Cliente), 4096, CT_MODE_SHARED, 1, 4096, CT_MODE_SHARED, &ix,
             first, last, -1};
  CreateIFileXtd(&f, nullptr, nullptr, 0, nullptr, nullptr);
  char n1[] = "cli_codice", n2[] = "cli_ragione", n3[] = "cli_citta", n4[] = "cli_fido",
       n5[] = "cli_saldo", n6[] = "cli_dal";
  DATOBJ doda[6] = {{n1, nullptr, 144, 7, {}}, {n2, nullptr, 144, 41, {}}, {n3, nullptr, 144, 31, {}},
                    {n4, nullptr, 51, 4, {}},  {n5, nullptr, 103, 8, {}}, {n6, nullptr, 75, 4, {}}};
  PutDODA(f.tfilno, doda, 6);
  static const char* const kCities[] = {"Milano", "Roma", "Torino", "Napoli", "Bari", "Firenze",
                                        "Genova", "Bologna"};
  Begin(50);
  for (int i = 0; i < kRows; ++i) {
    Cliente c;
    std::memset(&c, 0, sizeof c);
    std::snprintf(c.codice, sizeof c.codice, "%06d", i % 1000000);
    std::snprintf(c.ragione, sizeof c.ragione, "%-40.40s",
                  ("Cliente " + std::to_string((i * 7919) % kRows) + " S.r.l.").c_str());
    std::snprintf(c.citta, sizeof c.citta, "%-30s", kCities[i % 8]);
    c.fido = i * 10;
    c.saldo = i * 1.25;
    c.dal = vkt::report::CivilToJdn(2020, 1, 1) + i % 1500;
    AddRecord(f.tfilno, &c);
  }
  Commit(0);
  CloseIFile(&f);
  CloseISAM();
  return dir;
}

const char* kDefinition =
    "VKTREPORT 1\n"
    "TITLE \"Elenco clienti\"\n"
    "TABLE clienti clienti\n"
    "COLUMN 20 \"Codice\" {clienti.cli_codice}\n"
    "COLUMN 70 \"Ragione sociale\" {clienti.cli_ragione}\n"
    "COLUMN 30 \"Fido\" {clienti.cli_fido} DEC 2\n"
    "COLUMN 30 \"Saldo\" {clienti.cli_saldo} DEC 2\n"
    "COLUMN 25 \"Dal\" {clienti.cli_dal}\n"
    "GROUP {clienti.cli_citta}\n"
    "SORT {clienti.cli_ragione} ASC\n"
    "SELECT {clienti.cli_fido} >= 0 and not ({clienti.cli_citta} = \"Atlantide\")\n";

std::unique_ptr<vkt::report::Report> Open(vkt::report::Application* app) {
  vkt::report::Error err;
  auto r = app->OpenReportText(kDefinition, "clienti.rpt", &err);
  if (r) r->ConnectIsam(Folder(), &err);
  return r;
}

void BM_Report_Pdf10k(benchmark::State& state) {
  vkt::report::Error err;
  auto app = vkt::report::Application::Create(vkt::report::kProgId, &err);
  auto r = Open(app.get());
  const std::string pdf = Folder() + "/clienti.pdf";
  for (auto _ : state) {
    if (!r->ExportPdf(pdf, &err)) state.SkipWithError(err.description.c_str());
  }
  state.counters["pages"] = r->page_count();
  state.counters["rows"] = static_cast<double>(r->row_count());
  state.counters["pdf_kb"] = static_cast<double>(std::filesystem::file_size(pdf)) / 1024.0;
}
BENCHMARK(BM_Report_Pdf10k)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reading, selecting, sorting and laying out, without drawing.
void BM_Report_Layout10k(benchmark::State& state) {
  vkt::report::Error err;
  auto app = vkt::report::Application::Create(vkt::report::kProgId, &err);
  auto r = Open(app.get());
  for (auto _ : state) {
    if (!r->Run(&err)) state.SkipWithError(err.description.c_str());
  }
}
BENCHMARK(BM_Report_Layout10k)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
