// `vkt export`, `vkt copy-company` and `vkt zip`: the library's exports, the
// copy of a company's tables into another company and ZIP archives, with a
// progress bar in the terminal.
//
//   vkt export TABLE --json|--csv|--dump [--dir DIR] [--da GG/MM/AAAA] [--a GG/MM/AAAA]
//   vkt copy-company FROM TO [--dir DIR]     DIR/ditFROM/* into DIR/ditTO
//   vkt zip ARCHIVE FOLDER | vkt zip -x ARCHIVE FOLDER
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/vktstring.h"
#include "db/dbctree.h"
#include "db/dbexport.h"
#include "dialogs/vktprogressdlg.h"
#include "engine/zip.h"
#include "frame/vktapp.h"
#include "tools/vkt/vkt.h"
#include "win/oledatetime.h"

namespace vkt::tool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kExportUsage =
    "uso: vkt export TABELLA --json|--csv|--dump [--dir CARTELLA] [--da GG/MM/AAAA] "
    "[--a GG/MM/AAAA]\n"
    "     (CARTELLA: l'archivio, di default vkt-demo/archivio; i file vanno in CARTELLA/../out)\n";
constexpr const char* kCopyUsage =
    "uso: vkt copy-company DA A [--dir CARTELLA]\n"
    "     copia ogni tabella di CARTELLA/ditDA in CARTELLA/ditA (di default vkt-demo)\n";
constexpr const char* kZipUsage =
    "uso: vkt zip ARCHIVIO CARTELLA      comprime la cartella\n"
    "     vkt zip -x ARCHIVIO CARTELLA   estrae l'archivio nella cartella\n";

// The library's texts are Windows-1252; the terminal's UTF-8.
std::string Show(const std::string& cp1252) { return StrToUtf8(cp1252.c_str()); }

// --- The progress bar ------------------------------------------------------------

// One line redrawn in place on a terminal; elsewhere (a pipe, a file) a line
// at every tenth, so a log shows the progress too.
class Bar {
 public:
  Bar() : tty_(isatty(STDOUT_FILENO) == 1) {}
  void Show(int percent, const std::string& label) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    if (!tty_) {
      if (percent / 10 == last_ / 10 && percent != 100) return;
      if (percent == last_) return;
    }
    last_ = percent;
    constexpr int kWidth = 30;
    const int full = percent * kWidth / 100;
    std::string bar(static_cast<size_t>(full), '#');
    bar.append(static_cast<size_t>(kWidth - full), '-');
    std::printf("%s[%s] %3d%% %s%s", tty_ ? "\r" : "", bar.c_str(), percent, label.c_str(),
                tty_ ? "\x1b[K" : "\n");
    std::fflush(stdout);
  }
  void End() {
    if (tty_ && last_ >= 0) std::printf("\n");
    last_ = -1;
  }

 private:
  bool tty_;
  int last_ = -1;
};

// The library's progress windows, drawn as the bar.
class BarWindow : public vkt::db::ProgressWindow {
 public:
  explicit BarWindow(std::string caption) : caption_(std::move(caption)) {}
  ~BarWindow() override { bar_.End(); }
  bool Exists() override { return true; }
  void SetStatus(const char* text) override { status_ = Show(text); }
  void SetRange(int lower, int upper) override {
    lower_ = lower;
    upper_ = upper;
    pos_ = lower;
    Draw();
  }
  void SetStep(int step) override { step_ = step; }
  int StepIt() override {
    const int previous = pos_;
    pos_ += step_;
    Draw();
    return previous;
  }
  int CheckCancelButton() override { return 0; }
  void HideCancel() override {}

 private:
  void Draw() {
    const int span = upper_ - lower_;
    bar_.Show(span > 0 ? static_cast<int>((pos_ - lower_) * 100LL / span) : 100, status_);
  }
  std::string caption_, status_;
  int lower_ = 0, upper_ = 100, pos_ = 0, step_ = 1;
  Bar bar_;
};

class BarProvider : public vkt::db::ProgressProvider {
 public:
  std::unique_ptr<vkt::db::ProgressWindow> Create(const char* caption) override {
    return std::make_unique<BarWindow>(caption != nullptr ? caption : "");
  }
  // The host's own dialog, stepped once a record: drawn as a bar over the
  // `total` records the host expects.
  std::unique_ptr<vkt::db::ProgressWindow> Wrap(CVKTProgressDlg*) override {
    auto bar = std::make_unique<BarWindow>("");
    bar->SetStatus(label.c_str());
    bar->SetRange(0, total > 0 ? total : 1);
    return bar;
  }
  int total = 0;
  std::string label;
};

// --- Tables by their stored description ---------------------------------------------

// One table opened through the description stored in its data file, as the
// library's own layer would describe it.
class StoredTable {
 public:
  bool Open(const std::string& dir, const std::string& name, std::string* why) {
    std::string path = dir + "/" + name + ".dat";
    const int32_t datno = DBOpenFileWithResource(-1, path.data(), DBSetFileMode());
    if (datno < 0) {
      *why = "non apribile (stato " + std::to_string(DBGetIsamErr()) + ")";
      return false;
    }
    datno_ = datno;
    const int32_t size = DBGetIFile(datno, 0, nullptr);
    if (size < static_cast<int32_t>(sizeof(ifil4))) {
      *why = "descrizione non leggibile (stato " + std::to_string(DBGetUerrCod()) + ")";
      return false;
    }
    desc_.assign(static_cast<size_t>(size), 0);
    if (DBGetIFile(datno, size, desc_.data()) != size) {
      *why = "descrizione non leggibile";
      return false;
    }
    std::memcpy(&ifil_, desc_.data(), sizeof ifil_);
    ifil_.tfilno = datno;
    ifil_.dfilno = datno;
    const int32_t doda = GetDODA(datno, 0, nullptr, 4);
    if (doda > 0) {
      doda_.assign(static_cast<size_t>(doda), 0);
      if (GetDODA(datno, doda, doda_.data(), 4) != doda) doda_.clear();
    }
    record_.assign(ifil_.dreclen, 0);
    table_ = std::make_unique<CDBCtree>(0, &ifil_, record_.data(), nullptr, nullptr, nullptr,
                                        (ifil_.dfilmod & CT_MODE_VLENGTH) != 0 ? 1 : 0);
    return true;
  }
  ~StoredTable() { Close(); }
  void Close() {
    if (datno_ >= 0) DBCloseRFile(datno_);
    datno_ = -1;
  }

  // The stored schema as the program passes one: ended by an empty name.
  std::vector<DATOBJ> Schema() const {
    std::vector<DATOBJ> s;
    if (doda_.empty()) return s;
    for (const DATOBJ* d = reinterpret_cast<const DATOBJ*>(doda_.data()); d->fsymb != nullptr; ++d)
      s.push_back(*d);
    static char end[1] = "";
    DATOBJ last{};
    last.fsymb = end;
    s.push_back(last);
    return s;
  }

  ifil4& ifil() { return ifil_; }
  CDBCtree& table() { return *table_; }
  bool variable() const { return (ifil_.dfilmod & CT_MODE_VLENGTH) != 0; }

 private:
  int32_t datno_ = -1;
  std::vector<char> desc_;
  std::vector<char> doda_;
  std::vector<char> record_;
  ifil4 ifil_{};
  std::unique_ptr<CDBCtree> table_;
};

std::vector<std::string> TableNames(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    const std::string n = e.path().filename().string();
    if (n.size() > 4 && n.compare(n.size() - 4, 4, ".dat") == 0) names.push_back(n.substr(0, n.size() - 4));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The library's messages go to a log of this run, shown afterwards.
class RunLog {
 public:
  RunLog() : file_(std::tmpfile()) { vktpar->log_file = file_; }
  ~RunLog() {
    vktpar->log_file = nullptr;
    if (file_ != nullptr) std::fclose(file_);
  }
  // Each line after its time stamp, in UTF-8.
  void Print(const char* prefix) {
    if (file_ == nullptr) return;
    std::fflush(file_);
    std::rewind(file_);
    char line[4096];
    while (std::fgets(line, sizeof line, file_) != nullptr) {
      std::string l = line;
      while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
      const size_t dash = l.find(" - ");
      std::printf("%s%s\n", prefix, Show(dash == std::string::npos ? l : l.substr(dash + 3)).c_str());
    }
    std::rewind(file_);
    if (ftruncate(fileno(file_), 0) != 0) return;
  }

 private:
  FILE* file_;
};

bool OpenSession() {
  char none[1] = "";
  if (int16_t s = DBInitISAM(64, vktpar->user, vktpar->password, none, true, false, true); s != 0) {
    std::fprintf(stderr, "vkt: sessione ISAM non aperta (stato %d)\n", s);
    return false;
  }
  return true;
}

// "GG/MM/AAAA" at the start (or, `end`, the last second) of the day.
bool ParseDay(const std::string& text, bool end, double* out) {
  int d = 0, m = 0, y = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2d/%2d/%4d%c", &d, &m, &y, &tail) != 3) return false;
  COleDateTime t(y, m, d, end ? 23 : 0, end ? 59 : 0, end ? 59 : 0);
  if (!t.IsValid()) return false;
  *out = t;
  return true;
}

}  // namespace

// --- vkt export --------------------------------------------------------------------------

int Export(const std::vector<std::string>& args) {
  std::string table, format, dir = "vkt-demo/archivio";
  double from = 0.0, to = DBL_MAX;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--json" || a == "--csv" || a == "--dump") {
      if (!format.empty()) {
        std::fputs(kExportUsage, stderr);
        return 2;
      }
      format = a.substr(2);
    } else if ((a == "--dir" || a == "--da" || a == "--a") && i + 1 < args.size()) {
      const std::string& v = args[++i];
      if (a == "--dir") {
        dir = v;
      } else if (!ParseDay(v, a == "--a", a == "--da" ? &from : &to)) {
        std::fprintf(stderr, "vkt export: data non valida: %s\n", v.c_str());
        return 2;
      }
    } else if (table.empty() && a.rfind("--", 0) != 0) {
      table = a;
    } else {
      std::fputs(kExportUsage, stderr);
      return 2;
    }
  }
  if (table.empty() || format.empty()) {
    std::fputs(kExportUsage, stderr);
    return 2;
  }
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    std::fprintf(stderr, "vkt export: cartella inesistente: %s\n", dir.c_str());
    return 1;
  }
  // The program folder of the exports is the archive's parent: the files
  // go to its "out" folder.
  const fs::path archive = fs::absolute(dir, ec).lexically_normal();
  const std::string program = (archive.has_filename() ? archive : archive.parent_path()).parent_path().string();
  fs::create_directories(program + "/out", ec);
  strzcpy(vktpar->path, program.c_str(), sizeof vktpar->path);
  if (!OpenSession()) return 1;
  int result = 1;
  {
    StoredTable t;
    std::string why;
    if (!t.Open(archive.string(), table, &why)) {
      std::fprintf(stderr, "vkt export: %s: %s\n", table.c_str(), why.c_str());
      DBCloseISAM(0);
      return 1;
    }
    RunLog log;
    if (format == "dump") {
      const std::string out = program + "/out/" + table + ".bin";
      DB_IMPORT_EXPORT block{};
      block.file = std::fopen(out.c_str(), "wb");
      if (block.file == nullptr) {
        std::fprintf(stderr, "vkt export: %s non scrivibile\n", out.c_str());
      } else {
        BarProvider bars;
        bars.total = static_cast<int>(t.table().DBNbrOfRecords());
        bars.label = table;
        CVKTProgressDlg dialog;
        block.progress = &dialog;
        vkt::db::ProgressProvider* old = vkt::db::SetProgressProvider(&bars);
        const int r = t.table().DBExport(&block);
        vkt::db::SetProgressProvider(old);
        const bool closed = std::fclose(block.file) == 0;
        if (r == DB_EXPORT_DONE && closed) {
          std::printf("%s: %ld record in %s\n", table.c_str(), static_cast<long>(block.count),
                      out.c_str());
          result = 0;
        } else {
          std::printf("%s: esportazione non riuscita (%d)\n", table.c_str(), r);
        }
      }
    } else {
      char ext[8];
      strzcpy(ext, format.c_str(), sizeof ext);
      char desc[64];
      std::snprintf(desc, sizeof desc, "%s", table.c_str());
      CStringArray tables;
      const int r = format == "json"
                        ? t.table().DBExpJson(from, to, desc, ext, &tables, nullptr, nullptr)
                        : t.table().DBExpCSV(from, to, ext, nullptr);
      log.Print("  ");
      if (r == 1) {
        // The files of this table and format, in name order.
        std::string stem = table, suffix = "." + format;
        for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (char& c : suffix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::vector<std::string> written;
        for (const auto& e : fs::directory_iterator(program + "/out", ec)) {
          const std::string n = e.path().filename().string();
          if (n.rfind(stem, 0) == 0 && n.size() >= stem.size() + suffix.size() &&
              (n[stem.size()] == '.' || n[stem.size()] == '_') &&
              n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
            written.push_back(e.path().string());
        }
        std::sort(written.begin(), written.end(), [](const std::string& a, const std::string& b) {
          return a.size() != b.size() ? a.size() < b.size() : a < b;  // MOV.JSON before MOV_01.JSON
        });
        for (const std::string& w : written) std::printf("scritto %s\n", w.c_str());
        result = 0;
      } else {
        std::printf("%s: esportazione non riuscita\n", table.c_str());
        std::printf("  (JSON e CSV esportano i record per data di aggiornamento: servono un "
                    "campo *_last_update e un indice *LastUpdate*; --dump esporta ogni tabella)\n");
      }
    }
  }
  DBCloseISAM(0);
  return result;
}

// --- The demo's exports ------------------------------------------------------------------

namespace {

#pragma pack(push, 1)
struct DemoMovimento {
  double last_update;  // when the movement was last written
  char codice[9];
  char descr[31];
  double qta;
  char utente[21];
};
#pragma pack(pop)
static_assert(offsetof(DemoMovimento, codice) == 8 && offsetof(DemoMovimento, qta) == 48 &&
              sizeof(DemoMovimento) == 77);

constexpr int kDemoMovimenti = 12000;

// A warehouse table with the update stamp and index the incremental
// exports select by: ten days of movements, 1,200 a day.
bool WriteDemoMovimenti(const std::string& folder) {
  std::error_code ec;
  fs::remove_all(folder, ec);  // the demo's own folder, fresh at every run
  fs::create_directories(folder, ec);
  if (!OpenSession()) return false;
  std::string name = folder + "/movimenti";
  char n_upd[] = "MovLastUpdate", n_cod[] = "MovCodice", first[] = "mov_last_update",
       last[] = "mov_utente";
  ISEG seg[2] = {{0, 8, CT_SEG_FLOAT}, {8, 8, CT_SEG_BYTES}};
  IIDX ix[2] = {{8, 0, 1, 0, 0, 1, &seg[0], n_upd, nullptr, nullptr, nullptr},
                {8, 0, 0, 0, 0, 1, &seg[1], n_cod, nullptr, nullptr, nullptr}};
  ifil4 ifil = {name.data(), -1, sizeof(DemoMovimento), 4096, 0, 2, 4096, 0, ix, first, last, -1};
  char f1[] = "mov_last_update", f2[] = "mov_codice", f3[] = "mov_descr", f4[] = "mov_qta",
       f5[] = "mov_utente", end[] = "";
  DATOBJ doda[6] = {{f1, nullptr, 124, 8, {}},  {f2, nullptr, 144, 9, {}}, {f3, nullptr, 144, 31, {}},
                    {f4, nullptr, 103, 8, {}},  {f5, nullptr, 144, 21, {}}, {end, nullptr, 0, 0, {}}};
  DemoMovimento buffer{};
  CDBCtree table(1, &ifil, &buffer, PutStandard, nullptr, nullptr, 0);
  const unsigned char saved_create = vktpar->allow_create, saved_dirs = vktpar->create_dirs;
  vktpar->allow_create = 1;
  vktpar->create_dirs = 1;
  int changed = 0;
  int s = table.DBOpen(1);
  vktpar->allow_create = saved_create;
  vktpar->create_dirs = saved_dirs;
  if (s == 0) s = table.DBPutDoda(doda, 0, &changed);
  const bool begun = s == 0 && DBBegin(50) != 0;
  if (s == 0 && !begun) s = -1;
  const double first_day = COleDateTime(2025, 3, 12, 8, 0, 0);
  for (int i = 0; s == 0 && i < kDemoMovimenti; ++i) {
    DemoMovimento m{};
    m.last_update = first_day + i / 1200 + (i % 1200) * (10.0 / 24 / 1200);  // 08:00 to 18:00
    std::snprintf(m.codice, sizeof m.codice, "M%07d", i + 1);
    std::snprintf(m.descr, sizeof m.descr, "%s articolo %d", i % 3 == 0 ? "scarico" : "carico",
                  i % 250 + 1);
    m.qta = (i % 3 == 0 ? -1 : 1) * (1 + i % 40) * 0.5;
    strzcpy(m.utente, vktpar->user, sizeof m.utente);
    s = table.DBAddRecord(&m);
  }
  // Any failed add, a library status (negative) as much as the client's,
  // leaves nothing of the batch behind.
  if (begun && s == 0) {
    s = DBCommit(0);
  } else if (begun) {
    DBAbort();
  }
  table.DBCloseIFile();
  DBCloseISAM(0);
  if (s != 0) std::printf("tabella dei movimenti non scritta (stato %d)\n", s);
  else std::printf("%d movimenti di magazzino in %s.dat\n", kDemoMovimenti, name.c_str());
  return s == 0;
}

}  // namespace

int DemoExport(const std::string& dir) {
  int failed = 0;
  const std::string magazzino = dir + "/magazzino";
  if (!WriteDemoMovimenti(magazzino)) return 1;
  // Everything to JSON (files of 5000), one day to CSV, each table dumped.
  if (Export({"movimenti", "--json", "--dir", magazzino}) != 0) failed++;
  if (Export({"movimenti", "--csv", "--da", "15/03/2025", "--a", "15/03/2025", "--dir", magazzino}) != 0)
    failed++;
  for (const char* table : {"clienti", "fatture"})
    if (Export({table, "--dump", "--dir", dir + "/archivio"}) != 0) failed++;
  if (Zip({dir + "/esportazioni.zip", dir + "/out"}) != 0) failed++;
  return failed;
}

// --- vkt copy-company -----------------------------------------------------------------

int CopyCompany(const std::vector<std::string>& args) {
  std::vector<std::string> plain;
  std::string dir = "vkt-demo";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--dir" && i + 1 < args.size()) {
      dir = args[++i];
    } else {
      plain.push_back(args[i]);
    }
  }
  char* end = nullptr;
  const long from = plain.size() == 2 ? std::strtol(plain[0].c_str(), &end, 10) : -1;
  const bool from_ok = end != nullptr && *end == '\0';
  const long to = plain.size() == 2 ? std::strtol(plain[1].c_str(), &end, 10) : -1;
  if (plain.size() != 2 || !from_ok || *end != '\0' || from < 0 || to < 0 || from > 99999 ||
      to > 99999 || from == to) {
    std::fputs(kCopyUsage, stderr);
    return 2;
  }
  char from_part[16], to_part[16];
  std::snprintf(from_part, sizeof from_part, "dit%05ld", from);
  std::snprintf(to_part, sizeof to_part, "dit%05ld", to);
  const std::string source = dir + "/" + from_part, target = dir + "/" + to_part;
  std::error_code ec;
  const std::vector<std::string> names = TableNames(source);
  if (names.empty()) {
    std::fprintf(stderr, "vkt copy-company: nessuna tabella in %s\n", source.c_str());
    return 1;
  }
  fs::create_directories(target, ec);
  if (!OpenSession()) return 1;
  const unsigned char saved_create = vktpar->allow_create, saved_dirs = vktpar->create_dirs;
  vktpar->allow_create = 1;
  vktpar->create_dirs = 1;
  BarProvider bars;
  vkt::db::ProgressProvider* old = vkt::db::SetProgressProvider(&bars);
  int result = 0;
  for (const std::string& name : names) {
    StoredTable src;
    std::string why;
    if (!src.Open(source, name, &why)) {
      std::printf("%s: %s\n", name.c_str(), why.c_str());
      result = 1;
      continue;
    }
    // The target: the source's description under the other company's name.
    ifil4 ifil = src.ifil();
    std::string stem = target + "/" + name;
    std::vector<char> stem_text(stem.begin(), stem.end());
    stem_text.push_back('\0');
    ifil.pfilnam = stem_text.data();
    ifil.dfilno = -1;
    ifil.tfilno = -1;
    std::vector<IIDX> ix(ifil.ix, ifil.ix + (ifil.dnumidx > 0 ? ifil.dnumidx : 0));
    std::vector<std::vector<char>> alt;
    alt.reserve(ix.size());
    for (IIDX& x : ix) {
      if (x.aidxnam == nullptr || x.aidxnam[0] == '\0') continue;
      std::string a = target + "/" + fs::path(x.aidxnam).filename().string();
      alt.emplace_back(a.begin(), a.end());
      alt.back().push_back('\0');
      x.aidxnam = alt.back().data();
    }
    ifil.ix = ix.empty() ? nullptr : ix.data();
    std::vector<DATOBJ> schema = src.Schema();
    const bool variable = src.variable();
    src.Close();  // the copy opens the source itself
    std::vector<char> record(ifil.dreclen, 0);
    CDBCtree table(0, &ifil, record.data(), PutStandard, nullptr, nullptr, variable ? 1 : 0);
    int s = table.DBOpen(1);
    int changed = 0;
    if (s == 0 && !schema.empty()) s = table.DBPutDoda(schema.data(), 0, &changed);
    if (s != 0) {
      std::printf("%s: tabella di destinazione non apribile (stato %d)\n", name.c_str(), s);
      result = 1;
      continue;
    }
    const int32_t already = table.DBNbrOfRecords();
    if (already > 0) {
      // The library leaves a table with records alone and says 0: a rerun
      // after an interrupted copy must not pass for a copy.
      std::printf("%s: %s\n", name.c_str(),
                  Show("la tabella di destinazione non \xE8 vuota (" + std::to_string(already) +
                       " record): nulla copiato")
                      .c_str());
      table.DBCloseIFile();
      result = 1;
      continue;
    }
    const int16_t c = variable ? table.DBCopyV(from, to) : table.DBCopy(from, to);
    if (c == 0) {
      std::printf("%s: %d record copiati in %s\n", name.c_str(), table.DBNbrOfRecords(),
                  target.c_str());
    } else {
      std::printf("%s: copia interrotta (stato %d), %d record copiati\n", name.c_str(), c,
                  table.DBNbrOfRecords());
      result = 1;
    }
    table.DBCloseIFile();
  }
  vkt::db::SetProgressProvider(old);
  vktpar->allow_create = saved_create;
  vktpar->create_dirs = saved_dirs;
  DBCloseISAM(0);
  return result;
}

// --- vkt zip ---------------------------------------------------------------------------

namespace {

// The archive's events as the bar, with the name in hand.
class ZipBar : public CkZipProgress {
 public:
  void PercentDone(int percent, bool*) override { bar_.Show(percent, name_); }
  void ToBeZipped(const char* name, uint32_t, bool*) override { name_ = name; }
  void ToBeUnzipped(const char* name, uint32_t, uint32_t, bool*) override { name_ = name; }
  void FileZipped(const char*, uint32_t, uint32_t, bool*) override { ++files; }
  void FileUnzipped(const char*, uint32_t, uint32_t, bool*) override { ++files; }
  void WriteZipEnd() override { Done(); }
  void UnzipEnd() override { Done(); }
  int files = 0;

 private:
  void Done() {
    name_.clear();
    bar_.Show(100, "");
    bar_.End();
  }
  Bar bar_;
  std::string name_;
};

}  // namespace

int Zip(const std::vector<std::string>& args) {
  const bool extract = !args.empty() && args[0] == "-x";
  const size_t first = extract ? 1 : 0;
  if (args.size() != first + 2) {
    std::fputs(kZipUsage, stderr);
    return 2;
  }
  const std::string archive = args[first], folder = args[first + 1];
  ZipBar bar;
  CkZip zip;
  zip.put_EventCallbackObject(&bar);
  std::error_code ec;
  if (extract) {
    if (!zip.OpenZip(archive)) {
      std::fprintf(stderr, "vkt zip: %s\n", zip.LastErrorText().c_str());
      return 1;
    }
    const int n = zip.Unzip(folder);
    if (n < 0) {
      std::fprintf(stderr, "vkt zip: %s\n", zip.LastErrorText().c_str());
      return 1;
    }
    std::printf("%d file estratti in %s\n", n, folder.c_str());
    return 0;
  }
  if (!fs::is_directory(folder, ec)) {
    std::fprintf(stderr, "vkt zip: cartella inesistente: %s\n", folder.c_str());
    return 1;
  }
  // Entries named below the folder's own name, as a user sees it.
  const fs::path abs = fs::absolute(folder, ec).lexically_normal();
  const fs::path base = abs.has_filename() ? abs : abs.parent_path();
  zip.put_AppendFromDir(base.parent_path().string());
  if (!zip.NewZip(archive) || !zip.AppendFiles(base.filename().string(), true) ||
      !zip.WriteZipAndClose()) {
    std::fprintf(stderr, "vkt zip: %s\n", zip.LastErrorText().c_str());
    return 1;
  }
  std::printf("%s: %d file compressi\n", archive.c_str(), bar.files);
  return 0;
}

}  // namespace vkt::tool
