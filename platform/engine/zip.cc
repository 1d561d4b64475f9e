#include "engine/zip.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <utility>

#include "engine/detail/files.h"

struct CkZip::Entry {
  enum Kind { kFile, kDir, kData, kExisting };
  Kind kind = kFile;
  std::string name;       // entry name; a directory's ends with "/"
  std::string disk_path;  // kFile
  std::string data;       // kData
  zip_uint64_t index = 0; // kExisting: its index in the opened archive
  time_t mtime = 0;
};

namespace {

constexpr size_t kChunk = 1 << 20;

uint32_t Size32(uint64_t n) {
  return n > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                  : static_cast<uint32_t>(n);
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// Without repeated or trailing "/" and without "." steps; "" stays "".
std::string CleanPath(const std::string& path) {
  std::string out;
  size_t i = 0;
  const bool absolute = !path.empty() && path[0] == '/';
  while (i < path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string step = path.substr(i, j - i);
    if (!step.empty() && step != ".") {
      if (!out.empty() || absolute) out += '/';
      out += step;
    }
    i = j + 1;
  }
  if (out.empty() && absolute) out = "/";
  if (out.empty() && !path.empty()) out = ".";
  return out;
}

std::string Parent(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string LastStep(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// `path` relative to `base` when it lies below it.
bool RelativeTo(const std::string& base, const std::string& path, std::string* rel) {
  if (base.empty() || base == ".") {
    if (path.empty() || path[0] == '/' || path == ".") return false;
    *rel = path;
    return true;
  }
  std::string prefix = base == "/" ? "/" : base + "/";
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return false;
  *rel = path.substr(prefix.size());
  return true;
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// The names in a folder, sorted, without "." and "..".
bool ListDir(const std::string& dir, std::vector<std::string>* names, std::string* error) {
  names->clear();
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) {
    *error = Errno("cannot read folder " + dir);
    return false;
  }
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names->push_back(std::move(n));
  }
  closedir(d);
  std::sort(names->begin(), names->end());
  return true;
}

// Splits an archive name into safe steps below the target folder; false when
// the name would leave it.
bool SafeSteps(std::string name, std::vector<std::string>* steps, bool* is_dir) {
  steps->clear();
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name.empty() || name[0] == '/') return false;
  *is_dir = name.back() == '/';
  size_t i = 0;
  while (i <= name.size()) {
    size_t j = name.find('/', i);
    if (j == std::string::npos) j = name.size();
    std::string step = name.substr(i, j - i);
    if (step == "..") return false;
    if (steps->empty() && step.find(':') != std::string::npos) return false;  // "C:..."
    if (!step.empty() && step != ".") steps->push_back(std::move(step));
    i = j + 1;
  }
  return true;
}

// Creates root/steps... as folders; refuses a step that is a symbolic link
// or not a folder, so that nothing can be written outside the root.
bool SafeMakeDirs(const std::string& root, const std::vector<std::string>& steps, size_t count,
                  std::string* error) {
  std::string cur = root;
  for (size_t i = 0; i < count; ++i) {
    cur += "/" + steps[i];
    struct stat st;
    if (lstat(cur.c_str(), &st) != 0) {
      if (errno != ENOENT) {
        *error = Errno("cannot examine " + cur);
        return false;
      }
      if (mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = Errno("cannot create folder " + cur);
        return false;
      }
      continue;
    }
    if (S_ISLNK(st.st_mode)) {
      *error = "refused: " + cur + " is a symbolic link";
      return false;
    }
    if (!S_ISDIR(st.st_mode)) {
      *error = "cannot create folder " + cur + ": a file is in the way";
      return false;
    }
  }
  return true;
}

// An entry already deflated into the scratch file, handed to libzip as
// compressed data so that it is copied, not compressed again.
struct Precompressed {
  int fd = -1;
  off_t offset = 0;
  zip_uint64_t comp_size = 0;
  zip_uint64_t size = 0;
  uint32_t crc = 0;
  time_t mtime = 0;
  zip_uint64_t pos = 0;
  zip_error_t error{};
};

zip_int64_t PrecompressedCallback(void* state, void* data, zip_uint64_t len,
                                  zip_source_cmd_t cmd) {
  auto* p = static_cast<Precompressed*>(state);
  switch (cmd) {
    case ZIP_SOURCE_OPEN:
      p->pos = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      zip_uint64_t n = std::min<zip_uint64_t>(len, p->comp_size - p->pos);
      if (n == 0) return 0;
      ssize_t got = pread(p->fd, data, n, p->offset + static_cast<off_t>(p->pos));
      if (got <= 0) {
        zip_error_set(&p->error, ZIP_ER_READ, got < 0 ? errno : EIO);
        return -1;
      }
      p->pos += static_cast<zip_uint64_t>(got);
      return got;
    }
    case ZIP_SOURCE_CLOSE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      zip_stat_init(st);
      st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC |
                  ZIP_STAT_MTIME | ZIP_STAT_ENCRYPTION_METHOD;
      st->size = p->size;
      st->comp_size = p->comp_size;
      st->comp_method = ZIP_CM_DEFLATE;
      st->encryption_method = ZIP_EM_NONE;
      st->crc = p->crc;
      st->mtime = p->mtime;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&p->error, data, len);
    case ZIP_SOURCE_FREE:
      zip_error_fini(&p->error);
      delete p;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                            -1);
    default:
      zip_error_set(&p->error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

// Reports percent-done each time the whole-number share rises.
class Progress {
 public:
  Progress(CkZipProgress* sink, uint64_t total) : sink_(sink), total_(total) {}
  // False when the sink asked to abort.
  bool Advance(uint64_t bytes) {
    done_ += bytes;
    since_check_ += bytes;
    bool abort = false;
    if (sink_ == nullptr) return true;
    if (since_check_ >= kChunk) {
      since_check_ = 0;
      sink_->AbortCheck(&abort);
      if (abort) return false;
    }
    int pct = total_ == 0 ? 100 : static_cast<int>(std::min<uint64_t>(done_ * 100 / total_, 100));
    if (pct > last_) {
      last_ = pct;
      sink_->PercentDone(pct, &abort);
    }
    return !abort;
  }
  // 100 at the end, unless already said.
  void Finish() {
    bool abort = false;
    if (sink_ != nullptr && last_ < 100) sink_->PercentDone(last_ = 100, &abort);
  }

 private:
  CkZipProgress* sink_;
  uint64_t total_;
  uint64_t done_ = 0;
  uint64_t since_check_ = 0;
  int last_ = -1;
};

// Deflates `read`'s bytes (raw deflate, as ZIP stores it) onto `out_fd`.
// `read` fills a buffer and returns its length, 0 at the end, -1 on error.
template <typename Reader>
bool Deflate(Reader read, int out_fd, Precompressed* p, Progress* progress, bool* aborted,
             std::string* error) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    *error = "cannot start compression";
    return false;
  }
  std::vector<unsigned char> in(kChunk), out(kChunk);
  uLong crc = crc32(0L, Z_NULL, 0);
  bool ok = true;
  int flush = Z_NO_FLUSH;
  while (ok && flush != Z_FINISH) {
    ssize_t n = read(in.data(), in.size());
    if (n < 0) {
      ok = false;
      break;
    }
    flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
    crc = crc32(crc, in.data(), static_cast<uInt>(n));
    p->size += static_cast<uint64_t>(n);
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(n);
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, flush);
      size_t have = out.size() - z.avail_out;
      size_t off = 0;
      while (off < have) {
        ssize_t w = write(out_fd, out.data() + off, have - off);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          *error = Errno("cannot write the scratch file");
          ok = false;
          break;
        }
        off += static_cast<size_t>(w);
      }
      p->comp_size += have;
    } while (ok && z.avail_out == 0);
    if (ok && n > 0 && !progress->Advance(static_cast<uint64_t>(n))) {
      *aborted = true;
      ok = false;
    }
  }
  deflateEnd(&z);
  p->crc = static_cast<uint32_t>(crc);
  return ok;
}

// The 22 bytes of an archive without entries; libzip deletes such an
// archive instead of writing it.
const std::string kEmptyArchive("PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 22);

}  // namespace

// ---------------------------------------------------------------------------

CkZipProgress::~CkZipProgress() = default;
void CkZipProgress::AbortCheck(bool*) {}
void CkZipProgress::PercentDone(int, bool*) {}
void CkZipProgress::DirToBeAdded(const char*, bool*) {}
void CkZipProgress::AddFilesBegin() {}
void CkZipProgress::AddFilesEnd() {}
void CkZipProgress::WriteZipBegin() {}
void CkZipProgress::WriteZipEnd() {}
void CkZipProgress::UnzipBegin() {}
void CkZipProgress::UnzipEnd() {}
void CkZipProgress::ToBeAdded(const char*, uint32_t, bool*) {}
void CkZipProgress::FileAdded(const char*, uint32_t, bool*) {}
void CkZipProgress::ToBeZipped(const char*, uint32_t, bool*) {}
void CkZipProgress::FileZipped(const char*, uint32_t, uint32_t, bool*) {}
void CkZipProgress::ToBeUnzipped(const char*, uint32_t, uint32_t, bool*) {}
void CkZipProgress::FileUnzipped(const char*, uint32_t, uint32_t, bool*) {}

// ---------------------------------------------------------------------------

CkZip::CkZip() = default;
CkZip::~CkZip() { CloseZip(); }

bool CkZip::Fail(std::string text) {
  last_error_ = std::move(text);
  return false;
}

int CkZip::get_NumEntries() const { return static_cast<int>(entries_.size()); }

std::string CkZip::EntryName(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return {};
  return entries_[static_cast<size_t>(index)].name;
}

void CkZip::CloseZip() {
  if (archive_ != nullptr) zip_discard(static_cast<zip_t*>(archive_));
  archive_ = nullptr;
  entries_.clear();
  path_.clear();
}

bool CkZip::NewZip(const std::string& path) {
  CloseZip();
  if (path.empty()) return Fail("no archive name");
  path_ = path;
  return true;
}

bool CkZip::OpenZip(const std::string& path) {
  CloseZip();
  int code = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (za == nullptr) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    std::string text = "cannot open " + path + ": " + zip_error_strerror(&e);
    zip_error_fini(&e);
    return Fail(text);
  }
  archive_ = za;
  path_ = path;
  const zip_int64_t n = zip_get_num_entries(za, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t st;
    if (zip_stat_index(za, index, 0, &st) != 0 || (st.valid & ZIP_STAT_NAME) == 0) continue;
    Entry e;
    e.name = st.name;
    e.kind = !e.name.empty() && e.name.back() == '/' ? Entry::kDir : Entry::kExisting;
    e.index = index;
    e.mtime = (st.valid & ZIP_STAT_MTIME) ? st.mtime : 0;
    entries_.push_back(std::move(e));
  }
  return true;
}

bool CkZip::AddPath(const std::string& disk_path, const std::string& name, bool recurse,
                    bool* abort, std::vector<Entry>* added) {
  struct stat lst, st;
  if (lstat(disk_path.c_str(), &lst) != 0 || stat(disk_path.c_str(), &st) != 0) {
    return Fail(Errno("cannot examine " + disk_path));
  }
  if (S_ISDIR(st.st_mode)) {
    // A linked folder could lead back up the tree: not followed.
    if (S_ISLNK(lst.st_mode)) return true;
    if (progress_ != nullptr) progress_->DirToBeAdded(disk_path.c_str(), abort);
    if (*abort) return Fail("aborted");
    Entry dir;
    dir.kind = Entry::kDir;
    dir.name = name + "/";
    dir.mtime = st.st_mtime;
    added->push_back(std::move(dir));
    std::vector<std::string> children;
    if (!ListDir(disk_path, &children, &last_error_)) return false;
    for (const auto& child : children) {
      std::string child_path = disk_path + "/" + child;
      struct stat cst;
      if (stat(child_path.c_str(), &cst) != 0) return Fail(Errno("cannot examine " + child_path));
      if (S_ISDIR(cst.st_mode) && !recurse) continue;
      if (!AddPath(child_path, name + "/" + child, recurse, abort, added)) return false;
    }
    return true;
  }
  if (!S_ISREG(st.st_mode)) return true;  // devices, pipes, sockets: not archived
  const uint32_t size = Size32(static_cast<uint64_t>(st.st_size));
  if (progress_ != nullptr) progress_->ToBeAdded(disk_path.c_str(), size, abort);
  if (*abort) return Fail("aborted");
  Entry file;
  file.kind = Entry::kFile;
  file.name = name;
  file.disk_path = disk_path;
  file.mtime = st.st_mtime;
  added->push_back(std::move(file));
  if (progress_ != nullptr) progress_->FileAdded(disk_path.c_str(), size, abort);
  if (*abort) return Fail("aborted");
  return true;
}

namespace {

// Adds `added` to `entries`; an entry of the same name is replaced.
template <typename E>
void Merge(std::vector<E>* entries, std::vector<E>* added) {
  std::unordered_map<std::string, size_t> at;
  for (size_t i = 0; i < entries->size(); ++i) at[(*entries)[i].name] = i;
  for (auto& e : *added) {
    auto it = at.find(e.name);
    if (it != at.end()) {
      (*entries)[it->second] = std::move(e);
    } else {
      at[e.name] = entries->size();
      entries->push_back(std::move(e));
    }
  }
}

}  // namespace

bool CkZip::AppendFiles(const std::string& pattern, bool recurse) {
  if (path_.empty()) return Fail("no archive: NewZip or OpenZip first");
  std::string full = pattern;
  if (!append_from_.empty() && (full.empty() || full[0] != '/')) full = append_from_ + "/" + full;
  full = CleanPath(full);
  if (full.empty()) return Fail("no file pattern");
  const std::string from = CleanPath(append_from_);
  const std::string base = Parent(full);
  auto name_of = [&](const std::string& disk) {
    std::string rel;
    if (!from.empty() && RelativeTo(from, disk, &rel)) return rel;
    if (RelativeTo(base, disk, &rel)) return rel;
    return LastStep(disk);
  };

  std::vector<std::string> matches;
  const std::string last = LastStep(full);
  bool content_of_dir = false;
  if (HasWildcard(last)) {
    std::vector<std::string> names;
    if (!ListDir(base, &names, &last_error_)) return false;
    for (const auto& n : names) {
      if (fnmatch(last.c_str(), n.c_str(), 0) == 0) {
        matches.push_back(base == "/" ? "/" + n : base == "." ? n : base + "/" + n);
      }
    }
  } else {
    struct stat st;
    if (stat(full.c_str(), &st) != 0) return Fail(Errno("cannot find " + full));
    matches.push_back(full);
    content_of_dir = S_ISDIR(st.st_mode);
  }
  if (matches.empty()) return Fail("no file matches " + pattern);

  bool abort = false;
  std::vector<Entry> added;
  if (progress_ != nullptr) progress_->AddFilesBegin();
  bool ok = true;
  for (const auto& m : matches) {
    struct stat st;
    if (stat(m.c_str(), &st) != 0) {
      ok = Fail(Errno("cannot examine " + m));
      break;
    }
    // A wildcard matching a folder takes it only when recursing.
    if (S_ISDIR(st.st_mode) && !recurse && !content_of_dir) continue;
    // A folder named without recursion gives its files, not its subfolders.
    if (!AddPath(m, name_of(m), recurse, &abort, &added)) {
      ok = false;
      break;
    }
  }
  if (progress_ != nullptr) progress_->AddFilesEnd();
  if (!ok) return false;
  Merge(&entries_, &added);
  return true;
}

bool CkZip::AppendOneFileOrDir(const std::string& path, bool save_extra_path) {
  if (path_.empty()) return Fail("no archive: NewZip or OpenZip first");
  std::string full = path;
  if (!append_from_.empty() && (full.empty() || full[0] != '/')) full = append_from_ + "/" + full;
  full = CleanPath(full);
  if (full.empty() || full == "/" || full == ".") return Fail("no file named");
  std::string name;
  const std::string from = CleanPath(append_from_);
  if (!(!from.empty() && RelativeTo(from, full, &name))) {
    if (save_extra_path) {
      name = full[0] == '/' ? full.substr(1) : full;
    } else {
      name = LastStep(full);
    }
  }
  bool abort = false;
  std::vector<Entry> added;
  if (progress_ != nullptr) progress_->AddFilesBegin();
  bool ok = AddPath(full, name, true, &abort, &added);
  if (progress_ != nullptr) progress_->AddFilesEnd();
  if (!ok) return false;
  Merge(&entries_, &added);
  return true;
}

bool CkZip::AppendString(const std::string& name, const std::string& content) {
  if (path_.empty()) return Fail("no archive: NewZip or OpenZip first");
  std::vector<std::string> steps;
  bool is_dir = false;
  if (!SafeSteps(name, &steps, &is_dir) || steps.empty() || is_dir) {
    return Fail("not a file name for an entry: " + name);
  }
  std::vector<Entry> added(1);
  added[0].kind = Entry::kData;
  added[0].name = name;
  added[0].data = content;
  added[0].mtime = time(nullptr);
  Merge(&entries_, &added);
  return true;
}

bool CkZip::WriteZip() {
  if (path_.empty()) return Fail("no archive: NewZip or OpenZip first");
  if (progress_ != nullptr) progress_->WriteZipBegin();
  struct EndEvent {
    CkZipProgress* p;
    ~EndEvent() {
      if (p != nullptr) p->WriteZipEnd();
    }
  } end_event{progress_};

  if (entries_.empty()) {
    std::string error;
    if (!vkt::engine::detail::WriteFileAtomic(path_, kEmptyArchive, &error)) return Fail(error);
    std::string path = path_;
    return OpenZip(path);
  }

  // Compression first, into an anonymous scratch file beside the archive,
  // so that each entry's events come with its real compressed size.
  uint64_t total = 0;
  for (const auto& e : entries_) {
    if (e.kind == Entry::kData) total += e.data.size();
    if (e.kind == Entry::kFile) {
      struct stat st;
      if (stat(e.disk_path.c_str(), &st) == 0) total += static_cast<uint64_t>(st.st_size);
    }
  }
  std::string scratch_name = path_ + ".XXXXXX";
  std::vector<char> buf(scratch_name.begin(), scratch_name.end());
  buf.push_back('\0');
  int scratch = mkstemp(buf.data());
  if (scratch < 0) return Fail(Errno("cannot create a scratch file beside " + path_));
  unlink(buf.data());
  struct FdCloser {
    int fd;
    ~FdCloser() { close(fd); }
  } scratch_closer{scratch};

  Progress progress(progress_, total);
  std::vector<Precompressed> packed(entries_.size());
  off_t offset = 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (e.kind != Entry::kFile && e.kind != Entry::kData) continue;
    uint64_t size = e.data.size();
    int in = -1;
    if (e.kind == Entry::kFile) {
      in = open(e.disk_path.c_str(), O_RDONLY | O_CLOEXEC);
      if (in < 0) return Fail(Errno("cannot read " + e.disk_path));
      struct stat st;
      size = fstat(in, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    FdCloser in_closer{in};
    bool abort = false;
    if (progress_ != nullptr) progress_->ToBeZipped(e.name.c_str(), Size32(size), &abort);
    if (abort) return Fail("aborted");
    Precompressed& p = packed[i];
    p.offset = offset;
    p.mtime = e.mtime;
    size_t data_pos = 0;
    auto reader = [&](unsigned char* to, size_t cap) -> ssize_t {
      if (e.kind == Entry::kData) {
        size_t n = std::min(cap, e.data.size() - data_pos);
        std::memcpy(to, e.data.data() + data_pos, n);
        data_pos += n;
        return static_cast<ssize_t>(n);
      }
      for (;;) {
        ssize_t n = read(in, to, cap);
        if (n < 0 && errno == EINTR) continue;
        return n;
      }
    };
    bool aborted = false;
    std::string error;
    if (!Deflate(reader, scratch, &p, &progress, &aborted, &error)) {
      if (aborted) return Fail("aborted");
      return Fail(error.empty() ? Errno("cannot read " + e.disk_path) : error);
    }
    offset += static_cast<off_t>(p.comp_size);
    if (progress_ != nullptr) {
      progress_->FileZipped(e.name.c_str(), Size32(p.size), Size32(p.comp_size), &abort);
    }
    if (abort) return Fail("aborted");
  }

  // Then the archive itself: libzip builds it under a temporary name and
  // renames it into place at zip_close, or discards it.
  int code = 0;
  zip_t* za = zip_open(path_.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (za == nullptr) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, code);
    std::string text = "cannot create " + path_ + ": " + zip_error_strerror(&ze);
    zip_error_fini(&ze);
    return Fail(text);
  }
  auto discard = [&](const std::string& what) {
    std::string text = what + ": " + zip_strerror(za);
    zip_discard(za);
    return Fail(text);
  };
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    zip_int64_t idx = -1;
    if (e.kind == Entry::kDir) {
      idx = zip_dir_add(za, e.name.c_str(), ZIP_FL_ENC_GUESS);
    } else {
      zip_source_t* src = nullptr;
      if (e.kind == Entry::kExisting) {
        src = zip_source_zip(za, static_cast<zip_t*>(archive_), e.index, ZIP_FL_COMPRESSED, 0, -1);
      } else {
        auto* state = new Precompressed(packed[i]);
        state->fd = scratch;
        zip_error_init(&state->error);
        src = zip_source_function(za, PrecompressedCallback, state);
        if (src == nullptr) {
          zip_error_fini(&state->error);
          delete state;
        }
      }
      if (src == nullptr) return discard("cannot add " + e.name);
      idx = zip_file_add(za, e.name.c_str(), src, ZIP_FL_ENC_GUESS | ZIP_FL_OVERWRITE);
      if (idx < 0) {
        zip_source_free(src);
        return discard("cannot add " + e.name);
      }
    }
    if (idx < 0) return discard("cannot add " + e.name);
    if (e.mtime != 0) zip_file_set_mtime(za, static_cast<zip_uint64_t>(idx), e.mtime, 0);
  }
  if (progress_ != nullptr) {
    zip_register_cancel_callback_with_state(
        za,
        [](zip_t*, void* self) -> int {
          bool abort = false;
          static_cast<CkZipProgress*>(self)->AbortCheck(&abort);
          return abort ? 1 : 0;
        },
        nullptr, progress_);
  }
  if (zip_close(za) != 0) {
    if (zip_error_code_zip(zip_get_error(za)) == ZIP_ER_CANCELLED) {
      zip_discard(za);
      return Fail("aborted");
    }
    return discard("cannot write " + path_);
  }
  progress.Finish();
  std::string path = path_;
  return OpenZip(path);
}

bool CkZip::WriteZipAndClose() {
  bool ok = WriteZip();
  CloseZip();
  return ok;
}

int CkZip::Unzip(const std::string& dir) {
  auto* za = static_cast<zip_t*>(archive_);
  if (za == nullptr) {
    Fail("no archive open to extract");
    return -1;
  }
  if (dir.empty()) {
    Fail("no target folder");
    return -1;
  }
  struct Item {
    zip_uint64_t index;
    std::string name;
    std::vector<std::string> steps;
    bool is_dir;
    zip_stat_t st;
  };
  std::vector<Item> items;
  uint64_t total = 0;
  const zip_int64_t n = zip_get_num_entries(za, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    Item it;
    it.index = static_cast<zip_uint64_t>(i);
    if (zip_stat_index(za, it.index, 0, &it.st) != 0 || (it.st.valid & ZIP_STAT_NAME) == 0) {
      Fail(std::string("cannot read the entry list: ") + zip_strerror(za));
      return -1;
    }
    it.name = it.st.name;
    if (!SafeSteps(it.name, &it.steps, &it.is_dir)) {
      Fail("refused: entry \"" + it.name + "\" would be written outside the target folder");
      return -1;
    }
    if (it.steps.empty()) continue;
    if ((it.st.valid & ZIP_STAT_SIZE) != 0) total += it.st.size;
    items.push_back(std::move(it));
  }
  const std::string root = CleanPath(dir);
  if (mkdir(root.c_str(), 0755) != 0 && errno != EEXIST) {
    Fail(Errno("cannot create folder " + root));
    return -1;
  }

  if (progress_ != nullptr) progress_->UnzipBegin();
  struct EndEvent {
    CkZipProgress* p;
    ~EndEvent() {
      if (p != nullptr) p->UnzipEnd();
    }
  } end_event{progress_};
  Progress progress(progress_, total);
  int files = 0;
  std::vector<char> buf(kChunk);
  for (const Item& it : items) {
    const size_t folders = it.is_dir ? it.steps.size() : it.steps.size() - 1;
    if (!SafeMakeDirs(root, it.steps, folders, &last_error_)) return -1;
    if (it.is_dir) continue;
    std::string target = root;
    for (const auto& s : it.steps) target += "/" + s;
    const uint32_t csize = Size32((it.st.valid & ZIP_STAT_COMP_SIZE) ? it.st.comp_size : 0);
    const uint32_t usize = Size32((it.st.valid & ZIP_STAT_SIZE) ? it.st.size : 0);
    bool abort = false;
    if (progress_ != nullptr) progress_->ToBeUnzipped(it.name.c_str(), csize, usize, &abort);
    if (abort) {
      Fail("aborted");
      return -1;
    }
    zip_file_t* zf = zip_fopen_index(za, it.index, 0);
    if (zf == nullptr) {
      Fail("cannot read entry " + it.name + ": " + zip_strerror(za));
      return -1;
    }
    std::string temp = Parent(target) + "/." + it.steps.back() + ".XXXXXX";
    std::vector<char> tname(temp.begin(), temp.end());
    tname.push_back('\0');
    int out = mkstemp(tname.data());
    if (out < 0) {
      zip_fclose(zf);
      Fail(Errno("cannot create " + target));
      return -1;
    }
    bool ok = true;
    for (;;) {
      zip_int64_t got = zip_fread(zf, buf.data(), buf.size());
      if (got < 0) {
        ok = Fail("cannot read entry " + it.name + ": " + zip_file_strerror(zf));
        break;
      }
      if (got == 0) break;
      size_t off = 0;
      while (ok && off < static_cast<size_t>(got)) {
        ssize_t w = write(out, buf.data() + off, static_cast<size_t>(got) - off);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) ok = Fail(Errno("cannot write " + target));
        else off += static_cast<size_t>(w);
      }
      if (!ok) break;
      if (!progress.Advance(static_cast<uint64_t>(got))) {
        ok = Fail("aborted");
        break;
      }
    }
    zip_fclose(zf);
    mode_t mask = umask(0);
    umask(mask);
    if (ok && fchmod(out, 0666 & ~mask) != 0) ok = Fail(Errno("cannot write " + target));
    if (close(out) != 0 && ok) ok = Fail(Errno("cannot write " + target));
    if (ok && rename(tname.data(), target.c_str()) != 0) ok = Fail(Errno("cannot create " + target));
    if (!ok) {
      unlink(tname.data());
      return -1;
    }
    if (it.st.valid & ZIP_STAT_MTIME) {
      struct timespec times[2];
      times[0].tv_sec = times[1].tv_sec = it.st.mtime;
      times[0].tv_nsec = times[1].tv_nsec = 0;
      utimensat(AT_FDCWD, target.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    ++files;
    if (progress_ != nullptr) progress_->FileUnzipped(it.name.c_str(), csize, usize, &abort);
    if (abort) {
      Fail("aborted");
      return -1;
    }
  }
  progress.Finish();
  return files;
}
