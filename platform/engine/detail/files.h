// File helpers shared by the engine objects.
#ifndef VKT_ENGINE_DETAIL_FILES_H_
#define VKT_ENGINE_DETAIL_FILES_H_

#include <string>
#include <string_view>

namespace vkt::engine::detail {

// Writes `data` to a new file beside `path` and renames it over `path`, so
// readers see the old file or the new one, never a part. False with the
// reason in *error; the temporary file is then gone.
bool WriteFileAtomic(const std::string& path, std::string_view data, std::string* error);

// Reads a whole file. False with the reason in *error.
bool ReadWholeFile(const std::string& path, std::string* data, std::string* error);

}  // namespace vkt::engine::detail

#endif  // VKT_ENGINE_DETAIL_FILES_H_
