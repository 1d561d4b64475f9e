// The plain text field: a maximum length, a small format applied when the
// field is left, an optional input mask, a per-character filter and a
// whole-text check that asks "Input non valido !\n\nVuoi Correggere ?".
//
//   m_cf.SubclassDlgItem(IDC_CF, this);
//   m_cf.SetFormat(16, "U<!_", filter_space, CheckCodFiscale);
//   m_cap.SetFormat("00000", "<!_", "_____", '_');   // masked
//
// Format characters ("!" negates the one that follows):
//   <  left (!: right)   >  right (!: left)   ^  centre
//   U  upper (!: lower)  l  lower (!: upper)  P  proper case (!: the reverse)
//   _  fill with blanks to the length (!: clip trailing blanks)
//   c  delete blanks, line ends, tabs, "." and "-"
#ifndef VKT_CONTROLS_VKTEDIT_H_
#define VKT_CONTROLS_VKTEDIT_H_

#include "controls/vkteditbase.h"
#include "vkt_export.h"

using VKTFilter = bool (*)(unsigned int);
using VKTCheck = bool (*)(const char*);

class VKT_API CVKTEdit : public CVKTEditCtrlBase {
 public:
  CVKTEdit();
  ~CVKTEdit() override;

  // A negative length counts as 0 (not formatted).
  void SetFormat(short max_len, const char* format, VKTFilter filter = nullptr,
                 VKTCheck check = nullptr);
  // Masked: the mask's length is the maximum length; no filter, no check.
  void SetFormat(const char* mask, const char* format, const char* literal, char prompt);
  unsigned int GetMaxLen() const { return max_len_; }

  // With a mask, the masked text from position 0; without, the window text.
  // Cut at the maximum length; no formatting, no notification suppression.
  void SetText(const char* text);
  // Format() first; with a mask the prompt characters are removed. Not
  // trimmed.
  CString GetText();
  // As GetText(), trimmed at both ends, into `buffer` of GetMaxLen() + 1
  // bytes, zero-filled, at most GetMaxLen() characters.
  void GetText(char* buffer);
  BOOL CanPaste() override;

  BOOL PreTranslateMessage(MSG* msg) override;
  // A paste from any source (keyboard, menu, program) that the filter
  // refuses pastes nothing.
  LRESULT DefWindowProc(UINT msg, WPARAM w, LPARAM l) override;
  void OnChar(UINT ch, UINT repeat, UINT flags) override;
  void OnKillFocus(CWnd* new_wnd) override;

  const CString& format() const { return format_; }

 protected:
  // Applies the format text to the window text.
  virtual void Format();

 private:
  unsigned int max_len_ = 0;
  CString format_;
  CString mask_text_;
  VKTFilter filter_ = nullptr;
  VKTCheck check_ = nullptr;
};

// The messages the text field shows.
inline constexpr const char* kVktInvalidInput = "Input non valido !\n\nVuoi Correggere ?";
inline constexpr const char* kVktNoFormat = "m_max_len=0 - Usare SetFormat()";
// The message that brings the focus back to a field after a failed check.
constexpr UINT kVktRefocusMsg = WM_APP + 1;

namespace vkt::controls {
// The caption of the fields' message boxes: the host's application name.
VKT_API std::string MessageCaption();
}  // namespace vkt::controls

#endif  // VKT_CONTROLS_VKTEDIT_H_
