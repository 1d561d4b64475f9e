// Labels and group boxes that paint themselves: transparent over any
// dialog background (flat, gradient or bitmap), with their own text colour,
// background, drawing format, sunken border and font.
//
//   CVKTStatic m_titolo;
//   m_titolo.SubclassDlgItem(IDC_TITOLO, this);
//   m_titolo.SetForeColor(RGB(0, 0, 128));
//   m_titolo.SetBold(1);
//   m_titolo.SetBorder(0);
//   m_titolo.SetWindowText("Anagrafica clienti");   // no trace of the old text
#ifndef VKT_CONTROLS_VKTSTATIC_H_
#define VKT_CONTROLS_VKTSTATIC_H_

#include "vkt_export.h"
#include "win/stdctrls.h"

namespace vkt::controls {
// The font setters' common step: the control's current font with one
// attribute changed becomes `owned`, and the control's font. Nothing when
// the control has no font.
VKT_API void ChangeControlFont(CWnd* wnd, CFont* owned, void (*change)(LOGFONT*, long), long value);
// After a text change: the control's rectangle is repainted in its parent
// at once, so a transparent control leaves no old text behind.
VKT_API void RepaintInParent(CWnd* wnd);
}  // namespace vkt::controls

class VKT_API CVKTStatic : public CStatic {
 public:
  CVKTStatic();
  ~CVKTStatic() override;

  void SetFontWeight(long weight);
  void SetItalic(int on);
  void SetUnderline(int on);
  void SetStrikeOut(int on);
  // Weight 700 for 1, 400 for anything else.
  void SetBold(int b);

  void SetForeColor(COLORREF c);
  COLORREF GetForeColor() const { return fore_color_; }
  // 0 paints transparently.
  void SetBackColor(COLORREF c);
  COLORREF GetBackColor() const { return back_color_; }
  // DrawText format flags.
  void SetFormat(unsigned format);
  unsigned GetFormat() const { return format_; }
  // 1: a sunken edge, the text 5 and 3 pixels inside it.
  void SetBorder(int border);
  int GetBorder() const { return border_; }
  // The font of the control's own, or null before a font setter ran.
  CFont* GetOwnedFont() { return font_.IsValid() ? &font_ : nullptr; }

  void OnPaint() override;
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;

 private:
  CFont font_;
  COLORREF fore_color_;
  COLORREF back_color_ = 0;
  unsigned format_ = 0;
  int border_ = 1;
};

// A plain transparent label in the button-text colour.
class VKT_API CVKTStatic2 : public CStatic {
 public:
  ~CVKTStatic2() override;
  void OnPaint() override;
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;
};

// A group box drawn transparently: caption at the top, etched frame.
class VKT_API CVKTGroupBox : public CButton {
 public:
  ~CVKTGroupBox() override;
  void OnPaint() override;
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;
};

#endif  // VKT_CONTROLS_VKTSTATIC_H_
