// The exchange block of the binary dump, the list of exported tables and
// the progress window the export and copy members of CDBCtree report to.
//
//   DB_IMPORT_EXPORT block{};
//   block.file = std::fopen("/srv/mirto/out/clienti.bin", "wb");
//   int r = clienti.DBExport(&block);   // 0 all written, 1 cancelled,
//                                       // 2 a read or write failed
//   std::fclose(block.file);
//
//   CStringArray tables;                // names of the tables exported
//   clienti.DBExpJson(0.0, DBL_MAX, desc, ext, &tables, nullptr, nullptr);
//
// The dump holds, per record in physical order, the table id as two bytes
// (little-endian) and the record image; DBImport reads one image after the
// caller has read and checked the id.
#ifndef VKT_DB_DBEXPORT_H_
#define VKT_DB_DBEXPORT_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "vkt_export.h"
#include "win/cstring.h"

class CVKTProgressDlg;

// Owned by the caller.
struct DB_IMPORT_EXPORT {
  FILE* file;                  // open stream: written by DBExport, read by DBImport
  int32_t reserved[4];         // the host's own, not used by the layer
  int32_t count;               // raised by DBExport for every record written
  CVKTProgressDlg* progress;   // optional progress dialog
};

// DBExport's answers.
enum : int {
  DB_EXPORT_DONE = 0,
  DB_EXPORT_CANCELLED = 1,
  DB_EXPORT_FAILED = 2,  // a record could not be read or written (errno kept)
};

// DBImport's answer when the dump ends inside a record: nothing is added.
constexpr int16_t DB_IMPORT_SHORT = 36;

// The framework's array of strings, as far as the exports use it.
class CStringArray {
 public:
  int GetSize() const { return static_cast<int>(items_.size()); }
  int GetCount() const { return GetSize(); }
  int Add(const CString& s) {
    items_.push_back(s);
    return GetSize() - 1;
  }
  const CString& GetAt(int i) const { return items_.at(static_cast<size_t>(i)); }
  const CString& operator[](int i) const { return GetAt(i); }
  void RemoveAll() { items_.clear(); }

 private:
  std::vector<CString> items_;
};

namespace vkt::db {

// What the layer asks of a progress window. Every call comes on the
// user-interface thread; none may throw.
class VKT_API ProgressWindow {
 public:
  virtual ~ProgressWindow();
  // False once the window is gone (or was never created).
  virtual bool Exists() = 0;
  virtual void SetStatus(const char* text) = 0;
  virtual void SetRange(int lower, int upper) = 0;
  virtual void SetStep(int step) = 0;
  virtual int StepIt() = 0;
  // Non-zero once after the user pressed Cancel.
  virtual int CheckCancelButton() = 0;
  virtual void HideCancel() = 0;
};

// Who makes the windows: the dialog framework of the host installs one;
// without it the layer works without showing progress.
class VKT_API ProgressProvider {
 public:
  virtual ~ProgressProvider();
  // A window of the layer's own with `caption`, shown until destroyed; null
  // when none can be shown.
  virtual std::unique_ptr<ProgressWindow> Create(const char* caption) = 0;
  // The caller's dialog through the same operations (not owned by the
  // result); null when it cannot be reached.
  virtual std::unique_ptr<ProgressWindow> Wrap(CVKTProgressDlg* dialog) = 0;
};

// Installs `provider` (not owned; null removes it) and answers the one it
// replaces.
VKT_API ProgressProvider* SetProgressProvider(ProgressProvider* provider);

}  // namespace vkt::db

#endif  // VKT_DB_DBEXPORT_H_
