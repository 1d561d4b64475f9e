#include "controls/xtp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "win/services.h"

namespace {

bool IsMaskChar(char m) { return m && std::strchr("09#L?Aa&C", m) != nullptr; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  // Windows-1252 letters: the accented ones from 0xC0 on (but the signs
  // of multiplication and division) and the few of 0x8A-0x9F.
  if (u == 0xD7 || u == 0xF7) return false;
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u >= 0xC0 || u == 0x8A ||
         u == 0x8C || u == 0x8E || u == 0x9A || u == 0x9C || u == 0x9E || u == 0x9F;
}

}  // namespace

CXTPMaskEdit::CXTPMaskEdit() = default;
CXTPMaskEdit::~CXTPMaskEdit() = default;

void CXTPMaskEdit::SetEditMask(const char* mask, const char* literal, const char* default_text) {
  mask_ = mask ? mask : "";
  literal_ = literal ? literal : "";
  default_ = default_text ? default_text : "";
  // The literal covers the whole mask: missing positions are prompts or
  // the mask's fixed characters.
  std::string lit = literal_.str();
  for (int i = static_cast<int>(lit.size()); i < mask_.GetLength(); ++i)
    lit += IsMaskChar(mask_[i]) ? prompt_ : mask_[i];
  literal_ = lit;
  use_mask_ = true;
  if (m_hWnd) SetWindowText(default_.IsEmpty() ? literal_ : default_);
}

bool CXTPMaskEdit::IsInputPos(int pos) const {
  return pos >= 0 && pos < mask_.GetLength() && IsMaskChar(mask_[pos]);
}

int CXTPMaskEdit::NextInputPos(int from) const {
  for (int i = std::max(from, 0); i < mask_.GetLength(); ++i)
    if (IsInputPos(i)) return i;
  return -1;
}

int CXTPMaskEdit::PrevInputPos(int before) const {
  for (int i = std::min(before, mask_.GetLength()) - 1; i >= 0; --i)
    if (IsInputPos(i)) return i;
  return -1;
}

BOOL CXTPMaskEdit::ProcessMask(char& c, int pos) {
  if (!IsInputPos(pos)) return FALSE;
  switch (mask_[pos]) {
    case '0': case '9': return IsDigit(c);
    case '#': return IsDigit(c) || c == '+' || c == '-' || c == ' ';
    case 'L': case '?': return IsLetter(c);
    case 'A': case 'a': return IsLetter(c) || IsDigit(c);
    default: return static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
  }
}

CString CXTPMaskEdit::GetMaskedText(int start) const {
  CString text = GetWindowTextString();
  if (start <= 0) return text;
  return start >= text.GetLength() ? CString() : text.Mid(start);
}

void CXTPMaskEdit::PutText(const std::string& text, int caret, bool by_user) {
  BOOL modified = GetModify();
  SetWindowText(text.c_str());
  if (!IsWindow(m_hWnd)) return;
  SetModify(by_user || modified);
  SetSel(caret, caret);
}

void CXTPMaskEdit::SetMaskedText(const char* text, int pos, BOOL) {
  if (!use_mask_) {
    SetWindowText(text);
    return;
  }
  std::string cur = GetWindowTextString().str();
  std::string lit = literal_.str();
  cur.resize(lit.size(), prompt_);
  for (size_t i = static_cast<size_t>(std::max(pos, 0)); i < lit.size(); ++i) cur[i] = lit[i];
  int at = std::max(pos, 0);
  for (const char* p = text ? text : ""; *p && at < static_cast<int>(lit.size()); ++p) {
    if (!IsInputPos(at)) {
      if (*p == lit[static_cast<size_t>(at)]) {
        ++at;
        continue;
      }
      at = NextInputPos(at);
      if (at < 0) break;
    }
    char c = *p;
    if (c != prompt_ && ProcessMask(c, at)) cur[static_cast<size_t>(at)] = c;
    ++at;
  }
  PutText(cur, 0, false);
}

BOOL CXTPMaskEdit::CanPaste() {
  std::string clip;
  return vkt::services().GetClipboardText(&clip) ? TRUE : FALSE;
}

void CXTPMaskEdit::PreSubclassWindow() {
  CEdit::PreSubclassWindow();
  if (use_mask_ && m_hWnd) SetWindowText(default_.IsEmpty() ? literal_ : default_);
}

void CXTPMaskEdit::ClearRange(std::string* text, int from, int to) const {
  for (int i = from; i < to && i < static_cast<int>(text->size()); ++i)
    if (IsInputPos(i)) (*text)[static_cast<size_t>(i)] = prompt_;
}

void CXTPMaskEdit::TypeChar(char c) {
  std::string text = GetWindowTextString().str();
  text.resize(literal_.str().size(), prompt_);
  int a = 0, b = 0;
  GetSel(a, b);
  if (a != b) ClearRange(&text, a, b);
  int pos = NextInputPos(a);
  if (pos < 0) {
    vkt::services().Beep(1000, 10);
    return;
  }
  if (!ProcessMask(c, pos)) {
    if (a != b) PutText(text, a, true);
    return;
  }
  text[static_cast<size_t>(pos)] = c;
  int next = NextInputPos(pos + 1);
  PutText(text, next < 0 ? pos + 1 : next, true);
}

void CXTPMaskEdit::OnChar(UINT ch, UINT repeat, UINT flags) {
  if (!use_mask_ || mask_.IsEmpty()) {
    CEdit::OnChar(ch, repeat, flags);
    return;
  }
  unsigned char c = static_cast<unsigned char>(ch);
  if (c == 8) {
    std::string text = GetWindowTextString().str();
    text.resize(literal_.str().size(), prompt_);
    int a = 0, b = 0;
    GetSel(a, b);
    if (a != b) {
      ClearRange(&text, a, b);
      PutText(text, a, true);
      return;
    }
    int p = PrevInputPos(a);
    if (p < 0) return;
    text[static_cast<size_t>(p)] = prompt_;
    PutText(text, p, true);
    return;
  }
  if (c < 0x20 || c == 0x7F) {
    CEdit::OnChar(ch, repeat, flags);  // Ctrl+C, Ctrl+V, ... of the edit
    return;
  }
  TypeChar(static_cast<char>(c));
}

void CXTPMaskEdit::OnKeyDown(UINT vk, UINT repeat, UINT flags) {
  if (use_mask_ && !mask_.IsEmpty() && vk == VK_DELETE && ::GetKeyState(VK_SHIFT) >= 0) {
    std::string text = GetWindowTextString().str();
    text.resize(literal_.str().size(), prompt_);
    int a = 0, b = 0;
    GetSel(a, b);
    if (a == b) b = a + 1;
    ClearRange(&text, a, b);
    PutText(text, a, true);
    return;
  }
  CEdit::OnKeyDown(vk, repeat, flags);
}

LRESULT CXTPMaskEdit::DefWindowProc(UINT msg, WPARAM w, LPARAM l) {
  if (use_mask_ && !mask_.IsEmpty()) {
    switch (msg) {
      case WM_PASTE: {
        std::string clip;
        if (!vkt::services().GetClipboardText(&clip)) return 0;
        for (char c : clip) {
          unsigned char u = static_cast<unsigned char>(c);
          if (u >= 0x20 && u != 0x7F) TypeChar(c);
        }
        return 0;
      }
      case WM_CUT:
      case WM_CLEAR: {
        if (msg == WM_CUT) CEdit::DefWindowProc(WM_COPY, 0, 0);
        std::string text = GetWindowTextString().str();
        int a = 0, b = 0;
        GetSel(a, b);
        ClearRange(&text, a, b);
        PutText(text, a, true);
        return 0;
      }
      default:
        break;
    }
  }
  return CEdit::DefWindowProc(msg, w, l);
}

void CXTPMaskEdit::OnSetFocus(CWnd* old_wnd) {
  CEdit::OnSetFocus(old_wnd);
  highlighted_ = true;
  Invalidate();
}

void CXTPMaskEdit::OnKillFocus(CWnd* new_wnd) {
  CEdit::OnKillFocus(new_wnd);
  highlighted_ = false;
  Invalidate();
}

// --- The month calendar -----------------------------------------------------

namespace {

constexpr int kCellW = 24;
constexpr int kCellH = 18;
constexpr int kHeaderH = 22;
constexpr int kDayNamesH = 18;
constexpr int kButtonsH = 26;
constexpr int kMargin = 4;

const char* const kMonths[] = {"Gennaio", "Febbraio", "Marzo", "Aprile", "Maggio", "Giugno",
                               "Luglio", "Agosto", "Settembre", "Ottobre", "Novembre", "Dicembre"};
const char* const kDays[] = {"Lu", "Ma", "Me", "Gi", "Ve", "Sa", "Do"};

// Monday = 0 ... Sunday = 6.
int WeekdayFromMonday(const COleDateTime& d) { return (d.GetDayOfWeek() + 5) % 7; }

}  // namespace

CXTPDatePickerControl::CXTPDatePickerControl() {
  COleDateTime now = COleDateTime::GetCurrentTime();
  month_ = COleDateTime(now.GetYear(), now.GetMonth(), 1, 0, 0, 0);
}

CXTPDatePickerControl::~CXTPDatePickerControl() = default;

BOOL CXTPDatePickerControl::Create(DWORD style, const CRect& rect, CWnd* parent, UINT id) {
  return CWnd::Create("XTPDatePicker", "", style, rect, parent, id);
}

void CXTPDatePickerControl::GetMinReqRect(CRect* rect) const {
  if (!rect) return;
  int w = 2 * kMargin + 7 * kCellW + (week_numbers_ ? kCellW : 0);
  int h = kHeaderH + kDayNamesH + 6 * kCellH + ((show_today_ || show_none_) ? kButtonsH : 0) + kMargin;
  *rect = CRect(0, 0, w, h);
}

int CXTPDatePickerControl::IsoWeek(const COleDateTime& day) {
  if (!day.IsValid()) return 0;
  COleDateTime thursday = day + COleDateTimeSpan(3 - WeekdayFromMonday(day), 0, 0, 0);
  if (!thursday.IsValid()) return 0;
  return (thursday.GetDayOfYear() - 1) / 7 + 1;
}

void CXTPDatePickerControl::SetButtonsVisible(BOOL today, BOOL none) {
  show_today_ = today != 0;
  show_none_ = none != 0;
}

void CXTPDatePickerControl::Select(const COleDateTime& day) {
  if (!day.IsValid()) return;
  selected_ = COleDateTime(day.GetYear(), day.GetMonth(), day.GetDay(), 0, 0, 0);
  has_selection_ = true;
  month_ = COleDateTime(day.GetYear(), day.GetMonth(), 1, 0, 0, 0);
  if (m_hWnd) Invalidate();
}

BOOL CXTPDatePickerControl::GetSelRange(COleDateTime& from, COleDateTime& to) const {
  if (!has_selection_) return FALSE;
  from = to = selected_;
  return TRUE;
}

BOOL CXTPDatePickerControl::GoModal(const CRect& rect, CWnd* parent) {
  HWND previous = ::GetFocus();
  chosen_ = false;
  if (!has_selection_) Select(COleDateTime::GetCurrentTime());
  if (!CWnd::CreateEx(0, "XTPDatePicker", "", WS_POPUP | WS_VISIBLE | WS_BORDER, rect, parent, 0))
    return FALSE;
  SetFocus();
  RunModalLoop();
  if (m_hWnd) DestroyWindow();
  if (previous && IsWindow(previous)) ::SetFocus(previous);
  return chosen_;
}

void CXTPDatePickerControl::Choose() {
  chosen_ = has_selection_;
  EndModalLoop(IDOK);
  DestroyWindow();
}

void CXTPDatePickerControl::MoveDays(int days) {
  COleDateTime base = has_selection_ ? selected_ : month_;
  Select(base + COleDateTimeSpan(days, 0, 0, 0));
}

void CXTPDatePickerControl::MoveMonths(int months) {
  COleDateTime base = has_selection_ ? selected_ : month_;
  int y = base.GetYear(), m = base.GetMonth() + months, d = base.GetDay();
  while (m > 12) m -= 12, ++y;
  while (m < 1) m += 12, --y;
  d = std::min(d, vkt::ole::DaysInMonth(y, m));
  Select(COleDateTime(y, m, d, 0, 0, 0));
}

int CXTPDatePickerControl::DayAt(CPoint p) const {
  int x0 = kMargin + (week_numbers_ ? kCellW : 0);
  int y0 = kHeaderH + kDayNamesH;
  if (p.x < x0 || p.y < y0) return 0;
  int col = (p.x - x0) / kCellW, row = (p.y - y0) / kCellH;
  if (col > 6 || row > 5) return 0;
  int day = row * 7 + col - WeekdayFromMonday(month_) + 1;
  int days = vkt::ole::DaysInMonth(month_.GetYear(), month_.GetMonth());
  return day >= 1 && day <= days ? day : 0;
}

void CXTPDatePickerControl::Paint() {
  CPaintDC dc(this);
  CRect rc;
  GetClientRect(&rc);
  dc.FillSolidRect(rc, RGB(255, 255, 255));
  dc.SetBkMode(TRANSPARENT);
  CRect head(0, 0, rc.right, kHeaderH);
  dc.FillSolidRect(head, RGB(230, 236, 245));
  char title[40];
  std::snprintf(title, sizeof title, "%s %d", kMonths[month_.GetMonth() - 1], month_.GetYear());
  dc.SetTextColor(RGB(0, 0, 0));
  dc.DrawText(title, head, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  CRect prev(2, 0, 20, kHeaderH), next(rc.right - 20, 0, rc.right - 2, kHeaderH);
  dc.DrawText("<", prev, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  dc.DrawText(">", next, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  int x0 = kMargin + (week_numbers_ ? kCellW : 0);
  dc.SetTextColor(RGB(90, 90, 90));
  for (int c = 0; c < 7; ++c) {
    CRect r(x0 + c * kCellW, kHeaderH, x0 + (c + 1) * kCellW, kHeaderH + kDayNamesH);
    dc.DrawText(kDays[c], r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  int y0 = kHeaderH + kDayNamesH;
  dc.FillSolidRect(CRect(x0, y0 - 1, x0 + 7 * kCellW, y0), RGB(200, 200, 200));
  int first = WeekdayFromMonday(month_);
  int days = vkt::ole::DaysInMonth(month_.GetYear(), month_.GetMonth());
  COleDateTime today = COleDateTime::GetCurrentTime();
  for (int row = 0; row < 6; ++row) {
    int first_day_of_row = row * 7 - first + 1;
    if (week_numbers_ && first_day_of_row <= days) {
      int d = std::clamp(first_day_of_row, 1, days);
      char w[16];
      std::snprintf(w, sizeof w, "%d",
                    IsoWeek(COleDateTime(month_.GetYear(), month_.GetMonth(), d, 0, 0, 0)));
      CRect r(kMargin, y0 + row * kCellH, kMargin + kCellW, y0 + (row + 1) * kCellH);
      dc.SetTextColor(RGB(140, 140, 140));
      dc.DrawText(w, r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    for (int c = 0; c < 7; ++c) {
      int day = first_day_of_row + c;
      if (day < 1 || day > days) continue;
      CRect r(x0 + c * kCellW, y0 + row * kCellH, x0 + (c + 1) * kCellW, y0 + (row + 1) * kCellH);
      bool sel = has_selection_ && selected_.GetYear() == month_.GetYear() &&
                 selected_.GetMonth() == month_.GetMonth() && selected_.GetDay() == day;
      bool is_today = today.GetYear() == month_.GetYear() && today.GetMonth() == month_.GetMonth() &&
                      today.GetDay() == day;
      if (sel) dc.FillSolidRect(r, RGB(0, 120, 215));
      if (is_today) dc.FrameRect(r, RGB(200, 40, 40));
      dc.SetTextColor(sel ? RGB(255, 255, 255) : (c >= 5 ? RGB(180, 0, 0) : RGB(0, 0, 0)));
      char t[16];
      std::snprintf(t, sizeof t, "%d", day);
      dc.DrawText(t, r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
  }
  if (show_today_ || show_none_) {
    int top = y0 + 6 * kCellH + 2;
    CRect b(rc.Width() / 2 - 40, top, rc.Width() / 2 + 40, top + kButtonsH - 6);
    if (show_today_) {
      dc.FillSolidRect(b, RGB(225, 225, 225));
      dc.FrameRect(b, RGB(173, 173, 173));
      dc.SetTextColor(RGB(0, 0, 0));
      dc.DrawText("Oggi", b, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
  }
}

LRESULT CXTPDatePickerControl::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS | DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_KEYDOWN:
      switch (w) {
        case VK_LEFT: MoveDays(-1); return 0;
        case VK_RIGHT: MoveDays(1); return 0;
        case VK_UP: MoveDays(-7); return 0;
        case VK_DOWN: MoveDays(7); return 0;
        case VK_PRIOR: MoveMonths(-1); return 0;
        case VK_NEXT: MoveMonths(1); return 0;
        case VK_HOME: Select(COleDateTime::GetCurrentTime()); return 0;
        case VK_RETURN: Choose(); return 0;
        case VK_ESCAPE:
          chosen_ = false;
          EndModalLoop(IDCANCEL);
          DestroyWindow();
          return 0;
        default: return 0;
      }
    case WM_LBUTTONDOWN: {
      CPoint p(static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l))),
               static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l))));
      CRect rc;
      GetClientRect(&rc);
      if (p.y < kHeaderH) {
        if (p.x < 20) MoveMonths(-1);
        else if (p.x > rc.right - 20) MoveMonths(1);
        return 0;
      }
      int top = kHeaderH + kDayNamesH + 6 * kCellH;
      if (p.y >= top) {
        if (show_today_) {
          Select(COleDateTime::GetCurrentTime());
          Choose();
        }
        return 0;
      }
      int day = DayAt(p);
      if (day) {
        Select(COleDateTime(month_.GetYear(), month_.GetMonth(), day, 0, 0, 0));
        Choose();
      }
      return 0;
    }
    case WM_PAINT:
      Paint();
      return 0;
    default:
      return CWnd::WindowProc(msg, w, l);
  }
}
