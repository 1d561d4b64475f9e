// The start-up login: data-server coordinates (server, host, archive) and
// the user's name and password. Defaults come from the profile section
// "Options" and from the parameter block; what the user confirms goes back
// into the block, with the connect name "server@host" that DBInitISAM
// takes. The dialog authenticates nobody: the host opens the session.
//
//   CLogin login(1, nullptr);                 // 0: user and password only
//   if (login.DoModal() != IDOK) return;
//   DBInitISAM(400, vktpar->user, vktpar->password, vktpar->server_at_host,
//              true, false, false);
//   if (login.changed) ReloadArchive();
#ifndef VKT_LOGIN_LOGIN_H_
#define VKT_LOGIN_LOGIN_H_

#include "controls/vktbutton.h"
#include "controls/vktedit.h"
#include "controls/vktstatic.h"
#include "dialogs/vktdialog.h"
#include "vkt_export.h"
#include "win/cstring.h"
#include "win/gdi.h"

class VKT_API CLogin : public CVKTDialog {
 public:
  CLogin(int mode, CWnd* parent = nullptr);
  ~CLogin() override;

  void SetField();
  // The edits into the parameter block at the block's widths.
  void GetField();

  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCmdMsg(UINT id, int code, void* extra, void* handler_info) override;
  void OnPaint() override;
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color) override;
  void OnOK() override;
  void OnCancel() override;
  void OnClickOk();
  void OnClickCancel();

  CString archiveAtStart;
  CString hostAtStart;
  int mode;
  int unused = 0;
  unsigned char changed = 0;
  CVKTEdit m_user;
  CVKTEdit m_password;
  CVKTEdit m_host;
  CVKTEdit m_server;
  CVKTEdit m_archive;
  CVKTCheckBox m_create_dirs;
  CVKTButton m_ok;
  CVKTButton m_cancel;
  CStatic m_lbl_server;
  CStatic m_lbl_host;
  CStatic m_lbl_archive;
  CStatic m_title;
  CStatic m_title2;

 private:
  CBrush band_brush_;
};

namespace vkt::login {
// The title shown for a product text (trimmed, upper-cased for the lookup).
VKT_API std::string EditionTitle(const char* product);
// The band colour of the login form.
inline constexpr COLORREF kLoginBand = RGB(21, 88, 163);
}  // namespace vkt::login

#endif  // VKT_LOGIN_LOGIN_H_
