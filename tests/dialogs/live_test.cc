// The customer dialog of `vkt demo --live` on a real X server (Xvfb started
// here on a free display), typed into with xdotool as a person would; the
// screen is compared with the picture the dialog painted for it.
#include <cairo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"
#include "win/winmsg.h"
#include "win/x11.h"

namespace {

using vkt::testing::ReadFile;
using vkt::testing::TempDir;

bool OnPath(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

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
  // A command on this display; its exit status.
  int Run(const std::string& cmd) const {
    return std::system(("DISPLAY=" + display_ + " " + cmd).c_str());
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

// `vkt demo --live --record` in a child process on the display.
class LiveDemo {
 public:
  LiveDemo(const Xvfb& x, const TempDir& dir) : out_(dir / "out.txt"), snaps_(dir / "snap") {
    mkdir(snaps_.c_str(), 0755);
    pid_ = fork();
    if (pid_ == 0) {
      setenv("DISPLAY", x.display().c_str(), 1);
      std::string out = out_;
      if (!freopen(out.c_str(), "w", stdout)) _exit(126);
      std::string data = dir / "data";
      execl(VKT_BINARY, VKT_BINARY, "demo", "--live", "--record", "--dir", data.c_str(),
            "--snapshots", snaps_.c_str(), static_cast<char*>(nullptr));
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

 private:
  std::string out_, snaps_;
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
// (-1 when a picture is missing).
long ScreenDiff(const Xvfb& x, const LiveDemo& demo, const TempDir& dir, int n) {
  std::string xwd = dir / "root.xwd", png = dir / ("root-" + std::to_string(n) + ".png");
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

class LiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdotool", "xwd", "convert"})
      if (!OnPath(tool)) GTEST_SKIP() << tool << " is not installed";
  }
};

TEST_F(LiveTest, TypedCustomerIsSavedByF2AndTheScreenShowsTheDialogsPicture) {
  Xvfb x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  TempDir dir("vkt-live");
  LiveDemo demo(x, dir);
  ASSERT_TRUE(demo.WaitWindows(1)) << demo.Output();
  ASSERT_NE(demo.Windows()[0].find("Anagrafica cliente"), std::string::npos);
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

}  // namespace
