// The record database's progress windows (exports, copies, rebuilds) shown
// as the library's progress dialog. The host installs the provider once;
// without it the database layer works without showing progress.
//
//   vkt::dialogs::InstallDbProgress();
//   CVKTProgressDlg dlg;
//   dlg.Create(this);
//   DB_IMPORT_EXPORT block{file, {}, 0, &dlg};
//   if (clienti.DBExport(&block) == DB_EXPORT_CANCELLED) ...   // the user pressed Esci
#ifndef VKT_DIALOGS_VKTDBPROGRESS_H_
#define VKT_DIALOGS_VKTDBPROGRESS_H_

#include <memory>

#include "db/dbexport.h"
#include "dialogs/vktprogressdlg.h"
#include "vkt_export.h"

namespace vkt::dialogs {

class VKT_API DbProgressProvider : public vkt::db::ProgressProvider {
 public:
  ~DbProgressProvider() override;
  // A new dialog over the main window with `caption`; null when its window
  // cannot be created. The window goes with the result.
  std::unique_ptr<vkt::db::ProgressWindow> Create(const char* caption) override;
  // The caller's dialog, which stays the caller's.
  std::unique_ptr<vkt::db::ProgressWindow> Wrap(CVKTProgressDlg* dialog) override;
};

// Installs the library's provider (one per process); answers the provider
// it replaced.
VKT_API vkt::db::ProgressProvider* InstallDbProgress();

}  // namespace vkt::dialogs

#endif  // VKT_DIALOGS_VKTDBPROGRESS_H_
