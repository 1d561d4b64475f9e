// The record database layer: the ISAM session and its Italian error
// messages, the DB function family over the ISAM client, and the table
// object CDBCtree.
//
// A host opens the session once, describes each table by its file
// description and record schema, opens it and writes through DBWrite:
//
//   DBInitISAM(400, vktpar->user, vktpar->password, vktpar->server_at_host,
//              true, false, false);
//   CDBCtree clienti(1, &clienti_ifil, &cli, PutStandard, nullptr,
//                    StampCliente, 0);
//   if (int s = clienti.DBOpen(1); s != 0) DBISAM(s, "clienti");
//   clienti.DBPutDoda(clienti_doda, 0, &changed);
//   clienti.DBSetIndex(1);
//   if (clienti.DBGetRecord(key) == 0) {
//     Cliente edit = cli;                  // edit a copy of the buffer
//     edit.fido = 5000;
//     // PutStandard takes the table as its extra argument.
//     short s = DBWrite(&clienti, 1, &edit, &clienti);  // lock, check, rewrite
//     if (s != 0) DBISAM(s, "clienti");    // -13: changed by another process
//   }
//   DBCloseISAM(0);
//
// Statuses are 16-bit: 0 success, the ISAM client's positive numbers, the
// layer's codes -18..-10 (below) and the host's message numbers from 20000.
// DBISAM ends the process for every status it does not recognise as
// recoverable. Everything runs on the host's user-interface thread.
#ifndef VKT_DB_DBCTREE_H_
#define VKT_DB_DBCTREE_H_

#include <cstdint>
#include <string>

#include "isam/ctree.h"
#include "isam/ctsql.h"
#include "vkt_export.h"
#include "win/cstring.h"

class SACommand;
class SAException;
class CStringArray;
class CVKTProgressDlg;
struct DB_IMPORT_EXPORT;
class CDBCtree;

// The layer's own statuses.
enum : int16_t {
  DB_LOCKED = -10,             // record locked by another process
  DB_DELETED = -11,            // record deleted by another process
  DB_DUPLICATE = -12,          // duplicate key on add
  DB_CHANGED = -13,            // changed by another process since it was read
  DB_CANCELLED = -14,          // refused or cancelled: no message
  DB_NOT_DELETABLE = -15,
  DB_NOT_EXCLUSIVE = -16,      // file cannot be opened exclusively
  DB_DUPLICATES_FOUND = -17,
  DB_DUPLICATES_REMOVED = -18,
};

// The largest record the lock check compares in its shared scratch area;
// longer records get an area of their own.
constexpr int32_t kDBMaxRecordLength = 24576;


// c-treeDB result code.
typedef int32_t CTDBRET;

namespace vkt::db {
// The connection error of a SQL exception, for DBSQLError / DBSQLAlert.
VKT_API tagCTSQLCONN SqlConnectionError(const SAException& e);
}  // namespace vkt::db

// --- Session and errors ------------------------------------------------------

// Opens the ISAM session with `files` file numbers; the user, password and
// connect name go to the client unchanged. Errors are reported (unless
// `quiet`) and returned.
VKT_API int16_t DBInitISAM(int16_t files, char* user, char* password,
                           char* server, bool fifth, bool sixth, bool quiet);
// Closes the session; with `reopen` 1 a client session is opened again
// with the credentials of the parameter block. 0 when none was open.
VKT_API int16_t DBCloseISAM(int reopen);
// The central error handler: 0 returns 0; -18..-10 and 20000 up go to
// DBError; every other status is fatal: message, then the process ends with
// the status. `where` is a location or table name shown after "File : ".
VKT_API int DBISAM(int status, const char* where);
// The recoverable codes: beep and message (log when the log file is open);
// -14 is silent. Returns the status.
VKT_API int DBError(int status, const char* where);
// 1 when DBISAM treats `status` as a fatal c-tree error (0 < status < 20000).
VKT_API int DBFatal(int32_t status);
// "Confermi la cancellazione..." (Yes/No, No default): 1 for Yes.
VKT_API int16_t DBConferma();
// The standard write callback of DBWrite: 0 add, 1 lock-check and rewrite,
// 2 lock-check and delete.
VKT_API int16_t PutStandard(int operation, void* record, void* table);
VKT_API int16_t DBLockISAM(int16_t mode);
VKT_API int16_t DBChangeSet(int16_t set);
// Now as an OLE date: the server's clock for a client session.
VKT_API double DBGetTimeStamp();
VKT_API int16_t DBQuietCtree(char* filespec, int32_t action, int32_t mode);
VKT_API int DBctFILBLK(char* filespec, int32_t action);
// The calling thread's error variables (-1 before its first call).
VKT_API int16_t DBGetIsamErr();
VKT_API int16_t DBGetUerrCod();
VKT_API int16_t DBGetSysIOCod();
// 1 for local files, 0 for a client of a server.
VKT_API int DBLocal();
// Mode tables open with: 129 local, 177 client (bit 1: shared).
VKT_API int16_t DBSetFileMode();
// SQL and c-treeDB errors. DBSQLError and DBCTDBError end the process for
// a non-zero code; DBSQLAlert reports and returns it.
VKT_API int DBSQLError(int code, tagCTSQLCONN* connection, const char* where);
VKT_API int DBSQLAlert(int code, tagCTSQLCONN* connection, const char* where);
VKT_API int DBCTDBError(CTDBRET code, const char* where);
// Appends one line to "<path>/log/sql.txt".
VKT_API void LogSQL(CString& text);

// --- The DB function family ---------------------------------------------------

// One write in its own transaction, retrying while the record or file is
// locked (150 attempts, 500 ms apart, then 86). Operation 3 stores the
// schema `record` (a DATOBJ array), 10/11 add/update the resource `record`
// of *(int32_t*)extra bytes, anything else goes to the table's write
// callback. A delete (2) checks the user's rights and asks first (-14).
VKT_API int16_t DBWrite(CDBCtree* table, int operation, void* record,
                        void* extra);
// Copies the table's buffer into `record`, stamps the read time and calls
// the read callback with `extra` when both are there.
VKT_API int16_t DBRead(CDBCtree* table, void* record, void* extra);

// Pass-through members: the ISAM call of the same name without "DB".
VKT_API int32_t DBctGETHGH();
VKT_API int DBctSETHGH(int32_t high);
VKT_API int16_t DBCloseRFile(int32_t filno);
VKT_API int16_t DBFirstInSet(int32_t keyno, void* target, void* recptr,
                             int16_t siglen);
VKT_API int16_t DBNextInSet(int32_t keyno, void* recptr);
VKT_API int16_t DBPreviousInSet(int32_t keyno, void* recptr);
VKT_API int16_t DBLastInSet(int32_t keyno, void* target, void* recptr,
                            int16_t siglen);
VKT_API int16_t DBFreeSet();
VKT_API int16_t DBFreeSetNbr(int16_t set);
VKT_API int32_t DBNbrOfKeysInRange(int32_t keyno, void* key1, void* key2);
VKT_API int32_t DBBegin(int16_t mode);
VKT_API int16_t DBCommit(int16_t mode);
VKT_API int16_t DBAbort();
VKT_API char* DBTransformKey(int32_t keyno, void* target);
VKT_API int16_t DBSetSavePoint();
VKT_API int16_t DBRestoreSavePoint(int16_t savepoint);
VKT_API int32_t DBOpenFileWithResource(int32_t filno, char* filnam,
                                       int16_t filmod);
VKT_API int32_t DBAvailableFileNbr(int16_t count);
VKT_API int16_t DBAddRecord(int32_t datno, void* recptr);
VKT_API int16_t DBAddVRecord(int32_t datno, void* recptr, int32_t varlen);
VKT_API int16_t DBReWriteRecord(int32_t datno, void* recptr);
VKT_API int16_t DBReWriteVRecord(int32_t datno, void* recptr, int32_t varlen);
VKT_API int16_t DBReWritePartialRecord(int32_t datno, void* recptr,
                                       int32_t varlen);
VKT_API int16_t DBDeleteRecord(int32_t datno);
VKT_API int16_t DBDeleteVRecord(int32_t datno);
VKT_API int16_t DBReReadVRecord(int32_t datno, void* recptr, int32_t varlen);
VKT_API int32_t DBVRecordLength(int32_t datno);
VKT_API int16_t DBGetRecord(int32_t keyno, void* target, void* recptr);
VKT_API int16_t DBSetRecord(int32_t datno, int32_t pos, void* recptr,
                            int32_t datlen);
VKT_API int16_t DBFirstRecord(int32_t filno, void* recptr);
VKT_API int16_t DBNextRecord(int32_t filno, void* recptr);
VKT_API int16_t DBLastRecord(int32_t filno, void* recptr);
VKT_API int16_t DBFirstVRecord(int32_t filno, void* recptr, int32_t* plen);
VKT_API int16_t DBNextVRecord(int32_t filno, void* recptr, int32_t* plen);
VKT_API int32_t DBNbrOfRecords(int32_t datno);
VKT_API int32_t DBNbrOfKeyEntries(int32_t keyno);
VKT_API int16_t DBSetDataFilter(int32_t filno, char* expr);
VKT_API int16_t DBSystemConfiguration(void* values);
VKT_API int16_t DBOpenCtFile(int32_t filno, char* filnam, int16_t filmod);
VKT_API int16_t DBCloseCtFile(int32_t filno, int16_t filmod);
VKT_API int16_t DBDeleteCtFile(int32_t filno);
VKT_API int16_t DBRenameFile(int32_t filno, char* newname);
VKT_API int32_t DBGetSerialNbr(int32_t filno);
VKT_API int32_t DBGetIFile(int32_t filno, int32_t buflen, void* buf);
VKT_API int32_t DBGetCtResource(int32_t filno, void* resptr, void* bufptr,
                                int32_t bufsiz, int16_t resmode);
VKT_API int16_t DBAddCtResource(int32_t filno, void* resptr, int32_t varlen);
VKT_API int16_t DBUpdateCtResource(int32_t filno, void* resptr,
                                   int32_t varlen);
VKT_API int16_t DBRegisterCtree(char* name);
VKT_API int16_t DBSwitchCtree(char* name);
VKT_API int16_t DBUnRegisterCtree(char* name);
VKT_API int32_t DBIOPERFORMANCEX(void* block);
VKT_API int16_t DBStopServerXtd(char* user, char* password, char* server,
                                int16_t delay);
VKT_API int16_t DBChangeHistory(int16_t set);
VKT_API int16_t DBFreeHistory();
VKT_API int16_t DBTransactionHistory(int16_t filno, void* target, void* bufptr,
                                     int32_t recbyt, int32_t bufsiz,
                                     uint16_t mode);
VKT_API int DBctThrdInit(int threads, int32_t mode, ctinit* init);
VKT_API int DBctThrdTerm();

// --- The table object ------------------------------------------------------------

// One c-tree table: its file description, record buffer and callbacks, all
// owned by the host and shared (not copied) by copies of the object. Key
// operations work on the key file tfilno + `index` (0: the data file in
// physical order); every read fills the buffer, and leaves it zeroed when
// it fails.
class VKT_API CDBCtree {
 public:
  typedef int16_t (*PutFunc)(int operation, void* record, void* extra);
  typedef int16_t (*ReadFunc)(void* extra);
  typedef int16_t (*StampFunc)(void* record);

  CDBCtree(int16_t tableId, ifil4* ifil, void* buffer, PutFunc putCallback,
           ReadFunc readCallback, StampFunc stampCallback, int variableLength);
  CDBCtree(int16_t tableId, ifil4* ifil, xCREblk* createBlock, void* buffer,
           PutFunc putCallback, ReadFunc readCallback, StampFunc stampCallback,
           int variableLength);
  CDBCtree(const CDBCtree&) = default;
  CDBCtree& operator=(const CDBCtree&) = default;
  // Releases nothing: the description, buffer and create block are the
  // host's.
  virtual ~CDBCtree();

  // Binary dump of every record (tableId, image) to block->file: 0 done,
  // 1 cancelled by the user, 2 a read or write failed (db/dbexport.h). An
  // override must keep the format.
  virtual int DBExport(DB_IMPORT_EXPORT* block);
  // Reads one record image from block->file and adds it; the add's status,
  // 36 (nothing added) when the dump ends inside the record.
  virtual int16_t DBImport(DB_IMPORT_EXPORT* block);
  // CSV / JSON files of the records changed between two OLE dates: 1 done,
  // 0 failed. `filter` (optional) skips a record when it answers 0.
  virtual int DBExpCSV(double from, double to, char* extension,
                       int (*filter)());
  virtual int DBExpJson(double from, double to, char* description,
                        char* extension, CStringArray* tables, int (*filter)(),
                        CStringArray* reserved);
  // Reserved for an import of CSV files: answers 1 and does nothing.
  virtual int DBImpCSV();
  // Hook for host tables that copy a SQL row into `record` their own way.
  // Never called by the library; the base answers 0 and does nothing. An
  // override may throw SAException.
  virtual int DBReadPSQL(SACommand& cmd, void* record, unsigned int size,
                         bool flag);
  // Copies the current row of `cmd` into `record` by the stored schema;
  // 0 or the read callback's answer, else a status. Defined with the SQL
  // layer (link it to call this).
  int16_t DBReadSql(SACommand& cmd, void* record, void* extra);

  // --- Opening and structure.
  // Opens the table, creating it when it is missing and creation is
  // allowed, and repairing a damaged index; 0 or a status for DBISAM.
  int DBOpen(int firstOpen);
  // Compacts (true) or rebuilds the closed table.
  int16_t DBProcess(bool compact);
  int16_t DBCloseIFile();
  // Stores `schema` in the data file when it differs from the stored one
  // (always with `force`); *changed says whether it did.
  int16_t DBPutDoda(DATOBJ* const schema, int force, int* changed);
  int DBCheckDoda(DATOBJ* const schema);
  // Stores the table's run of `schema` (first to last field name): 310
  // when either name is missing.
  uint16_t GetDodaField(DATOBJ* const schema);
  int DBCheckIFile();
  int16_t DBUpdateHeader(int32_t value, int16_t mode);
  char* DBGetTableName();
  int16_t DBSetIndex(int16_t index);
  int16_t DBGetIndex();
  int16_t DBGetConditionalIndex(char* buffer, int32_t length);
  int16_t DBUpdateConditionalIndex(char* expression);
  int16_t DBSetDataFilter(char* expression);

  // --- Records.
  int16_t DBFirstRecord();
  int16_t DBLastRecord();
  int16_t DBNextRecord();
  int16_t DBPreviousRecord();
  int16_t DBNextInSet();
  int16_t DBPreviousInSet();
  int16_t DBFirstInRange();
  int16_t DBLastInRange();
  int16_t DBNextInRange();
  int16_t DBPreviousInRange();
  // Keyed reads: `key` in record form, transformed in place.
  int16_t DBGetRecord(char* key);
  int16_t DBGetGTERecord(char* key);
  int16_t DBGetGTRecord(char* key);
  int16_t DBGetLTERecord(char* key);
  int16_t DBGetLTRecord(char* key);
  int16_t DBFirstInSet(void* key, int16_t length);
  int16_t DBLastInSet(void* key, int16_t length);
  // Previous / next, staying on the first / last record (with a beep).
  int16_t DBPrec();
  int16_t DBSucc();
  int16_t DBAllocateRange(int16_t segments, void* low, void* high,
                          int* operators);
  int16_t DBFreeRange();
  int16_t DBSkip(int32_t count);
  int16_t DBGetPosition(int32_t* position, char* key, int keyLength);
  int32_t DBCurrentFileOffset(bool report);
  int32_t DBNbrOfRecords();
  int32_t DBNbrOfKeyEntries();
  int32_t DBNbrOfKeysInRange(void* low, void* high);
  int16_t DBAddRecord(void* record);
  int16_t DBReWriteRecord(void* record);
  int16_t DBDeleteRecord();
  int16_t DBAddVRecord(void* record, int32_t length);
  int16_t DBReWriteVRecord(void* record, int32_t length);
  int16_t DBReWritePartialRecord(void* record, int32_t length);
  int16_t DBDeleteVRecord();
  int16_t DBReReadRecord();
  int16_t DBReReadVRecord(void* record, int32_t length);
  int16_t DBSetRecord(int32_t position, void* record, int32_t length);
  int16_t DBResetRecord(int16_t mode);
  int16_t DBDoBatch(void* request, void* buffer, int32_t bufferLength,
                    uint16_t mode);
  // Inside DBWrite's transaction: locks the current record and checks that
  // it is still what the buffer holds (-13, buffer refreshed, when another
  // process changed it; -11 when it was deleted).
  int16_t DBLockRec();
  void DBSetLockStamp(int on) { lockStamp = on; }
  int DBGetLockStamp() { return lockStamp; }
  void* DBGetBuffer() { return buffer; }

  // --- Maintenance. File names carry the company as "dit%05ld".
  // Fills this empty table from the same table of `sourceCompany`, in
  // transactions of 500 records; 0 also when the table is not empty.
  int16_t DBCopy(int32_t sourceCompany, int32_t targetCompany);
  int16_t DBCopyV(int32_t sourceCompany, int32_t targetCompany);
  // Copies the table's files: beside it as "<destination>_old" (backup) or,
  // `sameName`, into the folder `destination`; asks before overwriting.
  int DBCopyFile(char* destination, bool sameName, bool overwrite);
  // New file ids for the data and index files (client of a server only).
  int16_t DBReassignID();
  // Deletes the files and re-creates them from the description, storing
  // `schema`; the second takes the description stored in the data file.
  int16_t DBDeleteIFile(DATOBJ* const schema);
  int32_t DBDeleteAndOpenIFile(DATOBJ* const schema);

  // The members hosts and the layer share, in their established order.
  PutFunc putCallback;
  ReadFunc readCallback;
  StampFunc stampCallback;
  ifil4* ifil;
  xCREblk* createBlock;
  void* buffer;
  int16_t index;
  int32_t rebuilt;
  int32_t variableLength;
  uint32_t schemaOption;
  double lastRead;
  int16_t tableId;
  int32_t lockStamp;

 private:
  struct Repairs;
  int OpenWith(int firstOpen, Repairs* tried);
  int CreateMissing(int firstOpen, Repairs* tried);
  int RemoveIndexFiles(int16_t rebuild_status, Repairs* tried);
  int16_t Rebuild();
  int16_t Compact();
  int16_t PutDescription();
  int16_t ReportDuplicates(int16_t status);
  int16_t OpenExclusive();
  void SetModes(bool exclusive);
  int32_t KeyFile() const;
  int32_t DataFile() const;
  uint16_t RecordLength() const;
  int16_t ClearedRead(int16_t (*read)(int32_t, void*));
  int16_t KeyedRead(char* key, int16_t (*read)(int32_t, void*, void*));
  void Stamp(void* record);
  void StampImage(void* record, int32_t length);
};


// --- System queues, security administration, record database objects ---------
// Pass-through members: the ISAM call of the same name without "DB".
VKT_API int DBctSysQueueOpen(char* qname, int qmode);
VKT_API int DBctSysQueueClose(int qhandle);
VKT_API int DBctSysQueueWrite(int qhandle, void* message, int msglen);
VKT_API int DBctSysQueueLIFOWrite(int qhandle, void* message, int msglen);
VKT_API int DBctSysQueueRead(int qhandle, void* buffer, int bufsiz,
                             int32_t timeout);
VKT_API int DBctSysQueueMlen(int qhandle, int32_t timeout);
VKT_API int DBctSysQueueCount(int qhandle);
VKT_API int DBSA_LOGON(char* admin, char* password, char* filword,
                       char* server);
VKT_API int DBSA_LOGOF();
VKT_API int DBSA_USERS(int16_t action, _saUSRI* info);
VKT_API void* DBctdbAllocSession(CTSESSION_TYPE type);
VKT_API CTDBRET DBctdbCreateSession(void* session, char* server, char* user,
                                    char* password);
VKT_API CTDBRET DBctdbLogon(void* session, char* server, char* user,
                            char* password);
VKT_API CTDBRET DBctdbLogout(void* session);
VKT_API void DBctdbFreeSession(void* session);
VKT_API CTDBRET DBctdbAttachSession(void* session, void* source,
                                    CTATTACH_MODE mode, int isTransProcess);
VKT_API CTDBRET DBctdbDetachSession(void* session);
VKT_API void* DBctdbAllocDatabase(void* session);
VKT_API void DBctdbFreeDatabase(void* database);
VKT_API CTDBRET DBctdbConnect(void* database, char* name);
VKT_API CTDBRET DBctdbDisconnect(void* database);
VKT_API CTDBRET DBctdbCreateDatabase(void* session, char* name, char* path);
VKT_API CTDBRET DBctdbAddDatabase(void* session, char* name, char* path);
VKT_API CTDBRET DBctdbDropDatabase(void* session, char* name);
VKT_API CTDBRET DBctdbDeleteDatabase(void* session, char* name);
VKT_API CTDBRET DBctdbFirstTable(void* database, char* name, int32_t namesize,
                                 char* path, int32_t pathsize);
VKT_API CTDBRET DBctdbNextTable(void* database, char* name, int32_t namesize,
                                char* path, int32_t pathsize);
VKT_API CTDBRET DBctdbAddTable(void* database, char* name, char* path);
VKT_API CTDBRET DBctdbDropTable(void* database, char* name);
VKT_API CTDBRET DBctdbBegin(void* session);
VKT_API CTDBRET DBctdbCommit(void* session);
VKT_API CTDBRET DBctdbAbort(void* session);
VKT_API int DBctdbSetSavePoint(void* session);
VKT_API CTDBRET DBctdbRestoreSavePoint(void* session, int savepoint);
VKT_API CTDBRET DBctdbSetDefaultSqlTableOwner(void* database, char* owner);

#endif  // VKT_DB_DBCTREE_H_
