// `vkt demo`: the library at work, one section per subsystem built so far.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/checks.h"
#include "common/julian.h"
#include "common/vktstring.h"
#include "db/dbctree.h"
#include "engine/zip.h"
#include "frame/vktapp.h"
#include "isam/ctree.h"
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

// The company archive: customers and their invoices, two c-tree tables
// described the way a host describes its own.
#pragma pack(push, 1)
struct DemoCliente {
  char codice[7];        //   0  index 1
  char ragione[41];      //   7  index 2, without case, duplicates
  char cod_fiscale[17];  //  48
  char partita_iva[12];  //  65  index 3, duplicates
  char citta[31];        //  77
  char utente[21];       // 108  who wrote it
};
struct DemoFattura {
  char numero[9];    //  0  index 1
  char cliente[7];   //  9  index 2 with the number
  int32_t data;      // 16  day number
  double imponibile; // 20
  double iva;        // 28
  char utente[21];   // 36
};
#pragma pack(pop)

int16_t StampDemoCliente(void* record) {
  strzcpy(static_cast<DemoCliente*>(record)->utente, vktpar->last_user, sizeof(DemoCliente::utente));
  return 0;
}
int16_t StampDemoFattura(void* record) {
  strzcpy(static_cast<DemoFattura*>(record)->utente, vktpar->last_user, sizeof(DemoFattura::utente));
  return 0;
}

// `server` empty: the folder DIR/archivio of this machine; otherwise the
// folder "archivio" of that server of the settings file.
bool DemoArchive(const std::string& dir, const std::string& server = "") {
  const std::string title = server.empty() ? "Archivio ditta (tabelle c-tree scritte con DBWrite)"
                                           : "Archivio ditta sul server " + server +
                                                 " (tabelle c-tree scritte con DBWrite)";
  Section(title.c_str());
  const std::string folder = server.empty() ? dir + "/archivio" : "archivio";
  mkdir(dir.c_str(), 0755);
  if (server.empty()) mkdir(folder.c_str(), 0755);
  std::vector<char> server_name(server.begin(), server.end());
  server_name.push_back('\0');
  if (vktpar->user[0] == '\0') strzcpy(vktpar->user, "DEMO", sizeof vktpar->user);
  if (int16_t s = DBInitISAM(64, vktpar->user, vktpar->password, server_name.data(), true, false, true); s != 0) {
    std::printf("sessione ISAM non aperta (stato %d)\n", s);
    return false;
  }
  const unsigned char saved_create = vktpar->allow_create, saved_dirs = vktpar->create_dirs;
  vktpar->allow_create = 1;
  vktpar->create_dirs = 1;

  std::string cli_name = folder + "/clienti", fat_name = folder + "/fatture";
  char n_cod[] = "CliCodice", n_rag[] = "CliRagione", n_iva[] = "CliPartitaIva";
  char n_num[] = "FatNumero", n_fcl[] = "FatCliente";
  char cf_first[] = "cli_codice", cf_last[] = "cli_utente";
  char ff_first[] = "fat_numero", ff_last[] = "fat_utente";
  ISEG cseg[3] = {{0, 6, CT_SEG_BYTES}, {7, 40, CT_SEG_UPPER}, {65, 11, CT_SEG_BYTES}};
  IIDX cix[3] = {{6, 0, 0, 0, 0, 1, &cseg[0], n_cod, nullptr, nullptr, nullptr},
                 {44, 0, 1, 0, 0, 1, &cseg[1], n_rag, nullptr, nullptr, nullptr},
                 {15, 0, 1, 0, 0, 1, &cseg[2], n_iva, nullptr, nullptr, nullptr}};
  ISEG fseg[3] = {{0, 8, CT_SEG_BYTES}, {9, 6, CT_SEG_BYTES}, {0, 8, CT_SEG_BYTES}};
  IIDX fix[2] = {{8, 0, 0, 0, 0, 1, &fseg[0], n_num, nullptr, nullptr, nullptr},
                 {14, 0, 0, 0, 0, 2, &fseg[1], n_fcl, nullptr, nullptr, nullptr}};
  ifil4 cli_ifil = {cli_name.data(), -1, sizeof(DemoCliente), 4096, 0, 3, 4096, 0, cix,
                    cf_first, cf_last, -1};
  ifil4 fat_ifil = {fat_name.data(), -1, sizeof(DemoFattura), 4096, 0, 2, 4096, 0, fix,
                    ff_first, ff_last, -1};
  char c1[] = "cli_codice", c2[] = "cli_ragione", c3[] = "cli_cod_fiscale", c4[] = "cli_partita_iva",
       c5[] = "cli_citta", c6[] = "cli_utente", f1[] = "fat_numero", f2[] = "fat_cliente",
       f3[] = "fat_data", f4[] = "fat_imponibile", f5[] = "fat_iva", f6[] = "fat_utente", end[] = "";
  DATOBJ cli_doda[7] = {{c1, nullptr, 144, 7, {}},  {c2, nullptr, 144, 41, {}},
                        {c3, nullptr, 144, 17, {}}, {c4, nullptr, 144, 12, {}},
                        {c5, nullptr, 144, 31, {}}, {c6, nullptr, 144, 21, {}},
                        {end, nullptr, 0, 0, {}}};
  DATOBJ fat_doda[7] = {{f1, nullptr, 144, 9, {}}, {f2, nullptr, 144, 7, {}},
                        {f3, nullptr, 51, 4, {}},  {f4, nullptr, 103, 8, {}},
                        {f5, nullptr, 103, 8, {}}, {f6, nullptr, 144, 21, {}},
                        {end, nullptr, 0, 0, {}}};
  DemoCliente cli{};
  DemoFattura fat{};
  CDBCtree clienti(1, &cli_ifil, &cli, PutStandard, nullptr, StampDemoCliente, 0);
  CDBCtree fatture(2, &fat_ifil, &fat, PutStandard, nullptr, StampDemoFattura, 0);
  int changed = 0;
  int s = clienti.DBOpen(1);
  if (s == 0) s = clienti.DBPutDoda(cli_doda, 0, &changed);
  if (s == 0) s = fatture.DBOpen(1);
  if (s == 0) s = fatture.DBPutDoda(fat_doda, 0, &changed);
  if (s != 0) {
    std::printf("archivio non aperto (stato %d)\n", s);
  } else {
    std::printf("tabelle %s.dat e %s.dat\n", cli_name.c_str(), fat_name.c_str());
    // A new record is added; one already there (a second run) is rewritten.
    auto put = [](CDBCtree& t, void* image, const char* key, size_t length, bool* added) {
      std::vector<char> k(64, 0);
      std::memcpy(k.data(), key, length);
      t.DBSetIndex(1);
      *added = t.DBGetRecord(k.data()) != 0;
      return DBWrite(&t, *added ? 0 : 1, image, &t);
    };
    const struct { const char* codice; const char* ragione; const char* cf; const char* piva;
                   const char* citta; } kClienti[] = {
        {"C00001", "Rossi Mario", "RSSMRA70A01F205V", "01234567897", "Milano"},
        {"C00002", "Verdi Anna", "VRDNNA80A41H501H", "12345678903", "Roma"},
        {"C00003", "Bianchi Luca", "BNCLCU75C12L219V", "09876543217", "Torino"},
        {"C00004", "Caff\xE8 Ferrari S.n.c.", "FRRGPP65T10A662U", "02468135799", "Bari"},
        {"C00005", "Colombo Stefania", "CLMSFN88M55D612J", "05112233449", "Firenze"},
        {"C00006", "Ditta Sbagliata", "RSSMRA70A01F205X", "12345678904", "Napoli"},
    };
    for (const auto& k : kClienti) {
      const bool cf_ok = CheckCodFiscale(k.cf), piva_ok = CheckPartIva(k.piva);
      if (!cf_ok || !piva_ok) {
        char line[160];
        std::snprintf(line, sizeof line, "%s %-24s rifiutato: %s non valido", k.codice, k.ragione,
                      !cf_ok ? "codice fiscale" : "partita IVA");
        std::printf("%s\n", Show(line).c_str());
        continue;
      }
      DemoCliente c{};
      std::snprintf(c.codice, sizeof c.codice, "%-6s", k.codice);
      std::snprintf(c.ragione, sizeof c.ragione, "%-40s", k.ragione);
      std::snprintf(c.cod_fiscale, sizeof c.cod_fiscale, "%-16s", k.cf);
      std::snprintf(c.partita_iva, sizeof c.partita_iva, "%-11s", k.piva);
      std::snprintf(c.citta, sizeof c.citta, "%-30s", k.citta);
      bool added = false;
      const int16_t w = put(clienti, &c, c.codice, 6, &added);
      char line[160];  // laid out in the record's code page, then shown
      std::snprintf(line, sizeof line, "%s %-24s CF %s  P.IVA %s  %s", k.codice, k.ragione, k.cf,
                    k.piva, w != 0 ? ("stato " + std::to_string(w)).c_str()
                                   : added ? "aggiunto" : "riscritto");
      std::printf("%s\n", Show(line).c_str());
    }
    char day_text[] = "2025-03-15 00:00:00";
    const int32_t day = DateToJulian(TimestampToDate(day_text), 0);
    const struct { const char* numero; const char* cliente; double imponibile; } kFatture[] = {
        {"2025/001", "C00002", 1200.00}, {"2025/002", "C00001", 350.50},
        {"2025/003", "C00004", 89.90},   {"2025/004", "C00002", 4100.00},
        {"2025/005", "C00005", 640.00},  {"2025/006", "C00001", 75.25},
    };
    int written = 0;
    for (const auto& k : kFatture) {
      DemoFattura f{};
      std::snprintf(f.numero, sizeof f.numero, "%-8s", k.numero);
      std::snprintf(f.cliente, sizeof f.cliente, "%-6s", k.cliente);
      f.data = day + written;
      f.imponibile = k.imponibile;
      f.iva = Round(k.imponibile * 0.22, 2);
      bool added = false;
      if (put(fatture, &f, f.numero, 8, &added) == 0) ++written;
    }
    std::printf("%d fatture scritte\n", written);

    // Read back: customers by name, each with its invoices by number.
    std::printf("clienti per ragione sociale, con le loro fatture:\n");
    clienti.DBSetIndex(2);
    fatture.DBSetIndex(2);
    double total = 0;
    for (int16_t r = clienti.DBFirstRecord(); r == 0; r = clienti.DBNextRecord()) {
      char ragione[41], citta[31];
      strzcpy(ragione, cli.ragione, sizeof ragione);
      strzcpy(citta, cli.citta, sizeof citta);
      strclip(ragione);
      strclip(citta);
      char line[160];
      std::snprintf(line, sizeof line, "  %.6s %-24s %s", cli.codice, ragione, citta);
      std::printf("%s\n", Show(line).c_str());
      char set[32] = {};
      std::memcpy(set, cli.codice, 6);
      for (int16_t q = fatture.DBFirstInSet(set, 6); q == 0; q = fatture.DBNextInSet()) {
        const double imponibile = fat.imponibile, iva = fat.iva;
        const int32_t when = fat.data;
        std::printf("    fattura %.8s del %02d/%02d/%04d  imponibile %10.2f  IVA %8.2f\n",
                    fat.numero, Day(when), Month(when), Year(when), imponibile, iva);
        total += imponibile + iva;
      }
    }
    std::printf("totale fatturato (IVA compresa): %.2f\n", total);
    if (server.empty())
      std::printf("per controllarlo: vkt db verify %s\n", folder.c_str());
    else
      std::printf("per controllarlo: VKT_ISAM_HOME=%s/server isamtool -s %s -u %s -p ... verify /vkt-demo/%s\n",
                  dir.c_str(), server.c_str(), vktpar->user, folder.c_str());
  }
  clienti.DBCloseIFile();
  fatture.DBCloseIFile();
  DBCloseISAM(0);
  vktpar->allow_create = saved_create;
  vktpar->create_dirs = saved_dirs;
  return s == 0;
}

// What the demo left in its folder, by kind, so a newcomer knows where to look,
// and the service it started and stopped.
void DemoSummary(const std::string& dir, const std::string& service) {
  namespace fs = std::filesystem;
  Section("Riepilogo");
  std::map<std::string, std::vector<std::string>> made;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    // The ISAM store's own files belong to the tables counted as ".dat".
    if (it->path().filename().string().rfind("isam", 0) == 0) continue;
    std::string ext = it->path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    made[ext].push_back(fs::relative(it->path(), dir, ec).string());
  }
  for (auto& [ext, files] : made) std::sort(files.begin(), files.end());
  struct Kind {
    const char* ext;
    const char* what;
  };
  for (const Kind& k : {Kind{".dat", "tabelle dell'archivio ISAM"}, Kind{".db", "basi SQLite"},
                        Kind{".json", "esportazioni JSON"}, Kind{".csv", "esportazioni CSV"},
                        Kind{".bin", "copie binarie"}, Kind{".zip", "archivi ZIP"},
                        Kind{".pdf", "documenti PDF"}, Kind{".png", "immagini delle finestre"},
                        Kind{".txt", "stampe di testo e registri"}}) {
    const auto found = made.find(k.ext);
    if (found == made.end()) continue;
    std::printf("%zu %s:", found->second.size(), k.what);
    for (const std::string& f : found->second) std::printf(" %s", f.c_str());
    std::printf("\n");
  }
  if (!service.empty()) std::printf("%s\n", service.c_str());
  std::printf("tutto in %s\n", dir.c_str());
}

}  // namespace

// `vkt demo --isam-server CONNESSIONE`: the demo's archive kept by a
// PostgreSQL server, as clients on many machines would share it. The server
// settings are written to DIR/server/isamserv.ini.
int DemoIsamServer(const std::string& dir, const std::string& dsn) {
  const std::string home = dir + "/server";
  mkdir(dir.c_str(), 0755);
  mkdir(home.c_str(), 0755);
  {
    std::ofstream ini(home + "/isamserv.ini");
    ini << "[MIRTO@server]\nbackend=postgres\ndsn=" << dsn << "\nfolder=/vkt-demo\nuser.DEMO=demo\n";
    if (!ini) {
      std::fprintf(stderr, "vkt demo --isam-server: %s/isamserv.ini non scritto\n", home.c_str());
      return 1;
    }
  }
  vkt::isam::SetIsamProgramDirectory(home.c_str());
  strzcpy(vktpar->user, "DEMO", sizeof vktpar->user);
  strzcpy(vktpar->password, "demo", sizeof vktpar->password);
  std::printf("server MIRTO@server: PostgreSQL, impostazioni in %s/isamserv.ini\n", home.c_str());
  const bool ok = DemoArchive(dir, "MIRTO@server");
  vkt::isam::SetIsamProgramDirectory(nullptr);
  return ok ? 0 : 1;
}

int Demo(const std::vector<std::string>& args) {
  std::string dir = "vkt-demo", isam_dsn;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--sql") return DemoSql(args);
    if (args[i] == "--live") return DemoLive(args);
    if (args[i] == "--dir" && i + 1 < args.size()) {
      dir = args[++i];
    } else if (args[i] == "--isam-server" && i + 1 < args.size()) {
      isam_dsn = args[++i];
    } else {
      std::fprintf(stderr, "vkt demo: argomento sconosciuto: %s\n", args[i].c_str());
      return 2;
    }
  }
  if (!isam_dsn.empty()) return DemoIsamServer(dir, isam_dsn);
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
  const std::string service = DemoServiceControl(dir);
  DemoArchive(dir);
  DemoReport(dir);
  DemoDialogs(dir);
  DemoControls(dir);
  DemoTabs(dir);
  DemoGrid(dir);
  DemoLogin(dir);
  int failed = service.empty() ? 1 : 0;
  Section("SQL (la ditta dimostrativa su SQLite, con transazioni e savepoint)");
  if (DemoSql({"--dir", dir}) != 0) failed++;
  Section("Esportazioni (JSON, CSV, copia binaria) e archivio ZIP");
  failed += DemoExport(dir);
  DemoSummary(dir, service);
  return failed == 0 ? 0 : 1;
}

}  // namespace vkt::tool
