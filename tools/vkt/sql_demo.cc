// `vkt demo --sql`: the demo company on an SQL server. Customers and
// invoices are written through the transaction runners of CVKTPostgreSQL
// (a lock conflict retried, a savepoint rolled back, a delete refused) and
// read back with DBReadSql into the same record buffers the c-tree tables
// use, their schema stored in the tables' data files.
//
//   vkt demo --sql [--dir DIR]          SQLite file DIR/azienda.db
//   vkt demo --sql --pg "host=... dbname=..." [--dir DIR]
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/checks.h"
#include "common/julian.h"
#include "common/vktstring.h"
#include "db/dbctree.h"
#include "frame/vktapp.h"
#include "sql/sqlexception.h"
#include "sql/sqlrecord.h"
#include "sql/vktpostgresql.h"
#include "tools/vkt/vkt.h"
#include "win/services.h"

namespace vkt::tool {
namespace {

std::string g_database;
eSAClient g_client = SA_SQLite_Client;

SAString DemoDatabase(int32_t, int, bool) { return SAString(g_database); }
SAString DemoUser(int) { return SAString(); }
SAString DemoPassword(int) { return SAString(); }
eSAClient DemoClient() { return g_client; }

std::string Show(const std::string& cp1252) {
  std::vector<char> copy(cp1252.begin(), cp1252.end());
  copy.push_back('\0');
  return StrToUtf8(copy.data());
}

// The host's policy: the runners' waits between attempts are announced and
// cut short, the rest of the outside world is the system's.
class DemoServices : public SystemServices {
 public:
  void Sleep(uint32_t ms) override {
    std::printf("  (attesa di %u ms tra due tentativi, abbreviata dal programma)\n", ms);
  }
};

#pragma pack(push, 1)
struct SqlCliente {
  char codice[7];
  char ragione[41];
  char citta[31];
  int32_t fido;
  int32_t cliente_dal;  // day number
};
struct SqlFattura {
  char numero[9];
  char cliente[7];
  int32_t data;  // day number
  double imponibile;
  double iva;
};
#pragma pack(pop)

struct Cliente {
  const char* codice;
  const char* ragione;
  const char* citta;
  int fido;
  const char* dal;
};
const Cliente kClienti[] = {
    {"C00001", "Rossi Mario", "Milano", 5000, "2019-04-01"},
    {"C00002", "Verdi Anna", "Roma", 12000, "2021-09-15"},
    {"C00003", "Bianchi Luca", "Torino", 800, "2023-01-10"},
    {"C00004", "Caff\xE8 Ferrari S.n.c.", "Bari", 3000, "2020-06-30"},
};
struct Fattura {
  const char* numero;
  const char* cliente;
  const char* data;
  double imponibile;
};
const Fattura kFatture[] = {
    {"2025/001", "C00002", "2025-03-15", 1200.00}, {"2025/002", "C00001", "2025-03-16", 350.50},
    {"2025/003", "C00004", "2025-03-17", 89.90},   {"2025/004", "C00002", "2025-03-18", 4100.00},
};

enum Operation { kAddCliente = 0, kClear = 3, kAddFattura = 4, kAddebita = 5 };

// The host's table class: WriteFunc issues the statements of each
// operation on the runner's command.
class Azienda : public CVKTPostgreSQL {
 public:
  explicit Azienda(int kind) : CVKTPostgreSQL(kind) {}
  bool conflict_once = false;

  void WriteFunc(SACommand* cmd, int operation, void* record, void*, bool) override {
    if (conflict_once) {
      // Another user holds the record: the runner rolls back and retries.
      conflict_once = false;
      std::printf("  primo tentativo: record bloccato da un altro utente (-10)\n");
      SAException::throwUserException(-10, "Record bloccato da un altro processo");
    }
    switch (operation) {
      case kClear:
        Exec(cmd, "DELETE FROM admin.fatture");
        Exec(cmd, "DELETE FROM admin.clienti1");
        break;
      case kAddCliente: {
        const auto* c = static_cast<const Cliente*>(record);
        cmd->setCommandText(QueryAdapt(
            "INSERT INTO admin.clienti1 (cli_codice, cli_ragione, cli_citta, cli_fido, cli_dal) "
            "VALUES (:1, :2, :3, :4, :5)",
            0, 0, 0));
        *cmd << c->codice << c->ragione << c->citta << static_cast<int32_t>(c->fido)
             << SADateTime(std::stoi(std::string(c->dal, 4)), std::stoi(std::string(c->dal + 5, 2)),
                           std::stoi(std::string(c->dal + 8, 2)), 0, 0, 0);
        cmd->Execute();
        break;
      }
      case kAddFattura: {
        const auto* f = static_cast<const Fattura*>(record);
        // A first try with the wrong rate, undone to its savepoint.
        SAString sp("prima_aliquota");
        CreateSavePoint(cmd, sp);
        Insert(cmd, *f, 0.04);
        RollbackSavepoint(cmd, sp);
        Insert(cmd, *f, 0.22);
        break;
      }
      case kAddebita: {
        const auto* f = static_cast<const Fattura*>(record);
        cmd->setCommandText(QueryAdapt(
            "UPDATE admin.clienti1 SET cli_fido = cli_fido - :1 WHERE cli_codice = :2", 0, 0, 0));
        *cmd << static_cast<int32_t>(f->imponibile) << f->cliente;
        cmd->Execute();
        break;
      }
      default:
        break;
    }
  }

 private:
  void Exec(SACommand* cmd, const char* sql) {
    cmd->setCommandText(QueryAdapt(sql, 0, 0, 0));
    cmd->Execute();
  }
  void Insert(SACommand* cmd, const Fattura& f, double rate) {
    cmd->setCommandText(QueryAdapt(
        "INSERT INTO admin.fatture (fat_numero, fat_cliente, fat_data, fat_imponibile, fat_iva) "
        "VALUES (:1, :2, :3, :4, :5)",
        0, 0, 0));
    *cmd << f.numero << f.cliente
         << SADateTime(std::stoi(std::string(f.data, 4)), std::stoi(std::string(f.data + 5, 2)),
                       std::stoi(std::string(f.data + 8, 2)), 0, 0, 0)
         << f.imponibile << Round(f.imponibile * rate, 2);
    cmd->Execute();
  }
};

// The tables' c-tree descriptions: their data files hold the schema the
// SQL rows are copied by.
struct SchemaTables {
  std::string cli_name, fat_name;
  char cf_first[16] = "cli_codice", cf_last[16] = "cli_dal";
  char ff_first[16] = "fat_numero", ff_last[16] = "fat_iva";
  ifil4 cli_ifil{}, fat_ifil{};
  SqlCliente cli{};
  SqlFattura fat{};
  CDBCtree clienti{1, &cli_ifil, &cli, PutStandard, nullptr, nullptr, 0};
  CDBCtree fatture{2, &fat_ifil, &fat, PutStandard, nullptr, nullptr, 0};

  explicit SchemaTables(const std::string& folder)
      : cli_name(folder + "/clienti1"), fat_name(folder + "/fatture") {
    cli_ifil = {cli_name.data(), -1, sizeof(SqlCliente), 4096, 0, 0, 4096, 0, nullptr,
                cf_first, cf_last, -1};
    fat_ifil = {fat_name.data(), -1, sizeof(SqlFattura), 4096, 0, 0, 4096, 0, nullptr,
                ff_first, ff_last, -1};
  }
  int Open() {
    char c1[] = "cli_codice", c2[] = "cli_ragione", c3[] = "cli_citta", c4[] = "cli_fido",
         c5[] = "cli_dal", f1[] = "fat_numero", f2[] = "fat_cliente", f3[] = "fat_data",
         f4[] = "fat_imponibile", f5[] = "fat_iva", end[] = "";
    DATOBJ cli_doda[6] = {{c1, nullptr, 144, 7, {}},  {c2, nullptr, 144, 41, {}},
                          {c3, nullptr, 144, 31, {}}, {c4, nullptr, 51, 4, {}},
                          {c5, nullptr, 75, 4, {}},   {end, nullptr, 0, 0, {}}};
    DATOBJ fat_doda[6] = {{f1, nullptr, 144, 9, {}},  {f2, nullptr, 144, 7, {}},
                          {f3, nullptr, 75, 4, {}},   {f4, nullptr, 103, 8, {}},
                          {f5, nullptr, 103, 8, {}},  {end, nullptr, 0, 0, {}}};
    int changed = 0;
    int s = clienti.DBOpen(1);
    if (s == 0) s = clienti.DBPutDoda(cli_doda, 0, &changed);
    if (s == 0) s = fatture.DBOpen(1);
    if (s == 0) s = fatture.DBPutDoda(fat_doda, 0, &changed);
    return s;
  }
  ~SchemaTables() {
    clienti.DBCloseIFile();
    fatture.DBCloseIFile();
  }
};

std::string DayText(int32_t day) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d/%02d/%04d", Day(day), Month(day), Year(day));
  return b;
}

std::string Field(const char* text, size_t n) {
  std::string s(text, strnlen(text, n));
  return s;
}

int RunDemo(const std::string& dir, bool pg) {
  Azienda azienda(2);
  SAConnection con;
  SACommand cmd, cmd2;
  azienda.OpenConnection(&con, &cmd, false, 0);
  cmd2.setConnection(&con);
  std::printf("connessione %s, versione %s\n", pg ? "PostgreSQL" : "SQLite",
              con.ServerVersionString().GetMultiByteChars());

  // The neutral queries of the host, as QueryAdapt writes them here.
  SAString company = azienda.QueryAdapt("CREATE SCHEMA IF NOT EXISTS admin.x", 0, 0, 0);
  company = company.Left(company.GetLength() - 2);  // "... archivi00001"
  const char* ddl[] = {
      "CREATE TABLE IF NOT EXISTS admin.clienti1 (cli_codice char(6) PRIMARY KEY, "
      "cli_ragione varchar(40), cli_citta varchar(30), cli_fido integer, cli_dal date)",
      "CREATE TABLE IF NOT EXISTS admin.fatture (fat_numero char(8) PRIMARY KEY, "
      "fat_cliente char(6) NOT NULL, fat_data date, fat_imponibile double precision, "
      "fat_iva double precision)"};
  SACommand(&con, company).Execute();
  for (const char* d : ddl) SACommand(&con, azienda.QueryAdapt(d, 0, 0, 0)).Execute();
  std::printf("QueryAdapt: admin.clienti1 -> %s, admin.fatture -> %s\n",
              azienda.QueryAdapt("admin.clienti1", 0, 0, 0).GetMultiByteChars(),
              azienda.QueryAdapt("admin.fatture", 0, 0, 0).GetMultiByteChars());

  std::printf("scritture con SqlTransaction (una transazione ciascuna):\n");
  azienda.SqlTransaction(&cmd, kClear, nullptr, nullptr, false);
  for (const Cliente& c : kClienti) {
    azienda.conflict_once = &c == &kClienti[1];
    azienda.SqlTransaction(&cmd, kAddCliente, const_cast<Cliente*>(&c), nullptr, false);
    std::printf("  cliente %s %s scritto\n", c.codice, Show(c.ragione).c_str());
  }
  std::printf("fatture con SqlDitribuitedTransaction (fattura e addebito sul fido):\n");
  for (const Fattura& f : kFatture) {
    DIST_TRANSACTION work{&cmd, &cmd2, 2, 2, kAddFattura, kAddebita, true};
    azienda.SqlDitribuitedTransaction(&work, const_cast<Fattura*>(&f), nullptr, false);
    std::printf("  fattura %s (IVA al 4%% annullata al savepoint, scritta al 22%%)\n", f.numero);
  }
  try {
    // The delete asks first; without a user the default answer is No.
    azienda.SqlTransaction(&cmd, 2, nullptr, nullptr, false);
  } catch (SAException& e) {
    std::printf("cancellazione: %s (codice %d)\n", e.ErrText().Left(33).GetMultiByteChars(),
                e.ErrNativeCode());
  }

  // Read back into the record buffers, by the schema of the tables.
  const std::string folder = dir + "/schemi";
  mkdir(folder.c_str(), 0755);
  char none[1] = "";
  if (int16_t s = DBInitISAM(16, vktpar->user, vktpar->password, none, true, false, true); s != 0) {
    std::printf("sessione ISAM non aperta (stato %d)\n", s);
    return 1;
  }
  const unsigned char saved_create = vktpar->allow_create, saved_dirs = vktpar->create_dirs;
  vktpar->allow_create = 1;
  vktpar->create_dirs = 1;
  int status = 0;
  {
    SchemaTables t(folder);
    if (int s = t.Open(); s != 0) {
      std::printf("tabelle degli schemi non aperte (stato %d)\n", s);
      status = 1;
    } else {
      std::printf("letture con DBReadSql nei record c-tree:\n");
      SACommand q(&con, azienda.QueryAdapt("SELECT * FROM admin.clienti1 ORDER BY cli_codice", 0,
                                           0, 0));
      q.Execute();
      while (q.FetchNext()) {
        if (int16_t s = DBReadSql(t.clienti, q, &t.cli, nullptr); s != 0) {
          std::printf("  DBReadSql: stato %d\n", s);
          status = 1;
          break;
        }
        char line[160];
        const int32_t fido = t.cli.fido, dal = t.cli.cliente_dal;
        std::snprintf(line, sizeof line, "  %-6s %-22s %-8s fido %6ld  cliente dal %s",
                      Field(t.cli.codice, sizeof t.cli.codice).c_str(),
                      Field(t.cli.ragione, sizeof t.cli.ragione).c_str(),
                      Field(t.cli.citta, sizeof t.cli.citta).c_str(), static_cast<long>(fido),
                      DayText(dal).c_str());
        std::printf("%s\n", Show(line).c_str());
      }
      SACommand fq(&con, azienda.QueryAdapt(
                             "SELECT * FROM admin.fatture ORDER BY fat_numero", 10, 0, 0));
      fq.Execute();
      double total = 0;
      while (fq.FetchNext()) {
        if (int16_t s = DBReadSql(t.fatture, fq, &t.fat, nullptr); s != 0) {
          std::printf("  DBReadSql: stato %d\n", s);
          status = 1;
          break;
        }
        const double imponibile = t.fat.imponibile, iva = t.fat.iva;
        std::printf("  fattura %-8s cliente %-6s del %s  imponibile %9.2f  IVA %8.2f\n",
                    Field(t.fat.numero, sizeof t.fat.numero).c_str(),
                    Field(t.fat.cliente, sizeof t.fat.cliente).c_str(), DayText(t.fat.data).c_str(),
                    imponibile, iva);
        total += imponibile + iva;
      }
      std::printf("totale fatturato (IVA compresa): %.2f\n", total);
    }
  }
  DBCloseISAM(0);
  vktpar->allow_create = saved_create;
  vktpar->create_dirs = saved_dirs;
  return status;
}

}  // namespace

int DemoSql(const std::vector<std::string>& args) {
  std::string dir = "vkt-demo", pg;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--sql") continue;
    if (args[i] == "--dir" && i + 1 < args.size()) {
      dir = args[++i];
    } else if (args[i] == "--pg" && i + 1 < args.size()) {
      pg = args[++i];
    } else {
      std::fprintf(stderr, "vkt demo: argomento sconosciuto: %s\n", args[i].c_str());
      return 2;
    }
  }
  mkdir(dir.c_str(), 0755);
  g_client = pg.empty() ? SA_SQLite_Client : SA_PostgreSQL_Client;
  g_database = pg.empty() ? dir + "/azienda.db" : pg;
  std::printf("VKTDlg per Linux: la ditta dimostrativa su SQL (%s)\n",
              pg.empty() ? g_database.c_str() : "PostgreSQL");

  // The host's producers and the company layout of the MIRTO programs.
  VKTAPPPARAM saved = *vktpar;
  std::strcpy(vktpar->app_name, "MIRTO");
  vktpar->pg_param = {DemoDatabase, DemoUser, DemoPassword, DemoClient};
  DemoServices policy;
  ScopedServices use(&policy);
  int status = 1;
  try {
    status = RunDemo(dir, !pg.empty());
  } catch (SAException& e) {
    SAExceptionDisplay(e, "vkt demo --sql", false);
    status = 1;
  }
  *vktpar = saved;
  return status;
}

}  // namespace vkt::tool
