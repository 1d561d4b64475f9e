#include "print/text_document.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "test_util.h"

namespace vkt::print_io {
namespace {

using vkt::testing::Capture;
using vkt::testing::TempDir;

TEST(TextDocumentTest, SplitsWholePagesByRowsAndFormFeeds) {
  // Seven lines of three-line pages: 3 + 3 + 1.
  std::string bytes;
  for (int i = 1; i <= 7; ++i) bytes += "riga " + std::to_string(i) + "\r\n";
  std::vector<TextPage> pages = SplitTextPages(bytes, 3);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0], (TextPage{"riga 1", "riga 2", "riga 3"}));
  EXPECT_EQ(pages[2], (TextPage{"riga 7"}));

  // LF and lone CR end lines too; bytes stay Windows-1252.
  pages = SplitTextPages("a\nCaff\xE8\rc", 0);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0], (TextPage{"a", "Caff\xE8", "c"}));

  // A form feed ends a page early; right after a full page it adds none.
  pages = SplitTextPages("a\r\nb\r\n\fc\r\nd\r\ne\r\nf\r\n\fg\f", 3);
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_EQ(pages[0], (TextPage{"a", "b"}));
  EXPECT_EQ(pages[1], (TextPage{"c", "d", "e"}));
  EXPECT_EQ(pages[2], (TextPage{"f"}));
  EXPECT_EQ(pages[3], (TextPage{"g"}));

  EXPECT_TRUE(SplitTextPages("", 66).empty());
  // Blank lines are kept: a page is its rows, not its text.
  pages = SplitTextPages("   \r\n\r\nx\r\n", 3);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0], (TextPage{"   ", "", "x"}));
}

// xMin of the first word `word` in `pdftotext -bbox` output.
double XOf(const std::string& bbox, const std::string& word) {
  std::smatch m;
  std::regex re("<word xMin=\"([0-9.]+)\"[^>]*>" + word + "</word>");
  if (!std::regex_search(bbox, m, re)) return -1;
  return std::stod(m[1]);
}

int PageCount(const std::string& pdf) {
  std::smatch m;
  std::string info = Capture("pdfinfo " + pdf);
  return std::regex_search(info, m, std::regex("Pages:\\s+([0-9]+)")) ? std::stoi(m[1]) : -1;
}

TEST(TextDocumentTest, PdfHasOnePagePerTextPageAtThePrintersPitch) {
  if (std::system("command -v pdftotext >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "pdftotext missing: run scripts/install-deps (poppler-utils)";
  TempDir dir;
  std::vector<TextPage> pages = {{"Caff\xE8 Centrale", "A         B"}, {"seconda"}, {"terza"}};
  std::string error;
  TextLayout plain{3, false, 0};
  ASSERT_TRUE(WriteTextPdf(pages, plain, dir / "a.pdf", &error)) << error;
  EXPECT_EQ(PageCount(dir / "a.pdf"), 3);
  std::string text = Capture("pdftotext -layout " + dir / "a.pdf -");
  EXPECT_NE(text.find("Caff\xC3\xA8 Centrale"), std::string::npos) << text;
  EXPECT_NE(text.find("seconda"), std::string::npos);

  // Column 10 sits ten cells right of column 0: 7.2 pt a cell at 10 cpi,
  // 72 / 16.67 condensed on printer type 1, 72 / 17.14 on the others.
  std::string bbox = Capture("pdftotext -bbox " + dir / "a.pdf -");
  EXPECT_NEAR(XOf(bbox, "B") - XOf(bbox, "A"), 72.0, 0.5);
  TextLayout pcl{3, true, 1};
  ASSERT_TRUE(WriteTextPdf(pages, pcl, dir / "c.pdf", &error)) << error;
  bbox = Capture("pdftotext -bbox " + dir / "c.pdf -");
  EXPECT_NEAR(XOf(bbox, "B") - XOf(bbox, "A"), 720.0 / 16.67, 0.5);
  TextLayout dot{3, true, 0};
  ASSERT_TRUE(WriteTextPdf(pages, dot, dir / "d.pdf", &error)) << error;
  bbox = Capture("pdftotext -bbox " + dir / "d.pdf -");
  EXPECT_NEAR(XOf(bbox, "B") - XOf(bbox, "A"), 720.0 / 17.14, 0.5);

  // A line wider than the paper is scaled to fit, never cut.
  std::vector<TextPage> wide = {{std::string(199, '-') + "Z"}};
  ASSERT_TRUE(WriteTextPdf(wide, plain, dir / "w.pdf", &error)) << error;
  bbox = Capture("pdftotext -bbox " + dir / "w.pdf -");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(bbox, m, std::regex("xMax=\"([0-9.]+)\"[^>]*>-+Z</word>")));
  EXPECT_LE(std::stod(m[1]), 595.3 - 36 + 0.5);
  EXPECT_GT(std::stod(m[1]), 500.0);

  // No pages still makes a valid PDF of one blank page.
  ASSERT_TRUE(WriteTextPdf({}, plain, dir / "e.pdf", &error)) << error;
  EXPECT_EQ(PageCount(dir / "e.pdf"), 1);
}

TEST(TextDocumentTest, UnwritablePdfIsReported) {
  std::string error;
  EXPECT_FALSE(WriteTextPdf({{"x"}}, TextLayout{}, "/nessuna/cartella/x.pdf", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vkt::print_io
