// Fonts, brushes, pens and the device context of the window model.
//
// A CDC draws with cairo when it has a target (the canvas, canvas.h, hands
// one to every window it paints); without one every drawing call is a no-op,
// so windows can "paint" headless. Texts are Windows-1252 bytes.
//
//   CFont font;
//   LOGFONT lf = vkt::win::DefaultGuiFont();
//   lf.lfWeight = FW_BOLD;
//   font.CreateFontIndirect(&lf);
//   dc.SelectObject(&font);
//   dc.DrawText("Totale", rect, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
#ifndef VKT_WIN_GDI_H_
#define VKT_WIN_GDI_H_

#include <string>

#include "vkt_export.h"
#include "win/rect.h"
#include "win/winmsg.h"

typedef struct _cairo cairo_t;

constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;
constexpr int LF_FACESIZE = 32;

struct LOGFONT {
  LONG lfHeight = 0;  // < 0: character height in pixels; > 0: cell height
  LONG lfWidth = 0;
  LONG lfEscapement = 0;
  LONG lfOrientation = 0;
  LONG lfWeight = FW_NORMAL;
  BYTE lfItalic = 0;
  BYTE lfUnderline = 0;
  BYTE lfStrikeOut = 0;
  BYTE lfCharSet = 0;
  BYTE lfOutPrecision = 0;
  BYTE lfClipPrecision = 0;
  BYTE lfQuality = 0;
  BYTE lfPitchAndFamily = 0;
  char lfFaceName[LF_FACESIZE] = {};
};

// Base of the GDI object wrappers (MFC's CGdiObject).
class VKT_API CGdiObject {
 public:
  CGdiObject() = default;
  virtual ~CGdiObject();
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;

  // True when the wrapper owns a live object.
  bool IsValid() const { return handle_ != 0; }
  BOOL DeleteObject();
  uintptr_t handle() const { return handle_; }
  // Takes a handle over (it is deleted with the wrapper unless detached);
  // Detach gives it back without deleting it.
  void AttachHandle(uintptr_t h);
  uintptr_t Detach();

 protected:
  uintptr_t handle_ = 0;
};

class VKT_API CFont : public CGdiObject {
 public:
  BOOL CreateFontIndirect(const LOGFONT* lf);
  // Height in tenths of a point at 96 dpi, as MFC's CreatePointFont.
  BOOL CreatePointFont(int tenths, const char* face);
  // False when no font is held.
  BOOL GetLogFont(LOGFONT* lf) const;
  HFONT GetSafeHandle() const { return reinterpret_cast<HFONT>(handle_); }
  operator HFONT() const { return GetSafeHandle(); }  // NOLINT
  void Attach(HFONT font) { AttachHandle(reinterpret_cast<uintptr_t>(font)); }
};

class VKT_API CBrush : public CGdiObject {
 public:
  CBrush() = default;
  explicit CBrush(COLORREF c) { CreateSolidBrush(c); }
  BOOL CreateSolidBrush(COLORREF c);
  HBRUSH GetSafeHandle() const { return reinterpret_cast<HBRUSH>(handle_); }
  operator HBRUSH() const { return GetSafeHandle(); }  // NOLINT
};

constexpr int PS_SOLID = 0;
class VKT_API CPen {
 public:
  CPen() = default;
  CPen(int style, int width, COLORREF c) : style_(style), width_(width), color_(c) {}
  int width() const { return width_; }
  COLORREF color() const { return color_; }

 private:
  int style_ = PS_SOLID;
  int width_ = 1;
  COLORREF color_ = 0;
};

// DrawText formats.
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_TOP = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_BOTTOM = 0x0008;
constexpr UINT DT_WORDBREAK = 0x0010;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_CALCRECT = 0x0400;
constexpr UINT DT_NOPREFIX = 0x0800;
constexpr UINT DT_END_ELLIPSIS = 0x8000;
// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
// DrawEdge.
constexpr UINT BDR_RAISEDOUTER = 0x0001;
constexpr UINT BDR_SUNKENOUTER = 0x0002;
constexpr UINT BDR_RAISEDINNER = 0x0004;
constexpr UINT BDR_SUNKENINNER = 0x0008;
constexpr UINT EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
constexpr UINT EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
constexpr UINT EDGE_ETCHED = BDR_SUNKENOUTER | BDR_RAISEDINNER;
constexpr UINT BF_LEFT = 0x0001;
constexpr UINT BF_TOP = 0x0002;
constexpr UINT BF_RIGHT = 0x0004;
constexpr UINT BF_BOTTOM = 0x0008;
constexpr UINT BF_RECT = 0x000F;

// A device context. Co-ordinates are the painted window's client
// co-ordinates.
class VKT_API CDC {
 public:
  CDC() = default;
  // Draws on `cr` (not owned); null draws nothing.
  explicit CDC(cairo_t* cr) : cr_(cr) {}
  virtual ~CDC();
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  HDC GetSafeHdc() { return reinterpret_cast<HDC>(this); }
  // The CDC behind an HDC passed in a message (WM_CTLCOLOR*, WM_ERASEBKGND).
  static CDC* FromHandle(HDC hdc) { return reinterpret_cast<CDC*>(hdc); }
  cairo_t* cairo() const { return cr_; }

  COLORREF SetTextColor(COLORREF c);
  COLORREF GetTextColor() const { return text_color_; }
  COLORREF SetBkColor(COLORREF c);
  COLORREF GetBkColor() const { return bk_color_; }
  int SetBkMode(int mode);
  int GetBkMode() const { return bk_mode_; }
  // Selects a font (null: the default GUI font); returns the previous one.
  CFont* SelectObject(CFont* font);
  HFONT SelectFont(HFONT font);
  HFONT GetCurrentFont() const { return font_; }
  void SelectPen(const CPen& pen) { pen_ = pen; }

  void FillSolidRect(const CRect& r, COLORREF c);
  void FillRect(const CRect& r, CBrush* brush);
  void FillRect(const CRect& r, HBRUSH brush);
  // A vertical gradient from `top` to `bottom`.
  void FillGradientV(const CRect& r, COLORREF top, COLORREF bottom);
  void FrameRect(const CRect& r, COLORREF c);
  void Draw3dRect(const CRect& r, COLORREF top_left, COLORREF bottom_right);
  void DrawEdge(const CRect& r, UINT edge, UINT flags);
  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void Ellipse(const CRect& r, COLORREF fill, COLORREF outline);

  // Text in the selected font and text colour; an opaque background mode
  // fills the text's box with the background colour first.
  void TextOut(int x, int y, const std::string& text);
  // Returns the height of the text; with DT_CALCRECT measures into `r`.
  int DrawText(const std::string& text, CRect& r, UINT format);
  CSize GetTextExtent(const std::string& text) const;
  // Line height of the selected font.
  int GetTextHeight() const;

 private:
  cairo_t* cr_ = nullptr;
  COLORREF text_color_ = 0;
  COLORREF bk_color_ = 0xFFFFFF;
  int bk_mode_ = OPAQUE;
  HFONT font_ = nullptr;
  CFont* font_obj_ = nullptr;
  CPen pen_;
  CPoint pos_;
};

namespace vkt::win {

// The dialogs' font: "MS Shell Dlg", 8 points.
VKT_API LOGFONT DefaultGuiFont();
// The stock font object of DefaultGuiFont (never deleted).
VKT_API HFONT DefaultGuiFontHandle();
// The description of a live font handle; false for a deleted or null one.
VKT_API bool GetFontDescription(HFONT font, LOGFONT* lf);
// The colour of a live brush handle; false for a deleted or null one.
VKT_API bool GetBrushColor(HBRUSH brush, COLORREF* c);
// Classic Windows system colours, and a stock brush of each (never deleted).
VKT_API COLORREF GetSysColor(int index);
VKT_API HBRUSH GetSysColorBrush(int index);
// Number of GDI objects alive (fonts and brushes), for leak checks in tests.
VKT_API size_t LiveGdiObjects();

// Text width and line height in a font, measured as the canvas draws.
VKT_API int TextWidth(HFONT font, const std::string& text);
VKT_API int TextHeight(HFONT font);

}  // namespace vkt::win

#endif  // VKT_WIN_GDI_H_
