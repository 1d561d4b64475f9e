// A whole editing session as a user has it, over a real ISAM table: the
// customer list, F4 into a customer, a fiscal code refused and corrected,
// F2 saving through DBWrite, the list showing the new value, F6 deleting
// after its question, Escape leaving everything as it was, F3 adding one.
// Each dialog is painted to a PNG file (build dir, snapshots/dialogs).
#include "customer_host.h"
#include "dialog_fixture.h"
#include "win/skinframework.h"

namespace {

using vkt::db::test::ClientiTable;
using vkt::db::test::CodeKey;
using vkt::db::test::DbTest;
using vkt::test::CClienteDlg;
using vkt::test::CClientiBrowse;
using vkt::test::Cliente;
using vkt::test::SnapshotPath;

class CustomerSessionTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    vkt::win::ResetWindows();
    vkt::win::ResetSkin();
    CVKTDialog::numdlg = 0;
    std::strcpy(par_.last_user, "ROSSI");
    InitSession();
    OpenClienti(table_, clienti_);
    AddClienti(clienti_, SomeClienti());
  }
  void TearDown() override {
    vkt::win::ResetWindows();
    DbTest::TearDown();
  }
  Cliente Read(const char* codice) {
    clienti_.DBSetIndex(1);
    CodeKey key(codice);
    EXPECT_EQ(clienti_.DBGetRecord(key.bytes), 0) << codice;
    return *static_cast<Cliente*>(clienti_.DBGetBuffer());
  }
  bool Exists(const char* codice) {
    clienti_.DBSetIndex(1);
    CodeKey key(codice);
    return clienti_.DBGetRecord(key.bytes) == 0;
  }
  std::string Shown(CClientiBrowse& b, int col, int row) { return b.m_grid.GetText(col, row); }

  ClientiTable table_{Path("clienti")};
  Cliente buffer_{};
  CDBCtree clienti_{1, &table_.ifil, &buffer_, PutStandard, nullptr, vkt::db::test::StampCliente, 0};
  vkt::win::Driver ui_;
};

TEST_F(CustomerSessionTest, BrowseEditCorrectSaveDeleteAndCancel) {
  CClientiBrowse browse(&clienti_);
  CClienteDlg* editing = nullptr;
  auto current = [&] {
    return dynamic_cast<CClienteDlg*>(CWnd::FromHandlePermanent(vkt::win::ModalWindows().back()));
  };
  // 1. The list: four customers in code order; to the second and F4.
  ui_.Then([&] {
    ASSERT_EQ(browse.m_grid.GetMaxRows(), 4);
    EXPECT_EQ(Shown(browse, 1, 1), "C001");
    EXPECT_EQ(Shown(browse, 2, 2), "Bianchi Carla");
    ui_.Focus(&browse.m_grid);
    ui_.Press(VK_DOWN);
    ASSERT_TRUE(vkt::win::SavePng(&browse, SnapshotPath("clienti_browse.png")));
    ui_.Press(VK_F4);
  });
  // 2. The customer C002: a bad fiscal code is refused and corrected.
  ui_.Then([&] {
    editing = current();
    ASSERT_NE(editing, nullptr);
    EXPECT_EQ(editing->m_ragione.GetWindowTextString(), CString("Bianchi Carla"));
    EXPECT_EQ(editing->m_toolBar.buttons().size(), 6u);  // an existing record
    ASSERT_TRUE(vkt::win::SavePng(editing, SnapshotPath("cliente_record.png")));
    ui_.Focus(&editing->m_cf);
    ui_.Type("bbbccc90b02a000n");  // wrong check character
    fake_.ScriptAnswer(IDYES);     // "Vuoi Correggere ?"
    ui_.Press(VK_F2);
    EXPECT_EQ(ui_.focus(), &editing->m_cf);
    EXPECT_TRUE(editing->writes.empty());  // nothing written
    ui_.Type("bbbccc90b02a000m");
    ui_.Press(VK_TAB);
    ui_.Focus(&editing->m_citta);
    ui_.Type("reggio emilia");
    ASSERT_TRUE(vkt::win::SavePng(editing, SnapshotPath("cliente_record_edited.png")));
    ui_.Press(VK_F2);  // saved: the dialog ends
  });
  // 3. Back on the list: the new values are there; F4 again, then F6.
  ui_.Then([&] {
    EXPECT_EQ(browse.results, std::vector<int>{IDOK});
    EXPECT_EQ(Shown(browse, 3, 2), "BBBCCC90B02A000M");
    EXPECT_EQ(Shown(browse, 4, 2), "Reggio Emilia");
    EXPECT_EQ(browse.m_grid.GetActiveRow(), 2);
    ASSERT_TRUE(vkt::win::SavePng(&browse, SnapshotPath("clienti_browse_saved.png")));
    ui_.Focus(&browse.m_grid);
    ui_.Press(VK_F4);
  });
  ui_.Then([&] {
    editing = current();
    ASSERT_NE(editing, nullptr);
    fake_.ScriptAnswer(IDNO);  // "Confermi la cancellazione..." no
    ui_.Press(VK_F6);
    EXPECT_EQ(editing->writes, std::vector<int16_t>{DB_CANCELLED});
    fake_.ScriptAnswer(IDYES);
    ui_.Press(VK_F6);
  });
  // 4. C002 is gone; into C003, change the city, Escape.
  ui_.Then([&] {
    EXPECT_EQ(browse.m_grid.GetMaxRows(), 3);
    EXPECT_EQ(Shown(browse, 1, 2), "C003");
    ui_.Focus(&browse.m_grid);
    ui_.Press(VK_F4);
  });
  ui_.Then([&] {
    editing = current();
    ASSERT_NE(editing, nullptr);
    ui_.Focus(&editing->m_citta);
    ui_.Type("Napoli");
    ui_.Press(VK_ESCAPE);
  });
  // 5. A new customer with F3, then F2 on the list picks the row.
  ui_.Then([&] {
    ui_.Press(VK_F3);
  });
  ui_.Then([&] {
    editing = current();
    ASSERT_NE(editing, nullptr);
    EXPECT_EQ(editing->m_toolBar.buttons().size(), 1u);  // a new record: save only
    ui_.Focus(&editing->m_codice);
    ui_.Type("c009");
    ui_.Press(VK_RETURN);
    ui_.Type("Neri Paolo");
    ui_.Press(VK_RETURN);
    ui_.Type("RSSMRA85T10A562S");
    ui_.Press(VK_RETURN);
    ui_.Type("bologna");
    ui_.Press(VK_RETURN);
    ui_.Type("2500");
    ASSERT_TRUE(vkt::win::SavePng(editing, SnapshotPath("cliente_new.png")));
    ui_.Press(VK_F2);
  });
  ui_.Then([&] {
    EXPECT_EQ(browse.m_grid.GetMaxRows(), 4);
    EXPECT_EQ(Shown(browse, 1, 4), "C009");
    ui_.Focus(&browse.m_grid);
    ui_.Press(VK_F2);
  });
  EXPECT_EQ(browse.DoModal(), IDOK);
  EXPECT_EQ(browse.chosen, "C003");
  EXPECT_EQ(browse.results, (std::vector<int>{IDOK, IDOK, IDCANCEL, IDOK}));
  EXPECT_EQ(ui_.stalls(), 0);

  // What the table holds.
  Cliente c2;
  EXPECT_FALSE(Exists("C002"));
  Cliente c3 = Read("C003");
  EXPECT_EQ(VKT_FIELD(c3, citta), "Roma");  // Escape wrote nothing
  Cliente c9 = Read("C009");
  EXPECT_EQ(VKT_FIELD(c9, ragione), "Neri Paolo");
  EXPECT_EQ(VKT_FIELD(c9, cod_fiscale), "RSSMRA85T10A562S");
  EXPECT_EQ(VKT_FIELD(c9, citta), "Bologna");
  const int32_t fido = c9.fido;  // a packed field: read by value
  EXPECT_EQ(fido, 2500);
  EXPECT_EQ(VKT_FIELD(c9, utente), "ROSSI");  // stamped by the host's callback
  (void)c2;
  // The questions the user saw, in order.
  std::vector<std::string> texts;
  for (const auto& m : fake_.transcript()) texts.push_back(m.text);
  EXPECT_EQ(texts, (std::vector<std::string>{kVktInvalidInput, "Confermi la cancellazione...",
                                             "Confermi la cancellazione..."}));
}

TEST_F(CustomerSessionTest, TheSavedRecordIsTheOneOnDisk) {
  // A modification written through DBWrite survives closing and reopening
  // the table: the dialog's save is a real write, not a buffer change.
  {
    CClienteDlg dlg(&clienti_, "C001");
    ui_.Then([&] {
      ui_.Focus(&dlg.m_ragione);
      ui_.Type("Rossi Mario & Figli");
      ui_.Press(VK_F2);
    });
    ASSERT_EQ(dlg.DoModal(), IDOK);
  }
  ASSERT_EQ(clienti_.DBCloseIFile(), 0);
  ASSERT_EQ(clienti_.DBOpen(0), 0);
  EXPECT_EQ(VKT_FIELD(Read("C001"), ragione), "Rossi Mario & Figli");
  EXPECT_EQ(VKT_FIELD(Read("C004"), ragione), "bianchi luca");
}

}  // namespace
