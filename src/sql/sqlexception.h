// The library's own errors as SQL user exceptions, and the display of any
// SAException.
//
// Hosts wrap their database work in one handler and show what arrives:
//
//   try {
//     pg.OpenConnection(&con, &cmd, false, 0);
//   } catch (SAException& e) {
//     SAExceptionDisplay(e, "Apertura archivio", false);
//   }
//
// ThrowUserException raises class SA_UserGenerated_Error exceptions whose
// text names the place: "<message>\n\nFile\t: <file>\n\nLine\t: <n>\n\nFunc\t: <function>".
#ifndef VKT_SQL_SQLEXCEPTION_H_
#define VKT_SQL_SQLEXCEPTION_H_

#include <string>

#include "saapi/saapi.h"
#include "vkt_export.h"

// Throws a user exception for the host's message `code`: the text is the
// host's string resource `code`; application numbers map to the library's
// status codes (20142 -> -20, 20419 -> -11, 20420 -> -13, 20421 -> -12,
// 20422 -> -15); 86 and -14 carry the library's deadlock and cancel texts.
// A non-null `detail` is appended as " - (detail)". Null texts print empty.
[[noreturn]] VKT_API void ThrowUserException(int code, const char* file, int line,
                                             const char* function,
                                             const char* detail);
// The same with `text` as the message and code 0.
[[noreturn]] VKT_API void ThrowUserException(const char* text, const char* file,
                                             int line, const char* function,
                                             const char* detail);

// Shows the exception by the library's reporting rule: a message box
// (exclamation icon for user errors, error icon otherwise) or, with a log
// file open or `silent` set, a log line. `textOnly` shows the error text
// alone. A null `where` prints empty.
VKT_API void SAExceptionDisplay(SAException& e, const char* where, bool textOnly);

namespace vkt::sql {

// The text SAExceptionDisplay shows.
VKT_API std::string ExceptionDisplayText(const SAException& e, const char* where,
                                         bool text_only);
// The library status code an application message number stands for.
VKT_API int MapUserCode(int code);

}  // namespace vkt::sql

#endif  // VKT_SQL_SQLEXCEPTION_H_
