#include "controls/vktjulian.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/julian.h"
#include "win/services.h"

namespace {

constexpr int kLen = 10;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads 1 to `max` digits at text[*i]; false when there are none.
bool ReadNumber(const std::string& text, size_t* i, int max, int* value, int* digits) {
  *value = 0;
  *digits = 0;
  while (*i < text.size() && IsDigit(text[*i]) && *digits < max) {
    *value = *value * 10 + (text[*i] - '0');
    ++*i;
    ++*digits;
  }
  return *digits > 0;
}

COleDateTime Invalid() {
  COleDateTime d;
  d.SetStatus(COleDateTime::invalid);
  return d;
}

}  // namespace

// --- CVKTJulian -----------------------------------------------------------------

CVKTJulian::CVKTJulian() = default;
CVKTJulian::~CVKTJulian() = default;

COleDateTime CVKTJulian::ReadOleDateTime(const char* text) {
  std::string t = text ? text : "";
  size_t i = 0;
  while (i < t.size() && t[i] == ' ') ++i;
  int d, m, y, nd, nm, ny;
  if (!ReadNumber(t, &i, 2, &d, &nd)) return Invalid();
  if (i >= t.size() || !std::strchr("/.-", t[i])) return Invalid();
  ++i;
  if (!ReadNumber(t, &i, 2, &m, &nm)) return Invalid();
  if (i >= t.size() || !std::strchr("/.-", t[i])) return Invalid();
  ++i;
  if (!ReadNumber(t, &i, 4, &y, &ny)) return Invalid();
  while (i < t.size() && t[i] == ' ') ++i;
  if (i != t.size()) return Invalid();
  if (ny <= 2) y += y <= 40 ? 2000 : 1900;
  COleDateTime date(y, m, d, 0, 0, 0);
  return date.IsValid() ? date : Invalid();
}

void CVKTJulian::FormatOleDateTime(CString& out, COleDateTime date) {
  out = date.Format("%d/%m/%Y");
}

int CVKTJulian::IsLeapYear(int year) {
  return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 1 : 0;
}

void CVKTJulian::SetJulian(int32_t day) {
  julian_ = day;
  COleDateTime date(JulianToDate(day, 0));
  SetDateTime(date);
}

void CVKTJulian::SetDateTime(COleDateTime& date) {
  julian_ = date.IsValid() ? DateToJulian(date, 0) : 0;
  CString text;
  if (!date.IsValid() || static_cast<double>(date) == 0.0) text = kVktEmptyDate;
  else FormatOleDateTime(text, date);
  SetWindowText(text);
}

COleDateTime CVKTJulian::GetDateTime() { return ReadOleDateTime(GetWindowTextString()); }

int32_t CVKTJulian::GetJulian() {
  COleDateTime d = GetDateTime();
  julian_ = d.IsValid() ? DateToJulian(d, 0) : 0;
  return julian_;
}

int CVKTJulian::GetYear() {
  COleDateTime d = GetDateTime();
  return d.IsValid() ? d.GetYear() : 0;
}

int CVKTJulian::GetMonth() {
  COleDateTime d = GetDateTime();
  return d.IsValid() ? d.GetMonth() : 0;
}

int CVKTJulian::GetDay() {
  COleDateTime d = GetDateTime();
  return d.IsValid() ? d.GetDay() : 0;
}

void CVKTJulian::PreSubclassWindow() {
  CVKTEditCtrlBase::PreSubclassWindow();
  LimitText(kLen);
  SetWindowText(kVktEmptyDate);
}

std::string CVKTJulian::Text10() const {
  std::string t = GetWindowTextString().str();
  if (t.size() > kLen) t.resize(kLen);
  for (size_t i = t.size(); i < kLen; ++i) t += kVktEmptyDate[i];
  return t;
}

void CVKTJulian::PutText(const std::string& text) {
  int caret = GetCaretPos();
  SetWindowText(text.c_str());
  SetCaretPos(caret);
}

int CVKTJulian::GetCaretPos() const {
  int a = 0, b = 0;
  const_cast<CVKTJulian*>(this)->GetSel(a, b);
  return a;
}

void CVKTJulian::SetCaretPos(int pos) { SetSel(pos, pos); }
void CVKTJulian::IncCaretPos(int pos) { SetCaretPos(pos + 1); }
void CVKTJulian::DecCaretPos(int pos) { SetCaretPos(pos > 0 ? pos - 1 : 0); }

bool CVKTJulian::IsValidChar(int pos, char c) const {
  std::string t = Text10();
  if (pos >= kLen) return false;
  if (pos == 0) return c <= '3';
  if (pos == 1) return !(t[0] == '3' && c > '1');
  if (pos == 3) return c <= '1';
  if (pos == 4) return !(t[3] == '1' && c > '2');
  return true;
}

void CVKTJulian::InsertChar(int pos, char c) {
  std::string t = Text10();
  t[static_cast<size_t>(pos)] = c;
  int next = pos + 1;
  if (next < kLen && t[static_cast<size_t>(next)] == '/') ++next;
  SetWindowText(t.c_str());
  SetCaretPos(next);
}

void CVKTJulian::DeleteSelectedChars(int from, int to) {
  std::string t = Text10();
  for (int i = std::max(from, 0); i < to && i < kLen; ++i)
    t[static_cast<size_t>(i)] = (i == 2 || i == 5) ? '/' : '_';
  SetWindowText(t.c_str());
  SetCaretPos(std::max(from, 0));
}

void CVKTJulian::DeleteChar(int pos) {
  if (pos < 0 || pos >= kLen) return;
  std::string t = Text10();
  t[static_cast<size_t>(pos)] = (pos == 2 || pos == 5) ? '/' : '_';
  PutText(t);
}

void CVKTJulian::TypeDigit(char c) {
  if (!IsDigit(c)) return;
  int a = 0, b = 0;
  GetSel(a, b);
  if (a != b) {
    DeleteSelectedChars(a, b);
    SetModified(1);
  }
  int p = GetCaretPos();
  // A digit never replaces a "/": it goes to the position after it.
  if (p == 2 || p == 5) ++p;
  if (!IsValidChar(p, c)) return;
  InsertChar(p, c);
  SetModified(1);
}

void CVKTJulian::Backspace() {
  int a = 0, b = 0;
  GetSel(a, b);
  if (a != b) {
    DeleteSelectedChars(a, b);
  } else if (a > 0) {
    std::string t = Text10();
    int p = a - 1;
    t[static_cast<size_t>(p)] = (p == 2 || p == 5) ? '/' : '_';
    SetWindowText(t.c_str());
    SetCaretPos(p);
  }
  SetModified(1);
}

void CVKTJulian::Delete() {
  int a = 0, b = 0;
  GetSel(a, b);
  if (a >= kLen && a == b) {
    SetModified(1);
    return;
  }
  if (a != b) {
    DeleteSelectedChars(a, b);
  } else {
    std::string t = Text10();
    if (t[static_cast<size_t>(a)] != '/') {
      for (int i = a; i < kLen; ++i) {
        if (t[static_cast<size_t>(i)] == '/') break;
        if (t[static_cast<size_t>(i)] != '_') {
          DeleteChar(i);
          SetCaretPos(a);
          break;
        }
      }
    }
  }
  SetModified(1);
}

void CVKTJulian::Paste() {
  std::string clip;
  if (!vkt::services().GetClipboardText(&clip)) return;
  // A date copied from a cell or a line comes with its line end or tab:
  // control characters are no part of the text.
  std::string printable;
  for (char c : clip) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F) printable += c;
  }
  COleDateTime d = ReadOleDateTime(printable.c_str());
  if (!d.IsValid()) return;
  CString text;
  FormatOleDateTime(text, d);
  SetWindowText(text);
  SetModified(1);
}

void CVKTJulian::FillBlankPos() {
  std::string t = Text10();
  if (t == kVktEmptyDate) return;
  for (char& c : t)
    if (c == '_') c = ' ';
  int d = std::atoi(t.substr(0, 2).c_str());
  int m = std::atoi(t.substr(3, 2).c_str());
  int y = std::atoi(t.substr(6, 4).c_str());
  bool year_blank = t.substr(6, 4) == "    ";
  COleDateTime now = COleDateTime::GetCurrentTime();
  if (m == 0) m = now.GetMonth();
  if (y == 0 && year_blank) y = now.GetYear();
  if (y >= 0 && y <= 40) y += 2000;
  else if (y >= 41 && y <= 99) y += 1900;
  else if (y >= 100 && y <= 1700) y = m >= 3 ? 1700 : 1701;
  else if (y > 9999) y = 9999;
  if (d > 31) d = 31;
  if (d == 31 && (m == 4 || m == 6 || m == 9 || m == 11)) d = 30;
  if (d >= 29 && m == 2) d = IsLeapYear(y) ? 29 : 28;
  COleDateTime date(y, m, d, 0, 0, 0);
  CString text = kVktEmptyDate;
  if (date.IsValid()) FormatOleDateTime(text, date);
  SetWindowText(text);
}

void CVKTJulian::OpenCalendar() {
  CXTPDatePickerControl calendar;
  calendar.SetButtonsVisible(TRUE, FALSE);
  calendar.SetShowWeekNumbers(TRUE);
  CRect size;
  calendar.GetMinReqRect(&size);
  int w = size.Width() + 4, h = size.Height() + 4;
  CRect field;
  GetWindowRect(&field);
  int left = left_popup_ ? field.left : field.right - w;
  CRect at(left, field.bottom, left + w, field.bottom + h);
  COleDateTime current = GetDateTime();
  if (current.IsValid()) calendar.Select(current);
  HWND me = m_hWnd;
  if (calendar.GoModal(at, GetParent()) && IsWindow(me)) {
    COleDateTime from, to;
    if (calendar.GetSelRange(from, to)) {
      SetDateTime(from);
      SetModified(1);
    }
  }
  if (IsWindow(me)) SetModified(1);
}

BOOL CVKTJulian::PreTranslateMessage(MSG* msg) {
  if (msg->hwnd == m_hWnd) {
    switch (msg->message) {
      case WM_CHAR:
        TypeDigit(static_cast<char>(msg->wParam));
        return TRUE;
      case WM_KEYDOWN:
        if (msg->wParam == VK_BACK) {
          Backspace();
          return TRUE;
        }
        if (msg->wParam == VK_DELETE) {
          Delete();
          return TRUE;
        }
        break;
      case WM_LBUTTONDBLCLK:
        OpenCalendar();
        return TRUE;
      default:
        break;
    }
  }
  return CVKTEditCtrlBase::PreTranslateMessage(msg);
}

LRESULT CVKTJulian::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_PASTE) {
    Paste();
    return 0;
  }
  return CVKTEditCtrlBase::WindowProc(msg, w, l);
}

BOOL CVKTJulian::OnReflectedCommand(UINT code) {
  if (code == EN_KILLFOCUS) {
    FillBlankPos();
    return TRUE;
  }
  if (code == EN_SETFOCUS) return FALSE;
  return CVKTEditCtrlBase::OnReflectedCommand(code);
}

// --- CVKTDateTime -----------------------------------------------------------

CVKTDateTime::CVKTDateTime() = default;

CVKTDateTime::CVKTDateTime(int32_t day) : COleDateTime(JulianToDate(day, 0)) {
  anchor_day_ = IsValid() ? GetDay() : 0;
}

CVKTDateTime::CVKTDateTime(const COleDateTime& date) : COleDateTime(date) {
  anchor_day_ = IsValid() ? GetDay() : 0;
}

CVKTDateTime::~CVKTDateTime() = default;

COleDateTime CVKTDateTime::FirstDayOfTheMonth() const {
  if (!IsValid()) return Invalid();
  return COleDateTime(GetYear(), GetMonth(), 1, 0, 0, 0);
}

COleDateTime CVKTDateTime::LastDayOfTheMonth() const {
  if (!IsValid()) return Invalid();
  int m = GetMonth(), y = GetYear();
  int d = 31;
  if (m == 4 || m == 6 || m == 9 || m == 11) d = 30;
  if (m == 2) d = COleDateTime(y, 2, 29, 0, 0, 0).IsValid() ? 29 : 28;
  return COleDateTime(y, m, d, 0, 0, 0);
}

COleDateTime CVKTDateTime::FirstDayOfTheWeek() const {
  if (!IsValid()) return Invalid();
  int dow = GetDayOfWeek();
  int back = dow == 1 ? 6 : dow - 2;
  return *this - COleDateTimeSpan(back, 0, 0, 0);
}

COleDateTime CVKTDateTime::LastDayOfTheWeek() const {
  if (!IsValid()) return Invalid();
  int dow = GetDayOfWeek();
  if (dow == 1) return *this;
  return *this + COleDateTimeSpan(8 - dow, 0, 0, 0);
}

void CVKTDateTime::NextDeadline(int months) {
  if (!IsValid()) return;
  if (anchor_day_ == 0) anchor_day_ = GetDay();
  int m = GetMonth(), y = GetYear();
  for (int i = 0; i < months; ++i) {
    if (++m > 12) {
      m = 1;
      ++y;
    }
  }
  int d = anchor_day_;
  COleDateTime date(y, m, d, 0, 0, 0);
  // Back to the month's last day, and never below day 1.
  while (!date.IsValid() && d > 1) date = COleDateTime(y, m, --d, 0, 0, 0);
  if (!date.IsValid()) {
    SetStatus(invalid);
    return;
  }
  m_dt = date.m_dt;
  m_status = valid;
}

int32_t CVKTDateTime::GetJulian() const { return IsValid() ? DateToJulian(m_dt, 0) : 0; }

// --- CVKTDatePickerControl ----------------------------------------------------

CVKTDatePickerControl::CVKTDatePickerControl() = default;
CVKTDatePickerControl::~CVKTDatePickerControl() = default;

BOOL CVKTDatePickerControl::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
    DestroyWindow();
    return TRUE;
  }
  return CXTPDatePickerControl::PreTranslateMessage(msg);
}
