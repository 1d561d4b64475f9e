// The state behind a window handle, shared by the window manager and the
// stock window classes. Not part of the installed interface.
#ifndef VKT_WIN_DETAIL_WNDSTATE_H_
#define VKT_WIN_DETAIL_WNDSTATE_H_

#include <memory>
#include <string>
#include <vector>

#include "win/window.h"

namespace vkt::win::detail {

// Per-class data (an edit's selection, a combo box's entries).
struct ClassData {
  virtual ~ClassData() = default;
};

struct WindowState {
  HWND hwnd = nullptr;
  std::string class_name;
  ClassProc proc = nullptr;
  std::string text;
  DWORD style = 0;
  DWORD ex_style = 0;
  UINT id = 0;
  CRect rect;  // window rectangle in the parent's client co-ordinates
  HWND parent = nullptr;  // the owner for a top-level window
  std::vector<HWND> children;  // z-order: first is on top
  CWnd* object = nullptr;
  std::unique_ptr<CWnd> wrapper;  // FromHandle's object when none is attached
  HFONT font = nullptr;
  bool redraw = true;
  int invalidations = 0;
  std::unique_ptr<ClassData> data;
};

WindowState* Find(HWND hwnd);

template <class T>
T* Data(HWND hwnd) {
  WindowState* s = Find(hwnd);
  if (!s) return nullptr;
  if (!s->data) s->data = std::make_unique<T>();
  return dynamic_cast<T*>(s->data.get());
}

bool IsTopLevel(const WindowState& s);
// Offsets of the client area inside the window rectangle (caption, frame).
CRect NonClientInsets(const WindowState& s);

// Sends a control notification to the parent: WM_COMMAND with the id and
// `code`. False when the control was destroyed meanwhile.
bool NotifyParent(HWND hwnd, WORD code);
// Asks the parent for the control's colours (WM_CTLCOLOR*): sets the text
// and background colour of `dc` and returns the background colour.
COLORREF ControlColors(HWND hwnd, CDC* dc, UINT ctl_color_msg);
// The font a control draws with.
HFONT FontOf(HWND hwnd);
void CountInvalidation(HWND hwnd);

// Painting: the cairo target of the window being painted (null outside a
// paint), and the model's message that asks a window to paint what it
// shows outside its rectangle (an open drop-down list) after all windows.
cairo_t* PaintTarget(HWND hwnd);
void SetPaintTarget(HWND hwnd, cairo_t* cr);
constexpr UINT kPaintPopupMsg = 0x03F0;

// Byte helpers for message parameters.
inline const char* TextParam(LPARAM l) { return reinterpret_cast<const char*>(l); }

}  // namespace vkt::win::detail

#endif  // VKT_WIN_DETAIL_WNDSTATE_H_
