// Our own versions of the toolkit controls the formatted fields build on:
// the masked edit, the themed combo box and the month calendar.
//
// Masked edit. The mask gives each position a kind; the literal gives what
// the empty field shows (prompt characters at the input positions, fixed
// characters elsewhere):
//   mask "00:00:00", literal "__:__:__"  ->  a time field
// Mask characters: 0 9 # (digit), L ? (letter), A a (letter or digit),
// & C (any printable character); any other mask character is a fixed one.
// Typing overwrites the input position at or after the caret and jumps over
// fixed characters; Backspace and Delete put the prompt character back.
//
//   CXTPMaskEdit e;
//   e.SetEditMask("00/00", "__/__", "");
//   e.Create(WS_CHILD | WS_VISIBLE, rect, &dlg, 7);
//   e.SetMaskedText("1203");    // "12/03"
#ifndef VKT_CONTROLS_XTP_H_
#define VKT_CONTROLS_XTP_H_

#include "vkt_export.h"
#include "win/cstring.h"
#include "win/oledatetime.h"
#include "win/stdctrls.h"

class VKT_API CXTPMaskEdit : public CEdit {
 public:
  CXTPMaskEdit();
  ~CXTPMaskEdit() override;

  // Stores the mask and the literal and turns the mask on; the field shows
  // `default_text` when given, else the literal (at once when the window
  // exists, else when it is attached).
  void SetEditMask(const char* mask, const char* literal, const char* default_text = nullptr);
  void SetUseMask(BOOL use) { use_mask_ = use != 0; }
  BOOL IsUseMask() const { return use_mask_; }
  void SetPromptChar(char prompt) { prompt_ = prompt; }
  char GetPromptChar() const { return prompt_; }
  const CString& GetMask() const { return mask_; }
  const CString& GetLiteral() const { return literal_; }
  const CString& GetDefault() const { return default_; }

  // The field's text from `start` (fixed and prompt characters included).
  CString GetMaskedText(int start = 0) const;
  // Puts `text` into the input positions from `pos` on: a character equal
  // to a fixed one is taken as that one, a refused character leaves the
  // prompt. Positions after `pos` start from the literal.
  void SetMaskedText(const char* text, int pos = 0, BOOL update = TRUE);
  // Whether `c` may stand at input position `pos` (overridable).
  virtual BOOL ProcessMask(char& c, int pos);
  bool IsInputPos(int pos) const;
  // True when the clipboard holds text.
  virtual BOOL CanPaste();
  // While the field has the focus.
  BOOL IsHighlighted() const { return highlighted_; }

  void PreSubclassWindow() override;
  LRESULT DefWindowProc(UINT msg, WPARAM w, LPARAM l) override;
  void OnChar(UINT ch, UINT repeat, UINT flags) override;
  void OnKeyDown(UINT vk, UINT repeat, UINT flags) override;
  void OnSetFocus(CWnd* old_wnd) override;
  void OnKillFocus(CWnd* new_wnd) override;

 protected:
  // Sets the text without losing the caret; `by_user` marks it modified.
  void PutText(const std::string& text, int caret, bool by_user);
  int NextInputPos(int from) const;
  int PrevInputPos(int before) const;

 private:
  void ClearRange(std::string* text, int from, int to) const;
  void TypeChar(char c);
  bool use_mask_ = false;
  char prompt_ = '_';
  CString mask_;
  CString literal_;
  CString default_;
  bool highlighted_ = false;
};

// The themed combo box.
class VKT_API CXTPComboBox : public CComboBox {};

// A month calendar shown modally below a field. Arrows move the day,
// Page Up/Down the month, Enter or a click on a day chooses, Escape or the
// window going away cancels; the Today button chooses today.
class VKT_API CXTPDatePickerControl : public CWnd {
 public:
  CXTPDatePickerControl();
  ~CXTPDatePickerControl() override;

  BOOL Create(DWORD style, const CRect& rect, CWnd* parent, UINT id);
  // The smallest rectangle that shows one month.
  void GetMinReqRect(CRect* rect) const;
  void SetButtonsVisible(BOOL today, BOOL none);
  void SetShowWeekNumbers(BOOL show) { week_numbers_ = show != 0; }
  // Runs the calendar as a popup at `rect` (screen co-ordinates) over
  // `parent` until a day is chosen or it is cancelled; TRUE when chosen.
  // The focus returns to where it was.
  BOOL GoModal(const CRect& rect, CWnd* parent);
  // The chosen (or selected) day; FALSE when there is none.
  BOOL GetSelRange(COleDateTime& from, COleDateTime& to) const;
  void Select(const COleDateTime& day);
  const COleDateTime& month_shown() const { return month_; }
  // The ISO 8601 week of `day` (weeks from Monday; week 1 holds the year's
  // first Thursday): the number shown at the start of its row.
  static int IsoWeek(const COleDateTime& day);

  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;

 private:
  void Choose();
  void MoveDays(int days);
  void MoveMonths(int months);
  void Paint();
  int DayAt(CPoint p) const;  // day of the shown month under p, 0 for none
  COleDateTime selected_;
  bool has_selection_ = false;
  COleDateTime month_;  // day 1 of the shown month
  bool chosen_ = false;
  bool show_today_ = true;
  bool show_none_ = true;
  bool week_numbers_ = false;
};

#endif  // VKT_CONTROLS_XTP_H_
