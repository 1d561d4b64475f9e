// Dialogs of the window model: templates, modal and modeless dialogs, the
// dialog manager's keyboard (IsDialogMessage) and data exchange.
//
//   vkt::win::DialogTemplate t;
//   t.caption = "Cliente";
//   t.rect = CRect(0, 0, 320, 200);
//   t.items = {{"Edit", "", 1001, WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER, CRect(10, 10, 150, 32)},
//              {"Button", "OK", IDOK, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, CRect(10, 150, 90, 174)}};
//   vkt::win::RegisterDialogTemplate(500, t);
//
//   class CClienteDlg : public CDialog {
//    public:
//     CClienteDlg() : CDialog(500) {}
//     void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, 1001, m_nome); }
//     CVKTEdit m_nome;
//   };
//
// Template rectangles are in pixels of the dialog's client area. Tab moves
// through the WS_TABSTOP controls in template order, arrows within a
// WS_GROUP, Enter presses the focused or the default push button (IDOK when
// there is none), Escape sends IDCANCEL.
#ifndef VKT_WIN_DIALOG_H_
#define VKT_WIN_DIALOG_H_

#include <string>
#include <vector>

#include "vkt_export.h"
#include "win/window.h"

namespace vkt::win {

struct DialogItem {
  std::string class_name;
  std::string text;
  UINT id = 0;
  DWORD style = 0;
  CRect rect;
  DWORD ex_style = 0;
};

struct DialogTemplate {
  std::string caption;
  CRect rect;  // position and client size
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_BORDER;
  std::vector<DialogItem> items;
  LOGFONT font = DefaultGuiFont();
};

// The host's dialog resources, by id or by name.
VKT_API void RegisterDialogTemplate(UINT id, DialogTemplate tmpl);
VKT_API void RegisterDialogTemplate(const std::string& name, DialogTemplate tmpl);
VKT_API const DialogTemplate* FindDialogTemplate(UINT id);
VKT_API const DialogTemplate* FindDialogTemplate(const std::string& name);
VKT_API void ClearDialogTemplates();

}  // namespace vkt::win

class CDialog;

// Data exchange between a dialog's controls and its members.
class VKT_API CDataExchange {
 public:
  CDataExchange(CDialog* dlg, BOOL save) : m_bSaveAndValidate(save), m_pDlgWnd(dlg) {}
  BOOL m_bSaveAndValidate;
  CDialog* m_pDlgWnd;
};

// Attaches `control` to the dialog's control `id` the first time.
VKT_API void DDX_Control(CDataExchange* dx, int id, CWnd& control);
VKT_API void DDX_Text(CDataExchange* dx, int id, CString& value);

class VKT_API CDialog : public CWnd {
 public:
  CDialog();
  explicit CDialog(UINT template_id, CWnd* parent = nullptr);
  explicit CDialog(const char* template_name, CWnd* parent = nullptr);
  ~CDialog() override;

  // A template given directly instead of a registered one.
  void SetTemplate(const vkt::win::DialogTemplate& tmpl);

  // Creates the dialog, runs OnInitDialog and the modal loop; returns the
  // EndDialog result, -1 when the dialog could not be created.
  virtual intptr_t DoModal();
  // Modeless.
  BOOL Create(UINT template_id, CWnd* parent = nullptr);
  BOOL CreateIndirect(const vkt::win::DialogTemplate& tmpl, CWnd* parent = nullptr);

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  virtual void DoDataExchange(CDataExchange* dx);
  BOOL UpdateData(BOOL save = TRUE);
  void EndDialog(int result);

  void NextDlgCtrl();
  void PrevDlgCtrl();
  void GotoDlgCtrl(CWnd* ctl);
  void SetDefID(UINT id) { SendMessage(DM_SETDEFID, id, 0); }
  DWORD GetDefID() { return static_cast<DWORD>(SendMessage(DM_GETDEFID, 0, 0)); }

  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;
  BOOL OnCmdMsg(UINT id, int code, void* extra, void* handler_info) override;

  CWnd* m_pParentWnd = nullptr;

 protected:
  UINT template_id_ = 0;
  std::string template_name_;
  vkt::win::DialogTemplate template_;
  bool has_template_ = false;
  CFont font_;

 private:
  const vkt::win::DialogTemplate* ResolveTemplate() const;
};

// The dialog manager's keyboard: navigation keys of `dlg` and its controls
// are handled; every other message for them is translated and dispatched.
// FALSE for messages of other windows.
VKT_API BOOL IsDialogMessage(HWND dlg, MSG* msg);

#endif  // VKT_WIN_DIALOG_H_
