#include "login/password.h"

#include <algorithm>

#include "frame/vktapp.h"
#include "login/loginresources.h"
#include "win/appwnd.h"
#include "win/gdi.h"
#include "win/winconst.h"

namespace vkt {
namespace {

AccessCodes& Codes() {
  static AccessCodes codes = DefaultAccessCodes();
  return codes;
}

bool LowerSix(const std::string& s) {
  if (s.size() != 6) return false;
  for (unsigned char c : s)
    if (c < 'a' || c > 'z') return false;
  return true;
}

bool KeyForm(const std::string& s) {
  if (s.size() != 9) return false;
  for (size_t i = 0; i < 9; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    bool ok = (i == 2 || i == 6) ? c == ' '
              : (i >= 3 && i <= 5) ? (c >= '0' && c <= '9')
                                   : (c >= 'A' && c <= 'Z');
    if (!ok) return false;
  }
  return true;
}

}  // namespace

AccessCodes DefaultAccessCodes() { return {"zefiro", "VK 731 SR", "MT 482 AS"}; }
AccessCodes CurrentAccessCodes() { return Codes(); }

bool SetAccessCodes(const AccessCodes& codes) {
  if (!LowerSix(codes.normal) || !KeyForm(codes.service1) || !KeyForm(codes.service2)) return false;
  Codes() = codes;
  return true;
}

void ResetAccessCodes() { Codes() = DefaultAccessCodes(); }

}  // namespace vkt

CPassword::CPassword(int m, CWnd* parent) : CVKTDialog(IDD_VKT_PASSWORD, parent), mode(m) {
  vkt::login::RegisterLoginResources();
}

CPassword::~CPassword() = default;

void CPassword::DoDataExchange(CDataExchange* dx) {
  CVKTDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_PASSWORD_EDIT, m_password);
  DDX_Control(dx, IDC_PASSWORD_CANCEL, m_cancel);
  DDX_Control(dx, IDC_PASSWORD_OK, m_ok);
}

BOOL CPassword::OnInitDialog() {
  CVKTDialog::OnInitDialog();
  m_password.SetFormat(20, "<!_");
  m_password.SetWindowTextNoNotify("");
  if (mode == 1) {
    SetWindowText("Service Password");
    // The whole client area red, so nobody mistakes what is being unlocked.
    ShowGradient(0);
    SetBackColor(RGB(255, 0, 0));
    Invalidate();
  }
  GotoDlgCtrl(&m_password);
  return FALSE;
}

void CPassword::OnPaint() {
  CPaintDC dc(this);
  if (mode != 1) return;
  CRect rc;
  GetClientRect(&rc);
  dc.FillSolidRect(rc, RGB(255, 0, 0));
}

HBRUSH CPassword::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color) {
  if (mode == 1 && ctl_color == WM_CTLCOLORSTATIC) {
    if (!red_.GetSafeHandle()) red_.CreateSolidBrush(RGB(255, 0, 0));
    dc->SetTextColor(RGB(255, 255, 255));
    dc->SetBkColor(RGB(255, 0, 0));
    return red_;
  }
  return CVKTDialog::OnCtlColor(dc, wnd, ctl_color);
}

void CPassword::OnOK() { OnClickOk(); }
void CPassword::OnCancel() { OnClickCancel(); }

void CPassword::OnClickOk() {
  CString raw = m_password.GetText();
  std::string text(raw.GetString(), std::min<size_t>(raw.GetLength(), 20));
  const vkt::AccessCodes codes = vkt::CurrentAccessCodes();
  bool ok = mode == 1 ? (text == codes.service1 || text == codes.service2)
                      : (text == codes.normal || text == codes.normal);
  if (ok) {
    EndDialog(IDOK);
    return;
  }
  vkt::ReportWithBeep(kPasswordInvalid, vkt::controls::MessageCaption(), MB_OK | MB_ICONEXCLAMATION);
  EndDialog(IDCANCEL);
}

void CPassword::OnClickCancel() { EndDialog(IDCANCEL); }

BOOL CPassword::OnCmdMsg(UINT id, int code, void* extra, void* handler_info) {
  if (code == CN_COMMAND && id == IDC_PASSWORD_OK) {
    OnClickOk();
    return TRUE;
  }
  if (code == CN_COMMAND && id == IDC_PASSWORD_CANCEL) {
    OnClickCancel();
    return TRUE;
  }
  return CVKTDialog::OnCmdMsg(id, code, extra, handler_info);
}

BOOL CPassword::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) {
    switch (msg->wParam) {
      case VK_RETURN: {
        CButton* button = dynamic_cast<CButton*>(CWnd::FromHandlePermanent(msg->hwnd));
        if (!button) {
          NextDlgCtrl();
          return TRUE;
        }
        if (button->GetDlgCtrlID() == static_cast<int>(IDC_PASSWORD_OK)) {
          OnClickOk();
          return TRUE;
        }
        if (button->GetDlgCtrlID() == static_cast<int>(IDC_PASSWORD_CANCEL)) {
          OnClickCancel();
          return TRUE;
        }
        break;
      }
      case VK_ESCAPE:
        OnClickCancel();
        return TRUE;
      case VK_UP:
        PrevDlgCtrl();
        return TRUE;
      case VK_DOWN:
        NextDlgCtrl();
        return TRUE;
      case VK_F2:
        OnClickOk();
        return TRUE;
      case VK_F11:
        if (vktpar && vktpar->VopidFunc) vktpar->VopidFunc();
        return TRUE;
      case VK_F12:
        Calc();
        break;
      case VK_F10:
        if (msg->message == WM_SYSKEYDOWN) return TRUE;
        break;
      default:
        break;
    }
  }
  return CVKTDialog::PreTranslateMessage(msg);
}
