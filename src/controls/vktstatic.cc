#include "controls/vktstatic.h"

namespace vkt::controls {

void ChangeControlFont(CWnd* wnd, CFont* owned, void (*change)(LOGFONT*, long), long value) {
  CFont* current = wnd->GetFont();
  LOGFONT lf;
  if (!current || !current->GetLogFont(&lf)) return;
  change(&lf, value);
  // The control holds the old owned font until the new one is given to it.
  CFont next;
  next.CreateFontIndirect(&lf);
  wnd->SetFont(next.GetSafeHandle(), TRUE);
  owned->DeleteObject();
  owned->AttachHandle(next.Detach());
}

void RepaintInParent(CWnd* wnd) {
  CWnd* parent = wnd->GetParent();
  if (!parent || !(wnd->GetStyle() & WS_CHILD)) return;
  CRect r;
  wnd->GetWindowRect(&r);
  parent->ScreenToClient(&r);
  parent->InvalidateRect(&r, TRUE);
  parent->UpdateWindow();
}

}  // namespace vkt::controls

namespace {

void SetWeight(LOGFONT* lf, long v) { lf->lfWeight = static_cast<LONG>(v); }
void SetItalicAttr(LOGFONT* lf, long v) { lf->lfItalic = static_cast<BYTE>(v != 0); }
void SetUnderlineAttr(LOGFONT* lf, long v) { lf->lfUnderline = static_cast<BYTE>(v != 0); }
void SetStrikeOutAttr(LOGFONT* lf, long v) { lf->lfStrikeOut = static_cast<BYTE>(v != 0); }

// The owned font when there is one, else the control's.
HFONT FontFor(CWnd* wnd, CFont* owned) {
  if (owned && owned->IsValid()) return owned->GetSafeHandle();
  CFont* f = wnd->GetFont();
  return f ? f->GetSafeHandle() : vkt::win::DefaultGuiFontHandle();
}

}  // namespace

CVKTStatic::CVKTStatic() : fore_color_(vkt::win::GetSysColor(COLOR_BTNTEXT)) {}
CVKTStatic::~CVKTStatic() {
  if (m_hWnd) DestroyWindow();
}

void CVKTStatic::SetFontWeight(long weight) {
  vkt::controls::ChangeControlFont(this, &font_, SetWeight, weight);
}
void CVKTStatic::SetItalic(int on) { vkt::controls::ChangeControlFont(this, &font_, SetItalicAttr, on); }
void CVKTStatic::SetUnderline(int on) {
  vkt::controls::ChangeControlFont(this, &font_, SetUnderlineAttr, on);
}
void CVKTStatic::SetStrikeOut(int on) {
  vkt::controls::ChangeControlFont(this, &font_, SetStrikeOutAttr, on);
}
void CVKTStatic::SetBold(int b) {
  vkt::controls::ChangeControlFont(this, &font_, SetWeight, b == 1 ? FW_BOLD : FW_NORMAL);
}

void CVKTStatic::SetForeColor(COLORREF c) {
  fore_color_ = c;
  Invalidate();
}
void CVKTStatic::SetBackColor(COLORREF c) {
  back_color_ = c;
  Invalidate();
}
void CVKTStatic::SetFormat(unsigned format) {
  format_ = format;
  Invalidate();
}
void CVKTStatic::SetBorder(int border) {
  border_ = border;
  Invalidate();
}

void CVKTStatic::OnPaint() {
  CPaintDC dc(this);
  HFONT old = dc.SelectFont(FontFor(this, &font_));
  CRect rc;
  GetClientRect(&rc);
  if (back_color_ != 0) {
    dc.SetBkMode(OPAQUE);
    dc.SetBkColor(back_color_);
    dc.FillSolidRect(rc, back_color_);
  } else {
    dc.SetBkMode(TRANSPARENT);
  }
  CRect text = rc;
  if (border_ == 1) {
    dc.DrawEdge(rc, EDGE_SUNKEN, BF_RECT);
    text.DeflateRect(5, 3);
  }
  dc.SetTextColor(IsWindowEnabled() ? fore_color_ : vkt::win::GetSysColor(COLOR_GRAYTEXT));
  dc.SetBkMode(TRANSPARENT);
  dc.DrawText(GetWindowTextString().str(), text, format_);
  dc.SelectFont(old);
}

LRESULT CVKTStatic::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  LRESULT r = CStatic::WindowProc(msg, w, l);
  if (msg == WM_SETTEXT && m_hWnd) vkt::controls::RepaintInParent(this);
  return r;
}

CVKTStatic2::~CVKTStatic2() {
  if (m_hWnd) DestroyWindow();
}

void CVKTStatic2::OnPaint() {
  CPaintDC dc(this);
  CRect rc;
  GetClientRect(&rc);
  rc.DeflateRect(5, 3);
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(vkt::win::GetSysColor(COLOR_BTNTEXT));
  dc.DrawText(GetWindowTextString().str(), rc, 0);
}

LRESULT CVKTStatic2::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  LRESULT r = CStatic::WindowProc(msg, w, l);
  if (msg == WM_SETTEXT && m_hWnd) vkt::controls::RepaintInParent(this);
  return r;
}

CVKTGroupBox::~CVKTGroupBox() {
  if (m_hWnd) DestroyWindow();
}

void CVKTGroupBox::OnPaint() {
  CPaintDC dc(this);
  CRect rc;
  GetClientRect(&rc);
  dc.SetBkMode(TRANSPARENT);
  std::string caption = GetWindowTextString().str();
  CRect measured(0, 0, rc.Width(), rc.Height());
  if (!caption.empty()) dc.DrawText(caption, measured, DT_SINGLELINE | DT_CALCRECT);
  int th = dc.GetTextHeight();
  int top = th / 2;
  CRect frame(rc.left, top, rc.right, rc.bottom);
  // The top side first, broken under the caption so that the text stays
  // readable over any background; then the other three sides.
  int gap_from = frame.left + 6;
  int gap_to = caption.empty() ? gap_from : gap_from + measured.Width() + 4;
  dc.DrawEdge(CRect(frame.left, frame.top, gap_from, frame.top + 2), EDGE_ETCHED, BF_TOP);
  dc.DrawEdge(CRect(gap_to, frame.top, frame.right, frame.top + 2), EDGE_ETCHED, BF_TOP);
  dc.DrawEdge(frame, EDGE_ETCHED, BF_LEFT | BF_RIGHT | BF_BOTTOM);
  if (!caption.empty()) {
    dc.SetTextColor(IsWindowEnabled() ? vkt::win::GetSysColor(COLOR_BTNTEXT)
                                      : vkt::win::GetSysColor(COLOR_GRAYTEXT));
    CRect text(gap_from + 2, 0, gap_from + 2 + measured.Width(), th);
    dc.DrawText(caption, text, DT_LEFT | DT_SINGLELINE);
  }
}

LRESULT CVKTGroupBox::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  LRESULT r = CButton::WindowProc(msg, w, l);
  if (msg == WM_SETTEXT && m_hWnd) vkt::controls::RepaintInParent(this);
  return r;
}
