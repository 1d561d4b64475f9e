// The stock controls of the window model: edit, button, static text and
// combo box, with the Win32 behaviour of their window classes ("Edit",
// "Button", "Static", "ComboBox") and MFC's wrapper classes.
//
//   CEdit name;
//   name.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER, CRect(8, 8, 160, 30), &dlg, 1001);
//   name.LimitText(30);
//   CComboBox kind;
//   kind.Create(WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, CRect(8, 40, 160, 62), &dlg, 1002);
//   kind.SetItemData(kind.AddString("Cliente"), 1);
//
// An edit's text is limited by EM_LIMITTEXT for what the user types and
// pastes; pasted control characters are dropped. Texts are Windows-1252.
#ifndef VKT_WIN_STDCTRLS_H_
#define VKT_WIN_STDCTRLS_H_

#include "vkt_export.h"
#include "win/window.h"

class VKT_API CEdit : public CWnd {
 public:
  BOOL Create(DWORD style, const CRect& rect, CWnd* parent, UINT id);
  void LimitText(int n = 0) { SendMessage(EM_LIMITTEXT, static_cast<WPARAM>(n), 0); }
  void SetLimitText(UINT n) { LimitText(static_cast<int>(n)); }
  UINT GetLimitText() const;
  void SetSel(int start, int end, BOOL no_scroll = FALSE);
  void SetSel(DWORD selection, BOOL no_scroll = FALSE);
  void GetSel(int& start, int& end) const;
  DWORD GetSel() const;
  void ReplaceSel(const char* text, BOOL can_undo = FALSE);
  BOOL GetModify() const;
  void SetModify(BOOL modified = TRUE) { SendMessage(EM_SETMODIFY, modified, 0); }
  BOOL SetReadOnly(BOOL read_only = TRUE) {
    return static_cast<BOOL>(SendMessage(EM_SETREADONLY, read_only, 0));
  }
  BOOL CanUndo() const;
  BOOL Undo() { return static_cast<BOOL>(SendMessage(EM_UNDO, 0, 0)); }
  void Cut() { SendMessage(WM_CUT, 0, 0); }
  void Copy() { SendMessage(WM_COPY, 0, 0); }
  void Paste() { SendMessage(WM_PASTE, 0, 0); }
  void Clear() { SendMessage(WM_CLEAR, 0, 0); }
};

class VKT_API CButton : public CWnd {
 public:
  BOOL Create(const char* caption, DWORD style, const CRect& rect, CWnd* parent, UINT id);
  int GetCheck() const;
  void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check), 0); }
  UINT GetState() const;
  void SetState(BOOL pushed) { SendMessage(BM_SETSTATE, pushed, 0); }
  UINT GetButtonStyle() const { return GetStyle() & 0xFF; }
  void SetButtonStyle(UINT style, BOOL redraw = TRUE) {
    SendMessage(BM_SETSTYLE, style, redraw);
  }
  // Clicks the button as the user would (BM_CLICK).
  void Click() { SendMessage(BM_CLICK, 0, 0); }
};

class VKT_API CStatic : public CWnd {
 public:
  BOOL Create(const char* text, DWORD style, const CRect& rect, CWnd* parent, UINT id);
};

class VKT_API CComboBox : public CWnd {
 public:
  BOOL Create(DWORD style, const CRect& rect, CWnd* parent, UINT id);
  int AddString(const char* text);
  int InsertString(int index, const char* text);
  int DeleteString(UINT index);
  void ResetContent() { SendMessage(CB_RESETCONTENT, 0, 0); }
  int GetCount() const;
  int GetCurSel() const;
  int SetCurSel(int index) { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index), 0)); }
  int GetLBText(int index, char* buffer) const;
  void GetLBText(int index, CString& text) const;
  int GetLBTextLen(int index) const;
  intptr_t GetItemData(int index) const;
  int SetItemData(int index, intptr_t data);
  int FindString(int start_after, const char* prefix) const;
  int FindStringExact(int start_after, const char* text) const;
  int SelectString(int start_after, const char* prefix);
  void ShowDropDown(BOOL show = TRUE) { SendMessage(CB_SHOWDROPDOWN, show, 0); }
  BOOL GetDroppedState() const;
  int SetExtendedUI(BOOL extended = TRUE) {
    return static_cast<int>(SendMessage(CB_SETEXTENDEDUI, extended, 0));
  }
  BOOL GetExtendedUI() const;
};

namespace vkt::win::detail {
// The stock classes' procedures (registered with the window manager).
LRESULT EditClassProc(HWND, UINT, WPARAM, LPARAM);
LRESULT ButtonClassProc(HWND, UINT, WPARAM, LPARAM);
LRESULT StaticClassProc(HWND, UINT, WPARAM, LPARAM);
LRESULT ComboBoxClassProc(HWND, UINT, WPARAM, LPARAM);
LRESULT DialogClassProc(HWND, UINT, WPARAM, LPARAM);
}  // namespace vkt::win::detail

#endif  // VKT_WIN_STDCTRLS_H_
