// The report runner against real ISAM file sets, a real SQLite database, the
// registry store and the scripted services: options, limits, the order of
// the steps, the registry values and the messages, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/julian.h"
#include "db/dbctree.h"
#include "platform/print/throwaway_cups.h"
#include "platform/report/report_fixture.h"
#include "print/cups_queue.h"
#include "print/crystal.h"
#include "print/print_fixture.h"
#include "saapi/saapi.h"
#include "system/registry.h"
#include "win/canvas.h"
#include "win/registry_store.h"

namespace {

using vkt::testing::WriteFile;

int g_current_year = 1;
int TestAnno() { return g_current_year; }
int g_hook_calls = 0;
void Hook(void*) { ++g_hook_calls; }

#pragma pack(push, 1)
struct Visita {
  char codice[7];   //  0  type 144, index 1
  int32_t giorno;   //  7  type 75: day number
  int32_t ora;      // 11  type 83: seconds since midnight
};
#pragma pack(pop)

// "<folder>/visite" as the library writes a table it reads from SQL: the
// schema stored in the data file, every record filled by DBReadSql from a
// row of an SQLite query and added through the table object.
bool MakeVisiteFromSql(const std::string& folder) {
  const bool own = InitISAMXtd(15, 64, 16, 15, 1, "", "", "") == 0;
  std::string name = folder + "/visite";
  char ixname[] = "VisCodice", first[] = "vis_codice", last[] = "vis_ora";
  ISEG seg = {0, 6, CT_SEG_BYTES};
  IIDX ix = {6, 0, 0, 0, 0, 1, &seg, ixname, nullptr, nullptr, nullptr};
  ifil4 f = {name.data(), -1, sizeof(Visita), 4096, CT_MODE_SHARED, 1, 4096, CT_MODE_SHARED, &ix,
             first, last, -1};
  bool ok = CreateIFileXtd(&f, nullptr, nullptr, 0, nullptr, nullptr) == 0;
  char n1[] = "vis_codice", n2[] = "vis_giorno", n3[] = "vis_ora";
  DATOBJ doda[3] = {{n1, nullptr, 144, 7, {}}, {n2, nullptr, 75, 4, {}}, {n3, nullptr, 83, 4, {}}};
  ok = ok && PutDODA(f.tfilno, doda, 3) == 0;
  SAConnection con;
  con.Connect(":memory:", "", "", SA_SQLite_Client);
  SACommand cmd(&con);
  cmd.setCommandText(
      "SELECT 'V1' AS vis_codice, '2024-05-17' AS vis_giorno, '08:05:30' AS vis_ora "
      "UNION ALL SELECT 'V2', '1999-12-31', '23:59:59' "
      "UNION ALL SELECT 'V3', NULL, NULL");
  cmd.Execute();
  Visita v;
  CDBCtree table(1, &f, &v, nullptr, nullptr, nullptr, 0);
  int rows = 0;
  while (ok && cmd.FetchNext()) {
    ok = table.DBReadSql(cmd, &v, nullptr) == 0 && table.DBAddRecord(&v) == 0;
    ++rows;
  }
  con.Disconnect();
  ok = CloseIFile(&f) == 0 && ok && rows == 3;
  if (own) CloseISAM();
  return ok;
}

class CrystalTest : public vkt::testing::PrintTest {
 protected:
  void SetUp() override {
    PrintTest::SetUp();
    vkt::win::SetRegistryFolder(dir_ / "registry");
    std::strcpy(par_.app_name, "MIRTO");
    std::strcpy(par_.archive, "ARC");
    std::strcpy(par_.server_at_host, "FAIRCOMS@localhost");
    par_.company = &company_;
    par_.year = &year_;
    par_.date_base = &date_base_;
    par_.TestAnnoCorrente = TestAnno;
    g_current_year = 1;
    g_hook_calls = 0;
    mkdir((dir_ / "rpteuro").c_str(), 0755);
    mkdir((dir_ / "dati").c_str(), 0755);
    ASSERT_TRUE(vkt::testing::MakeIsamCustomers(dir_ / "dati", "clienti"));
    WriteFile(dir_ / "rpteuro/clienti.rpt", vkt::testing::CustomerReport());
  }
  void TearDown() override {
    vkt::win::SetRegistryFolder("");
    PrintTest::TearDown();
  }

  void RegisterDsn(const std::string& name) {
    ASSERT_EQ(vkt::win::RegCreateKeyPath(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI\\" + name), ERROR_SUCCESS);
  }
  std::string RegText(const std::string& dsn, const char* value) {
    CRegistry reg;
    if (!reg.SetKey(CString("Software\\ODBC\\ODBC.INI\\" + dsn), false)) return "<no key>";
    return reg.ReadString(value, "<none>").GetString();
  }
  std::string Pdf(const std::string& path) { return vkt::testing::Capture("pdftotext -layout " + path + " -"); }

  int32_t company_ = 1, year_ = 2025;
  int date_base_ = 0;
};

TEST_F(CrystalTest, DataFileNameIsBuiltWithinItsThirteenBytes) {
  {
    CCrystal c(false);
    EXPECT_STREQ(c.db_file(), "FDATI001.DB");
    EXPECT_FALSE(c.init_failed());
    EXPECT_EQ(c.copies(), 1);
    EXPECT_EQ(c.collated(), 1);
    EXPECT_EQ(c.param(0).type, -1);
    EXPECT_EQ(c.param(29).type, -1);
  }
  g_current_year = 0;
  {
    CCrystal c(false);
    EXPECT_STREQ(c.db_file(), "F2025001.DB");
  }
  // Too long for 12 characters: refused, nothing written past the field.
  company_ = 123456789;
  {
    CCrystal c(false);
    EXPECT_STREQ(c.db_file(), "");
    c.CrySetDBFile("F2025001.DB");
    EXPECT_STREQ(c.db_file(), "F2025001.DB");
  }
  g_current_year = 1;
  company_ = 12345678;  // "FDATI12345678.DB": 16 characters
  {
    CCrystal c(false);
    EXPECT_STREQ(c.db_file(), "");
  }
  company_ = 1234567;  // "FDATI1234567.DB": 15
  {
    CCrystal c(false);
    EXPECT_STREQ(c.db_file(), "");
  }
  company_ = 1234;  // "FDATI1234.DB": 12, fits
  {
    CCrystal c(false);
    EXPECT_STREQ(c.db_file(), "FDATI1234.DB");
    c.CrySetDBFile("FDATI0001.DBX");  // 13 characters: the previous name stays
    EXPECT_STREQ(c.db_file(), "FDATI1234.DB");
    c.CrySetDBFile("FDATI002.DB");
    EXPECT_STREQ(c.db_file(), "FDATI002.DB");
  }
  EXPECT_TRUE(Shown().empty());
}

TEST_F(CrystalTest, RuntimeThatCannotStartIsReportedOnceAndNothingRuns) {
  vkt::report::FailCreateForTest(1);
  CCrystal c(false);
  EXPECT_TRUE(c.init_failed());
  EXPECT_EQ(Shown(), std::vector<std::string>{"Impossibile inizializzare Crystal Report"});
  EXPECT_EQ(c.CryOpen("clienti.rpt", "Clienti", 0, 0), CRY_INIT_FAILED);
  EXPECT_EQ(c.CryEsegui(), CRY_INIT_FAILED);
  EXPECT_EQ(Shown().size(), 1u);
  c.CryClose();
}

TEST_F(CrystalTest, SettersKeepTheirLimits) {
  CCrystal c(false);
  c.CryCopies(0);
  EXPECT_EQ(c.copies(), 1);
  c.CryCopies(-5);
  EXPECT_EQ(c.copies(), 1);
  c.CryCopies(3);
  EXPECT_EQ(c.copies(), 3);
  ASSERT_TRUE(c.CrySetPaperSize(210, 297));
  EXPECT_EQ(c.paper(), crPaperUser);
  EXPECT_EQ(c.paper_width(), 2100);
  EXPECT_EQ(c.paper_length(), 2970);
  ASSERT_TRUE(c.CrySetPaperSizeDm(1480, 2100));
  EXPECT_EQ(c.paper_width(), 1480);
  // Sizes whose tenths would not fit are refused.
  EXPECT_FALSE(c.CrySetPaperSize(300000000, 297));
  EXPECT_FALSE(c.CrySetPaperSize(0, 297));
  EXPECT_EQ(c.paper_width(), 1480);

  // Parameters: names cut to 30, texts to 255, dates from day numbers.
  const std::string long_name(40, 'n');
  ASSERT_TRUE(c.CryStringParam(0, long_name.c_str(), "sub", std::string(300, 't').c_str()));
  EXPECT_EQ(c.param(0).type, 4);
  EXPECT_EQ(std::string(c.param(0).name), std::string(30, 'n'));
  EXPECT_EQ(std::string(c.param(0).text), std::string(255, 't'));
  EXPECT_STREQ(c.param(0).subreport, "sub");
  ASSERT_TRUE(c.CryDateParam(1, "dal", "", 0));
  EXPECT_EQ(c.param(1).type, 3);
  EXPECT_EQ(c.param(1).year + c.param(1).month + c.param(1).day, 0);
  ASSERT_TRUE(c.CryDateParam(2, "al", "", DateToJulian(COleDateTime(2025, 3, 15, 0, 0, 0), 0)));
  EXPECT_EQ(c.param(2).year, 2025);
  EXPECT_EQ(c.param(2).month, 3);
  EXPECT_EQ(c.param(2).day, 15);
  ASSERT_TRUE(c.CryDateParam(3, "ole", "", COleDateTime(2024, 2, 29, 0, 0, 0)));
  EXPECT_EQ(c.param(3).day, 29);
  ASSERT_TRUE(c.CryLongParam(29, "anno", "", 2025));
  EXPECT_EQ(c.param(29).type, 0);
  EXPECT_EQ(c.param(29).number, 2025);
  ASSERT_TRUE(c.CryDoubleParam(4, "aliquota", "", 22.5));
  EXPECT_EQ(c.param(4).number, 22.5);

  // Slots outside their ranges, negatives included, are refused and
  // nothing is written anywhere.
  EXPECT_FALSE(c.CryLongParam(30, "x", "", 1));
  EXPECT_FALSE(c.CryStringParam(-1, "x", "", "y"));
  EXPECT_FALSE(c.CryDateParam(-30, "x", "", 1));
  EXPECT_EQ(c.status(), CRY_BAD_SLOT);
  EXPECT_FALSE(c.CrySelect("1 = 1", 5));
  EXPECT_FALSE(c.CrySelect("1 = 1", -1));
  EXPECT_FALSE(c.CrySql("SELECT 1", 5));
  EXPECT_FALSE(c.CrySql("SELECT 1", -2));
  EXPECT_FALSE(c.CrySort(8, "{clienti.cli_fido}", crAscendingOrder));
  EXPECT_FALSE(c.CrySort(-1, "{clienti.cli_fido}", crAscendingOrder));
  for (int i = 0; i < CCrystal::kFormulas; ++i) {
    EXPECT_TRUE(c.selection(i).IsEmpty());
    EXPECT_TRUE(c.sql(i).IsEmpty());
  }
  for (int i = 0; i < CCrystal::kSorts; ++i) EXPECT_STREQ(c.sort(i).field, "");
  ASSERT_TRUE(c.CrySort(7, std::string(150, 'f').c_str(), crDescendingOrder));
  EXPECT_EQ(std::string(c.sort(7).field), std::string(100, 'f'));
  ASSERT_TRUE(c.CrySelect("{clienti.cli_fido} > 0", 4));

  // ODBC and SQL exclude each other.
  c.CryForceSQL(true, 1);
  EXPECT_TRUE(c.force_sql());
  c.CryForceODBC(true);
  EXPECT_TRUE(c.force_odbc());
  EXPECT_FALSE(c.force_sql());
  c.CryForceSQL(true, 0);
  EXPECT_FALSE(c.force_odbc());
  EXPECT_EQ(c.sql_kind(), 0);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(CrystalTest, TableSubstitutionsHaveFiveSlotsUsedOnce) {
  CCrystal c(false);
  EXPECT_FALSE(c.check_tables());
  EXPECT_EQ(c.CrySwitchTable(0, "clienti", "clienti2"), 0);
  EXPECT_TRUE(c.check_tables());
  EXPECT_STREQ(c.switch_table(0).new_name, "clienti2");
  EXPECT_EQ(c.CrySwitchTable(0, "altro", "altro2"), CRY_TABLE_USED);
  EXPECT_EQ(c.status(), 10);
  EXPECT_STREQ(c.switch_table(0).report_name, "clienti");
  EXPECT_EQ(c.CrySwitchTable(5, "x", "y"), CRY_TABLE_LIMIT);
  EXPECT_EQ(c.status(), 9);
  EXPECT_EQ(c.CrySwitchTable(-1, "x", "y"), CRY_TABLE_LIMIT);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"Indice tabelle sostituibili gi\xE0 utilizzato!",
                                               "Raggiunto limite massimo di tabelle sostituibili!",
                                               "Raggiunto limite massimo di tabelle sostituibili!"}));
  EXPECT_EQ(c.CrySwitchTable(4, std::string(300, 'a').c_str(), "b"), 0);
  EXPECT_EQ(std::strlen(c.switch_table(4).report_name), 259u);
}

TEST_F(CrystalTest, OpenFindsTheReportUnderRpteuroOrAsGiven) {
  CCrystal c(false);
  EXPECT_EQ(c.CryOpen("nessuno.rpt", "Niente", 0, 0), CRY_NOT_FOUND);
  EXPECT_EQ(c.status(), 200);
  EXPECT_EQ(Shown(), std::vector<std::string>{"File report " + (dir_ / "rpteuro/nessuno.rpt") + " non trovato !"});
  EXPECT_EQ(fake_.transcript().back().type & MB_ICONMASK, MB_ICONSTOP);
  ASSERT_FALSE(fake_.beeps().empty());
  EXPECT_EQ(fake_.beeps().back(), (std::pair<unsigned, unsigned>{1000, 10}));
  c.CrySetPaper(crPaperA3);
  c.CrySetOrientation(crLandscape);
  EXPECT_EQ(c.CryOpen("clienti.rpt", "Clienti", 0, 1), 0);
  EXPECT_EQ(c.paper(), 9);
  EXPECT_EQ(c.orientation(), 1);
  EXPECT_EQ(c.sql_kind(), 1);
  EXPECT_TRUE(c.local_db());
  EXPECT_STREQ(c.report_title().GetString(), "Clienti");
  EXPECT_EQ(c.CryOpen((dir_ / "rpteuro/clienti.rpt").c_str(), "Clienti", 1, 0), 0);
  EXPECT_EQ(std::string(c.report_path().GetString()), dir_ / "rpteuro/clienti.rpt");
}

TEST_F(CrystalTest, PaperFromTheReportsDescription) {
  CCrystal c(false);
  ASSERT_EQ(c.CryOpen("clienti.rpt", "Clienti", 0, 0), 0);
  c.CrySetPaperFromInfo();
  EXPECT_EQ(c.paper(), crPaperUser);
  EXPECT_EQ(c.paper_width(), 2100);
  EXPECT_EQ(c.paper_length(), 2970);
  EXPECT_EQ(c.orientation(), crLandscape);
  // Portrait alone; sizes that are zero, huge or missing change nothing.
  const struct {
    const char* comments;
    int paper, orientation;
  } cases[] = {{"portrait width:0 height:297", 9, 1},
               {"WIDTH:99999999999999 HEIGHT:297 PORTRAIT LANDSCAPE", 9, 2},
               {"width: 100 landscape", 9, 2},
               {"Width:-5 Height:-7", 9, 1},
               {"HEIGHT:100 WIDTH:50", 256, 1}};
  for (const auto& k : cases) {
    WriteFile(dir_ / "rpteuro/info.rpt",
              "VKTREPORT 1\nCOMMENTS \"" + std::string(k.comments) + "\"\nTABLE clienti clienti\n");
    CCrystal d(false);
    ASSERT_EQ(d.CryOpen("info.rpt", "Info", 0, 0), 0);
    d.CrySetPaperFromInfo();
    EXPECT_EQ(d.paper(), k.paper) << k.comments;
    EXPECT_EQ(d.orientation(), k.orientation) << k.comments;
  }
  EXPECT_TRUE(Shown().empty());
}

TEST_F(CrystalTest, IsamRunThroughTheDataSourceToPdf) {
  CCrystal c(false);
  ASSERT_EQ(c.CryOpen("clienti.rpt", "Clienti", 0, 0), 0);
  const std::string pdf = dir_ / "out.pdf";
  c.CryToFile(pdf.c_str());
  // Without the c-tree data source nothing can run.
  EXPECT_EQ(c.CryEsegui(), CRY_NO_DRIVER);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Driver ODBC non installato correttamente.");
  EXPECT_EQ(fake_.transcript()[0].caption, "Report Error");
  fake_.ClearTranscript();

  RegisterDsn("MIRTO");
  c.CrySetDataBase((dir_ / "dati").c_str());
  c.CrySelect("{clienti.cli_citta} = \"Roma\" or {clienti.cli_fido} >= 5000", 0);
  c.CrySort(0, "{clienti.cli_fido}", crDescendingOrder);
  ASSERT_EQ(c.CryEsegui(), 0) << (Shown().empty() ? "" : Shown()[0]);
  EXPECT_TRUE(Shown().empty());
  EXPECT_STREQ(c.caption().GetString(), "MIRTO - [Clienti - ODBC]");
  EXPECT_EQ(RegText("MIRTO", "DataDictionary"), "FDATI001.DB");
  EXPECT_EQ(RegText("MIRTO", "DBQ"), dir_ / "dati");
  EXPECT_EQ(RegText("MIRTO", "Protocol"), "MultiUser");  // local files
  EXPECT_EQ(RegText("MIRTO", "ServerName"), "FAIRCOMS@localhost");
  EXPECT_EQ(RegText("MIRTO", "SpecialTypes"), "vktdate.dll");
  EXPECT_EQ(c.progress_rows(), 6);
  EXPECT_EQ(fake_.wait_cursor_depth(), 0);
  const std::string text = Pdf(pdf);
  const size_t rossi = text.find("Rossi Mario"), ferrari = text.find("Ferrari"), verdi = text.find("Verdi Anna");
  ASSERT_NE(rossi, std::string::npos) << text;
  ASSERT_NE(ferrari, std::string::npos);
  ASSERT_NE(verdi, std::string::npos);
  EXPECT_EQ(text.find("Bianchi"), std::string::npos);
  EXPECT_LT(rossi, ferrari);  // Milano before Roma, then by credit downwards
  EXPECT_LT(ferrari, verdi);

  // A bad formula: the runtime's error in the runner's message.
  c.CrySelect("{clienti.cli_citta = \"Roma\"", 0);
  EXPECT_EQ(c.CryEsegui(), CRY_ENGINE);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0], "Errore CrystalReport\n\nError in the selection formula: The closing brace is missing "
                        "(position 1)\n\nHRESULT Error Code : 0x8004C003\n\nFormula\n\nReport : " +
                            (dir_ / "rpteuro/clienti.rpt"));
  EXPECT_EQ(fake_.transcript()[0].type & MB_ICONMASK, MB_ICONSTOP);
  fake_.ClearTranscript();
  // A sort field that matches nothing.
  c.CrySelect("", 0);
  c.CrySort(1, "{@manca}", crAscendingOrder);
  EXPECT_EQ(c.CryEsegui(), CRY_SORT);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Campo di ordinamento {@manca} non valido !"});
  fake_.ClearTranscript();
  c.CrySort(1, "", crAscendingOrder);
  // The same object runs again once the option is mended.
  EXPECT_EQ(c.CryEsegui(), 0);
  EXPECT_TRUE(Shown().empty());
  c.CryClose();
  EXPECT_EQ(c.report(), nullptr);
}

TEST_F(CrystalTest, DatesAndTimesWrittenByTheLibraryPrintAsDatesAndTimes) {
  RegisterDsn("MIRTO");
  WriteFile(dir_ / "rpteuro/visite.rpt",
            "VKTREPORT 1\n"
            "TITLE \"Visite\"\n"
            "TABLE visite visite\n"
            "COLUMN 20 \"Codice\" {visite.vis_codice}\n"
            "COLUMN 30 \"Giorno\" {visite.vis_giorno}\n"
            "COLUMN 30 \"Ora\" {visite.vis_ora}\n"
            "SORT {visite.vis_codice} ASC\n");
  // Both day counts of the host: the table is written and read with each.
  for (int base : {0, 1}) {
    SCOPED_TRACE(base);
    date_base_ = base;
    const std::string folder = dir_ / ("visite" + std::to_string(base));
    mkdir(folder.c_str(), 0755);
    ASSERT_TRUE(MakeVisiteFromSql(folder));
    CCrystal c(false);
    ASSERT_EQ(c.CryOpen("visite.rpt", "Visite", 0, 0), 0);
    c.CrySetDataBase(folder.c_str());
    const std::string pdf = dir_ / ("visite" + std::to_string(base) + ".pdf");
    c.CryToFile(pdf.c_str());
    ASSERT_EQ(c.CryEsegui(), 0) << (Shown().empty() ? "" : Shown()[0]);
    ASSERT_EQ(c.report()->page_count(), 1);
    std::vector<std::string> page = c.report()->PageText(0);
    ASSERT_EQ(page.size(), 6u);
    // An empty date and an empty time (stored as 0) show nothing.
    EXPECT_EQ(std::vector<std::string>(page.begin() + 2, page.end() - 1),
              (std::vector<std::string>{"V1 | 17/05/2024 | 08:05:30", "V2 | 31/12/1999 | 23:59:59", "V3 |  | "}));
    const std::string text = Pdf(pdf);
    EXPECT_NE(text.find("17/05/2024"), std::string::npos) << text;
    EXPECT_NE(text.find("08:05:30"), std::string::npos) << text;
    EXPECT_NE(text.find("31/12/1999"), std::string::npos) << text;
    // The day is a date to the selection formula, the time a time.
    c.CrySelect("{visite.vis_giorno} >= #2000-01-01#", 0);
    ASSERT_EQ(c.CryEsegui(), 0) << (Shown().empty() ? "" : Shown()[0]);
    page = c.report()->PageText(0);
    ASSERT_EQ(page.size(), 4u);
    EXPECT_EQ(page[2], "V1 | 17/05/2024 | 08:05:30");
    c.CrySelect("{visite.vis_giorno} < Date(2000, 1, 1)", 0);
    ASSERT_EQ(c.CryEsegui(), 0);
    page = c.report()->PageText(0);
    ASSERT_EQ(page.size(), 4u);
    EXPECT_EQ(page[2], "V2 | 31/12/1999 | 23:59:59");
    c.CryClose();
    EXPECT_TRUE(Shown().empty());
  }
}

TEST_F(CrystalTest, HistoryFlagReadsTheMovementsFromTheHistoryTable) {
  RegisterDsn("MIRTO");
  // The history holds three generated customers; each movement table the
  // six named ones.
  ASSERT_TRUE(vkt::testing::MakeIsamCustomers(dir_ / "dati", "storico1", 3));
  for (const char* table : {"moviment", "Movimen1", "MOVIMEN2", "storico1"}) {
    SCOPED_TRACE(table);
    const bool history_table = std::string(table) == "storico1";
    if (!history_table) {
      ASSERT_TRUE(vkt::testing::MakeIsamCustomers(dir_ / "dati", table));
    }
    WriteFile(dir_ / "rpteuro/movimenti.rpt", vkt::testing::CustomerReport("", table));
    const std::string pdf = dir_ / "movimenti.pdf";
    CCrystal c(false);
    c.CrySetDataBase((dir_ / "dati").c_str());
    ASSERT_EQ(c.CryOpen("movimenti.rpt", "Movimenti", 0, 0), 0);
    c.CryToFile(pdf.c_str());
    // Without the flag every table is read where the report says.
    ASSERT_EQ(c.CryEsegui(), 0) << (Shown().empty() ? "" : Shown()[0]);
    EXPECT_EQ(c.report()->Table(0).location, table);
    EXPECT_EQ(c.report()->row_count(), history_table ? 3 : 6);
    std::string text = Pdf(pdf);
    EXPECT_EQ(text.find("Rossi Mario") != std::string::npos, !history_table) << text;
    EXPECT_EQ(text.find("Cliente numero") != std::string::npos, history_table) << text;
    // With it the movements come from the history table.
    c.CryStorico(true);
    ASSERT_EQ(c.CryEsegui(), 0) << (Shown().empty() ? "" : Shown()[0]);
    EXPECT_EQ(c.report()->Table(0).location, "storico1");
    EXPECT_EQ(c.report()->row_count(), 3);
    text = Pdf(pdf);
    EXPECT_EQ(text.find("Rossi Mario"), std::string::npos) << text;
    EXPECT_NE(text.find("Cliente numero 000002"), std::string::npos) << text;
    // And off again: the report's own table.
    c.CryStorico(false);
    ASSERT_EQ(c.CryEsegui(), 0);
    EXPECT_EQ(c.report()->Table(0).location, table);
    c.CryClose();
  }
  // Other tables never move.
  CCrystal c(false);
  c.CrySetDataBase((dir_ / "dati").c_str());
  ASSERT_EQ(c.CryOpen("clienti.rpt", "Clienti", 0, 0), 0);
  c.CryToFile((dir_ / "clienti.pdf").c_str());
  c.CryStorico(true);
  ASSERT_EQ(c.CryEsegui(), 0);
  EXPECT_EQ(c.report()->Table(0).location, "clienti");
  EXPECT_EQ(c.report()->row_count(), 6);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(CrystalTest, BadReportFilesAndParametersStopTheRun) {
  RegisterDsn("MIRTO");
  const std::string bad[] = {std::string("\x89PNG\r\n\x1a\n\0\0", 10), "VKTREPORT 1\nTABLE clienti\n",
                             "VKTREPORT 1\nTABLE c c\nSELECT {c.x\n",
                             "VKTREPORT 1\nTABLE c c\nSELECT " + std::string(5000, '(') + "\n"};
  for (const std::string& b : bad) {
    WriteFile(dir_ / "rpteuro/rotto.rpt", b);
    CCrystal c(false);
    ASSERT_EQ(c.CryOpen("rotto.rpt", "Rotto", 0, 0), 0);
    EXPECT_EQ(c.CryEsegui(), CRY_OPEN_FAILED);
    EXPECT_EQ(Shown(), std::vector<std::string>{"Modulo di stampa non trovato o impossibile aprire il report !"});
    EXPECT_EQ(fake_.transcript().back().type & MB_ICONMASK, MB_ICONINFORMATION);
    EXPECT_EQ(c.last_error().code, vkt::report::kErrFileFormat);
    fake_.ClearTranscript();
  }
  // A time parameter cannot be set by the runner.
  WriteFile(dir_ / "rpteuro/ora.rpt", vkt::testing::CustomerReport("PARAMETER ora TIME\nPARAMETER anno NUMBER\n"));
  CCrystal c(false);
  c.CrySetDataBase((dir_ / "dati").c_str());
  c.CryToFile((dir_ / "ora.pdf").c_str());
  ASSERT_EQ(c.CryOpen("ora.rpt", "Ora", 0, 0), 0);
  c.CryLongParam(0, "ora", "", 3600);
  EXPECT_EQ(c.CryEsegui(), CRY_PARAMETER);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Time parameter Unsupported"});
  fake_.ClearTranscript();
  c.CryStringParam(0, "anno", "", "2025");  // a text for a number
  EXPECT_EQ(c.CryEsegui(), CRY_ENGINE);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_NE(Shown()[0].find("HRESULT Error Code : 0x8004C007"), std::string::npos);
  fake_.ClearTranscript();
  // Asking for parameters takes the report's defaults: none here.
  c.CryLongParam(0, "anno", "", 2025);
  c.CryAskParam(true);
  EXPECT_EQ(c.CryEsegui(), CRY_ENGINE);
  EXPECT_NE(Shown()[0].find("{?ora}"), std::string::npos);
}

TEST_F(CrystalTest, SubreportsTakeTheirSlotsAndParametersByName) {
  RegisterDsn("MIRTO");
  ASSERT_TRUE(vkt::testing::MakeIsamInvoices(dir_ / "dati", "fatture"));
  WriteFile(dir_ / "rpteuro/sub.rpt",
            vkt::testing::CustomerReport(
                "SUBREPORT fatture\nTITLE \"Fatture\"\nTABLE fatture fatture\nPARAMETER soglia NUMBER\n"
                "PARAMETER nota TEXT\nCOLUMN 20 \"Numero\" {fatture.fat_numero}\n"
                "COLUMN 40 \"Nota\" {?nota}\nSELECT {fatture.fat_importo} > {?soglia}\nEND\n"));
  CCrystal c(false);
  c.CrySetDataBase((dir_ / "dati").c_str());
  ASSERT_EQ(c.CryOpen("sub.rpt", "Sub", 0, 0), 0);
  const std::string pdf = dir_ / "sub.pdf";
  c.CryToFile(pdf.c_str());
  c.CryLongParam(0, "soglia", "fatture", 100);
  c.CryStringParam(1, "nota", "nessuno", "x");
  EXPECT_EQ(c.CryEsegui(), CRY_ENGINE);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_NE(Shown()[0].find("no sub-report nessuno"), std::string::npos) << Shown()[0];
  fake_.ClearTranscript();
  c.CryStringParam(1, "nota", "FATTURE", "da pagare");
  // Slot 0 selects in the main report, slot 1 in the first sub-report
  // (in place of the sub-report's own selection).
  c.CrySelect("{clienti.cli_citta} = \"Torino\"", 0);
  c.CrySelect("{fatture.fat_numero} <> \"F1\"", 1);
  ASSERT_EQ(c.CryEsegui(), 0) << (Shown().empty() ? "" : Shown()[0]);
  ASSERT_EQ(c.report()->page_count(), 2);
  EXPECT_EQ(c.report()->PageText(0)[3], "C003 | Bianchi Luca | 0,00 | 10/03/2019");
  EXPECT_EQ(c.report()->PageText(1),
            (std::vector<std::string>{"Fatture", "Numero | Nota", "F2 | da pagare", "F3 | da pagare",
                                      "F4 | da pagare", "Pagina 2 di 2"}));
  EXPECT_NE(Pdf(pdf).find("da pagare"), std::string::npos);
}

TEST_F(CrystalTest, TooManySubreports) {
  RegisterDsn("MIRTO");
  std::string def = vkt::testing::CustomerReport();
  for (int i = 0; i <= MAX_SUBREPORT; ++i)
    def += "SUBREPORT s" + std::to_string(i) + "\nTABLE clienti clienti\nEND\n";
  WriteFile(dir_ / "rpteuro/sub.rpt", def);
  CCrystal c(false);
  ASSERT_EQ(c.CryOpen("sub.rpt", "Sub", 0, 0), 0);
  EXPECT_EQ(c.CryEsegui(), CRY_SUBREPORTS);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Aumentare il parametro MAX_SUBREPORT !"});
}

TEST_F(CrystalTest, SqlCompulsoryAndTheSqlDataSources) {
  fake_.WriteProfileString("Settings", "SQLServer", "1");
  CCrystal c(false);
  ASSERT_EQ(c.CryOpen("clienti.rpt", "Clienti", 0, 0), 0);
  EXPECT_FALSE(c.CryTestSQL());
  EXPECT_EQ(c.CryEsegui(), CRY_SQL_REQUIRED);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Utilizzo SQL obbligatorio !\n\nImpossibile continuare."});
  fake_.ClearTranscript();
  RegisterDsn("MIRTO SQL");
  EXPECT_TRUE(c.CryTestSQL());
  c.CryForceODBC(true);
  EXPECT_EQ(c.CryEsegui(), CRY_SQL_REQUIRED);
  fake_.ClearTranscript();
  fake_.WriteProfileString("Settings", "SQLServer", "0");

  // The PostgreSQL kind's source is missing.
  c.CryForceSQL(true, 1);
  EXPECT_FALSE(c.CryTestSQL());
  EXPECT_EQ(c.CryEsegui(), CRY_NO_DRIVER);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Driver ODBC SQL non installato correttamente."});
  EXPECT_EQ(fake_.transcript()[0].caption, "Report Error");
  fake_.ClearTranscript();

  // The first kind: an SQLite database named like the company's.
  const std::string file = dir_ / "ARC000012025";
  vkt::testing::MakeSqliteCustomers(file, "admin.clienti1");
  ASSERT_EQ(vkt::win::RegSetValues(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI\\MIRTO SQL",
                                   {{"Driver", REG_SZ, std::string("SQLite", 7)},
                                    {"DataFolder", REG_SZ, dir_.path() + std::string(1, '\0')}}),
            ERROR_SUCCESS);
  WriteFile(dir_ / "rpteuro/sql.rpt",
            vkt::testing::CustomerReport("TABLE inv inventar\n", "clienti1"));
  std::strcpy(par_.sql_user, "mirto");
  std::strcpy(par_.sql_password, "segreta");
  par_.report_hook = Hook;
  CCrystal s(false);
  ASSERT_EQ(s.CryOpen("sql.rpt", "Clienti SQL", 0, 0), 0);
  s.CryForceSQL(true, 0);
  s.CryToFile((dir_ / "sql.pdf").c_str());
  s.CrySelect("{clienti.cli_citta} = \"Milano\"", 0);
  ASSERT_EQ(s.CryEsegui(), 0) << (Shown().empty() ? "" : Shown()[0]);
  EXPECT_STREQ(s.caption().GetString(), "MIRTO - [Clienti SQL - SQL]");
  EXPECT_EQ(RegText("MIRTO SQL", "Host"), "localhost");
  EXPECT_EQ(RegText("MIRTO SQL", "Database"), "ARC000012025");
  EXPECT_EQ(RegText("MIRTO SQL", "User ID"), "mirto");
  EXPECT_EQ(RegText("MIRTO SQL", "Password"), "segreta");
  EXPECT_EQ(RegText("MIRTO SQL", "Service"), "<none>");  // port 0: not written
  EXPECT_EQ(RegText("MIRTO SQL", "Servername"), "<none>");
  EXPECT_EQ(g_hook_calls, 1);
  // Shared tables take the shared schema, the inventory the company's name.
  ASSERT_NE(s.report(), nullptr);
  EXPECT_EQ(s.report()->Table(0).location, "admin.clienti1");
  EXPECT_EQ(s.report()->Table(1).location, "inv00001");
  const std::string text = Pdf(dir_ / "sql.pdf");
  EXPECT_NE(text.find("Colombo Stefania"), std::string::npos) << text;
  EXPECT_EQ(text.find("Verdi"), std::string::npos);

  // The second kind writes its own names, and the port when there is one.
  RegisterDsn("MIRTO PSQL");
  std::strcpy(par_.host, "db.example");
  par_.sql_port = 5433;
  CCrystal p(false);
  ASSERT_EQ(p.CryOpen("sql.rpt", "Clienti", 0, 1), 0);
  p.CryForceSQL(true, 1);
  EXPECT_EQ(p.CryEsegui(), CRY_ENGINE);  // no server there
  EXPECT_EQ(RegText("MIRTO PSQL", "Servername"), "db.example");
  EXPECT_EQ(RegText("MIRTO PSQL", "Database"), "ARC000012025");
  EXPECT_EQ(RegText("MIRTO PSQL", "Username"), "mirto");
  EXPECT_EQ(RegText("MIRTO PSQL", "UID"), "mirto");
  EXPECT_EQ(RegText("MIRTO PSQL", "Service"), "5433");
  EXPECT_EQ(RegText("MIRTO PSQL", "Host"), "<none>");
}

TEST_F(CrystalTest, RegistryFailureAndConnectionsWithoutDataSource) {
  RegisterDsn("MIRTO");
  CCrystal c(false);
  ASSERT_EQ(c.CryOpen("clienti.rpt", "Clienti", 0, 0), 0);
  vkt::win::RegFailCommitsForTest(1);
  EXPECT_EQ(c.CryEsegui(), CRY_REGISTRY);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Errore aggiornamento file Registro."});
  EXPECT_EQ(fake_.transcript()[0].caption, "Report Error");
  vkt::win::RegFailCommitsForTest(0);
  fake_.ClearTranscript();

  // Without a data source: the database name of company and year.
  vkt::testing::MakeSqliteCustomers(dir_ / "ARC000072024", "clienti");
  CCrystal d(false);
  ASSERT_EQ(d.CryOpen("clienti.rpt", "Remoto", 0, 3), 0);
  std::strcpy(par_.host, "");
  d.CrySetDnsLessConn(7, 2024);
  EXPECT_TRUE(d.remote());
  EXPECT_STREQ(d.remote_server().GetString(), "localhost");
  EXPECT_STREQ(d.remote_database().GetString(), "ARC000072024");
  d.CrySetDnsLessConnInfo(dir_.path().c_str(), "ARC000072024", "", "");
  d.CryToFile((dir_ / "remoto.pdf").c_str());
  ASSERT_EQ(d.CryEsegui(), 0) << (Shown().empty() ? "" : Shown()[0]);
  EXPECT_STREQ(d.caption().GetString(), "MIRTO - [Remoto - SQL DSNLESS]");
  EXPECT_NE(Pdf(dir_ / "remoto.pdf").find("Esposito Gennaro"), std::string::npos);
  // Checked tables: a substitution that names a table without those fields.
  d.CrySwitchTable(0, "clienti", "sqlite_master");
  EXPECT_EQ(d.CryEsegui(), CRY_ENGINE);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_NE(Shown()[0].find("not in the table clienti (sqlite_master)"), std::string::npos) << Shown()[0];
}

TEST_F(CrystalTest, PreviewAndACappedClose) {
  RegisterDsn("MIRTO");
  CCrystal c(true);
  c.CrySetDataBase((dir_ / "dati").c_str());
  ASSERT_EQ(c.CryOpen("clienti.rpt", "Clienti", 0, 0), 0);
  c.CrySetZoomViewer(75);
  EXPECT_EQ(c.CryGetZoomViewer(), 75);
  c.CrySetGroup(true);
  ASSERT_EQ(c.CryEsegui(), 0) << (Shown().empty() ? "" : Shown()[0]);
  ASSERT_NE(c.preview(), nullptr);
  EXPECT_NE(dynamic_cast<CCrystalAnteprima*>(c.preview()), nullptr);
  EXPECT_EQ(c.preview()->zoom(), 75);
  EXPECT_TRUE(c.preview()->group_tree());
  vkt::win::Image img = vkt::win::Render(c.preview());
  EXPECT_EQ(img.width, static_cast<int>(595.276 * 0.75) + 160);
  ASSERT_TRUE(vkt::win::SavePng(c.preview(), dir_ / "preview.png"));
  EXPECT_TRUE(c.report()->Busy());
  // Close lets the preview go first, so the report is free at once.
  c.CryClose();
  EXPECT_EQ(c.preview(), nullptr);
  EXPECT_EQ(c.report(), nullptr);
  EXPECT_TRUE(fake_.sleeps().empty());

  // A runtime that stays busy is waited for in 100 ms steps, up to the cap.
  par_.preview_kind = 1;
  ASSERT_EQ(c.CryEsegui(), 0);
  EXPECT_NE(dynamic_cast<CCrystalPreview*>(c.preview()), nullptr);
  c.report()->HoldBusyForTest(3);
  c.CryClose();
  EXPECT_EQ(fake_.sleeps(), (std::vector<uint32_t>{100, 100, 100}));
  EXPECT_EQ(c.report(), nullptr);
  ASSERT_EQ(c.CryEsegui(), 0);
  c.report()->HoldBusyForTest(1000000);
  c.CryClose();
  EXPECT_EQ(fake_.sleeps().size(), 3u + kCryCloseSteps);
  EXPECT_EQ(fake_.slept_ms(), 300u + 100u * kCryCloseSteps);
  EXPECT_EQ(c.report(), nullptr);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(CrystalTest, PrinterDestinationAndThePrintersSettings) {
  vkt::testing::ThrowawayCups cups;
  VKT_START_CUPS(cups);
  vkt::print_io::SetServer(cups.socket());
  RegisterDsn("MIRTO");
  CCrystal c(false);
  c.CrySetDataBase((dir_ / "dati").c_str());
  ASSERT_EQ(c.CryOpen("clienti.rpt", "Clienti", 0, 0), 0);
  // The default queue's settings: portrait, and its paper when it names one.
  vkt::print_io::PrinterSettings settings;
  ASSERT_TRUE(vkt::print_io::GetPrinterSettings("vkt-raw", &settings));
  ASSERT_TRUE(c.CryGetPrinterSettings());
  EXPECT_EQ(c.orientation(), crPortrait);
  if (settings.media.find("a4") != std::string::npos || settings.media == "A4") {
    EXPECT_EQ(c.paper(), crPaperUser);
    EXPECT_EQ(c.paper_width(), 2100);
    EXPECT_EQ(c.paper_length(), 2970);
  } else {
    EXPECT_EQ(c.paper(), crPaperA4) << settings.media;
  }
  // Paper from the description at run time: 210 x 297 landscape.
  c.CryGetPaperFormat(true);
  c.CryCopies(2);
  c.CryCollated(1);
  c.CryToPrinter();
  ASSERT_EQ(c.CryEsegui(), 0) << (Shown().empty() ? "" : Shown()[0]);
  EXPECT_EQ(c.orientation(), crLandscape);
  const std::string bytes = cups.WaitPdf("vkt-raw");
  ASSERT_EQ(bytes.substr(0, 5), "%PDF-");
  WriteFile(dir_ / "printed.pdf", bytes);
  const std::string info = vkt::testing::Capture("pdfinfo " + (dir_ / "printed.pdf"));
  EXPECT_NE(info.find("841.89 x 595.276 pts"), std::string::npos) << info;
  const size_t pages = info.find("Pages:");
  ASSERT_NE(pages, std::string::npos);
  EXPECT_EQ(std::atoi(info.c_str() + pages + 6), 2);  // two copies of one page
  vkt::print_io::SetServer(dir_ / "no-scheduler");
  EXPECT_FALSE(c.CryGetPrinterSettings());
  EXPECT_EQ(c.CryEsegui(), CRY_ENGINE);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_NE(Shown()[0].find("HRESULT Error Code : 0x8004C008\n\nPrinter"), std::string::npos) << Shown()[0];
  vkt::print_io::SetServer("");
}

TEST_F(CrystalTest, CopiesReachThePrinterCollatedOrPageByPage) {
  vkt::testing::ThrowawayCups cups;
  VKT_START_CUPS(cups);
  vkt::print_io::SetServer(cups.socket());
  RegisterDsn("MIRTO");
  // Enough customers for more than one page.
  ASSERT_TRUE(vkt::testing::MakeIsamCustomers(dir_ / "dati", "molti", 150));
  WriteFile(dir_ / "rpteuro/molti.rpt", vkt::testing::CustomerReport("", "molti"));
  CCrystal c(false);
  c.CrySetDataBase((dir_ / "dati").c_str());
  ASSERT_EQ(c.CryOpen("molti.rpt", "Molti", 0, 0), 0);
  c.CryToPrinter();
  c.CryCopies(3);
  // -1: the object's default, collated.
  for (int collated : {-1, 0, 1}) {
    SCOPED_TRACE(collated);
    if (collated >= 0) c.CryCollated(collated);
    ASSERT_EQ(c.CryEsegui(), 0) << (Shown().empty() ? "" : Shown()[0]);
    const int pages = c.report()->page_count();
    ASSERT_GE(pages, 2);
    const std::string bytes = cups.WaitPdf("vkt-raw");
    ASSERT_EQ(bytes.substr(0, 5), "%PDF-");
    const std::string file = dir_ / "copie.pdf";
    WriteFile(file, bytes);
    // Each printed page by its number: whole copies one after the other, or
    // every page three times before the next.
    std::vector<std::string> printed, expected;
    for (int i = 1; i <= 3 * pages; ++i) {
      const std::string text = vkt::testing::Capture("pdftotext -f " + std::to_string(i) + " -l " +
                                                     std::to_string(i) + " -layout " + file + " -");
      const size_t at = text.find("Pagina ");
      printed.push_back(at == std::string::npos ? "?" : text.substr(at, text.find('\n', at) - at));
    }
    const std::string extra = vkt::testing::Capture("pdftotext -f " + std::to_string(3 * pages + 1) +
                                                    " -layout " + file + " - 2>/dev/null");
    EXPECT_EQ(extra, "");  // no page beyond the copies
    for (int i = 0; i < 3 * pages; ++i) {
      const int page = collated != 0 ? i % pages : i / 3;
      expected.push_back("Pagina " + std::to_string(page + 1) + " di " + std::to_string(pages));
    }
    EXPECT_EQ(printed, expected);
  }
  EXPECT_TRUE(Shown().empty());
  vkt::print_io::SetServer("");
}

}  // namespace
