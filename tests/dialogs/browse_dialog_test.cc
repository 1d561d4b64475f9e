// The browse dialog run modally: its buttons and keys, the grid-aware
// arrows and Enter, placement beside the main window, the grid set-up and
// the connection closed when the window goes.
#include "dialog_fixture.h"
#include "dialogs/vktbrowsedialog.h"
#include "dialogs/vktresources.h"
#include "saapi/sascript.h"
#include "win/canvas.h"
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
  // As a host opens the record on a double click in its list.
  BOOL OnCommand(WPARAM w, LPARAM l) override {
    if (LOWORD(w) == 1002 && HIWORD(w) == kSpreadDblClick) {
      OnRecordBrowseApri();
      return TRUE;
    }
    return CVKTRecordBrowseDialog::OnCommand(w, l);
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> out;
    for (const auto& b : m_toolBar.buttons()) out.push_back(b.caption);
    return out;
  }
  CWnd* Field(int id) { return GetDlgItem(id); }

  int rows = 3;
  std::vector<std::string> log;
};

// A host's own control that keeps the keys its window procedure got.
class KeyLog : public CWnd {
 public:
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == WM_KEYDOWN) keys.push_back(static_cast<UINT>(w));
    if (msg == WM_CHAR) chars.push_back(static_cast<char>(w));
    return CWnd::WindowProc(msg, w, l);
  }
  std::vector<UINT> keys;
  std::string chars;
};

class FilterBrowse : public HostBrowse {
 public:
  void DoDataExchange(CDataExchange* dx) override {
    HostBrowse::DoDataExchange(dx);
    DDX_Control(dx, 1001, filter);
  }
  KeyLog filter;
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

TEST_F(BrowseDialogTest, F5AndF11ReachTheFocusedControlAndTheCommandKeysDoNot) {
  FilterBrowse dlg;
  dlg.m_buttons = 0x1F;
  int vopid = 0;
  static int* counter = nullptr;
  counter = &vopid;
  par_.VopidFunc = [] { ++*counter; };
  ui_.Then([&] {
    ui_.Focus(&dlg.filter);
    ui_.Type("ro");
    ui_.Press(VK_F5);
    ui_.Press(VK_F11);
    ui_.Press(VK_F3);  // the browse's own: never the field's
    ui_.Press(VK_F2);
    ui_.Press(VK_F1);  // help, and the key goes on
    ui_.Press(VK_F12);  // the calculator, and the key goes on
    ui_.Focus(&dlg.m_grid);
    ui_.Press(VK_F11);
    ui_.Press(VK_F6);
    ui_.Press(VK_F5);
    ui_.Press(VK_ESCAPE);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.filter.keys, (std::vector<UINT>{'R', 'O', VK_F5, VK_F11, VK_F1, VK_F12}));
  EXPECT_EQ(dlg.filter.chars, "ro");  // function keys type nothing
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"nuovo", "seleziona:1", "help", "elimina"}));
  EXPECT_EQ(vopid, 0);
  EXPECT_EQ(fake_.shell_calls().size(), 1u);
  EXPECT_EQ(dlg.m_grid.GetActiveRow(), 1);  // the keys moved no row
}

// Every record command's tooltip, byte for byte, from the library's own
// strings, as the buttons carry them.
TEST_F(BrowseDialogTest, EveryRecordCommandHasItsTooltipText) {
  const std::vector<std::pair<UINT, std::string>> expected = {
      {38903, "Crea un nuovo record"},
      {38904, "Apre il record selezionato"},
      {38905, "Elimina il record selezionato"},
      {38906, ""},
      {38907, "Stampa"},
      {38908, ""},
      {38909, "Salva i dati del record"},
      {38910, "Vai sul record precedente"},
      {38911, "Vai sul record successivo"},
      {38912, "Cerca un record"},
      {38913, "Ricarica il record dal Database"},
      {38914, ""},
      {38915, "Seleziona"},
  };
  fake_.SetStringResource(38906, "della applicazione");
  for (const auto& [id, text] : expected) {
    EXPECT_EQ(vkt::dialogs::LibraryString(id), text) << id;
    // The library's own come first; an id it does not have is the host's.
    EXPECT_EQ(vkt::dialogs::LoadResourceString(id), id == 38906 ? "della applicazione" : text) << id;
  }
  HostBrowse dlg;
  dlg.m_buttons = 0x1F;
  std::vector<std::pair<UINT, std::string>> shown;
  ui_.Then([&] {
    for (const auto& b : dlg.m_toolBar.buttons()) shown.push_back({b.id, b.tooltip});
    ui_.Press(VK_ESCAPE);
  });
  dlg.DoModal();
  EXPECT_EQ(shown, (std::vector<std::pair<UINT, std::string>>{{38915, "Seleziona"},
                                                              {38903, "Crea un nuovo record"},
                                                              {38904, "Apre il record selezionato"},
                                                              {38905, "Elimina il record selezionato"},
                                                              {38907, "Stampa"}}));
}

// The band of rows painted in the grid's selection colour (the active row
// of a focused grid): its top and bottom within the grid, -1 when none.
std::pair<int, int> SelectionBand(CSpreadSheet& grid) {
  vkt::win::Image img = vkt::win::Render(&grid);
  int top = -1, bottom = -1;
  for (int y = 0; y < img.height; ++y)
    if (img.At(20, y) == grid.appearance().selection_back) {
      if (top < 0) top = y;
      bottom = y;
    }
  return {top, bottom};
}

TEST_F(BrowseDialogTest, AClickChoosesARowAndADoubleClickOpensIt) {
  HostBrowse dlg;
  dlg.rows = 30;
  ui_.Then([&] {
    CSpreadSheet& grid = dlg.m_grid;
    ui_.Focus(&grid);
    // The band lies inside the row's frame lines: a row is one pixel more,
    // and the header above it as high.
    auto [top, bottom] = SelectionBand(grid);
    ASSERT_GT(top, 0) << "row 1 is not shown selected";
    const int h = bottom - top + 2;
    ASSERT_EQ(top - 1, h);
    auto row_y = [&](int slot) { return h + (slot - 1) * h + h / 2; };  // the slot-th row shown
    ui_.Click(&grid, CPoint(40, row_y(3)));
    EXPECT_EQ(grid.GetActiveRow(), 3);
    EXPECT_EQ(grid.GetLongProperty(kSpreadActiveRow, 0), 3);  // as the browse reads it
    EXPECT_EQ(SelectionBand(grid).first, top + 2 * h);
    ui_.Press(VK_F2);
    ui_.DoubleClick(&grid, CPoint(40, row_y(2)));
    EXPECT_EQ(grid.GetActiveRow(), 2);
    // The header chooses nothing.
    ui_.Click(&grid, CPoint(40, h / 2));
    ui_.DoubleClick(&grid, CPoint(40, h / 2));
    EXPECT_EQ(grid.GetActiveRow(), 2);
    // Scrolled to the end, the rows shown are the last ones: the click
    // takes the row painted where it lands.
    ui_.Press(VK_END);
    auto [end_top, end_bottom] = SelectionBand(grid);
    ASSERT_GT(end_top, top);
    EXPECT_EQ(end_bottom - end_top + 2, h);
    ui_.Click(&grid, CPoint(40, end_top - h / 2));
    EXPECT_EQ(grid.GetActiveRow(), 29);
    EXPECT_EQ(SelectionBand(grid).first, end_top - h);
    ui_.Click(&grid, CPoint(40, row_y(1)));
    EXPECT_EQ(grid.GetActiveRow(), 30 - (end_top - top) / h);
    ui_.DoubleClick(&grid, CPoint(40, end_top + h / 2));
    ui_.Press(VK_ESCAPE);
  });
  dlg.DoModal();
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"seleziona:3", "apri:2", "apri:30"}));
  EXPECT_EQ(ui_.stalls(), 0);
}

TEST_F(BrowseDialogTest, ADoubleClickBelowTheLastRowOpensNothing) {
  HostBrowse dlg;
  ui_.Then([&] {
    ui_.Focus(&dlg.m_grid);
    CRect rc;
    dlg.m_grid.GetClientRect(&rc);
    ui_.DoubleClick(&dlg.m_grid, CPoint(40, rc.bottom - 5));
    EXPECT_EQ(dlg.m_grid.GetActiveRow(), 1);
    ui_.Press(VK_ESCAPE);
  });
  dlg.DoModal();
  EXPECT_EQ(dlg.log, std::vector<std::string>{});
}

TEST_F(BrowseDialogTest, ADisconnectThatFailsWhenTheWindowGoesIsLoggedOnce) {
  vkt::sa::ScriptedServer server;
  vkt::sa::ScopedDriver odbc(SA_ODBC_Client, &server);
  server.FailDisconnect(1);
  {
    HostBrowse dlg;
    ui_.Then([&] {
      dlg.m_con.Connect("ditta", "rossi", "segreta", SA_ODBC_Client);
      ui_.Press(VK_ESCAPE);
    });
    intptr_t result = 0;
    EXPECT_NO_THROW(result = dlg.DoModal());
    EXPECT_EQ(result, IDCANCEL);
    // Gone with the window: OnDestroy caught the failure and let the link go.
    EXPECT_FALSE(dlg.m_con.isConnected());
    EXPECT_EQ(fake_.notices(), std::vector<std::string>{"Disconnessione non riuscita: Disconnect failed"});
  }
  // The destructor found nothing left to close.
  EXPECT_EQ(server.log(), (std::vector<std::string>{"CONNECT ditta|rossi|segreta", "DISCONNECT", "DESTROY"}));
  EXPECT_EQ(fake_.notices().size(), 1u);
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
