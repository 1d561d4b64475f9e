// `vkt demo --live`: the customer list and customer dialog of the demo on
// the X display, for a person to use. F4 opens the selected customer, F3 a
// new one, F2 saves through DBWrite, Escape closes; a double click on an
// empty city proposes the commonest one. With --record only the
// dialog of a new customer is shown; --snapshots DIR writes what each window
// shows to DIR as it is repainted.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frame/vktapp.h"
#include "tools/vkt/rubrica.h"
#include "tools/vkt/vkt.h"
#include "win/cp1252.h"
#include "win/x11.h"

namespace vkt::tool {

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

  mkdir(dir.c_str(), 0755);
  RubricaTable table;
  if (!table.Open(dir + "/live", "rubrica", "Rub", stderr)) return 1;
  CDBCtree& rubrica = table.table();
  if (rubrica.DBNbrOfRecords() == 0) table.AddSamples();
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
  const Rubrica& r = table.record();
  // The record keeps the Windows code page; the terminal reads UTF-8.
  auto text = [](const char* field, size_t n) { return vkt::win::Cp1252ToUtf8(GetField(field, n)); };
  for (int16_t s = rubrica.DBFirstRecord(); s == 0; s = rubrica.DBNextRecord())
    std::printf("%s | %s | %s | %s | %d\n", text(r.codice, sizeof r.codice).c_str(),
                text(r.ragione, sizeof r.ragione).c_str(),
                text(r.cod_fiscale, sizeof r.cod_fiscale).c_str(),
                text(r.citta, sizeof r.citta).c_str(), static_cast<int>(r.fido));
  return result == IDOK ? 0 : 3;
}

}  // namespace vkt::tool
