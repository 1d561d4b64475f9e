// CDBCtree opening: creation, record-length checks, schema and description,
// the repair paths, index selection.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "db/dbctree.h"
#include "db/db_fixture.h"
#include "db/db_verify.h"
#include "isam/ctree.h"
#include "isam/isam_testing.h"
#include "win/services.h"
#include "win/winconst.h"

namespace vkt::db::test {
namespace {

namespace fs = std::filesystem;

class TableTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    InitSession();
  }
  // A filled table, closed again.
  void MakeFilled() {
    OpenClienti(t_, table_);
    AddClienti(table_, SomeClienti());
    ASSERT_EQ(table_.DBCloseIFile(), 0);
    fake_.ClearTranscript();
    table_.rebuilt = 0;
  }
  std::vector<std::string> CodesInOrder(int16_t k) {
    std::vector<std::string> out;
    EXPECT_EQ(table_.DBSetIndex(k), 0);
    for (int16_t s = table_.DBFirstRecord(); s == 0; s = table_.DBNextRecord())
      out.push_back(VKT_FIELD(buf_, codice));
    return out;
  }
  void ExpectWhole() {
    EXPECT_EQ(CodesInOrder(1), (std::vector<std::string>{"C001", "C002", "C003", "C004"}));
    // Ragione without case: Bianchi Carla, bianchi luca, Rossi, Verdi.
    EXPECT_EQ(CodesInOrder(2), (std::vector<std::string>{"C002", "C004", "C001", "C003"}));
    EXPECT_EQ(CodesInOrder(3), (std::vector<std::string>{"C003", "C002", "C001", "C004"}));
    std::string why;
    EXPECT_TRUE(VerifyTable(t_.ifil, &why)) << why;
  }

  ClientiTable t_{Path("clienti")};
  Cliente buf_{};
  CDBCtree table_{1, &t_.ifil, &buf_, PutStandard, nullptr, StampCliente, 0};
};

TEST_F(TableTest, AMissingTableIsCreatedOnlyWhenTheHostAllowsIt) {
  par_.allow_create = 0;
  EXPECT_EQ(table_.DBOpen(0), CT_CREATE_FAILED);
  EXPECT_FALSE(fs::exists(Path("clienti.dat")));
  EXPECT_EQ(Begin(50) != 0 && Abort() == 0, true);  // no transaction was left begun
  par_.allow_create = 1;
  par_.create_dirs = 0;
  EXPECT_EQ(table_.DBOpen(1), CT_CREATE_FAILED);  // first open needs the login's tick
  EXPECT_EQ(mirto_db_force_doda, 0);
  EXPECT_EQ(table_.rebuilt, 0);
  // The mode query, the open (12), then no transaction and no reason given:
  // still a failure, and nothing created.
  vkt::isam::FailNthIsamCall(3, 0, 0);
  EXPECT_EQ(table_.DBOpen(0), CT_NO_TRANSACTION);
  EXPECT_FALSE(fs::exists(Path("clienti.dat")));

  std::memset(&buf_, 0x5A, sizeof buf_);
  EXPECT_EQ(table_.DBOpen(0), 0);
  EXPECT_EQ(mirto_db_force_doda, 1);
  EXPECT_EQ(table_.rebuilt, 1);
  EXPECT_TRUE(fs::exists(Path("clienti.dat")));
  EXPECT_TRUE(fs::exists(Path("clienti.idx")));
  EXPECT_TRUE(fs::exists(t_.alt_index()));
  Cliente zero{};
  EXPECT_EQ(std::memcmp(&buf_, &zero, sizeof buf_), 0);  // cleared by the open
  EXPECT_EQ(table_.DBNbrOfRecords(), 0);
  EXPECT_TRUE(fake_.transcript().empty());
  // The modes were set for a shared open on the local library.
  EXPECT_EQ(t_.ifil.dfilmod, 129);
  EXPECT_EQ(t_.ifil.ifilmod, 129);
}

TEST_F(TableTest, AStoredRecordLengthThatDiffersIsReportedAndTheFileStaysOpen) {
  {
    ClientiTable small(Path("corto"), 100);
    small.seg_[1].slength = 40;
    CDBCtree t(2, &small.ifil, nullptr, nullptr, nullptr, nullptr, 0);
    ASSERT_EQ(t.DBOpen(0), 0);
    ASSERT_EQ(t.DBCloseIFile(), 0);
  }
  ClientiTable big(Path("corto"), 120);
  Cliente wide[2];
  CDBCtree t(2, &big.ifil, wide, nullptr, nullptr, nullptr, 0);
  fake_.ClearTranscript();
  EXPECT_EQ(t.DBOpen(0), CT_RECORD_LENGTH);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text,
            Path("corto") +
                "\n\nDimensione record non corrispondente : \n\nVecchia Dimensione : 100  -  "
                "Nuova Dimensione : 120");
  EXPECT_EQ(fake_.transcript()[0].type, MB_OK | MB_ICONSTOP);
  EXPECT_EQ(fake_.beeps().size(), 1u);
  EXPECT_EQ(t.DBCloseIFile(), 0);  // it was left open

  par_.silent = 1;
  OpenLog();
  EXPECT_EQ(t.DBOpen(0), CT_RECORD_LENGTH);
  EXPECT_NE(LogText().find("Vecchia Dimensione : 100  -  Nuova Dimensione : 120"),
            std::string::npos);
  EXPECT_EQ(fake_.beeps().size(), 1u);
}

TEST_F(TableTest, ARecordLongerThanTheLimitOpensWithAWarning) {
  ClientiTable big(Path("grande"), 24577);
  std::vector<char> record(24577);
  CDBCtree t(3, &big.ifil, record.data(), PutStandard, nullptr, nullptr, 0);
  ASSERT_EQ(t.DBOpen(0), 0);
  ASSERT_EQ(t.DBCloseIFile(), 0);
  fake_.ClearTranscript();
  EXPECT_EQ(t.DBOpen(0), 0);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text,
            Path("grande") + "\n\nLunghezza record massima (24576) superata : 24577");
  EXPECT_EQ(fake_.transcript()[0].type, MB_OK);
}

TEST_F(TableTest, TheSchemaIsStoredWhenItDiffersAndComparedFieldByField) {
  ASSERT_EQ(table_.DBOpen(0), 0);
  std::vector<DATOBJ> schema = ClientiSchema();
  EXPECT_EQ(table_.DBCheckDoda(schema.data()), 1);  // nothing stored yet
  table_.rebuilt = 0;
  int changed = -1;
  EXPECT_EQ(table_.DBPutDoda(schema.data(), 0, &changed), 0);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(table_.rebuilt, 1);
  EXPECT_EQ(table_.DBCheckDoda(schema.data()), 0);
  EXPECT_EQ(table_.DBPutDoda(schema.data(), 0, &changed), 0);
  EXPECT_EQ(changed, 0);
  // The table is open (shared) again afterwards.
  EXPECT_EQ(t_.ifil.dfilmod, 129);
  AddClienti(table_, {SomeClienti()[0]});

  // A changed type, length or name is a difference; a zero length in the
  // program's element is not compared.
  schema[5].ftype = 33;
  EXPECT_EQ(table_.DBCheckDoda(schema.data()), 1);
  schema[5].ftype = 51;
  schema[5].flen = 0;
  EXPECT_EQ(table_.DBCheckDoda(schema.data()), 0);
  schema[6].flen = 4;
  EXPECT_EQ(table_.DBCheckDoda(schema.data()), 1);
  schema[6].flen = 8;
  char other[] = "cli_saldo2";
  schema[6].fsymb = other;
  EXPECT_EQ(table_.DBCheckDoda(schema.data()), 1);
  EXPECT_EQ(table_.DBPutDoda(schema.data(), 0, &changed), 0);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(table_.DBCheckDoda(schema.data()), 0);
  EXPECT_EQ(table_.DBNbrOfRecords(), 1);  // the records stay

  // Elements around the table's run are not part of it.
  std::vector<DATOBJ> wider(schema.size() + 2);
  char before[] = "altro_prima";
  char after[] = "altro_dopo";
  wider[0] = DATOBJ{};
  wider[0].fsymb = before;
  wider[0].ftype = 51;
  for (size_t i = 0; i + 1 < schema.size(); ++i) wider[i + 1] = schema[i];
  wider[schema.size()] = DATOBJ{};
  wider[schema.size()].fsymb = after;
  wider[schema.size() + 1] = schema.back();  // ""
  EXPECT_EQ(table_.DBCheckDoda(wider.data()), 0);
  EXPECT_EQ(table_.DBPutDoda(wider.data(), 1, &changed), 0);  // forced
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(table_.DBCheckDoda(schema.data()), 0);
}

TEST_F(TableTest, ASchemaWithoutTheTablesFieldsIsRefused) {
  ASSERT_EQ(table_.DBOpen(0), 0);
  std::vector<DATOBJ> schema = ClientiSchema();
  ASSERT_EQ(table_.DBPutDoda(schema.data(), 0, nullptr), 0);
  std::vector<DATOBJ> cut(schema.begin(), schema.begin() + 5);
  cut.push_back(schema.back());  // ends before "cli_last_update"
  EXPECT_EQ(table_.DBCheckDoda(cut.data()), 1);
  fake_.ClearTranscript();
  EXPECT_EQ(table_.GetDodaField(cut.data()), 310);
  ASSERT_EQ(fake_.beeps().size(), 5u);
  const unsigned tones[5] = {1000, 1250, 1500, 1750, 2000};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(fake_.beeps()[i], std::make_pair(tones[i], 10u));
  std::vector<DATOBJ> headless(schema.begin() + 1, schema.end());
  EXPECT_EQ(table_.GetDodaField(headless.data()), 310);
  EXPECT_EQ(table_.DBCheckDoda(headless.data()), 1);
  EXPECT_EQ(DBGetUerrCod(), 0);  // the last call was the client's, clean
  EXPECT_EQ(table_.GetDodaField(headless.data()), 310);
  EXPECT_EQ(DBGetUerrCod(), 310);
  EXPECT_EQ(table_.DBCheckDoda(schema.data()), 0);  // the stored one is untouched
}

TEST_F(TableTest, TheStoredDescriptionIsComparedMemberByMember) {
  ASSERT_EQ(table_.DBOpen(0), 0);
  EXPECT_EQ(table_.DBCheckIFile(), 0);
  t_.ifil.dxtdsiz = 8192;
  EXPECT_EQ(table_.DBCheckIFile(), 1);
  t_.ifil.dxtdsiz = 4096;
  char other[] = "cli_altro";
  char* saved = t_.ifil.rlstfld;
  t_.ifil.rlstfld = other;
  EXPECT_EQ(table_.DBCheckIFile(), 1);
  t_.ifil.rlstfld = nullptr;  // a missing name is a difference, not a crash
  EXPECT_EQ(table_.DBCheckIFile(), 1);
  t_.ifil.rlstfld = saved;
  EXPECT_EQ(table_.DBCheckIFile(), 0);
}

TEST_F(TableTest, TableNameAndIndexSelection) {
  ASSERT_EQ(table_.DBOpen(0), 0);
  EXPECT_STREQ(table_.DBGetTableName(), "clienti");
  char bare[] = "clienti";
  ifil4 copy = t_.ifil;
  copy.pfilnam = bare;
  CDBCtree named(1, &copy, &buf_, nullptr, nullptr, nullptr, 0);
  EXPECT_STREQ(named.DBGetTableName(), "clienti");

  EXPECT_EQ(table_.DBSetIndex(3), 0);
  EXPECT_EQ(table_.DBGetIndex(), 3);
  EXPECT_EQ(table_.DBSetIndex(0), 0);
  try {
    table_.DBSetIndex(-1);
    ADD_FAILURE() << "index -1 accepted";
  } catch (const vkt::ExitRequested& e) {
    EXPECT_EQ(e.code, 23);
  }
  EXPECT_EQ(table_.DBGetIndex(), 0);
  try {
    table_.DBSetIndex(4);
    ADD_FAILURE() << "index 4 accepted";
  } catch (const vkt::ExitRequested& e) {
    EXPECT_EQ(e.code, 23);
  }
}

TEST_F(TableTest, AMissingIndexFileIsRebuiltFromTheRecords) {
  MakeFilled();
  ASSERT_TRUE(fs::remove(Path("clienti.idx")));
  EXPECT_EQ(table_.DBOpen(0), 0);
  EXPECT_EQ(table_.rebuilt, 1);
  EXPECT_TRUE(fs::exists(Path("clienti.idx")));
  EXPECT_TRUE(fake_.transcript().empty());
  ExpectWhole();
}

TEST_F(TableTest, ADamagedAlternativeIndexFileIsRebuiltToo) {
  MakeFilled();
  {
    std::ofstream garbage(t_.alt_index(), std::ios::binary | std::ios::trunc);
    garbage << "not an index at all";
  }
  EXPECT_EQ(table_.DBOpen(0), 0);
  EXPECT_EQ(table_.rebuilt, 1);
  ExpectWhole();
}

TEST_F(TableTest, WhenTheRebuildFailsEveryIndexFileIsRemovedAndBuiltAgain) {
  MakeFilled();
  ASSERT_TRUE(fs::remove(t_.alt_index()));
  // The mode query (1) and the open (2) find the index damaged; the rebuild
  // (3) fails. Without the removal of every index file and a second
  // rebuild the open would answer the rebuild's 37.
  vkt::isam::FailNthIsamCall(3, CT_WRITE_ERROR, 5);
  EXPECT_EQ(table_.DBOpen(0), 0);
  EXPECT_EQ(table_.rebuilt, 1);
  EXPECT_TRUE(fs::exists(t_.alt_index()));
  EXPECT_TRUE(fs::exists(Path("clienti.idx")));
  ExpectWhole();
}

TEST_F(TableTest, AnIndexThatCannotBeRepairedEndsTheOpenWithoutLooping) {
  MakeFilled();
  // The alternative index file's place is taken by a folder that holds a
  // file: neither rebuilt nor removed.
  ASSERT_TRUE(fs::remove(t_.alt_index()));
  fs::create_directories(t_.alt_index());
  { std::ofstream(t_.alt_index() + "/keep") << "x"; }
  int16_t s = static_cast<int16_t>(table_.DBOpen(0));
  EXPECT_NE(s, 0);
  EXPECT_EQ(table_.rebuilt, 1);
  // An emptied folder can be removed: the next open repairs the table.
  fs::remove(t_.alt_index() + "/keep");
  EXPECT_EQ(table_.DBOpen(0), 0);
  ExpectWhole();
}

TEST_F(TableTest, ALostDataFileHeaderIsRestoredFromTheStoreWithItsRecords) {
  MakeFilled();
  ASSERT_TRUE(fs::remove(Path("clienti.dat")));
  // Open: 12; create: 19 (the records are still there); description stored
  // and indexes rebuilt.
  EXPECT_EQ(table_.DBOpen(0), 0);
  EXPECT_EQ(table_.rebuilt, 1);
  EXPECT_TRUE(fs::exists(Path("clienti.dat")));
  EXPECT_EQ(table_.DBNbrOfRecords(), 4);
  ExpectWhole();
}

TEST_F(TableTest, ANewUniqueIndexOverDuplicatesDropsThemAndSaysSo) {
  MakeFilled();
  // The program now wants partita IVA unique: C004 repeats C001's.
  t_.ix_[2].ikeydup = 0;
  t_.ix_[2].ikeylen = 11;
  EXPECT_EQ(table_.DBOpen(0), 0);
  ASSERT_FALSE(fake_.transcript().empty());
  EXPECT_EQ(fake_.transcript().back().text,
            "Sono stati trovati ed eliminati record con chiavi duplicate!");
  EXPECT_EQ(table_.DBNbrOfRecords(), 3);
  std::string why;
  EXPECT_TRUE(VerifyTable(t_.ifil, &why)) << why;
}

TEST_F(TableTest, ProcessCompactsOrRebuildsAHealthyTable) {
  MakeFilled();
  EXPECT_EQ(table_.DBProcess(true), 0);
  EXPECT_EQ(table_.DBProcess(false), 0);
  EXPECT_EQ(table_.DBOpen(0), 0);
  ExpectWhole();
}

TEST_F(TableTest, ProcessAsksBeforeDroppingDuplicates) {
  MakeFilled();
  t_.ix_[2].ikeydup = 0;
  t_.ix_[2].ikeylen = 11;
  fake_.ScriptAnswer(IDNO);
  EXPECT_EQ(table_.DBProcess(true), 0);
  ASSERT_FALSE(fake_.transcript().empty());
  EXPECT_EQ(fake_.transcript()[0].text,
            "Sono state trovati record con chiavi duplicate!\n\nLi vuoi eliminare ?");
  EXPECT_EQ(fake_.transcript()[0].type, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  fake_.ClearTranscript();
  fake_.ScriptAnswer(IDYES);
  EXPECT_EQ(table_.DBProcess(true), 0);
  ASSERT_EQ(fake_.transcript().size(), 2u);
  EXPECT_EQ(fake_.transcript()[1].text,
            "Sono stati trovati ed eliminati record con chiavi duplicate!");
  EXPECT_EQ(table_.DBOpen(0), 0);
  EXPECT_EQ(table_.DBNbrOfRecords(), 3);
  // A table that is not there is nothing to repair.
  ClientiTable none(Path("assente"));
  CDBCtree absent(9, &none.ifil, &buf_, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(absent.DBProcess(true), 0);
  EXPECT_EQ(absent.DBProcess(false), 0);
}

}  // namespace
}  // namespace vkt::db::test
