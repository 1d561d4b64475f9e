// The base of every formatted input field: its own colours (a fixed
// highlight while focused), font changes, Enter and the arrows moving
// between the fields of a dialog, a "modified" flag that also counts cut,
// paste and clear, and text changes that do not notify the dialog.
//
//   CVKTEdit m_nome;                      // any field derives from the base
//   m_nome.SubclassDlgItem(IDC_NOME, this);
//   m_nome.SetBackColor(RGB(255, 255, 224));
//   m_nome.SetBold(1);
//   m_nome.SetWindowTextNoNotify("Rossi");  // the dialog sees no EN_CHANGE
#ifndef VKT_CONTROLS_VKTEDITBASE_H_
#define VKT_CONTROLS_VKTEDITBASE_H_

#include "controls/xtp.h"
#include "vkt_export.h"

// The colour of a field while it holds the focus (red 243, green 200,
// blue 116).
constexpr COLORREF kVktHighlightColor = 0x74C8F3;

class VKT_API CVKTEditCtrlBase : public CXTPMaskEdit {
 public:
  CVKTEditCtrlBase();
  ~CVKTEditCtrlBase() override;

  void SetBackColor(unsigned long c) { back_color_ = static_cast<COLORREF>(c); }
  unsigned long GetBackColor() const { return back_color_; }
  // Repaints at once.
  void SetForeColor(unsigned long c);
  unsigned long GetForeColor() const { return text_color_; }

  // Each changes one attribute of the control's current font into a font
  // of the field's own; nothing happens when the control has no font.
  void SetFontWeight(long weight);
  void SetItalic(int on);
  void SetUnderline(int on);
  void SetStrikeOut(int on);
  // Weight 700 for 1, 400 for anything else.
  void SetBold(int b);

  // Enabling enables; disabling sets WS_DISABLED in the style directly, so
  // the field keeps its own colours. Nothing without a window.
  void SetEnabled(int b);
  int GetEnabled() const { return IsWindowEnabled() ? 1 : 0; }
  int GetReadOnly() const { return (GetStyle() & ES_READONLY) ? 1 : 0; }
  void SetModified(int b);
  // 1 when the edit's own modify flag or the library's is set.
  int GetModified() const;
  void SetAutoUpDownEnter(int b) { auto_up_down_enter_ = b; }
  int GetAutoUpDownEnter() const { return auto_up_down_enter_; }
  // Sets the text only when it differs, without an EN_CHANGE for the dialog.
  void SetWindowTextNoNotify(const char* text);
  int GetNotify() const { return notify_; }

  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT DefWindowProc(UINT msg, WPARAM w, LPARAM l) override;
  BOOL OnReflectedCommand(UINT code) override;
  HBRUSH CtlColor(CDC* dc, UINT ctl_color) override;
  void OnSetFocus(CWnd* old_wnd) override;
  void OnKillFocus(CWnd* new_wnd) override;
  void OnEnable(BOOL enable) override;
  void OnChar(UINT ch, UINT repeat, UINT flags) override;

 protected:
  // Enter, Down and Up to the parent dialog as next/previous control;
  // false when the parent is not a dialog.
  bool MoveInDialog(bool previous);
  void ChangeFont(void (*change)(LOGFONT*, long), long value);

  CFont font_;
  CBrush brush_;
  COLORREF text_color_ = 0;
  COLORREF back_color_ = 0xFFFFFF;
  int modified_ = 0;
  int notify_ = 1;
  int auto_up_down_enter_ = 1;
};

#endif  // VKT_CONTROLS_VKTEDITBASE_H_
