// A private CUPS scheduler for tests: its own folder under /tmp, a local
// socket, and raw queues whose device is a capture file, so a test reads
// back exactly the bytes a printer would receive.
//
//   ThrowawayCups cups;
//   VKT_START_CUPS(cups);            // or: ASSERT_TRUE(cups.Start(&why)) << why;
//   vkt::print_io::SetServer(cups.socket());
//   ... print to "vkt-raw" ...
//   std::string bytes = cups.WaitCapture("vkt-raw", expected.size());
//
// Queues: "vkt-raw" (default, location "Ufficio"), "vkt-shared" (shared,
// location "Magazzino", landscape by default, 2 copies) and "vkt-stopped"
// (stopped and not accepting jobs).
#ifndef VKT_TESTS_PLATFORM_PRINT_THROWAWAY_CUPS_H_
#define VKT_TESTS_PLATFORM_PRINT_THROWAWAY_CUPS_H_

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/saapi_drivers/server_env.h"

extern char** environ;

namespace vkt::testing {

class ThrowawayCups {
 public:
  static constexpr const char* kCupsd = "/usr/sbin/cupsd";

  ThrowawayCups() = default;
  ~ThrowawayCups() { Stop(); }
  ThrowawayCups(const ThrowawayCups&) = delete;
  ThrowawayCups& operator=(const ThrowawayCups&) = delete;

  bool Start(std::string* why) {
    if (access(kCupsd, X_OK) != 0) {
      *why = std::string(kCupsd) + " missing: run scripts/install-deps (package cups-daemon)";
      return false;
    }
    char templ[] = "/tmp/vktcups.XXXXXX";
    if (mkdtemp(templ) == nullptr) {
      *why = "mkdtemp failed";
      return false;
    }
    dir_ = templ;
    chmod(dir_.c_str(), 0755);
    for (const char* sub : {"conf", "spool", "tmp", "cache", "state", "log", "out", "ssl",
                            "serverbin", "serverbin/backend"})
      std::filesystem::create_directories(dir_ + "/" + sub);
    chmod((dir_ + "/out").c_str(), 0777);
    // The scheduler's helpers stay the installed ones; only the backends are ours.
    for (const char* helper : {"filter", "daemon", "cgi-bin", "monitor", "notifier", "driver"}) {
      std::string from = std::string("/usr/lib/cups/") + helper;
      if (access(from.c_str(), F_OK) == 0)
        symlink(from.c_str(), (dir_ + "/serverbin/" + helper).c_str());
    }
    // The capture device: appends each job's bytes to the file in its URI.
    // Mode 0700 makes the scheduler run it as its own user.
    Write(dir_ + "/serverbin/backend/capture",
          "#!/bin/sh\n"
          "[ $# -eq 0 ] && { echo 'direct capture \"Unknown\" \"capture\"'; exit 0; }\n"
          "out=${DEVICE_URI#capture:}\n"
          "if [ -n \"$6\" ]; then cat \"$6\" >> \"$out\"; else cat >> \"$out\"; fi\n");
    chmod((dir_ + "/serverbin/backend/capture").c_str(), 0700);
    Write(dir_ + "/conf/cupsd.conf",
          "Listen " + socket() + "\n"
          "LogLevel debug\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
          "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
          "<Policy default>\n  <Limit All>\n    Order allow,deny\n    Allow all\n"
          "  </Limit>\n</Policy>\n");
    Write(dir_ + "/conf/cups-files.conf",
          "ServerRoot " + dir_ + "/conf\nRequestRoot " + dir_ + "/spool\nTempDir " + dir_ +
              "/tmp\nCacheDir " + dir_ + "/cache\nStateDir " + dir_ + "/state\nServerBin " +
              dir_ + "/serverbin\nDataDir /usr/share/cups\nServerKeychain " + dir_ +
              "/ssl\nErrorLog " + dir_ + "/log/error_log\nAccessLog " + dir_ +
              "/log/access_log\nPageLog " + dir_ + "/log/page_log\nPrintcap " + dir_ +
              "/printcap\nFileDevice Yes\nSandboxing Relaxed\n");
    Write(dir_ + "/conf/printers.conf",
          "<DefaultPrinter vkt-raw>\nInfo Stampante di prova\nLocation Ufficio\n"
          "DeviceURI capture:" + CapturePath("vkt-raw") + "\nState Idle\nAccepting Yes\n"
          "Shared No\n</DefaultPrinter>\n"
          "<Printer vkt-shared>\nInfo Condivisa\nLocation Magazzino\n"
          "DeviceURI capture:" + CapturePath("vkt-shared") + "\nState Idle\nAccepting Yes\n"
          "Shared Yes\nOption orientation-requested 4\nOption copies 2\n</Printer>\n"
          "<Printer vkt-stopped>\nInfo Ferma\nDeviceURI capture:" + CapturePath("vkt-stopped") +
          "\nState Stopped\nAccepting No\nShared No\n</Printer>\n");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string log = dir_ + "/log/stdout";
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string conf = dir_ + "/conf/cupsd.conf", files = dir_ + "/conf/cups-files.conf";
    std::vector<std::string> args = {kCupsd, "-f", "-c", conf, "-s", files};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, kCupsd, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      pid_ = 0;
      *why = "cupsd did not start";
      return false;
    }
    for (int i = 0; i < 200; ++i) {
      if (Reachable()) return true;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        *why = "cupsd exited: " + Read(log) + Read(dir_ + "/log/error_log");
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    *why = "cupsd not listening: " + Read(dir_ + "/log/error_log");
    return false;
  }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = 0;
    }
    if (!dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
      dir_.clear();
    }
  }

  std::string socket() const { return dir_ + "/cups.sock"; }
  std::string CapturePath(const std::string& printer) const {
    return dir_ + "/out/" + printer + ".prn";
  }

  // The capture file once it holds `size` bytes (or whatever it holds after
  // the timeout), then emptied for the next job.
  std::string WaitCapture(const std::string& printer, size_t size, int timeout_ms = 20000) {
    const std::string path = CapturePath(printer);
    std::string bytes;
    for (int waited = 0; waited < timeout_ms; waited += 50) {
      bytes = Read(path);
      if (bytes.size() >= size) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // A few more moments: a longer output than expected must show.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    bytes = Read(path);
    std::ofstream(path, std::ios::binary | std::ios::trunc);
    return bytes;
  }

  // The capture file once it holds a whole PDF (its "%%EOF" written and
  // the file no longer growing), or whatever it holds after the timeout;
  // then emptied for the next job.
  std::string WaitPdf(const std::string& printer, int timeout_ms = 20000) {
    const std::string path = CapturePath(printer);
    std::string bytes;
    size_t before = 0;
    for (int waited = 0; waited < timeout_ms; waited += 100) {
      bytes = Read(path);
      if (bytes.size() == before && bytes.find("%%EOF") != std::string::npos) break;
      before = bytes.size();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc);
    return bytes;
  }

  std::string ErrorLog() const { return Read(dir_ + "/log/error_log"); }

 private:
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  bool Reachable() const {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string s = socket();
    if (s.size() >= sizeof addr.sun_path) {
      close(fd);
      return false;
    }
    std::copy(s.begin(), s.end(), addr.sun_path);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
  }

  std::string dir_;
  pid_t pid_ = 0;
};

}  // namespace vkt::testing

// Starts `cups` or ends the test: where no scheduler can be started it is
// skipped, except in CI (CI=true), where scripts/install-deps provides one
// and its absence is a failure.
#define VKT_START_CUPS(cups)                                              \
  do {                                                                    \
    std::string vkt_cups_why_;                                            \
    if (!(cups).Start(&vkt_cups_why_)) {                                  \
      if (::vkt::testing::InCi()) FAIL() << "in CI: " << vkt_cups_why_;   \
      GTEST_SKIP() << vkt_cups_why_;                                      \
    }                                                                     \
  } while (0)

#endif  // VKT_TESTS_PLATFORM_PRINT_THROWAWAY_CUPS_H_
