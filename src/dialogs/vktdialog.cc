#include "dialogs/vktdialog.h"

#include <strings.h>

#include "controls/vktedit.h"
#include "frame/vktapp.h"
#include "win/activex.h"
#include "win/services.h"
#include "win/skinframework.h"
#include "win/softkeys.h"

int CVKTDialog::numdlg = 0;
SetLayeredWindowAttributesFn CVKTDialog::set_layered_ = nullptr;

CXTPDialog::~CXTPDialog() = default;

namespace vkt::dialogs {

void LogFailure(const std::string& text) noexcept {
  try {
    if (vkt::LogFile() != nullptr) WriteLogMessage(text.c_str());
    vkt::services().Notice(text);
  } catch (...) {
    // Nothing is left to report to.
  }
}

BOOL FailDialogCreation(CDialog* dlg) {
  vkt::ReportWithBeep(kToolBarFailed, vkt::controls::MessageCaption(), MB_OK | MB_ICONSTOP);
  // A dialog whose function keys would all be dead is not shown: the
  // modal loop ends at once and DoModal answers -1.
  dlg->DestroyWindow();
  return FALSE;
}

}  // namespace vkt::dialogs

namespace {

// The host's keyboard, when it has one and it answers automation.
CAxControl* Keyboard() {
  if (vktpar == nullptr || vktpar->keyboard == nullptr) return nullptr;
  return dynamic_cast<CAxControl*>(vktpar->keyboard);
}

bool KeyboardShown(CAxControl* kb) { return kb->GetLongProperty(kSoftkeysShown, 0) != 0; }

}  // namespace

CVKTDialog::CVKTDialog(CWnd* parent) : CXTPDialog(0u, parent) { Init(); }
CVKTDialog::CVKTDialog(UINT template_id, CWnd* parent) : CXTPDialog(template_id, parent) { Init(); }
CVKTDialog::CVKTDialog(const char* template_name, CWnd* parent) : CXTPDialog(template_name, parent) {
  Init();
}

void CVKTDialog::Init() {
  subclass_statics_ = FALSE;
  easy_move_ = TRUE;
  gradient_ = TRUE;
  back_color_ = -1;
  bitmap_ = nullptr;
  bitmap_width_ = bitmap_height_ = 0;
  layout_ = LayoutNormal;
  set_layered_ = vkt::win::FindSetLayeredWindowAttributes();
  if (CAxControl* kb = Keyboard(); kb && KeyboardShown(kb)) ++numdlg;
}

CVKTDialog::~CVKTDialog() {
  try {
    if (CAxControl* kb = Keyboard()) {
      if (KeyboardShown(kb)) --numdlg;
      if (numdlg < 1) kb->InvokeMethod(kSoftkeysHide);
    }
  } catch (...) {
    vkt::dialogs::LogFailure("CVKTDialog: la tastiera non risponde");
  }
  DisconnectQuietly();
  FreeResources();
}

void CVKTDialog::DisconnectQuietly() noexcept {
  try {
    if (m_con.isConnected()) m_con.Disconnect();
  } catch (SAException& e) {
    vkt::dialogs::LogFailure(std::string("Disconnessione non riuscita: ") +
                             e.ErrText().GetMultiByteChars());
    m_con.Destroy();
  } catch (...) {
    vkt::dialogs::LogFailure("Disconnessione non riuscita");
    m_con.Destroy();
  }
}

void CVKTDialog::ShowKeyboard(int show) {
  CAxControl* kb = Keyboard();
  if (!kb) return;
  if (show == 1) {
    if (!KeyboardShown(kb)) {
      kb->InvokeMethod(kSoftkeysShow);
      numdlg = 1;
    }
  } else {
    kb->InvokeMethod(kSoftkeysHide);
    numdlg = 0;
  }
}

void CVKTDialog::ToggleKeyboard() {
  CAxControl* kb = Keyboard();
  if (!kb) return;
  if (KeyboardShown(kb)) {
    kb->InvokeMethod(kSoftkeysHide);
    numdlg = 0;
  } else {
    kb->InvokeMethod(kSoftkeysShow);
    numdlg = 1;
  }
}

void CVKTDialog::FreeBitmap() {
  if (bitmap_) vkt::win::DeleteBitmap(bitmap_);
  bitmap_ = nullptr;
  bitmap_width_ = bitmap_height_ = 0;
}

void CVKTDialog::FreeResources() {
  // The wrappers let their windows go before they are deleted.
  for (auto& s : statics_)
    if (s->m_hWnd) s->UnsubclassWindow();
  for (auto& g : group_boxes_)
    if (g->m_hWnd) g->UnsubclassWindow();
  statics_.clear();
  group_boxes_.clear();
  FreeBitmap();
}

unsigned long CVKTDialog::SetBitmap(HBITMAP bmp) {
  if (bmp == nullptr) {
    FreeBitmap();
    if (m_hWnd) Invalidate(TRUE);
    return 1;
  }
  // The bitmap already shown: releasing it first would leave the dialog
  // with a deleted handle.
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
  if (m_hWnd) Invalidate(TRUE);
  return 1;
}

unsigned long CVKTDialog::SetBitmap(int resource_id) {
  HBITMAP bmp = vkt::win::LoadBitmapResource(static_cast<UINT>(resource_id));
  // A resource that does not exist changes nothing.
  if (!bmp) return 0;
  return SetBitmap(bmp);
}

unsigned long CVKTDialog::SetBitmap(const char* file) {
  HBITMAP bmp = file ? vkt::win::LoadBitmapFile(file) : nullptr;
  if (!bmp) return 0;
  return SetBitmap(bmp);
}

void CVKTDialog::SetStyle(LayOutStyle style) {
  layout_ = style;
  if (style == LayoutResize && bitmap_ && m_hWnd)
    SetWindowPos(nullptr, 0, 0, bitmap_width_, bitmap_height_,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOOWNERZORDER);
}

int CVKTDialog::SetTransparent(unsigned char alpha) {
  if (!set_layered_ || !m_hWnd) return 0;
  if (alpha == 255) {
    ModifyStyleEx(WS_EX_LAYERED, 0);
    RedrawWindow(nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
  } else {
    ModifyStyleEx(0, WS_EX_LAYERED);
    set_layered_(m_hWnd, 0, alpha, LWA_ALPHA);
  }
  return 1;
}

int CVKTDialog::SetTransparentColor(unsigned long colour, int enable) {
  if (!set_layered_ || !m_hWnd) return 0;
  if (enable) {
    ModifyStyleEx(0, WS_EX_LAYERED);
    set_layered_(m_hWnd, static_cast<COLORREF>(colour), 0, LWA_COLORKEY);
  } else {
    ModifyStyleEx(WS_EX_LAYERED, 0);
    RedrawWindow(nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
  }
  return 1;
}

BOOL CVKTDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  SubclassStaticControls();
  return TRUE;
}

void CVKTDialog::DoDataExchange(CDataExchange* dx) { CDialog::DoDataExchange(dx); }

void CVKTDialog::SubclassStaticControls() {
  if (!subclass_statics_ || !m_hWnd) return;
  for (CWnd* child : GetChildren()) {
    if (!child || !child->m_hWnd) continue;
    char name[501] = {};
    std::snprintf(name, sizeof name, "%s", child->GetClassName().GetString());
    // Controls the data exchange already attached keep their object.
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

BOOL CVKTDialog::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) {
    bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
    if (ctrl && (msg->wParam == VK_INSERT || msg->wParam == 'C')) {
      // The caption, for the user to quote (the focused control still gets
      // the key and may copy its own selection).
      if (!vkt::services().SetClipboardText(GetWindowTextString().str()))
        vkt::Report("Unable to set Clipboard data", vkt::controls::MessageCaption(), MB_OK);
    } else if (msg->wParam == VK_F24 && vktpar != nullptr && vktpar->keyboard != nullptr) {
      ToggleKeyboard();
    }
  }
  return CXTPDialog::PreTranslateMessage(msg);
}

LRESULT CVKTDialog::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_WINDOWPOSCHANGED) {
    LRESULT r = CXTPDialog::WindowProc(msg, w, l);
    if (m_hWnd) GetWindowRect(&m_rect);
    return r;
  }
  return CXTPDialog::WindowProc(msg, w, l);
}

BOOL CVKTDialog::OnEraseBkgnd(CDC* dc) {
  BOOL result = CXTPDialog::OnEraseBkgnd(dc);
  if (!dc) return result;
  CRect client;
  GetClientRect(&client);
  if (gradient_) {
    // Without a skin the default background stands, flat colour or not.
    if (vkt::win::SkinEnabled())
      dc->FillGradientV(client, vkt::win::SkinColor(COLOR_BTNFACE), vkt::win::SkinColor(COLOR_BTNSHADOW));
  } else if (back_color_ != -1) {
    dc->FillSolidRect(client, static_cast<COLORREF>(back_color_));
  }
  if (bitmap_) {
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
        // A bitmap larger than the client area is drawn from its top-left
        // corner, as LayoutNormal would.
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
  return result;
}

void CVKTDialog::OnSize(UINT type, int cx, int cy) {
  CXTPDialog::OnSize(type, cx, cy);
  if (bitmap_) Invalidate(TRUE);
}

void CVKTDialog::OnLButtonDown(UINT flags, CPoint point) {
  if (easy_move_)
    PostMessage(WM_NCLBUTTONDOWN, HTCAPTION,
                MAKELPARAM(static_cast<WORD>(point.x), static_cast<WORD>(point.y)));
  CXTPDialog::OnLButtonDown(flags, point);
}

void CVKTDialog::OnLButtonDblClk(UINT flags, CPoint point) {
  if (vktpar != nullptr && vktpar->keyboard != nullptr) ToggleKeyboard();
  CXTPDialog::OnLButtonDblClk(flags, point);
}
