// `vkt demo`, login and change history: a demo user list kept encrypted
// (names as Blowfish blocks, passwords as SHA-256 digests), the login form
// filled as a user fills it, the check against the list, the ISAM session
// opened on the composed connect name, a customer changed twice, and the
// viewer of its change history read with F2 — listed here and painted to
// PNG files in the demo folder.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/vktstring.h"
#include "db/dbctree.h"
#include "frame/vktapp.h"
#include "isam/ctree.h"
#include "login/crypt.h"
#include "login/lastuser.h"
#include "login/login.h"
#include "tools/vkt/vkt.h"
#include "win/canvas.h"
#include "win/driver.h"
#include "win/services.h"

namespace vkt::tool {
namespace {

#pragma pack(push, 1)
struct Socio {
  char codice[7];
  char nome[31];
  char citta[21];
  int32_t quota;
  char utente[21];
};
// One entry of the host's user list: the name's Blowfish block and the
// password's digest.
struct Utente {
  char nome[16];
  char digest[65];
};
#pragma pack(pop)

int16_t StampSocio(void* record) {
  strzcpy(static_cast<Socio*>(record)->utente, vktpar->last_user, sizeof(Socio::utente));
  return 0;
}

void Put(char* field, size_t n, const char* text) {
  std::memset(field, ' ', n - 1);
  field[n - 1] = '\0';
  std::memcpy(field, text, std::min(std::strlen(text), n - 1));
}

bool WriteUsers(const std::string& path, const std::vector<std::pair<std::string, std::string>>& users) {
  std::ofstream out(path, std::ios::binary);
  for (const auto& [name, password] : users) {
    Utente u{};
    char block[17];
    CryptUser(name.c_str(), true, 0, block, sizeof block);
    std::memcpy(u.nome, block, 16);
    CryptUser(password.c_str(), true, 2, u.digest, sizeof u.digest);
    out.write(reinterpret_cast<const char*>(&u), sizeof u);
  }
  return static_cast<bool>(out);
}

// True when the list holds the user with this password.
bool CheckUser(const std::string& path, const char* user, const char* password) {
  std::ifstream in(path, std::ios::binary);
  Utente u{};
  char digest[65];
  CryptUser(password, true, 2, digest, sizeof digest);
  while (in.read(reinterpret_cast<char*>(&u), sizeof u)) {
    char name[17];
    CryptUser(u.nome, 16, false, 0, name, sizeof name);
    if (std::strcmp(name, user) == 0) return std::strncmp(u.digest, digest, 64) == 0;
  }
  return false;
}

}  // namespace

void DemoLogin(const std::string& dir) {
  std::printf("\n== Login e storico delle modifiche\n");
  const std::string folder = dir + "/login";
  mkdir(dir.c_str(), 0755);
  mkdir(folder.c_str(), 0755);
  char real[4096];
  if (::realpath(folder.c_str(), real) == nullptr) return;
  const std::string root = real;

  // The server over the demo folder, and the host's own user list.
  {
    std::ofstream ini(root + "/isamserv.ini");
    ini << "[FAIRCOMS@LOCALHOST]\nbackend=folder\nfolder=" << root << "\nuser.DEMO=mirto2026\n";
  }
  const std::string users = root + "/utenti.dat";
  WriteUsers(users, {{"ADMIN", "segreto"}, {"DEMO", "mirto2026"}});
  std::printf("elenco utenti cifrato: %s (%zu byte)\n", users.c_str(), 2 * sizeof(Utente));
  vkt::isam::SetIsamProgramDirectory(root.c_str());

  vkt::SystemServices services;
  services.SetProfilePath(root + "/vkt.ini");
  vkt::ScopedServices use(&services);

  VKTAPPPARAM saved = *vktpar;
  std::memset(vktpar->user, 0, sizeof vktpar->user);
  std::memset(vktpar->password, 0, sizeof vktpar->password);
  std::vector<std::string> shots;
  auto shot = [&](CWnd* wnd, const char* file) {
    std::string path = folder + "/" + file;
    if (vkt::win::SavePng(wnd, path)) shots.push_back(path);
  };

  vkt::win::Driver ui;
  CLogin login(1);
  ui.Then([&] {
    ui.Type("DEMO");
    ui.Press(VK_RETURN);
    ui.Type("mirto2026");
    shot(&login, "login.png");
    ui.Press(VK_F2);
  });
  const bool ok = login.DoModal() == IDOK;
  std::printf("login: %s, utente %s, connessione \"%s\"\n", ok ? "confermato" : "annullato", vktpar->user,
              vktpar->server_at_host);
  const bool known = ok && CheckUser(users, vktpar->user, vktpar->password);
  std::printf("utente nell'elenco cifrato: %s\n", known ? "s\xC3\xAC" : "no");
  int16_t s = known ? DBInitISAM(64, vktpar->user, vktpar->password, vktpar->server_at_host, true, false, true) : -1;
  if (s != 0) {
    std::printf("sessione non aperta (stato %d)\n", s);
    std::memcpy(vktpar, &saved, sizeof saved);
    vkt::isam::SetIsamProgramDirectory("");
    return;
  }
  strzcpy(vktpar->last_user, vktpar->user, sizeof vktpar->last_user);
  std::printf("sessione ISAM aperta su %s (client del server: %s)\n", vktpar->server_at_host,
              DBLocal() == 0 ? "s\xC3\xAC" : "no");

  const unsigned char saved_create = vktpar->allow_create, saved_dirs = vktpar->create_dirs;
  vktpar->allow_create = 1;
  vktpar->create_dirs = 1;
  std::string name = root + "/soci";
  std::remove((name + ".dat").c_str());
  std::remove((name + ".idx").c_str());
  char n_cod[] = "SocCodice", first[] = "soc_codice", last[] = "soc_utente";
  ISEG seg[1] = {{0, 6, CT_SEG_BYTES}};
  IIDX ix[1] = {{6, 0, 0, 0, 0, 1, &seg[0], n_cod, nullptr, nullptr, nullptr}};
  ifil4 ifil = {name.data(), -1, sizeof(Socio), 4096, 0, 1, 4096, 0, ix, first, last, -1};
  char f1[] = "soc_codice", f2[] = "soc_nome", f3[] = "soc_citta", f4[] = "soc_quota", f5[] = "soc_utente",
       end[] = "";
  DATOBJ schema[6] = {};
  char* names[5] = {f1, f2, f3, f4, f5};
  const uint16_t types[5] = {144, 144, 144, 51, 144}, lens[5] = {7, 31, 21, 4, 21};
  for (int i = 0; i < 5; ++i) {
    schema[i].fsymb = names[i];
    schema[i].ftype = types[i];
    schema[i].flen = lens[i];
  }
  schema[5].fsymb = end;
  Socio buffer{};
  CDBCtree soci(1, &ifil, &buffer, PutStandard, nullptr, StampSocio, 0);
  if (int o = soci.DBOpen(1); o != 0) {
    std::printf("tabella non aperta (stato %d)\n", o);
  } else {
    int changed = 0;
    soci.DBPutDoda(schema, 0, &changed);
    Socio c{};
    Put(c.codice, sizeof c.codice, "S001");
    Put(c.nome, sizeof c.nome, "Rossi Mario");
    Put(c.citta, sizeof c.citta, "Milano");
    c.quota = 120;
    DBWrite(&soci, 0, &c, &soci);
    char key[8] = {};
    std::snprintf(key, 7, "%-6s", "S001");
    soci.DBSetIndex(1);
    for (int32_t quota : {150, 180}) {
      if (soci.DBGetRecord(key) != 0) break;
      Socio e = buffer;
      e.quota = quota;
      if (quota == 180) Put(e.citta, sizeof e.citta, "Como");
      DBWrite(&soci, 1, &e, &soci);
    }
    soci.DBGetRecord(key);
    const int32_t pos = soci.DBCurrentFileOffset(true);
    std::printf("socio S001 aggiunto e modificato due volte (posizione %d)\n", pos);

    char title[] = "Soci";
    CLastUser view(title, 0, &soci, pos, 0, schema);
    ui.Then([&] {
      ui.Press(VK_F2);
      CHistoryGrid& g = view.m_grid;
      std::printf("storico (%d operazioni):\n", g.GetMaxRows());
      for (int r = 1; r <= g.GetMaxRows(); ++r)
        std::printf("  %-9s %-6s %-10s %s  transazione %s\n", g.GetText(1, r).c_str(), g.GetText(2, r).c_str(),
                    g.GetText(3, r).c_str(), g.GetText(4, r).c_str(), g.GetText(5, r).c_str());
      shot(&view, "storico_operazioni.png");
      g.SetActiveSheet(2);
      for (int r = 1; r <= g.GetMaxRows(); ++r) {
        std::string line;
        for (int col = 1; col <= g.GetMaxCols(); ++col) {
          std::string v = g.GetText(col, r);
          while (!v.empty() && v.back() == ' ') v.pop_back();
          if (g.GetCellBack(col, r) == kHistoryChanged) v = "*" + v + "*";
          line += (col > 1 ? " | " : "") + v;
        }
        std::printf("  immagine %d: %s\n", r, line.c_str());
      }
      ui.Press(VK_F3);  // only the columns that changed
      shot(&view, "storico_immagini.png");
      ui.Press(VK_ESCAPE);
    });
    view.DoModal();
    std::printf("  (* valore cambiato nell'immagine successiva)\n");
    soci.DBCloseIFile();
  }
  for (const auto& p : shots) std::printf("immagine: %s\n", p.c_str());
  DBCloseISAM(0);
  vktpar->allow_create = saved_create;
  vktpar->create_dirs = saved_dirs;
  std::memcpy(vktpar->user, saved.user, sizeof saved.user);
  std::memcpy(vktpar->password, saved.password, sizeof saved.password);
  std::memcpy(vktpar->last_user, saved.last_user, sizeof saved.last_user);
  std::memcpy(vktpar->server_at_host, saved.server_at_host, sizeof saved.server_at_host);
  vkt::isam::SetIsamProgramDirectory("");
}

}  // namespace vkt::tool
