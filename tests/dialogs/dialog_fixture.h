// Shared set-up of the dialog tests: a host parameter block, the scripted
// services, the window model cleared, no skin, and a scripted user.
#ifndef VKT_TESTS_DIALOGS_DIALOG_FIXTURE_H_
#define VKT_TESTS_DIALOGS_DIALOG_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "dialogs/vktdialog.h"
#include "frame/vktapp.h"
#include "win/appwnd.h"
#include "win/canvas.h"
#include "win/driver.h"
#include "win/layered.h"
#include "win/services.h"
#include "win/skinframework.h"
#include "win/winconst.h"

namespace vkt::test {

inline std::string SnapshotPath(const std::string& name) {
  std::filesystem::create_directories(VKT_SNAPSHOT_DIR);
  return std::string(VKT_SNAPSHOT_DIR) + "/" + name;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vkt::win::ResetWindows();
    vkt::win::ResetSkin();
    vkt::win::SetLayeredAttributesAvailable(true);
    AfxSetMainWnd(nullptr);
    CVKTDialog::numdlg = 0;
    vkt::LibraryLoad();
    std::memset(&par_, 0, sizeof par_);
    std::strcpy(par_.app_name, "MIRTO");
    std::strcpy(par_.user, "ROSSI");
    std::strcpy(par_.last_user, "ROSSI");
    VKTDlgInitialize(&par_);
  }
  void TearDown() override {
    vkt::win::ResetWindows();
    vkt::win::ResetSkin();
    vkt::win::SetLayeredAttributesAvailable(true);
    AfxSetMainWnd(nullptr);
    CVKTDialog::numdlg = 0;
    vkt::LibraryLoad();
  }

  VKTAPPPARAM par_;
  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
  vkt::win::Driver ui_;
};

// A template of `w` x `h` client pixels with the given items.
inline vkt::win::DialogTemplate Template(const char* caption, int w, int h,
                                         std::vector<vkt::win::DialogItem> items = {}) {
  vkt::win::DialogTemplate t;
  t.caption = caption;
  t.rect = CRect(40, 40, 40 + w, 40 + h);
  t.style |= WS_VISIBLE;
  t.items = std::move(items);
  return t;
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kField = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;

}  // namespace vkt::test

#endif  // VKT_TESTS_DIALOGS_DIALOG_FIXTURE_H_
