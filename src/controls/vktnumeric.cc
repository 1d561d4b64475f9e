#include "controls/vktnumeric.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "win/services.h"

CVKTNumeric::CVKTNumeric() { modified_ = 0; }

CVKTNumeric::CVKTNumeric(short decimals, bool separator, bool remove_non_sig_digits,
                         double minimum, double maximum)
    : decimals_(decimals),
      separator_(separator),
      max_(maximum),
      min_(minimum),
      remove_non_sig_(remove_non_sig_digits) {}

CVKTNumeric::~CVKTNumeric() = default;

double CVKTNumeric::ParseNumber(const std::string& text) {
  std::string s;
  for (char c : text) {
    if (c == '.') continue;
    s += c == ',' ? '.' : c;
  }
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  // Only plain decimals: no exponent, no "inf" or "nan" from a field.
  size_t end = i;
  bool point = false;
  while (end < s.size() && ((s[end] >= '0' && s[end] <= '9') || (s[end] == '.' && !point))) {
    point = point || s[end] == '.';
    ++end;
  }
  double v = 0.0;
  auto r = std::from_chars(s.data() + i, s.data() + end, v, std::chars_format::fixed);
  if (r.ec == std::errc::result_out_of_range) v = std::numeric_limits<double>::infinity();
  else if (r.ec != std::errc()) v = 0.0;
  return negative ? -v : v;
}

CString CVKTNumeric::DisplayForm(double v) const {
  if (!std::isfinite(v)) v = 0.0;
  int dec = std::clamp<int>(decimals_, 0, 15);
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, dec);
  std::string s = r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0");
  std::replace(s.begin(), s.end(), '.', ',');
  bool negative = !s.empty() && s[0] == '-';
  if (negative) s.erase(0, 1);
  size_t comma = s.find(',');
  std::string integer = comma == std::string::npos ? s : s.substr(0, comma);
  std::string decimals = comma == std::string::npos ? "" : s.substr(comma);
  if (remove_non_sig_)
    while (decimals.size() > 1 && decimals.back() == '0') decimals.pop_back();
  if (separator_) {
    std::string grouped;
    int n = static_cast<int>(integer.size());
    for (int k = 0; k < n; ++k) {
      if (k > 0 && (n - k) % 3 == 0) grouped += '.';
      grouped += integer[static_cast<size_t>(k)];
    }
    integer = grouped;
  }
  std::string out = integer + decimals;
  if (!out.empty() && out.back() == ',') out.pop_back();
  if (negative) out.insert(out.begin(), '-');
  return CString(out);
}

void CVKTNumeric::Format() { SetWindowText(DisplayForm(value_)); }

void CVKTNumeric::UpdateValue() {
  if (m_hWnd) value_ = ParseNumber(GetWindowTextString().str());
}

void CVKTNumeric::SetWindowText(const char* text) {
  CWnd::SetWindowText(text);
  UpdateValue();
}

void CVKTNumeric::SetValue(double v) {
  value_ = v;
  Format();
}

void CVKTNumeric::SetValueInteger(int64_t v) { SetValue(static_cast<double>(v)); }

double CVKTNumeric::GetValue() {
  UpdateValue();
  return value_;
}

int64_t CVKTNumeric::GetValueInteger() {
  UpdateValue();
  double t = std::trunc(value_);
  if (std::isnan(t)) return 0;
  if (t >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
  if (t <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(t);
}

void CVKTNumeric::GetRange(double* minimum, double* maximum) const {
  if (minimum) *minimum = min_;
  if (maximum) *maximum = max_;
}

void CVKTNumeric::SetText(const char* text) { SetWindowText(text ? text : ""); }

CString CVKTNumeric::GetText() {
  Format();
  return GetWindowTextString();
}

void CVKTNumeric::GetText(char* buffer, int size) {
  if (!buffer || size <= 0) return;
  Format();
  CString text = GetWindowTextString();
  text.Trim();
  std::memset(buffer, 0, static_cast<size_t>(size));
  size_t n = std::min<size_t>(static_cast<size_t>(text.GetLength()), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.GetString(), n);
}

bool CVKTNumeric::AcceptableWhileTyping(double v) const {
  if (std::isnan(v)) return false;
  if (v > 0) return v <= max_;
  if (v < 0) return min_ < 0 && v >= min_;
  return true;
}

bool CVKTNumeric::IsValidChar(char c) {
  std::string text = GetWindowTextString().str();
  int a = 0, b = 0;
  GetSel(a, b);
  a = std::clamp(a, 0, static_cast<int>(text.size()));
  b = std::clamp(b, a, static_cast<int>(text.size()));
  std::string copy = text;
  double tested;
  if (c >= '0' && c <= '9') {
    copy.replace(static_cast<size_t>(a), static_cast<size_t>(b - a), 1, c);
    tested = ParseNumber(copy);
  } else if (c == ',') {
    if (text.find(',') != std::string::npos || decimals_ <= 0) return false;
    copy.replace(static_cast<size_t>(a), static_cast<size_t>(b - a), 1, ',');
    tested = ParseNumber(copy);
  } else if (c == '-') {
    if (!(min_ < 0)) return false;
    copy.erase(static_cast<size_t>(a), static_cast<size_t>(b - a));
    tested = -ParseNumber(copy);
  } else if (c == '+') {
    copy.erase(static_cast<size_t>(a), static_cast<size_t>(b - a));
    tested = std::fabs(ParseNumber(copy));
  } else if (c == '.') {
    return true;
  } else if (c == kBackspace) {
    if (a == b && a == 0) return false;
    if (a != b) copy.erase(static_cast<size_t>(a), static_cast<size_t>(b - a));
    else copy.erase(static_cast<size_t>(a - 1), 1);
    tested = ParseNumber(copy);
  } else if (c == kDelete) {
    if (a != b) copy.erase(static_cast<size_t>(a), static_cast<size_t>(b - a));
    else if (a < static_cast<int>(copy.size())) copy.erase(static_cast<size_t>(a), 1);
    tested = ParseNumber(copy);
  } else {
    return false;
  }
  return AcceptableWhileTyping(tested);
}

void CVKTNumeric::RemoveSelectedChars() {
  int a = 0, b = 0;
  GetSel(a, b);
  if (a == b) return;
  std::string text = GetWindowTextString().str();
  a = std::clamp(a, 0, static_cast<int>(text.size()));
  b = std::clamp(b, a, static_cast<int>(text.size()));
  text.erase(static_cast<size_t>(a), static_cast<size_t>(b - a));
  SetWindowText(text.c_str());
  SetSel(a, a);
}

void CVKTNumeric::CaretMoveLast() {
  int n = GetWindowTextLength();
  SetSel(n, n);
}

void CVKTNumeric::HandleDelete(bool backspace) {
  if (!IsValidChar(backspace ? kBackspace : kDelete)) return;
  int a = 0, b = 0;
  GetSel(a, b);
  if (a != b) {
    RemoveSelectedChars();
  } else {
    std::string text = GetWindowTextString().str();
    if (backspace) {
      if (a > 0 && a <= static_cast<int>(text.size())) {
        text.erase(static_cast<size_t>(a - 1), 1);
        SetWindowText(text.c_str());
        SetSel(a - 1, a - 1);
      }
    } else if (a < static_cast<int>(text.size())) {
      text.erase(static_cast<size_t>(a), 1);
      SetWindowText(text.c_str());
      SetSel(a, a);
    }
  }
  SetModified(1);
}

void CVKTNumeric::HandleChar(char c) {
  if (c == '.') {
    // The keypad's point types the field's decimal comma.
    vkt::win::QueueKey(VK_OEM_COMMA, true, ',');
    vkt::win::QueueKey(VK_OEM_COMMA, false, ',');
    return;
  }
  RemoveSelectedChars();
  std::string text = GetWindowTextString().str();
  int a = 0, b = 0;
  GetSel(a, b);
  int caret = std::clamp(a, 0, static_cast<int>(text.size()));
  if (c >= '0' && c <= '9') {
    text.insert(static_cast<size_t>(caret), 1, c);
    ++caret;
  } else if (c == ',') {
    if (text.empty()) {
      text = "0,";
      caret = 2;
    } else if (text == "-") {
      text = "-0,";
      caret = 3;
    } else {
      text.insert(static_cast<size_t>(caret), 1, ',');
      ++caret;
    }
  } else if (c == '-') {
    size_t minus = text.find('-');
    if (minus == std::string::npos) {
      text.insert(text.begin(), '-');
      ++caret;
    } else {
      text.erase(minus, 1);
      caret = std::max(caret - 1, 0);
    }
  } else if (c == '+') {
    size_t before = text.size();
    text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    if (text.size() != before) caret = std::max(caret - 1, 0);
  }
  SetWindowText(text.c_str());
  SetSel(caret, caret);
  SetModified(1);
}

void CVKTNumeric::Paste() {
  std::string clip;
  if (!vkt::services().GetClipboardText(&clip)) return;
  std::string ins;
  for (char c : clip) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= ' ' || u == 0x7F || c == '.') continue;  // blanks, line ends, thousands
    if (!((c >= '0' && c <= '9') || c == ',' || c == '-' || c == '+')) return;
    ins += c;
  }
  if (!ins.empty() && ins[0] == '+') ins.erase(0, 1);
  std::string text = GetWindowTextString().str();
  int a = 0, b = 0;
  GetSel(a, b);
  a = std::clamp(a, 0, static_cast<int>(text.size()));
  b = std::clamp(b, a, static_cast<int>(text.size()));
  std::string result = text;
  result.replace(static_cast<size_t>(a), static_cast<size_t>(b - a), ins);
  size_t commas = std::count(result.begin(), result.end(), ',');
  size_t minus = result.rfind('-');
  bool plus = result.find('+') != std::string::npos;
  if (ins.empty() || plus || commas > 1 || (commas == 1 && decimals_ <= 0)) return;
  if (minus != std::string::npos && (minus != 0 || !(min_ < 0))) return;
  if (!AcceptableWhileTyping(ParseNumber(result))) return;
  SetWindowText(result.c_str());
  int caret = a + static_cast<int>(ins.size());
  SetSel(caret, caret);
  SetModified(1);
}

LRESULT CVKTNumeric::DefWindowProc(UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_PASTE) {
    modified_ = 1;
    Paste();
    return 0;
  }
  return CVKTEditCtrlBase::DefWindowProc(msg, w, l);
}

BOOL CVKTNumeric::PreTranslateMessage(MSG* msg) {
  if (msg->hwnd == m_hWnd) {
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_DELETE || msg->wParam == VK_BACK)) {
      HandleDelete(msg->wParam == VK_BACK);
      return TRUE;
    }
    if (msg->message == WM_CHAR) {
      char c = static_cast<char>(msg->wParam);
      if (IsValidChar(c)) HandleChar(c);
      return TRUE;
    }
  }
  return CVKTEditCtrlBase::PreTranslateMessage(msg);
}

void CVKTNumeric::PreSubclassWindow() {
  ModifyStyle(ES_CENTER | ES_LEFT, ES_RIGHT);
  CVKTEditCtrlBase::PreSubclassWindow();
  Format();
}

void CVKTNumeric::OnSetFocus(CWnd* old_wnd) {
  std::string text = GetWindowTextString().str();
  text.erase(std::remove(text.begin(), text.end(), '.'), text.end());
  SetWindowText(text.c_str());
  ModifyStyle(ES_CENTER | ES_RIGHT, 0, SWP_FRAMECHANGED);
  CVKTEditCtrlBase::OnSetFocus(old_wnd);
}

void CVKTNumeric::OnKillFocus(CWnd* new_wnd) {
  ModifyStyle(ES_CENTER, ES_RIGHT, SWP_FRAMECHANGED);
  UpdateValue();
  Format();
  CVKTEditCtrlBase::OnKillFocus(new_wnd);
}
