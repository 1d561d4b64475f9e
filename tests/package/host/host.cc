// The smallest host: fills its parameter block, initialises the library and
// calls a few exported functions through the installed package.
#include <cstdio>
#include <cstring>

#include "common/checks.h"
#include "common/julian.h"
#include "frame/vktapp.h"

int main() {
  static VKTAPPPARAM par;
  static int date_base = 0;
  static int32_t company = 1, year = 2025;
  std::strcpy(par.app_name, "HOST");
  par.date_base = &date_base;
  par.company = &company;
  par.year = &year;
  par.silent = 1;
  VKTDlgInitialize(&par);
  if (vktpar != &par || par.TestAnnoCorrente == nullptr) return 1;
  const char* cf = "BBBCCC90B02A000M";
  std::printf("host ok: %s %s, %ld\n", cf, CheckCodFiscale(cf) ? "valido" : "non valido",
              static_cast<long>(DateToJulian(36526.0, 0)));
  return 0;
}
