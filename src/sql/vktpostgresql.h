// CVKTPostgreSQL: the library's gateway to every SQL server kind, its
// connection procedures, the query adapter and the ODBC data source writer.
//
//   class Clienti : public CVKTPostgreSQL {  // the host's table class
//    public:
//     Clienti() : CVKTPostgreSQL(2) {}
//     void WriteFunc(SACommand* cmd, int op, void* rec, void* extra, bool f) override;
//   };
//   Clienti t;
//   SAConnection con; SACommand cmd;
//   t.OpenConnection(&con, &cmd, false, 0);        // this year's database
//   cmd.setCommandText(t.QueryAdapt("SELECT * FROM admin.clienti1", 50, 0, 0));
//
// Server kinds (dbType): 0 c-tree SQL, 1 and 2 PostgreSQL, 3 and 4 MySQL
// family, 5 another ODBC server. The object keeps no connection state: the
// host owns the SAConnection and SACommand.
#ifndef VKT_SQL_VKTPOSTGRESQL_H_
#define VKT_SQL_VKTPOSTGRESQL_H_

#include <cstdint>
#include <string>

#include "saapi/saapi.h"
#include "vkt_export.h"

// A transaction spanning two commands, usually on two connections.
struct DIST_TRANSACTION {
  SACommand* command1;
  SACommand* command2;
  int32_t dbType1;          // server kind of command1's connection
  int32_t dbType2;          // server kind of command2's connection
  int32_t operation1;       // passed to WriteFunc with command1
  int32_t operation2;       // passed to WriteFunc with command2
  bool firstBeforeSecond;   // true: command1's work runs and commits first
};

class VKT_API CVKTPostgreSQL {
 public:
  CVKTPostgreSQL();
  explicit CVKTPostgreSQL(int dbType);
  CVKTPostgreSQL(const CVKTPostgreSQL& o);
  CVKTPostgreSQL& operator=(const CVKTPostgreSQL& o);
  virtual ~CVKTPostgreSQL();

  // Called by the transaction runners inside the transaction to issue the
  // host's statements for `operation` on `cmd`. May throw SAException (a
  // lock conflict is retried by the runner); the base does nothing.
  virtual void WriteFunc(SACommand* cmd, int operation, void* record, void* extra,
                         bool flag);
  // Host hooks to copy a row into a record and back; the base does nothing.
  virtual void ReadFields(SACommand* cmd, void* record, bool first, bool second);
  virtual void StoreFields(SACommand* cmd, int operation, void* record);

  // Connects `conn` to the working database of `year` (0: the current year
  // of the parameter block) through the host's pg_param producers and binds
  // `cmd` to it. A connected, alive `conn` is left as it is; a dead one is
  // reconnected. Throws SAException; a missing producer is the user
  // exception 20437.
  virtual void OpenConnection(SAConnection* conn, SACommand* cmd, bool flag, int32_t year);
  // The same for the remote database of the pg_remote_param producers; the
  // client is PostgreSQL for remote kind 2 and ODBC for every other.
  virtual void OpenRemoteConnection(SAConnection* conn, SACommand* cmd, bool flag,
                                    int32_t year);
  // `archive` for kinds 3 and 4, else empty.
  virtual SAString GetTableSchema();
  SAString GetDefaultSchema();

  int GetDbType() const { return dbType; }
  void SetIndex(int i) { index = i; }
  int GetIndex() const { return index; }

  // The query in the server's dialect: row limits in its syntax, and the
  // pseudo-schema "admin." resolved to the shared or the company schema.
  // `limit`/`offset` of 0 or less mean none; `reserved` is not used.
  // Throws a user exception when the archive code or `sql_schema` that would
  // be written into the text is not a plain identifier.
  SAString QueryAdapt(int dbType, SAString query, int32_t limit, int32_t offset,
                      int32_t reserved);
  SAString QueryAdapt(SAString query, int32_t limit, int32_t offset, int32_t reserved);

  // Savepoints on cmd's connection; kind 0 does nothing. A name that is not
  // a plain identifier (letters, digits, "_") throws the user exception
  // "Savepoint name not valid!" before any SQL is sent.
  void CreateSavePoint(SACommand* cmd, SAString& name);
  void RollbackSavepoint(SACommand* cmd, SAString& name);
  void ReleaseSavepoint(SACommand* cmd, SAString& name);
  // The row-lock clause a host appends to a SELECT: mode 1 shared, 2
  // exclusive, anything else empty.
  SAString GetLockString(int16_t mode);

  // Server-error classifiers: true only for a server exception (class 3)
  // whose native code or SQLSTATE means that error on this object's kind.
  bool IsDupKeyErr(SAException& e);  // also the library's user status -12
  bool IsDupColumnErr(SAException& e);
  bool IsDupConstraintErr(SAException& e);
  bool IsViewNotExistErr(SAException& e);
  bool IsTableNotExistErr(SAException& e);
  bool IsLockErr(SAException& e);  // lock wait, deadlock, serialization
  bool IsDatabaseNotExist(SAException& e);
  bool IsTriggerAlreadyExist(SAException& e);
  bool IsColumnNameNonExistErr(SAException& e);

  // The transaction runners. Each sets the server's lock waiting, opens a
  // transaction, calls WriteFunc and commits; a lock conflict (user status
  // -10 or IsLockErr) is rolled back and retried after a wait through the
  // services' Sleep, at most nine attempts, then the user exception 86.
  // Any other exception is rolled back and rethrown unchanged. A delete
  // (operation 2) is refused with -14 when the deletion lock is set or the
  // user does not confirm. On every way out the wait cursor is off,
  // psql_transaction is false and the host's connections have back their
  // auto-commit mode, isolation level and lock waiting.
  //
  // On a connection of its own, opened through OpenConnection for `year`
  // and closed before returning.
  void SqlTransaction(int operation, void* record, void* extra, bool flag, int32_t year);
  // On the command's existing connection, which stays connected.
  void SqlTransaction(SACommand* cmd, int operation, void* record, void* extra, bool flag);
  // On two commands, committed in the order `firstBeforeSecond` gives.
  // When the first commit succeeded and the second fails, nothing is
  // retried: the user exception "Transazione distribuita incompleta" tells
  // that only the first connection's work was kept.
  void SqlDitribuitedTransaction(DIST_TRANSACTION* work, void* record, void* extra, bool flag);

  // IsLockErr judged for the server kind `kind`.
  static bool IsLockErrOfKind(int kind, const SAException& e);

 protected:
  int dbType;
  int index;
};

// Refreshes the ODBC data source "<app_name> SQL" in the user's registry
// store: 1 when written, 0 otherwise. Null `user`/`password` take the
// parameter block's. The values are written as one update: a failure
// leaves the old source whole.
VKT_API int SetOdbcSql(int force, const char* user, const char* password);

namespace vkt::sql {

// True for a non-empty text of letters, digits and "_" only: what the
// library accepts where a name goes into SQL text unquoted.
VKT_API bool IsPlainIdentifier(const char* text);
// `text` between single quotes, inner quotes doubled.
VKT_API std::string QuoteLiteral(const std::string& text);
// The source name the library's exceptions give as their file.
inline constexpr const char* kSourceFile = "VKTPostgreSQL.cpp";

}  // namespace vkt::sql

#endif  // VKT_SQL_VKTPOSTGRESQL_H_
