// The test driver: a scripted user for the window model.
//
// Every action goes through the message queue as the user's input would
// (key-down, the pre-translate chain, translation to WM_CHAR, key-up; mouse
// down and up) and then runs the queue until it is empty. Modal loops take
// their user input from the steps queued with Then(): when a modal dialog
// waits, the next step runs inside its loop.
//
//   vkt::TestServices fake;
//   vkt::ScopedServices use(&fake);
//   vkt::win::Driver ui;
//   ui.Then([&] { ui.Type("Rossi"); ui.Press(VK_TAB); });
//   ui.Then([&] { ui.Press(VK_RETURN); });
//   EXPECT_EQ(dlg.DoModal(), IDOK);
//   EXPECT_EQ(ui.stalls(), 0);
//   EXPECT_TRUE(ui.MessageBoxes().empty());
#ifndef VKT_WIN_DRIVER_H_
#define VKT_WIN_DRIVER_H_

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "vkt_export.h"
#include "win/services.h"
#include "win/window.h"

namespace vkt::win {

enum KeyModifiers : unsigned { kNoMods = 0, kShift = 1, kCtrl = 2, kAlt = 4 };

class VKT_API Driver {
 public:
  // Becomes the modal loops' user-input source (and stops being it when
  // destroyed). Does not reset the windows.
  Driver();
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Gives the focus as a click on the window would not (no mouse message).
  void Focus(CWnd* wnd);
  // Types each byte as a key: its virtual key (letters, digits, blank and
  // the punctuation keys) or VK_PACKET, carrying the byte.
  void Type(const std::string& text);
  // One key with modifiers held: key-down, then key-up.
  void Press(UINT vk, unsigned modifiers = kNoMods);
  // Left click at `point` (client co-ordinates; the centre by default).
  // False, and nothing sent, when the window is hidden or disabled (itself
  // or an ancestor).
  bool Click(CWnd* wnd, std::optional<CPoint> point = std::nullopt);
  bool DoubleClick(CWnd* wnd, std::optional<CPoint> point = std::nullopt);
  // Runs the queued messages; returns how many ran.
  int RunPosted();
  // The idle step of the message loop (WM_KICKIDLE, idle handlers).
  void RunIdle();
  // Advances the virtual clock (services().Sleep) and runs what is due.
  void Advance(uint32_t ms);

  // A step for the next modal loop that waits for the user.
  void Then(std::function<void()> step);
  size_t pending_steps() const { return steps_.size(); }
  // Modal loops that found no step left and ended themselves with IDCANCEL.
  int stalls() const;

  CWnd* focus() const { return CWnd::GetFocus(); }

  // The message boxes shown so far, oldest first, when the services in use
  // are a TestServices (empty otherwise); and the answer the next box takes.
  std::vector<ShownMessage> MessageBoxes() const;
  void Answer(int id);

 private:
  bool NextStep();
  std::deque<std::function<void()>> steps_;
};

}  // namespace vkt::win

#endif  // VKT_WIN_DRIVER_H_
