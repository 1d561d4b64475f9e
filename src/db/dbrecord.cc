// CDBCtree: reading, navigating, writing and locking records.
#include <cstring>
#include <vector>

#include "db/dbctree.h"
#include "db/dbinternal.h"
#include "win/oledatetime.h"
#include "win/services.h"

using namespace vkt::db::detail;  // NOLINT: the exported names are global

namespace {

// Key work areas of the position and skip calls.
constexpr int kKeyArea = 1024;

// The scratch area of the lock check, shared by every table.
unsigned char g_lock_scratch[kDBMaxRecordLength];

// isam_err after a failed key call, never 0.
int16_t IsamFailure(int16_t fallback) {
  int16_t code = isam_err;
  if (code == 0) code = Fail(fallback);
  return code;
}

size_t CopyLength(int32_t stated, uint16_t reclen) {
  if (stated <= 0) return 0;
  return static_cast<size_t>(stated < reclen ? stated : reclen);
}

}  // namespace

void CDBCtree::Stamp(void* record) {
  if (stampCallback != nullptr && lockStamp == 0 && record != nullptr) stampCallback(record);
}

// The stamp callback writes into a whole record image: an image shorter
// than the record (a partial rewrite) is written as it is, unstamped.
void CDBCtree::StampImage(void* record, int32_t length) {
  if (length >= static_cast<int32_t>(RecordLength())) Stamp(record);
}

int16_t CDBCtree::ClearedRead(int16_t (*read)(int32_t, void*)) {
  if (ifil == nullptr || buffer == nullptr) return Fail(CT_BAD_PARAMETER);
  std::memset(buffer, 0, RecordLength());
  return read(KeyFile(), buffer);
}

int16_t CDBCtree::KeyedRead(char* key, int16_t (*read)(int32_t, void*, void*)) {
  if (ifil == nullptr || buffer == nullptr || key == nullptr) return Fail(CT_BAD_PARAMETER);
  std::memset(buffer, 0, RecordLength());
  if (TransformKey(KeyFile(), key) == nullptr) return IsamFailure(CT_BAD_PARAMETER);
  return read(KeyFile(), key, buffer);
}

// --- Navigation ------------------------------------------------------------------

int16_t CDBCtree::DBFirstRecord() { return ClearedRead(FirstRecord); }
int16_t CDBCtree::DBLastRecord() { return ClearedRead(LastRecord); }
int16_t CDBCtree::DBNextRecord() { return ClearedRead(NextRecord); }
int16_t CDBCtree::DBPreviousRecord() { return ClearedRead(PreviousRecord); }
int16_t CDBCtree::DBNextInSet() { return ClearedRead(NextInSet); }
int16_t CDBCtree::DBPreviousInSet() { return ClearedRead(PreviousInSet); }
int16_t CDBCtree::DBFirstInRange() { return ClearedRead(FirstInRange); }
int16_t CDBCtree::DBLastInRange() { return ClearedRead(LastInRange); }
int16_t CDBCtree::DBNextInRange() { return ClearedRead(NextInRange); }
int16_t CDBCtree::DBPreviousInRange() { return ClearedRead(PreviousInRange); }

int16_t CDBCtree::DBGetRecord(char* key) { return KeyedRead(key, GetRecord); }
int16_t CDBCtree::DBGetGTERecord(char* key) { return KeyedRead(key, GetGTERecord); }
int16_t CDBCtree::DBGetGTRecord(char* key) { return KeyedRead(key, GetGTRecord); }
int16_t CDBCtree::DBGetLTERecord(char* key) { return KeyedRead(key, GetLTERecord); }
int16_t CDBCtree::DBGetLTRecord(char* key) { return KeyedRead(key, GetLTRecord); }

int16_t CDBCtree::DBFirstInSet(void* key, int16_t length) {
  if (ifil == nullptr || buffer == nullptr || key == nullptr) return Fail(CT_BAD_PARAMETER);
  std::memset(buffer, 0, RecordLength());
  if (TransformKey(KeyFile(), key) == nullptr) return IsamFailure(CT_BAD_PARAMETER);
  return FirstInSet(KeyFile(), key, buffer, length);
}

int16_t CDBCtree::DBLastInSet(void* key, int16_t length) {
  if (ifil == nullptr || buffer == nullptr || key == nullptr) return Fail(CT_BAD_PARAMETER);
  std::memset(buffer, 0, RecordLength());
  if (TransformKey(KeyFile(), key) == nullptr) return IsamFailure(CT_BAD_PARAMETER);
  return LastInSet(KeyFile(), key, buffer, length);
}

int16_t CDBCtree::DBPrec() {
  int16_t s = DBPreviousRecord();
  if (s != CT_NOT_FOUND) return s;
  AlarmBeep();
  return DBFirstRecord();
}

int16_t CDBCtree::DBSucc() {
  int16_t s = DBNextRecord();
  if (s != CT_NOT_FOUND) return s;
  AlarmBeep();
  return DBLastRecord();
}

// --- Ranges and positions ----------------------------------------------------------

int16_t CDBCtree::DBAllocateRange(int16_t segments, void* low, void* high, int* operators) {
  if (ifil == nullptr || low == nullptr || high == nullptr || operators == nullptr)
    return Fail(CT_BAD_PARAMETER);
  if (TransformKey(KeyFile(), low) == nullptr) return IsamFailure(CT_BAD_PARAMETER);
  if (TransformKey(KeyFile(), high) == nullptr) return IsamFailure(CT_BAD_PARAMETER);
  return AllocateRange(KeyFile(), segments, low, high, operators);
}

int16_t CDBCtree::DBFreeRange() { return FreeRange(KeyFile()); }

int16_t CDBCtree::DBSkip(int32_t count) {
  if (ifil == nullptr || buffer == nullptr) return Fail(CT_BAD_PARAMETER);
  const int32_t keylen = GetCtFileInfo(KeyFile(), CT_INFO_KEYLEN);
  if (keylen == -1) return FailureCode(CT_BAD_PARAMETER);
  // Keys longer than the work areas are refused, never copied.
  if (keylen < 0 || keylen > kKeyArea) return Fail(CT_BUFFER_TOO_SMALL);
  unsigned char current[kKeyArea] = {};
  unsigned char target[kKeyArea] = {};
  int32_t len = kKeyArea;
  if (CurrentISAMKey(KeyFile(), current, &len) != 0) return IsamFailure(CT_NO_CURRENT_RECORD);
  if (KeyAtDistance(KeyFile(), current, count, target) == 0) return FailureCode(CT_NOT_FOUND);
  std::memset(buffer, 0, RecordLength());
  return GetRecord(KeyFile(), target, buffer);
}

int16_t CDBCtree::DBGetPosition(int32_t* position, char* key, int keyLength) {
  if (ifil == nullptr || position == nullptr) return Fail(CT_BAD_PARAMETER);
  *position = 0;
  unsigned char lower[kKeyArea] = {};
  const bool given = key != nullptr && keyLength != 0;
  if (given) {
    if (keyLength < 0 || keyLength > kKeyArea) return Fail(CT_BAD_PARAMETER);
    std::memcpy(lower, key, static_cast<size_t>(keyLength));
    if (TransformKey(KeyFile(), lower) == nullptr) return IsamFailure(CT_BAD_PARAMETER);
  }
  const int32_t keylen = GetCtFileInfo(KeyFile(), CT_INFO_KEYLEN);
  if (keylen == -1) return FailureCode(CT_BAD_PARAMETER);
  if (keylen < 0 || keylen > kKeyArea) return Fail(CT_BUFFER_TOO_SMALL);
  unsigned char current[kKeyArea] = {};
  int32_t len = kKeyArea;
  if (CurrentISAMKey(KeyFile(), current, &len) != 0) return IsamFailure(CT_NO_CURRENT_RECORD);
  if (!given && FirstKey(KeyFile(), lower) == 0) return FailureCode(CT_NOT_FOUND);
  const int32_t n = NbrOfKeysInRange(KeyFile(), lower, current);
  if (n == 0) return FailureCode(CT_NOT_FOUND);
  *position = n;
  return Clear();
}

int32_t CDBCtree::DBCurrentFileOffset(bool report) {
  const int32_t offset = CurrentFileOffset(DataFile());
  if (offset == 0 && report) DBISAM(isam_err, VKT_DB_WHERE);
  return offset;
}

// --- Counts ----------------------------------------------------------------------------

int32_t CDBCtree::DBNbrOfRecords() {
  const int32_t n = NbrOfRecords(DataFile());
  if (n == 0 && uerr_cod != 0) DBISAM(uerr_cod, VKT_DB_WHERE);
  return n;
}

int32_t CDBCtree::DBNbrOfKeyEntries() {
  const int32_t n = NbrOfKeyEntries(KeyFile());
  if (n == 0) DBISAM(uerr_cod, VKT_DB_WHERE);
  return n;
}

int32_t CDBCtree::DBNbrOfKeysInRange(void* low, void* high) {
  if (low == nullptr || high == nullptr || TransformKey(KeyFile(), low) == nullptr ||
      TransformKey(KeyFile(), high) == nullptr) {
    DBISAM(1, VKT_DB_WHERE);
  }
  const int32_t n = NbrOfKeysInRange(KeyFile(), low, high);
  if (n == 0) DBISAM(uerr_cod, VKT_DB_WHERE);
  return n;
}

// --- Writes ----------------------------------------------------------------------------

int16_t CDBCtree::DBAddRecord(void* record) {
  if (ifil == nullptr || buffer == nullptr || record == nullptr) return Fail(CT_BAD_PARAMETER);
  Stamp(record);
  std::memmove(buffer, record, RecordLength());
  const int16_t s = AddRecord(DataFile(), record);
  if (s != 0) return s;
  // The client may have filled serial numbers into the image.
  std::memmove(buffer, record, RecordLength());
  return 0;
}

int16_t CDBCtree::DBAddVRecord(void* record, int32_t length) {
  if (ifil == nullptr || buffer == nullptr || record == nullptr || length < 0)
    return Fail(CT_BAD_PARAMETER);
  StampImage(record, length);
  std::memmove(buffer, record, CopyLength(length, RecordLength()));
  const int16_t s = AddVRecord(DataFile(), record, length);
  if (s != 0) return s;
  std::memmove(buffer, record, CopyLength(length, RecordLength()));
  return 0;
}

int16_t CDBCtree::DBReWriteRecord(void* record) {
  if (ifil == nullptr || buffer == nullptr || record == nullptr) return Fail(CT_BAD_PARAMETER);
  if (std::memcmp(buffer, record, RecordLength()) == 0) return Clear();
  Stamp(record);
  std::memmove(buffer, record, RecordLength());
  return ReWriteRecord(DataFile(), buffer);
}

int16_t CDBCtree::DBReWriteVRecord(void* record, int32_t length) {
  if (ifil == nullptr || buffer == nullptr || record == nullptr || length < 0)
    return Fail(CT_BAD_PARAMETER);
  StampImage(record, length);
  std::memmove(buffer, record, CopyLength(length, RecordLength()));
  return ReWriteVRecord(DataFile(), record, length);
}

int16_t CDBCtree::DBReWritePartialRecord(void* record, int32_t length) {
  if (ifil == nullptr || buffer == nullptr || record == nullptr || length < 0)
    return Fail(CT_BAD_PARAMETER);
  StampImage(record, length);
  std::memmove(buffer, record, CopyLength(length, RecordLength()));
  return ReWritePartialRecord(DataFile(), record, length);
}

int16_t CDBCtree::DBDeleteRecord() {
  if (ifil == nullptr || buffer == nullptr) return Fail(CT_BAD_PARAMETER);
  std::memset(buffer, 0, RecordLength());
  return DeleteRecord(DataFile());
}

int16_t CDBCtree::DBDeleteVRecord() {
  if (ifil == nullptr || buffer == nullptr) return Fail(CT_BAD_PARAMETER);
  std::memset(buffer, 0, RecordLength());
  return DeleteVRecord(DataFile());
}

int16_t CDBCtree::DBReReadRecord() {
  if (ifil == nullptr || buffer == nullptr) return Fail(CT_BAD_PARAMETER);
  lastRead = COleDateTime::GetCurrentTime();
  std::memset(buffer, 0, RecordLength());
  return ReReadRecord(DataFile(), buffer);
}

int16_t CDBCtree::DBReReadVRecord(void* record, int32_t length) {
  if (ifil == nullptr || record == nullptr || length < 0) return Fail(CT_BAD_PARAMETER);
  lastRead = COleDateTime::GetCurrentTime();
  std::memset(record, 0, static_cast<size_t>(length));
  return ReReadVRecord(DataFile(), record, length);
}

int16_t CDBCtree::DBSetRecord(int32_t position, void* record, int32_t length) {
  if (ifil == nullptr || buffer == nullptr) return Fail(CT_BAD_PARAMETER);
  std::memset(buffer, 0, RecordLength());
  if (record != nullptr) std::memmove(buffer, record, CopyLength(length, RecordLength()));
  return SetRecord(DataFile(), position, record, length);
}

int16_t CDBCtree::DBResetRecord(int16_t mode) { return ResetRecord(DataFile(), mode); }

int16_t CDBCtree::DBDoBatch(void* request, void* out, int32_t bufferLength, uint16_t mode) {
  if (ifil == nullptr || request == nullptr || bufferLength < 0) return Fail(CT_BAD_PARAMETER);
  if (out != nullptr) std::memset(out, 0, static_cast<size_t>(bufferLength));
  if (mode != 1 && mode != 2) {
    if (TransformKey(KeyFile(), static_cast<char*>(request) + 14) == nullptr)
      return IsamFailure(CT_BAD_PARAMETER);
  }
  return DoBatch(KeyFile(), request, out, bufferLength, mode);
}

// --- Lock check -------------------------------------------------------------------------

int16_t CDBCtree::DBLockRec() {
  if (ifil == nullptr || buffer == nullptr) return Fail(CT_BAD_PARAMETER);
  const size_t n = RecordLength();
  // The client copies the record length it stored; the re-read area holds
  // whichever is longer. Records longer than the shared scratch area are
  // compared in an area of their own.
  const int32_t stored = GetCtFileInfo(DataFile(), CT_INFO_RECLEN);
  const size_t need = stored > 0 && static_cast<size_t>(stored) > n ? static_cast<size_t>(stored) : n;
  std::vector<unsigned char> own;
  unsigned char* scratch = g_lock_scratch;
  size_t scratch_size = sizeof g_lock_scratch;
  if (need > sizeof g_lock_scratch) {
    own.assign(need, 0);
    scratch = own.data();
    scratch_size = need;
  }
  std::memset(scratch, 0, scratch_size);
  int16_t s = ReReadRecord(DataFile(), scratch);
  if (s == 0 && std::memcmp(scratch, buffer, n) != 0) {
    // The caller now holds the other process's version.
    std::memcpy(buffer, scratch, n);
    s = DB_CHANGED;
  }
  if (s == DB_CHANGED) {
    (void)LockISAM(0);
    return Fail(DB_CHANGED);
  }
  if (s == CT_RECORD_DELETED) {
    (void)LockISAM(0);
    return Fail(DB_DELETED);
  }
  return s;
}
