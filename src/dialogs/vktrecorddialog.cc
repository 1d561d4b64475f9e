#include "dialogs/vktrecorddialog.h"

#include "controls/vktedit.h"
#include "controls/vkteditbase.h"
#include "frame/vktapp.h"
#include "win/services.h"


CVKTRecordDialog::CVKTRecordDialog(CWnd* parent) : CVKTDialog(parent) {}
CVKTRecordDialog::CVKTRecordDialog(UINT template_id, CWnd* parent) : CVKTDialog(template_id, parent) {}
CVKTRecordDialog::CVKTRecordDialog(const char* template_name, CWnd* parent)
    : CVKTDialog(template_name, parent) {}

CVKTRecordDialog::~CVKTRecordDialog() {
  if (m_toolBar.m_hWnd) m_toolBar.DestroyWindow();
}

long CVKTRecordDialog::OnKickIdle(unsigned int, long) {
  if (m_toolBar.m_hWnd && IsWindow(m_toolBar.m_hWnd)) m_toolBar.SendMessage(WM_IDLEUPDATECMDUI, TRUE, 0);
  return 0;
}

int CVKTRecordDialog::OnRecordLookup(int) { return 0; }
void CVKTRecordDialog::OnRecordHelp() {}
void CVKTRecordDialog::OnRecordNuovo() {}
void CVKTRecordDialog::OnUpdateRecordNuovo(CCmdUI* ui) { ui->Enable(TRUE); }
void CVKTRecordDialog::OnRecordSalva() {}
void CVKTRecordDialog::OnUpdateRecordSalva(CCmdUI* ui) { ui->Enable(TRUE); }
void CVKTRecordDialog::OnRecordElimina() {}
void CVKTRecordDialog::OnUpdateRecordElimina(CCmdUI* ui) { ui->Enable(m_newRecord != 1); }
void CVKTRecordDialog::OnRecordPrec() {}
void CVKTRecordDialog::OnUpdateRecordPrec(CCmdUI* ui) {
  ui->Enable(m_newRecord != 1 && m_singleRecord != 1);
}
void CVKTRecordDialog::OnRecordSucc() {}
void CVKTRecordDialog::OnUpdateRecordSucc(CCmdUI* ui) { OnUpdateRecordPrec(ui); }
void CVKTRecordDialog::OnRecordAnnulla() {}
void CVKTRecordDialog::OnUpdateRecordAnnulla(CCmdUI* ui) { ui->Enable(TRUE); }
void CVKTRecordDialog::OnRecordCerca() {}
void CVKTRecordDialog::OnUpdateRecordCerca(CCmdUI* ui) { OnUpdateRecordPrec(ui); }

void CVKTRecordDialog::DoDataExchange(CDataExchange* dx) { CVKTDialog::DoDataExchange(dx); }

BOOL CVKTRecordDialog::OnInitDialog() {
  CVKTDialog::OnInitDialog();
  if (CreateToolBar() != 0) return vkt::dialogs::FailDialogCreation(this);
  return TRUE;
}

short CVKTRecordDialog::CreateToolBar() {
  return vkt::dialogs::CreateRecordToolBar(this, m_toolBar, m_newRecord == 1 || m_singleRecord == 1, m_buttons);
}

namespace vkt::dialogs {

short CreateRecordToolBar(CWnd* dlg, CVKTToolBar& bar, bool only_save, unsigned char buttons) {
  RegisterDialogResources();
  if (bar.BeginCreate(dlg) != 0) return 1;
  struct Def {
    unsigned bit;
    unsigned icon;
    UINT id;
    const char* caption;
  };
  static const Def kDefs[] = {
      {1, IDI_RECORD_SALVA, ID_RECORD_SALVA, "F2 - Sa&lva"},
      {2, IDI_RECORD_PREC, ID_RECORD_PREC, "F3 - &Prec."},
      {4, IDI_RECORD_SUCC, ID_RECORD_SUCC, "F4 - &Succ."},
      {8, IDI_RECORD_CERCA, ID_RECORD_CERCA, "F5 - &Cerca"},
      {16, IDI_RECORD_ELIMINA, ID_RECORD_ELIMINA, "F6 - &Elimina"},
      {32, IDI_RECORD_ANNULLA, ID_RECORD_ANNULLA, "&Ricarica"},
  };
  for (const Def& d : kDefs) {
    if (only_save ? d.id != ID_RECORD_SALVA : !(buttons & d.bit)) continue;
    bar.AddButton(d.icon, d.id, d.caption, xtpButtonIconAndCaption);
    bar.SetButtonTooltip(d.id, CString(LibraryString(d.id)));
  }
  bar.EndCreate();
  return 0;
}

}  // namespace vkt::dialogs

void CVKTRecordDialog::OnRecordNuovoImpl() {
  OnRecordNuovo();
  m_toolBar.SetButtonFocus(ID_RECORD_NUOVO);
}

void CVKTRecordDialog::OnRecordSalvaImpl() {
  // The focused field finishes first; a field the user chose to correct
  // stops the save (with `silent` the question takes its Yes, so a silent
  // save never writes an invalid field either).
  if (!m_toolBar.ForceKillFocus()) return;
  OnRecordSalva();
}

void CVKTRecordDialog::OnRecordEliminaImpl() {
  OnRecordElimina();
  m_toolBar.SetButtonFocus(ID_RECORD_ELIMINA);
}

void CVKTRecordDialog::OnRecordPrecImpl() {
  OnRecordPrec();
  m_toolBar.SetButtonFocus(ID_RECORD_PREC);
}

void CVKTRecordDialog::OnRecordSuccImpl() {
  OnRecordSucc();
  m_toolBar.SetButtonFocus(ID_RECORD_SUCC);
}

void CVKTRecordDialog::OnRecordAnnullaImpl() {
  OnRecordAnnulla();
  m_toolBar.SetButtonFocus(ID_RECORD_ANNULLA);
}

void CVKTRecordDialog::OnRecordCercaImpl() {
  OnRecordCerca();
  m_toolBar.SetButtonFocus(ID_RECORD_CERCA);
}

void CVKTRecordDialog::Feedback(UINT id) {
  if (m_pressFeedback == 1) m_toolBar.PressButton(id, 1);
}

BOOL CVKTRecordDialog::OnCmdMsg(UINT id, int code, void* extra, void* handler_info) {
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
      case ID_RECORD_NUOVO: OnRecordNuovoImpl(); return TRUE;
      case ID_RECORD_SALVA: OnRecordSalvaImpl(); return TRUE;
      case ID_RECORD_ELIMINA: OnRecordEliminaImpl(); return TRUE;
      case ID_RECORD_PREC: OnRecordPrecImpl(); return TRUE;
      case ID_RECORD_SUCC: OnRecordSuccImpl(); return TRUE;
      case ID_RECORD_ANNULLA: OnRecordAnnullaImpl(); return TRUE;
      case ID_RECORD_CERCA: OnRecordCercaImpl(); return TRUE;
      default: break;
    }
  }
  return CVKTDialog::OnCmdMsg(id, code, extra, handler_info);
}

LRESULT CVKTRecordDialog::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_KICKIDLE) return OnKickIdle(static_cast<unsigned int>(w), static_cast<long>(l));
  return CVKTDialog::WindowProc(msg, w, l);
}

void CVKTRecordDialog::OnDestroy() { CVKTDialog::OnDestroy(); }

BOOL CVKTRecordDialog::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) {
    m_toolBar.ResetButtons();
    switch (msg->wParam) {
      case VK_RETURN:
        SendMessage(WM_NEXTDLGCTL, 0, 0);
        return TRUE;
      case VK_ESCAPE:
        OnCancel();
        return TRUE;
      case VK_SPACE:
      case VK_F10:
        if (OnRecordLookup(::GetDlgCtrlID(msg->hwnd)) == 1) return TRUE;
        break;
      case VK_F1:
        OnRecordHelp();
        return TRUE;
      case VK_F2:
        if (m_toolBar.IsButtonEnabled(ID_RECORD_SALVA)) {
          OnRecordSalvaImpl();
          Feedback(ID_RECORD_SALVA);
        }
        return TRUE;
      case VK_F3:
      case VK_F4:
      case VK_F5: {
        UINT id = msg->wParam == VK_F3 ? ID_RECORD_PREC : msg->wParam == VK_F4 ? ID_RECORD_SUCC : ID_RECORD_CERCA;
        if (m_toolBar.IsButtonEnabled(id)) {
          Feedback(id);
          if (id == ID_RECORD_PREC) OnRecordPrecImpl();
          else if (id == ID_RECORD_SUCC) OnRecordSuccImpl();
          else OnRecordCercaImpl();
        }
        return TRUE;
      }
      case VK_F6:
        if (m_toolBar.IsButtonEnabled(ID_RECORD_ELIMINA)) {
          Feedback(ID_RECORD_ELIMINA);
          OnRecordEliminaImpl();
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
  } else if (msg->message == WM_LBUTTONDBLCLK) {
    m_toolBar.ResetButtons();
    if (dynamic_cast<CVKTEditCtrlBase*>(CWnd::FromHandlePermanent(msg->hwnd)) &&
        OnRecordLookup(::GetDlgCtrlID(msg->hwnd)) == 1)
      return TRUE;
  } else if (msg->message == WM_MOUSEMOVE) {
    m_toolBar.ResetButtons();
  }
  return CVKTDialog::PreTranslateMessage(msg);
}
