// The driver interface behind SAConnection and SACommand, and the drivers.
//
// One Driver per client library makes Connections; a Connection makes
// Cursors that run one statement at a time. SAConnection keeps the
// transaction state (the lazy begin, auto-commit, the isolation level) and
// drives Begin/Commit/Rollback; a driver's link itself always runs in
// auto-commit between them.
//
// Built-in drivers, by eSAClient, with their database strings:
//
// - SA_PostgreSQL_Client (libpq): "dbname", "host@dbname",
//   "host:port@dbname", or a libpq connection string ("host=... dbname=...").
//   Text travels in Windows-1252 (client_encoding WIN1252). Statement errors
//   carry the server's SQLSTATE; a failed connect has native code 1 and the
//   server's own message ("FATAL:  database \"x\" does not exist\n"); a
//   lost link reads "08006 ...".
// - SA_ODBC_Client (unixODBC): a data source name, or a connection string
//   ("Driver=...;Server=...;Database=..."). Errors carry the diagnostic
//   SQLSTATE and native code. Text is exchanged as the driver's ANSI bytes;
//   drivers that speak UTF-8 (SQLite's) are converted to Windows-1252.
// - SA_MySQL_Client (libmariadb): "dbname", "host@dbname",
//   "host:port@dbname" or "/path/to/socket@dbname". Text in the server's
//   latin1, which is Windows-1252. Errors carry the MySQL native code and
//   SQLSTATE.
// - SA_SQLite_Client (the system SQLite, embedded): a database file path, or
//   ":memory:". Text is stored as UTF-8 and read back as Windows-1252.
//   Dialect the library's statements meet, mapped so that they run:
//     "SET lock_timeout TO <ms>" / "SET lock_timeout TO '<ms>'",
//     "set innodb_lock_wait_timeout = <s>", "call fc_set_blockinglock(<n>)"
//                              -> the busy time-out (ms, s, or none / -2 = 2 s)
//     "SHOW lock_timeout"      -> the busy time-out as "<ms>ms" ("0": for ever)
//     "SET application_name = '...'"
//                              -> kept; SELECT application_name() reads it
//     "CREATE SCHEMA [IF NOT EXISTS] s", "DROP SCHEMA [IF EXISTS] s [CASCADE]"
//                              -> an attached database file beside the main
//                                 one ("<file>.<s>"; memory for ":memory:"),
//                                 attached again on every connect
//     " FOR UPDATE", " FOR SHARE", " NOWAIT [n]" after a SELECT
//                              -> removed: a write transaction locks the
//                                 whole database (SERIALIZABLE begins
//                                 IMMEDIATE, so conflicts show at once)
//   Errors are mapped onto SQLSTATEs in one place: unique and primary key
//   23505, not null 23502, foreign key 23503, check 23514, busy/locked
//   55P03, no such table 42P01, no such column 42703, duplicate column
//   42701, object exists 42P07, syntax 42601, others HY000; the native code
//   is SQLite's extended result code.
//
// Tests replace a driver for a scope with ScopedDriver (see sascript.h for
// the scripted one).
#ifndef VKT_SAAPI_SADRIVER_H_
#define VKT_SAAPI_SADRIVER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "saapi/saapi.h"
#include "vkt_export.h"

namespace vkt::sa {

struct ColumnInfo {
  std::string name;
  SADataType_t type = SA_dtUnknown;
  int size = 0;
  int scale = 0;
  bool required = false;
};

// One statement at a time. Every call may throw SAException.
class VKT_API Cursor {
 public:
  virtual ~Cursor();
  // Runs `sql`, whose placeholders (Connection::Placeholder) stand for
  // `params` in order. Replaces any previous result.
  virtual void Execute(const std::string& sql,
                       const std::vector<const Value*>& params) = 0;
  // Columns of the result; empty when the statement gave no rows.
  virtual const std::vector<ColumnInfo>& Columns() const = 0;
  // Fills `row` (one Value per column) with the next row; false at the end.
  virtual bool Fetch(std::vector<Value>* row) = 0;
  // Rows the last statement changed; -1 when unknown.
  virtual int64_t RowsAffected() const = 0;
  // Frees the result; the cursor may be executed again.
  virtual void Close() noexcept = 0;
};

class VKT_API Connection {
 public:
  virtual ~Connection();
  virtual void Connect(const std::string& database, const std::string& user,
                       const std::string& password) = 0;
  // Closes the link; may throw, after which Destroy still frees it.
  virtual void Disconnect() = 0;
  virtual void Destroy() noexcept = 0;
  // May take a round trip; never throws.
  virtual bool IsAlive() noexcept = 0;
  virtual void Begin(SAIsolationLevel_t level) = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  virtual std::unique_ptr<Cursor> NewCursor() = 0;
  // The native placeholder of parameter occurrence `n` (1-based).
  virtual std::string Placeholder(int n) const;
  virtual std::string ServerVersion() const { return std::string(); }
  // An option the application set on the SAConnection before Connect
  // ("PreFetchRows", "SQL_ATTR_CONNECTION_POOLING", ...).
  virtual void SetOption(const std::string& name, const std::string& value);
};

class VKT_API Driver {
 public:
  virtual ~Driver();
  virtual std::unique_ptr<Connection> NewConnection() = 0;
};

// The driver of a client library; null when none serves it.
VKT_API Driver* FindDriver(eSAClient client);
// Replaces the driver of `client` (null restores the built-in); returns the
// previous replacement.
VKT_API Driver* SetDriver(eSAClient client, Driver* driver);

class ScopedDriver {
 public:
  ScopedDriver(eSAClient client, Driver* driver)
      : client_(client), previous_(SetDriver(client, driver)) {}
  ~ScopedDriver() { SetDriver(client_, previous_); }
  ScopedDriver(const ScopedDriver&) = delete;
  ScopedDriver& operator=(const ScopedDriver&) = delete;

 private:
  eSAClient client_;
  Driver* previous_;
};

// Raising errors, for drivers.
[[noreturn]] VKT_API void ThrowLibraryError(const std::string& text);
// `sqlstate` goes in front of the text as the callers expect.
[[noreturn]] VKT_API void ThrowServerError(const std::string& sqlstate,
                                           int native_code, int position,
                                           const std::string& message,
                                           const std::string& command = "");

// The built-in drivers (each a process-wide object).
VKT_API Driver* PostgresDriver();
VKT_API Driver* SqliteDriver();
VKT_API Driver* OdbcDriver();
VKT_API Driver* MysqlDriver();

// The SQLSTATE of an SQLite result code and message (also for SQLite's
// ODBC driver, which reports HY000 for everything).
VKT_API std::string SqliteSqlState(int code, const std::string& message);

// Parsing helpers shared by the drivers.
// "host:port@db", "host@db", "db" -> parts (port 0 when absent).
struct HostDb {
  std::string host;
  int port = 0;
  std::string database;
};
VKT_API HostDb SplitHostDb(const std::string& text);
// "YYYY-MM-DD[ HH:MM:SS[.ffffff]]" or "HH:MM:SS[.f]" -> parts; false when
// the text is none of these.
VKT_API bool ParseDateTimeText(const std::string& text, SADateTime* out);
// "YYYY-MM-DD HH:MM:SS[.ffffff]" (the fraction only when non-zero).
VKT_API std::string DateTimeText(const SADateTime& t);

}  // namespace vkt::sa

#endif  // VKT_SAAPI_SADRIVER_H_
