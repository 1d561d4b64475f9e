// `vkt demo`, the tabbed record dialog: a customer on two pages over an
// ISAM table, driven as a user would (a field on the first page, Ctrl+Tab
// to the second, a new city, F2 saving through DBWrite), each page painted
// to a PNG file in the demo folder.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/checks.h"
#include "common/vktstring.h"
#include "controls/vktedit.h"
#include "controls/vktnumeric.h"
#include "db/dbctree.h"
#include "dialogs/vkttabbedrecorddialog.h"
#include "frame/vktapp.h"
#include "tools/vkt/rubrica.h"
#include "tools/vkt/vkt.h"
#include "win/canvas.h"
#include "win/driver.h"

namespace vkt::tool {
namespace {

enum : UINT { kTabs = 1300 };

vkt::win::DialogTemplate PageOf(const char* group, const std::vector<std::pair<const char*, UINT>>& fields) {
  vkt::win::DialogTemplate t;
  t.style = WS_CHILD;
  const DWORD child = WS_CHILD | WS_VISIBLE;
  t.items.push_back({"Button", group, 0, child | BS_GROUPBOX,
                     CRect(8, 6, 590, 40 + 30 * static_cast<int>(fields.size()))});
  int y = 30;
  for (const auto& [label, id] : fields) {
    t.items.push_back({"Static", label, 0, child | SS_RIGHT, CRect(16, y + 3, 150, y + 21)});
    t.items.push_back({"Edit", "", id, child | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL,
                       CRect(160, y, 160 + (id == kRagione ? 330 : 200), y + 23)});
    y += 30;
  }
  return t;
}

class AnagraficaPage : public CVKTTabsPage {
 public:
  AnagraficaPage() : CVKTTabsPage(0u) {
    SetTemplate(PageOf("Anagrafica", {{"Codice", kCodice}, {"Ragione sociale", kRagione}, {"Codice fiscale", kCf}}));
  }
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Control(dx, kCodice, codice);
    DDX_Control(dx, kRagione, ragione);
    DDX_Control(dx, kCf, cf);
  }
  void OnInitPage() override {
    codice.SetFormat(6, "U<!_");
    ragione.SetFormat(40, "<!_");
    cf.SetFormat(16, "U<!_", filter_space, CheckCodFiscale);
  }
  CVKTEdit codice, ragione, cf;
};

class RecapitoPage : public CVKTTabsPage {
 public:
  RecapitoPage() : CVKTTabsPage(0u) { SetTemplate(PageOf("Recapito e fido", {{"Citt\xE0", kCitta}, {"Fido", kFido}})); }
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Control(dx, kCitta, citta);
    DDX_Control(dx, kFido, fido);
  }
  void OnInitPage() override {
    citta.SetFormat(30, "P<!_");
    fido.SetDecimalPlaces(0);
    fido.SetRange(0, 99999999);
  }
  CVKTEdit citta;
  CVKTNumeric fido;
};

// The customer on the library's own tabbed template.
class SchedaDlg : public CVKTTabbedRecordDialog {
 public:
  SchedaDlg(CDBCtree* table, const std::string& codice) : table_(table), codice_(codice) {
    m_newRecord = codice.empty() ? 1 : 0;
  }
  void OnInitTabControl() override {
    CRect client;
    GetClientRect(&client);
    CreateTabControl(&m_Tabs, CRect(8, 0, client.right - 8, client.bottom - 8), kTabs);
  }
  void OnAddPages() override {
    AddPage(&anagrafica, "Anagrafica");
    AddPage(&recapito, "Recapito e fido");
  }
  BOOL OnInitDialog() override {
    if (!CVKTTabbedRecordDialog::OnInitDialog()) return FALSE;
    SetWindowText("Scheda cliente");
    if (m_newRecord == 0 && !LoadFields(table_, codice_, Fields())) m_newRecord = 1;
    return TRUE;
  }
  void OnRecordSalva() override {
    int16_t s = SaveFields(table_, m_newRecord == 1, Fields());
    if (s == 0) EndDialog(IDOK);
    else DBISAM(s, "schede");
  }

  AnagraficaPage anagrafica;
  RecapitoPage recapito;

 private:
  RubricaFields Fields() {
    return {&anagrafica.codice, &anagrafica.ragione, &anagrafica.cf, &recapito.citta, &recapito.fido};
  }
  CDBCtree* table_;
  std::string codice_;
};

}  // namespace

void DemoTabs(const std::string& dir) {
  std::printf("\n== Scheda a pagine (cliente su due pagine)\n");
  const std::string folder = dir + "/dialoghi";
  mkdir(dir.c_str(), 0755);
  RubricaTable table;
  if (!table.Open(folder, "schede", "Sch", stdout)) return;
  CDBCtree& schede = table.table();
  // A fresh table at every run, with one customer.
  table.Empty();
  table.Add("C001", "Rossi Mario", "RSSMRA85T10A562S", "Milano", 1000);

  std::vector<std::string> shots;
  auto shot = [&](CWnd* wnd, const char* file) {
    std::string path = folder + "/" + file;
    if (vkt::win::SavePng(wnd, path)) shots.push_back(path);
  };
  SchedaDlg dlg(&schede, "C001");
  vkt::win::Driver ui;
  ui.Then([&] {
    ui.Focus(&dlg.anagrafica.ragione);
    ui.Type("Rossi Mario & Figli");
    shot(&dlg, "scheda_anagrafica.png");
    ui.Press(VK_TAB, vkt::win::kCtrl);  // the second page
    ui.Focus(&dlg.recapito.citta);
    ui.Type("Monza");
    ui.Press(VK_RETURN);
    ui.Type("1500");
    shot(&dlg, "scheda_recapito.png");
    ui.Press(VK_F2);  // DBWrite
  });
  int result = static_cast<int>(dlg.DoModal());
  if (result == IDOK && table.Find("C001"))
    std::printf("C001 salvato con DBWrite: %s, citt\xC3\xA0 %s, fido %d\n",
                GetField(table.record().ragione, sizeof(Rubrica::ragione)).c_str(),
                GetField(table.record().citta, sizeof(Rubrica::citta)).c_str(),
                static_cast<int>(table.record().fido));
  else
    std::printf("scheda non salvata (esito %d)\n", result);
  for (const auto& p : shots) std::printf("immagine: %s\n", p.c_str());
}

}  // namespace vkt::tool
