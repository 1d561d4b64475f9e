// The small modal dialog that guards service functions behind an access
// code. Normal mode takes the site's six-letter code; service mode (red,
// "Service Password") takes either of two codes of the Blowfish-key form.
// A wrong code beeps, says "Password non Valida!" and cancels: there is
// no second try.
//
//   CPassword ask(1, this);
//   if (ask.DoModal() == IDOK) RunServiceTools();
#ifndef VKT_LOGIN_PASSWORD_H_
#define VKT_LOGIN_PASSWORD_H_

#include <string>

#include "controls/vktbutton.h"
#include "controls/vktedit.h"
#include "dialogs/vktdialog.h"
#include "vkt_export.h"
#include "win/gdi.h"

inline constexpr const char* kPasswordInvalid = "Password non Valida!";

class VKT_API CPassword : public CVKTDialog {
 public:
  CPassword(int mode, CWnd* parent = nullptr);
  ~CPassword() override;

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

  int mode;
  CVKTEdit m_password;
  CVKTButton m_cancel;
  CVKTButton m_ok;

 private:
  CBrush red_;
};

namespace vkt {

// The access codes, in their forms.
struct AccessCodes {
  std::string normal;     // 6 lower-case letters
  std::string service1;   // "AA 000 AA": capitals, blank, digits, blank, capitals
  std::string service2;   // the same form
};
VKT_API AccessCodes DefaultAccessCodes();
VKT_API AccessCodes CurrentAccessCodes();
// False, and nothing changed, when a code is not of its form.
VKT_API bool SetAccessCodes(const AccessCodes& codes);
VKT_API void ResetAccessCodes();

}  // namespace vkt

#endif  // VKT_LOGIN_PASSWORD_H_
