// The finished sample host: its help names every subcommand it runs, and the
// demo's closing summary lists files that are really there and really what
// their names say.
#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine/json.h"
#include "test_util.h"

namespace {

using vkt::testing::CommandResult;
using vkt::testing::RunCommand;

CommandResult Vkt(const std::string& args) {
  return RunCommand(std::string(VKT_BINARY) + " " + args + " 2>&1 </dev/null");
}

TEST(VktHostTest, HelpNamesEverySubcommandAndEachOneAnswersWithItsOwnUsage) {
  const CommandResult help = Vkt("--help");
  ASSERT_EQ(help.code, 0);
  for (const char* entry : {"  demo [--dir", "  demo --sql", "--pg CONNESSIONE", "  demo --live",
                            "--record", "--snapshots", "  check cf", "  check piva", "  date GG/MM/AAAA",
                            "  view -t", "  db verify", "  db list", "  db get", "  export TABELLA",
                            "--json|--csv|--dump", "  copy-company DA A", "  zip ARCHIVIO",
                            "zip -x", "  wait REGISTRO"})
    EXPECT_NE(help.out.find(entry), std::string::npos) << entry;
  // Every command the help names is dispatched: without its arguments it
  // answers with its usage (2), never as an unknown command.
  for (const char* cmd : {"check", "date", "view", "db", "export", "copy-company", "zip", "wait",
                          "wait registro 0"}) {
    const CommandResult r = Vkt(cmd);
    EXPECT_EQ(r.code, 2) << cmd << "\n" << r.out;
    EXPECT_EQ(r.out.find("comando sconosciuto"), std::string::npos) << cmd;
    EXPECT_NE(r.out.find("uso:"), std::string::npos) << cmd << "\n" << r.out;
  }
  EXPECT_NE(Vkt("volare").out.find("comando sconosciuto: volare"), std::string::npos);
  EXPECT_EQ(Vkt("demo --volare").code, 2);
}

TEST(VktHostTest, DemoRunsTheWholeLibraryAndItsSummaryListsWhatItMade) {
  vkt::testing::TempDir dir("vkthost");
  const CommandResult r = Vkt("demo --dir " + dir.path());
  ASSERT_EQ(r.code, 0) << r.out;
  // The SQL part ran on SQLite and the exports went through the bar.
  EXPECT_NE(r.out.find("connessione SQLite"), std::string::npos);
  EXPECT_NE(r.out.find("clienti: 5 record in " + (dir / "out/clienti.bin")), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("fatture: 6 record in " + (dir / "out/fatture.bin")), std::string::npos);
  EXPECT_NE(r.out.find("100% fatture\n"), std::string::npos) << r.out;  // the dump's bar
  EXPECT_NE(r.out.find("100% out/fatture.bin"), std::string::npos);      // the ZIP's
  EXPECT_NE(r.out.find("12000 movimenti di magazzino"), std::string::npos);

  // The service step: a real `vkt wait` child, started once, stopped and
  // gone, with both events in its own log.
  EXPECT_NE(r.out.find("CheckService(\"vkt-attesa\") -> avviato, pid "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("stato: in esecuzione, pid "), std::string::npos);
  EXPECT_NE(r.out.find("CheckService di nuovo -> falso: gi\xC3\xA0 in esecuzione"), std::string::npos);
  EXPECT_NE(r.out.find("CloseService(\"vkt-attesa\") -> fermato in "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" ms, stato fermo, uscita 0\n"), std::string::npos);

  const size_t summary = r.out.find("\n== Riepilogo\n");
  ASSERT_NE(summary, std::string::npos) << r.out;
  std::istringstream lines(r.out.substr(summary + 14));
  std::string line, service;
  int kinds = 0;
  std::vector<std::string> listed;
  while (std::getline(lines, line) && line.rfind("tutto in ", 0) != 0) {
    if (line.rfind("servizio ", 0) == 0) {
      EXPECT_TRUE(service.empty()) << line;
      service = line;
      continue;
    }
    const size_t colon = line.find(": ");
    ASSERT_NE(colon, std::string::npos) << line;
    const int count = std::stoi(line);
    std::istringstream names(line.substr(colon + 2));
    std::string name;
    int n = 0;
    for (; names >> name; ++n) listed.push_back(name);
    EXPECT_EQ(n, count) << line;
    ++kinds;
  }
  EXPECT_EQ(line, "tutto in " + dir.path());
  EXPECT_GE(kinds, 6);
  const std::string said = "servizio vkt-attesa: avviato con CheckService (pid ";
  ASSERT_EQ(service.rfind(said, 0), 0u) << r.out;
  const int pid = std::stoi(service.substr(said.size()));
  EXPECT_GT(pid, 0);
  EXPECT_EQ(service.substr(service.find(')')),
            "), fermato con CloseService (uscita 0), registro log/servizio.txt");
  EXPECT_NE(r.out.find(", pid " + std::to_string(pid) + "\n"), std::string::npos);
  EXPECT_NE(kill(pid, 0), 0);  // stopped and reaped, not left running
  std::istringstream log(vkt::testing::ReadFile(dir / "log/servizio.txt"));
  std::vector<std::string> events;
  while (std::getline(log, line)) events.push_back(line);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_NE(events[0].find(" - Servizio vkt-attesa avviato (pid " + std::to_string(pid) + ")\r"),
            std::string::npos) << events[0];
  EXPECT_NE(events[1].find(" - Servizio vkt-attesa fermato (SIGTERM)\r"), std::string::npos)
      << events[1];
  auto has = [&](const std::string& name) {
    for (const std::string& l : listed)
      if (l == name) return true;
    return false;
  };
  for (const char* f : {"archivio/clienti.dat", "azienda.db", "out/clienti.bin", "esportazioni.zip",
                        "clienti.pdf", "cliente.png", "log/demo.txt", "log/servizio.txt"})
    EXPECT_TRUE(has(f)) << f;
  EXPECT_FALSE(has("archivio/isam.db"));  // the ISAM store's own file, not a table
  for (const std::string& f : listed) {
    const std::string bytes = vkt::testing::ReadFile(dir / f);
    EXPECT_FALSE(bytes.empty()) << f;
    const std::string ext = f.substr(f.rfind('.'));
    std::string magic;
    if (ext == ".pdf") magic = "%PDF-";
    if (ext == ".png") magic = "\x89PNG\r\n\x1a\n";
    if (ext == ".zip") magic = "PK\x03\x04";
    if (ext == ".db") magic = "SQLite format 3";
    EXPECT_EQ(bytes.rfind(magic, 0), 0u) << f;
  }
  // JSON: every movement once, in files of 5000; CSV: the one day asked for.
  int records = 0;
  for (const char* f : {"out/MOVIMENTI.JSON", "out/MOVIMENTI_01.JSON", "out/MOVIMENTI_02.JSON"}) {
    EXPECT_TRUE(has(f)) << f;
    CkJsonObject j;
    ASSERT_TRUE(j.Load(vkt::testing::ReadFile(dir / f))) << f;
    records += j.IntOf("records");
  }
  EXPECT_EQ(records, 12000);
  std::istringstream csv(vkt::testing::ReadFile(dir / "out/MOVIMENTI.CSV"));
  std::getline(csv, line);
  EXPECT_EQ(line, "mov_last_update|mov_codice|mov_descr|mov_qta|mov_utente\r");  // CRLF lines
  int rows = 0;
  while (std::getline(csv, line)) {
    EXPECT_EQ(line.rfind("15/03/2025 ", 0), 0u) << line;
    ++rows;
  }
  EXPECT_EQ(rows, 1200);
  // The archive of the exports gives back exactly what was exported.
  const CommandResult x = Vkt("zip -x " + (dir / "esportazioni.zip") + " " + (dir / "estratti"));
  ASSERT_EQ(x.code, 0) << x.out;
  for (const char* t : {"clienti.bin", "fatture.bin", "MOVIMENTI.JSON", "MOVIMENTI.CSV"})
    EXPECT_EQ(vkt::testing::ReadFile(dir / (std::string("estratti/out/") + t)),
              vkt::testing::ReadFile(dir / (std::string("out/") + t)))
        << t;
}

}  // namespace
