#include "win/canvas.h"

#include <cairo.h>

#include <memory>

#include "win/detail/wndstate.h"

namespace vkt::win {
namespace {

using detail::Find;
using detail::WindowState;

void PaintFrame(HWND h, WindowState& s, cairo_t* cr) {
  CRect in = detail::NonClientInsets(s);
  if (in == CRect()) return;
  CDC dc(cr);
  CRect all(0, 0, s.rect.Width(), s.rect.Height());
  dc.FillSolidRect(all, RGB(255, 255, 255));
  dc.FrameRect(all, RGB(100, 100, 100));
  if (in.top > in.left) {
    LOGFONT lf = DefaultGuiFont();
    lf.lfHeight = -12;
    CFont font;
    font.CreateFontIndirect(&lf);
    dc.SelectObject(&font);
    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(::GetActiveWindow() == h ? RGB(0, 0, 0) : RGB(120, 120, 120));
    CRect title(in.left + 8, in.left, all.right - 40, in.top);
    dc.DrawText(s.text, title, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    // The close box.
    CPen pen(PS_SOLID, 1, RGB(60, 60, 60));
    dc.SelectPen(pen);
    int cx = all.right - 20, cy = in.top / 2;
    dc.MoveTo(cx - 4, cy - 4);
    dc.LineTo(cx + 4, cy + 4);
    dc.MoveTo(cx - 4, cy + 4);
    dc.LineTo(cx + 4, cy - 4);
    dc.SelectObject(nullptr);
  }
}

void PaintTree(HWND h, cairo_t* cr, std::vector<std::pair<HWND, CPoint>>* popups, CPoint origin) {
  WindowState* s = Find(h);
  if (!s || !(s->style & WS_VISIBLE)) return;
  cairo_save(cr);
  cairo_translate(cr, s->rect.left, s->rect.top);
  cairo_rectangle(cr, 0, 0, s->rect.Width(), s->rect.Height());
  cairo_clip(cr);
  PaintFrame(h, *s, cr);
  CRect in = detail::NonClientInsets(*s);
  cairo_translate(cr, in.left, in.top);
  cairo_rectangle(cr, 0, 0, s->rect.Width() - in.left - in.right,
                  s->rect.Height() - in.top - in.bottom);
  cairo_clip(cr);
  CPoint client(origin.x + s->rect.left + in.left, origin.y + s->rect.top + in.top);
  {
    CDC dc(cr);
    dc.SelectFont(detail::FontOf(h));
    ::SendMessage(h, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  }
  if (!IsWindow(h)) {
    cairo_restore(cr);
    return;
  }
  detail::SetPaintTarget(h, cr);
  ::SendMessage(h, WM_PAINT, 0, 0);
  detail::SetPaintTarget(h, nullptr);
  popups->emplace_back(h, client);
  if ((s = Find(h))) {
    std::vector<HWND> children = s->children;
    for (auto it = children.rbegin(); it != children.rend(); ++it)
      PaintTree(*it, cr, popups, client);
  }
  cairo_restore(cr);
}

cairo_surface_t* RenderSurface(CWnd* wnd) {
  if (!wnd) return nullptr;
  WindowState* s = Find(wnd->m_hWnd);
  if (!s || s->rect.Width() <= 0 || s->rect.Height() <= 0) return nullptr;
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, s->rect.Width(), s->rect.Height());
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  // The window at the image's origin, whatever its position.
  cairo_translate(cr, -s->rect.left, -s->rect.top);
  std::vector<std::pair<HWND, CPoint>> popups;
  bool force_visible = !(s->style & WS_VISIBLE);
  if (force_visible) s->style |= WS_VISIBLE;  // a hidden window can still be pictured
  PaintTree(wnd->m_hWnd, cr, &popups, CPoint(-s->rect.left, -s->rect.top));
  if ((s = Find(wnd->m_hWnd)) && force_visible) s->style &= ~WS_VISIBLE;
  // What windows show outside their own rectangle, over everything.
  cairo_identity_matrix(cr);
  for (auto& [h, client] : popups) {
    if (!IsWindow(h)) continue;
    cairo_save(cr);
    cairo_translate(cr, client.x, client.y);
    detail::SetPaintTarget(h, cr);
    ::SendMessage(h, detail::kPaintPopupMsg, 0, 0);
    detail::SetPaintTarget(h, nullptr);
    cairo_restore(cr);
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  return surface;
}

}  // namespace

COLORREF Image::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
}

Image Render(CWnd* wnd) {
  Image img;
  cairo_surface_t* surface = RenderSurface(wnd);
  if (!surface) return img;
  img.width = cairo_image_surface_get_width(surface);
  img.height = cairo_image_surface_get_height(surface);
  int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  img.pixels.resize(static_cast<size_t>(img.width) * static_cast<size_t>(img.height));
  for (int y = 0; y < img.height; ++y) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < img.width; ++x) {
      uint32_t p = row[x];
      img.pixels[static_cast<size_t>(y) * img.width + x] =
          RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
  }
  cairo_surface_destroy(surface);
  return img;
}

bool SavePng(CWnd* wnd, const std::string& path) {
  cairo_surface_t* surface = RenderSurface(wnd);
  if (!surface) return false;
  bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

}  // namespace vkt::win
