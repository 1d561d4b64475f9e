#include "frame/service.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "sql/sqlexception.h"
#include "svc/winsvc.h"
#include "win/services.h"

namespace {

constexpr const char* kSource = "VKTDialog";

[[noreturn]] void Throw(const char* text, int line, const char* function) {
  ThrowUserException(text, kSource, line, function, nullptr);
}

// Closes a service handle on every way out.
class Handle {
 public:
  explicit Handle(SC_HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != nullptr) CloseServiceHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  SC_HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  SC_HANDLE h_;
};

bool Query(SC_HANDLE service, SERVICE_STATUS_PROCESS* st) {
  DWORD needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(st),
                              sizeof *st, &needed) != 0;
}

bool IsServiceInstalled(const char* name) {
  Handle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  if (!scm)
    Throw("Impossibile aprire OpenScManager - SC_MANAGER_ENUMERATE_SERVICE", __LINE__,
          "IsServiceInstalled");
  DWORD needed = 0, returned = 0, resume = 0;
  if (EnumServicesStatusExA(scm.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                            nullptr, 0, &needed, &returned, &resume, nullptr) == 0 &&
      GetLastError() != ERROR_MORE_DATA)
    Throw("Errore su EnumServiceStatusEx - fase 1", __LINE__, "IsServiceInstalled");
  // The list may grow between the two calls: ask again with the new size.
  std::vector<unsigned char> buffer;
  for (int attempt = 0;; ++attempt) {
    buffer.assign(needed, 0);
    if (EnumServicesStatusExA(scm.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32,
                              SERVICE_STATE_ALL, buffer.data(),
                              static_cast<DWORD>(buffer.size()), &needed, &returned, &resume,
                              nullptr) != 0)
      break;
    if (GetLastError() != ERROR_MORE_DATA || attempt >= 3)
      Throw("Errore su EnumServiceStatusEx - fase 2", __LINE__, "IsServiceInstalled");
  }
  const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSA*>(buffer.data());
  for (DWORD i = 0; i < returned; ++i)
    if (std::strcmp(entries[i].lpServiceName, name) == 0) return true;
  return false;
}

}  // namespace

bool CheckService(const char* name) {
  if (name == nullptr) return false;
  Handle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm) return false;
  Handle service(OpenServiceA(scm.get(), name, SERVICE_ALL_ACCESS));
  if (!service) return false;
  SERVICE_STATUS_PROCESS st{};
  if (!Query(service.get(), &st) || st.dwCurrentState != SERVICE_STOPPED) return false;
  // A start the manager refused is a failure, not a started service.
  return StartServiceA(service.get(), 0, nullptr) != 0;
}

bool CloseService(const char* name) {
  if (name == nullptr || !IsServiceInstalled(name)) return true;
  Handle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm) Throw("Impossibile aprire OpenScManager - SC_MANAGER_CONNECT", __LINE__, "CloseService");
  Handle service(OpenServiceA(scm.get(), name, SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) Throw("Impossibile aprire OpenService", __LINE__, "CloseService");
  SERVICE_STATUS_PROCESS st{};
  if (!Query(service.get(), &st)) Throw("Errore su QueryServiceStatusEx", __LINE__, "CloseService");
  if (st.dwCurrentState == SERVICE_STOPPED) return true;
  SERVICE_STATUS sent{};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &sent) == 0)
    Throw("Errore nell'arresto del servizio.", __LINE__, "CloseService");
  st.dwCurrentState = sent.dwCurrentState != 0 ? sent.dwCurrentState : SERVICE_STOP_PENDING;
  st.dwWaitHint = sent.dwWaitHint;
  // The wait is bounded, paced by at least a short pause, and gives up when
  // the service went back to running: never an endless loop on the UI thread.
  vkt::Services& s = vkt::services();
  const int64_t start = s.MonotonicMicros();
  bool seen_pending = st.dwCurrentState == SERVICE_STOP_PENDING;
  while (st.dwCurrentState != SERVICE_STOPPED) {
    // A manager may still say "running" just after the request; once it has
    // said "stopping", "running" again means the stop was given up.
    if (st.dwCurrentState == SERVICE_STOP_PENDING) seen_pending = true;
    if (st.dwCurrentState == SERVICE_RUNNING && seen_pending) return false;
    if (s.MonotonicMicros() - start >= int64_t{vkt::kServiceStopLimitMs} * 1000)
      Throw("Tempo scaduto nell'arresto del servizio.", __LINE__, "CloseService");
    DWORD pause = st.dwWaitHint;
    if (pause < vkt::kServiceMinPollMs) pause = vkt::kServiceMinPollMs;
    if (pause > 10000) pause = 10000;
    s.Sleep(pause);
    if (!Query(service.get(), &st)) Throw("Errore su QueryServiceStatusEx", __LINE__, "CloseService");
  }
  return true;
}
