#include "svc/winsvc.h"

#include <cstring>
#include <string>

namespace {

thread_local DWORD t_last_error = 0;
vkt::svc::ServiceBackend* g_backend = nullptr;

vkt::svc::ServiceBackend& Backend() {
  if (g_backend != nullptr) return *g_backend;
  static vkt::svc::ServiceBackend* systemd = vkt::svc::MakeSystemdBackend().release();
  return *systemd;
}

BOOL Fail(DWORD error) {
  t_last_error = error;
  return 0;
}

}  // namespace

// A manager or service handle. The magic number catches handles that were
// closed or never ours.
struct ScHandleRep {
  static constexpr uint32_t kMagic = 0x5356434B;
  uint32_t magic = kMagic;
  bool is_manager = false;
  DWORD access = 0;
  std::string name;
};

namespace {

ScHandleRep* Valid(SC_HANDLE h, bool manager) {
  if (h == nullptr || h->magic != ScHandleRep::kMagic || h->is_manager != manager) {
    t_last_error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  return h;
}

}  // namespace

DWORD GetLastError() { return t_last_error; }
void SetLastError(DWORD error) { t_last_error = error; }

SC_HANDLE OpenSCManagerA(const char* machine, const char*, DWORD access) {
  if (machine != nullptr && *machine != '\0') {
    // Only the local machine's manager is reachable.
    t_last_error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  DWORD error = 0;
  if (!Backend().Connect(&error)) {
    t_last_error = error != 0 ? error : ERROR_ACCESS_DENIED;
    return nullptr;
  }
  auto* h = new ScHandleRep();
  h->is_manager = true;
  h->access = access;
  t_last_error = 0;
  return h;
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, const char* name, DWORD access) {
  if (Valid(manager, true) == nullptr) return nullptr;
  if (name == nullptr || *name == '\0') {
    t_last_error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  DWORD error = 0;
  if (!Backend().Exists(name, &error)) {
    t_last_error = error != 0 ? error : ERROR_SERVICE_DOES_NOT_EXIST;
    return nullptr;
  }
  auto* h = new ScHandleRep();
  h->access = access;
  h->name = name;
  t_last_error = 0;
  return h;
}

BOOL QueryServiceStatusEx(SC_HANDLE service, int level, LPBYTE buffer, DWORD size,
                          DWORD* needed) {
  ScHandleRep* h = Valid(service, false);
  if (h == nullptr) return 0;
  if (level != SC_STATUS_PROCESS_INFO || needed == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *needed = sizeof(SERVICE_STATUS_PROCESS);
  if (buffer == nullptr || size < sizeof(SERVICE_STATUS_PROCESS))
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  if ((h->access & SERVICE_QUERY_STATUS) == 0) return Fail(ERROR_ACCESS_DENIED);
  SERVICE_STATUS_PROCESS st{};
  DWORD error = 0;
  if (!Backend().Query(h->name, &st, &error)) return Fail(error);
  std::memcpy(buffer, &st, sizeof st);
  t_last_error = 0;
  return 1;
}

BOOL StartServiceA(SC_HANDLE service, DWORD, const char**) {
  ScHandleRep* h = Valid(service, false);
  if (h == nullptr) return 0;
  if ((h->access & SERVICE_START) == 0) return Fail(ERROR_ACCESS_DENIED);
  DWORD error = 0;
  if (!Backend().Start(h->name, &error)) return Fail(error);
  t_last_error = 0;
  return 1;
}

BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) {
  ScHandleRep* h = Valid(service, false);
  if (h == nullptr) return 0;
  if (control != SERVICE_CONTROL_STOP) return Fail(ERROR_INVALID_PARAMETER);
  if ((h->access & SERVICE_STOP) == 0) return Fail(ERROR_ACCESS_DENIED);
  DWORD error = 0;
  if (!Backend().Stop(h->name, &error)) return Fail(error);
  if (status != nullptr) {
    SERVICE_STATUS_PROCESS st{};
    DWORD qerr = 0;
    if (Backend().Query(h->name, &st, &qerr)) std::memcpy(status, &st, sizeof *status);
  }
  t_last_error = 0;
  return 1;
}

BOOL EnumServicesStatusExA(SC_HANDLE manager, int level, DWORD, DWORD, LPBYTE buffer,
                           DWORD size, DWORD* needed, DWORD* returned, DWORD* resume,
                           const char*) {
  ScHandleRep* m = Valid(manager, true);
  if (m == nullptr) return 0;
  if (level != SC_ENUM_PROCESS_INFO || needed == nullptr || returned == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  if ((m->access & SC_MANAGER_ENUMERATE_SERVICE) == 0) return Fail(ERROR_ACCESS_DENIED);
  std::vector<vkt::svc::ServiceInfo> list;
  DWORD error = 0;
  vkt::svc::ServiceBackend& b = Backend();
  if (!b.List(&list, &error)) return Fail(error);
  // Entries first, then the names they point to, all inside the buffer.
  size_t total = list.size() * sizeof(ENUM_SERVICE_STATUS_PROCESSA);
  for (const auto& s : list) total += s.name.size() + 1 + s.display_name.size() + 1;
  *needed = static_cast<DWORD>(total);
  *returned = 0;
  if (resume != nullptr) *resume = 0;
  if (buffer == nullptr || size < total) return Fail(ERROR_MORE_DATA);
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSA*>(buffer);
  char* text = reinterpret_cast<char*>(buffer) + list.size() * sizeof(ENUM_SERVICE_STATUS_PROCESSA);
  for (size_t i = 0; i < list.size(); ++i) {
    ENUM_SERVICE_STATUS_PROCESSA& e = entries[i];
    std::memset(&e, 0, sizeof e);
    e.lpServiceName = text;
    std::memcpy(text, list[i].name.c_str(), list[i].name.size() + 1);
    text += list[i].name.size() + 1;
    e.lpDisplayName = text;
    std::memcpy(text, list[i].display_name.c_str(), list[i].display_name.size() + 1);
    text += list[i].display_name.size() + 1;
    DWORD qerr = 0;
    b.Query(list[i].name, &e.ServiceStatusProcess, &qerr);
  }
  *returned = static_cast<DWORD>(list.size());
  t_last_error = 0;
  return 1;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
  if (handle == nullptr || handle->magic != ScHandleRep::kMagic) return Fail(ERROR_INVALID_HANDLE);
  handle->magic = 0;
  delete handle;
  t_last_error = 0;
  return 1;
}

namespace vkt::svc {

ServiceBackend::~ServiceBackend() = default;

ServiceBackend* SetServiceBackend(ServiceBackend* backend) {
  ServiceBackend* previous = g_backend;
  g_backend = backend;
  return previous;
}

}  // namespace vkt::svc
