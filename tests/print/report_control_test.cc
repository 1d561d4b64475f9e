// The report grid as a user has it: a dialog with the customer list,
// typing into the search row, the column menu, layouts saved and loaded in
// the program's configuration folder, date groups around the turn of the
// year, amounts in Italian form, and the grid printed to the file channel.
// The grid is painted to PNG files (build dir, snapshots/print).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/julian.h"
#include "print/printer.h"
#include "print/vktreportcontrol.h"
#include "print_fixture.h"
#include "win/canvas.h"
#include "win/dialog.h"
#include "win/driver.h"
#include "win/services.h"

namespace {

using vkt::testing::PrintTest;
using vkt::testing::ReadFile;
using vkt::testing::WriteFile;

std::string SnapshotPath(const std::string& name) {
  std::filesystem::create_directories(VKT_SNAPSHOT_DIR);
  return std::string(VKT_SNAPSHOT_DIR) + "/" + name;
}

constexpr UINT kGridId = 1100;

CPoint Centre(const CRect& r) { return CPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2); }

// Unix microseconds of a local time in Rome in winter (UTC+1).
int64_t RomeWinter(int y, int m, int d, int hh, int mm) {
  int64_t days = vkt::ole::DaysFromCivil(y, m, d);
  return ((days * 24 + hh - 1) * 60 + mm) * 60 * 1000000LL;
}

class GridDialog : public CDialog {
 public:
  GridDialog() {
    vkt::win::DialogTemplate t;
    t.caption = "Clienti";
    t.rect = CRect(40, 40, 700, 400);
    t.style |= WS_VISIBLE;
    t.items = {{"XTPReport", "", kGridId, WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER,
                CRect(10, 10, 650, 350)}};
    SetTemplate(t);
  }
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, kGridId, grid); }
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == WM_NOTIFY) notified.push_back(reinterpret_cast<XTP_NMHDR*>(l)->code);
    return CDialog::WindowProc(msg, w, l);
  }
  CVKTReportControl grid;
  std::vector<UINT> notified;
};

struct Customer {
  const char* code;
  const char* name;
  const char* city;
  double credit;
  int32_t day;  // 0: none
};

const std::vector<Customer>& Customers() {
  static const std::vector<Customer> kAll = {
      {"C001", "Rossi Mario", "Milano", 1234.5, 0},
      {"C002", "Bianchi Luca", "Torino", -250.0, 0},
      {"C003", "Ferrosi Anna", "Roma", 98765.43, 0},
      {"C004", "Caff\xE8 Centrale", "Bari", 0.0, 0},
      {"C005", "Verdi Giuseppe", "Milano", 12.75, 0},
  };
  return kAll;
}

class ReportControlTest : public PrintTest {
 protected:
  void SetUp() override {
    PrintTest::SetUp();
    vkt::win::ResetWindows();
    fake_.SetNow(RomeWinter(2025, 12, 15, 10, 0));
  }
  void TearDown() override {
    vkt::win::ResetWindows();
    PrintTest::TearDown();
  }

  // The customer list in a dialog: code, name, city and credit.
  void Fill(CVKTReportControl& grid, bool filterable = true) {
    grid.SetFilterable(filterable ? 1 : 0);
    grid.AddColumn(new CXTPReportColumn(0, "Codice", 70));
    grid.AddColumn(new CXTPReportColumn(1, "Ragione sociale", 200));
    grid.AddColumn(new CXTPReportColumn(2, "Citt\xE0", 120));
    grid.AddColumn(new CXTPReportColumn(3, "Fido", 120))->SetAlignment(DT_RIGHT);
    int key = 1;
    for (const Customer& c : Customers()) {
      auto* r = new CVKTReportRecord;
      r->AddItem(new CXTPReportRecordItemText(c.code));
      r->AddItem(new CXTPReportRecordItemText(c.name));
      r->AddItem(new CXTPReportRecordItemText(c.city));
      r->AddItem(new CVKTReportRecordItemCurrency(c.credit, "%.2f"));
      r->SetBookmark(key++, 0);
      grid.AddRecord(r);
    }
    grid.Populate();
  }

  // The names shown, in order (group rows as "[caption]").
  static std::vector<std::string> Names(CVKTReportControl& grid, int item = 1) {
    std::vector<std::string> out;
    for (int i = 0; i < grid.GetRowCount(); ++i) {
      CXTPReportRow* row = grid.GetRow(i);
      if (row->IsGroupRow()) {
        out.push_back("[" + std::string(row->GetGroupCaption()) + "]");
      } else {
        out.push_back(std::string(row->GetRecord()->GetItem(item)->GetCaption(nullptr)));
      }
    }
    return out;
  }

  // A right click on a column's header; the menu's steps must be queued.
  static void RightClickHeader(CVKTReportControl& grid, int column) {
    CRect r = grid.ColumnHeaderRect(grid.GetColumns()->GetAt(column));
    LPARAM at = MAKELPARAM(r.left + 10, r.top + 5);
    ::PostMessage(grid.m_hWnd, WM_RBUTTONDOWN, 0, at);
    ::PostMessage(grid.m_hWnd, WM_RBUTTONUP, 0, at);
    vkt::win::RunPosted();
  }

  // Queues a click on the item of the shown menu whose text is `text`.
  void ChooseFromMenu(const std::string& text) {
    ui_.Then([this, text] {
      CXTPPopupMenuWnd* menu = vkt::win::ActivePopupMenu();
      ASSERT_NE(menu, nullptr);
      for (int i = 0; i < menu->menu()->GetItemCount(); ++i) {
        if (text == menu->menu()->GetItem(i).text.GetString()) {
          ui_.Click(menu, Centre(menu->ItemRect(i)));
          return;
        }
      }
      ADD_FAILURE() << "no menu item " << text;
      ui_.Press(VK_ESCAPE);
    });
  }

  void ClickSearchCell(CVKTReportControl& grid, int column) {
    CRect cell = grid.HeaderCellRect(0, grid.GetColumns()->GetAt(column));
    ASSERT_TRUE(ui_.Click(&grid, Centre(cell)));
  }

  vkt::win::Driver ui_;
};

TEST_F(ReportControlTest, SearchRowFiltersTheRowsAsTheUserTypes) {
  GridDialog dlg;
  ASSERT_TRUE(dlg.Create(0));
  CVKTReportControl& grid = dlg.grid;
  Fill(grid);
  ASSERT_EQ(grid.GetHeaderRecords()->GetCount(), 1);
  EXPECT_FALSE(grid.IsHeaderRowsVisible());
  // Shown through "Cerca", as the user does.
  ChooseFromMenu("Cerca");
  RightClickHeader(grid, 1);
  ASSERT_TRUE(grid.IsHeaderRowsVisible());

  ClickSearchCell(grid, 1);
  ui_.Type("r");
  EXPECT_EQ(Names(grid), (std::vector<std::string>{"Rossi Mario", "Ferrosi Anna", "Caff\xE8 Centrale",
                                                    "Verdi Giuseppe"}));
  ui_.Type("OS");  // compared without case
  EXPECT_EQ(Names(grid), (std::vector<std::string>{"Rossi Mario", "Ferrosi Anna"}));
  EXPECT_EQ(grid.GetRecords()->GetAt(1)->IsVisible(), FALSE);  // Bianchi
  // Every change told the parent, and the wait cursor came back.
  size_t filtered = std::count(dlg.notified.begin(), dlg.notified.end(), kVKTReportFiltered);
  EXPECT_EQ(filtered, 3u);
  EXPECT_EQ(fake_.wait_cursor_depth(), 0);

  // A second column narrows further: name "ros" and city "mil".
  ClickSearchCell(grid, 2);
  ui_.Type("MIL");
  EXPECT_EQ(Names(grid), (std::vector<std::string>{"Rossi Mario"}));
  ASSERT_TRUE(vkt::win::SavePng(&dlg, SnapshotPath("report_grid_search.png")));

  // Back to the name: Backspace undoes it letter by letter.
  ClickSearchCell(grid, 2);
  ui_.Type("\b\b\b");
  ClickSearchCell(grid, 1);
  ui_.Type("\b\b\b");
  EXPECT_EQ(Names(grid).size(), 5u);
  // Blanks only filter nothing; an accented capital finds the small letter.
  ui_.Type("  ");
  EXPECT_EQ(Names(grid).size(), 5u);
  ui_.Type("\b\bCAFF\xC8");
  EXPECT_EQ(Names(grid), (std::vector<std::string>{"Caff\xE8 Centrale"}));
  // Amounts are searched as they are shown.
  ui_.Type("\b\b\b\b\b");
  ClickSearchCell(grid, 3);
  ui_.Type("1.234,5");
  EXPECT_EQ(Names(grid), (std::vector<std::string>{"Rossi Mario"}));

  // Hiding the search row through "Cerca" empties every cell and shows all.
  ChooseFromMenu("Cerca");
  RightClickHeader(grid, 0);
  EXPECT_FALSE(grid.IsHeaderRowsVisible());
  EXPECT_EQ(Names(grid).size(), 5u);
  CXTPReportRecord* search = grid.GetHeaderRecords()->GetAt(0);
  for (int i = 0; i < search->GetItemCount(); ++i)
    EXPECT_EQ(std::string(search->GetItem(i)->GetCaption(nullptr)), "") << i;
  EXPECT_EQ(ui_.stalls(), 0);
  EXPECT_EQ(ui_.pending_steps(), 0u);
}

TEST_F(ReportControlTest, ValueChangesOutsideTheSearchRowAreLeftToTheToolkit) {
  GridDialog dlg;
  ASSERT_TRUE(dlg.Create(0));
  Fill(dlg.grid, /*filterable=*/false);
  // Not filterable: no search row is ever built.
  EXPECT_EQ(dlg.grid.GetHeaderRecords()->GetCount(), 0);
  dlg.grid.ShowHeaderRows(TRUE);
  dlg.grid.Populate();
  EXPECT_EQ(dlg.grid.GetHeaderRecords()->GetCount(), 0);
  EXPECT_EQ(Names(dlg.grid).size(), 5u);
}

TEST_F(ReportControlTest, ColumnMenuTextsAndCommands) {
  GridDialog dlg;
  ASSERT_TRUE(dlg.Create(0));
  CVKTReportControl& grid = dlg.grid;
  Fill(grid);
  grid.GetColumns()->GetAt(2)->SetVisible(FALSE);
  std::vector<std::string> texts, checks, columns;
  ui_.Then([&] {
    CXTPPopupMenuWnd* menu = vkt::win::ActivePopupMenu();
    ASSERT_NE(menu, nullptr);
    for (int i = 0; i < menu->menu()->GetItemCount(); ++i) {
      const CXTPMenu::Item& it = menu->menu()->GetItem(i);
      texts.push_back(it.text.GetString());
      checks.push_back(it.checked ? "x" : "");
      if (it.submenu) {
        for (int k = 0; k < it.submenu->GetItemCount(); ++k) {
          const CXTPMenu::Item& c = it.submenu->GetItem(k);
          columns.push_back(std::string(c.text) + "=" + std::to_string(c.id) + (c.checked ? "x" : ""));
        }
      }
    }
    ASSERT_TRUE(vkt::win::SavePng(menu, SnapshotPath("report_grid_menu.png")));
    ui_.Press(VK_ESCAPE);
  });
  RightClickHeader(grid, 1);
  EXPECT_EQ(texts, (std::vector<std::string>{"Colonne", "Raggruppa", "Cerca", "Rimuovi colonna",
                                             "Dimensiona colonna"}));
  EXPECT_EQ(checks, (std::vector<std::string>{"", "", "", "", ""}));
  EXPECT_EQ(columns, (std::vector<std::string>{"Codice=6x", "Ragione sociale=7x", "Citt\xE0=8",
                                               "Fido=9x"}));
  // Escape chose nothing.
  EXPECT_FALSE(grid.IsGroupByVisible());
  EXPECT_FALSE(grid.IsHeaderRowsVisible());

  // "Raggruppa" shows the group-by box, and the menu then has it checked.
  ChooseFromMenu("Raggruppa");
  RightClickHeader(grid, 1);
  EXPECT_TRUE(grid.IsGroupByVisible());
  ui_.Then([&] {
    EXPECT_TRUE(vkt::win::ActivePopupMenu()->menu()->GetItem(1).checked);
    ui_.Press(VK_ESCAPE);
  });
  RightClickHeader(grid, 1);

  // "Rimuovi colonna" hides the clicked column; "Colonne" brings it back
  // (keyboard: Right opens the submenu, Down to the second entry, Enter).
  ChooseFromMenu("Rimuovi colonna");
  RightClickHeader(grid, 1);
  EXPECT_FALSE(grid.GetColumns()->GetAt(1)->IsVisible());
  ui_.Then([&] {
    ui_.Press(VK_DOWN);
    ui_.Press(VK_RIGHT);
  });
  ui_.Then([&] {
    ui_.Press(VK_DOWN);
    ui_.Press(VK_DOWN);
    ui_.Press(VK_RETURN);
  });
  RightClickHeader(grid, 0);
  EXPECT_TRUE(grid.GetColumns()->GetAt(1)->IsVisible());
  EXPECT_EQ(ui_.stalls(), 0);

  // "Dimensiona colonna" sizes the column to its widest text.
  CXTPReportColumn* name = grid.GetColumns()->GetAt(1);
  name->SetWidth(30);
  ChooseFromMenu("Dimensiona colonna");
  RightClickHeader(grid, 1);
  int widest = vkt::win::TextWidth(grid.GetPaintManager()->m_fontBoldText, "Ragione sociale");
  for (const Customer& c : Customers())
    widest = std::max(widest, vkt::win::TextWidth(grid.GetPaintManager()->m_fontText, c.name));
  EXPECT_GT(name->GetWidth(), widest);
  EXPECT_LT(name->GetWidth(), widest + 40);

  // Not filterable: no "Cerca".
  GridDialog plain;
  ASSERT_TRUE(plain.Create(0));
  Fill(plain.grid, false);
  texts.clear();
  ui_.Then([&] {
    CXTPPopupMenuWnd* menu = vkt::win::ActivePopupMenu();
    ASSERT_NE(menu, nullptr);
    for (int i = 0; i < menu->menu()->GetItemCount(); ++i) texts.push_back(menu->menu()->GetItem(i).text.GetString());
    ui_.Press(VK_ESCAPE);
  });
  RightClickHeader(plain.grid, 0);
  EXPECT_EQ(texts, (std::vector<std::string>{"Colonne", "Raggruppa", "Rimuovi colonna",
                                             "Dimensiona colonna"}));
  EXPECT_EQ(ui_.stalls(), 0);
}

TEST_F(ReportControlTest, LayoutRoundTripThroughTheConfigurationFolder) {
  GridDialog first;
  ASSERT_TRUE(first.Create(0));
  CVKTReportControl& a = first.grid;
  Fill(a);
  a.GetColumns()->GetAt(0)->SetWidth(55);
  a.GetColumns()->GetAt(2)->SetVisible(FALSE);
  a.GetColumns()->ChangeColumnOrder(0, 3);  // Fido first
  a.GetColumns()->GetGroupsOrder()->Add(a.GetColumns()->Find(2));
  a.SortBy(a.GetColumns()->Find(1), FALSE);
  a.ShowGroupBy(TRUE);
  a.ShowHeaderRows(TRUE);
  ASSERT_TRUE(a.SaveState("clienti.xml", "Elenco"));
  // A second section in the same file, with other settings.
  a.ShowGroupBy(FALSE);
  ASSERT_TRUE(a.SaveState("clienti.xml", "Elenco ridotto"));
  const std::string file = dir_ / "configuration/clienti.xml";
  std::string xml = ReadFile(file);
  EXPECT_NE(xml.find("<Section Name=\"Elenco\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("<Section Name=\"Elenco ridotto\""), std::string::npos);
  EXPECT_NE(xml.find("Caption=\"Citt\xC3\xA0\""), std::string::npos) << "UTF-8 in the file";

  GridDialog second;
  ASSERT_TRUE(second.Create(0));
  CVKTReportControl& b = second.grid;
  Fill(b);
  ASSERT_TRUE(b.LoadState("clienti.xml", "Elenco"));
  ASSERT_EQ(b.GetColumns()->GetCount(), 4);
  std::vector<int> order;
  for (int i = 0; i < 4; ++i) order.push_back(b.GetColumns()->GetAt(i)->GetItemIndex());
  EXPECT_EQ(order, (std::vector<int>{3, 0, 1, 2}));
  EXPECT_EQ(b.GetColumns()->Find(0)->GetWidth(), 55);
  EXPECT_FALSE(b.GetColumns()->Find(2)->IsVisible());
  EXPECT_TRUE(b.IsGroupByVisible());
  EXPECT_TRUE(b.IsHeaderRowsVisible());
  ASSERT_EQ(b.GetColumns()->GetGroupsOrder()->GetCount(), 1);
  EXPECT_EQ(b.GetColumns()->GetGroupsOrder()->GetAt(0)->GetItemIndex(), 2);
  ASSERT_EQ(b.GetColumns()->GetSortOrder()->GetCount(), 1);
  EXPECT_FALSE(b.GetColumns()->Find(1)->IsSortedIncreasing());
  // Populated as loaded: grouped by city, names descending within a city.
  EXPECT_EQ(Names(b), (std::vector<std::string>{
                          "[Citt\xE0: Bari]", "Caff\xE8 Centrale", "[Citt\xE0: Milano]", "Verdi Giuseppe",
                          "Rossi Mario", "[Citt\xE0: Roma]", "Ferrosi Anna", "[Citt\xE0: Torino]",
                          "Bianchi Luca"}));
  ASSERT_TRUE(b.LoadState("clienti.xml", "Elenco ridotto"));
  EXPECT_FALSE(b.IsGroupByVisible());

  // A file or a section that is not there changes nothing, and says nothing.
  GridDialog third;
  ASSERT_TRUE(third.Create(0));
  Fill(third.grid);
  EXPECT_FALSE(third.grid.LoadState("altro.xml", "Elenco"));
  EXPECT_FALSE(third.grid.LoadState("clienti.xml", "Fatture"));
  EXPECT_EQ(third.grid.GetColumns()->GetAt(0)->GetItemIndex(), 0);
  EXPECT_EQ(third.grid.GetColumns()->GetAt(0)->GetWidth(), 70);
  EXPECT_TRUE(fake_.notices().empty());
}

TEST_F(ReportControlTest, DamagedOrHostileLayoutFilesChangeNothingAndSaySo) {
  GridDialog dlg;
  ASSERT_TRUE(dlg.Create(0));
  CVKTReportControl& grid = dlg.grid;
  Fill(grid);
  grid.GetColumns()->GetAt(1)->SetWidth(333);
  ASSERT_TRUE(grid.SaveState("buono.xml", "Elenco"));
  const std::string good = ReadFile(dir_ / "configuration/buono.xml");
  grid.GetColumns()->GetAt(1)->SetWidth(200);

  std::string deep;
  for (int i = 0; i < 200000; ++i) deep += "<a>";
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE Layouts [<!ENTITY a \"aaaaaaaaaa\">"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
      "<Layouts><Section Name=\"Elenco\" ShowGroupBox=\"&c;\"/></Layouts>";
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"troncato.xml", good.substr(0, good.size() / 2)},
      {"vuoto.xml", ""},
      {"binario.xml", std::string("\x00\xFF\xFE<<>>\x01", 8)},
      {"profondo.xml", "<Layouts>" + deep},
      {"entita.xml", laughs},
      {"radice.xml", "<Altro><Section Name=\"Elenco\" ShowGroupBox=\"true\"/></Altro>"},
      {"enorme.xml", "<Layouts>" + std::string(2 << 20, ' ') + "</Layouts>"},
  };
  for (const auto& [name, bytes] : bad) {
    WriteFile(dir_ / ("configuration/" + name), bytes);
    const size_t before = fake_.notices().size();
    EXPECT_FALSE(grid.LoadState(name.c_str(), "Elenco")) << name;
    EXPECT_NE(grid.GetStateError().find(name), std::string::npos) << grid.GetStateError();
    ASSERT_EQ(fake_.notices().size(), before + 1) << name;
    EXPECT_EQ(fake_.notices().back().rfind("Disposizione griglia non caricata: ", 0), 0u)
        << fake_.notices().back();
    EXPECT_EQ(grid.GetColumns()->GetAt(1)->GetWidth(), 200) << name;
    EXPECT_FALSE(grid.IsGroupByVisible()) << name;
  }
  // A folder where the file should be.
  mkdir((dir_ / "configuration/cartella.xml").c_str(), 0755);
  EXPECT_FALSE(grid.LoadState("cartella.xml", "Elenco"));

  // Well formed but absurd: unknown and repeated columns are skipped,
  // widths are kept within reason, words are not numbers.
  WriteFile(dir_ / "configuration/assurdo.xml",
            "<Layouts><Section Name=\"Elenco\" ShowGroupBox=\"forse\" ShowSearchRow=\"true\">"
            "<Columns><Column ItemIndex=\"99\" Width=\"10\"/><Column ItemIndex=\"-1\"/>"
            "<Column ItemIndex=\"1\" Width=\"99999999999999\"/><Column ItemIndex=\"1\" Width=\"5\"/>"
            "<Column ItemIndex=\"0\" Width=\"dieci\" Visible=\"0\"/></Columns>"
            "<GroupOrder><Column ItemIndex=\"7\"/></GroupOrder></Section></Layouts>");
  EXPECT_TRUE(grid.LoadState("assurdo.xml", "Elenco"));
  EXPECT_EQ(grid.GetColumns()->GetAt(0)->GetItemIndex(), 1);
  EXPECT_EQ(grid.GetColumns()->GetAt(0)->GetWidth(), 200) << "an unreadable width keeps the old one";
  EXPECT_EQ(grid.GetColumns()->GetAt(1)->GetItemIndex(), 0);
  EXPECT_EQ(grid.GetColumns()->GetAt(1)->GetWidth(), 70);
  EXPECT_FALSE(grid.GetColumns()->GetAt(1)->IsVisible());
  EXPECT_EQ(grid.GetColumns()->GetGroupsOrder()->GetCount(), 0);
  EXPECT_FALSE(grid.IsGroupByVisible());
  EXPECT_TRUE(grid.IsHeaderRowsVisible());

  // Saving over a damaged file replaces it with a good one.
  EXPECT_TRUE(grid.SaveState("troncato.xml", "Elenco"));
  EXPECT_TRUE(grid.LoadState("troncato.xml", "Elenco"));
}

TEST_F(ReportControlTest, DateGroupsCompareLowerPartsOnlyWithinTheSameHigherOnes) {
  // Now: Monday 15 December 2025, 10:00 in Rome.
  auto caption = [](CVKTReportRecordItemJulianDate&& item) {
    return std::string(item.GetGroupCaption(nullptr));
  };
  auto day = [](int y, int m, int d) { return DateToJulian(COleDateTime(y, m, d, 0, 0, 0), 0); };
  EXPECT_EQ(caption(CVKTReportRecordItemJulianDate(day(2025, 12, 15))), "Data: Oggi");
  EXPECT_EQ(caption(CVKTReportRecordItemJulianDate(day(2025, 12, 3))), "Data: Questo mese");
  EXPECT_EQ(caption(CVKTReportRecordItemJulianDate(day(2025, 1, 20))), "Data: Quest'anno");
  EXPECT_EQ(caption(CVKTReportRecordItemJulianDate(day(2024, 12, 31))), "Data: Anni precedenti");
  // Next year, an earlier month (or day): later than now, not this year.
  EXPECT_EQ(caption(CVKTReportRecordItemJulianDate(day(2026, 1, 5))), "");
  EXPECT_EQ(caption(CVKTReportRecordItemJulianDate(day(2026, 12, 1))), "");
  // Next month of this year with an earlier day: not this month.
  EXPECT_EQ(caption(CVKTReportRecordItemJulianDate(day(2025, 12, 20))), "");
  // Later today is later than now; earlier today is today.
  EXPECT_EQ(caption(CVKTReportRecordItemJulianDate(COleDateTime(2025, 12, 15, 11, 0, 0).m_dt)), "");
  EXPECT_EQ(caption(CVKTReportRecordItemJulianDate(COleDateTime(2025, 12, 15, 9, 0, 0).m_dt)), "Data: Oggi");
  // No date: an empty cell, grouped with the past.
  CVKTReportRecordItemJulianDate none(int32_t{0});
  EXPECT_EQ(std::string(none.GetCaption(nullptr)), "");
  EXPECT_EQ(none.GetJulian(), 0);
  EXPECT_EQ(caption(CVKTReportRecordItemJulianDate(int32_t{0})), "Data: Anni precedenti");

  // Just after midnight on New Year's Day, yesterday is a previous year.
  fake_.SetNow(RomeWinter(2026, 1, 1, 0, 30));
  EXPECT_EQ(caption(CVKTReportRecordItemJulianDate(day(2025, 12, 31))), "Data: Anni precedenti");
  EXPECT_EQ(caption(CVKTReportRecordItemJulianDate(day(2026, 1, 1))), "Data: Oggi");

  // Captions and values of the two kinds of item.
  CVKTReportRecordItemJulianDate d(day(2025, 3, 7));
  EXPECT_EQ(std::string(d.GetCaption(nullptr)), "07/03/2025");
  EXPECT_EQ(d.GetJulian(), day(2025, 3, 7));
  d.SetValue(COleDateTime(2025, 3, 7, 8, 5, 0).m_dt);
  EXPECT_EQ(std::string(d.GetCaption(nullptr)), "07/03/2025") << "the format is kept";
  CVKTReportRecordItemJulianDate t(COleDateTime(2025, 3, 7, 8, 5, 0).m_dt);
  EXPECT_EQ(std::string(t.GetCaption(nullptr)), "07/03/2025 08:05");

  // Grouped by the date column, invoices fall into their groups.
  fake_.SetNow(RomeWinter(2025, 12, 15, 10, 0));
  GridDialog dlg;
  ASSERT_TRUE(dlg.Create(0));
  CVKTReportControl& grid = dlg.grid;
  grid.AddColumn(new CXTPReportColumn(0, "Numero", 100));
  grid.AddColumn(new CXTPReportColumn(1, "Data", 120));
  const std::vector<std::pair<const char*, int32_t>> invoices = {
      {"2025/120", day(2025, 12, 15)}, {"2026/001", day(2026, 1, 2)}, {"2024/300", day(2024, 11, 30)},
      {"2025/001", day(2025, 1, 8)},   {"2025/118", day(2025, 12, 1)}};
  for (const auto& [number, when] : invoices) {
    auto* r = new CVKTReportRecord;
    r->AddItem(new CXTPReportRecordItemText(number));
    r->AddItem(new CVKTReportRecordItemJulianDate(when));
    grid.AddRecord(r);
  }
  grid.GetColumns()->GetGroupsOrder()->Add(grid.GetColumns()->GetAt(1));
  grid.GetColumns()->GetAt(1)->SetSortIncreasing(FALSE);
  grid.Populate();
  EXPECT_EQ(Names(grid, 0), (std::vector<std::string>{"[]", "2026/001", "[Data: Oggi]", "2025/120",
                                                       "[Data: Questo mese]", "2025/118",
                                                       "[Data: Quest'anno]", "2025/001",
                                                       "[Data: Anni precedenti]", "2024/300"}));
  ASSERT_TRUE(vkt::win::SavePng(&dlg, SnapshotPath("report_grid_dates.png")));
}

TEST_F(ReportControlTest, NumbersAndAmountsInItalianForm) {
  auto currency = [](double v, const char* f) {
    return std::string(CVKTReportRecordItemCurrency(v, f).GetCaption(nullptr));
  };
  EXPECT_EQ(currency(-1234.5, "%.2f"), "-1.234,50");
  EXPECT_EQ(currency(1234567, "%.0f"), "1.234.567");
  EXPECT_EQ(currency(1234567.5, "%.2f"), "1.234.567,50");
  EXPECT_EQ(currency(0.004, "%.2f"), "");
  EXPECT_EQ(currency(999.99, "%.2f"), "999,99");
  EXPECT_EQ(currency(-100000, "%.0f"), "-100.000");
  EXPECT_EQ(currency(1234.5, "%10.2f"), "1.234,50") << "padding is not grouped";
  auto number = [](double v, const char* f) {
    return std::string(CVKTReportRecordItemNumber(v, f).GetCaption(nullptr));
  };
  EXPECT_EQ(number(1234.5, "%.2f"), "1234,50");
  EXPECT_EQ(number(-0.5, "%.1f"), "-0,5");
  EXPECT_EQ(number(0.0, "%.2f"), "");
  // A format that is not one number's prints as "%g" would, never reads
  // an argument that is not there.
  EXPECT_EQ(currency(1234.5, "%s"), "1.234,5");
  EXPECT_EQ(currency(1234.5, "%.2f %n"), "1.234,5");
  EXPECT_EQ(number(2.5, "%.1f%%"), "2,5%");
  EXPECT_EQ(number(2.5, "%*.1f"), "2,5");
  EXPECT_EQ(number(2.5, "%8.3lf"), "   2,500");
  EXPECT_EQ(number(2.5, "EUR %.1f"), "") << "reads back as 0";
  CVKTReportRecordItemCurrency explicit_caption(5.0, "%.2f");
  explicit_caption.SetCaption("omaggio");
  EXPECT_EQ(std::string(explicit_caption.GetCaption(nullptr)), "omaggio");
  EXPECT_EQ(CVKTReportRecordItemNumber(1.0).GetAlignment(), DT_RIGHT);

  // Bold rows and coloured rows, as the grid asks before drawing.
  GridDialog dlg;
  ASSERT_TRUE(dlg.Create(0));
  CVKTReportControl& grid = dlg.grid;
  Fill(grid);
  auto* first = static_cast<CVKTReportRecord*>(grid.GetRecords()->GetAt(0));
  first->SetBold(true);
  first->SetTextColor(RGB(200, 0, 0));
  XTP_REPORTRECORDITEM_METRICS m;
  grid.ItemText(grid.GetRow(0), grid.GetColumns()->GetAt(1), &m);
  EXPECT_EQ(m.pFont, &grid.GetPaintManager()->m_fontBoldText);
  EXPECT_EQ(m.clrForeground, RGB(200, 0, 0));
  XTP_REPORTRECORDITEM_METRICS plain;
  grid.ItemText(grid.GetRow(1), grid.GetColumns()->GetAt(1), &plain);
  EXPECT_EQ(plain.pFont, nullptr);
  EXPECT_EQ(plain.clrForeground, grid.GetPaintManager()->m_clrWindowText);
  EXPECT_EQ(first->GetBookmark(), 1);
}

TEST_F(ReportControlTest, PrintsTheShownRowsToTheFileChannel) {
  GridDialog dlg;
  ASSERT_TRUE(dlg.Create(0));
  CVKTReportControl& grid = dlg.grid;
  Fill(grid);
  grid.GetColumns()->GetAt(2)->SetVisible(FALSE);
  for (int i = 0; i < 5; ++i) {  // more rows than one page holds
    auto* r = new CVKTReportRecord;
    r->AddItem(new CXTPReportRecordItemText(("D00" + std::to_string(i)).c_str()));
    r->AddItem(new CXTPReportRecordItemText(("Ditta " + std::to_string(i)).c_str()));
    r->AddItem(new CXTPReportRecordItemText("Napoli"));
    r->AddItem(new CVKTReportRecordItemCurrency(1000.0 * i, "%.2f"));
    grid.AddRecord(r);
  }
  grid.Populate();
  ASSERT_EQ(grid.GetRowCount(), 10);
  grid.GetPrintOptions()->m_nPageRows = 12;
  grid.GetPrintOptions()->m_nPageColumns = 60;
  const std::string path = dir_ / "griglia.txt";
  grid.SetPrintDestination(CPrinter::kToFile, path.c_str());
  EXPECT_EQ(grid.Print("ELENCO CLIENTI&b&bMIRTO"), 0);

  // Codice 10 characters, Ragione sociale 28, Fido 17 right-aligned.
  auto line = [](std::string s) {
    s.resize(60, ' ');
    return s + "\r\n";
  };
  auto row = [](const char* code, const char* name, const char* credit) {
    char b[80];
    std::snprintf(b, sizeof b, "%-10s %-28s %17s", code, name, credit);
    return std::string(b);
  };
  const std::string caps = row("Codice", "Ragione sociale", "Fido");
  const std::string rule(caps.size(), '-');
  std::string expected;
  std::vector<std::vector<std::string>> pages = {
      {row("C001", "Rossi Mario", "1.234,50"), row("C002", "Bianchi Luca", "-250,00"),
       row("C003", "Ferrosi Anna", "98.765,43"), row("C004", "Caff\xE8 Centrale", ""),
       row("C005", "Verdi Giuseppe", "12,75"), row("D000", "Ditta 0", "")},
      {row("D001", "Ditta 1", "1.000,00"), row("D002", "Ditta 2", "2.000,00"),
       row("D003", "Ditta 3", "3.000,00"), row("D004", "Ditta 4", "4.000,00")}};
  for (size_t p = 0; p < pages.size(); ++p) {
    expected += line("ELENCO CLIENTI" + std::string(41, ' ') + "MIRTO");
    expected += line("");
    expected += line(caps);
    expected += line(rule);
    for (size_t i = 0; i < 6; ++i) expected += line(i < pages[p].size() ? pages[p][i] : "");
    expected += line("");
    expected += line("15/12/2025 10:00" + std::string(33, ' ') + "Pag. " + std::to_string(p + 1) + " di 2");
  }
  std::string got = ReadFile(path);
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(fake_.transcript().empty());

  // Filtered: only the rows the user sees are printed.
  ChooseFromMenu("Cerca");
  RightClickHeader(grid, 1);
  ClickSearchCell(grid, 1);
  ui_.Type("ditta 3");
  EXPECT_EQ(grid.Print("Filtrato"), 0);
  got = ReadFile(path);
  ASSERT_EQ(got.size(), 12u * 62u);
  EXPECT_EQ(got.substr(4 * 62, 62), line(row("D003", "Ditta 3", "3.000,00")));
  EXPECT_EQ(got.substr(5 * 62, 62), line(""));
  EXPECT_EQ(got.substr(11 * 62, 62), line("15/12/2025 10:00" + std::string(33, ' ') + "Pag. 1 di 1"));

  // PDF: a real PDF file; without a file name, an error and no file.
  const std::string pdf = dir_ / "griglia.pdf";
  grid.SetPrintDestination(CVKTReportControl::kPrintToPdf, pdf.c_str());
  EXPECT_EQ(grid.Print("Filtrato"), 0);
  EXPECT_EQ(ReadFile(pdf).substr(0, 5), "%PDF-");
  grid.SetPrintDestination(CVKTReportControl::kPrintToPdf, nullptr);
  EXPECT_EQ(grid.Print("Filtrato"), -1);
  ASSERT_FALSE(fake_.transcript().empty());
  EXPECT_EQ(fake_.transcript().back().text, "Impossibile creare il file PDF!\n\nnessun file indicato");

  // A page narrower than the columns: they all shrink, none is lost.
  grid.GetPrintOptions()->m_nPageColumns = 30;
  grid.SetPrintDestination(CPrinter::kToFile, path.c_str());
  EXPECT_EQ(grid.Print("Stretto"), 0);
  got = ReadFile(path);
  ASSERT_EQ(got.size(), 12u * 32u);
  EXPECT_EQ(got.substr(2 * 32, 32), "Codic Ragione social     Fido \r\n");
  EXPECT_EQ(got.substr(4 * 32, 32), "D003  Ditta 3        3.000,00 \r\n");
  grid.GetPrintOptions()->m_nPageColumns = 60;

  // A channel that cannot be opened: the printer's own message.
  fake_.ClearTranscript();
  grid.SetPrintDestination(CPrinter::kToFile, (dir_ / "manca/griglia.txt").c_str());
  EXPECT_EQ(grid.Print("x"), CPrinter::kCreateFile);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Impossibile creare il file di appoggio!");
}

TEST_F(ReportControlTest, SnapshotOfTheGroupedFilteredList) {
  GridDialog dlg;
  ASSERT_TRUE(dlg.Create(0));
  CVKTReportControl& grid = dlg.grid;
  Fill(grid);
  static_cast<CVKTReportRecord*>(grid.GetRecords()->GetAt(2))->SetBold(true);
  static_cast<CVKTReportRecord*>(grid.GetRecords()->GetAt(1))->SetTextColor(RGB(190, 0, 0));
  ChooseFromMenu("Raggruppa");
  RightClickHeader(grid, 2);
  // Dragging the city's header into the group-by box groups by it.
  CRect city = grid.ColumnHeaderRect(grid.GetColumns()->GetAt(2));
  ::PostMessage(grid.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(city.left + 5, city.top + 5));
  ::PostMessage(grid.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(20, 10));
  ui_.RunPosted();
  ASSERT_EQ(grid.GetColumns()->GetGroupsOrder()->GetCount(), 1);
  ChooseFromMenu("Cerca");
  RightClickHeader(grid, 2);
  ClickSearchCell(grid, 1);
  ui_.Type("i");
  EXPECT_EQ(Names(grid), (std::vector<std::string>{"[Citt\xE0: Milano]", "Rossi Mario", "Verdi Giuseppe",
                                                    "[Citt\xE0: Roma]", "Ferrosi Anna", "[Citt\xE0: Torino]",
                                                    "Bianchi Luca"}));
  // A click on a header sorts by it; a second click reverses.
  CRect name = grid.ColumnHeaderRect(grid.GetColumns()->GetAt(1));
  ui_.Click(&grid, Centre(name));
  ui_.Click(&grid, Centre(name));
  EXPECT_EQ(Names(grid)[1], "Verdi Giuseppe");
  const std::string png = SnapshotPath("report_grid.png");
  ASSERT_TRUE(vkt::win::SavePng(&dlg, png));
  vkt::win::Image img = vkt::win::Render(&dlg);
  EXPECT_GT(img.width, 600);
  EXPECT_EQ(ui_.stalls(), 0);
}

#ifdef VKT_BINARY
// `vkt demo` end to end: the customer list filtered by "mi" in the city's
// search cell, as a picture, a layout file, a text print and a PDF.
TEST(GridDemoTest, DemoShowsTheFilteredCustomerList) {
  vkt::testing::TempDir dir("griddemo");
  const vkt::testing::CommandResult r = vkt::testing::RunCommand(
      std::string(VKT_BINARY) + " demo --dir " +
      dir.path() + " 2>&1 </dev/null");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("ricerca \"mi\" nella colonna Citt\xC3\xA0: 2 righe su 7"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(dir / "griglia-clienti.png").substr(1, 3), "PNG");
  EXPECT_NE(ReadFile(dir / "configuration/clienti.xml").find("<Section Name=\"Elenco clienti\""),
            std::string::npos);
  const std::string text = ReadFile(dir / "griglia-clienti.txt");
  ASSERT_EQ(text.size() % 82, 0u);
  EXPECT_NE(text.find("C00001   Rossi Mario              Milano       15/03/2025            15.000,00"),
            std::string::npos) << text;
  EXPECT_EQ(text.find("Verdi Anna"), std::string::npos);
  EXPECT_NE(text.find("Pag. 1 di 1"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "griglia-clienti.pdf").substr(0, 5), "%PDF-");
}
#endif

}  // namespace
