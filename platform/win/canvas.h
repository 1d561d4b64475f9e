// Paints a window and everything in it onto an RGB image with cairo.
//
// Each window is asked to paint itself as Windows would ask it: the frame
// and caption of a top-level window, WM_ERASEBKGND, then WM_PAINT (CPaintDC
// draws on the canvas), then the children, bottom of the z-order first;
// drop-down lists that are open are painted last, over everything.
//
//   vkt::win::SavePng(&dlg, "/tmp/form.png");
//   vkt::win::Image img = vkt::win::Render(&dlg);
//   COLORREF c = img.At(20, 40);
#ifndef VKT_WIN_CANVAS_H_
#define VKT_WIN_CANVAS_H_

#include <string>
#include <vector>

#include "vkt_export.h"
#include "win/window.h"

namespace vkt::win {

struct Image {
  int width = 0;
  int height = 0;
  std::vector<COLORREF> pixels;  // row by row
  // The colour at (x, y); black outside the image.
  COLORREF At(int x, int y) const;
};

// The window's whole rectangle (frame included for a top-level window).
VKT_API Image Render(CWnd* wnd);
// False when the window does not exist or the file cannot be written.
VKT_API bool SavePng(CWnd* wnd, const std::string& path);

}  // namespace vkt::win

#endif  // VKT_WIN_CANVAS_H_
