// CCrystal: prepares and runs one report of the report runtime.
//
//   CCrystal rpt(false);
//   if (rpt.CryOpen("clienti.rpt", "Elenco clienti", 0, 0) == 0) {
//     rpt.CrySelect("{clienti.cli_citta} = \"Roma\"", 0);
//     rpt.CrySort(0, "{clienti.cli_ragione}", crAscendingOrder);
//     rpt.CryLongParam(0, "anno", "", 2025);
//     rpt.CryToWindow();
//     rpt.CryEsegui();                    // 0, or the status of the failing step
//     rpt.CryClose();
//   }
//
// CryEsegui binds the report's tables to the c-tree data source ("<app>"),
// to one of the two SQL data sources ("<app> SQL", "<app> PSQL") or to a
// connection without a data source, refreshing the source's registry values
// first; then it applies selection, SQL, parameters, sorts and paper and
// prints, previews or writes a PDF. Every failure is a message (the
// library's reporting rule) and a status in the object; nothing throws, and
// the object stays usable.
#ifndef VKT_PRINT_CRYSTAL_H_
#define VKT_PRINT_CRYSTAL_H_

#include <cstdint>
#include <memory>
#include <string>

#include "report/report.h"
#include "vkt_export.h"
#include "win/cstring.h"
#include "win/oledatetime.h"

enum CRPaperSize : int {
  crDefaultPaperSize = 0,
  crPaperLetter = 1,
  crPaperLegal = 5,
  crPaperA3 = 8,
  crPaperA4 = 9,
  crPaperA5 = 11,
  crPaperUser = 256,
};

enum CRPaperOrientation : int {
  crDefaultPaperOrientation = 0,
  crPortrait = 1,
  crLandscape = 2,
};

enum CRSortDirection : int {
  crAscendingOrder = 0,
  crDescendingOrder = 1,
};

// Statuses of CryEsegui and the setters.
enum : int {
  CRY_OK = 0,
  CRY_INIT_FAILED = 1,
  CRY_NO_DRIVER = 2,         // data source not registered
  CRY_SQL_REQUIRED = 3,
  CRY_REGISTRY = 4,          // data source values not written
  CRY_OPEN_FAILED = 5,       // report file unreadable or not a report
  CRY_SUBREPORTS = 6,        // more sub-reports than MAX_SUBREPORT
  CRY_PARAMETER = 7,         // time parameter
  CRY_SORT = 8,              // sort field matches nothing
  CRY_TABLE_LIMIT = 9,       // CrySwitchTable index 5 or more
  CRY_TABLE_USED = 10,       // CrySwitchTable slot already used
  CRY_ENGINE = 11,           // an error of the report runtime
  CRY_BAD_SLOT = 12,         // a slot index outside its range
  CRY_NOT_FOUND = 200,       // CryOpen: no report file
};

// Sub-reports one object binds.
constexpr int MAX_SUBREPORT = 10;
// CryClose waits at most this many 100 ms steps for the runtime.
constexpr int kCryCloseSteps = 50;

// The object's own slots (not shared with hosts, so naturally aligned).
struct CRYPARAM {
  int16_t type;          // 0 number, 3 date, 4 text, -1 free
  char name[31];         // parameter name
  char subreport[31];    // empty: the main report
  double number;
  int32_t year, month, day;  // all 0: an empty date
  char text[256];
};
struct CRYSORT {
  char field[101];
  int32_t direction;     // CRSortDirection
};
struct CRYSWITCH {
  char report_name[260];
  char new_name[260];
};

class CCrystalAnteprima;
class CCrystalPreview;

class VKT_API CCrystal {
 public:
  explicit CCrystal(bool preview = false);
  virtual ~CCrystal();
  CCrystal(const CCrystal&) = delete;
  CCrystal& operator=(const CCrystal&) = delete;

  static constexpr int kFormulas = 5;
  static constexpr int kSorts = 8;
  static constexpr int kParams = 30;
  static constexpr int kSwitches = 5;

  int CryOpen(const char* report, const char* title, int fullPath = 0, int sqlKind = 0);
  void CryToPrinter();
  void CryToWindow();
  // Our own destination: the report as a PDF file.
  void CryToFile(const char* pdf_path);
  void CryCopies(int copies);
  void CryCollated(int collated);
  void CrySetPaper(CRPaperSize paper);
  void CrySetOrientation(CRPaperOrientation orientation);
  // Millimetres (kept in tenths); false for sizes outside 1..50000 mm.
  bool CrySetPaperSize(int32_t width, int32_t length);
  // Tenths of a millimetre; false outside 10..500000.
  bool CrySetPaperSizeDm(int32_t width, int32_t length);
  bool CryGetPrinterSettings();
  bool CryGetInfo();
  void CrySetPaperFromInfo();

  // Parameter slots 0..29; false (status CRY_BAD_SLOT) outside.
  bool CryDoubleParam(int slot, const char* name, const char* subreport, double value);
  bool CryLongParam(int slot, const char* name, const char* subreport, int32_t value);
  bool CryDateParam(int slot, const char* name, const char* subreport, int32_t julian);
  bool CryDateParam(int slot, const char* name, const char* subreport, const COleDateTime& date);
  bool CryStringParam(int slot, const char* name, const char* subreport, const char* value);

  int CrySwitchTable(int index, const char* report_name, const char* new_name);
  void CryForceODBC(bool on);
  void CryForceSQL(bool on, int kind);
  bool CryTestSQL();
  void CrySetDnsLessConn(int company, int32_t year);
  void CrySetDnsLessConnInfo(const char* server, const char* database, const char* user,
                             const char* password);

  // Slots 0..4 (0 the main report, n the n-th sub-report); sorts 0..7.
  bool CrySelect(const char* text, int index);
  bool CrySql(const char* text, int index);
  bool CrySort(int index, const char* field, CRSortDirection direction);

  void CrySetDBFile(const char* name);
  void CrySetDataBase(const char* path);
  void CrySetGroup(bool on) { group_tree_ = on; }
  void CrySetProgress(bool on) { display_progress_ = on; }
  void CrySetZoomViewer(int zoom) { zoom_ = zoom; }
  int CryGetZoomViewer() const { return zoom_; }
  void CryGetPaperFormat(bool on) { paper_format_ = on; }
  void CryCheckTable(bool on) { check_tables_ = on; }
  void CryAskParam(bool on) { ask_params_ = on; }
  void CryStorico(bool on) { history_ = on; }
  void CrySetSoloQuery(bool on) { query_only_ = on; }

  int CryEsegui();
  void CryClose();

  // --- State, for the host and for tests -------------------------------------
  int status() const { return status_; }
  bool init_failed() const { return init_failed_; }
  const char* db_file() const { return dbfile_; }
  const char* database() const { return database_; }
  const CString& report_path() const { return report_path_; }
  const CString& report_title() const { return title_; }
  const CString& caption() const { return caption_; }
  const CRYPARAM& param(int slot) const { return params_[slot]; }
  const CRYSORT& sort(int slot) const { return sorts_[slot]; }
  const CRYSWITCH& switch_table(int slot) const { return switches_[slot]; }
  const CString& selection(int slot) const { return select_[slot]; }
  const CString& sql(int slot) const { return sql_[slot]; }
  int paper() const { return paper_; }
  int orientation() const { return orientation_; }
  int32_t paper_width() const { return paper_width_; }
  int32_t paper_length() const { return paper_length_; }
  int copies() const { return copies_; }
  int collated() const { return collated_; }
  bool force_odbc() const { return force_odbc_; }
  bool force_sql() const { return force_sql_; }
  int sql_kind() const { return sql_kind_; }
  bool check_tables() const { return check_tables_; }
  bool local_db() const { return local_db_; }
  bool remote() const { return remote_; }
  const CString& remote_server() const { return remote_server_; }
  const CString& remote_database() const { return remote_database_; }
  const CString& info_comments() const { return info_comments_; }
  // The runtime objects (the report after CryEsegui, until CryClose).
  vkt::report::Report* report() { return report_.get(); }
  vkt::report::PreviewWindow* preview() { return preview_.get(); }
  const vkt::report::Error& last_error() const { return last_error_; }
  int64_t progress_rows() const { return progress_rows_; }

 private:
  void Show(const std::string& text, unsigned type, const char* caption = nullptr);
  bool Fail(int status, const std::string& text, unsigned type, const char* caption = nullptr);
  bool EngineError(const vkt::report::Error& e);
  bool SetParam(int slot, const char* name, const char* subreport, int16_t type);
  std::string AppName() const;
  std::string SqlDsn() const;
  bool RefreshDataSource(const std::string& dsn, bool sql);
  std::string TableLocation(const std::string& name, const std::string& location, bool sql) const;
  bool BindReport(vkt::report::Report* r, int mode);
  bool OpenRuntimeReport();

  // Fixed-width texts.
  char dbfile_[13];
  char database_[260];
  CString title_, report_path_, caption_;
  CString select_[kFormulas];
  CString sql_[kFormulas];
  CRYSORT sorts_[kSorts];
  CRYPARAM params_[kParams];
  CRYSWITCH switches_[kSwitches];
  int paper_ = crPaperA4;
  int orientation_ = crPortrait;
  int32_t paper_length_ = 0, paper_width_ = 0;
  int copies_ = 1;
  int collated_ = 1;
  bool group_tree_ = false;
  bool display_progress_ = true;
  int zoom_ = 100;
  bool paper_format_ = false;
  bool force_odbc_ = false, force_sql_ = false;
  int sql_kind_ = 0;
  bool check_tables_ = false, ask_params_ = false, history_ = false, query_only_ = false;
  bool local_db_ = false;
  bool remote_ = false;
  CString remote_server_, remote_database_, remote_user_, remote_password_;
  int status_ = 0;
  bool init_failed_ = false;
  bool preview_mode_ = false;
  int destination_ = 0;  // 0 printer, 1 window, 2 PDF file
  std::string pdf_path_;
  CString info_title_, info_subject_, info_comments_;
  std::unique_ptr<vkt::report::Application> app_;
  std::unique_ptr<vkt::report::Report> report_;
  std::unique_ptr<vkt::report::PreviewWindow> preview_;
  vkt::report::Error last_error_;
  int64_t progress_rows_ = 0;
};

// The two preview windows; the parameter block's `preview_kind` picks one
// (0 CCrystalAnteprima, otherwise CCrystalPreview).
class VKT_API CCrystalAnteprima : public vkt::report::PreviewWindow {
 public:
  using PreviewWindow::PreviewWindow;
};
class VKT_API CCrystalPreview : public vkt::report::PreviewWindow {
 public:
  using PreviewWindow::PreviewWindow;
};

#endif  // VKT_PRINT_CRYSTAL_H_
