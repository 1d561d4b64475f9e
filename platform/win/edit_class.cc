// The "Edit" window class: a single-line text field.
#include <algorithm>
#include <cairo.h>
#include <cstring>

#include "win/cp1252.h"
#include "win/detail/wndstate.h"
#include "win/services.h"
#include "win/stdctrls.h"

namespace vkt::win::detail {
namespace {

struct EditData : ClassData {
  int anchor = 0;
  int caret = 0;
  int limit = 0x7FFFFFFE;
  bool modified = false;
  bool can_undo = false;
  std::string undo_text;
};

int Len(const WindowState& s) { return static_cast<int>(s.text.size()); }

void Clamp(WindowState& s, EditData& d) {
  d.anchor = std::clamp(d.anchor, 0, Len(s));
  d.caret = std::clamp(d.caret, 0, Len(s));
}

int SelStart(const EditData& d) { return std::min(d.anchor, d.caret); }
int SelEnd(const EditData& d) { return std::max(d.anchor, d.caret); }

bool Focused(HWND h) { return ::GetFocus() == h; }

// Control characters never enter a field: the clipboard may carry tabs,
// line ends and worse.
std::string Sanitize(const std::string& in) {
  std::string out;
  for (char c : in) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) continue;
    out += c;
  }
  return out;
}

std::string ShownText(const WindowState& s) {
  if (s.style & ES_PASSWORD) return std::string(s.text.size(), '*');
  return s.text;
}

// Where the text starts inside the field, so that painting and clicking
// agree.
struct Layout {
  CRect inner;  // inside the border
  CRect text;   // the text area
  int x0 = 0;   // x of the first character
};

Layout LayoutOf(HWND h, const WindowState& s, const EditData& d) {
  Layout l;
  l.inner = CRect(0, 0, s.rect.Width(), s.rect.Height());
  if ((s.style & WS_BORDER) || (s.ex_style & WS_EX_CLIENTEDGE)) l.inner.DeflateRect(1, 1);
  l.text = l.inner;
  l.text.DeflateRect(2, 0);
  HFONT font = FontOf(h);
  std::string shown = ShownText(s);
  int width = TextWidth(font, shown);
  if (s.style & ES_CENTER) {
    l.x0 = l.text.left + (l.text.Width() - width) / 2;
  } else if (s.style & ES_RIGHT) {
    l.x0 = l.text.right - width;
  } else {
    l.x0 = l.text.left;
    // Keep the caret in view when the text is wider than the field.
    int caret_x = TextWidth(font, shown.substr(0, static_cast<size_t>(d.caret)));
    if (caret_x > l.text.Width() - 1) l.x0 -= caret_x - (l.text.Width() - 1);
  }
  return l;
}

int PositionAt(HWND h, const WindowState& s, const EditData& d, int x) {
  Layout l = LayoutOf(h, s, d);
  HFONT font = FontOf(h);
  std::string shown = ShownText(s);
  int best = 0;
  int best_dist = 1 << 30;
  for (int i = 0; i <= Len(s); ++i) {
    int cx = l.x0 + TextWidth(font, shown.substr(0, static_cast<size_t>(i)));
    int dist = std::abs(cx - x);
    if (dist < best_dist) {
      best = i;
      best_dist = dist;
    }
  }
  return best;
}

void Changed(HWND h) {
  if (!NotifyParent(h, EN_UPDATE)) return;
  NotifyParent(h, EN_CHANGE);
}

// Replaces the selection with `ins` (cut to the text limit). Returns false
// when nothing could be inserted.
bool ReplaceSelection(HWND h, std::string ins, bool by_user) {
  WindowState* s = Find(h);
  EditData* d = Data<EditData>(h);
  if (!s || !d) return false;
  Clamp(*s, *d);
  int a = SelStart(*d), b = SelEnd(*d);
  if (by_user) {
    int room = d->limit - (Len(*s) - (b - a));
    if (room < 0) room = 0;
    if (static_cast<int>(ins.size()) > room) {
      ins.resize(static_cast<size_t>(room));
      if (ins.empty() && a == b) {
        NotifyParent(h, EN_MAXTEXT);
        return false;
      }
    }
  }
  if (a == b && ins.empty()) return false;
  d->undo_text = s->text;
  d->can_undo = true;
  s->text.replace(static_cast<size_t>(a), static_cast<size_t>(b - a), ins);
  d->anchor = d->caret = a + static_cast<int>(ins.size());
  if (by_user) d->modified = true;
  Changed(h);
  return true;
}

char CaseOf(const WindowState& s, char c) {
  if (s.style & ES_UPPERCASE) return Cp1252ToUpper(c);
  if (s.style & ES_LOWERCASE) return Cp1252ToLower(c);
  return c;
}

void Copy(const WindowState& s, const EditData& d) {
  if (s.style & ES_PASSWORD) return;
  int a = SelStart(d), b = SelEnd(d);
  if (a == b) return;
  services().SetClipboardText(s.text.substr(static_cast<size_t>(a), static_cast<size_t>(b - a)));
}

void Paste(HWND h) {
  WindowState* s = Find(h);
  if (!s || (s->style & ES_READONLY)) return;
  std::string clip;
  if (!services().GetClipboardText(&clip)) return;
  std::string ins;
  for (char c : Sanitize(clip)) {
    if ((s->style & ES_NUMBER) && !(c >= '0' && c <= '9')) continue;
    ins += CaseOf(*s, c);
  }
  ReplaceSelection(h, ins, true);
}

void MoveCaret(HWND h, int to, bool extend) {
  WindowState* s = Find(h);
  EditData* d = Data<EditData>(h);
  d->caret = std::clamp(to, 0, Len(*s));
  if (!extend) d->anchor = d->caret;
}

void Paint(HWND h, WindowState& s, EditData& d) {
  cairo_t* cr = PaintTarget(h);
  CDC dc(cr);
  dc.SelectFont(FontOf(h));
  Clamp(s, d);
  Layout l = LayoutOf(h, s, d);
  bool disabled = (s.style & WS_DISABLED) != 0;
  UINT msg = (disabled || (s.style & ES_READONLY)) ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT;
  COLORREF bk = ControlColors(h, &dc, msg);
  CRect all(0, 0, s.rect.Width(), s.rect.Height());
  if (l.inner != all)
    dc.FrameRect(all, Focused(h) ? RGB(0, 120, 215) : RGB(122, 122, 122));
  dc.FillSolidRect(l.inner, bk);
  if (!cr) return;
  cairo_save(cr);
  cairo_rectangle(cr, l.text.left, l.text.top, l.text.Width(), l.text.Height());
  cairo_clip(cr);
  std::string shown = ShownText(s);
  int th = dc.GetTextHeight();
  int y = l.text.top + (l.text.Height() - th) / 2;
  dc.SetBkMode(TRANSPARENT);
  dc.TextOut(l.x0, y, shown);
  HFONT font = FontOf(h);
  int a = SelStart(d), b = SelEnd(d);
  bool show_sel = Focused(h) || (s.style & ES_NOHIDESEL);
  if (show_sel && a != b) {
    int xa = l.x0 + TextWidth(font, shown.substr(0, static_cast<size_t>(a)));
    int xb = l.x0 + TextWidth(font, shown.substr(0, static_cast<size_t>(b)));
    dc.FillSolidRect(CRect(xa, y, xb, y + th), GetSysColor(COLOR_HIGHLIGHT));
    COLORREF text = dc.GetTextColor();
    dc.SetTextColor(GetSysColor(COLOR_HIGHLIGHTTEXT));
    dc.TextOut(xa, y, shown.substr(static_cast<size_t>(a), static_cast<size_t>(b - a)));
    dc.SetTextColor(text);
  } else if (Focused(h)) {
    int xc = l.x0 + TextWidth(font, shown.substr(0, static_cast<size_t>(d.caret)));
    dc.FillSolidRect(CRect(xc, y, xc + 1, y + th), dc.GetTextColor());
  }
  cairo_restore(cr);
}

}  // namespace

LRESULT EditClassProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  WindowState* s = Find(h);
  if (!s) return 0;
  EditData* d = Data<EditData>(h);
  Clamp(*s, *d);
  bool read_only = (s->style & ES_READONLY) != 0;
  switch (msg) {
    case WM_SETTEXT:
      d->can_undo = false;
      s->text = l ? TextParam(l) : "";
      d->anchor = d->caret = 0;
      d->modified = false;
      Changed(h);
      return TRUE;
    case WM_CHAR: {
      unsigned char ch = static_cast<unsigned char>(w);
      if (ch == 8) {
        if (read_only) return 0;
        if (SelStart(*d) == SelEnd(*d)) {
          if (d->caret == 0) return 0;
          d->anchor = d->caret - 1;
        }
        ReplaceSelection(h, "", true);
        return 0;
      }
      if (ch == 3) { Copy(*s, *d); return 0; }
      if (ch == 22) { ::SendMessage(h, WM_PASTE, 0, 0); return 0; }
      if (ch == 24) { ::SendMessage(h, WM_CUT, 0, 0); return 0; }
      if (ch == 26) { ::SendMessage(h, WM_UNDO, 0, 0); return 0; }
      if (ch == 1) { d->anchor = 0; d->caret = Len(*s); return 0; }
      if (ch < 0x20 || ch == 0x7F || read_only) return 0;
      if ((s->style & ES_NUMBER) && !(ch >= '0' && ch <= '9')) return 0;
      ReplaceSelection(h, std::string(1, CaseOf(*s, static_cast<char>(ch))), true);
      return 0;
    }
    case WM_KEYDOWN: {
      bool shift = ::GetKeyState(VK_SHIFT) < 0;
      bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
      switch (w) {
        case VK_LEFT:
          if (!shift && SelStart(*d) != SelEnd(*d)) MoveCaret(h, SelStart(*d), false);
          else MoveCaret(h, d->caret - 1, shift);
          return 0;
        case VK_RIGHT:
          if (!shift && SelStart(*d) != SelEnd(*d)) MoveCaret(h, SelEnd(*d), false);
          else MoveCaret(h, d->caret + 1, shift);
          return 0;
        case VK_HOME: MoveCaret(h, 0, shift); return 0;
        case VK_END: MoveCaret(h, Len(*s), shift); return 0;
        case VK_DELETE:
          if (read_only) return 0;
          if (shift) { ::SendMessage(h, WM_CUT, 0, 0); return 0; }
          if (SelStart(*d) == SelEnd(*d)) {
            if (d->caret >= Len(*s)) return 0;
            d->anchor = d->caret + 1;
          }
          ReplaceSelection(h, "", true);
          return 0;
        case VK_INSERT:
          if (shift) ::SendMessage(h, WM_PASTE, 0, 0);
          else if (ctrl) Copy(*s, *d);
          return 0;
        default:
          return 0;
      }
    }
    case WM_CUT:
      if (read_only) return 0;
      Copy(*s, *d);
      ReplaceSelection(h, "", true);
      return 0;
    case WM_COPY:
      Copy(*s, *d);
      return 0;
    case WM_CLEAR:
      if (!read_only) ReplaceSelection(h, "", true);
      return 0;
    case WM_PASTE:
      Paste(h);
      return 0;
    case WM_UNDO:
    case EM_UNDO: {
      if (!d->can_undo) return FALSE;
      std::swap(s->text, d->undo_text);
      d->anchor = d->caret = Len(*s);
      d->modified = true;
      Changed(h);
      return TRUE;
    }
    case EM_CANUNDO:
      return d->can_undo;
    case EM_GETSEL: {
      DWORD a = static_cast<DWORD>(SelStart(*d)), b = static_cast<DWORD>(SelEnd(*d));
      if (w) *reinterpret_cast<DWORD*>(w) = a;
      if (l) *reinterpret_cast<DWORD*>(l) = b;
      return static_cast<LRESULT>(MAKELONG(static_cast<WORD>(std::min<DWORD>(a, 0xFFFF)),
                                           static_cast<WORD>(std::min<DWORD>(b, 0xFFFF))));
    }
    case EM_SETSEL: {
      int a = static_cast<int>(static_cast<intptr_t>(w));
      int b = static_cast<int>(l);
      if (a == -1) {
        d->anchor = d->caret;
        return 0;
      }
      if (a < 0) a = 0;
      if (b < 0 || b > Len(*s)) b = Len(*s);
      d->anchor = std::min(a, Len(*s));
      d->caret = b;
      return 0;
    }
    case EM_REPLACESEL: {
      std::string ins = l ? TextParam(l) : "";
      ReplaceSelection(h, ins, false);
      return 0;
    }
    case EM_LIMITTEXT:
      d->limit = w == 0 ? 0x7FFFFFFE : static_cast<int>(std::min<WPARAM>(w, 0x7FFFFFFE));
      return 0;
    case EM_GETLIMITTEXT:
      return d->limit;
    case EM_GETMODIFY:
      return d->modified ? TRUE : FALSE;
    case EM_SETMODIFY:
      d->modified = w != 0;
      return 0;
    case EM_SETREADONLY:
      if (w) s->style |= ES_READONLY;
      else s->style &= ~ES_READONLY;
      return TRUE;
    case EM_SCROLLCARET:
      return TRUE;
    case WM_GETDLGCODE: {
      LRESULT code = DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
      if (s->style & ES_MULTILINE) code |= DLGC_WANTALLKEYS;
      return code;
    }
    case WM_SETFOCUS:
      NotifyParent(h, EN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      NotifyParent(h, EN_KILLFOCUS);
      return 0;
    case WM_LBUTTONDOWN: {
      if (!Focused(h)) ::SetFocus(h);
      if (!IsWindow(h) || !Focused(h)) return 0;
      CPoint p(static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l))),
               static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l))));
      WindowState* again = Find(h);
      EditData* dd = Data<EditData>(h);
      MoveCaret(h, PositionAt(h, *again, *dd, p.x), (w & MK_SHIFT) != 0);
      return 0;
    }
    case WM_LBUTTONDBLCLK: {
      int a = d->caret, b = d->caret;
      while (a > 0 && s->text[static_cast<size_t>(a - 1)] != ' ') --a;
      while (b < Len(*s) && s->text[static_cast<size_t>(b)] != ' ') ++b;
      d->anchor = a;
      d->caret = b;
      return 0;
    }
    case WM_PAINT:
      Paint(h, *s, *d);
      return 0;
    case WM_ENABLE:
      ++s->invalidations;
      return 0;
    default:
      return DefaultClassProc(h, msg, w, l);
  }
}

}  // namespace vkt::win::detail

BOOL CEdit::Create(DWORD style, const CRect& rect, CWnd* parent, UINT id) {
  return CWnd::Create("Edit", "", style, rect, parent, id);
}

UINT CEdit::GetLimitText() const {
  return static_cast<UINT>(::SendMessage(m_hWnd, EM_GETLIMITTEXT, 0, 0));
}

void CEdit::SetSel(int start, int end, BOOL) {
  SendMessage(EM_SETSEL, static_cast<WPARAM>(static_cast<intptr_t>(start)), end);
}

void CEdit::SetSel(DWORD selection, BOOL no_scroll) {
  SetSel(static_cast<int16_t>(LOWORD(selection)), static_cast<int16_t>(HIWORD(selection)),
         no_scroll);
}

void CEdit::GetSel(int& start, int& end) const {
  DWORD a = 0, b = 0;
  ::SendMessage(m_hWnd, EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
  start = static_cast<int>(a);
  end = static_cast<int>(b);
}

DWORD CEdit::GetSel() const { return static_cast<DWORD>(::SendMessage(m_hWnd, EM_GETSEL, 0, 0)); }

void CEdit::ReplaceSel(const char* text, BOOL can_undo) {
  SendMessage(EM_REPLACESEL, can_undo, reinterpret_cast<LPARAM>(text ? text : ""));
}

BOOL CEdit::GetModify() const { return static_cast<BOOL>(::SendMessage(m_hWnd, EM_GETMODIFY, 0, 0)); }
BOOL CEdit::CanUndo() const { return static_cast<BOOL>(::SendMessage(m_hWnd, EM_CANUNDO, 0, 0)); }
