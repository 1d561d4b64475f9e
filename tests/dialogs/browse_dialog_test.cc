// The browse dialog run modally: its buttons and keys, the grid-aware
// arrows and Enter, placement beside the main window, the grid set-up and
// the connection closed when the window goes.
#include "dialog_fixture.h"
#include "dialogs/vktbrowsedialog.h"
#include "win/ini_file.h"

namespace {

using vkt::test::DialogTest;
using vkt::test::kField;
using vkt::test::Template;

class HostBrowse : public CVKTRecordBrowseDialog {
 public:
  HostBrowse() {
    SetTemplate(Template("Clienti", 500, 300,
                         {{"Edit", "", 1001, kField, CRect(10, 60, 200, 82)},
                          {"SpreadSheet", "", 1002, WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(10, 90, 490, 260)},
                          {"Edit", "", 1003, kField, CRect(10, 270, 200, 292)}}));
  }
  void DoDataExchange(CDataExchange* dx) override {
    CVKTRecordBrowseDialog::DoDataExchange(dx);
    DDX_Control(dx, 1002, m_grid);
  }
  BOOL OnInitDialog() override {
    CVKTRecordBrowseDialog::OnInitDialog();
    m_grid.SetColumns({{"Codice", 80}, {"Ragione sociale", 240}});
    for (int i = 1; i <= rows; ++i) m_grid.AddRow({"C00" + std::to_string(i), "Cliente " + std::to_string(i)});
    return TRUE;
  }
  void OnRecordBrowseHelp() override { log.push_back("help"); }
  void OnRecordBrowseNuovo() override { log.push_back("nuovo"); }
  void OnRecordBrowseApri() override { log.push_back("apri:" + std::to_string(m_grid.GetActiveRow())); }
  void OnRecordBrowseSeleziona() override { log.push_back("seleziona:" + std::to_string(m_grid.GetActiveRow())); }
  void OnRecordBrowseStampa() override { log.push_back("stampa"); }
  void OnRecordBrowseElimina() override { log.push_back("elimina"); }
  void OnUpdateRecordBrowseApri(CCmdUI* ui) override { ui->Enable(m_grid.GetMaxRows() > 0); }
  std::vector<std::string> Captions() const {
    std::vector<std::string> out;
    for (const auto& b : m_toolBar.buttons()) out.push_back(b.caption);
    return out;
  }
  CWnd* Field(int id) { return GetDlgItem(id); }

  int rows = 3;
  std::vector<std::string> log;
};

class BrowseDialogTest : public DialogTest {};

TEST_F(BrowseDialogTest, ANewBrowseHasThreeButtonsAndSwallowsF6AndF7) {
  HostBrowse dlg;
  std::vector<std::string> captions, tooltips;
  std::vector<UINT> field_keys;
  ui_.Then([&] {
    captions = dlg.Captions();
    for (const auto& b : dlg.m_toolBar.buttons()) tooltips.push_back(b.tooltip);
    ui_.Focus(&dlg.m_grid);
    ui_.Press(VK_F6);
    ui_.Press(VK_F7);
    ui_.Press(VK_F3);
    ui_.Press(VK_F4);
    ui_.Press(VK_F2);
    ui_.Press(VK_F1);
    ui_.Press(VK_ESCAPE);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(captions, (std::vector<std::string>{"F2 - &OK", "F3 - &Nuovo", "F4 - &Modifica"}));
  EXPECT_EQ(tooltips, (std::vector<std::string>{"Seleziona", "Crea un nuovo record", "Apre il record selezionato"}));
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"nuovo", "apri:1", "seleziona:1", "help"}));
}

TEST_F(BrowseDialogTest, AllButtonsInTheirOrderAndTheHostsUpdateRule) {
  HostBrowse dlg;
  dlg.m_buttons = 0x1F;
  dlg.rows = 0;
  std::vector<std::string> captions;
  ui_.Then([&] {
    captions = dlg.Captions();
    ui_.Focus(dlg.Field(1001));
    ui_.Press(VK_F4);  // no rows: the host's rule disabled it at the first idle
    ui_.Press(VK_F6);
    ui_.Press(VK_F7);
    ui_.Press(VK_ESCAPE);
  });
  dlg.DoModal();
  EXPECT_EQ(captions, (std::vector<std::string>{"F2 - &OK", "F3 - &Nuovo", "F4 - &Modifica", "F6 - &Canc",
                                                "F7 - &Stampa"}));
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"elimina", "stampa"}));
}

TEST_F(BrowseDialogTest, ArrowsMoveInTheGridAndLeaveItAtItsEnds) {
  HostBrowse dlg;
  ui_.Then([&] {
    ui_.Focus(dlg.Field(1001));
    ui_.Press(VK_RETURN);  // a filter field: on to the next control
    ASSERT_EQ(ui_.focus(), &dlg.m_grid);
    ui_.Press(VK_DOWN);
    ui_.Press(VK_DOWN);
    EXPECT_EQ(dlg.m_grid.GetActiveRow(), 3);
    EXPECT_EQ(ui_.focus(), &dlg.m_grid);
    ui_.Press(VK_DOWN);  // last row: out of the grid
    EXPECT_EQ(ui_.focus(), dlg.Field(1003));
    EXPECT_EQ(dlg.m_grid.GetActiveRow(), 3);
    ui_.Press(VK_UP);  // a field: back to the grid
    EXPECT_EQ(ui_.focus(), &dlg.m_grid);
    ui_.Press(VK_UP);
    EXPECT_EQ(dlg.m_grid.GetActiveRow(), 2);
    ui_.Press(VK_UP, vkt::win::kShift);  // Shift: out, whatever the row
    EXPECT_EQ(ui_.focus(), dlg.Field(1001));
    ui_.Focus(&dlg.m_grid);
    ui_.Press(VK_UP);
    ui_.Press(VK_UP);  // row 1: out to the previous control
    EXPECT_EQ(ui_.focus(), dlg.Field(1001));
    ui_.Focus(&dlg.m_grid);
    ui_.Press(VK_DOWN);
    ui_.Press(VK_RETURN);  // on the grid: select
    // F5 and F11 reach the focused control unchanged.
    ui_.Press(VK_F5);
    ui_.Press(VK_F11);
    ui_.Press(VK_ESCAPE);
  });
  int vopid = 0;
  static int* counter = nullptr;
  counter = &vopid;
  par_.VopidFunc = [] { ++*counter; };
  dlg.DoModal();
  EXPECT_EQ(dlg.log, std::vector<std::string>{"seleziona:2"});
  EXPECT_EQ(vopid, 0);
}

TEST_F(BrowseDialogTest, PlacementGridSetUpAndTheConnection) {
  CWnd main;
  ASSERT_TRUE(main.Create("Frame", "Mirto", WS_POPUP | WS_VISIBLE, CRect(0, 0, 1200, 800), nullptr, 0));
  AfxSetMainWnd(&main);
  std::string ini = (std::filesystem::temp_directory_path() / "vkt_browse_skin.ini").string();
  ASSERT_TRUE(vkt::win::WriteIniString(ini, "SpreadSettings", "clrBackEven", "255"));
  std::snprintf(par_.skin_ini, sizeof par_.skin_ini, "%s", ini.c_str());
  HostBrowse dlg;
  CRect placed;
  ui_.Then([&] {
    dlg.GetWindowRect(&placed);
    dlg.m_con.Connect(":memory:", "", "", SA_SQLite_Client);
    ui_.Press(VK_ESCAPE);
  });
  dlg.DoModal();
  EXPECT_EQ(placed.right, 1200 - 20);
  EXPECT_EQ(placed.top, 115);
  EXPECT_EQ(dlg.m_grid.appearance().back_even, 255u);
  EXPECT_EQ(dlg.m_grid.appearance().back_odd, 0xFFFFFFu);  // the default
  EXPECT_EQ(dlg.m_grid.StoredProperty(kSpreadProp110), MakeVariant(int32_t{2}));
  EXPECT_EQ(dlg.m_grid.StoredProperty(kSpreadProp108), MakeVariant(false));
  EXPECT_EQ(dlg.m_grid.StoredProperty(kSpreadProp200), MakeVariant(int32_t{1000}));
  EXPECT_EQ(dlg.m_grid.StoredProperty(kSpreadProp201), MakeVariant(int32_t{0}));
  EXPECT_EQ(dlg.m_grid.StoredProperty(kSpreadProp199), MakeVariant(true));
  // The window went: so did its connection.
  EXPECT_FALSE(dlg.m_con.isConnected());
  EXPECT_TRUE(fake_.notices().empty());
  std::filesystem::remove(ini);
}

TEST_F(BrowseDialogTest, ABrowseWithoutItsToolBarIsReportedAndNotShown) {
  HostBrowse dlg;
  CVKTToolBar::FailNextCreateForTesting();
  EXPECT_EQ(dlg.DoModal(), -1);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, vkt::dialogs::kToolBarFailed);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
  EXPECT_EQ(ui_.stalls(), 0);
}

}  // namespace
