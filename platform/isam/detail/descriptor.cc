#include "isam/detail/descriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "isam/ctree.h"

namespace vkt::isam::detail {
namespace {

constexpr const char* kMagic = "VKTISAM 1";
constexpr size_t kMaxSize = 4096;

std::string Folder(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

Status SyncFolder(const std::string& path) {
  int fd = ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {CT_WRITE_ERROR, errno};
  int rc = ::fsync(fd);
  int err = errno;
  ::close(fd);
  return rc == 0 ? Status{} : Status{CT_WRITE_ERROR, err};
}

bool ParseInt(const std::string& s, int64_t* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long x = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *v = x;
  return true;
}

}  // namespace

Status ReadDescriptor(const std::string& path, Descriptor* d) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) return {CT_FILE_NOT_FOUND, err};
    return {CT_READ_ERROR, err};
  }
  std::string text;
  char buf[1024];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      return {CT_READ_ERROR, err};
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > kMaxSize) break;
  }
  ::close(fd);
  return ParseDescriptor(text, d);
}

Status ParseDescriptor(const std::string& text, Descriptor* d) {
  if (text.size() > kMaxSize) return CT_NOT_ISAM_FILE;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return CT_NOT_ISAM_FILE;
  Descriptor out;
  bool kind = false, table = false, fileid = false, generation = false, end = false;
  while (std::getline(in, line)) {
    if (line == "end") {
      end = true;
      break;
    }
    size_t sp = line.find(' ');
    if (sp == std::string::npos) return CT_NOT_ISAM_FILE;
    std::string k = line.substr(0, sp), v = line.substr(sp + 1);
    int64_t x = 0;
    if (k == "kind") {
      if (v != "data" && v != "index") return CT_NOT_ISAM_FILE;
      out.index = v == "index";
      kind = true;
    } else if (k == "table") {
      out.table = v;
      table = !v.empty();
    } else if (k == "fileid" && ParseInt(v, &x)) {
      out.fileid = x;
      fileid = true;
    } else if (k == "generation" && ParseInt(v, &x)) {
      out.generation = x;
      generation = true;
    } else if (k == "reclen" && ParseInt(v, &x) && x >= 0) {
      out.reclen = static_cast<uint32_t>(x);
    } else if (k == "owner" && ParseInt(v, &x)) {
      out.owner = x;
    } else if (k == "members") {
      out.members = v;
    } else {
      return CT_NOT_ISAM_FILE;
    }
  }
  if (!end || !kind || !table || !fileid || !generation) return CT_NOT_ISAM_FILE;
  *d = std::move(out);
  return {};
}

std::string FormatDescriptor(const Descriptor& d) {
  std::ostringstream o;
  o << kMagic << "\nkind " << (d.index ? "index" : "data") << "\ntable " << d.table
    << "\nfileid " << d.fileid << "\ngeneration " << d.generation << "\nreclen " << d.reclen;
  if (d.index) o << "\nowner " << d.owner << "\nmembers " << d.members;
  o << "\nend\n";
  return o.str();
}

Status WriteDescriptor(const std::string& path, const Descriptor& d) {
  const std::string text = FormatDescriptor(d);
  const std::string tmp = path + ".tmp" + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    int err = errno;
    return {err == EACCES || err == EPERM ? CT_CREATE_DENIED : CT_CREATE_FAILED, err};
  }
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      return {CT_WRITE_ERROR, err};
    }
    done += static_cast<size_t>(n);
  }
  if (::fdatasync(fd) != 0) {
    int err = errno;
    ::close(fd);
    ::unlink(tmp.c_str());
    return {CT_WRITE_ERROR, err};
  }
  ::close(fd);
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return {CT_WRITE_ERROR, err};
  }
  return SyncFolder(path);
}

Status RemoveDescriptor(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return {CT_WRITE_ERROR, errno};
  return SyncFolder(path);
}

Status RenameDescriptor(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return {CT_WRITE_ERROR, errno};
  return SyncFolder(to);
}

}  // namespace vkt::isam::detail
