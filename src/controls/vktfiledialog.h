// The file picker: the framework's open and save dialog over the real file
// system (a folder's sub-folders and matching files, the file name, the
// file type from a filter list "Testo (*.txt)|*.txt|Tutti (*.*)|*.*||"),
// and the library's addition: the extension of the file type chosen.
//
//   CVKTFileDialog dlg(FALSE, "csv", "clienti", OFN_OVERWRITEPROMPT,
//                      "CSV (*.csv)|*.csv|Tutti i file (*.*)|*.*||", this);
//   if (dlg.DoModal() == IDOK) Save(dlg.GetPathName(), dlg.GetSelectedExt());
#ifndef VKT_CONTROLS_VKTFILEDIALOG_H_
#define VKT_CONTROLS_VKTFILEDIALOG_H_

#include <string>
#include <vector>

#include "controls/vktpickerlist.h"
#include "vkt_export.h"
#include "win/cstring.h"
#include "win/dialog.h"
#include "win/stdctrls.h"

constexpr unsigned long OFN_READONLY = 0x00000001;
constexpr unsigned long OFN_OVERWRITEPROMPT = 0x00000002;
constexpr unsigned long OFN_HIDEREADONLY = 0x00000004;
constexpr unsigned long OFN_PATHMUSTEXIST = 0x00000800;
constexpr unsigned long OFN_FILEMUSTEXIST = 0x00001000;
constexpr unsigned long OFN_EXPLORER = 0x00080000;

// What the dialog was asked and what it answered.
struct OPENFILENAME {
  unsigned long Flags = 0;
  // The filter list as pairs of NUL-terminated texts, ending in two NULs.
  const char* lpstrFilter = nullptr;
  // The filter chosen, counting from 1.
  unsigned long nFilterIndex = 1;
  const char* lpstrInitialDir = nullptr;
  const char* lpstrTitle = nullptr;
  const char* lpstrDefExt = nullptr;
};

class VKT_API CFileDialog : public CDialog {
 public:
  enum : UINT { kFolderId = 1137, kListId = 1120, kNameId = 1152, kTypeId = 1136 };

  CFileDialog(BOOL open, const char* default_ext = nullptr, const char* file_name = nullptr,
              unsigned long flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
              const char* filter = nullptr, CWnd* parent = nullptr, unsigned long size = 0,
              BOOL vista_style = TRUE);
  ~CFileDialog() override;

  intptr_t DoModal() override;
  // The file chosen: the full path, the name with and without its folder,
  // the extension without the dot, the folder.
  CString GetPathName() const { return path_; }
  CString GetFileName() const;
  CString GetFileTitle() const;
  CString GetFileExt() const;
  CString GetFolderPath() const { return folder_; }

  BOOL OnInitDialog() override;
  BOOL OnCommand(WPARAM w, LPARAM l) override;
  void OnOK() override;

  OPENFILENAME m_ofn;

 protected:
  // The filter list: description, pattern, description, pattern...
  const std::vector<std::string>& filter_items() const { return filters_; }

 private:
  void OpenFolder(const std::string& folder);
  std::vector<std::string> Patterns() const;
  bool open_;
  std::string default_ext_;
  std::string filter_block_;  // the texts of m_ofn.lpstrFilter
  std::vector<std::string> filters_;
  std::string folder_;
  std::string path_;
  std::string initial_name_;
  CVKTPickerList list_;
  CEdit name_;
  CComboBox type_;
};

class VKT_API CVKTFileDialog : public CFileDialog {
 public:
  CVKTFileDialog(int open, const char* default_ext, const char* file_name, unsigned long flags,
                 const char* filter, CWnd* parent);
  // The extension of the chosen filter's pattern with its dot ("*.txt":
  // ".txt"); empty when there is no such filter.
  CString GetSelectedExt() const;
};

#endif  // VKT_CONTROLS_VKTFILEDIALOG_H_
