// Shared set-up of the record database tests: a host parameter block, the
// scripted services, a fresh folder and a host-style customer table
// ("clienti") described the way the applications describe theirs: a packed
// record, a DATOBJ schema ending in "" and a file description with three
// indexes, the third in a file of its own.
#ifndef VKT_TESTS_DB_DB_FIXTURE_H_
#define VKT_TESTS_DB_DB_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "db/db_testing.h"
#include "db/dbctree.h"
#include "frame/vktapp.h"
#include "isam/ctree.h"
#include "isam/isam_testing.h"
#include "win/services.h"

namespace vkt::db::test {

#pragma pack(push, 1)
struct Cliente {
  char codice[9];         //   0  index 1, unique
  char ragione[41];       //   9  index 2, duplicates, without case
  char cod_fiscale[17];   //  50
  char partita_iva[12];   //  67  index 3 (own file), duplicates
  char citta[31];         //  79
  int32_t fido;           // 110
  double saldo;           // 114
  char utente[21];        // 122  stamped on every write
  double last_update;     // 143
};
#pragma pack(pop)
static_assert(sizeof(Cliente) == 151);

inline Cliente MakeCliente(const char* codice, const char* ragione, const char* cf,
                           const char* piva, const char* citta, int32_t fido) {
  Cliente c;
  std::memset(&c, 0, sizeof c);
  std::snprintf(c.codice, sizeof c.codice, "%-8s", codice);
  std::snprintf(c.ragione, sizeof c.ragione, "%-40s", ragione);
  std::snprintf(c.cod_fiscale, sizeof c.cod_fiscale, "%-16s", cf);
  std::snprintf(c.partita_iva, sizeof c.partita_iva, "%-11s", piva);
  std::snprintf(c.citta, sizeof c.citta, "%-30s", citta);
  c.fido = fido;
  return c;
}

inline std::string Trim(const char* field, size_t n) {
  std::string s(field, strnlen(field, n));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}
#define VKT_FIELD(rec, f) ::vkt::db::test::Trim((rec).f, sizeof (rec).f)

// The key of index 1 in record form.
struct CodeKey {
  char bytes[64];
  explicit CodeKey(const char* codice) {
    std::memset(bytes, 0, sizeof bytes);
    std::snprintf(bytes, 9, "%-8s", codice);
  }
};

// The host's static table description, one object per table.
class ClientiTable {
 public:
  explicit ClientiTable(const std::string& stem, uint16_t reclen = sizeof(Cliente))
      : stem_(stem), alt_(stem + "_2.idx") {
    seg_[0] = {0, 8, CT_SEG_BYTES};
    seg_[1] = {9, 40, CT_SEG_UPPER};
    seg_[2] = {67, 11, CT_SEG_BYTES};
    ix_[0] = IIDX{8, 0, 0, 0, 0, 1, &seg_[0], name1_, nullptr, nullptr, nullptr};
    ix_[1] = IIDX{44, 0, 1, 0, 0, 1, &seg_[1], name2_, nullptr, nullptr, nullptr};
    ix_[2] = IIDX{15, 0, 1, 0, 0, 1, &seg_[2], name3_, alt_.data(), nullptr, nullptr};
    ifil.pfilnam = stem_.data();
    ifil.dfilno = -1;
    ifil.dreclen = reclen;
    ifil.dxtdsiz = 4096;
    ifil.dfilmod = 0;
    ifil.dnumidx = 3;
    ifil.ixtdsiz = 4096;
    ifil.ifilmod = 0;
    ifil.ix = ix_;
    ifil.rfstfld = first_;
    ifil.rlstfld = last_;
    ifil.tfilno = -1;
  }
  ClientiTable(const ClientiTable&) = delete;
  ClientiTable& operator=(const ClientiTable&) = delete;

  const std::string& stem() const { return stem_; }
  const std::string& alt_index() const { return alt_; }

  ifil4 ifil{};
  ISEG seg_[3];
  IIDX ix_[3];

 private:
  std::string stem_;
  std::string alt_;
  char name1_[16] = "CliCodice";
  char name2_[16] = "CliRagione";
  char name3_[16] = "CliPartitaIva";
  char first_[16] = "cli_codice";
  char last_[24] = "cli_last_update";
};

// The host's schema of the customer record, ended by an empty name.
inline std::vector<DATOBJ> ClientiSchema() {
  static char n[10][24] = {"cli_codice", "cli_ragione", "cli_cod_fiscale", "cli_partita_iva",
                           "cli_citta",  "cli_fido",    "cli_saldo",       "cli_utente",
                           "cli_last_update", ""};
  const uint16_t types[9] = {144, 144, 144, 144, 144, 51, 103, 144, 124};
  const uint16_t lens[9] = {9, 41, 17, 12, 31, 4, 8, 21, 8};
  std::vector<DATOBJ> s(10);
  for (int i = 0; i < 10; ++i) {
    s[static_cast<size_t>(i)] = DATOBJ{};
    s[static_cast<size_t>(i)].fsymb = n[i];
    if (i < 9) {
      s[static_cast<size_t>(i)].ftype = types[i];
      s[static_cast<size_t>(i)].flen = lens[i];
    }
  }
  return s;
}

// The stamp callback of the host: who wrote the record.
inline int16_t StampCliente(void* record) {
  auto* c = static_cast<Cliente*>(record);
  // Cut to the field, always terminated.
  std::memset(c->utente, 0, sizeof c->utente);
  if (vktpar != nullptr)
    std::memcpy(c->utente, vktpar->last_user,
                strnlen(vktpar->last_user, sizeof c->utente - 1));
  return 0;
}

inline std::string MakeTempDir(const char* tag) {
  std::string tmpl =
      (std::filesystem::temp_directory_path() / (std::string("db_") + tag + "_XXXXXX")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  char* d = ::mkdtemp(buf.data());
  return d != nullptr ? std::string(d) : std::string();
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class DbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "Europe/Rome", 1);
    tzset();
    vkt::isam::ResetIsamForTesting();
    ResetDbForTesting();
    vkt::LibraryLoad();
    std::memset(&par_, 0, sizeof par_);
    std::strcpy(par_.app_name, "MIRTO");
    std::strcpy(par_.product, "MIRTOTS");
    std::strcpy(par_.user, "ROSSI");
    par_.allow_create = 1;
    par_.create_dirs = 1;
    VKTDlgInitialize(&par_);
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    vkt::isam::ResetIsamForTesting();
    ResetDbForTesting();
    if (log_ != nullptr) std::fclose(log_);
    vkt::LibraryLoad();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void InitSession() {
    char none[1] = "";
    ASSERT_EQ(DBInitISAM(64, par_.user, par_.password, none, true, false, true), 0);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  FILE* OpenLog() {
    log_ = tmpfile();
    par_.log_file = log_;
    return log_;
  }
  std::string LogText() {
    std::fflush(log_);
    std::rewind(log_);
    std::string s;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, log_)) > 0) s.append(buf, n);
    return s;
  }

  // Opens (creating) the customer table and fills it.
  void OpenClienti(ClientiTable& t, CDBCtree& table) {
    ASSERT_EQ(table.DBOpen(1), 0);
    std::vector<DATOBJ> schema = ClientiSchema();
    int changed = 0;
    ASSERT_EQ(table.DBPutDoda(schema.data(), 0, &changed), 0);
    (void)t;
  }
  void AddClienti(CDBCtree& table, const std::vector<Cliente>& list) {
    for (Cliente c : list) ASSERT_EQ(DBWrite(&table, 0, &c, &table), 0) << c.codice;
  }
  static std::vector<Cliente> SomeClienti() {
    return {
        MakeCliente("C003", "Verdi Anna", "VRDNNA80A41H501U", "01234567890", "Roma", 3000),
        MakeCliente("C001", "Rossi Mario", "RSSMRA70A01F205X", "12345678903", "Milano", 1000),
        MakeCliente("C004", "bianchi luca", "BNCLCU75C12L219K", "12345678903", "Torino", 4000),
        MakeCliente("C002", "Bianchi Carla", "BNCCRL82D55G273Z", "09876543217", "Palermo", 2000),
    };
  }

  VKTAPPPARAM par_;
  FILE* log_ = nullptr;
  // Made at construction: the derived fixtures name their tables in it
  // from their member initialisers, before SetUp runs.
  std::string dir_ = MakeTempDir("t");
  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
};

}  // namespace vkt::db::test

#endif  // VKT_TESTS_DB_DB_FIXTURE_H_
