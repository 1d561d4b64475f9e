#include "controls/vkttime.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "win/dialog.h"

// --- CVKTTime -----------------------------------------------------------------

CVKTTime::CVKTTime() {
  time_brush_.CreateSolidBrush(RGB(255, 255, 255));
  SetUseMask(TRUE);
  SetEditMask("00:00:00", "__:__:__", "00:00:00");
}

CVKTTime::~CVKTTime() = default;

void CVKTTime::Display() {
  if (!m_hWnd) return;
  if (hours_ == 0 && minutes_ == 0 && seconds_ == 0) {
    SetWindowText(show_seconds_ ? "__:__:__" : "__:__");
    return;
  }
  // Each part prints in two places, whatever was stored.
  int h = std::clamp(hours_, 0, 99), m = std::clamp(minutes_, 0, 99),
      s = std::clamp(seconds_, 0, 99);
  char buf[32];
  if (show_seconds_) std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, m, s);
  else std::snprintf(buf, sizeof buf, "%02d:%02d", h, m);
  SetWindowText(buf);
}

void CVKTTime::SetHours(int h) {
  hours_ = h;
  Display();
}

void CVKTTime::SetMinutes(int m) {
  minutes_ = m;
  Display();
}

void CVKTTime::SetSeconds(int s) {
  seconds_ = s;
  Display();
}

void CVKTTime::SetTime(int h, int m, int s) {
  hours_ = h;
  minutes_ = m;
  seconds_ = s;
  Display();
}

void CVKTTime::SetLong(int32_t t) {
  if (t < 0) t = 0;
  if (t >= 360000) t = 359999;
  SetHours(t / 3600);
  SetMinutes((t % 3600) / 60);
  SetSeconds(t % 60);
  if (t == 0) SetWindowText(show_seconds_ ? "__:__:__" : "__:__");
}

int32_t CVKTTime::GetLong() {
  UpdateValue();
  int64_t t = static_cast<int64_t>(hours_) * 3600 + static_cast<int64_t>(minutes_) * 60 + seconds_;
  return static_cast<int32_t>(std::clamp<int64_t>(t, INT32_MIN, INT32_MAX));
}

void CVKTTime::SetShowSeconds(int b) {
  show_seconds_ = b;
  if (b) SetEditMask("00:00:00", "__:__:__", "00:00:00");
  else SetEditMask("00:00", "__:__", "00:00");
  SetHours(hours_);
}

void CVKTTime::FormatOleDateTime(CString& out, COleDateTime t) {
  if (static_cast<double>(t) == 0.0) {
    out = show_seconds_ ? "00:00:00" : "00:00";
    return;
  }
  out = t.Format(show_seconds_ ? "%H:%M:%S" : "%H:%M");
}

BOOL CVKTTime::ProcessMask(char& c, int pos) {
  const CString& mask = GetMask();
  if (pos < 0 || pos >= mask.GetLength() || mask[pos] != '0') return FALSE;
  if (c < '0' || c > '9' || pos > 7) return FALSE;
  std::string text = GetWindowTextString().str();
  char first = text.empty() ? '_' : text[0];
  switch (pos) {
    case 0: return c <= (military_ ? '2' : '1');
    case 1:
      if (military_ && first == '2') return c <= '3';
      if (!military_ && first == '1') return c <= '2';
      return TRUE;
    case 3:
    case 6: return c <= '5';
    case 4:
    case 7: return TRUE;
    default: return FALSE;
  }
}

void CVKTTime::UpdateValue() {
  if (!m_hWnd) return;
  std::string t = GetWindowTextString().str();
  for (char& c : t)
    if (c == '_') c = '0';
  auto part = [&](size_t at) {
    return at + 2 <= t.size() ? std::atoi(t.substr(at, 2).c_str()) : 0;
  };
  int h = part(0), m = part(3);
  int s = show_seconds_ && t.size() >= 2 ? std::atoi(t.substr(t.size() - 2).c_str()) : 0;
  SetHours(h);
  SetMinutes(m);
  SetSeconds(s);
}

void CVKTTime::FillBlankPos() {
  std::string t = GetWindowTextString().str();
  std::replace(t.begin(), t.end(), '_', '0');
  SetWindowText(t.c_str());
}

void CVKTTime::PreSubclassWindow() {
  CVKTEditCtrlBase::PreSubclassWindow();
  ModifyStyle(ES_LEFT | ES_RIGHT, ES_CENTER);
}

BOOL CVKTTime::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN && msg->hwnd == m_hWnd &&
      (msg->wParam == VK_UP || msg->wParam == VK_DOWN) && MoveInDialog(msg->wParam == VK_UP))
    return TRUE;
  return CVKTEditCtrlBase::PreTranslateMessage(msg);
}

HBRUSH CVKTTime::CtlColor(CDC* dc, UINT) {
  dc->SetTextColor(time_text_);
  time_brush_.DeleteObject();
  COLORREF back = IsHighlighted() ? kVktHighlightColor : time_back_;
  dc->SetBkColor(back);
  time_brush_.CreateSolidBrush(back);
  return time_brush_.GetSafeHandle();
}

void CVKTTime::OnSetFocus(CWnd* old_wnd) {
  ModifyStyle(ES_LEFT | ES_RIGHT, ES_CENTER);
  CVKTEditCtrlBase::OnSetFocus(old_wnd);
}

void CVKTTime::OnKillFocus(CWnd* new_wnd) {
  ModifyStyle(ES_LEFT | ES_RIGHT, ES_CENTER);
  FillBlankPos();
  GetLong();
  CVKTEditCtrlBase::OnKillFocus(new_wnd);
}

// --- CVKTComboBox ---------------------------------------------------------------

CVKTComboBox::CVKTComboBox() = default;
CVKTComboBox::~CVKTComboBox() = default;

int CVKTComboBox::AddItem(const char* text, int32_t key) {
  int i = AddString(text);
  if (i < 0) return i;
  SetItemData(i, key);
  return i;
}

int CVKTComboBox::FindItem(int32_t key) const {
  if (!m_hWnd) return -1;
  int n = GetCount();
  for (int i = 0; i < n; ++i)
    if (GetItemData(i) == key) return i;
  return -1;
}

int32_t CVKTComboBox::GetCurItem() const {
  int sel = GetCurSel();
  if (sel < 0) return -1;
  return static_cast<int32_t>(GetItemData(sel));
}

int CVKTComboBox::SetCurItem(int32_t key) {
  int i = FindItem(key);
  if (i < 0) return -1;
  return SetCurSel(i);
}

int32_t CVKTComboBox::GetLong() const {
  if (!m_hWnd) return -1;
  return GetCurItem();
}

void CVKTComboBox::SetLong(int32_t key) {
  ClearSel();
  int i = FindItem(key);
  if (i < 0) return;
  SetCurSel(i);
  if (CWnd* parent = GetParent())
    parent->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID()), CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(m_hWnd));
}

CString CVKTComboBox::GetText() const {
  CString text;
  if (!m_hWnd) return text;
  int sel = GetCurSel();
  if (sel >= 0) GetLBText(sel, text);
  return text;
}

void CVKTComboBox::ClearSel() {
  if (m_hWnd) SetCurSel(-1);
}

void CVKTComboBox::SetEnabled(int b) {
  if (!m_hWnd) return;
  if (b) {
    if (!IsWindowEnabled()) EnableWindow(TRUE);
    return;
  }
  if (!IsWindowEnabled()) return;
  ::SetWindowLong(m_hWnd, GWL_STYLE, ::GetWindowLong(m_hWnd, GWL_STYLE) | static_cast<LONG>(WS_DISABLED));
  Invalidate();
}

void CVKTComboBox::PreSubclassWindow() {
  CXTPComboBox::PreSubclassWindow();
  if (m_hWnd) SendMessage(CB_SETEXTENDEDUI, TRUE, 0);
}

BOOL CVKTComboBox::PreTranslateMessage(MSG* msg) {
  if (msg->message != WM_KEYDOWN || msg->hwnd != m_hWnd) return CXTPComboBox::PreTranslateMessage(msg);
  bool dropped = GetDroppedState() != 0;
  CWnd* parent = GetParent();
  bool dialog = dynamic_cast<CDialog*>(parent) != nullptr;
  UINT key = static_cast<UINT>(msg->wParam);
  switch (key) {
    case VK_RETURN:
      if (!dropped && dialog) {
        parent->SendMessage(WM_NEXTDLGCTL, 0, 0);
        return TRUE;
      }
      break;
    case VK_ESCAPE:
      if (dropped) {
        ShowDropDown(FALSE);
        return TRUE;
      }
      break;
    case VK_SPACE:
      if (!dropped) {
        ShowDropDown(TRUE);
        return TRUE;
      }
      break;
    case VK_UP:
      if (!dropped && dialog) {
        parent->SendMessage(WM_NEXTDLGCTL, 1, 0);
        return TRUE;
      }
      if (dropped) msg->wParam = VK_LEFT;
      break;
    case VK_DOWN:
      if (!dropped && dialog) {
        parent->SendMessage(WM_NEXTDLGCTL, 0, 0);
        return TRUE;
      }
      if (dropped) msg->wParam = VK_RIGHT;
      break;
    default:
      if (key >= VK_F1 && key <= VK_F12) break;
      if (key < 256 && std::isalnum(static_cast<int>(key)) && !dropped) ShowDropDown(TRUE);
      break;
  }
  return CXTPComboBox::PreTranslateMessage(msg);
}
