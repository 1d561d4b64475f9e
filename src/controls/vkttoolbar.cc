#include "controls/vkttoolbar.h"

#include <algorithm>

#include "controls/vktedit.h"
#include "win/skinframework.h"

namespace {

constexpr int kPad = 6;
constexpr int kGap = 2;

CPoint PointOf(LPARAM l) {
  return CPoint(static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l))),
                static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l))));
}

// The enabled state an update handler decides for one button.
class ButtonCmdUI : public CCmdUI {
 public:
  void Enable(BOOL on) override {
    m_bEnableChanged = true;
    m_bEnabled = on != 0;
  }
};

// The caption without its mnemonic marks, as it is measured.
std::string Shown(const std::string& caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    out += caption[i];
  }
  return out;
}

HBITMAP Grey(HBITMAP bmp) {
  BITMAP info;
  if (!vkt::win::GetBitmapInfo(bmp, &info)) return nullptr;
  std::vector<COLORREF> px;
  px.reserve(static_cast<size_t>(info.bmWidth) * info.bmHeight);
  for (int y = 0; y < info.bmHeight; ++y)
    for (int x = 0; x < info.bmWidth; ++x) {
      COLORREF c = vkt::win::BitmapPixel(bmp, x, y);
      int g = (GetRValue(c) * 3 + GetGValue(c) * 6 + GetBValue(c)) / 10;
      g = 160 + g * 95 / 255;  // light: a disabled look
      px.push_back(RGB(g, g, g));
    }
  return vkt::win::CreateBitmap(info.bmWidth, info.bmHeight, std::move(px));
}

}  // namespace

// --- CXTPToolBar ----------------------------------------------------------------

CXTPToolBar::CXTPToolBar() = default;

CXTPToolBar::~CXTPToolBar() {
  for (auto& [id, bmp] : icons_) vkt::win::DeleteBitmap(bmp);
}

CXTPToolBar::Button* CXTPToolBar::FindButton(UINT id) {
  for (auto& b : buttons_)
    if (b.id == id) return &b;
  return nullptr;
}

HBITMAP CXTPToolBar::IconOf(UINT id) const {
  for (auto& [i, bmp] : icons_)
    if (i == id) return bmp;
  return nullptr;
}

void CXTPToolBar::SetIcon(UINT id, HBITMAP bmp) {
  for (auto it = icons_.begin(); it != icons_.end(); ++it)
    if (it->first == id) {
      vkt::win::DeleteBitmap(it->second);
      icons_.erase(it);
      break;
    }
  if (bmp) icons_.emplace_back(id, bmp);
}

int CXTPToolBar::CalcLayout(int width) {
  HFONT font = GetFont() ? GetFont()->GetSafeHandle() : vkt::win::DefaultGuiFontHandle();
  int text_h = vkt::win::TextHeight(font);
  int h = std::max(icon_size_.cy + 2 * kPad, text_h + 2 * kPad);
  int x = kGap, y = kGap;
  for (auto& b : buttons_) {
    if (!b.visible) {
      b.rect = CRect();
      continue;
    }
    int tw = vkt::win::TextWidth(font, Shown(b.caption));
    bool icon = IconOf(b.id) != nullptr && b.style != xtpButtonCaption;
    bool text = b.style != xtpButtonIcon || !icon;
    int w = kPad + (icon ? icon_size_.cx + (text ? kPad : 0) : 0) + (text ? tw + kPad : 0) + 4;
    if (x > kGap && x + w > width - kGap) {
      x = kGap;
      y += h + kGap;
    }
    b.rect = CRect(x, y, x + w, y + h);
    x += w + kGap;
  }
  return y + h + kGap;
}

void CXTPToolBar::Execute(int index) {
  if (index < 0 || index >= static_cast<int>(buttons_.size())) return;
  const Button& b = buttons_[static_cast<size_t>(index)];
  if (!b.enabled || !b.visible) return;
  UINT id = b.id;
  if (CWnd* parent = GetParent())
    parent->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0);
}

void CXTPToolBar::Select(int index) {
  selected_ = index;
  Invalidate();
}

int CXTPToolBar::ButtonAt(CPoint p) const {
  for (size_t i = 0; i < buttons_.size(); ++i)
    if (buttons_[i].visible && buttons_[i].rect.PtInRect(p)) return static_cast<int>(i);
  return -1;
}

void CXTPToolBar::Paint() {
  CPaintDC dc(this);
  CRect rc;
  GetClientRect(&rc);
  bool skin = vkt::win::SkinEnabled();
  COLORREF top = skin ? vkt::win::SkinColor(COLOR_BTNHIGHLIGHT) : RGB(252, 252, 252);
  COLORREF bottom = skin ? vkt::win::SkinColor(COLOR_BTNFACE) : RGB(226, 230, 236);
  dc.FillGradientV(rc, top, bottom);
  dc.FillSolidRect(CRect(rc.left, rc.bottom - 1, rc.right, rc.bottom), RGB(160, 168, 180));
  bool focused = ::GetFocus() == m_hWnd;
  dc.SetBkMode(TRANSPARENT);
  for (size_t i = 0; i < buttons_.size(); ++i) {
    const Button& b = buttons_[i];
    if (!b.visible) continue;
    bool selected = focused && static_cast<int>(i) == selected_;
    CRect r = b.rect;
    if (b.pressed || b.checked) {
      dc.FillGradientV(r, RGB(255, 214, 140), RGB(255, 188, 96));
      dc.FrameRect(r, RGB(194, 130, 40));
    } else if ((b.hot || selected) && b.enabled) {
      dc.FillGradientV(r, RGB(255, 246, 214), RGB(255, 226, 150));
      dc.FrameRect(r, RGB(229, 195, 101));
    }
    int x = r.left + kPad;
    HBITMAP icon = b.style != xtpButtonCaption ? IconOf(b.id) : nullptr;
    if (icon) {
      HBITMAP shown = b.enabled ? icon : Grey(icon);
      int iy = r.top + (r.Height() - icon_size_.cy) / 2;
      vkt::win::StretchBlt(&dc, CRect(x, iy, x + icon_size_.cx, iy + icon_size_.cy), shown);
      if (shown != icon) vkt::win::DeleteBitmap(shown);
      x += icon_size_.cx + kPad;
    }
    if (b.style != xtpButtonIcon || !icon) {
      dc.SetTextColor(b.enabled ? RGB(0, 0, 0) : vkt::win::GetSysColor(COLOR_GRAYTEXT));
      CRect tr(x, r.top, r.right - 2, r.bottom);
      dc.DrawText(b.caption, tr, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    }
  }
}

LRESULT CXTPToolBar::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_IDLEUPDATECMDUI: {
      CWnd* parent = GetParent();
      if (!parent) return 0;
      HWND me = m_hWnd;
      for (size_t i = 0; i < buttons_.size() && IsWindow(me); ++i) {
        ButtonCmdUI ui;
        ui.m_nID = buttons_[i].id;
        parent->OnCmdMsg(ui.m_nID, CN_UPDATE_COMMAND_UI, &ui, nullptr);
        // A handler may have changed the buttons meanwhile.
        if (i < buttons_.size() && buttons_[i].id == ui.m_nID && ui.m_bEnableChanged &&
            buttons_[i].enabled != ui.m_bEnabled) {
          buttons_[i].enabled = ui.m_bEnabled;
          Invalidate();
        }
      }
      return 0;
    }
    case WM_LBUTTONDOWN: {
      int i = ButtonAt(PointOf(l));
      pressed_by_mouse_ = -1;
      if (i >= 0 && buttons_[static_cast<size_t>(i)].enabled) {
        pressed_by_mouse_ = i;
        buttons_[static_cast<size_t>(i)].pressed = true;
        Invalidate();
      }
      return 0;
    }
    case WM_LBUTTONUP: {
      int i = ButtonAt(PointOf(l));
      int was = pressed_by_mouse_;
      pressed_by_mouse_ = -1;
      if (was >= 0 && was < static_cast<int>(buttons_.size())) {
        buttons_[static_cast<size_t>(was)].pressed = false;
        Invalidate();
        if (i == was) Execute(i);
      }
      return 0;
    }
    case WM_MOUSEMOVE: {
      int i = ButtonAt(PointOf(l));
      for (size_t k = 0; k < buttons_.size(); ++k) buttons_[k].hot = static_cast<int>(k) == i;
      Invalidate();
      return 0;
    }
    case WM_KEYDOWN: {
      // Left and Right move the selection over the buttons that can act.
      if (w != VK_LEFT && w != VK_RIGHT) return 0;
      int n = static_cast<int>(buttons_.size());
      int step = w == VK_LEFT ? -1 : 1;
      int at = selected_;
      for (int k = 0; k < n; ++k) {
        at = ((at < 0 ? (step > 0 ? -1 : 0) : at) + step + n) % n;
        if (buttons_[static_cast<size_t>(at)].visible && buttons_[static_cast<size_t>(at)].enabled) {
          Select(at);
          break;
        }
      }
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      Invalidate();
      return 0;
    default:
      return CWnd::WindowProc(msg, w, l);
  }
}

// --- CVKTToolBar ------------------------------------------------------------------

bool CVKTToolBar::fail_next_create_ = false;

CVKTToolBar::CVKTToolBar() = default;
CVKTToolBar::~CVKTToolBar() = default;

short CVKTToolBar::BeginCreate(CWnd* parent) {
  if (fail_next_create_) {
    fail_next_create_ = false;
    return 1;
  }
  if (!parent || !IsWindow(parent->m_hWnd) || m_hWnd) return 1;
  CRect client;
  parent->GetClientRect(&client);
  if (!CreateEx(0, "XTPToolBar", "", WS_CHILD | WS_VISIBLE, CRect(0, 0, client.Width(), 40), parent,
                AFX_IDW_TOOLBAR))
    return 1;
  icon_size_ = CSize(24, 24);
  int h = CalcLayout(client.Width());
  // On top of the dialog's controls.
  SetWindowPos(nullptr, 0, 0, client.Width(), h, SWP_NOACTIVATE);
  return 0;
}

short CVKTToolBar::AddButton(unsigned icon_id, unsigned id, const char* caption, XTPButtonStyle style) {
  if (icon_id != 0) SetIcon(id, vkt::win::LoadBitmapResource(icon_id));
  Button b;
  b.id = id;
  b.caption = caption ? caption : "";
  b.style = style;
  buttons_.push_back(std::move(b));
  Invalidate();
  return 0;
}

void CVKTToolBar::EndCreate() {
  CWnd* parent = GetParent();
  if (!m_hWnd || !parent) return;
  CRect client;
  parent->GetClientRect(&client);
  int h = CalcLayout(client.Width());
  SetWindowPos(nullptr, 0, 0, client.Width(), h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CVKTToolBar::SetButtonCaption(UINT id, const CString& caption) {
  if (Button* b = FindButton(id)) {
    b->caption = caption.str();
    Invalidate();
  }
}

void CVKTToolBar::SetButtonTooltip(UINT id, const CString& tooltip) {
  if (Button* b = FindButton(id)) b->tooltip = tooltip.str();
}

void CVKTToolBar::SetButtonIcon(UINT id, unsigned icon_id) {
  if (icon_id != 0) SetIcon(id, vkt::win::LoadBitmapResource(icon_id));
  Invalidate();
}

void CVKTToolBar::EnableButton(UINT id, bool enable) {
  if (Button* b = FindButton(id)) {
    b->enabled = enable;
    Invalidate();
  }
}

bool CVKTToolBar::IsButtonEnabled(UINT id) {
  if (!m_hWnd || !IsWindow(m_hWnd)) return false;
  Button* b = FindButton(id);
  return b && b->enabled;
}

void CVKTToolBar::ShowButton(UINT id, bool show) {
  if (Button* b = FindButton(id)) {
    b->visible = show;
    EndCreate();
    Invalidate();
  }
}

void CVKTToolBar::RemoveButton(UINT id) {
  auto it = std::find_if(buttons_.begin(), buttons_.end(), [&](const Button& b) { return b.id == id; });
  if (it == buttons_.end()) return;
  int index = static_cast<int>(it - buttons_.begin());
  buttons_.erase(it);
  if (!FindButton(id)) SetIcon(id, nullptr);
  if (selected_ == index) selected_ = -1;
  else if (selected_ > index) --selected_;
  pressed_by_mouse_ = -1;
  Invalidate();
}

void CVKTToolBar::RemoveButtons() {
  buttons_.clear();
  for (auto& [id, bmp] : icons_) vkt::win::DeleteBitmap(bmp);
  icons_.clear();
  selected_ = -1;
  pressed_by_mouse_ = -1;
  Invalidate();
}

void CVKTToolBar::PressButton(UINT id, int press) {
  ResetButtons();
  if (Button* b = FindButton(id)) {
    b->pressed = press != 0;
    Invalidate();
  }
}

void CVKTToolBar::ResetButtons() {
  for (auto& b : buttons_) b.pressed = b.checked = b.hot = false;
  Invalidate();
}

void CVKTToolBar::SetButtonFocus(UINT id) {
  if (!m_hWnd) return;
  SetFocus();
  for (size_t i = 0; i < buttons_.size(); ++i)
    if (buttons_[i].id == id) {
      Select(static_cast<int>(i));
      return;
    }
}

void CVKTToolBar::SetButtonClick(const char* prefix) {
  if (!prefix) return;
  std::string p = prefix;
  for (size_t i = 0; i < buttons_.size(); ++i) {
    const Button& b = buttons_[i];
    if (!b.enabled || !b.visible || b.caption.compare(0, p.size(), p) != 0) continue;
    Select(static_cast<int>(i));
    Execute(static_cast<int>(i));
    return;
  }
}

BOOL CVKTToolBar::ForceKillFocus() {
  CWnd* parent = GetParent();
  HWND old = ::GetFocus();
  if (!m_hWnd || !parent || !old || old == m_hWnd || !parent->IsChild(CWnd::FromHandle(old)))
    return TRUE;
  // Only the focused control finishes its input: the focus goes to the
  // tool bar, which validates nothing, instead of on to the next field,
  // whose own check would run as well.
  parent->SetRedraw(FALSE);
  HWND me = m_hWnd;
  SetFocus();
  MSG pending;
  bool refused = ::PeekMessage(&pending, old, kVktRefocusMsg, kVktRefocusMsg, PM_NOREMOVE) != 0;
  if (!refused && IsWindow(old) && IsWindow(me) && ::GetFocus() == me) ::SetFocus(old);
  if (IsWindow(parent->m_hWnd)) parent->SetRedraw(TRUE);
  return refused ? FALSE : TRUE;
}

BOOL CVKTToolBar::PreTranslateMessage(MSG* msg) {
  if (msg->hwnd == m_hWnd && OnHookMessage(msg)) return TRUE;
  return CXTPToolBar::PreTranslateMessage(msg);
}

BOOL CVKTToolBar::OnHookMessage(MSG* msg) {
  if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN) return FALSE;
  CWnd* parent = GetParent();
  if (!parent) return FALSE;
  CWnd* top = parent->GetTopLevelParent();
  if (!top || ::GetActiveWindow() != top->m_hWnd) return FALSE;
  UINT vk = static_cast<UINT>(msg->wParam);
  switch (vk) {
    case VK_RETURN:
      Execute(selected_);
      return TRUE;
    case VK_ESCAPE:
    case VK_F1:
      parent->PostMessage(msg->message, msg->wParam, msg->lParam);
      return TRUE;
    case VK_UP:
      // As Shift+Tab would: the dialog's previous control.
      parent->PostMessage(WM_NEXTDLGCTL, 1, 0);
      return TRUE;
    case VK_DOWN:
      parent->PostMessage(WM_NEXTDLGCTL, 0, 0);
      return TRUE;
    default:
      break;
  }
  if (vk >= VK_F2 && vk <= VK_F12) {
    std::string key = "F" + std::to_string(vk - VK_F1 + 1);
    SetButtonClick(key.c_str());
    return TRUE;
  }
  return FALSE;
}
