// The record dialog for records too large for one page: the record tool
// bar, function keys and virtual record operations of CVKTRecordDialog on
// top of a tabs dialog whose pages (CVKTTabsPage) hold the fields.
//
//   class CArticoloDlg : public CVKTTabbedRecordDialog {
//    protected:
//     void OnInitTabControl() override { CreateTabControl(&m_Tabs, CRect(8, 70, 620, 470), IDC_TABS); }
//     void OnAddPages() override { AddPage(&m_dati, "Dati"); AddPage(&m_prezzi, "Prezzi"); }
//     void OnRecordSalva() override { ... DBWrite(&articoli, op, &rec, &articoli) ... }
//   };
//
// Keys as the record dialog's, also while a page's field has the focus:
// Enter next field of the page, Escape cancel, F2 save, F3/F4 previous and
// next, F5 search, F6 delete, Space/F10 look up the focused field, F1 help,
// F11 the host's VopidFunc, F12 the calculator (the key goes on); Ctrl+Tab
// and Ctrl+PageDown (Shift / PageUp backwards) change page.
#ifndef VKT_DIALOGS_VKTTABBEDRECORDDIALOG_H_
#define VKT_DIALOGS_VKTTABBEDRECORDDIALOG_H_

#include "controls/vkttoolbar.h"
#include "dialogs/vktresources.h"
#include "dialogs/vkttabsdialog.h"
#include "vkt_export.h"

class VKT_API CVKTTabbedRecordDialog : public CVKTTabsDialog {
 public:
  // The library's empty template (IDD_VKT_TABBED).
  explicit CVKTTabbedRecordDialog(CWnd* parent = nullptr);
  explicit CVKTTabbedRecordDialog(UINT template_id, CWnd* parent = nullptr);
  explicit CVKTTabbedRecordDialog(const char* template_name, CWnd* parent = nullptr);
  ~CVKTTabbedRecordDialog() override;

  unsigned char m_newRecord = 1;     // the record does not exist yet
  unsigned char m_singleRecord = 0;  // one fixed record, no navigation
  unsigned char m_deleteWhenNew = 0;  // 1: Elimina stays enabled for a new record
  int m_hostValue = 0;                // the host's own
  // Set before OnInitDialog: 1 Salva, 2 Prec, 4 Succ, 8 Cerca, 16 Elimina,
  // 32 Annulla.
  unsigned char m_buttons = 0x3F;
  CVKTToolBar m_toolBar;

  // --- The host's operations, on the user-interface thread from the key
  // table, the tool bar or the idle update; overrides may show dialogs and
  // message boxes, and must not throw.
  // The idle step: updates the tool bar's buttons; returns 0.
  virtual long OnKickIdle(unsigned int wparam, long lparam);
  // Space, F10 or a double click on field `id` (of any page): 1 when the
  // host handled it.
  virtual int OnRecordLookup(int id);
  virtual void OnRecordHelp();
  virtual void OnRecordNuovo();
  virtual void OnUpdateRecordNuovo(CCmdUI* ui);
  // Runs once the focused field accepted its input.
  virtual void OnRecordSalva();
  virtual void OnUpdateRecordSalva(CCmdUI* ui);
  virtual void OnRecordElimina();
  // Enabled for an existing record, and for a new one with m_deleteWhenNew.
  virtual void OnUpdateRecordElimina(CCmdUI* ui);
  virtual void OnRecordPrec();
  // Disabled for a new or a single record; Succ and Cerca follow this one.
  virtual void OnUpdateRecordPrec(CCmdUI* ui);
  virtual void OnRecordSucc();
  virtual void OnUpdateRecordSucc(CCmdUI* ui);
  virtual void OnRecordAnnulla();
  virtual void OnUpdateRecordAnnulla(CCmdUI* ui);
  virtual void OnRecordCerca();
  virtual void OnUpdateRecordCerca(CCmdUI* ui);

  // The tool bar's failure is reported and the dialog is not shown.
  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  BOOL OnCmdMsg(UINT id, int code, void* extra, void* handler_info) override;
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;

 protected:
  // 0 when the tool bar exists, 1 when it could not be created.
  virtual short CreateToolBar();

 private:
  void OnRecordSalvaImpl();
  // The window a key is meant for: the focused field when a page passed
  // the key on to the dialog.
  HWND KeyTarget(const MSG* msg) const;
};

#endif  // VKT_DIALOGS_VKTTABBEDRECORDDIALOG_H_
