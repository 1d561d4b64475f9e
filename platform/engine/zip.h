// The engine's ZIP archive object and its progress events.
//
//   CkZip zip;
//   MyProgress progress;                       // derived from CkZipProgress
//   zip.put_EventCallbackObject(&progress);
//   zip.NewZip("/srv/mirto/backup/log.zip");
//   zip.put_AppendFromDir("/srv/mirto");
//   zip.AppendFiles("log/*", true);            // entries "log/..."
//   if (!zip.WriteZipAndClose()) log(zip.LastErrorText());
//
//   zip.OpenZip("/srv/mirto/backup/log.zip");
//   int files = zip.Unzip("/tmp/restore");     // -1 on failure
//
// Writing replaces the archive whole: the new archive is built under a
// temporary name beside it and renamed into place only when complete, so a
// failure or an abort leaves any earlier archive as it was and no part file.
// Unzip refuses an archive that holds any entry whose name would leave the
// target folder (an absolute name, a drive letter, a ".." step, or a step
// through a symbolic link already in the folder); it then writes nothing.
// Each extracted file is written under a temporary name and renamed, so a
// file is either whole or absent; the files extracted before an abort stay.
//
// Entry names are relative paths with "/" between the steps (a "\" in an
// archive made on Windows counts as "/"); directories end with "/". One
// object is for one thread at a time; events come on the calling thread.
#ifndef VKT_ENGINE_ZIP_H_
#define VKT_ENGINE_ZIP_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vkt_export.h"

// Events of a ZIP operation. Every hook has an empty default; an override
// must not throw and must not call back into the CkZip that reports it.
// Setting *abort to true stops the operation: the call in progress returns
// failure (AppendFiles adds nothing, WriteZip writes nothing, Unzip stops
// after the file in hand). Sizes are byte counts; a size above 4 GiB - 1 is
// reported as 4294967295.
class VKT_API CkZipProgress {
 public:
  virtual ~CkZipProgress();

  // Called regularly during long steps (each megabyte of data), so that a
  // cancel button can be honoured between the other events.
  virtual void AbortCheck(bool* abort);
  // The share of the operation done, 0 to 100, each time it rises.
  virtual void PercentDone(int percent, bool* abort);
  // AppendFiles found a directory (its path on disk) to add.
  virtual void DirToBeAdded(const char* path, bool* abort);
  // Around one AppendFiles or AppendOneFileOrDir.
  virtual void AddFilesBegin();
  virtual void AddFilesEnd();
  // Around one WriteZip.
  virtual void WriteZipBegin();
  virtual void WriteZipEnd();
  // Around one Unzip.
  virtual void UnzipBegin();
  virtual void UnzipEnd();
  // A file (its path on disk) is about to join the archive's list, and has
  // joined it.
  virtual void ToBeAdded(const char* path, uint32_t size, bool* abort);
  virtual void FileAdded(const char* path, uint32_t size, bool* abort);
  // WriteZip is about to compress an entry (its name), and has compressed it
  // to `compressed_size` bytes.
  virtual void ToBeZipped(const char* name, uint32_t size, bool* abort);
  virtual void FileZipped(const char* name, uint32_t size, uint32_t compressed_size,
                          bool* abort);
  // Unzip is about to extract an entry (its name), and has extracted it.
  virtual void ToBeUnzipped(const char* name, uint32_t compressed_size, uint32_t size,
                            bool* abort);
  virtual void FileUnzipped(const char* name, uint32_t compressed_size, uint32_t size,
                            bool* abort);
};

class VKT_API CkZip {
 public:
  CkZip();
  ~CkZip();
  CkZip(const CkZip&) = delete;
  CkZip& operator=(const CkZip&) = delete;

  // Not owned; null for no events.
  void put_EventCallbackObject(CkZipProgress* progress) { progress_ = progress; }
  // Relative paths given to the Append calls are taken from this folder, and
  // entry names are paths relative to it. Empty (the default): the current
  // folder for paths, and names relative to the folder of each pattern.
  void put_AppendFromDir(const std::string& dir) { append_from_ = dir; }
  const std::string& get_AppendFromDir() const { return append_from_; }

  // Starts an empty archive to be written to `path`; nothing touches the
  // disk before WriteZip.
  bool NewZip(const std::string& path);
  // Opens an existing archive: its entries can be listed, extracted, and
  // kept when it is written again with more entries.
  bool OpenZip(const std::string& path);
  // Forgets the archive and the entries not yet written.
  void CloseZip();
  const std::string& get_FileName() const { return path_; }

  // Adds the files matching `pattern`: a file, a folder (its content), or a
  // folder followed by a last step with * and ? wildcards. With `recurse`,
  // matching folders are added with everything below them; without it, only
  // the files directly matched. False when nothing matches or on abort.
  bool AppendFiles(const std::string& pattern, bool recurse);
  // Adds one file, or one folder with everything below it. The entry name is
  // the path relative to AppendFromDir when it lies below it; otherwise the
  // last step, or with `save_extra_path` the whole path without its leading
  // "/".
  bool AppendOneFileOrDir(const std::string& path, bool save_extra_path);
  // Adds an entry holding `content`.
  bool AppendString(const std::string& name, const std::string& content);

  int get_NumEntries() const;
  // Empty when out of range.
  std::string EntryName(int index) const;

  // Writes the archive (the opened entries and the appended ones) to the
  // file of NewZip or OpenZip and keeps it open.
  bool WriteZip();
  bool WriteZipAndClose();

  // Extracts every entry of the opened (or written) archive below `dir`,
  // creating folders as needed and replacing files of the same name. The
  // number of files extracted, or -1 on failure or abort.
  int Unzip(const std::string& dir);

  const std::string& LastErrorText() const { return last_error_; }

  struct Entry;

 private:
  bool Fail(std::string text);
  bool AddPath(const std::string& disk_path, const std::string& name, bool recurse,
               bool* abort, std::vector<Entry>* added);

  CkZipProgress* progress_ = nullptr;
  std::string append_from_;
  std::string path_;
  void* archive_ = nullptr;  // the opened archive (zip_t*), or null
  std::vector<Entry> entries_;
  std::string last_error_;
};

#endif  // VKT_ENGINE_ZIP_H_
