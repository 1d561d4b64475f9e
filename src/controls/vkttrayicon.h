// The application's notification-area icon and its balloon messages. A
// balloon can carry an action: 1 opens a link when the host reports that
// the user acted on it (DoAction).
//
// Balloons go to a notifier: on a desktop, the session's notification
// service (org.freedesktop.Notifications); without one, the services
// seam's log (Services::Notice). Tests install a RecordingNotifier.
//
//   CVKTTrayIcon tray;
//   tray.Create("Mirto", nullptr);
//   tray.ShowMessage("Aggiornamento", "Nuova versione disponibile", NIIF_INFO, 1,
//                    "https://example.org/novita", 10000);
//   ...                                  // the user clicks the balloon
//   tray.DoAction(0, nullptr);           // opens the link
#ifndef VKT_CONTROLS_VKTTRAYICON_H_
#define VKT_CONTROLS_VKTTRAYICON_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vkt_export.h"
#include "win/cstring.h"
#include "win/window.h"

// Balloon icon flags.
constexpr unsigned long NIIF_NONE = 0x0;
constexpr unsigned long NIIF_INFO = 0x1;
constexpr unsigned long NIIF_WARNING = 0x2;
constexpr unsigned long NIIF_ERROR = 0x3;
constexpr unsigned long NIIF_ICON_MASK = 0xF;

namespace vkt::controls {

struct Balloon {
  std::string app;    // the tray icon's tooltip: the application
  std::string title;  // Windows-1252, as the host gave them
  std::string text;
  unsigned long icon_flags = 0;
  unsigned timeout_ms = 0;
};

class VKT_API TrayNotifier {
 public:
  virtual ~TrayNotifier();
  // Shows the balloon; false when it could not be shown.
  virtual bool Show(const Balloon& b) = 0;
};

// Writes "Notifica <app>: <title> - <text>" to services().Notice.
class VKT_API LoggedNotifier : public TrayNotifier {
 public:
  bool Show(const Balloon& b) override;
};

// Keeps every balloon; answers `result`.
class VKT_API RecordingNotifier : public TrayNotifier {
 public:
  bool Show(const Balloon& b) override {
    shown.push_back(b);
    return result;
  }
  std::vector<Balloon> shown;
  bool result = true;
};

// The desktop's notification service on the session bus. The balloon goes
// as UTF-8 with a freedesktop icon name for its flags; a timeout of 0 leaves
// the expiry to the service (-1). Show is false when there is no session bus,
// no service on it, or the service does not answer within kAnswerTimeoutMs
// (the caller is the user interface thread: it never waits longer).
class VKT_API DesktopNotifier : public TrayNotifier {
 public:
  static constexpr unsigned kAnswerTimeoutMs = 3000;
  bool Show(const Balloon& b) override;
  // True when the session bus has the notification service.
  static bool Available();
  // The id of the last notification shown (0 before any).
  uint32_t last_id() const { return last_id_; }

 private:
  uint32_t last_id_ = 0;
};

// The notifier balloons go to: the one installed, else the desktop's when
// it is available at that moment, else the logged one. Null restores the
// choice. Without an installed notifier a balloon the desktop failed to
// show goes to the log, so that none is lost when the service goes away.
VKT_API TrayNotifier& Notifier();
VKT_API TrayNotifier* SetNotifier(TrayNotifier* n);

// The text of a balloon as the log shows it.
VKT_API std::string BalloonLine(const Balloon& b);

}  // namespace vkt::controls

// The tray icon itself: a tooltip and the balloons.
class VKT_API CXTPTrayIcon {
 public:
  virtual ~CXTPTrayIcon();
  // Puts the icon in the notification area with `tooltip`.
  virtual BOOL Create(const char* tooltip, CWnd* parent);
  BOOL IsCreated() const { return created_; }
  void SetTooltipText(const char* tooltip) { tooltip_ = tooltip != nullptr ? tooltip : ""; }
  const std::string& GetTooltipText() const { return tooltip_; }
  // Shows a balloon; false when the icon is not created or it could not
  // be shown.
  BOOL ShowBalloonTip(const char* text, const char* title, unsigned long icon_flags,
                      unsigned timeout_ms);

 private:
  std::string tooltip_;
  bool created_ = false;
};

class VKT_API CVKTTrayIcon : public CXTPTrayIcon {
 public:
  CVKTTrayIcon();
  ~CVKTTrayIcon() override;

  bool ShowMessage(const char* title, const char* text, unsigned long icon_flags,
                   unsigned int action, const char* link, unsigned int timeout);
  void DoAction(unsigned int action, const char* link);

  uint32_t GetAction() const { return action_; }
  const CString& GetLink() const { return link_; }

 private:
  uint32_t action_ = 0;
  CString link_;
};

#endif  // VKT_CONTROLS_VKTTRAYICON_H_
