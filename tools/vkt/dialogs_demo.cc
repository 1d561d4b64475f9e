// `vkt demo`, the dialogs: a customer list and a customer dialog over an
// ISAM table, filled and driven as a user would (F4 on a row, a new city,
// F2 saving through DBWrite, F3 and a new customer), each painted to a PNG
// file in the demo folder.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frame/vktapp.h"
#include "tools/vkt/rubrica.h"
#include "tools/vkt/vkt.h"
#include "win/canvas.h"
#include "win/driver.h"

namespace vkt::tool {
namespace {

CWnd* Innermost() { return CWnd::FromHandlePermanent(vkt::win::ModalWindows().back()); }

}  // namespace

void DemoDialogs(const std::string& dir) {
  std::printf("\n== Finestre di dialogo (elenco clienti e scheda cliente)\n");
  mkdir(dir.c_str(), 0755);
  RubricaTable table;
  if (!table.Open(dir + "/dialoghi", "rubrica", "Rub", stdout)) return;
  CDBCtree& rubrica = table.table();
  table.Empty();  // a fresh list at every run
  table.AddSamples();

  std::vector<std::string> shots;
  auto shot = [&](CWnd* wnd, const char* name) {
    std::string path = dir + "/" + name;
    if (vkt::win::SavePng(wnd, path)) shots.push_back(path);
  };
  ClientiBrowse browse(&rubrica);
  vkt::win::Driver ui;
  ui.Then([&] {
    ui.Focus(&browse.m_grid);
    ui.Press(VK_DOWN);
    shot(&browse, "clienti.png");
    ui.Press(VK_F4);
  });
  ui.Then([&] {
    auto* dlg = dynamic_cast<ClienteDlg*>(Innermost());
    if (!dlg) return;
    ui.Focus(&dlg->cf);
    ui.Type("BBBCCC90B02A000M");
    ui.Focus(&dlg->citta);
    ui.Type("reggio emilia");
    shot(dlg, "cliente.png");
    ui.Press(VK_F2);  // DBWrite, then the list again
  });
  ui.Then([&] {
    ui.Focus(&browse.m_grid);
    ui.Press(VK_F3);
  });
  ui.Then([&] {
    auto* dlg = dynamic_cast<ClienteDlg*>(Innermost());
    if (!dlg) return;
    ui.Focus(&dlg->codice);
    for (const char* text : {"c004", "Neri Paolo", "", "bologna", "2500"}) {
      ui.Type(text);
      ui.Press(VK_RETURN);
    }
    shot(dlg, "cliente_nuovo.png");
    ui.Press(VK_F2);
  });
  ui.Then([&] {
    shot(&browse, "clienti_dopo.png");
    ui.Press(VK_ESCAPE);
  });
  browse.DoModal();
  std::printf("clienti in rubrica: %d\n", static_cast<int>(rubrica.DBNbrOfRecords()));
  if (table.Find("C002"))
    std::printf("C002 salvato con DBWrite: citt\xC3\xA0 %s, codice fiscale %s\n",
                GetField(table.record().citta, sizeof(Rubrica::citta)).c_str(),
                GetField(table.record().cod_fiscale, sizeof(Rubrica::cod_fiscale)).c_str());
  for (const auto& p : shots) std::printf("immagine: %s\n", p.c_str());
}

}  // namespace vkt::tool
