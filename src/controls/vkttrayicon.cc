#include "controls/vkttrayicon.h"

#include <systemd/sd-bus.h>

#include "win/cp1252.h"
#include "win/services.h"
#include "win/winconst.h"

namespace vkt::controls {
namespace {

TrayNotifier* g_notifier = nullptr;

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

// The session bus, or null. The caller unrefs it.
sd_bus* SessionBus() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return nullptr;
  return bus;
}

bool HasService(sd_bus* bus) {
  sd_bus_error err = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int has = 0;
  const int r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus", "NameHasOwner", &err, &reply, "s",
                                   kService);
  if (r >= 0 && sd_bus_message_read(reply, "b", &has) < 0) has = 0;
  sd_bus_message_unref(reply);
  sd_bus_error_free(&err);
  return r >= 0 && has != 0;
}

}  // namespace

TrayNotifier::~TrayNotifier() = default;

std::string BalloonLine(const Balloon& b) {
  std::string line = "Notifica";
  if (!b.app.empty()) line += " " + b.app;
  line += ": " + b.title;
  if (!b.text.empty()) line += " - " + b.text;
  return line;
}

bool LoggedNotifier::Show(const Balloon& b) {
  services().Notice(BalloonLine(b));
  return true;
}

bool DesktopNotifier::Available() {
  sd_bus* bus = SessionBus();
  if (bus == nullptr) return false;
  const bool ok = HasService(bus);
  sd_bus_flush_close_unref(bus);
  return ok;
}

bool DesktopNotifier::Show(const Balloon& b) {
  sd_bus* bus = SessionBus();
  if (bus == nullptr) return false;
  const char* icon = "";
  switch (b.icon_flags & NIIF_ICON_MASK) {
    case NIIF_INFO: icon = "dialog-information"; break;
    case NIIF_WARNING: icon = "dialog-warning"; break;
    case NIIF_ERROR: icon = "dialog-error"; break;
    default: break;
  }
  // The bus carries UTF-8.
  const std::string app = vkt::win::Cp1252ToUtf8(b.app), title = vkt::win::Cp1252ToUtf8(b.title),
                    text = vkt::win::Cp1252ToUtf8(b.text);
  sd_bus_error err = SD_BUS_ERROR_NULL;
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  const int32_t expire = b.timeout_ms == 0 ? -1 : static_cast<int32_t>(b.timeout_ms);
  int r = sd_bus_message_new_method_call(bus, &call, kService, kPath, kService, "Notify");
  if (r >= 0)
    r = sd_bus_message_append(call, "susssasa{sv}i", app.c_str(), 0u, icon, title.c_str(),
                              text.c_str(), 0, 0, expire);
  // sd-bus would wait 25 s for a service that hangs.
  if (r >= 0) r = sd_bus_call(bus, call, uint64_t{kAnswerTimeoutMs} * 1000, &err, &reply);
  uint32_t id = 0;
  if (r >= 0 && sd_bus_message_read(reply, "u", &id) >= 0) last_id_ = id;
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  sd_bus_error_free(&err);
  sd_bus_flush_close_unref(bus);
  return r >= 0;
}

TrayNotifier& Notifier() {
  if (g_notifier != nullptr) return *g_notifier;
  static DesktopNotifier desktop;
  static LoggedNotifier logged;
  // Asked again each time: the desktop's service comes and goes.
  if (DesktopNotifier::Available()) return desktop;
  return logged;
}

TrayNotifier* SetNotifier(TrayNotifier* n) {
  TrayNotifier* old = g_notifier;
  g_notifier = n;
  return old;
}

}  // namespace vkt::controls

CXTPTrayIcon::~CXTPTrayIcon() = default;

BOOL CXTPTrayIcon::Create(const char* tooltip, CWnd*) {
  SetTooltipText(tooltip);
  created_ = true;
  return TRUE;
}

BOOL CXTPTrayIcon::ShowBalloonTip(const char* text, const char* title, unsigned long icon_flags,
                                  unsigned timeout_ms) {
  if (!created_) return FALSE;
  vkt::controls::Balloon b;
  b.app = tooltip_;
  b.title = title != nullptr ? title : "";
  b.text = text != nullptr ? text : "";
  b.icon_flags = icon_flags;
  b.timeout_ms = timeout_ms;
  const bool chosen = vkt::controls::g_notifier == nullptr;
  vkt::controls::TrayNotifier& n = vkt::controls::Notifier();
  if (n.Show(b)) return TRUE;
  // The desktop went away between the choice and the call.
  if (chosen && dynamic_cast<vkt::controls::DesktopNotifier*>(&n) != nullptr)
    return vkt::controls::LoggedNotifier().Show(b) ? TRUE : FALSE;
  return FALSE;
}

CVKTTrayIcon::CVKTTrayIcon() = default;
CVKTTrayIcon::~CVKTTrayIcon() = default;

bool CVKTTrayIcon::ShowMessage(const char* title, const char* text, unsigned long icon_flags,
                               unsigned int action, const char* link, unsigned int timeout) {
  action_ = action;
  if (action == 1) link_ = link;
  return ShowBalloonTip(text, title, icon_flags, timeout) != FALSE;
}

void CVKTTrayIcon::DoAction(unsigned int action, const char* link) {
  if (action != 0) action_ = action;
  if (link != nullptr && action_ == 1) link_ = link;
  if (action_ == 1 && !link_.IsEmpty())
    vkt::services().ShellExecute(link_.str(), "", "", SW_SHOWNORMAL);
}
