// The in-process supervisor: services are child processes of this process.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "svc/winsvc.h"

extern char** environ;

namespace vkt::svc {
namespace {

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

struct Supervisor::Child {
  std::string name;
  std::string display_name;
  std::vector<std::string> argv;
  pid_t pid = 0;
  bool stopping = false;
  int64_t stop_sent_ms = 0;
  int exit_code = 0;
};

Supervisor::Supervisor() = default;

Supervisor::~Supervisor() {
  for (auto& c : children_) {
    if (c->pid > 0) {
      kill(-c->pid, SIGKILL);
      int status;
      while (waitpid(c->pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
  }
}

void Supervisor::Define(const std::string& name, std::vector<std::string> argv,
                        std::string display_name) {
  auto c = std::make_unique<Child>();
  c->name = name;
  c->display_name = display_name.empty() ? name : display_name;
  c->argv = std::move(argv);
  children_.push_back(std::move(c));
}

Supervisor::Child* Supervisor::Find(const std::string& name) {
  // Service names compare exactly, as the manager's keys do.
  for (auto& c : children_)
    if (c->name == name) return c.get();
  return nullptr;
}

void Supervisor::Reap(Child* c) {
  if (c->pid <= 0) return;
  // A child asked to stop gets a short real wait here, so that callers on a
  // virtual clock still see the stop complete.
  int64_t deadline = NowMs() + (c->stopping ? 20 : 0);
  for (;;) {
    int status = 0;
    pid_t r = waitpid(c->pid, &status, WNOHANG);
    if (r == c->pid || (r < 0 && errno == ECHILD)) {
      c->exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      c->pid = 0;
      c->stopping = false;
      return;
    }
    if (c->stopping && NowMs() - c->stop_sent_ms >= kill_after_ms_) kill(-c->pid, SIGKILL);
    if (NowMs() >= deadline) return;
    usleep(1000);
  }
}

int Supervisor::Pid(const std::string& name) {
  Child* c = Find(name);
  if (c == nullptr) return 0;
  Reap(c);
  return c->pid;
}

bool Supervisor::Connect(DWORD* error) {
  if (!reachable_) *error = ERROR_ACCESS_DENIED;
  return reachable_;
}

bool Supervisor::List(std::vector<ServiceInfo>* out, DWORD* error) {
  if (!Connect(error)) return false;
  for (auto& c : children_) out->push_back(ServiceInfo{c->name, c->display_name});
  return true;
}

bool Supervisor::Exists(const std::string& name, DWORD* error) {
  if (!Connect(error)) return false;
  if (Find(name) != nullptr) return true;
  *error = ERROR_SERVICE_DOES_NOT_EXIST;
  return false;
}

bool Supervisor::Query(const std::string& name, SERVICE_STATUS_PROCESS* st, DWORD* error) {
  if (!Connect(error)) return false;
  Child* c = Find(name);
  if (c == nullptr) {
    *error = ERROR_SERVICE_DOES_NOT_EXIST;
    return false;
  }
  Reap(c);
  std::memset(st, 0, sizeof *st);
  st->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  if (c->pid == 0) {
    st->dwCurrentState = SERVICE_STOPPED;
    st->dwWin32ExitCode = static_cast<DWORD>(c->exit_code);
  } else if (c->stopping) {
    st->dwCurrentState = SERVICE_STOP_PENDING;
    st->dwWaitHint = wait_hint_ms_;
  } else {
    st->dwCurrentState = SERVICE_RUNNING;
  }
  st->dwProcessId = static_cast<DWORD>(c->pid);
  return true;
}

bool Supervisor::Start(const std::string& name, DWORD* error) {
  if (!Connect(error)) return false;
  Child* c = Find(name);
  if (c == nullptr) {
    *error = ERROR_SERVICE_DOES_NOT_EXIST;
    return false;
  }
  Reap(c);
  if (c->pid != 0) {
    *error = ERROR_SERVICE_ALREADY_RUNNING;
    return false;
  }
  if (c->argv.empty() || access(c->argv[0].c_str(), X_OK) != 0) {
    *error = ERROR_SERVICE_START_FAILED;
    return false;
  }
  std::vector<char*> argv;
  for (std::string& a : c->argv) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Each service leads a process group of its own, so that a stop reaches
  // whatever the service started too.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    *error = ERROR_SERVICE_START_FAILED;
    return false;
  }
  c->pid = pid;
  c->stopping = false;
  ++starts_;
  return true;
}

bool Supervisor::Stop(const std::string& name, DWORD* error) {
  if (!Connect(error)) return false;
  Child* c = Find(name);
  if (c == nullptr) {
    *error = ERROR_SERVICE_DOES_NOT_EXIST;
    return false;
  }
  Reap(c);
  if (c->pid == 0) {
    *error = ERROR_SERVICE_NOT_ACTIVE;
    return false;
  }
  if (!c->stopping) {
    kill(-c->pid, SIGTERM);
    c->stopping = true;
    c->stop_sent_ms = NowMs();
    ++stops_;
  }
  return true;
}

}  // namespace vkt::svc
