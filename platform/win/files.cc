#include "win/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace vkt::win {
namespace {

bool Failed(FileWriteError* err, FileWriteError::Stage stage, int error) {
  if (err != nullptr) {
    err->stage = stage;
    err->error = error;
  }
  return false;
}

}  // namespace

bool WriteFileAtomic(const std::string& path, std::string_view data, mode_t mode,
                     FileWriteError* err) {
  std::string temp = path + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return Failed(err, FileWriteError::kCreate, errno);
  // mkstemp makes the file private; the saved file gets the mode asked for.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, mode & ~mask);
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int e = n < 0 ? errno : EIO;
      close(fd);
      unlink(name.data());
      return Failed(err, FileWriteError::kWrite, e);
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (fsync(fd) != 0) {
    int e = errno;
    close(fd);
    unlink(name.data());
    return Failed(err, FileWriteError::kWrite, e);
  }
  if (close(fd) != 0) {
    int e = errno;
    unlink(name.data());
    return Failed(err, FileWriteError::kWrite, e);
  }
  if (rename(name.data(), path.c_str()) != 0) {
    int e = errno;
    unlink(name.data());
    return Failed(err, FileWriteError::kReplace, e);
  }
  if (err != nullptr) *err = FileWriteError{};
  return true;
}

bool MakeDirs(const std::string& dir, mode_t mode) {
  for (size_t pos = dir.find('/', 1);; pos = dir.find('/', pos + 1)) {
    std::string part = dir.substr(0, pos);
    if (!part.empty() && mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    if (pos == std::string::npos) return true;
  }
}

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

FileLock::FileLock(const std::string& lock_path, mode_t mode) {
  fd_ = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
  if (fd_ >= 0) {
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

FileLock::~FileLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace vkt::win
