#include "login/loginresources.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "login/historygrid.h"
#include "win/bitmap.h"
#include "win/dialog.h"
#include "win/winconst.h"

namespace vkt::login {
namespace {

CRect Dlu(int x, int y, int cx, int cy) {
  auto px = [](int v) { return v * 3 / 2; };
  auto py = [](int v) { return v * 13 / 8; };
  return CRect(px(x), py(y), px(x + cx), py(y + cy));
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kField = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

vkt::win::DialogTemplate Base(const char* caption, int cx, int cy) {
  vkt::win::DialogTemplate t;
  t.caption = caption;
  CRect size = Dlu(0, 0, cx, cy);
  t.rect = CRect(0, 0, size.Width(), size.Height());
  t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_BORDER;
  return t;
}

void RegisterLogin() {
  // Client 300 x 250 dialog units: the server column on the left of the
  // vertical line, the user column on the right.
  vkt::win::DialogTemplate t = Base("Login", 300, 172);
  t.items = {
      {"Static", "Mirto", IDC_LOGIN_TITLE, kChild | SS_CENTER, Dlu(6, 4, 288, 10)},
      {"Static", "Gestionale", IDC_LOGIN_TITLE2, kChild, Dlu(8, 155, 140, 10)},
      {"Static", "Server", IDC_LOGIN_LBL_SERVER, kChild, Dlu(10, 42, 120, 9)},
      {"Edit", "", IDC_LOGIN_SERVER, kField, Dlu(10, 52, 120, 12)},
      {"Static", "Host", IDC_LOGIN_LBL_HOST, kChild, Dlu(10, 70, 120, 9)},
      {"Edit", "", IDC_LOGIN_HOST, kField, Dlu(10, 80, 120, 12)},
      {"Static", "Archivio", IDC_LOGIN_LBL_ARCHIVE, kChild, Dlu(10, 98, 120, 9)},
      {"Edit", "", IDC_LOGIN_ARCHIVE, kField, Dlu(10, 108, 60, 12)},
      {"Button", "Crea struttura directory", IDC_LOGIN_CREATE_DIRS,
       WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, Dlu(10, 124, 120, 10)},
      {"Static", "Utente", IDC_LOGIN_LBL_USER, kChild, Dlu(164, 42, 126, 9)},
      {"Edit", "", IDC_LOGIN_USER, kField, Dlu(164, 52, 126, 12)},
      {"Static", "Password", IDC_LOGIN_LBL_PASSWORD, kChild, Dlu(164, 70, 126, 9)},
      {"Edit", "", IDC_LOGIN_PASSWORD, kField | ES_PASSWORD, Dlu(164, 80, 126, 12)},
      {"Button", "F2 - &OK", IDOK, kButton | BS_DEFPUSHBUTTON, Dlu(164, 148, 60, 14)},
      {"Button", "&Esci", IDCANCEL, kButton, Dlu(230, 148, 60, 14)},
  };
  vkt::win::RegisterDialogTemplate(IDD_VKT_LOGIN, std::move(t));
}

void RegisterPassword() {
  vkt::win::DialogTemplate t = Base("Richiesta Password", 160, 62);
  t.items = {
      {"Static", "Password", 0xFFFF, kChild, Dlu(8, 10, 40, 9)},
      {"Edit", "", IDC_PASSWORD_EDIT, kField | ES_PASSWORD, Dlu(50, 8, 100, 12)},
      {"Button", "F2 - &OK", IDC_PASSWORD_OK, kButton | BS_DEFPUSHBUTTON, Dlu(22, 36, 56, 14)},
      {"Button", "&Esci", IDC_PASSWORD_CANCEL, kButton, Dlu(84, 36, 56, 14)},
  };
  vkt::win::RegisterDialogTemplate(IDD_VKT_PASSWORD, std::move(t));
}

void RegisterLastUser() {
  vkt::win::DialogTemplate t = Base("Storico modifiche", 420, 250);
  t.items = {
      {"Static", "Archivio", IDC_LASTUSER_LABEL, kChild, Dlu(8, 9, 40, 9)},
      {"Edit", "", IDC_LASTUSER_NAME, kField | ES_READONLY, Dlu(50, 7, 110, 12)},
      {"Edit", "", IDC_LASTUSER_TIME, kField | ES_READONLY, Dlu(166, 7, 96, 12)},
      {"Static", "Log da esaminare", IDC_LASTUSER_LBL_LOGS, kChild | SS_RIGHT, Dlu(262, 9, 72, 9)},
      {"Edit", "", IDC_LASTUSER_LOGS, kField, Dlu(336, 7, 30, 12)},
      {kHistoryGridClass, "", IDC_LASTUSER_GRID, kChild | WS_TABSTOP, Dlu(8, 26, 404, 196)},
      {"Button", "F3 - Filtra Colonne Variate", IDC_LASTUSER_FILTER, kButton, Dlu(8, 228, 130, 14)},
      {"Button", "F2 - Leggi", IDOK, kButton, Dlu(352, 228, 60, 14)},
  };
  vkt::win::RegisterDialogTemplate(IDD_VKT_LASTUSER, std::move(t));
}

void RegisterLoginBitmap() {
  // A soft vertical shade behind the login form.
  const int w = 64, h = 64;
  std::vector<COLORREF> px(static_cast<size_t>(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int v = 250 - y * 20 / h;
      px[static_cast<size_t>(y * w + x)] = RGB(v - 8, v - 3, 255);
    }
  vkt::win::RegisterBitmapResource(IDB_VKT_LOGIN, w, h, std::move(px));
}

}  // namespace

void RegisterLoginResources() {
  RegisterHistoryGridClass();
  if (!vkt::win::FindDialogTemplate(IDD_VKT_LOGIN)) RegisterLogin();
  if (!vkt::win::FindDialogTemplate(IDD_VKT_PASSWORD)) RegisterPassword();
  if (!vkt::win::FindDialogTemplate(IDD_VKT_LASTUSER)) RegisterLastUser();
  HBITMAP probe = vkt::win::LoadBitmapResource(IDB_VKT_LOGIN);
  if (probe) vkt::win::DeleteBitmap(probe);
  else RegisterLoginBitmap();
}

}  // namespace vkt::login
