#include "controls/vkteditbase.h"

#include "win/dialog.h"

CVKTEditCtrlBase::CVKTEditCtrlBase() { brush_.CreateSolidBrush(back_color_); }

CVKTEditCtrlBase::~CVKTEditCtrlBase() {
  if (m_hWnd) DestroyWindow();
}

void CVKTEditCtrlBase::SetForeColor(unsigned long c) {
  text_color_ = static_cast<COLORREF>(c);
  Invalidate(TRUE);
  UpdateWindow();
}

void CVKTEditCtrlBase::ChangeFont(void (*change)(LOGFONT*, long), long value) {
  // A control without a font has nothing to derive from.
  CFont* current = GetFont();
  LOGFONT lf;
  if (!current || !current->GetLogFont(&lf)) return;
  change(&lf, value);
  font_.DeleteObject();
  font_.CreateFontIndirect(&lf);
  SetFont(&font_, TRUE);
}

void CVKTEditCtrlBase::SetFontWeight(long weight) {
  ChangeFont([](LOGFONT* lf, long v) { lf->lfWeight = static_cast<LONG>(v); }, weight);
}

void CVKTEditCtrlBase::SetItalic(int on) {
  ChangeFont([](LOGFONT* lf, long v) { lf->lfItalic = static_cast<BYTE>(v != 0); }, on);
}

void CVKTEditCtrlBase::SetUnderline(int on) {
  ChangeFont([](LOGFONT* lf, long v) { lf->lfUnderline = static_cast<BYTE>(v != 0); }, on);
}

void CVKTEditCtrlBase::SetStrikeOut(int on) {
  ChangeFont([](LOGFONT* lf, long v) { lf->lfStrikeOut = static_cast<BYTE>(v != 0); }, on);
}

void CVKTEditCtrlBase::SetBold(int b) {
  CFont* current = GetFont();
  LOGFONT lf;
  if (!current || !current->GetLogFont(&lf)) {
    // No current font: the owned font, if any, is put back as it was.
    if (font_.IsValid()) SetFont(&font_, TRUE);
    return;
  }
  lf.lfWeight = b == 1 ? FW_BOLD : FW_NORMAL;
  font_.DeleteObject();
  font_.CreateFontIndirect(&lf);
  SetFont(&font_, TRUE);
}

void CVKTEditCtrlBase::SetEnabled(int b) {
  if (!m_hWnd) return;
  if (b) {
    if (!IsWindowEnabled()) EnableWindow(TRUE);
    return;
  }
  if (!IsWindowEnabled()) return;
  LONG style = ::GetWindowLong(m_hWnd, GWL_STYLE);
  if (::SetWindowLong(m_hWnd, GWL_STYLE, style | static_cast<LONG>(WS_DISABLED)) == 0 &&
      !IsWindow(m_hWnd))
    EnableWindow(FALSE);
  Invalidate();
}

void CVKTEditCtrlBase::SetModified(int b) {
  modified_ = b;
  SetModify(b ? TRUE : FALSE);
}

int CVKTEditCtrlBase::GetModified() const {
  if (m_hWnd && GetModify()) return 1;
  return modified_ ? 1 : 0;
}

void CVKTEditCtrlBase::SetWindowTextNoNotify(const char* text) {
  CString current = GetWindowTextString();
  if (current == (text ? text : "")) return;
  int saved = notify_;
  notify_ = 0;
  SetWindowText(text);
  notify_ = saved;
}

bool CVKTEditCtrlBase::MoveInDialog(bool previous) {
  CWnd* parent = GetParent();
  if (!dynamic_cast<CDialog*>(parent)) return false;
  parent->SendMessage(WM_NEXTDLGCTL, previous ? 1 : 0, 0);
  return true;
}

BOOL CVKTEditCtrlBase::PreTranslateMessage(MSG* msg) {
  if (auto_up_down_enter_ == 1 && msg->message == WM_KEYDOWN && msg->hwnd == m_hWnd) {
    if ((msg->wParam == VK_RETURN || msg->wParam == VK_DOWN) && MoveInDialog(false)) return TRUE;
    if (msg->wParam == VK_UP && MoveInDialog(true)) return TRUE;
  }
  return CXTPMaskEdit::PreTranslateMessage(msg);
}

LRESULT CVKTEditCtrlBase::DefWindowProc(UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_CUT || msg == WM_PASTE || msg == WM_CLEAR) modified_ = 1;
  return CXTPMaskEdit::DefWindowProc(msg, w, l);
}

BOOL CVKTEditCtrlBase::OnReflectedCommand(UINT code) {
  if (code == EN_CHANGE) return notify_ == 0;
  return CXTPMaskEdit::OnReflectedCommand(code);
}

HBRUSH CVKTEditCtrlBase::CtlColor(CDC* dc, UINT) {
  dc->SetTextColor(text_color_);
  brush_.DeleteObject();
  COLORREF back = IsHighlighted() ? kVktHighlightColor : back_color_;
  dc->SetBkColor(back);
  brush_.CreateSolidBrush(back);
  return brush_.GetSafeHandle();
}

void CVKTEditCtrlBase::OnSetFocus(CWnd* old_wnd) {
  CXTPMaskEdit::OnSetFocus(old_wnd);
  if (!m_hWnd) return;
  SetSel(0, -1);
  SendMessage(EM_SCROLLCARET, 0, 0);
  Invalidate();
  SendMessage(WM_NCPAINT, 1, 0);
}

void CVKTEditCtrlBase::OnKillFocus(CWnd* new_wnd) {
  CXTPMaskEdit::OnKillFocus(new_wnd);
  if (!m_hWnd) return;
  Invalidate();
  SendMessage(WM_NCPAINT, 1, 0);
}

void CVKTEditCtrlBase::OnEnable(BOOL enable) {
  CXTPMaskEdit::OnEnable(enable);
  if (enable || !m_hWnd) return;
  // Repainted once, with the field's own colours.
  LockWindowUpdate();
  EnableWindow(FALSE);
  UnlockWindowUpdate();
  Invalidate();
}

void CVKTEditCtrlBase::OnChar(UINT ch, UINT repeat, UINT flags) {
  SetModified(1);
  CXTPMaskEdit::OnChar(ch, repeat, flags);
}
