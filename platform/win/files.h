// Files written whole or not at all, folders made on demand, and a lock file
// that serialises read-modify-write cycles between processes.
//
//   vkt::win::FileLock lock(path + ".lock", 0644);   // held for the scope
//   if (lock.ok() && vkt::win::WriteFileAtomic(path, text, 0644, nullptr)) ...
#ifndef VKT_WIN_FILES_H_
#define VKT_WIN_FILES_H_

#include <sys/types.h>

#include <string>
#include <string_view>

namespace vkt::win {

// Where an atomic write failed, and the errno it failed with.
struct FileWriteError {
  enum Stage { kNone, kCreate, kWrite, kReplace };
  Stage stage = kNone;
  int error = 0;
};

// Writes `data` to a new file beside `path`, syncs it and renames it over
// `path`, so readers see the old file or the new one, never a part. The file
// gets `mode` less the umask. On failure the temporary file is gone and
// `*err` (when given) says where it failed.
bool WriteFileAtomic(const std::string& path, std::string_view data, mode_t mode,
                     FileWriteError* err);

// Makes `dir` and every missing folder above it with `mode`.
bool MakeDirs(const std::string& dir, mode_t mode);

// The folder part of a file path ("." when there is none).
std::string DirName(const std::string& path);

// Holds an exclusive flock on `lock_path` (created with `mode`) for the
// guard's life; closing the descriptor drops it, also when the process dies.
class FileLock {
 public:
  FileLock(const std::string& lock_path, mode_t mode);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace vkt::win

#endif  // VKT_WIN_FILES_H_
