// The progress dialog over real loops: the percentage text, the owner kept
// disabled, cancelling by the button, Escape or Enter, counts beyond 16
// bits, calls after the window went, and a quit request left for the
// application's loop.
#include "dialog_fixture.h"
#include "dialogs/vktprogressdlg.h"

namespace {

using vkt::test::DialogTest;

class ProgressTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    ASSERT_TRUE(owner_.Create("Frame", "Mirto", WS_POPUP | WS_VISIBLE, CRect(0, 0, 800, 600), nullptr, 0));
  }
  std::string Percent(CVKTProgressDlg& dlg) {
    return dlg.GetDlgItem(IDC_VKT_PROGRESS_PERCENT)->GetWindowTextString().str();
  }
  CWnd owner_;
};

// The user: presses a key on the focused window once the virtual clock
// reaches the time set.
class ScheduledKey : public CWnd {
 public:
  ScheduledKey(UINT vk, UINT after_ms) : vk_(vk) {
    Create("Timer", "", WS_POPUP, CRect(0, 0, 1, 1), nullptr, 0);
    SetTimer(1, after_ms);
  }
  void OnTimer(uintptr_t) override {
    KillTimer(1);
    vkt::win::QueueKey(vk_, true);
    vkt::win::QueueKey(vk_, false);
  }

 private:
  UINT vk_;
};

TEST_F(ProgressTest, PercentageCaptionAndTheOwner) {
  CVKTProgressDlg dlg;
  EXPECT_EQ(dlg.StepIt(), 0);  // before Create: nothing
  EXPECT_EQ(dlg.SetPos(5), 0);
  ASSERT_EQ(dlg.Create(&owner_), 1);
  EXPECT_FALSE(owner_.IsWindowEnabled());
  EXPECT_EQ(dlg.GetWindowTextString(), CString("Attendere .."));
  EXPECT_EQ(Percent(dlg), " 0 %");
  BYTE alpha = 0;
  ASSERT_TRUE(vkt::win::GetLayeredWindowAttributes(dlg.m_hWnd, nullptr, &alpha, nullptr));
  EXPECT_EQ(alpha, 230);
  dlg.SetStatus("Esportazione clienti");
  EXPECT_EQ(dlg.GetDlgItem(IDC_VKT_PROGRESS_STATUS)->GetWindowTextString(), CString("Esportazione clienti"));
  EXPECT_EQ(dlg.SetPos(25), 0);
  EXPECT_EQ(Percent(dlg), "Completato 25.0%");
  EXPECT_EQ(dlg.OffsetPos(5), 25);
  EXPECT_EQ(Percent(dlg), "Completato 30.0%");
  EXPECT_EQ(dlg.SetStep(20), 10);
  EXPECT_EQ(dlg.StepIt(), 30);
  EXPECT_EQ(Percent(dlg), "Completato 50.0%");
  EXPECT_EQ(dlg.m_bar.GetPos(), 50);
  // Past the upper end: the text's upper end follows.
  dlg.SetPos(150);
  EXPECT_EQ(Percent(dlg), "Completato 150.0%");
  EXPECT_EQ(dlg.upper(), 150);
  dlg.SetPos(75);
  EXPECT_EQ(Percent(dlg), "Completato 50.0%");
  // An empty range leaves the text as it was.
  dlg.SetRange(10, 10);
  dlg.SetPos(10);
  EXPECT_EQ(Percent(dlg), "Completato 50.0%");
  dlg.HideProgress(true);
  EXPECT_FALSE(dlg.m_bar.IsWindowVisible());
  dlg.HideProgress(false);
  EXPECT_TRUE(dlg.m_bar.IsWindowVisible());
  dlg.HideCancel();
  EXPECT_FALSE(dlg.m_cancel.IsWindowVisible());
  EXPECT_TRUE(dlg.DestroyWindow());
  EXPECT_TRUE(owner_.IsWindowEnabled());
  // Gone: every call answers 0 and touches nothing.
  EXPECT_EQ(dlg.SetPos(3), 0);
  EXPECT_EQ(dlg.OffsetPos(3), 0);
  EXPECT_EQ(dlg.StepIt(), 0);
  EXPECT_EQ(dlg.CheckCancelButton(), 0);
  dlg.SetStatus("x");
  EXPECT_EQ(dlg.SetStep(5), 20);

  // A disabled owner stays disabled.
  owner_.EnableWindow(FALSE);
  CVKTProgressDlg second(IDS_VKT_ATTENDERE);
  ASSERT_EQ(second.Create(&owner_), 1);
  second.DestroyWindow();
  EXPECT_FALSE(owner_.IsWindowEnabled());
}

TEST_F(ProgressTest, CountsBeyondSixteenBitsAreNotCut) {
  CVKTProgressDlg dlg;
  ASSERT_EQ(dlg.Create(&owner_), 1);
  dlg.SetRange(0, 120000);
  dlg.SetPos(90000);
  EXPECT_EQ(dlg.m_bar.GetPos(), 90000);
  int lower = -1, upper = -1;
  dlg.m_bar.GetRange(lower, upper);
  EXPECT_EQ(upper, 120000);
  EXPECT_EQ(Percent(dlg), "Completato 75.0%");
}

TEST_F(ProgressTest, EscapeTwiceBeforeACheckCancelsOnce) {
  CVKTProgressDlg dlg;
  ASSERT_EQ(dlg.Create(&owner_), 1);
  ui_.Press(VK_ESCAPE);
  ui_.Press(VK_ESCAPE);
  EXPECT_NE(dlg.CheckCancelButton(), 0);
  EXPECT_EQ(dlg.CheckCancelButton(), 0);
  EXPECT_TRUE(dlg.IsWindowVisible());  // cancelling never closes it
  // Enter on the button cancels; a click on it too.
  ui_.Focus(&dlg.m_cancel);
  ui_.Press(VK_RETURN);
  EXPECT_NE(dlg.CheckCancelButton(), 0);
  ASSERT_TRUE(ui_.Click(&dlg.m_cancel));
  EXPECT_NE(dlg.CheckCancelButton(), 0);
  // Enter elsewhere moves on as Tab would and cancels nothing.
  CButton other;
  ASSERT_TRUE(other.Create("Dettagli", WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(5, 80, 80, 100), &dlg, 77));
  ui_.Focus(&other);
  ui_.Press(VK_RETURN);
  EXPECT_EQ(ui_.focus(), &dlg.m_cancel);
  EXPECT_EQ(dlg.CheckCancelButton(), 0);
}

TEST_F(ProgressTest, TheUserCancelsALongLoop) {
  CVKTProgressDlg dlg;
  ASSERT_EQ(dlg.Create(&owner_), 1);
  const int total = 100000;
  dlg.SetRange(0, total);
  dlg.SetStatus("Ricalcolo saldi");
  ScheduledKey user(VK_ESCAPE, 2500);  // the user gives up after 2.5 s
  int done = 0;
  for (int i = 0; i < total; ++i) {
    fake_.Sleep(1);  // one millisecond of work per record
    ++done;
    dlg.SetPos(i + 1);
    if (i == 1234) {
      ASSERT_TRUE(vkt::win::SavePng(&dlg, vkt::test::SnapshotPath("progress.png")));
    }
    if (dlg.CheckCancelButton()) break;
  }
  EXPECT_GE(done, 2500);
  EXPECT_LE(done, 2600);
  EXPECT_EQ(dlg.m_bar.GetPos(), done);
  dlg.DestroyWindow();
  EXPECT_TRUE(owner_.IsWindowEnabled());
}

TEST_F(ProgressTest, AQuitRequestIsLeftForTheApplicationsLoop) {
  CVKTProgressDlg dlg;
  ASSERT_EQ(dlg.Create(&owner_), 1);
  ::PostQuitMessage(3);
  ::PostMessage(dlg.m_hWnd, WM_NULL, 0, 0);
  dlg.SetPos(10);
  EXPECT_EQ(dlg.m_bar.GetPos(), 10);
  MSG msg;
  ASSERT_TRUE(::PeekMessage(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
  dlg.StepIt();
  EXPECT_FALSE(::PeekMessage(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

}  // namespace
