// The SQL side of the ISAM client: a connection handle and the two things
// the record layer asks of it after a failed statement, the message of the
// connection's last error and the position in the statement where it was
// found.
//
// The statements themselves run through the SQL client layer; whoever runs
// one on behalf of a connection records its failure here (ctsqlSetError),
// and a success clears it, so the error handlers never read a stale error.
#ifndef VKT_ISAM_CTSQL_H_
#define VKT_ISAM_CTSQL_H_

#include <cstdint>
#include <string>

#include "vkt_export.h"

struct tagCTSQLCONN {
  std::string last_error;
  int32_t error_pos = 0;
};
typedef tagCTSQLCONN* CTSQLCONN;

// The message of the last error on `conn`: empty for none or a null handle.
VKT_API const char* ctsqlGetErrorMessage(CTSQLCONN conn);

// The position (1-based, in bytes of the statement) of the last error on
// `conn`: 0 for none, for an error without a position and for a null handle.
VKT_API int32_t ctsqlGetErrorPos(CTSQLCONN conn);

// Records a failure on `conn` (a null message reads as empty, a negative
// position as 0). Does nothing for a null handle.
VKT_API void ctsqlSetError(CTSQLCONN conn, const char* message, int32_t pos);

// Clears the last error of `conn`.
VKT_API void ctsqlClearError(CTSQLCONN conn);

#endif  // VKT_ISAM_CTSQL_H_
