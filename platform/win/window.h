// The window model: windows, messages, focus, timers and modal loops,
// deterministic and without a display.
//
// A window is a handle with a class, an id, styles, a Windows-1252 text, a
// rectangle, a parent and ordered children. Its class procedure gives it the
// stock behaviour (an "Edit" edits text, a "Button" clicks); a CWnd object
// attached to it (Create, SubclassWindow) sees every message first through
// its virtual WindowProc and hands what it does not handle to
// DefWindowProc, the class procedure.
//
//   CEdit edit;
//   edit.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(10, 10, 110, 30), &dlg, 100);
//   edit.SetWindowText("abc");        // sent at once: WM_SETTEXT, EN_CHANGE
//   edit.PostMessage(WM_APP + 1);     // queued; runs in the message loop
//   vkt::win::RunPosted();            // or Driver::RunPosted in tests
//
// SendMessage runs the window procedure synchronously; PostMessage queues.
// Queued messages go through the pre-translate chain (the target and its
// parents, PreTranslateMessage, child first), then TranslateMessage (key
// downs make WM_CHAR), then the window procedure. Focus changes send
// WM_KILLFOCUS to the old window, then WM_SETFOCUS to the new one.
// Timers fire from services().MonotonicMicros(): WM_TIMER is posted when a
// timer is due and the queue is empty.
//
// Everything runs on one thread; the state is process-wide and ResetWindows()
// clears it between tests.
#ifndef VKT_WIN_WINDOW_H_
#define VKT_WIN_WINDOW_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vkt_export.h"
#include "win/cstring.h"
#include "win/gdi.h"
#include "win/rect.h"
#include "win/winmsg.h"

struct MSG {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD time = 0;
  CPoint pt;
};

// Command routing codes (OnCmdMsg).
constexpr int CN_COMMAND = 0;
constexpr int CN_UPDATE_COMMAND_UI = -1;

class CWnd;

// The enabled/checked/text state of one command, as an update handler
// decides it (MFC's CCmdUI).
class VKT_API CCmdUI {
 public:
  virtual ~CCmdUI();
  virtual void Enable(BOOL on = TRUE);
  virtual void SetCheck(int check = 1);
  virtual void SetText(const char* text);

  UINT m_nID = 0;
  CWnd* m_pOther = nullptr;  // the control that shows the command, if any
  bool m_bEnableChanged = false;
  bool m_bEnabled = true;
  int m_nCheck = 0;
  CString m_strText;
};

class VKT_API CWnd {
 public:
  CWnd();
  // Destroys the window when it still exists.
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }  // NOLINT

  // The object attached to `hwnd`; for a window without one, a wrapper owned
  // by the window (valid while it exists). Null for a stale handle.
  static CWnd* FromHandle(HWND hwnd);
  // The attached object only.
  static CWnd* FromHandlePermanent(HWND hwnd);

  // --- Creation and destruction --------------------------------------------
  // `rect` is in the parent's client co-ordinates (screen co-ordinates for a
  // window without a parent). WS_CHILD windows need a parent. Sends
  // WM_CREATE (-1 from OnCreate fails the creation).
  virtual BOOL Create(const char* class_name, const char* text, DWORD style,
                      const CRect& rect, CWnd* parent, UINT id);
  BOOL CreateEx(DWORD ex_style, const char* class_name, const char* text, DWORD style,
                const CRect& rect, CWnd* parent, UINT id);
  // Sends WM_DESTROY (parent first), WM_NCDESTROY (children first), then
  // detaches every object and calls its PostNcDestroy.
  virtual BOOL DestroyWindow();
  // Attaches this object to an existing window: its messages reach
  // WindowProc from now on. Calls PreSubclassWindow first.
  BOOL SubclassWindow(HWND hwnd);
  BOOL SubclassDlgItem(UINT id, CWnd* parent);
  HWND UnsubclassWindow();
  virtual void PreSubclassWindow();
  virtual void PostNcDestroy();

  // --- Messages ----------------------------------------------------------------
  LRESULT SendMessage(UINT msg, WPARAM w = 0, LPARAM l = 0);
  BOOL PostMessage(UINT msg, WPARAM w = 0, LPARAM l = 0);
  // Dispatches to the virtual handlers below; what they leave goes to
  // DefWindowProc.
  virtual LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l);
  // The window class's own procedure.
  virtual LRESULT DefWindowProc(UINT msg, WPARAM w, LPARAM l);
  // DefWindowProc of the message being handled.
  LRESULT Default();
  const MSG* GetCurrentMessage() const { return current_; }
  // Called for every queued message of this window or its children before
  // it is dispatched; TRUE consumes it.
  virtual BOOL PreTranslateMessage(MSG* msg);
  // WM_COMMAND: reflects control notifications to the control first
  // (OnChildNotify), then routes the command through OnCmdMsg.
  virtual BOOL OnCommand(WPARAM w, LPARAM l);
  // Command routing: code is CN_COMMAND (or the notification code of a
  // control) or CN_UPDATE_COMMAND_UI with a CCmdUI* in `extra`. TRUE when
  // handled.
  virtual BOOL OnCmdMsg(UINT id, int code, void* extra, void* handler_info);
  // A notification from the parent's point of view reaching this control;
  // TRUE when it is handled here and the parent must not see it.
  virtual BOOL OnChildNotify(UINT msg, WPARAM w, LPARAM l, LRESULT* result);
  // Reflected WM_COMMAND notification (ON_CONTROL_REFLECT_EX): TRUE keeps it
  // from the parent.
  virtual BOOL OnReflectedCommand(UINT code);
  // Reflected WM_CTLCOLOR*: a brush paints the control, null lets the
  // parent decide.
  virtual HBRUSH CtlColor(CDC* dc, UINT ctl_color);

  // --- Handlers (the default runs the class procedure) ------------------------
  virtual int OnCreate();
  virtual void OnDestroy();
  virtual void OnSetFocus(CWnd* old_wnd);
  virtual void OnKillFocus(CWnd* new_wnd);
  virtual void OnEnable(BOOL enable);
  virtual void OnChar(UINT ch, UINT repeat, UINT flags);
  virtual void OnKeyDown(UINT vk, UINT repeat, UINT flags);
  virtual void OnKeyUp(UINT vk, UINT repeat, UINT flags);
  virtual void OnLButtonDown(UINT flags, CPoint point);
  virtual void OnLButtonUp(UINT flags, CPoint point);
  virtual void OnLButtonDblClk(UINT flags, CPoint point);
  virtual void OnMouseMove(UINT flags, CPoint point);
  virtual void OnTimer(uintptr_t id);
  virtual void OnPaint();
  virtual BOOL OnEraseBkgnd(CDC* dc);
  virtual void OnSize(UINT type, int cx, int cy);
  virtual void OnClose();
  // WM_CTLCOLOR* from a child: the child's reflected CtlColor first.
  virtual HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color);

  // --- State ---------------------------------------------------------------------
  int GetDlgCtrlID() const;
  int SetDlgCtrlID(int id);
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  // Removes and adds style bits; with SWP flags also "moves" the window so
  // that the frame change is noticed. TRUE when the style changed.
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT swp_flags = 0);
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT swp_flags = 0);
  CString GetClassName() const;
  CWnd* GetParent() const;
  CWnd* GetTopLevelParent() const;
  CWnd* GetDlgItem(int id) const;
  BOOL IsChild(const CWnd* wnd) const;
  // Children in z-order (creation order).
  std::vector<CWnd*> GetChildren() const;
  CWnd* GetNextDlgTabItem(CWnd* ctl, BOOL previous = FALSE) const;
  CWnd* GetNextDlgGroupItem(CWnd* ctl, BOOL previous = FALSE) const;

  void SetWindowText(const char* text);
  void GetWindowText(CString& text) const;
  int GetWindowText(char* buffer, int max_count) const;
  CString GetWindowTextString() const;
  int GetWindowTextLength() const;

  // FALSE when the window was enabled before (as Win32).
  BOOL EnableWindow(BOOL enable = TRUE);
  BOOL IsWindowEnabled() const;
  BOOL ShowWindow(int cmd);
  BOOL IsWindowVisible() const;

  void GetWindowRect(CRect* rect) const;  // screen co-ordinates
  void GetClientRect(CRect* rect) const;  // (0, 0, width, height) of the client area
  void MoveWindow(const CRect& rect, BOOL repaint = TRUE);
  void MoveWindow(int x, int y, int cx, int cy, BOOL repaint = TRUE);
  BOOL SetWindowPos(const CWnd* after, int x, int y, int cx, int cy, UINT flags);
  void ClientToScreen(CRect* rect) const;
  void ClientToScreen(CPoint* point) const;
  void ScreenToClient(CRect* rect) const;
  void ScreenToClient(CPoint* point) const;

  // Painting is on demand (the canvas); these count what was asked so that
  // tests can see a repaint request.
  void Invalidate(BOOL erase = TRUE);
  void InvalidateRect(const CRect* rect, BOOL erase = TRUE);
  void UpdateWindow();
  BOOL RedrawWindow(const CRect* rect = nullptr, void* region = nullptr,
                    UINT flags = RDW_INVALIDATE | RDW_ERASE);
  void SetRedraw(BOOL redraw = TRUE);
  BOOL LockWindowUpdate();
  void UnlockWindowUpdate();

  void SetFont(CFont* font, BOOL redraw = TRUE);
  void SetFont(HFONT font, BOOL redraw = TRUE);
  // The control's font, or null when it has none (the wrapper is owned by
  // this object and follows the window's font).
  CFont* GetFont() const;

  CWnd* SetFocus();
  static CWnd* GetFocus();
  BOOL IsWindowEnabledChain() const;  // this window and every parent enabled

  uintptr_t SetTimer(uintptr_t id, UINT elapse_ms, void* unused = nullptr);
  BOOL KillTimer(uintptr_t id);

  // --- Modal loops -------------------------------------------------------------
  // Runs the message loop until EndModalLoop or until the window is
  // destroyed; returns the result given to EndModalLoop (-1 when none). The
  // object must outlive the loop.
  // Whenever the queue is empty the loop runs the idle step (WM_KICKIDLE to
  // this window) and then asks the user-input source (the test driver) for
  // the next action; with none left the loop ends with IDCANCEL and the stall
  // is counted (vkt::win::StalledModalLoops()).
  int RunModalLoop();
  void EndModalLoop(int result);
  BOOL ContinueModal() const;

 protected:
  // A modal loop is about to begin (before the window is created, so that
  // EndModalLoop during creation ends it before it runs).
  void BeginModalState();

 private:
  friend struct WndAccess;
  enum class ModalState { kNone, kRunning, kEnded };
  ModalState modal_state_ = ModalState::kNone;
  int modal_result_ = -1;
  const MSG* current_ = nullptr;
  mutable CFont font_wrapper_;
  bool temporary_ = false;  // a FromHandle wrapper, owned by the window
};

// The device context of WM_PAINT (and of drawing from outside it): draws
// on the canvas while the canvas paints this window, nothing otherwise.
class VKT_API CPaintDC : public CDC {
 public:
  explicit CPaintDC(CWnd* wnd);
};
using CClientDC = CPaintDC;

// The Win32 functions over handles.
// A window without an object of its own (a dialog template's controls);
// null when the class needs a parent that does not exist.
VKT_API HWND CreateWindowEx(DWORD ex_style, const char* class_name, const char* text,
                            DWORD style, const CRect& rect, HWND parent, UINT id);
VKT_API LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM w = 0, LPARAM l = 0);
VKT_API BOOL PostMessage(HWND hwnd, UINT msg, WPARAM w = 0, LPARAM l = 0);
VKT_API BOOL IsWindow(HWND hwnd);
VKT_API HWND GetFocus();
VKT_API HWND SetFocus(HWND hwnd);
VKT_API HWND GetParent(HWND hwnd);
VKT_API HWND GetDlgItem(HWND dlg, int id);
VKT_API int GetDlgCtrlID(HWND hwnd);
VKT_API LONG GetWindowLong(HWND hwnd, int index);
// 0 and no change for a stale handle or an unknown index.
VKT_API LONG SetWindowLong(HWND hwnd, int index, LONG value);
VKT_API BOOL EnableWindow(HWND hwnd, BOOL enable);
VKT_API BOOL IsWindowEnabled(HWND hwnd);
VKT_API BOOL IsWindowVisible(HWND hwnd);
VKT_API BOOL DestroyWindow(HWND hwnd);
// High bit set while the key is down (the keyboard state of the model).
VKT_API short GetKeyState(int vk);
VKT_API HWND GetActiveWindow();
VKT_API HWND SetActiveWindow(HWND hwnd);
// The first queued message for `hwnd` (null: any window, or none) with a
// number in [min, max] (both 0: any); PM_REMOVE takes it off the queue.
VKT_API BOOL PeekMessage(MSG* msg, HWND hwnd, UINT min, UINT max, UINT remove);
// Queues WM_QUIT (no window) for the outermost message loop.
VKT_API void PostQuitMessage(int exit_code);
VKT_API BOOL TranslateMessage(const MSG* msg);
VKT_API LRESULT DispatchMessage(const MSG* msg);

namespace vkt::win {

// Clears every window, queued message, timer, focus and key state (the
// windows' objects are detached, not deleted); the user-input source stays
// with whoever installed it. For tests.
VKT_API void ResetWindows();
// Number of live windows.
VKT_API size_t WindowCount();

// Runs queued messages (and due timers) until the queue is empty; returns
// how many ran. Bounded: a timer fires at most once per call.
VKT_API int RunPosted();
// One message from the queue through pre-translation, translation and
// dispatch. False when the queue was empty.
VKT_API bool PumpMessage();
VKT_API size_t QueuedMessages();
// Posts WM_TIMER for every due timer; returns how many.
VKT_API int FireDueTimers();
// The idle step: WM_KICKIDLE to the innermost modal window (or to every
// top-level window when none is modal), then the idle handlers.
VKT_API void RunIdle();
VKT_API void AddIdleHandler(std::function<void()> handler);

// Where a modal loop takes the user's next action when it has nothing else
// to do. The source returns false when it has no action left.
using UserInputSource = std::function<bool()>;
VKT_API void SetUserInputSource(UserInputSource source);
VKT_API int StalledModalLoops();
// Handles of the windows running a modal loop, outermost first.
VKT_API std::vector<HWND> ModalWindows();
// Handles of the windows without a parent, in creation order.
VKT_API std::vector<HWND> TopLevelWindows();

// The keyboard: sets the state GetKeyState reports.
VKT_API void SetKeyDown(int vk, bool down);
// Queues a key press as the keyboard would (keybd_event): key-down to the
// focused window, then key-up. `ch` is the character the key types (0: the
// layout's, from the virtual key).
VKT_API void QueueKey(UINT vk, bool down, char ch = 0);
// The character a key types with the current shift and control state; 0
// when it types none.
VKT_API char CharOfKey(UINT vk);

// Class procedures: the stock behaviour of a window class.
using ClassProc = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
// Registers a class by name (compared without case); false when it exists.
VKT_API bool RegisterWindowClass(const char* name, ClassProc proc);
// The default procedure of every class (text, font, close, erase).
VKT_API LRESULT DefaultClassProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l);

// Repaint requests a window received (Invalidate, RedrawWindow, ...).
VKT_API int InvalidationCount(HWND hwnd);

}  // namespace vkt::win

#endif  // VKT_WIN_WINDOW_H_
