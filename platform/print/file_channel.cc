#include "print/file_channel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "win/files.h"

namespace vkt::print_io {
namespace {

bool IsDirectory(const std::string& p) {
  struct stat st;
  return !p.empty() && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsExecutableFile(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
}

std::string SelfDirectory() {
  std::vector<char> buf(PATH_MAX + 1);
  ssize_t n = readlink("/proc/self/exe", buf.data(), PATH_MAX);
  if (n <= 0) return "";
  return DirectoryOf(std::string(buf.data(), static_cast<size_t>(n)));
}

// An executable by name: a path is taken as it is, a bare name is searched
// in $PATH and then beside the running program.
std::string Resolve(const std::string& program) {
  if (program.find('/') != std::string::npos)
    return IsExecutableFile(program) ? program : "";
  if (const char* path = std::getenv("PATH"); path != nullptr) {
    std::string all = path;
    size_t start = 0;
    while (start <= all.size()) {
      size_t end = all.find(':', start);
      if (end == std::string::npos) end = all.size();
      std::string dir = all.substr(start, end - start);
      if (dir.empty()) dir = ".";
      std::string candidate = dir + "/" + program;
      if (IsExecutableFile(candidate)) return candidate;
      start = end + 1;
    }
  }
  std::string self = SelfDirectory();
  if (!self.empty() && IsExecutableFile(self + "/" + program)) return self + "/" + program;
  return "";
}

}  // namespace

FILE* CreateOutputFile(const std::string& path) {
  if (path.empty()) return nullptr;
  return std::fopen(path.c_str(), "wb");
}

FILE* CreateTempOutputFile(const std::string& dir, const std::string& prefix,
                           std::string* name) {
  std::string where = dir;
  if (!IsDirectory(where)) {
    const char* t = std::getenv("TMPDIR");
    where = (t != nullptr && IsDirectory(t)) ? t : "/tmp";
  }
  std::string templ = where + "/" + prefix + "XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  int fd = mkstemp(buf.data());
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, "wb");
  if (f == nullptr) {
    close(fd);
    unlink(buf.data());
    return nullptr;
  }
  *name = buf.data();
  return f;
}

bool WriteAll(FILE* f, const void* data, size_t size) {
  if (f == nullptr) return false;
  if (size == 0) return true;
  return std::fwrite(data, 1, size, f) == size;
}

bool CloseOutputFile(FILE* f) {
  if (f == nullptr) return false;
  return std::fclose(f) == 0;
}

std::string DirectoryOf(const std::string& path) { return vkt::win::DirName(path); }

bool FindTextViewer(std::string* program, std::string* leading_args) {
  std::string command = "vkt view";
  if (const char* v = std::getenv("VKT_TEXT_VIEWER"); v != nullptr && *v != '\0') command = v;
  size_t b = command.find_first_not_of(' ');
  if (b == std::string::npos) return false;
  size_t e = command.find(' ', b);
  std::string name = command.substr(b, e == std::string::npos ? std::string::npos : e - b);
  std::string rest;
  if (e != std::string::npos) {
    size_t r = command.find_first_not_of(' ', e);
    if (r != std::string::npos) rest = command.substr(r);
    while (!rest.empty() && rest.back() == ' ') rest.pop_back();
  }
  std::string found = Resolve(name);
  if (found.empty()) return false;
  *program = found;
  *leading_args = rest;
  return true;
}

}  // namespace vkt::print_io
