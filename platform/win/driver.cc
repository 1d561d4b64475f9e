#include "win/driver.h"

#include "win/services.h"

namespace vkt::win {
namespace {

UINT VirtualKeyOf(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return u - 32;
  if ((u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')) return u;
  switch (u) {
    case ' ': return VK_SPACE;
    case ',': return VK_OEM_COMMA;
    case '.': return VK_OEM_PERIOD;
    case '-': return VK_OEM_MINUS;
    case '+': return VK_OEM_PLUS;
    case 8: return VK_BACK;
    case 9: return VK_TAB;
    case 13: return VK_RETURN;
    case 27: return VK_ESCAPE;
    default: return VK_PACKET;
  }
}

LPARAM PointParam(CPoint p) {
  return MAKELPARAM(static_cast<WORD>(static_cast<int16_t>(p.x)),
                    static_cast<WORD>(static_cast<int16_t>(p.y)));
}

CPoint CentreOf(CWnd* wnd) {
  CRect r;
  wnd->GetClientRect(&r);
  return CPoint(r.Width() / 2, r.Height() / 2);
}

bool Reachable(CWnd* wnd) {
  return wnd && IsWindow(wnd->m_hWnd) && wnd->IsWindowVisible() && wnd->IsWindowEnabledChain();
}

}  // namespace

Driver::Driver() {
  SetUserInputSource([this] { return NextStep(); });
}

Driver::~Driver() { SetUserInputSource(nullptr); }

bool Driver::NextStep() {
  if (steps_.empty()) return false;
  auto step = std::move(steps_.front());
  steps_.pop_front();
  step();
  return true;
}

void Driver::Then(std::function<void()> step) { steps_.push_back(std::move(step)); }

int Driver::stalls() const { return StalledModalLoops(); }

void Driver::Focus(CWnd* wnd) {
  if (wnd && IsWindow(wnd->m_hWnd)) wnd->SetFocus();
  RunPosted();
}

void Driver::Type(const std::string& text) {
  for (char c : text) {
    UINT vk = VirtualKeyOf(c);
    QueueKey(vk, true, c);
    RunPosted();
    QueueKey(vk, false, c);
    RunPosted();
  }
}

void Driver::Press(UINT vk, unsigned modifiers) {
  if (modifiers & kShift) SetKeyDown(VK_SHIFT, true);
  if (modifiers & kCtrl) SetKeyDown(VK_CONTROL, true);
  if (modifiers & kAlt) SetKeyDown(VK_MENU, true);
  SetKeyDown(static_cast<int>(vk), true);
  QueueKey(vk, true);
  RunPosted();
  SetKeyDown(static_cast<int>(vk), false);
  QueueKey(vk, false);
  RunPosted();
  if (modifiers & kAlt) SetKeyDown(VK_MENU, false);
  if (modifiers & kCtrl) SetKeyDown(VK_CONTROL, false);
  if (modifiers & kShift) SetKeyDown(VK_SHIFT, false);
}

bool Driver::Click(CWnd* wnd, std::optional<CPoint> point) {
  if (!Reachable(wnd)) return false;
  HWND h = wnd->m_hWnd;
  LPARAM at = PointParam(point ? *point : CentreOf(wnd));
  ::PostMessage(h, WM_LBUTTONDOWN, MK_LBUTTON, at);
  RunPosted();
  ::PostMessage(h, WM_LBUTTONUP, 0, at);
  RunPosted();
  return true;
}

bool Driver::DoubleClick(CWnd* wnd, std::optional<CPoint> point) {
  if (!Reachable(wnd)) return false;
  HWND h = wnd->m_hWnd;
  LPARAM at = PointParam(point ? *point : CentreOf(wnd));
  ::PostMessage(h, WM_LBUTTONDOWN, MK_LBUTTON, at);
  RunPosted();
  ::PostMessage(h, WM_LBUTTONUP, 0, at);
  RunPosted();
  ::PostMessage(h, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  RunPosted();
  ::PostMessage(h, WM_LBUTTONUP, 0, at);
  RunPosted();
  return true;
}

std::vector<ShownMessage> Driver::MessageBoxes() const {
  auto* fake = dynamic_cast<TestServices*>(&services());
  return fake ? fake->transcript() : std::vector<ShownMessage>();
}

void Driver::Answer(int id) {
  if (auto* fake = dynamic_cast<TestServices*>(&services())) fake->ScriptAnswer(id);
}

int Driver::RunPosted() { return vkt::win::RunPosted(); }

void Driver::RunIdle() { vkt::win::RunIdle(); }

void Driver::Advance(uint32_t ms) {
  services().Sleep(ms);
  RunPosted();
}

}  // namespace vkt::win
