// Themed buttons, check boxes and radio buttons: the themed button base
// (CXTPButton) paints a flat, skinned look; the library's classes add a
// bookmark value, their own font, a highlight while focused and the
// arrows moving between the controls of a dialog.
//
//   CVKTCheckBox m_attivo;
//   m_attivo.SubclassDlgItem(IDC_ATTIVO, this);
//   m_attivo.SetBool(true);              // repaints at once
//   if (m_attivo.GetBool()) ...
#ifndef VKT_CONTROLS_VKTBUTTON_H_
#define VKT_CONTROLS_VKTBUTTON_H_

#include "vkt_export.h"
#include "win/activex.h"
#include "win/stdctrls.h"

// The themed button of the toolkit.
class VKT_API CXTPButton : public CButton {
 public:
  ~CXTPButton() override;

  // Draws the button on `dc` with the font selected there; `hot` draws it
  // as under the mouse. The background stays as the parent painted it.
  virtual void DrawThemed(CDC* dc, bool hot);
  void OnPaint() override;
};

namespace vkt::controls {
// Up and Down on a control of a dialog: the focus moves to the previous
// or next control and the key is consumed (true). False when the message is
// not such a key or the parent is not a dialog.
VKT_API bool ArrowMovesInDialog(CWnd* control, const MSG* msg);
}  // namespace vkt::controls

class VKT_API CVKTButton : public CXTPButton {
 public:
  ~CVKTButton() override;
  int GetEnabled() const { return IsWindowEnabled() ? 1 : 0; }
  void SetEnabled(int b) { EnableWindow(b ? TRUE : FALSE); }
  VARIANT GetBookmark() const { return bookmark_; }
  void SetBookmark(VARIANT v) { bookmark_ = std::move(v); }
  BOOL PreTranslateMessage(MSG* msg) override;

 private:
  VARIANT bookmark_;
};

// The check box and the radio button share everything but their kind.
class VKT_API CVKTCheckBox : public CXTPButton {
 public:
  ~CVKTCheckBox() override;

  void SetFontWeight(long weight);
  void SetItalic(int on);
  void SetUnderline(int on);
  void SetStrikeOut(int on);
  void SetBold(int b);

  bool GetBool() const { return GetCheck() == 1; }
  void SetBool(bool on);
  int GetBOOL() const { return GetCheck() == 1 ? TRUE : FALSE; }
  void SetBOOL(int on) { SetBool(on != 0); }
  int GetEnabled() const { return IsWindowEnabled() ? 1 : 0; }
  void SetEnabled(int b) { EnableWindow(b ? TRUE : FALSE); }
  // Sets the text and repaints the control's rectangle in the parent.
  void SetText(const char* text);
  bool highlighted() const { return highlight_; }

  BOOL PreTranslateMessage(MSG* msg) override;
  void OnSetFocus(CWnd* old_wnd) override;
  void OnKillFocus(CWnd* new_wnd) override;
  void OnPaint() override;

 protected:
  CFont font_;
  bool highlight_ = false;
};

class VKT_API CVKTRadioButton : public CVKTCheckBox {
 public:
  ~CVKTRadioButton() override;
};

#endif  // VKT_CONTROLS_VKTBUTTON_H_
