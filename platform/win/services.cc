#include "win/services.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>
#include <thread>
#include <vector>

#include "win/ini_file.h"

extern char** environ;

namespace vkt {
namespace {

Services* g_current = nullptr;

SystemServices& DefaultServices() {
  // Never destroyed: destructors of other statics may still report through it.
  static SystemServices* s = new SystemServices();
  return *s;
}

std::string DefaultProfilePath() {
  if (const char* p = std::getenv("VKT_PROFILE"); p != nullptr && *p != '\0')
    return p;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && *x != '\0')
    return std::string(x) + "/vktdlg/profile.ini";
  if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0')
    return std::string(h) + "/.config/vktdlg/profile.ini";
  return "vktdlg-profile.ini";
}

const char* AnswerName(int id) {
  switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Annulla";
    case IDABORT: return "Interrompi";
    case IDRETRY: return "Riprova";
    case IDIGNORE: return "Ignora";
    case IDYES: return "S\xEC";
    case IDNO: return "No";
    default: return "?";
  }
}

// The words of a command line as a Windows program's startup code splits
// them: blanks and tabs separate, double quotes group and are dropped, and
// backslashes escape a quote (2n + 1 of them before a quote give n and a
// literal quote, 2n give n and a grouping quote); other backslashes are
// kept as they are.
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> words;
  const size_t n = line.size();
  size_t i = 0;
  for (;;) {
    while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= n) break;
    std::string word;
    bool quoted = false;
    while (i < n && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      if (line[i] == '\\') {
        size_t slashes = 0;
        while (i < n && line[i] == '\\') {
          ++slashes;
          ++i;
        }
        if (i < n && line[i] == '"') {
          word.append(slashes / 2, '\\');
          if (slashes % 2 == 1) {
            word += '"';
            ++i;
          }
        } else {
          word.append(slashes, '\\');
        }
        continue;
      }
      if (line[i] == '"') quoted = !quoted;
      else word += line[i];
      ++i;
    }
    words.push_back(std::move(word));
  }
  return words;
}

}  // namespace

Services::~Services() = default;

int Services::GetProfileInt(const std::string& section, const std::string& entry,
                            int default_value) {
  std::string v = GetProfileString(section, entry, "");
  if (v.empty()) return default_value;
  // As GetProfileInt: leading digits, optional sign; no digits gives 0.
  return static_cast<int>(std::strtol(v.c_str(), nullptr, 10));
}

bool Services::WriteProfileInt(const std::string& section,
                               const std::string& entry, int value) {
  return WriteProfileString(section, entry, std::to_string(value));
}

Services& services() { return g_current != nullptr ? *g_current : DefaultServices(); }

Services* SetServices(Services* s) {
  Services* previous = g_current;
  g_current = s;
  return previous;
}

// --- SystemServices -----------------------------------------------------------

SystemServices::SystemServices() : profile_path_(DefaultProfilePath()) {}
SystemServices::~SystemServices() = default;

int SystemServices::MessageBox(const std::string& text, const std::string& caption,
                               unsigned type) {
  // No window system here: the box is a block of text on standard error and
  // the answer is the box's default button, as if Enter had been pressed.
  int answer = win::DefaultAnswer(type);
  std::fprintf(stderr, "[%s] %s [%s]\n", caption.c_str(), text.c_str(),
               AnswerName(answer));
  std::fflush(stderr);
  return answer;
}

void SystemServices::Beep(unsigned, unsigned) {
  // The terminal bell is the only sound a console host has.
  if (isatty(STDERR_FILENO)) {
    std::fputc('\a', stderr);
    std::fflush(stderr);
  }
}

void SystemServices::WaitCursor(bool show) { wait_cursor_ += show ? 1 : -1; }

void SystemServices::Sleep(uint32_t ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t SystemServices::NowMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t SystemServices::MonotonicMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SystemServices::LocalTime(int64_t unix_seconds, std::tm* out) {
  time_t t = static_cast<time_t>(unix_seconds);
  if (static_cast<int64_t>(t) != unix_seconds) return false;
  return localtime_r(&t, out) != nullptr;
}

int32_t SystemServices::TimeZoneBias() {
  // glibc's `timezone` is the standard offset in seconds west of UTC, which
  // is exactly the Windows bias in seconds.
  tzset();
  return static_cast<int32_t>(timezone / 60);
}

std::string SystemServices::LoadString(uint32_t id) {
  auto it = strings_.find(id);
  return it == strings_.end() ? std::string() : it->second;
}

void SystemServices::Exit(int code) {
  std::fflush(nullptr);
  // The process keeps 8 bits of its exit code: a failure whose low byte is
  // 0 (256, 512...) must still not end as success.
  int status = code & 0xFF;
  if (status == 0 && code != 0) status = 1;
  std::exit(status);
}

bool SystemServices::GetClipboardText(std::string* text) {
  if (!has_clipboard_) return false;
  *text = clipboard_;
  return true;
}

bool SystemServices::SetClipboardText(const std::string& text) {
  clipboard_ = text;
  has_clipboard_ = true;
  return true;
}

std::string SystemServices::GetProfileString(const std::string& section,
                                             const std::string& entry,
                                             const std::string& default_value) {
  return win::ReadIniString(profile_path_, section, entry, default_value);
}

bool SystemServices::WriteProfileString(const std::string& section,
                                        const std::string& entry,
                                        const std::string& value) {
  return win::WriteIniString(profile_path_, section, entry, value);
}

bool SystemServices::IsMainWindowZoomed() { return false; }

bool SystemServices::ShellExecute(const std::string& file_in, const std::string& params,
                                  const std::string& directory, int) {
  std::string file = file_in;
  if (file == "calc.exe") {
    // The host asks for the Windows calculator: take the desktop's own.
    const char* chosen = std::getenv("VKT_CALCULATOR");
    file.clear();
    if (chosen != nullptr && *chosen != '\0') {
      file = chosen;
    } else {
      for (const char* c : {"/usr/bin/gnome-calculator", "/usr/bin/kcalc",
                            "/usr/bin/galculator", "/usr/bin/xcalc"}) {
        if (access(c, X_OK) == 0) {
          file = c;
          break;
        }
      }
    }
    if (file.empty()) return false;
  }
  std::vector<std::string> args = {file};
  for (std::string& word : SplitCommandLine(params)) args.push_back(std::move(word));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Started directly from its argument vector: no shell ever reads the
  // words. glibc's posix_spawn returns only once the exec has happened or
  // failed, so a missing program, a refused one and a folder that cannot be
  // entered all come back here as an error, never as a child that dies
  // unseen.
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  int rc = 0;
  if (!directory.empty())
    rc = posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  // Only the standard streams go with it: the host's tables, locks and
  // sockets stay the host's.
  if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // The program starts with no signal blocked or ignored by its host.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &none);
  if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &all);
  if (rc == 0) rc = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  if (rc == 0) {
    // A bare name is looked up in $PATH, as a command line would.
    rc = file.find('/') == std::string::npos
             ? posix_spawnp(&pid, file.c_str(), &actions, &attr, argv.data(), environ)
             : posix_spawn(&pid, file.c_str(), &actions, &attr, argv.data(), environ);
  }
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  // The program runs on by itself; a waiter of its own collects it when it
  // ends, so it never lingers as a zombie.
  try {
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the program still runs, only uncollected.
  }
  return true;
}

void SystemServices::Notice(const std::string& text) {
  std::fprintf(stderr, "vktdlg: %s\n", text.c_str());
  std::fflush(stderr);
}

void SystemServices::SetStringResource(uint32_t id, std::string text) {
  strings_[id] = std::move(text);
}

void SystemServices::SetProfilePath(std::string path) { profile_path_ = std::move(path); }

// --- TestServices ---------------------------------------------------------------

// A fixed start for the virtual clock: 2025-02-03 09:07:05 UTC.
TestServices::TestServices() : now_micros_(INT64_C(1738573625) * 1000000) {}
TestServices::~TestServices() = default;

int TestServices::MessageBox(const std::string& text, const std::string& caption,
                             unsigned type) {
  int answer;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else {
    answer = win::DefaultAnswer(type);
  }
  transcript_.push_back(ShownMessage{text, caption, type, answer});
  return answer;
}

void TestServices::Beep(unsigned frequency_hz, unsigned duration_ms) {
  beeps_.emplace_back(frequency_hz, duration_ms);
}

void TestServices::WaitCursor(bool show) { cursor_depth_ += show ? 1 : -1; }

void TestServices::Sleep(uint32_t ms) {
  sleeps_.push_back(ms);
  slept_ms_ += ms;
  now_micros_ += static_cast<int64_t>(ms) * 1000;
  mono_micros_ += static_cast<int64_t>(ms) * 1000;
}

int64_t TestServices::NowMicros() { return now_micros_; }
int64_t TestServices::MonotonicMicros() { return mono_micros_; }

int32_t TestServices::TimeZoneBias() {
  return has_bias_ ? bias_ : SystemServices::TimeZoneBias();
}

void TestServices::Exit(int code) { throw ExitRequested{code}; }

bool TestServices::GetClipboardText(std::string* text) {
  if (!clipboard_ok_ || !has_clip_) return false;
  *text = clip_;
  return true;
}

bool TestServices::SetClipboardText(const std::string& text) {
  if (!clipboard_ok_) return false;
  clip_ = text;
  has_clip_ = true;
  return true;
}

std::string TestServices::GetProfileString(const std::string& section,
                                           const std::string& entry,
                                           const std::string& default_value) {
  auto s = profile_.find(section);
  if (s == profile_.end()) return default_value;
  auto e = s->second.find(entry);
  return e == s->second.end() ? default_value : e->second;
}

bool TestServices::WriteProfileString(const std::string& section,
                                      const std::string& entry,
                                      const std::string& value) {
  profile_[section][entry] = value;
  return true;
}

bool TestServices::ShellExecute(const std::string& file, const std::string& params,
                                const std::string& directory, int show) {
  shell_calls_.push_back(file + "|" + params + "|" + directory + "|" +
                         std::to_string(show));
  return shell_ok_;
}

void TestServices::Notice(const std::string& text) { notices_.push_back(text); }

}  // namespace vkt
