#include "print/enum_printers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/print/throwaway_cups.h"
#include "print/cups_queue.h"
#include "print/print_fixture.h"

namespace {

const HANDLE kInvalid = reinterpret_cast<HANDLE>(intptr_t{-1});

class EnumPrintersTest : public vkt::testing::PrintTest {
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
  void TearDown() override {
    for (HANDLE* h : {&mode_, &names_})
      if (*h != nullptr && *h != kInvalid) GlobalFree(*h);
    PrintTest::TearDown();
  }

  // The three names of a DEVNAMES block, by its offsets.
  static std::string Names(HANDLE h) {
    auto* b = static_cast<const char*>(GlobalLock(h));
    if (b == nullptr) return "(none)";
    DEVNAMES dn;
    std::memcpy(&dn, b, sizeof dn);
    std::string out = std::to_string(dn.wDriverOffset) + ":" + (b + dn.wDriverOffset) + "|" +
                      (b + dn.wDeviceOffset) + "|" + (b + dn.wOutputOffset) + "|" +
                      std::to_string(dn.wDefault);
    GlobalUnlock(h);
    return out;
  }
  static int Orientation(HANDLE h) {
    auto* dm = static_cast<const DEVMODEA*>(GlobalLock(h));
    int v = dm != nullptr ? dm->dmOrientation : -1;
    GlobalUnlock(h);
    return v;
  }

  static vkt::testing::ThrowawayCups* cups_;
  static std::string why_;
  HANDLE mode_ = nullptr;
  HANDLE names_ = nullptr;
};
vkt::testing::ThrowawayCups* EnumPrintersTest::cups_ = nullptr;
std::string EnumPrintersTest::why_;

TEST_F(EnumPrintersTest, ListsEveryPrinterOnceInFourParallelLists) {
  CEnumPrinters e;
  ASSERT_EQ(e.GetPrinterCount(), 3);
  EXPECT_EQ(e.GetPrinterName(0), "vkt-raw");
  EXPECT_EQ(e.GetPrinterLocation(0), "Ufficio");
  EXPECT_EQ(e.GetPrinterShareName(0), "");
  EXPECT_EQ(e.GetPrinterPortName(0).str(), "capture:" + cups_->CapturePath("vkt-raw"));
  EXPECT_EQ(e.GetPrinterName(1), "vkt-shared");
  EXPECT_EQ(e.GetPrinterShareName(1), "vkt-shared");
  EXPECT_EQ(e.GetPrinterLocation(1), "Magazzino");
  for (int bad : {3, -1, 1000}) {
    EXPECT_EQ(e.GetPrinterName(bad), "Error");
    EXPECT_EQ(e.GetPrinterLocation(bad), "Error");
    EXPECT_EQ(e.GetPrinterShareName(bad), "Error");
    EXPECT_EQ(e.GetPrinterPortName(bad), "Error");
  }
  e.ReadLocalPrinters();
  EXPECT_EQ(e.GetPrinterCount(), 3);
  EXPECT_EQ(e.GetPrinterName(3), "Error");
}

TEST_F(EnumPrintersTest, SetNewPrinterBuildsBlocksAndReleasesTheOldOnes) {
  CEnumPrinters e;
  ASSERT_TRUE(e.SetNewPrinter(mode_, names_, 1));
  EXPECT_EQ(GlobalSize(mode_), sizeof(DEVMODEA));
  auto* dm = static_cast<DEVMODEA*>(GlobalLock(mode_));
  ASSERT_NE(dm, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(dm->dmDeviceName), "vkt-shared");
  EXPECT_EQ(dm->dmSize, sizeof(DEVMODEA));
  EXPECT_EQ(dm->dmOrientation, DMORIENT_LANDSCAPE);  // the queue's default
  EXPECT_EQ(dm->dmCopies, 2);
  EXPECT_NE(dm->dmFields & DM_ORIENTATION, 0u);
  GlobalUnlock(mode_);
  const std::string port = "capture:" + cups_->CapturePath("vkt-shared");
  EXPECT_EQ(Names(names_), "8:winspool|vkt-shared|" + port + "|0");
  EXPECT_EQ(GlobalSize(names_), 8 + 9 + 11 + port.size() + 1);

  // The caller's blocks, even locked twice, are unlocked and freed.
  HANDLE old_mode = mode_, old_names = names_;
  GlobalLock(old_mode);
  GlobalLock(old_mode);
  GlobalLock(old_names);
  ASSERT_TRUE(e.SetNewPrinter(mode_, names_, CString("vkt-raw"), CString("DRV"), CString("LPT1:")));
  EXPECT_EQ(GlobalFlags(old_mode), GMEM_INVALID_HANDLE);
  EXPECT_EQ(GlobalFlags(old_names), GMEM_INVALID_HANDLE);
  EXPECT_EQ(Names(names_), "8:DRV|vkt-raw|LPT1:|0");
  EXPECT_EQ(Orientation(mode_), DMORIENT_PORTRAIT);

  // A printer that cannot be opened leaves the caller's blocks as they are.
  HANDLE keep_mode = mode_, keep_names = names_;
  EXPECT_FALSE(e.SetNewPrinter(mode_, names_, CString("nessuna"), CString("winspool"),
                               CString("x")));
  EXPECT_FALSE(e.SetNewPrinter(mode_, names_, 3));
  EXPECT_FALSE(e.SetNewPrinter(mode_, names_, -1));
  EXPECT_EQ(mode_, keep_mode);
  EXPECT_EQ(names_, keep_names);
  EXPECT_EQ(Names(names_), "8:DRV|vkt-raw|LPT1:|0");
}

TEST_F(EnumPrintersTest, OrientationOnlyIntoARealSettingsBlock) {
  CEnumPrinters e;
  ASSERT_TRUE(e.SetNewPrinter(mode_, names_, 0));
  EXPECT_TRUE(e.SetPrintOrientation(mode_, 2));
  EXPECT_EQ(Orientation(mode_), 2);
  EXPECT_FALSE(e.SetPrintOrientation(mode_, 3));
  EXPECT_FALSE(e.SetPrintOrientation(mode_, 0));
  EXPECT_EQ(Orientation(mode_), 2);
  HANDLE invalid = kInvalid, none = nullptr;
  EXPECT_FALSE(e.SetPrintOrientation(invalid, 1));
  EXPECT_FALSE(e.SetPrintOrientation(none, 1));
  HANDLE small = GlobalAlloc(GHND, 10);  // too small to hold the settings
  EXPECT_FALSE(e.SetPrintOrientation(small, 1));
  GlobalFree(small);
}

TEST_F(EnumPrintersTest, SelectionIsSavedAndRestoredThroughTheProfile) {
  CEnumPrinters e;
  ASSERT_TRUE(e.SetNewPrinter(mode_, names_, 1));
  ASSERT_TRUE(e.SetPrintOrientation(mode_, 1));
  ASSERT_TRUE(e.SavePrinterSelection(mode_, names_));
  EXPECT_EQ(fake_.GetProfileString("PrinterConfig", "PrinterName", ""), "vkt-shared");
  EXPECT_EQ(fake_.GetProfileString("PrinterConfig", "Spooler", ""), "winspool");
  EXPECT_EQ(fake_.GetProfileString("PrinterConfig", "Port", ""),
            "capture:" + cups_->CapturePath("vkt-shared"));
  EXPECT_EQ(fake_.GetProfileString("PrinterConfig", "Landscape", ""), "1");

  // Restored: the saved printer, with the saved orientation over its default.
  HANDLE mode = nullptr, names = nullptr;
  ASSERT_TRUE(e.RestorePrinterSelection(mode, names));
  EXPECT_EQ(Orientation(mode), 1);
  EXPECT_EQ(Names(names).substr(0, 21), "8:winspool|vkt-shared");
  GlobalFree(mode);
  GlobalFree(names);

  // Without settings the orientation saved is 1; without names nothing is saved.
  HANDLE invalid = kInvalid;
  fake_.WriteProfileString("PrinterConfig", "Landscape", "2");
  ASSERT_TRUE(e.SavePrinterSelection(invalid, names_));
  EXPECT_EQ(fake_.GetProfileString("PrinterConfig", "Landscape", ""), "1");
  EXPECT_FALSE(e.SavePrinterSelection(mode_, invalid));
  HANDLE none = nullptr;
  EXPECT_FALSE(e.SavePrinterSelection(mode_, none));
  // A names block whose offsets point outside it is refused, not read.
  HANDLE bogus = GlobalAlloc(GHND, 12);
  auto* b = static_cast<WORD*>(GlobalLock(bogus));
  b[0] = 8;
  b[1] = 500;
  b[2] = 9;
  GlobalUnlock(bogus);
  EXPECT_FALSE(e.SavePrinterSelection(mode_, bogus));
  GlobalFree(bogus);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(EnumPrintersTest, PrinterNoLongerInstalledIsWarnedAbout) {
  CEnumPrinters e;
  fake_.WriteProfileString("PrinterConfig", "PrinterName", "Vecchia Laser");
  fake_.WriteProfileString("PrinterConfig", "Spooler", "winspool");
  fake_.WriteProfileString("PrinterConfig", "Port", "LPT1:");
  EXPECT_FALSE(e.RestorePrinterSelection(mode_, names_));
  EXPECT_EQ(mode_, nullptr);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0],
            "Warning : Unable to re-select your preffered printer\nas it is no longer "
            "available. The system default printer\nwill be used.");

  // The comparison is exact, and an incomplete selection is no selection.
  fake_.ClearTranscript();
  fake_.WriteProfileString("PrinterConfig", "PrinterName", "VKT-RAW");
  EXPECT_FALSE(e.RestorePrinterSelection(mode_, names_));
  EXPECT_EQ(Shown().size(), 1u);
  fake_.ClearTranscript();
  fake_.WriteProfileString("PrinterConfig", "PrinterName", "vkt-raw");
  fake_.WriteProfileString("PrinterConfig", "Port", "");
  EXPECT_FALSE(e.RestorePrinterSelection(mode_, names_));
  EXPECT_TRUE(Shown().empty());
}

}  // namespace
