// What a table is made of, independent of where it is stored: the record
// length, the indexes and their segments, and how a record image becomes a
// key that orders byte by byte (memcmp) as the values do.
#ifndef VKT_ISAM_DETAIL_SCHEMA_H_
#define VKT_ISAM_DETAIL_SCHEMA_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "isam/ctree.h"
#include "isam/detail/status.h"

namespace vkt::isam::detail {

struct SegDef {
  int16_t offset = 0;
  int16_t length = 0;
  int16_t mode = 0;
};

struct IndexDef {
  int16_t keylen = 0;     // ikeylen: segments plus the position suffix
  bool dup = false;
  bool nullkey = false;
  uint8_t empty = 0;
  std::vector<SegDef> segs;
  std::string name;       // ridxnam
  std::string file;       // aidxnam ("" = the main index file)
  std::string condition;  // conditional index expression ("" = none)

  int SegBytes() const;
  int SuffixBytes() const { return dup ? keylen - SegBytes() : 0; }
};

struct TableDef {
  uint32_t reclen = 0;
  bool varlen = false;
  uint16_t dxtdsiz = 0;
  uint16_t ixtdsiz = 0;
  int16_t dfilmod = 0;
  int16_t ifilmod = 0;
  std::string first_field;
  std::string last_field;
  std::vector<IndexDef> indexes;
  bool has_xcreate = false;
  xCREblk xcreate{};
};

// Everything the catalog keeps of one table.
struct TableMeta {
  std::string name;          // data file name within its folder ("art.dat")
  std::string idxext;        // extension of the main index file
  int64_t tid = 0;           // storage id (names the record and key tables)
  int64_t fileid = 0;        // identity carried by the descriptors
  int64_t generation = 0;    // shared by the key tables and the index files
  int64_t serial = 0;        // last serial number given
  int16_t stored_mode = 0;   // UpdateFileMode
  TableDef def;
  std::string doda;          // stored schema (see SerializeDoda)
  std::map<uint32_t, uint32_t> options;  // PutXtdFileOpt: flag -> value
  std::vector<int64_t> member_ids;       // ids of the index files (IndexFiles order)
  std::string filter;        // not stored: per open
};

// Reads an ifil4 into a definition; 33 for impossible ones (segments out of
// the record, key shorter than its segments, more than 32 segments...).
Status DefFromIfil(const ifil4& ifil, TableDef* def);
// The index files of a table: "" (main) first, then each alternative name.
std::vector<std::string> IndexFiles(const TableDef& def);
bool SameIndexes(const TableDef& a, const TableDef& b);

std::string SerializeMeta(const TableMeta& meta);
bool ParseMeta(std::string_view blob, TableMeta* meta);

// Key of `image` for index `ix` (without the suffix when `with_suffix` is
// false); false when the index leaves this record out (null key).
bool BuildKey(const IndexDef& ix, std::string_view image, int64_t pos,
              std::string* key);
// In-place transform of a key in record form (the segments end to end).
void TransformSegments(const IndexDef& ix, unsigned char* key);
// Fills serial segments of `image` with `serial`; true when there are any.
bool HasSerial(const TableDef& def);
void FillSerial(const TableDef& def, int64_t serial, unsigned char* image);

// Stored schema: DATOBJ runs, serialised; the array form fills `buf`.
std::string SerializeDoda(const DATOBJ* doda, int count);
// Size of the array form; writes it when `buf` is not null and big enough.
size_t DodaArray(std::string_view stored, void* buf, size_t buflen);

// Description image (GetIFile): an ifil4 followed by its strings and index
// descriptions, pointers into `buf`. Answers the size; writes when `buf` is
// not null and big enough.
size_t DescriptionImage(const TableMeta& meta, const std::string& stem,
                        void* buf, size_t buflen);

}  // namespace vkt::isam::detail

#endif  // VKT_ISAM_DETAIL_SCHEMA_H_
