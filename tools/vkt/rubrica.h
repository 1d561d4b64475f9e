// The customer card table the dialog demos share: its record, its table in
// an ISAM session of its own, and the customer dialog and list over it.
#ifndef VKT_TOOLS_VKT_RUBRICA_H_
#define VKT_TOOLS_VKT_RUBRICA_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "controls/vktedit.h"
#include "controls/vktnumeric.h"
#include "db/dbctree.h"
#include "dialogs/vktbrowsedialog.h"
#include "dialogs/vktrecorddialog.h"

namespace vkt::tool {

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

// Fixed-width, blank-padded fields as the records hold them.
void PutField(char* field, size_t n, const char* text);
std::string GetField(const char* field, size_t n);

enum : UINT { kCodice = 1001, kRagione, kCf, kCitta, kFido };

// The five edits of a customer, wherever a dialog keeps them.
struct RubricaFields {
  CVKTEdit* codice;
  CVKTEdit* ragione;
  CVKTEdit* cf;
  CVKTEdit* citta;
  CVKTNumeric* fido;
};
void FormatFields(const RubricaFields& f);
// Fills the edits from the customer `codice`; false when there is none.
bool LoadFields(CDBCtree* table, const std::string& codice, const RubricaFields& f);
// The edits written through DBWrite (added or rewritten): its status.
int16_t SaveFields(CDBCtree* table, bool new_record, const RubricaFields& f);

// The table `folder`/`name` in an ISAM session opened for it; closing
// restores the creation switches of the parameter block.
class RubricaTable {
 public:
  RubricaTable() = default;
  RubricaTable(const RubricaTable&) = delete;
  RubricaTable& operator=(const RubricaTable&) = delete;
  ~RubricaTable();
  // `prefix` names its index and fields ("Rub" -> "RubCodice", "rub_...").
  // Failures are told on `err`.
  bool Open(const std::string& folder, const std::string& name, const std::string& prefix,
            std::FILE* err);
  void Empty();
  // The three customers of the demo list.
  void AddSamples();
  void Add(const char* codice, const char* ragione, const char* cf, const char* citta, int fido);
  // The record with `codice` in the buffer; false when there is none.
  bool Find(const char* codice);
  CDBCtree& table() { return *table_; }
  const Rubrica& record() const { return buffer_; }

 private:
  std::string name_, n_cod_, first_, last_;
  ISEG seg_[1] = {{0, 6, CT_SEG_BYTES}};
  IIDX ix_[1] = {};
  ifil4 ifil_ = {};
  Rubrica buffer_ = {};
  std::unique_ptr<CDBCtree> table_;
  bool session_ = false;
  unsigned char saved_create_ = 0, saved_dirs_ = 0;
};

class ClienteDlg : public CVKTRecordDialog {
 public:
  ClienteDlg(CDBCtree* table, const std::string& codice);
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnRecordSalva() override;
  // A double click (or Space, F10) on an empty city proposes the one most
  // customers have.
  int OnRecordLookup(int id) override;

  CVKTEdit codice, ragione, cf, citta;
  CVKTNumeric fido;

 private:
  RubricaFields Fields() { return {&codice, &ragione, &cf, &citta, &fido}; }
  CDBCtree* table_;
  std::string codice_;
};

// The customer list: F4 opens the selected one, F3 a new one.
class ClientiBrowse : public CVKTRecordBrowseDialog {
 public:
  explicit ClientiBrowse(CDBCtree* table);
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void Fill();
  void OnRecordBrowseApri() override;
  void OnRecordBrowseNuovo() override;

 private:
  void Open(const std::string& code);
  CDBCtree* table_;
};

}  // namespace vkt::tool

#endif  // VKT_TOOLS_VKT_RUBRICA_H_
