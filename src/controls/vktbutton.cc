#include "controls/vktbutton.h"

#include "controls/vktstatic.h"
#include "win/dialog.h"
#include "win/skinframework.h"

namespace {

bool IsRadioType(DWORD t) { return t == BS_RADIOBUTTON || t == BS_AUTORADIOBUTTON; }
bool IsPushType(DWORD t) { return t == BS_PUSHBUTTON || t == BS_DEFPUSHBUTTON; }

void SetWeight(LOGFONT* lf, long v) { lf->lfWeight = static_cast<LONG>(v); }
void SetItalicAttr(LOGFONT* lf, long v) { lf->lfItalic = static_cast<BYTE>(v != 0); }
void SetUnderlineAttr(LOGFONT* lf, long v) { lf->lfUnderline = static_cast<BYTE>(v != 0); }
void SetStrikeOutAttr(LOGFONT* lf, long v) { lf->lfStrikeOut = static_cast<BYTE>(v != 0); }

}  // namespace

namespace vkt::controls {

bool ArrowMovesInDialog(CWnd* control, const MSG* msg) {
  if (msg->message != WM_KEYDOWN || msg->hwnd != control->m_hWnd) return false;
  if (msg->wParam != VK_UP && msg->wParam != VK_DOWN) return false;
  CWnd* parent = control->GetParent();
  if (!dynamic_cast<CDialog*>(parent)) return false;
  parent->SendMessage(WM_NEXTDLGCTL, msg->wParam == VK_UP ? 1 : 0, 0);
  return true;
}

}  // namespace vkt::controls

CXTPButton::~CXTPButton() {
  if (m_hWnd) DestroyWindow();
}

void CXTPButton::DrawThemed(CDC* dc, bool hot) {
  CRect rc;
  GetClientRect(&rc);
  DWORD type = GetStyle() & BS_TYPEMASK;
  bool enabled = IsWindowEnabled() != 0;
  bool focused = ::GetFocus() == m_hWnd;
  UINT state = GetState();
  COLORREF text = enabled ? vkt::win::GetSysColor(COLOR_BTNTEXT) : vkt::win::GetSysColor(COLOR_GRAYTEXT);
  COLORREF accent = vkt::win::SkinEnabled() ? vkt::win::SkinColor(COLOR_HIGHLIGHT) : RGB(0, 120, 215);
  dc->SetBkMode(TRANSPARENT);
  std::string caption = GetWindowTextString().str();
  if (IsPushType(type)) {
    bool pushed = (state & BST_PUSHED) != 0;
    COLORREF top = pushed ? RGB(196, 222, 246) : hot ? RGB(234, 244, 252) : RGB(250, 250, 250);
    COLORREF bottom = pushed ? RGB(160, 200, 236) : hot ? RGB(200, 226, 248) : RGB(222, 222, 222);
    dc->FillGradientV(rc, top, bottom);
    bool strong = hot || focused || type == BS_DEFPUSHBUTTON;
    dc->FrameRect(rc, strong && enabled ? accent : RGB(160, 160, 160));
    dc->SetTextColor(text);
    CRect tr = rc;
    dc->DrawText(caption, tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    return;
  }
  int box = 13;
  int by = (rc.Height() - box) / 2;
  CRect b(rc.left, by, rc.left + box, by + box);
  COLORREF frame = hot && enabled ? accent : RGB(51, 51, 51);
  COLORREF fill = !enabled ? RGB(240, 240, 240) : hot ? RGB(229, 241, 251) : RGB(255, 255, 255);
  int check = GetCheck();
  if (IsRadioType(type)) {
    dc->Ellipse(b, fill, frame);
    if (check == BST_CHECKED) {
      CRect in = b;
      in.DeflateRect(3, 3);
      dc->Ellipse(in, frame, frame);
    }
  } else {
    dc->FillSolidRect(b, fill);
    dc->FrameRect(b, frame);
    if (check == BST_CHECKED) {
      CPen pen(PS_SOLID, 2, frame);
      dc->SelectPen(pen);
      dc->MoveTo(b.left + 2, b.top + 6);
      dc->LineTo(b.left + 5, b.top + 9);
      dc->LineTo(b.left + 10, b.top + 3);
    } else if (check == BST_INDETERMINATE) {
      CRect in = b;
      in.DeflateRect(3, 3);
      dc->FillSolidRect(in, frame);
    }
  }
  dc->SetTextColor(text);
  int th = dc->GetTextHeight();
  CRect tr(b.right + 5, (rc.Height() - th) / 2, rc.right, (rc.Height() - th) / 2 + th);
  dc->DrawText(caption, tr, DT_LEFT | DT_SINGLELINE);
}

void CXTPButton::OnPaint() {
  DWORD type = GetStyle() & BS_TYPEMASK;
  if (type == BS_GROUPBOX) {
    Default();
    return;
  }
  CPaintDC dc(this);
  DrawThemed(&dc, false);
}

CVKTButton::~CVKTButton() = default;

BOOL CVKTButton::PreTranslateMessage(MSG* msg) {
  if (vkt::controls::ArrowMovesInDialog(this, msg)) return TRUE;
  return CXTPButton::PreTranslateMessage(msg);
}

CVKTCheckBox::~CVKTCheckBox() = default;

void CVKTCheckBox::SetFontWeight(long weight) {
  vkt::controls::ChangeControlFont(this, &font_, SetWeight, weight);
}
void CVKTCheckBox::SetItalic(int on) { vkt::controls::ChangeControlFont(this, &font_, SetItalicAttr, on); }
void CVKTCheckBox::SetUnderline(int on) {
  vkt::controls::ChangeControlFont(this, &font_, SetUnderlineAttr, on);
}
void CVKTCheckBox::SetStrikeOut(int on) {
  vkt::controls::ChangeControlFont(this, &font_, SetStrikeOutAttr, on);
}
void CVKTCheckBox::SetBold(int b) {
  vkt::controls::ChangeControlFont(this, &font_, SetWeight, b == 1 ? FW_BOLD : FW_NORMAL);
}

void CVKTCheckBox::SetBool(bool on) {
  SetCheck(on ? BST_CHECKED : BST_UNCHECKED);
  Invalidate();
  UpdateWindow();
}

void CVKTCheckBox::SetText(const char* text) {
  SetWindowText(text);
  vkt::controls::RepaintInParent(this);
}

BOOL CVKTCheckBox::PreTranslateMessage(MSG* msg) {
  if (vkt::controls::ArrowMovesInDialog(this, msg)) return TRUE;
  return CXTPButton::PreTranslateMessage(msg);
}

void CVKTCheckBox::OnSetFocus(CWnd* old_wnd) {
  CXTPButton::OnSetFocus(old_wnd);
  highlight_ = true;
  Invalidate();
}

void CVKTCheckBox::OnKillFocus(CWnd* new_wnd) {
  CXTPButton::OnKillFocus(new_wnd);
  highlight_ = false;
  Invalidate();
}

void CVKTCheckBox::OnPaint() {
  CPaintDC dc(this);
  HFONT font = font_.IsValid() ? font_.GetSafeHandle()
                               : (GetFont() ? GetFont()->GetSafeHandle() : vkt::win::DefaultGuiFontHandle());
  HFONT old = dc.SelectFont(font);
  dc.SetBkMode(TRANSPARENT);
  DrawThemed(&dc, highlight_);
  dc.SelectFont(old);
}

CVKTRadioButton::~CVKTRadioButton() = default;
