#include "sql/sqlexception.h"

#include <string>

#include "frame/vktapp.h"
#include "win/services.h"
#include "win/winconst.h"

namespace vkt::sql {

int MapUserCode(int code) {
  switch (code) {
    case 20142: return -20;
    case 20419: return -11;
    case 20420: return -13;
    case 20421: return -12;
    case 20422: return -15;
    default: return code;
  }
}

namespace {

const char* OrEmpty(const char* s) { return s != nullptr ? s : ""; }

[[noreturn]] void Raise(int code, const std::string& text, const char* file, int line,
                        const char* function, const char* detail) {
  std::string message = text;
  if (detail != nullptr) {
    message += " - (";
    message += detail;
    message += ")";
  }
  SAException::throwUserException(code, "%-s\n\nFile\t: %-s\n\nLine\t: %ld\n\nFunc\t: %-s",
                                  message.c_str(), OrEmpty(file), static_cast<long>(line),
                                  OrEmpty(function));
}

}  // namespace

std::string ExceptionDisplayText(const SAException& e, const char* where, bool text_only) {
  std::string out;
  if (text_only) return e.ErrText().str() + "\n";
  switch (e.ErrClass()) {
    case SA_UserGenerated_Error: out = "User Error"; break;
    case SA_Library_Error: out = "SQLApi Error"; break;
    default: out = "SQL Error"; break;
  }
  char buf[64];
  if (e.ErrNativeCode() != -1) {
    std::snprintf(buf, sizeof buf, "\n\nNative Err\t: %ld", static_cast<long>(e.ErrNativeCode()));
    out += buf;
  }
  if (e.ErrClass() != SA_UserGenerated_Error && e.ErrPos() != -1) {
    std::snprintf(buf, sizeof buf, "\n\nErr Pos\t: %ld", static_cast<long>(e.ErrPos()));
    out += buf;
  }
  out += "\n\n";
  out += e.ErrText().str();
  out += "\n\n";
  out += OrEmpty(where);
  return out;
}

}  // namespace vkt::sql

void ThrowUserException(int code, const char* file, int line, const char* function,
                        const char* detail) {
  // The host's text of its own message number (none for the library's
  // negative status codes).
  std::string text = code > 0 ? vkt::services().LoadString(static_cast<uint32_t>(code)) : "";
  int mapped = vkt::sql::MapUserCode(code);
  if (mapped == 86) text = "E' stato riscontrato un errore di deadlock!";
  if (mapped == -14) text = "Operazione annullata dall'utente!";
  vkt::sql::Raise(mapped, text, file, line, function, detail);
}

void ThrowUserException(const char* text, const char* file, int line, const char* function,
                        const char* detail) {
  vkt::sql::Raise(0, text != nullptr ? text : "", file, line, function, detail);
}

void SAExceptionDisplay(SAException& e, const char* where, bool textOnly) {
  std::string text = vkt::sql::ExceptionDisplayText(e, where, textOnly);
  unsigned icon = e.ErrClass() == SA_UserGenerated_Error ? MB_ICONEXCLAMATION : MB_ICONERROR;
  const char* caption = e.ErrClass() == SA_UserGenerated_Error ? "User Error"
                        : e.ErrClass() == SA_Library_Error     ? "SQLApi Error"
                                                               : "SQL Error";
  vkt::Report(text, caption, MB_OK | icon);
}
