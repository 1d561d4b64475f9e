// The file channel of the text printer: output files, private temporary
// files for the viewer, and the viewer program itself.
//
//   std::string name;
//   FILE* f = vkt::print_io::CreateTempOutputFile(dir, "VKT", &name);
//   if (f && vkt::print_io::WriteAll(f, page, size) &&
//       vkt::print_io::CloseOutputFile(f)) { ... name holds the pages ... }
#ifndef VKT_PRINT_FILE_CHANNEL_H_
#define VKT_PRINT_FILE_CHANNEL_H_

#include <cstddef>
#include <cstdio>
#include <string>

#include "vkt_export.h"

namespace vkt::print_io {

// Creates (or truncates) `path` for binary writing; null on failure.
VKT_API FILE* CreateOutputFile(const std::string& path);

// Creates a new file `prefix`XXXXXX in `dir` with mkstemp (readable by the
// user only), so no other process can slip a file or link in between naming
// and opening. When `dir` is not a directory the file goes to $TMPDIR, else
// /tmp, as the Windows temporary-name call falls back to %TMP%. Null on
// failure; otherwise *name is the full path.
VKT_API FILE* CreateTempOutputFile(const std::string& dir, const std::string& prefix,
                                   std::string* name);

// Writes all of data; false on a short write.
VKT_API bool WriteAll(FILE* f, const void* data, size_t size);

// Closes the file; false when buffered data could not be written.
VKT_API bool CloseOutputFile(FILE* f);

// The directory part of a path ("." when it has none).
VKT_API std::string DirectoryOf(const std::string& path);

// The companion text viewer: $VKT_TEXT_VIEWER when set (a program followed
// by leading arguments, blank-separated), else our own `vkt view`. The
// program is looked up in $PATH, then beside the running executable. False
// when it is not an executable file.
VKT_API bool FindTextViewer(std::string* program, std::string* leading_args);

}  // namespace vkt::print_io

#endif  // VKT_PRINT_FILE_CHANNEL_H_
