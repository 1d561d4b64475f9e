// `vkt demo --live`: the customer list and customer dialog of the demo on
// the X display, for a person to use. F4 opens the selected customer, F3 a
// new one, F2 saves through DBWrite, Escape closes. With --record only the
// dialog of a new customer is shown; --snapshots DIR writes what each window
// shows to DIR as it is repainted.
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
#include "dialogs/vktbrowsedialog.h"
#include "dialogs/vktrecorddialog.h"
#include "frame/vktapp.h"
#include "tools/vkt/vkt.h"
#include "win/cp1252.h"
#include "win/x11.h"

namespace vkt::tool {
namespace {

#pragma pack(push, 1)
struct Rubrica {
  char codice[7];
  char ragione[41];
  char cod_fiscale[17];
  char citta[31];
  int32_t fido;
  char utente[21];
};
#pragma pack(pop)
static_assert(sizeof(Rubrica) == 121);

int16_t StampRubrica(void* record) {
  strzcpy(static_cast<Rubrica*>(record)->utente, vktpar->last_user, sizeof(Rubrica::utente));
  return 0;
}

void Put(char* field, size_t n, const char* text) {
  std::memset(field, ' ', n - 1);
  field[n - 1] = '\0';
  std::memcpy(field, text, std::min(std::strlen(text), n - 1));
}

std::string Get(const char* field, size_t n) {
  std::string s(field, strnlen(field, n));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

enum : UINT { kCodice = 1001, kRagione, kCf, kCitta, kFido, kGrid = 1101 };

vkt::win::DialogTemplate ClienteTemplate() {
  vkt::win::DialogTemplate t;
  t.caption = "Anagrafica cliente";
  t.rect = CRect(60, 60, 760, 310);
  t.style |= WS_VISIBLE;
  const char* labels[] = {"Codice", "Ragione sociale", "Codice fiscale", "Citt\xE0", "Fido"};
  const UINT ids[] = {kCodice, kRagione, kCf, kCitta, kFido};
  const int widths[] = {90, 330, 170, 250, 110};
  t.items.push_back({"Button", "Dati del cliente", 1200, WS_CHILD | WS_VISIBLE | BS_GROUPBOX,
                     CRect(10, 50, 690, 240)});
  for (int i = 0; i < 5; ++i) {
    int y = 80 + i * 30;
    t.items.push_back({"Static", labels[i], 0, WS_CHILD | WS_VISIBLE, CRect(20, y + 3, 140, y + 21)});
    t.items.push_back({"Edit", "", ids[i], WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL,
                       CRect(150, y, 150 + widths[i], y + 23)});
  }
  return t;
}

class ClienteDlg : public CVKTRecordDialog {
 public:
  ClienteDlg(CDBCtree* table, const std::string& codice) : table_(table), codice_(codice) {
    SetTemplate(ClienteTemplate());
    SetSubclassStatic(TRUE);
    m_newRecord = codice.empty() ? 1 : 0;
  }
  void DoDataExchange(CDataExchange* dx) override {
    CVKTRecordDialog::DoDataExchange(dx);
    DDX_Control(dx, kCodice, codice);
    DDX_Control(dx, kRagione, ragione);
    DDX_Control(dx, kCf, cf);
    DDX_Control(dx, kCitta, citta);
    DDX_Control(dx, kFido, fido);
  }
  BOOL OnInitDialog() override {
    if (!CVKTRecordDialog::OnInitDialog()) return FALSE;
    ShowGradient(FALSE);
    SetBackColor(RGB(236, 241, 248));
    codice.SetFormat(6, "U<!_");
    ragione.SetFormat(40, "<!_");
    cf.SetFormat(16, "U<!_", filter_space, CheckCodFiscale);
    citta.SetFormat(30, "P<!_");
    fido.SetDecimalPlaces(0);
    fido.SetRange(0, 99999999);
    if (m_newRecord == 0) {
      char key[64] = {};
      std::snprintf(key, 7, "%-6s", codice_.c_str());
      table_->DBSetIndex(1);
      if (table_->DBGetRecord(key) == 0) {
        const Rubrica& r = *static_cast<Rubrica*>(table_->DBGetBuffer());
        codice.SetText(Get(r.codice, sizeof r.codice).c_str());
        codice.SetReadOnly(TRUE);
        ragione.SetText(Get(r.ragione, sizeof r.ragione).c_str());
        cf.SetText(Get(r.cod_fiscale, sizeof r.cod_fiscale).c_str());
        citta.SetText(Get(r.citta, sizeof r.citta).c_str());
        fido.SetValue(r.fido);
      } else {
        m_newRecord = 1;
      }
    }
    return TRUE;
  }
  void OnRecordSalva() override {
    Rubrica r = m_newRecord == 1 ? Rubrica{} : *static_cast<Rubrica*>(table_->DBGetBuffer());
    char buf[64];
    codice.GetText(buf);
    Put(r.codice, sizeof r.codice, buf);
    ragione.GetText(buf);
    Put(r.ragione, sizeof r.ragione, buf);
    cf.GetText(buf);
    Put(r.cod_fiscale, sizeof r.cod_fiscale, buf);
    citta.GetText(buf);
    Put(r.citta, sizeof r.citta, buf);
    r.fido = static_cast<int32_t>(fido.GetValueInteger());
    int16_t s = DBWrite(table_, m_newRecord == 1 ? 0 : 1, &r, table_);
    if (s == 0) EndDialog(IDOK);
    else DBISAM(s, "rubrica");
  }

  CVKTEdit codice, ragione, cf, citta;
  CVKTNumeric fido;

 private:
  CDBCtree* table_;
  std::string codice_;
};

class ClientiBrowse : public CVKTRecordBrowseDialog {
 public:
  explicit ClientiBrowse(CDBCtree* table) : table_(table) {
    vkt::win::DialogTemplate t;
    t.caption = "Clienti";
    t.rect = CRect(20, 20, 660, 350);
    t.style |= WS_VISIBLE;
    t.items.push_back({"SpreadSheet", "", kGrid, WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(10, 60, 630, 320)});
    SetTemplate(t);
  }
  void DoDataExchange(CDataExchange* dx) override {
    CVKTRecordBrowseDialog::DoDataExchange(dx);
    DDX_Control(dx, kGrid, m_grid);
  }
  BOOL OnInitDialog() override {
    if (!CVKTRecordBrowseDialog::OnInitDialog()) return FALSE;
    m_grid.SetColumns({{"Codice", 80}, {"Ragione sociale", 250}, {"Codice fiscale", 150}, {"Citt\xE0", 138}});
    Fill();
    return TRUE;
  }
  void Fill() {
    int row = m_grid.GetActiveRow();
    m_grid.ClearRows();
    table_->DBSetIndex(1);
    for (int16_t s = table_->DBFirstRecord(); s == 0; s = table_->DBNextRecord()) {
      const Rubrica& r = *static_cast<Rubrica*>(table_->DBGetBuffer());
      m_grid.AddRow({Get(r.codice, sizeof r.codice), Get(r.ragione, sizeof r.ragione),
                     Get(r.cod_fiscale, sizeof r.cod_fiscale), Get(r.citta, sizeof r.citta)});
    }
    m_grid.SetActiveRow(row);
  }
  void Open(const std::string& code) {
    ClienteDlg dlg(table_, code);
    dlg.DoModal();
    Fill();
  }
  void OnRecordBrowseApri() override { Open(m_grid.GetText(1, m_grid.GetActiveRow())); }
  void OnRecordBrowseNuovo() override { Open(""); }

 private:
  CDBCtree* table_;
};

}  // namespace

int DemoLive(const std::vector<std::string>& args) {
  std::string dir = "vkt-demo", snapshots;
  bool record_only = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--live") continue;
    if (args[i] == "--record") {
      record_only = true;
    } else if (args[i] == "--dir" && i + 1 < args.size()) {
      dir = args[++i];
    } else if (args[i] == "--snapshots" && i + 1 < args.size()) {
      snapshots = args[++i];
    } else {
      std::fprintf(stderr, "vkt demo: argomento sconosciuto: %s\n", args[i].c_str());
      return 2;
    }
  }
  vkt::win::LiveDisplay live;
  if (!live.Open()) {
    std::fprintf(stderr, "vkt demo --live: nessun display X (DISPLAY non impostato o non raggiungibile)\n");
    return 1;
  }
  if (!snapshots.empty()) live.SetSnapshotDir(snapshots);
  vkt::win::LiveServices services(&live);
  vkt::ScopedServices use(&services);

  const std::string folder = dir + "/live";
  mkdir(dir.c_str(), 0755);
  mkdir(folder.c_str(), 0755);
  char none[1] = "";
  if (vktpar->user[0] == '\0') strzcpy(vktpar->user, "DEMO", sizeof vktpar->user);
  if (vktpar->last_user[0] == '\0') strzcpy(vktpar->last_user, vktpar->user, sizeof vktpar->last_user);
  if (int16_t s = DBInitISAM(64, vktpar->user, vktpar->password, none, true, false, true); s != 0) {
    std::fprintf(stderr, "sessione ISAM non aperta (stato %d)\n", s);
    return 1;
  }
  vktpar->allow_create = 1;
  vktpar->create_dirs = 1;
  std::string name = folder + "/rubrica";
  char n_cod[] = "RubCodice", first[] = "rub_codice", last[] = "rub_utente";
  ISEG seg[1] = {{0, 6, CT_SEG_BYTES}};
  IIDX ix[1] = {{6, 0, 0, 0, 0, 1, &seg[0], n_cod, nullptr, nullptr, nullptr}};
  ifil4 ifil = {name.data(), -1, sizeof(Rubrica), 4096, 0, 1, 4096, 0, ix, first, last, -1};
  Rubrica buffer{};
  CDBCtree rubrica(1, &ifil, &buffer, PutStandard, nullptr, StampRubrica, 0);
  if (int s = rubrica.DBOpen(1); s != 0) {
    std::fprintf(stderr, "tabella non aperta (stato %d)\n", s);
    DBCloseISAM(0);
    return 1;
  }
  if (rubrica.DBNbrOfRecords() == 0) {
    const struct { const char* codice; const char* ragione; const char* cf; const char* citta; int fido; } kRows[] = {
        {"C001", "Rossi Mario", "RSSMRA85T10A562S", "Milano", 1000},
        {"C002", "Bianchi Carla", "", "Palermo", 2000},
        {"C003", "Verdi Anna", "", "Roma", 3000},
    };
    for (const auto& k : kRows) {
      Rubrica r{};
      Put(r.codice, sizeof r.codice, k.codice);
      Put(r.ragione, sizeof r.ragione, k.ragione);
      Put(r.cod_fiscale, sizeof r.cod_fiscale, k.cf);
      Put(r.citta, sizeof r.citta, k.citta);
      r.fido = k.fido;
      DBWrite(&rubrica, 0, &r, &rubrica);
    }
  }
  // Closing the list is the normal end; the single dialog tells whether
  // it was saved.
  int result = IDOK;
  if (record_only) {
    ClienteDlg dlg(&rubrica, "");
    result = static_cast<int>(dlg.DoModal());
  } else {
    ClientiBrowse browse(&rubrica);
    browse.DoModal();
  }
  std::printf("clienti in rubrica: %d\n", static_cast<int>(rubrica.DBNbrOfRecords()));
  rubrica.DBSetIndex(1);
  for (int16_t s = rubrica.DBFirstRecord(); s == 0; s = rubrica.DBNextRecord())
    std::printf("%s | %s | %s | %s | %d\n", Get(buffer.codice, sizeof buffer.codice).c_str(),
                Get(buffer.ragione, sizeof buffer.ragione).c_str(),
                Get(buffer.cod_fiscale, sizeof buffer.cod_fiscale).c_str(),
                vkt::win::Cp1252ToUtf8(Get(buffer.citta, sizeof buffer.citta)).c_str(),
                static_cast<int>(buffer.fido));
  rubrica.DBCloseIFile();
  DBCloseISAM(0);
  return result == IDOK ? 0 : 3;
}

}  // namespace vkt::tool
