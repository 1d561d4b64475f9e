// Live windows on an X display, for hosts that want a person at the keyboard.
//
// The window model stays the same; LiveDisplay becomes the modal loops'
// user-input source. Whenever a loop has nothing left to do it shows every
// visible top-level window as an X window (painted by the same code as the
// PNG snapshots), waits briefly for X events and turns them into the model's
// keyboard and mouse messages. Due timers fire between waits from the real
// clock of the services in use.
//
//   vkt::win::LiveDisplay live;
//   if (!live.Open()) return;            // no $DISPLAY, or it cannot be opened
//   vkt::win::LiveServices boxes(&live); // message boxes as live windows
//   vkt::ScopedServices use(&boxes);
//   dlg.DoModal();                       // a person answers it
//
// Tests keep the headless model: nothing here runs unless a host opens it.
#ifndef VKT_WIN_X11_H_
#define VKT_WIN_X11_H_

#include <memory>
#include <string>

#include "vkt_export.h"
#include "win/services.h"
#include "win/window.h"

namespace vkt::win {

// True when $DISPLAY is set (whether the display answers is up to Open).
VKT_API bool LiveDisplayRequested();

class VKT_API LiveDisplay {
 public:
  LiveDisplay();
  // Closes the X windows and gives the user-input source back (to none).
  ~LiveDisplay();
  LiveDisplay(const LiveDisplay&) = delete;
  LiveDisplay& operator=(const LiveDisplay&) = delete;

  // Connects to $DISPLAY (or `display` when given) and becomes the modal
  // loops' input source. False, and nothing changed, when it cannot.
  bool Open(const std::string& display = std::string());
  bool is_open() const;

  // After each repaint, writes what an X window shows to
  // `dir`/window-<n>.png (n counts the top-level windows shown, from 1) and
  // appends "n x y width height caption" to `dir`/windows.txt when a window
  // first appears. For checking the screen against the snapshots.
  void SetSnapshotDir(const std::string& dir);

  // One turn of the loop: shows and repaints the windows, waits up to
  // `wait_ms` for X events and queues what they mean. False when the
  // connection is gone.
  bool Pump(int wait_ms);

  // The X clipboard (the CLIPBOARD selection), Windows-1252 text.
  bool SetClipboardText(const std::string& text);
  bool GetClipboardText(std::string* text);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The system's services with message boxes shown as live modal windows and
// the clipboard of the X display.
class VKT_API LiveServices : public SystemServices {
 public:
  explicit LiveServices(LiveDisplay* display) : display_(display) {}
  int MessageBox(const std::string& text, const std::string& caption,
                 unsigned type) override;
  bool GetClipboardText(std::string* text) override;
  bool SetClipboardText(const std::string& text) override;

 private:
  LiveDisplay* display_;
};

// The virtual key of an X key symbol (0 when the model has none for it).
VKT_API UINT VirtualKeyOfKeysym(uint32_t keysym);

}  // namespace vkt::win

#endif  // VKT_WIN_X11_H_
