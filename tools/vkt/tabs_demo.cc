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
#include "tools/vkt/vkt.h"
#include "win/canvas.h"
#include "win/driver.h"

namespace vkt::tool {
namespace {

#pragma pack(push, 1)
struct Scheda {
  char codice[7];
  char ragione[41];
  char cod_fiscale[17];
  char citta[31];
  int32_t fido;
  char utente[21];
};
#pragma pack(pop)
static_assert(sizeof(Scheda) == 121);

int16_t StampScheda(void* record) {
  strzcpy(static_cast<Scheda*>(record)->utente, vktpar->last_user, sizeof(Scheda::utente));
  return 0;
}

void PutField(char* field, size_t n, const char* text) {
  std::memset(field, ' ', n - 1);
  field[n - 1] = '\0';
  std::memcpy(field, text, std::min(std::strlen(text), n - 1));
}

std::string GetField(const char* field, size_t n) {
  std::string s(field, strnlen(field, n));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

enum : UINT { kCodice = 1001, kRagione, kCf, kCitta, kFido, kTabs = 1300 };

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
    if (m_newRecord == 0) {
      char key[64] = {};
      std::snprintf(key, 7, "%-6s", codice_.c_str());
      table_->DBSetIndex(1);
      if (table_->DBGetRecord(key) == 0) {
        const Scheda& r = *static_cast<Scheda*>(table_->DBGetBuffer());
        anagrafica.codice.SetText(GetField(r.codice, sizeof r.codice).c_str());
        anagrafica.codice.SetReadOnly(TRUE);
        anagrafica.ragione.SetText(GetField(r.ragione, sizeof r.ragione).c_str());
        anagrafica.cf.SetText(GetField(r.cod_fiscale, sizeof r.cod_fiscale).c_str());
        recapito.citta.SetText(GetField(r.citta, sizeof r.citta).c_str());
        recapito.fido.SetValue(r.fido);
      } else {
        m_newRecord = 1;
      }
    }
    return TRUE;
  }
  void OnRecordSalva() override {
    Scheda r = m_newRecord == 1 ? Scheda{} : *static_cast<Scheda*>(table_->DBGetBuffer());
    char buf[64];
    anagrafica.codice.GetText(buf);
    PutField(r.codice, sizeof r.codice, buf);
    anagrafica.ragione.GetText(buf);
    PutField(r.ragione, sizeof r.ragione, buf);
    anagrafica.cf.GetText(buf);
    PutField(r.cod_fiscale, sizeof r.cod_fiscale, buf);
    recapito.citta.GetText(buf);
    PutField(r.citta, sizeof r.citta, buf);
    r.fido = static_cast<int32_t>(recapito.fido.GetValueInteger());
    int16_t s = DBWrite(table_, m_newRecord == 1 ? 0 : 1, &r, table_);
    if (s == 0) EndDialog(IDOK);
    else DBISAM(s, "schede");
  }

  AnagraficaPage anagrafica;
  RecapitoPage recapito;

 private:
  CDBCtree* table_;
  std::string codice_;
};

}  // namespace

void DemoTabs(const std::string& dir) {
  std::printf("\n== Scheda a pagine (cliente su due pagine)\n");
  const std::string folder = dir + "/dialoghi";
  mkdir(dir.c_str(), 0755);
  mkdir(folder.c_str(), 0755);
  char none[1] = "";
  if (vktpar->user[0] == '\0') strzcpy(vktpar->user, "DEMO", sizeof vktpar->user);
  if (vktpar->last_user[0] == '\0') strzcpy(vktpar->last_user, vktpar->user, sizeof vktpar->last_user);
  if (int16_t s = DBInitISAM(64, vktpar->user, vktpar->password, none, true, false, true); s != 0) {
    std::printf("sessione ISAM non aperta (stato %d)\n", s);
    return;
  }
  const unsigned char saved_create = vktpar->allow_create, saved_dirs = vktpar->create_dirs;
  vktpar->allow_create = 1;
  vktpar->create_dirs = 1;
  std::string name = folder + "/schede";
  char n_cod[] = "SchCodice", first[] = "sch_codice", last[] = "sch_utente";
  ISEG seg[1] = {{0, 6, CT_SEG_BYTES}};
  IIDX ix[1] = {{6, 0, 0, 0, 0, 1, &seg[0], n_cod, nullptr, nullptr, nullptr}};
  ifil4 ifil = {name.data(), -1, sizeof(Scheda), 4096, 0, 1, 4096, 0, ix, first, last, -1};
  Scheda buffer{};
  CDBCtree schede(1, &ifil, &buffer, PutStandard, nullptr, StampScheda, 0);
  if (int s = schede.DBOpen(1); s != 0) {
    std::printf("tabella non aperta (stato %d)\n", s);
    DBCloseISAM(0);
    vktpar->allow_create = saved_create;
    vktpar->create_dirs = saved_dirs;
    return;
  }
  // A fresh table at every run, with one customer.
  schede.DBSetIndex(1);
  while (schede.DBFirstRecord() == 0) {
    Scheda r = buffer;
    if (DBWrite(&schede, 2, &r, &schede) != 0) break;
  }
  Scheda c{};
  PutField(c.codice, sizeof c.codice, "C001");
  PutField(c.ragione, sizeof c.ragione, "Rossi Mario");
  PutField(c.cod_fiscale, sizeof c.cod_fiscale, "RSSMRA85T10A562S");
  PutField(c.citta, sizeof c.citta, "Milano");
  c.fido = 1000;
  DBWrite(&schede, 0, &c, &schede);

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
  char key[64] = {};
  std::snprintf(key, 7, "%-6s", "C001");
  schede.DBSetIndex(1);
  if (result == IDOK && schede.DBGetRecord(key) == 0)
    std::printf("C001 salvato con DBWrite: %s, citt\xC3\xA0 %s, fido %d\n",
                GetField(buffer.ragione, sizeof buffer.ragione).c_str(),
                GetField(buffer.citta, sizeof buffer.citta).c_str(), static_cast<int>(buffer.fido));
  else
    std::printf("scheda non salvata (esito %d)\n", result);
  for (const auto& p : shots) std::printf("immagine: %s\n", p.c_str());
  schede.DBCloseIFile();
  DBCloseISAM(0);
  vktpar->allow_create = saved_create;
  vktpar->create_dirs = saved_dirs;
}

}  // namespace vkt::tool
