// Helpers shared by the tests: private folders, whole-file reads and
// writes, and command lines run as a user runs them.
#ifndef VKT_TESTS_TEST_UTIL_H_
#define VKT_TESTS_TEST_UTIL_H_

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vkt::testing {

// A fresh folder under /tmp, removed with everything in it.
class TempDir {
 public:
  explicit TempDir(const char* tag = "vkt") {
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

// What a shell command line wrote to standard output, and its exit code
// (-1 when it could not run or did not exit normally).
struct CommandResult {
  int code = -1;
  std::string out;
};

inline CommandResult RunCommand(const std::string& command) {
  CommandResult r;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return r;
}

// Standard output of a shell command line.
inline std::string Capture(const std::string& command) { return RunCommand(command).out; }

}  // namespace vkt::testing

#endif  // VKT_TESTS_TEST_UTIL_H_
