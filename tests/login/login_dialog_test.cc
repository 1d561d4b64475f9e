// The login form, the access-code dialog and the change-history viewer,
// driven as a user drives them over a real ISAM folder served under a
// connect name, with PNG snapshots of each.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "db/db_fixture.h"
#include "dialogs/vktdialog.h"
#include "login/lastuser.h"
#include "login/login.h"
#include "login/password.h"
#include "win/appwnd.h"
#include "win/canvas.h"
#include "win/driver.h"
#include "win/skinframework.h"
#include "win/winconst.h"

namespace vkt::login::test {
namespace {

using vkt::db::test::Cliente;
using vkt::db::test::ClientiTable;
using vkt::db::test::CodeKey;

std::string Snapshot(const std::string& name) {
  std::filesystem::create_directories(VKT_SNAPSHOT_DIR);
  return std::string(VKT_SNAPSHOT_DIR) + "/" + name;
}

class LoginTest : public vkt::db::test::DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    vkt::win::ResetWindows();
    vkt::win::ResetSkin();
    AfxSetMainWnd(nullptr);
    CVKTDialog::numdlg = 0;
    std::memset(par_.user, 0, sizeof par_.user);
    std::strcpy(par_.product, "locanda ");
    vkt::ResetAccessCodes();
  }
  void TearDown() override {
    vkt::win::ResetWindows();
    vkt::ResetAccessCodes();
    DbTest::TearDown();
  }
  // The server "FAIRCOMS@LOCALHOST" over the test folder, with its users.
  void ServeFolder() {
    std::ofstream ini(dir_ + "/isamserv.ini");
    ini << "[FAIRCOMS@LOCALHOST]\nbackend=folder\nfolder=" << dir_
        << "\nuser.ADMIN=segreto\nuser.BIANCHI=rosa\n";
    ini.close();
    vkt::isam::SetIsamProgramDirectory(dir_.c_str());
  }
  std::string Text(CWnd& w) { return w.GetWindowTextString().GetString(); }

  vkt::win::Driver ui_;
};

// --- CPassword ---------------------------------------------------------------

TEST_F(LoginTest, AccessCodeOpensOnlyWithTheCodeOfItsMode) {
  const AccessCodes codes = DefaultAccessCodes();
  {
    CPassword ask(0);
    ui_.Then([&] {
      EXPECT_EQ(Text(ask), "Richiesta Password");
      EXPECT_EQ(ui_.focus(), &ask.m_password);
      EXPECT_EQ(ask.m_password.GetMaxLen(), 20u);
      EXPECT_TRUE(vkt::win::SavePng(&ask, Snapshot("password_normal.png")));
      vkt::win::Image img = vkt::win::Render(&ask);
      EXPECT_NE(img.At(img.width / 2, img.height - 6), RGB(255, 0, 0));
      ui_.Type(codes.normal);
      ui_.Press(VK_F2);
    });
    EXPECT_EQ(ask.DoModal(), IDOK);
  }
  // The service codes do not open the normal mode.
  {
    CPassword ask(0);
    ui_.Then([&] {
      ui_.Type(codes.service1);
      ui_.Press(VK_RETURN);        // Enter on the field: to the next control
      EXPECT_EQ(ui_.focus(), &ask.m_ok);
      ui_.Press(VK_RETURN);        // Enter on OK confirms
    });
    EXPECT_EQ(ask.DoModal(), IDCANCEL);
  }
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Password non Valida!");
  EXPECT_EQ(fake_.transcript()[0].type, MB_OK | MB_ICONEXCLAMATION);
  ASSERT_EQ(fake_.beeps().size(), 1u);
  EXPECT_EQ(fake_.beeps()[0], std::make_pair(1000u, 10u));

  // Service mode: red, its own caption, both of its codes and not the
  // normal one.
  for (const std::string& code : {codes.service1, codes.service2}) {
    CPassword ask(1);
    ui_.Then([&] {
      EXPECT_EQ(Text(ask), "Service Password");
      vkt::win::Image img = vkt::win::Render(&ask);
      EXPECT_EQ(img.At(img.width / 2, img.height - 6), RGB(255, 0, 0));
      if (code == codes.service1) {
        EXPECT_TRUE(vkt::win::SavePng(&ask, Snapshot("password_service.png")));
      }
      ui_.Type(code);
      ui_.Press(VK_F2);
    });
    EXPECT_EQ(ask.DoModal(), IDOK) << code;
  }
  {
    CPassword ask(1);
    ui_.Then([&] {
      ui_.Type(codes.normal);
      ui_.Press(VK_F2);
    });
    EXPECT_EQ(ask.DoModal(), IDCANCEL);
  }
  EXPECT_EQ(fake_.transcript().size(), 2u);
  EXPECT_EQ(fake_.transcript().back().text, "Password non Valida!");
  // A code with a trailing blank is not the code; Escape cancels silently.
  {
    CPassword ask(0);
    ui_.Then([&] {
      ui_.Type(codes.normal + "x");
      ui_.Press(VK_F2);
    });
    EXPECT_EQ(ask.DoModal(), IDCANCEL);
    CPassword esc(0);
    ui_.Then([&] { ui_.Press(VK_ESCAPE); });
    EXPECT_EQ(esc.DoModal(), IDCANCEL);
  }
  EXPECT_EQ(fake_.transcript().size(), 3u);
  EXPECT_EQ(ui_.stalls(), 0);
}

TEST_F(LoginTest, SiteAccessCodesMustHaveTheirForm) {
  EXPECT_FALSE(SetAccessCodes({"Zefiro", "AB 123 CD", "EF 456 GH"}));
  EXPECT_FALSE(SetAccessCodes({"zefiro", "AB 12 CD", "EF 456 GH"}));
  EXPECT_FALSE(SetAccessCodes({"zefiro", "AB 123 CD", "ef 456 GH"}));
  EXPECT_EQ(CurrentAccessCodes().normal, DefaultAccessCodes().normal);
  ASSERT_TRUE(SetAccessCodes({"orsola", "AB 123 CD", "EF 456 GH"}));
  CPassword ask(0);
  ui_.Then([&] {
    ui_.Type("orsola");
    ui_.Press(VK_F2);
  });
  EXPECT_EQ(ask.DoModal(), IDOK);
}

// --- CLogin --------------------------------------------------------------------

TEST_F(LoginTest, FirstStartShowsTheDefaultServerAndLogsOnToTheServedFolder) {
  ServeFolder();
  CLogin login(1);
  ui_.Then([&] {
    EXPECT_EQ(Text(login), "Login");
    EXPECT_EQ(Text(login.m_title), "Mirto Locanda");
    EXPECT_EQ(Text(login.m_server), "FAIRCOMS");
    EXPECT_EQ(Text(login.m_host), "LOCALHOST");
    EXPECT_EQ(Text(login.m_archive), "ARCHIVI");
    EXPECT_EQ(ui_.focus(), &login.m_user);
    EXPECT_EQ(login.m_archive.GetMaxLen(), 8u);
    ui_.Type("ADMIN");
    ui_.Press(VK_DOWN);
    EXPECT_EQ(ui_.focus(), &login.m_password);
    ui_.Type("segreto");
    EXPECT_TRUE(vkt::win::SavePng(&login, Snapshot("login.png")));
    vkt::win::Image img = vkt::win::Render(&login);
    EXPECT_TRUE(img.width > 0);
    ui_.Press(VK_F2);
  });
  ASSERT_EQ(login.DoModal(), IDOK);
  EXPECT_STREQ(par_.server_at_host, "FAIRCOMS@LOCALHOST");
  EXPECT_STREQ(par_.user, "ADMIN");
  EXPECT_STREQ(par_.password, "segreto");
  EXPECT_EQ(login.changed, 1);  // the profile held no host or archive
  EXPECT_EQ(fake_.GetProfileString("Options", "Server", "?"), "FAIRCOMS");
  EXPECT_EQ(fake_.GetProfileString("Options", "Host", "?"), "LOCALHOST");
  EXPECT_EQ(fake_.GetProfileString("Options", "Archivio", "?"), "ARCHIVI");
  EXPECT_EQ(fake_.GetProfileString("Options", "User", "?"), "ADMIN");
  EXPECT_EQ(fake_.GetProfileString("Options", "Password", "none"), "none");

  // The composed name is what the session takes.
  EXPECT_EQ(DBInitISAM(400, par_.user, par_.password, par_.server_at_host, true, false, false), 0);
  EXPECT_EQ(DBLocal(), 0);
  EXPECT_TRUE(fake_.transcript().empty());
  EXPECT_EQ(DBCloseISAM(0), 0);

  // Next start: same archive and host, a wrong password.
  std::memset(par_.password, 0, sizeof par_.password);
  CLogin again(1);
  ui_.Then([&] {
    EXPECT_EQ(ui_.focus(), &again.m_password);  // every other field is filled
    ui_.Type("rosso");
    ui_.Press(VK_F2);
  });
  ASSERT_EQ(again.DoModal(), IDOK);
  EXPECT_EQ(again.changed, 0);
  EXPECT_EQ(DBInitISAM(400, par_.user, par_.password, par_.server_at_host, true, false, false), 451);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Errore n. 451 - Password non valida");
  EXPECT_EQ(fake_.transcript()[0].type, MB_OK | MB_ICONSTOP);
  EXPECT_EQ(ui_.stalls(), 0);
}

TEST_F(LoginTest, MissingValuesBeepAndCancelAfterwardsLeavesTheBlockAsItWas) {
  fake_.WriteProfileString("Options", "Host", "srv01");
  std::strcpy(par_.password, "  vecchia ");
  CLogin login(1);
  ui_.Then([&] {
    // Only the host was stored: no defaults for the other two.
    EXPECT_EQ(Text(login.m_server), "");
    EXPECT_EQ(Text(login.m_host), "srv01");
    EXPECT_EQ(Text(login.m_archive), "");
    EXPECT_EQ(ui_.focus(), &login.m_server);
    ui_.Press(VK_F2);
    EXPECT_EQ(ui_.focus(), &login.m_server);
    ui_.Type("FAIRCOMS");
    ui_.Press(VK_F2);  // no archive yet
    EXPECT_EQ(ui_.focus(), &login.m_archive);
    ui_.Type("DITTA1");
    ui_.Press(VK_F2);  // no user
    EXPECT_EQ(ui_.focus(), &login.m_user);
    ui_.Press(VK_ESCAPE);
  });
  EXPECT_EQ(login.DoModal(), IDCANCEL);
  EXPECT_EQ(fake_.beeps().size(), 3u);
  EXPECT_TRUE(fake_.transcript().empty());
  // The typed values never reached the block; the opening's trim did.
  EXPECT_STREQ(par_.server, "");
  EXPECT_STREQ(par_.host, "srv01");
  EXPECT_STREQ(par_.archive, "");
  EXPECT_STREQ(par_.password, "vecchia");
  EXPECT_STREQ(par_.server_at_host, "");
  EXPECT_EQ(fake_.GetProfileString("Options", "Server", "none"), "none");
  EXPECT_EQ(login.changed, 0);
}

TEST_F(LoginTest, LongNamesAreCutAndTheShortFormAsksOnlyForThePassword) {
  std::strcpy(par_.user, "VERDI");
  CLogin login(1);
  const std::string forty(40, 'S');
  ui_.Then([&] {
    login.m_server.SetWindowText(forty.c_str());  // as a paste would leave it
    login.m_host.SetWindowText("nuovohost");
    ui_.Press(VK_F2);
  });
  ASSERT_EQ(login.DoModal(), IDOK);
  EXPECT_EQ(std::string(par_.server), forty.substr(0, 30));
  EXPECT_EQ(std::string(par_.server_at_host), forty.substr(0, 30) + "@nuovohost");
  EXPECT_EQ(login.changed, 1);

  CLogin short_form(0);
  ui_.Then([&] {
    EXPECT_FALSE(short_form.m_server.IsWindowVisible());
    EXPECT_FALSE(short_form.m_create_dirs.IsWindowEnabled());
    EXPECT_FALSE(short_form.m_lbl_archive.IsWindowVisible());
    EXPECT_EQ(ui_.focus(), &short_form.m_password);
    EXPECT_TRUE(vkt::win::SavePng(&short_form, Snapshot("login_short.png")));
    ui_.Press(VK_RETURN);  // on the password field: to the next control
    ui_.Press(VK_F2);      // an empty password is accepted
  });
  ASSERT_EQ(short_form.DoModal(), IDOK);
  EXPECT_STREQ(par_.password, "");
  EXPECT_EQ(par_.create_dirs, 0);
  EXPECT_EQ(vkt::login::EditionTitle(" mircrm"), "Mirto CRM");
  EXPECT_EQ(vkt::login::EditionTitle("nuovo prodotto"), "Nuovo Prodotto");
}

TEST_F(LoginTest, LoginPaintsItsBandsAndLines) {
  CLogin login(1);
  ui_.Then([&] {
    vkt::win::Image img = vkt::win::Render(&login);
    CRect rc;
    login.GetClientRect(&rc);
    // The client area sits inside the frame: find its origin by the band.
    CRect wr;
    login.GetWindowRect(&wr);
    CPoint origin(0, 0);
    login.ClientToScreen(&origin);
    const int ox = origin.x - wr.left, oy = origin.y - wr.top;
    const int w = rc.Width(), h = rc.Height();
    EXPECT_EQ(img.At(ox + 3, oy + 3), RGB(21, 88, 163));
    EXPECT_EQ(img.At(ox + 3, oy + h - 3), RGB(21, 88, 163));
    EXPECT_EQ(img.At(ox + w / 2, oy + 30), RGB(255, 128, 0));
    EXPECT_EQ(img.At(ox + 0, oy + 31), RGB(255, 255, 255));
    EXPECT_EQ(img.At(ox + w / 2, oy + h - 36), RGB(255, 128, 0));
    EXPECT_EQ(img.At(ox + w / 2 - 10, oy + 32), RGB(255, 128, 0));
    EXPECT_EQ(img.At(ox + w / 2 - 10, oy + 32 + (h - 69) / 2), RGB(0, 64, 128));
    ui_.Press(VK_ESCAPE);
  });
  EXPECT_EQ(login.DoModal(), IDCANCEL);
}

// --- CLastUser -----------------------------------------------------------------

class HistoryTest : public LoginTest {
 protected:
  void SetUp() override {
    LoginTest::SetUp();
    ServeFolder();
    std::strcpy(par_.last_user, "ADMIN");
    char user[] = "ADMIN", password[] = "segreto", server[] = "FAIRCOMS@LOCALHOST";
    ASSERT_EQ(DBInitISAM(400, user, password, server, true, false, false), 0);
    OpenClienti(table_, clienti_);
    AddClienti(clienti_, SomeClienti());
  }
  Cliente Read(const char* codice) {
    clienti_.DBSetIndex(1);
    CodeKey key(codice);
    EXPECT_EQ(clienti_.DBGetRecord(key.bytes), 0) << codice;
    return *static_cast<Cliente*>(clienti_.DBGetBuffer());
  }
  int32_t Position(const char* codice) {
    Read(codice);
    return clienti_.DBCurrentFileOffset(true);
  }

  ClientiTable table_{Path("clienti")};
  Cliente buffer_{};
  CDBCtree clienti_{1, &table_.ifil, &buffer_, PutStandard, nullptr, vkt::db::test::StampCliente, 0};
  std::vector<DATOBJ> schema_ = vkt::db::test::ClientiSchema();
};

TEST_F(HistoryTest, ListsTheOperationsAndHighlightsTheOneFieldThatChanged) {
  Cliente c = Read("C001");
  c.fido = 1500;
  ASSERT_EQ(DBWrite(&clienti_, 1, &c, &clienti_), 0);
  const int32_t pos = Position("C001");
  ASSERT_NE(pos, 0);

  char name[] = "Clienti";
  CLastUser view(name, COleDateTime(2026, 12, 7, 9, 5, 3).m_dt, &clienti_, pos, 0, schema_.data());
  ui_.Then([&] {
    EXPECT_EQ(Text(view.m_name), "Clienti");
    EXPECT_EQ(Text(view.m_when), "07/12/2026  09:05:03");
    EXPECT_EQ(Text(view.m_logs), "5");
    EXPECT_FALSE(view.m_filter.IsWindowVisible());
    EXPECT_EQ(view.m_grid.GetActiveSheet(), 2);
    EXPECT_EQ(view.firstField, 0);
    EXPECT_EQ(view.lastField, 8);
    ASSERT_EQ(view.m_grid.GetMaxCols(), 9);
    EXPECT_EQ(view.m_grid.sheet(2).columns[1].width, 34);  // 41 / 1.2
    EXPECT_EQ(view.m_grid.sheet(2).columns[0].width, 8);   // 9 / 1.2, at least 8
    EXPECT_EQ(ui_.focus(), &view.m_grid);
    ui_.Press(VK_F2);
    EXPECT_TRUE(view.m_filter.IsWindowVisible());
    EXPECT_EQ(Text(view.m_filter), "F3 - Filtra Colonne Variate");
    EXPECT_EQ(view.m_grid.GetActiveSheet(), 1);
  });
  ui_.Then([&] {
    CHistoryGrid& g = view.m_grid;
    // Add (key and image), then the rewrite's old and new image.
    ASSERT_GE(g.GetMaxRows(), 3);
    std::vector<std::string> kinds;
    for (int r = 1; r <= g.GetMaxRows(); ++r) kinds.push_back(g.GetText(1, r));
    EXPECT_EQ(kinds.back(), "NEWIMAGE");
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), "OLDIMAGE"), kinds.end());
    EXPECT_EQ(g.GetText(2, 1), "ADMIN");
    EXPECT_FALSE(g.GetText(4, 1).empty());
    EXPECT_EQ(g.GetText(7, 1), std::to_string(pos));
    EXPECT_EQ(g.GetText(8, 1), "0");

    // The images: the old and new image differ in the credit only (the
    // stamp is the same user, the time may differ).
    g.SetActiveSheet(2);
    const int rows = g.GetMaxRows();
    ASSERT_EQ(rows, static_cast<int>(kinds.size()));
    EXPECT_EQ(g.GetText(1, rows), "C001    ");  // the bytes up to the zero
    EXPECT_EQ(g.GetText(6, rows), "1500");
    EXPECT_EQ(g.GetText(7, rows), "0.0000");
    const Cliente disk = Read("C001");
    EXPECT_EQ(g.GetText(8, rows), std::string(disk.utente, strnlen(disk.utente, sizeof disk.utente)));
    int old_row = 0;
    for (int r = 1; r <= rows; ++r)
      if (kinds[static_cast<size_t>(r - 1)] == "OLDIMAGE") old_row = r;
    ASSERT_GT(old_row, 0);
    EXPECT_EQ(g.GetText(6, old_row), "1000");
    EXPECT_EQ(g.GetCellBack(6, old_row), kHistoryChanged);
    EXPECT_EQ(g.GetCellBack(2, old_row), kNoCellBack);
    EXPECT_EQ(g.GetCellBack(6, rows), kNoCellBack);  // the last row is never marked
    // Changing sheet keeps the operation and its image side by side.
    g.SetActiveRow(old_row);
    g.SetActiveSheet(1);
    EXPECT_EQ(g.GetActiveRow(), old_row);
    g.SetActiveSheet(2);
    // Right scrolls the columns so that the credit shows.
    ASSERT_EQ(ui_.focus(), &g);
    for (int i = 0; i < 4; ++i) ui_.Press(VK_RIGHT);
    EXPECT_EQ(g.sheet(2).left, 5);
    EXPECT_TRUE(vkt::win::SavePng(&view, Snapshot("history_images.png")));
    ui_.Press(VK_LEFT);
    EXPECT_EQ(g.sheet(2).left, 4);
    ui_.Press(VK_F3);
    EXPECT_EQ(Text(view.m_filter), "F3 - Mostra Tutto");
    EXPECT_FALSE(g.GetColHidden(6));
    EXPECT_TRUE(g.GetColHidden(1));
    EXPECT_TRUE(g.GetColHidden(2));
    EXPECT_EQ(view.filtered, 1);
    EXPECT_TRUE(vkt::win::SavePng(&view, Snapshot("history_filtered.png")));
    ui_.Press(VK_F3);
    EXPECT_FALSE(g.GetColHidden(1));
    EXPECT_EQ(Text(view.m_filter), "F3 - Filtra Colonne Variate");
    g.SetActiveSheet(1);
    EXPECT_TRUE(vkt::win::SavePng(&view, Snapshot("history_operations.png")));
    ui_.Press(VK_ESCAPE);
  });
  EXPECT_EQ(view.DoModal(), IDCANCEL);
  EXPECT_EQ(fake_.wait_cursor_depth(), 0);
  EXPECT_TRUE(fake_.transcript().empty());
  EXPECT_EQ(ui_.stalls(), 0);
}

TEST_F(HistoryTest, NoPositionNoRowsAndARecordTooLargeIsRefused) {
  char name[] = "Clienti";
  // No record position: an empty history, nothing said.
  {
    CLastUser view(name, 0, &clienti_, 0, 0, schema_.data());
    ui_.Then([&] {
      EXPECT_EQ(Text(view.m_when), "");
      ui_.Press(VK_F2);
      EXPECT_EQ(view.m_grid.sheet(1).rows.size(), 0u);
      EXPECT_TRUE(view.m_ok.IsWindowEnabled());
      ui_.Press(VK_ESCAPE);
    });
    EXPECT_EQ(view.DoModal(), IDCANCEL);
  }
  EXPECT_TRUE(fake_.transcript().empty());
  // A log count of 0 reads without the preliminary call; a second read
  // appends the same rows again.
  const int32_t pos = Position("C002");
  {
    CLastUser view(name, 0, &clienti_, pos, 0, schema_.data());
    ui_.Then([&] {
      view.m_logs.SetText("0");
      ui_.Press(VK_F2);
      const size_t once = view.m_grid.sheet(1).rows.size();
      EXPECT_GE(once, 1u);
      ui_.Press(VK_F2);
      EXPECT_EQ(view.m_grid.sheet(1).rows.size(), 2 * once);
      ui_.Press(VK_ESCAPE);
    });
    EXPECT_EQ(view.DoModal(), IDCANCEL);
  }
  // A position of another record's high word finds nothing of this one.
  {
    CLastUser view(name, 0, &clienti_, pos, 1, schema_.data());
    ui_.Then([&] {
      ui_.Press(VK_F2);
      EXPECT_EQ(view.m_grid.sheet(1).rows.size(), 0u);
      ui_.Press(VK_ESCAPE);
    });
    EXPECT_EQ(view.DoModal(), IDCANCEL);
  }
  // A record that would not fit the shared buffer with its header.
  ClientiTable big(Path("grande"), 20480 - 144);
  CDBCtree grande(2, &big.ifil, &buffer_, PutStandard, nullptr, nullptr, 0);
  {
    CLastUser view(name, 0, &grande, 8, 0, nullptr);
    ui_.Then([&] {
      ui_.Press(VK_F2);
      EXPECT_TRUE(view.m_ok.IsWindowEnabled());
      ui_.Press(VK_ESCAPE);
    });
    EXPECT_EQ(view.DoModal(), IDCANCEL);
  }
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text,
            "Eccessiva dimensione del record !\n\nAumentare le dimensioni del buffer");
  EXPECT_EQ(fake_.transcript()[0].type, MB_OK | MB_ICONSTOP);
}

TEST_F(HistoryTest, UnknownFieldTypesAreReportedOncePerColumn) {
  std::vector<DATOBJ> odd = schema_;
  odd[2].ftype = 200;
  odd[4].ftype = 201;
  char name[] = "Clienti";
  CLastUser view(name, 0, &clienti_, 0, 0, odd.data());
  ui_.Then([&] {
    EXPECT_EQ(view.m_grid.sheet(2).columns[2].kind, CHistoryGrid::kDefault);
    ui_.Press(VK_ESCAPE);
  });
  EXPECT_EQ(view.DoModal(), IDCANCEL);
  ASSERT_EQ(fake_.transcript().size(), 2u);
  EXPECT_EQ(fake_.transcript()[0].text, "Tipo di Campo sconosciuto");
  EXPECT_EQ(fake_.transcript()[1].text, "Tipo di Campo sconosciuto");
  EXPECT_EQ(CLastUser::ImageTypeName(15), "DIFIMAGE");
  EXPECT_EQ(CLastUser::ImageTypeName(7), "7");
}

}  // namespace
}  // namespace vkt::login::test
