#include "win/x11.h"

#include <cairo-xcb.h>
#include <cairo.h>
#include <poll.h>
#include <xcb/xcb.h>
// The extension's header names a member `explicit`, a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <vector>

#include "win/canvas.h"
#include "win/cp1252.h"
#include "win/dialog.h"

namespace vkt::win {

bool LiveDisplayRequested() {
  const char* d = std::getenv("DISPLAY");
  return d && *d;
}

UINT VirtualKeyOfKeysym(uint32_t ks) {
  if (ks >= XKB_KEY_a && ks <= XKB_KEY_z) return ks - XKB_KEY_a + 'A';
  if (ks >= XKB_KEY_A && ks <= XKB_KEY_Z) return ks - XKB_KEY_A + 'A';
  if (ks >= XKB_KEY_0 && ks <= XKB_KEY_9) return ks - XKB_KEY_0 + '0';
  if (ks >= XKB_KEY_KP_0 && ks <= XKB_KEY_KP_9) return ks - XKB_KEY_KP_0 + VK_NUMPAD0;
  if (ks >= XKB_KEY_F1 && ks <= XKB_KEY_F24) return ks - XKB_KEY_F1 + VK_F1;
  switch (ks) {
    case XKB_KEY_Return: case XKB_KEY_KP_Enter: return VK_RETURN;
    case XKB_KEY_Escape: return VK_ESCAPE;
    case XKB_KEY_Tab: case XKB_KEY_ISO_Left_Tab: return VK_TAB;
    case XKB_KEY_BackSpace: return VK_BACK;
    case XKB_KEY_Delete: case XKB_KEY_KP_Delete: return VK_DELETE;
    case XKB_KEY_Insert: case XKB_KEY_KP_Insert: return VK_INSERT;
    case XKB_KEY_Home: case XKB_KEY_KP_Home: return VK_HOME;
    case XKB_KEY_End: case XKB_KEY_KP_End: return VK_END;
    case XKB_KEY_Prior: case XKB_KEY_KP_Prior: return VK_PRIOR;
    case XKB_KEY_Next: case XKB_KEY_KP_Next: return VK_NEXT;
    case XKB_KEY_Left: case XKB_KEY_KP_Left: return VK_LEFT;
    case XKB_KEY_Right: case XKB_KEY_KP_Right: return VK_RIGHT;
    case XKB_KEY_Up: case XKB_KEY_KP_Up: return VK_UP;
    case XKB_KEY_Down: case XKB_KEY_KP_Down: return VK_DOWN;
    case XKB_KEY_space: case XKB_KEY_KP_Space: return VK_SPACE;
    case XKB_KEY_Shift_L: case XKB_KEY_Shift_R: return VK_SHIFT;
    case XKB_KEY_Control_L: case XKB_KEY_Control_R: return VK_CONTROL;
    case XKB_KEY_Alt_L: case XKB_KEY_Alt_R: case XKB_KEY_Meta_L: case XKB_KEY_Meta_R:
    case XKB_KEY_ISO_Level3_Shift: return VK_MENU;
    case XKB_KEY_Caps_Lock: return VK_CAPITAL;
    case XKB_KEY_Pause: return VK_PAUSE;
    case XKB_KEY_comma: return VK_OEM_COMMA;
    case XKB_KEY_period: return VK_OEM_PERIOD;
    case XKB_KEY_minus: return VK_OEM_MINUS;
    case XKB_KEY_plus: case XKB_KEY_equal: return VK_OEM_PLUS;
    case XKB_KEY_semicolon: return VK_OEM_1;
    case XKB_KEY_slash: return VK_OEM_2;
    case XKB_KEY_KP_Decimal: case XKB_KEY_KP_Separator: return VK_DECIMAL;
    case XKB_KEY_KP_Add: return VK_ADD;
    case XKB_KEY_KP_Subtract: return VK_SUBTRACT;
    case XKB_KEY_KP_Multiply: return VK_MULTIPLY;
    case XKB_KEY_KP_Divide: return VK_DIVIDE;
    default: return 0;
  }
}

namespace {

constexpr uint16_t kShiftMask = XCB_MOD_MASK_SHIFT;
constexpr uint16_t kLockMask = XCB_MOD_MASK_LOCK;
constexpr uint16_t kControlMask = XCB_MOD_MASK_CONTROL;
constexpr uint16_t kAltMask = XCB_MOD_MASK_1;

LPARAM PointParam(CPoint p) {
  return MAKELPARAM(static_cast<WORD>(static_cast<int16_t>(p.x)),
                    static_cast<WORD>(static_cast<int16_t>(p.y)));
}

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The deepest visible child of `h` under the screen point (h itself when no
// child is there).
HWND HitTest(HWND h, CPoint screen) {
  CWnd* w = CWnd::FromHandle(h);
  if (!w) return h;
  std::vector<CWnd*> children = w->GetChildren();
  // The last created lies on top.
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    CWnd* c = *it;
    if (!c || !c->IsWindowVisible()) continue;
    CRect r;
    c->GetWindowRect(&r);
    if (r.PtInRect(screen)) return HitTest(c->m_hWnd, screen);
  }
  return h;
}

void SetModifierKeys(uint16_t state) {
  SetKeyDown(VK_SHIFT, (state & kShiftMask) != 0);
  SetKeyDown(VK_CONTROL, (state & kControlMask) != 0);
  SetKeyDown(VK_MENU, (state & kAltMask) != 0);
}

}  // namespace

struct LiveDisplay::Impl {
  struct Shown {
    xcb_window_t xid = 0;
    cairo_surface_t* surface = nullptr;
    CRect rect;
    std::string caption;
    int number = 0;
    bool dirty = true;
  };

  xcb_connection_t* conn = nullptr;
  xcb_screen_t* screen = nullptr;
  xcb_visualtype_t* visual = nullptr;
  xcb_window_t helper = 0;  // owns the clipboard
  xkb_context* xkb_ctx = nullptr;
  xkb_keymap* keymap = nullptr;
  xkb_state* kstate = nullptr;
  int32_t kbd_device = -1;
  uint8_t xkb_event = 0;  // the first event number of the XKB extension
  std::map<HWND, Shown> shown;
  int shown_count = 0;
  std::string snapshot_dir;
  // A user input event read ahead of its turn. A key is translated when it
  // is read: the keyboard map it was typed with may be gone by its turn
  // (xdotool binds a spare key to a letter the map lacks, then unbinds it).
  struct Pending {
    xcb_generic_event_t* event;
    UINT vk = 0;
    int byte = 0;
  };
  std::deque<Pending> stash;
  int64_t last_paint_ms = 0;
  bool activity = true;
  // The window under a held left button receives the moves and the release.
  HWND pressed = nullptr;
  HWND last_click = nullptr;
  int64_t last_click_ms = 0;
  CPoint last_click_at;
  // The clipboard as we own it, UTF-8.
  bool own_clipboard = false;
  std::string clipboard_utf8;
  xcb_atom_t a_protocols = 0, a_delete = 0, a_clipboard = 0, a_utf8 = 0, a_targets = 0,
             a_property = 0, a_net_name = 0;

  xcb_atom_t Atom(const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        conn, xcb_intern_atom(conn, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    xcb_atom_t a = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(r);
    return a;
  }

  bool Open(const std::string& display) {
    int screen_no = 0;
    conn = xcb_connect(display.empty() ? nullptr : display.c_str(), &screen_no);
    if (!conn || xcb_connection_has_error(conn)) {
      Close();
      return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screen_no && it.rem; ++i) xcb_screen_next(&it);
    screen = it.data;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem && !visual; xcb_depth_next(&d))
      for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
        if (v.data->visual_id == screen->root_visual) {
          visual = v.data;
          break;
        }
    if (!visual) {
      Close();
      return false;
    }
    if (!xkb_x11_setup_xkb_extension(conn, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                     XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr,
                                     &xkb_event, nullptr) ||
        !(xkb_ctx = xkb_context_new(XKB_CONTEXT_NO_FLAGS)) || !LoadKeymap()) {
      Close();
      return false;
    }
    a_protocols = Atom("WM_PROTOCOLS");
    a_delete = Atom("WM_DELETE_WINDOW");
    a_clipboard = Atom("CLIPBOARD");
    a_utf8 = Atom("UTF8_STRING");
    a_targets = Atom("TARGETS");
    a_property = Atom("VKT_SELECTION");
    a_net_name = Atom("_NET_WM_NAME");
    helper = xcb_generate_id(conn);
    uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(conn, XCB_COPY_FROM_PARENT, helper, screen->root, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(conn);
    return true;
  }

  bool LoadKeymap() {
    if (kstate) xkb_state_unref(kstate);
    if (keymap) xkb_keymap_unref(keymap);
    kstate = nullptr;
    keymap = nullptr;
    kbd_device = xkb_x11_get_core_keyboard_device_id(conn);
    if (kbd_device < 0) return false;
    keymap = xkb_x11_keymap_new_from_device(xkb_ctx, conn, kbd_device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) return false;
    kstate = xkb_x11_state_new_from_device(keymap, conn, kbd_device);
    if (!kstate) return false;
    // A client of the keyboard extension gets no core MappingNotify: it
    // asks for the extension's own news of a changed map.
    constexpr uint16_t kEvents =
        XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    constexpr uint16_t kMapParts =
        XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
        XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
        XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    xcb_xkb_select_events_aux(conn, static_cast<xcb_xkb_device_spec_t>(kbd_device), kEvents, 0, 0,
                              kMapParts, kMapParts, &details);
    return true;
  }

  void Close() {
    if (conn) {
      for (auto& [h, s] : shown) {
        if (s.surface) cairo_surface_destroy(s.surface);
        xcb_destroy_window(conn, s.xid);
      }
      shown.clear();
      for (auto& p : stash) std::free(p.event);
      stash.clear();
      xcb_disconnect(conn);
    }
    conn = nullptr;
    if (kstate) xkb_state_unref(kstate);
    if (keymap) xkb_keymap_unref(keymap);
    if (xkb_ctx) xkb_context_unref(xkb_ctx);
    kstate = nullptr;
    keymap = nullptr;
    xkb_ctx = nullptr;
  }

  void SetTitle(xcb_window_t xid, const std::string& caption) {
    std::string utf8 = Cp1252ToUtf8(caption);
    xcb_change_property(conn, XCB_PROP_MODE_REPLACE, xid, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(caption.size()), caption.data());
    xcb_change_property(conn, XCB_PROP_MODE_REPLACE, xid, a_net_name, a_utf8, 8,
                        static_cast<uint32_t>(utf8.size()), utf8.data());
  }

  // The X windows follow the model's visible top-level windows.
  void Sync() {
    std::vector<HWND> tops = TopLevelWindows();
    for (auto it = shown.begin(); it != shown.end();) {
      HWND h = it->first;
      bool keep = IsWindow(h) && IsWindowVisible(h) &&
                  std::find(tops.begin(), tops.end(), h) != tops.end();
      if (keep) {
        ++it;
        continue;
      }
      if (it->second.surface) cairo_surface_destroy(it->second.surface);
      xcb_destroy_window(conn, it->second.xid);
      if (pressed == h) pressed = nullptr;
      it = shown.erase(it);
      FocusInnermost();
    }
    for (HWND h : tops) {
      if (!IsWindow(h) || !IsWindowVisible(h)) continue;
      CWnd* w = CWnd::FromHandle(h);
      CRect r;
      w->GetWindowRect(&r);
      if (r.Width() <= 0 || r.Height() <= 0) continue;
      std::string caption = w->GetWindowTextString().GetString();
      auto found = shown.find(h);
      if (found == shown.end()) {
        Shown s;
        s.xid = xcb_generate_id(conn);
        s.rect = r;
        s.caption = caption;
        s.number = ++shown_count;
        uint32_t values[2] = {screen->white_pixel,
                              XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_KEY_PRESS |
                                  XCB_EVENT_MASK_KEY_RELEASE | XCB_EVENT_MASK_BUTTON_PRESS |
                                  XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
                                  XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_FOCUS_CHANGE};
        xcb_create_window(conn, XCB_COPY_FROM_PARENT, s.xid, screen->root,
                          static_cast<int16_t>(r.left), static_cast<int16_t>(r.top),
                          static_cast<uint16_t>(r.Width()), static_cast<uint16_t>(r.Height()), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        SetTitle(s.xid, caption);
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, s.xid, a_protocols, XCB_ATOM_ATOM, 32, 1,
                            &a_delete);
        // Where the model put it, also under a window manager.
        uint32_t hints[18] = {};
        hints[0] = 1 | 2 | 4 | 8;  // USPosition, USSize, PPosition, PSize
        hints[1] = static_cast<uint32_t>(r.left);
        hints[2] = static_cast<uint32_t>(r.top);
        hints[3] = static_cast<uint32_t>(r.Width());
        hints[4] = static_cast<uint32_t>(r.Height());
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, s.xid, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
        s.surface = cairo_xcb_surface_create(conn, s.xid, visual, r.Width(), r.Height());
        xcb_map_window(conn, s.xid);
        if (!snapshot_dir.empty()) {
          if (FILE* f = std::fopen((snapshot_dir + "/windows.txt").c_str(), "a")) {
            std::fprintf(f, "%d %d %d %d %d %s\n", s.number, static_cast<int>(r.left),
                         static_cast<int>(r.top), r.Width(), r.Height(),
                         Cp1252ToUtf8(caption).c_str());
            std::fclose(f);
          }
        }
        shown.emplace(h, s);
        continue;
      }
      Shown& s = found->second;
      if (r != s.rect) {
        uint32_t geo[4] = {static_cast<uint32_t>(r.left), static_cast<uint32_t>(r.top),
                           static_cast<uint32_t>(r.Width()), static_cast<uint32_t>(r.Height())};
        xcb_configure_window(conn, s.xid,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT,
                             geo);
        cairo_xcb_surface_set_size(s.surface, r.Width(), r.Height());
        s.rect = r;
        s.dirty = true;
      }
      if (caption != s.caption) {
        SetTitle(s.xid, caption);
        s.caption = caption;
      }
    }
  }

  // The keyboard goes to the window of the innermost modal loop.
  void FocusInnermost() {
    std::vector<HWND> modal = ModalWindows();
    for (auto it = modal.rbegin(); it != modal.rend(); ++it) {
      auto f = shown.find(*it);
      if (f == shown.end()) continue;
      uint32_t above = XCB_STACK_MODE_ABOVE;
      xcb_configure_window(conn, f->second.xid, XCB_CONFIG_WINDOW_STACK_MODE, &above);
      xcb_set_input_focus(conn, XCB_INPUT_FOCUS_POINTER_ROOT, f->second.xid, XCB_CURRENT_TIME);
      return;
    }
  }

  void Paint(HWND h, Shown& s) {
    Image img = Render(CWnd::FromHandle(h));
    if (img.width <= 0 || img.height <= 0) return;
    cairo_surface_t* pic = cairo_image_surface_create(CAIRO_FORMAT_RGB24, img.width, img.height);
    cairo_surface_flush(pic);
    unsigned char* data = cairo_image_surface_get_data(pic);
    int stride = cairo_image_surface_get_stride(pic);
    for (int y = 0; y < img.height; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
      for (int x = 0; x < img.width; ++x) {
        COLORREF c = img.At(x, y);
        row[x] = (static_cast<uint32_t>(GetRValue(c)) << 16) |
                 (static_cast<uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
      }
    }
    cairo_surface_mark_dirty(pic);
    cairo_t* cr = cairo_create(s.surface);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, pic, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(s.surface);
    if (!snapshot_dir.empty()) {
      // Written aside and renamed: whoever reads the picture meanwhile finds
      // the previous one whole, never half of the new one.
      std::string path = snapshot_dir + "/window-" + std::to_string(s.number) + ".png";
      if (cairo_surface_write_to_png(pic, (path + ".new").c_str()) == CAIRO_STATUS_SUCCESS) {
        std::error_code ec;
        std::filesystem::rename(path + ".new", path, ec);
      }
    }
    cairo_surface_destroy(pic);
    s.dirty = false;
  }

  void PaintAll(bool force) {
    int64_t now = NowMs();
    if (activity || now - last_paint_ms >= 250) force = true;
    for (auto& [h, s] : shown)
      if (force || s.dirty) Paint(h, s);
    if (force) last_paint_ms = now;
    activity = false;
  }

  HWND Owner(xcb_window_t xid) const {
    for (auto& [h, s] : shown)
      if (s.xid == xid) return h;
    return nullptr;
  }

  // The virtual key and the Windows-1252 byte a key event types, by the
  // keyboard map in force now.
  void Translate(const xcb_key_press_event_t* e, UINT* vk, int* byte) {
    *vk = 0;
    *byte = 0;
    if (!kstate) return;  // the map could not be read again
    xkb_state_update_mask(kstate, e->state & ~kLockMask & 0xFF, 0, e->state & kLockMask, 0, 0,
                          (e->state >> 13) & 3);
    xkb_keysym_t ks = xkb_state_key_get_one_sym(kstate, e->detail);
    *vk = VirtualKeyOfKeysym(ks);
    uint32_t cp = xkb_state_key_get_utf32(kstate, e->detail);
    *byte = cp == 0 || cp == 0x7F ? 0 : UnicodeToCp1252(cp);
    if (*byte < 0) *byte = 0;
  }

  // An event as it is read off the connection: a key with the map of now.
  Pending Read(xcb_generic_event_t* ev) {
    Pending p{ev};
    uint8_t type = ev->response_type & 0x7F;
    if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE)
      Translate(reinterpret_cast<const xcb_key_press_event_t*>(ev), &p.vk, &p.byte);
    return p;
  }

  bool IsKeyboardNews(const xcb_generic_event_t* ev) const {
    return xkb_event != 0 && (ev->response_type & 0x7F) == xkb_event;
  }

  void OnKey(xcb_key_press_event_t* e, bool down, UINT vk, int byte) {
    if (vk == 0) {
      if (byte == 0) return;  // nothing the model knows
      vk = VK_PACKET;
    }
    SetModifierKeys(e->state);
    SetKeyDown(static_cast<int>(vk), down);
    QueueKey(vk, down, static_cast<char>(byte));
  }

  void OnButton(xcb_button_press_event_t* e, bool down) {
    if (e->detail != 1 && e->detail != 3) return;
    HWND top = Owner(e->event);
    if (!top || !IsWindow(top)) return;
    SetModifierKeys(e->state);
    CRect wr;
    CWnd::FromHandle(top)->GetWindowRect(&wr);
    CPoint screen(wr.left + e->event_x, wr.top + e->event_y);
    HWND target = HitTest(top, screen);
    if (e->detail == 1 && !down && pressed && IsWindow(pressed)) target = pressed;
    CWnd* w = CWnd::FromHandle(target);
    if (!w || !w->IsWindowEnabledChain()) return;
    if (target == top && down && e->detail == 1) {
      // The caption's close box, painted at the right end of the caption.
      CRect client;
      w->GetClientRect(&client);
      w->ClientToScreen(&client);
      if (screen.y < client.top && screen.x >= wr.right - 30) {
        ::PostMessage(top, WM_CLOSE, 0, 0);
        return;
      }
    }
    CPoint p = screen;
    w->ScreenToClient(&p);
    WPARAM keys = (e->state & kShiftMask ? MK_SHIFT : 0) | (e->state & kControlMask ? MK_CONTROL : 0);
    if (e->detail == 3) {
      ::PostMessage(target, down ? WM_RBUTTONDOWN : WM_RBUTTONUP, keys, PointParam(p));
      return;
    }
    if (!down) {
      pressed = nullptr;
      ::PostMessage(target, WM_LBUTTONUP, keys, PointParam(p));
      return;
    }
    int64_t now = NowMs();
    bool dbl = target == last_click && now - last_click_ms <= 500 &&
               std::abs(screen.x - last_click_at.x) <= 4 && std::abs(screen.y - last_click_at.y) <= 4;
    pressed = target;
    if (dbl) {
      last_click = nullptr;
      ::PostMessage(target, WM_LBUTTONDBLCLK, keys | MK_LBUTTON, PointParam(p));
    } else {
      last_click = target;
      last_click_ms = now;
      last_click_at = screen;
      ::PostMessage(target, WM_LBUTTONDOWN, keys | MK_LBUTTON, PointParam(p));
    }
  }

  void OnMotion(xcb_motion_notify_event_t* e) {
    if (!pressed || !IsWindow(pressed) || !(e->state & XCB_BUTTON_MASK_1)) return;
    HWND top = Owner(e->event);
    if (!top) return;
    CRect wr;
    CWnd::FromHandle(top)->GetWindowRect(&wr);
    CPoint p(wr.left + e->event_x, wr.top + e->event_y);
    CWnd::FromHandle(pressed)->ScreenToClient(&p);
    // Only the latest position matters; older moves still queued go.
    MSG old;
    while (PeekMessage(&old, pressed, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_REMOVE)) {
    }
    ::PostMessage(pressed, WM_MOUSEMOVE, MK_LBUTTON, PointParam(p));
  }

  void OnSelectionRequest(xcb_selection_request_event_t* e) {
    xcb_selection_notify_event_t n{};
    n.response_type = XCB_SELECTION_NOTIFY;
    n.time = e->time;
    n.requestor = e->requestor;
    n.selection = e->selection;
    n.target = e->target;
    n.property = e->property == XCB_ATOM_NONE ? e->target : e->property;
    if (!own_clipboard || e->selection != a_clipboard) {
      n.property = XCB_ATOM_NONE;
    } else if (e->target == a_targets) {
      xcb_atom_t list[3] = {a_targets, a_utf8, XCB_ATOM_STRING};
      xcb_change_property(conn, XCB_PROP_MODE_REPLACE, e->requestor, n.property, XCB_ATOM_ATOM, 32,
                          3, list);
    } else if (e->target == a_utf8) {
      xcb_change_property(conn, XCB_PROP_MODE_REPLACE, e->requestor, n.property, a_utf8, 8,
                          static_cast<uint32_t>(clipboard_utf8.size()), clipboard_utf8.data());
    } else if (e->target == XCB_ATOM_STRING) {
      // Latin-1: the code page's letters beyond it become '?'.
      std::string latin;
      size_t pos = 0;
      while (pos < clipboard_utf8.size()) {
        char32_t cp = 0;
        bool ok = DecodeUtf8(clipboard_utf8, &pos, &cp);
        latin.push_back(ok && cp < 0x100 ? static_cast<char>(cp) : '?');
      }
      xcb_change_property(conn, XCB_PROP_MODE_REPLACE, e->requestor, n.property, XCB_ATOM_STRING, 8,
                          static_cast<uint32_t>(latin.size()), latin.data());
    } else {
      n.property = XCB_ATOM_NONE;
    }
    xcb_send_event(conn, 0, e->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&n));
    xcb_flush(conn);
  }

  static bool IsUserInput(const xcb_generic_event_t* ev) {
    switch (ev->response_type & 0x7F) {
      case XCB_KEY_PRESS:
      case XCB_KEY_RELEASE:
      case XCB_BUTTON_PRESS:
      case XCB_BUTTON_RELEASE:
      case XCB_MOTION_NOTIFY:
        return true;
      default:
        return false;
    }
  }

  void Handle(const Pending& p) {
    xcb_generic_event_t* ev = p.event;
    activity = true;
    if (IsKeyboardNews(ev)) {
      // The second byte tells which of the extension's events it is.
      uint8_t kind = reinterpret_cast<const uint8_t*>(ev)[1];
      if (kind == XCB_XKB_NEW_KEYBOARD_NOTIFY || kind == XCB_XKB_MAP_NOTIFY) LoadKeymap();
      return;
    }
    switch (ev->response_type & 0x7F) {
      case XCB_EXPOSE: {
        auto* e = reinterpret_cast<xcb_expose_event_t*>(ev);
        if (HWND h = Owner(e->window)) shown[h].dirty = true;
        break;
      }
      case XCB_MAP_NOTIFY:
        FocusInnermost();
        break;
      case XCB_KEY_PRESS:
        OnKey(reinterpret_cast<xcb_key_press_event_t*>(ev), true, p.vk, p.byte);
        break;
      case XCB_KEY_RELEASE:
        OnKey(reinterpret_cast<xcb_key_press_event_t*>(ev), false, p.vk, p.byte);
        break;
      case XCB_BUTTON_PRESS:
        OnButton(reinterpret_cast<xcb_button_press_event_t*>(ev), true);
        break;
      case XCB_BUTTON_RELEASE:
        OnButton(reinterpret_cast<xcb_button_press_event_t*>(ev), false);
        break;
      case XCB_MOTION_NOTIFY:
        OnMotion(reinterpret_cast<xcb_motion_notify_event_t*>(ev));
        break;
      case XCB_MAPPING_NOTIFY:
        LoadKeymap();
        break;
      case XCB_CLIENT_MESSAGE: {
        auto* e = reinterpret_cast<xcb_client_message_event_t*>(ev);
        if (e->type == a_protocols && e->data.data32[0] == a_delete)
          if (HWND h = Owner(e->window)) ::PostMessage(h, WM_CLOSE, 0, 0);
        break;
      }
      case XCB_SELECTION_REQUEST:
        OnSelectionRequest(reinterpret_cast<xcb_selection_request_event_t*>(ev));
        break;
      case XCB_SELECTION_CLEAR:
        own_clipboard = false;
        break;
      default:
        break;
    }
  }

  bool Pump(int wait_ms) {
    if (!conn || xcb_connection_has_error(conn)) return false;
    Sync();
    PaintAll(false);
    xcb_flush(conn);
    // One user input event per turn, as a window system's input queue hands
    // them out: what a key caused (a focus move, posted messages) is handled
    // before the next key is read, and the key state the controls see is the
    // one of the key being handled.
    bool input_taken = false;
    auto take = [&](Pending p) {
      if (IsUserInput(p.event)) {
        if (input_taken) {
          stash.push_back(p);
          return;
        }
        input_taken = true;
      }
      Handle(p);
      std::free(p.event);
    };
    const size_t stashed = stash.size();
    for (size_t i = 0; i < stashed && !input_taken; ++i) {
      Pending p = stash.front();
      stash.pop_front();
      take(p);
    }
    xcb_generic_event_t* ev = xcb_poll_for_event(conn);
    if (!ev && wait_ms > 0 && stash.empty() && !input_taken) {
      pollfd p{xcb_get_file_descriptor(conn), POLLIN, 0};
      poll(&p, 1, wait_ms);
      ev = xcb_poll_for_event(conn);
    }
    for (; ev; ev = xcb_poll_for_event(conn)) take(Read(ev));
    return !xcb_connection_has_error(conn);
  }

  bool GetClipboard(std::string* text) {
    if (!conn) return false;
    if (own_clipboard) return Utf8ToCp1252(clipboard_utf8, text), true;
    xcb_get_selection_owner_reply_t* o =
        xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, a_clipboard), nullptr);
    bool has_owner = o && o->owner != XCB_WINDOW_NONE;
    std::free(o);
    if (!has_owner) return false;
    xcb_convert_selection(conn, helper, a_clipboard, a_utf8, a_property, XCB_CURRENT_TIME);
    xcb_flush(conn);
    int64_t until = NowMs() + 1000;
    bool got = false, ok = false;
    while (!got && NowMs() < until) {
      xcb_generic_event_t* ev = xcb_poll_for_event(conn);
      if (!ev) {
        pollfd p{xcb_get_file_descriptor(conn), POLLIN, 0};
        poll(&p, 1, 50);
        continue;
      }
      if ((ev->response_type & 0x7F) == XCB_SELECTION_NOTIFY) {
        auto* n = reinterpret_cast<xcb_selection_notify_event_t*>(ev);
        got = true;
        if (n->property != XCB_ATOM_NONE) {
          xcb_get_property_reply_t* r = xcb_get_property_reply(
              conn, xcb_get_property(conn, 1, helper, a_property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20),
              nullptr);
          if (r) {
            std::string utf8(static_cast<const char*>(xcb_get_property_value(r)),
                             static_cast<size_t>(xcb_get_property_value_length(r)));
            Utf8ToCp1252(utf8, text);
            ok = true;
            std::free(r);
          }
        }
        std::free(ev);
      } else {
        // For the next turn of the loop. A change of the keyboard map,
        // though, is taken at once, for the keys read after it.
        Pending p = Read(ev);
        if (IsKeyboardNews(ev)) {
          Handle(p);
          std::free(ev);
        } else {
          stash.push_back(p);
        }
      }
    }
    return ok;
  }

  bool SetClipboard(const std::string& text) {
    if (!conn) return false;
    clipboard_utf8 = Cp1252ToUtf8(text);
    xcb_set_selection_owner(conn, helper, a_clipboard, XCB_CURRENT_TIME);
    xcb_get_selection_owner_reply_t* o =
        xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, a_clipboard), nullptr);
    own_clipboard = o && o->owner == helper;
    std::free(o);
    return own_clipboard;
  }
};

LiveDisplay::LiveDisplay() : impl_(std::make_unique<Impl>()) {}

LiveDisplay::~LiveDisplay() {
  if (impl_->conn) SetUserInputSource(nullptr);
  impl_->Close();
}

bool LiveDisplay::Open(const std::string& display) {
  if (impl_->conn) return true;
  if (display.empty() && !LiveDisplayRequested()) return false;
  if (!impl_->Open(display)) return false;
  // The loops ask for input only when they have nothing else to do: wait a
  // little for the user, then let them fire what the clock made due.
  SetUserInputSource([this] { return Pump(20); });
  return true;
}

bool LiveDisplay::is_open() const { return impl_->conn != nullptr; }

void LiveDisplay::SetSnapshotDir(const std::string& dir) { impl_->snapshot_dir = dir; }

bool LiveDisplay::Pump(int wait_ms) { return impl_->Pump(wait_ms); }

bool LiveDisplay::SetClipboardText(const std::string& text) { return impl_->SetClipboard(text); }

bool LiveDisplay::GetClipboardText(std::string* text) { return impl_->GetClipboard(text); }

namespace {

// A message box as a modal dialog of the model: the text line by line, the
// buttons of its type, the default one focused.
class LiveBox : public CDialog {
 public:
  LiveBox(const std::string& text, const std::string& caption, unsigned type) : type_(type) {
    struct B { int id; const char* label; };
    std::vector<B> buttons;
    switch (type & MB_TYPEMASK) {
      case MB_OKCANCEL: buttons = {{IDOK, "OK"}, {IDCANCEL, "Annulla"}}; break;
      case MB_ABORTRETRYIGNORE:
        buttons = {{IDABORT, "Interrompi"}, {IDRETRY, "Riprova"}, {IDIGNORE, "Ignora"}};
        break;
      case MB_YESNOCANCEL: buttons = {{IDYES, "S\xEC"}, {IDNO, "No"}, {IDCANCEL, "Annulla"}}; break;
      case MB_YESNO: buttons = {{IDYES, "S\xEC"}, {IDNO, "No"}}; break;
      case MB_RETRYCANCEL: buttons = {{IDRETRY, "Riprova"}, {IDCANCEL, "Annulla"}}; break;
      default: buttons = {{IDOK, "OK"}}; break;
    }
    default_id_ = DefaultAnswer(type);
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
      size_t nl = text.find('\n', start);
      lines.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
      if (nl == std::string::npos) break;
      start = nl + 1;
    }
    size_t longest = 0;
    for (auto& l : lines) longest = std::max(longest, l.size());
    int bw = 90, gap = 10;
    int width = std::clamp(static_cast<int>(longest) * 7 + 40, 100 * static_cast<int>(buttons.size()) + 20, 900);
    int height = 20 + static_cast<int>(lines.size()) * 18 + 20 + 26 + 14;
    vkt::win::DialogTemplate t;
    t.caption = caption;
    t.style |= WS_VISIBLE;
    CRect over(0, 0, 1024, 768);
    std::vector<HWND> modal = ModalWindows();
    if (!modal.empty()) CWnd::FromHandle(modal.back())->GetWindowRect(&over);
    int x = over.left + (over.Width() - width) / 2, y = over.top + (over.Height() - height) / 2;
    t.rect = CRect(std::max(x, 0), std::max(y, 0), std::max(x, 0) + width, std::max(y, 0) + height);
    int ly = 20;
    for (auto& l : lines) {
      t.items.push_back({"Static", l, 0xFFFF, WS_CHILD | WS_VISIBLE | SS_LEFT, CRect(20, ly, width - 20, ly + 16)});
      ly += 18;
    }
    int total = static_cast<int>(buttons.size()) * bw + (static_cast<int>(buttons.size()) - 1) * gap;
    int bx = (width - total) / 2, by = ly + 20;
    for (auto& b : buttons) {
      DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP |
                    (b.id == default_id_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
      t.items.push_back({"Button", b.label, static_cast<UINT>(b.id), style, CRect(bx, by, bx + bw, by + 26)});
      ids_.push_back(b.id);
      bx += bw + gap;
    }
    SetTemplate(t);
  }

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (CWnd* b = GetDlgItem(default_id_)) GotoDlgCtrl(b);
    return FALSE;
  }

  BOOL OnCommand(WPARAM w, LPARAM l) override {
    int id = LOWORD(w);
    if (std::find(ids_.begin(), ids_.end(), id) != ids_.end()) {
      EndDialog(id);
      return TRUE;
    }
    return CDialog::OnCommand(w, l);
  }

  // Escape answers Annulla where the box has it, OK in a box of one button
  // and nothing otherwise, as the system's boxes do.
  void OnCancel() override {
    if (std::find(ids_.begin(), ids_.end(), IDCANCEL) != ids_.end()) EndDialog(IDCANCEL);
    else if ((type_ & MB_TYPEMASK) == MB_OK) EndDialog(IDOK);
  }

 private:
  unsigned type_;
  int default_id_ = IDOK;
  std::vector<int> ids_;
};

}  // namespace

int LiveServices::MessageBox(const std::string& text, const std::string& caption, unsigned type) {
  if (!display_ || !display_->is_open()) return SystemServices::MessageBox(text, caption, type);
  HWND focus = ::GetFocus();
  LiveBox box(text, caption, type);
  intptr_t answer = box.DoModal();
  if (focus && IsWindow(focus)) ::SetFocus(focus);
  if (answer <= 0) answer = DefaultAnswer(type);
  return static_cast<int>(answer);
}

bool LiveServices::GetClipboardText(std::string* text) {
  if (!display_ || !display_->is_open()) return SystemServices::GetClipboardText(text);
  return display_->GetClipboardText(text);
}

bool LiveServices::SetClipboardText(const std::string& text) {
  if (!display_ || !display_->is_open()) return SystemServices::SetClipboardText(text);
  return display_->SetClipboardText(text);
}

}  // namespace vkt::win
