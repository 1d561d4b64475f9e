#include "frame/vktapp.h"

#include <cstdlib>
#include <cstring>

#include "win/rect.h"
#include "win/services.h"
#include "win/winconst.h"

VKTAPPPARAM* vktpar = nullptr;
char buf_stampa[20480];
bool psql_transaction = false;
int mirto_db_force_doda = 0;

namespace {

constexpr const char* kCaption = "VKTDlg";

void DefaultVopidFunc() {
  vkt::Report("VopidFunc non Inizializzata !", kCaption,
              MB_OK | MB_ICONEXCLAMATION);
}

int DefaultTestDlg(int result) {
  vkt::Report("Funzione TestDlg non impostata su inizializzazione DLL !",
              kCaption, MB_OK | MB_ICONEXCLAMATION);
  return result;
}

int DefaultTestAnnoCorrente() {
  vkt::Report("Funzione TestAnnoCorrente non impostata su inizializzazione DLL !",
              kCaption, MB_OK | MB_ICONEXCLAMATION);
  return 1;
}

// The shared library's entry point. A host that links the archives directly
// gets the same through vkt::LibraryLoad.
__attribute__((constructor)) void OnLoad() { vkt::LibraryLoad(); }
__attribute__((destructor)) void OnUnload() { vkt::LibraryUnload(); }

}  // namespace

void VKTDlgInitialize(VKTAPPPARAM* p) {
  if (p == nullptr) return;  // nothing to keep; the library stays uninitialised
  vktpar = p;
  if (p->VopidFunc == nullptr) p->VopidFunc = DefaultVopidFunc;
  if (p->TestDlg == nullptr) p->TestDlg = DefaultTestDlg;
  if (p->TestAnnoCorrente == nullptr) p->TestAnnoCorrente = DefaultTestAnnoCorrente;
}

void WriteLogMessage(const char* msg) {
  FILE* log = vkt::LogFile();
  if (log == nullptr) return;
  vkt::Services& s = vkt::services();
  int64_t now = s.NowMicros();
  int64_t secs = now >= 0 ? now / 1000000 : -((-now + 999999) / 1000000);
  std::tm tm{};
  if (!s.LocalTime(secs, &tm)) std::memset(&tm, 0, sizeof tm);
  char prefix[51];
  std::snprintf(prefix, sizeof prefix, "%02d/%02d/%04d %02d:%02d:%02d - ",
                tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour,
                tm.tm_min, tm.tm_sec);
  std::fputs(prefix, log);
  if (msg != nullptr) std::fwrite(msg, 1, std::strlen(msg), log);
  std::fputs("\r\n", log);
  std::fflush(log);
}

void Calc() {
  // The calculator the host knows by its Windows name; the services map it to
  // the desktop's calculator.
  vkt::services().ShellExecute("calc.exe", "", "/usr/bin", SW_SHOWNOACTIVATE);
}

void AdjustDlgSize(CRect* rect) {
  if (rect == nullptr) return;
  if (!vkt::services().IsMainWindowZoomed()) return;
  // The frame of a maximised window is 18 pixels on every system we run on
  // (the 8-pixel frame belonged to systems before major version 6).
  rect->right -= 18;
  rect->bottom -= 18;
}

namespace vkt {

int DateBase() {
  if (vktpar == nullptr || vktpar->date_base == nullptr) return 0;
  return *vktpar->date_base;
}

bool Silent() { return vktpar != nullptr && vktpar->silent != 0; }

FILE* LogFile() { return vktpar != nullptr ? vktpar->log_file : nullptr; }

int Report(const std::string& text, const std::string& caption, unsigned type) {
  if (LogFile() != nullptr || Silent()) {
    WriteLogMessage(text.c_str());
    return win::AffirmativeAnswer(type);
  }
  return services().MessageBox(text, caption, type);
}

int ReportWithBeep(const std::string& text, const std::string& caption,
                   unsigned type) {
  if (LogFile() == nullptr && !Silent()) services().Beep(1000, 10);
  return Report(text, caption, type);
}

int ReportUnlessSilent(const std::string& text, const std::string& caption,
                       unsigned type) {
  if (Silent()) {
    WriteLogMessage(text.c_str());
    return win::AffirmativeAnswer(type);
  }
  return services().MessageBox(text, caption, type);
}

void ReportFatal(const std::string& text, const std::string& caption,
                 int exit_code) {
  if (LogFile() == nullptr && Silent()) {
    // Silent with no log: the rule would lose the only word of why the
    // process ends.
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
  } else {
    ReportWithBeep(text, caption, MB_OK | MB_ICONSTOP);
  }
  services().Exit(exit_code);
  std::abort();  // an Exit that returned broke its contract
}

void LibraryLoad() {
  vktpar = nullptr;
  mirto_db_force_doda = 0;
  psql_transaction = false;
}

void LibraryUnload() {
  // The engine's process-wide objects are plain members of their own
  // modules and go with the process; nothing here may report or throw.
}

}  // namespace vkt
