#include "login/login.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/vktstring.h"
#include "frame/vktapp.h"
#include "login/loginresources.h"
#include "win/gdi.h"
#include "win/services.h"
#include "win/winconst.h"

namespace vkt::login {

std::string EditionTitle(const char* product) {
  char text[sizeof buf_stampa];
  std::snprintf(text, sizeof text, "%s", product != nullptr ? product : "");
  strtrim(text);
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const struct {
    const char* product;
    const char* title;
  } kTitles[] = {
      {"MIRTO LIGHT", "Mirto Light"}, {"PIATTO", "Piatto"},     {"LOCANDA", "Mirto Locanda"},
      {"MIRCRM", "Mirto CRM"},        {"SORRISO", "Sorriso"},   {"TESSERA", "Tessera"},
      {"OBIETTIVO", "Obiettivo"},     {"VERDEX", "Verdex"},     {"CAMPOS", "Campos"},
  };
  for (const auto& t : kTitles)
    if (upper == t.product) return t.title;
  std::snprintf(text, sizeof text, "%s", upper.c_str());
  strproper(text);
  return text;
}

}  // namespace vkt::login

namespace {

constexpr const char* kSection = "Options";
// Not among the window model's styles; kept for the window as Windows keeps it.
constexpr DWORD kExTopmost = 0x00000008;

// Trims a block field and clears it up to `width` characters.
void TrimField(char* field, size_t width) {
  field[width] = '\0';
  strtrim(field);
  size_t n = std::strlen(field);
  std::memset(field + n, 0, width + 1 - n);
}

void CopyIfEmpty(char* field, const CString& value, size_t width) {
  if (field[0] != '\0') return;
  strzcpy(field, value.GetString(), static_cast<int>(width) + 1);
}

COLORREF Mix(COLORREF a, COLORREF b, double t) {
  auto ch = [t](int x, int y) { return static_cast<int>(x + (y - x) * t + 0.5); };
  return RGB(ch(GetRValue(a), GetRValue(b)), ch(GetGValue(a), GetGValue(b)), ch(GetBValue(a), GetBValue(b)));
}

// White at both ends, orange in the middle, two pixels high.
void HorizontalLine(CDC& dc, int y, int width) {
  const COLORREF white = RGB(255, 255, 255), orange = RGB(255, 128, 0);
  int mid = width / 2;
  for (int x = 0; x < width; ++x) {
    double t = x <= mid ? (mid ? static_cast<double>(x) / mid : 1.0)
                        : static_cast<double>(width - 1 - x) / std::max(1, width - 1 - mid);
    dc.FillSolidRect(CRect(x, y, x + 1, y + 2), Mix(white, orange, t));
  }
}

}  // namespace

CLogin::CLogin(int m, CWnd* parent) : CVKTDialog(IDD_VKT_LOGIN, parent), mode(m) {
  vkt::login::RegisterLoginResources();
}

CLogin::~CLogin() = default;

void CLogin::DoDataExchange(CDataExchange* dx) {
  CVKTDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_LOGIN_USER, m_user);
  DDX_Control(dx, IDC_LOGIN_PASSWORD, m_password);
  DDX_Control(dx, IDC_LOGIN_HOST, m_host);
  DDX_Control(dx, IDC_LOGIN_SERVER, m_server);
  DDX_Control(dx, IDC_LOGIN_ARCHIVE, m_archive);
  DDX_Control(dx, IDC_LOGIN_CREATE_DIRS, m_create_dirs);
  DDX_Control(dx, IDOK, m_ok);
  DDX_Control(dx, IDCANCEL, m_cancel);
  DDX_Control(dx, IDC_LOGIN_LBL_SERVER, m_lbl_server);
  DDX_Control(dx, IDC_LOGIN_LBL_HOST, m_lbl_host);
  DDX_Control(dx, IDC_LOGIN_LBL_ARCHIVE, m_lbl_archive);
  DDX_Control(dx, IDC_LOGIN_TITLE, m_title);
  DDX_Control(dx, IDC_LOGIN_TITLE2, m_title2);
}

BOOL CLogin::OnInitDialog() {
  CVKTDialog::OnInitDialog();
  ModifyStyleEx(0, kExTopmost);
  SetBitmap(static_cast<int>(IDB_VKT_LOGIN));
  SetStyle(LayoutStretch);

  std::snprintf(buf_stampa, sizeof buf_stampa, "%s", vktpar ? vktpar->product : "");
  m_title.SetWindowText(vkt::login::EditionTitle(buf_stampa).c_str());

  vkt::Services& s = vkt::services();
  CString server = s.GetProfileString(kSection, "Server", "").c_str();
  hostAtStart = s.GetProfileString(kSection, "Host", "").c_str();
  archiveAtStart = s.GetProfileString(kSection, "Archivio", "").c_str();
  CString host = hostAtStart, archive = archiveAtStart;
  if (server.IsEmpty() && host.IsEmpty() && archive.IsEmpty()) {
    server = "FAIRCOMS";
    host = "LOCALHOST";
    archive = "ARCHIVI";
  }
  if (vktpar) {
    std::memset(vktpar->server_at_host, 0, sizeof vktpar->server_at_host);
    CopyIfEmpty(vktpar->server, server, 30);
    CopyIfEmpty(vktpar->host, host, 30);
    CopyIfEmpty(vktpar->archive, archive, 8);
    TrimField(vktpar->server, 30);
    TrimField(vktpar->host, 30);
    TrimField(vktpar->archive, 8);
    TrimField(vktpar->user, 100);
    TrimField(vktpar->password, 50);
  }

  struct {
    CVKTEdit* edit;
    short width;
  } fields[] = {{&m_server, 30}, {&m_host, 30}, {&m_archive, 8}, {&m_user, 100}, {&m_password, 50}};
  for (auto& f : fields) {
    f.edit->SetFormat(f.width, "<!_");
    f.edit->SetBold(1);
  }

  if (mode == 0) {
    for (CWnd* w : {static_cast<CWnd*>(&m_server), static_cast<CWnd*>(&m_host),
                    static_cast<CWnd*>(&m_archive), static_cast<CWnd*>(&m_create_dirs)}) {
      w->EnableWindow(FALSE);
      w->ShowWindow(SW_HIDE);
    }
    m_lbl_server.ShowWindow(SW_HIDE);
    m_lbl_host.ShowWindow(SW_HIDE);
    m_lbl_archive.ShowWindow(SW_HIDE);
  }

  SetField();

  CWnd* focus = &m_password;
  if (vktpar) {
    if (mode != 0) {
      if (vktpar->server[0] == '\0') focus = &m_server;
      else if (vktpar->host[0] == '\0') focus = &m_host;
      else if (vktpar->archive[0] == '\0') focus = &m_archive;
      else if (vktpar->user[0] == '\0') focus = &m_user;
    } else if (vktpar->user[0] == '\0') {
      focus = &m_user;
    }
  }
  GotoDlgCtrl(focus);
  return FALSE;
}

void CLogin::SetField() {
  if (!vktpar) return;
  m_server.SetText(vktpar->server);
  m_host.SetText(vktpar->host);
  m_archive.SetText(vktpar->archive);
  m_user.SetText(vktpar->user);
  m_password.SetText(vktpar->password);
  m_create_dirs.SetCheck(0);
  UpdateData(FALSE);
}

void CLogin::GetField() {
  if (!vktpar) return;
  UpdateData(TRUE);
  strzcpy(vktpar->server, m_server.GetText().GetString(), 31);
  strzcpy(vktpar->host, m_host.GetText().GetString(), 31);
  strzcpy(vktpar->archive, m_archive.GetText().GetString(), 9);
  strzcpy(vktpar->user, m_user.GetText().GetString(), 101);
  strzcpy(vktpar->password, m_password.GetText().GetString(), 51);
  vktpar->create_dirs = m_create_dirs.GetCheck() == BST_CHECKED ? 1 : 0;
}

void CLogin::OnOK() { OnClickOk(); }
void CLogin::OnCancel() { OnClickCancel(); }

void CLogin::OnClickOk() {
  if (!vktpar) return;
  m_ok.SetFocus();
  // The block keeps its values until the form is accepted: a refused OK
  // followed by Cancel must not leave half-typed coordinates behind for the
  // session the host opens next. So the fields are read into a copy.
  struct Saved {
    char server[31], host[31], archive[9], user[101], password[51];
    unsigned char create_dirs;
  } saved;
  std::memcpy(saved.server, vktpar->server, sizeof saved.server);
  std::memcpy(saved.host, vktpar->host, sizeof saved.host);
  std::memcpy(saved.archive, vktpar->archive, sizeof saved.archive);
  std::memcpy(saved.user, vktpar->user, sizeof saved.user);
  std::memcpy(saved.password, vktpar->password, sizeof saved.password);
  saved.create_dirs = vktpar->create_dirs;
  GetField();
  auto refuse = [&](CWnd* field) {
    std::memcpy(vktpar->server, saved.server, sizeof saved.server);
    std::memcpy(vktpar->host, saved.host, sizeof saved.host);
    std::memcpy(vktpar->archive, saved.archive, sizeof saved.archive);
    std::memcpy(vktpar->user, saved.user, sizeof saved.user);
    std::memcpy(vktpar->password, saved.password, sizeof saved.password);
    vktpar->create_dirs = saved.create_dirs;
    vkt::services().Beep(1000, 10);
    GotoDlgCtrl(field);
  };
  if (mode != 0 && vktpar->server[0] == '\0') return refuse(&m_server);
  if (mode != 0 && vktpar->archive[0] == '\0') return refuse(&m_archive);
  if (vktpar->user[0] == '\0') return refuse(&m_user);

  vkt::Services& s = vkt::services();
  s.WriteProfileString(kSection, "Server", vktpar->server);
  s.WriteProfileString(kSection, "Host", vktpar->host);
  s.WriteProfileString(kSection, "Archivio", vktpar->archive);
  s.WriteProfileString(kSection, "User", vktpar->user);
  char connect[128];
  std::snprintf(connect, sizeof connect, "%-s@%-s", vktpar->server, vktpar->host);
  strzcpy(vktpar->server_at_host, connect, 62);
  if (archiveAtStart != vktpar->archive || hostAtStart != vktpar->host) changed = 1;
  EndDialog(IDOK);
}

void CLogin::OnClickCancel() { EndDialog(IDCANCEL); }

BOOL CLogin::OnCmdMsg(UINT id, int code, void* extra, void* handler_info) {
  if (code == CN_COMMAND && id == IDOK) {
    OnClickOk();
    return TRUE;
  }
  if (code == CN_COMMAND && id == IDCANCEL) {
    OnClickCancel();
    return TRUE;
  }
  return CVKTDialog::OnCmdMsg(id, code, extra, handler_info);
}

BOOL CLogin::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) {
    switch (msg->wParam) {
      case VK_RETURN: {
        CButton* button = dynamic_cast<CButton*>(CWnd::FromHandlePermanent(msg->hwnd));
        bool push = button && button != &m_create_dirs;
        if (!push) {
          NextDlgCtrl();
          return TRUE;
        }
        if (button == &m_ok) {
          OnClickOk();
          return TRUE;
        }
        if (button == &m_cancel) {
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
      default:
        break;
    }
  }
  return CVKTDialog::PreTranslateMessage(msg);
}

HBRUSH CLogin::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color) {
  // The titles stand in the coloured bands, in white.
  if (wnd == &m_title || wnd == &m_title2) {
    if (!band_brush_.GetSafeHandle()) band_brush_.CreateSolidBrush(vkt::login::kLoginBand);
    dc->SetTextColor(RGB(255, 255, 255));
    dc->SetBkColor(vkt::login::kLoginBand);
    return band_brush_;
  }
  return CVKTDialog::OnCtlColor(dc, wnd, ctl_color);
}

void CLogin::OnPaint() {
  CPaintDC dc(this);
  CRect rc;
  GetClientRect(&rc);
  const int w = rc.Width(), h = rc.Height();
  dc.FillSolidRect(CRect(0, 0, w, 30), vkt::login::kLoginBand);
  dc.FillSolidRect(CRect(0, h - 35, w, h), vkt::login::kLoginBand);
  HorizontalLine(dc, 30, w);
  HorizontalLine(dc, h - 37, w);
  // The vertical divider: orange at both ends, blue in the middle.
  const COLORREF orange = RGB(255, 128, 0), blue = RGB(0, 64, 128);
  const int x = w / 2 - 11, top = 32, length = h - 69;
  const int mid = length / 2;
  for (int i = 0; i < length; ++i) {
    double t = i <= mid ? (mid ? static_cast<double>(i) / mid : 1.0)
                        : static_cast<double>(length - 1 - i) / std::max(1, length - 1 - mid);
    dc.FillSolidRect(CRect(x, top + i, x + 2, top + i + 1), Mix(orange, blue, t));
  }
}
