// The DB members over system queues, security administration and the record
// database objects: each calls the ISAM call of its name without "DB".
#include "db/dbctree.h"

int DBctSysQueueOpen(char* qname, int qmode) { return ctSysQueueOpen(qname, qmode); }
int DBctSysQueueClose(int qhandle) { return ctSysQueueClose(qhandle); }
int DBctSysQueueWrite(int qhandle, void* message, int msglen) {
  return ctSysQueueWrite(qhandle, message, msglen);
}
int DBctSysQueueLIFOWrite(int qhandle, void* message, int msglen) {
  return ctSysQueueLIFOWrite(qhandle, message, msglen);
}
int DBctSysQueueRead(int qhandle, void* buffer, int bufsiz, int32_t timeout) {
  return ctSysQueueRead(qhandle, buffer, bufsiz, timeout);
}
int DBctSysQueueMlen(int qhandle, int32_t timeout) { return ctSysQueueMlen(qhandle, timeout); }
int DBctSysQueueCount(int qhandle) { return ctSysQueueCount(qhandle); }

int DBSA_LOGON(char* admin, char* password, char* filword, char* server) {
  return SA_LOGON(admin, password, filword, server);
}
int DBSA_LOGOF() { return SA_LOGOF(); }
int DBSA_USERS(int16_t action, _saUSRI* info) { return SA_USERS(action, info); }

void* DBctdbAllocSession(CTSESSION_TYPE type) { return ctdbAllocSession(type); }
CTDBRET DBctdbCreateSession(void* session, char* server, char* user, char* password) {
  return ctdbCreateSession(session, server, user, password);
}
CTDBRET DBctdbLogon(void* session, char* server, char* user, char* password) {
  return ctdbLogon(session, server, user, password);
}
CTDBRET DBctdbLogout(void* session) { return ctdbLogout(session); }
void DBctdbFreeSession(void* session) { ctdbFreeSession(session); }
CTDBRET DBctdbAttachSession(void* session, void* source, CTATTACH_MODE mode, int isTransProcess) {
  return ctdbAttachSession(session, source, mode, isTransProcess);
}
CTDBRET DBctdbDetachSession(void* session) { return ctdbDetachSession(session); }
void* DBctdbAllocDatabase(void* session) { return ctdbAllocDatabase(session); }
void DBctdbFreeDatabase(void* database) { ctdbFreeDatabase(database); }
CTDBRET DBctdbConnect(void* database, char* name) { return ctdbConnect(database, name); }
CTDBRET DBctdbDisconnect(void* database) { return ctdbDisconnect(database); }
CTDBRET DBctdbCreateDatabase(void* session, char* name, char* path) {
  return ctdbCreateDatabase(session, name, path);
}
CTDBRET DBctdbAddDatabase(void* session, char* name, char* path) {
  return ctdbAddDatabase(session, name, path);
}
CTDBRET DBctdbDropDatabase(void* session, char* name) { return ctdbDropDatabase(session, name); }
CTDBRET DBctdbDeleteDatabase(void* session, char* name) { return ctdbDeleteDatabase(session, name); }
CTDBRET DBctdbFirstTable(void* database, char* name, int32_t namesize, char* path, int32_t pathsize) {
  return ctdbFirstTable(database, name, namesize, path, pathsize);
}
CTDBRET DBctdbNextTable(void* database, char* name, int32_t namesize, char* path, int32_t pathsize) {
  return ctdbNextTable(database, name, namesize, path, pathsize);
}
CTDBRET DBctdbAddTable(void* database, char* name, char* path) { return ctdbAddTable(database, name, path); }
CTDBRET DBctdbDropTable(void* database, char* name) { return ctdbDropTable(database, name); }
CTDBRET DBctdbBegin(void* session) { return ctdbBegin(session); }
CTDBRET DBctdbCommit(void* session) { return ctdbCommit(session); }
CTDBRET DBctdbAbort(void* session) { return ctdbAbort(session); }
int DBctdbSetSavePoint(void* session) { return ctdbSetSavePoint(session); }
CTDBRET DBctdbRestoreSavePoint(void* session, int savepoint) {
  return ctdbRestoreSavePoint(session, savepoint);
}
CTDBRET DBctdbSetDefaultSqlTableOwner(void* database, char* owner) {
  return ctdbSetDefaultSqlTableOwner(database, owner);
}
