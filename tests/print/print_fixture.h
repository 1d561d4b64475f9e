// The host side of the text-printing tests: a parameter block whose program
// folder is a private temporary folder, and the scripted services.
#ifndef VKT_TESTS_PRINT_PRINT_FIXTURE_H_
#define VKT_TESTS_PRINT_PRINT_FIXTURE_H_

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "frame/vktapp.h"
#include "test_util.h"
#include "win/services.h"
#include "win/winconst.h"

namespace vkt::testing {

class PrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&par_, 0, sizeof par_);
    std::strncpy(par_.path, dir_.path().c_str(), sizeof par_.path - 1);
    mkdir((dir_ / "tmp").c_str(), 0755);
    par_.TestDlg = [](int result) { return g_dialog_answer < 0 ? result : g_dialog_answer; };
    g_dialog_answer = -1;
    vktpar = &par_;
  }
  void TearDown() override { vktpar = nullptr; }

  // Texts shown so far, in order.
  std::vector<std::string> Shown() const {
    std::vector<std::string> out;
    for (const ShownMessage& m : fake_.transcript()) out.push_back(m.text);
    return out;
  }

  // What the host's TestDlg turns the set-up dialog's answer into (-1: as is).
  static inline int g_dialog_answer = -1;

  TestServices fake_;
  ScopedServices use_{&fake_};
  TempDir dir_;
  VKTAPPPARAM par_;
};

}  // namespace vkt::testing

#endif  // VKT_TESTS_PRINT_PRINT_FIXTURE_H_
