#include "win/gdi.h"

#include <cairo.h>

#include <strings.h>

#include <cstring>
#include <map>
#include <variant>

#include "win/cp1252.h"

namespace vkt::win {
namespace {

using GdiValue = std::variant<LOGFONT, COLORREF>;

struct GdiTable {
  std::map<uintptr_t, GdiValue> objects;
  uintptr_t next = 2;  // 1 is the stock GUI font
};

GdiTable& Table() {
  static GdiTable table;
  return table;
}

constexpr uintptr_t kStockFont = 1;

uintptr_t Add(GdiValue v) {
  GdiTable& t = Table();
  uintptr_t id = t.next++;
  t.objects.emplace(id, v);
  return id;
}

const LOGFONT* FindFont(HFONT font) {
  auto id = reinterpret_cast<uintptr_t>(font);
  if (id == kStockFont || id == 0) {
    static const LOGFONT stock = DefaultGuiFont();
    return id == 0 ? nullptr : &stock;
  }
  auto it = Table().objects.find(id);
  if (it == Table().objects.end()) return nullptr;
  return std::get_if<LOGFONT>(&it->second);
}

void SetColor(cairo_t* cr, COLORREF c) {
  cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0,
                       GetBValue(c) / 255.0);
}

// The fonts the model draws with: DejaVu stands in for the Windows faces.
const char* Family(const LOGFONT& lf) {
  const char* face = lf.lfFaceName;
  if (strncasecmp(face, "Courier", 7) == 0 || strncasecmp(face, "Consolas", 8) == 0 ||
      strncasecmp(face, "Lucida Console", 14) == 0)
    return "DejaVu Sans Mono";
  if (strncasecmp(face, "Times", 5) == 0 || strncasecmp(face, "Georgia", 7) == 0)
    return "DejaVu Serif";
  return "DejaVu Sans";
}

double PixelSize(const LOGFONT& lf) {
  if (lf.lfHeight < 0) return -static_cast<double>(lf.lfHeight);
  if (lf.lfHeight > 0) return lf.lfHeight * 0.8;
  return 11.0;
}

void ApplyFont(cairo_t* cr, HFONT font) {
  const LOGFONT* lf = FindFont(font);
  LOGFONT fallback = DefaultGuiFont();
  if (!lf) lf = &fallback;
  cairo_select_font_face(cr, Family(*lf),
                         lf->lfItalic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                         lf->lfWeight >= 600 ? CAIRO_FONT_WEIGHT_BOLD
                                             : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, PixelSize(*lf));
}

// A 1x1 surface for measuring text when nothing is being painted.
cairo_t* Measurer() {
  static cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  static cairo_t* cr = cairo_create(surface);
  return cr;
}

double Advance(cairo_t* cr, const std::string& text) {
  if (text.empty()) return 0;
  std::string utf8 = Cp1252ToUtf8(text);
  cairo_text_extents_t ext;
  cairo_text_extents(cr, utf8.c_str(), &ext);
  return ext.x_advance;
}

// "&x" marks a mnemonic: the text without the marks and the index of the
// underlined character (-1 when none).
std::string StripPrefix(const std::string& text, int* underline) {
  std::string out;
  *underline = -1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) {
      ++i;
      if (text[i] != '&' && *underline < 0) *underline = static_cast<int>(out.size());
    }
    out += text[i];
  }
  return out;
}

}  // namespace

LOGFONT DefaultGuiFont() {
  LOGFONT lf;
  lf.lfHeight = -11;
  lf.lfWeight = FW_NORMAL;
  std::strcpy(lf.lfFaceName, "MS Shell Dlg");
  return lf;
}

HFONT DefaultGuiFontHandle() { return reinterpret_cast<HFONT>(kStockFont); }

bool GetFontDescription(HFONT font, LOGFONT* lf) {
  const LOGFONT* f = FindFont(font);
  if (!f) return false;
  *lf = *f;
  return true;
}

bool GetBrushColor(HBRUSH brush, COLORREF* c) {
  auto it = Table().objects.find(reinterpret_cast<uintptr_t>(brush));
  if (it == Table().objects.end()) return false;
  const COLORREF* v = std::get_if<COLORREF>(&it->second);
  if (!v) return false;
  *c = *v;
  return true;
}

COLORREF GetSysColor(int index) {
  switch (index) {
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT: return RGB(0, 0, 0);
    case COLOR_HIGHLIGHT: return RGB(0, 120, 215);
    case COLOR_HIGHLIGHTTEXT: return RGB(255, 255, 255);
    case COLOR_BTNFACE: return RGB(240, 240, 240);
    case COLOR_BTNSHADOW: return RGB(160, 160, 160);
    case COLOR_GRAYTEXT: return RGB(109, 109, 109);
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    case COLOR_BTNHIGHLIGHT: return RGB(255, 255, 255);
    default: return RGB(0, 0, 0);
  }
}

HBRUSH GetSysColorBrush(int index) {
  static std::map<int, uintptr_t> stock;
  auto it = stock.find(index);
  if (it == stock.end()) it = stock.emplace(index, Add(GetSysColor(index))).first;
  return reinterpret_cast<HBRUSH>(it->second);
}

size_t LiveGdiObjects() { return Table().objects.size(); }

int TextWidth(HFONT font, const std::string& text) {
  cairo_t* cr = Measurer();
  ApplyFont(cr, font);
  return static_cast<int>(Advance(cr, text) + 0.5);
}

int TextHeight(HFONT font) {
  cairo_t* cr = Measurer();
  ApplyFont(cr, font);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  return static_cast<int>(fe.ascent + fe.descent + 0.5);
}

}  // namespace vkt::win

using vkt::win::Table;

CGdiObject::~CGdiObject() { DeleteObject(); }

BOOL CGdiObject::DeleteObject() {
  if (handle_ == 0) return FALSE;
  vkt::win::Table().objects.erase(handle_);
  handle_ = 0;
  return TRUE;
}

void CGdiObject::AttachHandle(uintptr_t h) {
  DeleteObject();
  handle_ = h;
}

uintptr_t CGdiObject::Detach() {
  uintptr_t h = handle_;
  handle_ = 0;
  return h;
}

BOOL CFont::CreateFontIndirect(const LOGFONT* lf) {
  if (!lf || handle_ != 0) return FALSE;
  LOGFONT copy = *lf;
  copy.lfFaceName[LF_FACESIZE - 1] = '\0';
  handle_ = vkt::win::Add(copy);
  return TRUE;
}

BOOL CFont::CreatePointFont(int tenths, const char* face) {
  LOGFONT lf;
  lf.lfHeight = -(tenths * 96 / 720);
  if (face) std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return CreateFontIndirect(&lf);
}

BOOL CFont::GetLogFont(LOGFONT* lf) const {
  if (!lf) return FALSE;
  return vkt::win::GetFontDescription(GetSafeHandle(), lf) ? TRUE : FALSE;
}

BOOL CBrush::CreateSolidBrush(COLORREF c) {
  if (handle_ != 0) return FALSE;
  handle_ = vkt::win::Add(c);
  return TRUE;
}

CDC::~CDC() = default;

COLORREF CDC::SetTextColor(COLORREF c) {
  COLORREF old = text_color_;
  text_color_ = c;
  return old;
}

COLORREF CDC::SetBkColor(COLORREF c) {
  COLORREF old = bk_color_;
  bk_color_ = c;
  return old;
}

int CDC::SetBkMode(int mode) {
  int old = bk_mode_;
  bk_mode_ = mode;
  return old;
}

CFont* CDC::SelectObject(CFont* font) {
  CFont* old = font_obj_;
  font_obj_ = font;
  font_ = font ? font->GetSafeHandle() : nullptr;
  return old;
}

HFONT CDC::SelectFont(HFONT font) {
  HFONT old = font_;
  font_ = font;
  font_obj_ = nullptr;
  return old;
}

void CDC::FillSolidRect(const CRect& r, COLORREF c) {
  if (!cr_ || r.IsRectEmpty()) return;
  vkt::win::SetColor(cr_, c);
  cairo_rectangle(cr_, r.left, r.top, r.Width(), r.Height());
  cairo_fill(cr_);
}

void CDC::FillRect(const CRect& r, CBrush* brush) {
  if (brush) FillRect(r, brush->GetSafeHandle());
}

void CDC::FillRect(const CRect& r, HBRUSH brush) {
  COLORREF c;
  if (vkt::win::GetBrushColor(brush, &c)) FillSolidRect(r, c);
}

void CDC::FillGradientV(const CRect& r, COLORREF top, COLORREF bottom) {
  if (!cr_ || r.IsRectEmpty()) return;
  cairo_pattern_t* p = cairo_pattern_create_linear(0, r.top, 0, r.bottom);
  cairo_pattern_add_color_stop_rgb(p, 0, GetRValue(top) / 255.0, GetGValue(top) / 255.0,
                                   GetBValue(top) / 255.0);
  cairo_pattern_add_color_stop_rgb(p, 1, GetRValue(bottom) / 255.0,
                                   GetGValue(bottom) / 255.0, GetBValue(bottom) / 255.0);
  cairo_set_source(cr_, p);
  cairo_rectangle(cr_, r.left, r.top, r.Width(), r.Height());
  cairo_fill(cr_);
  cairo_pattern_destroy(p);
}

void CDC::FrameRect(const CRect& r, COLORREF c) { Draw3dRect(r, c, c); }

void CDC::Draw3dRect(const CRect& r, COLORREF top_left, COLORREF bottom_right) {
  if (r.IsRectEmpty()) return;
  FillSolidRect(CRect(r.left, r.top, r.right - 1, r.top + 1), top_left);
  FillSolidRect(CRect(r.left, r.top, r.left + 1, r.bottom - 1), top_left);
  FillSolidRect(CRect(r.right - 1, r.top, r.right, r.bottom), bottom_right);
  FillSolidRect(CRect(r.left, r.bottom - 1, r.right, r.bottom), bottom_right);
}

void CDC::DrawEdge(const CRect& r, UINT edge, UINT flags) {
  using vkt::win::GetSysColor;
  const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
  const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
  const COLORREF dark = RGB(105, 105, 105);
  const COLORREF face = RGB(227, 227, 227);
  auto side = [&](const CRect& rc, COLORREF tl, COLORREF br) {
    if (flags & BF_TOP) FillSolidRect(CRect(rc.left, rc.top, rc.right, rc.top + 1), tl);
    if (flags & BF_LEFT) FillSolidRect(CRect(rc.left, rc.top, rc.left + 1, rc.bottom), tl);
    if (flags & BF_RIGHT) FillSolidRect(CRect(rc.right - 1, rc.top, rc.right, rc.bottom), br);
    if (flags & BF_BOTTOM) FillSolidRect(CRect(rc.left, rc.bottom - 1, rc.right, rc.bottom), br);
  };
  CRect outer = r;
  if (edge & BDR_SUNKENOUTER) side(outer, shadow, light);
  if (edge & BDR_RAISEDOUTER) side(outer, light, dark);
  CRect inner = outer;
  inner.DeflateRect(1, 1);
  if (edge & BDR_SUNKENINNER) side(inner, dark, face);
  if (edge & BDR_RAISEDINNER) side(inner, light, shadow);
}

void CDC::MoveTo(int x, int y) { pos_ = CPoint(x, y); }

void CDC::LineTo(int x, int y) {
  if (cr_) {
    vkt::win::SetColor(cr_, pen_.color());
    cairo_set_line_width(cr_, pen_.width());
    cairo_move_to(cr_, pos_.x + 0.5, pos_.y + 0.5);
    cairo_line_to(cr_, x + 0.5, y + 0.5);
    cairo_stroke(cr_);
  }
  pos_ = CPoint(x, y);
}

void CDC::Ellipse(const CRect& r, COLORREF fill, COLORREF outline) {
  if (!cr_ || r.IsRectEmpty()) return;
  cairo_save(cr_);
  cairo_translate(cr_, r.left + r.Width() / 2.0, r.top + r.Height() / 2.0);
  cairo_scale(cr_, (r.Width() - 1) / 2.0, (r.Height() - 1) / 2.0);
  cairo_arc(cr_, 0, 0, 1, 0, 6.283185307179586);
  cairo_restore(cr_);
  vkt::win::SetColor(cr_, fill);
  cairo_fill_preserve(cr_);
  vkt::win::SetColor(cr_, outline);
  cairo_set_line_width(cr_, 1);
  cairo_stroke(cr_);
}

CSize CDC::GetTextExtent(const std::string& text) const {
  return CSize(vkt::win::TextWidth(font_, text), vkt::win::TextHeight(font_));
}

int CDC::GetTextHeight() const { return vkt::win::TextHeight(font_); }

void CDC::TextOut(int x, int y, const std::string& text) {
  CSize size = GetTextExtent(text);
  if (!cr_) return;
  if (bk_mode_ == OPAQUE) FillSolidRect(CRect(x, y, x + size.cx, y + size.cy), bk_color_);
  vkt::win::ApplyFont(cr_, font_);
  cairo_font_extents_t fe;
  cairo_font_extents(cr_, &fe);
  vkt::win::SetColor(cr_, text_color_);
  cairo_move_to(cr_, x, y + fe.ascent);
  std::string utf8 = vkt::win::Cp1252ToUtf8(text);
  cairo_show_text(cr_, utf8.c_str());
  LOGFONT lf;
  if (vkt::win::GetFontDescription(font_, &lf)) {
    if (lf.lfUnderline)
      FillSolidRect(CRect(x, y + static_cast<int>(fe.ascent) + 1, x + size.cx,
                          y + static_cast<int>(fe.ascent) + 2), text_color_);
    if (lf.lfStrikeOut)
      FillSolidRect(CRect(x, y + size.cy / 2, x + size.cx, y + size.cy / 2 + 1), text_color_);
  }
}

int CDC::DrawText(const std::string& text, CRect& r, UINT format) {
  int underline = -1;
  std::string shown = (format & DT_NOPREFIX) ? text : vkt::win::StripPrefix(text, &underline);
  CSize size = GetTextExtent(shown);
  if (format & DT_CALCRECT) {
    r.right = r.left + size.cx;
    r.bottom = r.top + size.cy;
    return size.cy;
  }
  int x = r.left;
  if (format & DT_CENTER) x = r.left + (r.Width() - size.cx) / 2;
  else if (format & DT_RIGHT) x = r.right - size.cx;
  int y = r.top;
  if (format & DT_VCENTER) y = r.top + (r.Height() - size.cy) / 2;
  else if (format & DT_BOTTOM) y = r.bottom - size.cy;
  if (!cr_) return size.cy;
  cairo_save(cr_);
  cairo_rectangle(cr_, r.left, r.top, r.Width(), r.Height());
  cairo_clip(cr_);
  TextOut(x, y, shown);
  if (underline >= 0) {
    int from = x + vkt::win::TextWidth(font_, shown.substr(0, underline));
    int to = x + vkt::win::TextWidth(font_, shown.substr(0, underline + 1));
    int base = y + size.cy - 2;
    FillSolidRect(CRect(from, base, to, base + 1), text_color_);
  }
  cairo_restore(cr_);
  return size.cy;
}
