// The record database's exports and copies showing their progress in the
// library's dialog: the bar moves with the records, the button stops the
// dump, and a window of the layer's own goes away with the owner enabled.
#include <cstdio>

#include "db/db_fixture.h"
#include "dialog_fixture.h"
#include "dialogs/vktdbprogress.h"

namespace {

using vkt::db::test::ClientiTable;
using vkt::db::test::DbTest;
using vkt::db::test::MakeCliente;

class DbProgressTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    vkt::win::ResetWindows();
    previous_ = vkt::dialogs::InstallDbProgress();
    InitSession();
    OpenClienti(table_, clienti_);
    std::vector<vkt::db::test::Cliente> many;
    for (int i = 0; i < 300; ++i) {
      char code[9];
      std::snprintf(code, sizeof code, "K%04d", i % 10000);
      many.push_back(MakeCliente(code, "Cliente", "", "", "Roma", i));
    }
    AddClienti(clienti_, many);
    ASSERT_TRUE(main_.Create("Frame", "Mirto", WS_POPUP | WS_VISIBLE, CRect(0, 0, 800, 600), nullptr, 0));
    AfxSetMainWnd(&main_);
  }
  void TearDown() override {
    vkt::db::SetProgressProvider(previous_);
    AfxSetMainWnd(nullptr);
    vkt::win::ResetWindows();
    DbTest::TearDown();
  }

  ClientiTable table_{Path("clienti")};
  vkt::db::test::Cliente buffer_{};
  CDBCtree clienti_{1, &table_.ifil, &buffer_, PutStandard, nullptr, vkt::db::test::StampCliente, 0};
  vkt::db::ProgressProvider* previous_ = nullptr;
  CWnd main_;
  vkt::win::Driver ui_;
};

TEST_F(DbProgressTest, TheDumpMovesTheBarAndTheButtonStopsIt) {
  CVKTProgressDlg dlg;
  ASSERT_EQ(dlg.Create(&main_), 1);
  dlg.SetRange(0, 300);
  dlg.SetStep(1);
  FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  DB_IMPORT_EXPORT block{out, {}, 0, &dlg};
  EXPECT_EQ(clienti_.DBExport(&block), DB_EXPORT_DONE);
  EXPECT_EQ(block.count, 300);
  EXPECT_EQ(dlg.m_bar.GetPos(), 300);
  EXPECT_EQ(dlg.GetDlgItem(IDC_VKT_PROGRESS_PERCENT)->GetWindowTextString(), CString("Completato 100.0%"));

  // The user presses Esci: the dump stops at the record in hand.
  std::rewind(out);
  block.count = 0;
  ui_.Focus(&dlg.m_cancel);
  vkt::win::QueueKey(VK_ESCAPE, true);
  vkt::win::QueueKey(VK_ESCAPE, false);
  EXPECT_EQ(clienti_.DBExport(&block), DB_EXPORT_CANCELLED);
  EXPECT_EQ(block.count, 1);
  std::fclose(out);
  dlg.DestroyWindow();
  EXPECT_TRUE(main_.IsWindowEnabled());
}

TEST_F(DbProgressTest, TheLayersOwnWindowComesAndGoes) {
  vkt::dialogs::DbProgressProvider provider;
  {
    std::unique_ptr<vkt::db::ProgressWindow> w = provider.Create("Attendere...");
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->Exists());
    EXPECT_FALSE(main_.IsWindowEnabled());  // the main window waits
    w->SetStatus("Importazione da dit00001 ...");
    w->SetRange(0, 70000);
    w->SetStep(1000);
    w->HideCancel();
    EXPECT_EQ(w->StepIt(), 0);
    EXPECT_EQ(w->StepIt(), 1000);
    EXPECT_EQ(w->CheckCancelButton(), 0);
  }
  EXPECT_TRUE(main_.IsWindowEnabled());
  EXPECT_EQ(provider.Wrap(nullptr), nullptr);
}

}  // namespace
