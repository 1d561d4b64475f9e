#include "print/printer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/julian.h"
#include "print/cups_queue.h"
#include "print/print_fixture.h"

namespace {

using vkt::testing::ReadFile;

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      had_ = true;
      old_ = old;
    }
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_) setenv(name_.c_str(), old_.c_str(), 1);
    else unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

class PrinterTest : public vkt::testing::PrintTest {
 protected:
  // Line `r` of the page, without its CR LF.
  static std::string Line(const CPrinter& p, int r) {
    return std::string(p.page_buffer + static_cast<size_t>(r) * p.width, p.width - 2);
  }
  // A page in memory: file channel to a file of our own.
  void OpenPage(CPrinter& p) {
    ASSERT_EQ(p.SetOutput(CPrinter::kToFile), 0);
    ASSERT_EQ(p.Open((dir_ / "pagina.txt").c_str(), nullptr), 0);
    ASSERT_EQ(p.Clear(), 0);
  }
};

TEST_F(PrinterTest, PutCutsAtTheLastColumnAndNeverLeavesThePage) {
  CPrinter p("Prova", 3, 80, 0);
  OpenPage(p);
  std::string hundred(100, 'x');
  p.Goto(0, 70);
  p.Put(hundred.c_str(), 0);
  EXPECT_EQ(+p.col, 80);
  EXPECT_EQ(Line(p, 0), std::string(70, ' ') + std::string(10, 'x'));
  // At or past the end of the line, and outside the rows, nothing is written.
  p.Put("y", 0);
  p.Goto(0, 79);
  p.Put("zz", 0);
  EXPECT_EQ(Line(p, 0).substr(78), "xz");
  for (auto [r, c] : {std::pair{-1, 0}, {3, 0}, {4000000, 0}, {1, -1}, {1, INT32_MIN}}) {
    p.Goto(r, c);
    p.Put("ABC", 0);
    EXPECT_EQ(+p.col, c);
  }
  EXPECT_EQ(Line(p, 1), std::string(80, ' '));
  EXPECT_EQ(Line(p, 2), std::string(80, ' '));
  // Every line still ends in CR LF, and the buffer in its terminator.
  for (int r = 0; r < 3; ++r) EXPECT_EQ(std::string(+p.page_buffer + r * 82 + 80, 2), "\r\n");
  EXPECT_EQ(+p.page_buffer[3 * 82], '\0');

  // An explicit length passes NUL bytes as blanks; a long text needs the
  // allocated work copy.
  p.Goto(1, 2);
  p.Put("A\0B", 3);
  EXPECT_EQ(Line(p, 1).substr(0, 6), "  A B ");
  std::string long_text(300, 'L');
  p.Goto(2, 0);
  p.Put(long_text.c_str(), 300);
  EXPECT_EQ(Line(p, 2), std::string(80, 'L'));
  EXPECT_EQ(p.Put("x", -5), 0);
  p.PutChar('!');
  EXPECT_EQ(p.Close(), 0);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(PrinterTest, CenterSerialAndPageNumbers) {
  CPrinter p("Prova", 6, 20, 0);
  OpenPage(p);
  p.Goto(0, 0);
  p.Center("TITOLO");  // (20 - 6) / 2 = 7
  EXPECT_EQ(Line(p, 0), "       TITOLO       ");
  EXPECT_EQ(+p.col, 13);
  p.Goto(1, 0);
  p.Center("un titolo troppo lungo per la riga");
  EXPECT_EQ(Line(p, 1), "un titolo troppo lun");
  p.Goto(2, 5);
  p.Serial('-', 0);  // a whole line, cut at its end
  EXPECT_EQ(Line(p, 2), "     ---------------");
  p.Goto(3, 0);
  p.Serial('=', 4000000000u);  // never allocated: only 20 fit
  EXPECT_EQ(Line(p, 3), std::string(20, '='));
  p.page = 3;
  p.Goto(4, 0);
  p.AnnoPagNum(2025);
  EXPECT_EQ(Line(p, 4), "    Pag. 2025-3     ");
  p.Goto(5, 0);
  p.PagNum();
  EXPECT_EQ(Line(p, 5), "Pag.     3          ");
  p.page = 123456;
  p.Goto(4, 0);
  p.AnnoPagNum(2025);
  EXPECT_EQ(Line(p, 4).substr(0, 15), "Pag. 2025-12345");  // longer than 15: whole, cut at the line
  EXPECT_EQ(p.Close(), 0);
}

TEST_F(PrinterTest, SerialBeyondTheWorkCopyUsesTheHeap) {
  CPrinter p("Prova", 1, 500, 0);
  OpenPage(p);
  p.Serial('*', 450);
  EXPECT_EQ(Line(p, 0), std::string(450, '*') + std::string(50, ' '));
  EXPECT_EQ(+p.col, 450);
}

TEST_F(PrinterTest, NumbersFollowTheFieldRules) {
  CPrinter p("Prova", 12, 40, 0);
  OpenPage(p);
  auto num = [&](int r, double v, unsigned w, int d, int th, int zero, int fill, int trim) {
    p.Goto(r, 0);
    p.Num(v, w, d, th, zero, fill, trim);
    return Line(p, r).substr(0, w);
  };
  EXPECT_EQ(num(0, 1234.5, 10, 2, 0, 1, 0, 0), "   1234,50");
  EXPECT_EQ(num(1, 1234.5, 10, 2, 1, 1, 0, 0), "  1.234,50");
  EXPECT_EQ(num(2, 0, 5, 0, 0, 0, 0, 0), "     ");
  EXPECT_EQ(num(3, 0, 5, 0, 0, 1, 0, 0), "    0");
  EXPECT_EQ(num(4, 12, 6, 2, 0, 1, 0, 1), " 12   ");
  EXPECT_EQ(num(5, 12.5, 6, 2, 0, 1, 0, 1), " 12,50");
  EXPECT_EQ(num(6, 42, 6, 0, 0, 1, 1, 0), "000042");
  EXPECT_EQ(num(7, -1234567.891, 14, 3, 1, 1, 0, 0), "-1.234.567,891");
  EXPECT_EQ(num(8, 1.5, 12, 99, 0, 1, 0, 0), "    1,500000");  // other decimals: 6
  EXPECT_EQ(+p.number_too_short, 0);
  EXPECT_EQ(num(9, 123456, 3, 0, 0, 1, 0, 0), "***");
  EXPECT_EQ(+p.number_too_short, 1);
  // The largest double with 15 decimals is 326 characters: no overflow,
  // just asterisks in a narrow field and the whole number in a wide one.
  EXPECT_EQ(num(10, 1e308, 20, 15, 0, 1, 0, 0), std::string(20, '*'));
  p.Goto(11, 0);
  p.Num(1e308, 400, 15, 0, 1, 0, 0);
  EXPECT_EQ(Line(p, 11), std::string(40, ' '));  // 75 leading blanks, cut at 40
  EXPECT_EQ(+p.col, 40);

  EXPECT_EQ(p.Close(), 0);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0], "Campo Numerico troppo corto.\n\nSar\xE0 riempito con *!");
}

TEST_F(PrinterTest, DatesOfDayNumbersAndToday) {
  CPrinter p("Prova", 3, 30, 0);
  OpenPage(p);
  int32_t day = DateToJulian(TimestampToDate("2025-02-03 00:00:00"), 0);
  ASSERT_NE(day, 0);
  p.Goto(0, 0);
  p.Data(day);
  p.Put("|");
  p.Data(0);
  p.Put("|");
  EXPECT_EQ(Line(p, 0), "03/02/2025|          |        ");
  p.Goto(1, 0);
  p.Data(-999999999);
  p.Put("|");
  EXPECT_EQ(Line(p, 1).substr(0, 11), "          |");
  // The scripted clock: 3 February 2025, 09:07:05 UTC.
  p.Goto(2, 0);
  p.Day();
  EXPECT_EQ(Line(p, 2), "Data : 03/02/2025             ");
}

TEST_F(PrinterTest, FileChannelGetsWholePagesExactly) {
  const std::string path = dir_ / "stampa.txt";
  CPrinter p("Prova", 2, 4, 1);
  p.notch = 1;  // printer sequences never go to a file
  ASSERT_EQ(p.SetOutput(CPrinter::kToFile), 0);
  ASSERT_EQ(p.Open(path.c_str(), nullptr), 0);
  p.Clear();
  p.Put("AB");
  p.Goto(1, 3);
  p.Put("Z");
  ASSERT_EQ(p.Flush(), 0);
  p.Clear();
  p.Goto(1, 0);
  p.Put("\xE8");
  ASSERT_EQ(p.Flush(), 0);
  ASSERT_EQ(p.Close(), 0);
  EXPECT_EQ(ReadFile(path), "AB  \r\n   Z\r\n    \r\n\xE8   \r\n");
  // The host named the file: nothing to hand to the viewer.
  EXPECT_TRUE(fake_.shell_calls().empty());
}

TEST_F(PrinterTest, TemporaryFileGoesToTheViewerWithItsCommandLine) {
  ScopedEnv viewer("VKT_TEXT_VIEWER", "/bin/true view");
  fake_.WriteProfileString("Settings", "PrinterType", "1");
  CPrinter p("Prova", 2, 3, 1);
  ASSERT_EQ(p.SetOutput(CPrinter::kToViewer), 0);
  ASSERT_EQ(p.Open(nullptr, nullptr), 0);
  ASSERT_NE(+p.temp_name, nullptr);
  const std::string name = p.temp_name;
  EXPECT_EQ(name.rfind(dir_ / "tmp/VKT", 0), 0u) << name;
  struct stat st;
  ASSERT_EQ(stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  p.Clear();
  p.Put("abc");
  p.Flush();
  ASSERT_EQ(p.Output(), 0);
  // The file is complete before the viewer sees it, and is not deleted.
  EXPECT_EQ(+p.file, nullptr);
  EXPECT_EQ(ReadFile(name), "abc\r\n   \r\n");
  ASSERT_EQ(fake_.shell_calls().size(), 1u);
  EXPECT_EQ(fake_.shell_calls()[0],
            "/bin/true|view -t -m=1 -r=2 -c " + name + "|" + dir_ / "tmp" + "|3");
  EXPECT_EQ(p.Close(), 0);
  EXPECT_TRUE(Shown().empty());

  // Printer types beyond 2 give no -m; not condensed, no -c; a blank in the
  // name keeps it one argument.
  fake_.WriteProfileString("Settings", "PrinterType", "7");
  std::string spaced = dir_ / "con spazio";
  mkdir(spaced.c_str(), 0755);
  mkdir((spaced + "/tmp").c_str(), 0755);
  std::strncpy(par_.path, spaced.c_str(), sizeof par_.path - 1);
  CPrinter q("Prova", 66, 80, 0);
  ASSERT_EQ(q.SetOutput(CPrinter::kToFile), 0);
  ASSERT_EQ(q.Open(nullptr, nullptr), 0);
  const std::string qname = q.temp_name;
  ASSERT_EQ(q.Output(), 0);
  EXPECT_EQ(fake_.shell_calls()[1],
            "/bin/true|view -t -r=66 \"" + qname + "\"|" + spaced + "/tmp|3");
  EXPECT_EQ(q.Close(), 0);
}

TEST_F(PrinterTest, ViewerThatDoesNotStartIsReported) {
  {
    ScopedEnv viewer("VKT_TEXT_VIEWER", "/bin/true");
    fake_.SetShellResult(false);
    CPrinter p("Prova", 1, 10, 0);
    p.SetOutput(CPrinter::kToFile);
    ASSERT_EQ(p.Open(nullptr, nullptr), 0);
    EXPECT_EQ(p.Output(), CPrinter::kViewer);
    EXPECT_EQ(p.Close(), CPrinter::kViewer);
  }
  {
    ScopedEnv viewer("VKT_TEXT_VIEWER", "/nessuna/rizavu");
    fake_.SetShellResult(true);
    CPrinter p("Prova", 1, 10, 0);
    p.SetOutput(CPrinter::kToFile);
    ASSERT_EQ(p.Open(nullptr, nullptr), 0);
    EXPECT_EQ(p.Output(), CPrinter::kViewer);
    EXPECT_EQ(p.Close(), CPrinter::kViewer);
  }
  EXPECT_EQ(fake_.shell_calls().size(), 1u);
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_EQ(Shown()[0], "Impossibile avviare il visualizzatore di stampa!");
  EXPECT_EQ(fake_.transcript()[0].type, MB_OK | MB_ICONSTOP);
}

TEST_F(PrinterTest, ErrorsAreStickyAndCloseReportsThem) {
  CPrinter p("Prova", 2, 10, 0);
  EXPECT_EQ(p.SetOutput(3), CPrinter::kBadOutput);
  EXPECT_EQ(p.SetOutput(0), CPrinter::kBadOutput);  // sticky
  EXPECT_EQ(p.Open((dir_ / "x.txt").c_str(), nullptr), CPrinter::kBadOutput);
  EXPECT_EQ(+p.page_buffer, nullptr);
  EXPECT_EQ(p.Close(), CPrinter::kBadOutput);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0], "Periferica di Output non Valida!");
  EXPECT_EQ(fake_.transcript()[0].type, MB_OK | MB_ICONSTOP);

  fake_.ClearTranscript();
  CPrinter q("Prova", 2, 10, 0);
  q.SetOutput(CPrinter::kToFile);
  EXPECT_EQ(q.Open((dir_ / "manca/x.txt").c_str(), nullptr), CPrinter::kCreateFile);
  EXPECT_EQ(q.Put("abc"), CPrinter::kCreateFile);
  EXPECT_EQ(q.Close(), CPrinter::kCreateFile);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Impossibile creare il file di appoggio!"});
}

TEST_F(PrinterTest, DataLostOnTheFileIsAnError) {
  // /dev/full takes the buffered page and fails when it is written out.
  CPrinter p("Prova", 2, 10, 0);
  p.SetOutput(CPrinter::kToFile);
  ASSERT_EQ(p.Open("/dev/full", nullptr), 0);
  p.Clear();
  p.Flush();
  EXPECT_EQ(p.Close(), CPrinter::kWriteFile);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Errore di scrittura su file!"});

  // A page flushed before any file is open is a write error, not a crash.
  CPrinter q("Prova", 2, 10, 0);
  q.SetOutput(CPrinter::kToFile);
  q.Open("/dev/null", nullptr);
  q.SetOutput(CPrinter::kToPrinter);
  EXPECT_EQ(q.Flush(), CPrinter::kPage);
}

TEST_F(PrinterTest, BadGeometryIsRefusedAndZeroRowsHasNoPage) {
  for (auto [rows, cols] : {std::pair{-1, 80}, {2, -3}, {2, INT32_MAX}, {100000, 100000}}) {
    CPrinter p("Prova", rows, cols, 0);
    p.SetOutput(CPrinter::kToFile);
    EXPECT_EQ(p.Open("/dev/null", nullptr), CPrinter::kAllocFailed) << rows << "x" << cols;
    EXPECT_EQ(+p.page_buffer, nullptr);
  }
  EXPECT_EQ(Shown().size(), 0u);

  const std::string path = dir_ / "vuota.txt";
  CPrinter z("Prova", 0, 80, 0);
  z.SetOutput(CPrinter::kToFile);
  ASSERT_EQ(z.Open(path.c_str(), nullptr), 0);
  EXPECT_EQ(+z.page_buffer, nullptr);
  z.Clear();
  z.Put("niente");
  z.Serial('-', 0);
  z.Num(12, 5, 0, 0, 1, 0, 0);
  z.Center("niente");
  EXPECT_EQ(z.Flush(), 0);
  // Raw page calls need a printer.
  EXPECT_EQ(z.StartPage(), CPrinter::kPage);
  EXPECT_EQ(z.Close(), CPrinter::kPage);
  EXPECT_EQ(ReadFile(path), "");
  EXPECT_EQ(z.GetMaxCol(), 80);
  EXPECT_EQ(z.GetMaxRow(), 0);
}

TEST_F(PrinterTest, CloseTwiceAndDestroyReleaseOnce) {
  // Run under the sanitizers: any second free or close shows there.
  auto p = std::make_unique<CPrinter>("Prova", 3, 10, 0);
  p->SetOutput(CPrinter::kToViewer);
  ASSERT_EQ(p->Open(nullptr, nullptr), 0);
  const std::string name = p->temp_name;
  ASSERT_EQ(p->Close(), 0);
  EXPECT_EQ(+p->page_buffer, nullptr);
  EXPECT_EQ(+p->file, nullptr);
  EXPECT_EQ(p->Close(), 0);
  // Open again on the same object starts over.
  ASSERT_EQ(p->Open(nullptr, nullptr), 0);
  EXPECT_NE(std::string(+p->temp_name), name);
  ASSERT_EQ(p->Open(nullptr, nullptr), 0);
  p.reset();
  // A document name is the printer's own copy.
  std::string doc = "Nome documento";
  CPrinter q(doc.c_str(), 1, 1, 0);
  doc.assign(doc.size(), 'X');
  EXPECT_STREQ(q.document.pDocName, "Nome documento");
  EXPECT_STREQ(q.document.pDatatype, "RAW");
  EXPECT_EQ(+q.document.pOutputFile, nullptr);
}

TEST_F(PrinterTest, PrinterChoiceWithoutSchedulerOrCancelled) {
  vkt::print_io::SetServer("/tmp/vkt-no-such-scheduler.sock");
  CPrinter p("Prova", 2, 10, 0);
  EXPECT_EQ(p.Open(nullptr, "Laser"), CPrinter::kOpenPrinter);
  EXPECT_EQ(p.Close(), CPrinter::kOpenPrinter);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Impossibile aprire la stampante selezionata!"});

  // The host's TestDlg turns the set-up dialog into a cancel: status 7,
  // and nothing shown.
  fake_.ClearTranscript();
  g_dialog_answer = IDCANCEL;
  CPrinter q("Prova", 2, 10, 0);
  EXPECT_EQ(q.Open(nullptr, nullptr), CPrinter::kCancelled);
  EXPECT_EQ(q.Close(), CPrinter::kCancelled);
  EXPECT_TRUE(Shown().empty());
  vkt::print_io::SetServer("");
}

TEST_F(PrinterTest, PrinterSettingsFromTheProfile) {
  EXPECT_EQ(GetPrinterType(), 0);
  EXPECT_EQ(GetPrinterRow(), 66);
  fake_.WriteProfileString("Settings", "PrinterType", "2");
  fake_.WriteProfileString("Settings", "PrinterRow", "72x");
  EXPECT_EQ(GetPrinterType(), 2);
  EXPECT_EQ(GetPrinterRow(), 72);
  fake_.WriteProfileString("Settings", "PrinterType", "laser");
  fake_.WriteProfileString("Settings", "PrinterRow", "0");
  EXPECT_EQ(GetPrinterType(), 0);
  EXPECT_EQ(GetPrinterRow(), 66);
  fake_.WriteProfileString("Settings", "PrinterRow", "99999999999999");
  EXPECT_EQ(GetPrinterRow(), INT_MAX);
}

}  // namespace
