#include "dialogs/vktprogressdlg.h"

#include <cstdio>

#include "win/appwnd.h"
#include "win/winconst.h"

namespace {
// A message that keeps posting itself must not hold the operation forever.
constexpr int kMaxPumpedPerCall = 10000;
}  // namespace

CVKTProgressDlg::CVKTProgressDlg(UINT caption_id)
    : CVKTDialog(IDD_VKT_PROGRESS, nullptr), caption_id_(caption_id != 0 ? caption_id : IDS_VKT_ATTENDERE) {
  ShowGradient(0);
}

CVKTProgressDlg::~CVKTProgressDlg() {
  if (Alive()) DestroyWindow();
}

int CVKTProgressDlg::Create(CWnd* parent) {
  vkt::dialogs::RegisterDialogResources();
  vkt::win::RegisterProgressClass();
  CWnd* owner = parent ? parent->GetTopLevelParent() : AfxGetMainWnd();
  owner_ = owner ? owner->m_hWnd : nullptr;
  owner_disabled_ = FALSE;
  if (owner_ && ::IsWindowEnabled(owner_)) {
    ::EnableWindow(owner_, FALSE);
    owner_disabled_ = TRUE;
  }
  if (!CDialog::Create(IDD_VKT_PROGRESS, owner)) {
    if (owner_disabled_ && IsWindow(owner_)) ::EnableWindow(owner_, TRUE);
    owner_disabled_ = FALSE;
    return 0;
  }
  return 1;
}

void CVKTProgressDlg::DoDataExchange(CDataExchange* dx) {
  CVKTDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_VKT_PROGRESS_BAR, m_bar);
  DDX_Control(dx, IDCANCEL, m_cancel);
}

BOOL CVKTProgressDlg::OnInitDialog() {
  CVKTDialog::OnInitDialog();
  SetTransparent(230);
  // The 32-bit range from the start: a count above 32767 is not cut.
  m_bar.SetRange32(lower_, upper_);
  m_bar.SetStep(step_);
  m_bar.SetPos(lower_);
  SetWindowText(vkt::dialogs::LoadResourceString(caption_id_).c_str());
  return TRUE;
}

void CVKTProgressDlg::SetStatus(const char* text) {
  if (!Alive()) return;
  if (CWnd* s = GetDlgItem(IDC_VKT_PROGRESS_STATUS)) s->SetWindowText(text);
}

void CVKTProgressDlg::SetRange(int lower, int upper) {
  if (!Alive()) return;
  lower_ = lower;
  upper_ = upper;
  m_bar.SetRange32(lower, upper);
}

int CVKTProgressDlg::SetStep(int step) {
  int previous = step_;
  step_ = step;
  if (!Alive() || !m_bar.m_hWnd) return previous;
  return m_bar.SetStep(step);
}

int CVKTProgressDlg::SetPos(int pos) {
  if (!Alive()) return 0;
  PumpMessages();
  if (!Alive()) return 0;
  int previous = m_bar.SetPos(pos);
  UpdatePercent(pos);
  return previous;
}

int CVKTProgressDlg::OffsetPos(int delta) {
  if (!Alive()) return 0;
  PumpMessages();
  if (!Alive()) return 0;
  int previous = m_bar.OffsetPos(delta);
  UpdatePercent(previous + delta);
  return previous;
}

int CVKTProgressDlg::StepIt() {
  if (!Alive()) return 0;
  PumpMessages();
  if (!Alive()) return 0;
  int previous = m_bar.StepIt();
  UpdatePercent(previous + step_);
  return previous;
}

int CVKTProgressDlg::CheckCancelButton() {
  if (Alive()) PumpMessages();
  int result = cancelled_;
  cancelled_ = FALSE;
  return result;
}

void CVKTProgressDlg::HideCancel() {
  if (!Alive()) return;
  if (CWnd* b = GetDlgItem(IDCANCEL)) {
    b->EnableWindow(FALSE);
    b->ShowWindow(SW_HIDE);
  }
}

void CVKTProgressDlg::HideProgress(bool hide) {
  if (!Alive()) return;
  CWnd* bar = GetDlgItem(IDC_VKT_PROGRESS_BAR);
  CWnd* percent = GetDlgItem(IDC_VKT_PROGRESS_PERCENT);
  if (bar) {
    bar->EnableWindow(hide ? FALSE : TRUE);
    bar->ShowWindow(hide ? SW_HIDE : SW_SHOW);
  }
  if (percent) {
    if (!hide) percent->EnableWindow(TRUE);
    percent->ShowWindow(hide ? SW_HIDE : SW_SHOW);
  }
}

BOOL CVKTProgressDlg::DestroyWindow() {
  if (owner_disabled_) {
    if (IsWindow(owner_)) ::EnableWindow(owner_, TRUE);
    owner_disabled_ = FALSE;
  }
  return CVKTDialog::DestroyWindow();
}

void CVKTProgressDlg::PumpMessages() {
  // PeekMessage hands out due timers as the system's does.
  vkt::win::FireDueTimers();
  MSG msg;
  for (int n = 0; n < kMaxPumpedPerCall && ::PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
    if (msg.message == WM_QUIT) {
      // Not ours to take: the application's loop must still see it.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (!Alive() || !::IsDialogMessage(m_hWnd, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessage(&msg);
    }
  }
}

void CVKTProgressDlg::UpdatePercent(int pos) {
  // The text is measured against the upper end in force; a position past
  // it (the text then shows more than 100%) becomes the upper end for the
  // texts that follow, the bar's own range unchanged.
  int64_t span = static_cast<int64_t>(upper_) - lower_;
  if (pos > upper_) upper_ = pos;
  if (span == 0) return;
  double value = static_cast<double>(static_cast<int64_t>(pos) - lower_) / static_cast<double>(span) * 100.0;
  char text[64];
  std::snprintf(text, sizeof text, "Completato %.1f%c", value, '%');
  CWnd* percent = GetDlgItem(IDC_VKT_PROGRESS_PERCENT);
  if (percent && percent->GetWindowTextString() != text) percent->SetWindowText(text);
}

BOOL CVKTProgressDlg::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) {
    if (msg->wParam == VK_RETURN) {
      CVKTButton* button = dynamic_cast<CVKTButton*>(CWnd::FromHandlePermanent(msg->hwnd));
      if (!button) {
        vkt::win::QueueKey(VK_TAB, true);
        vkt::win::QueueKey(VK_TAB, false);
        return TRUE;
      }
      if (button->GetDlgCtrlID() == IDCANCEL) {
        OnClickCancel();
        return TRUE;
      }
    } else if (msg->wParam == VK_ESCAPE) {
      OnClickCancel();
      return TRUE;
    }
  }
  return CVKTDialog::PreTranslateMessage(msg);
}

BOOL CVKTProgressDlg::OnCmdMsg(UINT id, int code, void* extra, void* handler_info) {
  if (id == IDCANCEL && code == CN_COMMAND) {
    OnClickCancel();
    return TRUE;
  }
  return CVKTDialog::OnCmdMsg(id, code, extra, handler_info);
}

void CVKTProgressDlg::OnOK() {}
void CVKTProgressDlg::OnCancel() { cancelled_ = TRUE; }
void CVKTProgressDlg::OnClickCancel() { cancelled_ = TRUE; }
