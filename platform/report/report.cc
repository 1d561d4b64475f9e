#include "report/report.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "print/cups_queue.h"
#include "report/detail/definition.h"
#include "report/detail/formula.h"
#include "report/detail/source.h"
#include "win/cp1252.h"
#include "win/registry_store.h"

namespace vkt::report {

using detail::Definition;
using detail::Lower;
using detail::Node;

namespace {

constexpr const char* kSrcDefinition = "Report Definition";
constexpr const char* kSrcFormula = "Formula";
constexpr const char* kSrcDatabase = "Database";
constexpr const char* kSrcParameters = "Parameters";
constexpr const char* kSrcOutput = "Output";
constexpr const char* kSrcRuntime = "Report Runtime";

int g_fail_create = 0;

constexpr double kPointsPerMm = 72.0 / 25.4;
constexpr double kMargin = 10 * kPointsPerMm;
constexpr double kDetailSize = 8.0;   // detail font, points
constexpr double kLineHeight = 11.0;  // detail pitch, points
constexpr double kMonoAdvance = 0.6;  // advance of the monospaced font per point
constexpr const char* kMonoFont = "DejaVu Sans Mono";
constexpr const char* kSansFont = "DejaVu Sans";
// Formulas that use formulas that use formulas...: at most this deep.
constexpr size_t kMaxFormulaChain = 16;

std::string FormatNumber(double v, int decimals) {
  if (decimals < 0) decimals = v == std::floor(v) && std::fabs(v) < 1e15 ? 0 : 2;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, std::fabs(v));
  std::string s = buf, frac;
  size_t dot = s.find('.');
  if (dot != std::string::npos) {
    frac = "," + s.substr(dot + 1);
    s.erase(dot);
  }
  std::string grouped;
  for (size_t i = 0; i < s.size(); ++i) {
    if (i > 0 && (s.size() - i) % 3 == 0) grouped += '.';
    grouped += s[i];
  }
  const bool negative = v < 0 && (std::fabs(v) >= 0.5 * std::pow(10.0, -decimals));
  return (negative ? "-" : "") + grouped + frac;
}

std::string Format(const Value& v, int decimals) {
  char buf[32];
  switch (v.kind) {
    case Kind::kNull:
      return "";
    case Kind::kNumber:
      return FormatNumber(v.num, decimals);
    case Kind::kBool:
      return v.num != 0 ? "S\xEC" : "No";
    case Kind::kDate: {
      int y, m, d;
      JdnToCivil(static_cast<int32_t>(v.num), &y, &m, &d);
      std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d, m, y);
      return buf;
    }
    case Kind::kTime: {
      const int32_t t = static_cast<int32_t>(v.num);
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t / 3600, t % 3600 / 60, t % 60);
      return buf;
    }
    case Kind::kText: {
      std::string s = v.text;
      while (!s.empty() && s.back() == ' ') s.pop_back();
      return s;
    }
  }
  return "";
}

// Cuts a text to what fits `width` points in the detail font.
std::string Fit(const std::string& s, double width, double size) {
  const size_t n = static_cast<size_t>(std::max(0.0, width / (size * kMonoAdvance)));
  return s.size() <= n ? s : s.substr(0, n);
}

bool ReadWholeFile(const std::string& path, std::string* out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  f.seekg(0, std::ios::end);
  std::streamoff size = f.tellg();
  if (size < 0) return false;
  if (static_cast<size_t>(size) > detail::kMaxDefinitionBytes + 1) size = detail::kMaxDefinitionBytes + 1;
  f.seekg(0);
  out->resize(static_cast<size_t>(size));
  f.read(out->data(), size);
  return static_cast<bool>(f) || f.gcount() == size;
}

Kind KindOf(ParamType t) {
  switch (t) {
    case ParamType::kNumber: return Kind::kNumber;
    case ParamType::kDate: return Kind::kDate;
    case ParamType::kText: return Kind::kText;
    case ParamType::kTime: return Kind::kTime;
  }
  return Kind::kNull;
}

// Resolves names against one run's row layout.
class RowResolver : public detail::Resolver {
 public:
  RowResolver(Definition* def, bool prompt) : def_(def), prompt_(prompt) {}
  std::map<std::string, int> slots;  // "table.field", lower case

  int Field(const std::string& table, const std::string& name) override {
    auto it = slots.find(Lower(table) + "." + Lower(name));
    return it == slots.end() ? -1 : it->second;
  }
  const Node* Formula(const std::string& name, std::string* why) override {
    const std::string key = Lower(name);
    if (auto it = done_.find(key); it != done_.end()) return it->second.get();
    if (busy_.count(key) != 0) {
      *why = "The formula {@" + name + "} refers to itself";
      return nullptr;
    }
    // Each level adds its tree to the evaluation's depth.
    if (busy_.size() >= kMaxFormulaChain) {
      *why = "The formulas refer to each other too deeply at {@" + name + "}";
      return nullptr;
    }
    for (const detail::FormulaDef& f : def_->formulas) {
      if (Lower(f.name) != key) continue;
      auto tree = detail::ParseFormula(f.text, why);
      if (!tree) return nullptr;
      busy_.insert(key);
      const bool ok = detail::Resolve(tree.get(), this, why);
      busy_.erase(key);
      if (!ok) return nullptr;
      return (done_[key] = std::move(tree)).get();
    }
    *why = "The formula {@" + name + "} is not defined";
    return nullptr;
  }
  bool Param(const std::string& name, Value* out, std::string* why) override {
    for (const ParameterInfo& p : def_->params) {
      if (Lower(p.name) != Lower(name)) continue;
      if (p.has_value) {
        *out = p.value;
        return true;
      }
      if (prompt_ && p.has_default) {
        *out = p.default_value;
        return true;
      }
      *why = "No value was given for the parameter {?" + name + "}";
      param_missing = true;
      return false;
    }
    *why = "The parameter {?" + name + "} is not defined";
    return false;
  }
  bool param_missing = false;

 private:
  Definition* def_;
  bool prompt_;
  std::map<std::string, std::unique_ptr<Node>> done_;
  std::set<std::string> busy_;
};

std::unique_ptr<Node> Compile(const std::string& text, RowResolver* r, Error* error) {
  std::string why;
  auto n = detail::ParseFormula(text, &why);
  if (!n) {
    error->Set(kErrFormula, kSrcFormula, "Error in formula " + text.substr(0, 80) + ": " + why);
    return nullptr;
  }
  if (!detail::Resolve(n.get(), r, &why)) {
    error->Set(r->param_missing ? kErrParameter : kErrUnknownName,
               r->param_missing ? kSrcParameters : kSrcFormula, why);
    return nullptr;
  }
  return n;
}

// A sort name as the runner gives it: "{...}" is an expression, a bare
// "table.field" a field.
std::string SortExpression(const std::string& name) {
  if (!name.empty() && name[0] == '{') return name;
  return "{" + name + "}";
}

}  // namespace

// --- Values ------------------------------------------------------------------

void Error::Set(uint32_t c, const std::string& src, const std::string& text) {
  code = c;
  source = src;
  description = text;
}

int32_t CivilToJdn(int year, int month, int day) {
  const int a = (14 - month) / 12;
  const int64_t y = static_cast<int64_t>(year) + 4800 - a;
  const int m = month + 12 * a - 3;
  return static_cast<int32_t>(day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045);
}

void JdnToCivil(int32_t jdn, int* year, int* month, int* day) {
  const int64_t a = static_cast<int64_t>(jdn) + 32044;
  const int64_t b = (4 * a + 3) / 146097;
  const int64_t c = a - 146097 * b / 4;
  const int64_t d = (4 * c + 3) / 1461;
  const int64_t e = c - 1461 * d / 4;
  const int64_t m = (5 * e + 2) / 153;
  *day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  *month = static_cast<int>(m + 3 - 12 * (m / 10));
  *year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

bool IsCivilDate(int year, int month, int day) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

Value Value::DateYmd(int year, int month, int day) {
  if (!IsCivilDate(year, month, day)) return Value();
  return Date(CivilToJdn(year, month, day));
}

bool Value::Truthy() const {
  switch (kind) {
    case Kind::kNull: return false;
    case Kind::kText: return !text.empty();
    default: return num != 0;
  }
}

void PageSizePoints(const PageSetup& s, double* w, double* h) {
  double mw = 210, mh = 297;
  switch (s.paper) {
    case kPaperLetter: mw = 215.9; mh = 279.4; break;
    case kPaperLegal: mw = 215.9; mh = 355.6; break;
    case kPaperA3: mw = 297; mh = 420; break;
    case kPaperA5: mw = 148; mh = 210; break;
    case kPaperUser:
      if (s.width_dmm >= 100 && s.width_dmm <= 50000 && s.length_dmm >= 100 && s.length_dmm <= 50000) {
        mw = s.width_dmm / 10.0;
        mh = s.length_dmm / 10.0;
      }
      break;
    default: break;
  }
  if (s.orientation == 2 && mw < mh) std::swap(mw, mh);
  if (s.orientation == 1 && mw > mh) std::swap(mw, mh);
  *w = mw * kPointsPerMm;
  *h = mh * kPointsPerMm;
}

// --- Application -----------------------------------------------------------------

void FailCreateForTest(int n) { g_fail_create = n; }

std::unique_ptr<Application> Application::Create(const std::string& progid, Error* error) {
  if (progid != kProgId) {
    error->Set(kErrNoRuntime, kSrcRuntime, "Class not registered: " + progid.substr(0, 80));
    return nullptr;
  }
  if (g_fail_create > 0) {
    --g_fail_create;
    error->Set(kErrNoRuntime, kSrcRuntime, "The report runtime cannot start");
    return nullptr;
  }
  // The drawing library must be able to make a surface.
  cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  const bool ok = cairo_surface_status(probe) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(probe);
  if (!ok) {
    error->Set(kErrNoRuntime, kSrcRuntime, "The drawing library cannot start");
    return nullptr;
  }
  return std::unique_ptr<Application>(new Application());
}

Application::~Application() = default;

std::unique_ptr<Report> Application::OpenReport(const std::string& path, Error* error) {
  std::string text;
  if (!ReadWholeFile(path, &text)) {
    error->Set(kErrFileOpen, kSrcDefinition, "The report file cannot be opened: " + path);
    return nullptr;
  }
  auto r = OpenReportText(text, path, error);
  if (r) r->path_ = path;
  return r;
}

std::unique_ptr<Report> Application::OpenReportText(const std::string& text, const std::string& name,
                                                    Error* error) {
  auto def = std::make_unique<Definition>();
  std::string why;
  if (!detail::ParseDefinition(text, def.get(), &why)) {
    error->Set(kErrFileFormat, kSrcDefinition, "Invalid report file " + name + ": " + why);
    return nullptr;
  }
  std::unique_ptr<Report> r(new Report());
  r->name_ = name;
  for (auto& sub : def->subs) {
    std::unique_ptr<Report> s(new Report());
    s->name_ = sub->name;
    s->parent_ = r.get();
    s->def_ = std::move(sub);
    r->subreports_.push_back(std::move(s));
  }
  def->subs.clear();
  r->def_ = std::move(def);
  return r;
}

// --- Report -----------------------------------------------------------------------

Report::Report() = default;
Report::~Report() = default;

const Summary& Report::summary() const { return def_->summary; }
int Report::TableCount() const { return static_cast<int>(def_->tables.size()); }

TableInfo Report::Table(int index) const {
  if (index < 0 || index >= TableCount()) return TableInfo();
  return def_->tables[static_cast<size_t>(index)];
}

bool Report::SetTableLocation(int index, const std::string& location, Error* error) {
  if (index < 0 || index >= TableCount()) {
    error->Set(kErrRange, kSrcDatabase, "There is no table " + std::to_string(index));
    return false;
  }
  if (location.empty() || location.size() > 259 || location.find_first_of("\"'; \t\r\n") != std::string::npos) {
    error->Set(kErrUnknownName, kSrcDatabase, "The table location is not valid");
    return false;
  }
  def_->tables[static_cast<size_t>(index)].location = location;
  return true;
}

Report* Report::Subreport(int index) {
  if (index < 0 || index >= SubreportCount()) return nullptr;
  return subreports_[static_cast<size_t>(index)].get();
}

Report* Report::SubreportByName(const std::string& name) {
  for (auto& s : subreports_)
    if (Lower(s->name_) == Lower(name)) return s.get();
  return nullptr;
}

bool Report::ConnectIsam(const std::string& folder, Error* error) {
  (void)error;
  source_ = detail::MakeIsamSource(folder, day_base_);
  return true;
}

bool Report::ConnectServer(eSAClient client, const std::string& server, const std::string& database,
                           const std::string& user, const std::string& password, Error* error) {
  std::string db = database;
  if (client == SA_SQLite_Client) {
    if (!server.empty() && !db.empty() && db[0] != '/' && db != ":memory:") db = server + "/" + db;
  } else if (client != SA_ODBC_Client && !server.empty()) {
    db = server + "@" + database;
  }
  auto s = detail::MakeSqlSource(client, db, user, password, error);
  if (!s) return false;
  source_ = std::move(s);
  return true;
}

bool Report::ConnectDataSource(const std::string& dsn, const std::string& user,
                               const std::string& password, Error* error) {
  const std::string key = "Software\\ODBC\\ODBC.INI\\" + dsn;
  if (win::RegOpenKeyPath(HKEY_CURRENT_USER, key) != ERROR_SUCCESS) {
    error->Set(kErrConnect, kSrcDatabase, "The data source " + dsn + " is not registered");
    return false;
  }
  auto get = [&](const char* name) {
    win::RegValue v;
    if (win::RegQueryValue(HKEY_CURRENT_USER, key, name, &v) != ERROR_SUCCESS) return std::string();
    std::string s = v.data;
    if (size_t z = s.find('\0'); z != std::string::npos) s.erase(z);
    return s;
  };
  const std::string dbq = get("DBQ");
  if (!dbq.empty()) {
    source_ = detail::MakeIsamSource(dbq, day_base_);
    return true;
  }
  const std::string driver = Lower(get("Driver"));
  std::string u = !user.empty() ? user : get("User ID");
  if (u.empty()) u = get("Username");
  if (u.empty()) u = get("UID");
  const std::string p = !password.empty() ? password : get("Password");
  std::string host = get("Host");
  if (host.empty()) host = get("Servername");
  const std::string port = get("Service");
  const std::string database = get("Database");
  if (driver == "sqlite") {
    std::string file = database;
    const std::string folder = get("DataFolder");
    if (!folder.empty() && !file.empty() && file[0] != '/') file = folder + "/" + file;
    return ConnectServer(SA_SQLite_Client, "", file, u, p, error);
  }
  if (driver == "odbc") return ConnectServer(SA_ODBC_Client, "", dsn, u, p, error);
  const eSAClient client = driver == "mysql" ? SA_MySQL_Client : SA_PostgreSQL_Client;
  std::string server = host;
  if (!server.empty() && !port.empty() && port != "0") server += ":" + port;
  return ConnectServer(client, server, database, u, p, error);
}

bool Report::VerifyDatabase(Error* error) {
  if (!source_) {
    error->Set(kErrConnect, kSrcDatabase, "The report is not connected to a data source");
    return false;
  }
  if (query_only_) return true;
  // Fields each table must have: those the report names.
  std::vector<std::pair<std::string, std::string>> used;
  auto collect = [&](const std::string& text) {
    std::string why;
    if (auto n = detail::ParseFormula(text, &why)) detail::CollectFields(n.get(), &used);
  };
  for (const auto& c : def_->columns) collect(c.expr);
  for (const auto& f : def_->formulas) collect(f.text);
  for (const auto& g : def_->groups) collect(g);
  for (const auto& s : def_->sorts) collect(s.first);
  collect(def_->select);
  for (const TableInfo& t : def_->tables) {
    std::vector<std::string> fields;
    if (!source_->Describe(t.location, &fields, error)) return false;
    std::set<std::string> have;
    for (const auto& f : fields) have.insert(Lower(f));
    for (const auto& [table, field] : used) {
      if (Lower(table) == Lower(t.name) && have.count(Lower(field)) == 0) {
        error->Set(kErrUnknownName, kSrcDatabase,
                   "The field " + field + " is not in the table " + t.name + " (" + t.location + ")");
        return false;
      }
    }
  }
  return true;
}

bool Report::SetSelectionFormula(const std::string& formula, Error* error) {
  if (!formula.empty()) {
    std::string why;
    if (!detail::ParseFormula(formula, &why)) {
      error->Set(kErrFormula, kSrcFormula, "Error in the selection formula: " + why);
      return false;
    }
  }
  selection_ = formula;
  selection_set_ = true;
  return true;
}

int Report::ParameterCount() const { return static_cast<int>(def_->params.size()); }

ParameterInfo Report::Parameter(int index) const {
  if (index < 0 || index >= ParameterCount()) return ParameterInfo();
  return def_->params[static_cast<size_t>(index)];
}

bool Report::FindParameter(const std::string& name, ParameterInfo* info) const {
  for (const ParameterInfo& p : def_->params) {
    if (Lower(p.name) == Lower(name)) {
      if (info != nullptr) *info = p;
      return true;
    }
  }
  return false;
}

bool Report::SetParameter(const std::string& name, const Value& value, Error* error) {
  for (ParameterInfo& p : def_->params) {
    if (Lower(p.name) != Lower(name)) continue;
    const bool empty_date = p.type == ParamType::kDate && value.kind == Kind::kNull;
    if (value.kind != KindOf(p.type) && !empty_date) {
      error->Set(kErrParameter, kSrcParameters, "The value does not suit the parameter {?" + p.name + "}");
      return false;
    }
    p.value = value;
    p.has_value = true;
    return true;
  }
  error->Set(kErrUnknownName, kSrcParameters,
             "The report " + name_ + " has no parameter {?" + name.substr(0, 60) + "}");
  return false;
}

void Report::ClearSorts() {
  sorts_.clear();
  sorts_set_ = false;
}

bool Report::AddSort(const std::string& name, bool descending, Error* error) {
  const std::string expr = SortExpression(name);
  std::string why;
  auto n = detail::ParseFormula(expr, &why);
  if (!n || (n->op != Node::kField && n->op != Node::kFormula && n->op != Node::kParam)) {
    error->Set(kErrFormula, kSrcFormula, "The sort field " + name.substr(0, 80) + " is not valid");
    return false;
  }
  // The name must match something of the report.
  bool found = false;
  if (n->op == Node::kFormula) {
    for (const auto& f : def_->formulas) found = found || Lower(f.name) == Lower(n->name);
  } else if (n->op == Node::kParam) {
    found = FindParameter(n->name, nullptr);
  } else {
    for (const auto& t : def_->tables) found = found || Lower(t.name) == Lower(n->table);
    if (found && source_ && !query_only_) {
      std::vector<std::string> fields;
      Error ignored;
      for (const auto& t : def_->tables) {
        if (Lower(t.name) != Lower(n->table)) continue;
        if (source_->Describe(t.location, &fields, &ignored)) {
          found = std::any_of(fields.begin(), fields.end(),
                              [&](const std::string& f) { return Lower(f) == Lower(n->name); });
        }
      }
    }
  }
  if (!found) {
    error->Set(kErrUnknownName, kSrcFormula, "The sort field " + name.substr(0, 80) + " is not in the report");
    return false;
  }
  sorts_.emplace_back(expr, descending);
  sorts_set_ = true;
  return true;
}

bool Report::Busy() {
  if (hold_polls_ > 0) {
    --hold_polls_;
    return true;
  }
  return viewers_ > 0;
}

// --- Running ---------------------------------------------------------------------

bool Report::Run(Error* error) {
  pages_.clear();
  rows_done_ = 0;
  return LayOut(error);
}

bool Report::LayOut(Error* error) {
  if (!source_) {
    error->Set(kErrConnect, kSrcDatabase, "The report " + name_ + " is not connected to a data source");
    return false;
  }
  Definition& def = *def_;
  RowResolver resolver(&def, prompt_);
  // Every parameter needs a value (or, prompting, a default) even when
  // nothing refers to it, as the engine asks for each.
  for (const ParameterInfo& p : def.params) {
    if (!p.has_value && !(prompt_ && p.has_default)) {
      error->Set(kErrParameter, kSrcParameters,
                 "No value was given for the parameter {?" + p.name + "} of " + name_);
      return false;
    }
  }

  // The driving rows, then the linked tables' columns after them.
  detail::Rows drive;
  const TableInfo& first = def.tables[0];
  if (!sql_.empty()) {
    if (!source_->Query(sql_, &drive, error)) return false;
  } else if (query_only_) {
    error->Set(kErrData, kSrcDatabase, "Query-only mode needs an SQL statement");
    return false;
  } else if (!source_->ReadTable(first.location, &drive, error)) {
    return false;
  }
  size_t width = 0;
  auto add_slots = [&](const std::string& table, const std::vector<std::string>& fields) {
    for (size_t i = 0; i < fields.size(); ++i)
      resolver.slots.emplace(Lower(table) + "." + Lower(fields[i]), static_cast<int>(width + i));
    width += fields.size();
  };
  add_slots(first.name, drive.fields);
  struct Linked {
    int from_slot = -1;
    size_t base = 0, count = 0;
    std::map<std::string, size_t> index;  // key text -> row
    detail::Rows rows;
  };
  std::vector<Linked> linked;
  if (!query_only_) {
    for (const detail::LinkDef& l : def.links) {
      const TableInfo* to = nullptr;
      for (const TableInfo& t : def.tables)
        if (Lower(t.name) == Lower(l.to_table)) to = &t;
      if (to == nullptr || to == &first) {
        error->Set(kErrUnknownName, kSrcDatabase, "The link names an unknown table " + l.to_table);
        return false;
      }
      Linked k;
      k.from_slot = resolver.Field(l.from_table, l.from_field);
      if (k.from_slot < 0) {
        error->Set(kErrUnknownName, kSrcDatabase,
                   "The link field {" + l.from_table + "." + l.from_field + "} is not known");
        return false;
      }
      if (!source_->ReadTable(to->location, &k.rows, error)) return false;
      int key = -1;
      for (size_t i = 0; i < k.rows.fields.size(); ++i)
        if (Lower(k.rows.fields[i]) == Lower(l.to_field)) key = static_cast<int>(i);
      if (key < 0) {
        error->Set(kErrUnknownName, kSrcDatabase, "The field " + l.to_field + " is not in " + to->name);
        return false;
      }
      for (size_t r = 0; r < k.rows.rows.size(); ++r)
        k.index.emplace(Format(k.rows.rows[r][static_cast<size_t>(key)], -1), r);
      k.base = width;
      k.count = k.rows.fields.size();
      add_slots(to->name, k.rows.fields);
      linked.push_back(std::move(k));
    }
  }

  // Formulas of the report.
  const std::string select = selection_set_ ? selection_ : def.select;
  std::unique_ptr<Node> sel;
  if (!select.empty() && !(sel = Compile(select, &resolver, error))) return false;
  std::vector<std::unique_ptr<Node>> cols, groups;
  std::vector<std::pair<std::unique_ptr<Node>, bool>> sorts;
  for (const auto& c : def.columns) {
    cols.push_back(Compile(c.expr, &resolver, error));
    if (!cols.back()) return false;
  }
  for (const auto& g : def.groups) {
    groups.push_back(Compile(g, &resolver, error));
    if (!groups.back()) return false;
  }
  for (const auto& [text, desc] : sorts_set_ ? sorts_ : def.sorts) {
    sorts.emplace_back(Compile(text, &resolver, error), desc);
    if (!sorts.back().first) return false;
  }

  // Rows: joined, selected, keyed.
  struct Row {
    std::vector<Value> values;
    std::vector<Value> keys;
  };
  std::vector<Row> rows;
  rows.reserve(drive.rows.size());
  int64_t read = 0;
  for (auto& d : drive.rows) {
    Row r;
    r.values = std::move(d);
    r.values.resize(width);
    for (Linked& k : linked) {
      auto it = k.index.find(Format(r.values[static_cast<size_t>(k.from_slot)], -1));
      if (it == k.index.end()) continue;
      const auto& src = k.rows.rows[it->second];
      for (size_t i = 0; i < k.count && i < src.size(); ++i) r.values[k.base + i] = src[i];
    }
    ++read;
    if (progress_ && read % 1000 == 0) progress_(read, 0);
    if (sel && !detail::Eval(sel.get(), r.values).Truthy()) continue;
    for (const auto& g : groups) r.keys.push_back(detail::Eval(g.get(), r.values));
    for (const auto& s : sorts) r.keys.push_back(detail::Eval(s.first.get(), r.values));
    rows.push_back(std::move(r));
  }
  rows_done_ = static_cast<int64_t>(rows.size());
  const size_t ngroups = groups.size();
  std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
    for (size_t i = 0; i < a.keys.size(); ++i) {
      int c = detail::CompareValues(a.keys[i], b.keys[i]);
      if (i >= ngroups && sorts[i - ngroups].second) c = -c;
      if (c != 0) return c < 0;
    }
    return false;
  });

  // Pages.
  double pw = 0, ph = 0;
  PageSizePoints(setup_, &pw, &ph);
  const double bottom = ph - kMargin - 2 * kLineHeight;
  std::vector<double> x;
  double at = kMargin;
  for (const auto& c : def.columns) {
    x.push_back(at);
    at += c.width_mm * kPointsPerMm;
  }
  const double usable = pw - kMargin;
  const std::string title = !def.summary.title.empty() ? def.summary.title : name_;
  double y = 0;
  auto new_page = [&]() {
    pages_.emplace_back();
    Page& p = pages_.back();
    p.items.push_back(Item{kMargin, kMargin + 14, pw - 2 * kMargin, title, 2, 0, false});
    y = kMargin + 24;
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if (x[i] >= usable) break;
      const double w = std::min(def.columns[i].width_mm * kPointsPerMm, usable - x[i]) - 2;
      const bool right = i < cols.size() && def.columns[i].decimals >= 0;
      p.items.push_back(Item{x[i], y, w, Fit(def.columns[i].heading, w, kDetailSize), 1, right ? 1 : 0, false});
    }
    y += 4;
    p.items.push_back(Item{kMargin, y, pw - 2 * kMargin, {}, 0, 0, true});
    y += kLineHeight;
  };
  new_page();
  std::vector<Value> last_group;
  for (size_t r = 0; r < rows.size(); ++r) {
    const Row& row = rows[r];
    std::vector<Value> g(row.keys.begin(), row.keys.begin() + static_cast<long>(ngroups));
    const bool changed = r == 0 || !std::equal(g.begin(), g.end(), last_group.begin(),
                                                [](const Value& a, const Value& b) {
                                                  return detail::CompareValues(a, b) == 0;
                                                });
    if (ngroups > 0 && changed) {
      if (y + 2 * kLineHeight > bottom) new_page();
      std::string label;
      for (const Value& v : g) label += (label.empty() ? "" : " - ") + Format(v, -1);
      y += 3;
      pages_.back().items.push_back(Item{kMargin, y, pw - 2 * kMargin, Fit(label, pw - 2 * kMargin, kDetailSize), 1, 0, false});
      pages_.back().groups.push_back(label);
      y += kLineHeight;
      last_group = g;
    }
    if (y > bottom) new_page();
    Page& p = pages_.back();
    for (size_t i = 0; i < cols.size(); ++i) {
      if (x[i] >= usable) break;
      const double w = std::min(def.columns[i].width_mm * kPointsPerMm, usable - x[i]) - 2;
      Value v = detail::Eval(cols[i].get(), row.values);
      const bool right = v.kind == Kind::kNumber;
      p.items.push_back(Item{x[i], y, w, Fit(Format(v, def.columns[i].decimals), w, kDetailSize), 0,
                             right ? 1 : 0, false});
    }
    y += kLineHeight;
  }
  if (progress_) progress_(read, static_cast<int>(pages_.size()));

  // Sub-reports follow, each from a new page.
  if (parent_ == nullptr) {
    for (auto& s : subreports_) {
      if (!s->source_) continue;  // a sub-report nobody bound is left out
      s->setup_ = setup_;
      s->pages_.clear();
      if (!s->LayOut(error)) return false;
      for (Page& p : s->pages_) pages_.push_back(std::move(p));
      s->pages_.clear();
    }
  }
  return true;
}

std::vector<std::string> Report::PageText(int page) const {
  std::vector<std::string> out;
  if (page < 0 || page >= page_count()) return out;
  const Page& p = pages_[static_cast<size_t>(page)];
  std::string line;
  double y = -1;
  for (const Item& it : p.items) {
    if (it.rule) continue;
    if (it.y != y && y >= 0) {
      out.push_back(line);
      line.clear();
    }
    y = it.y;
    if (!line.empty()) line += " | ";
    line += it.text;
  }
  if (!line.empty()) out.push_back(line);
  out.push_back("Pagina " + std::to_string(page + 1) + " di " + std::to_string(page_count()));
  return out;
}

bool Report::Draw(void* cairo, int page, double scale) const {
  auto* cr = static_cast<cairo_t*>(cairo);
  if (page < 0 || page >= page_count()) return false;
  double pw = 0, ph = 0;
  PageSizePoints(setup_, &pw, &ph);
  cairo_save(cr);
  cairo_scale(cr, scale, scale);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_rectangle(cr, 0, 0, pw, ph);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  const Page& p = pages_[static_cast<size_t>(page)];
  int style = -1;
  auto select = [&](int s) {
    if (s == style) return;
    style = s;
    if (s == 2) {
      cairo_select_font_face(cr, kSansFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
      cairo_set_font_size(cr, 14);
    } else {
      cairo_select_font_face(cr, kMonoFont, CAIRO_FONT_SLANT_NORMAL,
                             s == 1 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
      cairo_set_font_size(cr, kDetailSize);
    }
  };
  for (const Item& it : p.items) {
    if (it.rule) {
      cairo_set_line_width(cr, 0.6);
      cairo_move_to(cr, it.x, it.y);
      cairo_line_to(cr, it.x + it.w, it.y);
      cairo_stroke(cr);
      continue;
    }
    if (it.text.empty()) continue;
    select(it.style);
    const std::string utf8 = win::Cp1252ToUtf8(it.text);
    double x = it.x;
    if (it.align == 1) {
      cairo_text_extents_t e;
      cairo_text_extents(cr, utf8.c_str(), &e);
      x = it.x + it.w - e.x_advance;
    }
    cairo_move_to(cr, x, it.y);
    cairo_show_text(cr, utf8.c_str());
  }
  select(0);
  const std::string footer = "Pagina " + std::to_string(page + 1) + " di " + std::to_string(page_count());
  cairo_text_extents_t e;
  cairo_text_extents(cr, footer.c_str(), &e);
  cairo_move_to(cr, pw - kMargin - e.x_advance, ph - kMargin);
  cairo_show_text(cr, footer.c_str());
  cairo_restore(cr);
  return cairo_status(cr) == CAIRO_STATUS_SUCCESS;
}

namespace {

// Pages in print order for copies and collation.
std::vector<int> PrintOrder(int pages, int copies, bool collated) {
  std::vector<int> order;
  copies = std::clamp(copies, 1, 999);
  if (collated) {
    for (int c = 0; c < copies; ++c)
      for (int p = 0; p < pages; ++p) order.push_back(p);
  } else {
    for (int p = 0; p < pages; ++p)
      for (int c = 0; c < copies; ++c) order.push_back(p);
  }
  return order;
}

}  // namespace

bool WritePdf(const Report& r, const std::string& path, const std::vector<int>& order, Error* error);

bool Report::ExportPdf(const std::string& path, Error* error) {
  if (Busy()) {
    error->Set(kErrBusy, kSrcRuntime, "The report is busy");
    return false;
  }
  if (!Run(error)) return false;
  std::vector<int> order;
  for (int p = 0; p < page_count(); ++p) order.push_back(p);
  return WritePdf(*this, path, order, error);
}

bool WritePdf(const Report& r, const std::string& path, const std::vector<int>& order, Error* error) {
  double pw = 0, ph = 0;
  PageSizePoints(const_cast<Report&>(r).page_setup(), &pw, &ph);
  cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), pw, ph);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    error->Set(kErrOutput, kSrcOutput, "The PDF file " + path + " cannot be written");
    cairo_surface_destroy(surface);
    return false;
  }
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE,
                                 win::Cp1252ToUtf8(r.summary().title).c_str());
  cairo_t* cr = cairo_create(surface);
  bool ok = true;
  for (int p : order) {
    ok = r.Draw(cr, p, 1.0) && ok;
    cairo_show_page(cr);
  }
  ok = ok && cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  ok = ok && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  if (!ok) error->Set(kErrOutput, kSrcOutput, "The PDF file " + path + " cannot be written");
  return ok;
}

bool Report::ExportPng(int page, int zoom, const std::string& path, Error* error) {
  if (!Run(error)) return false;
  if (page < 0 || page >= page_count()) {
    error->Set(kErrRange, kSrcOutput, "There is no page " + std::to_string(page + 1));
    return false;
  }
  zoom = std::clamp(zoom, 10, 400);
  double pw = 0, ph = 0;
  PageSizePoints(setup_, &pw, &ph);
  const double scale = zoom / 100.0;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(pw * scale),
                                                  static_cast<int>(ph * scale));
  cairo_t* cr = cairo_create(s);
  bool ok = Draw(cr, page, scale);
  cairo_destroy(cr);
  ok = ok && cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  if (!ok) error->Set(kErrOutput, kSrcOutput, "The image " + path + " cannot be written");
  return ok;
}

bool Report::PrintOut(const std::string& printer, Error* error) {
  if (!Run(error)) return false;
  std::string queue = printer;
  if (queue.empty() && !print_io::DefaultPrinter(&queue)) {
    error->Set(kErrOutput, "Printer", "There is no printer");
    return false;
  }
  char tmpl[] = "/tmp/vktreportXXXXXX";
  const int fd = mkstemp(tmpl);
  if (fd < 0) {
    error->Set(kErrOutput, "Printer", "No temporary file for the print job");
    return false;
  }
  close(fd);
  const std::string tmp = tmpl;
  bool ok = WritePdf(*this, tmp, PrintOrder(page_count(), setup_.copies, setup_.collated), error);
  std::string bytes;
  if (ok) {
    std::ifstream f(tmp, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    bytes = ss.str();
  }
  unlink(tmp.c_str());
  if (!ok) return false;
  std::string why;
  auto q = print_io::RawQueue::Open(queue, &why);
  if (!q) {
    error->Set(kErrOutput, "Printer", "The printer " + queue + " cannot be opened: " + why);
    return false;
  }
  const std::string title = !summary().title.empty() ? summary().title : name_;
  if (!q->StartDocument(title) || !q->StartPage() || !q->Write(bytes.data(), bytes.size()) ||
      !q->EndPage() || !q->EndDocument()) {
    error->Set(kErrOutput, "Printer", "Printing on " + queue + " failed: " + q->error());
    return false;
  }
  return true;
}

// --- Preview ---------------------------------------------------------------------

namespace {
constexpr int kTreeWidth = 160;
}

PreviewWindow::PreviewWindow(Report* report) : report_(report) {}

PreviewWindow::~PreviewWindow() {
  DestroyWindow();
  if (counted_) --report_->viewers_;
}

bool PreviewWindow::Open(const std::string& caption, int zoom, bool group_tree, Error* error) {
  zoom_ = std::clamp(zoom <= 0 ? 100 : zoom, 25, 400);
  group_tree_ = group_tree;
  if (report_->page_count() == 0 && !report_->Run(error)) return false;
  double pw = 0, ph = 0;
  PageSizePoints(report_->page_setup(), &pw, &ph);
  const int w = static_cast<int>(pw * zoom_ / 100.0) + (group_tree_ ? kTreeWidth : 0);
  const int h = static_cast<int>(ph * zoom_ / 100.0);
  if (!Create("ReportPreview", caption.c_str(), WS_POPUP | WS_VISIBLE, CRect(0, 0, w, h), nullptr, 0)) {
    error->Set(kErrOutput, kSrcOutput, "The preview window cannot be opened");
    return false;
  }
  if (!counted_) {
    counted_ = true;
    ++report_->viewers_;
  }
  return true;
}

void PreviewWindow::ShowPage(int page) {
  if (page >= 0 && page < report_->page_count()) page_ = page;
}

BOOL PreviewWindow::OnEraseBkgnd(CDC*) { return TRUE; }

void PreviewWindow::OnPaint() {
  CPaintDC dc(this);
  cairo_t* cr = dc.cairo();
  if (cr == nullptr) return;
  double offset = 0;
  if (group_tree_) {
    cairo_save(cr);
    cairo_set_source_rgb(cr, 0.93, 0.93, 0.93);
    cairo_rectangle(cr, 0, 0, kTreeWidth, 10000);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_select_font_face(cr, kSansFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 9);
    double y = 14;
    for (int p = 0; p < report_->page_count() && y < 10000; ++p) {
      for (const std::string& g : report_->pages_[static_cast<size_t>(p)].groups) {
        cairo_move_to(cr, 6, y);
        cairo_show_text(cr, win::Cp1252ToUtf8(Fit(g, kTreeWidth - 12, 9 * 0.9)).c_str());
        y += 13;
      }
    }
    cairo_restore(cr);
    offset = kTreeWidth;
  }
  cairo_save(cr);
  cairo_translate(cr, offset, 0);
  report_->Draw(cr, page_, zoom_ / 100.0);
  cairo_restore(cr);
}

}  // namespace vkt::report
