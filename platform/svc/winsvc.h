// Service control in the Win32 manner, over Linux service managers.
//
// The library's service functions are written against the service control
// manager calls below (same names, arguments, states and error numbers); the
// calls are carried out by a backend: systemd over D-Bus in production, or
// the in-process Supervisor that tests use to run real child processes.
//
//   SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
//   SC_HANDLE svc = OpenServiceA(scm, "mirtosrv", SERVICE_QUERY_STATUS);
//   SERVICE_STATUS_PROCESS st; DWORD need;
//   QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, (LPBYTE)&st, sizeof st, &need);
#ifndef VKT_SVC_WINSVC_H_
#define VKT_SVC_WINSVC_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vkt_export.h"

using DWORD = uint32_t;
using BOOL = int;
using LPBYTE = unsigned char*;
struct ScHandleRep;
using SC_HANDLE = ScHandleRep*;

// Access rights.
constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
constexpr DWORD SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
constexpr DWORD SC_MANAGER_ALL_ACCESS = 0xF003F;
constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
constexpr DWORD SERVICE_START = 0x0010;
constexpr DWORD SERVICE_STOP = 0x0020;
constexpr DWORD SERVICE_ALL_ACCESS = 0xF01FF;

// Service states.
constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;

constexpr DWORD SERVICE_CONTROL_STOP = 1;
constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
constexpr DWORD SERVICE_WIN32 = 0x30;
constexpr DWORD SERVICE_STATE_ALL = 3;
constexpr int SC_STATUS_PROCESS_INFO = 0;
constexpr int SC_ENUM_PROCESS_INFO = 0;

// Error numbers (GetLastError).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
constexpr DWORD ERROR_SERVICE_NO_THREAD = 1054;
constexpr DWORD ERROR_SERVICE_ALREADY_RUNNING = 1056;
constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
constexpr DWORD ERROR_SERVICE_NOT_ACTIVE = 1062;
constexpr DWORD ERROR_SERVICE_DATABASE_LOCKED = 1055;
constexpr DWORD ERROR_SERVICE_START_FAILED = 1069;  // the service logon failed

struct SERVICE_STATUS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
};

struct SERVICE_STATUS_PROCESS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
  DWORD dwProcessId;
  DWORD dwServiceFlags;
};

struct ENUM_SERVICE_STATUS_PROCESSA {
  char* lpServiceName;
  char* lpDisplayName;
  SERVICE_STATUS_PROCESS ServiceStatusProcess;
};

VKT_API SC_HANDLE OpenSCManagerA(const char* machine, const char* database, DWORD access);
VKT_API SC_HANDLE OpenServiceA(SC_HANDLE manager, const char* name, DWORD access);
VKT_API BOOL QueryServiceStatusEx(SC_HANDLE service, int level, LPBYTE buffer,
                                  DWORD size, DWORD* needed);
VKT_API BOOL StartServiceA(SC_HANDLE service, DWORD argc, const char** argv);
VKT_API BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status);
// Lists the services; with too small a buffer fails with ERROR_MORE_DATA and
// sets *needed. The names live inside `buffer`.
VKT_API BOOL EnumServicesStatusExA(SC_HANDLE manager, int level, DWORD type, DWORD state,
                                   LPBYTE buffer, DWORD size, DWORD* needed,
                                   DWORD* returned, DWORD* resume, const char* group);
VKT_API BOOL CloseServiceHandle(SC_HANDLE handle);
// The error of the calling thread's last failed call.
VKT_API DWORD GetLastError();
VKT_API void SetLastError(DWORD error);

namespace vkt::svc {

// One service as a backend reports it.
struct ServiceInfo {
  std::string name;
  std::string display_name;
};

// What a service manager does for the calls above. Every method runs on the
// calling thread and may block briefly; none throws. Failures return false
// with a Win32 error number in *error.
class VKT_API ServiceBackend {
 public:
  virtual ~ServiceBackend();
  // Reaching the manager at all (the bus, the supervisor).
  virtual bool Connect(DWORD* error) = 0;
  virtual bool List(std::vector<ServiceInfo>* out, DWORD* error) = 0;
  virtual bool Exists(const std::string& name, DWORD* error) = 0;
  virtual bool Query(const std::string& name, SERVICE_STATUS_PROCESS* status,
                     DWORD* error) = 0;
  // Asks the service to start; true when the manager accepted the request.
  virtual bool Start(const std::string& name, DWORD* error) = 0;
  // Asks a running service to stop; the state then passes through
  // SERVICE_STOP_PENDING to SERVICE_STOPPED.
  virtual bool Stop(const std::string& name, DWORD* error) = 0;
};

// systemd's manager on the system bus (org.freedesktop.systemd1); the
// service "name" is the unit "name.service".
VKT_API std::unique_ptr<ServiceBackend> MakeSystemdBackend();

// Installs the backend the calls use (not owned; null restores systemd).
VKT_API ServiceBackend* SetServiceBackend(ServiceBackend* backend);

// A supervisor of our own: services are commands run as child processes of
// this process. Start forks and execs; Stop sends SIGTERM (SIGKILL after
// `kill_after_ms`); a child that exits by itself is reported stopped.
class VKT_API Supervisor : public ServiceBackend {
 public:
  Supervisor();
  ~Supervisor() override;  // stops every child still running

  // Declares a service run by `argv` (argv[0] is the program path).
  void Define(const std::string& name, std::vector<std::string> argv,
              std::string display_name = "");
  void SetWaitHint(DWORD ms) { wait_hint_ms_ = ms; }
  void SetKillAfter(DWORD ms) { kill_after_ms_ = ms; }
  // The manager is unreachable while false (OpenSCManager fails).
  void SetReachable(bool reachable) { reachable_ = reachable; }
  // The child's pid, or 0 when stopped.
  int Pid(const std::string& name);
  int starts() const { return starts_; }
  int stops() const { return stops_; }

  bool Connect(DWORD* error) override;
  bool List(std::vector<ServiceInfo>* out, DWORD* error) override;
  bool Exists(const std::string& name, DWORD* error) override;
  bool Query(const std::string& name, SERVICE_STATUS_PROCESS* status,
             DWORD* error) override;
  bool Start(const std::string& name, DWORD* error) override;
  bool Stop(const std::string& name, DWORD* error) override;

 private:
  struct Child;
  Child* Find(const std::string& name);
  void Reap(Child* c);
  std::vector<std::unique_ptr<Child>> children_;
  DWORD wait_hint_ms_ = 50;
  DWORD kill_after_ms_ = 5000;
  bool reachable_ = true;
  int starts_ = 0;
  int stops_ = 0;
};

}  // namespace vkt::svc

#endif  // VKT_SVC_WINSVC_H_
