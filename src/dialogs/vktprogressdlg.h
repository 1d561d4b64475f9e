// A small modeless window that long operations show while they run: a
// caption, a status line, a progress bar with its percentage and an
// "&Esci" button. The operation runs on the user-interface thread and calls
// the dialog between units of work; every call that moves the bar pumps
// the window messages, so the window repaints and the button can be
// pressed. The owner window stays disabled while the dialog is up.
//
//   CVKTProgressDlg dlg;                 // caption "Attendere .."
//   dlg.Create(this);
//   dlg.SetRange(0, count);              // 32-bit: any record count
//   for (int i = 0; i < count; ++i) {
//     Work(i);
//     dlg.SetPos(i + 1);
//     if (dlg.CheckCancelButton()) break;
//   }
//   dlg.DestroyWindow();                 // the owner is enabled again
#ifndef VKT_DIALOGS_VKTPROGRESSDLG_H_
#define VKT_DIALOGS_VKTPROGRESSDLG_H_

#include "controls/vktbutton.h"
#include "dialogs/vktdialog.h"
#include "dialogs/vktresources.h"
#include "vkt_export.h"
#include "win/progress.h"

class VKT_API CVKTProgressDlg : public CVKTDialog {
 public:
  // `caption_id` 0: "Attendere ..".
  explicit CVKTProgressDlg(UINT caption_id = 0);
  ~CVKTProgressDlg() override;

  // 1 when the window is up, 0 when it could not be created (the owner
  // is then enabled again).
  int Create(CWnd* parent);

  void SetStatus(const char* text);
  void SetRange(int lower, int upper);
  // The previous step.
  int SetStep(int step);
  // The previous position; 0 once the window is gone.
  int SetPos(int pos);
  int OffsetPos(int delta);
  int StepIt();
  // Non-zero once after the user pressed the button, Escape or Enter on
  // it; pumps the messages first.
  int CheckCancelButton();
  void HideCancel();
  void HideProgress(bool hide);
  BOOL DestroyWindow() override;

  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCmdMsg(UINT id, int code, void* extra, void* handler_info) override;
  void OnOK() override;
  void OnCancel() override;
  void OnClickCancel();

  int lower() const { return lower_; }
  int upper() const { return upper_; }

  CProgressCtrl m_bar;
  CVKTButton m_cancel;

 private:
  // Runs the waiting messages; a quit request stops the pump and is put
  // back for the outer loop.
  void PumpMessages();
  void UpdatePercent(int pos);
  bool Alive() const { return m_hWnd != nullptr && IsWindow(m_hWnd); }

  UINT caption_id_;
  int lower_ = 0;
  int upper_ = 100;
  int step_ = 10;
  BOOL cancelled_ = FALSE;
  BOOL owner_disabled_ = FALSE;
  HWND owner_ = nullptr;
};

#endif  // VKT_DIALOGS_VKTPROGRESSDLG_H_
