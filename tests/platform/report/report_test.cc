// The report runtime on real ISAM file sets, a real SQLite database, real
// PDF files, preview images and a private print scheduler.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/print/throwaway_cups.h"
#include "platform/report/report_fixture.h"
#include "print/cups_queue.h"
#include "report/detail/formula.h"
#include "report/report.h"
#include "win/canvas.h"
#include "win/registry_store.h"

namespace {

using namespace vkt::report;
using vkt::testing::TempDir;

// Evaluates a formula with no fields.
Value Calc(const std::string& text) {
  std::string why;
  auto n = detail::ParseFormula(text, &why);
  EXPECT_TRUE(n) << text << ": " << why;
  if (!n) return Value();
  return detail::Eval(n.get(), {});
}

// "Pages:" of pdfinfo, -1 when it cannot read the file.
int PdfPages(const std::string& path) {
  const std::string info = vkt::testing::Capture("pdfinfo " + path);
  const size_t at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

std::string Why(const std::string& text) {
  std::string why;
  auto n = detail::ParseFormula(text, &why);
  return n ? std::string("parsed") : why;
}

TEST(ReportFormula, EvaluatesComparisonsLogicDatesAndTexts) {
  EXPECT_TRUE(Calc("1 < 2 and not (3 <= 2) or false").Truthy());
  EXPECT_FALSE(Calc("1 = 2 or 2 <> 2").Truthy());
  EXPECT_TRUE(Calc("\"Roma  \" = 'Roma'").Truthy());  // blanks at the end ignored
  EXPECT_FALSE(Calc("\"roma\" = \"Roma\"").Truthy());  // bytes, not case
  EXPECT_TRUE(Calc("\"a\"\"b\" = 'a\"b'").Truthy());
  EXPECT_TRUE(Calc("#2025-03-15# = Date(2025, 3, 15)").Truthy());
  EXPECT_TRUE(Calc("#2024-12-31# < #2025-01-01#").Truthy());
  EXPECT_EQ(Calc("#2025-03-01# - #2025-02-01#").num, 28);
  EXPECT_EQ(Calc("2 + 3 * 4 - -1").num, 15);
  EXPECT_EQ(Calc("\"Pag. \" & 3 > \"\"").kind, Kind::kBool);
  // Mixed kinds are never equal, and never throw.
  EXPECT_FALSE(Calc("1 = \"1\"").Truthy());
  EXPECT_TRUE(Calc("1 <> \"1\"").Truthy());
  EXPECT_FALSE(Calc("#2025-01-01# = 2460677").Truthy());
  EXPECT_EQ(Calc("1 / 0").kind, Kind::kNull);
  EXPECT_FALSE(Calc("1 / 0 = 0").Truthy());
  EXPECT_TRUE(Calc("NOT FALSE AND TRUE").Truthy());
}

TEST(ReportFormula, HostileTextIsRefusedWithItsReason) {
  EXPECT_NE(Why("{clienti.cli_codice").find("closing brace is missing"), std::string::npos);
  EXPECT_NE(Why("{clienti.cli_codice = 1").find("closing brace is missing"), std::string::npos);
  EXPECT_NE(Why("{clienti}").find("{table.field}"), std::string::npos);
  EXPECT_NE(Why("{@}").find("not valid"), std::string::npos);
  EXPECT_NE(Why("\"Roma").find("text is not closed"), std::string::npos);
  EXPECT_NE(Why("(1 = 1").find("parenthesis"), std::string::npos);
  EXPECT_NE(Why("1 = 1)").find("remaining text"), std::string::npos);
  EXPECT_NE(Why("").find("ends too soon"), std::string::npos);
  EXPECT_NE(Why("1 = ").find("ends too soon"), std::string::npos);
  EXPECT_NE(Why("#2025-02-30#").find("date is not valid"), std::string::npos);
  EXPECT_NE(Why("Date(2025, 13, 1)").find("date is not valid"), std::string::npos);
  EXPECT_NE(Why("#2025-02-01").find("not closed"), std::string::npos);
  EXPECT_NE(Why("1e400").find("remaining text"), std::string::npos);
  EXPECT_NE(Why("99999999999999999999").find("too large"), std::string::npos);
  EXPECT_NE(Why(std::string(300, '9')).find("not valid"), std::string::npos);
  EXPECT_NE(Why("1.2.3").find("not valid"), std::string::npos);
  EXPECT_NE(Why(std::string("1 = \0", 5)).find("expected"), std::string::npos);
  // Nesting and length: refused, never a stack overflow.
  EXPECT_NE(Why(std::string(30000, '(') + "1" + std::string(30000, ')')).find("nested too deeply"),
            std::string::npos);
  std::string nots;
  for (int i = 0; i < 10000; ++i) nots += "not ";
  EXPECT_NE(Why(nots + "true").find("nested too deeply"), std::string::npos);
  EXPECT_NE(Why(std::string(50000, '-') + "1").find("nested too deeply"), std::string::npos);
  std::string chain = "1";
  for (int i = 0; i < 5000; ++i) chain += "+1";
  EXPECT_NE(Why(chain).find("too complex"), std::string::npos);
  EXPECT_NE(Why(std::string(70000, ' ') + "1").find("too long"), std::string::npos);
  // Within the limits all is well.
  EXPECT_EQ(Why(std::string(60, '(') + "1" + std::string(60, ')')), "parsed");
  std::string ok = "1";
  for (int i = 0; i < 200; ++i) ok += "+1";
  EXPECT_EQ(Calc(ok).num, 201);
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vkt::win::SetRegistryFolder(dir_ / "registry");
    app_ = Application::Create(kProgId, &err_);
    ASSERT_TRUE(app_) << err_.description;
    ASSERT_TRUE(vkt::testing::MakeIsamCustomers(dir_.path(), "clienti"));
  }
  void TearDown() override { vkt::win::SetRegistryFolder(""); }

  std::unique_ptr<Report> Open(const std::string& text) {
    auto r = app_->OpenReportText(text, "test.rpt", &err_);
    EXPECT_TRUE(r) << err_.description;
    return r;
  }
  // Detail lines of every page (titles, headings and footers left out).
  static std::vector<std::string> Lines(const Report& r) {
    std::vector<std::string> out;
    for (int p = 0; p < r.page_count(); ++p) {
      auto t = r.PageText(p);
      for (size_t i = 2; i + 1 < t.size(); ++i) out.push_back(t[i]);
    }
    return out;
  }

  TempDir dir_{"rpt"};
  Error err_;
  std::unique_ptr<Application> app_;
};

TEST_F(ReportTest, CreationAnswersToItsNameOnly) {
  Error e;
  EXPECT_FALSE(Application::Create("CrystalRuntime.Application.9", &e));
  EXPECT_EQ(e.code, kErrNoRuntime);
  FailCreateForTest(1);
  EXPECT_FALSE(Application::Create(kProgId, &e));
  EXPECT_TRUE(Application::Create(kProgId, &e));
}

TEST_F(ReportTest, BadDefinitionsGiveTheLineAndTheReason) {
  struct Case {
    std::string text, expect;
  } cases[] = {
      {"", "line 1: not a report definition"},
      {"VKTREPORT 2\n", "line 1: not a report definition"},
      {"VKTREPORT 1\nTABLE a\n", "line 2: TABLE takes a name and a location"},
      {"VKTREPORT 1\nTABLE a b\nCOLUMN 1e999 \"x\" 1\n", "line 3: COLUMN width"},
      {"VKTREPORT 1\nTABLE a b\nCOLUMN 10 \"x 1\n", "line 3: COLUMN heading"},
      {"VKTREPORT 1\nTABLE a b\nCOLUMN 10 \"x\" {a.b\n", "closing brace is missing"},
      {"VKTREPORT 1\nTABLE a b\nSELECT " + std::string(200, '(') + "\n", "nested too deeply"},
      {"VKTREPORT 1\nTABLE a b\nFROB\n", "line 3: unknown statement FROB"},
      {"VKTREPORT 1\nTABLE a b\nSUBREPORT s\nTABLE c d\n", "has no END"},
      {"VKTREPORT 1\nTABLE a b\nSUBREPORT s\nSUBREPORT t\n", "cannot hold another"},
      {"VKTREPORT 1\nTABLE a b\nEND\n", "END without SUBREPORT"},
      {"VKTREPORT 1\nTITLE \"x\"\n", "has no TABLE"},
      {"VKTREPORT 1\nTABLE a b\nPARAMETER p DATE \"Dal\" 12\n", "does not match"},
      {"VKTREPORT 1\nTABLE a b\nPARAMETER p NUMBER \"n\" 1e99999\n", "literal"},
      {"VKTREPORT 1\nTABLE a b\nTABLE A c\n", "named twice"},
      {"VKTREPORT 1\nTABLE a b\nTITLE \"" + std::string(70000, 'x') + "\"\n", "line is too long"},
      {std::string(5u << 20, '#'), "too large"},
  };
  for (const Case& c : cases) {
    Error e;
    EXPECT_FALSE(app_->OpenReportText(c.text, "bad.rpt", &e)) << c.expect;
    EXPECT_EQ(e.code, kErrFileFormat) << c.expect;
    EXPECT_EQ(e.source, "Report Definition");
    EXPECT_NE(e.description.find(c.expect), std::string::npos) << e.description;
  }
  Error e;
  EXPECT_FALSE(app_->OpenReport(dir_ / "missing.rpt", &e));
  EXPECT_EQ(e.code, kErrFileOpen);
  vkt::testing::WriteFile(dir_ / "binary.rpt", std::string("\x7f" "ELF\0\0\1", 7));
  EXPECT_FALSE(app_->OpenReport(dir_ / "binary.rpt", &e));
  EXPECT_EQ(e.code, kErrFileFormat);
}

TEST_F(ReportTest, IsamTableIsSelectedGroupedAndSorted) {
  auto r = Open(vkt::testing::CustomerReport());
  ASSERT_TRUE(r);
  EXPECT_EQ(r->summary().title, "Elenco clienti");
  ASSERT_EQ(r->TableCount(), 1);
  EXPECT_EQ(r->Table(0).location, "clienti");
  EXPECT_FALSE(r->Run(&err_));
  EXPECT_EQ(err_.code, kErrConnect);
  ASSERT_TRUE(r->ConnectIsam(dir_.path(), &err_));
  ASSERT_TRUE(r->VerifyDatabase(&err_)) << err_.description;
  ASSERT_TRUE(r->Run(&err_)) << err_.description;
  EXPECT_EQ(r->row_count(), 6);
  // Cities in order, names sorted within each; numbers and dates formatted.
  std::vector<std::string> expected = {
      "Milano",
      "C005 | Colombo Stefania | 2.500,00 | 28/02/2022",
      "C001 | Rossi Mario | 5.000,00 | 15/01/2020",
      "Napoli", "C006 | Esposito Gennaro | 100,00 | 04/07/2023",
      "Roma", "C004 | Caff\xE8 Ferrari | 8.000,00 | 31/12/2024",
      "C002 | Verdi Anna | 1.500,00 | 01/06/2021",
      "Torino", "C003 | Bianchi Luca | 0,00 | 10/03/2019"};
  EXPECT_EQ(Lines(*r), expected);
  EXPECT_EQ(r->PageText(0).back(), "Pagina 1 di 1");
  // The short day count reads the same stored numbers 2342031 days later.
  r->SetDayNumberBase(1);
  ASSERT_TRUE(r->ConnectIsam(dir_.path(), &err_));
  ASSERT_TRUE(r->Run(&err_));
  int y = 0, m = 0, d = 0;
  JdnToCivil(CivilToJdn(2020, 1, 15) + 2342031, &y, &m, &d);
  char shifted[16];
  std::snprintf(shifted, sizeof shifted, "%02d/%02d/%04d", d, m, y);
  EXPECT_EQ(Lines(*r)[2], std::string("C001 | Rossi Mario | 5.000,00 | ") + shifted);
  r->SetDayNumberBase(0);
  ASSERT_TRUE(r->ConnectIsam(dir_.path(), &err_));

  // The runner's selection replaces the definition's; sorts replace its sorts.
  ASSERT_TRUE(r->SetSelectionFormula("{clienti.cli_fido} >= 1500 and not ({clienti.cli_citta} = \"Roma\")"
                                     " or {clienti.cli_dal} > #2024-01-01#", &err_));
  r->ClearSorts();
  ASSERT_TRUE(r->AddSort("clienti.cli_fido", true, &err_)) << err_.description;
  ASSERT_TRUE(r->Run(&err_)) << err_.description;
  EXPECT_EQ(Lines(*r), (std::vector<std::string>{
                           "Milano", "C001 | Rossi Mario | 5.000,00 | 15/01/2020",
                           "C005 | Colombo Stefania | 2.500,00 | 28/02/2022",
                           "Roma", "C004 | Caff\xE8 Ferrari | 8.000,00 | 31/12/2024"}));
  // Names that match nothing are refused, the object stays usable.
  EXPECT_FALSE(r->AddSort("{clienti.nope}", false, &err_));
  EXPECT_EQ(err_.code, kErrUnknownName);
  EXPECT_FALSE(r->AddSort("{@nope}", false, &err_));
  EXPECT_FALSE(r->AddSort("{clienti.cli_fido", false, &err_));
  EXPECT_EQ(err_.code, kErrFormula);
  EXPECT_FALSE(r->SetSelectionFormula("{clienti.cli_fido > 1", &err_));
  EXPECT_EQ(err_.code, kErrFormula);
  ASSERT_TRUE(r->SetSelectionFormula("{clienti.nope} = 1", &err_));
  EXPECT_FALSE(r->Run(&err_));
  EXPECT_EQ(err_.code, kErrUnknownName);
  EXPECT_NE(err_.description.find("{clienti.nope}"), std::string::npos);
  ASSERT_TRUE(r->SetSelectionFormula("", &err_));
  EXPECT_TRUE(r->Run(&err_)) << err_.description;
  EXPECT_EQ(r->row_count(), 6);
}

TEST_F(ReportTest, ParametersFormulasAndLinks) {
  ASSERT_TRUE(vkt::testing::MakeIsamInvoices(dir_.path(), "fatture"));
  auto r = Open(
      "VKTREPORT 1\n"
      "TABLE fatture fatture\nTABLE clienti clienti\n"
      "LINK {fatture.fat_cliente} {clienti.cli_codice}\n"
      "PARAMETER minimo NUMBER \"Importo minimo\" 50\n"
      "PARAMETER dal DATE \"Dal\"\n"
      "PARAMETER ora TIME\n"
      "FORMULA lordo {fatture.fat_importo} * 1.22\n"
      "FORMULA chi {clienti.cli_ragione} & \" (\" & {fatture.fat_cliente} & \")\"\n"
      "COLUMN 20 \"Numero\" {fatture.fat_numero}\nCOLUMN 60 \"Cliente\" {@chi}\n"
      "COLUMN 25 \"Lordo\" {@lordo} DEC 2\n"
      "SELECT {fatture.fat_importo} >= {?minimo}\n"
      "SORT {@lordo} DESC\n");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->ParameterCount(), 3);
  EXPECT_EQ(r->Parameter(2).type, ParamType::kTime);
  ASSERT_TRUE(r->ConnectIsam(dir_.path(), &err_));
  EXPECT_FALSE(r->Run(&err_));
  EXPECT_EQ(err_.code, kErrParameter);
  EXPECT_NE(err_.description.find("{?minimo}"), std::string::npos);
  EXPECT_FALSE(r->SetParameter("minimo", Value::Text("50"), &err_));
  EXPECT_EQ(err_.code, kErrParameter);
  EXPECT_FALSE(r->SetParameter("massimo", Value::Number(1), &err_));
  EXPECT_EQ(err_.code, kErrUnknownName);
  ASSERT_TRUE(r->SetParameter("MINIMO", Value::Number(300), &err_));
  ASSERT_TRUE(r->SetParameter("dal", Value(), &err_));  // an empty date
  ASSERT_TRUE(r->SetParameter("ora", Value::Time(3600), &err_));
  ASSERT_TRUE(r->Run(&err_)) << err_.description;
  EXPECT_EQ(Lines(*r), (std::vector<std::string>{"F1 | Verdi Anna (C002) | 1.464,00",
                                                 "F2 | Rossi Mario (C001) | 427,61"}));
  // Prompt mode takes the defaults; without a default the value is needed.
  auto p = Open("VKTREPORT 1\nTABLE fatture fatture\nPARAMETER minimo NUMBER \"m\" 1000\n"
                "PARAMETER nota TEXT\nCOLUMN 20 \"N\" {fatture.fat_numero}\n"
                "SELECT {fatture.fat_importo} > {?minimo}\n");
  ASSERT_TRUE(p);
  ASSERT_TRUE(p->ConnectIsam(dir_.path(), &err_));
  p->SetPromptMode(true);
  EXPECT_FALSE(p->Run(&err_));
  EXPECT_NE(err_.description.find("{?nota}"), std::string::npos);
  ASSERT_TRUE(p->SetParameter("nota", Value::Text("x"), &err_));
  ASSERT_TRUE(p->Run(&err_)) << err_.description;
  EXPECT_EQ(Lines(*p), std::vector<std::string>{"F1"});
  // A formula that refers to itself is an error, not a loop.
  auto c = Open("VKTREPORT 1\nTABLE fatture fatture\nFORMULA a {@b} + 1\nFORMULA b {@a}\n"
                "COLUMN 20 \"x\" {@a}\n");
  ASSERT_TRUE(c);
  ASSERT_TRUE(c->ConnectIsam(dir_.path(), &err_));
  EXPECT_FALSE(c->Run(&err_));
  EXPECT_NE(err_.description.find("refers to itself"), std::string::npos);
  // A long chain of formulas is refused before it could exhaust the stack.
  std::string chain = "VKTREPORT 1\nTABLE fatture fatture\nCOLUMN 20 \"x\" {@f0}\n";
  for (int i = 0; i < 20000; ++i)
    chain += "FORMULA f" + std::to_string(i) + " {@f" + std::to_string(i + 1) + "} + 1\n";
  chain += "FORMULA f20000 1\n";
  auto d = Open(chain);
  ASSERT_TRUE(d);
  ASSERT_TRUE(d->ConnectIsam(dir_.path(), &err_));
  EXPECT_FALSE(d->Run(&err_));
  EXPECT_NE(err_.description.find("too deeply"), std::string::npos) << err_.description;
  auto e = Open("VKTREPORT 1\nTABLE fatture fatture\nCOLUMN 20 \"x\" {@a} DEC 0\nFORMULA a {@b} * 2\n"
                "FORMULA b {@c} + 1\nFORMULA c 20\n");
  ASSERT_TRUE(e->ConnectIsam(dir_.path(), &err_));
  ASSERT_TRUE(e->Run(&err_)) << err_.description;
  EXPECT_EQ(e->PageText(0)[2], "42");
}

TEST_F(ReportTest, SqliteThroughARegisteredDataSource) {
  const std::string file = dir_ / "ditta.db";
  vkt::testing::MakeSqliteCustomers(file, "admin.clienti1");
  const std::string key = "Software\\ODBC\\ODBC.INI\\MIRTO SQL";
  ASSERT_EQ(vkt::win::RegCreateKeyPath(HKEY_CURRENT_USER, key), ERROR_SUCCESS);
  ASSERT_EQ(vkt::win::RegSetValues(HKEY_CURRENT_USER, key,
                                   {{"Driver", REG_SZ, std::string("SQLite", 7)},
                                    {"DataFolder", REG_SZ, dir_.path() + std::string(1, '\0')},
                                    {"Database", REG_SZ, std::string("ditta.db", 9)}}),
            ERROR_SUCCESS);
  auto r = Open(vkt::testing::CustomerReport("", "clienti1"));
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->ConnectDataSource("ALTRO SQL", "", "", &err_));
  EXPECT_EQ(err_.code, kErrConnect);
  ASSERT_TRUE(r->ConnectDataSource("mirto sql", "", "", &err_)) << err_.description;
  EXPECT_FALSE(r->VerifyDatabase(&err_));  // clienti1 lives in the shared schema
  ASSERT_TRUE(r->SetTableLocation(0, "admin.clienti1", &err_));
  EXPECT_FALSE(r->SetTableLocation(0, "x; DROP TABLE y", &err_));
  EXPECT_FALSE(r->SetTableLocation(1, "x", &err_));
  EXPECT_FALSE(r->SetTableLocation(-1, "x", &err_));
  EXPECT_EQ(err_.code, kErrRange);
  ASSERT_TRUE(r->VerifyDatabase(&err_)) << err_.description;
  ASSERT_TRUE(r->SetSelectionFormula("{clienti.cli_dal} >= #2022-01-01#", &err_));
  ASSERT_TRUE(r->Run(&err_)) << err_.description;
  EXPECT_EQ(Lines(*r), (std::vector<std::string>{
                           "Milano", "C005 | Colombo Stefania | 2.500,00 | 28/02/2022",
                           "Napoli", "C006 | Esposito Gennaro | 100,00 | 04/07/2023",
                           "Roma", "C004 | Caff\xE8 Ferrari | 8.000,00 | 31/12/2024"}));
  // A statement replaces the table; query-only needs nothing else.
  r->SetSqlQuery("SELECT cli_codice, cli_ragione, cli_citta, cli_fido * 2 AS cli_fido, cli_dal "
                 "FROM admin.clienti1 WHERE cli_citta = 'Roma'");
  r->SetQueryOnly(true);
  ASSERT_TRUE(r->SetSelectionFormula("", &err_));
  ASSERT_TRUE(r->Run(&err_)) << err_.description;
  EXPECT_EQ(Lines(*r), (std::vector<std::string>{"Roma", "C004 | Caff\xE8 Ferrari | 16.000,00 | 31/12/2024",
                                                 "C002 | Verdi Anna | 3.000,00 | 01/06/2021"}));
  r->SetSqlQuery("SELECT nope FROM nowhere");
  EXPECT_FALSE(r->Run(&err_));
  EXPECT_EQ(err_.code, kErrData);
  // A server binding straight to the file.
  auto s = Open(vkt::testing::CustomerReport("", "admin.clienti1"));
  ASSERT_TRUE(s->ConnectServer(SA_SQLite_Client, dir_.path(), "ditta.db", "", "", &err_)) << err_.description;
  ASSERT_TRUE(s->Run(&err_)) << err_.description;
  EXPECT_EQ(s->row_count(), 6);
  // ISAM through a data source whose DBQ names the folder.
  ASSERT_EQ(vkt::win::RegCreateKeyPath(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI\\MIRTO"), ERROR_SUCCESS);
  ASSERT_EQ(vkt::win::RegSetValue(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI\\MIRTO", "DBQ", REG_SZ,
                                  dir_.path() + std::string(1, '\0')),
            ERROR_SUCCESS);
  auto i = Open(vkt::testing::CustomerReport());
  ASSERT_TRUE(i->ConnectDataSource("MIRTO", "", "", &err_));
  ASSERT_TRUE(i->Run(&err_)) << err_.description;
  EXPECT_EQ(i->row_count(), 6);
}

TEST_F(ReportTest, PdfPagesPaperAndPreview) {
  ASSERT_TRUE(vkt::testing::MakeIsamCustomers(dir_.path(), "molti", 400));
  auto r = Open(vkt::testing::CustomerReport("", "molti"));
  ASSERT_TRUE(r);
  ASSERT_TRUE(r->ConnectIsam(dir_.path(), &err_));
  int64_t last_rows = 0;
  int last_pages = 0, calls = 0;
  r->SetProgress([&](int64_t rows, int pages) {
    last_rows = rows;
    last_pages = pages;
    ++calls;
  });
  const std::string pdf = dir_ / "clienti.pdf";
  ASSERT_TRUE(r->ExportPdf(pdf, &err_)) << err_.description;
  EXPECT_EQ(last_rows, 400);
  EXPECT_EQ(last_pages, r->page_count());
  EXPECT_GE(calls, 1);
  EXPECT_GT(r->page_count(), 5);
  std::string info = vkt::testing::Capture("pdfinfo " + pdf);
  EXPECT_EQ(PdfPages(pdf), r->page_count()) << info;
  EXPECT_NE(info.find("595.276 x 841.89 pts (A4)"), std::string::npos) << info;
  std::string text = vkt::testing::Capture("pdftotext -layout " + pdf + " -");
  EXPECT_NE(text.find("Elenco clienti"), std::string::npos);
  EXPECT_NE(text.find("Cliente numero 000399"), std::string::npos);
  EXPECT_NE(text.find("Pagina 1 di " + std::to_string(r->page_count())), std::string::npos);

  // User paper in tenths of a millimetre, landscape.
  r->page_setup().paper = kPaperUser;
  r->page_setup().width_dmm = 1480;
  r->page_setup().length_dmm = 2100;
  r->page_setup().orientation = 2;
  ASSERT_TRUE(r->ExportPdf(pdf, &err_));
  info = vkt::testing::Capture("pdfinfo " + pdf);
  EXPECT_NE(info.find("595.276 x 419.528 pts"), std::string::npos) << info;
  EXPECT_FALSE(r->ExportPdf("/nonexistent/dir/x.pdf", &err_));
  EXPECT_EQ(err_.code, kErrOutput);

  // A page as an image, and the preview window painted on the canvas.
  r->page_setup() = PageSetup();
  ASSERT_TRUE(r->ExportPng(0, 50, dir_ / "p1.png", &err_)) << err_.description;
  EXPECT_EQ(vkt::testing::ReadFile(dir_ / "p1.png").substr(1, 3), "PNG");
  EXPECT_FALSE(r->ExportPng(999, 50, dir_ / "p2.png", &err_));
  EXPECT_EQ(err_.code, kErrRange);
  EXPECT_FALSE(r->Busy());
  {
    PreviewWindow w(r.get());
    ASSERT_TRUE(w.Open("Anteprima", 50, true, &err_)) << err_.description;
    EXPECT_TRUE(r->Busy());
    EXPECT_FALSE(r->ExportPdf(pdf, &err_));
    EXPECT_EQ(err_.code, kErrBusy);
    vkt::win::Image img = vkt::win::Render(&w);
    EXPECT_EQ(img.width, static_cast<int>(595.276 * 0.5) + 160);
    EXPECT_EQ(img.height, static_cast<int>(841.89 * 0.5));
    // The group band is grey, the page white with black text in it.
    EXPECT_EQ(img.At(2, img.height - 2), RGB(238, 238, 238));
    EXPECT_EQ(img.At(160 + 5, 5), RGB(255, 255, 255));
    int dark = 0;
    for (int y = 0; y < img.height; ++y)
      for (int x = 160; x < img.width; ++x)
        if (GetRValue(img.At(x, y)) < 128) ++dark;
    EXPECT_GT(dark, 500);
    ASSERT_TRUE(vkt::win::SavePng(&w, dir_ / "preview.png"));
    w.ShowPage(1);
    EXPECT_EQ(w.page(), 1);
    w.ShowPage(-3);
    EXPECT_EQ(w.page(), 1);
  }
  EXPECT_FALSE(r->Busy());
  r->HoldBusyForTest(2);
  EXPECT_TRUE(r->Busy());
  EXPECT_TRUE(r->Busy());
  EXPECT_FALSE(r->Busy());
}

TEST_F(ReportTest, SubreportsRunAfterTheMainBody) {
  ASSERT_TRUE(vkt::testing::MakeIsamInvoices(dir_.path(), "fatture"));
  auto r = Open(vkt::testing::CustomerReport(
      "SUBREPORT fatture\nTITLE \"Fatture\"\nTABLE fatture fatture\nPARAMETER soglia NUMBER\n"
      "COLUMN 20 \"Numero\" {fatture.fat_numero}\nSELECT {fatture.fat_importo} > {?soglia}\nEND\n"));
  ASSERT_TRUE(r);
  ASSERT_EQ(r->SubreportCount(), 1);
  Report* s = r->SubreportByName("FATTURE");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(r->Subreport(1), nullptr);
  EXPECT_EQ(r->Subreport(-1), nullptr);
  ASSERT_TRUE(r->ConnectIsam(dir_.path(), &err_));
  ASSERT_TRUE(s->ConnectIsam(dir_.path(), &err_));
  EXPECT_FALSE(r->Run(&err_));
  EXPECT_NE(err_.description.find("{?soglia}"), std::string::npos);
  ASSERT_TRUE(s->SetParameter("soglia", Value::Number(100), &err_));
  ASSERT_TRUE(r->Run(&err_)) << err_.description;
  ASSERT_EQ(r->page_count(), 2);
  EXPECT_EQ(r->PageText(1), (std::vector<std::string>{"Fatture", "Numero", "F1", "F2", "Pagina 2 di 2"}));
}

TEST_F(ReportTest, PrintsThePdfToAQueueWithCopies) {
  vkt::testing::ThrowawayCups cups;
  VKT_START_CUPS(cups);
  vkt::print_io::SetServer(cups.socket());
  auto r = Open(vkt::testing::CustomerReport());
  ASSERT_TRUE(r->ConnectIsam(dir_.path(), &err_));
  r->page_setup().copies = 3;
  r->page_setup().collated = false;
  ASSERT_TRUE(r->PrintOut("", &err_)) << err_.description;
  const std::string bytes = cups.WaitPdf("vkt-raw");
  ASSERT_EQ(bytes.substr(0, 5), "%PDF-");
  vkt::testing::WriteFile(dir_ / "printed.pdf", bytes);
  // One page, three copies, each copy beside the next.
  EXPECT_EQ(PdfPages(dir_ / "printed.pdf"), 3);
  EXPECT_FALSE(r->PrintOut("no-such-queue", &err_));
  EXPECT_EQ(err_.code, kErrOutput);
  vkt::print_io::SetServer("");
}

}  // namespace
