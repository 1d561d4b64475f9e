// The DB function family: the transactional write, the buffered read and
// the pass-through members over the ISAM client.
#include <cstring>

#include "common/vktstring.h"
#include "db/dbctree.h"
#include "db/dbinternal.h"
#include "frame/vktapp.h"
#include "win/oledatetime.h"
#include "win/services.h"
#include "win/winconst.h"

using namespace vkt::db::detail;  // NOLINT: the exported names are global

namespace {

constexpr int kWriteAttempts = 150;
constexpr uint32_t kRetryWaitMs = 500;

// Somebody else holds the record or the file: worth another attempt.
bool LockConflict(int16_t s) {
  return s == CT_FILE_LOCKED || s == CT_LOCKED || s == DB_LOCKED || s == CT_LOCK_RETRIES;
}

int16_t Perform(CDBCtree* table, int operation, void* record, void* extra) {
  const int32_t datno = table->ifil != nullptr ? table->ifil->tfilno : -1;
  switch (operation) {
    case 3:
      return static_cast<int16_t>(table->GetDodaField(static_cast<DATOBJ*>(record)));
    case 10:
      if (extra == nullptr) return Fail(CT_BAD_PARAMETER);
      return AddCtResource(datno, record, *static_cast<int32_t*>(extra));
    case 11:
      if (extra == nullptr) return Fail(CT_BAD_PARAMETER);
      return UpdateCtResource(datno, record, *static_cast<int32_t*>(extra));
    default:
      if (table->putCallback == nullptr) return Fail(633);
      return table->putCallback(operation, record, extra);
  }
}

}  // namespace

int16_t DBWrite(CDBCtree* table, int operation, void* record, void* extra) {
  if (table == nullptr) return Fail(CT_BAD_PARAMETER);
  if (vktpar != nullptr) {
    strzcpy(vktpar->last_user, vktpar->user, static_cast<int>(sizeof vktpar->last_user));
  }
  if (operation == 2 && vktpar != nullptr && vktpar->no_delete != nullptr &&
      *vktpar->no_delete != 0) {
    vkt::ReportWithBeep("Cancellazioni non abilitate per l' utente !", Caption(),
                        MB_OK | MB_ICONSTOP);
    return Fail(DB_CANCELLED);
  }
  if (operation == 2 && DBConferma() == 0) return Fail(DB_CANCELLED);

  vkt::WaitCursorGuard wait;
  int16_t result = 0;
  for (int attempt = 1; attempt <= kWriteAttempts; ++attempt) {
    if (Begin(50) == 0) {
      // No transaction: the client's reason, never a success.
      return FailureCode(CT_NO_TRANSACTION);
    }
    result = Perform(table, operation, record, extra);
    if (result == 0) {
      result = Commit(0);
      if (result != 0) {
        // A failed commit must not leave the transaction open.
        const ErrorState failed = ErrorState::Save();
        (void)Abort();
        failed.Restore();
      }
      return result;
    }
    const ErrorState failed = ErrorState::Save();
    (void)Abort();
    if (failed.uerr == 0 && failed.isam == 0) {
      Fail(result);  // the layer's own status: read it afresh
    } else {
      failed.Restore();
    }
    if (!LockConflict(result)) return result;
    vkt::services().Sleep(kRetryWaitMs);
  }
  return Fail(CT_LOCK_RETRIES);
}

int16_t DBRead(CDBCtree* table, void* record, void* extra) {
  if (table == nullptr || record == nullptr || table->buffer == nullptr || table->ifil == nullptr)
    return Fail(CT_BAD_PARAMETER);
  std::memmove(record, table->buffer, table->ifil->dreclen);
  table->lastRead = COleDateTime::GetCurrentTime();
  if (table->readCallback != nullptr && extra != nullptr) return table->readCallback(extra);
  return Clear();
}

// --- Pass-through members ------------------------------------------------------------

int32_t DBctGETHGH() { return ctGETHGH(); }
int DBctSETHGH(int32_t high) { return ctSETHGH(high); }
int16_t DBCloseRFile(int32_t filno) { return CloseRFile(filno); }
int16_t DBFirstInSet(int32_t keyno, void* target, void* recptr, int16_t siglen) {
  return FirstInSet(keyno, target, recptr, siglen);
}
int16_t DBNextInSet(int32_t keyno, void* recptr) { return NextInSet(keyno, recptr); }
int16_t DBPreviousInSet(int32_t keyno, void* recptr) { return PreviousInSet(keyno, recptr); }
int16_t DBLastInSet(int32_t keyno, void* target, void* recptr, int16_t siglen) {
  return LastInSet(keyno, target, recptr, siglen);
}
int16_t DBFreeSet() { return FreeSet(); }
int16_t DBFreeSetNbr(int16_t set) { return FreeSetNbr(set); }
int32_t DBNbrOfKeysInRange(int32_t keyno, void* key1, void* key2) {
  return NbrOfKeysInRange(keyno, key1, key2);
}
int32_t DBBegin(int16_t mode) { return Begin(mode); }
int16_t DBCommit(int16_t mode) { return Commit(mode); }
int16_t DBAbort() { return Abort(); }
char* DBTransformKey(int32_t keyno, void* target) { return TransformKey(keyno, target); }
int16_t DBSetSavePoint() { return SetSavePoint(); }
int16_t DBRestoreSavePoint(int16_t savepoint) { return RestoreSavePoint(savepoint); }
int32_t DBOpenFileWithResource(int32_t filno, char* filnam, int16_t filmod) {
  return OpenFileWithResource(filno, filnam, filmod);
}
int32_t DBAvailableFileNbr(int16_t count) { return AvailableFileNbr(count); }
int16_t DBAddRecord(int32_t datno, void* recptr) { return AddRecord(datno, recptr); }
int16_t DBAddVRecord(int32_t datno, void* recptr, int32_t varlen) {
  return AddVRecord(datno, recptr, varlen);
}
int16_t DBReWriteRecord(int32_t datno, void* recptr) { return ReWriteRecord(datno, recptr); }
int16_t DBReWriteVRecord(int32_t datno, void* recptr, int32_t varlen) {
  return ReWriteVRecord(datno, recptr, varlen);
}
int16_t DBReWritePartialRecord(int32_t datno, void* recptr, int32_t varlen) {
  return ReWritePartialRecord(datno, recptr, varlen);
}
int16_t DBDeleteRecord(int32_t datno) { return DeleteRecord(datno); }
int16_t DBDeleteVRecord(int32_t datno) { return DeleteVRecord(datno); }
int16_t DBReReadVRecord(int32_t datno, void* recptr, int32_t varlen) {
  return ReReadVRecord(datno, recptr, varlen);
}
int32_t DBVRecordLength(int32_t datno) { return VRecordLength(datno); }
int16_t DBGetRecord(int32_t keyno, void* target, void* recptr) {
  return GetRecord(keyno, target, recptr);
}
int16_t DBSetRecord(int32_t datno, int32_t pos, void* recptr, int32_t datlen) {
  return SetRecord(datno, pos, recptr, datlen);
}
int16_t DBFirstRecord(int32_t filno, void* recptr) { return FirstRecord(filno, recptr); }
int16_t DBNextRecord(int32_t filno, void* recptr) { return NextRecord(filno, recptr); }
int16_t DBLastRecord(int32_t filno, void* recptr) { return LastRecord(filno, recptr); }
int16_t DBFirstVRecord(int32_t filno, void* recptr, int32_t* plen) {
  return FirstVRecord(filno, recptr, plen);
}
int16_t DBNextVRecord(int32_t filno, void* recptr, int32_t* plen) {
  return NextVRecord(filno, recptr, plen);
}
int32_t DBNbrOfRecords(int32_t datno) { return NbrOfRecords(datno); }
int32_t DBNbrOfKeyEntries(int32_t keyno) { return NbrOfKeyEntries(keyno); }
int16_t DBSetDataFilter(int32_t filno, char* expr) { return SetDataFilter(filno, expr); }
int16_t DBSystemConfiguration(void* values) {
  return SystemConfiguration(static_cast<int32_t*>(values));
}
int16_t DBOpenCtFile(int32_t filno, char* filnam, int16_t filmod) {
  return OpenCtFile(filno, filnam, filmod);
}
int16_t DBCloseCtFile(int32_t filno, int16_t filmod) { return CloseCtFile(filno, filmod); }
int16_t DBDeleteCtFile(int32_t filno) { return DeleteCtFile(filno); }
int16_t DBRenameFile(int32_t filno, char* newname) { return RenameFile(filno, newname); }
int32_t DBGetSerialNbr(int32_t filno) { return GetSerialNbr(filno); }
int32_t DBGetIFile(int32_t filno, int32_t buflen, void* buf) { return GetIFile(filno, buflen, buf); }
int32_t DBGetCtResource(int32_t filno, void* resptr, void* bufptr, int32_t bufsiz,
                        int16_t resmode) {
  return GetCtResource(filno, resptr, bufptr, bufsiz, resmode);
}
int16_t DBAddCtResource(int32_t filno, void* resptr, int32_t varlen) {
  return AddCtResource(filno, resptr, varlen);
}
int16_t DBUpdateCtResource(int32_t filno, void* resptr, int32_t varlen) {
  return UpdateCtResource(filno, resptr, varlen);
}
int16_t DBRegisterCtree(char* name) { return RegisterCtree(name); }
int16_t DBSwitchCtree(char* name) { return SwitchCtree(name); }
int16_t DBUnRegisterCtree(char* name) { return UnRegisterCtree(name); }
int32_t DBIOPERFORMANCEX(void* block) { return IOPERFORMANCEX(block); }
int16_t DBStopServerXtd(char* user, char* password, char* server, int16_t delay) {
  return StopServerXtd(user, password, server, delay);
}
int16_t DBChangeHistory(int16_t set) { return ChangeHistory(set); }
int16_t DBFreeHistory() { return FreeHistory(); }
int16_t DBTransactionHistory(int16_t filno, void* target, void* bufptr, int32_t recbyt,
                             int32_t bufsiz, uint16_t mode) {
  return TransactionHistory(filno, target, bufptr, recbyt, bufsiz, mode);
}
int DBctThrdInit(int threads, int32_t mode, ctinit* init) { return ctThrdInit(threads, mode, init); }
int DBctThrdTerm() { return ctThrdTerm(); }
