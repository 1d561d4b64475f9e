// `vkt demo` end to end: the demo archive's customers come out as a PDF
// report with their invoices after them.
#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace {

TEST(ReportDemoTest, DemoWritesTheCustomerListAsPdf) {
  vkt::testing::TempDir dir("rptdemo");
  const vkt::testing::CommandResult r = vkt::testing::RunCommand(
      std::string(VKT_BINARY) + " demo --dir " +
      dir.path() + " 2>&1 </dev/null");
  ASSERT_EQ(r.code, 0) << r.out;
  const std::string pdf = dir / "clienti.pdf";
  EXPECT_NE(r.out.find(pdf + ": 2 pagine, 5 clienti (data source VKT, DBQ " + (dir / "archivio") + ")"),
            std::string::npos)
      << r.out;
  // The terminal shows the pages in UTF-8.
  EXPECT_NE(r.out.find("  C00004 | Caff\xC3\xA8 Ferrari S.n.c. | FRRGPP65T10A662U | 02468135799 | Bari\n"),
            std::string::npos);
  const std::string text = vkt::testing::Capture("pdftotext -layout " + pdf + " -");
  EXPECT_NE(text.find("Elenco clienti"), std::string::npos) << text;
  EXPECT_NE(text.find("Fatture per cliente"), std::string::npos);
  EXPECT_NE(text.find("Caff\xC3\xA8 Ferrari S.n.c."), std::string::npos);
  EXPECT_NE(text.find("5.002,00"), std::string::npos);  // 4.100,00 plus 22%
  EXPECT_NE(text.find("Pagina 2 di 2"), std::string::npos);
  // The refused customer is not in the archive, so not in the report.
  EXPECT_EQ(text.find("Sbagliata"), std::string::npos);
  // The data source the demo registered lives in its own folder.
  EXPECT_NE(vkt::testing::ReadFile(dir / "registry/HKEY_CURRENT_USER.reg").size(), 0u);
}

}  // namespace
