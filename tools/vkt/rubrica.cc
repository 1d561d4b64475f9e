#include "tools/vkt/rubrica.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "common/checks.h"
#include "common/vktstring.h"
#include "frame/vktapp.h"
#include "win/winconst.h"

namespace vkt::tool {
namespace {

int16_t StampRubrica(void* record) {
  strzcpy(static_cast<Rubrica*>(record)->utente, vktpar->last_user, sizeof(Rubrica::utente));
  return 0;
}

enum : UINT { kGrid = 1101 };

// The customer `codice` read by the code index into the table's buffer.
bool ReadByCode(CDBCtree* table, const std::string& codice) {
  char key[64] = {};
  std::snprintf(key, 7, "%-6s", codice.c_str());
  table->DBSetIndex(1);
  return table->DBGetRecord(key) == 0;
}

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

}  // namespace

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

void FormatFields(const RubricaFields& f) {
  f.codice->SetFormat(6, "U<!_");
  f.ragione->SetFormat(40, "<!_");
  f.cf->SetFormat(16, "U<!_", filter_space, CheckCodFiscale);
  f.citta->SetFormat(30, "P<!_");
  f.fido->SetDecimalPlaces(0);
  f.fido->SetRange(0, 99999999);
}

bool LoadFields(CDBCtree* table, const std::string& codice, const RubricaFields& f) {
  if (!ReadByCode(table, codice)) return false;
  const Rubrica& r = *static_cast<Rubrica*>(table->DBGetBuffer());
  f.codice->SetText(GetField(r.codice, sizeof r.codice).c_str());
  f.codice->SetReadOnly(TRUE);
  f.ragione->SetText(GetField(r.ragione, sizeof r.ragione).c_str());
  f.cf->SetText(GetField(r.cod_fiscale, sizeof r.cod_fiscale).c_str());
  f.citta->SetText(GetField(r.citta, sizeof r.citta).c_str());
  f.fido->SetValue(r.fido);
  return true;
}

int16_t SaveFields(CDBCtree* table, bool new_record, const RubricaFields& f) {
  Rubrica r = new_record ? Rubrica{} : *static_cast<Rubrica*>(table->DBGetBuffer());
  char buf[64];
  f.codice->GetText(buf);
  PutField(r.codice, sizeof r.codice, buf);
  f.ragione->GetText(buf);
  PutField(r.ragione, sizeof r.ragione, buf);
  f.cf->GetText(buf);
  PutField(r.cod_fiscale, sizeof r.cod_fiscale, buf);
  f.citta->GetText(buf);
  PutField(r.citta, sizeof r.citta, buf);
  r.fido = static_cast<int32_t>(f.fido->GetValueInteger());
  return DBWrite(table, new_record ? 0 : 1, &r, table);
}

// --- The table ---------------------------------------------------------------------

RubricaTable::~RubricaTable() {
  if (table_) table_->DBCloseIFile();
  table_.reset();
  if (session_) {
    DBCloseISAM(0);
    vktpar->allow_create = saved_create_;
    vktpar->create_dirs = saved_dirs_;
  }
}

bool RubricaTable::Open(const std::string& folder, const std::string& name, const std::string& prefix,
                        std::FILE* err) {
  mkdir(folder.c_str(), 0755);
  char none[1] = "";
  if (vktpar->user[0] == '\0') strzcpy(vktpar->user, "DEMO", sizeof vktpar->user);
  if (vktpar->last_user[0] == '\0') strzcpy(vktpar->last_user, vktpar->user, sizeof vktpar->last_user);
  if (int16_t s = DBInitISAM(64, vktpar->user, vktpar->password, none, true, false, true); s != 0) {
    std::fprintf(err, "sessione ISAM non aperta (stato %d)\n", s);
    return false;
  }
  session_ = true;
  saved_create_ = vktpar->allow_create;
  saved_dirs_ = vktpar->create_dirs;
  vktpar->allow_create = 1;
  vktpar->create_dirs = 1;
  name_ = folder + "/" + name;
  std::string lower = prefix;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  n_cod_ = prefix + "Codice";
  first_ = lower + "_codice";
  last_ = lower + "_utente";
  ix_[0] = {6, 0, 0, 0, 0, 1, &seg_[0], n_cod_.data(), nullptr, nullptr, nullptr};
  ifil_ = {name_.data(), -1, sizeof(Rubrica), 4096, 0, 1, 4096, 0, ix_, first_.data(), last_.data(), -1};
  table_ = std::make_unique<CDBCtree>(1, &ifil_, &buffer_, PutStandard, nullptr, StampRubrica, 0);
  if (int s = table_->DBOpen(1); s != 0) {
    std::fprintf(err, "tabella non aperta (stato %d)\n", s);
    table_.reset();
    return false;
  }
  return true;
}

void RubricaTable::Empty() {
  table_->DBSetIndex(1);
  while (table_->DBFirstRecord() == 0) {
    Rubrica r = buffer_;
    if (DBWrite(table_.get(), 2, &r, table_.get()) != 0) break;
  }
}

void RubricaTable::Add(const char* codice, const char* ragione, const char* cf, const char* citta,
                       int fido) {
  Rubrica r{};
  PutField(r.codice, sizeof r.codice, codice);
  PutField(r.ragione, sizeof r.ragione, ragione);
  PutField(r.cod_fiscale, sizeof r.cod_fiscale, cf);
  PutField(r.citta, sizeof r.citta, citta);
  r.fido = fido;
  DBWrite(table_.get(), 0, &r, table_.get());
}

void RubricaTable::AddSamples() {
  Add("C001", "Rossi Mario", "RSSMRA85T10A562S", "Milano", 1000);
  Add("C002", "Bianchi Carla", "", "Palermo", 2000);
  Add("C003", "Verdi Anna", "", "Roma", 3000);
}

bool RubricaTable::Find(const char* codice) {
  return ReadByCode(table_.get(), codice);
}

// --- The dialogs ---------------------------------------------------------------------

ClienteDlg::ClienteDlg(CDBCtree* table, const std::string& codice) : table_(table), codice_(codice) {
  SetTemplate(ClienteTemplate());
  SetSubclassStatic(TRUE);
  m_newRecord = codice.empty() ? 1 : 0;
}

void ClienteDlg::DoDataExchange(CDataExchange* dx) {
  CVKTRecordDialog::DoDataExchange(dx);
  DDX_Control(dx, kCodice, codice);
  DDX_Control(dx, kRagione, ragione);
  DDX_Control(dx, kCf, cf);
  DDX_Control(dx, kCitta, citta);
  DDX_Control(dx, kFido, fido);
}

BOOL ClienteDlg::OnInitDialog() {
  if (!CVKTRecordDialog::OnInitDialog()) return FALSE;
  ShowGradient(FALSE);
  SetBackColor(RGB(236, 241, 248));
  FormatFields(Fields());
  if (m_newRecord == 0 && !LoadFields(table_, codice_, Fields())) m_newRecord = 1;
  return TRUE;
}

void ClienteDlg::OnRecordSalva() {
  int16_t s = SaveFields(table_, m_newRecord == 1, Fields());
  if (s == 0) EndDialog(IDOK);
  else DBISAM(s, "rubrica");
}

int ClienteDlg::OnRecordLookup(int id) {
  // Only into an empty field: Space asks for a lookup too, and must stay a
  // blank within a name like "Reggio Emilia".
  // (Its text as it stands: reading it formatted would move the caret.)
  if (id != static_cast<int>(kCitta) || citta.GetWindowTextLength() != 0) return 0;
  std::map<std::string, int> count;
  std::string best;
  table_->DBSetIndex(1);
  for (int16_t s = table_->DBFirstRecord(); s == 0; s = table_->DBNextRecord()) {
    const Rubrica& r = *static_cast<Rubrica*>(table_->DBGetBuffer());
    const std::string c = GetField(r.citta, sizeof r.citta);
    if (!c.empty() && ++count[c] > (best.empty() ? 0 : count[best])) best = c;
  }
  // The customer being edited back in the buffer, for its rewrite.
  if (m_newRecord == 0) ReadByCode(table_, codice_);
  if (best.empty()) return 0;
  citta.SetText(best.c_str());
  return 1;
}

ClientiBrowse::ClientiBrowse(CDBCtree* table) : table_(table) {
  vkt::win::DialogTemplate t;
  t.caption = "Clienti";
  t.rect = CRect(20, 20, 660, 350);
  t.style |= WS_VISIBLE;
  t.items.push_back({"SpreadSheet", "", kGrid, WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(10, 60, 630, 320)});
  SetTemplate(t);
}

void ClientiBrowse::DoDataExchange(CDataExchange* dx) {
  CVKTRecordBrowseDialog::DoDataExchange(dx);
  DDX_Control(dx, kGrid, m_grid);
}

BOOL ClientiBrowse::OnInitDialog() {
  if (!CVKTRecordBrowseDialog::OnInitDialog()) return FALSE;
  m_grid.SetColumns({{"Codice", 80}, {"Ragione sociale", 250}, {"Codice fiscale", 150}, {"Citt\xE0", 138}});
  Fill();
  return TRUE;
}

void ClientiBrowse::Fill() {
  int row = m_grid.GetActiveRow();
  m_grid.ClearRows();
  table_->DBSetIndex(1);
  for (int16_t s = table_->DBFirstRecord(); s == 0; s = table_->DBNextRecord()) {
    const Rubrica& r = *static_cast<Rubrica*>(table_->DBGetBuffer());
    m_grid.AddRow({GetField(r.codice, sizeof r.codice), GetField(r.ragione, sizeof r.ragione),
                   GetField(r.cod_fiscale, sizeof r.cod_fiscale), GetField(r.citta, sizeof r.citta)});
  }
  m_grid.SetActiveRow(row);
}

void ClientiBrowse::Open(const std::string& code) {
  ClienteDlg dlg(table_, code);
  dlg.DoModal();
  Fill();
}

void ClientiBrowse::OnRecordBrowseApri() { Open(m_grid.GetText(1, m_grid.GetActiveRow())); }
void ClientiBrowse::OnRecordBrowseNuovo() { Open(""); }

}  // namespace vkt::tool
