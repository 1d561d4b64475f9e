// The folder picker: a modal browser over the real file system with a
// preselected folder, a caption and a status line that shows the current
// choice (shortened to 35 characters and "...").
//
//   CFolderDialog dlg("Cartella di esportazione", "/srv/mirto/out", BIF_RETURNONLYFSDIRS, this);
//   if (dlg.DoModal() == IDOK) Export(dlg.GetPathName());
//
// The browser lists the sub-folders of one folder (".." first leads up);
// a click selects a folder, a double click or Enter opens it, OK takes the
// selected folder (or the open one when nothing is selected).
#ifndef VKT_CONTROLS_VKTFOLDERDIALOG_H_
#define VKT_CONTROLS_VKTFOLDERDIALOG_H_

#include <memory>
#include <string>

#include "controls/vktpickerlist.h"
#include "vkt_export.h"
#include "win/cstring.h"
#include "win/dialog.h"
#include "win/stdctrls.h"

// A shell item: here, the file-system path it stands for.
struct ITEMIDLIST {
  std::string path;
};

// Browse flags and browser events.
constexpr unsigned long BIF_RETURNONLYFSDIRS = 0x0001;
constexpr unsigned long BIF_STATUSTEXT = 0x0004;
constexpr unsigned long BIF_NEWDIALOGSTYLE = 0x0040;
constexpr UINT BFFM_INITIALIZED = 1;
constexpr UINT BFFM_SELCHANGED = 2;

// The browse-information record.
struct BROWSEINFO {
  HWND hwndOwner = nullptr;
  const ITEMIDLIST* pidlRoot = nullptr;
  char* pszDisplayName = nullptr;
  const char* lpszTitle = nullptr;
  unsigned long ulFlags = 0;
  int (*lpfn)(HWND, UINT, LPARAM, LPARAM) = nullptr;
  LPARAM lParam = 0;
};

class VKT_API CFolderDialog {
 public:
  // Control ids of the browser window.
  enum : UINT { kHeadingId = 14145, kStatusId = 14146, kFolderId = 14147, kListId = 14148 };

  CFolderDialog(CString caption, const char* initial_folder, unsigned long flags, CWnd* parent);
  virtual ~CFolderDialog();
  CFolderDialog(const CFolderDialog&) = delete;
  CFolderDialog& operator=(const CFolderDialog&) = delete;

  // 1 (OK) with the confirmed folder as the choice, or 2 (Cancel) with the
  // initial folder as the choice.
  int DoModal();
  CString GetPathName() const { return selected_; }

  // While the browser is open.
  void SetStatusText(const char* text);
  void EnableOK(int enable);
  void SetSelection(const char* path);
  void SetSelection(ITEMIDLIST* item);
  // The browser's window while it is open (null otherwise).
  CWnd* GetBrowserWindow() const;
  // The folder whose sub-folders the browser lists.
  const std::string& GetOpenFolder() const { return open_folder_; }

  // A text over 35 characters: its first 35 and "...".
  static CString ShortName(const CString& name);

  const BROWSEINFO& browse_info() const { return bi_; }

 protected:
  virtual void OnInitDialog();
  virtual void OnSelChanged(ITEMIDLIST* item);
  static int CallbackFunction(HWND hwnd, UINT msg, LPARAM l, LPARAM data);

 private:
  class Browser;
  friend class Browser;
  void OpenFolder(const std::string& folder, const std::string& select);

  BROWSEINFO bi_;
  CString caption_;
  CString initial_;
  CString selected_;
  HWND hwnd_ = nullptr;
  char path_[4096] = {};
  char display_name_[4096] = {};
  std::string open_folder_;
  std::unique_ptr<Browser> browser_;
};

#endif  // VKT_CONTROLS_VKTFOLDERDIALOG_H_
