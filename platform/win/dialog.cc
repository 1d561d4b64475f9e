#include "win/dialog.h"

#include <strings.h>

#include <map>

#include "win/detail/wndstate.h"
#include "win/stdctrls.h"
#include "win/winconst.h"

namespace vkt::win {
namespace {

struct Templates {
  std::map<UINT, DialogTemplate> by_id;
  std::map<std::string, DialogTemplate> by_name;
};

Templates& T() {
  static Templates t;
  return t;
}

}  // namespace

void RegisterDialogTemplate(UINT id, DialogTemplate tmpl) { T().by_id[id] = std::move(tmpl); }
void RegisterDialogTemplate(const std::string& name, DialogTemplate tmpl) {
  T().by_name[name] = std::move(tmpl);
}

const DialogTemplate* FindDialogTemplate(UINT id) {
  auto it = T().by_id.find(id);
  return it == T().by_id.end() ? nullptr : &it->second;
}

const DialogTemplate* FindDialogTemplate(const std::string& name) {
  auto it = T().by_name.find(name);
  return it == T().by_name.end() ? nullptr : &it->second;
}

void ClearDialogTemplates() {
  T().by_id.clear();
  T().by_name.clear();
}

namespace detail {
namespace {

struct DialogData : ClassData {
  UINT def_id = 0;
  bool def_set = false;
};

UINT DefaultId(HWND dlg) {
  DialogData* d = Data<DialogData>(dlg);
  if (d->def_set) return d->def_id;
  WindowState* s = Find(dlg);
  for (HWND c : s->children) {
    WindowState* cs = Find(c);
    if (cs && strcasecmp(cs->class_name.c_str(), "Button") == 0 &&
        (cs->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
      return cs->id;
  }
  return 0;
}

void SetDefaultId(HWND dlg, UINT id) {
  WindowState* s = Find(dlg);
  for (HWND c : s->children) {
    WindowState* cs = Find(c);
    if (!cs || strcasecmp(cs->class_name.c_str(), "Button") != 0) continue;
    DWORD type = cs->style & BS_TYPEMASK;
    if (type == BS_DEFPUSHBUTTON && cs->id != id) cs->style = (cs->style & ~BS_TYPEMASK) | BS_PUSHBUTTON;
    if (type == BS_PUSHBUTTON && cs->id == id) cs->style = (cs->style & ~BS_TYPEMASK) | BS_DEFPUSHBUTTON;
  }
  DialogData* d = Data<DialogData>(dlg);
  d->def_id = id;
  d->def_set = true;
}

void FocusControl(HWND dlg, HWND ctl) {
  if (!ctl) return;
  ::SetFocus(ctl);
  if (!IsWindow(ctl) || ::GetFocus() != ctl) return;
  if (::SendMessage(ctl, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
    ::SendMessage(ctl, EM_SETSEL, 0, -1);
  (void)dlg;
}

}  // namespace

LRESULT DialogClassProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  WindowState* s = Find(h);
  if (!s) return 0;
  switch (msg) {
    case WM_NEXTDLGCTL: {
      CWnd* dlg = CWnd::FromHandle(h);
      HWND target = nullptr;
      if (LOWORD(static_cast<uintptr_t>(l))) {
        target = reinterpret_cast<HWND>(w);
      } else {
        CWnd* focus = CWnd::FromHandle(::GetFocus());
        if (focus && !dlg->IsChild(focus)) focus = nullptr;
        CWnd* next = dlg->GetNextDlgTabItem(focus, w != 0);
        target = next ? next->m_hWnd : nullptr;
      }
      FocusControl(h, target);
      return 0;
    }
    case DM_GETDEFID: {
      UINT id = DefaultId(h);
      return id ? static_cast<LRESULT>(MAKELONG(static_cast<WORD>(id), DC_HASDEFID)) : 0;
    }
    case DM_SETDEFID:
      SetDefaultId(h, static_cast<UINT>(w));
      return TRUE;
    case WM_CLOSE:
      ::SendMessage(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                    reinterpret_cast<LPARAM>(::GetDlgItem(h, IDCANCEL)));
      return 0;
    case WM_SETFOCUS: {
      CWnd* first = CWnd::FromHandle(h)->GetNextDlgTabItem(nullptr);
      if (first) FocusControl(h, first->m_hWnd);
      return 0;
    }
    case WM_ERASEBKGND: {
      CDC* dc = CDC::FromHandle(reinterpret_cast<HDC>(w));
      if (dc) dc->FillSolidRect(CRect(0, 0, s->rect.Width(), s->rect.Height()),
                                GetSysColor(COLOR_BTNFACE));
      return 1;
    }
    default:
      return DefaultClassProc(h, msg, w, l);
  }
}

}  // namespace detail
}  // namespace vkt::win

using vkt::win::detail::Find;

BOOL IsDialogMessage(HWND dlg, MSG* msg) {
  if (!msg || !IsWindow(dlg) || !msg->hwnd) return FALSE;
  CWnd* d = CWnd::FromHandle(dlg);
  if (msg->hwnd != dlg && !d->IsChild(CWnd::FromHandle(msg->hwnd))) return FALSE;
  if (msg->message == WM_KEYDOWN) {
    LRESULT code = ::SendMessage(msg->hwnd, WM_GETDLGCODE, msg->wParam,
                                 reinterpret_cast<LPARAM>(msg));
    bool shift = ::GetKeyState(VK_SHIFT) < 0;
    switch (msg->wParam) {
      case VK_TAB:
        if (code & (DLGC_WANTTAB | DLGC_WANTMESSAGE)) break;
        ::SendMessage(dlg, WM_NEXTDLGCTL, shift ? 1 : 0, 0);
        return TRUE;
      case VK_LEFT:
      case VK_RIGHT:
      case VK_UP:
      case VK_DOWN: {
        if (code & (DLGC_WANTARROWS | DLGC_WANTMESSAGE)) break;
        bool back = msg->wParam == VK_LEFT || msg->wParam == VK_UP;
        CWnd* ctl = CWnd::FromHandle(msg->hwnd);
        CWnd* next = d->GetNextDlgGroupItem(ctl, back);
        if (next && next != ctl) {
          vkt::win::detail::FocusControl(dlg, next->m_hWnd);
          if (IsWindow(next->m_hWnd) &&
              (::SendMessage(next->m_hWnd, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON))
            ::SendMessage(next->m_hWnd, BM_CLICK, 0, 0);
        }
        return TRUE;
      }
      case VK_RETURN: {
        if (code & DLGC_WANTMESSAGE) break;
        UINT id;
        HWND button;
        if (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) {
          button = msg->hwnd;
          id = static_cast<UINT>(::GetDlgCtrlID(button));
        } else {
          LRESULT def = ::SendMessage(dlg, DM_GETDEFID, 0, 0);
          id = HIWORD(static_cast<uintptr_t>(def)) == DC_HASDEFID ? LOWORD(static_cast<uintptr_t>(def))
                                                                  : static_cast<UINT>(IDOK);
          button = ::GetDlgItem(dlg, static_cast<int>(id));
        }
        if (button && !::IsWindowEnabled(button)) return TRUE;
        ::SendMessage(dlg, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                      reinterpret_cast<LPARAM>(button));
        return TRUE;
      }
      case VK_ESCAPE: {
        if (code & DLGC_WANTMESSAGE) break;
        HWND cancel = ::GetDlgItem(dlg, IDCANCEL);
        if (cancel && !::IsWindowEnabled(cancel)) return TRUE;
        ::SendMessage(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                      reinterpret_cast<LPARAM>(cancel));
        return TRUE;
      }
      default:
        break;
    }
  }
  ::TranslateMessage(msg);
  ::DispatchMessage(msg);
  return TRUE;
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (!dx || !dx->m_pDlgWnd || control.m_hWnd) return;
  control.SubclassDlgItem(static_cast<UINT>(id), dx->m_pDlgWnd);
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
  if (!dx || !dx->m_pDlgWnd) return;
  CWnd* ctl = dx->m_pDlgWnd->GetDlgItem(id);
  if (!ctl) return;
  if (dx->m_bSaveAndValidate) ctl->GetWindowText(value);
  else ctl->SetWindowText(value);
}

CDialog::CDialog() = default;
CDialog::CDialog(UINT template_id, CWnd* parent) : m_pParentWnd(parent), template_id_(template_id) {}
CDialog::CDialog(const char* template_name, CWnd* parent)
    : m_pParentWnd(parent), template_name_(template_name ? template_name : "") {}
CDialog::~CDialog() = default;

void CDialog::SetTemplate(const vkt::win::DialogTemplate& tmpl) {
  template_ = tmpl;
  has_template_ = true;
}

const vkt::win::DialogTemplate* CDialog::ResolveTemplate() const {
  if (has_template_) return &template_;
  if (!template_name_.empty()) return vkt::win::FindDialogTemplate(template_name_);
  return vkt::win::FindDialogTemplate(template_id_);
}

BOOL CDialog::CreateIndirect(const vkt::win::DialogTemplate& tmpl, CWnd* parent) {
  if (m_hWnd) return FALSE;
  if (parent) m_pParentWnd = parent;
  // Copied: the template may be the dialog's own and change in OnInitDialog.
  vkt::win::DialogTemplate t = tmpl;
  CRect in(1, 25, 1, 1);
  if ((t.style & WS_CAPTION) != WS_CAPTION) in.top = (t.style & WS_BORDER) ? 1 : 0;
  if (!(t.style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME))) in.left = in.right = in.bottom = 0;
  CRect r(t.rect.left, t.rect.top, t.rect.left + t.rect.Width() + in.left + in.right,
          t.rect.top + t.rect.Height() + in.top + in.bottom);
  if (t.style & WS_CHILD) r = t.rect;
  DWORD style = t.style & ~WS_VISIBLE;
  if (!CWnd::Create("#32770", t.caption.c_str(), style, r, m_pParentWnd, 0)) return FALSE;
  font_.DeleteObject();
  font_.CreateFontIndirect(&t.font);
  SetFont(&font_, FALSE);
  for (const auto& item : t.items) {
    HWND c = ::CreateWindowEx(item.ex_style, item.class_name.c_str(), item.text.c_str(),
                              item.style | WS_CHILD, item.rect, m_hWnd, item.id);
    if (c) ::SendMessage(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_.GetSafeHandle()), 0);
  }
  if (!IsWindow(m_hWnd)) return FALSE;
  HWND first = nullptr;
  if (CWnd* f = GetNextDlgTabItem(nullptr)) first = f->m_hWnd;
  HWND me = m_hWnd;
  LRESULT set_focus = SendMessage(WM_INITDIALOG, reinterpret_cast<WPARAM>(first), 0);
  if (!IsWindow(me)) return FALSE;
  if (t.style & WS_VISIBLE) ShowWindow(SW_SHOW);
  if (set_focus) {
    CWnd* f = GetNextDlgTabItem(nullptr);
    if (f) vkt::win::detail::FocusControl(m_hWnd, f->m_hWnd);
  }
  return IsWindow(me);
}

BOOL CDialog::Create(UINT template_id, CWnd* parent) {
  template_id_ = template_id;
  const vkt::win::DialogTemplate* t = ResolveTemplate();
  if (!t) return FALSE;
  vkt::win::DialogTemplate copy = *t;
  copy.style |= WS_VISIBLE;
  return CreateIndirect(copy, parent);
}

intptr_t CDialog::DoModal() {
  const vkt::win::DialogTemplate* t = ResolveTemplate();
  if (!t || m_hWnd) return -1;
  HWND previous_focus = ::GetFocus();
  CWnd* owner = m_pParentWnd;
  if (!owner) owner = CWnd::FromHandle(::GetActiveWindow());
  HWND owner_top = owner ? owner->GetTopLevelParent()->m_hWnd : nullptr;
  bool disabled_owner = owner_top && ::IsWindowEnabled(owner_top);
  BeginModalState();
  vkt::win::DialogTemplate copy = *t;
  copy.style |= WS_VISIBLE;
  m_pParentWnd = owner_top ? CWnd::FromHandle(owner_top) : nullptr;
  if (disabled_owner) ::EnableWindow(owner_top, FALSE);
  intptr_t result = -1;
  if (CreateIndirect(copy, m_pParentWnd)) {
    ::SetActiveWindow(m_hWnd);
    result = RunModalLoop();
  } else {
    EndModalLoop(-1);
    RunModalLoop();
  }
  if (disabled_owner && IsWindow(owner_top)) ::EnableWindow(owner_top, TRUE);
  if (m_hWnd) {
    ShowWindow(SW_HIDE);
    DestroyWindow();
  }
  if (owner_top && IsWindow(owner_top)) ::SetActiveWindow(owner_top);
  if (previous_focus && IsWindow(previous_focus)) ::SetFocus(previous_focus);
  return result;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }
void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL save) {
  CDataExchange dx(this, save);
  DoDataExchange(&dx);
  return TRUE;
}

void CDialog::EndDialog(int result) {
  EndModalLoop(result);
  if (m_hWnd && !ContinueModal()) ShowWindow(SW_HIDE);
}

void CDialog::NextDlgCtrl() { SendMessage(WM_NEXTDLGCTL, 0, 0); }
void CDialog::PrevDlgCtrl() { SendMessage(WM_NEXTDLGCTL, 1, 0); }
void CDialog::GotoDlgCtrl(CWnd* ctl) {
  if (ctl) SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(ctl->m_hWnd), 1);
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  if (CWnd::PreTranslateMessage(msg)) return TRUE;
  bool input = (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) ||
               (msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSELAST);
  if (!input) return FALSE;
  return ::IsDialogMessage(m_hWnd, msg);
}

LRESULT CDialog::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_INITDIALOG) return OnInitDialog();
  return CWnd::WindowProc(msg, w, l);
}

BOOL CDialog::OnCmdMsg(UINT id, int code, void* extra, void* handler_info) {
  if (code == CN_COMMAND) {
    if (id == IDOK) {
      OnOK();
      return TRUE;
    }
    if (id == IDCANCEL) {
      OnCancel();
      return TRUE;
    }
  }
  return CWnd::OnCmdMsg(id, code, extra, handler_info);
}
