// `vkt demo`, reports: the demo archive's customer list, with their
// invoices in a sub-report, written as a PDF through CCrystal.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "common/vktstring.h"
#include "frame/vktapp.h"
#include "print/crystal.h"
#include "system/registry.h"
#include "tools/vkt/vkt.h"
#include "win/registry_store.h"

namespace vkt::tool {
namespace {

// The report as the application ships it in its "rpteuro" folder.
const char kClientiReport[] =
    "VKTREPORT 1\n"
    "# vkt demo: customers by city, their invoices after them\n"
    "TITLE \"Elenco clienti\"\n"
    "SUBJECT \"Archivio dimostrativo\"\n"
    "COMMENTS \"Formato A4 portrait\"\n"
    "TABLE clienti clienti\n"
    "COLUMN 18 \"Codice\" {clienti.cli_codice}\n"
    "COLUMN 62 \"Ragione sociale\" {clienti.cli_ragione}\n"
    "COLUMN 40 \"Codice fiscale\" {clienti.cli_cod_fiscale}\n"
    "COLUMN 30 \"Partita IVA\" {clienti.cli_partita_iva}\n"
    "COLUMN 30 \"Citt\xE0\" {clienti.cli_citta}\n"
    "GROUP {clienti.cli_citta}\n"
    "SORT {clienti.cli_ragione} ASC\n"
    "SUBREPORT fatture\n"
    "TITLE \"Fatture per cliente\"\n"
    "TABLE fatture fatture\n"
    "TABLE clienti clienti\n"
    "LINK {fatture.fat_cliente} {clienti.cli_codice}\n"
    "PARAMETER minimo NUMBER \"Imponibile minimo\" 0\n"
    "FORMULA totale {fatture.fat_imponibile} + {fatture.fat_iva}\n"
    "COLUMN 22 \"Numero\" {fatture.fat_numero}\n"
    "COLUMN 60 \"Cliente\" {clienti.cli_ragione}\n"
    "COLUMN 30 \"Imponibile\" {fatture.fat_imponibile} DEC 2\n"
    "COLUMN 25 \"IVA\" {fatture.fat_iva} DEC 2\n"
    "COLUMN 30 \"Totale\" {@totale} DEC 2\n"
    "GROUP {clienti.cli_ragione}\n"
    "SELECT {fatture.fat_imponibile} >= {?minimo}\n"
    "SORT {fatture.fat_numero} ASC\n"
    "END\n";

int CurrentYear() { return 1; }

}  // namespace

void DemoReport(const std::string& dir) {
  std::printf("\n== Report (CCrystal: archivio clienti in PDF)\n");
  const std::string folder = dir + "/archivio", rpteuro = dir + "/rpteuro";
  mkdir(rpteuro.c_str(), 0755);
  FILE* f = std::fopen((rpteuro + "/clienti.rpt").c_str(), "wb");
  if (f == nullptr || std::fwrite(kClientiReport, 1, sizeof kClientiReport - 1, f) != sizeof kClientiReport - 1) {
    std::printf("report non scritto in %s\n", rpteuro.c_str());
    if (f != nullptr) std::fclose(f);
    return;
  }
  std::fclose(f);
  // The data source an installer would register, kept in the demo folder.
  vkt::win::SetRegistryFolder(dir + "/registry");
  CRegistry reg;
  reg.CreateKey(CString(std::string("Software\\ODBC\\ODBC.INI\\") + vktpar->app_name));
  auto saved_anno = vktpar->TestAnnoCorrente;
  vktpar->TestAnnoCorrente = CurrentYear;
  {
    CCrystal rpt(false);
    const std::string pdf = dir + "/clienti.pdf";
    if (rpt.CryOpen((rpteuro + "/clienti.rpt").c_str(), "Elenco clienti", 1, 0) == 0) {
      rpt.CrySetDataBase(folder.c_str());
      rpt.CryLongParam(0, "minimo", "fatture", 50);
      rpt.CryToFile(pdf.c_str());
      if (rpt.CryEsegui() == 0) {
        std::printf("%s: %d pagine, %lld clienti (data source %s, DBQ %s)\n", pdf.c_str(),
                    rpt.report()->page_count(), static_cast<long long>(rpt.report()->row_count()),
                    vktpar->app_name, rpt.database());
        for (int p = 0; p < rpt.report()->page_count(); ++p)
          for (const std::string& line : rpt.report()->PageText(p)) {
            char copy[512];
            strzcpy(copy, line.c_str(), sizeof copy);
            std::printf("  %s\n", StrToUtf8(copy));
          }
        std::printf("per vederlo: pdftoppm -png %s pagina\n", pdf.c_str());
      } else {
        std::printf("report non eseguito (stato %d)\n", rpt.status());
      }
      rpt.CryClose();
    }
  }
  vktpar->TestAnnoCorrente = saved_anno;
  vkt::win::SetRegistryFolder("");
}

}  // namespace vkt::tool
