// CDBCtree: the export members. The binary dump, the CSV and the JSON
// exports are not part of this build yet; each answers its failure result
// and says why, so that no caller takes an export for done.
#include <cstdio>

#include "db/dbctree.h"
#include "db/dbinternal.h"
#include "win/services.h"

namespace {

void NotAvailable(const char* what) {
  vkt::services().Notice(std::string(what) + ": export not available in this build");
}

}  // namespace

int CDBCtree::DBExport(DB_IMPORT_EXPORT* block) {
  (void)block;
  NotAvailable("DBExport");
  return 2;  // neither done (0) nor cancelled (1)
}

int16_t CDBCtree::DBImport(DB_IMPORT_EXPORT* block) {
  (void)block;
  NotAvailable("DBImport");
  return vkt::db::detail::Fail(CT_NOT_SUPPORTED);
}

int CDBCtree::DBExpCSV(double from, double to, char* extension, int (*filter)()) {
  (void)from;
  (void)to;
  (void)extension;
  (void)filter;
  NotAvailable("DBExpCSV");
  return 0;
}

int CDBCtree::DBExpJson(double from, double to, char* description, char* extension,
                        CStringArray* tables, int (*filter)(), CStringArray* reserved) {
  (void)from;
  (void)to;
  (void)description;
  (void)extension;
  (void)tables;
  (void)filter;
  (void)reserved;
  NotAvailable("DBExpJson");
  return 0;
}
