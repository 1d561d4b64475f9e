// A movements table for the export and maintenance tests: every field type
// the exports convert, the last-update stamp first in the record (position
// 0) and an index on it named like the hosts name theirs.
#ifndef VKT_TESTS_DB_DBEXPORT_FIXTURE_H_
#define VKT_TESTS_DB_DBEXPORT_FIXTURE_H_

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "db/db_fixture.h"
#include "db/dbctree.h"
#include "db/dbexport.h"
#include "isam/ctree.h"

namespace vkt::db::test {

#pragma pack(push, 1)
struct Mov {
  double last_update;  //  0  124, index 1 "MovLastUpdate" (duplicates)
  char codice[9];      //  8  144, index 2 unique
  char descr[31];      // 17  144
  uint8_t flag;        // 48  8
  char tipo;           // 49  16
  int16_t qta;         // 50  33
  int32_t numero;      // 52  51
  int32_t data;        // 56  75 day number
  int32_t ora;         // 60  83 seconds
  float peso;          // 64  91
  double prezzo;       // 68  103
  double quando;       // 76  124
  char utente[11];     // 84  144, stamped
};
#pragma pack(pop)
static_assert(sizeof(Mov) == 95);

inline Mov MakeMov(int n, double last_update) {
  Mov m;
  std::memset(&m, 0, sizeof m);
  m.last_update = last_update;
  std::snprintf(m.codice, sizeof m.codice, "M%07d", n);
  std::snprintf(m.descr, sizeof m.descr, "movimento %d", n);
  m.numero = n;
  return m;
}

// The description of "<stem>" (e.g. ".../dit00001/mov").
class MovTable {
 public:
  explicit MovTable(const std::string& stem, bool with_index = true,
                    const char* first_field = "mov_last_update")
      : stem_(stem) {
    std::snprintf(first_, sizeof first_, "%s", first_field);
    seg_[0] = {0, 8, CT_SEG_FLOAT};
    seg_[1] = {8, 8, CT_SEG_BYTES};
    ix_[0] = IIDX{8, 0, 1, 0, 0, 1, &seg_[0], name1_, nullptr, nullptr, nullptr};
    ix_[1] = IIDX{8, 0, 0, 0, 0, 1, &seg_[1], name2_, nullptr, nullptr, nullptr};
    if (!with_index) std::strcpy(name1_, "MovStamp");
    ifil.pfilnam = stem_.data();
    ifil.dfilno = -1;
    ifil.dreclen = sizeof(Mov);
    ifil.dxtdsiz = 4096;
    ifil.dnumidx = 2;
    ifil.ixtdsiz = 4096;
    ifil.ix = ix_;
    ifil.rfstfld = first_;
    ifil.rlstfld = last_;
    ifil.tfilno = -1;
  }
  // Makes the unique second index the user stamp's instead of the code's.
  void KeyOnUser() {
    seg_[1] = {84, 11, CT_SEG_BYTES};
    ix_[1].ikeylen = 11;
  }
  MovTable(const MovTable&) = delete;
  MovTable& operator=(const MovTable&) = delete;

  ifil4 ifil{};

 private:
  std::string stem_;
  ISEG seg_[2];
  IIDX ix_[2];
  char name1_[16] = "MovLastUpdate";
  char name2_[16] = "MovCodice";
  char first_[20] = "mov_last_update";
  char last_[20] = "mov_utente";
};

// The schema; `last_update_name` and `extra_type` let a test take the
// stamp's name away or give a field a type of its choice.
inline std::vector<DATOBJ> MovSchema(const char* last_update_name = "mov_last_update",
                                     uint16_t descr_type = 144) {
  static char names[14][24];
  const char* n[13] = {last_update_name, "mov_codice", "mov_descr", "mov_flag", "mov_tipo",
                       "mov_qta",        "mov_numero", "mov_data",  "mov_ora",  "mov_peso",
                       "mov_prezzo",     "mov_quando", "mov_utente"};
  const uint16_t types[13] = {124, 144, descr_type, 8, 16, 33, 51, 75, 83, 91, 103, 124, 144};
  const uint16_t lens[13] = {8, 9, 31, 1, 1, 2, 4, 4, 4, 4, 8, 8, 11};
  std::vector<DATOBJ> s(14);
  for (int i = 0; i < 14; ++i) {
    std::snprintf(names[i], sizeof names[i], "%s", i < 13 ? n[i] : "");
    s[static_cast<size_t>(i)] = DATOBJ{};
    s[static_cast<size_t>(i)].fsymb = names[i];
    if (i < 13) {
      s[static_cast<size_t>(i)].ftype = types[i];
      s[static_cast<size_t>(i)].flen = lens[i];
    }
  }
  return s;
}

inline int16_t StampMov(void* record) {
  std::memcpy(static_cast<Mov*>(record)->utente, "STAMPED", 8);
  return 0;
}

// Adds the records in one transaction (a commit per record would make the
// large tables slow to build).
inline int16_t AddMovs(CDBCtree& table, const std::vector<Mov>& list) {
  if (DBBegin(50) == 0) return -1;
  for (Mov m : list) {
    if (int16_t s = table.DBAddRecord(&m); s != 0) {
      DBAbort();
      return s;
    }
  }
  return DBCommit(0);
}

}  // namespace vkt::db::test

#endif  // VKT_TESTS_DB_DBEXPORT_FIXTURE_H_
