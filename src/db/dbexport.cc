// CDBCtree: the binary dump and its import, and the incremental CSV and
// JSON exports of the records changed within a date-time window.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/julian.h"
#include "db/dbctree.h"
#include "db/dbexport.h"
#include "db/dbinternal.h"
#include "engine/csv.h"
#include "engine/json.h"
#include "frame/vktapp.h"
#include "win/cp1252.h"
#include "win/oledatetime.h"
#include "win/services.h"
#include "win/winconst.h"

using namespace vkt::db::detail;  // NOLINT: the exported names are global

namespace vkt::db {

ProgressWindow::~ProgressWindow() = default;
ProgressProvider::~ProgressProvider() = default;

namespace {
ProgressProvider* g_progress = nullptr;
}  // namespace

ProgressProvider* SetProgressProvider(ProgressProvider* provider) {
  ProgressProvider* old = g_progress;
  g_progress = provider;
  return old;
}

namespace detail {

std::unique_ptr<ProgressWindow> CreateProgress(const char* caption) {
  return g_progress != nullptr ? g_progress->Create(caption) : nullptr;
}

std::unique_ptr<ProgressWindow> WrapProgress(CVKTProgressDlg* dialog) {
  return g_progress != nullptr && dialog != nullptr ? g_progress->Wrap(dialog) : nullptr;
}

}  // namespace detail
}  // namespace vkt::db

namespace {

constexpr size_t kMaxName = 259;     // file names, as the host's systems limit them
constexpr int kRecordsPerFile = 5000;
constexpr int kKeyArea = 1024;

// --- Binary dump --------------------------------------------------------------

bool WriteAll(FILE* f, const void* p, size_t n) { return std::fwrite(p, 1, n, f) == n; }

// --- The stored schema and the field conversions ---------------------------------

struct Field {
  std::string name;  // as stored (Windows-1252)
  std::string json_name;  // the same in UTF-8
  uint16_t type = 0;
  uint16_t length = 0;
  size_t position = 0;  // sum of the lengths before it
};

// The schema stored in the data file, read whole; the names must lie inside
// the bytes read.
class StoredSchema {
 public:
  // 0 when read; otherwise the status already handed to DBISAM.
  int Read(int32_t datno) {
    const int32_t size = GetDODA(datno, 0, nullptr, 4);
    if (size <= 0) {
      const int16_t code = uerr_cod;
      DBISAM(code, VKT_DB_WHERE);
      return code != 0 ? code : -1;
    }
    bytes_.assign(static_cast<size_t>(size), 0);
    const int32_t again = GetDODA(datno, size, bytes_.data(), 4);
    if (again != size) {
      bytes_.clear();
      Fail(120);
      DBISAM(120, VKT_DB_WHERE);
      return 120;
    }
    const size_t max = bytes_.size() / sizeof(DATOBJ);
    size_t position = 0;
    const auto base = reinterpret_cast<uintptr_t>(bytes_.data());
    for (size_t i = 0; i < max; ++i) {
      DATOBJ e;
      std::memcpy(&e, bytes_.data() + i * sizeof(DATOBJ), sizeof e);
      if (e.fsymb == nullptr) break;
      const auto at = reinterpret_cast<uintptr_t>(e.fsymb);
      if (at < base || at >= base + bytes_.size()) break;
      const size_t left = static_cast<size_t>(base + bytes_.size() - at);
      const size_t n = strnlen(e.fsymb, left);
      if (n == left) break;  // no terminator inside what was read
      Field f;
      f.name.assign(e.fsymb, n);
      f.json_name = vkt::win::Cp1252ToUtf8(f.name);
      f.type = e.ftype;
      f.length = e.flen;
      f.position = position;
      position += e.flen;
      fields_.push_back(std::move(f));
    }
    return 0;
  }

  const std::vector<Field>& fields() const { return fields_; }
  void Free() {
    bytes_.clear();
    bytes_.shrink_to_fit();
  }

 private:
  std::vector<char> bytes_;
  std::vector<Field> fields_;
};

// The record bytes of a field, never past the record: what lies beyond it
// reads as zeros.
class RecordView {
 public:
  RecordView(const void* record, size_t length)
      : rec_(static_cast<const unsigned char*>(record)), length_(length) {}

  template <typename T>
  T Get(const Field& f) const {
    unsigned char b[sizeof(T)] = {};
    size_t n = sizeof(T) < f.length ? sizeof(T) : f.length;
    n = f.position < length_ ? std::min(n, length_ - f.position) : 0;
    if (n > 0) std::memcpy(b, rec_ + f.position, n);
    T v;
    std::memcpy(&v, b, sizeof v);
    return v;
  }

  // Fixed-length text up to its first zero byte or the end of its field,
  // backslashes doubled: the stored form of the exchange files.
  void Text(const Field& f, std::string* out) const {
    out->clear();
    if (f.position >= length_) return;
    const size_t room = std::min<size_t>(f.length, length_ - f.position);
    const char* p = reinterpret_cast<const char*>(rec_ + f.position);
    const size_t n = strnlen(p, room);
    for (size_t i = 0; i < n; ++i) {
      if (p[i] == '\\') out->push_back('\\');
      out->push_back(p[i]);
    }
  }

 private:
  const unsigned char* rec_;
  size_t length_;
};

// Two digits (or four) into `out`, for the date texts written per record.
char* Digits(char* out, int v, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  return out + width;
}

// "dd/mm/yyyy" and, with `time`, " hh:mm:ss" of broken-down parts, into
// *out (its room kept from one record to the next).
void DateText(const std::tm& t, bool time, std::string* out) {
  char b[24];
  char* p = b;
  p = Digits(p, t.tm_mday, 2);
  *p++ = '/';
  p = Digits(p, t.tm_mon + 1, 2);
  *p++ = '/';
  p = Digits(p, t.tm_year + 1900, 4);
  if (time) {
    *p++ = ' ';
    p = Digits(p, t.tm_hour, 2);
    *p++ = ':';
    p = Digits(p, t.tm_min, 2);
    *p++ = ':';
    p = Digits(p, t.tm_sec, 2);
  }
  out->assign(b, static_cast<size_t>(p - b));
}

// A day number as a date; false when it has none.
bool DayParts(int32_t day, std::tm* t) {
  return COleDateTime(JulianToDate(day, 0)).GetAsTm(t) && t->tm_year + 1900 > 0;
}

// An OLE date-time as text; false when it is no valid date.
bool StampText(double value, std::string* out) {
  std::tm t;
  if (!COleDateTime(value).GetAsTm(&t)) return false;
  DateText(t, true, out);
  return true;
}

// "%f" of a number (the same digits: both are exactly rounded); false for
// NaN and infinities, which JSON cannot hold.
bool NumberText(double v, std::string* out) {
  if (!std::isfinite(v)) return false;
  char b[400];
  auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed, 6);
  if (r.ec != std::errc()) return false;
  out->assign(b, r.ptr);
  return true;
}

template <typename T>
std::string IntText(T v) {
  char b[24];
  auto r = std::to_chars(b, b + sizeof b, v);
  return std::string(b, r.ptr);
}

// The "Tipo campo %-s non riconosciuto" report.
void UnknownType(const Field& f) {
  FormatStampa("Tipo campo %-s non riconosciuto", f.name.c_str());
  vkt::Report(buf_stampa, Caption(), MB_OK | MB_ICONSTOP);
}

void Stop(const char* text) { vkt::Report(text, Caption(), MB_OK | MB_ICONSTOP); }

std::string UpperName(const std::string& s) {
  std::string u = s;
  for (char& c : u) c = vkt::win::Cp1252ToUpper(c);
  return u;
}

}  // namespace

// --- The binary dump ---------------------------------------------------------------

int CDBCtree::DBExport(DB_IMPORT_EXPORT* block) {
  if (block == nullptr || block->file == nullptr || ifil == nullptr || buffer == nullptr) {
    Fail(CT_BAD_PARAMETER);
    return DB_EXPORT_FAILED;
  }
  std::unique_ptr<vkt::db::ProgressWindow> progress =
      vkt::Silent() ? nullptr : vkt::db::detail::WrapProgress(block->progress);
  DBSetIndex(0);
  const size_t length = RecordLength();
  unsigned char id[2] = {static_cast<unsigned char>(tableId & 0xFF),
                         static_cast<unsigned char>((tableId >> 8) & 0xFF)};
  int16_t s = DBFirstRecord();
  for (; s == 0; s = DBNextRecord()) {
    if (!WriteAll(block->file, id, sizeof id) || !WriteAll(block->file, buffer, length)) {
      Fail(CT_WRITE_ERROR);
      sysio_cod = static_cast<int16_t>(errno);
      return DB_EXPORT_FAILED;
    }
    block->count++;
    if (progress != nullptr && progress->Exists()) {
      if (progress->CheckCancelButton() != 0) return DB_EXPORT_CANCELLED;
      progress->StepIt();
    }
  }
  // The end of the table is the only good end of the walk; and what the
  // stream still buffers must reach the file too.
  if (s != CT_NOT_FOUND) return DB_EXPORT_FAILED;
  if (std::fflush(block->file) != 0 || std::ferror(block->file) != 0) {
    Fail(CT_WRITE_ERROR);
    sysio_cod = static_cast<int16_t>(errno);
    return DB_EXPORT_FAILED;
  }
  Clear();
  return DB_EXPORT_DONE;
}

int16_t CDBCtree::DBImport(DB_IMPORT_EXPORT* block) {
  if (block == nullptr || block->file == nullptr || ifil == nullptr) return Fail(CT_BAD_PARAMETER);
  const size_t length = RecordLength();
  std::unique_ptr<char[]> own;
  char* area = buf_stampa;
  if (length > sizeof buf_stampa) {
    own.reset(new (std::nothrow) char[length]);
    if (own == nullptr) return Fail(65);
    area = own.get();
  }
  std::memset(area, 0, length);
  // A dump cut inside a record adds nothing: half an image is no record.
  if (std::fread(area, 1, length, block->file) != length) return Fail(DB_IMPORT_SHORT);
  const int saved = lockStamp;
  lockStamp = 0;
  const int16_t s = variableLength != 0 ? DBAddVRecord(area, static_cast<int32_t>(length))
                                        : DBAddRecord(area);
  lockStamp = saved;
  return s;
}

// --- CSV and JSON ---------------------------------------------------------------------

namespace {

// What the two exports share: the table and file names, the schema, the
// last-update field and index, the walk through the window.
class ExportRun {
 public:
  explicit ExportRun(CDBCtree* table) : t_(table) {}

  // Steps 1 to 6 of the common start; false when the export ends (the
  // reports made).
  bool Start(const char* extension, CStringArray* tables) {
    if (t_->ifil == nullptr || t_->ifil->pfilnam == nullptr || t_->buffer == nullptr) {
      Fail(CT_BAD_PARAMETER);
      return false;
    }
    std::string file(t_->ifil->pfilnam, strnlen(t_->ifil->pfilnam, kMaxName));
    for (char& c : file)
      if (c == '\\') c = '/';
    const size_t slash = file.rfind('/');
    name_ = slash == std::string::npos ? file : file.substr(slash + 1);
    if (schema_.Read(t_->ifil->tfilno) != 0) return false;
    if (tables != nullptr) tables->Add(CString(name_));
    extension_ = extension != nullptr ? extension : "";
    if (!FileName(0, &output_)) return false;

    for (const Field& f : schema_.fields()) {
      if (f.name.find("_last_update") != std::string::npos) {
        has_last_update_ = true;
        last_update_ = &f;
        break;
      }
    }
    if (!has_last_update_) {
      Stop("Campo last_update non trovato!");
      schema_.Free();
      return false;
    }
    int16_t k = 0;
    for (int16_t i = 1; i <= t_->ifil->dnumidx && t_->ifil->ix != nullptr; ++i) {
      const char* n = t_->ifil->ix[i - 1].ridxnam;
      if (n != nullptr && std::strstr(n, "LastUpdate") != nullptr) {
        k = i;
        break;
      }
    }
    if (k == 0) {
      Stop("Indice LastUpdate non trovato!");
      schema_.Free();
      return false;
    }
    DBISAM(t_->DBSetIndex(k), VKT_DB_WHERE);
    return true;
  }

  // "<path>/out/NAME.EXT", or with `file` > 0 "NAME_nn.EXT"; only the name is
  // upper-cased, the program folder is taken as it is.
  bool FileName(long file, std::string* out) {
    std::string path = vktpar != nullptr ? std::string(vktpar->path, strnlen(vktpar->path, sizeof vktpar->path))
                                         : std::string();
    std::string tail = name_;
    if (file > 0) {
      char number[24];
      std::snprintf(number, sizeof number, "_%02ld", file);
      tail += number;
    }
    tail += "." + extension_;
    *out = path + "/out/" + UpperName(tail);
    // A name cut to the limit would be another file.
    if (out->size() > kMaxName) {
      WriteLogMessage("Impossibile salvare il file!");
      Fail(CT_BAD_PARAMETER);
      return false;
    }
    return true;
  }

  // Step 7: the first record of the window.
  int16_t First(double from) {
    if (from == 0.0) return t_->DBFirstRecord();
    char key[kKeyArea];
    std::memset(key, 0, sizeof key);
    std::memcpy(key, &from, sizeof from);
    return t_->DBGetGTERecord(key);
  }

  bool PastWindow(double to) const {
    if (to == DBL_MAX) return false;
    return view().Get<double>(*last_update_) > to;
  }

  RecordView view() const { return RecordView(t_->buffer, t_->ifil->dreclen); }
  const std::vector<Field>& fields() const { return schema_.fields(); }
  void FreeSchema() { schema_.Free(); }
  const std::string& output() const { return output_; }
  const char* table_file() const { return t_->ifil->pfilnam; }
  const std::string& name() const { return name_; }

 private:
  CDBCtree* t_;
  StoredSchema schema_;
  std::string name_;
  std::string extension_;
  std::string output_;
  bool has_last_update_ = false;  // position 0 is a place like any other
  const Field* last_update_ = nullptr;
};

// One CSV cell by the field's type; false for a type the CSV form lacks.
bool CsvCell(const RecordView& r, const Field& f, std::string* cell) {
  cell->clear();
  switch (f.type) {
    case 8:
      *cell = r.Get<uint8_t>(f) != 0 ? "1" : "0";
      return true;
    case 16:
    case 24: {
      const char c = static_cast<char>(r.Get<uint8_t>(f));
      if (c != '\0') cell->assign(1, c);
      return true;
    }
    case 33:
      *cell = IntText(r.Get<int16_t>(f));
      return true;
    case 51:
      *cell = IntText(r.Get<int32_t>(f));
      return true;
    case 75: {
      const int32_t day = r.Get<int32_t>(f);
      std::tm t;
      if (day != 0 && DayParts(day, &t)) DateText(t, false, cell);
      return true;
    }
    case 83: {
      const int32_t v = r.Get<int32_t>(f);
      if (v != 0) {
        char b[48];
        std::snprintf(b, sizeof b, "%02d:%02d:%02d", v / 3600, (v % 3600) / 60, v % 60);
        *cell = b;
      }
      return true;
    }
    case 91:
      if (!NumberText(r.Get<float>(f), cell)) *cell = std::to_string(r.Get<float>(f));
      return true;
    case 103:
      if (!NumberText(r.Get<double>(f), cell)) *cell = std::to_string(r.Get<double>(f));
      return true;
    case 124: {
      const double v = r.Get<double>(f);
      if (v != 0.0) StampText(v, cell);
      return true;
    }
    case 144:
      r.Text(f, cell);
      return true;
    default:
      return false;
  }
}

// Text that is the same in Windows-1252 and UTF-8.
bool IsAscii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// One JSON member by the field's type; false for a type the JSON form
// lacks. A type-128 field has no value and is left out.
bool JsonMember(const RecordView& r, const Field& f, CkJsonObject* o, std::string* scratch) {
  const std::string& n = f.json_name;
  switch (f.type) {
    case 8:
    case 16:
    case 24:
      o->AddIntAt(-1, n, r.Get<uint8_t>(f) != 0 ? 1 : 0);
      return true;
    case 33:
      o->AddIntAt(-1, n, r.Get<int16_t>(f));
      return true;
    case 41:
      if (f.length >= 4) {
        o->AddIntAt(-1, n, r.Get<uint32_t>(f));
      } else {
        o->AddIntAt(-1, n, r.Get<uint16_t>(f));
      }
      return true;
    case 51:
      o->AddIntAt(-1, n, r.Get<int32_t>(f));
      return true;
    case 59:
      o->AddIntAt(-1, n, r.Get<uint32_t>(f));
      return true;
    case 75: {
      const int32_t day = r.Get<int32_t>(f);
      std::tm t;
      if (day != 0 && DayParts(day, &t)) {
        DateText(t, false, scratch);
        scratch->append(" 00:00:00");
        o->AddStringAt(-1, n, *scratch);
      } else {
        o->AddNullAt(-1, n);
      }
      return true;
    }
    case 83:
      o->AddIntAt(-1, n, r.Get<int32_t>(f));
      return true;
    case 91:
      if (NumberText(r.Get<float>(f), scratch)) {
        o->AddNumberAt(-1, n, *scratch);
      } else {
        o->AddNullAt(-1, n);
      }
      return true;
    case 103:
      if (NumberText(r.Get<double>(f), scratch)) {
        o->AddNumberAt(-1, n, *scratch);
      } else {
        o->AddNullAt(-1, n);
      }
      return true;
    case 124: {
      const double v = r.Get<double>(f);
      if (v != 0.0 && StampText(v, scratch)) {
        o->AddStringAt(-1, n, *scratch);
      } else {
        o->AddNullAt(-1, n);
      }
      return true;
    }
    case 128:
      return true;
    case 144:
      r.Text(f, scratch);
      // The exchange form is UTF-8; the writer escapes quotes, backslashes
      // and control characters on top of the stored form.
      if (IsAscii(*scratch)) {
        o->AddStringAt(-1, n, *scratch);
      } else {
        o->AddStringAt(-1, n, vkt::win::Cp1252ToUtf8(*scratch));
      }
      return true;
    default:
      return false;
  }
}

void LogExported(long count, const char* table) {
  FormatStampa("Esportati %ld %-s", count, Text(table));
  WriteLogMessage(buf_stampa);
}

// A fresh document: description, table, records, data.
void NewDocument(CkJsonObject* doc, const std::string& description, const std::string& table) {
  doc->Clear();
  doc->AddStringAt(-1, "description", description);
  doc->AddStringAt(-1, "table", table);
  doc->AddIntAt(-1, "records", 0);
  doc->AddArrayAt(-1, "data");
}

// Closes a document into its file; false (logged) when it cannot be written.
bool WriteDocument(CkJsonObject* doc, long count, const std::string& path) {
  doc->SetIntAt(2, count);
  doc->put_EmitCompact(false);
  doc->put_EmitCrLf(true);
  CkStringBuilder sb;
  if (!doc->EmitSb(sb)) {
    WriteLogMessage(doc->LastErrorText().c_str());
    return false;
  }
  if (!sb.WriteFile(path, "utf-8", false)) {
    WriteLogMessage("Impossibile salvare il file!");
    return false;
  }
  return true;
}

}  // namespace

int CDBCtree::DBExpCSV(double from, double to, char* extension, int (*filter)()) {
  ExportRun run(this);
  if (!run.Start(extension, nullptr)) return 0;
  CkCsv csv;
  csv.put_HasColumnNames(true);
  csv.put_Crlf(true);
  csv.put_Delimiter("|");
  const std::vector<Field>& fields = run.fields();
  for (size_t i = 0; i < fields.size(); ++i) csv.SetColumnName(static_cast<int>(i), fields[i].name);

  int row = 0;
  std::string cell;
  int16_t s = run.First(from);
  while (s == 0) {
    if (filter != nullptr && filter() == 0) {
      s = DBNextRecord();
      continue;
    }
    if (run.PastWindow(to)) break;
    const RecordView r = run.view();
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!CsvCell(r, fields[i], &cell)) {
        UnknownType(fields[i]);
        run.FreeSchema();
        return 0;
      }
      csv.SetCell(row, static_cast<int>(i), cell);
    }
    ++row;
    s = DBNextRecord();
  }
  run.FreeSchema();
  // A walk broken by a read error is no export of the window.
  if (s != 0 && s != CT_NOT_FOUND) return 0;
  if (!csv.SaveFile(run.output())) {
    WriteLogMessage(csv.LastErrorText().c_str());
    return 0;
  }
  LogExported(row, run.table_file());
  return 1;
}

int CDBCtree::DBExpJson(double from, double to, char* description, char* extension,
                        CStringArray* tables, int (*filter)(), CStringArray* reserved) {
  (void)reserved;
  ExportRun run(this);
  if (!run.Start(extension, tables)) return 0;
  const std::string desc = vkt::win::Cp1252ToUtf8(description != nullptr ? description : "");
  const std::string table = vkt::win::Cp1252ToUtf8(run.name());
  CkJsonObject doc;
  NewDocument(&doc, desc, table);
  std::unique_ptr<CkJsonArray> data = doc.ArrayOf("data");
  const std::vector<Field>& fields = run.fields();

  long count = 0, files = 0;
  std::string path = run.output(), scratch;
  int16_t s = run.First(from);
  while (s == 0) {
    if (filter != nullptr && filter() == 0) {
      s = DBNextRecord();
      continue;
    }
    if (run.PastWindow(to)) break;
    const RecordView r = run.view();
    std::unique_ptr<CkJsonObject> o = data->AppendObject();
    for (const Field& f : fields) {
      if (!JsonMember(r, f, o.get(), &scratch)) {
        UnknownType(f);
        run.FreeSchema();
        return 0;
      }
    }
    ++count;
    s = DBNextRecord();
    if (s == 0 && count == kRecordsPerFile) {
      if (!WriteDocument(&doc, count, path)) {
        run.FreeSchema();
        return 0;
      }
      ++files;
      LogExported(files * kRecordsPerFile, run.table_file());
      if (!run.FileName(files, &path)) {
        run.FreeSchema();
        return 0;
      }
      NewDocument(&doc, desc, table);
      data = doc.ArrayOf("data");
      count = 0;
    }
  }
  run.FreeSchema();
  if (s != 0 && s != CT_NOT_FOUND) return 0;
  if (!WriteDocument(&doc, count, path)) return 0;
  LogExported(files * kRecordsPerFile + count, run.table_file());
  return 1;
}
