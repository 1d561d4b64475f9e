// The base of the list windows: a spreadsheet grid of records, a tool bar
// of browse commands with their function keys, grid-aware arrows and
// placement beside the application's main window. The host's dialog fills
// the grid and implements the virtual operations (typically by opening its
// record dialog on the chosen row).
//
//   class CClientiBrowse : public CVKTRecordBrowseDialog {
//     void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_GRID, m_grid); }
//     BOOL OnInitDialog() override {
//       CVKTRecordBrowseDialog::OnInitDialog();
//       Fill();
//       return TRUE;
//     }
//     void OnRecordBrowseApri() override { CClienteDlg dlg(Key(m_grid.GetActiveRow())); dlg.DoModal(); Fill(); }
//   };
//
// Keys (key-down only): Enter on the grid selects, elsewhere moves on;
// Up/Down move in the grid and leave it at its ends; F2 select, F3 new,
// F4 modify, F6 delete, F7 print; F1 help and F12 the calculator go on to
// the focused control, and so do F5 and F11.
#ifndef VKT_DIALOGS_VKTBROWSEDIALOG_H_
#define VKT_DIALOGS_VKTBROWSEDIALOG_H_

#include "controls/vkttoolbar.h"
#include "dialogs/vktdialog.h"
#include "dialogs/vktresources.h"
#include "saapi/sastring.h"
#include "vkt_export.h"
#include "win/spreadsheet.h"

class VKT_API CVKTRecordBrowseDialog : public CVKTDialog {
 public:
  explicit CVKTRecordBrowseDialog(CWnd* parent = nullptr);
  explicit CVKTRecordBrowseDialog(UINT template_id, CWnd* parent = nullptr);
  explicit CVKTRecordBrowseDialog(const char* template_name, CWnd* parent = nullptr);
  ~CVKTRecordBrowseDialog() override;

  unsigned char m_hostBytes[6] = {};
  CSpreadSheet m_grid;
  CVKTToolBar m_toolBar;
  SAString m_sql1;
  SAString m_sql2;
  SAString m_sql3;
  // Set before OnInitDialog: 1 OK, 2 Nuovo, 4 Modifica, 8 Stampa, 16 Canc.
  unsigned char m_buttons = 7;

  // --- The host's operations (user-interface thread; must not throw).
  virtual void OnRecordBrowseHelp();
  virtual void OnRecordBrowseNuovo();
  virtual void OnUpdateRecordBrowseNuovo(CCmdUI* ui);
  virtual void OnRecordBrowseApri();
  virtual void OnUpdateRecordBrowseApri(CCmdUI* ui);
  virtual void OnRecordBrowseSeleziona();
  virtual void OnUpdateRecordBrowseSeleziona(CCmdUI* ui);
  virtual void OnRecordBrowseStampa();
  virtual void OnUpdateRecordBrowseStampa(CCmdUI* ui);
  virtual void OnRecordBrowseElimina();
  virtual void OnUpdateRecordBrowseElimina(CCmdUI* ui);

  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCmdMsg(UINT id, int code, void* extra, void* handler_info) override;
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;
  // Closes the dialog's connection (a failure is logged, never thrown).
  void OnDestroy() override;
  void OnChar(UINT ch, UINT repeat, UINT flags) override;
  // The idle step (WM_KICKIDLE): the buttons' enabled state from the
  // update operations; returns 0.
  long OnKickIdle(unsigned int wparam, long lparam);

 protected:
  // 0 when the tool bar exists, 1 when it could not be created.
  short CreateToolBar();

 private:
  void PlaceBesideMainWindow();
  void SetUpGrid();
  bool OnGrid(const MSG* msg) const { return m_grid.m_hWnd && msg->hwnd == m_grid.m_hWnd; }
};

#endif  // VKT_DIALOGS_VKTBROWSEDIALOG_H_
