// `vkt demo`, the report grid: the customer list in a CVKTReportControl,
// driven as a user would (the column menu's "Cerca", a city typed into the
// search row, the list grouped by city), painted to a PNG file, its layout
// saved under the demo folder's "configuration", and the filtered rows
// printed through the text channel and as PDF.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "common/julian.h"
#include "common/vktstring.h"
#include "frame/vktapp.h"
#include "print/printer.h"
#include "print/vktreportcontrol.h"
#include "tools/vkt/vkt.h"
#include "win/canvas.h"
#include "win/dialog.h"
#include "win/driver.h"

namespace vkt::tool {
namespace {

constexpr UINT kGrid = 1300;

class ElencoClienti : public CDialog {
 public:
  ElencoClienti() {
    vkt::win::DialogTemplate t;
    t.caption = "Elenco clienti";
    t.rect = CRect(60, 60, 760, 420);
    t.style |= WS_VISIBLE;
    t.items = {{"XTPReport", "", kGrid, WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER,
                CRect(10, 10, 690, 350)}};
    SetTemplate(t);
  }
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, kGrid, grid); }
  CVKTReportControl grid;
};

CPoint Centre(const CRect& r) { return CPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2); }

std::string Utf8(const char* cp1252) {
  char copy[256];
  strzcpy(copy, cp1252, sizeof copy);
  return StrToUtf8(copy);
}

}  // namespace

void DemoGrid(const std::string& dir) {
  std::printf("\n== Griglia di report (elenco clienti filtrato dalla riga di ricerca)\n");
  mkdir(dir.c_str(), 0755);
  std::string saved_path = vktpar->path;
  strzcpy(vktpar->path, dir.c_str(), sizeof vktpar->path);

  ElencoClienti dlg;
  if (!dlg.Create(0)) {
    std::printf("finestra non creata\n");
    strzcpy(vktpar->path, saved_path.c_str(), sizeof vktpar->path);
    return;
  }
  CVKTReportControl& grid = dlg.grid;
  grid.SetFilterable(TRUE);
  grid.AddColumn(new CXTPReportColumn(0, "Codice", 70));
  grid.AddColumn(new CXTPReportColumn(1, "Ragione sociale", 210));
  grid.AddColumn(new CXTPReportColumn(2, "Citt\xE0", 110));
  grid.AddColumn(new CXTPReportColumn(3, "Ultima fattura", 130));
  grid.AddColumn(new CXTPReportColumn(4, "Fido", 140))->SetAlignment(DT_RIGHT);
  char when[] = "2025-03-15 00:00:00";
  const int32_t day = DateToJulian(TimestampToDate(when), 0);
  const struct { const char* codice; const char* ragione; const char* citta; int32_t fattura;
                 double fido; } kClienti[] = {
      {"C00001", "Rossi Mario", "Milano", day, 15000.0},
      {"C00002", "Verdi Anna", "Roma", day - 40, 2500.5},
      {"C00003", "Bianchi Luca", "Torino", 0, 0.0},
      {"C00004", "Caff\xE8 Ferrari S.n.c.", "Bari", day - 400, 1234567.5},
      {"C00005", "Colombo Stefania", "Firenze", day - 3, 800.0},
      {"C00006", "Romano Giulia", "Milano", Now(0), 320.75},
      {"C00007", "Esposito Ciro", "Napoli", day - 90, -150.0},
  };
  int32_t key = 1;
  for (const auto& k : kClienti) {
    auto* r = new CVKTReportRecord;
    r->AddItem(new CXTPReportRecordItemText(k.codice));
    r->AddItem(new CXTPReportRecordItemText(k.ragione));
    r->AddItem(new CXTPReportRecordItemText(k.citta));
    r->AddItem(new CVKTReportRecordItemJulianDate(k.fattura));
    r->AddItem(new CVKTReportRecordItemCurrency(k.fido, "%.2f"));
    r->SetBookmark(key++, 0);
    if (k.fido < 0) r->SetTextColor(RGB(190, 0, 0));
    if (k.fido >= 10000) r->SetBold(true);
    grid.AddRecord(r);
  }
  grid.Populate();

  // The user: right click on a header, "Cerca"; then "mi" typed in the city's
  // search cell.
  vkt::win::Driver ui;
  ui.Then([&] {
    CXTPPopupMenuWnd* menu = vkt::win::ActivePopupMenu();
    if (menu == nullptr) return;
    for (int i = 0; i < menu->menu()->GetItemCount(); ++i)
      if (std::strcmp(menu->menu()->GetItem(i).text, "Cerca") == 0) ui.Click(menu, Centre(menu->ItemRect(i)));
  });
  CRect header = grid.ColumnHeaderRect(grid.GetColumns()->GetAt(1));
  ::PostMessage(grid.m_hWnd, WM_RBUTTONUP, 0, MAKELPARAM(header.left + 10, header.top + 5));
  ui.RunPosted();
  ui.Click(&grid, Centre(grid.HeaderCellRect(0, grid.GetColumns()->GetAt(2))));
  ui.Type("mi");
  std::printf("ricerca \"mi\" nella colonna Citt\xC3\xA0: %d righe su %d\n", grid.GetRowCount(),
              grid.GetRecords()->GetCount());
  for (int i = 0; i < grid.GetRowCount(); ++i) {
    CXTPReportRow* row = grid.GetRow(i);
    std::printf("  %s  %-24s %12s\n", row->GetRecord()->GetItem(0)->GetCaption(nullptr).GetString(),
                Utf8(row->GetRecord()->GetItem(1)->GetCaption(nullptr)).c_str(),
                row->GetRecord()->GetItem(4)->GetCaption(nullptr).GetString());
  }
  const std::string png = dir + "/griglia-clienti.png";
  if (vkt::win::SavePng(&dlg, png)) std::printf("immagine: %s\n", png.c_str());

  if (grid.SaveState("clienti.xml", "Elenco clienti"))
    std::printf("disposizione salvata in %s/configuration/clienti.xml\n", dir.c_str());

  grid.GetPrintOptions()->m_nPageRows = 24;
  grid.GetPrintOptions()->m_nPageColumns = 80;
  const std::string txt = dir + "/griglia-clienti.txt";
  grid.SetPrintDestination(CPrinter::kToFile, txt.c_str());
  if (grid.Print("ELENCO CLIENTI (filtro: mi)") == 0) {
    std::printf("stampa di testo in %s:\n", txt.c_str());
    std::ifstream in(txt, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      while (!line.empty() && line.back() == ' ') line.pop_back();
      if (!line.empty()) std::printf("  | %s\n", Utf8(line.c_str()).c_str());
    }
  }
  // The short page suits the listing above; the PDF fills its sheet.
  grid.GetPrintOptions()->m_nPageRows = GetPrinterRow();
  const std::string pdf = dir + "/griglia-clienti.pdf";
  grid.SetPrintDestination(CVKTReportControl::kPrintToPdf, pdf.c_str());
  if (grid.Print("ELENCO CLIENTI (filtro: mi)") == 0) std::printf("PDF: %s\n", pdf.c_str());

  // Grouped by invoice date: the library's date captions.
  grid.GetColumns()->GetGroupsOrder()->Add(grid.GetColumns()->GetAt(3));
  grid.GetColumns()->GetAt(3)->SetSortIncreasing(FALSE);
  grid.ShowGroupBy(TRUE);
  ui.Click(&grid, Centre(grid.HeaderCellRect(0, grid.GetColumns()->GetAt(2))));
  ui.Type("\b\b");
  std::printf("raggruppati per data dell'ultima fattura:\n");
  for (int i = 0; i < grid.GetRowCount(); ++i) {
    CXTPReportRow* row = grid.GetRow(i);
    if (row->IsGroupRow()) {
      std::printf("  [%s]\n", Utf8(row->GetGroupCaption()).c_str());
    } else {
      std::printf("    %s %s\n", Utf8(row->GetRecord()->GetItem(1)->GetCaption(nullptr)).c_str(),
                  row->GetRecord()->GetItem(3)->GetCaption(nullptr).GetString());
    }
  }
  const std::string grouped = dir + "/griglia-clienti-date.png";
  if (vkt::win::SavePng(&dlg, grouped)) std::printf("immagine: %s\n", grouped.c_str());
  dlg.DestroyWindow();
  strzcpy(vktpar->path, saved_path.c_str(), sizeof vktpar->path);
}

}  // namespace vkt::tool
