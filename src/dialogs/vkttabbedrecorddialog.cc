#include "dialogs/vkttabbedrecorddialog.h"

#include "controls/vkteditbase.h"
#include "dialogs/vktrecorddialog.h"
#include "frame/vktapp.h"

CVKTTabbedRecordDialog::CVKTTabbedRecordDialog(CWnd* parent) : CVKTTabsDialog(parent) {}
CVKTTabbedRecordDialog::CVKTTabbedRecordDialog(UINT template_id, CWnd* parent)
    : CVKTTabsDialog(template_id, parent) {}
CVKTTabbedRecordDialog::CVKTTabbedRecordDialog(const char* template_name, CWnd* parent)
    : CVKTTabsDialog(template_name, parent) {}

CVKTTabbedRecordDialog::~CVKTTabbedRecordDialog() {
  if (m_toolBar.m_hWnd) m_toolBar.DestroyWindow();
}

long CVKTTabbedRecordDialog::OnKickIdle(unsigned int, long) {
  if (m_toolBar.m_hWnd && IsWindow(m_toolBar.m_hWnd)) m_toolBar.SendMessage(WM_IDLEUPDATECMDUI, TRUE, 0);
  return 0;
}

int CVKTTabbedRecordDialog::OnRecordLookup(int) { return 0; }
void CVKTTabbedRecordDialog::OnRecordHelp() {}
void CVKTTabbedRecordDialog::OnRecordNuovo() {}
void CVKTTabbedRecordDialog::OnUpdateRecordNuovo(CCmdUI* ui) { ui->Enable(TRUE); }
void CVKTTabbedRecordDialog::OnRecordSalva() {}
void CVKTTabbedRecordDialog::OnUpdateRecordSalva(CCmdUI* ui) { ui->Enable(TRUE); }
void CVKTTabbedRecordDialog::OnRecordElimina() {}
void CVKTTabbedRecordDialog::OnUpdateRecordElimina(CCmdUI* ui) {
  ui->Enable(m_newRecord == 0 || (m_newRecord == 1 && m_deleteWhenNew == 1));
}
void CVKTTabbedRecordDialog::OnRecordPrec() {}
void CVKTTabbedRecordDialog::OnUpdateRecordPrec(CCmdUI* ui) {
  ui->Enable(m_newRecord != 1 && m_singleRecord != 1);
}
void CVKTTabbedRecordDialog::OnRecordSucc() {}
void CVKTTabbedRecordDialog::OnUpdateRecordSucc(CCmdUI* ui) { OnUpdateRecordPrec(ui); }
void CVKTTabbedRecordDialog::OnRecordAnnulla() {}
void CVKTTabbedRecordDialog::OnUpdateRecordAnnulla(CCmdUI* ui) { ui->Enable(TRUE); }
void CVKTTabbedRecordDialog::OnRecordCerca() {}
void CVKTTabbedRecordDialog::OnUpdateRecordCerca(CCmdUI* ui) { OnUpdateRecordPrec(ui); }

BOOL CVKTTabbedRecordDialog::OnInitDialog() {
  CVKTTabsDialog::OnInitDialog();
  if (CreateToolBar() != 0) return vkt::dialogs::FailDialogCreation(this);
  // The tabs start below the tool bar, whatever the template put there.
  if (m_Tabs.m_hWnd && m_toolBar.m_hWnd) {
    CRect bar, tabs;
    m_toolBar.GetWindowRect(&bar);
    ScreenToClient(&bar);
    m_Tabs.GetWindowRect(&tabs);
    ScreenToClient(&tabs);
    if (tabs.top < bar.bottom + 4) {
      tabs.top = bar.bottom + 4;
      if (tabs.bottom > tabs.top + 40) MoveTabControl(tabs);
    }
  }
  return TRUE;
}

short CVKTTabbedRecordDialog::CreateToolBar() {
  return vkt::dialogs::CreateRecordToolBar(this, m_toolBar, m_newRecord == 1 || m_singleRecord == 1,
                                           m_buttons);
}

void CVKTTabbedRecordDialog::OnRecordSalvaImpl() {
  // A field the user chose to correct stops the save.
  if (!m_toolBar.ForceKillFocus()) return;
  OnRecordSalva();
}

BOOL CVKTTabbedRecordDialog::OnCmdMsg(UINT id, int code, void* extra, void* handler_info) {
  if (code == CN_UPDATE_COMMAND_UI && extra) {
    CCmdUI* ui = static_cast<CCmdUI*>(extra);
    switch (id) {
      case ID_RECORD_NUOVO: OnUpdateRecordNuovo(ui); return TRUE;
      case ID_RECORD_SALVA: OnUpdateRecordSalva(ui); return TRUE;
      case ID_RECORD_ELIMINA: OnUpdateRecordElimina(ui); return TRUE;
      case ID_RECORD_PREC: OnUpdateRecordPrec(ui); return TRUE;
      case ID_RECORD_SUCC: OnUpdateRecordSucc(ui); return TRUE;
      case ID_RECORD_ANNULLA: OnUpdateRecordAnnulla(ui); return TRUE;
      case ID_RECORD_CERCA: OnUpdateRecordCerca(ui); return TRUE;
      default: break;
    }
  } else if (code == CN_COMMAND) {
    switch (id) {
      case ID_RECORD_NUOVO: OnRecordNuovo(); return TRUE;
      case ID_RECORD_SALVA: OnRecordSalvaImpl(); return TRUE;
      case ID_RECORD_ELIMINA: OnRecordElimina(); return TRUE;
      case ID_RECORD_PREC: OnRecordPrec(); return TRUE;
      case ID_RECORD_SUCC: OnRecordSucc(); return TRUE;
      case ID_RECORD_ANNULLA: OnRecordAnnulla(); return TRUE;
      case ID_RECORD_CERCA: OnRecordCerca(); return TRUE;
      default: break;
    }
  }
  return CVKTTabsDialog::OnCmdMsg(id, code, extra, handler_info);
}

LRESULT CVKTTabbedRecordDialog::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_KICKIDLE) return OnKickIdle(static_cast<unsigned int>(w), static_cast<long>(l));
  return CVKTTabsDialog::WindowProc(msg, w, l);
}

HWND CVKTTabbedRecordDialog::KeyTarget(const MSG* msg) const {
  if (msg->hwnd != m_hWnd) return msg->hwnd;
  HWND focus = ::GetFocus();
  return focus && IsChild(CWnd::FromHandle(focus)) ? focus : msg->hwnd;
}

BOOL CVKTTabbedRecordDialog::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) {
    m_toolBar.ResetButtons();
    HWND target = KeyTarget(msg);
    switch (msg->wParam) {
      case VK_RETURN: {
        // The next field of the page that holds the focus.
        HWND holder = target != m_hWnd ? ::GetParent(target) : m_hWnd;
        CWnd* dlg = CWnd::FromHandlePermanent(holder);
        if (!dynamic_cast<CDialog*>(dlg)) holder = m_hWnd;
        ::SendMessage(holder, WM_NEXTDLGCTL, 0, 0);
        return TRUE;
      }
      case VK_ESCAPE:
        OnCancel();
        return TRUE;
      case VK_SPACE:
      case VK_F10:
        if (OnRecordLookup(::GetDlgCtrlID(target)) == 1) return TRUE;
        break;
      case VK_F1:
        OnRecordHelp();
        return TRUE;
      case VK_F2:
        if (m_toolBar.IsButtonEnabled(ID_RECORD_SALVA)) {
          OnRecordSalvaImpl();
          if (m_toolBar.m_hWnd) m_toolBar.PressButton(ID_RECORD_SALVA, 1);
        }
        return TRUE;
      case VK_F3:
      case VK_F4:
      case VK_F5: {
        UINT id = msg->wParam == VK_F3 ? ID_RECORD_PREC : msg->wParam == VK_F4 ? ID_RECORD_SUCC : ID_RECORD_CERCA;
        if (m_toolBar.IsButtonEnabled(id)) {
          m_toolBar.PressButton(id, 1);
          // The focus stays in the page's field.
          if (id == ID_RECORD_PREC) OnRecordPrec();
          else if (id == ID_RECORD_SUCC) OnRecordSucc();
          else OnRecordCerca();
        }
        return TRUE;
      }
      case VK_F6:
        if (m_toolBar.IsButtonEnabled(ID_RECORD_ELIMINA)) {
          m_toolBar.PressButton(ID_RECORD_ELIMINA, 1);
          OnRecordElimina();
          return TRUE;
        }
        break;
      case VK_F11:
        if (vktpar != nullptr && vktpar->VopidFunc != nullptr) vktpar->VopidFunc();
        return TRUE;
      case VK_F12:
        Calc();
        break;
      default:
        break;
    }
    // A key a page passed on and nobody here took goes on to the field it
    // was pressed in.
    if (target != msg->hwnd && IsWindow(target)) msg->hwnd = target;
  } else if (msg->message == WM_LBUTTONDBLCLK) {
    m_toolBar.ResetButtons();
    if (dynamic_cast<CVKTEditCtrlBase*>(CWnd::FromHandlePermanent(msg->hwnd)) &&
        OnRecordLookup(::GetDlgCtrlID(msg->hwnd)) == 1)
      return TRUE;
  } else if (msg->message == WM_MOUSEMOVE) {
    m_toolBar.ResetButtons();
  }
  return CVKTTabsDialog::PreTranslateMessage(msg);
}
