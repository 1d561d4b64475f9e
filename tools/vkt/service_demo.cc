// `vkt demo`'s service step and `vkt wait`, the small service it runs: the
// library's CheckService and CloseService on a real child process under the
// supervisor backend.
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/vktstring.h"
#include "frame/service.h"
#include "frame/vktapp.h"
#include "saapi/saapi.h"
#include "svc/winsvc.h"
#include "tools/vkt/vkt.h"
#include "win/winconst.h"

namespace vkt::tool {
namespace {

constexpr const char* kService = "vkt-attesa";

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "fermo";
    case SERVICE_START_PENDING: return "in avvio";
    case SERVICE_STOP_PENDING: return "in arresto";
    case SERVICE_RUNNING: return "in esecuzione";
    default: return "sconosciuto";
  }
}

// The service's state as the manager reports it; false when it cannot say.
bool Query(SERVICE_STATUS_PROCESS* st) {
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (scm == nullptr) return false;
  SC_HANDLE svc = OpenServiceA(scm, kService, SERVICE_QUERY_STATUS);
  DWORD needed = 0;
  const bool ok = svc != nullptr && QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO,
                                                         reinterpret_cast<LPBYTE>(st), sizeof *st,
                                                         &needed) != 0;
  if (svc != nullptr) CloseServiceHandle(svc);
  CloseServiceHandle(scm);
  return ok;
}

// The lines of the service's log, without their CR LF.
std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  FILE* f = std::fopen(path.c_str(), "rb");
  char text[256];
  while (f != nullptr && std::fgets(text, sizeof text, f) != nullptr) {
    std::string l = text;
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    lines.push_back(l);
  }
  if (f != nullptr) std::fclose(f);
  return lines;
}

void Note(FILE* log, const std::string& text) {
  vktpar->log_file = log;
  vkt::Report(text, "VKT", MB_OK | MB_ICONINFORMATION);
  vktpar->log_file = nullptr;
  std::fflush(log);
}

}  // namespace

int Wait(const std::vector<std::string>& args) {
  long limit = 300;
  if (args.size() == 2) limit = std::atol(args[1].c_str());
  if (args.empty() || args.size() > 2 || limit <= 0) {
    std::fprintf(stderr, "uso: vkt wait REGISTRO [SECONDI]\n");
    return 2;
  }
  // The stop arrives as SIGTERM: blocked here, then taken by sigtimedwait,
  // so it cannot come before the wait or between two checks.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  FILE* log = std::fopen(args[0].c_str(), "ab");
  if (log == nullptr) {
    std::fprintf(stderr, "vkt wait: registro non apribile: %s\n", args[0].c_str());
    return 1;
  }
  Note(log, "Servizio " + std::string(kService) + " avviato (pid " + std::to_string(getpid()) + ")");
  // Never an orphan for long: without a stop it ends by itself.
  timespec ts{limit, 0};
  siginfo_t info;
  int sig;
  while ((sig = sigtimedwait(&set, &info, &ts)) < 0 && errno == EINTR) {
  }
  const bool asked = sig == SIGTERM || sig == SIGINT;
  Note(log, asked ? "Servizio " + std::string(kService) + " fermato (" +
                        (sig == SIGTERM ? "SIGTERM" : "SIGINT") + ")"
                  : "Servizio " + std::string(kService) + ": nessun arresto in " +
                        std::to_string(limit) + " s, termina da solo");
  std::fclose(log);
  return asked ? 0 : 1;
}

std::string DemoServiceControl(const std::string& dir) {
  std::printf("\n== Servizi (CheckService e CloseService su un processo figlio)\n");
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) {
    std::printf("programma non trovato: servizio non definito\n");
    return "";
  }
  exe[n] = '\0';
  mkdir(dir.c_str(), 0755);
  mkdir((dir + "/log").c_str(), 0755);
  const std::string log = dir + "/log/servizio.txt";
  std::remove(log.c_str());

  // The supervisor runs `vkt wait` as the service; the library's calls go
  // to it instead of systemd for this step.
  vkt::svc::Supervisor supervisor;
  supervisor.Define(kService, {exe, "wait", log, "120"}, "Attesa VKT");
  vkt::svc::ServiceBackend* previous = vkt::svc::SetServiceBackend(&supervisor);
  std::string summary;
  const bool started = CheckService(kService);
  const int pid = supervisor.Pid(kService);
  std::printf("CheckService(\"%s\") -> %s, pid %d\n", kService,
              started ? "avviato" : "non avviato", pid);
  // Its first log line says it is listening for the stop.
  std::vector<std::string> lines;
  for (int i = 0; started && i < 1000 && (lines = LogLines(log)).empty(); ++i) usleep(10000);
  SERVICE_STATUS_PROCESS st{};
  if (!started || lines.empty() || !Query(&st)) {
    std::printf("il servizio non \xC3\xA8 partito (registro %s)\n", log.c_str());
  } else {
    std::printf("  %s\n", StrToUtf8(lines[0].c_str()));
    std::printf("stato: %s, pid %u\n", StateName(st.dwCurrentState),
                static_cast<unsigned>(st.dwProcessId));
    std::printf("CheckService di nuovo -> %s\n",
                CheckService(kService) ? "avviato una seconda volta (errore)"
                                       : "falso: gi\xC3\xA0 in esecuzione, non riavviato");
    const auto start = std::chrono::steady_clock::now();
    bool stopped = false;
    try {
      stopped = CloseService(kService);
    } catch (const SAException& e) {
      std::printf("CloseService: %s\n",
                  StrToUtf8(static_cast<const char*>(e.ErrText())));
    }
    const long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
    const bool queried = Query(&st);
    lines = LogLines(log);
    std::printf("CloseService(\"%s\") -> %s in %ld ms, stato %s, uscita %u\n", kService,
                stopped ? "fermato" : "non fermato", ms,
                queried ? StateName(st.dwCurrentState) : "?",
                static_cast<unsigned>(st.dwWin32ExitCode));
    if (lines.size() > 1) std::printf("  %s\n", StrToUtf8(lines.back().c_str()));
    if (stopped && queried && st.dwCurrentState == SERVICE_STOPPED && st.dwWin32ExitCode == 0 &&
        lines.size() == 2)
      summary = "servizio " + std::string(kService) + ": avviato con CheckService (pid " +
                std::to_string(pid) + "), fermato con CloseService (uscita 0), registro log/servizio.txt";
  }
  vkt::svc::SetServiceBackend(previous);
  return summary;
}

}  // namespace vkt::tool
