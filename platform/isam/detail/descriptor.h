// The small files that stand for a table's data and index files on disk.
//
// Each names its table, carries the file id and the generation shared with
// the key tables in the store, and is replaced whole (temporary file, sync,
// rename, sync of the folder) so that it is either the old or the new one.
// Their presence and agreement with the catalog give the file semantics:
// a missing data descriptor is a missing table (12), a missing or stale
// index descriptor a damaged index (14).
#ifndef VKT_ISAM_DETAIL_DESCRIPTOR_H_
#define VKT_ISAM_DETAIL_DESCRIPTOR_H_

#include <cstdint>
#include <string>

#include "isam/detail/status.h"

namespace vkt::isam::detail {

struct Descriptor {
  bool index = false;       // false: data file
  std::string table;        // catalog name of the table
  int64_t fileid = 0;       // the table's (data) or this index file's id
  int64_t owner = 0;        // index file: the table's file id
  int64_t generation = 0;
  uint32_t reclen = 0;
  std::string members;      // index file: the index numbers it holds, "0,1"
};

// CT_FILE_NOT_FOUND (sys ENOENT) when absent, CT_NOT_ISAM_FILE when the file
// is not a descriptor of ours or is cut short, CT_READ_ERROR otherwise.
Status ReadDescriptor(const std::string& path, Descriptor* d);
Status WriteDescriptor(const std::string& path, const Descriptor& d);
// The same on the text of a descriptor, wherever it is kept.
Status ParseDescriptor(const std::string& text, Descriptor* d);
std::string FormatDescriptor(const Descriptor& d);
// Removes the file; absent is fine.
Status RemoveDescriptor(const std::string& path);
// Renames atomically (and syncs the folder).
Status RenameDescriptor(const std::string& from, const std::string& to);

}  // namespace vkt::isam::detail

#endif  // VKT_ISAM_DETAIL_DESCRIPTOR_H_
