// A host-style customer dialog and customer list over a real ISAM table,
// written as the applications write theirs: the record dialog reads the
// record by key into formatted fields and writes it through DBWrite; the
// browse lists the table in the grid and opens the record dialog on F3/F4.
#ifndef VKT_TESTS_DIALOGS_CUSTOMER_HOST_H_
#define VKT_TESTS_DIALOGS_CUSTOMER_HOST_H_

#include <algorithm>
#include <cstring>
#include <string>

#include "common/checks.h"
#include "common/vktstring.h"
#include "controls/vktedit.h"
#include "controls/vktnumeric.h"
#include "db/db_fixture.h"
#include "dialogs/vktbrowsedialog.h"
#include "dialogs/vktrecorddialog.h"
#include "win/dialog.h"

namespace vkt::test {

using vkt::db::test::Cliente;

enum : UINT {
  IDC_CODICE = 1001,
  IDC_RAGIONE = 1002,
  IDC_CF = 1003,
  IDC_CITTA = 1004,
  IDC_FIDO = 1005,
  IDC_GRID = 1101,
  IDC_FILTRO = 1102,
};

inline vkt::win::DialogTemplate ClienteTemplate() {
  vkt::win::DialogTemplate t;
  t.caption = "Anagrafica cliente";
  t.rect = CRect(60, 60, 60 + 700, 60 + 250);
  t.style |= WS_VISIBLE;
  const DWORD label = WS_CHILD | WS_VISIBLE | SS_RIGHT;
  const DWORD field = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
  const char* labels[] = {"Codice", "Ragione sociale", "Codice fiscale", "Citt\xE0", "Fido"};
  const UINT ids[] = {IDC_CODICE, IDC_RAGIONE, IDC_CF, IDC_CITTA, IDC_FIDO};
  const int widths[] = {90, 330, 170, 250, 110};
  t.items.push_back({"Button", "Dati del cliente", 1200, WS_CHILD | WS_VISIBLE | BS_GROUPBOX,
                     CRect(10, 50, 690, 240)});
  for (int i = 0; i < 5; ++i) {
    int y = 80 + i * 30;
    t.items.push_back({"Static", labels[i], 0, label, CRect(20, y + 3, 140, y + 21)});
    t.items.push_back({"Edit", "", ids[i], field, CRect(150, y, 150 + widths[i], y + 23)});
  }
  return t;
}

inline vkt::win::DialogTemplate ClientiTemplate() {
  vkt::win::DialogTemplate t;
  t.caption = "Clienti";
  t.rect = CRect(20, 20, 20 + 640, 20 + 330);
  t.style |= WS_VISIBLE;
  t.items.push_back({"Static", "Cerca", 0, WS_CHILD | WS_VISIBLE, CRect(12, 63, 60, 81)});
  t.items.push_back({"Edit", "", IDC_FILTRO, WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER,
                     CRect(64, 60, 300, 83)});
  t.items.push_back({"SpreadSheet", "", IDC_GRID, WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(10, 92, 630, 320)});
  return t;
}

inline std::string Field(const char* f, size_t n) { return vkt::db::test::Trim(f, n); }

// A fixed-width field: blank-padded to its width, then the terminator.
inline void Put(char* field, size_t n, const char* text) {
  std::memset(field, ' ', n - 1);
  field[n - 1] = '\0';
  std::memcpy(field, text, std::min(std::strlen(text), n - 1));
}

// One customer, new (key null) or read by its code.
class CClienteDlg : public CVKTRecordDialog {
 public:
  CClienteDlg(CDBCtree* table, const char* codice) : table_(table), codice_(codice ? codice : "") {
    SetTemplate(ClienteTemplate());
    SetSubclassStatic(TRUE);
    m_newRecord = codice ? 0 : 1;
  }
  void DoDataExchange(CDataExchange* dx) override {
    CVKTRecordDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_CODICE, m_codice);
    DDX_Control(dx, IDC_RAGIONE, m_ragione);
    DDX_Control(dx, IDC_CF, m_cf);
    DDX_Control(dx, IDC_CITTA, m_citta);
    DDX_Control(dx, IDC_FIDO, m_fido);
  }
  BOOL OnInitDialog() override {
    if (!CVKTRecordDialog::OnInitDialog()) return FALSE;
    ShowGradient(FALSE);
    SetBackColor(RGB(236, 241, 248));
    m_codice.SetFormat(8, "U<!_");
    m_ragione.SetFormat(40, "<!_");
    m_cf.SetFormat(16, "U<!_", filter_space, CheckCodFiscale);
    m_citta.SetFormat(30, "P<!_");
    m_fido.SetDecimalPlaces(0);
    m_fido.SetRange(0, 99999999);
    Load();
    return TRUE;
  }
  void Load() {
    if (m_newRecord == 1) return;
    table_->DBSetIndex(1);
    vkt::db::test::CodeKey key(codice_.c_str());
    if (table_->DBGetRecord(key.bytes) != 0) {
      m_newRecord = 1;
      return;
    }
    const Cliente& c = *static_cast<Cliente*>(table_->DBGetBuffer());
    m_codice.SetText(Field(c.codice, sizeof c.codice).c_str());
    m_codice.SetReadOnly(TRUE);
    m_ragione.SetText(Field(c.ragione, sizeof c.ragione).c_str());
    m_cf.SetText(Field(c.cod_fiscale, sizeof c.cod_fiscale).c_str());
    m_citta.SetText(Field(c.citta, sizeof c.citta).c_str());
    m_fido.SetValue(c.fido);
  }
  Cliente FromFields() {
    Cliente c = *static_cast<Cliente*>(table_->DBGetBuffer());
    if (m_newRecord == 1) c = Cliente{};
    char buf[64];
    m_codice.GetText(buf);
    Put(c.codice, sizeof c.codice, buf);
    m_ragione.GetText(buf);
    Put(c.ragione, sizeof c.ragione, buf);
    m_cf.GetText(buf);
    Put(c.cod_fiscale, sizeof c.cod_fiscale, buf);
    m_citta.GetText(buf);
    Put(c.citta, sizeof c.citta, buf);
    c.fido = static_cast<int32_t>(m_fido.GetValueInteger());
    return c;
  }
  void OnRecordSalva() override {
    Cliente c = FromFields();
    int16_t s = DBWrite(table_, m_newRecord == 1 ? 0 : 1, &c, table_);
    writes.push_back(s);
    if (s == 0) EndDialog(IDOK);
    else DBISAM(s, "clienti");
  }
  void OnRecordElimina() override {
    Cliente c = *static_cast<Cliente*>(table_->DBGetBuffer());
    int16_t s = DBWrite(table_, 2, &c, table_);
    writes.push_back(s);
    if (s == 0) EndDialog(IDOK);
    else if (s != DB_CANCELLED) DBISAM(s, "clienti");
  }
  void OnRecordAnnulla() override { Load(); }

  CVKTEdit m_codice, m_ragione, m_cf, m_citta;
  CVKTNumeric m_fido;
  std::vector<int16_t> writes;

 private:
  CDBCtree* table_;
  std::string codice_;
};

// The customer list.
class CClientiBrowse : public CVKTRecordBrowseDialog {
 public:
  explicit CClientiBrowse(CDBCtree* table) : table_(table) {
    SetTemplate(ClientiTemplate());
    SetSubclassStatic(TRUE);
  }
  void DoDataExchange(CDataExchange* dx) override {
    CVKTRecordBrowseDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_GRID, m_grid);
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
      const Cliente& c = *static_cast<Cliente*>(table_->DBGetBuffer());
      m_grid.AddRow({Field(c.codice, sizeof c.codice), Field(c.ragione, sizeof c.ragione),
                     Field(c.cod_fiscale, sizeof c.cod_fiscale), Field(c.citta, sizeof c.citta)});
    }
    m_grid.SetActiveRow(row);
  }
  void OnRecordBrowseApri() override {
    if (m_grid.GetActiveRow() < 1) return;
    std::string code = m_grid.GetText(1, m_grid.GetActiveRow());
    CClienteDlg dlg(table_, code.c_str());
    results.push_back(static_cast<int>(dlg.DoModal()));
    Fill();
  }
  void OnRecordBrowseNuovo() override {
    CClienteDlg dlg(table_, nullptr);
    results.push_back(static_cast<int>(dlg.DoModal()));
    Fill();
  }
  void OnRecordBrowseSeleziona() override {
    chosen = m_grid.GetText(1, m_grid.GetActiveRow());
    EndDialog(IDOK);
  }
  void OnUpdateRecordBrowseApri(CCmdUI* ui) override { ui->Enable(m_grid.GetMaxRows() > 0); }

  std::vector<int> results;
  std::string chosen;

 private:
  CDBCtree* table_;
};

}  // namespace vkt::test

#endif  // VKT_TESTS_DIALOGS_CUSTOMER_HOST_H_
