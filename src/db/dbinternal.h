// Helpers shared by the sources of the record database layer.
#ifndef VKT_DB_DBINTERNAL_H_
#define VKT_DB_DBINTERNAL_H_

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

#include "db/dbexport.h"
#include "isam/ctree.h"

namespace vkt::db::detail {

// The location text handed to DBISAM: "DBCtree:<line>".
std::string Where(int line);
#define VKT_DB_WHERE (::vkt::db::detail::Where(__LINE__).c_str())

// The caption of the layer's message boxes: the host's application name.
std::string Caption();

// Formats into buf_stampa, bounded by its size; null %s arguments must be
// passed through Text(). Answers buf_stampa.
const char* FormatStampa(const char* format, ...)
    __attribute__((format(printf, 1, 2)));
inline const char* Text(const char* s) { return s != nullptr ? s : ""; }

// The thread's error variables, so that a failure the layer detects itself
// (or one whose clean-up made further calls) reads afresh.
struct ErrorState {
  int16_t isam = 0, uerr = 0, sysio = 0;
  static ErrorState Save() { return {isam_err, uerr_cod, sysio_cod}; }
  void Restore() const {
    isam_err = isam;
    uerr_cod = uerr;
    sysio_cod = sysio;
  }
};
// isam_err = uerr_cod = status, sysio_cod = 0; answers status.
int16_t Fail(int16_t status);
// All three 0; answers 0.
int16_t Clear();
// uerr_cod after a call that answers no status, never 0 when it failed.
int16_t FailureCode(int16_t fallback);

// The library's alarm beep.
void AlarmBeep();

// Ends the process with `status` after a fatal message of `type`: the
// seam sees the full status.
[[noreturn]] void FatalEnd(const std::string& text, unsigned type, int status);

// Session counter of DBInitISAM/DBCloseISAM.
int16_t& SessionCount();

// Progress windows through the installed provider; null without one.
std::unique_ptr<ProgressWindow> CreateProgress(const char* caption);
std::unique_ptr<ProgressWindow> WrapProgress(CVKTProgressDlg* dialog);

}  // namespace vkt::db::detail

#endif  // VKT_DB_DBINTERNAL_H_
