#include "engine/detail/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vkt::engine::detail {

bool WriteFileAtomic(const std::string& path, std::string_view data, std::string* error) {
  std::string temp = path + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  // mkstemp makes the file private; a saved file gets the usual permissions.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = "cannot write " + path + ": " + std::strerror(errno);
      close(fd);
      unlink(name.data());
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(name.data());
    return false;
  }
  if (rename(name.data(), path.c_str()) != 0) {
    *error = "cannot replace " + path + ": " + std::strerror(errno);
    unlink(name.data());
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* data, std::string* error) {
  data->clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data->append(buf, n);
  bool ok = std::ferror(f) == 0;
  std::fclose(f);
  if (!ok) *error = "cannot read " + path;
  return ok;
}

}  // namespace vkt::engine::detail
