#include "controls/vktfiledialog.h"

#include <unistd.h>

#include "win/services.h"
#include "win/winconst.h"

namespace {

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i <= s.size()) {
    size_t j = s.find(sep, i);
    if (j == std::string::npos) j = s.size();
    out.push_back(s.substr(i, j - i));
    i = j + 1;
  }
  return out;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string WorkingFolder() {
  char buf[4096];
  return getcwd(buf, sizeof buf) != nullptr ? buf : "/";
}

}  // namespace

CFileDialog::CFileDialog(BOOL open, const char* default_ext, const char* file_name,
                         unsigned long flags, const char* filter, CWnd* parent, unsigned long,
                         BOOL)
    : open_(open != 0), default_ext_(default_ext != nullptr ? default_ext : "") {
  m_pParentWnd = parent;
  m_ofn.Flags = flags | OFN_EXPLORER;
  m_ofn.lpstrDefExt = default_ext_.empty() ? nullptr : default_ext_.c_str();
  // "desc|pattern|desc|pattern||": the framework's form of the list.
  if (filter != nullptr) {
    std::string f = filter;
    while (!f.empty() && f.back() == '|') f.pop_back();
    if (!f.empty()) filters_ = Split(f, '|');
    for (const std::string& item : filters_) {
      filter_block_ += item;
      filter_block_ += '\0';
    }
    filter_block_ += '\0';
    m_ofn.lpstrFilter = filter_block_.c_str();
  }
  if (file_name != nullptr) {
    const std::string name = file_name;
    if (name.find('/') != std::string::npos) {
      folder_ = vkt::controls::ParentFolder(name);
      initial_name_ = BaseName(name);
    } else {
      initial_name_ = name;
    }
  }
}

CFileDialog::~CFileDialog() = default;

intptr_t CFileDialog::DoModal() {
  vkt::win::DialogTemplate t;
  t.caption = m_ofn.lpstrTitle != nullptr ? m_ofn.lpstrTitle : (open_ ? "Apri" : "Salva con nome");
  t.rect = CRect(80, 60, 80 + 440, 60 + 400);
  t.style |= WS_VISIBLE;
  const DWORD text = WS_CHILD | WS_VISIBLE | SS_LEFT;
  t.items = {
      {"Static", "Cerca in:", 0, text, CRect(12, 12, 80, 28)},
      {"Static", "", kFolderId, text, CRect(84, 12, 428, 28)},
      {"Static", "Nome file:", 0, text, CRect(12, 300, 90, 316)},
      {"Edit", "", kNameId, WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL,
       CRect(96, 296, 328, 318)},
      {"Static", "Tipo file:", 0, text, CRect(12, 332, 90, 348)},
      {"ComboBox", "", kTypeId, WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST,
       CRect(96, 328, 328, 350)},
      {"Button", open_ ? "Apri" : "Salva", IDOK,
       WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, CRect(340, 296, 428, 318)},
      {"Button", "Annulla", IDCANCEL, WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(340, 328, 428, 350)},
  };
  SetTemplate(t);
  path_.clear();
  return CDialog::DoModal();
}

BOOL CFileDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  name_.SubclassDlgItem(kNameId, this);
  type_.SubclassDlgItem(kTypeId, this);
  list_.Create(CRect(12, 36, 428, 286), this, kListId);
  list_.SetFont(GetFont(), FALSE);
  for (size_t i = 0; i + 1 < filters_.size(); i += 2) type_.AddString(filters_[i].c_str());
  const int count = type_.GetCount();
  if (m_ofn.nFilterIndex < 1 || static_cast<int>(m_ofn.nFilterIndex) > count) m_ofn.nFilterIndex = 1;
  if (count > 0) type_.SetCurSel(static_cast<int>(m_ofn.nFilterIndex) - 1);
  std::string start = folder_;
  if (start.empty() && m_ofn.lpstrInitialDir != nullptr) start = m_ofn.lpstrInitialDir;
  if (start.empty() || !vkt::controls::IsFolder(start)) start = WorkingFolder();
  OpenFolder(start);
  name_.SetWindowText(initial_name_.c_str());
  name_.SetFocus();
  return FALSE;
}

std::vector<std::string> CFileDialog::Patterns() const {
  const size_t at = 2 * (m_ofn.nFilterIndex - 1) + 1;
  if (m_ofn.nFilterIndex < 1 || at >= filters_.size()) return {};
  std::vector<std::string> out;
  for (const std::string& p : Split(filters_[at], ';'))
    if (!p.empty() && p != "*.*") out.push_back(p);
    else if (p == "*.*") return {};
  return out;
}

void CFileDialog::OpenFolder(const std::string& folder) {
  folder_ = vkt::controls::NormalFolder(folder);
  list_.Fill(vkt::controls::ListFolder(folder_, true, Patterns()));
  if (CWnd* f = GetDlgItem(kFolderId)) f->SetWindowText(folder_.c_str());
}

BOOL CFileDialog::OnCommand(WPARAM w, LPARAM l) {
  const WORD id = LOWORD(w), code = static_cast<WORD>((w >> 16) & 0xFFFF);
  if (id == kListId) {
    const int sel = list_.GetCurSel();
    if (sel >= 0) {
      const auto& e = list_.entries()[sel];
      if (code == CVKTPickerList::kSelChange && !e.folder) {
        name_.SetWindowText(e.label.c_str());
      } else if (code == CVKTPickerList::kActivate) {
        if (e.folder) {
          OpenFolder(e.path);
        } else {
          name_.SetWindowText(e.label.c_str());
          OnOK();
        }
      }
    }
    return TRUE;
  }
  if (id == kTypeId && code == CBN_SELCHANGE) {
    const int sel = type_.GetCurSel();
    if (sel >= 0) m_ofn.nFilterIndex = static_cast<unsigned long>(sel) + 1;
    OpenFolder(folder_);
    return TRUE;
  }
  return CDialog::OnCommand(w, l);
}

void CFileDialog::OnOK() {
  std::string name = name_.GetWindowTextString().str();
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) {
    // No name: the selected folder opens, as Enter on it would.
    const int sel = list_.GetCurSel();
    if (sel >= 0 && list_.entries()[sel].folder) OpenFolder(list_.entries()[sel].path);
    return;
  }
  const std::string full = vkt::controls::NormalFolder(Join(folder_, name));
  if (vkt::controls::IsFolder(full)) {
    OpenFolder(full);
    name_.SetWindowText("");
    return;
  }
  std::string path = full;
  if (!open_ && !default_ext_.empty() && BaseName(path).find('.') == std::string::npos)
    path += "." + default_ext_;
  if (open_ && (m_ofn.Flags & OFN_FILEMUSTEXIST) && !vkt::controls::IsFile(path)) {
    vkt::services().MessageBox(
        BaseName(path) + "\nFile non trovato.\nVerificare che il nome del file sia corretto.",
        open_ ? "Apri" : "Salva con nome", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if ((m_ofn.Flags & (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST)) &&
      !vkt::controls::IsFolder(vkt::controls::ParentFolder(path))) {
    vkt::services().MessageBox(vkt::controls::ParentFolder(path) + "\nPercorso non trovato.",
                               open_ ? "Apri" : "Salva con nome", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (!open_ && (m_ofn.Flags & OFN_OVERWRITEPROMPT) && vkt::controls::IsFile(path) &&
      vkt::services().MessageBox(BaseName(path) + " esiste gi\xE0.\nSostituirlo?", "Salva con nome",
                                 MB_YESNO | MB_ICONEXCLAMATION) != IDYES)
    return;
  path_ = path;
  folder_ = vkt::controls::ParentFolder(path);
  EndDialog(IDOK);
}

CString CFileDialog::GetFileName() const { return CString(BaseName(path_)); }

CString CFileDialog::GetFileTitle() const {
  std::string n = BaseName(path_);
  const size_t dot = n.rfind('.');
  return CString(dot == std::string::npos ? n : n.substr(0, dot));
}

CString CFileDialog::GetFileExt() const {
  std::string n = BaseName(path_);
  const size_t dot = n.rfind('.');
  return CString(dot == std::string::npos ? std::string() : n.substr(dot + 1));
}

CVKTFileDialog::CVKTFileDialog(int open, const char* default_ext, const char* file_name,
                               unsigned long flags, const char* filter, CWnd* parent)
    : CFileDialog(open, default_ext, file_name, flags, filter, parent, 0, TRUE) {}

CString CVKTFileDialog::GetSelectedExt() const {
  const auto& items = filter_items();
  const size_t n = m_ofn.nFilterIndex;
  if (n < 1 || 2 * n - 1 >= items.size()) return CString();
  const std::string& pattern = items[2 * n - 1];
  const size_t slash = pattern.find_last_of("/\\");
  const std::string last = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  const size_t dot = last.rfind('.');
  return dot == std::string::npos ? CString() : CString(last.substr(dot));
}
