#include "controls/vktedit.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/vktstring.h"
#include "frame/vktapp.h"
#include "win/cp1252.h"
#include "win/services.h"

namespace vkt::controls {

std::string MessageCaption() {
  if (vktpar) return std::string(vktpar->app_name, strnlen(vktpar->app_name, sizeof vktpar->app_name));
  return std::string();
}

}  // namespace vkt::controls

namespace {

enum class Case { kNone, kUpper, kLower, kProper, kReverseProper };
enum class Align { kNone, kLeft, kRight, kCenter };
enum class Blanks { kNone, kFill, kClip };

// Case changes of Windows-1252 letters, accented ones included, whatever
// the process locale.
void ApplyCase(char* s, Case c) {
  bool after_blank = true;
  for (char* p = s; *p; ++p) {
    switch (c) {
      case Case::kUpper: *p = vkt::win::Cp1252ToUpper(*p); break;
      case Case::kLower: *p = vkt::win::Cp1252ToLower(*p); break;
      case Case::kProper:
        *p = after_blank ? vkt::win::Cp1252ToUpper(*p) : vkt::win::Cp1252ToLower(*p);
        break;
      case Case::kReverseProper:
        *p = after_blank ? vkt::win::Cp1252ToLower(*p) : vkt::win::Cp1252ToUpper(*p);
        break;
      case Case::kNone: break;
    }
    after_blank = *p == ' ';
  }
}

// Whether the filter takes every character a paste would put in the field;
// control characters do not count, the field drops them.
bool FilterTakesPaste(VKTFilter filter, const std::string& clip) {
  for (char c : clip) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) continue;
    if (!filter(u)) return false;
  }
  return true;
}

// Set while a field takes the focus back after its failed check: the field
// that loses the focus then was not left by the user and is not checked,
// so that two invalid fields do not send the focus back and forth forever.
int g_taking_focus_back = 0;

class TakingFocusBack {
 public:
  TakingFocusBack() { ++g_taking_focus_back; }
  ~TakingFocusBack() { --g_taking_focus_back; }
  TakingFocusBack(const TakingFocusBack&) = delete;
  TakingFocusBack& operator=(const TakingFocusBack&) = delete;
};

}  // namespace

CVKTEdit::CVKTEdit() = default;
CVKTEdit::~CVKTEdit() = default;

void CVKTEdit::SetFormat(short max_len, const char* format, VKTFilter filter, VKTCheck check) {
  max_len_ = max_len < 0 ? 0u : static_cast<unsigned int>(max_len);
  if (m_hWnd) SendMessage(EM_LIMITTEXT, max_len_, 0);
  format_ = format ? format : "";
  filter_ = filter;
  check_ = check;
}

void CVKTEdit::SetFormat(const char* mask, const char* format, const char* literal, char prompt) {
  mask_text_ = mask ? mask : "";
  SetPromptChar(prompt);
  SetEditMask(mask_text_, literal, "");
  // A mask longer than a short can count leaves the field unformatted.
  int len = mask_text_.GetLength();
  SetFormat(static_cast<short>(len > 32767 ? -1 : len), format, nullptr, nullptr);
}

void CVKTEdit::SetText(const char* text) {
  std::string t = text ? text : "";
  if (max_len_ > 0 && t.size() > max_len_) t.resize(max_len_);
  if (!mask_text_.IsEmpty()) SetMaskedText(t.c_str(), 0, TRUE);
  else SetWindowText(t.c_str());
}

CString CVKTEdit::GetText() {
  Format();
  if (mask_text_.IsEmpty()) return GetWindowTextString();
  CString text = GetMaskedText(0);
  text.Remove(GetPromptChar());
  return text;
}

void CVKTEdit::GetText(char* buffer) {
  if (!buffer) return;
  CString text = GetText();
  text.Trim();
  std::memset(buffer, 0, max_len_ + 1);
  size_t n = std::min<size_t>(static_cast<size_t>(text.GetLength()), max_len_);
  std::memcpy(buffer, text.GetString(), n);
}

BOOL CVKTEdit::CanPaste() {
  if (!CVKTEditCtrlBase::CanPaste()) return FALSE;
  if (!filter_) return TRUE;
  std::string clip;
  if (!vkt::services().GetClipboardText(&clip)) return FALSE;
  return FilterTakesPaste(filter_, clip) ? TRUE : FALSE;
}

void CVKTEdit::Format() {
  if (format_.IsEmpty() || !m_hWnd) return;
  Case case_kind = Case::kNone;
  Align align = Align::kNone;
  Blanks blanks = Blanks::kNone;
  bool compact = false;
  const std::string& f = format_.str();
  for (size_t i = 0; i < f.size(); ++i) {
    bool neg = false;
    char c = f[i];
    if (c == '!') {
      if (i + 1 >= f.size()) break;
      neg = true;
      c = f[++i];
    }
    switch (c) {
      case '<': align = neg ? Align::kRight : Align::kLeft; break;
      case '>': align = neg ? Align::kLeft : Align::kRight; break;
      case '^': align = Align::kCenter; break;
      case 'U': case_kind = neg ? Case::kLower : Case::kUpper; break;
      case 'l': case_kind = neg ? Case::kUpper : Case::kLower; break;
      case 'P': case_kind = neg ? Case::kReverseProper : Case::kProper; break;
      case '_': blanks = neg ? Blanks::kClip : Blanks::kFill; break;
      case 'c': compact = true; break;
      default: break;
    }
  }
  // The buffer has room for the maximum length and no more: a longer text
  // is cut, never written past it.
  std::string text = GetWindowTextString().str();
  if (text.size() > max_len_) text.resize(max_len_);
  std::vector<char> buf(max_len_ + 1, '\0');
  std::memcpy(buf.data(), text.data(), text.size());
  int n = static_cast<int>(max_len_);
  if (compact) strcompact(buf.data());
  ApplyCase(buf.data(), case_kind);
  switch (align) {
    case Align::kLeft: strleft(buf.data(), n); break;
    case Align::kRight: strright(buf.data(), n); break;
    case Align::kCenter: strcenter(buf.data(), n); break;
    case Align::kNone: break;
  }
  if (blanks == Blanks::kFill) strpadwith(buf.data(), ' ', n);
  else if (blanks == Blanks::kClip) strclip(buf.data());
  SetWindowTextNoNotify(buf.data());
}

LRESULT CVKTEdit::DefWindowProc(UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_PASTE && filter_) {
    std::string clip;
    if (vkt::services().GetClipboardText(&clip) && !FilterTakesPaste(filter_, clip)) return 0;
  }
  return CVKTEditCtrlBase::DefWindowProc(msg, w, l);
}

void CVKTEdit::OnChar(UINT ch, UINT repeat, UINT flags) {
  if (ch != 8 && filter_ && !filter_(ch & 0xFF)) return;
  CVKTEditCtrlBase::OnChar(ch, repeat, flags);
}

BOOL CVKTEdit::PreTranslateMessage(MSG* msg) {
  if (msg->hwnd == m_hWnd && msg->message == kVktRefocusMsg) {
    TakingFocusBack guard;
    SetFocus();
    return TRUE;
  }
  if (filter_ && msg->hwnd == m_hWnd && msg->message == WM_KEYDOWN) {
    bool ctrl = ::GetKeyState(VK_CONTROL) < 0, shift = ::GetKeyState(VK_SHIFT) < 0;
    if ((msg->wParam == 'V' && ctrl) || (msg->wParam == VK_INSERT && shift)) {
      std::string clip;
      if (vkt::services().GetClipboardText(&clip)) {
        if (!FilterTakesPaste(filter_, clip)) return TRUE;
        // Pasted here, and the key consumed: letting it through would
        // paste a second time.
        SendMessage(WM_PASTE, 0, 0);
        return TRUE;
      }
    }
  }
  return CVKTEditCtrlBase::PreTranslateMessage(msg);
}

void CVKTEdit::OnKillFocus(CWnd* new_wnd) {
  if (max_len_ == 0) {
    vkt::services().MessageBox(kVktNoFormat, vkt::controls::MessageCaption(), MB_OK);
    return;
  }
  bool valid = true;
  if (check_ && g_taking_focus_back == 0) {
    CString text = GetText();
    valid = check_(text.GetString());
  }
  if (valid) {
    CVKTEditCtrlBase::OnKillFocus(new_wnd);
    Format();
    return;
  }
  // The library's reporting rule: a silent host takes the affirmative
  // answer, so an invalid field is corrected, never saved.
  int answer = vkt::Report(kVktInvalidInput, vkt::controls::MessageCaption(),
                           MB_YESNO | MB_ICONQUESTION);
  if (answer == IDYES) {
    PostMessage(kVktRefocusMsg, 0, 0);
    CVKTEditCtrlBase::OnKillFocus(new_wnd);
    return;
  }
  CVKTEditCtrlBase::OnKillFocus(new_wnd);
  Format();
}
