// The ISAM session, the central error handlers and the session-wide
// services of the record database layer.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "common/vktstring.h"
#include "db/db_testing.h"
#include "db/dbctree.h"
#include "db/dbinternal.h"
#include "frame/vktapp.h"
#include "saapi/saapi.h"
#include "win/oledatetime.h"
#include "win/services.h"
#include "win/winconst.h"

namespace vkt::db {
namespace detail {

std::string Where(int line) { return "DBCtree:" + std::to_string(line); }

std::string Caption() {
  if (vktpar != nullptr && vktpar->app_name[0] != '\0') {
    return std::string(vktpar->app_name, strnlen(vktpar->app_name, sizeof vktpar->app_name));
  }
  return "VKTDlg";
}

const char* FormatStampa(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(buf_stampa, sizeof buf_stampa, format, ap);
  va_end(ap);
  if (n < 0) buf_stampa[0] = '\0';
  return buf_stampa;
}

int16_t Fail(int16_t status) {
  isam_err = uerr_cod = status;
  sysio_cod = 0;
  return status;
}

int16_t Clear() {
  isam_err = uerr_cod = sysio_cod = 0;
  return 0;
}

int16_t FailureCode(int16_t fallback) {
  int16_t code = uerr_cod;
  if (code == 0) code = Fail(fallback);
  return code;
}

void AlarmBeep() { services().Beep(1000, 10); }

void FatalEnd(const std::string& text, unsigned type, int status) {
  if (LogFile() == nullptr && Silent()) {
    // Silent without a log: the reporting rule would lose the only word of
    // why the process ends.
    std::fprintf(stderr, "%s: %s\n", Caption().c_str(), text.c_str());
    std::fflush(stderr);
  } else {
    Report(text, Caption(), type);
  }
  services().Exit(status);
  std::abort();  // an Exit that returns broke its contract
}

int16_t& SessionCount() {
  static int16_t count = 0;
  return count;
}

}  // namespace detail

void ResetDbForTesting() { detail::SessionCount() = 0; }
int16_t DbSessionCountForTesting() { return detail::SessionCount(); }

}  // namespace vkt::db

using namespace vkt::db::detail;  // NOLINT: the exported names are global

namespace {

// The name of this computer as the client node: at most 15 characters, as
// the host's systems named their stations.
bool ComputerName(std::string* name) {
  std::ifstream in("/proc/sys/kernel/hostname");
  std::string host;
  if (!in || !std::getline(in, host) || host.empty()) return false;
  host = host.substr(0, host.find('.'));
  if (host.empty()) return false;
  *name = host.substr(0, 15);
  return true;
}

const char* InitErrorText(int16_t status) {
  switch (status) {
    case 10: return "Richiesto troppo Spazio - Ridurre bufs";
    case 11: return "Entrambi i parametri bufs < 3";
    case 104: return "Troppi Files ed Indici. Cambiare MAXFIL in ctoptn.h";
    case 125: return "C-Tree Plus gia inizializzato";
    case 133: return "FAIRCOM Server non Trovato";
    case 143: return "Protocollo di comunicazione non trovato";
    case 182: return "Il Parametro files non puo' contenere i 3 files per R-Tree";
    case 450: return "User ID non valido";
    case 451: return "Password non valida";
    case 453: return "Nome del Server non Valido";
    default: return "";
  }
}

// The texts of the layer's own codes: the box and the log form.
struct CodeText {
  const char* box;
  const char* log;
};

const CodeText* LayerText(int status) {
  static const CodeText kTexts[] = {
      {"Sono stati trovati ed eliminati record con chiavi duplicate!", nullptr},  // -18
      {"Trovate Chiavi Duplicate nel File.", nullptr},                              // -17
      {"Non \xE9 Possibile aprire il file in modo esclusivo.", nullptr},           // -16
      {"Non \xE9 Possibile Cancellare il Record Indicato.", nullptr},              // -15
      {nullptr, nullptr},                                                          // -14
      {"Il Record \xE9 stato modificato da un altro processo.", nullptr},          // -13
      {"Un Record con il codice digitato \xE9\ngi\xE0 presente in archivio.", nullptr},  // -12
      {"Record cancellato da un altro processo", "Record cancellato da un altro processo!"},  // -11
      {"Record bloccato da un altro processo", "Record bloccato da un altro processo!"},      // -10
  };
  if (status < -18 || status > -10) return nullptr;
  return &kTexts[status + 18];
}

void ReportInitError(int16_t status, const char* text) {
  FormatStampa("Errore n. %d - %s", status, text);
  vkt::Report(buf_stampa, Caption(), MB_OK | MB_ICONSTOP);
}

}  // namespace

// --- Session -------------------------------------------------------------------

int16_t DBInitISAM(int16_t files, char* user, char* password, char* server, bool fifth,
                   bool sixth, bool quiet) {
  uint16_t profile = 1;
  if (!fifth) profile += 64;
  if (sixth && fifth) profile += 4;
  int16_t status = InitISAMXtd(15, files, 16, 15, profile, user, password, server);
  if (status != 0) {
    if (!quiet) ReportInitError(status, InitErrorText(status));
    return status;
  }
  ++SessionCount();
  std::string node;
  if (ComputerName(&node)) {
    status = SetNodeName(node.c_str());
  }
  if (status == 0) status = ChangeSet(0);
  if (status != 0) {
    // A half-opened session would make the next DBInitISAM fail with 125.
    const ErrorState failed = ErrorState::Save();
    (void)CloseISAM();
    --SessionCount();
    failed.Restore();
  }
  return status;
}

int16_t DBCloseISAM(int reopen) {
  if (SessionCount() < 1) return 0;
  const bool client = DBLocal() != 1;
  int16_t status = CloseISAM();
  if (status != 0) {
    const ErrorState failed = ErrorState::Save();
    ReportInitError(status, status == 24 ? "Impossibile Chiudere un file" : "");
    failed.Restore();
  }
  --SessionCount();
  if (reopen == 1 && status == 0 && client && vktpar != nullptr) {
    status = DBInitISAM(400, vktpar->user, vktpar->password, vktpar->server_at_host, true,
                        false, false);
  }
  return status;
}

// --- Errors ----------------------------------------------------------------------

int DBError(int status, const char* where) {
  if (status == DB_CANCELLED) return status;
  AlarmBeep();
  vkt::Services& s = vkt::services();
  const bool log = vkt::LogFile() != nullptr;
  if (const CodeText* t = LayerText(status); t != nullptr) {
    if (log) {
      FormatStampa("%s\n\nFile : %-s", t->log != nullptr ? t->log : t->box, Text(where));
      WriteLogMessage(buf_stampa);
    } else {
      s.MessageBox(t->box, Caption(), MB_OK | MB_ICONEXCLAMATION);
    }
    return status;
  }
  std::string text = status >= 0 ? s.LoadString(static_cast<uint32_t>(status)) : std::string();
  if (text.empty()) return status;
  if (log) {
    FormatStampa("%s\n\nFile : %-s", text.c_str(), Text(where));
    WriteLogMessage(buf_stampa);
  } else {
    s.MessageBox(text, Caption(), MB_OK | MB_ICONEXCLAMATION);
  }
  return status;
}

int DBISAM(int status, const char* where) {
  if (status == 0) return 0;
  if ((status >= -18 && status <= -10) || status >= 20000) {
    return static_cast<int16_t>(DBError(status, where));
  }
  // Read before anything else can touch them.
  const int16_t ie = isam_err, ue = uerr_cod, se = sysio_cod;
  const long last_err = errno;
  AlarmBeep();
  const char* fixed = nullptr;
  switch (status) {
    case 1001:
      if (ie == 133) {
        fixed =
            "Impossibile Trovare il Server sull'Host indicato !\n\nVerificare :\n\t- Server "
            "attivo su macchina Host\n\t- Correttezza dati immessi nella maschera di Login    \n";
      } else if (ie == 450) {
        fixed = "Impossibile collegarsi al Server !\n\nNome Utente non Valido.   \n";
      } else if (ie == 451) {
        fixed = "Impossibile collegarsi al Server !\n\nPassword non Valida.   \n";
      }
      break;
    case 101:
      fixed = FormatStampa(
          "Impossibile trovare il record (Err. 101) !\n\nContattare l' assistenza tecnica per "
          "ricostruire gli indici.\n\nFile : %-s",
          Text(where));
      break;
    case 33:
      fixed =
          "Riscrittura con buffer vuoto (Err. 33) !\n\nPrendere nota dell' operazione in corso e "
          "contattare immediatamente l' assistenza tecnica.\n";
      break;
    case 17:
      fixed =
          "Archivio non trovato (Err. 17) !\n\nPossibili cause : \n  - Percorso dati non "
          "valido\n  - Rete non collegata\n  - Disco pieno\n";
      break;
    case 198:
      fixed =
          "Dimensione Record non valida (Err. 198) !\n\nPossibili cause : \n  - Errata Versione "
          "del Software\n  - Necessaria conversione formato archivi\n";
      break;
    case 463:
      fixed =
          "File ID non unico (Err. 463) !\n\nRiavviare il Server e avviare il programma con "
          "-FILEID sulla riga di comando\n";
      break;
    default:
      // 485's advice concerns a Windows account setting; elsewhere the
      // general message says more.
      break;
  }
  if (fixed != nullptr) FatalEnd(fixed, MB_OK, status);
  FormatStampa(
      "Errore irrecuperabile sul Database.\nContattare l' assistenza comunicando i seguenti "
      "dati:\nErrore n. %d\nisam_err n. %d\nuerr_cod %d\nsysio_cod %d\nlast_err %ld\n\nFile : "
      "%-s",
      status, ie, ue, se, last_err, Text(where));
  FatalEnd(buf_stampa, MB_OK | MB_ICONSTOP, status);
}

int DBFatal(int32_t status) { return status > 0 && status < 20000 ? 1 : 0; }

int16_t DBConferma() {
  const bool mirto = vktpar != nullptr && std::strncmp(vktpar->product, "MIRTOTS",
                                                       sizeof vktpar->product) == 0;
  unsigned type = MB_YESNO | MB_DEFBUTTON2;
  if (!mirto) type |= MB_ICONEXCLAMATION;
  // A silent host takes the affirmative answer; an open log does not answer
  // a question for the user.
  return vkt::ReportUnlessSilent("Confermi la cancellazione...", "Mirto", type) == IDYES ? 1 : 0;
}

int16_t PutStandard(int operation, void* record, void* table) {
  auto* t = static_cast<CDBCtree*>(table);
  if (t == nullptr) return Fail(CT_BAD_PARAMETER);
  int16_t s = 0;
  switch (operation) {
    case 0:
      s = t->DBAddRecord(record);
      if (s == CT_DUPLICATE_KEY) s = DB_DUPLICATE;
      return s;
    case 1:
      s = t->DBLockRec();
      if (s == 0) s = t->DBReWriteRecord(record);
      return s;
    case 2:
      s = t->DBLockRec();
      if (s == 0) s = t->DBDeleteRecord();
      return s;
    default:
      return 0;
  }
}

int16_t DBLockISAM(int16_t mode) { return LockISAM(mode); }
int16_t DBChangeSet(int16_t set) { return ChangeSet(set); }

double DBGetTimeStamp() {
  if (DBLocal() != 1) {
    IOPERF_BLOCK block;
    if (IOPERFORMANCEX(&block) == 0) {
      // Seconds since 1970 as an unsigned count: valid after 2038.
      const uint32_t secs = static_cast<uint32_t>(block.values[18]);
      COleDateTime server(static_cast<int64_t>(secs));
      if (server.GetStatus() == COleDateTime::valid) return server;
    }
  }
  return COleDateTime::GetCurrentTime();
}

int16_t DBQuietCtree(char* filespec, int32_t action, int32_t mode) {
  return QuietCtree(filespec, action, mode);
}
int DBctFILBLK(char* filespec, int32_t action) { return ctFILBLK(filespec, action); }

int16_t DBGetIsamErr() { return isam_err; }
int16_t DBGetUerrCod() { return uerr_cod; }
int16_t DBGetSysIOCod() { return sysio_cod; }

int DBLocal() {
  int32_t values[256];
  std::memset(values, 0, sizeof values);
  int16_t s = SystemConfiguration(values);
  if (s != 0) DBISAM(s, VKT_DB_WHERE);
  return values[128] != 0 ? 1 : 0;
}

int16_t DBSetFileMode() { return DBLocal() == 1 ? 129 : 177; }

// --- SQL and c-treeDB errors -------------------------------------------------------

namespace {

const char* SqlErrorText(int code, tagCTSQLCONN* connection, const char* where) {
  if (connection != nullptr) {
    return FormatStampa(
        "Errore SQL irrecuperabile.\nContattare l' assistenza comunicando i seguenti dati:\n\n"
        "Errore n. %d - %-s\n\nError Pos. : %ld\n\nFile : %-s",
        code, ctsqlGetErrorMessage(connection), static_cast<long>(ctsqlGetErrorPos(connection)),
        Text(where));
  }
  return FormatStampa(
      "Errore SQL irrecuperabile.\nContattare l' assistenza comunicando i seguenti dati:\n"
      "Errore n. %d\n\nFile : %-s",
      code, Text(where));
}

}  // namespace

int DBSQLError(int code, tagCTSQLCONN* connection, const char* where) {
  if (code == 0) return 0;
  FatalEnd(SqlErrorText(code, connection, where), MB_OK | MB_ICONSTOP, code);
}

int DBSQLAlert(int code, tagCTSQLCONN* connection, const char* where) {
  if (code == 0) return 0;
  vkt::Report(SqlErrorText(code, connection, where), Caption(), MB_OK | MB_ICONSTOP);
  return code;
}

int DBCTDBError(CTDBRET code, const char* where) {
  if (code == 0) return 0;
  FormatStampa(
      "Errore CTDB irrecuperabile.\nContattare l' assistenza comunicando i seguenti dati:\n"
      "Errore n. %d\n\nFile : %-s",
      static_cast<int>(code), Text(where));
  FatalEnd(buf_stampa, MB_OK | MB_ICONSTOP, code);
}

void LogSQL(CString& text) {
  if (vktpar == nullptr) return;
  char name[260];
  const int n = std::snprintf(name, sizeof name, "%-s/log/sql.txt",
                              std::string(vktpar->path, strnlen(vktpar->path, sizeof vktpar->path)).c_str());
  // A cut name would be another file.
  if (n < 0 || n >= static_cast<int>(sizeof name)) return;
  FILE* f = std::fopen(name, "ab");
  if (f == nullptr) return;
  std::fwrite(text.GetString(), 1, static_cast<size_t>(text.GetLength()), f);
  std::fputs("\r\n", f);
  std::fclose(f);
}

namespace vkt::db {

tagCTSQLCONN SqlConnectionError(const SAException& e) {
  tagCTSQLCONN c;
  ctsqlSetError(&c, e.ErrText().GetMultiByteChars(), e.ErrPos());
  return c;
}

}  // namespace vkt::db
