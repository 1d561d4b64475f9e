// The client's session state: open files on their numbers, the data
// folders and their stores, the transaction, held locks, sets and ranges.
// One Instance per registered name; every exported call runs under the
// session mutex through a Call guard.
#ifndef VKT_ISAM_DETAIL_SESSION_H_
#define VKT_ISAM_DETAIL_SESSION_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "isam/ctree.h"
#include "isam/detail/descriptor.h"
#include "isam/detail/expr.h"
#include "isam/detail/schema.h"
#include "isam/detail/store.h"

namespace vkt::isam::detail {

struct FileOp {
  enum Kind { kWrite, kRemove } kind = kWrite;
  std::string path;
  Descriptor d;
};

struct Folder {
  std::string path;  // canonical
  std::unique_ptr<Store> store;
  int refs = 0;
  bool txn = false;               // joined the ISAM transaction
  std::vector<FileOp> pending;    // applied after the store commits
};

enum class FileKind { kSet, kDataOnly, kIndexFile };

struct OpenFile {
  FileKind kind = FileKind::kSet;
  Folder* folder = nullptr;
  TableMeta meta;
  std::unique_ptr<TableStore> ts;
  std::unique_ptr<LockSpace> locks;
  int32_t datno = -1;
  int numbers = 1;        // file numbers taken from datno on
  std::string stem;       // resolved path without extension
  std::string datpath;    // resolved data file path
  std::string idxpath;    // kIndexFile: the index file opened
  bool exclusive = false;
  bool trnlog = false;
  int16_t mode = 0;
  int created_at_sp = -1;  // created inside the transaction: savepoint count then
  // Current record, and the anchor navigation continues from (kept after a
  // delete so that Next/Previous go on from where the record was).
  bool has_cur = false;
  bool has_anchor = false;
  bool reset = false;
  int64_t cur_pos = 0;
  std::string cur_image;
  std::vector<std::string> cur_keys;
  std::vector<bool> cur_has_key;
  std::unique_ptr<Expr> filter;
  std::vector<std::unique_ptr<Expr>> conditions;  // per index, null = none
};

struct Slot {
  OpenFile* file = nullptr;
  int index = 0;  // 0 data file, k index k
};

struct HeldLock {
  OpenFile* file;
  int64_t pos;
};

struct SetState {
  int32_t keyno = -1;
  std::string prefix;
};

struct RangeState {
  struct Seg {
    int offset;
    int length;
    int op;
  };
  std::vector<Seg> segs;
  std::string lo, hi;
};

struct HistState {
  bool active = false;
  OpenFile* file = nullptr;
  int64_t pos = -1;
  int64_t seq = 0;
};

struct BatchState {
  bool active = false;
  OpenFile* file = nullptr;
  std::vector<int64_t> positions;
  size_t next = 0;
  bool rpos = false;
};

struct Instance {
  bool init = false;
  int16_t fils = 0;
  bool client = false;
  std::string server, user, password, root, node;
  // Not empty: the server keeps the folders (a PostgreSQL connection string).
  std::string dsn;
  std::vector<Slot> slots;
  std::vector<std::unique_ptr<OpenFile>> files;
  std::map<std::string, std::unique_ptr<Folder>> folders;
  std::map<std::string, std::unique_ptr<LockSpace>> blocks;  // ctFILBLK
  // Transaction.
  bool txn = false;
  int32_t txn_no = 0;
  int16_t txn_mode = 0;
  Status txn_error;
  std::vector<Folder*> txn_folders;
  std::vector<int16_t> savepoints;
  std::map<Folder*, std::vector<size_t>> sp_pending;  // pending size per savepoint
  int16_t next_sp = 0;
  std::vector<HeldLock> locks;
  int16_t lock_mode = 0;  // LockISAM 1/2/3
  bool lock_suspended = false;
  bool quiet = false;
  // Sets, ranges, history, batch.
  int16_t cur_set = 0;
  SetState sets[16];
  std::map<int32_t, RangeState> ranges;
  int16_t hist_set = 0;
  HistState hist[8];
  int32_t hist_days = 0;
  BatchState batch;
  int64_t calls = 0, commits = 0;
};

// The current instance and the guard every call takes.
Instance& Cur();
std::recursive_mutex& SessionMutex();

class Call {
 public:
  Call();
  ~Call();
  bool faulted() const { return faulted_; }
  // Sets the thread's error variables from `s` and answers its code.
  int16_t Ret(Status s);
  // For calls whose result is not a status: records `s`, answers `value`.
  template <typename T>
  T Val(Status s, T value) {
    Ret(s);
    return value;
  }
  Status fault() const { return fault_; }

 private:
  std::lock_guard<std::recursive_mutex> lock_;
  bool faulted_ = false;
  Status fault_;
};

// Shared helpers (session.cc).
Status NeedInit();
Status SlotOf(int32_t filno, OpenFile** f, int* index);
Status DataFile(int32_t datno, OpenFile** f);
Status KeyFile(int32_t keyno, OpenFile** f, int* index);
// Store access inside the ISAM transaction or an own one.
Status JoinWrite(Folder* folder);
Status FinishWrite(Folder* folder, Status s);  // own txn: commit or roll back
bool Locking();
Status LockForRead(OpenFile* f, int64_t pos);
Status LockForWrite(OpenFile* f, int64_t pos, bool* temporary);
void ReleaseTemporary(OpenFile* f, int64_t pos);
void MakeCurrent(OpenFile* f, int64_t pos, std::string image);
// The same with the keys already built for the image.
void MakeCurrent(OpenFile* f, int64_t pos, std::string image, std::vector<std::string> keys,
                 std::vector<bool> has);
void QueueDescriptors(OpenFile* f);
void QueueDescriptors(Folder* folder, const TableMeta& meta, const std::string& stem);
int64_t NewFileId();
int64_t NowSeconds();
void AddHistory(OpenFile* f, int64_t pos, int16_t type, const std::string& image);
void CloseFile(OpenFile* f);
void ReloadMeta(OpenFile* f);
void DoomTransaction(Status s);
// Checks a log-on against the settings file; *root: the server's folder,
// *dsn (when asked) the connection string of a database server keeping the
// folders, empty for a folder server.
Status Logon(const char* user, const char* password, const char* server, std::string* root,
             std::string* dsn = nullptr);
// A descriptor of the folder `folder`, wherever the session keeps them.
Status ReadFolderDescriptor(const std::string& folder, const std::string& path, Descriptor* d);
// The folder of the side databases (queues, dictionary) of this session:
// the server's folder for a client, else the program folder.
std::string SideFolder();
// Forget the open queues, the administrator's logon and the record database
// handles (tests).
void ResetSysQueuesForTesting();
void ResetSecurityForTesting();
void ResetCtdbForTesting();
thread_local inline int32_t tls_high = 0;  // ctSETHGH/ctGETHGH

}  // namespace vkt::isam::detail

#endif  // VKT_ISAM_DETAIL_SESSION_H_
