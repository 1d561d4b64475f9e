// Security administration: an administrator's logon to a server of the
// settings file and changes to its user list, the list InitISAMXtd checks.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <sstream>

#include "isam/ctree.h"
#include "isam/detail/session.h"
#include "win/ini_file.h"

using namespace vkt::isam::detail;  // NOLINT: the exported names are global

namespace {

struct Admin {
  bool on = false;
  std::string server, user;
};

Admin& TheAdmin() {
  static auto* a = new Admin();
  return *a;
}

std::string Field(const char* p, size_t n) { return std::string(p, strnlen(p, n)); }

bool IsAdmin(const vkt::win::IniFile& ini, const std::string& server, const std::string& user) {
  std::stringstream list(ini.Get(server, "admin", "ADMIN"));
  std::string one;
  while (std::getline(list, one, ',')) {
    while (!one.empty() && one.front() == ' ') one.erase(0, 1);
    while (!one.empty() && one.back() == ' ') one.pop_back();
    if (one == user) return true;
  }
  return false;
}

// Rewrites the settings file under an exclusive lock, so that two
// administrators (or processes) never lose each other's change; the new
// text replaces the old one whole (written beside it, then renamed). The
// lock is on a side file: the settings file itself is replaced.
Status EditSettings(const std::function<Status(vkt::win::IniFile&)>& edit) {
  const std::string path = vkt::isam::IsamSettingsPath();
  if (::access(path.c_str(), F_OK) != 0) return {CT_SERVER_NOT_FOUND, errno};
  const int fd = ::open((path + ".lck").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return {CT_WRITE_ERROR, errno};
  if (::flock(fd, LOCK_EX) != 0) {
    ::close(fd);
    return {CT_LOCKED, errno};
  }
  vkt::win::IniFile ini;
  Status s = ini.Load(path) ? edit(ini) : Status{CT_SERVER_NOT_FOUND};
  if (s.ok()) {
    const std::string text = ini.Serialize();
    const std::string tmp = path + ".new";
    struct stat info;
    const mode_t mode = ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0600;
    const int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out >= 0) (void)::fchmod(out, mode);  // the file keeps who may read it
    if (out < 0) {
      s = {CT_WRITE_ERROR, errno};
    } else {
      const bool written = ::write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                           ::fsync(out) == 0;
      const int err = errno;
      ::close(out);
      if (!written || ::rename(tmp.c_str(), path.c_str()) != 0) {
        s = {CT_WRITE_ERROR, written ? errno : err};
        ::unlink(tmp.c_str());
      }
    }
  }
  ::flock(fd, LOCK_UN);
  ::close(fd);
  return s;
}

}  // namespace

namespace vkt::isam::detail {
void ResetSecurityForTesting() {
  std::lock_guard<std::recursive_mutex> l(SessionMutex());
  TheAdmin() = Admin();
}
}  // namespace vkt::isam::detail

int SA_LOGON(char* admin, char* password, char* filword, char* server) {
  Call c;
  if (c.faulted()) return c.Ret(c.fault());
  (void)filword;
  std::string root;
  if (server == nullptr || server[0] == '\0') return c.Ret(CT_BAD_SERVER_NAME);
  if (Status s = Logon(admin, password, server, &root); !s.ok()) return c.Ret(s);
  vkt::win::IniFile ini;
  if (!ini.Load(vkt::isam::IsamSettingsPath())) return c.Ret(CT_SERVER_NOT_FOUND);
  if (!IsAdmin(ini, server, admin)) return c.Ret(CT_SA_NOT_ADMIN);
  TheAdmin() = Admin{true, server, admin};
  return c.Ret({});
}

int SA_LOGOF() {
  Call c;
  if (c.faulted()) return c.Ret(c.fault());
  if (!TheAdmin().on) return c.Ret(CT_SA_NO_LOGON);
  TheAdmin() = Admin();
  return c.Ret({});
}

int SA_USERS(int16_t action, _saUSRI* info) {
  Call c;
  if (c.faulted()) return c.Ret(c.fault());
  const Admin admin = TheAdmin();
  if (!admin.on) return c.Ret(CT_SA_NO_LOGON);
  if (info == nullptr) return c.Ret(CT_BAD_PARAMETER);
  const std::string user = Field(info->usrid, sizeof info->usrid);
  const std::string word = Field(info->usrword, sizeof info->usrword);
  // Names reach a settings file: no separators, blanks or control bytes.
  if (user.empty() || user.size() >= sizeof info->usrid) return c.Ret(CT_BAD_PARAMETER);
  for (unsigned char ch : user)
    if (ch <= 0x20 || ch == '=' || ch == '[' || ch == ']' || ch == ';' || ch == ',') return c.Ret(CT_BAD_PARAMETER);
  for (unsigned char ch : word)
    if (ch < 0x20) return c.Ret(CT_BAD_PARAMETER);
  if (action != SA_ADD_USER && action != SA_DEL_USER && action != SA_PASS_USER) return c.Ret(CT_BAD_PARAMETER);
  const std::string key = "user." + user;
  return c.Ret(EditSettings([&](vkt::win::IniFile& ini) -> Status {
    if (!ini.Has(admin.server, "backend")) return CT_SERVER_NOT_FOUND;
    const bool known = ini.Has(admin.server, key);
    switch (action) {
      case SA_ADD_USER:
        if (known) return CT_SA_USER_EXISTS;
        ini.Set(admin.server, key, word);
        return {};
      case SA_DEL_USER:
        if (!known) return CT_BAD_USER;
        if (user == admin.user) return CT_BAD_PARAMETER;
        ini.Remove(admin.server, key);
        return {};
      default:
        if (!known) return CT_BAD_USER;
        ini.Set(admin.server, key, word);
        return {};
    }
  }));
}
