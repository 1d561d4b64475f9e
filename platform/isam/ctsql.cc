#include "isam/ctsql.h"

const char* ctsqlGetErrorMessage(CTSQLCONN conn) {
  return conn == nullptr ? "" : conn->last_error.c_str();
}

int32_t ctsqlGetErrorPos(CTSQLCONN conn) { return conn == nullptr ? 0 : conn->error_pos; }

void ctsqlSetError(CTSQLCONN conn, const char* message, int32_t pos) {
  if (conn == nullptr) return;
  conn->last_error = message == nullptr ? "" : message;
  conn->error_pos = pos < 0 ? 0 : pos;
}

void ctsqlClearError(CTSQLCONN conn) {
  if (conn == nullptr) return;
  conn->last_error.clear();
  conn->error_pos = 0;
}
