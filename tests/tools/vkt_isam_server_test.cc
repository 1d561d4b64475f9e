// `vkt demo --isam-server`: the demo company's ISAM archive kept by the
// PostgreSQL test server, written twice (added, then rewritten) and checked
// by isamtool logged on to the same server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/saapi_drivers/odbc_checks.h"
#include "platform/saapi_drivers/server_env.h"
#include "saapi/saapi.h"
#include "test_util.h"

namespace {

using namespace vkt::testing;

TEST(VktIsamServerDemo, WritesTheArchiveOnTheServerAndARerunRewritesIt) {
  ServerEnv env = PgEnv();
  VKT_REQUIRE_PG(env);
  const std::string base = "host=" + env.host + " port=" + std::to_string(env.port) + " user=" +
                           env.user + " password=" + env.password;
  const std::string db = "vkt_isamdemo_" + std::to_string(getpid());
  SAConnection admin;
  admin.Connect(SAString(base + " dbname=postgres"), "", "", SA_PostgreSQL_Client);
  Exec(&admin, "DROP DATABASE IF EXISTS " + db);
  Exec(&admin, "CREATE DATABASE " + db);
  TempDir dir("vkt-isamdemo");
  const std::string demo =
      std::string(VKT_BINARY) + " demo --isam-server '" + base + " dbname=" + db + "' --dir " + dir.path();
  CommandResult first = RunCommand(demo + " 2>&1");
  ASSERT_EQ(first.code, 0) << first.out;
  EXPECT_NE(first.out.find("C00002 Verdi Anna               CF VRDNNA80A41H501H  P.IVA 12345678903  aggiunto\n"),
            std::string::npos)
      << first.out;
  EXPECT_NE(first.out.find("C00006 Ditta Sbagliata          rifiutato: codice fiscale non valido\n"),
            std::string::npos);
  EXPECT_NE(first.out.find("    fattura 2025/004 del 18/03/2025  imponibile    4100.00  IVA   902.00\n"),
            std::string::npos);
  EXPECT_NE(first.out.find("totale fatturato (IVA compresa): 7875.89\n"), std::string::npos);

  CommandResult second = RunCommand(demo + " 2>&1");
  ASSERT_EQ(second.code, 0) << second.out;
  EXPECT_NE(second.out.find("C00002 Verdi Anna               CF VRDNNA80A41H501H  P.IVA 12345678903  riscritto\n"),
            std::string::npos);
  EXPECT_EQ(second.out.find("aggiunto"), std::string::npos);
  EXPECT_NE(second.out.find("totale fatturato (IVA compresa): 7875.89\n"), std::string::npos);

  // Five customers and six invoices, every index agreeing, as another
  // client of the server sees them.
  CommandResult check = RunCommand("VKT_ISAM_HOME=" + dir.path() + "/server " + ISAMTOOL_PATH +
                                   " -s MIRTO@server -u DEMO -p demo verify /vkt-demo/archivio");
  EXPECT_EQ(check.code, 0) << check.out;
  EXPECT_EQ(check.out, "ok 11\n");
  // Nothing of it on this machine but the settings.
  EXPECT_FALSE(std::filesystem::exists(dir / "archivio"));
  CommandResult wrong = RunCommand("VKT_ISAM_HOME=" + dir.path() + "/server " + ISAMTOOL_PATH +
                                   " -s MIRTO@server -u DEMO -p sbagliata verify /vkt-demo/archivio 2>&1");
  EXPECT_EQ(wrong.code, 2);
  EXPECT_NE(wrong.out.find("status 451"), std::string::npos) << wrong.out;

  // A server that does not answer: the session is not opened, and it says so.
  CommandResult down = RunCommand(std::string(VKT_BINARY) + " demo --isam-server 'host=127.0.0.1 port=1' --dir " +
                                  dir.path() + " 2>&1");
  EXPECT_EQ(down.code, 1);
  EXPECT_NE(down.out.find("sessione ISAM non aperta (stato 133)"), std::string::npos) << down.out;
  Exec(&admin, "DROP DATABASE IF EXISTS " + db + " WITH (FORCE)");
}

}  // namespace
