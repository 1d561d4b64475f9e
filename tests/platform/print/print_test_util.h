// Helpers shared by the text-printing tests: private folders and whole-file
// reads.
#ifndef VKT_TESTS_PLATFORM_PRINT_PRINT_TEST_UTIL_H_
#define VKT_TESTS_PLATFORM_PRINT_PRINT_TEST_UTIL_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vkt::testing {

// A fresh folder under /tmp, removed with everything in it.
class TempDir {
 public:
  explicit TempDir(const char* tag = "vktprint") {
    std::string templ = std::string("/tmp/") + tag + ".XXXXXX";
    if (mkdtemp(templ.data()) != nullptr) path_ = templ;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Standard output of a shell command line (for the PDF tools).
inline std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

}  // namespace vkt::testing

#endif  // VKT_TESTS_PLATFORM_PRINT_PRINT_TEST_UTIL_H_
