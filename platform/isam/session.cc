// Session, files and transactions of the ISAM client.
#include <fcntl.h>
#include <sys/stat.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

#include "isam/ctree.h"
#include "isam/detail/session.h"
#include "isam/isam_testing.h"
#include "win/ini_file.h"
#include "win/services.h"

constinit thread_local int16_t isam_err = -1;
constinit thread_local int16_t uerr_cod = -1;
constinit thread_local int16_t sysio_cod = -1;

namespace vkt::isam {
namespace {

std::atomic<int64_t> g_call_fault{0};
std::atomic<int16_t> g_call_fault_status{0};
std::atomic<int32_t> g_call_fault_sys{0};

std::string& ProgramDir() {
  static std::string* dir = new std::string();
  return *dir;
}

}  // namespace

void SetIsamProgramDirectory(const char* dir) {
  std::lock_guard<std::recursive_mutex> l(detail::SessionMutex());
  ProgramDir() = dir != nullptr ? dir : "";
}

std::string IsamSettingsPath() {
  std::lock_guard<std::recursive_mutex> l(detail::SessionMutex());
  std::string dir = ProgramDir();
  if (dir.empty()) {
    if (const char* env = std::getenv("VKT_ISAM_HOME"); env != nullptr && *env != '\0') {
      dir = env;
    } else {
      char exe[PATH_MAX];
      ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
      if (n > 0) {
        exe[n] = '\0';
        dir = exe;
        size_t slash = dir.rfind('/');
        dir = slash == std::string::npos ? "." : dir.substr(0, slash);
      } else {
        dir = ".";
      }
    }
  }
  return dir + "/isamserv.ini";
}

#if VKT_TEST_HOOKS
void FailNthIsamCall(int64_t n, int16_t status, int32_t sys) {
  g_call_fault_status = status;
  g_call_fault_sys = sys;
  g_call_fault = n;
}

void FailNthStorageOp(int64_t n, int16_t status, int32_t sys) {
  if (n <= 0)
    detail::DisarmStorageFault();
  else
    detail::ArmStorageFault(n, status, sys);
}
#endif

namespace detail {
namespace {

Instance* g_default = nullptr;
Instance* g_current = nullptr;
std::map<std::string, std::unique_ptr<Instance>>& Named() {
  static auto* m = new std::map<std::string, std::unique_ptr<Instance>>();
  return *m;
}

constexpr int kMaxFiles = 32000;
constexpr int kBlockWaitMs = 5000;

}  // namespace

std::recursive_mutex& SessionMutex() {
  static auto* mu = new std::recursive_mutex();
  return *mu;
}

Instance& Cur() {
  if (g_current == nullptr) {
    if (g_default == nullptr) g_default = new Instance();
    g_current = g_default;
  }
  return *g_current;
}

Call::Call() : lock_(SessionMutex()) {
  isam_err = uerr_cod = sysio_cod = 0;
  Cur().calls++;
  if (g_call_fault.load() > 0 && --g_call_fault == 0) {
    faulted_ = true;
    fault_ = Status{g_call_fault_status.load(), g_call_fault_sys.load()};
  }
}

Call::~Call() = default;

int16_t Call::Ret(Status s) {
  isam_err = uerr_cod = s.code;
  sysio_cod = static_cast<int16_t>(s.sys);
  return s.code;
}

Status NeedInit() { return Cur().init ? Status{} : Status{CT_NOT_INITIALISED}; }

Status SlotOf(int32_t filno, OpenFile** f, int* index) {
  VKT_ISAM_RETURN_IF_ERROR(NeedInit());
  Instance& in = Cur();
  if (filno < 0 || filno >= static_cast<int32_t>(in.slots.size())) return CT_BAD_FILE_NUMBER;
  const Slot& s = in.slots[static_cast<size_t>(filno)];
  if (s.file == nullptr) return CT_FILE_NOT_OPEN;
  *f = s.file;
  *index = s.index;
  return {};
}

Status DataFile(int32_t datno, OpenFile** f) {
  int index = 0;
  VKT_ISAM_RETURN_IF_ERROR(SlotOf(datno, f, &index));
  if (index != 0 || (*f)->kind == FileKind::kIndexFile) return CT_WRONG_FILE_KIND;
  return {};
}

Status KeyFile(int32_t keyno, OpenFile** f, int* index) {
  VKT_ISAM_RETURN_IF_ERROR(SlotOf(keyno, f, index));
  if (*index == 0 || (*f)->kind != FileKind::kSet) return CT_WRONG_FILE_KIND;
  return {};
}

void DoomTransaction(Status s) {
  Instance& in = Cur();
  if (in.txn && in.txn_error.ok()) in.txn_error = s;
}

Status JoinWrite(Folder* folder) {
  Instance& in = Cur();
  if (in.quiet) return CT_FILE_LOCKED;
  if (!in.txn) return folder->store->BeginWrite();
  if (!in.txn_error.ok()) return in.txn_error;
  if (folder->txn) return {};
  VKT_ISAM_RETURN_IF_ERROR(folder->store->BeginWrite());
  // Save points set before this folder joined mark its start.
  for (int16_t sp : in.savepoints) {
    Status s = folder->store->Savepoint("sp" + std::to_string(sp));
    if (!s.ok()) {
      folder->store->Rollback();
      return s;
    }
  }
  folder->txn = true;
  in.txn_folders.push_back(folder);
  in.sp_pending[folder] = std::vector<size_t>(in.savepoints.size(), 0);
  return {};
}

namespace {

Status ApplyPending(Folder* folder) {
  Status first;
  for (const FileOp& op : folder->pending) {
    Status s = op.kind == FileOp::kWrite ? folder->store->WriteDescriptorAt(op.path, op.d)
                                         : folder->store->RemoveDescriptorAt(op.path);
    if (!s.ok() && first.ok()) first = s;
  }
  folder->pending.clear();
  return first;
}

void ReleaseFolder(Folder* folder) {
  Instance& in = Cur();
  if (folder->refs > 0 || folder->txn) return;
  for (auto it = in.folders.begin(); it != in.folders.end(); ++it)
    if (it->second.get() == folder) {
      in.folders.erase(it);
      return;
    }
}

}  // namespace

Status FinishWrite(Folder* folder, Status s) {
  Instance& in = Cur();
  if (in.txn) {
    // A refusal leaves the transaction going; a failure that ended it in
    // the store (a server aborts on any error) dooms it, whatever the status.
    if (!s.ok() && !folder->store->InWrite()) DoomTransaction(s);
    return s;
  }
  if (!s.ok()) {
    folder->store->Rollback();
    folder->pending.clear();
    return s;
  }
  s = folder->store->Commit();
  if (!s.ok()) {
    folder->pending.clear();
    return s;
  }
  in.commits++;
  return ApplyPending(folder);
}

bool Locking() {
  Instance& in = Cur();
  if (in.lock_suspended) return false;
  if (in.txn && (in.txn_mode & (CT_TRN_ENABLE | CT_TRN_ENABLE_BLK))) return true;
  return in.lock_mode != 0;
}

namespace {

bool Holds(OpenFile* f, int64_t pos) {
  for (const HeldLock& h : Cur().locks)
    if (h.file == f && h.pos == pos) return true;
  return false;
}

}  // namespace

Status LockForRead(OpenFile* f, int64_t pos) {
  if (!Locking() || Holds(f, pos)) return {};
  Instance& in = Cur();
  const bool wait = (in.txn && (in.txn_mode & CT_TRN_ENABLE_BLK)) || in.lock_mode == 2;
  const bool shared = !in.txn && in.lock_mode == 3;
  VKT_ISAM_RETURN_IF_ERROR(f->locks->LockRecord(pos, !shared, wait ? kBlockWaitMs : 0));
  in.locks.push_back({f, pos});
  return {};
}

Status LockForWrite(OpenFile* f, int64_t pos, bool* temporary) {
  *temporary = false;
  if (Holds(f, pos)) return {};
  VKT_ISAM_RETURN_IF_ERROR(f->locks->LockRecord(pos, true, 0));
  Instance& in = Cur();
  if (in.txn) {
    in.locks.push_back({f, pos});
  } else {
    *temporary = true;
  }
  return {};
}

void ReleaseTemporary(OpenFile* f, int64_t pos) { f->locks->UnlockRecord(pos); }

void MakeCurrent(OpenFile* f, int64_t pos, std::string image) {
  f->has_cur = f->has_anchor = true;
  f->reset = false;
  f->cur_pos = pos;
  const auto& ixs = f->meta.def.indexes;
  f->cur_keys.resize(ixs.size());
  f->cur_has_key.resize(ixs.size());
  for (size_t i = 0; i < ixs.size(); ++i)
    f->cur_has_key[i] = BuildKey(ixs[i], image, pos, &f->cur_keys[i]);
  f->cur_image = std::move(image);
}

void MakeCurrent(OpenFile* f, int64_t pos, std::string image, std::vector<std::string> keys,
                 std::vector<bool> has) {
  f->has_cur = f->has_anchor = true;
  f->reset = false;
  f->cur_pos = pos;
  f->cur_keys = std::move(keys);
  f->cur_has_key = std::move(has);
  f->cur_image = std::move(image);
}

int64_t NewFileId() {
  static std::mt19937_64* rng = [] {
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), rd(), rd(), static_cast<unsigned>(::getpid())};
    return new std::mt19937_64(seq);
  }();
  // 31 bits: a file id is a signed 32-bit header value to its callers.
  return static_cast<int64_t>((*rng)() % 0x7ffffffe) + 1;
}

int64_t NowSeconds() { return vkt::services().NowMicros() / 1000000; }

namespace {

std::string IndexPath(const std::string& stem, const TableMeta& meta, const std::string& file) {
  return file.empty() ? stem + meta.idxext : file;
}

std::string Members(const TableDef& def, const std::string& file) {
  std::string out;
  for (size_t i = 0; i < def.indexes.size(); ++i)
    if (def.indexes[i].file == file) {
      if (!out.empty()) out += ",";
      out += std::to_string(i);
    }
  return out;
}

}  // namespace

void QueueDescriptors(Folder* folder, const TableMeta& meta, const std::string& stem) {
  Descriptor d;
  d.table = meta.name;
  d.fileid = meta.fileid;
  d.generation = meta.generation;
  d.reclen = meta.def.reclen;
  folder->pending.push_back({FileOp::kWrite, folder->path + "/" + meta.name, d});
  std::vector<std::string> files = IndexFiles(meta.def);
  for (size_t i = 0; i < files.size(); ++i) {
    Descriptor x = d;
    x.index = true;
    x.owner = meta.fileid;
    x.fileid = i < meta.member_ids.size() ? meta.member_ids[i] : 0;
    x.members = Members(meta.def, files[i]);
    folder->pending.push_back({FileOp::kWrite, IndexPath(stem, meta, files[i]), x});
  }
}

void QueueDescriptors(OpenFile* f) { QueueDescriptors(f->folder, f->meta, f->stem); }

void AddHistory(OpenFile* f, int64_t pos, int16_t type, const std::string& image) {
  if (!f->trnlog) return;
  Instance& in = Cur();
  HistoryEntry e;
  e.txn = in.txn ? in.txn_no : 0;
  e.pos = pos;
  e.time = NowSeconds();
  e.type = type;
  e.user = in.user;
  e.station = in.node;
  e.image = image;
  Status s = f->folder->store->AddHistory(f->meta.tid, e);
  if (!s.ok()) DoomTransaction(s);
}

void ReloadMeta(OpenFile* f) {
  TableMeta m;
  if (f->folder->store->LoadTable(f->meta.name, &m).ok()) {
    m.filter = f->meta.filter;
    f->meta = std::move(m);
  }
}

void CloseFile(OpenFile* f) {
  Instance& in = Cur();
  std::erase_if(in.locks, [f](const HeldLock& h) { return h.file == f; });
  for (Slot& s : in.slots)
    if (s.file == f) s = Slot{};
  for (HistState& h : in.hist)
    if (h.file == f) h = HistState{};
  if (in.batch.file == f) in.batch = BatchState{};
  Folder* folder = f->folder;
  for (auto it = in.files.begin(); it != in.files.end(); ++it)
    if (it->get() == f) {
      in.files.erase(it);
      break;
    }
  folder->refs--;
  ReleaseFolder(folder);
}

namespace {

// --- Paths and folders ------------------------------------------------------

struct Where {
  std::string folder;  // canonical
  std::string stem;    // folder + "/" + base name without extension
  std::string name;    // data file name within the folder
  std::string datpath;
};

// "a//b/./c/../d" -> "a/b/d"; a relative name stays relative.
std::string LexicalFolder(const std::string& dir) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= dir.size()) {
    size_t next = dir.find('/', at);
    if (next == std::string::npos) next = dir.size();
    std::string part = dir.substr(at, next - at);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") parts.pop_back();
      else if (dir.empty() || dir[0] != '/') parts.push_back(part);
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = next + 1;
  }
  std::string out = !dir.empty() && dir[0] == '/' ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) out += (i > 0 ? "/" : "") + parts[i];
  return out.empty() ? "." : out;
}

Status Resolve(const char* filnam, const char* ext, bool append_ext, Where* w) {
  if (filnam == nullptr || *filnam == '\0') return CT_BAD_PARAMETER;
  Instance& in = Cur();
  std::string p = filnam;
  std::replace(p.begin(), p.end(), '\\', '/');
  if (in.client && !in.root.empty() && p[0] != '/') p = in.root + "/" + p;
  size_t slash = p.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
  std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") return CT_BAD_PARAMETER;
  if (!in.dsn.empty()) {
    // The server's folders are names, not directories of this machine.
    w->folder = LexicalFolder(dir);
  } else {
    char real[PATH_MAX];
    if (::realpath(dir.c_str(), real) == nullptr) return {CT_FILE_NOT_FOUND, errno};
    w->folder = real;
  }
  if (append_ext) {
    w->stem = w->folder + "/" + base;
    w->name = base + (ext != nullptr ? ext : ".dat");
  } else {
    w->name = base;
    size_t dot = base.rfind('.');
    w->stem = w->folder + "/" + (dot == std::string::npos ? base : base.substr(0, dot));
  }
  w->datpath = w->folder + "/" + w->name;
  return {};
}

Status GetFolder(const std::string& path, Folder** out) {
  Instance& in = Cur();
  auto it = in.folders.find(path);
  if (it != in.folders.end()) {
    *out = it->second.get();
    return {};
  }
  auto folder = std::make_unique<Folder>();
  folder->path = path;
  Status s = in.dsn.empty() ? OpenSqliteStore(path, &folder->store)
                            : OpenPgStore(in.dsn, path, &folder->store);
  if (!s.ok()) {
    if (s.code == CT_FILE_NOT_FOUND && (s.sys == EACCES || s.sys == EPERM)) s.code = CT_CREATE_DENIED;
    return s;
  }
  *out = folder.get();
  in.folders[path] = std::move(folder);
  return {};
}

Status PickNumbers(int32_t wanted, int count, int32_t* datno) {
  Instance& in = Cur();
  const int32_t n = static_cast<int32_t>(in.slots.size());
  if (wanted >= 0) {
    if (wanted + count > n) return CT_BAD_FILE_NUMBER;
    for (int i = 0; i < count; ++i)
      if (in.slots[static_cast<size_t>(wanted + i)].file != nullptr) return CT_FILE_NUMBER_IN_USE;
    *datno = wanted;
    return {};
  }
  for (int32_t start = 0; start + count <= n; ++start) {
    bool free = true;
    for (int i = 0; i < count && free; ++i)
      if (in.slots[static_cast<size_t>(start + i)].file != nullptr) free = false;
    if (free) {
      *datno = start;
      return {};
    }
  }
  return CT_BAD_FILE_NUMBER;
}

Status CheckUniqueId(const TableMeta& meta, const std::string& datpath, int32_t mode) {
  if (mode & CT_MODE_NOIDCHECK) return {};
  for (const auto& f : Cur().files)
    if (f->kind != FileKind::kIndexFile && f->meta.fileid == meta.fileid && f->datpath != datpath)
      return CT_FILE_ID_NOT_UNIQUE;
  return {};
}

Status CheckIndexFiles(const Where& w, const TableMeta& meta) {
  std::vector<std::string> files = IndexFiles(meta.def);
  for (size_t i = 0; i < files.size(); ++i) {
    Descriptor d;
    Status s = ReadFolderDescriptor(w.folder, IndexPath(w.stem, meta, files[i]), &d);
    if (!s.ok()) return {CT_INDEX_DAMAGED, s.sys};
    if (!d.index || d.owner != meta.fileid || d.table != meta.name) return CT_INDEX_FOREIGN;
    if (d.generation != meta.generation) return CT_INDEX_DAMAGED;
  }
  return {};
}

std::unique_ptr<Expr> ParseCondition(const TableMeta& meta, const std::string& text) {
  std::string why;
  return Expr::Parse(text, meta.doda, &why);
}

void LoadConditions(OpenFile* f) {
  f->conditions.clear();
  for (const IndexDef& ix : f->meta.def.indexes)
    f->conditions.push_back(ix.condition.empty() ? nullptr : ParseCondition(f->meta, ix.condition));
}

// Opens the table `w` names on numbers datno.. (kind and mode as given).
// On failure the folder is left to the caller, who got it and drops it
// (ReleaseFolder): dropping it here as well handed the caller a freed one.
Status Attach(const Where& w, TableMeta meta, FileKind kind, int32_t datno, int numbers,
              int16_t mode, int32_t full_mode, std::unique_ptr<OpenFile>* out_file) {
  Folder* folder = nullptr;
  VKT_ISAM_RETURN_IF_ERROR(GetFolder(w.folder, &folder));
  auto f = std::make_unique<OpenFile>();
  f->kind = kind;
  f->folder = folder;
  folder->refs++;
  f->meta = std::move(meta);
  f->datno = datno;
  f->numbers = numbers;
  f->stem = w.stem;
  f->datpath = w.datpath;
  f->mode = mode;
  f->exclusive = (mode & CT_MODE_SHARED) == 0;
  f->trnlog = (mode & CT_MODE_TRNLOG) != 0;
  Status s = CheckUniqueId(f->meta, w.datpath, full_mode);
  if (s.ok()) s = folder->store->OpenTable(f->meta, &f->ts);
  if (s.ok()) s = folder->store->OpenLocks(w.stem + ".lck", &f->locks);
  if (s.ok()) s = f->locks->LockFile(f->exclusive);
  if (!s.ok()) {
    f->ts.reset();
    f->locks.reset();
    folder->refs--;
    return s;
  }
  LoadConditions(f.get());
  *out_file = std::move(f);
  return {};
}

void Register(std::unique_ptr<OpenFile> f) {
  Instance& in = Cur();
  for (int i = 0; i < f->numbers; ++i) in.slots[static_cast<size_t>(f->datno + i)] = Slot{f.get(), i};
  in.files.push_back(std::move(f));
}

Status LoadExisting(const Where& w, TableMeta* meta, Folder** folder_out) {
  Descriptor d;
  VKT_ISAM_RETURN_IF_ERROR(ReadFolderDescriptor(w.folder, w.datpath, &d));
  if (d.index) return CT_NOT_ISAM_FILE;
  Folder* folder = nullptr;
  VKT_ISAM_RETURN_IF_ERROR(GetFolder(w.folder, &folder));
  Status s = folder->store->LoadTable(w.name, meta);
  if (!s.ok()) {
    ReleaseFolder(folder);
    return s;  // a descriptor without its catalog row is no table
  }
  if (d.fileid != meta->fileid || d.reclen != meta->def.reclen || d.table != meta->name) {
    ReleaseFolder(folder);
    return {53, 0};  // header disagrees: the repair path rewrites it
  }
  if (folder_out != nullptr) *folder_out = folder;
  return {};
}

Status OpenSet(ifil4* ifil, const char* dataextn, const char* indxextn) {
  VKT_ISAM_RETURN_IF_ERROR(NeedInit());
  if (ifil == nullptr) return CT_BAD_PARAMETER;
  TableDef prog;
  VKT_ISAM_RETURN_IF_ERROR(DefFromIfil(*ifil, &prog));
  Where w;
  VKT_ISAM_RETURN_IF_ERROR(Resolve(ifil->pfilnam, dataextn, true, &w));
  TableMeta meta;
  Folder* folder = nullptr;
  VKT_ISAM_RETURN_IF_ERROR(LoadExisting(w, &meta, &folder));
  Status s = CheckIndexFiles(w, meta);
  if (s.ok() && !SameIndexes(prog, meta.def)) s = CT_INDEX_DAMAGED;
  if (!s.ok()) {
    ReleaseFolder(folder);
    return s;
  }
  (void)indxextn;
  const int numbers = static_cast<int>(meta.def.indexes.size()) + 1;
  int32_t datno = -1;
  s = PickNumbers(ifil->dfilno, numbers, &datno);
  if (!s.ok()) {
    ReleaseFolder(folder);
    return s;
  }
  std::unique_ptr<OpenFile> f;
  s = Attach(w, std::move(meta), FileKind::kSet, datno, numbers, ifil->dfilmod, ifil->dfilmod, &f);
  if (!s.ok()) {
    ReleaseFolder(folder);
    return s;
  }
  Register(std::move(f));
  ifil->tfilno = datno;
  return {};
}

Status MetaFromProgram(const ifil4& ifil, const TableDef& def, const Where& w, const char* indxextn,
                       const xCREblk* create, TableMeta* meta) {
  meta->name = w.name;
  meta->idxext = indxextn != nullptr ? indxextn : ".idx";
  meta->fileid = NewFileId();
  meta->generation = 1;
  meta->def = def;
  meta->stored_mode = ifil.dfilmod;
  if (create != nullptr) {
    meta->def.has_xcreate = true;
    meta->def.xcreate = *create;
  }
  meta->member_ids.clear();
  for (size_t i = 0; i < IndexFiles(def).size(); ++i) meta->member_ids.push_back(NewFileId());
  return {};
}

Status CreateSet(ifil4* ifil, const char* dataextn, const char* indxextn, xCREblk* create) {
  VKT_ISAM_RETURN_IF_ERROR(NeedInit());
  if (ifil == nullptr) return CT_BAD_PARAMETER;
  TableDef def;
  VKT_ISAM_RETURN_IF_ERROR(DefFromIfil(*ifil, &def));
  Where w;
  Status s = Resolve(ifil->pfilnam, dataextn, true, &w);
  if (s.code == CT_FILE_NOT_FOUND) return {CT_CREATE_FAILED, s.sys};
  VKT_ISAM_RETURN_IF_ERROR(s);
  const int numbers = static_cast<int>(def.indexes.size()) + 1;
  int32_t datno = -1;
  VKT_ISAM_RETURN_IF_ERROR(PickNumbers(ifil->dfilno, numbers, &datno));
  if (Cur().dsn.empty() && ::access(w.folder.c_str(), W_OK) != 0) return {CT_CREATE_DENIED, errno};
  Folder* folder = nullptr;
  s = GetFolder(w.folder, &folder);
  if (!s.ok()) return s.code == CT_CREATE_DENIED ? s : Status{CT_CREATE_FAILED, s.sys};
  {
    // A name blocked (ctFILBLK) is refused before anything is made: the
    // open that ends the create would fail only after the table was there.
    std::unique_ptr<LockSpace> probe;
    s = folder->store->OpenLocks(w.stem + ".lck", &probe);
    if (s.ok()) s = probe->LockFile(false);
    if (!s.ok()) {
      ReleaseFolder(folder);
      return s;
    }
  }
  TableMeta meta;
  (void)MetaFromProgram(*ifil, def, w, indxextn, create, &meta);
  folder->refs++;  // held while the transaction may still release it
  s = JoinWrite(folder);
  if (s.ok()) {
    TableMeta existing;
    Status e = folder->store->LoadTable(w.name, &existing);
    if (e.ok()) s = Status{CT_FILE_EXISTS, EEXIST};
    else if (e.code != CT_FILE_NOT_FOUND) s = e;
  }
  if (s.ok()) s = folder->store->CreateTable(&meta);
  if (s.ok()) QueueDescriptors(folder, meta, w.stem);
  s = FinishWrite(folder, s);
  folder->refs--;
  if (!s.ok()) {
    ReleaseFolder(folder);
    return s;
  }
  std::unique_ptr<OpenFile> f;
  s = Attach(w, std::move(meta), FileKind::kSet, datno, numbers, ifil->dfilmod, ifil->dfilmod, &f);
  ReleaseFolder(folder);
  if (!s.ok()) return s;
  if (Cur().txn) f->created_at_sp = static_cast<int>(Cur().savepoints.size());
  Register(std::move(f));
  ifil->tfilno = datno;
  return {};
}

// Removes a table (open exclusively as f) with its descriptors.
Status DropOpenTable(OpenFile* f) {
  if (!f->exclusive) return CT_FILE_LOCKED;
  Folder* folder = f->folder;
  Status s = JoinWrite(folder);
  TableMeta meta = f->meta;
  std::string stem = f->stem;
  if (s.ok()) s = folder->store->DropTable(meta);
  if (s.ok()) s = folder->store->EraseHistory(meta.tid);
  if (s.ok()) {
    folder->pending.push_back({FileOp::kRemove, f->datpath, {}});
    for (const std::string& file : IndexFiles(meta.def))
      folder->pending.push_back({FileOp::kRemove, IndexPath(stem, meta, file), {}});
  }
  folder->refs++;
  f->ts.reset();
  CloseFile(f);
  s = FinishWrite(folder, s);
  folder->refs--;
  ReleaseFolder(folder);
  return s;
}

// Rebuild (strict = compact: a duplicate stops it with 2).
Status RebuildSet(ifil4* ifil, const char* dataextn, const char* indxextn, xCREblk* create,
                  bool strict) {
  VKT_ISAM_RETURN_IF_ERROR(NeedInit());
  if (ifil == nullptr) return CT_BAD_PARAMETER;
  TableDef def;
  VKT_ISAM_RETURN_IF_ERROR(DefFromIfil(*ifil, &def));
  Where w;
  VKT_ISAM_RETURN_IF_ERROR(Resolve(ifil->pfilnam, dataextn, true, &w));
  for (const auto& f : Cur().files)
    if (f->datpath == w.datpath) return CT_FILE_NUMBER_IN_USE;  // must be closed
  Folder* folder = nullptr;
  VKT_ISAM_RETURN_IF_ERROR(GetFolder(w.folder, &folder));
  folder->refs++;
  TableMeta meta;
  Status s = folder->store->LoadTable(w.name, &meta);
  std::unique_ptr<LockSpace> lock;
  if (s.ok()) s = folder->store->OpenLocks(w.stem + ".lck", &lock);
  if (s.ok()) s = lock->LockFile(true);
  const bool remove_dups = ifil->tfilno == -200;
  int removed = 0, left_out = 0;
  if (s.ok()) s = JoinWrite(folder);
  std::unique_ptr<TableStore> ts;
  std::vector<std::string> old_files;
  if (s.ok()) {
    old_files = IndexFiles(meta.def);
    uint32_t reclen = meta.def.reclen;
    bool varlen = meta.def.varlen;
    // Conditions stay with their index when the definition keeps it.
    for (size_t i = 0; i < def.indexes.size() && i < meta.def.indexes.size(); ++i)
      def.indexes[i].condition = meta.def.indexes[i].condition;
    meta.def = def;
    meta.def.reclen = reclen;
    meta.def.varlen = varlen;
    if (create != nullptr) {
      meta.def.has_xcreate = true;
      meta.def.xcreate = *create;
    }
    if (indxextn != nullptr) meta.idxext = indxextn;
    meta.generation++;
    meta.fileid = NewFileId();
    meta.member_ids.clear();
    for (size_t i = 0; i < IndexFiles(meta.def).size(); ++i) meta.member_ids.push_back(NewFileId());
    s = folder->store->OpenTable(meta, &ts);
  }
  if (s.ok()) s = ts->ResetKeyTables(meta.def);
  if (s.ok()) {
    std::vector<std::unique_ptr<Expr>> conds;
    for (const IndexDef& ix : meta.def.indexes)
      conds.push_back(ix.condition.empty() ? nullptr : ParseCondition(meta, ix.condition));
    int64_t pos = 0;
    std::string image, key;
    for (;;) {
      Status r = ts->SeekRecord(Seek::kGT, pos, &pos, &image);
      if (r.code == CT_NOT_FOUND) break;
      if (!r.ok()) {
        s = r;
        break;
      }
      std::vector<std::pair<int, std::string>> added;
      bool dropped = false;
      for (size_t i = 0; i < meta.def.indexes.size() && s.ok(); ++i) {
        if (conds[i] != nullptr && !conds[i]->Match(image)) continue;
        if (!BuildKey(meta.def.indexes[i], image, pos, &key)) continue;
        Status k = ts->AddKey(static_cast<int>(i), key, pos);
        if (k.code == CT_DUPLICATE_KEY) {
          if (strict) {
            s = k;
          } else if (remove_dups) {
            for (auto& [ix, kk] : added) s = ts->RemoveKey(ix, kk, pos);
            if (s.ok()) s = ts->Erase(pos);
            dropped = true;
            removed++;
            break;
          } else {
            left_out++;
          }
        } else if (!k.ok()) {
          s = k;
        } else {
          added.emplace_back(static_cast<int>(i), key);
        }
      }
      (void)dropped;
      if (!s.ok()) break;
    }
  }
  if (s.ok()) s = folder->store->SaveTable(meta);
  if (s.ok()) {
    // Index files the new definition no longer has go away.
    std::vector<std::string> now = IndexFiles(meta.def);
    for (const std::string& file : old_files)
      if (std::find(now.begin(), now.end(), file) == now.end())
        folder->pending.push_back({FileOp::kRemove, IndexPath(w.stem, meta, file), {}});
    QueueDescriptors(folder, meta, w.stem);
  }
  ts.reset();
  if (s.code == CT_DUPLICATE_KEY && !Cur().txn) {
    folder->store->Rollback();
    folder->pending.clear();
  } else {
    s = FinishWrite(folder, s);
  }
  lock.reset();
  folder->refs--;
  ReleaseFolder(folder);
  if (!s.ok()) return s;
  ifil->tfilno = -1;
  if (removed > 0) return CT_DUPLICATES_REMOVED;
  if (left_out > 0) return CT_DUPLICATES_FOUND;
  return {};
}

Status PutDescription(ifil4* ifil, const char* dataextn, xCREblk* create) {
  VKT_ISAM_RETURN_IF_ERROR(NeedInit());
  if (ifil == nullptr) return CT_BAD_PARAMETER;
  TableDef def;
  VKT_ISAM_RETURN_IF_ERROR(DefFromIfil(*ifil, &def));
  Where w;
  VKT_ISAM_RETURN_IF_ERROR(Resolve(ifil->pfilnam, dataextn, true, &w));
  Folder* folder = nullptr;
  VKT_ISAM_RETURN_IF_ERROR(GetFolder(w.folder, &folder));
  folder->refs++;
  TableMeta meta;
  Status s = JoinWrite(folder);
  if (s.ok()) s = folder->store->LoadTable(w.name, &meta);
  if (s.ok()) {
    const bool same = SameIndexes(def, meta.def);
    for (size_t i = 0; i < def.indexes.size() && i < meta.def.indexes.size(); ++i)
      def.indexes[i].condition = meta.def.indexes[i].condition;
    def.reclen = meta.def.reclen;
    def.varlen = meta.def.varlen;
    if (create != nullptr) {
      def.has_xcreate = true;
      def.xcreate = *create;
    } else {
      def.has_xcreate = meta.def.has_xcreate;
      def.xcreate = meta.def.xcreate;
    }
    if (!same) {
      // The key tables were built for the old definition: the next open
      // finds the index stale and the rebuild applies the new one.
      def.indexes = meta.def.indexes;
      meta.generation++;
    }
    meta.def = def;
    s = folder->store->SaveTable(meta);
  }
  s = FinishWrite(folder, s);
  if (s.ok())
    for (const auto& f : Cur().files)
      if (f->datpath == w.datpath) ReloadMeta(f.get());
  folder->refs--;
  ReleaseFolder(folder);
  return s;
}

}  // namespace

Status OpenSetHook(ifil4* ifil, const char* d, const char* i) { return OpenSet(ifil, d, i); }

Status ReadFolderDescriptor(const std::string& folder, const std::string& path, Descriptor* d) {
  if (Cur().dsn.empty()) return ReadDescriptor(path, d);
  // The folder stays open: the caller may hold it already (unreferenced
  // until it attaches a file), and the next call will want it anyway.
  Folder* f = nullptr;
  VKT_ISAM_RETURN_IF_ERROR(GetFolder(folder, &f));
  return f->store->ReadDescriptorAt(path, d);
}

// Settings of the servers a connect name may name.
Status Logon(const char* user, const char* password, const char* server, std::string* root,
             std::string* dsn) {
  std::string name = server != nullptr ? server : "";
  if (name.size() > 255) return CT_BAD_SERVER_NAME;
  for (unsigned char c : name)
    if (c < 0x21 || c == '/' || c == '\\') return CT_BAD_SERVER_NAME;
  vkt::win::IniFile ini;
  if (!ini.Load(IsamSettingsPath())) return CT_SERVER_NOT_FOUND;
  if (!ini.Has(name, "backend")) return CT_SERVER_NOT_FOUND;
  const std::string backend = ini.Get(name, "backend", "");
  if (backend != "folder" && backend != "postgres") return CT_PROTOCOL_NOT_FOUND;
  std::string u = user != nullptr ? user : "";
  if (u.empty() || !ini.Has(name, "user." + u)) return CT_BAD_USER;
  if (ini.Get(name, "user." + u, "") != (password != nullptr ? password : "")) return CT_BAD_PASSWORD;
  *root = ini.Get(name, "folder", "");
  if (backend == "postgres") {
    // The folders are the server's: "folder" is only the root that names
    // without a leading "/" start from.
    const std::string conn = ini.Get(name, "dsn", "");
    if (conn.empty()) return CT_SERVER_NOT_FOUND;
    VKT_ISAM_RETURN_IF_ERROR(PingPgServer(conn));
    if (dsn != nullptr) *dsn = conn;
    *root = LexicalFolder(root->empty() ? "/" : *root);
    return {};
  }
  if (dsn != nullptr) dsn->clear();
  char real[PATH_MAX];
  if (root->empty() || ::realpath(root->c_str(), real) == nullptr) return CT_SERVER_NOT_FOUND;
  *root = real;
  return {};
}

std::string SideFolder() {
  Instance& in = Cur();
  // The side databases of a database server's clients stay on this machine.
  if (in.client && !in.root.empty() && in.dsn.empty()) return in.root;
  std::string settings = IsamSettingsPath();
  size_t slash = settings.rfind('/');
  return slash == std::string::npos ? "." : settings.substr(0, slash);
}

void CloseEverything(Instance& in) {
  if (in.txn) {
    for (Folder* f : in.txn_folders) {
      f->store->Rollback();
      f->pending.clear();
      f->txn = false;
    }
    in.txn_folders.clear();
    in.txn = false;
  }
  for (const HeldLock& h : in.locks) h.file->locks->UnlockRecord(h.pos);
  in.locks.clear();
  in.files.clear();
  in.folders.clear();
  in.blocks.clear();
  in.slots.clear();
  in.ranges.clear();
  for (auto& s : in.sets) s = SetState{};
  for (auto& h : in.hist) h = HistState{};
  in.batch = BatchState{};
  in.init = false;
}

}  // namespace detail

int16_t BackupIsamFolder(const char* dir, const char* dest) {
  using namespace detail;
  std::lock_guard<std::recursive_mutex> l(SessionMutex());
  if (dir == nullptr || dest == nullptr || *dir == '\0' || *dest == '\0') return CT_BAD_PARAMETER;
  // A session logged on to a server names the server's folders: a local
  // folder of the same name is not the one asked for, and the server's data
  // are saved by the server's own tools.
  if (Cur().init && !Cur().dsn.empty()) return CT_NOT_SUPPORTED;
  char real[PATH_MAX];
  if (::realpath(dir, real) == nullptr) return CT_FILE_NOT_FOUND;
  std::string from = real;
  if (::mkdir(dest, 0777) != 0 && errno != EEXIST) return CT_CREATE_FAILED;
  if (::realpath(dest, real) == nullptr) return CT_CREATE_FAILED;
  std::string to = real;
  if (to == from) return CT_BAD_PARAMETER;
  std::unique_ptr<Store> src;
  if (Status e_ = OpenSqliteStore(from, &src); !e_.ok()) return e_.code;
  const std::string tmp = to + "/isam.db.part";
  ::unlink(tmp.c_str());
  Status s = src->Backup(tmp);
  src.reset();
  if (!s.ok()) return s.code;
  ::unlink((to + "/isam.db-wal").c_str());
  ::unlink((to + "/isam.db-shm").c_str());
  if (::rename(tmp.c_str(), (to + "/isam.db").c_str()) != 0) return CT_WRITE_ERROR;
  std::unique_ptr<Store> copy;
  if (Status e_ = OpenSqliteStore(to, &copy); !e_.ok()) return e_.code;
  std::vector<std::string> names;
  if (Status e_ = copy->ListTables(&names); !e_.ok()) return e_.code;
  Folder folder;
  folder.path = to;
  for (const std::string& name : names) {
    TableMeta meta;
    if (Status e_ = copy->LoadTable(name, &meta); !e_.ok()) return e_.code;
    // Alternative index files inside the source folder move with it.
    for (IndexDef& ix : meta.def.indexes)
      if (ix.file.rfind(from + "/", 0) == 0) ix.file = to + ix.file.substr(from.size());
    size_t dot = name.rfind('.');
    QueueDescriptors(&folder, meta, to + "/" + (dot == std::string::npos ? name : name.substr(0, dot)));
  }
  for (const FileOp& op : folder.pending)
    if (Status e_ = WriteDescriptor(op.path, op.d); !e_.ok()) return e_.code;
  return 0;
}

int16_t ListIsamFolder(const char* dir, std::vector<std::string>* paths) {
  using namespace detail;
  Call c;
  if (Status s = NeedInit(); !s.ok()) return c.Ret(s);
  if (dir == nullptr || paths == nullptr) return c.Ret(CT_BAD_PARAMETER);
  // Resolve wants a file name: any name inside the folder does.
  const std::string probe = std::string(dir) + "/x";
  Where w;
  if (Status s = Resolve(probe.c_str(), nullptr, false, &w); !s.ok()) return c.Ret(s);
  Folder* folder = nullptr;
  if (Status s = GetFolder(w.folder, &folder); !s.ok()) return c.Ret(s);
  std::vector<std::string> names;
  Status s = folder->store->ListTables(&names);
  ReleaseFolder(folder);
  if (!s.ok()) return c.Ret(s);
  paths->clear();
  for (const std::string& n : names) paths->push_back(w.folder + "/" + n);
  return c.Ret({});
}

void ResetIsamForTesting() {
  std::lock_guard<std::recursive_mutex> l(detail::SessionMutex());
  detail::ForgetPgLockNames();
  for (auto& [name, inst] : detail::Named()) detail::CloseEverything(*inst);
  detail::Named().clear();
  if (detail::g_default != nullptr) {
    detail::CloseEverything(*detail::g_default);
    *detail::g_default = detail::Instance();
  }
  detail::g_current = detail::g_default;
  g_call_fault = 0;
  detail::DisarmStorageFault();
  detail::ResetSysQueuesForTesting();
  detail::ResetSecurityForTesting();
  detail::ResetCtdbForTesting();
  ProgramDir().clear();
}

}  // namespace vkt::isam

using namespace vkt::isam::detail;  // NOLINT: the exported names are global

#define VKT_ISAM_CALL() \
  Call c_;              \
  if (c_.faulted()) return c_.Ret(c_.fault())
#define VKT_ISAM_CALL_V(v) \
  Call c_;                 \
  if (c_.faulted()) return c_.Val(c_.fault(), v)

// --- Session -----------------------------------------------------------------

int16_t InitISAMXtd(int16_t bufs, int16_t fils, int16_t sect, int16_t dbufs, uint16_t userprof,
                    const char* userid, const char* userword, const char* servname) {
  VKT_ISAM_CALL();
  (void)sect;
  (void)userprof;
  Instance& in = Cur();
  if (in.init) return c_.Ret(CT_ALREADY_INITIALISED);
  if (bufs < 3 && dbufs < 3) return c_.Ret(CT_BUFFERS_TOO_FEW);
  if (bufs > 32000 || dbufs > 32000) return c_.Ret(CT_TOO_MUCH_SPACE);
  if (fils < 3) return c_.Ret(CT_FILES_TOO_FEW);
  if (fils > kMaxFiles) return c_.Ret(CT_TOO_MANY_FILES);
  std::string server = servname != nullptr ? servname : "";
  std::string root, dsn;
  if (!server.empty()) {
    Status s = vkt::isam::detail::Logon(userid, userword, servname, &root, &dsn);
    if (!s.ok()) return c_.Ret(s);
  }
  in = Instance();
  in.init = true;
  in.fils = fils;
  in.client = !server.empty();
  in.server = server;
  in.root = root;
  in.dsn = dsn;
  in.user = userid != nullptr ? userid : "";
  in.password = userword != nullptr ? userword : "";
  in.slots.assign(static_cast<size_t>(fils), Slot{});
  return c_.Ret({});
}

int16_t CloseISAM() {
  VKT_ISAM_CALL();
  Instance& in = Cur();
  if (!in.init) return c_.Ret(CT_NOT_INITIALISED);
  CloseEverything(in);
  in = Instance();
  return c_.Ret({});
}

int16_t SetNodeName(const char* name) {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  if (name == nullptr) return c_.Ret(CT_BAD_PARAMETER);
  Cur().node = name;
  return c_.Ret({});
}

int16_t ChangeSet(int16_t set) {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  if (set < 0 || set >= 16) return c_.Ret(CT_BAD_PARAMETER);
  Cur().cur_set = set;
  return c_.Ret({});
}

int16_t SystemConfiguration(int32_t* values) {
  VKT_ISAM_CALL();
  if (values == nullptr) return c_.Ret(CT_BAD_PARAMETER);
  Instance& in = Cur();
  std::memset(values, 0, 256 * sizeof(int32_t));
  values[0] = static_cast<int32_t>(in.files.size());
  values[1] = in.fils;
  values[128] = in.client ? 0 : 1;
  values[150] = '/';
  return c_.Ret({});
}

int16_t IOPERFORMANCEX(void* block) {
  VKT_ISAM_CALL();
  if (block == nullptr) return c_.Ret(CT_BAD_PARAMETER);
  auto* b = static_cast<IOPERF_BLOCK*>(block);
  std::memset(b, 0, sizeof *b);
  Instance& in = Cur();
  b->values[0] = static_cast<int32_t>(in.calls);
  b->values[1] = static_cast<int32_t>(in.commits);
  b->values[18] = static_cast<int32_t>(NowSeconds());
  return c_.Ret({});
}

int16_t QuietCtree(char* filespec, int32_t action, int32_t mode) {
  VKT_ISAM_CALL();
  (void)filespec;
  (void)mode;
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  Instance& in = Cur();
  if (action == 1) {
    if (in.txn) return c_.Ret(CT_TRANSACTION_ACTIVE);
    // The open folders' logs go into their store files first: a folder
    // copied while quiet is whole without its log.
    for (auto& [path, folder] : in.folders)
      if (Status s = folder->store->Checkpoint(); !s.ok()) return c_.Ret(s);
    in.quiet = true;
    return c_.Ret({});
  }
  if (action == 2) {
    in.quiet = false;
    return c_.Ret({});
  }
  return c_.Ret(CT_BAD_PARAMETER);
}

int ctFILBLK(char* filespec, int32_t action) {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  Where w;
  if (Status s = Resolve(filespec, nullptr, false, &w); !s.ok()) return c_.Ret(s);
  Instance& in = Cur();
  if (action == 0) {
    in.blocks.erase(w.stem);
    return c_.Ret({});
  }
  if (action != 1) return c_.Ret(CT_BAD_PARAMETER);
  for (const auto& f : in.files)
    if (f->stem == w.stem) return c_.Ret(CT_FILE_NUMBER_IN_USE);
  if (in.blocks.count(w.stem) != 0) return c_.Ret({});
  Folder* folder = nullptr;
  Status s = GetFolder(w.folder, &folder);
  std::unique_ptr<LockSpace> lock;
  if (s.ok()) s = folder->store->OpenLocks(w.stem + ".lck", &lock);
  if (s.ok()) s = lock->LockFile(true);
  if (folder != nullptr) ReleaseFolder(folder);
  if (!s.ok()) return c_.Ret(s);
  in.blocks[w.stem] = std::move(lock);
  return c_.Ret({});
}

int16_t RegisterCtree(char* name) {
  VKT_ISAM_CALL();
  if (name == nullptr || *name == '\0') return c_.Ret(CT_BAD_PARAMETER);
  auto& named = vkt::isam::detail::Named();
  if (named.count(name) != 0) return c_.Ret(CT_ALREADY_INITIALISED);
  named[name] = std::make_unique<Instance>();
  return c_.Ret({});
}

int16_t SwitchCtree(char* name) {
  VKT_ISAM_CALL();
  if (name == nullptr) return c_.Ret(CT_BAD_PARAMETER);
  auto& named = vkt::isam::detail::Named();
  auto it = named.find(name);
  if (it == named.end()) return c_.Ret(CT_BAD_PARAMETER);
  vkt::isam::detail::g_current = it->second.get();
  return c_.Ret({});
}

int16_t UnRegisterCtree(char* name) {
  VKT_ISAM_CALL();
  if (name == nullptr) return c_.Ret(CT_BAD_PARAMETER);
  auto& named = vkt::isam::detail::Named();
  auto it = named.find(name);
  if (it == named.end()) return c_.Ret(CT_BAD_PARAMETER);
  if (vkt::isam::detail::g_current == it->second.get()) {
    vkt::isam::detail::g_current = nullptr;
    (void)Cur();
  }
  CloseEverything(*it->second);
  named.erase(it);
  return c_.Ret({});
}

int16_t StopServerXtd(char* user, char* password, char* server, int16_t delay) {
  VKT_ISAM_CALL();
  (void)delay;
  std::string root;
  if (Status s = vkt::isam::detail::Logon(user, password, server, &root); !s.ok()) return c_.Ret(s);
  Instance& in = Cur();
  if (in.init && in.client && in.server == server) {
    CloseEverything(in);
    in = Instance();
  }
  return c_.Ret({});
}

int ctThrdInit(int threads, int32_t mode, ctinit* init) {
  (void)threads;
  (void)mode;
  (void)init;
  isam_err = uerr_cod = sysio_cod = 0;
  return 0;
}

int ctThrdTerm() {
  isam_err = uerr_cod = sysio_cod = -1;
  return 0;
}

int32_t ctGETHGH() { return tls_high; }

int ctSETHGH(int32_t high) {
  tls_high = high;
  return 0;
}

// --- Files -------------------------------------------------------------------

int16_t OpenIFileXtd(ifil4* ifil, const char* dataextn, const char* indxextn, const char* fileword) {
  VKT_ISAM_CALL();
  (void)fileword;
  return c_.Ret(OpenSet(ifil, dataextn, indxextn));
}

int16_t OpenIFile(ifil4* ifil) { return OpenIFileXtd(ifil, nullptr, nullptr, nullptr); }

int16_t CreateIFileXtd(ifil4* ifil, const char* dataextn, const char* indxextn, int32_t permmask,
                       const char* groupid, const char* fileword) {
  return CreateIFileXtd8(ifil, dataextn, indxextn, permmask, groupid, fileword, nullptr);
}

int16_t CreateIFileXtd8(ifil4* ifil, const char* dataextn, const char* indxextn, int32_t permmask,
                        const char* groupid, const char* fileword, xCREblk* create) {
  VKT_ISAM_CALL();
  (void)permmask;
  (void)groupid;
  (void)fileword;
  return c_.Ret(CreateSet(ifil, dataextn, indxextn, create));
}

int16_t CreateIFile(ifil4* ifil) {
  return CreateIFileXtd8(ifil, nullptr, nullptr, 0, nullptr, nullptr, nullptr);
}

int16_t CloseIFile(ifil4* ifil) {
  VKT_ISAM_CALL();
  if (ifil == nullptr) return c_.Ret(CT_BAD_PARAMETER);
  OpenFile* f = nullptr;
  if (Status s = DataFile(ifil->tfilno, &f); !s.ok()) return c_.Ret(s);
  CloseFile(f);
  return c_.Ret({});
}

int16_t DeleteIFile(ifil4* ifil) {
  VKT_ISAM_CALL();
  if (ifil == nullptr) return c_.Ret(CT_BAD_PARAMETER);
  OpenFile* f = nullptr;
  int32_t datno = ifil->tfilno >= 0 ? ifil->tfilno : ifil->dfilno;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Ret(s);
  return c_.Ret(DropOpenTable(f));
}

int16_t RebuildIFileXtd(ifil4* ifil, const char* dataextn, const char* indxextn, int32_t permmask,
                        const char* groupid, const char* fileword) {
  return RebuildIFileXtd8(ifil, dataextn, indxextn, permmask, groupid, fileword, nullptr);
}

int16_t RebuildIFileXtd8(ifil4* ifil, const char* dataextn, const char* indxextn, int32_t permmask,
                         const char* groupid, const char* fileword, xCREblk* create) {
  VKT_ISAM_CALL();
  (void)permmask;
  (void)groupid;
  (void)fileword;
  return c_.Ret(RebuildSet(ifil, dataextn, indxextn, create, false));
}

int16_t RebuildIFile(ifil4* ifil) {
  return RebuildIFileXtd8(ifil, nullptr, nullptr, 0, nullptr, nullptr, nullptr);
}

int16_t CompactIFileXtd(ifil4* ifil, const char* dataextn, const char* indxextn, int32_t permmask,
                        const char* groupid, const char* fileword) {
  return CompactIFileXtd8(ifil, dataextn, indxextn, permmask, groupid, fileword, nullptr);
}

int16_t CompactIFileXtd8(ifil4* ifil, const char* dataextn, const char* indxextn, int32_t permmask,
                         const char* groupid, const char* fileword, xCREblk* create) {
  VKT_ISAM_CALL();
  (void)permmask;
  (void)groupid;
  (void)fileword;
  return c_.Ret(RebuildSet(ifil, dataextn, indxextn, create, true));
}

int16_t CompactIFile(ifil4* ifil) {
  return CompactIFileXtd8(ifil, nullptr, nullptr, 0, nullptr, nullptr, nullptr);
}

int16_t PutIFileXtd(ifil4* ifil, const char* dataextn, const char* indxextn, const char* fileword) {
  return PutIFileXtd8(ifil, dataextn, indxextn, fileword, nullptr);
}

int16_t PutIFileXtd8(ifil4* ifil, const char* dataextn, const char* indxextn, const char* fileword,
                     xCREblk* create) {
  VKT_ISAM_CALL();
  (void)indxextn;
  (void)fileword;
  return c_.Ret(PutDescription(ifil, dataextn, create));
}

int32_t GetIFile(int32_t filno, int32_t buflen, void* buf) {
  VKT_ISAM_CALL_V(0);
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Val(s, 0);
  if (buflen < 0) return c_.Val(CT_BAD_PARAMETER, 0);
  ReloadMeta(f);
  size_t size = DescriptionImage(f->meta, f->stem, nullptr, 0);
  if (buflen == 0 || buf == nullptr) return c_.Val({}, static_cast<int32_t>(size));
  if (static_cast<size_t>(buflen) < size) return c_.Val(CT_BUFFER_TOO_SMALL, 0);
  DescriptionImage(f->meta, f->stem, buf, static_cast<size_t>(buflen));
  return c_.Val({}, static_cast<int32_t>(size));
}

int16_t OpenCtFile(int32_t filno, char* filnam, int16_t filmod) {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  Where w;
  if (Status s = Resolve(filnam, nullptr, false, &w); !s.ok()) return c_.Ret(s);
  Descriptor d;
  if (Status s = ReadFolderDescriptor(w.folder, w.datpath, &d); !s.ok()) return c_.Ret(s);
  int32_t datno = -1;
  if (Status s = PickNumbers(filno, 1, &datno); !s.ok()) return c_.Ret(s);
  Folder* folder = nullptr;
  if (Status s = GetFolder(w.folder, &folder); !s.ok()) return c_.Ret(s);
  TableMeta meta;
  Status s = folder->store->LoadTable(d.table, &meta);
  if (!s.ok()) {
    ReleaseFolder(folder);
    return c_.Ret(s);
  }
  std::unique_ptr<OpenFile> f;
  Where tw = w;
  if (d.index) {
    tw.name = meta.name;
    tw.datpath = w.folder + "/" + meta.name;
    size_t dot = meta.name.rfind('.');
    tw.stem = w.folder + "/" + (dot == std::string::npos ? meta.name : meta.name.substr(0, dot));
  }
  s = Attach(tw, std::move(meta), d.index ? FileKind::kIndexFile : FileKind::kDataOnly, datno, 1,
             filmod, filmod, &f);
  ReleaseFolder(folder);
  if (!s.ok()) return c_.Ret(s);
  if (d.index) f->idxpath = w.datpath;
  Register(std::move(f));
  return c_.Ret({});
}

int16_t CloseCtFile(int32_t filno, int16_t filmod) {
  VKT_ISAM_CALL();
  (void)filmod;
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = SlotOf(filno, &f, &index); !s.ok()) return c_.Ret(s);
  if (index != 0) return c_.Ret(CT_WRONG_FILE_KIND);
  CloseFile(f);
  return c_.Ret({});
}

int16_t DeleteCtFile(int32_t filno) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = SlotOf(filno, &f, &index); !s.ok()) return c_.Ret(s);
  if (index != 0) return c_.Ret(CT_WRONG_FILE_KIND);
  if (f->kind != FileKind::kIndexFile) return c_.Ret(DropOpenTable(f));
  if (!f->exclusive) return c_.Ret(CT_FILE_LOCKED);
  Folder* folder = f->folder;
  Status s = JoinWrite(folder);
  TableMeta meta;
  if (s.ok()) s = folder->store->LoadTable(f->meta.name, &meta);
  if (s.ok()) {
    meta.generation++;  // every index file of the table is stale from now
    s = folder->store->SaveTable(meta);
  }
  if (s.ok()) folder->pending.push_back({FileOp::kRemove, f->idxpath, {}});
  folder->refs++;
  CloseFile(f);
  s = FinishWrite(folder, s);
  folder->refs--;
  ReleaseFolder(folder);
  return c_.Ret(s);
}

int32_t OpenFileWithResource(int32_t filno, char* filnam, int16_t filmod) {
  VKT_ISAM_CALL_V(-1);
  if (Status s = NeedInit(); !s.ok()) return c_.Val(s, -1);
  Where w;
  if (Status s = Resolve(filnam, nullptr, false, &w); !s.ok()) return c_.Val(s, -1);
  TableMeta meta;
  Folder* folder = nullptr;
  if (Status s = LoadExisting(w, &meta, &folder); !s.ok()) return c_.Val(s, -1);
  Status s = CheckIndexFiles(w, meta);
  const int numbers = static_cast<int>(meta.def.indexes.size()) + 1;
  int32_t datno = -1;
  if (s.ok()) s = PickNumbers(filno, numbers, &datno);
  std::unique_ptr<OpenFile> f;
  if (s.ok())
    s = Attach(w, std::move(meta), FileKind::kSet, datno, numbers, filmod,
               static_cast<uint16_t>(filmod), &f);
  ReleaseFolder(folder);
  if (!s.ok()) return c_.Val(s, -1);
  Register(std::move(f));
  return c_.Val({}, datno);
}

int16_t CloseRFile(int32_t filno) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Ret(s);
  CloseFile(f);
  return c_.Ret({});
}

int32_t AvailableFileNbr(int16_t count) {
  VKT_ISAM_CALL_V(-1);
  if (Status s = NeedInit(); !s.ok()) return c_.Val(s, -1);
  if (count <= 0) return c_.Val(CT_BAD_PARAMETER, -1);
  int32_t datno = -1;
  if (Status s = PickNumbers(-1, count, &datno); !s.ok()) return c_.Val(s, -1);
  return c_.Val({}, datno);
}

int16_t RenameFile(int32_t filno, char* newname) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Ret(s);
  if (!f->exclusive) return c_.Ret(CT_FILE_LOCKED);
  if (newname == nullptr || *newname == '\0') return c_.Ret(CT_BAD_PARAMETER);
  std::string name = newname;
  const std::string ext = f->meta.name.substr(f->meta.name.rfind('.') == std::string::npos
                                                  ? f->meta.name.size()
                                                  : f->meta.name.rfind('.'));
  if (!ext.empty() && name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
    name.resize(name.size() - ext.size());
  Where w;
  if (Status s = Resolve(name.c_str(), ext.c_str(), true, &w); !s.ok()) return c_.Ret(s);
  if (w.folder != f->folder->path) return c_.Ret(CT_NOT_SUPPORTED);  // other folder: copy instead
  Folder* folder = f->folder;
  Status s = JoinWrite(folder);
  if (s.ok()) s = folder->store->RenameTable(f->meta, w.name);
  if (s.ok()) {
    folder->pending.push_back({FileOp::kRemove, f->datpath, {}});
    for (const std::string& file : IndexFiles(f->meta.def))
      if (file.empty()) folder->pending.push_back({FileOp::kRemove, f->stem + f->meta.idxext, {}});
    TableMeta m = f->meta;
    m.name = w.name;
    QueueDescriptors(folder, m, w.stem);
  }
  s = FinishWrite(folder, s);
  if (!s.ok()) return c_.Ret(s);
  ::rename((f->stem + ".lck").c_str(), (w.stem + ".lck").c_str());
  f->meta.name = w.name;
  f->stem = w.stem;
  f->datpath = w.datpath;
  return c_.Ret({});
}

int16_t GetCtFileName(int32_t filno, char* buf, int16_t buflen) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = SlotOf(filno, &f, &index); !s.ok()) return c_.Ret(s);
  if (buf == nullptr || buflen <= 0) return c_.Ret(CT_BAD_PARAMETER);
  std::string name = f->datpath;
  if (f->kind == FileKind::kIndexFile) {
    name = f->idxpath;
  } else if (index > 0) {
    const std::string& file = f->meta.def.indexes[static_cast<size_t>(index - 1)].file;
    name = file.empty() ? f->stem + f->meta.idxext : file;
  }
  if (name.size() + 1 > static_cast<size_t>(buflen)) return c_.Ret(CT_BUFFER_TOO_SMALL);
  std::memcpy(buf, name.c_str(), name.size() + 1);
  return c_.Ret({});
}

int32_t GetCtFileInfo(int32_t filno, int16_t mode) {
  VKT_ISAM_CALL_V(-1);
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = SlotOf(filno, &f, &index); !s.ok()) return c_.Val(s, -1);
  const TableDef& d = f->meta.def;
  const IndexDef* ix = index > 0 ? &d.indexes[static_cast<size_t>(index - 1)] : nullptr;
  switch (mode) {
    case CT_INFO_RECLEN:
      return c_.Val({}, static_cast<int32_t>(d.reclen));
    case CT_INFO_KEYLEN:
      if (ix == nullptr) return c_.Val(CT_WRONG_FILE_KIND, -1);
      return c_.Val({}, static_cast<int32_t>(ix->keylen));
    case CT_INFO_MODE:
      return c_.Val({}, static_cast<int32_t>(f->meta.stored_mode));
    case CT_INFO_INDEXES:
      return c_.Val({}, static_cast<int32_t>(d.indexes.size()));
    case CT_INFO_FILEID:
      return c_.Val({}, static_cast<int32_t>(f->meta.fileid & 0xffffffff));
    case CT_INFO_DUPKEY:
      if (ix == nullptr) return c_.Val(CT_WRONG_FILE_KIND, -1);
      return c_.Val({}, ix->dup ? 1 : 0);
    default:
      return c_.Val(CT_BAD_PARAMETER, -1);
  }
}

int16_t UpdateHeader(int32_t filno, int32_t value, int16_t mode) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = SlotOf(filno, &f, &index); !s.ok()) return c_.Ret(s);
  if (mode != 4) return c_.Ret(CT_NOT_SUPPORTED);
  Folder* folder = f->folder;
  Status s = JoinWrite(folder);
  TableMeta meta;
  if (s.ok()) s = folder->store->LoadTable(f->meta.name, &meta);
  const int64_t id = static_cast<int64_t>(static_cast<uint32_t>(value));
  if (s.ok()) {
    const bool data = f->kind != FileKind::kIndexFile && index == 0;
    if (data) {
      for (const auto& o : Cur().files)
        if (o.get() != f && o->kind != FileKind::kIndexFile && o->meta.fileid == id) s = CT_FILE_ID_NOT_UNIQUE;
      if (s.ok()) meta.fileid = id;
    } else {
      // The member id of the index file that holds this index.
      std::vector<std::string> files = IndexFiles(meta.def);
      std::string file;
      if (f->kind == FileKind::kIndexFile) {
        for (size_t i = 0; i < files.size(); ++i)
          if ((files[i].empty() ? f->stem + meta.idxext : files[i]) == f->idxpath) file = files[i];
      } else {
        file = meta.def.indexes[static_cast<size_t>(index - 1)].file;
      }
      for (size_t i = 0; i < files.size() && i < meta.member_ids.size(); ++i)
        if (files[i] == file) {
          for (int64_t other : meta.member_ids)
            if (other == id) s = CT_FILE_ID_NOT_UNIQUE;
          if (s.ok()) meta.member_ids[i] = id;
        }
    }
  }
  if (s.ok()) s = folder->store->SaveTable(meta);
  if (s.ok()) {
    std::string stem = f->stem;
    QueueDescriptors(folder, meta, stem);
  }
  s = FinishWrite(folder, s);
  if (s.ok()) {
    meta.filter = f->meta.filter;
    f->meta = meta;
  }
  return c_.Ret(s);
}

int16_t UpdateFileMode(int32_t filno, int16_t mode) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Ret(s);
  Status s = JoinWrite(f->folder);
  if (s.ok()) {
    ReloadMeta(f);
    f->meta.stored_mode = mode;
    s = f->folder->store->SaveTable(f->meta);
  }
  return c_.Ret(FinishWrite(f->folder, s));
}

int16_t PutXtdFileOpt(int32_t filno, int32_t reserved, uint32_t value, uint32_t flag) {
  VKT_ISAM_CALL();
  (void)reserved;
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Ret(s);
  Status s = JoinWrite(f->folder);
  if (s.ok()) {
    ReloadMeta(f);
    f->meta.options[flag] = value;
    s = f->folder->store->SaveTable(f->meta);
  }
  return c_.Ret(FinishWrite(f->folder, s));
}

int32_t GetXtdFileOpt(int32_t filno, uint32_t flag) {
  VKT_ISAM_CALL_V(0);
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Val(s, 0);
  ReloadMeta(f);
  auto it = f->meta.options.find(flag);
  if (it == f->meta.options.end()) return c_.Val(CT_NOT_FOUND, 0);
  return c_.Val({}, static_cast<int32_t>(it->second));
}

int32_t GetSerialNbr(int32_t filno) {
  VKT_ISAM_CALL_V(0);
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Val(s, 0);
  ReloadMeta(f);
  return c_.Val({}, static_cast<int32_t>(f->meta.serial));
}

// --- Transactions and locks ----------------------------------------------------

int32_t Begin(int16_t mode) {
  VKT_ISAM_CALL_V(0);
  if (Status s = NeedInit(); !s.ok()) return c_.Val(s, 0);
  Instance& in = Cur();
  if (in.txn) return c_.Val(CT_TRANSACTION_ACTIVE, 0);
  if (in.quiet) return c_.Val(CT_FILE_LOCKED, 0);
  if (mode < 0) return c_.Val(CT_BAD_PARAMETER, 0);
  static std::atomic<int32_t> counter{0};
  in.txn = true;
  in.txn_mode = mode;
  in.txn_no = (static_cast<int32_t>(::getpid() & 0x7fff) << 16) + (++counter & 0xffff);
  if (in.txn_no <= 0) in.txn_no = 1 + (counter & 0xffff);
  in.txn_error = Status{};
  in.txn_folders.clear();
  in.savepoints.clear();
  in.sp_pending.clear();
  in.next_sp = 0;
  return c_.Val({}, in.txn_no);
}

namespace {

void EndTransaction() {
  Instance& in = Cur();
  for (Folder* f : in.txn_folders) f->txn = false;
  std::vector<Folder*> folders = in.txn_folders;
  in.txn_folders.clear();
  in.txn = false;
  in.savepoints.clear();
  in.sp_pending.clear();
  for (const HeldLock& h : in.locks) h.file->locks->UnlockRecord(h.pos);
  in.locks.clear();
  for (auto& f : in.files) f->created_at_sp = -1;
  for (Folder* f : folders) {
    if (f->refs > 0) continue;
    for (auto it = in.folders.begin(); it != in.folders.end(); ++it)
      if (it->second.get() == f) {
        in.folders.erase(it);
        break;
      }
  }
}

// Files created inside the rolled-back part of the transaction are gone.
void DropCreatedAfter(int sp_count, const std::vector<Folder*>& folders) {
  Instance& in = Cur();
  std::vector<OpenFile*> gone;
  for (auto& f : in.files)
    if (f->created_at_sp >= sp_count) gone.push_back(f.get());
  for (OpenFile* f : gone) {
    f->folder->refs++;
    Folder* folder = f->folder;
    CloseFile(f);
    folder->refs--;
  }
  for (auto& f : in.files)
    if (std::find(folders.begin(), folders.end(), f->folder) != folders.end()) ReloadMeta(f.get());
}

}  // namespace

int16_t Commit(int16_t mode) {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  Instance& in = Cur();
  if (!in.txn) return c_.Ret(CT_NO_TRANSACTION);
  if (mode != 0) return c_.Ret(CT_BAD_PARAMETER);
  Status result = in.txn_error;
  std::vector<Folder*> folders = in.txn_folders;
  if (!result.ok()) {
    for (Folder* f : folders) {
      f->store->Rollback();
      f->pending.clear();
    }
    DropCreatedAfter(0, folders);
  } else {
    for (Folder* f : folders) {
      if (!result.ok()) {
        f->store->Rollback();
        f->pending.clear();
        continue;
      }
      Status s = f->store->Commit();
      if (!s.ok()) {
        result = s;
        f->pending.clear();
        continue;
      }
      Status p = ApplyPending(f);
      if (!p.ok() && result.ok()) result = p;
    }
    if (result.ok()) in.commits++;
  }
  EndTransaction();
  return c_.Ret(result);
}

int16_t Abort() {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  Instance& in = Cur();
  if (!in.txn) return c_.Ret(CT_NO_TRANSACTION);
  std::vector<Folder*> folders = in.txn_folders;
  for (Folder* f : folders) {
    f->store->Rollback();
    f->pending.clear();
  }
  DropCreatedAfter(0, folders);
  EndTransaction();
  return c_.Ret({});
}

int16_t SetSavePoint() {
  VKT_ISAM_CALL_V(0);
  if (Status s = NeedInit(); !s.ok()) return c_.Val(s, 0);
  Instance& in = Cur();
  if (!in.txn) return c_.Val(CT_NO_TRANSACTION, 0);
  if (!in.txn_error.ok()) return c_.Val(in.txn_error, 0);
  if (in.next_sp >= 32000) return c_.Val(CT_BAD_PARAMETER, 0);
  const int16_t n = ++in.next_sp;
  for (Folder* f : in.txn_folders) {
    Status s = f->store->Savepoint("sp" + std::to_string(n));
    if (!s.ok()) {
      DoomTransaction(s);
      return c_.Val(s, 0);
    }
    in.sp_pending[f].push_back(f->pending.size());
  }
  in.savepoints.push_back(n);
  return c_.Val({}, n);
}

int16_t RestoreSavePoint(int16_t savepoint) {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  Instance& in = Cur();
  if (!in.txn) return c_.Ret(CT_NO_TRANSACTION);
  auto it = std::find(in.savepoints.begin(), in.savepoints.end(), savepoint);
  if (it == in.savepoints.end()) return c_.Ret(CT_BAD_PARAMETER);
  const size_t at = static_cast<size_t>(it - in.savepoints.begin());
  for (Folder* f : in.txn_folders) {
    Status s = f->store->RollbackTo("sp" + std::to_string(savepoint));
    if (!s.ok()) {
      DoomTransaction(s);
      return c_.Ret(s);
    }
    std::vector<size_t>& marks = in.sp_pending[f];
    if (at < marks.size()) {
      f->pending.resize(std::min(f->pending.size(), marks[at]));
      marks.resize(at + 1);
    }
  }
  in.savepoints.resize(at + 1);
  DropCreatedAfter(static_cast<int>(at + 1), in.txn_folders);
  return c_.Ret({});
}

int16_t LockISAM(int16_t mode) {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  Instance& in = Cur();
  switch (mode) {
    case 0:
      for (const HeldLock& h : in.locks) h.file->locks->UnlockRecord(h.pos);
      in.locks.clear();
      if (!in.txn) in.lock_mode = 0;
      return c_.Ret({});
    case 1:
    case 2:
    case 3:
      in.lock_mode = mode;
      return c_.Ret({});
    case 4:
      in.lock_suspended = true;
      return c_.Ret({});
    case 6:
      in.lock_suspended = false;
      return c_.Ret({});
    default:
      return c_.Ret(CT_BAD_PARAMETER);
  }
}

int16_t LockRecord(int32_t datno, int32_t pos, int16_t mode) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Ret(s);
  const int64_t p = (static_cast<int64_t>(tls_high) << 32) | static_cast<uint32_t>(pos);
  Instance& in = Cur();
  if (mode == 0) {
    auto it = std::find_if(in.locks.begin(), in.locks.end(),
                           [&](const HeldLock& h) { return h.file == f && h.pos == p; });
    if (it == in.locks.end()) return c_.Ret(CT_NOT_FOUND);
    f->locks->UnlockRecord(p);
    in.locks.erase(it);
    return c_.Ret({});
  }
  if (mode != 1 && mode != 3) return c_.Ret(CT_BAD_PARAMETER);
  for (const HeldLock& h : in.locks)
    if (h.file == f && h.pos == p) return c_.Ret({});
  if (Status s = f->locks->LockRecord(p, mode == 1, 0); !s.ok()) return c_.Ret(s);
  in.locks.push_back({f, p});
  return c_.Ret({});
}
