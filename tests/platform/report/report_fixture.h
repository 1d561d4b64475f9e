// Data for the report tests: a customer table as a real ISAM file set with
// its stored schema, the same customers in a real SQLite database, and
// report definitions over them.
#ifndef VKT_TESTS_PLATFORM_REPORT_REPORT_FIXTURE_H_
#define VKT_TESTS_PLATFORM_REPORT_REPORT_FIXTURE_H_

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "isam/ctree.h"
#include "report/report.h"
#include "saapi/saapi.h"
#include "test_util.h"

namespace vkt::testing {

#pragma pack(push, 1)
struct RptCliente {
  char codice[7];     //  0  index 1
  char ragione[41];   //  7
  char citta[31];     // 48
  int32_t fido;       // 79
  double saldo;       // 83
  int32_t dal;        // 91  day number (type 75)
};
struct RptFattura {
  char numero[9];     //  0  index 1
  char cliente[7];    //  9
  double importo;     // 16
};
#pragma pack(pop)

struct Customer {
  const char* codice;
  const char* ragione;
  const char* citta;
  int32_t fido;
  double saldo;
  int year, month, day;
};

inline const std::vector<Customer>& Customers() {
  static const std::vector<Customer> k = {
      {"C001", "Rossi Mario", "Milano", 5000, 120.5, 2020, 1, 15},
      {"C002", "Verdi Anna", "Roma", 1500, -30, 2021, 6, 1},
      {"C003", "Bianchi Luca", "Torino", 0, 0, 2019, 3, 10},
      {"C004", "Caff\xE8 Ferrari", "Roma", 8000, 4100.25, 2024, 12, 31},
      {"C005", "Colombo Stefania", "Milano", 2500, 75, 2022, 2, 28},
      {"C006", "Esposito Gennaro", "Napoli", 100, 10, 2023, 7, 4},
  };
  return k;
}

// Creates "<folder>/<stem>" with the customers (or `n` generated ones when
// n > 0) and its schema. Opens and closes its own ISAM session.
inline bool MakeIsamCustomers(const std::string& folder, const char* stem, int n = 0) {
  const bool own = InitISAMXtd(15, 64, 16, 15, 1, "", "", "") == 0;
  std::string name = folder + "/" + stem;
  char ixname[] = "RptCodice", first[] = "cli_codice", last[] = "cli_dal";
  ISEG seg = {0, 6, CT_SEG_BYTES};
  IIDX ix = {6, 0, 0, 0, 0, 1, &seg, ixname, nullptr, nullptr, nullptr};
  ifil4 f = {name.data(), -1, sizeof(RptCliente), 4096, CT_MODE_SHARED, 1, 4096, CT_MODE_SHARED, &ix,
             first, last, -1};
  bool ok = CreateIFileXtd(&f, nullptr, nullptr, 0, nullptr, nullptr) == 0;
  char n1[] = "cli_codice", n2[] = "cli_ragione", n3[] = "cli_citta", n4[] = "cli_fido",
       n5[] = "cli_saldo", n6[] = "cli_dal";
  DATOBJ doda[6] = {{n1, nullptr, 144, 7, {}}, {n2, nullptr, 144, 41, {}}, {n3, nullptr, 144, 31, {}},
                    {n4, nullptr, 51, 4, {}},  {n5, nullptr, 103, 8, {}}, {n6, nullptr, 75, 4, {}}};
  ok = ok && PutDODA(f.tfilno, doda, 6) == 0;
  auto add = [&](const char* codice, const char* ragione, const char* citta, int32_t fido, double saldo,
                 int32_t day) {
    RptCliente c;
    std::memset(&c, 0, sizeof c);
    std::snprintf(c.codice, sizeof c.codice, "%-6.6s", codice);
    std::snprintf(c.ragione, sizeof c.ragione, "%-40.40s", ragione);
    std::snprintf(c.citta, sizeof c.citta, "%-30.30s", citta);
    c.fido = fido;
    c.saldo = saldo;
    c.dal = day;
    ok = ok && AddRecord(f.tfilno, &c) == 0;
  };
  if (n <= 0) {
    for (const Customer& k : Customers())
      add(k.codice, k.ragione, k.citta, k.fido, k.saldo, report::CivilToJdn(k.year, k.month, k.day));
  } else {
    static const char* const kCities[] = {"Milano", "Roma", "Torino", "Napoli", "Bari", "Firenze"};
    for (int i = 0; i < n; ++i) {
      char code[8], rag[48];
      std::snprintf(code, sizeof code, "%06d", i);
      std::snprintf(rag, sizeof rag, "Cliente numero %06d", (i * 7919) % n);
      add(code, rag, kCities[i % 6], i * 10, i * 1.25, report::CivilToJdn(2020, 1, 1) + i % 1000);
    }
  }
  ok = CloseIFile(&f) == 0 && ok;
  if (own) CloseISAM();
  return ok;
}

inline bool MakeIsamInvoices(const std::string& folder, const char* stem) {
  const bool own = InitISAMXtd(15, 64, 16, 15, 1, "", "", "") == 0;
  std::string name = folder + "/" + stem;
  char ixname[] = "RptNumero", first[] = "fat_numero", last[] = "fat_importo";
  ISEG seg = {0, 8, CT_SEG_BYTES};
  IIDX ix = {8, 0, 0, 0, 0, 1, &seg, ixname, nullptr, nullptr, nullptr};
  ifil4 f = {name.data(), -1, sizeof(RptFattura), 4096, CT_MODE_SHARED, 1, 4096, CT_MODE_SHARED, &ix,
             first, last, -1};
  bool ok = CreateIFileXtd(&f, nullptr, nullptr, 0, nullptr, nullptr) == 0;
  char n1[] = "fat_numero", n2[] = "fat_cliente", n3[] = "fat_importo";
  DATOBJ doda[3] = {{n1, nullptr, 144, 9, {}}, {n2, nullptr, 144, 7, {}}, {n3, nullptr, 103, 8, {}}};
  ok = ok && PutDODA(f.tfilno, doda, 3) == 0;
  const struct { const char* n; const char* c; double i; } k[] = {
      {"F1", "C002", 1200}, {"F2", "C001", 350.5}, {"F3", "C004", 89.9}, {"F4", "C009", 10}};
  for (const auto& x : k) {
    RptFattura r;
    std::memset(&r, 0, sizeof r);
    std::snprintf(r.numero, sizeof r.numero, "%-8.8s", x.n);
    std::snprintf(r.cliente, sizeof r.cliente, "%-6.6s", x.c);
    r.importo = x.i;
    ok = ok && AddRecord(f.tfilno, &r) == 0;
  }
  ok = CloseIFile(&f) == 0 && ok;
  if (own) CloseISAM();
  return ok;
}

// The customers in an SQLite file, in table `table` (a "schema.table" name
// creates the schema first).
inline void MakeSqliteCustomers(const std::string& file, const std::string& table) {
  SAConnection con;
  con.Connect(file.c_str(), "", "", SA_SQLite_Client);
  SACommand cmd(&con);
  if (size_t dot = table.find('.'); dot != std::string::npos) {
    cmd.setCommandText(("CREATE SCHEMA IF NOT EXISTS " + table.substr(0, dot)).c_str());
    cmd.Execute();
  }
  cmd.setCommandText(("CREATE TABLE " + table +
                      " (cli_codice TEXT, cli_ragione TEXT, cli_citta TEXT, cli_fido INTEGER,"
                      " cli_saldo REAL, cli_dal TEXT)").c_str());
  cmd.Execute();
  for (const Customer& k : Customers()) {
    cmd.setCommandText(("INSERT INTO " + table + " VALUES (:1, :2, :3, :4, :5, :6)").c_str());
    char day[16];
    std::snprintf(day, sizeof day, "%04d-%02d-%02d", k.year, k.month, k.day);
    cmd << k.codice << k.ragione << k.citta << static_cast<long>(k.fido) << k.saldo << day;
    cmd.Execute();
  }
  con.Disconnect();
}

// A report over the customers: grouped by city, sorted by name.
inline std::string CustomerReport(const std::string& extra = "", const std::string& table = "clienti") {
  return "VKTREPORT 1\n"
         "# customers by city\n"
         "TITLE \"Elenco clienti\"\n"
         "COMMENTS \"Formato Width:210, height:297 e landscape\"\n"
         "TABLE clienti " + table + "\n"
         "COLUMN 20 \"Codice\" {clienti.cli_codice}\n"
         "COLUMN 60 \"Ragione sociale\" {clienti.cli_ragione}\n"
         "COLUMN 25 \"Fido\" {clienti.cli_fido} DEC 2\n"
         "COLUMN 25 \"Dal\" {clienti.cli_dal}\n"
         "GROUP {clienti.cli_citta}\n"
         "SORT {clienti.cli_ragione} ASC\n" + extra;
}

}  // namespace vkt::testing

#endif  // VKT_TESTS_PLATFORM_REPORT_REPORT_FIXTURE_H_
