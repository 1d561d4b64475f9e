// The desktop notifier against a real D-Bus daemon: a private session bus
// started for each test, and a peer on it that owns the notification
// service and keeps every Notify call it receives.
#include <signal.h>
#include <stdlib.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "controls/vkttrayicon.h"
#include "system_fixture.h"

namespace {

using vkt::controls::Balloon;
using vkt::controls::DesktopNotifier;

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

// One Notify call as it reached the service.
struct NotifyCall {
  std::string app;
  uint32_t replaces = 0;
  std::string icon, summary, body;
  std::vector<std::string> actions;
  int hints = 0;
  int32_t timeout = 0;
};

// The notification service: a connection of its own on the bus, served by
// a thread until Leave (or the destructor) closes it and the name goes.
class NotificationPeer {
 public:
  enum class Mode {
    kAnswer,   // replies with ids 41, 42, ...
    kHangUp,   // takes the call, then leaves the bus without replying
    kSilent,   // takes the call and never replies
  };

  ~NotificationPeer() { Leave(); }

  // Connects to `address` and owns the service name; false on any failure.
  bool Join(const std::string& address, Mode mode) {
    mode_ = mode;
    if (sd_bus_new(&bus_) < 0) return false;
    if (sd_bus_set_address(bus_, address.c_str()) < 0 || sd_bus_set_bus_client(bus_, 1) < 0 ||
        sd_bus_start(bus_) < 0)
      return false;
    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", OnNotify, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};
    if (sd_bus_add_object_vtable(bus_, nullptr, kPath, kName, vtable, this) < 0) return false;
    if (sd_bus_request_name(bus_, kName, 0) < 0) return false;
    thread_ = std::thread([this] { Serve(); });
    return true;
  }

  // Closes the connection: the bus drops the name and any call not answered.
  void Leave() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (sd_bus_message* m : held_) sd_bus_message_unref(m);
    held_.clear();
    if (bus_ != nullptr) bus_ = sd_bus_flush_close_unref(bus_);
  }

  std::vector<NotifyCall> calls() {
    std::lock_guard<std::mutex> lock(mu_);
    return calls_;
  }
  // True once the thread left the bus by itself (kHangUp).
  bool hung_up() const { return hung_up_; }

 private:
  void Serve() {
    while (!stop_) {
      if (hang_up_now_) {
        // Gone without a word: the daemon answers the caller for us.
        bus_ = sd_bus_flush_close_unref(bus_);
        hung_up_ = true;
        return;
      }
      const int r = sd_bus_process(bus_, nullptr);
      if (r < 0) return;
      if (r > 0) continue;
      sd_bus_wait(bus_, 20000);
    }
  }

  static int OnNotify(sd_bus_message* m, void* data, sd_bus_error*) {
    auto* self = static_cast<NotificationPeer*>(data);
    NotifyCall c;
    const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
    int r = sd_bus_message_read(m, "susss", &app, &c.replaces, &icon, &summary, &body);
    if (r < 0) return r;
    c.app = app;
    c.icon = icon;
    c.summary = summary;
    c.body = body;
    char** actions = nullptr;
    if ((r = sd_bus_message_read_strv(m, &actions)) < 0) return r;
    for (char** a = actions; a != nullptr && *a != nullptr; ++a) {
      c.actions.emplace_back(*a);
      free(*a);
    }
    free(actions);
    if ((r = sd_bus_message_enter_container(m, 'a', "{sv}")) < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
      ++c.hints;
      if ((r = sd_bus_message_skip(m, "sv")) < 0) return r;
      if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0) return r;
    if ((r = sd_bus_message_read(m, "i", &c.timeout)) < 0) return r;
    {
      std::lock_guard<std::mutex> lock(self->mu_);
      self->calls_.push_back(c);
    }
    switch (self->mode_) {
      case Mode::kAnswer:
        return sd_bus_reply_method_return(m, "u", ++self->next_id_);
      case Mode::kHangUp:
        self->hang_up_now_ = true;
        return 1;
      case Mode::kSilent:
        // Held, so that sd-bus does not answer for us.
        self->held_.push_back(sd_bus_message_ref(m));
        return 1;
    }
    return 1;
  }

  sd_bus* bus_ = nullptr;
  Mode mode_ = Mode::kAnswer;
  std::thread thread_;
  std::atomic<bool> stop_{false}, hang_up_now_{false}, hung_up_{false};
  std::mutex mu_;
  std::vector<NotifyCall> calls_;
  std::vector<sd_bus_message*> held_;
  uint32_t next_id_ = 40;
};

// A private session bus: dbus-daemon with the session configuration, its
// address in DBUS_SESSION_BUS_ADDRESS for the test, and no activatable
// services (a notification daemon installed on the machine must not start).
class TrayBusTest : public vkt::test::SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    if (const char* old = getenv("DBUS_SESSION_BUS_ADDRESS")) saved_address_ = old;
    had_address_ = getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr;
    ASSERT_EQ(access("/usr/bin/dbus-daemon", X_OK), 0) << "dbus-daemon is not installed";
    StartDaemon();
    previous_ = vkt::controls::SetNotifier(nullptr);
  }
  void TearDown() override {
    vkt::controls::SetNotifier(previous_);
    StopDaemon();
    if (had_address_)
      setenv("DBUS_SESSION_BUS_ADDRESS", saved_address_.c_str(), 1);
    else
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
    SystemTest::TearDown();
  }

  void StartDaemon() {
    const std::string data = dir_ / "xdg";
    std::filesystem::create_directories(data);
    daemon_ = vkt::testing::Spawn({"/usr/bin/env", "XDG_DATA_DIRS=" + data,
                                   "XDG_DATA_HOME=" + data, "/usr/bin/dbus-daemon", "--session",
                                   "--nofork", "--print-address"});
    ASSERT_GT(daemon_.pid, 0);
    address_ = vkt::testing::ReadLine(daemon_.out, 10000);
    ASSERT_EQ(address_.rfind("unix:", 0), 0u) << "dbus-daemon gave no address: " << address_;
    setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
  }
  void StopDaemon() {
    if (daemon_.pid <= 0) return;
    kill(daemon_.pid, SIGTERM);
    vkt::testing::WaitExit(daemon_.pid);
    close(daemon_.out);
    close(daemon_.in);
    daemon_.pid = -1;
  }

  static Balloon Make(const std::string& app, const std::string& title, const std::string& text,
                      unsigned long flags, unsigned timeout) {
    Balloon b;
    b.app = app;
    b.title = title;
    b.text = text;
    b.icon_flags = flags;
    b.timeout_ms = timeout;
    return b;
  }

  vkt::testing::Child daemon_;
  std::string address_, saved_address_;
  bool had_address_ = false;
  vkt::controls::TrayNotifier* previous_ = nullptr;
};

TEST_F(TrayBusTest, BalloonsReachTheServiceAsUtf8WithTheirIconAndTimeout) {
  EXPECT_FALSE(DesktopNotifier::Available());  // a bus, but nobody on it
  NotificationPeer peer;
  ASSERT_TRUE(peer.Join(address_, NotificationPeer::Mode::kAnswer));
  EXPECT_TRUE(DesktopNotifier::Available());

  DesktopNotifier n;
  EXPECT_EQ(n.last_id(), 0u);
  // Windows-1252: e grave, the euro sign, curly quotes.
  ASSERT_TRUE(n.Show(Make("Caff\xE8 Mirto", "Scadenze \x80 100",
                          "\x93Rossi\x94: 3 fatture, pi\xF9 di 30 giorni", NIIF_WARNING, 5000)));
  EXPECT_EQ(n.last_id(), 41u);
  ASSERT_TRUE(n.Show(Make("Mirto", "Informazione", "Copia completata", NIIF_INFO, 0)));
  EXPECT_EQ(n.last_id(), 42u);
  ASSERT_TRUE(n.Show(Make("Mirto", "Errore", "Disco pieno", NIIF_ERROR, 1)));
  ASSERT_TRUE(n.Show(Make("", "Solo titolo", "", NIIF_NONE, 60000)));
  EXPECT_EQ(n.last_id(), 44u);

  const std::vector<NotifyCall> calls = peer.calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].app, "Caff\xC3\xA8 Mirto");
  EXPECT_EQ(calls[0].summary, "Scadenze \xE2\x82\xAC 100");
  EXPECT_EQ(calls[0].body,
            "\xE2\x80\x9CRossi\xE2\x80\x9D: 3 fatture, pi\xC3\xB9 di 30 giorni");
  EXPECT_EQ(calls[0].icon, "dialog-warning");
  EXPECT_EQ(calls[0].timeout, 5000);
  EXPECT_EQ(calls[0].replaces, 0u);  // always a new notification
  EXPECT_TRUE(calls[0].actions.empty());
  EXPECT_EQ(calls[0].hints, 0);
  EXPECT_EQ(calls[1].icon, "dialog-information");
  EXPECT_EQ(calls[1].timeout, -1);  // 0: the service's own expiry
  EXPECT_EQ(calls[1].summary, "Informazione");
  EXPECT_EQ(calls[1].body, "Copia completata");
  EXPECT_EQ(calls[2].icon, "dialog-error");
  EXPECT_EQ(calls[2].timeout, 1);
  EXPECT_EQ(calls[3].icon, "");
  EXPECT_EQ(calls[3].app, "");
  EXPECT_EQ(calls[3].body, "");
  EXPECT_EQ(calls[3].timeout, 60000);
  EXPECT_TRUE(fake_.notices().empty());  // nothing went to the log
}

TEST_F(TrayBusTest, TheTrayIconUsesTheServiceWhileItIsThereAndTheLogOnceItIsGone) {
  CVKTTrayIcon tray;
  ASSERT_TRUE(tray.Create("Mirto Gestionale", nullptr));
  {
    NotificationPeer peer;
    ASSERT_TRUE(peer.Join(address_, NotificationPeer::Mode::kAnswer));
    EXPECT_NE(dynamic_cast<DesktopNotifier*>(&vkt::controls::Notifier()), nullptr);
    EXPECT_TRUE(tray.ShowMessage("Aggiornamento", "\xC8 disponibile la versione 2.1", NIIF_INFO, 1,
                                 "https://www.example.org/novita", 8000));
    const std::vector<NotifyCall> calls = peer.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].app, "Mirto Gestionale");
    EXPECT_EQ(calls[0].summary, "Aggiornamento");
    EXPECT_EQ(calls[0].body, "\xC3\x88 disponibile la versione 2.1");
    EXPECT_EQ(calls[0].timeout, 8000);
    EXPECT_TRUE(fake_.notices().empty());
    peer.Leave();
    EXPECT_FALSE(DesktopNotifier::Available());
    DesktopNotifier direct;
    EXPECT_FALSE(direct.Show(Make("Mirto", "Perso", "", NIIF_NONE, 0)));
    EXPECT_EQ(direct.last_id(), 0u);
    // The balloon's link still opens when the user acts on it.
    tray.DoAction(0, nullptr);
    ASSERT_EQ(fake_.shell_calls().size(), 1u);
    EXPECT_EQ(fake_.shell_calls()[0].rfind("https://www.example.org/novita|", 0), 0u);
  }
  // The choice follows the bus: the next balloon is logged, not lost.
  EXPECT_EQ(dynamic_cast<DesktopNotifier*>(&vkt::controls::Notifier()), nullptr);
  EXPECT_TRUE(tray.ShowMessage("Backup", "Copia completata", NIIF_NONE, 0, nullptr, 0));
  ASSERT_EQ(fake_.notices().size(), 1u);
  EXPECT_EQ(fake_.notices()[0], "Notifica Mirto Gestionale: Backup - Copia completata");

  // A service back on the bus is used again.
  NotificationPeer again;
  ASSERT_TRUE(again.Join(address_, NotificationPeer::Mode::kAnswer));
  EXPECT_TRUE(tray.ShowMessage("Di nuovo", "", NIIF_NONE, 0, nullptr, 0));
  EXPECT_EQ(again.calls().size(), 1u);
  EXPECT_EQ(fake_.notices().size(), 1u);
}

TEST_F(TrayBusTest, AServiceThatLeavesOrHangsDuringTheCallFailsItPromptly) {
  DesktopNotifier n;
  {
    NotificationPeer peer;
    ASSERT_TRUE(peer.Join(address_, NotificationPeer::Mode::kHangUp));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(n.Show(Make("Mirto", "A met\xE0", "", NIIF_INFO, 0)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(peer.calls().size(), 1u);  // it did arrive
    EXPECT_TRUE(peer.hung_up());
    EXPECT_FALSE(DesktopNotifier::Available());
  }
  {
    NotificationPeer peer;
    ASSERT_TRUE(peer.Join(address_, NotificationPeer::Mode::kSilent));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(n.Show(Make("Mirto", "Nessuna risposta", "", NIIF_INFO, 0)));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(DesktopNotifier::kAnswerTimeoutMs - 100));
    EXPECT_LT(waited, std::chrono::milliseconds(DesktopNotifier::kAnswerTimeoutMs + 3000));
    EXPECT_EQ(peer.calls().size(), 1u);
  }
  EXPECT_EQ(n.last_id(), 0u);
  // Through the tray icon the lost balloon is logged instead.
  NotificationPeer leaving;
  ASSERT_TRUE(leaving.Join(address_, NotificationPeer::Mode::kHangUp));
  CVKTTrayIcon tray;
  tray.Create("Mirto", nullptr);
  EXPECT_TRUE(tray.ShowMessage("Avviso", "Servizio assente", NIIF_WARNING, 0, nullptr, 0));
  EXPECT_EQ(leaving.calls().size(), 1u);
  ASSERT_EQ(fake_.notices().size(), 1u);
  EXPECT_EQ(fake_.notices()[0], "Notifica Mirto: Avviso - Servizio assente");
}

TEST_F(TrayBusTest, WithoutABusNothingIsAvailableAndShowFails) {
  StopDaemon();  // the daemon itself is gone; its address stays set
  EXPECT_FALSE(DesktopNotifier::Available());
  DesktopNotifier n;
  EXPECT_FALSE(n.Show(Make("Mirto", "Titolo", "Testo", NIIF_INFO, 1000)));
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vkt-bus", 1);
  EXPECT_FALSE(DesktopNotifier::Available());
  EXPECT_FALSE(n.Show(Make("Mirto", "Titolo", "Testo", NIIF_INFO, 1000)));
  CVKTTrayIcon tray;
  tray.Create("Mirto", nullptr);
  EXPECT_TRUE(tray.ShowMessage("Titolo", "Testo", NIIF_INFO, 0, nullptr, 0));
  ASSERT_EQ(fake_.notices().size(), 1u);
  EXPECT_EQ(fake_.notices()[0], "Notifica Mirto: Titolo - Testo");
}

}  // namespace
