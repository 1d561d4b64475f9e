// The services seam: everything the library does to the outside world.
//
// Message boxes, beeps, the wait cursor, sleeping, the clock and the time
// zone, the host's string resources, process exit, the clipboard, the
// application profile and the shell all go through one object, so that a
// test can script the user's answers, read what was shown and run every wait
// without sleeping.
//
//   vkt::TestServices fake;             // scripted, records a transcript
//   vkt::ScopedServices use(&fake);     // installed for this scope
//   fake.ScriptAnswer(IDNO);
//   RunSomethingThatAsks();
//   EXPECT_EQ(fake.transcript().back().text, "Vuoi Correggere ?");
//
// The library reads the current object through vkt::services(); with nothing
// installed it is the process's SystemServices.
#ifndef VKT_WIN_SERVICES_H_
#define VKT_WIN_SERVICES_H_

#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "vkt_export.h"
#include "win/winconst.h"

namespace vkt {

// Every hook may be called on the user-interface thread only, unless it says
// otherwise; none of them throws except Exit in the test double.
class VKT_API Services {
 public:
  virtual ~Services();

  // Shows a modal message box with Win32 type flags (MB_*); returns the ID*
  // of the button chosen. May block until the user answers.
  virtual int MessageBox(const std::string& text, const std::string& caption,
                         unsigned type) = 0;
  // A short tone. Must not block for longer than `duration_ms`.
  virtual void Beep(unsigned frequency_hz, unsigned duration_ms) = 0;
  // Shows or hides the hourglass; calls nest (count of shows minus hides).
  virtual void WaitCursor(bool show) = 0;
  // Blocks the calling thread for `ms` milliseconds (0 yields).
  virtual void Sleep(uint32_t ms) = 0;

  // Wall clock, microseconds since 1970-01-01 00:00:00 UTC.
  virtual int64_t NowMicros() = 0;
  // Monotonic clock for timers and timeouts, microseconds from any origin.
  virtual int64_t MonotonicMicros() = 0;
  // Broken-down local time of a Unix second count; false when the C library
  // cannot convert it. Reentrant.
  virtual bool LocalTime(int64_t unix_seconds, std::tm* out) = 0;
  // The zone's standard bias in minutes (UTC = local time + bias), daylight
  // saving never included: -60 for Central Europe.
  virtual int32_t TimeZoneBias() = 0;

  // Text of the host's string resource `id`; empty when there is none.
  virtual std::string LoadString(uint32_t id) = 0;

  // Ends the process. Never returns (the test double throws ExitRequested).
  [[noreturn]] virtual void Exit(int code) = 0;

  // Clipboard text (Windows-1252 bytes). False when the clipboard cannot be
  // opened or holds no text.
  virtual bool GetClipboardText(std::string* text) = 0;
  virtual bool SetClipboardText(const std::string& text) = 0;

  // The application profile: sections of named string values.
  virtual std::string GetProfileString(const std::string& section,
                                       const std::string& entry,
                                       const std::string& default_value) = 0;
  virtual bool WriteProfileString(const std::string& section,
                                  const std::string& entry,
                                  const std::string& value) = 0;
  int GetProfileInt(const std::string& section, const std::string& entry,
                    int default_value);
  bool WriteProfileInt(const std::string& section, const std::string& entry,
                       int value);

  // True when the application's main window is maximised.
  virtual bool IsMainWindowZoomed() = 0;
  // Starts a program or opens a document; false when it could not start.
  // `params` is a command line: blanks separate its words, double quotes
  // group them, a backslash before a quote makes the quote literal.
  virtual bool ShellExecute(const std::string& file, const std::string& params,
                            const std::string& directory, int show) = 0;

  // A failure that cannot be reported otherwise (destructors, cleanup).
  virtual void Notice(const std::string& text) = 0;
};

// The real outside world on Linux without a window system: message boxes
// are written to standard error and take their default button, the clock is
// the system's, the profile is an INI file.
class VKT_API SystemServices : public Services {
 public:
  SystemServices();
  ~SystemServices() override;

  int MessageBox(const std::string& text, const std::string& caption,
                 unsigned type) override;
  void Beep(unsigned frequency_hz, unsigned duration_ms) override;
  void WaitCursor(bool show) override;
  void Sleep(uint32_t ms) override;
  int64_t NowMicros() override;
  int64_t MonotonicMicros() override;
  bool LocalTime(int64_t unix_seconds, std::tm* out) override;
  int32_t TimeZoneBias() override;
  std::string LoadString(uint32_t id) override;
  [[noreturn]] void Exit(int code) override;
  bool GetClipboardText(std::string* text) override;
  bool SetClipboardText(const std::string& text) override;
  std::string GetProfileString(const std::string& section,
                               const std::string& entry,
                               const std::string& default_value) override;
  bool WriteProfileString(const std::string& section, const std::string& entry,
                          const std::string& value) override;
  bool IsMainWindowZoomed() override;
  bool ShellExecute(const std::string& file, const std::string& params,
                    const std::string& directory, int show) override;
  void Notice(const std::string& text) override;

  // The host's string resources (Windows-1252 texts by id).
  void SetStringResource(uint32_t id, std::string text);
  // The INI file behind the profile. Default: $VKT_PROFILE, else
  // $XDG_CONFIG_HOME/vktdlg/profile.ini, else ~/.config/vktdlg/profile.ini.
  void SetProfilePath(std::string path);
  const std::string& profile_path() const { return profile_path_; }

 private:
  std::map<uint32_t, std::string> strings_;
  std::string profile_path_;
  std::string clipboard_;  // process-local when no window system is present
  bool has_clipboard_ = false;
  int wait_cursor_ = 0;
};

// What the test double saw, one entry per call that reached the user.
struct ShownMessage {
  std::string text;
  std::string caption;
  unsigned type = 0;
  int answer = 0;
};

// Thrown by TestServices::Exit so that a test can observe a fatal error.
struct ExitRequested {
  int code;
};

// A scripted outside world for tests. Message boxes take the next scripted
// answer (or their default button when none is left) and are recorded; the
// clock is virtual and Sleep advances it; Exit throws ExitRequested.
class VKT_API TestServices : public SystemServices {
 public:
  TestServices();
  ~TestServices() override;

  int MessageBox(const std::string& text, const std::string& caption,
                 unsigned type) override;
  void Beep(unsigned frequency_hz, unsigned duration_ms) override;
  void WaitCursor(bool show) override;
  void Sleep(uint32_t ms) override;
  int64_t NowMicros() override;
  int64_t MonotonicMicros() override;
  int32_t TimeZoneBias() override;
  [[noreturn]] void Exit(int code) override;
  bool GetClipboardText(std::string* text) override;
  bool SetClipboardText(const std::string& text) override;
  std::string GetProfileString(const std::string& section,
                               const std::string& entry,
                               const std::string& default_value) override;
  bool WriteProfileString(const std::string& section, const std::string& entry,
                          const std::string& value) override;
  bool IsMainWindowZoomed() override { return zoomed_; }
  bool ShellExecute(const std::string& file, const std::string& params,
                    const std::string& directory, int show) override;
  void Notice(const std::string& text) override;

  // Scripting.
  void ScriptAnswer(int answer) { answers_.push_back(answer); }
  void SetNow(int64_t unix_micros) { now_micros_ = unix_micros; }
  void SetTimeZoneBias(int32_t minutes) { bias_ = minutes; has_bias_ = true; }
  void SetZoomed(bool zoomed) { zoomed_ = zoomed; }
  void SetClipboardAvailable(bool available) { clipboard_ok_ = available; }
  void SetShellResult(bool ok) { shell_ok_ = ok; }

  // Observation.
  const std::vector<ShownMessage>& transcript() const { return transcript_; }
  void ClearTranscript() { transcript_.clear(); }
  const std::vector<std::pair<unsigned, unsigned>>& beeps() const { return beeps_; }
  const std::vector<uint32_t>& sleeps() const { return sleeps_; }
  uint64_t slept_ms() const { return slept_ms_; }
  int wait_cursor_depth() const { return cursor_depth_; }
  const std::vector<std::string>& notices() const { return notices_; }
  const std::vector<std::string>& shell_calls() const { return shell_calls_; }
  size_t answers_left() const { return answers_.size(); }

 private:
  std::deque<int> answers_;
  std::vector<ShownMessage> transcript_;
  std::vector<std::pair<unsigned, unsigned>> beeps_;
  std::vector<uint32_t> sleeps_;
  std::vector<std::string> notices_;
  std::vector<std::string> shell_calls_;
  std::map<std::string, std::map<std::string, std::string>> profile_;
  std::string clip_;
  bool has_clip_ = false;
  bool clipboard_ok_ = true;
  bool shell_ok_ = true;
  bool zoomed_ = false;
  bool has_bias_ = false;
  int32_t bias_ = 0;
  int cursor_depth_ = 0;
  uint64_t slept_ms_ = 0;
  int64_t now_micros_;
  int64_t mono_micros_ = 0;
};

// The services in use (the process's SystemServices when none is installed).
VKT_API Services& services();
// Installs `s` (not owned; null restores the default). Returns the previous.
VKT_API Services* SetServices(Services* s);

// Installs a services object for the life of the guard.
class ScopedServices {
 public:
  explicit ScopedServices(Services* s) : previous_(SetServices(s)) {}
  ~ScopedServices() { SetServices(previous_); }
  ScopedServices(const ScopedServices&) = delete;
  ScopedServices& operator=(const ScopedServices&) = delete;

 private:
  Services* previous_;
};

// Shows and hides the wait cursor on every way out of a scope.
class WaitCursorGuard {
 public:
  WaitCursorGuard() { services().WaitCursor(true); }
  ~WaitCursorGuard() { services().WaitCursor(false); }
  WaitCursorGuard(const WaitCursorGuard&) = delete;
  WaitCursorGuard& operator=(const WaitCursorGuard&) = delete;
};

}  // namespace vkt

#endif  // VKT_WIN_SERVICES_H_
