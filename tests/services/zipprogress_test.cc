// The ZIP progress window: its status line for every event, sizes as
// unsigned kilobytes, and its button stopping a real archive being written.
#include "services/zipprogress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "frame/vktapp.h"
#include "win/driver.h"
#include "win/services.h"

namespace {

namespace fs = std::filesystem;

class ZipProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vkt::win::ResetWindows();
    ASSERT_TRUE(owner_.Create("Frame", "Mirto", WS_POPUP | WS_VISIBLE, CRect(0, 0, 800, 600), nullptr, 0));
    ASSERT_EQ(sink_.m_dlg.Create(&owner_), 1);
    dir_ = fs::temp_directory_path() / ("vkt-zipprog-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "dati");
  }
  void TearDown() override {
    sink_.m_dlg.DestroyWindow();
    vkt::win::ResetWindows();
    fs::remove_all(dir_);
  }
  std::string Status() {
    return sink_.m_dlg.GetDlgItem(IDC_VKT_PROGRESS_STATUS)->GetWindowTextString().str();
  }
  void Cancel() { ui_.Press(VK_ESCAPE); }

  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
  vkt::win::Driver ui_;
  CWnd owner_;
  CVKTChilkatZipProgress sink_;
  fs::path dir_;
};

TEST_F(ZipProgressTest, EveryEventShowsItsStatusLine) {
  bool abort = false;
  sink_.ToBeAdded("/dati/a.txt", 1536, &abort);
  EXPECT_EQ(Status(), "Aggiunta File /dati/a.txt (1.5 KB)");
  sink_.FileAdded("/dati/a.txt", 4294967295u, &abort);
  EXPECT_EQ(Status(), "File Aggiunto /dati/a.txt (4194304.0 KB)");
  sink_.DirToBeAdded("/dati/sub", &abort);
  EXPECT_EQ(Status(), "Aggiunta Directory /dati/sub");
  sink_.ToBeZipped("a.txt", 2048, &abort);
  EXPECT_EQ(Status(), "Compressione a.txt (2.0 KB)");
  sink_.FileZipped("a.txt", 2048, 100, &abort);
  EXPECT_EQ(Status(), "Fine Compressione a.txt (2.0 KB)");
  sink_.ToBeUnzipped("a.txt", 512, 2048, &abort);
  EXPECT_EQ(Status(), "Decompressione a.txt (0.5 - 2.0 KB)");
  sink_.FileUnzipped("a.txt", 512, 2048, &abort);
  EXPECT_EQ(Status(), "Fine Decompressione a.txt (0.5 - 2.0 KB)");
  const std::pair<void (CVKTChilkatZipProgress::*)(), const char*> plain[] = {
      {&CVKTChilkatZipProgress::AddFilesBegin, "Inizio Aggiunta File..."},
      {&CVKTChilkatZipProgress::AddFilesEnd, "Fine Aggiunta File..."},
      {&CVKTChilkatZipProgress::WriteZipBegin, "Inizio Scrittura File..."},
      {&CVKTChilkatZipProgress::WriteZipEnd, "Fine Scrittura File..."},
      {&CVKTChilkatZipProgress::UnzipBegin, "Inizio Decompressione..."},
      {&CVKTChilkatZipProgress::UnzipEnd, "Fine Decompressione..."},
  };
  for (auto& [event, text] : plain) {
    (sink_.*event)();
    EXPECT_EQ(Status(), text);
  }
  sink_.PercentDone(40, &abort);
  EXPECT_EQ(sink_.m_dlg.m_bar.GetPos(), 40);
  EXPECT_FALSE(abort);
  // A path longer than the status buffer is cut, never written past it.
  std::string long_path(2000, 'x');
  sink_.ToBeAdded(long_path.c_str(), 0, &abort);
  EXPECT_EQ(Status().size(), 459u);
}

TEST_F(ZipProgressTest, CancelReachesOnlyTheEventsThatCheckIt) {
  bool abort = false;
  Cancel();
  sink_.ToBeAdded("a", 1, &abort);
  sink_.DirToBeAdded("d", &abort);
  EXPECT_FALSE(abort);
  sink_.ToBeZipped("a", 1, &abort);
  EXPECT_TRUE(abort);
  abort = false;
  sink_.FileZipped("a", 1, 1, &abort);  // one press, one abort
  EXPECT_FALSE(abort);
  using Event = void (*)(CVKTChilkatZipProgress&, bool*);
  const Event checking[] = {
      [](CVKTChilkatZipProgress& s, bool* a) { s.FileAdded("a", 1, a); },
      [](CVKTChilkatZipProgress& s, bool* a) { s.FileZipped("a", 1, 1, a); },
      [](CVKTChilkatZipProgress& s, bool* a) { s.PercentDone(50, a); },
      [](CVKTChilkatZipProgress& s, bool* a) { s.AbortCheck(a); },
      [](CVKTChilkatZipProgress& s, bool* a) { s.ToBeUnzipped("a", 1, 1, a); },
      [](CVKTChilkatZipProgress& s, bool* a) { s.FileUnzipped("a", 1, 1, a); },
  };
  for (Event e : checking) {
    abort = false;
    Cancel();
    e(sink_, &abort);
    EXPECT_TRUE(abort);
  }
}

// The user presses the button while the second file is being compressed.
class ImpatientUser : public CVKTChilkatZipProgress {
 public:
  void ToBeZipped(const char* path, uint32_t size, bool* abort) override {
    if (++zipped == 2) {
      vkt::win::QueueKey(VK_ESCAPE, true);
      vkt::win::QueueKey(VK_ESCAPE, false);
    }
    CVKTChilkatZipProgress::ToBeZipped(path, size, abort);
  }
  int zipped = 0;
};

TEST_F(ZipProgressTest, TheButtonStopsARealArchive) {
  for (int i = 0; i < 4; ++i) {
    std::ofstream f(dir_ / "dati" / ("file" + std::to_string(i) + ".txt"));
    f << std::string(3000, static_cast<char>('a' + i));
  }
  ImpatientUser user;
  ASSERT_EQ(user.m_dlg.Create(&owner_), 1);
  CkZip zip;
  zip.put_EventCallbackObject(&user);
  const fs::path out = dir_ / "dati.zip";
  ASSERT_TRUE(zip.NewZip(out.string()));
  ASSERT_TRUE(zip.AppendFiles((dir_ / "dati").string(), true));
  EXPECT_EQ(zip.get_NumEntries(), 5);  // the folder and its four files
  EXPECT_FALSE(zip.WriteZip());
  EXPECT_NE(zip.LastErrorText().find("abort"), std::string::npos) << zip.LastErrorText();
  EXPECT_EQ(user.zipped, 2);  // stopped at the file in hand
  EXPECT_FALSE(fs::exists(out));
  user.m_dlg.DestroyWindow();

  // Without a press the archive is written and the last line says so.
  CVKTChilkatZipProgress calm;
  ASSERT_EQ(calm.m_dlg.Create(&owner_), 1);
  CkZip again;
  again.put_EventCallbackObject(&calm);
  ASSERT_TRUE(again.NewZip(out.string()));
  ASSERT_TRUE(again.AppendFiles((dir_ / "dati").string(), true));
  ASSERT_TRUE(again.WriteZip()) << again.LastErrorText();
  EXPECT_TRUE(fs::exists(out));
  EXPECT_EQ(calm.m_dlg.GetDlgItem(IDC_VKT_PROGRESS_STATUS)->GetWindowTextString(),
            CString("Fine Scrittura File..."));
  calm.m_dlg.DestroyWindow();
}

}  // namespace
