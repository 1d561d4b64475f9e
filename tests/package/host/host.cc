// A host: its parameter block, a fiscal code, a date, and one customer
// written to an ISAM table and read back by its key.
#include <cstdio>
#include <string>

#include "common/checks.h"
#include "common/julian.h"
#include "common/vktstring.h"
#include "db/dbctree.h"
#include "frame/vktapp.h"
#include "isam/ctree.h"

static VKTAPPPARAM par;                  // zero-filled, byte-packed, kept for the process
static int date_base = 0;                // 0: Julian Day Numbers, 1: short count
static int32_t company = 1, year = 2025;

#pragma pack(push, 1)
struct Customer {
  char code[7];                          // the key: bytes 0-5
  char name[41];
  int32_t since;                         // day number
};
#pragma pack(pop)

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : ".";
  strzcpy(par.app_name, "HOST", sizeof par.app_name);
  strzcpy(par.path, dir.c_str(), sizeof par.path);
  strzcpy(par.user, "HOST", sizeof par.user);
  par.date_base = &date_base;
  par.company = &company;
  par.year = &year;
  par.silent = 1;                        // messages to the log, questions answered yes
  par.allow_create = par.create_dirs = 1;  // DBOpen creates a missing table
  VKTDlgInitialize(&par);                // defaults for VopidFunc, TestDlg, TestAnnoCorrente

  const char* cf = "BBBCCC90B02A000M";
  const int32_t day = DateToJulian(36526.0, 0);  // 1 January 2000 -> 2451545
  std::printf("%s %s, %ld\n", cf, CheckCodFiscale(cf) ? "valido" : "non valido", long{day});

  std::string table = dir + "/clienti";
  ISEG seg = {0, 6, CT_SEG_BYTES};
  IIDX idx = {6, 0, 0, 0, 0, 1, &seg, nullptr, nullptr, nullptr, nullptr};
  ifil4 ifil = {table.data(), -1, sizeof(Customer), 4096, 0, 1, 4096, 0, &idx, nullptr, nullptr, -1};
  Customer buffer{}, mario = {"C00001", "Rossi Mario", day};
  CDBCtree customers(1, &ifil, &buffer, PutStandard, nullptr, nullptr, 0);
  char local[] = "";                     // no server: the folder is on this machine
  if (DBInitISAM(16, par.user, par.password, local, true, false, true) != 0) return 1;
  int written = customers.DBOpen(1) == 0 ? DBWrite(&customers, 0, &mario, &customers) : -1;
  char key[16] = "C00001";
  customers.DBSetIndex(1);
  int found = customers.DBGetRecord(key);
  std::printf("scritto %d, letto %d: %s %s dal %02d/%02d/%04d\n", written, found, buffer.code,
              buffer.name, Day(buffer.since), Month(buffer.since), Year(buffer.since));
  customers.DBCloseIFile();
  DBCloseISAM(0);
  return written == 0 && found == 0 ? 0 : 1;
}
