// The "SftTabs" window class, its wrapper and the tabs dialog and page.
#include "win/sfttabs.h"

#include <algorithm>

#include "win/detail/wndstate.h"
#include "win/winconst.h"

tagSftTabsTab tab_info = vkt::win::DefaultTabInfo();

namespace vkt::win {

tagSftTabsTab DefaultTabInfo() {
  return {RGB(147, 178, 227), RGB(255, 178, 66),  RGB(147, 178, 227), RGB(221, 236, 254),
          RGB(255, 215, 165), RGB(255, 178, 66),  GetSysColor(COLOR_BTNFACE),
          GetSysColor(COLOR_BTNSHADOW)};
}

namespace {

int registrations = 0;

struct Tab {
  std::string caption;
};

struct TabsData : detail::ClassData {
  std::vector<Tab> tabs;
  int sel = -1;
  WPARAM style = 0;
  SFTTABS_CONTROL info{60, 0, 48, 10, 2, 2, RGB(0, 0, 0), RGB(0, 0, 0), RGB(128, 128, 128), 1, 1, {}};
};

CPoint PointOf(LPARAM l) {
  return CPoint(static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l))),
                static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l))));
}

int TabHeight(HWND h, const TabsData& d) {
  if (d.info.tabHeight > 0) return d.info.tabHeight;
  return TextHeight(detail::FontOf(h)) + 10;
}

// The tabs' rectangles in client co-ordinates: one row from the left; the
// selected tab stands 2 pixels higher and wider so that it joins the page.
std::vector<CRect> Layout(HWND h, const TabsData& d) {
  std::vector<CRect> out;
  int height = TabHeight(h, d);
  int x = d.info.tabIndent;
  LOGFONT lf;
  HFONT font = detail::FontOf(h);
  CFont bold;
  if (d.info.boldSelected && GetFontDescription(font, &lf)) {
    lf.lfWeight = FW_BOLD;
    bold.CreateFontIndirect(&lf);
  }
  for (size_t i = 0; i < d.tabs.size(); ++i) {
    // Widths measured in bold so that selecting a tab never moves the row.
    int text = TextWidth(bold.IsValid() ? bold.GetSafeHandle() : font, d.tabs[i].caption);
    int w = std::max<int>(d.info.tabMinWidth, text + 2 * d.info.tabPadding);
    CRect r(x, 2, x + w, height);
    if (static_cast<int>(i) == d.sel) r = CRect(r.left - 2, 0, r.right + 2, height + 1);
    out.push_back(r);
    x += w;
  }
  return out;
}

CRect PageRect(HWND h, const TabsData& d) {
  detail::WindowState* s = detail::Find(h);
  int m = d.info.pageMargin + 1;
  return CRect(m, TabHeight(h, d) + m, s->rect.Width() - m, s->rect.Height() - m);
}

void Invalidate(HWND h) { detail::CountInvalidation(h); }

LRESULT Notify(HWND h, UINT code) {
  SFTTABS_NMHDR n;
  n.hwndFrom = h;
  n.idFrom = static_cast<uintptr_t>(::GetDlgCtrlID(h));
  n.code = code;
  HWND parent = ::GetParent(h);
  if (!parent) return 0;
  return ::SendMessage(parent, WM_NOTIFY, n.idFrom, reinterpret_cast<LPARAM>(&n));
}

// The user's selection: the parent may refuse it, and may destroy the
// control while it is asked.
BOOL Select(HWND h, int index) {
  TabsData* d = detail::Data<TabsData>(h);
  if (!d || index < 0 || index >= static_cast<int>(d->tabs.size())) return FALSE;
  if (index == d->sel) return TRUE;
  if (Notify(h, TCN_SELCHANGING) != 0) return FALSE;
  if (!IsWindow(h) || !(d = detail::Data<TabsData>(h))) return FALSE;
  if (index >= static_cast<int>(d->tabs.size())) return FALSE;
  d->sel = index;
  Invalidate(h);
  Notify(h, TCN_SELCHANGE);
  return TRUE;
}

void Paint(HWND h, const detail::WindowState& s, const TabsData& d) {
  cairo_t* cr = detail::PaintTarget(h);
  if (!cr) return;
  CDC dc(cr);
  const tagSftTabsTab& c = tab_info;
  CRect client(0, 0, s.rect.Width(), s.rect.Height());
  int height = TabHeight(h, d);
  // The page area and its frame; the strip above keeps the parent's
  // background.
  CRect page(0, height, client.right, client.bottom);
  dc.FillSolidRect(page, c.colorFace);
  dc.FrameRect(page, d.info.colorFrame);
  HFONT font = detail::FontOf(h);
  CFont bold;
  LOGFONT lf;
  if (d.info.boldSelected && GetFontDescription(font, &lf)) {
    lf.lfWeight = FW_BOLD;
    bold.CreateFontIndirect(&lf);
  }
  std::vector<CRect> rects = Layout(h, d);
  bool gradient = (d.style & SFTTABSSTYLE_GRADIENT) != 0;
  bool disabled = (s.style & WS_DISABLED) != 0;
  dc.SetBkMode(TRANSPARENT);
  // The selected tab last, over its neighbours' edges.
  std::vector<int> order;
  for (int i = 0; i < static_cast<int>(rects.size()); ++i)
    if (i != d.sel) order.push_back(i);
  if (d.sel >= 0) order.push_back(d.sel);
  for (int i : order) {
    CRect r = rects[static_cast<size_t>(i)];
    bool sel = i == d.sel;
    if (gradient)
      dc.FillGradientV(r, sel ? c.colorBgSelStart : c.colorBgStart, sel ? c.colorBgSelEnd : c.colorBgEnd);
    else
      dc.FillSolidRect(r, sel ? c.colorBgSel : c.colorBg);
    // Left, top and right edges; the selected tab stays open to its page.
    dc.SelectPen(CPen(PS_SOLID, 1, d.info.colorFrame));
    dc.MoveTo(r.left, r.bottom - 1);
    dc.LineTo(r.left, r.top);
    dc.LineTo(r.right - 1, r.top);
    dc.LineTo(r.right - 1, r.bottom - 1);
    if (sel) {
      dc.FillSolidRect(CRect(r.left + 1, r.bottom - 1, r.right - 1, r.bottom + 1),
                       gradient ? c.colorBgSelEnd : c.colorBgSel);
    }
    dc.SelectFont(sel && bold.IsValid() ? bold.GetSafeHandle() : font);
    dc.SetTextColor(disabled ? GetSysColor(COLOR_GRAYTEXT) : sel ? d.info.colorTextSel : d.info.colorText);
    CRect text = r;
    dc.DrawText(d.tabs[static_cast<size_t>(i)].caption, text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (sel && d.info.focusRect && ::GetFocus() == h) {
      CRect f(r.left + 3, r.top + 3, r.right - 3, r.bottom - 3);
      dc.FrameRect(f, RGB(60, 60, 60));
    }
  }
}

LRESULT TabsClassProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  detail::WindowState* s = detail::Find(h);
  if (!s) return 0;
  TabsData* d = detail::Data<TabsData>(h);
  switch (msg) {
    case WM_CREATE:
      // No module registered the class.
      return registrations > 0 ? 0 : -1;
    case SFTTABSM_ADDTAB:
      d->tabs.push_back({l ? detail::TextParam(l) : ""});
      if (d->sel < 0) d->sel = 0;
      Invalidate(h);
      return static_cast<LRESULT>(d->tabs.size() - 1);
    case SFTTABSM_GETCOUNT:
      return static_cast<LRESULT>(d->tabs.size());
    case SFTTABSM_GETCURSEL:
      return d->sel;
    case SFTTABSM_SETCURSEL:
      if (static_cast<size_t>(w) < d->tabs.size()) {
        d->sel = static_cast<int>(w);
        Invalidate(h);
      }
      return d->sel;
    case SFTTABSM_SELECTTAB:
      return Select(h, static_cast<int>(w));
    case SFTTABSM_GETTABRECT: {
      std::vector<CRect> r = Layout(h, *d);
      if (static_cast<size_t>(w) >= r.size() || !l) return FALSE;
      *reinterpret_cast<CRect*>(l) = r[static_cast<size_t>(w)];
      return TRUE;
    }
    case SFTTABSM_GETPAGERECT:
      if (l) *reinterpret_cast<CRect*>(l) = PageRect(h, *d);
      return TRUE;
    case SFTTABSM_GETTABTEXT:
      if (static_cast<size_t>(w) >= d->tabs.size() || !l) return FALSE;
      *reinterpret_cast<std::string*>(l) = d->tabs[static_cast<size_t>(w)].caption;
      return TRUE;
    case SFTTABSM_DELETEALL:
      d->tabs.clear();
      d->sel = -1;
      Invalidate(h);
      return TRUE;
    case SFTTABSM_SETCONTROLINFO: {
      const auto* info = reinterpret_cast<const SFTTABS_CONTROL*>(l);
      if (!info || info->cbSize != static_cast<int32_t>(sizeof(SFTTABS_CONTROL))) return FALSE;
      d->info = *info;
      Invalidate(h);
      return TRUE;
    }
    case SFTTABSM_SETSTYLE:
      d->style = w;
      Invalidate(h);
      return TRUE;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_LBUTTONDOWN: {
      if (s->style & WS_DISABLED) return 0;
      CPoint p = PointOf(l);
      std::vector<CRect> r = Layout(h, *d);
      for (size_t i = 0; i < r.size(); ++i)
        if (r[i].PtInRect(p)) {
          // The focus first: the field being left checks its input, and
          // may refuse to let its page go.
          if (::GetFocus() != h) ::SetFocus(h);
          if (IsWindow(h)) Select(h, static_cast<int>(i));
          return 0;
        }
      return 0;
    }
    case WM_KEYDOWN: {
      int n = static_cast<int>(d->tabs.size());
      if (n == 0) return 0;
      if (w == VK_LEFT) Select(h, (d->sel - 1 + n) % n);
      else if (w == VK_RIGHT) Select(h, (d->sel + 1) % n);
      else if (w == VK_HOME) Select(h, 0);
      else if (w == VK_END) Select(h, n - 1);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      Invalidate(h);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint(h, *s, *d);
      return 0;
    default:
      return DefaultClassProc(h, msg, w, l);
  }
}

// The class always exists, so that a tab control made while no module is
// registered fails its creation instead of becoming a plain window.
bool EnsureClass() {
  static const bool done = (RegisterWindowClass("SftTabs", &TabsClassProc), true);
  return done;
}
[[maybe_unused]] const bool kClassAtLoad = EnsureClass();

}  // namespace

int SftTabsRegistrations() { return registrations; }

void ResetSftTabs() {
  registrations = 0;
  tab_info = DefaultTabInfo();
}

}  // namespace vkt::win

BOOL SftTabs_RegisterApp(void*) {
  vkt::win::EnsureClass();
  ++vkt::win::registrations;
  return TRUE;
}

BOOL SftTabs_UnregisterApp(void*) {
  if (vkt::win::registrations > 0) --vkt::win::registrations;
  return TRUE;
}

// --- CSftTabs ---------------------------------------------------------------------

BOOL CSftTabs::Create(DWORD style, const CRect& rect, CWnd* parent, UINT id) {
  vkt::win::EnsureClass();
  return CWnd::Create("SftTabs", "", style | WS_CHILD, rect, parent, id);
}

int CSftTabs::AddTab(const char* caption) {
  return static_cast<int>(SendMessage(SFTTABSM_ADDTAB, 0, reinterpret_cast<LPARAM>(caption)));
}

int CSftTabs::GetTabCount() const {
  return static_cast<int>(::SendMessage(m_hWnd, SFTTABSM_GETCOUNT, 0, 0));
}

int CSftTabs::GetCurSel() const {
  if (!m_hWnd) return -1;
  return static_cast<int>(::SendMessage(m_hWnd, SFTTABSM_GETCURSEL, 0, 0));
}

void CSftTabs::SetCurSel(int index) { SendMessage(SFTTABSM_SETCURSEL, static_cast<WPARAM>(index), 0); }

BOOL CSftTabs::SelectTab(int index) {
  if (index < 0) return FALSE;
  return static_cast<BOOL>(SendMessage(SFTTABSM_SELECTTAB, static_cast<WPARAM>(index), 0));
}

CRect CSftTabs::GetTabRect(int index) const {
  CRect r;
  if (index >= 0)
    ::SendMessage(m_hWnd, SFTTABSM_GETTABRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
  return r;
}

CRect CSftTabs::GetPageRect() const {
  CRect r;
  ::SendMessage(m_hWnd, SFTTABSM_GETPAGERECT, 0, reinterpret_cast<LPARAM>(&r));
  return r;
}

std::string CSftTabs::GetTabText(int index) const {
  std::string s;
  if (index >= 0)
    ::SendMessage(m_hWnd, SFTTABSM_GETTABTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&s));
  return s;
}

void CSftTabs::DeleteAllTabs() { SendMessage(SFTTABSM_DELETEALL, 0, 0); }

// --- CSftTabsPage ------------------------------------------------------------------

CSftTabsPage::CSftTabsPage(UINT template_id, CWnd* parent) : CDialog(template_id, parent) {}
CSftTabsPage::CSftTabsPage(const char* template_name, CWnd* parent) : CDialog(template_name, parent) {}
CSftTabsPage::~CSftTabsPage() {
  // A page going before its dialog leaves it.
  if (owner_) owner_->ForgetPage(this);
}

bool CSftTabsPage::PageTemplate(vkt::win::DialogTemplate* out) const {
  const vkt::win::DialogTemplate* t = nullptr;
  if (has_template_) t = &template_;
  else if (template_id_) t = vkt::win::FindDialogTemplate(template_id_);
  else if (!template_name_.empty()) t = vkt::win::FindDialogTemplate(template_name_);
  if (!t) return false;
  *out = *t;
  return true;
}

BOOL CSftTabsPage::OnKillActive() { return TRUE; }
void CSftTabsPage::OnSetActive() {}
void CSftTabsPage::OnOK() {}
void CSftTabsPage::OnCancel() {}

namespace {
bool IsInput(const MSG* msg) {
  return (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) ||
         (msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSELAST);
}
}  // namespace

BOOL CSftTabsPage::PreTranslateMessage(MSG* msg) {
  // The page's keyboard is run by its tabs dialog, after the dialog's own
  // keys (function keys, Enter, Space) had their turn.
  if (owner_ && IsInput(msg)) return FALSE;
  return CDialog::PreTranslateMessage(msg);
}

// --- CSftTabsDialog ----------------------------------------------------------------

CSftTabsDialog::CSftTabsDialog() = default;
CSftTabsDialog::CSftTabsDialog(UINT template_id, CWnd* parent) : CDialog(template_id, parent) {}
CSftTabsDialog::CSftTabsDialog(const char* template_name, CWnd* parent)
    : CDialog(template_name, parent) {}
CSftTabsDialog::~CSftTabsDialog() {
  for (CSftTabsPage* p : pages_)
    if (p) p->owner_ = nullptr;
}

BOOL CSftTabsDialog::CreateTabControl(CSftTabs* tabs, const CRect& rect, UINT id) {
  if (!tabs || !tabs->Create(WS_VISIBLE | WS_TABSTOP, rect, this, id)) return FALSE;
  tabs->SetFont(GetFont(), FALSE);
  tabs_ = tabs;
  return TRUE;
}

BOOL CSftTabsDialog::AttachTabControl(CSftTabs* tabs, UINT id) {
  if (!tabs || !tabs->SubclassDlgItem(id, this)) return FALSE;
  tabs_ = tabs;
  return TRUE;
}

int CSftTabsDialog::AddPage(CSftTabsPage* page, const char* caption) {
  if (!page || !tabs_ || !tabs_->m_hWnd) return -1;
  page->owner_ = this;
  page->m_pParentWnd = this;
  vkt::win::DialogTemplate tmpl;
  if (!page->PageTemplate(&tmpl)) return -1;
  tmpl.rect = PageArea();
  tmpl.style = (tmpl.style & ~(WS_POPUP | WS_CAPTION | WS_BORDER | WS_SYSMENU | WS_VISIBLE)) | WS_CHILD;
  if (!page->CreateIndirect(tmpl, this)) return -1;
  // Over the tab control, which paints the page area's face beneath.
  page->SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  page->ShowWindow(SW_HIDE);
  pages_.push_back(page);
  int index = tabs_->AddTab(caption);
  if (shown_ < 0) {
    shown_ = tabs_->GetCurSel();
    ShowActive(false);
  }
  return index;
}

// The tab control's page area in dialog co-ordinates, where pages lie.
CRect CSftTabsDialog::PageArea() const {
  CRect area = tabs_->GetPageRect();
  tabs_->ClientToScreen(&area);
  ScreenToClient(&area);
  return area;
}

void CSftTabsDialog::MoveTabControl(const CRect& rect) {
  if (!tabs_ || !tabs_->m_hWnd) return;
  tabs_->MoveWindow(rect);
  CRect area = PageArea();
  for (CSftTabsPage* p : pages_)
    if (p && p->m_hWnd) p->MoveWindow(area);
}

void CSftTabsDialog::ForgetPage(CSftTabsPage* page) {
  for (size_t i = 0; i < pages_.size(); ++i)
    if (pages_[i] == page) {
      pages_[i] = nullptr;  // the tab stays; its page is gone
      page->owner_ = nullptr;
    }
}

CSftTabsPage* CSftTabsDialog::GetPage(int index) const {
  if (index < 0 || index >= static_cast<int>(pages_.size())) return nullptr;
  return pages_[static_cast<size_t>(index)];
}

CSftTabsPage* CSftTabsDialog::GetActivePage() const { return GetPage(GetActiveIndex()); }

int CSftTabsDialog::GetActiveIndex() const { return tabs_ && tabs_->m_hWnd ? tabs_->GetCurSel() : -1; }

BOOL CSftTabsDialog::SetActivePage(int index) { return tabs_ ? tabs_->SelectTab(index) : FALSE; }

void CSftTabsDialog::ShowActive(bool focus) {
  int sel = GetActiveIndex();
  CSftTabsPage* active = GetPage(sel);
  // Where the focus was before the page asked to be left (which may have
  // moved it to finish a field's input).
  HWND f = focus_before_ ? focus_before_ : ::GetFocus();
  focus_before_ = nullptr;
  bool focus_in_pages = false;
  for (CSftTabsPage* p : pages_)
    if (p && p->m_hWnd && p != active) {
      if (f && (f == p->m_hWnd || p->IsChild(CWnd::FromHandle(f)))) focus_in_pages = true;
      p->ShowWindow(SW_HIDE);
    }
  if (!active || !active->m_hWnd) return;
  active->ShowWindow(SW_SHOW);
  shown_ = sel;
  // The focus follows into the new page unless it is on the tabs (a click
  // or the arrows there keep it).
  if (focus && (focus_in_pages || !f || f == m_hWnd))
    if (CWnd* first = active->GetNextDlgTabItem(nullptr)) active->GotoDlgCtrl(first);
  active->OnSetActive();
}

BOOL CSftTabsDialog::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN && tabs_ && tabs_->m_hWnd && ::GetKeyState(VK_CONTROL) < 0 &&
      (msg->wParam == VK_TAB || msg->wParam == VK_NEXT || msg->wParam == VK_PRIOR)) {
    int n = tabs_->GetTabCount();
    if (n > 0) {
      bool back = msg->wParam == VK_PRIOR || (msg->wParam == VK_TAB && ::GetKeyState(VK_SHIFT) < 0);
      tabs_->SelectTab((tabs_->GetCurSel() + (back ? n - 1 : 1)) % n);
    }
    return TRUE;
  }
  // Tab and the arrows move within the page of the control; Enter and
  // Escape are the dialog's.
  bool dialog_key = msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE);
  if (IsInput(msg) && !dialog_key)
    if (CSftTabsPage* p = PageOf(msg->hwnd)) return ::IsDialogMessage(p->m_hWnd, msg);
  return CDialog::PreTranslateMessage(msg);
}

CSftTabsPage* CSftTabsDialog::PageOf(HWND hwnd) const {
  if (!hwnd || hwnd == m_hWnd) return nullptr;
  for (CSftTabsPage* p : pages_)
    if (p && p->m_hWnd && (p->m_hWnd == hwnd || p->IsChild(CWnd::FromHandle(hwnd)))) return p;
  return nullptr;
}

LRESULT CSftTabsDialog::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_NOTIFY && l && tabs_ && tabs_->m_hWnd) {
    const auto* n = reinterpret_cast<const SFTTABS_NMHDR*>(l);
    if (n->hwndFrom == tabs_->m_hWnd) {
      if (n->code == TCN_SELCHANGING) {
        focus_before_ = ::GetFocus();
        CSftTabsPage* active = GetPage(shown_);
        return active && active->m_hWnd && !active->OnKillActive() ? TRUE : FALSE;
      }
      if (n->code == TCN_SELCHANGE) {
        ShowActive(true);
        return 0;
      }
    }
  }
  return CDialog::WindowProc(msg, w, l);
}
