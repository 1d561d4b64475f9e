// The customer dialog and list of `vkt demo --live` on a real X server (Xvfb
// started here on a free display), typed into with xdotool as a person
// would, with the clipboard shared with xclip; the screen is compared with
// the picture each window painted for it. The screenshots and the windows'
// pictures stay in <build>/snapshots/live/<test>/ for a person to look at.
#include <cairo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"
#include "win/dialog.h"
#include "win/driver.h"
#include "win/services.h"
#include "win/winmsg.h"
#include "win/x11.h"

namespace {

using vkt::testing::ReadFile;
using vkt::testing::TempDir;

bool OnPath(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// CI (CI=true, as .ci/run is started) must run these tests: a missing tool
// there fails them instead of skipping them.
bool InCi() {
  const char* ci = std::getenv("CI");
  return ci && *ci && std::strcmp(ci, "0") != 0 && std::strcmp(ci, "false") != 0;
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// <build>/snapshots/live/<name of the running test>, emptied.
std::string SnapshotDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string dir = std::string(VKT_SNAPSHOT_DIR) + "/" + info->name();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::filesystem::create_directories(dir);
  return dir;
}

class Xvfb {
 public:
  // The server picks a free display itself and writes its number to a
  // pipe (-displayfd): two tests starting at once never share a display.
  Xvfb() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    // Up to five seconds for the server to come up; it ends the number with
    // a line feed.
    while (pid_ > 0 && poll(&p, 1, 5000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
      number += c;
    close(fds[0]);
    if (c != '\n' || number.empty()) {
      Stop();
      return;
    }
    display_ = ":" + number;
    Pause(200);
  }
  ~Xvfb() { Stop(); }
  const std::string& display() const { return display_; }
  // A command on this display, in a UTF-8 locale (xdotool reads the text
  // it types by the locale); its exit status.
  int Run(const std::string& cmd) const {
    return std::system(("LC_ALL=C.UTF-8 DISPLAY=" + display_ + " " + cmd).c_str());
  }
  // The standard output of a command on this display.
  std::string Output(const std::string& cmd, const TempDir& dir) const {
    std::string out = dir / "cmd.out";
    if (Run(cmd + " > " + out) != 0) return "(failed)";
    return ReadFile(out);
  }
  // True while a mapped window has the caption `caption`.
  bool Shown(const std::string& caption) const {
    return Run("xdotool search --onlyvisible --name '^" + caption + "$' >/dev/null 2>&1") == 0;
  }
  // True once no mapped window has it, within five seconds.
  bool Gone(const std::string& caption) const {
    for (int i = 0; i < 50; ++i) {
      if (!Shown(caption)) return true;
      Pause(100);
    }
    return false;
  }

 private:
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  pid_t pid_ = -1;
  std::string display_;
};

// `vkt demo --live [args]` in a child process on the display, its windows'
// pictures written to the test's snapshot folder.
class LiveDemo {
 public:
  LiveDemo(const Xvfb& x, const TempDir& dir, std::vector<std::string> args = {"--record"})
      : out_(dir / "out.txt"), data_(dir / "data"), snaps_(SnapshotDir()) {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("DISPLAY", x.display().c_str(), 1);
      std::string out = out_;
      if (!freopen(out.c_str(), "w", stdout)) _exit(126);
      std::vector<std::string> all = {VKT_BINARY, "demo", "--live"};
      all.insert(all.end(), args.begin(), args.end());
      for (const char* a : {"--dir", data_.c_str(), "--snapshots", snaps_.c_str()}) all.push_back(a);
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(VKT_BINARY, argv.data());
      _exit(127);
    }
  }
  ~LiveDemo() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // The "n x y w h caption" lines of the windows shown so far.
  std::vector<std::string> Windows() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(snaps_ + "/windows.txt"));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  // The caption of window `n` (empty when it was never shown).
  std::string Caption(int n) const {
    for (const auto& l : Windows()) {
      std::istringstream in(l);
      int k, x, y, w, h;
      in >> k >> x >> y >> w >> h;
      std::string rest;
      std::getline(in, rest);
      if (k == n) return rest.empty() ? rest : rest.substr(1);
    }
    return std::string();
  }
  bool WaitWindows(size_t n) const {
    for (int i = 0; i < 200; ++i) {
      if (Windows().size() >= n) {
        Pause(300);  // mapped and painted
        return true;
      }
      Pause(50);
    }
    return false;
  }
  bool Running() {
    int status = 0;
    return pid_ > 0 && waitpid(pid_, &status, WNOHANG) == 0;
  }
  // The exit status, -1 when it did not end within the time.
  int Wait() {
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
      }
      Pause(50);
    }
    return -1;
  }
  std::string Output() const { return ReadFile(out_); }
  const std::string& snaps() const { return snaps_; }
  // Every byte the demo's table keeps on disk, its files one after another.
  std::string TableBytes() const {
    std::string all;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(data_, ec))
      if (e.is_regular_file()) all += ReadFile(e.path().string());
    return all;
  }

 private:
  std::string out_, data_, snaps_;
  pid_t pid_ = -1;
};

struct Png {
  explicit Png(const std::string& path) : s(cairo_image_surface_create_from_png(path.c_str())) {}
  ~Png() { cairo_surface_destroy(s); }
  bool ok() const { return cairo_surface_status(s) == CAIRO_STATUS_SUCCESS; }
  int w() const { return cairo_image_surface_get_width(s); }
  int h() const { return cairo_image_surface_get_height(s); }
  uint32_t At(int x, int y) const {
    auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                  y * cairo_image_surface_get_stride(s));
    return row[x] & 0xFFFFFF;
  }
  cairo_surface_t* s;
};

// Pixels of window `n` that differ on the screen from its own picture
// (-1 when a picture is missing). The screen is kept as screen-<n>.png.
long ScreenDiffOnce(const Xvfb& x, const LiveDemo& demo, const TempDir& dir, int n) {
  std::string xwd = dir / "root.xwd", png = demo.snaps() + "/screen-" + std::to_string(n) + ".png";
  if (x.Run("xwd -root -silent > " + xwd) != 0) return -1;
  if (std::system(("convert " + xwd + " " + png).c_str()) != 0) return -1;
  Png screen(png), own(demo.snaps() + "/window-" + std::to_string(n) + ".png");
  if (!screen.ok() || !own.ok()) return -1;
  int left = 0, top = 0;
  for (const auto& l : demo.Windows()) {
    std::istringstream in(l);
    int k, wx, wy;
    in >> k >> wx >> wy;
    if (k == n) left = wx, top = wy;
  }
  long diff = 0;
  for (int y = 0; y < own.h(); ++y)
    for (int xx = 0; xx < own.w(); ++xx) {
      int sx = left + xx, sy = top + y;
      if (sx >= screen.w() || sy >= screen.h() || screen.At(sx, sy) != own.At(xx, y)) ++diff;
    }
  return diff;
}

// The same once the program has caught up with the keys sent to it: on a
// busy machine it may still be typing them when the screen is first taken.
long ScreenDiff(const Xvfb& x, const LiveDemo& demo, const TempDir& dir, int n) {
  long diff = -1;
  for (int i = 0; i < 10; ++i) {
    diff = ScreenDiffOnce(x, demo, dir, n);
    if (diff >= 0 && diff <= 50) break;
    Pause(400);
  }
  return diff;
}

// Where a point of window `n`'s client area is on the screen: the window's
// place from its line, then one pixel of border and the 24 of the caption.
std::string ScreenPoint(const LiveDemo& demo, int n, int x, int y) {
  for (const auto& l : demo.Windows()) {
    std::istringstream in(l);
    int k, wx, wy;
    in >> k >> wx >> wy;
    if (k == n) return std::to_string(wx + 1 + x) + " " + std::to_string(wy + 25 + y);
  }
  return "0 0";
}

// The close box at the right end of window `n`'s caption, on the screen.
std::string CloseBox(const LiveDemo& demo, int n) {
  for (const auto& l : demo.Windows()) {
    std::istringstream in(l);
    int k, wx, wy, w;
    in >> k >> wx >> wy >> w;
    if (k == n) return std::to_string(wx + w - 12) + " " + std::to_string(wy + 12);
  }
  return "0 0";
}

// A process of our own (xclip serving the clipboard), ended by its id.
class Child {
 public:
  Child(const Xvfb& x, const std::string& input, std::vector<std::string> args) {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("DISPLAY", x.display().c_str(), 1);
      int in = open(input.c_str(), O_RDONLY), null = open("/dev/null", O_WRONLY);
      dup2(in, 0);
      dup2(null, 1);
      dup2(null, 2);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  // True when it ended by itself within `ms`.
  bool Ended(int ms) {
    for (int i = 0; i < ms / 50; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return true;
      }
      Pause(50);
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
};

class LiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdotool", "xwd", "convert", "xclip", "setxkbmap"}) {
      if (OnPath(tool)) continue;
      if (InCi()) FAIL() << tool << " is not installed: CI runs the live tests (scripts/install-deps)";
      GTEST_SKIP() << tool << " is not installed";
    }
  }
};

TEST_F(LiveTest, TypedCustomerIsSavedByF2AndTheScreenShowsTheDialogsPicture) {
  Xvfb x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  TempDir dir("vkt-live");
  LiveDemo demo(x, dir);
  ASSERT_TRUE(demo.WaitWindows(1)) << demo.Output();
  ASSERT_EQ(demo.Caption(1), "Anagrafica cliente");
  x.Run("xdotool type --delay 30 c009");
  x.Run("xdotool key Return");
  x.Run("xdotool type --delay 30 'Gialli Luca'");
  x.Run("xdotool key Return Return");
  x.Run("xdotool type --delay 30 'reggio emilia'");
  x.Run("xdotool key Return");
  x.Run("xdotool type --delay 30 2500");
  Pause(600);
  long diff = ScreenDiff(x, demo, dir, 1);
  ASSERT_GE(diff, 0);
  EXPECT_LE(diff, 50) << "pixels of the dialog that differ on the screen";
  x.Run("xdotool key F2");
  EXPECT_EQ(demo.Wait(), 0) << demo.Output();
  std::string out = demo.Output();
  // What the demo read back from the table after the dialog closed.
  EXPECT_NE(out.find("clienti in rubrica: 4"), std::string::npos) << out;
  EXPECT_NE(out.find("C009 | Gialli Luca |  | Reggio Emilia | 2500"), std::string::npos) << out;
}

TEST_F(LiveTest, RefusedFieldAsksInABoxThatTheKeyboardAnswers) {
  Xvfb x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  TempDir dir("vkt-live");
  LiveDemo demo(x, dir);
  ASSERT_TRUE(demo.WaitWindows(1)) << demo.Output();
  x.Run("xdotool type --delay 30 c010");
  x.Run("xdotool key Return");
  x.Run("xdotool type --delay 30 Neri");
  x.Run("xdotool key Return");
  x.Run("xdotool type --delay 30 XYZ");
  x.Run("xdotool key Return");  // the fiscal code is refused
  ASSERT_TRUE(demo.WaitWindows(2)) << demo.Output();
  std::vector<std::string> w = demo.Windows();
  EXPECT_EQ(w[1].rfind("2 ", 0), 0u) << w[1];
  long diff = ScreenDiff(x, demo, dir, 2);
  ASSERT_GE(diff, 0);
  EXPECT_LE(diff, 50) << "pixels of the box that differ on the screen";
  // "Vuoi Correggere ?": Enter takes the default answer, Sì, and the field
  // gets the focus back for the correction.
  x.Run("xdotool key Return");
  Pause(300);
  x.Run("xdotool key End BackSpace BackSpace BackSpace");
  x.Run("xdotool type --delay 30 RSSMRA85T10A562S");
  x.Run("xdotool key F2");
  EXPECT_EQ(demo.Wait(), 0) << demo.Output();
  EXPECT_EQ(demo.Windows().size(), 2u);
  std::string out = demo.Output();
  EXPECT_NE(out.find("C010 | Neri | RSSMRA85T10A562S |"), std::string::npos) << out;
}

TEST_F(LiveTest, AYesNoBoxIgnoresEscapeAndTakesNoFromTheKeyboard) {
  Xvfb x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  TempDir dir("vkt-live");
  LiveDemo demo(x, dir);
  ASSERT_TRUE(demo.WaitWindows(1)) << demo.Output();
  x.Run("xdotool type --delay 30 c014");
  x.Run("xdotool key Return");
  x.Run("xdotool type --delay 30 'Neri Ugo'");
  x.Run("xdotool key Return");
  x.Run("xdotool type --delay 30 XYZ");
  x.Run("xdotool key Return");
  ASSERT_TRUE(demo.WaitWindows(2)) << demo.Output();
  const std::string box = demo.Caption(2);
  ASSERT_TRUE(x.Shown(box)) << box;
  // A box of Sì and No has no answer for Escape: it stays, and the key
  // never reaches the dialog under it (which it would close).
  x.Run("xdotool key Escape");
  Pause(500);
  EXPECT_TRUE(x.Shown(box));
  EXPECT_TRUE(demo.Running());
  // Tab to No, Enter: the refused text stays and the focus goes on to the
  // city.
  x.Run("xdotool key Tab Return");
  EXPECT_TRUE(x.Gone(box));
  x.Run("xdotool type --delay 30 bari");
  x.Run("xdotool key F2");
  EXPECT_EQ(demo.Wait(), 0) << demo.Output();
  EXPECT_EQ(demo.Windows().size(), 2u);
  std::string out = demo.Output();
  EXPECT_NE(out.find("C014 | Neri Ugo | XYZ | Bari | 0"), std::string::npos) << out;
}

TEST_F(LiveTest, AccentedLettersAreTypedAsWindows1252Bytes) {
  Xvfb x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  TempDir dir("vkt-live");
  LiveDemo demo(x, dir);
  ASSERT_TRUE(demo.WaitWindows(1)) << demo.Output();
  // An Italian keyboard, put in while the program runs: it must take the
  // new map (the letters' keys are brackets and quotes on the first one),
  // and the euro from AltGr+E.
  ASSERT_EQ(x.Run("setxkbmap -layout it"), 0);
  Pause(500);
  x.Run("xdotool type --delay 30 c013");
  x.Run("xdotool key Return");
  x.Run("xdotool type --delay 30 'Caffè Però àìù €'");
  x.Run("xdotool key Return Return");
  x.Run("xdotool type --delay 30 'forlì'");
  Pause(600);
  long diff = ScreenDiff(x, demo, dir, 1);
  ASSERT_GE(diff, 0);
  EXPECT_LE(diff, 50) << "pixels of the dialog that differ on the screen";
  x.Run("xdotool key F2");
  EXPECT_EQ(demo.Wait(), 0) << demo.Output();
  std::string out = demo.Output();
  EXPECT_NE(out.find("C013 | Caff\xC3\xA8 Per\xC3\xB2 \xC3\xA0\xC3\xAC\xC3\xB9 \xE2\x82\xAC |  | Forl\xC3\xAC | 0"),
            std::string::npos)
      << out;
  // On disk: one byte each, of the Windows code page, blank-padded.
  const std::string bytes = demo.TableBytes();
  EXPECT_NE(bytes.find(std::string("Caff\xE8 Per\xF2 \xE0\xEC\xF9 \x80") + std::string(24, ' ')),
            std::string::npos);
  EXPECT_NE(bytes.find(std::string("Forl\xEC") + std::string(25, ' ')), std::string::npos);
}

TEST_F(LiveTest, TheClipboardIsSharedWithAnotherXClient) {
  Xvfb x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  TempDir dir("vkt-live");
  {
    std::ofstream f(dir / "clip.txt", std::ios::binary);
    f << "Citt\xC3\xA0 di Castello";
  }
  // xclip owns the clipboard and serves it (UTF-8) until another client
  // takes it.
  Child xclip(x, dir / "clip.txt", {"xclip", "-selection", "clipboard", "-quiet"});
  std::string served;
  for (int i = 0; i < 40 && served != "Citt\xC3\xA0 di Castello"; ++i) {
    Pause(50);
    served = x.Output("timeout 5 xclip -selection clipboard -o", dir);
  }
  ASSERT_EQ(served, "Citt\xC3\xA0 di Castello");
  LiveDemo demo(x, dir);
  ASSERT_TRUE(demo.WaitWindows(1)) << demo.Output();
  x.Run("xdotool type --delay 30 c015");
  x.Run("xdotool key Return ctrl+v");
  Pause(300);
  EXPECT_FALSE(xclip.Ended(100)) << "pasting took the clipboard away";
  // Copied back from the field, changed: the program owns the clipboard
  // now, and xclip, having lost it, ends.
  x.Run("xdotool type --delay 30 ' nord'");
  x.Run("xdotool key Home shift+End ctrl+c");
  EXPECT_TRUE(xclip.Ended(10000)) << "xclip still owns the clipboard";
  EXPECT_EQ(x.Output("timeout 5 xclip -selection clipboard -o", dir), "Citt\xC3\xA0 di Castello nord");
  // The older clients' Latin-1, and what it offers.
  EXPECT_EQ(x.Output("timeout 5 xclip -selection clipboard -o -t STRING", dir), "Citt\xE0 di Castello nord");
  std::string targets = x.Output("timeout 5 xclip -selection clipboard -o -t TARGETS", dir);
  EXPECT_NE(targets.find("UTF8_STRING"), std::string::npos) << targets;
  EXPECT_NE(targets.find("STRING"), std::string::npos) << targets;
  x.Run("xdotool key F2");
  EXPECT_EQ(demo.Wait(), 0) << demo.Output();
  EXPECT_NE(demo.Output().find("C015 | Citt\xC3\xA0 di Castello nord |  |  | 0"), std::string::npos)
      << demo.Output();
  EXPECT_NE(demo.TableBytes().find("Citt\xE0 di Castello nord"), std::string::npos);
}

TEST_F(LiveTest, ShiftSelectsAndControlCopiesAndPastesThroughTheClipboard) {
  Xvfb x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  TempDir dir("vkt-live");
  LiveDemo demo(x, dir);
  ASSERT_TRUE(demo.WaitWindows(1)) << demo.Output();
  x.Run("xdotool type --delay 30 c011");
  x.Run("xdotool key Return");
  x.Run("xdotool type --delay 30 'Rosa Bruno'");
  // In one burst: each key goes to the field that has the focus when its
  // turn comes, with the modifiers held at that key.
  x.Run("xdotool key Home shift+End ctrl+c Return Return ctrl+v F2");
  EXPECT_EQ(demo.Wait(), 0) << demo.Output();
  std::string out = demo.Output();
  EXPECT_NE(out.find("C011 | Rosa Bruno |  | Rosa Bruno | 0"), std::string::npos) << out;
}

TEST_F(LiveTest, AClickMovesTheFocusAndADoubleClickLooksTheCityUp) {
  Xvfb x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  TempDir dir("vkt-live");
  LiveDemo demo(x, dir);
  ASSERT_TRUE(demo.WaitWindows(1)) << demo.Output();
  x.Run("xdotool type --delay 30 c012");
  // The name field (client 150,110 - 480,133), then the city's (150,170 -
  // 400,193): without the click the name would go into the code.
  x.Run("xdotool mousemove " + ScreenPoint(demo, 1, 200, 121) + " click 1");
  Pause(200);
  x.Run("xdotool type --delay 30 'Blu Sara'");
  x.Run("xdotool mousemove " + ScreenPoint(demo, 1, 200, 181) + " click --repeat 2 --delay 80 1");
  Pause(300);
  x.Run("xdotool key F2");
  EXPECT_EQ(demo.Wait(), 0) << demo.Output();
  std::string out = demo.Output();
  // The samples have one customer per city: the first, Milano, is proposed.
  EXPECT_NE(out.find("C012 | Blu Sara |  | Milano | 0"), std::string::npos) << out;
}

// The list: F4 opens the chosen customer, F2 saves it, Escape leaves one
// unsaved, a refused save's box is answered with Escape, and the list's
// close box ends the program with success.
TEST_F(LiveTest, TheListOpensTheChosenCustomerAndItsCloseBoxEndsWithSuccess) {
  Xvfb x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  TempDir dir("vkt-live");
  LiveDemo demo(x, dir, {});
  ASSERT_TRUE(demo.WaitWindows(1)) << demo.Output();
  ASSERT_EQ(demo.Caption(1), "Clienti");
  long diff = ScreenDiff(x, demo, dir, 1);
  ASSERT_GE(diff, 0);
  EXPECT_LE(diff, 50) << "pixels of the list that differ on the screen";

  x.Run("xdotool key Down Down F4");  // C003
  ASSERT_TRUE(demo.WaitWindows(2)) << demo.Output();
  EXPECT_EQ(demo.Caption(2), "Anagrafica cliente");
  diff = ScreenDiff(x, demo, dir, 2);
  ASSERT_GE(diff, 0);
  EXPECT_LE(diff, 50) << "pixels of the record that differ on the screen";
  x.Run("xdotool mousemove " + ScreenPoint(demo, 2, 300, 121) + " click 1");
  Pause(200);
  x.Run("xdotool key End");
  x.Run("xdotool type --delay 30 ' Maria'");
  x.Run("xdotool key F2");
  EXPECT_TRUE(x.Gone("Anagrafica cliente"));

  x.Run("xdotool key Up F4");  // C002, changed and left with Escape
  ASSERT_TRUE(demo.WaitWindows(3)) << demo.Output();
  x.Run("xdotool mousemove " + ScreenPoint(demo, 3, 300, 121) + " click 1");
  Pause(200);
  x.Run("xdotool key End");
  x.Run("xdotool type --delay 30 ' Rosa'");
  x.Run("xdotool key Escape");
  EXPECT_TRUE(x.Gone("Anagrafica cliente"));

  x.Run("xdotool key F3");  // a new customer with a code already there
  ASSERT_TRUE(demo.WaitWindows(4)) << demo.Output();
  x.Run("xdotool type --delay 30 c001");
  x.Run("xdotool key Return");
  x.Run("xdotool type --delay 30 Doppio");
  x.Run("xdotool key F2");
  ASSERT_TRUE(demo.WaitWindows(5)) << demo.Output();
  const std::string box = demo.Caption(5);
  diff = ScreenDiff(x, demo, dir, 5);
  ASSERT_GE(diff, 0);
  EXPECT_LE(diff, 50) << "pixels of the box that differ on the screen";
  x.Run("xdotool key Escape");  // the box's only answer, OK
  EXPECT_TRUE(x.Gone(box)) << box;
  EXPECT_TRUE(x.Shown("Anagrafica cliente"));  // the dialog stays for a correction
  x.Run("xdotool key Escape");
  EXPECT_TRUE(x.Gone("Anagrafica cliente"));
  EXPECT_TRUE(x.Shown("Clienti"));

  x.Run("xdotool mousemove " + CloseBox(demo, 1) + " click 1");
  EXPECT_EQ(demo.Wait(), 0) << demo.Output();
  EXPECT_EQ(demo.Windows().size(), 5u);
  std::string out = demo.Output();
  EXPECT_NE(out.find("clienti in rubrica: 3\n"
                     "C001 | Rossi Mario | RSSMRA85T10A562S | Milano | 1000\n"
                     "C002 | Bianchi Carla |  | Palermo | 2000\n"
                     "C003 | Verdi Anna Maria |  | Roma | 3000\n"),
            std::string::npos)
      << out;
}

// A dialog of this process on the display: its timer fires from the real
// clock while the modal loop waits on the X connection.
class Clock : public CDialog {
 public:
  Clock() {
    vkt::win::DialogTemplate t;
    t.caption = "Orologio";
    t.rect = CRect(100, 100, 300, 180);
    t.style |= WS_VISIBLE;
    t.items.push_back({"Static", "0", 10, WS_CHILD | WS_VISIBLE, CRect(10, 10, 180, 30)});
    SetTemplate(t);
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    start = std::chrono::steady_clock::now();
    SetTimer(7, 100);
    return TRUE;
  }
  void OnTimer(uintptr_t id) override {
    if (id != 7) return;
    ticks.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count());
    if (CWnd* text = GetDlgItem(10)) text->SetWindowText(std::to_string(ticks.size()).c_str());
    if (ticks.size() == 5) {
      KillTimer(7);
      EndDialog(IDOK);
    }
  }
  std::chrono::steady_clock::time_point start;
  std::vector<long> ticks;
};

TEST_F(LiveTest, ATimerFiresFromTheXLoop) {
  Xvfb x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  const std::string snaps = SnapshotDir();
  vkt::win::ResetWindows();
  vkt::win::LiveDisplay live;
  ASSERT_TRUE(live.Open(x.display()));
  live.SetSnapshotDir(snaps);
  Clock clock;
  EXPECT_EQ(clock.DoModal(), IDOK);
  ASSERT_EQ(clock.ticks.size(), 5u);
  // By the real clock, every 100 ms at the earliest: none early, and the
  // waits on the connection lose none.
  for (size_t i = 0; i < clock.ticks.size(); ++i)
    EXPECT_GE(clock.ticks[i], 100 * static_cast<long>(i + 1)) << i;
  EXPECT_LT(clock.ticks.back(), 3000);
  // The template's client area of 200 x 80 in its frame and caption.
  EXPECT_EQ(ReadFile(snaps + "/windows.txt"), "1 100 100 202 106 Orologio\n");
  Png shown(snaps + "/window-1.png");
  EXPECT_TRUE(shown.ok());
  EXPECT_EQ(vkt::win::StalledModalLoops(), 0);
  vkt::win::ResetWindows();
}

TEST(LiveKeys, KeySymbolsBecomeTheVirtualKeysTheControlsExpect) {
  using vkt::win::VirtualKeyOfKeysym;
  EXPECT_EQ(VirtualKeyOfKeysym(0x0061), static_cast<UINT>('A'));  // a
  EXPECT_EQ(VirtualKeyOfKeysym(0x0041), static_cast<UINT>('A'));  // A
  EXPECT_EQ(VirtualKeyOfKeysym(0x0037), static_cast<UINT>('7'));
  EXPECT_EQ(VirtualKeyOfKeysym(0xFFB5), VK_NUMPAD0 + 5);             // KP_5
  EXPECT_EQ(VirtualKeyOfKeysym(0xFFBF), VK_F2);
  EXPECT_EQ(VirtualKeyOfKeysym(0xFFC9), VK_F12);
  EXPECT_EQ(VirtualKeyOfKeysym(0xFE20), VK_TAB);                     // ISO_Left_Tab
  EXPECT_EQ(VirtualKeyOfKeysym(0xFF8D), VK_RETURN);                  // KP_Enter
  EXPECT_EQ(VirtualKeyOfKeysym(0xFFFF), VK_DELETE);
  EXPECT_EQ(VirtualKeyOfKeysym(0xFF9F), VK_DELETE);                  // KP_Delete
  EXPECT_EQ(VirtualKeyOfKeysym(0xFFE3), VK_CONTROL);
  EXPECT_EQ(VirtualKeyOfKeysym(0x002C), VK_OEM_COMMA);
  EXPECT_EQ(VirtualKeyOfKeysym(0xFFAC), VK_DECIMAL);                 // KP_Separator
  EXPECT_EQ(VirtualKeyOfKeysym(0x00E8), 0u);  // egrave: typed as a character only
}

TEST(LiveDisplayOpen, AnUnreachableDisplayLeavesTheModelHeadless) {
  vkt::win::LiveDisplay live;
  EXPECT_FALSE(live.Open(":199"));
  EXPECT_FALSE(live.is_open());
  EXPECT_FALSE(live.Pump(0));
  std::string text;
  EXPECT_FALSE(live.GetClipboardText(&text));
}

// $DISPLAY unset or empty: nothing asks for a display, Open refuses, and
// the modal loops keep the input source they had.
TEST(LiveDisplayOpen, WithoutDisplayTheModelStaysHeadless) {
  const char* was = std::getenv("DISPLAY");
  const std::string saved = was ? was : "";
  vkt::TestServices fake;
  vkt::ScopedServices use(&fake);
  vkt::win::ResetWindows();
  for (bool empty : {false, true}) {
    if (empty) setenv("DISPLAY", "", 1);
    else unsetenv("DISPLAY");
    EXPECT_FALSE(vkt::win::LiveDisplayRequested());
    vkt::win::Driver ui;
    vkt::win::LiveDisplay live;
    EXPECT_FALSE(live.Open());
    EXPECT_FALSE(live.is_open());
    CDialog dlg;
    vkt::win::DialogTemplate t;
    t.caption = "Senza schermo";
    t.rect = CRect(0, 0, 100, 60);
    t.style |= WS_VISIBLE;
    dlg.SetTemplate(t);
    ui.Then([&] { dlg.EndDialog(42); });  // only the scripted user can answer
    EXPECT_EQ(dlg.DoModal(), 42);
    EXPECT_EQ(ui.stalls(), 0);
  }
  vkt::win::ResetWindows();

  // The demo says so and ends.
  TempDir dir("vkt-live");
  pid_t pid = fork();
  if (pid == 0) {
    unsetenv("DISPLAY");
    std::string err = dir / "err.txt";
    if (!freopen(err.c_str(), "w", stderr)) _exit(126);
    std::string data = dir / "data";
    execl(VKT_BINARY, VKT_BINARY, "demo", "--live", "--dir", data.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(ReadFile(dir / "err.txt").find("nessun display X"), std::string::npos) << ReadFile(dir / "err.txt");
  if (was) setenv("DISPLAY", saved.c_str(), 1);
  else unsetenv("DISPLAY");
}

}  // namespace
