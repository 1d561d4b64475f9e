// Templates and ids of the login dialogs and the change-history viewer.
// Registered with the window model on first use, unless the host
// registered templates of its own under the same ids.
#ifndef VKT_LOGIN_LOGINRESOURCES_H_
#define VKT_LOGIN_LOGINRESOURCES_H_

#include "vkt_export.h"
#include "win/winmsg.h"

// Login dialog.
constexpr UINT IDD_VKT_LOGIN = 6938;
constexpr UINT IDB_VKT_LOGIN = 6947;
constexpr UINT IDC_LOGIN_USER = 6907;
constexpr UINT IDC_LOGIN_PASSWORD = 6901;
constexpr UINT IDC_LOGIN_HOST = 6903;
constexpr UINT IDC_LOGIN_SERVER = 6902;
constexpr UINT IDC_LOGIN_ARCHIVE = 6905;
constexpr UINT IDC_LOGIN_CREATE_DIRS = 6906;
constexpr UINT IDC_LOGIN_LBL_SERVER = 6909;
constexpr UINT IDC_LOGIN_LBL_HOST = 6900;
constexpr UINT IDC_LOGIN_LBL_ARCHIVE = 6916;
constexpr UINT IDC_LOGIN_TITLE = 6925;
constexpr UINT IDC_LOGIN_TITLE2 = 6926;
constexpr UINT IDC_LOGIN_LBL_USER = 6911;
constexpr UINT IDC_LOGIN_LBL_PASSWORD = 6913;

// Access-code dialog.
constexpr UINT IDD_VKT_PASSWORD = 7045;
constexpr UINT IDC_PASSWORD_EDIT = 6907;
constexpr UINT IDC_PASSWORD_OK = 6946;
constexpr UINT IDC_PASSWORD_CANCEL = 6947;

// Change-history viewer.
constexpr UINT IDD_VKT_LASTUSER = 6948;
constexpr UINT IDC_LASTUSER_NAME = 6907;
constexpr UINT IDC_LASTUSER_TIME = 6950;
constexpr UINT IDC_LASTUSER_LABEL = 6914;
constexpr UINT IDC_LASTUSER_GRID = 3289;
constexpr UINT IDC_LASTUSER_FILTER = 20;
constexpr UINT IDC_LASTUSER_LBL_LOGS = 6915;
constexpr UINT IDC_LASTUSER_LOGS = 6952;

namespace vkt::login {
// Registers what is missing (again after the model's resources were
// cleared).
VKT_API void RegisterLoginResources();
}  // namespace vkt::login

#endif  // VKT_LOGIN_LOGINRESOURCES_H_
