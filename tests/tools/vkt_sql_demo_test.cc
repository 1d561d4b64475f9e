// `vkt demo --sql`, run as a user runs it: on SQLite in a folder of its
// own, and on the PostgreSQL test server when it runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/saapi_drivers/odbc_checks.h"
#include "platform/saapi_drivers/server_env.h"
#include "saapi/saapi.h"
#include "test_util.h"

namespace {

using namespace vkt::testing;

CommandResult Demo(const std::string& args) {
  return RunCommand(std::string(VKT_BINARY) + " demo --sql " + args + " 2>/dev/null");
}

void ExpectCompany(const std::string& out) {
  // Written through the runners, the second customer after one retry.
  EXPECT_NE(out.find("  primo tentativo: record bloccato da un altro utente (-10)\n"
                     "  (attesa di 51200 ms tra due tentativi, abbreviata dal programma)\n"
                     "  cliente C00002 Verdi Anna scritto\n"),
            std::string::npos);
  EXPECT_NE(out.find("cancellazione: Operazione annullata dall'utente! (codice -14)"),
            std::string::npos);
  EXPECT_NE(out.find("admin.fatture -> archivi00001.fatture"), std::string::npos);
  // Read back into the record buffers: the credit lines show both invoices
  // charged once, the dates are day numbers shown again as dates.
  EXPECT_NE(out.find("  C00002 Verdi Anna             Roma     fido   6700  cliente dal 15/09/2021\n"),
            std::string::npos);
  EXPECT_NE(out.find("  C00004 Caff\xC3\xA8 Ferrari S.n.c.   Bari     fido   2911  cliente dal 30/06/2020\n"),
            std::string::npos);
  // The 4% rate was rolled back to its savepoint: 22% stayed.
  EXPECT_NE(out.find("  fattura 2025/001 cliente C00002 del 15/03/2025  imponibile   1200.00  IVA   264.00\n"),
            std::string::npos);
  EXPECT_NE(out.find("totale fatturato (IVA compresa): 7003.29\n"), std::string::npos);
}

TEST(VktSqlDemo, RunsOnSqliteAndRunsAgainWithTheSameResult) {
  TempDir dir("vkt-sqldemo");
  CommandResult first = Demo("--dir " + dir.path());
  ASSERT_EQ(first.code, 0) << first.out;
  ExpectCompany(first.out);
  CommandResult second = Demo("--dir " + dir.path());
  EXPECT_EQ(second.code, 0);
  EXPECT_EQ(second.out, first.out);
  // The database itself: four customers, four invoices, no 4% row left.
  SAConnection con;
  con.Connect(SAString(dir / "azienda.db"), "", "", SA_SQLite_Client);
  EXPECT_EQ(One(&con, "SELECT count(*) FROM clienti1"), "4");
  Exec(&con, "CREATE SCHEMA IF NOT EXISTS archivi00001");
  EXPECT_EQ(One(&con, "SELECT count(*) FROM archivi00001.fatture"), "4");
  EXPECT_EQ(One(&con, "SELECT round(sum(fat_iva) * 100) FROM archivi00001.fatture"), "126289");
  EXPECT_EQ(Demo("--dir " + dir.path() + " --volare").code, 2);
}

TEST(VktSqlDemo, RunsOnPostgres) {
  ServerEnv env = PgEnv();
  VKT_REQUIRE_PG(env);
  const std::string base = "host=" + env.host + " port=" + std::to_string(env.port) + " user=" +
                           env.user + " password=" + env.password;
  const std::string db = "vkt_sqldemo_" + std::to_string(getpid());
  SAConnection admin;
  admin.Connect(SAString(base + " dbname=postgres"), "", "", SA_PostgreSQL_Client);
  Exec(&admin, "DROP DATABASE IF EXISTS " + db);
  Exec(&admin, "CREATE DATABASE " + db);
  TempDir dir("vkt-sqldemo-pg");
  CommandResult r = Demo("--dir " + dir.path() + " --pg '" + base + " dbname=" + db + "'");
  EXPECT_EQ(r.code, 0) << r.out;
  ExpectCompany(r.out);
  EXPECT_NE(r.out.find("connessione PostgreSQL"), std::string::npos);
  {
    SAConnection con;
    con.Connect(SAString(base + " dbname=" + db), "", "", SA_PostgreSQL_Client);
    EXPECT_EQ(One(&con, "SELECT count(*) FROM archivi00001.fatture WHERE fat_iva = 264"), "1");
  }
  Exec(&admin, "DROP DATABASE IF EXISTS " + db + " WITH (FORCE)");
}

}  // namespace
