// vkt: the library's sample host.
//
//   vkt check cf TEXT...      Italian fiscal codes
//   vkt check piva TEXT...    Italian VAT numbers
//   vkt date DD/MM/YYYY       Julian Day Number and short count of a date
//   vkt date N                the date of Julian Day Number N
//   vkt demo                  what the library does, end to end
//   vkt view -t -m=N -r=ROWS [-c] FILE [--pdf OUT]   composed text pages
//   vkt db verify|list|get DIR ...                   a look into an archive
//   vkt export | copy-company | zip                  exports, company copies, ZIP
//   vkt wait LOG [SECONDS]                           the demo's service
#include "tools/vkt/vkt.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/checks.h"
#include "common/julian.h"
#include "frame/vktapp.h"

namespace vkt::tool {
namespace {

VKTAPPPARAM g_par;
int g_date_base = 0;
int32_t g_company = 1;
int32_t g_year = 2025;

constexpr const char* kUsage =
    "uso: vkt COMANDO [ARGOMENTI]\n"
    "\n"
    "  demo [--dir CARTELLA]  la libreria da capo a fondo: stringhe, date, controlli,\n"
    "                         archivio ISAM, report PDF, finestre (immagini PNG),\n"
    "                         login, un servizio avviato e fermato (CheckService,\n"
    "                         CloseService), SQL su SQLite, esportazioni JSON, CSV e\n"
    "                         binarie e il loro ZIP, con un riepilogo di quanto fatto\n"
    "                         (di default nella cartella vkt-demo)\n"
    "  demo --sql [--dir CARTELLA] [--pg CONNESSIONE]\n"
    "                         la ditta dimostrativa su SQL: SQLite, o PostgreSQL con\n"
    "                         una stringa di connessione libpq\n"
    "  demo --isam-server CONNESSIONE [--dir CARTELLA]\n"
    "                         l'archivio ISAM della ditta tenuto da un server PostgreSQL\n"
    "                         (stringa di connessione libpq), come lo condividono i\n"
    "                         client su macchine diverse\n"
    "  demo --live [--dir CARTELLA] [--record] [--snapshots CARTELLA]\n"
    "                         elenco e scheda clienti su X11 (DISPLAY), con tastiera e\n"
    "                         mouse: F4 apre, F3 nuovo, F2 salva, Esc chiude; --record\n"
    "                         solo la scheda di un nuovo cliente; --snapshots le immagini\n"
    "  check cf TESTO...      verifica codici fiscali\n"
    "  check piva TESTO...    verifica partite IVA\n"
    "  date GG/MM/AAAA        numero di giorno giuliano e conteggio breve\n"
    "  date N                 data del giorno giuliano N\n"
    "  view -t -m=N -r=RIGHE [-c] FILE [--pdf USCITA]\n"
    "                         pagine di testo composte, a terminale o in PDF\n"
    "  db verify CARTELLA     controlla record e indici di ogni tabella\n"
    "  db list CARTELLA [TABELLA [-i INDICE]]\n"
    "                         tabelle, o i record nell'ordine di un indice\n"
    "  db get CARTELLA TABELLA CHIAVE [-i INDICE]\n"
    "                         i record con quella chiave\n"
    "  export TABELLA --json|--csv|--dump [--dir CARTELLA] [--da GG/MM/AAAA] [--a GG/MM/AAAA]\n"
    "                         esporta una tabella in CARTELLA/../out (JSON e CSV per\n"
    "                         data di aggiornamento, --dump ogni record)\n"
    "  copy-company DA A [--dir CARTELLA]\n"
    "                         copia le tabelle della ditta DA nella ditta A\n"
    "  zip ARCHIVIO CARTELLA  comprime la cartella; zip -x ARCHIVIO CARTELLA la estrae\n"
    "  wait REGISTRO [SECONDI]\n"
    "                         il servizio della dimostrazione: annota avvio e arresto\n"
    "                         in REGISTRO, termina con SIGTERM (o da solo dopo SECONDI,\n"
    "                         di default 300)\n"
    "  --help, --version\n";

int Check(const std::vector<std::string>& args) {
  if (args.size() < 2 || (args[0] != "cf" && args[0] != "piva")) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  bool cf = args[0] == "cf";
  bool all_valid = true;
  for (size_t i = 1; i < args.size(); ++i) {
    bool ok = cf ? CheckCodFiscale(args[i].c_str()) : CheckPartIva(args[i].c_str());
    std::printf("%s %s\n", args[i].c_str(), ok ? "valid" : "invalid");
    all_valid = all_valid && ok;
  }
  return all_valid ? 0 : 1;
}

bool AllDigitsText(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

int Date(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string& a = args[0];
  if (a.size() == 10 && a[2] == '/' && a[5] == '/' &&
      AllDigitsText(a.substr(0, 2)) && AllDigitsText(a.substr(3, 2)) &&
      AllDigitsText(a.substr(6, 4))) {
    // "YYYY-MM-DD 00:00:00": the library's timestamp form, which refuses a
    // day that does not exist.
    std::string ts = a.substr(6, 4) + "-" + a.substr(3, 2) + "-" + a.substr(0, 2) + " 00:00:00";
    std::vector<char> buf(ts.begin(), ts.end());
    buf.push_back('\0');
    double ole = TimestampToDate(buf.data());
    if (ole == 0.0) {
      std::fprintf(stderr, "vkt: data inesistente: %s\n", a.c_str());
      return 1;
    }
    std::printf("%ld %ld\n", static_cast<long>(DateToJulian(ole, 0)),
                static_cast<long>(DateToJulian(ole, 1)));
    return 0;
  }
  if (AllDigitsText(a) && a.size() <= 9) {
    int32_t day = static_cast<int32_t>(std::atol(a.c_str()));
    int y = Year(day), m = Month(day), d = Day(day);
    if (day == 0 || y == 0) {
      std::fprintf(stderr, "vkt: giorno giuliano senza data: %s\n", a.c_str());
      return 1;
    }
    std::printf("%02d/%02d/%04d\n", d, m, y);
    return 0;
  }
  std::fprintf(stderr, "vkt: data non valida: %s (GG/MM/AAAA o un numero)\n", a.c_str());
  return 1;
}

}  // namespace

void InitHost() {
  std::memset(&g_par, 0, sizeof g_par);
  std::strcpy(g_par.app_name, "VKT");
  std::strcpy(g_par.product, "MIRTOTS");
  std::strcpy(g_par.server, "FAIRCOMS");
  std::strcpy(g_par.host, "LOCALHOST");
  std::strcpy(g_par.archive, "ARCHIVI");
  g_par.date_base = &g_date_base;
  g_par.company = &g_company;
  g_par.year = &g_year;
  VKTDlgInitialize(&g_par);
}

}  // namespace vkt::tool

#if defined(__SANITIZE_ADDRESS__)
// fontconfig keeps its configuration for the life of the process (the PDF
// and window pictures draw text through it); nothing else is excused.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif

int main(int argc, char** argv) {
  using namespace vkt::tool;
  // Line-buffered even into a pipe, so the library's notices on standard
  // error fall between whole lines of the output, not inside them.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string cmd = args[0];
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (cmd == "--version") {
    std::printf("vkt %s (VKTDlg per Linux)\n", VKT_VERSION);
    return 0;
  }
  InitHost();
  if (cmd == "check") return Check(rest);
  if (cmd == "date") return Date(rest);
  if (cmd == "demo") return Demo(rest);
  if (cmd == "view") return View(rest);
  if (cmd == "db") return Db(rest);
  if (cmd == "export") return Export(rest);
  if (cmd == "copy-company") return CopyCompany(rest);
  if (cmd == "zip") return Zip(rest);
  if (cmd == "wait") return Wait(rest);
  std::fprintf(stderr, "vkt: comando sconosciuto: %s\n\n%s", cmd.c_str(), kUsage);
  return 2;
}
