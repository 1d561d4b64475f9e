#include "dialogs/vkttabsdialog.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "controls/vktedit.h"
#include "dialogs/vktresources.h"
#include "frame/vktapp.h"
#include "win/activex.h"
#include "win/ini_file.h"
#include "win/layered.h"
#include "win/services.h"
#include "win/skinframework.h"
#include "win/softkeys.h"

namespace vkt::dialogs::detail {
namespace {

CAxControl* Keyboard() {
  if (vktpar == nullptr || vktpar->keyboard == nullptr) return nullptr;
  return dynamic_cast<CAxControl*>(vktpar->keyboard);
}

bool KeyboardShown(CAxControl* kb) { return kb->GetLongProperty(kSoftkeysShown, 0) != 0; }

}  // namespace

WindowLook::~WindowLook() {
  FreeWrappers();
  FreeBitmap();
}

void WindowLook::CountKeyboard() {
  if (CAxControl* kb = Keyboard(); kb && KeyboardShown(kb)) ++CVKTDialog::numdlg;
}

void WindowLook::ReleaseKeyboard() noexcept {
  try {
    if (CAxControl* kb = Keyboard()) {
      if (KeyboardShown(kb)) --CVKTDialog::numdlg;
      if (CVKTDialog::numdlg < 1) kb->InvokeMethod(kSoftkeysHide);
    }
  } catch (...) {
    LogFailure("CVKTTabsDialog: la tastiera non risponde");
  }
}

void WindowLook::ShowKeyboard(int show) {
  CAxControl* kb = Keyboard();
  if (!kb) return;
  if (show == 1) {
    if (!KeyboardShown(kb)) {
      kb->InvokeMethod(kSoftkeysShow);
      CVKTDialog::numdlg = 1;
    }
  } else {
    kb->InvokeMethod(kSoftkeysHide);
    CVKTDialog::numdlg = 0;
  }
}

void WindowLook::ToggleKeyboard() {
  CAxControl* kb = Keyboard();
  if (!kb) return;
  if (KeyboardShown(kb)) {
    kb->InvokeMethod(kSoftkeysHide);
    CVKTDialog::numdlg = 0;
  } else {
    kb->InvokeMethod(kSoftkeysShow);
    CVKTDialog::numdlg = 1;
  }
}

void WindowLook::FreeBitmap() {
  if (bitmap_) vkt::win::DeleteBitmap(bitmap_);
  bitmap_ = nullptr;
  bitmap_width_ = bitmap_height_ = 0;
}

void WindowLook::FreeWrappers() {
  for (auto& s : statics_)
    if (s->m_hWnd) s->UnsubclassWindow();
  for (auto& g : group_boxes_)
    if (g->m_hWnd) g->UnsubclassWindow();
  statics_.clear();
  group_boxes_.clear();
}

unsigned long WindowLook::SetBitmap(CWnd* wnd, HBITMAP bmp) {
  if (bmp == nullptr) {
    FreeBitmap();
    if (wnd->m_hWnd) wnd->Invalidate(TRUE);
    return 1;
  }
  if (bmp != bitmap_) {
    FreeBitmap();
    bitmap_ = bmp;
  }
  BITMAP info;
  if (!vkt::win::GetBitmapInfo(bitmap_, &info)) {
    FreeBitmap();
    return 0;
  }
  bitmap_width_ = info.bmWidth;
  bitmap_height_ = info.bmHeight;
  if (wnd->m_hWnd) wnd->Invalidate(TRUE);
  return 1;
}

void WindowLook::SetStyle(CWnd* wnd, LayOutStyle style) {
  layout_ = style;
  if (style == LayoutResize && bitmap_ && wnd->m_hWnd)
    wnd->SetWindowPos(nullptr, 0, 0, bitmap_width_, bitmap_height_,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOOWNERZORDER);
}

int WindowLook::SetTransparent(CWnd* wnd, unsigned char alpha) {
  SetLayeredWindowAttributesFn fn = vkt::win::FindSetLayeredWindowAttributes();
  if (!fn || !wnd->m_hWnd) return 0;
  if (alpha == 255) {
    wnd->ModifyStyleEx(WS_EX_LAYERED, 0);
    wnd->RedrawWindow(nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
  } else {
    wnd->ModifyStyleEx(0, WS_EX_LAYERED);
    fn(wnd->m_hWnd, 0, alpha, LWA_ALPHA);
  }
  return 1;
}

int WindowLook::SetTransparentColor(CWnd* wnd, unsigned long colour, int enable) {
  SetLayeredWindowAttributesFn fn = vkt::win::FindSetLayeredWindowAttributes();
  if (!fn || !wnd->m_hWnd) return 0;
  if (enable) {
    wnd->ModifyStyleEx(0, WS_EX_LAYERED);
    fn(wnd->m_hWnd, static_cast<COLORREF>(colour), 0, LWA_COLORKEY);
  } else {
    wnd->ModifyStyleEx(WS_EX_LAYERED, 0);
    wnd->RedrawWindow(nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
  }
  return 1;
}

void WindowLook::Subclass(CWnd* wnd) {
  if (!wnd->m_hWnd) return;
  for (CWnd* child : wnd->GetChildren()) {
    if (!child || !child->m_hWnd) continue;
    char name[501] = {};
    std::snprintf(name, sizeof name, "%s", child->GetClassName().GetString());
    if (CWnd::FromHandlePermanent(child->m_hWnd) != nullptr) continue;
    if (strcasecmp(name, "Static") == 0) {
      auto s = std::make_unique<CVKTStatic>();
      if (s->SubclassWindow(child->m_hWnd)) statics_.push_back(std::move(s));
    } else if (strcasecmp(name, "Button") == 0 && (child->GetStyle() & BS_TYPEMASK) == BS_GROUPBOX) {
      auto g = std::make_unique<CVKTGroupBox>();
      if (g->SubclassWindow(child->m_hWnd)) group_boxes_.push_back(std::move(g));
    }
  }
}

void WindowLook::Paint(CWnd* wnd, CDC* dc) {
  if (!dc) return;
  CRect client;
  wnd->GetClientRect(&client);
  if (gradient_) {
    // Unlike CVKTDialog, a tab window has its blue gradient without a skin.
    if (vkt::win::SkinEnabled())
      dc->FillGradientV(client, vkt::win::SkinColor(COLOR_BTNFACE), vkt::win::SkinColor(COLOR_BTNSHADOW));
    else
      dc->FillGradientV(client, RGB(221, 236, 254), RGB(147, 178, 227));
  }
  if (!bitmap_) return;
  switch (layout_) {
    case LayoutNormal:
    case LayoutResize:
      vkt::win::BitBlt(dc, CRect(0, 0, client.Width(), client.Height()), bitmap_, 0, 0);
      break;
    case LayoutTile:
      for (long y = 0; y < client.Height(); y += bitmap_height_)
        for (long x = 0; x < client.Width(); x += bitmap_width_)
          vkt::win::BitBlt(dc, CRect(x, y, x + bitmap_width_, y + bitmap_height_), bitmap_, 0, 0);
      break;
    case LayoutCenter:
      if (bitmap_width_ <= client.Width() && bitmap_height_ <= client.Height()) {
        long x = (client.Width() - bitmap_width_) / 2, y = (client.Height() - bitmap_height_) / 2;
        vkt::win::BitBlt(dc, CRect(x, y, x + bitmap_width_, y + bitmap_height_), bitmap_, 0, 0);
      } else {
        vkt::win::BitBlt(dc, CRect(0, 0, client.Width(), client.Height()), bitmap_, 0, 0);
      }
      break;
    case LayoutStretch:
      vkt::win::StretchBlt(dc, client, bitmap_);
      break;
  }
}

void WindowLook::Keys(CWnd* wnd, const MSG* msg) {
  if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN) return;
  bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
  if (ctrl && (msg->wParam == VK_INSERT || msg->wParam == 'C')) {
    if (!vkt::services().SetClipboardText(wnd->GetWindowTextString().str()))
      vkt::Report("Unable to set Clipboard data", vkt::controls::MessageCaption(), MB_OK);
  } else if (msg->wParam == VK_F24 && vktpar != nullptr && vktpar->keyboard != nullptr) {
    ToggleKeyboard();
  }
}

void WindowLook::LButtonDown(CWnd* wnd, CPoint point) {
  if (easy_move_)
    wnd->PostMessage(WM_NCLBUTTONDOWN, HTCAPTION,
                     MAKELPARAM(static_cast<WORD>(point.x), static_cast<WORD>(point.y)));
}

}  // namespace vkt::dialogs::detail

namespace {

// The tab control's fixed settings.
const SFTTABS_CONTROL kTabSettings = {
    60, 0, 72, 12, 4, 2, RGB(20, 30, 50), RGB(0, 0, 0), RGB(96, 120, 160), 1, 1, {}};

// GetPrivateProfileInt: the leading number of the value, else the default.
int ProfileInt(const std::string& file, const char* section, const char* key, int def) {
  std::string v = vkt::win::ReadIniString(file, section, key, "");
  if (v.empty()) return def;
  char* end = nullptr;
  long n = std::strtol(v.c_str(), &end, 10);
  return end == v.c_str() ? 0 : static_cast<int>(n);
}

void ReadTabColours() {
  if (!vkt::win::SkinEnabled()) return;
  std::string ini;
  if (vktpar != nullptr) ini.assign(vktpar->skin_ini, strnlen(vktpar->skin_ini, sizeof vktpar->skin_ini));
  const char* kSection = "TabSettings";
  tab_info.colorBg = static_cast<COLORREF>(ProfileInt(ini, kSection, "colorBg", 14922387));
  tab_info.colorBgSel = static_cast<COLORREF>(ProfileInt(ini, kSection, "colorBgSel", 4371199));
  tab_info.colorBgStart = static_cast<COLORREF>(ProfileInt(ini, kSection, "colorBgStart", 14922387));
  tab_info.colorBgEnd = static_cast<COLORREF>(ProfileInt(ini, kSection, "colorBgEnd", 16706781));
  tab_info.colorBgSelStart = static_cast<COLORREF>(ProfileInt(ini, kSection, "colorBgSelStart", 10868735));
  tab_info.colorBgSelEnd = static_cast<COLORREF>(ProfileInt(ini, kSection, "colorBgSelEnd", 4371199));
  tab_info.colorFace = vkt::win::SkinColor(COLOR_BTNFACE);
  tab_info.colorShadow = vkt::win::SkinColor(COLOR_BTNSHADOW);
}

void DisconnectQuietly(SAConnection& con) noexcept {
  try {
    if (con.isConnected()) con.Disconnect();
  } catch (SAException& e) {
    vkt::dialogs::LogFailure(std::string("Disconnessione non riuscita: ") + e.ErrText().GetMultiByteChars());
    con.Destroy();
  } catch (...) {
    vkt::dialogs::LogFailure("Disconnessione non riuscita");
    con.Destroy();
  }
}

// The empty template of 421 x 298 dialog units ("MS Sans Serif" 8) into
// which a tabs dialog places its tab control and pages.
void RegisterTabbedTemplate() {
  if (vkt::win::FindDialogTemplate(IDD_VKT_TABBED)) return;
  vkt::win::DialogTemplate t;
  t.caption = "CVKTTabbedRecordDialog";
  t.rect = CRect(0, 0, 421 * 3 / 2, 298 * 13 / 8);
  LOGFONT lf = vkt::win::DefaultGuiFont();
  std::snprintf(lf.lfFaceName, sizeof lf.lfFaceName, "%s", "MS Sans Serif");
  t.font = lf;
  vkt::win::RegisterDialogTemplate(IDD_VKT_TABBED, std::move(t));
}

// This library's module, as SftTabs knows it.
void* Module() {
  static char module;
  return &module;
}

}  // namespace

// --- CVKTTabsDialog ----------------------------------------------------------------

CVKTTabsDialog::CVKTTabsDialog(CWnd* parent) : CSftTabsDialog(IDD_VKT_TABBED, parent) { Init(); }
CVKTTabsDialog::CVKTTabsDialog(UINT template_id, CWnd* parent) : CSftTabsDialog(template_id, parent) {
  Init();
}
CVKTTabsDialog::CVKTTabsDialog(const char* template_name, CWnd* parent)
    : CSftTabsDialog(template_name, parent) {
  Init();
}

void CVKTTabsDialog::Init() {
  vkt::dialogs::RegisterDialogResources();
  RegisterTabbedTemplate();
  SftTabs_RegisterApp(Module());
  registered_ = true;
  look_.CountKeyboard();
  ReadTabColours();
}

CVKTTabsDialog::~CVKTTabsDialog() {
  look_.ReleaseKeyboard();
  DisconnectQuietly(m_con);
  FreeResources();
  if (registered_) SftTabs_UnregisterApp(Module());
  registered_ = false;
}

void CVKTTabsDialog::FreeResources() {
  look_.FreeWrappers();
  look_.FreeBitmap();
}

unsigned long CVKTTabsDialog::SetBitmap(HBITMAP bmp) { return look_.SetBitmap(this, bmp); }

unsigned long CVKTTabsDialog::SetBitmap(int resource_id) {
  HBITMAP bmp = vkt::win::LoadBitmapResource(static_cast<UINT>(resource_id));
  if (!bmp) return 0;
  return SetBitmap(bmp);
}

unsigned long CVKTTabsDialog::SetBitmap(const char* file) {
  HBITMAP bmp = file ? vkt::win::LoadBitmapFile(file) : nullptr;
  if (!bmp) return 0;
  return SetBitmap(bmp);
}

void CVKTTabsDialog::SubclassStaticControls() {
  if (subclass_statics_) look_.Subclass(this);
}

BOOL CVKTTabsDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  OnInitTabControl();
  if (!m_Tabs.m_hWnd) {
    CRect client;
    GetClientRect(&client);
    CreateTabControl(&m_Tabs, CRect(6, 6, client.right - 6, client.bottom - 6), IDC_VKT_TABS);
  }
  SubclassStaticControls();
  if (m_Tabs.m_hWnd) {
    m_Tabs.SendMessage(WM_SETREDRAW, 0, 0);
    LOGFONT lf{};
    // MulDiv(8, 96, 72), rounded: the screen has 96 pixels per logical inch.
    lf.lfHeight = -((8 * 96 + 36) / 72);
    lf.lfWeight = FW_NORMAL;
    std::snprintf(lf.lfFaceName, sizeof lf.lfFaceName, "%s", "MS Shell Dlg");
    m_TabFont.DeleteObject();
    m_TabFont.CreateFontIndirect(&lf);
    m_Tabs.SetFont(&m_TabFont, FALSE);
    m_Tabs.SendMessage(SFTTABSM_SETSTYLE, SFTTABSSTYLE_TOP | SFTTABSSTYLE_GRADIENT, 0);
  }
  OnAddPages();
  if (m_Tabs.m_hWnd) {
    m_Tabs.SendMessage(SFTTABSM_SETCONTROLINFO, 0, reinterpret_cast<LPARAM>(&kTabSettings));
    m_Tabs.SendMessage(WM_SETREDRAW, 1, 0);
    m_Tabs.Invalidate(TRUE);
  }
  return TRUE;
}

BOOL CVKTTabsDialog::PreTranslateMessage(MSG* msg) {
  // A page's own keys were handled by the page (its caption for Ctrl+C).
  if (!PageOf(msg->hwnd)) look_.Keys(this, msg);
  return CSftTabsDialog::PreTranslateMessage(msg);
}

BOOL CVKTTabsDialog::OnEraseBkgnd(CDC* dc) {
  BOOL result = CSftTabsDialog::OnEraseBkgnd(dc);
  look_.Paint(this, dc);
  return result;
}

void CVKTTabsDialog::OnSize(UINT type, int cx, int cy) {
  CSftTabsDialog::OnSize(type, cx, cy);
  if (look_.bitmap_) Invalidate(TRUE);
}

void CVKTTabsDialog::OnLButtonDown(UINT flags, CPoint point) {
  look_.LButtonDown(this, point);
  CSftTabsDialog::OnLButtonDown(flags, point);
}

void CVKTTabsDialog::OnLButtonDblClk(UINT flags, CPoint point) {
  if (vktpar != nullptr && vktpar->keyboard != nullptr) look_.ToggleKeyboard();
  CSftTabsDialog::OnLButtonDblClk(flags, point);
}

// --- CVKTTabsPage ------------------------------------------------------------------

CVKTTabsPage::CVKTTabsPage(UINT template_id, CWnd* parent) : CSftTabsPage(template_id, parent) {
  look_.CountKeyboard();
}
CVKTTabsPage::CVKTTabsPage(const char* template_name, CWnd* parent) : CSftTabsPage(template_name, parent) {
  look_.CountKeyboard();
}

CVKTTabsPage::~CVKTTabsPage() {
  look_.ReleaseKeyboard();
  DisconnectQuietly(m_con);
  look_.FreeWrappers();
  look_.FreeBitmap();
}

void CVKTTabsPage::GetField() {}

unsigned long CVKTTabsPage::SetBitmap(HBITMAP bmp) { return look_.SetBitmap(this, bmp); }

unsigned long CVKTTabsPage::SetBitmap(int resource_id) {
  HBITMAP bmp = vkt::win::LoadBitmapResource(static_cast<UINT>(resource_id));
  if (!bmp) return 0;
  return SetBitmap(bmp);
}

unsigned long CVKTTabsPage::SetBitmap(const char* file) {
  HBITMAP bmp = file ? vkt::win::LoadBitmapFile(file) : nullptr;
  if (!bmp) return 0;
  return SetBitmap(bmp);
}

BOOL CVKTTabsPage::OnInitDialog() {
  CSftTabsPage::OnInitDialog();
  SubclassStaticControls();
  OnInitPage();
  return TRUE;
}

BOOL CVKTTabsPage::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) {
    WPARAM k = msg->wParam;
    bool forwarded = k == VK_ESCAPE || (k >= VK_F1 && k <= VK_F11) || (k >= VK_F12 + 1 && k <= VK_F24);
    CSftTabsDialog* owner = GetTabsDialog();
    if (forwarded && owner && owner->m_hWnd) {
      // The dialog's function keys; the dialog finds the field through the
      // focus, since the message now names the dialog.
      owner->PostMessage(msg->message, msg->wParam, msg->lParam);
      return TRUE;
    }
    bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
    if (ctrl && (k == VK_INSERT || k == 'C')) {
      if (!vkt::services().SetClipboardText(GetWindowTextString().str()))
        vkt::Report("Unable to set Clipboard data", vkt::controls::MessageCaption(), MB_OK);
    }
  }
  return CSftTabsPage::PreTranslateMessage(msg);
}

BOOL CVKTTabsPage::OnKillActive() {
  HWND focus = ::GetFocus();
  if (focus && IsChild(CWnd::FromHandle(focus))) {
    // The field finishes its input before its page is hidden.
    if (CSftTabsDialog* owner = GetTabsDialog(); owner && owner->GetTabControl())
      owner->GetTabControl()->SetFocus();
  }
  // A field that refused its input takes the focus back: its page stays.
  MSG pending;
  if (::PeekMessage(&pending, nullptr, kVktRefocusMsg, kVktRefocusMsg, PM_NOREMOVE) &&
      IsChild(CWnd::FromHandle(pending.hwnd)))
    return FALSE;
  return CSftTabsPage::OnKillActive();
}

BOOL CVKTTabsPage::OnEraseBkgnd(CDC* dc) {
  BOOL result = CSftTabsPage::OnEraseBkgnd(dc);
  look_.Paint(this, dc);
  return result;
}

void CVKTTabsPage::OnSize(UINT type, int cx, int cy) {
  CSftTabsPage::OnSize(type, cx, cy);
  if (look_.bitmap_) Invalidate(TRUE);
}

void CVKTTabsPage::OnLButtonDown(UINT flags, CPoint point) {
  look_.LButtonDown(this, point);
  CSftTabsPage::OnLButtonDown(flags, point);
}

void CVKTTabsPage::OnLButtonDblClk(UINT flags, CPoint point) {
  if (vktpar != nullptr && vktpar->keyboard != nullptr) look_.ToggleKeyboard();
  CSftTabsPage::OnLButtonDblClk(flags, point);
}
