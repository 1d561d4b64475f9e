// The report runtime: report definitions, their data, record selection,
// sorting, parameters, and output to PDF, to a preview window or to a
// printer queue.
//
//   vkt::report::Error err;
//   auto app = vkt::report::Application::Create(vkt::report::kProgId, &err);
//   auto rpt = app->OpenReport("/srv/mirto/rpteuro/clienti.rpt", &err);
//   rpt->ConnectIsam("/srv/mirto/dati");               // or ConnectDataSource
//   rpt->SetSelectionFormula("{clienti.cli_citta} = \"Roma\"", &err);
//   rpt->AddSort("{clienti.cli_ragione}", false, &err);
//   rpt->ExportPdf("/tmp/clienti.pdf", &err);
//
// Every failing call answers false (or null) and fills an Error with a
// description, a code and the component that failed; nothing throws.
//
// --- Report definition files ------------------------------------------------
// Plain Windows-1252 text, one statement per line; blank lines and lines
// starting with "#" are skipped; keywords are upper case. The first line is
// "VKTREPORT 1". Texts are written in double quotes ("" inside is one quote).
//
//   VKTREPORT 1
//   TITLE "Elenco clienti"                 summary fields: TITLE SUBJECT
//   COMMENTS "width:210 height:297"          AUTHOR KEYWORDS COMMENTS
//   TABLE clienti clienti                  TABLE <name> <location>
//   TABLE fatture fatture                  further tables are looked up:
//   LINK {fatture.fat_cliente} {clienti.cli_codice}
//   PARAMETER anno NUMBER "Anno" 2025      PARAMETER <name> NUMBER|DATE|TEXT|TIME
//                                            ["prompt" [default literal]]
//   FORMULA totale {fatture.fat_imponibile} + {fatture.fat_iva}
//   COLUMN 20 "Codice" {clienti.cli_codice}    COLUMN <mm> "<heading>" <expr>
//   COLUMN 25 "Totale" {@totale} DEC 2          [DEC <decimals>]
//   GROUP {clienti.cli_citta}              group headers when the value changes
//   SORT {clienti.cli_ragione} ASC         ASC or DESC
//   SELECT {fatture.fat_imponibile} > 100  the definition's record selection
//   SUBREPORT fatture                      a sub-report, printed after the
//     TABLE ...                              main body, up to END
//   END
//
// The first TABLE drives the report: one detail line per record it gives.
// A LINK names a field of a driving-side table and a field of a later
// table: each detail line sees the first record of that table whose field
// equals it (empty values when none does). Sub-reports hold the same
// statements (but no SUBREPORT) and are bound and run on their own.
//
// --- Formulas -----------------------------------------------------------------
// Record selection, FORMULA, COLUMN, GROUP and SORT take expressions:
//   {table.field}  a field      {@name} a formula     {?name} a parameter
//   123  1.5       numbers      "text"  'text'        texts
//   #2025-03-15#   Date(2025, 3, 15)    dates         true false
//   + - * /  (& joins texts)    = <> < <= > >=        and or not  ( )
// Keywords and function names are case-insensitive. A comparison of a date
// with a date, a number with a number or a text with a text (bytes, blanks
// at the end ignored) is a normal one; mixed kinds are never equal. Nesting
// deeper than kMaxFormulaDepth, numbers beyond +-1e15 or longer than 40
// characters, unterminated braces and texts are errors, never crashes.
//
// --- Data -------------------------------------------------------------------
// A table location is the ISAM file set's name (relative to the bound
// folder, ".dat" implied) or an SQL table name ("schema.table" allowed).
// ISAM records are decoded by the schema stored in the file: type 144 text,
// 8/16/24 byte, 33 short, 41 unsigned, 51/59 long, 75 date (day number; 0
// no date), 83 time (seconds since midnight; 0 no time), 91 float, 103/124
// double.
//
// Threads: an Application and its reports belong to one thread.
#ifndef VKT_REPORT_REPORT_H_
#define VKT_REPORT_REPORT_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "saapi/saclient.h"
#include "vkt_export.h"
#include "win/window.h"

namespace vkt::report {

// The programmatic name the runtime answers to.
inline constexpr const char* kProgId = "CrystalRuntime.Application.11";
inline constexpr int kMaxFormulaDepth = 64;
inline constexpr int kMaxSubreports = 16;

// Error codes (HRESULT style).
enum : uint32_t {
  kErrNoRuntime = 0x80040154u,      // unknown programmatic name
  kErrFileOpen = 0x8004C001u,       // report file missing or unreadable
  kErrFileFormat = 0x8004C002u,     // not a report definition / bad statement
  kErrFormula = 0x8004C003u,        // formula syntax
  kErrUnknownName = 0x8004C004u,    // table, field, formula or parameter
  kErrConnect = 0x8004C005u,        // data source or database
  kErrData = 0x8004C006u,           // reading records or rows
  kErrParameter = 0x8004C007u,      // missing or mistyped parameter value
  kErrOutput = 0x8004C008u,         // PDF, image or printer
  kErrBusy = 0x8004C009u,           // the report is still working
  kErrRange = 0x8004C00Au,          // index out of range
};

struct VKT_API Error {
  std::string description;
  uint32_t code = 0;
  std::string source;
  void Set(uint32_t c, const std::string& src, const std::string& text);
  void Clear() { *this = Error(); }
};

enum class Kind { kNull, kNumber, kText, kDate, kTime, kBool };

// A value: numbers and booleans in `num`, dates as Julian Day Numbers and
// times as seconds in `num`, texts (Windows-1252) in `text`.
struct VKT_API Value {
  Kind kind = Kind::kNull;
  double num = 0;
  std::string text;
  static Value Number(double v) { return Value{Kind::kNumber, v, {}}; }
  static Value Text(std::string s) { return Value{Kind::kText, 0, std::move(s)}; }
  static Value Date(int32_t jdn) { return Value{Kind::kDate, static_cast<double>(jdn), {}}; }
  static Value DateYmd(int year, int month, int day);  // null when not a date
  static Value Time(int32_t seconds) { return Value{Kind::kTime, static_cast<double>(seconds), {}}; }
  static Value Bool(bool b) { return Value{Kind::kBool, b ? 1.0 : 0.0, {}}; }
  bool Truthy() const;
};

// Calendar helpers on Julian Day Numbers (proleptic Gregorian).
VKT_API int32_t CivilToJdn(int year, int month, int day);
VKT_API void JdnToCivil(int32_t jdn, int* year, int* month, int* day);
VKT_API bool IsCivilDate(int year, int month, int day);

enum class ParamType { kNumber, kDate, kText, kTime };

struct ParameterInfo {
  std::string name;
  ParamType type = ParamType::kText;
  std::string prompt;
  bool has_default = false;
  Value default_value;
  bool has_value = false;
  Value value;
};

struct TableInfo {
  std::string name;      // the name in the report
  std::string location;  // file set or SQL table
};

struct Summary {
  std::string title, subject, author, keywords, comments;
};

// Paper codes as the printing system numbers them.
enum : int {
  kPaperLetter = 1,
  kPaperLegal = 5,
  kPaperA3 = 8,
  kPaperA4 = 9,
  kPaperA5 = 11,
  kPaperUser = 256,
};

struct PageSetup {
  int paper = kPaperA4;
  int width_dmm = 0;   // user size, tenths of a millimetre
  int length_dmm = 0;
  int orientation = 0;  // 0 default (portrait), 1 portrait, 2 landscape
  int copies = 1;
  bool collated = true;
};

// Page size in points of a setup (user sizes outside 10 mm..5 m fall back
// to A4).
VKT_API void PageSizePoints(const PageSetup& setup, double* width, double* height);

namespace detail {
struct Definition;
struct Node;
class Source;
}  // namespace detail

class Report;

class VKT_API Application {
 public:
  // Null, with the error, when `progid` is not ours or the runtime cannot
  // start (no usable font backend).
  static std::unique_ptr<Application> Create(const std::string& progid, Error* error);
  ~Application();

  // Reads and checks a definition; null with kErrFileOpen or kErrFileFormat.
  std::unique_ptr<Report> OpenReport(const std::string& path, Error* error);
  // The same from text (tests, generated reports).
  std::unique_ptr<Report> OpenReportText(const std::string& text, const std::string& name,
                                         Error* error);

 private:
  Application() = default;
};

// Test hook: the next `n` Create calls fail as if the runtime were absent.
VKT_API void FailCreateForTest(int n);

class VKT_API Report {
 public:
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  const std::string& name() const { return name_; }
  const std::string& path() const { return path_; }
  const Summary& summary() const;

  // Tables, by position.
  int TableCount() const;
  TableInfo Table(int index) const;
  bool SetTableLocation(int index, const std::string& location, Error* error);
  // Sub-reports (owned by this report).
  int SubreportCount() const { return static_cast<int>(subreports_.size()); }
  Report* Subreport(int index);
  Report* SubreportByName(const std::string& name);

  // Binding. ISAM: the folder of the file sets. A data source: the key
  // "Software\ODBC\ODBC.INI\<name>" of the current user's registry, whose
  // values say where the data is: "DBQ" a folder of ISAM file sets;
  // otherwise an SQL database: "Driver" (SQLite, PostgreSQL, MySQL, ODBC;
  // PostgreSQL when absent), "Database", "Host" or "Servername",
  // "Service" (port), "User ID"/"Username"/"UID" and "Password" (the
  // arguments win when not empty); for SQLite the database is a file,
  // relative names under "DataFolder". A server binding names the client
  // and the server, database, user and password directly.
  bool ConnectIsam(const std::string& folder, Error* error);
  bool ConnectDataSource(const std::string& dsn, const std::string& user,
                         const std::string& password, Error* error);
  bool ConnectServer(eSAClient client, const std::string& server, const std::string& database,
                     const std::string& user, const std::string& password, Error* error);
  // Day numbers in ISAM date fields: 0 Julian Day Number, 1 the short
  // count (day 1 = 1 March 1700).
  void SetDayNumberBase(int base) { day_base_ = base; }
  // Checks that every table is found and has every field the report uses.
  bool VerifyDatabase(Error* error);

  // Record selection: replaces the definition's; empty removes it.
  bool SetSelectionFormula(const std::string& formula, Error* error);
  const std::string& selection_formula() const { return selection_; }
  // An SQL statement whose rows replace the driving table's records
  // (columns are its fields, by name); empty removes it. Query-only: the
  // statement is the only data; no table is read or checked.
  void SetSqlQuery(const std::string& sql) { sql_ = sql; }
  const std::string& sql_query() const { return sql_; }
  void SetQueryOnly(bool on) { query_only_ = on; }
  bool query_only() const { return query_only_; }

  // Parameters.
  int ParameterCount() const;
  ParameterInfo Parameter(int index) const;
  bool FindParameter(const std::string& name, ParameterInfo* info) const;
  // The value must be of the parameter's type (numbers for NUMBER, dates,
  // texts, times); kErrUnknownName / kErrParameter otherwise.
  bool SetParameter(const std::string& name, const Value& value, Error* error);
  // Prompt mode: a parameter without a value takes its default (and is an
  // error only when it has none); without it every parameter needs one.
  void SetPromptMode(bool on) { prompt_ = on; }

  // Sorting: replaces the definition's sorts once the first one is added.
  // `name` is "{@formula}", "{?parameter}" or a field ("{t.f}" or "t.f").
  void ClearSorts();
  bool AddSort(const std::string& name, bool descending, Error* error);

  PageSetup& page_setup() { return setup_; }

  // Progress: called with the rows read so far and the pages laid out.
  void SetProgress(std::function<void(int64_t rows, int pages)> cb) { progress_ = std::move(cb); }

  // Output. Each runs the report afresh.
  bool ExportPdf(const std::string& path, Error* error);
  // PNG of one page (0-based) at `zoom` percent.
  bool ExportPng(int page, int zoom, const std::string& path, Error* error);
  // The PDF to a CUPS queue (empty: the default one), copies and collation
  // of the page setup laid out in the document itself. The queue gets the
  // PDF bytes as they are (raw), so its device must take PDF, as IPP
  // Everywhere printers and PDF queues do.
  bool PrintOut(const std::string& printer, Error* error);
  // Lays the report out; pages and rows of the last run.
  bool Run(Error* error);
  int page_count() const { return static_cast<int>(pages_.size()); }
  int64_t row_count() const { return rows_done_; }
  // The texts of one laid-out page, top to bottom (tests, terminals).
  std::vector<std::string> PageText(int page) const;

  // Busy while a preview window shows the report (or a test holds it):
  // it cannot be released then.
  bool Busy();
  // Test hook: Busy answers true for the next `polls` calls.
  void HoldBusyForTest(int polls) { hold_polls_ = polls; }

  // One drawn element of a laid-out page, in points from the top left.
  struct Item {
    double x = 0, y = 0, w = 0;
    std::string text;  // Windows-1252
    int style = 0;     // 0 detail, 1 bold (headings, groups), 2 title
    int align = 0;     // 0 left, 1 right
    bool rule = false; // a horizontal line of width w instead of text
  };
  struct Page {
    std::vector<Item> items;
    std::vector<std::string> groups;  // groups that start on the page
  };

 private:
  friend class Application;
  friend class PreviewWindow;
  friend bool WritePdf(const Report&, const std::string&, const std::vector<int>&, Error*);
  Report();
  bool LayOut(Error* error);
  bool Draw(void* cairo, int page, double scale) const;

  std::string name_, path_;
  std::unique_ptr<detail::Definition> def_;
  std::vector<std::unique_ptr<Report>> subreports_;
  std::unique_ptr<detail::Source> source_;
  Report* parent_ = nullptr;
  std::string selection_;
  bool selection_set_ = false;
  std::string sql_;
  bool query_only_ = false;
  bool prompt_ = false;
  int day_base_ = 0;
  std::vector<std::pair<std::string, bool>> sorts_;
  bool sorts_set_ = false;
  PageSetup setup_;
  std::function<void(int64_t, int)> progress_;
  std::vector<Page> pages_;
  int64_t rows_done_ = 0;
  int viewers_ = 0;
  int hold_polls_ = 0;
};

// The preview window: paints one page of a report, scaled by the zoom.
// While it exists the report is busy.
class VKT_API PreviewWindow : public CWnd {
 public:
  explicit PreviewWindow(Report* report);
  ~PreviewWindow() override;
  // A top-level window sized to the page at `zoom` percent (25..400);
  // `group_tree` adds a band at the left listing the groups.
  bool Open(const std::string& caption, int zoom, bool group_tree, Error* error);
  void ShowPage(int page);
  int page() const { return page_; }
  int zoom() const { return zoom_; }
  bool group_tree() const { return group_tree_; }
  void OnPaint() override;
  BOOL OnEraseBkgnd(CDC* dc) override;

 private:
  Report* report_;
  int page_ = 0;
  int zoom_ = 100;
  bool group_tree_ = false;
  bool counted_ = false;
};

}  // namespace vkt::report

#endif  // VKT_REPORT_REPORT_H_
