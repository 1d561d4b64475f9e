#include "dialogs/vktbrowsedialog.h"

#include <cstring>

#include "frame/vktapp.h"
#include "win/appwnd.h"

CVKTRecordBrowseDialog::CVKTRecordBrowseDialog(CWnd* parent) : CVKTDialog(parent) {}
CVKTRecordBrowseDialog::CVKTRecordBrowseDialog(UINT template_id, CWnd* parent)
    : CVKTDialog(template_id, parent) {}
CVKTRecordBrowseDialog::CVKTRecordBrowseDialog(const char* template_name, CWnd* parent)
    : CVKTDialog(template_name, parent) {}

CVKTRecordBrowseDialog::~CVKTRecordBrowseDialog() {
  if (m_toolBar.m_hWnd) m_toolBar.DestroyWindow();
}

void CVKTRecordBrowseDialog::OnRecordBrowseHelp() {}
void CVKTRecordBrowseDialog::OnRecordBrowseNuovo() {}
void CVKTRecordBrowseDialog::OnUpdateRecordBrowseNuovo(CCmdUI* ui) { ui->Enable(TRUE); }
void CVKTRecordBrowseDialog::OnRecordBrowseApri() {}
void CVKTRecordBrowseDialog::OnUpdateRecordBrowseApri(CCmdUI* ui) { ui->Enable(TRUE); }
void CVKTRecordBrowseDialog::OnRecordBrowseSeleziona() {}
void CVKTRecordBrowseDialog::OnUpdateRecordBrowseSeleziona(CCmdUI* ui) { ui->Enable(TRUE); }
void CVKTRecordBrowseDialog::OnRecordBrowseStampa() {}
void CVKTRecordBrowseDialog::OnUpdateRecordBrowseStampa(CCmdUI* ui) { ui->Enable(TRUE); }
void CVKTRecordBrowseDialog::OnRecordBrowseElimina() {}
void CVKTRecordBrowseDialog::OnUpdateRecordBrowseElimina(CCmdUI* ui) { ui->Enable(TRUE); }

long CVKTRecordBrowseDialog::OnKickIdle(unsigned int, long) {
  // The tool bar lives in the dialog, not in a frame's command bars: it is
  // asked directly, so that the host's update operations take effect.
  if (m_toolBar.m_hWnd && IsWindow(m_toolBar.m_hWnd)) m_toolBar.SendMessage(WM_IDLEUPDATECMDUI, TRUE, 0);
  return 0;
}

void CVKTRecordBrowseDialog::DoDataExchange(CDataExchange* dx) { CVKTDialog::DoDataExchange(dx); }

BOOL CVKTRecordBrowseDialog::OnInitDialog() {
  CVKTDialog::OnInitDialog();
  if (CreateToolBar() != 0) return vkt::dialogs::FailDialogCreation(this);
  PlaceBesideMainWindow();
  SetUpGrid();
  return TRUE;
}

short CVKTRecordBrowseDialog::CreateToolBar() {
  vkt::dialogs::RegisterDialogResources();
  if (m_toolBar.BeginCreate(this) != 0) return 1;
  struct Def {
    unsigned bit;
    unsigned icon;
    UINT id;
    const char* caption;
  };
  // In this order, whatever the bits.
  static const Def kDefs[] = {
      {1, IDI_RECORD_OK, ID_RECORD_SELEZIONA, "F2 - &OK"},
      {2, IDI_RECORD_NUOVO, ID_RECORD_NUOVO, "F3 - &Nuovo"},
      {4, IDI_RECORD_MODIFICA, ID_RECORD_APRI, "F4 - &Modifica"},
      {16, IDI_RECORD_ELIMINA, ID_RECORD_ELIMINA, "F6 - &Canc"},
      {8, IDI_RECORD_STAMPA, ID_RECORD_STAMPA, "F7 - &Stampa"},
  };
  for (const Def& d : kDefs) {
    if (!(m_buttons & d.bit)) continue;
    m_toolBar.AddButton(d.icon, d.id, d.caption, xtpButtonIconAndCaption);
    m_toolBar.SetButtonTooltip(d.id, CString(vkt::dialogs::LibraryString(d.id)));
  }
  m_toolBar.EndCreate();
  return 0;
}

void CVKTRecordBrowseDialog::PlaceBesideMainWindow() {
  CWnd* main = AfxGetMainWnd();
  if (!main || main->m_hWnd == m_hWnd) return;
  CRect mine, frame;
  GetWindowRect(&mine);
  main->GetWindowRect(&frame);
  int left = frame.right - mine.Width() - 20;
  int top = frame.top + 115;
  SetWindowPos(nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Invalidate();
}

void CVKTRecordBrowseDialog::SetUpGrid() {
  if (vktpar != nullptr)
    m_grid.LoadAppearance(std::string(vktpar->skin_ini, strnlen(vktpar->skin_ini, sizeof vktpar->skin_ini)));
  m_grid.SetProperty(kSpreadProp110, MakeVariant(int32_t{2}));
  m_grid.SetProperty(kSpreadProp108, MakeVariant(false));
  m_grid.SetProperty(kSpreadProp200, MakeVariant(int32_t{1000}));
  m_grid.SetProperty(kSpreadProp201, MakeVariant(int32_t{0}));
  m_grid.SetProperty(kSpreadProp199, MakeVariant(true));
}

BOOL CVKTRecordBrowseDialog::OnCmdMsg(UINT id, int code, void* extra, void* handler_info) {
  if (code == CN_UPDATE_COMMAND_UI && extra) {
    CCmdUI* ui = static_cast<CCmdUI*>(extra);
    switch (id) {
      case ID_RECORD_SELEZIONA: OnUpdateRecordBrowseSeleziona(ui); return TRUE;
      case ID_RECORD_NUOVO: OnUpdateRecordBrowseNuovo(ui); return TRUE;
      case ID_RECORD_APRI: OnUpdateRecordBrowseApri(ui); return TRUE;
      case ID_RECORD_ELIMINA: OnUpdateRecordBrowseElimina(ui); return TRUE;
      case ID_RECORD_STAMPA: OnUpdateRecordBrowseStampa(ui); return TRUE;
      default: break;
    }
  } else if (code == CN_COMMAND) {
    switch (id) {
      case ID_RECORD_SELEZIONA: OnRecordBrowseSeleziona(); return TRUE;
      case ID_RECORD_NUOVO: OnRecordBrowseNuovo(); return TRUE;
      case ID_RECORD_APRI: OnRecordBrowseApri(); return TRUE;
      case ID_RECORD_ELIMINA: OnRecordBrowseElimina(); return TRUE;
      case ID_RECORD_STAMPA: OnRecordBrowseStampa(); return TRUE;
      default: break;
    }
  }
  return CVKTDialog::OnCmdMsg(id, code, extra, handler_info);
}

LRESULT CVKTRecordBrowseDialog::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_KICKIDLE) return OnKickIdle(static_cast<unsigned int>(w), static_cast<long>(l));
  return CVKTDialog::WindowProc(msg, w, l);
}

void CVKTRecordBrowseDialog::OnDestroy() {
  DisconnectQuietly();
  CVKTDialog::OnDestroy();
}

void CVKTRecordBrowseDialog::OnChar(UINT ch, UINT repeat, UINT flags) {
  CVKTDialog::OnChar(ch, repeat, flags);
}

BOOL CVKTRecordBrowseDialog::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN) {
    m_toolBar.ResetButtons();
    bool shift = ::GetKeyState(VK_SHIFT) < 0;
    auto act = [&](UINT id, void (CVKTRecordBrowseDialog::*action)()) {
      if (m_toolBar.IsButtonEnabled(id)) {
        m_toolBar.PressButton(id, 1);
        (this->*action)();
      }
      return TRUE;
    };
    switch (msg->wParam) {
      case VK_RETURN:
        if (OnGrid(msg)) OnRecordBrowseSeleziona();
        else SendMessage(WM_NEXTDLGCTL, 0, 0);
        return TRUE;
      case VK_ESCAPE:
        OnCancel();
        return TRUE;
      case VK_UP: {
        int rows = m_grid.GetLongProperty(kSpreadMaxRows, 0);
        int active = m_grid.GetLongProperty(kSpreadActiveRow, 0);
        if (!OnGrid(msg) || active == 1 || shift || rows < 1) {
          SendMessage(WM_NEXTDLGCTL, 1, 0);
          return TRUE;
        }
        break;  // the grid moves up
      }
      case VK_DOWN: {
        int rows = m_grid.GetLongProperty(kSpreadMaxRows, 0);
        int active = m_grid.GetLongProperty(kSpreadActiveRow, 0);
        if (OnGrid(msg) && active != rows && !shift && rows >= 1) break;  // the grid moves down
        SendMessage(WM_NEXTDLGCTL, 0, 0);
        return TRUE;
      }
      case VK_F1:
        OnRecordBrowseHelp();
        break;
      case VK_F2: return act(ID_RECORD_SELEZIONA, &CVKTRecordBrowseDialog::OnRecordBrowseSeleziona);
      case VK_F3: return act(ID_RECORD_NUOVO, &CVKTRecordBrowseDialog::OnRecordBrowseNuovo);
      case VK_F4: return act(ID_RECORD_APRI, &CVKTRecordBrowseDialog::OnRecordBrowseApri);
      case VK_F6: return act(ID_RECORD_ELIMINA, &CVKTRecordBrowseDialog::OnRecordBrowseElimina);
      case VK_F7: return act(ID_RECORD_STAMPA, &CVKTRecordBrowseDialog::OnRecordBrowseStampa);
      case VK_F12:
        Calc();
        break;
      default:
        break;
    }
  }
  return CVKTDialog::PreTranslateMessage(msg);
}
