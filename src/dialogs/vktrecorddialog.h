// The base of every dialog that edits one record: a tool bar of record
// commands across the top, their function keys, their enabled state kept
// current while the dialog is idle, and each command routed to a virtual
// operation the host's dialog implements. The class holds no table: the
// host's dialog reads and writes its record in the overrides and sets
// m_newRecord and m_singleRecord to match what it shows.
//
//   class CClienteDlg : public CVKTRecordDialog {
//     BOOL OnInitDialog() override {
//       CVKTRecordDialog::OnInitDialog();   // subclassing and tool bar
//       Load();
//       return TRUE;
//     }
//     void OnRecordSalva() override { ... DBWrite(&clienti, op, &rec, &clienti) ... }
//   };
//
// Keys: Enter next field, Escape cancel, F2 save, F3/F4 previous/next,
// F5 search, F6 delete, Space/F10 look up the field, F1 help, F11 the
// host's VopidFunc, F12 the calculator (the key goes on).
#ifndef VKT_DIALOGS_VKTRECORDDIALOG_H_
#define VKT_DIALOGS_VKTRECORDDIALOG_H_

#include "controls/vkttoolbar.h"
#include "dialogs/vktdialog.h"
#include "dialogs/vktresources.h"
#include "vkt_export.h"

class VKT_API CVKTRecordDialog : public CVKTDialog {
 public:
  explicit CVKTRecordDialog(CWnd* parent = nullptr);
  explicit CVKTRecordDialog(UINT template_id, CWnd* parent = nullptr);
  explicit CVKTRecordDialog(const char* template_name, CWnd* parent = nullptr);
  ~CVKTRecordDialog() override;

  // Modes, set by the host's dialog.
  unsigned char m_newRecord = 1;     // the record does not exist yet
  unsigned char m_singleRecord = 0;  // one fixed record, no navigation
  int m_hostValue = 0;               // the host's own
  // Set before OnInitDialog: the buttons to create (1 Salva, 2 Prec,
  // 4 Succ, 8 Cerca, 16 Elimina, 32 Annulla) and whether a function key
  // also shows its button pressed.
  unsigned char m_buttons = 0x3F;
  int m_pressFeedback = 1;
  CVKTToolBar m_toolBar;

  // --- The host's operations. Called on the user-interface thread from the
  // key table, the tool bar or the idle update; overrides may show dialogs
  // and message boxes, and must not throw.
  // The idle step of the modal loop: the base updates the tool bar's
  // buttons; returns 0.
  virtual long OnKickIdle(unsigned int wparam, long lparam);
  // Space, F10 or a double click on field `id`: 1 when the host handled it
  // (the key is consumed), 0 to let it reach the field.
  virtual int OnRecordLookup(int id);
  virtual void OnRecordHelp();
  virtual void OnRecordNuovo();
  virtual void OnUpdateRecordNuovo(CCmdUI* ui);
  // Runs once the focused field accepted its input.
  virtual void OnRecordSalva();
  virtual void OnUpdateRecordSalva(CCmdUI* ui);
  virtual void OnRecordElimina();
  virtual void OnUpdateRecordElimina(CCmdUI* ui);  // disabled for a new record
  virtual void OnRecordPrec();
  // Disabled for a new or a single record; Succ and Cerca follow this one.
  virtual void OnUpdateRecordPrec(CCmdUI* ui);
  virtual void OnRecordSucc();
  virtual void OnUpdateRecordSucc(CCmdUI* ui);
  virtual void OnRecordAnnulla();
  virtual void OnUpdateRecordAnnulla(CCmdUI* ui);
  virtual void OnRecordCerca();
  virtual void OnUpdateRecordCerca(CCmdUI* ui);

  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCmdMsg(UINT id, int code, void* extra, void* handler_info) override;
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;
  void OnDestroy() override;

 private:
  // 0 when the tool bar exists, 1 when it could not be created.
  short CreateToolBar();
  void OnRecordNuovoImpl();
  void OnRecordSalvaImpl();
  void OnRecordEliminaImpl();
  void OnRecordPrecImpl();
  void OnRecordSuccImpl();
  void OnRecordAnnullaImpl();
  void OnRecordCercaImpl();
  // Shows the button pressed when press feedback is on.
  void Feedback(UINT id);
};

namespace vkt::dialogs {
// The record tool bar of `dlg`: Salva alone when `only_save`, else the
// buttons of the mask in the order Salva, Prec, Succ, Cerca, Elimina,
// Annulla. 0, or 1 when the bar cannot be created.
VKT_API short CreateRecordToolBar(CWnd* dlg, CVKTToolBar& bar, bool only_save, unsigned char buttons);
}  // namespace vkt::dialogs

#endif  // VKT_DIALOGS_VKTRECORDDIALOG_H_
