#include "win/window.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <deque>
#include <map>

#include "win/detail/wndstate.h"
#include "win/services.h"
#include "win/stdctrls.h"
#include "win/winconst.h"

namespace vkt::win {
namespace detail {
namespace {

struct Timer {
  HWND hwnd;
  uintptr_t id;
  int64_t interval_us;
  int64_t due_us;
  bool pending;
};

struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  }
};

struct Manager {
  std::map<uintptr_t, std::unique_ptr<WindowState>> windows;
  std::vector<HWND> top_levels;
  uintptr_t next_handle = 0x1000;
  HWND focus = nullptr;
  HWND active = nullptr;
  std::deque<MSG> queue;
  std::vector<Timer> timers;
  std::array<bool, 256> keys{};
  std::vector<HWND> modal;
  UserInputSource input;
  int stalls = 0;
  std::vector<std::function<void()>> idle_handlers;
  std::map<std::string, ClassProc, NoCaseLess> classes;
  std::map<HWND, cairo_t*> paint_targets;
  int send_depth = 0;

  Manager() {
    classes.emplace("Edit", &EditClassProc);
    classes.emplace("Button", &ButtonClassProc);
    classes.emplace("Static", &StaticClassProc);
    classes.emplace("ComboBox", &ComboBoxClassProc);
    classes.emplace("#32770", &DialogClassProc);
  }
};

Manager& M() {
  static Manager m;
  return m;
}

// Deep recursion means two windows keep answering each other; stop it
// before the stack does.
constexpr int kMaxSendDepth = 400;

void Unlink(WindowState& s) {
  Manager& m = M();
  if (WindowState* p = Find(s.parent); p && (s.style & WS_CHILD)) {
    auto& c = p->children;
    c.erase(std::remove(c.begin(), c.end(), s.hwnd), c.end());
  }
  auto& t = m.top_levels;
  t.erase(std::remove(t.begin(), t.end(), s.hwnd), t.end());
}

void CollectSubtree(HWND h, std::vector<HWND>* out) {
  WindowState* s = Find(h);
  if (!s) return;
  out->push_back(h);
  for (HWND c : s->children) CollectSubtree(c, out);
}

bool InSubtree(HWND root, HWND h) {
  for (HWND x = h; x; x = GetParent(x)) {
    if (x == root) return true;
    WindowState* s = Find(x);
    if (!s || !(s->style & WS_CHILD)) return false;
  }
  return false;
}

}  // namespace

WindowState* Find(HWND hwnd) {
  if (!hwnd) return nullptr;
  auto it = M().windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == M().windows.end() ? nullptr : it->second.get();
}

bool IsTopLevel(const WindowState& s) { return !(s.style & WS_CHILD); }

CRect NonClientInsets(const WindowState& s) {
  if (!IsTopLevel(s)) return CRect();
  int border = (s.style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME)) ? 1 : 0;
  int caption = (s.style & WS_CAPTION) == WS_CAPTION ? 24 : 0;
  return CRect(border, border + caption, border, border);
}

bool NotifyParent(HWND hwnd, WORD code) {
  WindowState* s = Find(hwnd);
  if (!s) return false;
  HWND parent = s->parent;
  if (parent && (s->style & WS_CHILD))
    ::SendMessage(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(s->id), code),
                  reinterpret_cast<LPARAM>(hwnd));
  return IsWindow(hwnd);
}

COLORREF ControlColors(HWND hwnd, CDC* dc, UINT msg) {
  WindowState* s = Find(hwnd);
  LRESULT r = 0;
  if (s && s->parent && (s->style & WS_CHILD))
    r = ::SendMessage(s->parent, msg, reinterpret_cast<WPARAM>(dc->GetSafeHdc()),
                      reinterpret_cast<LPARAM>(hwnd));
  else
    r = DefaultClassProc(hwnd, msg, reinterpret_cast<WPARAM>(dc->GetSafeHdc()),
                         reinterpret_cast<LPARAM>(hwnd));
  COLORREF c;
  if (GetBrushColor(reinterpret_cast<HBRUSH>(r), &c)) return c;
  return dc->GetBkColor();
}

HFONT FontOf(HWND hwnd) {
  WindowState* s = Find(hwnd);
  return s && s->font ? s->font : DefaultGuiFontHandle();
}

void CountInvalidation(HWND hwnd) {
  if (WindowState* s = Find(hwnd)) ++s->invalidations;
}

cairo_t* PaintTarget(HWND hwnd) {
  auto it = M().paint_targets.find(hwnd);
  return it == M().paint_targets.end() ? nullptr : it->second;
}

void SetPaintTarget(HWND hwnd, cairo_t* cr) {
  if (cr) M().paint_targets[hwnd] = cr;
  else M().paint_targets.erase(hwnd);
}

}  // namespace detail

using detail::Find;
using detail::M;
using detail::WindowState;

void ResetWindows() {
  auto& m = M();
  for (auto& [id, s] : m.windows)
    if (s->object) s->object->m_hWnd = nullptr;
  m.windows.clear();
  m.top_levels.clear();
  m.focus = m.active = nullptr;
  m.queue.clear();
  m.timers.clear();
  m.keys.fill(false);
  m.modal.clear();
  m.stalls = 0;
  m.idle_handlers.clear();
  m.paint_targets.clear();
  m.send_depth = 0;
}

size_t WindowCount() { return M().windows.size(); }

bool PumpMessage() {
  auto& m = M();
  if (m.queue.empty()) return false;
  MSG msg = m.queue.front();
  m.queue.pop_front();
  if (msg.message == WM_TIMER)
    for (auto& t : m.timers)
      if (t.hwnd == msg.hwnd && t.id == msg.wParam) t.pending = false;
  if (msg.hwnd && !IsWindow(msg.hwnd)) return true;
  // The pre-translate chain: the target, then its parents (owners for
  // top-level windows), child first.
  for (HWND h = msg.hwnd; h; h = ::GetParent(h)) {
    CWnd* w = CWnd::FromHandlePermanent(h);
    if (w && w->PreTranslateMessage(&msg)) return true;
    if (!IsWindow(msg.hwnd)) return true;
  }
  ::TranslateMessage(&msg);
  ::DispatchMessage(&msg);
  return true;
}

size_t QueuedMessages() { return M().queue.size(); }

int FireDueTimers() {
  auto& m = M();
  int64_t now = services().MonotonicMicros();
  int fired = 0;
  for (auto& t : m.timers) {
    if (t.pending || now < t.due_us) continue;
    t.pending = true;
    t.due_us = now + t.interval_us;
    MSG msg;
    msg.hwnd = t.hwnd;
    msg.message = WM_TIMER;
    msg.wParam = t.id;
    m.queue.push_back(msg);
    ++fired;
  }
  return fired;
}

int RunPosted() {
  constexpr int kLimit = 1000000;
  int n = 0;
  bool timers_fired = false;
  while (n < kLimit) {
    if (PumpMessage()) {
      ++n;
      continue;
    }
    if (!timers_fired) {
      timers_fired = true;
      if (FireDueTimers() > 0) continue;
    }
    return n;
  }
  services().Notice("RunPosted: messages keep posting themselves; stopped");
  return n;
}

void RunIdle() {
  auto& m = M();
  if (!m.modal.empty()) {
    HWND h = m.modal.back();
    ::SendMessage(h, WM_KICKIDLE, MSGF_DIALOGBOX, 0);
  } else {
    std::vector<HWND> tops = m.top_levels;
    for (HWND h : tops)
      if (IsWindow(h)) ::SendMessage(h, WM_KICKIDLE, MSGF_DIALOGBOX, 0);
  }
  auto handlers = m.idle_handlers;
  for (auto& f : handlers) f();
}

void AddIdleHandler(std::function<void()> handler) {
  M().idle_handlers.push_back(std::move(handler));
}

void SetUserInputSource(UserInputSource source) { M().input = std::move(source); }
int StalledModalLoops() { return M().stalls; }
std::vector<HWND> ModalWindows() { return M().modal; }
std::vector<HWND> TopLevelWindows() { return M().top_levels; }

void SetKeyDown(int vk, bool down) { M().keys[vk & 0xFF] = down; }

void QueueKey(UINT vk, bool down, char ch) {
  auto& m = M();
  HWND target = m.focus ? m.focus : m.active;
  if (!target) return;
  MSG msg;
  msg.hwnd = target;
  bool alt = m.keys[VK_MENU];
  msg.message = down ? (alt ? WM_SYSKEYDOWN : WM_KEYDOWN) : (alt ? WM_SYSKEYUP : WM_KEYUP);
  msg.wParam = vk;
  uint32_t l = 1u | (static_cast<uint32_t>(static_cast<unsigned char>(ch)) << 16);
  if (!down) l |= 0xC0000000u;
  msg.lParam = static_cast<LPARAM>(static_cast<int32_t>(l));
  m.queue.push_back(msg);
}

char CharOfKey(UINT vk) {
  auto& m = M();
  bool shift = m.keys[VK_SHIFT];
  bool ctrl = m.keys[VK_CONTROL];
  if (vk >= 'A' && vk <= 'Z') {
    if (ctrl) return static_cast<char>(vk - 'A' + 1);
    return static_cast<char>(shift ? vk : vk + 32);
  }
  if (ctrl) return 0;
  if (vk >= '0' && vk <= '9') return static_cast<char>(vk);
  if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD0 + 9) return static_cast<char>('0' + vk - VK_NUMPAD0);
  switch (vk) {
    case VK_BACK: return 8;
    case VK_TAB: return 9;
    case VK_RETURN: return 13;
    case VK_ESCAPE: return 27;
    case VK_SPACE: return ' ';
    case VK_OEM_COMMA: return ',';
    case VK_OEM_PERIOD: return '.';
    case VK_DECIMAL: return '.';
    case VK_OEM_MINUS: case VK_SUBTRACT: return '-';
    case VK_OEM_PLUS: return shift ? '+' : '=';
    case VK_ADD: return '+';
    case VK_MULTIPLY: return '*';
    case VK_DIVIDE: return '/';
    default: return 0;
  }
}

bool RegisterWindowClass(const char* name, ClassProc proc) {
  if (!name || !proc) return false;
  return M().classes.emplace(name, proc).second;
}

LRESULT DefaultClassProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  WindowState* s = Find(hwnd);
  if (!s) return 0;
  switch (msg) {
    case WM_SETTEXT:
      s->text = l ? detail::TextParam(l) : "";
      return TRUE;
    case WM_GETTEXT: {
      if (w == 0 || l == 0) return 0;
      char* buf = reinterpret_cast<char*>(l);
      size_t n = std::min<size_t>(s->text.size(), w - 1);
      std::memcpy(buf, s->text.data(), n);
      buf[n] = '\0';
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(s->text.size());
    case WM_SETFONT:
      s->font = reinterpret_cast<HFONT>(w);
      if (LOWORD(l)) ++s->invalidations;
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s->font);
    case WM_SETREDRAW:
      s->redraw = w != 0;
      return 0;
    case WM_CLOSE:
      ::DestroyWindow(hwnd);
      return 0;
    case WM_ERASEBKGND: {
      if (!detail::IsTopLevel(*s)) return 0;
      CDC* dc = CDC::FromHandle(reinterpret_cast<HDC>(w));
      if (dc) dc->FillSolidRect(CRect(0, 0, 30000, 30000), GetSysColor(COLOR_BTNFACE));
      return 1;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: {
      CDC* dc = CDC::FromHandle(reinterpret_cast<HDC>(w));
      bool field = msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX;
      int bk = field ? COLOR_WINDOW : COLOR_BTNFACE;
      if (dc) {
        dc->SetTextColor(GetSysColor(COLOR_WINDOWTEXT));
        dc->SetBkColor(GetSysColor(bk));
      }
      return reinterpret_cast<LRESULT>(GetSysColorBrush(bk));
    }
    default:
      return 0;
  }
}

int InvalidationCount(HWND hwnd) {
  WindowState* s = Find(hwnd);
  return s ? s->invalidations : 0;
}

}  // namespace vkt::win

using vkt::win::detail::Find;
using vkt::win::detail::M;
using vkt::win::detail::WindowState;

// Private access of the manager to CWnd.
struct WndAccess {
  static void SetTemporary(CWnd* w) { w->temporary_ = true; }
};

// --- Win32 functions --------------------------------------------------------

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  WindowState* s = Find(hwnd);
  if (!s) return 0;
  auto& m = M();
  if (m.send_depth >= vkt::win::detail::kMaxSendDepth) {
    vkt::services().Notice("SendMessage: recursion too deep; message dropped");
    return 0;
  }
  ++m.send_depth;
  LRESULT r = s->object ? s->object->WindowProc(msg, w, l) : s->proc(hwnd, msg, w, l);
  --m.send_depth;
  return r;
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (hwnd && !IsWindow(hwnd)) return FALSE;
  MSG m;
  m.hwnd = hwnd;
  m.message = msg;
  m.wParam = w;
  m.lParam = l;
  M().queue.push_back(m);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) { return Find(hwnd) != nullptr; }

HWND GetFocus() { return M().focus; }

HWND SetFocus(HWND hwnd) {
  auto& m = M();
  if (hwnd && !IsWindow(hwnd)) return nullptr;
  HWND old = m.focus;
  if (old == hwnd) return old;
  m.focus = hwnd;
  if (hwnd) {
    HWND top = hwnd;
    while (WindowState* s = Find(top)) {
      if (!(s->style & WS_CHILD)) break;
      top = s->parent;
    }
    if (top) m.active = top;
  }
  if (old && IsWindow(old)) SendMessage(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  // The old window may have moved the focus elsewhere meanwhile.
  if (hwnd && m.focus == hwnd && IsWindow(hwnd))
    SendMessage(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

HWND GetParent(HWND hwnd) {
  WindowState* s = Find(hwnd);
  return s ? s->parent : nullptr;
}

HWND GetDlgItem(HWND dlg, int id) {
  WindowState* s = Find(dlg);
  if (!s) return nullptr;
  for (HWND c : s->children)
    if (WindowState* cs = Find(c); cs && static_cast<int>(cs->id) == id) return c;
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  WindowState* s = Find(hwnd);
  return s ? static_cast<int>(s->id) : 0;
}

LONG GetWindowLong(HWND hwnd, int index) {
  WindowState* s = Find(hwnd);
  if (!s) return 0;
  switch (index) {
    case GWL_STYLE: return static_cast<LONG>(s->style);
    case GWL_EXSTYLE: return static_cast<LONG>(s->ex_style);
    case GWL_ID: return static_cast<LONG>(s->id);
    default: return 0;
  }
}

LONG SetWindowLong(HWND hwnd, int index, LONG value) {
  WindowState* s = Find(hwnd);
  if (!s) return 0;
  LONG old;
  switch (index) {
    case GWL_STYLE:
      old = static_cast<LONG>(s->style);
      s->style = static_cast<DWORD>(value);
      return old;
    case GWL_EXSTYLE:
      old = static_cast<LONG>(s->ex_style);
      s->ex_style = static_cast<DWORD>(value);
      return old;
    case GWL_ID:
      old = static_cast<LONG>(s->id);
      s->id = static_cast<UINT>(value);
      return old;
    default:
      return 0;
  }
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  WindowState* s = Find(hwnd);
  if (!s) return FALSE;
  bool was_disabled = (s->style & WS_DISABLED) != 0;
  if (enable && was_disabled) s->style &= ~WS_DISABLED;
  else if (!enable && !was_disabled) s->style |= WS_DISABLED;
  else return was_disabled;
  SendMessage(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return was_disabled;
}

BOOL IsWindowEnabled(HWND hwnd) {
  WindowState* s = Find(hwnd);
  return s && !(s->style & WS_DISABLED);
}

BOOL IsWindowVisible(HWND hwnd) {
  for (HWND h = hwnd; h;) {
    WindowState* s = Find(h);
    if (!s || !(s->style & WS_VISIBLE)) return FALSE;
    if (!(s->style & WS_CHILD)) return TRUE;
    h = s->parent;
  }
  return FALSE;
}

BOOL DestroyWindow(HWND hwnd) {
  WindowState* s = Find(hwnd);
  if (!s) return FALSE;
  auto& m = M();
  std::vector<HWND> subtree;
  vkt::win::detail::CollectSubtree(hwnd, &subtree);
  // Owned top-level windows go with their owner, as in Win32.
  for (size_t i = 0; i < m.top_levels.size(); ++i) {
    HWND t = m.top_levels[i];
    WindowState* ts = Find(t);
    if (ts && ts->parent == hwnd && t != hwnd) DestroyWindow(t);
  }
  if (!IsWindow(hwnd)) return TRUE;
  // The focus leaves quietly: a window going away validates nothing.
  if (m.focus && std::find(subtree.begin(), subtree.end(), m.focus) != subtree.end())
    m.focus = nullptr;
  if (m.active == hwnd) m.active = nullptr;
  for (HWND h : subtree) SendMessage(h, WM_DESTROY, 0, 0);
  for (auto it = subtree.rbegin(); it != subtree.rend(); ++it) SendMessage(*it, WM_NCDESTROY, 0, 0);
  if (m.focus && std::find(subtree.begin(), subtree.end(), m.focus) != subtree.end())
    m.focus = nullptr;
  auto& t = m.timers;
  t.erase(std::remove_if(t.begin(), t.end(),
                         [&](const auto& x) {
                           return std::find(subtree.begin(), subtree.end(), x.hwnd) !=
                                  subtree.end();
                         }),
          t.end());
  std::vector<CWnd*> detached;
  for (HWND h : subtree) {
    WindowState* hs = Find(h);
    if (!hs) continue;
    if (hs->object) {
      hs->object->m_hWnd = nullptr;
      detached.push_back(hs->object);
      hs->object = nullptr;
    }
  }
  if (WindowState* root = Find(hwnd)) vkt::win::detail::Unlink(*root);
  for (HWND h : subtree) m.windows.erase(reinterpret_cast<uintptr_t>(h));
  for (CWnd* w : detached) w->PostNcDestroy();
  return TRUE;
}

short GetKeyState(int vk) { return M().keys[vk & 0xFF] ? static_cast<short>(0x8000) : 0; }

HWND GetActiveWindow() { return M().active; }

HWND SetActiveWindow(HWND hwnd) {
  HWND old = M().active;
  if (IsWindow(hwnd)) M().active = hwnd;
  return old;
}

BOOL PeekMessage(MSG* msg, HWND hwnd, UINT min, UINT max, UINT remove) {
  auto& q = M().queue;
  for (auto it = q.begin(); it != q.end(); ++it) {
    if (hwnd && it->hwnd != hwnd) continue;
    if ((min || max) && (it->message < min || it->message > max)) continue;
    if (msg) *msg = *it;
    if (remove & PM_REMOVE) {
      MSG taken = *it;
      q.erase(it);
      if (taken.message == WM_TIMER)
        for (auto& t : M().timers)
          if (t.hwnd == taken.hwnd && t.id == taken.wParam) t.pending = false;
    }
    return TRUE;
  }
  return FALSE;
}

void PostQuitMessage(int exit_code) {
  ::PostMessage(nullptr, WM_QUIT, static_cast<WPARAM>(exit_code), 0);
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return FALSE;
  char ch = static_cast<char>((static_cast<uint32_t>(msg->lParam) >> 16) & 0xFF);
  if (ch == 0) ch = vkt::win::CharOfKey(static_cast<UINT>(msg->wParam));
  if (ch == 0) return FALSE;
  MSG c = *msg;
  c.message = msg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
  c.wParam = static_cast<unsigned char>(ch);
  M().queue.push_front(c);
  return TRUE;
}

LRESULT DispatchMessage(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  return SendMessage(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

// --- CCmdUI -------------------------------------------------------------------

CCmdUI::~CCmdUI() = default;

void CCmdUI::Enable(BOOL on) {
  m_bEnableChanged = true;
  m_bEnabled = on != 0;
  if (m_pOther) m_pOther->EnableWindow(on);
}

void CCmdUI::SetCheck(int check) { m_nCheck = check; }
void CCmdUI::SetText(const char* text) { m_strText = text; }

// --- CPaintDC -----------------------------------------------------------------

CPaintDC::CPaintDC(CWnd* wnd)
    : CDC(wnd ? vkt::win::detail::PaintTarget(wnd->m_hWnd) : nullptr) {
  if (wnd) SelectFont(vkt::win::detail::FontOf(wnd->m_hWnd));
}

// --- CWnd ---------------------------------------------------------------------

namespace {

// Sets the message being handled for Default() and restores the outer one.
class CurrentMessage {
 public:
  CurrentMessage(const MSG** slot, HWND h, UINT msg, WPARAM w, LPARAM l)
      : slot_(slot), saved_(*slot) {
    msg_.hwnd = h;
    msg_.message = msg;
    msg_.wParam = w;
    msg_.lParam = l;
    *slot_ = &msg_;
  }
  ~CurrentMessage() { *slot_ = saved_; }

 private:
  const MSG** slot_;
  const MSG* saved_;
  MSG msg_;
};

CPoint PointOf(LPARAM l) {
  return CPoint(static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l))),
                static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l))));
}

}  // namespace

CWnd::CWnd() = default;

CWnd::~CWnd() {
  if (m_hWnd && !temporary_) {
    WindowState* s = Find(m_hWnd);
    if (s && s->object == this) DestroyWindow();
  }
  font_wrapper_.Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  WindowState* s = Find(hwnd);
  return s ? s->object : nullptr;
}

CWnd* CWnd::FromHandle(HWND hwnd) {
  WindowState* s = Find(hwnd);
  if (!s) return nullptr;
  if (s->object) return s->object;
  if (!s->wrapper) {
    s->wrapper = std::make_unique<CWnd>();
    s->wrapper->m_hWnd = hwnd;
    WndAccess::SetTemporary(s->wrapper.get());
  }
  return s->wrapper.get();
}

BOOL CWnd::Create(const char* class_name, const char* text, DWORD style, const CRect& rect,
                  CWnd* parent, UINT id) {
  return CreateEx(0, class_name, text, style, rect, parent, id);
}

namespace {

HWND NewWindow(CWnd* object, DWORD ex_style, const char* class_name, const char* text,
               DWORD style, const CRect& rect, HWND parent_h, UINT id) {
  if ((style & WS_CHILD) && !IsWindow(parent_h)) return nullptr;
  if (parent_h && !IsWindow(parent_h)) return nullptr;
  auto& m = M();
  auto s = std::make_unique<WindowState>();
  s->hwnd = reinterpret_cast<HWND>(m.next_handle++);
  s->class_name = class_name ? class_name : "";
  auto cls = m.classes.find(s->class_name);
  s->proc = cls != m.classes.end() ? cls->second : &vkt::win::DefaultClassProc;
  s->text = text ? text : "";
  s->style = style;
  s->ex_style = ex_style;
  s->id = id;
  s->rect = rect;
  s->parent = parent_h;
  s->object = object;
  if (WindowState* p = Find(parent_h); p && (style & WS_CHILD)) s->font = p->font;
  HWND h = s->hwnd;
  m.windows.emplace(reinterpret_cast<uintptr_t>(h), std::move(s));
  if (style & WS_CHILD) Find(parent_h)->children.push_back(h);
  else m.top_levels.push_back(h);
  return h;
}

}  // namespace

HWND CreateWindowEx(DWORD ex_style, const char* class_name, const char* text, DWORD style,
                    const CRect& rect, HWND parent, UINT id) {
  HWND h = NewWindow(nullptr, ex_style, class_name, text, style, rect, parent, id);
  if (!h) return nullptr;
  if (SendMessage(h, WM_CREATE, 0, 0) == -1) {
    DestroyWindow(h);
    return nullptr;
  }
  return IsWindow(h) ? h : nullptr;
}

BOOL CWnd::CreateEx(DWORD ex_style, const char* class_name, const char* text, DWORD style,
                    const CRect& rect, CWnd* parent, UINT id) {
  if (m_hWnd) return FALSE;
  HWND h = NewWindow(this, ex_style, class_name, text, style, rect,
                     parent ? parent->m_hWnd : nullptr, id);
  if (!h) return FALSE;
  m_hWnd = h;
  PreSubclassWindow();
  if (IsWindow(h) && SendMessage(WM_CREATE) == -1) {
    ::DestroyWindow(h);
    return FALSE;
  }
  return IsWindow(h);
}

BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }

BOOL CWnd::SubclassWindow(HWND hwnd) {
  WindowState* s = Find(hwnd);
  if (!s || m_hWnd || (s->object && s->object != this)) return FALSE;
  m_hWnd = hwnd;
  PreSubclassWindow();
  if (WindowState* again = Find(hwnd)) again->object = this;
  return IsWindow(hwnd);
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  if (!parent) return FALSE;
  HWND h = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
  return h ? SubclassWindow(h) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
  HWND h = m_hWnd;
  if (WindowState* s = Find(h); s && s->object == this) s->object = nullptr;
  m_hWnd = nullptr;
  return h;
}

void CWnd::PreSubclassWindow() {}
void CWnd::PostNcDestroy() {}

LRESULT CWnd::SendMessage(UINT msg, WPARAM w, LPARAM l) { return ::SendMessage(m_hWnd, msg, w, l); }
BOOL CWnd::PostMessage(UINT msg, WPARAM w, LPARAM l) {
  return m_hWnd ? ::PostMessage(m_hWnd, msg, w, l) : FALSE;
}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM w, LPARAM l) {
  WindowState* s = Find(m_hWnd);
  return s ? s->proc(m_hWnd, msg, w, l) : 0;
}

LRESULT CWnd::Default() {
  if (!current_) return 0;
  return DefWindowProc(current_->message, current_->wParam, current_->lParam);
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

LRESULT CWnd::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  CurrentMessage guard(&current_, m_hWnd, msg, w, l);
  switch (msg) {
    case WM_CREATE:
      return OnCreate();
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_SETFOCUS:
      OnSetFocus(FromHandle(reinterpret_cast<HWND>(w)));
      return 0;
    case WM_KILLFOCUS:
      OnKillFocus(FromHandle(reinterpret_cast<HWND>(w)));
      return 0;
    case WM_ENABLE:
      OnEnable(static_cast<BOOL>(w));
      return 0;
    case WM_CHAR:
      OnChar(static_cast<UINT>(w), LOWORD(static_cast<uintptr_t>(l)),
             HIWORD(static_cast<uintptr_t>(l)));
      return 0;
    case WM_KEYDOWN:
      OnKeyDown(static_cast<UINT>(w), LOWORD(static_cast<uintptr_t>(l)),
                HIWORD(static_cast<uintptr_t>(l)));
      return 0;
    case WM_KEYUP:
      OnKeyUp(static_cast<UINT>(w), LOWORD(static_cast<uintptr_t>(l)),
              HIWORD(static_cast<uintptr_t>(l)));
      return 0;
    case WM_LBUTTONDOWN:
      OnLButtonDown(static_cast<UINT>(w), PointOf(l));
      return 0;
    case WM_LBUTTONUP:
      OnLButtonUp(static_cast<UINT>(w), PointOf(l));
      return 0;
    case WM_LBUTTONDBLCLK:
      OnLButtonDblClk(static_cast<UINT>(w), PointOf(l));
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(static_cast<UINT>(w), PointOf(l));
      return 0;
    case WM_TIMER:
      OnTimer(w);
      return 0;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_ERASEBKGND:
      return OnEraseBkgnd(CDC::FromHandle(reinterpret_cast<HDC>(w)));
    case WM_SIZE:
      OnSize(static_cast<UINT>(w), LOWORD(static_cast<uintptr_t>(l)),
             HIWORD(static_cast<uintptr_t>(l)));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_COMMAND:
      if (OnCommand(w, l)) return 0;
      break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
      return reinterpret_cast<LRESULT>(OnCtlColor(CDC::FromHandle(reinterpret_cast<HDC>(w)),
                                                  FromHandle(reinterpret_cast<HWND>(l)), msg));
    default:
      break;
  }
  return DefWindowProc(msg, w, l);
}

BOOL CWnd::OnCommand(WPARAM w, LPARAM l) {
  UINT id = LOWORD(w);
  int code = HIWORD(w);
  if (l != 0) {
    CWnd* child = FromHandlePermanent(reinterpret_cast<HWND>(l));
    LRESULT result = 0;
    if (child && child->OnChildNotify(WM_COMMAND, w, l, &result)) return TRUE;
  }
  return OnCmdMsg(id, code, nullptr, nullptr);
}

BOOL CWnd::OnCmdMsg(UINT, int, void*, void*) { return FALSE; }

BOOL CWnd::OnChildNotify(UINT msg, WPARAM w, LPARAM, LRESULT* result) {
  if (msg == WM_COMMAND) {
    if (OnReflectedCommand(HIWORD(w))) {
      if (result) *result = 0;
      return TRUE;
    }
  }
  return FALSE;
}

BOOL CWnd::OnReflectedCommand(UINT) { return FALSE; }
HBRUSH CWnd::CtlColor(CDC*, UINT) { return nullptr; }

int CWnd::OnCreate() { return static_cast<int>(Default()); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnSetFocus(CWnd*) { Default(); }
void CWnd::OnKillFocus(CWnd*) { Default(); }
void CWnd::OnEnable(BOOL) { Default(); }
void CWnd::OnChar(UINT, UINT, UINT) { Default(); }
void CWnd::OnKeyDown(UINT, UINT, UINT) { Default(); }
void CWnd::OnKeyUp(UINT, UINT, UINT) { Default(); }
void CWnd::OnLButtonDown(UINT, CPoint) { Default(); }
void CWnd::OnLButtonUp(UINT, CPoint) { Default(); }
void CWnd::OnLButtonDblClk(UINT, CPoint) { Default(); }
void CWnd::OnMouseMove(UINT, CPoint) { Default(); }
void CWnd::OnTimer(uintptr_t) { Default(); }
void CWnd::OnPaint() { Default(); }
BOOL CWnd::OnEraseBkgnd(CDC*) { return static_cast<BOOL>(Default()); }
void CWnd::OnSize(UINT, int, int) { Default(); }
void CWnd::OnClose() { Default(); }

HBRUSH CWnd::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color) {
  // The control paints itself when it wants to (reflection).
  if (wnd && wnd != this) {
    if (CWnd* child = FromHandlePermanent(wnd->m_hWnd)) {
      HBRUSH b = child->CtlColor(dc, ctl_color);
      if (b) return b;
    }
  }
  return reinterpret_cast<HBRUSH>(Default());
}

int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
int CWnd::SetDlgCtrlID(int id) { return ::SetWindowLong(m_hWnd, GWL_ID, id); }
DWORD CWnd::GetStyle() const { return static_cast<DWORD>(::GetWindowLong(m_hWnd, GWL_STYLE)); }
DWORD CWnd::GetExStyle() const {
  return static_cast<DWORD>(::GetWindowLong(m_hWnd, GWL_EXSTYLE));
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT swp_flags) {
  WindowState* s = Find(m_hWnd);
  if (!s) return FALSE;
  DWORD next = (s->style & ~remove) | add;
  if (next == s->style) return FALSE;
  s->style = next;
  if (swp_flags) SetWindowPos(nullptr, 0, 0, 0, 0, swp_flags | SWP_NOSIZE | SWP_NOMOVE |
                                                      SWP_NOZORDER | SWP_NOACTIVATE);
  return TRUE;
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT swp_flags) {
  WindowState* s = Find(m_hWnd);
  if (!s) return FALSE;
  DWORD next = (s->ex_style & ~remove) | add;
  if (next == s->ex_style) return FALSE;
  s->ex_style = next;
  if (swp_flags) SetWindowPos(nullptr, 0, 0, 0, 0, swp_flags | SWP_NOSIZE | SWP_NOMOVE |
                                                      SWP_NOZORDER | SWP_NOACTIVATE);
  return TRUE;
}

CString CWnd::GetClassName() const {
  WindowState* s = Find(m_hWnd);
  return s ? CString(s->class_name) : CString();
}

CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }

CWnd* CWnd::GetTopLevelParent() const {
  HWND h = m_hWnd;
  while (WindowState* s = Find(h)) {
    if (!(s->style & WS_CHILD)) return FromHandle(h);
    h = s->parent;
  }
  return nullptr;
}

CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }

BOOL CWnd::IsChild(const CWnd* wnd) const {
  if (!wnd || wnd->m_hWnd == m_hWnd) return FALSE;
  return vkt::win::detail::InSubtree(m_hWnd, wnd->m_hWnd);
}

std::vector<CWnd*> CWnd::GetChildren() const {
  std::vector<CWnd*> out;
  if (WindowState* s = Find(m_hWnd))
    for (HWND c : std::vector<HWND>(s->children)) out.push_back(FromHandle(c));
  return out;
}

namespace {

bool Navigable(HWND h) {
  WindowState* s = Find(h);
  return s && (s->style & WS_VISIBLE) && !(s->style & WS_DISABLED);
}

}  // namespace

CWnd* CWnd::GetNextDlgTabItem(CWnd* ctl, BOOL previous) const {
  WindowState* s = Find(m_hWnd);
  if (!s || s->children.empty()) return nullptr;
  const auto& c = s->children;
  int n = static_cast<int>(c.size());
  int at = -1;
  if (ctl)
    for (int i = 0; i < n; ++i)
      if (c[i] == ctl->m_hWnd) at = i;
  int step = previous ? -1 : 1;
  int start = at >= 0 ? at : (previous ? 0 : n - 1);
  for (int k = 1; k <= n; ++k) {
    int i = ((start + step * k) % n + n) % n;
    WindowState* cs = Find(c[i]);
    if (cs && (cs->style & WS_TABSTOP) && Navigable(c[i])) return FromHandle(c[i]);
  }
  return nullptr;
}

CWnd* CWnd::GetNextDlgGroupItem(CWnd* ctl, BOOL previous) const {
  WindowState* s = Find(m_hWnd);
  if (!s || !ctl) return nullptr;
  const auto& c = s->children;
  int n = static_cast<int>(c.size());
  int at = -1;
  for (int i = 0; i < n; ++i)
    if (c[i] == ctl->m_hWnd) at = i;
  if (at < 0) return nullptr;
  int first = at;
  while (first > 0 && !(Find(c[first])->style & WS_GROUP)) --first;
  int last = at;
  while (last + 1 < n && !(Find(c[last + 1])->style & WS_GROUP)) ++last;
  int size = last - first + 1;
  for (int k = 1; k <= size; ++k) {
    int off = ((at - first + (previous ? -k : k)) % size + size) % size;
    HWND h = c[first + off];
    if (Navigable(h)) return FromHandle(h);
  }
  return const_cast<CWnd*>(ctl);
}

void CWnd::SetWindowText(const char* text) {
  WindowState* s = Find(m_hWnd);
  if (!s) return;
  SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : ""));
}

void CWnd::GetWindowText(CString& text) const { text = GetWindowTextString(); }

int CWnd::GetWindowText(char* buffer, int max_count) const {
  if (!buffer || max_count <= 0) return 0;
  return static_cast<int>(::SendMessage(m_hWnd, WM_GETTEXT, static_cast<WPARAM>(max_count),
                                        reinterpret_cast<LPARAM>(buffer)));
}

CString CWnd::GetWindowTextString() const {
  int n = GetWindowTextLength();
  if (n <= 0) return CString();
  std::string buf(static_cast<size_t>(n) + 1, '\0');
  int got = GetWindowText(buf.data(), n + 1);
  buf.resize(static_cast<size_t>(std::max(got, 0)));
  return CString(buf);
}

int CWnd::GetWindowTextLength() const {
  return static_cast<int>(::SendMessage(m_hWnd, WM_GETTEXTLENGTH, 0, 0));
}

BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }

BOOL CWnd::ShowWindow(int cmd) {
  WindowState* s = Find(m_hWnd);
  if (!s) return FALSE;
  BOOL was = (s->style & WS_VISIBLE) != 0;
  bool show = cmd != SW_HIDE;
  if (show == static_cast<bool>(was)) return was;
  if (show) s->style |= WS_VISIBLE;
  else s->style &= ~WS_VISIBLE;
  SendMessage(WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
  if (!show) {
    auto& m = M();
    if (m.focus && (m.focus == m_hWnd || IsChild(FromHandle(m.focus)))) m.focus = nullptr;
  }
  return was;
}

BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }

void CWnd::GetWindowRect(CRect* rect) const {
  WindowState* s = Find(m_hWnd);
  if (!rect) return;
  *rect = CRect();
  if (!s) return;
  *rect = s->rect;
  if (s->style & WS_CHILD) {
    CWnd* p = FromHandle(s->parent);
    if (p) p->ClientToScreen(rect);
  }
}

void CWnd::GetClientRect(CRect* rect) const {
  WindowState* s = Find(m_hWnd);
  if (!rect) return;
  *rect = CRect();
  if (!s) return;
  CRect in = vkt::win::detail::NonClientInsets(*s);
  *rect = CRect(0, 0, std::max(0, s->rect.Width() - in.left - in.right),
                std::max(0, s->rect.Height() - in.top - in.bottom));
}

void CWnd::MoveWindow(const CRect& rect, BOOL repaint) {
  SetWindowPos(nullptr, rect.left, rect.top, rect.Width(), rect.Height(),
               SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

void CWnd::MoveWindow(int x, int y, int cx, int cy, BOOL repaint) {
  MoveWindow(CRect(x, y, x + cx, y + cy), repaint);
}

BOOL CWnd::SetWindowPos(const CWnd* after, int x, int y, int cx, int cy, UINT flags) {
  WindowState* s = Find(m_hWnd);
  if (!s) return FALSE;
  CRect r = s->rect;
  if (!(flags & SWP_NOMOVE)) {
    int w = r.Width(), h = r.Height();
    r = CRect(x, y, x + w, y + h);
  }
  if (!(flags & SWP_NOSIZE)) r.right = r.left + std::max(cx, 0), r.bottom = r.top + std::max(cy, 0);
  bool resized = r.Width() != s->rect.Width() || r.Height() != s->rect.Height();
  s->rect = r;
  if (!(flags & SWP_NOZORDER) && (s->style & WS_CHILD)) {
    if (WindowState* p = Find(s->parent)) {
      auto& c = p->children;
      c.erase(std::remove(c.begin(), c.end(), m_hWnd), c.end());
      auto pos = c.begin();
      if (after) {
        auto it = std::find(c.begin(), c.end(), after->m_hWnd);
        pos = it == c.end() ? c.begin() : it + 1;
      }
      c.insert(pos, m_hWnd);
    }
  }
  if (flags & SWP_SHOWWINDOW) ShowWindow(SW_SHOW);
  if (flags & SWP_HIDEWINDOW) ShowWindow(SW_HIDE);
  if (!IsWindow(m_hWnd)) return FALSE;
  SendMessage(WM_WINDOWPOSCHANGED, 0, 0);
  if (resized) {
    CRect client;
    GetClientRect(&client);
    SendMessage(WM_SIZE, 0, MAKELPARAM(static_cast<WORD>(client.Width()),
                                       static_cast<WORD>(client.Height())));
  }
  if (!(flags & SWP_NOREDRAW)) vkt::win::detail::CountInvalidation(m_hWnd);
  return TRUE;
}

void CWnd::ClientToScreen(CPoint* point) const {
  if (!point) return;
  for (HWND h = m_hWnd; WindowState* s = Find(h);) {
    CRect in = vkt::win::detail::NonClientInsets(*s);
    point->x += s->rect.left + in.left;
    point->y += s->rect.top + in.top;
    if (!(s->style & WS_CHILD)) break;
    h = s->parent;
  }
}

void CWnd::ClientToScreen(CRect* rect) const {
  if (!rect) return;
  CPoint o(0, 0);
  ClientToScreen(&o);
  rect->OffsetRect(o.x, o.y);
}

void CWnd::ScreenToClient(CPoint* point) const {
  if (!point) return;
  CPoint o(0, 0);
  ClientToScreen(&o);
  point->x -= o.x;
  point->y -= o.y;
}

void CWnd::ScreenToClient(CRect* rect) const {
  if (!rect) return;
  CPoint o(0, 0);
  ClientToScreen(&o);
  rect->OffsetRect(-o.x, -o.y);
}

void CWnd::Invalidate(BOOL) { vkt::win::detail::CountInvalidation(m_hWnd); }
void CWnd::InvalidateRect(const CRect*, BOOL) { vkt::win::detail::CountInvalidation(m_hWnd); }
void CWnd::UpdateWindow() {}

BOOL CWnd::RedrawWindow(const CRect*, void*, UINT flags) {
  if (!IsWindow(m_hWnd)) return FALSE;
  if (flags & RDW_INVALIDATE) vkt::win::detail::CountInvalidation(m_hWnd);
  if (flags & RDW_FRAME) SendMessage(WM_NCPAINT, 1, 0);
  return TRUE;
}

void CWnd::SetRedraw(BOOL redraw) { SendMessage(WM_SETREDRAW, redraw, 0); }
BOOL CWnd::LockWindowUpdate() { return IsWindow(m_hWnd); }
void CWnd::UnlockWindowUpdate() {}

void CWnd::SetFont(CFont* font, BOOL redraw) {
  SetFont(font ? font->GetSafeHandle() : nullptr, redraw);
}

void CWnd::SetFont(HFONT font, BOOL redraw) {
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), MAKELPARAM(redraw ? 1 : 0, 0));
}

CFont* CWnd::GetFont() const {
  HFONT f = reinterpret_cast<HFONT>(::SendMessage(m_hWnd, WM_GETFONT, 0, 0));
  LOGFONT lf;
  if (!f || !vkt::win::GetFontDescription(f, &lf)) return nullptr;
  font_wrapper_.Detach();
  font_wrapper_.Attach(f);
  return &font_wrapper_;
}

CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
CWnd* CWnd::GetFocus() { return FromHandle(::GetFocus()); }

BOOL CWnd::IsWindowEnabledChain() const {
  for (HWND h = m_hWnd; h;) {
    WindowState* s = Find(h);
    if (!s || (s->style & WS_DISABLED)) return FALSE;
    if (!(s->style & WS_CHILD)) return TRUE;
    h = s->parent;
  }
  return FALSE;
}

uintptr_t CWnd::SetTimer(uintptr_t id, UINT elapse_ms, void*) {
  if (!IsWindow(m_hWnd)) return 0;
  auto& t = M().timers;
  int64_t interval = static_cast<int64_t>(std::max<UINT>(elapse_ms, 10)) * 1000;
  int64_t due = vkt::services().MonotonicMicros() + interval;
  for (auto& x : t)
    if (x.hwnd == m_hWnd && x.id == id) {
      x.interval_us = interval;
      x.due_us = due;
      return id;
    }
  t.push_back({m_hWnd, id, interval, due, false});
  return id;
}

BOOL CWnd::KillTimer(uintptr_t id) {
  auto& m = M();
  auto& t = m.timers;
  auto it = std::find_if(t.begin(), t.end(),
                         [&](const auto& x) { return x.hwnd == m_hWnd && x.id == id; });
  if (it == t.end()) return FALSE;
  t.erase(it);
  auto& q = m.queue;
  q.erase(std::remove_if(q.begin(), q.end(),
                         [&](const MSG& x) {
                           return x.hwnd == m_hWnd && x.message == WM_TIMER && x.wParam == id;
                         }),
          q.end());
  return TRUE;
}

int CWnd::RunModalLoop() {
  HWND me = m_hWnd;
  if (!IsWindow(me)) return modal_result_;
  if (modal_state_ == ModalState::kEnded) {
    modal_state_ = ModalState::kNone;
    return modal_result_;
  }
  modal_state_ = ModalState::kRunning;
  auto& m = M();
  m.modal.push_back(me);
  bool idle_due = true;
  int result = -1;
  for (;;) {
    if (!IsWindow(me)) break;  // destroyed: the object may be gone too
    if (modal_state_ != ModalState::kRunning) break;
    if (vkt::win::PumpMessage()) {
      idle_due = true;
      continue;
    }
    if (!IsWindow(me)) break;
    if (modal_state_ != ModalState::kRunning) break;
    if (vkt::win::FireDueTimers() > 0) continue;
    if (idle_due) {
      idle_due = false;
      vkt::win::RunIdle();
      continue;
    }
    idle_due = true;
    if (!m.input || !m.input()) {
      // Nobody is left to answer: end as the user closing the window would.
      ++m.stalls;
      if (IsWindow(me)) EndModalLoop(IDCANCEL);
      break;
    }
  }
  auto& st = m.modal;
  auto it = std::find(st.rbegin(), st.rend(), me);
  if (it != st.rend()) st.erase(std::next(it).base());
  result = modal_result_;
  modal_state_ = ModalState::kNone;
  return result;
}

void CWnd::EndModalLoop(int result) {
  modal_result_ = result;
  modal_state_ = ModalState::kEnded;
}

BOOL CWnd::ContinueModal() const { return modal_state_ == ModalState::kRunning; }

void CWnd::BeginModalState() {
  modal_state_ = ModalState::kRunning;
  modal_result_ = -1;
}
