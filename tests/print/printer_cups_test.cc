// The printer channel against a private scheduler: the exact bytes a raw
// queue's device receives.
#include <gtest/gtest.h>

#include <string>

#include "platform/print/throwaway_cups.h"
#include "print/cups_queue.h"
#include "print/print_fixture.h"
#include "print/printer.h"

namespace {

class PrinterCupsTest : public vkt::testing::PrintTest {
 protected:
  static void SetUpTestSuite() {
    cups_ = new vkt::testing::ThrowawayCups();
    if (cups_->Start(&why_)) vkt::print_io::SetServer(cups_->socket());
  }
  static void TearDownTestSuite() {
    vkt::print_io::SetServer("");
    delete cups_;
    cups_ = nullptr;
  }
  void SetUp() override {
    PrintTest::SetUp();
    ASSERT_TRUE(why_.empty()) << why_;
  }

  static vkt::testing::ThrowawayCups* cups_;
  static std::string why_;
};
vkt::testing::ThrowawayCups* PrinterCupsTest::cups_ = nullptr;
std::string PrinterCupsTest::why_;

TEST_F(PrinterCupsTest, FlushSendsTheCondensedPageAndCutOfEachPrinterType) {
  const std::string page = "AB \r\n  Z\r\n";
  const std::string cut = "\x1d\xf8\x1b\x69";
  struct Case {
    const char* type;
    std::string on, off;
  } cases[] = {{"1", "\x1b(s16.67H", "\x1b(s10H"},
               {"2", "\x1b&k2S", "\x1b&k0S"},
               {"0", "\x0f", "\x12"},
               {"", "\x0f", "\x12"}};
  for (const Case& c : cases) {
    fake_.WriteProfileString("Settings", "PrinterType", c.type);
    CPrinter p("Condensata", 2, 3, 1);
    p.SetNotchCustom(1);
    ASSERT_EQ(p.Open(nullptr, "vkt-raw"), 0) << c.type;
    EXPECT_NE(+p.job, 0u);
    p.Clear();
    p.Put("AB");
    p.Goto(1, 2);
    p.Put("Z");
    ASSERT_EQ(p.Flush(), 0);
    // A second page, plain.
    p.compressed = 0;
    p.notch = 0;
    p.Clear();
    ASSERT_EQ(p.Flush(), 0);
    ASSERT_EQ(p.Close(), 0);
    std::string expected = c.on + page + cut + c.off + "   \r\n   \r\n";
    EXPECT_EQ(cups_->WaitCapture("vkt-raw", expected.size()), expected) << "type " << c.type;
  }
  EXPECT_TRUE(Shown().empty());
}

TEST_F(PrinterCupsTest, SetUpDialogTakesTheDefaultQueueUnlessTheHostCancels) {
  CPrinter p("Dal dialogo", 1, 2, 0);
  ASSERT_EQ(p.Open(nullptr, nullptr), 0);
  p.Clear();
  p.Put("OK");
  p.Flush();
  ASSERT_EQ(p.Close(), 0);
  EXPECT_EQ(cups_->WaitCapture("vkt-raw", 4), "OK\r\n");

  g_dialog_answer = IDCANCEL;
  CPrinter q("Annullata", 1, 2, 0);
  EXPECT_EQ(q.Open(nullptr, nullptr), CPrinter::kCancelled);
  EXPECT_EQ(q.Flush(), CPrinter::kCancelled);
  EXPECT_EQ(q.Close(), CPrinter::kCancelled);
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(cups_->WaitCapture("vkt-raw", 1, 1500), "");
}

TEST_F(PrinterCupsTest, RawBytesOnAPrinterWithoutPage) {
  CPrinter p("Scontrino", 0, 40, 0);
  ASSERT_EQ(p.Open(nullptr, "vkt-shared"), 0);
  EXPECT_EQ(p.StartPage(), 0);
  EXPECT_EQ(p.Stampa("ABC", 1), 0);
  EXPECT_EQ(p.Stampa("DE", 0), 0);
  EXPECT_EQ(p.Flush(), 0);  // no page: nothing of its own to send
  EXPECT_EQ(p.EndPage(), 0);
  EXPECT_EQ(p.Close(), 0);
  EXPECT_EQ(cups_->WaitCapture("vkt-shared", 6), std::string("ABC\0DE", 6));
}

TEST_F(PrinterCupsTest, RefusedQueuesGiveTheirStatusAndMessage) {
  CPrinter p("Nessuna", 2, 10, 0);
  EXPECT_EQ(p.Open(nullptr, "nessuna"), CPrinter::kOpenPrinter);
  EXPECT_EQ(p.Close(), CPrinter::kOpenPrinter);
  CPrinter q("Ferma", 2, 10, 0);
  EXPECT_EQ(q.Open(nullptr, "vkt-stopped"), CPrinter::kStartJob);
  EXPECT_EQ(+q.printer, nullptr);
  EXPECT_EQ(q.Close(), CPrinter::kStartJob);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"Impossibile aprire la stampante selezionata!",
                                               "Impossibile inizializzare il Job di Stampa!"}));
  // Page calls and Output on a file printer: no printer to talk to.
  CPrinter f("File", 1, 4, 0);
  f.SetOutput(CPrinter::kToFile);
  ASSERT_EQ(f.Open("/dev/null", nullptr), 0);
  EXPECT_EQ(f.Stampa("X", 0), CPrinter::kWritePrinter);
}

TEST_F(PrinterCupsTest, PrinterNeverClosedPrintsNothing) {
  {
    CPrinter p("Dimenticata", 1, 4, 0);
    ASSERT_EQ(p.Open(nullptr, "vkt-raw"), 0);
    p.Clear();
    p.Put("META");
    ASSERT_EQ(p.Flush(), 0);
  }
  EXPECT_EQ(cups_->WaitCapture("vkt-raw", 1, 2000), "");
  // Output has nothing to hand over on the printer channel.
  CPrinter q("Stampante", 1, 4, 0);
  ASSERT_EQ(q.Open(nullptr, "vkt-raw"), 0);
  EXPECT_EQ(q.Output(), 0);
  EXPECT_EQ(q.Close(), 0);
  EXPECT_TRUE(fake_.shell_calls().empty());
}

}  // namespace
