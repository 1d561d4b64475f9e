// The parameter block, the scripted services and a fresh window model for
// the skin, picker, picture and tray tests.
#ifndef VKT_TESTS_CONTROLS_SYSTEM_FIXTURE_H_
#define VKT_TESTS_CONTROLS_SYSTEM_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "frame/vktapp.h"
#include "test_util.h"
#include "win/driver.h"
#include "win/services.h"
#include "win/skinframework.h"
#include "win/window.h"

namespace vkt::test {

class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vkt::win::ResetWindows();
    vkt::win::ResetSkin();
    std::snprintf(par_.path, sizeof par_.path, "%s", dir_.path().c_str());
    VKTDlgInitialize(&par_);
  }
  void TearDown() override {
    vkt::win::ResetWindows();
    vkt::win::ResetSkin();
    vkt::LibraryLoad();
  }
  static std::string SnapshotPath(const std::string& name) {
    std::filesystem::create_directories(VKT_SNAPSHOT_DIR);
    return std::string(VKT_SNAPSHOT_DIR) + "/" + name;
  }
  void Mkdir(const std::string& rel) { std::filesystem::create_directories(dir_ / rel); }
  void Write(const std::string& rel, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(dir_ / rel).parent_path());
    vkt::testing::WriteFile(dir_ / rel, bytes);
  }

  vkt::testing::TempDir dir_{"vktsys"};
  VKTAPPPARAM par_{};
  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
};

}  // namespace vkt::test

#endif  // VKT_TESTS_CONTROLS_SYSTEM_FIXTURE_H_
