// The progress window of the ZIP engine: an event sink that shows every
// step of adding, compressing and extracting in its progress dialog, and
// turns the dialog's "&Esci" button into the engine's abort flag.
//
//   CVKTChilkatZipProgress progress;
//   progress.m_dlg.Create(this);          // the window, over the host's one
//   CkZip zip;
//   zip.put_EventCallbackObject(&progress);
//   zip.NewZip(path);
//   zip.AppendFiles(folder, true);
//   if (!zip.WriteZip()) ...              // "aborted" when the user stopped it
//   progress.m_dlg.DestroyWindow();
#ifndef VKT_SERVICES_ZIPPROGRESS_H_
#define VKT_SERVICES_ZIPPROGRESS_H_

#include <cstdint>

#include "dialogs/vktprogressdlg.h"
#include "engine/zip.h"
#include "vkt_export.h"

class VKT_API CVKTChilkatZipProgress : public CkZipProgress {
 public:
  CVKTChilkatZipProgress();
  ~CVKTChilkatZipProgress() override;

  // Every event runs on the thread of the ZIP call (the user-interface
  // thread) and never throws. The status events repaint the dialog at once
  // without pumping messages; the events that check Cancel pump them (the
  // dialog's CheckCancelButton) and set *abort when it was pressed.
  void AbortCheck(bool* abort) override;
  void PercentDone(int percent, bool* abort) override;
  void DirToBeAdded(const char* path, bool* abort) override;
  void AddFilesBegin() override;
  void AddFilesEnd() override;
  void WriteZipBegin() override;
  void WriteZipEnd() override;
  void UnzipBegin() override;
  void UnzipEnd() override;
  void ToBeAdded(const char* path, uint32_t size, bool* abort) override;
  void FileAdded(const char* path, uint32_t size, bool* abort) override;
  void ToBeZipped(const char* path, uint32_t size, bool* abort) override;
  void FileZipped(const char* path, uint32_t size, uint32_t compressed_size, bool* abort) override;
  void ToBeUnzipped(const char* path, uint32_t size1, uint32_t size2, bool* abort) override;
  void FileUnzipped(const char* path, uint32_t size1, uint32_t size2, bool* abort) override;

  // The dialog, constructed without a parent; the host creates its window.
  CVKTProgressDlg m_dlg;

 private:
  void Show(const char* text);
  void CheckCancel(bool* abort);
};

#endif  // VKT_SERVICES_ZIPPROGRESS_H_
