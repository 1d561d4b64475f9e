#include "print/crystal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/julian.h"
#include "common/vktstring.h"
#include "db/dbctree.h"
#include "frame/vktapp.h"
#include "print/cups_queue.h"
#include "system/registry.h"
#include "win/services.h"
#include "win/winconst.h"

namespace {

constexpr const char* kCaption = "VKTDlg";
constexpr const char* kReportError = "Report Error";
constexpr const char* kOdbcRoot = "Software\\ODBC\\ODBC.INI\\";

// Tables kept once for all companies (the SQL layout's shared schema).
constexpr const char* kSharedTables[] = {
    "ditt2016", "comuni1", "nazioni1", "uffiva", "cencosto", "riclass", "mastri", "conti",
    "sotcon", "banche1", "sezioni", "caucont1", "tipautor", "caratter", "stfisico", "recupero",
    "codici_eer", "respingimenti", "materiali", "classi_adr", "raee", "cauoperaz", "provenienze",
    "trasp_transf", "tipi_respingimento", "attivita", "vettori1", "zone", "cateco", "pagament",
    "depositi", "depimpo", "caumaga1", "tabelle", "capiarea", "agenti1", "canali", "textnote",
    "clienti1", "fornito1", "rubrica", "destina1", "riferime", "fidelity", "gruppifo", "taglie1",
    "articofo", "codiva", "marchi", "reparti", "catmerc1", "misure", "stagioni", "vuoti",
    "artanag", "serials", "serdesc", "varcodart", "related", "barcode", "varbar", "artimag2",
    "vartype", "alternat", "vargroup", "varterm", "anavar", "anavargr", "artfor", "artattach",
    "artdesc", "artnote", "ingred1", "valenze", "antagcol", "listini1", "varlis1", "listfor"};

// Copies at most size - 1 bytes and terminates.
void Put(char* dst, size_t size, const char* src) {
  if (src == nullptr) src = "";
  const size_t n = strnlen(src, size - 1);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int32_t CurrentCompany() { return vktpar != nullptr && vktpar->company != nullptr ? *vktpar->company : 0; }
int32_t CurrentYear() { return vktpar != nullptr && vktpar->year != nullptr ? *vktpar->year : 0; }

std::string Field(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }

// "%-s%05ld%04ld": archive code, company, year.
std::string SqlDatabaseName(int32_t company, int32_t year) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%-s%05ld%04ld",
                vktpar != nullptr ? Field(vktpar->archive, sizeof vktpar->archive).c_str() : "",
                static_cast<long>(company), static_cast<long>(year));
  return buf;
}

}  // namespace

// --- Construction ----------------------------------------------------------------

CCrystal::CCrystal(bool preview) : preview_mode_(preview) {
  std::memset(dbfile_, 0, sizeof dbfile_);
  std::memset(database_, 0, sizeof database_);
  std::memset(sorts_, 0, sizeof sorts_);
  std::memset(switches_, 0, sizeof switches_);
  std::memset(params_, 0, sizeof params_);
  for (CRYPARAM& p : params_) p.type = -1;
  destination_ = preview ? 1 : 0;

  // The data file of the company: the current year's, or the year's own.
  const bool current = vktpar == nullptr || vktpar->TestAnnoCorrente == nullptr ||
                       vktpar->TestAnnoCorrente() == 1;
  char name[64];
  const int n = current ? std::snprintf(name, sizeof name, "FDATI%03ld.DB", static_cast<long>(CurrentCompany()))
                        : std::snprintf(name, sizeof name, "F%04ld%03ld.DB", static_cast<long>(CurrentYear()),
                                        static_cast<long>(CurrentCompany()));
  // A name that would not fit its 13 bytes is refused, not cut or overrun.
  if (n > 0 && static_cast<size_t>(n) < sizeof dbfile_) std::memcpy(dbfile_, name, static_cast<size_t>(n) + 1);

  vkt::report::Error err;
  app_ = vkt::report::Application::Create(vkt::report::kProgId, &err);
  if (!app_) {
    init_failed_ = true;
    status_ = CRY_INIT_FAILED;
    last_error_ = err;
    Show("Impossibile inizializzare Crystal Report", MB_OK | MB_ICONSTOP);
  }
}

CCrystal::~CCrystal() {
  preview_.reset();
  report_.reset();
}

void CCrystal::Show(const std::string& text, unsigned type, const char* caption) {
  vkt::Report(text, caption != nullptr ? caption : kCaption, type);
}

bool CCrystal::Fail(int status, const std::string& text, unsigned type, const char* caption) {
  status_ = status;
  Show(text, type, caption);
  return false;
}

bool CCrystal::EngineError(const vkt::report::Error& e) {
  last_error_ = e;
  char code[16];
  std::snprintf(code, sizeof code, "%X", e.code);
  std::string text = "Errore CrystalReport\n\n" + e.description + "\n\nHRESULT Error Code : 0x" + code +
                     "\n\n" + e.source + "\n\nReport : " + report_path_.GetString();
  return Fail(CRY_ENGINE, text, MB_OK | MB_ICONSTOP);
}

// --- Options ------------------------------------------------------------------------

int CCrystal::CryOpen(const char* report, const char* title, int fullPath, int sqlKind) {
  paper_ = crPaperA4;
  orientation_ = crPortrait;
  sql_kind_ = sqlKind;
  title_ = title != nullptr ? title : "";
  std::string path;
  if (fullPath != 0) {
    path = report != nullptr ? report : "";
  } else {
    const std::string dir = vktpar != nullptr ? Field(vktpar->path, sizeof vktpar->path) : "";
    path = dir + "/rpteuro/" + (report != nullptr ? report : "");
  }
  report_path_ = path;
  local_db_ = DBLocal() == 1;
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) {
    status_ = CRY_NOT_FOUND;
    vkt::services().Beep(1000, 10);
    Show("File report " + path + " non trovato !", MB_OK | MB_ICONSTOP);
    return status_;
  }
  status_ = init_failed_ ? CRY_INIT_FAILED : CRY_OK;
  return status_;
}

void CCrystal::CryToPrinter() { destination_ = 0; }
void CCrystal::CryToWindow() { destination_ = 1; }
void CCrystal::CryToFile(const char* pdf_path) {
  destination_ = 2;
  pdf_path_ = pdf_path != nullptr ? pdf_path : "";
}
void CCrystal::CryCopies(int copies) { copies_ = copies < 1 ? 1 : copies; }
void CCrystal::CryCollated(int collated) { collated_ = collated; }
void CCrystal::CrySetPaper(CRPaperSize paper) { paper_ = paper; }
void CCrystal::CrySetOrientation(CRPaperOrientation orientation) { orientation_ = orientation; }

bool CCrystal::CrySetPaperSize(int32_t width, int32_t length) {
  // Tenths of a millimetre must fit their 32 bits.
  if (width < 1 || width > 50000 || length < 1 || length > 50000) return false;
  return CrySetPaperSizeDm(width * 10, length * 10);
}

bool CCrystal::CrySetPaperSizeDm(int32_t width, int32_t length) {
  if (width < 10 || width > 500000 || length < 10 || length > 500000) return false;
  paper_width_ = width;
  paper_length_ = length;
  paper_ = crPaperUser;
  return true;
}

bool CCrystal::CryGetPrinterSettings() {
  std::string name;
  if (!vkt::print_io::DefaultPrinter(&name)) return false;
  vkt::print_io::PrinterSettings s;
  if (!vkt::print_io::GetPrinterSettings(name, &s)) return false;
  orientation_ = s.orientation == 1 ? crPortrait : s.orientation == 2 ? crLandscape : crDefaultPaperOrientation;
  // PWG media names end in "_<width>x<length>mm" (or "in"); legacy names
  // are the common sizes. Anything else leaves the paper as it is.
  const size_t us = s.media.rfind('_');
  double w = 0, l = 0;
  char unit[4] = {};
  if (us != std::string::npos &&
      std::sscanf(s.media.c_str() + us + 1, "%lfx%lf%2s", &w, &l, unit) == 3) {
    const double k = std::strcmp(unit, "in") == 0 ? 254.0 : 10.0;
    CrySetPaperSizeDm(static_cast<int32_t>(w * k + 0.5), static_cast<int32_t>(l * k + 0.5));
  } else {
    static const struct { const char* name; int32_t w, l; } kLegacy[] = {
        {"a4", 2100, 2970}, {"a3", 2970, 4200}, {"a5", 1480, 2100}, {"letter", 2159, 2794},
        {"legal", 2159, 3556}};
    for (const auto& m : kLegacy)
      if (Lower(s.media) == m.name) CrySetPaperSizeDm(m.w, m.l);
  }
  return true;
}

bool CCrystal::OpenRuntimeReport() {
  if (init_failed_) return false;
  vkt::report::Error err;
  auto r = app_->OpenReport(report_path_.GetString(), &err);
  if (!r) {
    last_error_ = err;
    return false;
  }
  report_ = std::move(r);
  return true;
}

bool CCrystal::CryGetInfo() {
  if (!report_ && !OpenRuntimeReport()) return false;
  const vkt::report::Summary& s = report_->summary();
  info_title_ = s.title;
  info_subject_ = s.subject;
  info_comments_ = s.comments;
  return true;
}

void CCrystal::CrySetPaperFromInfo() {
  if (!CryGetInfo()) return;
  std::string text = info_comments_.GetString();
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // The integer after a key; huge values read as 0 (refused below).
  auto number_after = [&](const char* key) -> int32_t {
    const size_t at = text.find(key);
    if (at == std::string::npos) return -1;
    errno = 0;
    const long v = std::strtol(text.c_str() + at + std::strlen(key), nullptr, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return 0;
    return static_cast<int32_t>(v);
  };
  const int32_t w = number_after("WIDTH:"), h = number_after("HEIGHT:");
  if (w >= 0 && h >= 0 && w != 0 && h != 0) CrySetPaperSize(w, h);
  if (text.find("PORTRAIT") != std::string::npos) orientation_ = crPortrait;
  if (text.find("LANDSCAPE") != std::string::npos) orientation_ = crLandscape;
}

bool CCrystal::SetParam(int slot, const char* name, const char* subreport, int16_t type) {
  if (slot < 0 || slot >= kParams) {
    status_ = CRY_BAD_SLOT;
    return false;
  }
  CRYPARAM& p = params_[slot];
  std::memset(&p, 0, sizeof p);
  p.type = type;
  Put(p.name, sizeof p.name, name);
  Put(p.subreport, sizeof p.subreport, subreport);
  return true;
}

bool CCrystal::CryDoubleParam(int slot, const char* name, const char* subreport, double value) {
  if (!SetParam(slot, name, subreport, 0)) return false;
  params_[slot].number = value;
  return true;
}

bool CCrystal::CryLongParam(int slot, const char* name, const char* subreport, int32_t value) {
  return CryDoubleParam(slot, name, subreport, static_cast<double>(value));
}

bool CCrystal::CryDateParam(int slot, const char* name, const char* subreport, int32_t julian) {
  if (!SetParam(slot, name, subreport, 3)) return false;
  if (julian != 0) {
    params_[slot].year = Year(julian);
    params_[slot].month = Month(julian);
    params_[slot].day = Day(julian);
  }
  return true;
}

bool CCrystal::CryDateParam(int slot, const char* name, const char* subreport, const COleDateTime& date) {
  if (!SetParam(slot, name, subreport, 3)) return false;
  params_[slot].year = date.GetYear();
  params_[slot].month = date.GetMonth();
  params_[slot].day = date.GetDay();
  return true;
}

bool CCrystal::CryStringParam(int slot, const char* name, const char* subreport, const char* value) {
  if (!SetParam(slot, name, subreport, 4)) return false;
  Put(params_[slot].text, sizeof params_[slot].text, value);
  return true;
}

int CCrystal::CrySwitchTable(int index, const char* report_name, const char* new_name) {
  check_tables_ = true;
  if (index < 0 || index >= kSwitches) {
    status_ = CRY_TABLE_LIMIT;
    Show("Raggiunto limite massimo di tabelle sostituibili!", MB_OK | MB_ICONEXCLAMATION);
    return status_;
  }
  CRYSWITCH& s = switches_[index];
  if (s.report_name[0] != '\0' || s.new_name[0] != '\0') {
    status_ = CRY_TABLE_USED;
    Show("Indice tabelle sostituibili gi\xE0 utilizzato!", MB_OK | MB_ICONEXCLAMATION);
    return status_;
  }
  Put(s.report_name, sizeof s.report_name, report_name);
  Put(s.new_name, sizeof s.new_name, new_name);
  return 0;
}

void CCrystal::CryForceODBC(bool on) {
  force_odbc_ = on;
  if (on) force_sql_ = false;
}

void CCrystal::CryForceSQL(bool on, int kind) {
  force_sql_ = on;
  sql_kind_ = kind;
  if (on) force_odbc_ = false;
}

std::string CCrystal::AppName() const {
  return vktpar != nullptr ? Field(vktpar->app_name, sizeof vktpar->app_name) : "";
}

std::string CCrystal::SqlDsn() const { return AppName() + (sql_kind_ == 1 ? " PSQL" : " SQL"); }

bool CCrystal::CryTestSQL() {
  CRegistry reg;
  return reg.KeyExists(CString(kOdbcRoot + SqlDsn()));
}

void CCrystal::CrySetDnsLessConn(int company, int32_t year) {
  const char* host = vktpar != nullptr && vktpar->host[0] != '\0' ? vktpar->host : "localhost";
  CrySetDnsLessConnInfo(host, SqlDatabaseName(company, year).c_str(),
                        vktpar != nullptr ? vktpar->sql_user : "",
                        vktpar != nullptr ? vktpar->sql_password : "");
}

void CCrystal::CrySetDnsLessConnInfo(const char* server, const char* database, const char* user,
                                     const char* password) {
  remote_ = true;
  remote_server_ = server;
  remote_database_ = database;
  remote_user_ = user;
  remote_password_ = password;
}

bool CCrystal::CrySelect(const char* text, int index) {
  if (index < 0 || index >= kFormulas) {
    status_ = CRY_BAD_SLOT;
    return false;
  }
  select_[index] = text;
  return true;
}

bool CCrystal::CrySql(const char* text, int index) {
  if (index < 0 || index >= kFormulas) {
    status_ = CRY_BAD_SLOT;
    return false;
  }
  sql_[index] = text;
  return true;
}

bool CCrystal::CrySort(int index, const char* field, CRSortDirection direction) {
  if (index < 0 || index >= kSorts) {
    status_ = CRY_BAD_SLOT;
    return false;
  }
  Put(sorts_[index].field, sizeof sorts_[index].field, field);
  sorts_[index].direction = direction;
  return true;
}

void CCrystal::CrySetDBFile(const char* name) {
  if (name == nullptr || std::strlen(name) >= sizeof dbfile_) return;
  Put(dbfile_, sizeof dbfile_, name);
}

void CCrystal::CrySetDataBase(const char* path) { Put(database_, sizeof database_, path); }

// --- Running ------------------------------------------------------------------------

bool CCrystal::RefreshDataSource(const std::string& dsn, bool sql) {
  CRegistry reg;
  bool ok = reg.SetKey(CString(kOdbcRoot + dsn), false);
  auto put = [&](const char* name, const std::string& value) {
    ok = ok && reg.WriteString(name, CString(value));
  };
  if (!sql) {
    // The communication setting: 0 TCP/IP, 1 NetBIOS, 2 IPX/SPX, 3 local
    // multi-user; local files are always the last.
    static const char* const kProtocols[] = {"TCPIP", "NETBIOS", "IPXSPX", "MultiUser"};
    int protocol = vkt::services().GetProfileInt("Settings", "Protocol", 0);
    if (protocol < 0 || protocol > 3) protocol = 0;
    if (local_db_) protocol = 3;
    std::string dbq = Field(database_, sizeof database_);
    if (dbq.empty() && vktpar != nullptr) dbq = Field(vktpar->path, sizeof vktpar->path);
    put("DataDictionary", Field(dbfile_, sizeof dbfile_));
    put("DBQ", dbq);
    put("Protocol", kProtocols[protocol]);
    put("ServerName", vktpar != nullptr ? Field(vktpar->server_at_host, sizeof vktpar->server_at_host) : "");
    put("SpecialTypes", "vktdate.dll");
  } else {
    std::string host = vktpar != nullptr ? Field(vktpar->host, sizeof vktpar->host) : "";
    if (host.empty()) host = "localhost";
    const std::string db = SqlDatabaseName(CurrentCompany(), CurrentYear());
    const std::string user = vktpar != nullptr ? Field(vktpar->sql_user, sizeof vktpar->sql_user) : "";
    const std::string pass = vktpar != nullptr ? Field(vktpar->sql_password, sizeof vktpar->sql_password) : "";
    const int32_t port = vktpar != nullptr ? vktpar->sql_port : 0;
    if (sql_kind_ != 1) {
      put("Host", host);
      put("Database", db);
      put("Password", pass);
      put("User ID", user);
    } else {
      put("Servername", host);
      put("Database", db);
      put("Password", pass);
      put("Username", user);
      put("UID", user);
    }
    if (port != 0) put("Service", std::to_string(port));
  }
  if (!ok) return Fail(CRY_REGISTRY, "Errore aggiornamento file Registro.", MB_OK | MB_ICONSTOP, kReportError);
  return true;
}

// The table's name at its source. Company tables take the company's own
// names: the inventory "inventar"/"invNNNNN" becomes "inv%05ld"; with the
// history flag the movements "moviment", "movimen1" and "movimen2" are read
// from the history table "storico1", without it "storico1" is left as it
// is. Substitutions come last; with SQL, shared tables get "admin.".
std::string CCrystal::TableLocation(const std::string& name, const std::string& location, bool sql) const {
  std::string loc = location;
  const std::string low = Lower(loc);
  bool inv = low == "inventar";
  if (low.size() == 8 && low.compare(0, 3, "inv") == 0 &&
      std::all_of(low.begin() + 3, low.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    inv = true;
  if (inv) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "inv%05ld", static_cast<long>(CurrentCompany()) % 100000);
    loc = buf;
  } else if (history_ && (low == "moviment" || low == "movimen1" || low == "movimen2")) {
    loc = "storico1";
  }
  for (const CRYSWITCH& s : switches_) {
    const std::string from = Field(s.report_name, sizeof s.report_name);
    if (!from.empty() && (Lower(from) == Lower(name) || Lower(from) == Lower(location)))
      loc = Field(s.new_name, sizeof s.new_name);
  }
  if (sql && loc.find('.') == std::string::npos) {
    const std::string l = Lower(loc);
    for (const char* t : kSharedTables)
      if (l == t) return "admin." + loc;
  }
  return loc;
}

// mode: 0 c-tree data source, 1 SQL data source, 2 SQL without one.
bool CCrystal::BindReport(vkt::report::Report* r, int mode) {
  vkt::report::Error err;
  if (!query_only_) {
    for (int t = 0; t < r->TableCount(); ++t) {
      const vkt::report::TableInfo info = r->Table(t);
      if (!r->SetTableLocation(t, TableLocation(info.name, info.location, mode != 0), &err))
        return EngineError(err);
    }
  }
  r->SetDayNumberBase(vkt::DateBase());
  bool ok = false;
  if (mode == 0) {
    ok = r->ConnectDataSource(AppName(), "", "", &err);
  } else if (mode == 1) {
    if (vktpar != nullptr && vktpar->report_hook != nullptr) vktpar->report_hook(this);
    ok = r->ConnectDataSource(SqlDsn(), vktpar != nullptr ? vktpar->sql_user : "",
                              vktpar != nullptr ? vktpar->sql_password : "", &err);
  } else {
    if (vktpar != nullptr && vktpar->report_hook != nullptr) vktpar->report_hook(this);
    // Kind 1 PostgreSQL, 2 MySQL, 3 an SQLite file in the server folder;
    // other kinds through ODBC.
    const eSAClient client = sql_kind_ == 1 ? SA_PostgreSQL_Client : sql_kind_ == 2 ? SA_MySQL_Client
                             : sql_kind_ == 3 ? SA_SQLite_Client : SA_ODBC_Client;
    ok = r->ConnectServer(client, remote_server_.GetString(), remote_database_.GetString(),
                          remote_user_.GetString(), remote_password_.GetString(), &err);
  }
  if (!ok) return EngineError(err);
  if (check_tables_ && !r->VerifyDatabase(&err)) return EngineError(err);
  return true;
}

int CCrystal::CryEsegui() {
  // 1. Nothing runs without the runtime.
  if (init_failed_) return status_ = CRY_INIT_FAILED;
  status_ = CRY_OK;
  last_error_.Clear();

  // 2, 3. The connection kind; the setting may make SQL compulsory.
  caption_ = AppName() + " - [" + title_.GetString();
  const bool sql_required = vkt::services().GetProfileInt("Settings", "SQLServer", 0) != 0;
  int mode = 0;
  if (remote_) {
    mode = 2;
  } else if (force_sql_) {
    mode = 1;
  } else if (sql_required) {
    if (force_odbc_ || !CryTestSQL()) {
      Fail(CRY_SQL_REQUIRED, "Utilizzo SQL obbligatorio !\n\nImpossibile continuare.", MB_OK | MB_ICONSTOP);
      return status_;
    }
    mode = 1;
  }
  caption_ += mode == 0 ? " - ODBC]" : mode == 1 ? " - SQL]" : " - SQL DSNLESS]";

  // 4, 5. The data source must be registered; its values are refreshed.
  if (mode != 2) {
    const std::string dsn = mode == 0 ? AppName() : SqlDsn();
    CRegistry reg;
    if (!reg.KeyExists(CString(kOdbcRoot + dsn))) {
      Fail(CRY_NO_DRIVER,
           mode == 0 ? "Driver ODBC non installato correttamente." : "Driver ODBC SQL non installato correttamente.",
           MB_OK | MB_ICONSTOP, kReportError);
      return status_;
    }
    if (!RefreshDataSource(dsn, mode == 1)) return status_;
  }

  // 6. The report file.
  preview_.reset();
  report_.reset();
  if (!OpenRuntimeReport()) {
    Fail(CRY_OPEN_FAILED, "Modulo di stampa non trovato o impossibile aprire il report !",
         MB_OK | MB_ICONINFORMATION);
    return status_;
  }
  vkt::report::Report* main = report_.get();

  // 7. Tables of the main report, then of each sub-report.
  if (main->SubreportCount() > MAX_SUBREPORT) {
    Fail(CRY_SUBREPORTS, "Aumentare il parametro MAX_SUBREPORT !", MB_OK | MB_ICONSTOP);
    return status_;
  }
  if (!BindReport(main, mode)) return status_;
  for (int s = 0; s < main->SubreportCount(); ++s)
    if (!BindReport(main->Subreport(s), mode)) return status_;

  // 8. Formulas, statements, parameters.
  vkt::report::Error err;
  for (int i = 0; i < kFormulas; ++i) {
    vkt::report::Report* target = i == 0 ? main : main->Subreport(i - 1);
    if (target == nullptr) continue;
    if (!select_[i].IsEmpty() && !target->SetSelectionFormula(select_[i].GetString(), &err))
      return EngineError(err), status_;
    if (!sql_[i].IsEmpty()) target->SetSqlQuery(sql_[i].GetString());
  }
  main->SetQueryOnly(query_only_);
  main->SetPromptMode(ask_params_);
  for (int s = 0; s < main->SubreportCount(); ++s) main->Subreport(s)->SetPromptMode(ask_params_);
  for (const CRYPARAM& p : params_) {
    if (p.type == -1) continue;
    const std::string sub = Field(p.subreport, sizeof p.subreport);
    vkt::report::Report* target = sub.empty() ? main : main->SubreportByName(sub);
    if (target == nullptr) {
      err.Set(vkt::report::kErrUnknownName, "Parameters", "The report has no sub-report " + sub);
      return EngineError(err), status_;
    }
    const std::string name = Field(p.name, sizeof p.name);
    vkt::report::ParameterInfo info;
    if (target->FindParameter(name, &info) && info.type == vkt::report::ParamType::kTime) {
      Fail(CRY_PARAMETER, "Time parameter Unsupported", MB_OK | MB_ICONSTOP);
      return status_;
    }
    vkt::report::Value v;
    if (p.type == 0) v = vkt::report::Value::Number(p.number);
    else if (p.type == 3) v = p.year == 0 && p.month == 0 && p.day == 0 ? vkt::report::Value()
                                                                        : vkt::report::Value::DateYmd(p.year, p.month, p.day);
    else v = vkt::report::Value::Text(Field(p.text, sizeof p.text));
    if (!target->SetParameter(name, v, &err)) return EngineError(err), status_;
  }

  // 9. Sorts, in slot order.
  bool sorted = false;
  for (const CRYSORT& s : sorts_) {
    const std::string field = Field(s.field, sizeof s.field);
    if (field.empty()) continue;
    if (!sorted) main->ClearSorts();
    sorted = true;
    if (!main->AddSort(field, s.direction == crDescendingOrder, &err)) {
      last_error_ = err;
      Fail(CRY_SORT, "Campo di ordinamento " + field + " non valido !", MB_OK | MB_ICONSTOP);
      return status_;
    }
  }

  // 10. Paper (from the report's description when asked) and destination.
  if (paper_format_) CrySetPaperFromInfo();
  vkt::report::PageSetup& setup = main->page_setup();
  setup.paper = paper_;
  setup.width_dmm = paper_width_;
  setup.length_dmm = paper_length_;
  setup.orientation = orientation_;
  setup.copies = copies_;
  setup.collated = collated_ != 0;
  progress_rows_ = 0;
  std::unique_ptr<vkt::WaitCursorGuard> wait;
  if (display_progress_) {
    wait = std::make_unique<vkt::WaitCursorGuard>();
    main->SetProgress([this](int64_t rows, int) { progress_rows_ = rows; });
  }
  bool ok = false;
  if (destination_ == 0) {
    ok = main->PrintOut("", &err);
  } else if (destination_ == 2) {
    ok = main->ExportPdf(pdf_path_, &err);
  } else {
    ok = main->Run(&err);
    if (ok) {
      if (vktpar != nullptr && vktpar->preview_kind != 0) preview_ = std::make_unique<CCrystalPreview>(main);
      else preview_ = std::make_unique<CCrystalAnteprima>(main);
      ok = preview_->Open(caption_.GetString(), zoom_, group_tree_, &err);
      if (ok && vktpar != nullptr && vktpar->TestDlg != nullptr) vktpar->TestDlg(IDOK);
    }
  }
  wait.reset();
  // 11. Anything the runtime refused.
  if (!ok) return EngineError(err), status_;
  return status_;
}

void CCrystal::CryClose() {
  preview_.reset();
  if (!report_) return;
  // The runtime may still be finishing: wait for it, but not for ever.
  for (int step = 0; step < kCryCloseSteps && report_->Busy(); ++step) vkt::services().Sleep(100);
  report_.reset();
}
