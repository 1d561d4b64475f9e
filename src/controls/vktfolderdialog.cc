#include "controls/vktfolderdialog.h"

#include <cstring>

#include "win/winconst.h"

namespace {

constexpr const char* kHeading = "Selezione Corrente";

vkt::win::DialogTemplate BrowserTemplate(const CString& caption) {
  vkt::win::DialogTemplate t;
  t.caption = caption.str();
  t.rect = CRect(80, 60, 80 + 360, 60 + 380);
  t.style |= WS_VISIBLE;
  const DWORD text = WS_CHILD | WS_VISIBLE | SS_LEFT;
  t.items = {
      {"Static", kHeading, CFolderDialog::kHeadingId, text, CRect(12, 10, 348, 26)},
      {"Static", "", CFolderDialog::kStatusId, text, CRect(12, 28, 348, 44)},
      {"Static", "", CFolderDialog::kFolderId, text, CRect(12, 52, 348, 68)},
      {"Button", "OK", IDOK, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
       CRect(180, 342, 260, 366)},
      {"Button", "Annulla", IDCANCEL, WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(268, 342, 348, 366)},
  };
  return t;
}

}  // namespace

// The browser window: the list of folders, the status line and the buttons.
class CFolderDialog::Browser : public CDialog {
 public:
  explicit Browser(CFolderDialog* owner, CWnd* parent) : owner_(owner) { m_pParentWnd = parent; }

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    CRect r(12, 72, 348, 332);
    list_.Create(r, this, kListId);
    list_.SetFont(GetFont(), FALSE);
    owner_->hwnd_ = m_hWnd;
    CallbackFunction(m_hWnd, BFFM_INITIALIZED, 0, reinterpret_cast<LPARAM>(owner_));
    list_.SetFocus();
    return FALSE;
  }

  BOOL OnCommand(WPARAM w, LPARAM l) override {
    if (LOWORD(w) == kListId) {
      const WORD code = static_cast<WORD>((w >> 16) & 0xFFFF);
      const int sel = list_.GetCurSel();
      if (sel >= 0 && code == CVKTPickerList::kSelChange) {
        ITEMIDLIST item{list_.entries()[sel].path};
        CallbackFunction(m_hWnd, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(&item),
                         reinterpret_cast<LPARAM>(owner_));
      } else if (sel >= 0 && code == CVKTPickerList::kActivate) {
        const std::string path = list_.entries()[sel].path;
        owner_->OpenFolder(path, "");
        ITEMIDLIST item{path};
        CallbackFunction(m_hWnd, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(&item),
                         reinterpret_cast<LPARAM>(owner_));
      }
      return TRUE;
    }
    return CDialog::OnCommand(w, l);
  }

  void OnOK() override {
    CWnd* ok = GetDlgItem(IDOK);
    if (ok != nullptr && !ok->IsWindowEnabled()) return;
    EndDialog(IDOK);
  }

  CVKTPickerList list_;

 private:
  CFolderDialog* owner_;
};

CFolderDialog::CFolderDialog(CString caption, const char* initial_folder, unsigned long flags,
                             CWnd* parent)
    : caption_(std::move(caption)), initial_(initial_folder != nullptr ? initial_folder : "") {
  bi_.hwndOwner = parent != nullptr ? parent->GetSafeHwnd() : nullptr;
  bi_.pidlRoot = nullptr;
  bi_.pszDisplayName = display_name_;
  bi_.lpszTitle = kHeading;
  bi_.ulFlags = flags | BIF_STATUSTEXT;
  bi_.lpfn = &CallbackFunction;
  bi_.lParam = reinterpret_cast<LPARAM>(this);
}

CFolderDialog::~CFolderDialog() = default;

int CFolderDialog::DoModal() {
  selected_ = initial_;
  browser_ = std::make_unique<Browser>(this, CWnd::FromHandle(bi_.hwndOwner));
  browser_->SetTemplate(BrowserTemplate(caption_));
  const intptr_t result = browser_->DoModal();
  std::string chosen = selected_.str();
  hwnd_ = nullptr;
  browser_.reset();
  // Only a confirmed folder of the file system becomes the choice; whatever
  // was browsed on the way to a Cancel is not what the caller asked for.
  if (result == IDOK && vkt::controls::IsFolder(chosen)) {
    selected_ = vkt::controls::NormalFolder(chosen);
    std::strncpy(path_, selected_.GetString(), sizeof path_ - 1);
    const size_t slash = selected_.str().rfind('/');
    std::strncpy(display_name_, selected_.str().substr(slash == std::string::npos ? 0 : slash + 1).c_str(),
                 sizeof display_name_ - 1);
    return IDOK;
  }
  selected_ = initial_;
  return IDCANCEL;
}

int CFolderDialog::CallbackFunction(HWND hwnd, UINT msg, LPARAM l, LPARAM data) {
  auto* self = reinterpret_cast<CFolderDialog*>(data);
  if (self == nullptr) return 0;
  self->hwnd_ = hwnd;
  if (msg == BFFM_INITIALIZED) self->OnInitDialog();
  else if (msg == BFFM_SELCHANGED) self->OnSelChanged(reinterpret_cast<ITEMIDLIST*>(l));
  return 0;
}

void CFolderDialog::OnInitDialog() {
  if (CWnd* w = GetBrowserWindow()) w->SetWindowText(caption_.GetString());
  SetSelection(initial_.GetString());
  SetStatusText(ShortName(initial_).GetString());
}

void CFolderDialog::OnSelChanged(ITEMIDLIST* item) {
  if (item == nullptr) return;
  selected_ = item->path;
  SetStatusText(ShortName(selected_).GetString());
}

void CFolderDialog::OpenFolder(const std::string& folder, const std::string& select) {
  open_folder_ = vkt::controls::NormalFolder(folder);
  if (!browser_ || hwnd_ == nullptr) return;
  browser_->list_.Fill(vkt::controls::ListFolder(open_folder_, false, {}));
  if (!select.empty()) browser_->list_.SetCurSel(browser_->list_.Find(select));
  if (CWnd* f = browser_->GetDlgItem(kFolderId))
    f->SetWindowText(("Cartella: " + ShortName(CString(open_folder_)).str()).c_str());
}

void CFolderDialog::SetStatusText(const char* text) {
  if (CWnd* w = GetBrowserWindow())
    if (CWnd* s = w->GetDlgItem(kStatusId)) s->SetWindowText(text != nullptr ? text : "");
}

void CFolderDialog::EnableOK(int enable) {
  if (CWnd* w = GetBrowserWindow())
    if (CWnd* ok = w->GetDlgItem(IDOK)) ok->EnableWindow(enable != 0);
}

void CFolderDialog::SetSelection(const char* path) {
  ITEMIDLIST item{path != nullptr ? path : ""};
  SetSelection(&item);
}

void CFolderDialog::SetSelection(ITEMIDLIST* item) {
  if (item == nullptr || GetBrowserWindow() == nullptr) return;
  std::string p = vkt::controls::NormalFolder(item->path);
  if (p.empty() || !vkt::controls::IsFolder(p)) {
    // Nothing to select: the browser opens on the working folder.
    OpenFolder(".", "");
    return;
  }
  if (p == "/") OpenFolder("/", "");
  else OpenFolder(vkt::controls::ParentFolder(p), p);
  // As the shell does: a new selection is a change of selection.
  ITEMIDLIST selected{p};
  CallbackFunction(hwnd_, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(&selected),
                   reinterpret_cast<LPARAM>(this));
}

CWnd* CFolderDialog::GetBrowserWindow() const {
  return hwnd_ != nullptr && ::IsWindow(hwnd_) ? CWnd::FromHandle(hwnd_) : nullptr;
}

CString CFolderDialog::ShortName(const CString& name) {
  if (name.GetLength() > 35) return CString(name.str().substr(0, 35) + "...");
  return name;
}
