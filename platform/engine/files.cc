#include "engine/detail/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "win/files.h"

namespace vkt::engine::detail {

bool WriteFileAtomic(const std::string& path, std::string_view data, std::string* error) {
  vkt::win::FileWriteError err;
  if (vkt::win::WriteFileAtomic(path, data, 0666, &err)) return true;
  const char* what = err.stage == vkt::win::FileWriteError::kCreate  ? "cannot create "
                     : err.stage == vkt::win::FileWriteError::kWrite ? "cannot write "
                                                                     : "cannot replace ";
  *error = what + path + ": " + std::strerror(err.error);
  return false;
}

bool ReadWholeFile(const std::string& path, std::string* data, std::string* error) {
  data->clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data->append(buf, n);
  bool ok = std::ferror(f) == 0;
  std::fclose(f);
  if (!ok) *error = "cannot read " + path;
  return ok;
}

}  // namespace vkt::engine::detail
