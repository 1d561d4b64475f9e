// The dialog framework's own resources: the record commands' ids and
// tooltip texts, the caption strings, the tool-bar icons (24 x 24) and the
// progress dialog's template. Registered with the window model once, on
// first use.
#ifndef VKT_DIALOGS_VKTRESOURCES_H_
#define VKT_DIALOGS_VKTRESOURCES_H_

#include <string>

#include "vkt_export.h"
#include "win/winmsg.h"

// Record commands, shared by the record, tabbed and browse dialogs.
constexpr UINT ID_RECORD_NUOVO = 38903;
constexpr UINT ID_RECORD_APRI = 38904;
constexpr UINT ID_RECORD_ELIMINA = 38905;
constexpr UINT ID_RECORD_STAMPA = 38907;
constexpr UINT ID_RECORD_SALVA = 38909;
constexpr UINT ID_RECORD_PREC = 38910;
constexpr UINT ID_RECORD_SUCC = 38911;
constexpr UINT ID_RECORD_CERCA = 38912;
constexpr UINT ID_RECORD_ANNULLA = 38913;
constexpr UINT ID_RECORD_SELEZIONA = 38915;

// Icons of the tool-bar buttons.
constexpr UINT IDI_RECORD_NUOVO = 6955;
constexpr UINT IDI_RECORD_MODIFICA = 6956;
constexpr UINT IDI_RECORD_ELIMINA = 6957;
constexpr UINT IDI_RECORD_STAMPA = 6958;
constexpr UINT IDI_RECORD_SALVA = 6959;
constexpr UINT IDI_RECORD_PREC = 6960;
constexpr UINT IDI_RECORD_SUCC = 6961;
constexpr UINT IDI_RECORD_CERCA = 6962;
constexpr UINT IDI_RECORD_ANNULLA = 6963;
constexpr UINT IDI_RECORD_OK = 6964;

// The progress dialog.
constexpr UINT IDD_VKT_PROGRESS = 6935;
constexpr UINT IDS_VKT_ATTENDERE = 6908;
constexpr UINT IDC_VKT_PROGRESS_BAR = 6910;
constexpr UINT IDC_VKT_PROGRESS_PERCENT = 6912;
constexpr UINT IDC_VKT_PROGRESS_STATUS = 6914;

namespace vkt::dialogs {

// A string resource of the library; empty for an id it does not have.
VKT_API std::string LibraryString(UINT id);
// A string resource: the library's own, else the host's (services).
VKT_API std::string LoadResourceString(UINT id);
// Registers the icons and the templates (idempotent; again after the
// window model's resources were cleared).
VKT_API void RegisterDialogResources();

}  // namespace vkt::dialogs

#endif  // VKT_DIALOGS_VKTRESOURCES_H_
