// The ISAM client: the record store the c-tree layer of the library calls.
//
// Tables are "file sets": a data file of fixed- or variable-length records
// and its indexes, each index a key built from segments of the record. A
// file set is described by an `ifil4`, opened on a block of file numbers
// (data file number n, index k on n + k) and read and written by those
// numbers. Every call answers a status (0 success, the positive numbers
// below); after a failing call the calling thread's `isam_err`, `uerr_cod`
// and `sysio_cod` say more.
//
//   InitISAMXtd(15, 400, 16, 15, 1, "", "", "");
//   ifil4 art = {...};                     // "dit00001/art", 2 indexes
//   if (OpenIFileXtd(&art, nullptr, nullptr, nullptr) == CT_FILE_NOT_FOUND)
//     CreateIFileXtd(&art, nullptr, nullptr, 31710, nullptr, nullptr);
//   Begin(50);                             // reads lock until the end
//   AddRecord(art.tfilno, image);          // 2 on a duplicate unique key
//   Commit(0);                             // durable once it answers 0
//   GetGTERecord(art.tfilno + 1, TransformKey(art.tfilno + 1, key), buf);
//
// Storage is one crash-safe database per data folder; the ".dat" and ".idx"
// files beside it are small descriptors (see detail/store.h). Several
// processes may work on one folder at once: record locks are byte-range
// locks on "<name>.lck" side files and die with their process.
//
// Threads: every call may be made from any thread; calls are serialised
// inside. The error variables belong to the calling thread; a thread that
// has made no call (or has called ctThrdTerm) reads -1 in each.
#ifndef VKT_ISAM_CTREE_H_
#define VKT_ISAM_CTREE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vkt_export.h"

// --- Statuses --------------------------------------------------------------
// The numbers the library's callers act on; each call's comment says which
// it gives.
enum : int16_t {
  CT_OK = 0,
  CT_DUPLICATE_KEY = 2,         // add/rewrite would duplicate a unique key
  CT_TOO_MUCH_SPACE = 10,       // init: buffers asked exceed the limit
  CT_BUFFERS_TOO_FEW = 11,      // init: both buffer counts below 3
  CT_FILE_NOT_FOUND = 12,       // open: no such data file (sysio_cod ENOENT)
  CT_NOT_ISAM_FILE = 13,        // open: a descriptor that is not ours or is cut short
  CT_INDEX_DAMAGED = 14,        // open: index file missing, unreadable or stale
  CT_INDEX_FOREIGN = 15,        // open: index file of another table
  CT_CREATE_FAILED = 17,        // create: folder missing, disk full...
  CT_FILE_EXISTS = 19,          // create: the data file exists already
  CT_BAD_FILE_NUMBER = 22,      // file number out of range / none free
  CT_CLOSE_FAILED = 24,
  CT_FILE_NOT_OPEN = 26,        // no file open on that number
  CT_BAD_PARAMETER = 33,        // null buffer, bad length, bad mode...
  CT_READ_ERROR = 36,           // sysio_cod holds errno or the engine's code
  CT_WRITE_ERROR = 37,          // likewise (ENOSPC for a full disk)
  CT_LOCKED = 42,               // record locked by another, or store busy
  CT_FILE_NUMBER_IN_USE = 46,   // open/create on a number already taken
  CT_WRONG_FILE_KIND = 48,      // data call on an index number and the like
  CT_FILE_LOCKED = 57,          // file held exclusively / blocked by another
  CT_NO_TRANSACTION = 71,       // Commit/Abort/savepoint outside a transaction
  CT_TRANSACTION_ACTIVE = 72,   // Begin inside a transaction
  CT_NOT_INITIALISED = 82,      // call before InitISAMXtd
  CT_LOCK_RETRIES = 86,         // (given by callers that give up retrying)
  CT_NO_CURRENT_RECORD = 100,
  CT_NOT_FOUND = 101,           // no (more) record / key in that direction
  CT_TOO_MANY_FILES = 104,      // init: more file numbers than supported
  CT_ALREADY_INITIALISED = 125,
  CT_SERVER_NOT_FOUND = 133,    // connect name names no known server
  CT_PROTOCOL_NOT_FOUND = 143,  // server's backend kind not available here
  CT_BUFFER_TOO_SMALL = 153,    // variable record / description larger than buffer
  CT_TIMEOUT = 156,             // system queue: no message within the wait
  CT_RECORD_DELETED = 160,      // current record deleted by another meanwhile
  CT_SERVER_GONE = 162,         // connection to the server lost: log on again
  CT_FILES_TOO_FEW = 182,       // init: fewer than 3 file numbers
  CT_RECORD_LENGTH = 198,       // (given by callers comparing record lengths)
  CT_BAD_USER = 450,
  CT_BAD_PASSWORD = 451,
  CT_BAD_SERVER_NAME = 453,
  CT_SA_NOT_ADMIN = 454,        // security administration by a non-administrator
  CT_SA_NO_LOGON = 455,         // security administration without SA_LOGON
  CT_SA_USER_EXISTS = 457,      // SA_USERS add: the user is there already
  CT_FILE_ID_NOT_UNIQUE = 463,  // another open file carries the same file id
  CT_CREATE_DENIED = 485,       // create: permission denied
  CT_DUPLICATES_REMOVED = 650,  // rebuild removed records with duplicate keys
  CT_DUPLICATES_FOUND = 652,    // rebuild left duplicate keys out of an index
  CT_NOT_SUPPORTED = 999,       // a mode or expression this client does not offer
  CT_LOGON_FAILED = 1001,       // logon refused: isam_err says why (133/450/451)
};
// Statuses the callers also test and this client never gives itself (they
// come from a real server's repair paths): 40, 53, 124, 409, 608, 674, 689, 775.

// Per-thread error variables (signed 16-bit), -1 before the thread's first
// call. `isam_err` is set by every ISAM-level call (0 on success),
// `uerr_cod` by every call, `sysio_cod` to the errno / engine code of the
// last system failure (0 when none).
extern VKT_API constinit thread_local int16_t isam_err;
extern VKT_API constinit thread_local int16_t uerr_cod;
extern VKT_API constinit thread_local int16_t sysio_cod;

// --- File descriptions -----------------------------------------------------

// Segment modes: how a segment's record bytes become key bytes so that the
// keys order as their values. Add CT_SEG_DESCENDING for descending order.
enum : int16_t {
  CT_SEG_BYTES = 0,      // bytes as they are (fixed text, blank-padded)
  CT_SEG_UNSIGNED = 1,   // unsigned little-endian integer of 1..8 bytes
  CT_SEG_UPPER = 2,      // text compared without ASCII case
  CT_SEG_SERIAL = 3,     // serial number the engine fills on add (unsigned)
  CT_SEG_SIGNED = 5,     // signed little-endian integer of 1..8 bytes
  CT_SEG_FLOAT = 6,      // IEEE float (4) or double (8), little-endian
  CT_SEG_DESCENDING = 16,
};

struct ISEG {
  int16_t soffset;  // offset of the segment in the record
  int16_t slength;  // bytes
  int16_t segmode;  // CT_SEG_*
};

// One index. Key length = sum of the segment lengths, plus, for an index
// with duplicates, room for a suffix the engine fills with the record's
// position (big-endian, up to 8 bytes) so that every key entry is unique and
// a key read back finds exactly its record.
struct IIDX {
  int16_t ikeylen;  // key length in bytes
  int16_t ikeytyp;  // 0 (fixed keys); anything else is refused
  int16_t ikeydup;  // 1: duplicates allowed
  int16_t inulkey;  // 1: keys made only of `iempchr` bytes are left out
  int16_t iempchr;
  int16_t inumseg;  // number of segments
  ISEG* seg;
  char* ridxnam;    // index name (may be null)
  char* aidxnam;    // file holding this index, as given; null: "<name>.idx"
  void* altseq;     // unused, must be null
  void* pvbyte;     // unused
};

// A file set with 32-bit file numbers.
struct ifil4 {
  char* pfilnam;     // path and name without extension
  int32_t dfilno;    // data file number; -1: the engine picks a free block
  uint16_t dreclen;  // record length (fixed part for variable-length files)
  uint16_t dxtdsiz;  // data extension size (stored, compared by callers)
  int16_t dfilmod;   // data file mode (CT_MODE_*)
  int16_t dnumidx;   // number of indexes
  uint16_t ixtdsiz;  // index extension size
  int16_t ifilmod;   // index file mode
  IIDX* ix;          // dnumidx index descriptions
  char* rfstfld;     // name of the first schema field
  char* rlstfld;     // name of the last schema field
  int32_t tfilno;    // after open/create: the data file number. Before a
                     // rebuild: -200 removes records with duplicate keys,
                     // anything else keeps them (and reports 652)
};
typedef ifil4 IFIL;

// File modes (open and create). Shared opens may coexist; an exclusive open
// (no CT_MODE_SHARED) needs every other open of the file, in any process,
// closed.
enum : int16_t {
  CT_MODE_EXCLUSIVE = 0,
  CT_MODE_SHARED = 1,
  CT_MODE_VLENGTH = 4,       // variable-length records
  CT_MODE_PREIMG = 16,       // accepted: every file is transaction-safe
  CT_MODE_TRNLOG = 32,       // the file's changes go to the transaction history
  CT_MODE_PERMANENT = 128,   // accepted
};
// Open without the file-id uniqueness check (to read a copy of a table).
constexpr int32_t CT_MODE_NOIDCHECK = 16384;

// Extended create block: carried and stored; bit 64 of `x8mode` marks a file
// with 64-bit positions (every file here has them).
struct xCREblk {
  uint32_t x8mode;
  uint32_t segsiz;
  uint32_t mxfilzhw;
  uint32_t mxfilzlw;
  uint32_t lxtsiz;
  uint32_t reserved[11];
};

// One element of a record schema (DODA).
struct DATOBJ {
  char* fsymb;          // field name; "" (or null in arrays we return) ends
  char* fadr;           // address in the caller's buffer, carried only
  uint16_t ftype;       // type code
  uint16_t flen;        // length in bytes
  uint32_t fextra[4];   // copied unchanged
};

// --- Session ---------------------------------------------------------------

// Opens the session. `servname` empty or null: local files; otherwise a
// server of the settings file (see SetIsamSettingsPath) that the user and
// password must match: 133 unknown, 450 user, 451 password, 453 bad name,
// 143 backend kind not available. 11 when bufs and dbufs are both < 3, 10
// when either exceeds 32000, 182 when fils < 3, 104 when fils > 32000, 125
// when a session is open already.
VKT_API int16_t InitISAMXtd(int16_t bufs, int16_t fils, int16_t sect,
                            int16_t dbufs, uint16_t userprof,
                            const char* userid, const char* userword,
                            const char* servname);
// Closes every file (aborting an open transaction) and ends the session.
// 24 when a file could not be closed cleanly; 82 without a session.
VKT_API int16_t CloseISAM();
// Names this client node: the station shown in the transaction history.
VKT_API int16_t SetNodeName(const char* name);
// Selects the current set (0..15) of FirstInSet/NextInSet.
VKT_API int16_t ChangeSet(int16_t set);
// Fills 256 signed 32-bit values: [128] 1 local / 0 client of a server,
// [150] the path separator '/', [0] open files, [1] file numbers.
VKT_API int16_t SystemConfiguration(int32_t* values);
// Performance block: 64 signed 32-bit values; [18] the server's current
// time in seconds since 1970, [0] calls made, [1] transactions committed.
struct IOPERF_BLOCK {
  int32_t values[64];
};
VKT_API int16_t IOPERFORMANCEX(void* block);
// Quiesce: action 1 holds back new transactions of this session after a
// checkpoint of every open folder (so the folders can be copied), 2 lets
// them go again. `filespec` and `mode` are not used.
VKT_API int16_t QuietCtree(char* filespec, int32_t action, int32_t mode);
// File block: action 1 blocks the file named (no other open succeeds, 57;
// it must not be open here), 0 releases the block. Answers 0 or a status.
VKT_API int ctFILBLK(char* filespec, int32_t action);
// Named instances of the whole session state.
VKT_API int16_t RegisterCtree(char* name);
VKT_API int16_t SwitchCtree(char* name);
VKT_API int16_t UnRegisterCtree(char* name);
// Stops a server after checking its administrator (133/450/451): here it
// ends this process's session on it.
VKT_API int16_t StopServerXtd(char* user, char* password, char* server,
                              int16_t delay);
struct ctinit {
  int32_t reserved[8];
};
// Gives the calling thread its error variables (0) / takes them (-1).
VKT_API int ctThrdInit(int threads, int32_t mode, ctinit* init);
VKT_API int ctThrdTerm();
// High word of 64-bit positions: set before a call that takes a position,
// read after one that gives a position.
VKT_API int32_t ctGETHGH();
VKT_API int ctSETHGH(int32_t high);

// --- Files -----------------------------------------------------------------

// Open/create modes come from `dfilmod`/`ifilmod`. Extensions default to
// ".dat"/".idx"; `fileword`, `groupid` and `permmask` are stored only.
VKT_API int16_t OpenIFileXtd(ifil4* ifil, const char* dataextn,
                             const char* indxextn, const char* fileword);
VKT_API int16_t OpenIFile(ifil4* ifil);
VKT_API int16_t CreateIFileXtd(ifil4* ifil, const char* dataextn,
                               const char* indxextn, int32_t permmask,
                               const char* groupid, const char* fileword);
VKT_API int16_t CreateIFileXtd8(ifil4* ifil, const char* dataextn,
                                const char* indxextn, int32_t permmask,
                                const char* groupid, const char* fileword,
                                xCREblk* create);
VKT_API int16_t CreateIFile(ifil4* ifil);
VKT_API int16_t CloseIFile(ifil4* ifil);
// Deletes the file set (open, exclusively, on ifil->tfilno).
VKT_API int16_t DeleteIFile(ifil4* ifil);
// Rebuilds every index of a closed file set from its records with the
// program's description (-200 in tfilno: drop duplicate-key records, 650;
// otherwise leave such keys out, 652), writes fresh index files and a new
// file id. 12 when there is no such table.
VKT_API int16_t RebuildIFileXtd(ifil4* ifil, const char* dataextn,
                                const char* indxextn, int32_t permmask,
                                const char* groupid, const char* fileword);
VKT_API int16_t RebuildIFileXtd8(ifil4* ifil, const char* dataextn,
                                 const char* indxextn, int32_t permmask,
                                 const char* groupid, const char* fileword,
                                 xCREblk* create);
VKT_API int16_t RebuildIFile(ifil4* ifil);
// Compacts a closed file set: rebuilds the indexes from the records and
// rewrites the descriptors with a new file id; 2 (nothing changed) when a
// unique index would hold a duplicate.
VKT_API int16_t CompactIFileXtd(ifil4* ifil, const char* dataextn,
                                const char* indxextn, int32_t permmask,
                                const char* groupid, const char* fileword);
VKT_API int16_t CompactIFileXtd8(ifil4* ifil, const char* dataextn,
                                 const char* indxextn, int32_t permmask,
                                 const char* groupid, const char* fileword,
                                 xCREblk* create);
VKT_API int16_t CompactIFile(ifil4* ifil);
// Stores `ifil` as the file set's description (GetIFile gives it back);
// when its index definitions differ from those built, the index files go
// stale (14 on the next open) so that a rebuild applies them.
VKT_API int16_t PutIFileXtd(ifil4* ifil, const char* dataextn,
                            const char* indxextn, const char* fileword);
VKT_API int16_t PutIFileXtd8(ifil4* ifil, const char* dataextn,
                             const char* indxextn, const char* fileword,
                             xCREblk* create);
// Size of the stored description with buflen 0; else copies it (an ifil4
// followed by its strings and index descriptions, pointers into `buf`) and
// answers its size. 0 on failure (uerr_cod; 153 when buflen is too small).
VKT_API int32_t GetIFile(int32_t filno, int32_t buflen, void* buf);

// Plain files: a ".dat" name opens the data file alone (writes through it
// still keep every index), an index file name opens that index file
// (DeleteCtFile then removes it: the next open finds the index damaged).
VKT_API int16_t OpenCtFile(int32_t filno, char* filnam, int16_t filmod);
VKT_API int16_t CloseCtFile(int32_t filno, int16_t filmod);
VKT_API int16_t DeleteCtFile(int32_t filno);
// Opens a data file ("<name>.dat") with its stored description on filno
// and the following numbers (-1: the engine picks). Answers the data file
// number, -1 on failure (isam_err; 12 with sysio_cod 2 when it is missing).
VKT_API int32_t OpenFileWithResource(int32_t filno, char* filnam,
                                     int16_t filmod);
VKT_API int16_t CloseRFile(int32_t filno);
// First of `count` consecutive free file numbers, -1 when none.
VKT_API int32_t AvailableFileNbr(int16_t count);
// Renames an exclusively open data file's table in its folder. A new name
// in another folder answers 999 and changes nothing: a table moves between
// folders only by a copy (ctCopyFile).
VKT_API int16_t RenameFile(int32_t filno, char* newname);
// The name the file was opened with (with extension); 153 when too long.
VKT_API int16_t GetCtFileName(int32_t filno, char* buf, int16_t buflen);
// File information; -1 on failure (uerr_cod).
enum : int16_t {
  CT_INFO_RECLEN = 0,   // record length (data file)
  CT_INFO_KEYLEN = 1,   // key length (index)
  CT_INFO_MODE = 2,     // stored file mode
  CT_INFO_INDEXES = 3,  // number of indexes
  CT_INFO_FILEID = 4,   // low 32 bits of the file id
  CT_INFO_DUPKEY = 5,   // 1 for an index with duplicates
};
VKT_API int32_t GetCtFileInfo(int32_t filno, int16_t mode);
// Header values: mode 4 gives the file (or index file) a new file id
// (463 when another open file has it).
VKT_API int16_t UpdateHeader(int32_t filno, int32_t value, int16_t mode);
// Stores the file mode (given back by GetCtFileInfo mode 2).
VKT_API int16_t UpdateFileMode(int32_t filno, int16_t mode);
// Stores an extended file option (value with its flag), kept with the file.
VKT_API int16_t PutXtdFileOpt(int32_t filno, int32_t reserved, uint32_t value,
                              uint32_t flag);
VKT_API int32_t GetXtdFileOpt(int32_t filno, uint32_t flag);
// Last serial number given on this data file (0 none).
VKT_API int32_t GetSerialNbr(int32_t filno);

// Record schema. Mode 4: buflen 0 / null buffer answers the size; else the
// DATOBJ array (names inside the buffer, ended by a null name) and its
// size. 0 on failure (uerr_cod: 101 when no schema is stored, 153 small).
VKT_API int32_t GetDODA(int32_t filno, int32_t buflen, void* buf, int16_t mode);
VKT_API int16_t PutDODA(int32_t filno, DATOBJ* doda, uint16_t numfld);

// Resources: an image starts with type (uint32), number (uint32) and a
// zero-terminated name; `varlen` bytes in all. Number 0xFFFFFFFF on add
// takes the next free number of that type (written back into the image).
enum : int16_t {
  CT_RES_TYPNUM = 0,  // by type and number (the first 8 bytes of resptr)
  CT_RES_NAME = 1,    // by name (resptr is the name)
  CT_RES_FIRST = 2,   // the first resource of the file
  CT_RES_NEXT = 3,    // the one after type and number of resptr
  CT_RES_LENGTH = 4,  // with CT_RES_TYPNUM: only the length
};
VKT_API int32_t GetCtResource(int32_t filno, void* resptr, void* bufptr,
                              int32_t bufsiz, int16_t resmode);
VKT_API int16_t AddCtResource(int32_t filno, void* resptr, int32_t varlen);
VKT_API int16_t UpdateCtResource(int32_t filno, void* resptr, int32_t varlen);
VKT_API int16_t DeleteCtResource(int32_t filno, void* resptr);

// Filters: `expr` over the fields of the stored schema, e.g.
// "qty > 10 && code != \"X\"" (==, !=, <, <=, >, >=, &&, ||, !, parentheses,
// numbers and double-quoted text). Null or "" removes it. 999 for an
// expression this client cannot read, 101 when no schema is stored.
VKT_API int16_t SetDataFilter(int32_t filno, char* expr);
// Conditional index: only records matching `expr` get keys (rebuilt now).
VKT_API int16_t UpdateConditionalIndex(int32_t keyno, char* expr);
// Copies the condition (empty when none); answers its length, -1 on failure.
VKT_API int32_t GetConditionalIndex(int32_t keyno, char* buf, int32_t buflen);

// --- Records ---------------------------------------------------------------
// Data calls take the data file number; key calls an index number (data
// file number + k); navigation on the data file number goes in position
// order. Reads copy the record length (the fixed part of a variable-length
// record) and make the record current.
VKT_API int16_t AddRecord(int32_t datno, void* recptr);
VKT_API int16_t AddVRecord(int32_t datno, void* recptr, int32_t varlen);
VKT_API int16_t ReWriteRecord(int32_t datno, void* recptr);
VKT_API int16_t ReWriteVRecord(int32_t datno, void* recptr, int32_t varlen);
VKT_API int16_t ReWritePartialRecord(int32_t datno, void* recptr,
                                     int32_t varlen);
VKT_API int16_t DeleteRecord(int32_t datno);
VKT_API int16_t DeleteVRecord(int32_t datno);
VKT_API int16_t ReReadRecord(int32_t datno, void* recptr);
// 153 (nothing written) when varlen is less than the record.
VKT_API int16_t ReReadVRecord(int32_t datno, void* recptr, int32_t varlen);
VKT_API int32_t VRecordLength(int32_t datno);
VKT_API int16_t FirstRecord(int32_t filno, void* recptr);
VKT_API int16_t LastRecord(int32_t filno, void* recptr);
VKT_API int16_t NextRecord(int32_t filno, void* recptr);
VKT_API int16_t PreviousRecord(int32_t filno, void* recptr);
// *plen: buffer size in, record length out (153 when it does not fit).
VKT_API int16_t FirstVRecord(int32_t filno, void* recptr, int32_t* plen);
VKT_API int16_t NextVRecord(int32_t filno, void* recptr, int32_t* plen);
// Makes `pos` current with image `recptr` (or the stored one when null).
VKT_API int16_t SetRecord(int32_t datno, int32_t pos, void* recptr,
                          int32_t datlen);
// Mode 0: no current record (Next gives the first, Previous the last).
VKT_API int16_t ResetRecord(int32_t datno, int16_t mode);
// Position of the current record, 0 when none (isam_err).
VKT_API int32_t CurrentFileOffset(int32_t datno);
VKT_API int32_t NbrOfRecords(int32_t datno);
VKT_API int32_t NbrOfKeyEntries(int32_t keyno);

// --- Keys ------------------------------------------------------------------
// Converts a key in the record's form (segments end to end) into the
// index's form in place; answers `target`, null on failure (isam_err).
VKT_API char* TransformKey(int32_t keyno, void* target);
VKT_API int16_t GetRecord(int32_t keyno, void* target, void* recptr);
VKT_API int16_t GetGTERecord(int32_t keyno, void* target, void* recptr);
VKT_API int16_t GetGTRecord(int32_t keyno, void* target, void* recptr);
VKT_API int16_t GetLTERecord(int32_t keyno, void* target, void* recptr);
VKT_API int16_t GetLTRecord(int32_t keyno, void* target, void* recptr);
// Sets: records whose keys begin with the first `siglen` bytes of target.
VKT_API int16_t FirstInSet(int32_t keyno, void* target, void* recptr,
                           int16_t siglen);
VKT_API int16_t LastInSet(int32_t keyno, void* target, void* recptr,
                          int16_t siglen);
VKT_API int16_t NextInSet(int32_t keyno, void* recptr);
VKT_API int16_t PreviousInSet(int32_t keyno, void* recptr);
VKT_API int16_t FreeSet();
VKT_API int16_t FreeSetNbr(int16_t set);
// Ranges: per segment an operator comparing the segment of the key with the
// same segment of `lrange` (and of `urange` for the two-sided ones).
enum : int {
  CTIX_EQ = 1, CTIX_NE, CTIX_GT, CTIX_GE, CTIX_LT, CTIX_LE,
  CTIX_BET,     // lrange <= x <= urange
  CTIX_BET_IE,  // lrange <= x < urange
  CTIX_BET_EI,  // lrange < x <= urange
  CTIX_BET_EE,  // lrange < x < urange
  CTIX_NOTBET,  // x < lrange or x > urange
};
VKT_API int16_t AllocateRange(int32_t keyno, int16_t segcount, void* lrange,
                              void* urange, int* operators);
VKT_API int16_t FreeRange(int32_t keyno);
VKT_API int16_t FirstInRange(int32_t keyno, void* recptr);
VKT_API int16_t LastInRange(int32_t keyno, void* recptr);
VKT_API int16_t NextInRange(int32_t keyno, void* recptr);
VKT_API int16_t PreviousInRange(int32_t keyno, void* recptr);
// Keys from key1 to key2 inclusive (transformed keys); 0 on failure.
VKT_API int32_t NbrOfKeysInRange(int32_t keyno, void* key1, void* key2);
// Current key of the index: *plen in the buffer size, out the key length.
VKT_API int16_t CurrentISAMKey(int32_t keyno, void* idxval, int32_t* plen);
// Key walks without reading records: the key into idxval, the record's
// position as result, 0 when none (uerr_cod 101 at the ends).
VKT_API int32_t FirstKey(int32_t keyno, void* idxval);
VKT_API int32_t LastKey(int32_t keyno, void* idxval);
// The key `count` entries after (negative: before) the key `from`.
VKT_API int32_t KeyAtDistance(int32_t keyno, void* from, int32_t count,
                              void* idxval);

// Batches: the request starts with a 14-byte header (total, available and
// returned counts, 32-bit; significant key length, 16-bit), then the key.
enum : uint16_t {
  BAT_CAN = 1,    // end the batch
  BAT_NXT = 2,    // the next records of the batch
  BAT_GET = 4,    // start: records whose key begins like the request's
  BAT_RPOS = 8,   // each record preceded by its 64-bit position
};
VKT_API int16_t DoBatch(int32_t filno, void* request, void* bufptr,
                        int32_t bufsiz, uint16_t mode);

// --- Locks and transactions ------------------------------------------------
// A transaction may touch tables of several data folders. Each folder's
// part is atomic and durable on its own; Commit commits the folders one
// after the other in the order they joined. When a folder's commit fails
// (or the process dies between two of them) the folders committed before
// keep their part and the rest roll back, and Commit answers the failing
// status. Callers that need all-or-nothing across folders keep each
// transaction within one folder.
// Begin modes (or-ed). Mode 50 is the callers' usual one.
enum : int16_t {
  CT_TRN_LOG = 2,          // durable at Commit (every transaction is)
  CT_TRN_ENABLE = 16,      // reads lock their record until the end
  CT_TRN_SAVENV = 32,      // accepted
  CT_TRN_ENABLE_BLK = 64,  // as ENABLE, waiting up to 5 s for a lock
};
// Answers the transaction number, 0 when none was begun (uerr_cod).
VKT_API int32_t Begin(int16_t mode);
// 0: everything of the transaction is on disk. Locks are released.
VKT_API int16_t Commit(int16_t mode);
VKT_API int16_t Abort();
// Save point number (> 0), 0 on failure (uerr_cod).
VKT_API int16_t SetSavePoint();
VKT_API int16_t RestoreSavePoint(int16_t savepoint);
// 0 releases every record lock (in or out of a transaction); 1 makes later
// reads lock (fail at once), 2 likewise waiting, 3 shared (read) locks,
// 4 suspends locking, 6 restores it.
VKT_API int16_t LockISAM(int16_t mode);
// Explicit record locks on positions of a data file.
VKT_API int16_t LockRecord(int32_t datno, int32_t pos, int16_t mode);

// --- Transaction history -----------------------------------------------------
// Files with CT_MODE_TRNLOG keep, in the same transaction as each change,
// an entry: offset 0 its length, 4 transaction number, 8 sequence, 12/16
// position low/high, 24 time (seconds since 1970), 40 image type, 44 the
// record image, then "user|station" and a zero.
enum : uint16_t {
  ctHISTend = 0x0001,    // ends the search
  ctHISTfirst = 0x0002,  // first entry (of the record at recbyt with ctHISTpos)
  ctHISTnext = 0x0004,   // next entry
  ctHISTpos = 0x0040,    // select by record position
  ctHISTlog = 0x0100,    // recbyt: search only the last recbyt days (0: all)
  ctHISTdata = 0x8000,   // include the images
};
enum : int16_t {
  ctHIST_ADD = 2,        // "LADDKEY"
  ctHIST_DELETE = 4,     // "LDELKEY": the deleted image
  ctHIST_NEWIMAGE = 12,  // image after an add or rewrite
  ctHIST_OLDIMAGE = 14,  // image before a rewrite
};
VKT_API int16_t TransactionHistory(int16_t filno, void* target, void* bufptr,
                                   int32_t recbyt, int32_t bufsiz,
                                   uint16_t mode);
VKT_API int16_t FreeHistory();
VKT_API int16_t ChangeHistory(int16_t set);

// --- File copy -----------------------------------------------------------------
// Copies a table (data file, indexes, schema and records) under
// new names, possibly into another data folder, as the server does for a
// client. The request is packed as the callers fill it; integers are
// 32-bit little-endian, texts zero-terminated.
#pragma pack(push, 1)
struct ctCOPYLOGON {
  int32_t one;          // 1
  char user[32];        // the log-on of the request, checked against the
  char password[64];    //   server of a client session
  char server[256];
};
struct ctCOPYREQ {
  int32_t one;          // 1
  int32_t mode;         // ctCOPY_* bits (265 backup, 293 same name, +16)
  int32_t zero;
  int32_t kind;         // 1 same name: targets[0] is the destination folder;
                        // 2/3 backup: the targets are the three new names
  char reserved[10];
  ctCOPYLOGON logon;
  char* sources;        // three 255-byte slots: data, index, second index
  char* targets;        // likewise (kind 1: the folder in each)
  int32_t zero2;
};
struct ctCOPYBLK {
  int32_t one1;         // 1
  int32_t one2;         // 1
  int32_t error_size;   // bytes of error_text
  int32_t zero;
  ctCOPYREQ* request;
  int32_t zero2;
  int32_t zero3;
  char* error_text;     // the call's message when it fails ("" otherwise)
};
#pragma pack(pop)
static_assert(sizeof(ctCOPYLOGON) == 356);
enum : int32_t {
  ctCOPY_OVERWRITE = 16,  // replace a table already under the target name
};
constexpr int kCopyNameSlot = 255;
// 0: the copy is complete and closed. 19 with sysio_cod 80 when the target
// exists and overwrite is not asked; 33 for a malformed request or a copy
// onto its source; 450/451 for a log-on the server refuses; the open and
// create statuses otherwise. A failed copy leaves no target behind; the
// error text says what failed.
VKT_API int16_t ctCopyFile(ctCOPYBLK* block);

// --- System queues ---------------------------------------------------------------
// Named message queues shared by every process of the same server (client
// session: the server's folder) or program folder (local session): the
// messages live in "<folder>/isamqueue.db" and stay there until read, also
// when the writer ends. A message is 1..65536 bytes.
constexpr int kSysQueueMaxMessage = 65536;
constexpr int kSysQueueMaxName = 255;
// Answers the queue handle (>= 0), -1 on failure (uerr_cod: 82 without a
// session, 33 for a null or overlong name or a mode other than 0).
VKT_API int ctSysQueueOpen(char* qname, int qmode);
// 0, or 33 for an unknown handle. Once the session is closed every other
// call on a handle answers 82.
VKT_API int ctSysQueueClose(int qhandle);
// Appends the message (FIFO) / puts it before every other (LIFO). 0 or a
// status (33 for a bad handle, null message or bad length).
VKT_API int ctSysQueueWrite(int qhandle, void* message, int msglen);
VKT_API int ctSysQueueLIFOWrite(int qhandle, void* message, int msglen);
// Takes the first message into `buffer`, waiting up to `timeout` ms for one
// (0: no wait; -1: without limit). Answers 0; 156 when none came; 153 when
// it is longer than bufsiz (the message stays queued; ctSysQueueMlen says
// how long).
VKT_API int ctSysQueueRead(int qhandle, void* buffer, int bufsiz,
                           int32_t timeout);
// Length of the first message, waiting as ctSysQueueRead; -1 on failure
// (uerr_cod 156 on time-out).
VKT_API int ctSysQueueMlen(int qhandle, int32_t timeout);
// Messages waiting; -1 on failure (uerr_cod).
VKT_API int ctSysQueueCount(int qhandle);

// --- Security administration ------------------------------------------------------
// An administrator logs on to a server of the settings file (its
// "admin" entry lists the administrators, default "ADMIN") and then edits
// the server's user list, the same list InitISAMXtd checks.
struct _saUSRI {
  char usrid[32];    // user name
  char usrword[64];  // password (add, change password)
  char usrgroup[32]; // not used
  char usrdesc[64];  // not used
};
enum : int16_t {
  SA_ADD_USER = 1,   // add usrid with usrword (457 when it exists)
  SA_DEL_USER = 2,   // remove usrid (450 unknown, 33 the logged-on admin)
  SA_PASS_USER = 3,  // give usrid the password usrword (450 unknown)
};
// 0, or 133/450/451/453 as InitISAMXtd, 454 when the user is not an
// administrator. `filword` is not used. A second logon replaces the first.
VKT_API int SA_LOGON(char* admin, char* password, char* filword,
                     char* server);
// 0, or 455 without a logon.
VKT_API int SA_LOGOF();
// 0 or a status (455 without a logon, 33 for a null block, an empty or
// overlong name or an unknown action).
VKT_API int SA_USERS(int16_t action, _saUSRI* info);

// --- Record database objects (c-treeDB) ----------------------------------------------
// Sessions, databases and tables as named objects over the ISAM session.
// A session's dictionary ("<folder>/isamdict.db" in the server's folder or
// the program folder) lists its databases (a name and a data folder) and
// each database its tables. Handles are checked: an unknown or freed one
// answers CTDBRET_NOTSESSION / CTDBRET_NOTDATABASE (null for the
// allocations), never a crash.
typedef int32_t CTDBRET;
typedef void* CTHANDLE;
enum CTSESSION_TYPE : int32_t {
  CTSESSION_CTREE = 0,  // ISAM and objects
  CTSESSION_CTDB = 1,
  CTSESSION_SQL = 2,
};
enum CTATTACH_MODE : int32_t {
  CTATTACH_SESSION = 0,  // source: a logged-on session handle
  CTATTACH_CTREEID = 1,  // the open ISAM session of this process
  CTATTACH_CURRENT = 2,  // the same
};
enum : int32_t {
  CTDBRET_OK = 0,
  CTDBRET_NOTSESSION = 4020,   // not a live session handle
  CTDBRET_NOTDATABASE = 4021,  // not a live database handle
  CTDBRET_NOTACTIVE = 4022,    // session not logged on / database not connected
  CTDBRET_ISACTIVE = 4023,     // logged on / connected already
  CTDBRET_INVNAME = 4024,      // null, empty, overlong or path-like name
  CTDBRET_INUSE = 4025,        // database connected through another handle
};
constexpr int kCtdbMaxName = 128;
VKT_API CTHANDLE ctdbAllocSession(CTSESSION_TYPE type);
// Makes the dictionary of the server (null or "" : local) after checking
// the log-on; 19 when it exists.
VKT_API CTDBRET ctdbCreateSession(CTHANDLE session, char* server, char* user,
                                  char* password);
// Opens the ISAM session (shares it when this process has one open) and
// the dictionary (12 when there is none).
VKT_API CTDBRET ctdbLogon(CTHANDLE session, char* server, char* user,
                          char* password);
// Disconnects its databases, aborts an open transaction of its own and
// closes the ISAM session when the logon opened it.
VKT_API CTDBRET ctdbLogout(CTHANDLE session);
VKT_API void ctdbFreeSession(CTHANDLE session);
// Logs `session` on without opening anything: to the dictionary of the
// session `source` or, for CTATTACH_CTREEID/CURRENT, of the open ISAM
// session. Detach leaves the ISAM session open.
VKT_API CTDBRET ctdbAttachSession(CTHANDLE session, CTHANDLE source,
                                  CTATTACH_MODE mode, int isTransProcess);
VKT_API CTDBRET ctdbDetachSession(CTHANDLE session);
VKT_API CTHANDLE ctdbAllocDatabase(CTHANDLE session);
VKT_API void ctdbFreeDatabase(CTHANDLE database);
// Connects the handle to a database of the dictionary (101 unknown).
VKT_API CTDBRET ctdbConnect(CTHANDLE database, char* name);
VKT_API CTDBRET ctdbDisconnect(CTHANDLE database);
// Create: a new database on folder `path` (created when absent; null or "":
// "<dictionary folder>/<name>"), 19 when the name exists. Add: an existing
// folder (12 when missing). Drop: out of the dictionary, files kept. Delete:
// out of the dictionary with the folder's store and the files of its
// tables in that folder (tables listed from other folders are only
// unlisted); none of them may be open, here (57) or in another process.
// Drop and delete answer 101 for an unknown name, CTDBRET_INUSE while a
// handle is connected to it.
VKT_API CTDBRET ctdbCreateDatabase(CTHANDLE session, char* name, char* path);
VKT_API CTDBRET ctdbAddDatabase(CTHANDLE session, char* name, char* path);
VKT_API CTDBRET ctdbDropDatabase(CTHANDLE session, char* name);
VKT_API CTDBRET ctdbDeleteDatabase(CTHANDLE session, char* name);
// Tables of the connected database in name order: name and folder into
// the buffers (153 when one is too small), 101 after the last.
VKT_API CTDBRET ctdbFirstTable(CTHANDLE database, char* name, int32_t namesize,
                               char* path, int32_t pathsize);
VKT_API CTDBRET ctdbNextTable(CTHANDLE database, char* name, int32_t namesize,
                              char* path, int32_t pathsize);
// Add: an existing table "<path>/<name>.dat" (path null or "": the
// database's folder; 12 when missing, 19 when listed). Drop: out of the
// list, files kept (101 unknown).
VKT_API CTDBRET ctdbAddTable(CTHANDLE database, char* name, char* path);
VKT_API CTDBRET ctdbDropTable(CTHANDLE database, char* name);
// The ISAM transaction (Begin(CT_TRN_ENABLE | CT_TRN_LOG)) of a logged-on
// session; the statuses of Begin (uerr_cod), Commit and Abort.
VKT_API CTDBRET ctdbBegin(CTHANDLE session);
VKT_API CTDBRET ctdbCommit(CTHANDLE session);
VKT_API CTDBRET ctdbAbort(CTHANDLE session);
// Save point number (> 0), 0 on failure (uerr_cod).
VKT_API int ctdbSetSavePoint(CTHANDLE session);
VKT_API CTDBRET ctdbRestoreSavePoint(CTHANDLE session, int savepoint);
// The owner SQL gives the connected database's tables; kept in the
// dictionary. Null or "" clears it.
VKT_API CTDBRET ctdbSetDefaultSqlTableOwner(CTHANDLE database, char* owner);
// The stored owner ("" when none); the length, -1 on failure.
VKT_API int32_t ctdbGetDefaultSqlTableOwner(CTHANDLE database, char* owner,
                                            int32_t size);

namespace vkt::isam {
// The settings file naming the servers a connect name may give is
// "<dir>/isamserv.ini"; dir defaults to $VKT_ISAM_HOME, else the program's
// folder. One section per server name:
//   [FAIRCOM@host]
//   backend=folder          ; folders of this machine (or a shared disk)
//   folder=/srv/mirto       ; relative file names resolve under it
//   user.ADMIN=secret       ; one entry per user: its password
// or, for folders kept by a PostgreSQL server for clients on many machines:
//   [MIRTO@server]
//   backend=postgres
//   dsn=host=db1 dbname=mirto user=mirto   ; a libpq connection string
//   folder=/mirto           ; root of relative names (a name, not a directory)
//   user.ADMIN=secret
VKT_API void SetIsamProgramDirectory(const char* dir);
VKT_API std::string IsamSettingsPath();
// Copies the data folder `dir` into `dest` (created when absent) as it was
// at one moment, while other sessions and processes go on writing: the
// store through the engine's online backup, the descriptors written anew
// from the copy. Answers 0 or a status; CT_NOT_SUPPORTED while the session
// is logged on to a PostgreSQL server (back up the server's database there).
VKT_API int16_t BackupIsamFolder(const char* dir, const char* dest);
// The data files of the tables of folder `dir` as the open session sees it
// (on a server, the server's folder), sorted: "<dir>/<name>.dat"...
VKT_API int16_t ListIsamFolder(const char* dir, std::vector<std::string>* paths);
}  // namespace vkt::isam

#endif  // VKT_ISAM_CTREE_H_
