// `vkt export`, `vkt copy-company` and `vkt zip`, run as a user runs them,
// on a company archive written through the library and on the demo's.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "db/dbexport_fixture.h"
#include "engine/json.h"
#include "test_util.h"

namespace vkt::db::test {
namespace {

namespace fs = std::filesystem;
using Result = vkt::testing::CommandResult;

constexpr int kRecords = 1600;

Result Vkt(const std::string& args) {
  return vkt::testing::RunCommand(std::string(VKT_BINARY) + " " + args + " 2>&1");
}

// Company 1 of a host: one movements table written through the library.
class VktExportTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    InitSession();
    fs::create_directories(dir_ + "/dit00001");
    MovTable t(dir_ + "/dit00001/mov");
    Mov buf{};
    CDBCtree table(3, &t.ifil, &buf, PutStandard, nullptr, StampMov, 0);
    ASSERT_EQ(table.DBOpen(1), 0);
    std::vector<DATOBJ> schema = MovSchema();
    int changed = 0;
    ASSERT_EQ(table.DBPutDoda(schema.data(), 0, &changed), 0);
    std::vector<Mov> list;
    for (int i = 1; i <= kRecords; ++i) list.push_back(MakeMov(i, 45000.0 + i / 100.0));
    table.DBSetLockStamp(1);
    ASSERT_EQ(AddMovs(table, list), 0);
    ASSERT_EQ(table.DBCloseIFile(), 0);
    DBCloseISAM(0);
  }
};

TEST_F(VktExportTest, ExportsJsonCsvAndTheDumpIntoTheOutFolder) {
  Result r = Vkt("export mov --json --dir " + dir_ + "/dit00001");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("scritto " + dir_ + "/out/MOV.JSON"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Esportati 1600 " + dir_ + "/dit00001/mov"), std::string::npos) << r.out;
  CkJsonObject j;
  ASSERT_TRUE(j.Load(ReadFile(dir_ + "/out/MOV.JSON")));
  EXPECT_EQ(j.IntOf("records"), kRecords);
  EXPECT_EQ(j.StringOf("data[0].mov_codice"), "M0000001");

  // One day of stamps: 45001.00 to 45001.99, records 100 to 199.
  r = Vkt("export mov --json --da 16/03/2023 --a 16/03/2023 --dir " + dir_ + "/dit00001");
  ASSERT_EQ(r.code, 0) << r.out;
  ASSERT_TRUE(j.Load(ReadFile(dir_ + "/out/MOV.JSON")));
  EXPECT_EQ(j.IntOf("records"), 100);
  EXPECT_EQ(j.IntOf("data[0].mov_numero"), 100);

  r = Vkt("export mov --csv --dir " + dir_ + "/dit00001");
  ASSERT_EQ(r.code, 0) << r.out;
  const std::string csv = ReadFile(dir_ + "/out/MOV.CSV");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), kRecords + 1);

  r = Vkt("export mov --dump --dir " + dir_ + "/dit00001");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("mov: 1600 record in " + dir_ + "/out/mov.bin"), std::string::npos) << r.out;
  EXPECT_EQ(fs::file_size(dir_ + "/out/mov.bin"), kRecords * (2 + sizeof(Mov)));

  EXPECT_EQ(Vkt("export mov --dir " + dir_ + "/dit00001").code, 2);
  EXPECT_EQ(Vkt("export nessuna --json --dir " + dir_ + "/dit00001").code, 1);
}

TEST_F(VktExportTest, TheDemoArchiveDumpsButHasNoStampForTheIncrementalExports) {
  const std::string demo = dir_ + "/demo";
  ASSERT_EQ(vkt::testing::RunCommand(std::string(VKT_BINARY) + " demo --dir " + demo +
                                     " >/dev/null 2>&1")
                .code,
            0);
  Result r = Vkt("export clienti --json --dir " + demo + "/archivio");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("Campo last_update non trovato!"), std::string::npos) << r.out;
  r = Vkt("export clienti --dump --dir " + demo + "/archivio");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("clienti: 5 record in " + demo + "/out/clienti.bin"), std::string::npos)
      << r.out;
}

TEST_F(VktExportTest, CopyCompanyFillsTheOtherCompanyOnceAndSaysSoOnARerun) {
  Result r = Vkt("copy-company 1 2 --dir " + dir_);
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("mov: 1600 record copiati in " + dir_ + "/dit00002"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("100% Importazione da " + dir_ + "/dit00001/mov.dat ..."), std::string::npos)
      << r.out;
  const std::string verified = Vkt("db verify " + dir_ + "/dit00002").out;
  EXPECT_EQ(verified.substr(verified.rfind("ok ")), "ok 1600\n") << verified;
  r = Vkt("copy-company 1 2 --dir " + dir_);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("mov: la tabella di destinazione non \xC3\xA8 vuota (1600 record): nulla copiato"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Vkt("copy-company 1 1 --dir " + dir_).code, 2);
  EXPECT_EQ(Vkt("copy-company 7 2 --dir " + dir_).code, 1);
}

TEST_F(VktExportTest, ACopyKilledHalfWayLeavesWholeBatchesAndTheRerunRefuses) {
  vkt::testing::Child c =
      vkt::testing::Spawn({VKT_BINARY, "copy-company", "1", "2", "--dir", dir_});
  ASSERT_GT(c.pid, 0);
  vkt::testing::KillOnExit guard(c.pid);
  close(c.in);
  // Half the records through: at least one batch of 500 committed.
  std::string line;
  for (line = vkt::testing::ReadLine(c.out); !line.empty() && line.find(" 50%") == std::string::npos;
       line = vkt::testing::ReadLine(c.out)) {
  }
  ASSERT_FALSE(line.empty());
  kill(c.pid, SIGKILL);
  vkt::testing::WaitExit(c.pid);
  close(c.out);
  Result v = Vkt("db verify " + dir_ + "/dit00002");
  ASSERT_EQ(v.code, 0) << v.out;
  const std::string tail = v.out.substr(v.out.rfind("ok "));
  EXPECT_TRUE(tail == "ok 500\n" || tail == "ok 1000\n" || tail == "ok 1500\n" ||
              tail == "ok 1600\n")
      << v.out;
  const std::string source = Vkt("db verify " + dir_ + "/dit00001").out;
  EXPECT_EQ(source.substr(source.rfind("ok ")), "ok 1600\n") << source;
  Result r = Vkt("copy-company 1 2 --dir " + dir_);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("non \xC3\xA8 vuota"), std::string::npos) << r.out;
}

TEST_F(VktExportTest, ZipShowsItsProgressAndExtractsWhatItWrote) {
  Result r = Vkt("zip " + dir_ + "/a.zip " + dir_ + "/dit00001");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("[##############################] 100%"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("file compressi"), std::string::npos);
  r = Vkt("zip -x " + dir_ + "/a.zip " + dir_ + "/estratto");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(ReadFile(dir_ + "/estratto/dit00001/mov.dat"), ReadFile(dir_ + "/dit00001/mov.dat"));
  EXPECT_EQ(Vkt("zip " + dir_ + "/b.zip " + dir_ + "/manca").code, 1);
  EXPECT_EQ(Vkt("zip solo").code, 2);
}

}  // namespace
}  // namespace vkt::db::test
