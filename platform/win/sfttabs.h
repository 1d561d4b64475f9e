// The tab control ("SftTabs" window class) and its MFC dialog and page
// classes: a row of captioned tabs over a framed page area, one selected
// tab, the selection changed by a click, the arrows while the control has
// the focus, or Ctrl+Tab / Ctrl+PageDown (and their reverses) anywhere in
// the tabs dialog. Before a change the parent gets WM_NOTIFY with
// TCN_SELCHANGING (a non-zero answer keeps the selection), after it
// TCN_SELCHANGE.
//
//   SftTabs_RegisterApp(AfxGetInstanceHandle());   // once per module
//   class CFornitoreDlg : public CSftTabsDialog {
//     void InitTabs() { CreateTabControl(CRect(8, 8, 600, 400)); }
//     void AddPages() { AddPage(&m_anagrafica, "Anagrafica"); AddPage(&m_banca, "Banca"); }
//   };
//
// The window class exists only while some module is registered: a tab
// control created after the last SftTabs_UnregisterApp fails its creation.
// Tabs are painted with the colours of the process-wide `tab_info`.
#ifndef VKT_WIN_SFTTABS_H_
#define VKT_WIN_SFTTABS_H_

#include <string>
#include <vector>

#include "vkt_export.h"
#include "win/dialog.h"

// The colours of the tabs (Windows colour references).
struct tagSftTabsTab {
  COLORREF colorBg;          // a tab
  COLORREF colorBgSel;       // the selected tab
  COLORREF colorBgStart;     // a tab's gradient, top
  COLORREF colorBgEnd;       // ... bottom
  COLORREF colorBgSelStart;  // the selected tab's gradient, top
  COLORREF colorBgSelEnd;    // ... bottom
  COLORREF colorFace;        // the page area
  COLORREF colorShadow;      // frame lines
};
// Shared by every tab control of the process.
VKT_API extern tagSftTabsTab tab_info;

// Control settings (SFTTABSM_SETCONTROLINFO). cbSize must be 60.
struct SFTTABS_CONTROL {
  int32_t cbSize;
  int32_t tabHeight;     // pixels; 0: from the font
  int32_t tabMinWidth;   // pixels
  int32_t tabPadding;    // blank on each side of a caption
  int32_t tabIndent;     // before the first tab
  int32_t pageMargin;    // between the frame and GetPageRect
  COLORREF colorText;
  COLORREF colorTextSel;
  COLORREF colorFrame;
  int32_t focusRect;     // 1: a dotted frame on the focused control's tab
  int32_t boldSelected;  // 1: the selected caption in bold
  int32_t reserved[4];
};
static_assert(sizeof(SFTTABS_CONTROL) == 60, "the settings block is 60 bytes");

// Messages of the tab control.
constexpr UINT SFTTABSM_ADDTAB = WM_USER + 1;        // lParam: caption; returns the index
constexpr UINT SFTTABSM_GETCOUNT = WM_USER + 2;
constexpr UINT SFTTABSM_GETCURSEL = WM_USER + 3;     // -1 when there are no tabs
constexpr UINT SFTTABSM_SETCURSEL = WM_USER + 4;     // wParam: index; no notifications
constexpr UINT SFTTABSM_SELECTTAB = WM_USER + 5;     // wParam: index; as the user, notifying
constexpr UINT SFTTABSM_GETTABRECT = WM_USER + 6;    // wParam: index, lParam: CRect*
constexpr UINT SFTTABSM_GETPAGERECT = WM_USER + 7;   // lParam: CRect* (client co-ordinates)
constexpr UINT SFTTABSM_GETTABTEXT = WM_USER + 8;    // wParam: index, lParam: std::string*
constexpr UINT SFTTABSM_DELETEALL = WM_USER + 9;
constexpr UINT SFTTABSM_SETCONTROLINFO = WM_USER + 26;  // lParam: SFTTABS_CONTROL*; FALSE: bad size
constexpr UINT SFTTABSM_SETSTYLE = WM_USER + 109;        // wParam: SFTTABSSTYLE_* bits
constexpr WPARAM SFTTABSSTYLE_TOP = 0x01;       // tabs above the page (the only placement)
constexpr WPARAM SFTTABSSTYLE_GRADIENT = 0x40;  // tabs filled with the gradients of tab_info

// Notifications (WM_NOTIFY, lParam: SFTTABS_NMHDR*), the common-control codes.
constexpr UINT TCN_SELCHANGE = static_cast<UINT>(-551);
constexpr UINT TCN_SELCHANGING = static_cast<UINT>(-552);
struct SFTTABS_NMHDR {
  HWND hwndFrom = nullptr;
  uintptr_t idFrom = 0;
  UINT code = 0;
};

// Module registration. Counts: the class stays while any registration is
// left. Returns TRUE.
VKT_API BOOL SftTabs_RegisterApp(void* instance);
VKT_API BOOL SftTabs_UnregisterApp(void* instance);

namespace vkt::win {
// Registrations left (for tests).
VKT_API int SftTabsRegistrations();
// Clears the registrations and restores tab_info's first colours (for tests).
VKT_API void ResetSftTabs();
// tab_info as it starts.
VKT_API tagSftTabsTab DefaultTabInfo();
}  // namespace vkt::win

// The tab control wrapper.
class VKT_API CSftTabs : public CWnd {
 public:
  BOOL Create(DWORD style, const CRect& rect, CWnd* parent, UINT id);
  int AddTab(const char* caption);
  int GetTabCount() const;
  int GetCurSel() const;
  // Without notifications.
  void SetCurSel(int index);
  // As a click would: TCN_SELCHANGING, then the change and TCN_SELCHANGE.
  // FALSE when the parent kept the selection or the index is out of range.
  BOOL SelectTab(int index);
  CRect GetTabRect(int index) const;
  CRect GetPageRect() const;
  std::string GetTabText(int index) const;
  void DeleteAllTabs();
};

class CSftTabsDialog;

// A page: a child dialog inside a tabs dialog, shown while its tab is
// selected.
class VKT_API CSftTabsPage : public CDialog {
 public:
  explicit CSftTabsPage(UINT template_id, CWnd* parent = nullptr);
  explicit CSftTabsPage(const char* template_name, CWnd* parent = nullptr);
  ~CSftTabsPage() override;

  // The tabs dialog holding the page (null before AddPage).
  CSftTabsDialog* GetTabsDialog() const { return owner_; }
  // Before the page is hidden: FALSE keeps it (and its tab) selected.
  virtual BOOL OnKillActive();
  // After the page was shown.
  virtual void OnSetActive();

  // A page is never ended by Enter or Escape: those belong to the dialog.
  void OnOK() override;
  void OnCancel() override;
  BOOL PreTranslateMessage(MSG* msg) override;

 private:
  friend class CSftTabsDialog;
  // The page's template: given directly, by id or by name.
  bool PageTemplate(vkt::win::DialogTemplate* out) const;
  CSftTabsDialog* owner_ = nullptr;
};

// A dialog with a tab control and its pages (not owned).
class VKT_API CSftTabsDialog : public CDialog {
 public:
  CSftTabsDialog();
  explicit CSftTabsDialog(UINT template_id, CWnd* parent = nullptr);
  explicit CSftTabsDialog(const char* template_name, CWnd* parent = nullptr);
  ~CSftTabsDialog() override;

  // The tab control (set by CreateTabControl or AttachTabControl).
  CSftTabs* GetTabControl() const { return tabs_; }
  // Creates `tabs` in the dialog at `rect`; FALSE when the class is not
  // registered.
  BOOL CreateTabControl(CSftTabs* tabs, const CRect& rect, UINT id);
  // Attaches `tabs` to the template's control `id`.
  BOOL AttachTabControl(CSftTabs* tabs, UINT id);
  // Creates the page from its template in the page area and adds its tab;
  // the first page added is shown. -1 when the page cannot be created.
  int AddPage(CSftTabsPage* page, const char* caption);
  int GetPageCount() const { return static_cast<int>(pages_.size()); }
  CSftTabsPage* GetPage(int index) const;
  CSftTabsPage* GetActivePage() const;
  int GetActiveIndex() const;
  // As the user selecting the tab: the active page may refuse.
  BOOL SetActivePage(int index);
  // The page holding `hwnd` (itself or a descendant), or null.
  CSftTabsPage* PageOf(HWND hwnd) const;
  // Moves the tab control (dialog co-ordinates) and its pages with it.
  void MoveTabControl(const CRect& rect);

  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;

 private:
  friend class CSftTabsPage;
  void ForgetPage(CSftTabsPage* page);
  void ShowActive(bool focus);
  CRect PageArea() const;
  CSftTabs* tabs_ = nullptr;
  std::vector<CSftTabsPage*> pages_;
  int shown_ = -1;
  HWND focus_before_ = nullptr;
};

#endif  // VKT_WIN_SFTTABS_H_
