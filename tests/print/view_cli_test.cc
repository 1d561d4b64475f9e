// `vkt view`, the companion viewer, run as the library starts it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "frame/vktapp.h"
#include "print/printer.h"
#include "test_util.h"
#include "win/services.h"

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

// --- The real start of a program (SystemServices::ShellExecute) --------------

// A program that writes, in the folder it was started in, that folder, its
// process id, its argv[0] and each argument in brackets, one to a line. It
// never evaluates what it was given.
constexpr const char kEcho[] =
    "#!/bin/sh\n"
    "{ pwd -P; echo $$; printf '%s\\n' \"$0\"; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; }"
    " > .seen.tmp && mv .seen.tmp seen.txt\n";

void WriteProgram(const std::string& path, const std::string& text, mode_t mode) {
  vkt::testing::WriteFile(path, text);
  chmod(path.c_str(), mode);
}

// The lines of `file` once the program has written it (empty after 10 s).
std::vector<std::string> WaitLines(const std::string& file) {
  for (int i = 0; i < 200 && access(file.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::vector<std::string> lines;
  std::string text = ReadFile(file), line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  return lines;
}

// True once process `pid` is gone altogether: ended and collected (a zombie
// still answers signal 0).
bool Collected(pid_t pid) {
  for (int i = 0; i < 200; ++i) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

std::string Canonical(const std::string& path) { return std::filesystem::canonical(path).string(); }

TEST(ShellExecuteTest, StartsTheProgramInItsFolderWithEveryWordLiterally) {
  TempDir dir;
  const std::string program = dir / "eco";
  WriteProgram(program, kEcho, 0755);
  const std::string folder = dir / "cartella con spazio";
  std::filesystem::create_directories(folder);
  vkt::SystemServices real;
  // Shell syntax of every kind: none of it may be run or expanded.
  const std::string params =
      "-t  \"con spazio\" it's \"say \\\"hi\\\"\" \"$(touch pwned)\" ; `touch pwned2` $HOME * "
      "a\\b \"\" x|y>z fine";
  ASSERT_TRUE(real.ShellExecute(program, params, folder, 3));
  const std::vector<std::string> seen = WaitLines(folder + "/seen.txt");
  ASSERT_EQ(seen.size(), 17u) << ReadFile(folder + "/seen.txt");
  EXPECT_EQ(seen[0], Canonical(folder));
  EXPECT_EQ(seen[2], program);
  EXPECT_EQ(std::vector<std::string>(seen.begin() + 3, seen.end()),
            (std::vector<std::string>{"[-t]", "[con spazio]", "[it's]", "[say \"hi\"]",
                                      "[$(touch pwned)]", "[;]", "[`touch]", "[pwned2`]", "[$HOME]",
                                      "[*]", "[a\\b]", "[]", "[x|y>z]", "[fine]"}));
  for (const char* f : {"pwned", "pwned2", "z"}) {
    EXPECT_NE(access((folder + "/" + f).c_str(), F_OK), 0) << f;
    EXPECT_NE(access((dir / f).c_str(), F_OK), 0) << f;
  }
  // Once it ends it is collected: no zombie stays behind.
  EXPECT_TRUE(Collected(static_cast<pid_t>(std::stol(seen[1]))));

  // A bare name is found on the path; no folder keeps the caller's.
  EXPECT_TRUE(real.ShellExecute("true", "", "", 3));
}

TEST(ShellExecuteTest, AProgramThatCannotStartIsAFailureAtOnce) {
  TempDir dir;
  vkt::SystemServices real;
  WriteProgram(dir / "eco", kEcho, 0755);
  WriteProgram(dir / "non-eseguibile", kEcho, 0644);
  // Executable by its mode, but neither a script nor a program.
  WriteProgram(dir / "rotto", std::string("\x7f" "ELF? no\0\1\2", 11), 0755);
  EXPECT_FALSE(real.ShellExecute(dir / "manca", "-t x", dir.path(), 3));
  EXPECT_FALSE(real.ShellExecute("nessun-programma-vkt", "", dir.path(), 3));
  EXPECT_FALSE(real.ShellExecute(dir / "non-eseguibile", "", dir.path(), 3));
  EXPECT_FALSE(real.ShellExecute(dir / "rotto", "", dir.path(), 3));
  // A folder that cannot be entered: the program is not started elsewhere.
  EXPECT_FALSE(real.ShellExecute(dir / "eco", "", dir / "manca", 3));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_NE(access((dir / "seen.txt").c_str(), F_OK), 0);
}

// CPrinter's Output on the real outside world: the viewer of
// $VKT_TEXT_VIEWER started on the temporary file, or status 13.
class RealViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&par_, 0, sizeof par_);
    std::filesystem::create_directories(home_ + "/tmp");
    std::strncpy(par_.path, home_.c_str(), sizeof par_.path - 1);
    vktpar = &par_;
    real_.SetProfilePath(dir_ / "profilo.ini");
    real_.WriteProfileString("Settings", "PrinterType", "1");
  }
  void TearDown() override {
    vktpar = nullptr;
    unsetenv("VKT_TEXT_VIEWER");
  }
  short PrintOnePage(std::string* name) {
    CPrinter p("Visto", 2, 8, 1);
    p.SetOutput(CPrinter::kToViewer);
    if (p.Open(nullptr, nullptr) != 0) return p.status;
    *name = p.temp_name;
    p.Clear();
    p.Put("Caff\xE8");
    p.Flush();
    const short s = p.Output();
    p.Close();
    return s;
  }

  TempDir dir_;
  const std::string home_ = dir_ / "ditta uno";
  VKTAPPPARAM par_;
  vkt::SystemServices real_;
  vkt::ScopedServices use_{&real_};
};

TEST_F(RealViewerTest, TheViewerGetsTheCommandLineAsWordsInTheFilesFolder) {
  const std::string program = dir_ / "eco";
  WriteProgram(program, kEcho, 0755);
  setenv("VKT_TEXT_VIEWER", (program + " --pdf \"$(id).pdf\"").c_str(), 1);
  std::string name;
  ASSERT_EQ(PrintOnePage(&name), 0);
  ASSERT_EQ(name.find(home_ + "/tmp/VKT"), 0u) << name;
  const std::vector<std::string> seen = WaitLines(home_ + "/tmp/seen.txt");
  ASSERT_EQ(seen.size(), 10u) << ReadFile(home_ + "/tmp/seen.txt");
  EXPECT_EQ(seen[0], Canonical(home_ + "/tmp"));
  EXPECT_EQ(seen[2], program);
  EXPECT_EQ(std::vector<std::string>(seen.begin() + 3, seen.end()),
            (std::vector<std::string>{"[--pdf]", "[$(id).pdf]", "[-t]", "[-m=1]", "[-r=2]", "[-c]",
                                      "[" + name + "]"}));
  // The file is whole when the viewer gets it.
  EXPECT_EQ(ReadFile(name), "Caff\xE8   \r\n        \r\n");
  EXPECT_TRUE(Collected(static_cast<pid_t>(std::stol(seen[1]))));
}

TEST_F(RealViewerTest, AViewerThatIsMissingOrCannotRunGivesStatus13) {
  std::string name;
  setenv("VKT_TEXT_VIEWER", (dir_ / "manca").c_str(), 1);
  EXPECT_EQ(PrintOnePage(&name), CPrinter::kViewer);
  // Found and executable by its mode, but exec refuses it.
  WriteProgram(dir_ / "rotto", std::string("\x7f" "ELF? no\0\1\2", 11), 0755);
  setenv("VKT_TEXT_VIEWER", (dir_ / "rotto -x").c_str(), 1);
  EXPECT_EQ(PrintOnePage(&name), CPrinter::kViewer);
  // A script whose interpreter is missing fails in exec as well.
  WriteProgram(dir_ / "senza-interprete", "#!/nessuna/shell\n", 0755);
  setenv("VKT_TEXT_VIEWER", (dir_ / "senza-interprete").c_str(), 1);
  EXPECT_EQ(PrintOnePage(&name), CPrinter::kViewer);
}

}  // namespace
