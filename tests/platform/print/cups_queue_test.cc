#include "print/cups_queue.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/print/throwaway_cups.h"

namespace vkt::print_io {
namespace {

class CupsQueueTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    cups_ = new vkt::testing::ThrowawayCups();
    if (!cups_->Start(&why_)) return;
    SetServer(cups_->socket());
  }
  static void TearDownTestSuite() {
    SetServer("");
    delete cups_;
    cups_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(why_.empty()) << why_; }

  static vkt::testing::ThrowawayCups* cups_;
  static std::string why_;
};
vkt::testing::ThrowawayCups* CupsQueueTest::cups_ = nullptr;
std::string CupsQueueTest::why_;

TEST_F(CupsQueueTest, ListsQueuesWithLocationShareDeviceAndDefaults) {
  std::vector<PrinterInfo> all = ListPrinters();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].name, "vkt-raw");
  EXPECT_EQ(all[0].location, "Ufficio");
  EXPECT_EQ(all[0].share_name, "");
  EXPECT_EQ(all[0].port_name, "capture:" + cups_->CapturePath("vkt-raw"));
  EXPECT_TRUE(all[0].is_default);
  EXPECT_EQ(all[1].name, "vkt-shared");
  EXPECT_EQ(all[1].location, "Magazzino");
  EXPECT_EQ(all[1].share_name, "vkt-shared");
  EXPECT_FALSE(all[1].is_default);
  EXPECT_EQ(all[2].name, "vkt-stopped");

  std::string def;
  ASSERT_TRUE(DefaultPrinter(&def));
  EXPECT_EQ(def, "vkt-raw");

  PrinterSettings s;
  ASSERT_TRUE(GetPrinterSettings("vkt-shared", &s));
  EXPECT_EQ(s.orientation, 2);
  EXPECT_EQ(s.copies, 2);
  ASSERT_TRUE(GetPrinterSettings("vkt-raw", &s));
  EXPECT_EQ(s.orientation, 1);
  EXPECT_EQ(s.copies, 1);
  EXPECT_FALSE(GetPrinterSettings("nessuna", &s));
  EXPECT_FALSE(GetPrinterSettings("", &s));
}

TEST_F(CupsQueueTest, RawDocumentReachesTheDeviceByteForByte) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  bytes += "\x1b(s16.67HRiga\r\n\f";
  std::string error;
  auto q = RawQueue::Open("vkt-raw", &error);
  ASSERT_TRUE(q) << error;
  ASSERT_TRUE(q->StartDocument("Prova")) << q->error();
  EXPECT_GT(q->job_id(), 0);
  ASSERT_TRUE(q->StartPage());
  ASSERT_TRUE(q->Write(bytes.data(), 100));
  ASSERT_TRUE(q->Write(bytes.data() + 100, bytes.size() - 100));
  ASSERT_TRUE(q->EndPage());
  ASSERT_TRUE(q->EndDocument()) << q->error();
  EXPECT_EQ(cups_->WaitCapture("vkt-raw", bytes.size()), bytes);

  // The queue takes a second document after the first.
  ASSERT_TRUE(q->StartDocument("Seconda"));
  ASSERT_TRUE(q->Write("XY", 2));
  ASSERT_TRUE(q->EndDocument());
  EXPECT_EQ(cups_->WaitCapture("vkt-raw", 2), "XY");
}

TEST_F(CupsQueueTest, RefusalsAreReportedNotSwallowed) {
  std::string error;
  EXPECT_FALSE(RawQueue::Open("nessuna", &error));
  EXPECT_NE(error.find("nessuna"), std::string::npos);
  EXPECT_FALSE(RawQueue::Open("", &error));

  auto q = RawQueue::Open("vkt-raw", &error);
  ASSERT_TRUE(q);
  // No document yet: nothing to write to or end.
  EXPECT_FALSE(q->Write("A", 1));
  EXPECT_FALSE(q->StartPage());
  EXPECT_FALSE(q->EndDocument());

  // A stopped queue that accepts no jobs refuses the document.
  auto stopped = RawQueue::Open("vkt-stopped", &error);
  ASSERT_TRUE(stopped) << error;
  EXPECT_FALSE(stopped->StartDocument("Rifiutato"));
  EXPECT_FALSE(stopped->error().empty());

  // No scheduler at all.
  SetServer("/tmp/vkt-no-such-scheduler.sock");
  EXPECT_TRUE(ListPrinters().empty());
  std::string def;
  EXPECT_FALSE(DefaultPrinter(&def));
  EXPECT_FALSE(RawQueue::Open("vkt-raw", &error));
  SetServer(cups_->socket());
  EXPECT_EQ(ListPrinters().size(), 3u);
}

TEST_F(CupsQueueTest, UnfinishedDocumentIsCancelledNotPrinted) {
  std::string error;
  {
    auto q = RawQueue::Open("vkt-raw", &error);
    ASSERT_TRUE(q);
    ASSERT_TRUE(q->StartDocument("Abbandonato"));
    ASSERT_TRUE(q->Write("MEZZA PAGINA", 12));
  }
  EXPECT_EQ(cups_->WaitCapture("vkt-raw", 1, 2000), "");
  // A document without bytes is withdrawn, not refused; the queue goes on.
  auto q = RawQueue::Open("vkt-raw", &error);
  ASSERT_TRUE(q);
  ASSERT_TRUE(q->StartDocument("Vuoto"));
  EXPECT_TRUE(q->EndDocument()) << q->error();
  ASSERT_TRUE(q->StartDocument("Dopo"));
  ASSERT_TRUE(q->Write("OK", 2));
  ASSERT_TRUE(q->EndDocument());
  EXPECT_EQ(cups_->WaitCapture("vkt-raw", 2), "OK");
}

}  // namespace
}  // namespace vkt::print_io
