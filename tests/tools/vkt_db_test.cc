// The sample host's company archive and its `vkt db` look into it, run as a
// user runs them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

using Result = vkt::testing::CommandResult;

// Runs vkt with `args` (already shell-quoted), stdout captured, stderr dropped.
Result Vkt(const std::string& args) {
  return vkt::testing::RunCommand(std::string(VKT_BINARY) + " " + args + " 2>/dev/null");
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The demo's section headed `title`, up to the next section.
std::string SectionOf(const std::string& text, const std::string& title) {
  size_t at = text.find("== " + title);
  if (at == std::string::npos) return "";
  size_t end = text.find("\n== ", at);
  return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The lines of `text` that start with `prefix`.
std::vector<std::string> Starting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& l : Lines(text))
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

class VktDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vkt-db-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    archive_ = dir_ + "/archivio";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  Result Demo() { return Vkt("demo --dir " + dir_); }

  std::string dir_, archive_;
};

TEST_F(VktDbTest, TheDemoWritesTheCompanyArchiveAndReadsItBackInNameOrder) {
  Result r = Demo();
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("C00001 Rossi Mario              CF RSSMRA70A01F205V  P.IVA 01234567897  "
                       "aggiunto"),
            std::string::npos)
      << r.out;
  // The Windows-1252 name is laid out before it becomes UTF-8.
  EXPECT_NE(r.out.find("C00004 Caff\xC3\xA8 Ferrari S.n.c.     CF FRRGPP65T10A662U"),
            std::string::npos);
  EXPECT_NE(r.out.find("C00006 Ditta Sbagliata          rifiutato: codice fiscale non valido"),
            std::string::npos);
  EXPECT_NE(r.out.find("6 fatture scritte"), std::string::npos);
  // Read back by name, each customer with its invoices by number.
  // Other sections list customers too: count those of the archive only.
  std::vector<std::string> customers =
      Starting(SectionOf(r.out, "Archivio ditta"), "  C0000");
  ASSERT_EQ(customers.size(), 5u) << r.out;
  const char* order[] = {"C00003", "C00004", "C00005", "C00001", "C00002"};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(customers[i].substr(2, 6), order[i]);
  std::vector<std::string> invoices = Starting(r.out, "    fattura ");
  ASSERT_EQ(invoices.size(), 6u);
  EXPECT_EQ(invoices[2],
            "    fattura 2025/002 del 16/03/2025  imponibile     350.50  IVA    77.11");
  EXPECT_EQ(invoices[3].substr(0, 20), "    fattura 2025/006");
  EXPECT_NE(r.out.find("totale fatturato (IVA compresa): 7875.89"), std::string::npos);

  Result v = Vkt("db verify " + archive_);
  EXPECT_EQ(v.code, 0) << v.out;
  EXPECT_EQ(v.out,
            "clienti: 5 record, 3 indici: ok\nfatture: 6 record, 2 indici: ok\nok 11\n");

  // A second run rewrites the same records instead of adding them again.
  r = Demo();
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(Starting(r.out, "C00001 "),
            (std::vector<std::string>{
                "C00001 Rossi Mario              CF RSSMRA70A01F205V  P.IVA 01234567897  riscritto"}));
  v = Vkt("db verify " + archive_);
  EXPECT_EQ(v.code, 0);
  EXPECT_NE(v.out.find("ok 11\n"), std::string::npos);
}

TEST_F(VktDbTest, ListAndGetShowTheStoredRecordsByTheirStoredSchema) {
  ASSERT_EQ(Demo().code, 0);
  Result r = Vkt("db list " + archive_);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "clienti: 5 record da 129 byte\n"
            "  indice 1 CliCodice: chiave di 6 byte, univoca\n"
            "  indice 2 CliRagione: chiave di 44 byte, con duplicati\n"
            "  indice 3 CliPartitaIva: chiave di 15 byte, con duplicati\n"
            "fatture: 6 record da 57 byte\n"
            "  indice 1 FatNumero: chiave di 8 byte, univoca\n"
            "  indice 2 FatCliente: chiave di 14 byte, univoca\n");

  r = Vkt("db list " + archive_ + " clienti -i 2");
  EXPECT_EQ(r.code, 0);
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0],
            "cli_codice=C00003 | cli_ragione=Bianchi Luca | cli_cod_fiscale=BNCLCU75C12L219V | "
            "cli_partita_iva=09876543217 | cli_citta=Torino | cli_utente=DEMO");
  EXPECT_EQ(lines[4].substr(0, 17), "cli_codice=C00002");
  EXPECT_EQ(lines[5], "5 record");
  r = Vkt("db list " + archive_ + " fatture");
  EXPECT_EQ(Lines(r.out)[0],
            "fat_numero=2025/001 | fat_cliente=C00002 | fat_data=2460750 | "
            "fat_imponibile=1200.00 | fat_iva=264.00 | fat_utente=DEMO");

  r = Vkt("db get " + archive_ + " clienti C00004");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "cli_codice: C00004\ncli_ragione: Caff\xC3\xA8 Ferrari S.n.c.\n"
            "cli_cod_fiscale: FRRGPP65T10A662U\ncli_partita_iva: 02468135799\n"
            "cli_citta: Bari\ncli_utente: DEMO\n");
  // A customer's code alone selects its invoices in "customer + number".
  r = Vkt("db get " + archive_ + " fatture C00002 -i 2");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(Starting(r.out, "fat_numero: "),
            (std::vector<std::string>{"fat_numero: 2025/001", "fat_numero: 2025/004"}));
  r = Vkt("db get " + archive_ + " clienti C00099");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "nessun record con chiave 'C00099' nell'indice 1\n");
  EXPECT_EQ(Vkt("db get " + archive_ + " clienti C0000000001").code, 1);  // longer than the key

  EXPECT_EQ(Vkt("db list " + archive_ + " clienti -i 4").code, 1);
  EXPECT_EQ(Vkt("db get " + archive_ + " clienti C00001 -i 0").code, 1);
  EXPECT_EQ(Vkt("db list " + archive_ + " articoli").code, 1);
  EXPECT_EQ(Vkt("db verify " + dir_ + "/nessuna").code, 1);
  EXPECT_EQ(Vkt("db").code, 2);
  EXPECT_EQ(Vkt("db verify").code, 2);
  EXPECT_EQ(Vkt("db get " + archive_ + " clienti").code, 2);
  EXPECT_EQ(Vkt("db list " + archive_ + " clienti -i").code, 2);
  EXPECT_EQ(Vkt("db list " + archive_ + " clienti -i due").code, 2);
}

TEST_F(VktDbTest, ALostIndexIsFoundByVerifyAndRepairedByTheNextOpen) {
  ASSERT_EQ(Demo().code, 0);
  ASSERT_TRUE(std::filesystem::remove(archive_ + "/fatture.idx"));
  Result v = Vkt("db verify " + archive_);
  EXPECT_EQ(v.code, 1);
  EXPECT_NE(v.out.find("clienti: 5 record, 3 indici: ok\n"), std::string::npos);
  EXPECT_NE(v.out.find("fatture: non apribile"), std::string::npos) << v.out;
  EXPECT_EQ(v.out.find("ok 11"), std::string::npos);

  // The host's open rebuilds the index from the records.
  ASSERT_EQ(Demo().code, 0);
  v = Vkt("db verify " + archive_);
  EXPECT_EQ(v.code, 0) << v.out;
  EXPECT_NE(v.out.find("fatture: 6 record, 2 indici: ok\nok 11\n"), std::string::npos);
}

}  // namespace
