// The "Button", "Static" and "ComboBox" window classes.
#include <strings.h>

#include <algorithm>
#include <cairo.h>
#include <cstring>

#include "win/detail/wndstate.h"
#include "win/stdctrls.h"

namespace vkt::win::detail {
namespace {

CPoint PointOf(LPARAM l) {
  return CPoint(static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l))),
                static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l))));
}

CRect ClientOf(const WindowState& s) { return CRect(0, 0, s.rect.Width(), s.rect.Height()); }

// --- Button -------------------------------------------------------------------

struct ButtonData : ClassData {
  int check = BST_UNCHECKED;
  bool pushed = false;
};

DWORD TypeOf(const WindowState& s) { return s.style & BS_TYPEMASK; }

bool IsRadio(DWORD t) { return t == BS_RADIOBUTTON || t == BS_AUTORADIOBUTTON; }
bool IsCheck(DWORD t) {
  return t == BS_CHECKBOX || t == BS_AUTOCHECKBOX || t == BS_3STATE || t == BS_AUTO3STATE;
}
bool IsPush(DWORD t) { return t == BS_PUSHBUTTON || t == BS_DEFPUSHBUTTON; }

void UncheckGroupRadios(HWND h) {
  WindowState* s = Find(h);
  WindowState* p = s ? Find(s->parent) : nullptr;
  if (!p || !(s->style & WS_CHILD)) return;
  const auto& c = p->children;
  auto at = std::find(c.begin(), c.end(), h);
  if (at == c.end()) return;
  auto first = at;
  while (first != c.begin() && !(Find(*first)->style & WS_GROUP)) --first;
  for (auto it = first; it != c.end(); ++it) {
    if (it != first && (Find(*it)->style & WS_GROUP)) break;
    if (*it == h) continue;
    WindowState* o = Find(*it);
    if (o && strcasecmp(o->class_name.c_str(), "Button") == 0 && TypeOf(*o) == BS_AUTORADIOBUTTON)
      Data<ButtonData>(*it)->check = BST_UNCHECKED;
  }
}

void ClickButton(HWND h) {
  WindowState* s = Find(h);
  if (!s || (s->style & WS_DISABLED)) return;
  ButtonData* d = Data<ButtonData>(h);
  switch (TypeOf(*s)) {
    case BS_AUTOCHECKBOX:
      d->check = d->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
      break;
    case BS_AUTO3STATE:
      d->check = (d->check + 1) % 3;
      break;
    case BS_AUTORADIOBUTTON:
      d->check = BST_CHECKED;
      UncheckGroupRadios(h);
      break;
    default:
      break;
  }
  NotifyParent(h, BN_CLICKED);
}

std::string Caption(const std::string& s) { return s; }

void PaintButton(HWND h, WindowState& s, ButtonData& d) {
  cairo_t* cr = PaintTarget(h);
  if (!cr) return;
  CDC dc(cr);
  dc.SelectFont(FontOf(h));
  CRect rc = ClientOf(s);
  DWORD type = TypeOf(s);
  bool disabled = (s.style & WS_DISABLED) != 0;
  bool focused = ::GetFocus() == h;
  COLORREF bk = ControlColors(h, &dc, WM_CTLCOLORBTN);
  COLORREF text = disabled ? GetSysColor(COLOR_GRAYTEXT) : dc.GetTextColor();
  dc.SetBkMode(TRANSPARENT);
  if (type == BS_GROUPBOX) {
    int th = dc.GetTextHeight();
    int tw = dc.GetTextExtent(s.text).cx;
    int top = th / 2;
    CRect frame(rc.left, top, rc.right, rc.bottom);
    // Etched: a shadow line and a light line, broken under the caption.
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
    int gap_from = 6, gap_to = s.text.empty() ? 6 : 6 + tw + 4;
    dc.FillSolidRect(CRect(frame.left, top, frame.left + gap_from, top + 1), shadow);
    dc.FillSolidRect(CRect(frame.left + gap_to, top, frame.right - 1, top + 1), shadow);
    dc.FillSolidRect(CRect(frame.left + 1, top + 1, frame.left + gap_from, top + 2), light);
    dc.FillSolidRect(CRect(frame.left + gap_to, top + 1, frame.right - 2, top + 2), light);
    dc.FillSolidRect(CRect(frame.left, top, frame.left + 1, frame.bottom - 1), shadow);
    dc.FillSolidRect(CRect(frame.left + 1, top + 1, frame.left + 2, frame.bottom - 2), light);
    dc.FillSolidRect(CRect(frame.right - 2, top, frame.right - 1, frame.bottom - 1), shadow);
    dc.FillSolidRect(CRect(frame.right - 1, top, frame.right, frame.bottom), light);
    dc.FillSolidRect(CRect(frame.left, frame.bottom - 2, frame.right - 1, frame.bottom - 1), shadow);
    dc.FillSolidRect(CRect(frame.left, frame.bottom - 1, frame.right, frame.bottom), light);
    dc.SetTextColor(text);
    CRect tr(frame.left + 8, 0, frame.left + 8 + tw + 2, th);
    dc.DrawText(s.text, tr, DT_LEFT | DT_SINGLELINE);
    return;
  }
  if (IsPush(type)) {
    bool def = type == BS_DEFPUSHBUTTON;
    COLORREF face = d.pushed ? RGB(204, 228, 247) : RGB(225, 225, 225);
    COLORREF border = (def || focused) ? RGB(0, 120, 215) : RGB(173, 173, 173);
    dc.FillSolidRect(rc, face);
    dc.FrameRect(rc, border);
    if (def) {
      CRect in = rc;
      in.DeflateRect(1, 1);
      dc.FrameRect(in, border);
    }
    if (focused) {
      CRect in = rc;
      in.DeflateRect(3, 3);
      dc.FrameRect(in, RGB(80, 80, 80));
    }
    dc.SetTextColor(text);
    CRect tr = rc;
    dc.DrawText(Caption(s.text), tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    return;
  }
  (void)bk;
  int th = dc.GetTextHeight();
  int box = 13;
  int by = (rc.Height() - box) / 2;
  CRect b(rc.left, by, rc.left + box, by + box);
  if (IsCheck(type)) {
    dc.FillSolidRect(b, disabled ? RGB(240, 240, 240) : RGB(255, 255, 255));
    dc.FrameRect(b, RGB(51, 51, 51));
    if (d.check == BST_CHECKED) {
      CPen pen(PS_SOLID, 2, RGB(51, 51, 51));
      dc.SelectPen(pen);
      dc.MoveTo(b.left + 2, b.top + 6);
      dc.LineTo(b.left + 5, b.top + 9);
      dc.LineTo(b.left + 10, b.top + 3);
    } else if (d.check == BST_INDETERMINATE) {
      CRect in = b;
      in.DeflateRect(3, 3);
      dc.FillSolidRect(in, RGB(51, 51, 51));
    }
  } else if (IsRadio(type)) {
    dc.Ellipse(b, RGB(255, 255, 255), RGB(51, 51, 51));
    if (d.check == BST_CHECKED) {
      CRect in = b;
      in.DeflateRect(3, 3);
      dc.Ellipse(in, RGB(51, 51, 51), RGB(51, 51, 51));
    }
  }
  dc.SetTextColor(text);
  CRect tr(b.right + 4, (rc.Height() - th) / 2, rc.right, (rc.Height() - th) / 2 + th);
  dc.DrawText(s.text, tr, DT_LEFT | DT_SINGLELINE);
  if (focused) {
    CRect m = tr;
    dc.DrawText(s.text, m, DT_CALCRECT);
    m.InflateRect(1, 0);
    dc.FrameRect(m, RGB(100, 100, 100));
  }
}

// --- Combo box ----------------------------------------------------------------

struct ComboItem {
  std::string text;
  intptr_t data = 0;
};

struct ComboData : ClassData {
  std::vector<ComboItem> items;
  int cur = -1;
  bool dropped = false;
  bool extended = false;
  int limit = 0;
};

int ItemHeight(HWND h) { return TextHeight(FontOf(h)) + 2; }

void Select(HWND h, ComboData& d, int index, bool notify) {
  if (index < 0 || index >= static_cast<int>(d.items.size())) return;
  if (d.cur == index) return;
  d.cur = index;
  if (WindowState* s = Find(h)) s->text = d.items[static_cast<size_t>(index)].text;
  if (notify) NotifyParent(h, CBN_SELCHANGE);
}

void ShowList(HWND h, bool show, bool ok) {
  ComboData* d = Data<ComboData>(h);
  if (!d || d->dropped == show) return;
  if (show) {
    if (!NotifyParent(h, CBN_DROPDOWN)) return;
    if ((d = Data<ComboData>(h))) d->dropped = true;
  } else {
    d->dropped = false;
    if (!NotifyParent(h, ok ? CBN_SELENDOK : CBN_SELENDCANCEL)) return;
    NotifyParent(h, CBN_CLOSEUP);
  }
}

int FindPrefix(const ComboData& d, int start, const char* prefix, bool exact) {
  int n = static_cast<int>(d.items.size());
  if (n == 0 || !prefix) return CB_ERR;
  size_t len = std::strlen(prefix);
  for (int k = 1; k <= n; ++k) {
    int i = ((start < 0 ? -1 : start) + k) % n;
    const std::string& t = d.items[static_cast<size_t>(i)].text;
    bool match = exact ? strcasecmp(t.c_str(), prefix) == 0
                       : t.size() >= len && strncasecmp(t.c_str(), prefix, len) == 0;
    if (match) return i;
  }
  return CB_ERR;
}

void PaintCombo(HWND h, WindowState& s, ComboData& d) {
  cairo_t* cr = PaintTarget(h);
  if (!cr) return;
  CDC dc(cr);
  dc.SelectFont(FontOf(h));
  CRect rc = ClientOf(s);
  bool disabled = (s.style & WS_DISABLED) != 0;
  bool focused = ::GetFocus() == h;
  COLORREF bk = ControlColors(h, &dc, WM_CTLCOLOREDIT);
  if (disabled) bk = GetSysColor(COLOR_BTNFACE);
  dc.FillSolidRect(rc, bk);
  dc.FrameRect(rc, focused ? RGB(0, 120, 215) : RGB(122, 122, 122));
  int bw = 17;
  CRect button(rc.right - bw, rc.top + 1, rc.right - 1, rc.bottom - 1);
  dc.FillSolidRect(button, RGB(225, 225, 225));
  // The arrow of the drop-down button.
  int cx = button.left + button.Width() / 2, cy = button.top + button.Height() / 2;
  for (int i = 0; i < 4; ++i)
    dc.FillSolidRect(CRect(cx - 3 + i, cy - 1 + i, cx + 4 - i, cy + i), RGB(60, 60, 60));
  CRect tr(rc.left + 3, rc.top + 2, button.left - 2, rc.bottom - 2);
  std::string text = d.cur >= 0 ? d.items[static_cast<size_t>(d.cur)].text : "";
  dc.SetBkMode(TRANSPARENT);
  if (focused && !d.dropped) {
    dc.FillSolidRect(CRect(tr.left - 1, tr.top, tr.right, tr.bottom), GetSysColor(COLOR_HIGHLIGHT));
    dc.SetTextColor(GetSysColor(COLOR_HIGHLIGHTTEXT));
  } else {
    dc.SetTextColor(disabled ? GetSysColor(COLOR_GRAYTEXT) : dc.GetTextColor());
  }
  dc.DrawText(text, tr, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void PaintComboList(HWND h, WindowState& s, ComboData& d) {
  cairo_t* cr = PaintTarget(h);
  if (!cr || !d.dropped) return;
  CDC dc(cr);
  dc.SelectFont(FontOf(h));
  int ih = ItemHeight(h);
  int shown = std::max(1, std::min<int>(static_cast<int>(d.items.size()), 8));
  CRect list(0, s.rect.Height(), s.rect.Width(), s.rect.Height() + shown * ih + 2);
  dc.FillSolidRect(list, RGB(255, 255, 255));
  dc.FrameRect(list, RGB(100, 100, 100));
  dc.SetBkMode(TRANSPARENT);
  for (int i = 0; i < shown && i < static_cast<int>(d.items.size()); ++i) {
    CRect r(list.left + 1, list.top + 1 + i * ih, list.right - 1, list.top + 1 + (i + 1) * ih);
    bool hot = i == d.cur;
    if (hot) dc.FillSolidRect(r, GetSysColor(COLOR_HIGHLIGHT));
    dc.SetTextColor(hot ? GetSysColor(COLOR_HIGHLIGHTTEXT) : GetSysColor(COLOR_WINDOWTEXT));
    CRect tr = r;
    tr.left += 3;
    dc.DrawText(d.items[static_cast<size_t>(i)].text, tr, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
}

}  // namespace

LRESULT ButtonClassProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  WindowState* s = Find(h);
  if (!s) return 0;
  ButtonData* d = Data<ButtonData>(h);
  DWORD type = TypeOf(*s);
  switch (msg) {
    case WM_LBUTTONDOWN:
      if (type == BS_GROUPBOX) return 0;
      if (::GetFocus() != h) ::SetFocus(h);
      if ((d = Data<ButtonData>(h))) d->pushed = true;
      return 0;
    case WM_LBUTTONUP:
      if (d->pushed) {
        d->pushed = false;
        ClickButton(h);
      }
      return 0;
    case WM_LBUTTONDBLCLK:
      if (type == BS_GROUPBOX) return 0;
      d->pushed = true;
      return 0;
    case WM_KEYDOWN:
      if (w == VK_SPACE) d->pushed = true;
      return 0;
    case WM_KEYUP:
      if (w == VK_SPACE && d->pushed) {
        d->pushed = false;
        ClickButton(h);
      }
      return 0;
    case WM_KILLFOCUS:
      d->pushed = false;
      return 0;
    case BM_CLICK:
      ClickButton(h);
      return 0;
    case BM_GETCHECK:
      return d->check;
    case BM_SETCHECK:
      d->check = static_cast<int>(w);
      ++s->invalidations;
      return 0;
    case BM_GETSTATE:
      return d->check | (d->pushed ? BST_PUSHED : 0) | (::GetFocus() == h ? BST_FOCUS : 0);
    case BM_SETSTATE:
      d->pushed = w != 0;
      return 0;
    case BM_SETSTYLE:
      s->style = (s->style & ~0xFFFFu) | (static_cast<DWORD>(w) & 0xFFFF);
      return 0;
    case WM_GETDLGCODE:
      if (type == BS_GROUPBOX) return DLGC_STATIC;
      if (type == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
      if (type == BS_PUSHBUTTON) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
      if (IsRadio(type)) return DLGC_BUTTON | DLGC_RADIOBUTTON;
      return DLGC_BUTTON;
    case WM_PAINT:
      PaintButton(h, *s, *d);
      return 0;
    default:
      return DefaultClassProc(h, msg, w, l);
  }
}

LRESULT StaticClassProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  WindowState* s = Find(h);
  if (!s) return 0;
  switch (msg) {
    case WM_GETDLGCODE:
      return DLGC_STATIC;
    case WM_PAINT: {
      cairo_t* cr = PaintTarget(h);
      if (!cr) return 0;
      CDC dc(cr);
      dc.SelectFont(FontOf(h));
      COLORREF bk = ControlColors(h, &dc, WM_CTLCOLORSTATIC);
      CRect rc = ClientOf(*s);
      dc.FillSolidRect(rc, bk);
      if (s->style & WS_DISABLED) dc.SetTextColor(GetSysColor(COLOR_GRAYTEXT));
      dc.SetBkMode(TRANSPARENT);
      UINT fmt = DT_SINGLELINE;
      DWORD t = s->style & SS_TYPEMASK;
      if (t == SS_CENTER) fmt |= DT_CENTER;
      else if (t == SS_RIGHT) fmt |= DT_RIGHT;
      dc.DrawText(s->text, rc, fmt);
      return 0;
    }
    default:
      return DefaultClassProc(h, msg, w, l);
  }
}

LRESULT ComboBoxClassProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  WindowState* s = Find(h);
  if (!s) return 0;
  ComboData* d = Data<ComboData>(h);
  int n = static_cast<int>(d->items.size());
  auto valid = [&](WPARAM i) { return static_cast<intptr_t>(i) >= 0 && static_cast<int>(i) < n; };
  switch (msg) {
    case CB_ADDSTRING: {
      ComboItem item{l ? TextParam(l) : "", 0};
      int at = n;
      if (s->style & CBS_SORT)
        for (at = 0; at < n; ++at)
          if (strcasecmp(d->items[static_cast<size_t>(at)].text.c_str(), item.text.c_str()) > 0)
            break;
      d->items.insert(d->items.begin() + at, item);
      if (d->cur >= at) ++d->cur;
      return at;
    }
    case CB_INSERTSTRING: {
      int at = static_cast<int>(static_cast<intptr_t>(w));
      if (at < 0) at = n;
      if (at > n) return CB_ERR;
      d->items.insert(d->items.begin() + at, ComboItem{l ? TextParam(l) : "", 0});
      if (d->cur >= at) ++d->cur;
      return at;
    }
    case CB_DELETESTRING: {
      if (!valid(w)) return CB_ERR;
      int at = static_cast<int>(w);
      d->items.erase(d->items.begin() + at);
      if (d->cur == at) d->cur = -1, s->text.clear();
      else if (d->cur > at) --d->cur;
      return static_cast<LRESULT>(d->items.size());
    }
    case CB_RESETCONTENT:
      d->items.clear();
      d->cur = -1;
      s->text.clear();
      return CB_OKAY;
    case CB_GETCOUNT:
      return n;
    case CB_GETCURSEL:
      return d->cur;
    case CB_SETCURSEL:
      if (!valid(w)) {
        d->cur = -1;
        s->text.clear();
        return CB_ERR;
      }
      d->cur = static_cast<int>(w);
      s->text = d->items[w].text;
      return d->cur;
    case CB_GETLBTEXT: {
      if (!valid(w)) return CB_ERR;
      const std::string& t = d->items[w].text;
      if (l) std::memcpy(reinterpret_cast<char*>(l), t.c_str(), t.size() + 1);
      return static_cast<LRESULT>(t.size());
    }
    case CB_GETLBTEXTLEN:
      return valid(w) ? static_cast<LRESULT>(d->items[w].text.size()) : CB_ERR;
    case CB_GETITEMDATA:
      return valid(w) ? d->items[w].data : CB_ERR;
    case CB_SETITEMDATA:
      if (!valid(w)) return CB_ERR;
      d->items[w].data = l;
      return CB_OKAY;
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT:
      return FindPrefix(*d, static_cast<int>(static_cast<intptr_t>(w)), TextParam(l),
                        msg == CB_FINDSTRINGEXACT);
    case CB_SELECTSTRING: {
      int i = FindPrefix(*d, static_cast<int>(static_cast<intptr_t>(w)), TextParam(l), false);
      if (i >= 0) {
        d->cur = i;
        s->text = d->items[static_cast<size_t>(i)].text;
      }
      return i;
    }
    case CB_SHOWDROPDOWN:
      ShowList(h, w != 0, true);
      return TRUE;
    case CB_GETDROPPEDSTATE:
      return d->dropped;
    case CB_SETEXTENDEDUI:
      d->extended = w != 0;
      return CB_OKAY;
    case CB_GETEXTENDEDUI:
      return d->extended;
    case CB_LIMITTEXT:
      d->limit = static_cast<int>(w);
      return TRUE;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS | (d->dropped ? DLGC_WANTMESSAGE : 0);
    case WM_KEYDOWN: {
      bool alt = ::GetKeyState(VK_MENU) < 0;
      switch (w) {
        case VK_F4:
          if (!d->extended) ShowList(h, !d->dropped, true);
          return 0;
        case VK_RETURN:
          if (d->dropped) ShowList(h, false, true);
          return 0;
        case VK_ESCAPE:
          if (d->dropped) ShowList(h, false, false);
          return 0;
        case VK_DOWN:
          if (alt || (d->extended && !d->dropped)) {
            ShowList(h, true, true);
            return 0;
          }
          [[fallthrough]];
        case VK_RIGHT:
          Select(h, *d, d->cur + 1, true);
          return 0;
        case VK_UP:
        case VK_LEFT:
          Select(h, *d, d->cur < 0 ? 0 : d->cur - 1, true);
          return 0;
        case VK_HOME:
          Select(h, *d, 0, true);
          return 0;
        case VK_END:
          Select(h, *d, n - 1, true);
          return 0;
        default:
          return 0;
      }
    }
    case WM_CHAR: {
      unsigned char ch = static_cast<unsigned char>(w);
      if (ch < 0x20) return 0;
      char prefix[2] = {static_cast<char>(ch), 0};
      int i = FindPrefix(*d, d->cur, prefix, false);
      if (i >= 0) Select(h, *d, i, true);
      return 0;
    }
    case WM_LBUTTONDOWN: {
      if (::GetFocus() != h) ::SetFocus(h);
      if (!(d = Data<ComboData>(h))) return 0;
      CPoint p = PointOf(l);
      if (d->dropped && p.y >= s->rect.Height()) {
        int i = (p.y - s->rect.Height() - 1) / ItemHeight(h);
        if (i >= 0 && i < n) Select(h, *d, i, true);
        ShowList(h, false, true);
        return 0;
      }
      ShowList(h, !d->dropped, true);
      return 0;
    }
    case WM_KILLFOCUS:
      if (d->dropped) ShowList(h, false, false);
      if (IsWindow(h)) NotifyParent(h, CBN_KILLFOCUS);
      return 0;
    case WM_SETFOCUS:
      NotifyParent(h, CBN_SETFOCUS);
      return 0;
    case WM_SETTEXT:
      return CB_ERR;  // a drop-down list shows its selection only
    case WM_PAINT:
      PaintCombo(h, *s, *d);
      return 0;
    case kPaintPopupMsg:
      PaintComboList(h, *s, *d);
      return 0;
    default:
      return DefaultClassProc(h, msg, w, l);
  }
}

}  // namespace vkt::win::detail

BOOL CButton::Create(const char* caption, DWORD style, const CRect& rect, CWnd* parent, UINT id) {
  return CWnd::Create("Button", caption, style, rect, parent, id);
}

int CButton::GetCheck() const { return static_cast<int>(::SendMessage(m_hWnd, BM_GETCHECK, 0, 0)); }
UINT CButton::GetState() const { return static_cast<UINT>(::SendMessage(m_hWnd, BM_GETSTATE, 0, 0)); }

BOOL CStatic::Create(const char* text, DWORD style, const CRect& rect, CWnd* parent, UINT id) {
  return CWnd::Create("Static", text, style, rect, parent, id);
}

BOOL CComboBox::Create(DWORD style, const CRect& rect, CWnd* parent, UINT id) {
  return CWnd::Create("ComboBox", "", style, rect, parent, id);
}

int CComboBox::AddString(const char* text) {
  return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text ? text : "")));
}

int CComboBox::InsertString(int index, const char* text) {
  return static_cast<int>(SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(index),
                                      reinterpret_cast<LPARAM>(text ? text : "")));
}

int CComboBox::DeleteString(UINT index) { return static_cast<int>(SendMessage(CB_DELETESTRING, index, 0)); }
int CComboBox::GetCount() const { return static_cast<int>(::SendMessage(m_hWnd, CB_GETCOUNT, 0, 0)); }
int CComboBox::GetCurSel() const {
  if (!IsWindow(m_hWnd)) return CB_ERR;
  return static_cast<int>(::SendMessage(m_hWnd, CB_GETCURSEL, 0, 0));
}

int CComboBox::GetLBText(int index, char* buffer) const {
  return static_cast<int>(::SendMessage(m_hWnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                        reinterpret_cast<LPARAM>(buffer)));
}

void CComboBox::GetLBText(int index, CString& text) const {
  int n = GetLBTextLen(index);
  if (n < 0) {
    text.Empty();
    return;
  }
  std::string buf(static_cast<size_t>(n) + 1, '\0');
  GetLBText(index, buf.data());
  buf.resize(static_cast<size_t>(n));
  text = buf;
}

int CComboBox::GetLBTextLen(int index) const {
  if (!IsWindow(m_hWnd)) return CB_ERR;
  return static_cast<int>(::SendMessage(m_hWnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0));
}

intptr_t CComboBox::GetItemData(int index) const {
  if (!IsWindow(m_hWnd)) return CB_ERR;
  return ::SendMessage(m_hWnd, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
}

int CComboBox::SetItemData(int index, intptr_t data) {
  return static_cast<int>(SendMessage(CB_SETITEMDATA, static_cast<WPARAM>(index), data));
}

int CComboBox::FindString(int start_after, const char* prefix) const {
  return static_cast<int>(::SendMessage(m_hWnd, CB_FINDSTRING, static_cast<WPARAM>(start_after),
                                        reinterpret_cast<LPARAM>(prefix)));
}

int CComboBox::FindStringExact(int start_after, const char* text) const {
  return static_cast<int>(::SendMessage(m_hWnd, CB_FINDSTRINGEXACT,
                                        static_cast<WPARAM>(start_after),
                                        reinterpret_cast<LPARAM>(text)));
}

int CComboBox::SelectString(int start_after, const char* prefix) {
  return static_cast<int>(SendMessage(CB_SELECTSTRING, static_cast<WPARAM>(start_after),
                                      reinterpret_cast<LPARAM>(prefix)));
}

BOOL CComboBox::GetDroppedState() const {
  return static_cast<BOOL>(::SendMessage(m_hWnd, CB_GETDROPPEDSTATE, 0, 0));
}

BOOL CComboBox::GetExtendedUI() const {
  return static_cast<BOOL>(::SendMessage(m_hWnd, CB_GETEXTENDEDUI, 0, 0));
}
