// `vkt demo`: the library at work, one section per subsystem built so far.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/checks.h"
#include "common/julian.h"
#include "common/vktstring.h"
#include "engine/zip.h"
#include "frame/vktapp.h"
#include "login/crypt.h"
#include "serial/serial_io.h"
#include "system/serialport.h"
#include "print/printer.h"
#include "tools/vkt/vkt.h"
#include "win/winconst.h"

namespace vkt::tool {
namespace {

void Section(const char* title) { std::printf("\n== %s\n", title); }

// Terminal output is UTF-8; the library's texts are Windows-1252.
std::string Show(const char* cp1252) {
  char copy[512];
  strzcpy(copy, cp1252, sizeof copy);
  return StrToUtf8(copy);
}

void DemoStrings() {
  Section("Stringhe (campi a larghezza fissa)");
  char amount[32];
  std::snprintf(amount, sizeof amount, "%16.2f", 1234567.89);
  strsost(amount, '.', ',');
  std::printf("strcomma    '%s'", amount);
  std::printf(" -> '%s'\n", strcomma(amount));
  char words[132];
  ctol(1234.56, words);
  std::printf("ctol        1234,56 -> %s\n", words);
  char field[16] = "  Rossi";
  std::printf("strleft     '  Rossi' su 10 -> '%s'\n", strleft(field, 10));
  char name[32] = "mARIO  rossi";
  std::printf("strproper   'mARIO  rossi' -> '%s'\n", strproper(name));
  std::printf("SqlQuote    d'arco* -> %s\n",
              SqlQuote(CString("d'arco*"), false, true, true).GetString());
  std::printf("Like        'FATT*2025' su 'FATTURA-2025' -> %s\n",
              Like("FATT*2025", "FATTURA-2025") == 0 ? "corrisponde" : "no");
}

void DemoChecks() {
  Section("Codici fiscali e partite IVA");
  for (const char* cf : {"BBBCCC90B02A000M", "BBBCCC90B02A000N", "bbbccc90b02a000m", ""}) {
    std::printf("codice fiscale '%s': %s\n", cf, CheckCodFiscale(cf) ? "valido" : "non valido");
  }
  for (const char* pi : {"12345678903", "12345678904", "1234567890A"}) {
    std::printf("partita IVA    '%s': %s\n", pi, CheckPartIva(pi) ? "valida" : "non valida");
  }
  std::printf("filtro cifre: '7' %s, 'a' %s\n", filter_digit('7') ? "accettato" : "rifiutato",
              filter_digit('a') ? "accettato" : "rifiutato");
}

void DemoDates() {
  Section("Giorni giuliani e orari");
  double ole = 36526.0;  // 1 January 2000
  int32_t day = DateToJulian(ole, 0);
  std::printf("01/01/2000 -> giorno giuliano %ld, conteggio breve %ld\n",
              static_cast<long>(day), static_cast<long>(DateToJulian(ole, 1)));
  char sql[13];
  std::printf("JulianToSQL -> %s\n", JulianToSQL(day, sql, sizeof sql));
  int week = 0, wyear = 0;
  GetWeekNumber(day, &week, &wyear);
  std::printf("settimana %d dell'anno %d\n", week, wyear);
  std::printf("ISO 8601 con fuso -> %s\n", static_cast<const char*>(JulianToTmzString(day)));
  std::printf("TimeToString(3725) -> %s, StringToTime(\"12:30\") -> %ld\n",
              static_cast<const char*>(TimeToString(3725)),
              static_cast<long>(StringToTime("12:30")));
  int32_t today = Now(0);
  std::printf("oggi: %02d/%02d/%04d (giorno %ld)\n", Day(today), Month(today), Year(today),
              static_cast<long>(today));
}

void DemoRounding() {
  Section("Arrotondamenti");
  std::printf("Round(2.5, 0) = %g, Round(-1.5, 0) = %g, MyCeil(0.25, 1) = %g\n",
              Round(2.5, 0), Round(-1.5, 0), MyCeil(0.25, 1));
  std::printf("CeilToFiveCents(1.26) = %.2f\n", CeilToFiveCents(1.26));
  double tiny = 0.004;
  int cleared = TestIfZero(&tiny, 2);
  std::printf("TestIfZero(0.004, 2) -> %g (azzerato: %d)\n", tiny, cleared);
}

void DemoLog(const std::string& dir) {
  Section("Registro e regola di segnalazione");
  std::string path = dir + "/log";
  mkdir(dir.c_str(), 0755);
  mkdir(path.c_str(), 0755);
  path += "/demo.txt";
  FILE* log = std::fopen(path.c_str(), "ab");
  if (log == nullptr) {
    std::printf("registro non apribile: %s\n", path.c_str());
    return;
  }
  vktpar->log_file = log;
  vkt::Report("Dimostrazione: messaggio nel registro (100% scritto come \xE8)", "VKT",
              MB_OK | MB_ICONINFORMATION);
  vktpar->log_file = nullptr;
  std::fclose(log);
  std::printf("scritto in %s:\n", path.c_str());
  log = std::fopen(path.c_str(), "rb");
  char line[256];
  std::string last;
  while (log != nullptr && std::fgets(line, sizeof line, log) != nullptr) last = line;
  if (log != nullptr) std::fclose(log);
  std::printf("  %s", Show(last.c_str()).c_str());
}

void DemoPrint(const std::string& dir) {
  Section("Stampa di testo (canale file)");
  const std::string path = dir + "/stampa-clienti.txt";
  const struct { const char* name; double amount; } kCustomers[] = {
      {"Rossi Mario", 1234.5}, {"Bianchi S.r.l.", 98765.43}, {"Verdi Giuseppe", 0.0},
      {"Caff\xE8 Centrale", 310.0}, {"Ferrari & Figli", 12.75}};
  CPrinter p("Elenco clienti", 12, 60, 0);
  p.SetOutput(CPrinter::kToFile);
  p.Open(path.c_str(), nullptr);
  p.Clear();
  p.page = 1;
  p.Goto(0, 0); p.Day();
  p.Goto(0, 45); p.AnnoPagNum(2025);
  p.Goto(1, 0); p.Center("ELENCO CLIENTI");
  p.Goto(2, 0); p.Serial('-', 0);
  double total = 0;
  for (int i = 0; i < 5; ++i) {
    p.Goto(3 + i, 0); p.Put(kCustomers[i].name);
    p.Goto(3 + i, 45); p.Num(kCustomers[i].amount, 15, 2, 1, 1, 0, 0);
    total += kCustomers[i].amount;
  }
  p.Goto(9, 0); p.Serial('=', 0);
  p.Goto(10, 0); p.Put("Totale");
  p.Goto(10, 45); p.Num(total, 15, 2, 1, 1, 0, 0);
  p.Flush();
  if (p.Close() != 0) {
    std::printf("stampa non riuscita (stato %d)\n", p.status);
    return;
  }
  std::printf("una pagina di 12 righe da 60 colonne in %s\n", path.c_str());
  std::printf("per vederla: vkt view -t -m=0 -r=12 %s [--pdf stampa.pdf]\n", path.c_str());
}

void DemoSerial(const std::string& dir) {
  Section("Porta seriale (pseudo-terminale al posto del cavo)");
  // The far end of the cable: the master side of a pseudo-terminal, which
  // sends back every line it receives.
  int far = posix_openpt(O_RDWR | O_NOCTTY);
  if (far < 0 || grantpt(far) != 0 || unlockpt(far) != 0 || ptsname(far) == nullptr) {
    std::printf("pseudo-terminale non disponibile\n");
    if (far >= 0) close(far);
    return;
  }
  std::string device = ptsname(far);
  vkt::serial_io::SetPortDevice(9, device);
  mkdir(dir.c_str(), 0755);
  mkdir((dir + "/log").c_str(), 0755);
  std::string saved_path = vktpar->path;
  strzcpy(vktpar->path, dir.c_str(), sizeof vktpar->path);
  try {
    CSerialPort port(true);
    port.Open(9, 9600, CSerialPort::NoParity, 8, CSerialPort::OneStopBit,
              CSerialPort::NoFlowControl, 0);
    std::printf("COM9 -> %s, 9600 8N1\n", device.c_str());
    const char line[] = "PESO? bilancia 1\r\n";
    std::printf("inviati %lu byte\n", static_cast<unsigned long>(port.Write(line, sizeof line - 1)));
    char echo[64];
    size_t got = 0;
    pollfd p{far, POLLIN, 0};
    while (got < sizeof line - 1 && poll(&p, 1, 1000) > 0) {
      ssize_t n = read(far, echo + got, sizeof line - 1 - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    if (write(far, echo, got) != static_cast<ssize_t>(got)) std::printf("eco non riuscita\n");
    COMMTIMEOUTS t{50, 0, 1000, 0, 0};  // the line, then 50 ms of silence
    port.SetTimeouts(t);
    char back[64] = {};
    DWORD n = port.Read(back, sizeof back - 1);
    std::printf("ricevuti %lu byte: %s", static_cast<unsigned long>(n), Show(back).c_str());
  } catch (const CSerialException& e) {
    std::printf("errore seriale %lu: %s", static_cast<unsigned long>(e.m_dwError),
                Show(e.GetErrorMessage()).c_str());
  }
  strzcpy(vktpar->path, saved_path.c_str(), sizeof vktpar->path);
  vkt::serial_io::SetPortDevice(9, "");
  close(far);
  std::string path = dir + "/log/serlog.txt";
  FILE* log = std::fopen(path.c_str(), "rb");
  std::vector<std::string> lines;
  char text[256];
  // Each record ends in CR LF after the bytes, which here end in CR LF too.
  while (log != nullptr && std::fgets(text, sizeof text, log) != nullptr) {
    if (std::strcmp(text, "\r\n") != 0) lines.push_back(text);
  }
  if (log != nullptr) std::fclose(log);
  std::printf("ultime righe di %s:\n", path.c_str());
  for (size_t i = lines.size() > 2 ? lines.size() - 2 : 0; i < lines.size(); ++i) {
    std::string l = lines[i];
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    std::printf("  %s\n", Show(l.c_str()).c_str());
  }
}

void DemoCrypt(const std::string& dir) {
  Section("Cifratura utenti, impronte e archivi ZIP");
  char stored[17], back[17];
  if (CryptUser("Mario Rossi", true, 0, stored, sizeof stored) &&
      CryptUser(stored, false, 0, back, sizeof back)) {
    std::string hex;
    for (int i = 0; i < 16; ++i) {
      char b[3];
      std::snprintf(b, sizeof b, "%02X", static_cast<unsigned char>(stored[i]));
      hex += b;
    }
    std::printf("Blowfish    'Mario Rossi' -> %s -> '%s'\n", hex.c_str(), back);
  }
  char pbes1[65];
  if (CryptUser("Mario Rossi", true, 1, pbes1, sizeof pbes1)) {
    std::printf("PBES1       'Mario Rossi' -> %s\n", pbes1);
  }
  char digest[65];
  if (CryptUser("password", true, 2, digest, sizeof digest)) {
    std::printf("SHA-256     'password' -> %s\n", digest);
  }
  CString pbes2 = Pbes2Encrypt("Via Roma 1, 00100 Roma");
  std::printf("PBES2       'Via Roma 1, 00100 Roma' -> %s -> '%s'\n", pbes2.GetString(),
              Pbes2Decrypt(pbes2).GetString());

  // The demo folder's log, zipped with a running count of the events.
  struct Counter : CkZipProgress {
    int added = 0, zipped = 0;
    void FileAdded(const char*, uint32_t, bool*) override { ++added; }
    void FileZipped(const char* name, uint32_t size, uint32_t packed, bool*) override {
      ++zipped;
      std::printf("  compresso %s: %u -> %u byte\n", name, size, packed);
    }
  } counter;
  CkZip zip;
  zip.put_EventCallbackObject(&counter);
  const std::string archive = dir + "/log.zip";
  zip.put_AppendFromDir(dir);
  if (!zip.NewZip(archive) || !zip.AppendFiles("log", true) || !zip.WriteZipAndClose()) {
    std::printf("archivio non scritto: %s\n", zip.LastErrorText().c_str());
    return;
  }
  std::printf("%s: %d file aggiunti, %d compressi\n", archive.c_str(), counter.added,
              counter.zipped);
}

}  // namespace

int Demo(const std::vector<std::string>& args) {
  std::string dir = "vkt-demo";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--dir" && i + 1 < args.size()) {
      dir = args[++i];
    } else {
      std::fprintf(stderr, "vkt demo: argomento sconosciuto: %s\n", args[i].c_str());
      return 2;
    }
  }
  std::printf("VKTDlg per Linux: dimostrazione (cartella %s)\n", dir.c_str());
  std::printf("blocco parametri di %zu byte, programma '%s', prodotto '%s'\n",
              sizeof(VKTAPPPARAM), vktpar->app_name, vktpar->product);
  DemoStrings();
  DemoChecks();
  DemoDates();
  DemoRounding();
  DemoLog(dir);
  DemoCrypt(dir);
  DemoPrint(dir);
  DemoSerial(dir);
  return 0;
}

}  // namespace vkt::tool
