// `vkt db`: looks into an archive the library wrote, table by table, with
// the descriptions and schemas stored in the tables themselves.
//
//   vkt db verify DIR                 records and every index agree
//   vkt db list DIR                   the tables, their records and indexes
//   vkt db list DIR TABLE [-i K]      the records in the order of index K
//   vkt db get DIR TABLE KEY [-i K]   the records whose key K is KEY
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/vktstring.h"
#include "db/dbctree.h"
#include "frame/vktapp.h"
#include "tools/vkt/vkt.h"

namespace vkt::tool {
namespace {

constexpr const char* kDbUsage =
    "uso: vkt db verify CARTELLA\n"
    "     vkt db list CARTELLA [TABELLA [-i INDICE]]\n"
    "     vkt db get CARTELLA TABELLA CHIAVE [-i INDICE]\n";

std::string Utf8(const char* cp1252, size_t n) {
  std::string text(cp1252, strnlen(cp1252, n));
  return StrToUtf8(text.c_str());
}

// One table opened with its stored description; the table object reads it
// through the key files of that description.
class Table {
 public:
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;
  ~Table() {
    if (datno_ >= 0) DBCloseRFile(datno_);
  }

  static std::unique_ptr<Table> Open(const std::string& dir, const std::string& name,
                                     std::string* why) {
    std::unique_ptr<Table> t(new Table(name));
    std::string path = dir + "/" + name + ".dat";
    t->datno_ = DBOpenFileWithResource(-1, path.data(), DBSetFileMode());
    if (t->datno_ < 0) {
      *why = "non apribile (stato " + std::to_string(DBGetIsamErr()) + ")";
      return nullptr;
    }
    const int32_t size = DBGetIFile(t->datno_, 0, nullptr);
    if (size < static_cast<int32_t>(sizeof(ifil4))) {
      *why = "descrizione non leggibile (stato " + std::to_string(DBGetUerrCod()) + ")";
      return nullptr;
    }
    t->desc_.resize(static_cast<size_t>(size));
    if (DBGetIFile(t->datno_, size, t->desc_.data()) != size) {
      *why = "descrizione non leggibile (stato " + std::to_string(DBGetUerrCod()) + ")";
      return nullptr;
    }
    std::memcpy(&t->ifil_, t->desc_.data(), sizeof t->ifil_);
    t->ifil_.tfilno = t->datno_;
    const int32_t doda = GetDODA(t->datno_, 0, nullptr, 4);
    if (doda > 0) {
      t->doda_.resize(static_cast<size_t>(doda));
      if (GetDODA(t->datno_, doda, t->doda_.data(), 4) != doda) t->doda_.clear();
    }
    t->record_.assign(t->ifil_.dreclen, 0);
    t->table_ = std::make_unique<CDBCtree>(0, &t->ifil_, t->record_.data(), nullptr, nullptr,
                                           nullptr, 0);
    return t;
  }

  const std::string& name() const { return name_; }
  const ifil4& ifil() const { return ifil_; }
  CDBCtree& table() { return *table_; }
  const std::vector<char>& record() const { return record_; }
  int32_t datno() const { return datno_; }

  // Bytes of the segments of index k (1...), the key's record form.
  int SegmentBytes(int k) const {
    const IIDX& ix = ifil_.ix[k - 1];
    int n = 0;
    for (int i = 0; i < ix.inumseg; ++i) n += ix.seg[i].slength;
    return n;
  }

  // The record's fields by the stored schema: "name=value" each; without a
  // schema the printable bytes.
  std::vector<std::pair<std::string, std::string>> Fields() const {
    std::vector<std::pair<std::string, std::string>> out;
    const char* rec = record_.data();
    const size_t len = record_.size();
    if (doda_.empty()) {
      std::string text;
      for (size_t i = 0; i < len && i < 120; ++i)
        text.push_back(rec[i] >= 32 && rec[i] < 127 ? rec[i] : '.');
      out.emplace_back("record", text);
      return out;
    }
    size_t at = 0;
    for (const DATOBJ* d = reinterpret_cast<const DATOBJ*>(doda_.data()); d->fsymb != nullptr;
         ++d) {
      if (at + d->flen > len) break;
      const char* p = rec + at;
      char num[64];
      std::string value;
      switch (d->ftype) {
        case 144: {
          std::string text = Utf8(p, d->flen);
          while (!text.empty() && text.back() == ' ') text.pop_back();
          value = text;
          break;
        }
        case 8: case 16: case 24:
          std::snprintf(num, sizeof num, "%u", static_cast<unsigned char>(*p));
          value = num;
          break;
        case 33: {
          int16_t v;
          std::memcpy(&v, p, 2);
          value = std::to_string(v);
          break;
        }
        case 51: case 59: case 75: case 83: {
          int32_t v;
          std::memcpy(&v, p, 4);
          value = std::to_string(v);
          break;
        }
        case 103: case 124: {
          double v;
          std::memcpy(&v, p, 8);
          std::snprintf(num, sizeof num, "%.2f", v);
          value = num;
          break;
        }
        default:
          for (size_t i = 0; i < d->flen && i < 32; ++i) {
            std::snprintf(num, sizeof num, "%02X", static_cast<unsigned char>(p[i]));
            value += num;
          }
      }
      out.emplace_back(d->fsymb, value);
      at += d->flen;
    }
    return out;
  }

 private:
  explicit Table(std::string name) : name_(std::move(name)) {}

  std::string name_;
  int32_t datno_ = -1;
  std::vector<char> desc_;  // the stored description; ifil_'s pointers lead here
  std::vector<char> doda_;
  std::vector<char> record_;
  ifil4 ifil_{};
  std::unique_ptr<CDBCtree> table_;
};

std::vector<std::string> TableNames(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    const std::string n = e.path().filename().string();
    if (n.size() > 4 && n.compare(n.size() - 4, 4, ".dat") == 0) names.push_back(n.substr(0, n.size() - 4));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The checks of one table; each fault is printed.
bool VerifyTable(Table& t, long* records) {
  bool ok = true;
  auto fault = [&](const std::string& what) {
    std::printf("%s: %s\n", t.name().c_str(), what.c_str());
    ok = false;
  };
  CDBCtree& table = t.table();
  const int32_t n = NbrOfRecords(t.datno());
  table.DBSetIndex(0);
  int32_t physical = 0;
  int16_t s = table.DBFirstRecord();
  for (; s == 0; s = table.DBNextRecord()) ++physical;
  if (s != CT_NOT_FOUND) fault("lettura interrotta (stato " + std::to_string(s) + ")");
  if (physical != n)
    fault(std::to_string(physical) + " record letti, " + std::to_string(n) + " contati");
  for (int16_t k = 1; k <= t.ifil().dnumidx; ++k) {
    const int32_t keyno = t.datno() + k;
    const int32_t entries = NbrOfKeyEntries(keyno);
    char cond[8];
    const bool partial = GetConditionalIndex(keyno, cond, sizeof cond) > 0;
    if (!partial && entries != n)
      fault("indice " + std::to_string(k) + ": " + std::to_string(entries) + " chiavi per " +
            std::to_string(n) + " record");
    table.DBSetIndex(k);
    std::string previous;
    int32_t walked = 0;
    for (s = table.DBFirstRecord(); s == 0 && ok; s = table.DBNextRecord()) {
      char key[1024];
      int32_t len = sizeof key;
      if (CurrentISAMKey(keyno, key, &len) != 0) {
        fault("indice " + std::to_string(k) + ": chiave corrente illeggibile");
        break;
      }
      std::string current(key, static_cast<size_t>(len));
      if (walked > 0 && !(previous < current))
        fault("indice " + std::to_string(k) + ": fuori ordine alla chiave " + std::to_string(walked));
      // The key leads to a record whose stored image is the one read.
      std::vector<char> again(t.record().size());
      if (ReReadRecord(t.datno(), again.data()) != 0 || again != t.record())
        fault("indice " + std::to_string(k) + ": la chiave " + std::to_string(walked) +
              " non porta al suo record");
      previous = current;
      ++walked;
    }
    if (ok && s != CT_NOT_FOUND)
      fault("indice " + std::to_string(k) + ": lettura interrotta (stato " + std::to_string(s) + ")");
    if (ok && walked != entries)
      fault("indice " + std::to_string(k) + ": " + std::to_string(walked) + " chiavi lette di " +
            std::to_string(entries));
  }
  if (ok) std::printf("%s: %d record, %d indici: ok\n", t.name().c_str(), n, t.ifil().dnumidx);
  *records += n;
  return ok;
}

int Verify(const std::string& dir) {
  const std::vector<std::string> names = TableNames(dir);
  if (names.empty()) {
    std::printf("nessuna tabella in %s\n", dir.c_str());
    return 1;
  }
  bool ok = true;
  long records = 0;
  for (const std::string& name : names) {
    std::string why;
    std::unique_ptr<Table> t = Table::Open(dir, name, &why);
    if (t == nullptr) {
      std::printf("%s: %s\n", name.c_str(), why.c_str());
      ok = false;
      continue;
    }
    ok = VerifyTable(*t, &records) && ok;
  }
  if (!ok) return 1;
  std::printf("ok %ld\n", records);
  return 0;
}

int ListTables(const std::string& dir) {
  const std::vector<std::string> names = TableNames(dir);
  if (names.empty()) {
    std::printf("nessuna tabella in %s\n", dir.c_str());
    return 1;
  }
  int result = 0;
  for (const std::string& name : names) {
    std::string why;
    std::unique_ptr<Table> t = Table::Open(dir, name, &why);
    if (t == nullptr) {
      std::printf("%s: %s\n", name.c_str(), why.c_str());
      result = 1;
      continue;
    }
    const ifil4& f = t->ifil();
    std::printf("%s: %d record da %u byte\n", name.c_str(), NbrOfRecords(t->datno()), f.dreclen);
    for (int k = 1; k <= f.dnumidx; ++k) {
      const IIDX& ix = f.ix[k - 1];
      std::printf("  indice %d %s: chiave di %d byte, %s\n", k,
                  ix.ridxnam != nullptr ? ix.ridxnam : "(senza nome)", ix.ikeylen,
                  ix.ikeydup != 0 ? "con duplicati" : "univoca");
    }
  }
  return result;
}

void PrintLine(const Table& t) {
  std::string line;
  for (const auto& [name, value] : t.Fields()) {
    if (!line.empty()) line += " | ";
    line += name + "=" + value;
  }
  std::printf("%s\n", line.c_str());
}

// Opens the table and checks the index asked for.
std::unique_ptr<Table> OpenFor(const std::string& dir, const std::string& name, int index,
                               int lowest) {
  std::string why;
  std::unique_ptr<Table> t = Table::Open(dir, name, &why);
  if (t == nullptr) {
    std::fprintf(stderr, "vkt db: %s: %s\n", name.c_str(), why.c_str());
    return nullptr;
  }
  if (index < lowest || index > t->ifil().dnumidx) {
    std::fprintf(stderr, "vkt db: %s ha gli indici da %d a %d\n", name.c_str(), lowest,
                 t->ifil().dnumidx);
    return nullptr;
  }
  t->table().DBSetIndex(static_cast<int16_t>(index));
  return t;
}

int ListRecords(const std::string& dir, const std::string& name, int index) {
  std::unique_ptr<Table> t = OpenFor(dir, name, index, 0);
  if (t == nullptr) return 1;
  CDBCtree& table = t->table();
  long n = 0;
  int16_t s = table.DBFirstRecord();
  for (; s == 0; s = table.DBNextRecord(), ++n) PrintLine(*t);
  if (s != CT_NOT_FOUND) {
    std::printf("lettura interrotta (stato %d)\n", s);
    return 1;
  }
  std::printf("%ld record\n", n);
  return 0;
}

int Get(const std::string& dir, const std::string& name, const std::string& key, int index) {
  std::unique_ptr<Table> t = OpenFor(dir, name, index, 1);
  if (t == nullptr) return 1;
  const int seg = t->SegmentBytes(index);
  const int keylen = t->ifil().ix[index - 1].ikeylen;
  const std::string& wanted = key;  // the bytes as typed: codes are plain ASCII
  if (static_cast<int>(wanted.size()) > seg) {
    std::fprintf(stderr, "vkt db: chiave di %zu byte, l'indice %d ne ha %d\n", wanted.size(),
                 index, seg);
    return 1;
  }
  // The key in the record's form, blank-padded; it selects on the segments
  // it reaches into (a customer's code alone in "customer + number").
  const IIDX& ix = t->ifil().ix[index - 1];
  int cover = 0;
  for (int i = 0; i < ix.inumseg && cover < static_cast<int>(wanted.size()); ++i)
    cover += ix.seg[i].slength;
  if (cover == 0) cover = seg;
  std::vector<char> target(static_cast<size_t>(std::max(seg, keylen)) + 8, 0);
  std::memset(target.data(), ' ', static_cast<size_t>(seg));
  std::memcpy(target.data(), wanted.data(), wanted.size());
  CDBCtree& table = t->table();
  int16_t s = table.DBGetGTERecord(target.data());
  int found = 0;
  const int32_t keyno = t->datno() + index;
  while (s == 0) {
    char current[1024];
    int32_t len = sizeof current;
    if (CurrentISAMKey(keyno, current, &len) != 0 || len < cover ||
        std::memcmp(current, target.data(), static_cast<size_t>(cover)) != 0)
      break;
    if (found > 0) std::printf("\n");
    for (const auto& [field, value] : t->Fields()) std::printf("%s: %s\n", field.c_str(), value.c_str());
    ++found;
    s = table.DBNextRecord();
  }
  if (found == 0) {
    std::printf("nessun record con chiave '%s' nell'indice %d\n", key.c_str(), index);
    return 1;
  }
  return 0;
}

// "-i K" anywhere after the fixed arguments.
bool TakeIndex(std::vector<std::string>* args, int* index) {
  for (size_t i = 0; i < args->size(); ++i) {
    if ((*args)[i] != "-i") continue;
    if (i + 1 >= args->size()) return false;
    const std::string& v = (*args)[i + 1];
    char* end = nullptr;
    const long k = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || k < 0 || k > 32000) return false;
    *index = static_cast<int>(k);
    args->erase(args->begin() + static_cast<long>(i), args->begin() + static_cast<long>(i) + 2);
    return true;
  }
  return true;
}

}  // namespace

int Db(const std::vector<std::string>& in) {
  std::vector<std::string> args = in;
  int index = 1;
  if (args.size() < 2 || !TakeIndex(&args, &index)) {
    std::fputs(kDbUsage, stderr);
    return 2;
  }
  const std::string& cmd = args[0];
  const bool known = (cmd == "verify" && args.size() == 2) ||
                     (cmd == "list" && (args.size() == 2 || args.size() == 3)) ||
                     (cmd == "get" && args.size() == 4);
  if (!known) {
    std::fputs(kDbUsage, stderr);
    return 2;
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(args[1], ec)) {
    std::fprintf(stderr, "vkt db: cartella inesistente: %s\n", args[1].c_str());
    return 1;
  }
  char none[1] = "";
  if (int16_t s = DBInitISAM(64, vktpar->user, vktpar->password, none, true, false, true); s != 0) {
    std::fprintf(stderr, "vkt db: sessione ISAM non aperta (stato %d)\n", s);
    return 1;
  }
  int result;
  if (cmd == "verify") {
    result = Verify(args[1]);
  } else if (cmd == "list") {
    result = args.size() == 2 ? ListTables(args[1]) : ListRecords(args[1], args[2], index);
  } else {
    result = Get(args[1], args[2], args[3], index);
  }
  DBCloseISAM(0);
  return result;
}

}  // namespace vkt::tool
