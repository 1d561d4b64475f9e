// `vkt view`, the companion viewer, run as the library starts it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <thread>

#include "frame/vktapp.h"
#include "test_util.h"
#include "print/printer.h"

namespace {

using vkt::testing::Capture;
using vkt::testing::ReadFile;
using vkt::testing::TempDir;

using Result = vkt::testing::CommandResult;

Result View(const std::string& args) {
  return vkt::testing::RunCommand(std::string(VKT_BINARY) + " view " + args + " 2>&1 </dev/null");
}

int PageCount(const std::string& pdf) {
  std::smatch m;
  std::string info = Capture("pdfinfo " + pdf + " 2>/dev/null");
  return std::regex_search(info, m, std::regex("Pages:\\s+([0-9]+)")) ? std::stoi(m[1]) : -1;
}

// Two pages of three rows, as CPrinter writes them.
std::string Pages() {
  return "Caff\xE8 1\r\n      \r\nriga 3\r\n"
         "pag 2 \r\n      \r\n      \r\n";
}

TEST(ViewCliTest, PlainPagesWhenNotATerminal) {
  TempDir dir;
  vkt::testing::WriteFile(dir / "VKTabc", Pages());
  Result r = View("-t -m=0 -r=3 " + dir / "VKTabc");
  EXPECT_EQ(r.code, 0) << r.out;
  // UTF-8 for the terminal, a form feed between pages.
  EXPECT_EQ(r.out, "Caff\xC3\xA8 1\n      \nriga 3\n\fpag 2 \n      \n      \n");
  // Control bytes never reach the terminal.
  vkt::testing::WriteFile(dir / "esc", "\x1b[2Jx\r\n");
  r = View("-t -r=66 " + dir / "esc");
  EXPECT_EQ(r.out, " [2Jx\n");
}

TEST(ViewCliTest, WritesThePagesAsPdf) {
  if (std::system("command -v pdfinfo >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "pdfinfo missing: run scripts/install-deps (poppler-utils)";
  TempDir dir;
  vkt::testing::WriteFile(dir / "VKTabc", Pages());
  Result r = View("-t -m=1 -r=3 -c " + dir / "VKTabc --pdf " + dir / "out.pdf");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(PageCount(dir / "out.pdf"), 2);
  std::string text = Capture("pdftotext -layout " + dir / "out.pdf -");
  EXPECT_NE(text.find("Caff\xC3\xA8 1"), std::string::npos) << text;
  EXPECT_NE(text.find("pag 2"), std::string::npos) << text;
}

TEST(ViewCliTest, RefusesArgumentsThatAreNotItsOwn) {
  TempDir dir;
  vkt::testing::WriteFile(dir / "f", Pages());
  for (const std::string& bad : {std::string("-t -r=3"), "-t -x " + dir / "f", "-t -r=0 " + dir / "f",
                                 "-t -r=abc " + dir / "f", "-t -m= " + dir / "f",
                                 "-t " + dir / "f" + " " + dir / "f", std::string("--pdf")}) {
    Result r = View(bad);
    EXPECT_EQ(r.code, 2) << bad << ": " << r.out;
    EXPECT_NE(r.out.find("uso: vkt view"), std::string::npos) << bad;
  }
  Result r = View("-t -r=3 " + dir / "manca");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("file non leggibile"), std::string::npos);
  r = View("-t -r=3 " + dir / "f --pdf " + dir / "manca/out.pdf");
  EXPECT_EQ(r.code, 1);
}

TEST(ViewCliTest, LibraryStartsTheViewerOnItsTemporaryFile) {
  // The real outside world: the library's Output spawns `vkt view` through
  // the shell seam, with --pdf in front of the Part's own arguments.
  if (std::system("command -v pdfinfo >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "pdfinfo missing: run scripts/install-deps (poppler-utils)";
  TempDir dir;
  const std::string pdf = dir / "visto.pdf";
  setenv("VKT_TEXT_VIEWER", (std::string(VKT_BINARY) + " view --pdf " + pdf).c_str(), 1);
  VKTAPPPARAM par;
  std::memset(&par, 0, sizeof par);
  std::strncpy(par.path, dir.path().c_str(), sizeof par.path - 1);
  std::system(("mkdir -p " + dir / "tmp").c_str());
  vktpar = &par;
  CPrinter p("Visto", 4, 20, 0);
  p.SetOutput(CPrinter::kToViewer);
  ASSERT_EQ(p.Open(nullptr, nullptr), 0);
  for (int page = 1; page <= 3; ++page) {
    p.Clear();
    p.page = page;
    p.PagNum();
    p.Goto(2, 0);
    p.Center("VIAGGIO");
    p.Flush();
  }
  EXPECT_EQ(p.Output(), 0);
  EXPECT_EQ(p.Close(), 0);
  vktpar = nullptr;
  unsetenv("VKT_TEXT_VIEWER");
  int pages = -1;
  for (int i = 0; i < 200 && pages < 0; ++i) {
    pages = PageCount(pdf);
    if (pages < 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(pages, 3);
  EXPECT_NE(Capture("pdftotext -layout " + pdf + " -").find("Pag.     3"), std::string::npos);
}

}  // namespace
