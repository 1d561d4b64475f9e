// Services of systemd's manager, reached over the system bus.
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "svc/winsvc.h"

namespace vkt::svc {
namespace {

constexpr const char* kDest = "org.freedesktop.systemd1";
constexpr const char* kPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnit = "org.freedesktop.systemd1.Unit";

DWORD ErrorFromBus(const sd_bus_error* e, int r) {
  if (e != nullptr && e->name != nullptr) {
    if (std::strcmp(e->name, "org.freedesktop.systemd1.NoSuchUnit") == 0 ||
        std::strcmp(e->name, "org.freedesktop.DBus.Error.FileNotFound") == 0)
      return ERROR_SERVICE_DOES_NOT_EXIST;
    if (std::strcmp(e->name, "org.freedesktop.DBus.Error.AccessDenied") == 0 ||
        std::strcmp(e->name, "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired") == 0)
      return ERROR_ACCESS_DENIED;
  }
  if (r == -EACCES || r == -EPERM) return ERROR_ACCESS_DENIED;
  if (r == -ENOENT) return ERROR_SERVICE_DOES_NOT_EXIST;
  return ERROR_SERVICE_REQUEST_TIMEOUT;
}

std::string UnitOf(const std::string& name) {
  return name.find('.') == std::string::npos ? name + ".service" : name;
}

bool IsServiceUnit(const std::string& unit, std::string* name) {
  static const std::string kSuffix = ".service";
  if (unit.size() <= kSuffix.size() ||
      unit.compare(unit.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
    return false;
  *name = unit.substr(0, unit.size() - kSuffix.size());
  return true;
}

class SystemdBackend : public ServiceBackend {
 public:
  ~SystemdBackend() override {
    if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
  }

  bool Connect(DWORD* error) override {
    if (bus_ != nullptr) return true;
    int r = sd_bus_open_system(&bus_);
    if (r < 0) {
      bus_ = nullptr;
      *error = r == -EACCES ? ERROR_ACCESS_DENIED : ERROR_SERVICE_DATABASE_LOCKED;
      return false;
    }
    return true;
  }

  bool List(std::vector<ServiceInfo>* out, DWORD* error) override {
    if (!Connect(error)) return false;
    std::set<std::string> seen;
    // Loaded units first (they have descriptions), then unit files.
    sd_bus_error e = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_, kDest, kPath, kManager, "ListUnits", &e, &reply, "");
    if (r < 0) {
      *error = ErrorFromBus(&e, r);
      sd_bus_error_free(&e);
      return false;
    }
    r = sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(ssssssouso)");
    while (r > 0) {
      const char *id, *desc, *load, *active, *sub, *follow, *path, *jtype, *jpath;
      uint32_t jid;
      r = sd_bus_message_read(reply, "(ssssssouso)", &id, &desc, &load, &active, &sub,
                              &follow, &path, &jid, &jtype, &jpath);
      if (r <= 0) break;
      std::string name;
      if (IsServiceUnit(id, &name) && seen.insert(name).second)
        out->push_back(ServiceInfo{name, desc});
    }
    sd_bus_message_unref(reply);
    reply = nullptr;
    r = sd_bus_call_method(bus_, kDest, kPath, kManager, "ListUnitFiles", &e, &reply, "");
    if (r >= 0) {
      r = sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(ss)");
      while (r > 0) {
        const char *file, *state;
        r = sd_bus_message_read(reply, "(ss)", &file, &state);
        if (r <= 0) break;
        const char* base = std::strrchr(file, '/');
        std::string name;
        if (IsServiceUnit(base != nullptr ? base + 1 : file, &name) &&
            seen.insert(name).second)
          out->push_back(ServiceInfo{name, name});
      }
      sd_bus_message_unref(reply);
    }
    sd_bus_error_free(&e);
    return true;
  }

  bool Exists(const std::string& name, DWORD* error) override {
    std::string path;
    return UnitPath(name, &path, error);
  }

  bool Query(const std::string& name, SERVICE_STATUS_PROCESS* st, DWORD* error) override {
    std::string path;
    if (!UnitPath(name, &path, error)) return false;
    sd_bus_error e = SD_BUS_ERROR_NULL;
    char* active = nullptr;
    int r = sd_bus_get_property_string(bus_, kDest, path.c_str(), kUnit, "ActiveState", &e,
                                       &active);
    if (r < 0) {
      *error = ErrorFromBus(&e, r);
      sd_bus_error_free(&e);
      return false;
    }
    std::memset(st, 0, sizeof *st);
    st->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    std::string a = active;
    free(active);
    if (a == "active" || a == "reloading") st->dwCurrentState = SERVICE_RUNNING;
    else if (a == "activating") st->dwCurrentState = SERVICE_START_PENDING;
    else if (a == "deactivating") st->dwCurrentState = SERVICE_STOP_PENDING;
    else st->dwCurrentState = SERVICE_STOPPED;  // inactive, failed
    st->dwWaitHint = st->dwCurrentState == SERVICE_STOP_PENDING ? 500 : 0;
    uint32_t pid = 0;
    sd_bus_get_property_trivial(bus_, kDest, path.c_str(), "org.freedesktop.systemd1.Service",
                                "MainPID", &e, 'u', &pid);
    st->dwProcessId = pid;
    sd_bus_error_free(&e);
    return true;
  }

  bool Start(const std::string& name, DWORD* error) override { return Job("StartUnit", name, error); }
  bool Stop(const std::string& name, DWORD* error) override { return Job("StopUnit", name, error); }

 private:
  bool UnitPath(const std::string& name, std::string* path, DWORD* error) {
    if (!Connect(error)) return false;
    sd_bus_error e = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    // LoadUnit also finds units that are installed but not loaded.
    int r = sd_bus_call_method(bus_, kDest, kPath, kManager, "LoadUnit", &e, &reply, "s",
                               UnitOf(name).c_str());
    if (r < 0) {
      *error = ErrorFromBus(&e, r);
      sd_bus_error_free(&e);
      return false;
    }
    const char* p = nullptr;
    r = sd_bus_message_read(reply, "o", &p);
    if (r >= 0 && p != nullptr) *path = p;
    sd_bus_message_unref(reply);
    sd_bus_error_free(&e);
    if (r < 0) {
      *error = ERROR_SERVICE_DOES_NOT_EXIST;
      return false;
    }
    // A unit with no file behind it is not installed.
    char* load = nullptr;
    r = sd_bus_get_property_string(bus_, kDest, path->c_str(), kUnit, "LoadState", &e, &load);
    bool found = r >= 0 && load != nullptr && std::strcmp(load, "not-found") != 0;
    free(load);
    sd_bus_error_free(&e);
    if (!found) *error = ERROR_SERVICE_DOES_NOT_EXIST;
    return found;
  }

  bool Job(const char* method, const std::string& name, DWORD* error) {
    if (!Connect(error)) return false;
    sd_bus_error e = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_, kDest, kPath, kManager, method, &e, &reply, "ss",
                               UnitOf(name).c_str(), "replace");
    if (r < 0) *error = ErrorFromBus(&e, r);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&e);
    return r >= 0;
  }

  sd_bus* bus_ = nullptr;
};

}  // namespace

std::unique_ptr<ServiceBackend> MakeSystemdBackend() { return std::make_unique<SystemdBackend>(); }

}  // namespace vkt::svc
