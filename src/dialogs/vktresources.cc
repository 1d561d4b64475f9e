#include "dialogs/vktresources.h"

#include <cmath>
#include <functional>
#include <map>
#include <vector>

#include "win/bitmap.h"
#include "win/winconst.h"
#include "win/dialog.h"
#include "win/services.h"

namespace vkt::dialogs {
namespace {

const std::map<UINT, std::string>& Strings() {
  static const std::map<UINT, std::string> s = {
      {ID_RECORD_NUOVO, "Crea un nuovo record"},
      {ID_RECORD_APRI, "Apre il record selezionato"},
      {ID_RECORD_ELIMINA, "Elimina il record selezionato"},
      {ID_RECORD_STAMPA, "Stampa"},
      {ID_RECORD_SALVA, "Salva i dati del record"},
      {ID_RECORD_PREC, "Vai sul record precedente"},
      {ID_RECORD_SUCC, "Vai sul record successivo"},
      {ID_RECORD_CERCA, "Cerca un record"},
      {ID_RECORD_ANNULLA, "Ricarica il record dal Database"},
      {ID_RECORD_SELEZIONA, "Seleziona"},
      {IDS_VKT_ATTENDERE, "Attendere .."},
  };
  return s;
}

// One 24 x 24 icon painted from a shape: `shape(x, y)` answers the colour
// of a pixel, or -1 for the transparent (button face) colour.
using Shape = std::function<long(double x, double y)>;

void Icon(UINT id, const Shape& shape) {
  std::vector<COLORREF> px;
  px.reserve(24 * 24);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) {
      long c = shape(x + 0.5, y + 0.5);
      px.push_back(c < 0 ? RGB(236, 238, 242) : static_cast<COLORREF>(c));
    }
  vkt::win::RegisterBitmapResource(id, 24, 24, std::move(px));
}

bool InCircle(double x, double y, double cx, double cy, double r) {
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
}

// Distance from (x, y) to the segment a-b.
double ToSegment(double x, double y, double ax, double ay, double bx, double by) {
  double dx = bx - ax, dy = by - ay;
  double t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy);
  t = t < 0 ? 0 : t > 1 ? 1 : t;
  double px = ax + t * dx - x, py = ay + t * dy - y;
  return std::sqrt(px * px + py * py);
}

void RegisterIcons() {
  const long kBlue = RGB(38, 98, 178), kGreen = RGB(46, 150, 64), kRed = RGB(200, 40, 40);
  const long kWhite = RGB(255, 255, 255), kGrey = RGB(110, 110, 110), kOrange = RGB(230, 130, 20);
  Icon(IDI_RECORD_SALVA, [=](double x, double y) -> long {  // a disk
    if (x < 3 || x > 21 || y < 3 || y > 21) return -1;
    if (x > 7 && x < 17 && y > 4 && y < 10) return kWhite;
    if (x > 6 && x < 18 && y > 13 && y < 20) return RGB(200, 210, 230);
    return kBlue;
  });
  Icon(IDI_RECORD_PREC, [=](double x, double y) -> long {  // left arrow
    return (x > 4 && x < 20 && std::fabs(y - 12) < (x - 4) * 0.6 && x < 12) ||
                   (x >= 12 && x < 20 && std::fabs(y - 12) < 3)
               ? kGreen : -1;
  });
  Icon(IDI_RECORD_SUCC, [=](double x, double y) -> long {  // right arrow
    return (x > 12 && x < 20 && std::fabs(y - 12) < (20 - x) * 0.6 + 0.5) ||
                   (x > 4 && x <= 12 && std::fabs(y - 12) < 3)
               ? kGreen : -1;
  });
  Icon(IDI_RECORD_CERCA, [=](double x, double y) -> long {  // a magnifier
    if (InCircle(x, y, 10, 10, 6) && !InCircle(x, y, 10, 10, 4)) return kGrey;
    if (InCircle(x, y, 10, 10, 4)) return RGB(200, 230, 250);
    return ToSegment(x, y, 14.5, 14.5, 20, 20) < 1.8 ? RGB(90, 60, 30) : -1;
  });
  Icon(IDI_RECORD_ELIMINA, [=](double x, double y) -> long {  // a cross
    return ToSegment(x, y, 5, 5, 19, 19) < 2.2 || ToSegment(x, y, 19, 5, 5, 19) < 2.2 ? kRed : -1;
  });
  Icon(IDI_RECORD_ANNULLA, [=](double x, double y) -> long {  // round arrow
    bool ring = InCircle(x, y, 12, 12, 8) && !InCircle(x, y, 12, 12, 5);
    if (ring && !(x > 12 && y < 12)) return kOrange;
    return (y > 2 && y < 10 && x > 12 && x < 20 && y - 2 < (x - 12)) ? kOrange : -1;
  });
  Icon(IDI_RECORD_NUOVO, [=](double x, double y) -> long {  // a page with a plus
    if ((std::fabs(x - 17) < 1.2 && y > 13 && y < 22) || (std::fabs(y - 17.5) < 1.2 && x > 12 && x < 22))
      return kGreen;
    if (x > 4 && x < 16 && y > 2 && y < 21) return (x < 5 || x > 15 || y < 3 || y > 20) ? kGrey : kWhite;
    return -1;
  });
  Icon(IDI_RECORD_MODIFICA, [=](double x, double y) -> long {  // a pencil
    if (ToSegment(x, y, 6, 18, 17, 7) < 2.5) return RGB(240, 190, 40);
    return ToSegment(x, y, 4, 20, 6, 18) < 1.6 ? kGrey : -1;
  });
  Icon(IDI_RECORD_STAMPA, [=](double x, double y) -> long {  // a printer
    if (x > 7 && x < 17 && y > 3 && y < 10) return kWhite;
    if (x > 3 && x < 21 && y > 9 && y < 18) return kGrey;
    if (x > 7 && x < 17 && y >= 18 && y < 21) return kWhite;
    return -1;
  });
  Icon(IDI_RECORD_OK, [=](double x, double y) -> long {  // a tick
    return ToSegment(x, y, 4, 12, 10, 18) < 2.2 || ToSegment(x, y, 10, 18, 20, 5) < 2.2 ? kGreen : -1;
  });
}

// Dialog units of "MS Sans Serif" 8 in pixels.
CRect Dlu(int x, int y, int cx, int cy) {
  auto px = [](int v) { return v * 3 / 2; };
  auto py = [](int v) { return v * 13 / 8; };
  return CRect(px(x), py(y), px(x + cx), py(y + cy));
}

void RegisterTemplates() {
  vkt::win::DialogTemplate t;
  t.caption = "";
  CRect size = Dlu(0, 0, 211, 66);
  t.rect = CRect(0, 0, size.Width(), size.Height());
  t.style = WS_POPUP | WS_CAPTION | WS_BORDER;
  LOGFONT lf = vkt::win::DefaultGuiFont();
  std::snprintf(lf.lfFaceName, sizeof lf.lfFaceName, "%s", "MS Sans Serif");
  t.font = lf;
  const DWORD child = WS_CHILD | WS_VISIBLE;
  t.items = {
      {"Static", "", IDC_VKT_PROGRESS_STATUS, child | SS_CENTER, Dlu(7, 5, 197, 9)},
      {"Static", " 0 %", IDC_VKT_PROGRESS_PERCENT, child | SS_CENTER, Dlu(7, 17, 197, 9)},
      {"msctls_progress32", "", IDC_VKT_PROGRESS_BAR, child | WS_BORDER, Dlu(7, 29, 197, 10)},
      {"Button", "&Esci", IDCANCEL, child | WS_TABSTOP | BS_PUSHBUTTON, Dlu(81, 48, 50, 14)},
  };
  vkt::win::RegisterDialogTemplate(IDD_VKT_PROGRESS, std::move(t));
}

}  // namespace

std::string LibraryString(UINT id) {
  auto it = Strings().find(id);
  return it == Strings().end() ? std::string() : it->second;
}

std::string LoadResourceString(UINT id) {
  std::string s = LibraryString(id);
  return s.empty() ? vkt::services().LoadString(id) : s;
}

void RegisterDialogResources() {
  // Cheap enough to check every time: tests clear the model's resources.
  HBITMAP probe = vkt::win::LoadBitmapResource(IDI_RECORD_SALVA);
  if (probe) vkt::win::DeleteBitmap(probe);
  else RegisterIcons();
  if (!vkt::win::FindDialogTemplate(IDD_VKT_PROGRESS)) RegisterTemplates();
}

}  // namespace vkt::dialogs
