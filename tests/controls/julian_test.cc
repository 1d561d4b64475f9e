// The date field, the date value's arithmetic and the calendar.
#include <ctime>
#include <filesystem>

#include "common/julian.h"
#include "controls/vktjulian.h"
#include "form.h"
#include "win/canvas.h"

namespace {

using vkt::test::FormTest;

class JulianTest : public FormTest {
 protected:
  void SetUp() override {
    setenv("TZ", "Europe/Rome", 1);
    tzset();
    FormTest::SetUp();
  }
};

int32_t Day(int y, int m, int d) { return DateToJulian(COleDateTime(y, m, d, 0, 0, 0), 0); }

TEST_F(JulianTest, DigitsOverwriteThePatternAndImpossibleFirstDigitsAreRefused) {
  CVKTJulian date;
  Attach(date, 1001);
  EXPECT_EQ(Text(date), "__/__/____");
  ui_.Focus(&date);
  ui_.Press(VK_HOME);
  ui_.Type("4");
  EXPECT_EQ(Text(date), "__/__/____");
  ui_.Type("32");
  EXPECT_EQ(Text(date), "3_/__/____");
  ui_.Type("1");
  EXPECT_EQ(Text(date), "31/__/____");
  ui_.Type("13x");  // the month's second digit above 2 after a 1
  EXPECT_EQ(Text(date), "31/1_/____");
  EXPECT_EQ(date.GetModified(), 1);
  ui_.Press(VK_HOME);
  ui_.Type("12032024");
  EXPECT_EQ(Text(date), "12/03/2024");
  int a = 0, b = 0;
  date.GetSel(a, b);
  EXPECT_EQ(a, 10);
  ui_.Type("5");  // past the end
  EXPECT_EQ(Text(date), "12/03/2024");
  EXPECT_EQ(date.GetJulian(), Day(2024, 3, 12));
  EXPECT_EQ(date.GetYear(), 2024);
  EXPECT_EQ(date.GetMonth(), 3);
  EXPECT_EQ(date.GetDay(), 12);
  // A caret put on a "/" does not overwrite it.
  date.SetSel(2, 2);
  ui_.Type("0");
  EXPECT_EQ(Text(date), "12/03/2024");
}

TEST_F(JulianTest, BackspaceAndDeleteEmptyPositionsAndKeepTheSlashes) {
  CVKTJulian date;
  Attach(date, 1001);
  ui_.Focus(&date);
  ui_.Press(VK_HOME);
  ui_.Press(VK_BACK);  // at the start: nothing
  EXPECT_EQ(Text(date), "__/__/____");
  ui_.Type("120");
  EXPECT_EQ(Text(date), "12/0_/____");
  ui_.Press(VK_BACK);
  EXPECT_EQ(Text(date), "12/__/____");
  ui_.Press(VK_BACK);  // over the "/": it stays
  EXPECT_EQ(Text(date), "12/__/____");
  date.SetSel(0, 5);
  ui_.Press(VK_DELETE);
  EXPECT_EQ(Text(date), "__/__/____");
  date.SetWindowText("12/03/2024");
  date.SetSel(0, 0);
  ui_.Press(VK_DELETE);
  EXPECT_EQ(Text(date), "_2/03/2024");
  ui_.Press(VK_DELETE);  // the next digit before a "/"
  EXPECT_EQ(Text(date), "__/03/2024");
  ui_.Press(VK_DELETE);  // none left before the "/": nothing
  EXPECT_EQ(Text(date), "__/03/2024");
}

TEST_F(JulianTest, LeavingTheFieldCompletesAndCorrectsTheDate) {
  CVKTJulian date;
  Attach(date, 1001);
  struct Case {
    const char* typed;
    const char* shown;
  };
  const Case cases[] = {
      {"__/__/____", "__/__/____"}, {"00/03/2025", "__/__/____"}, {"05/__/____", "05/03/2025"},
      {"31/04/24__", "30/04/2024"}, {"29/02/2023", "28/02/2023"}, {"31/02/2024", "29/02/2024"},
      {"12/12/99__", "12/12/1999"}, {"01/01/1500", "01/01/1701"}, {"01/05/1500", "01/05/1700"},
      {"07/08/00__", "07/08/2000"}, {"15/13/2024", "__/__/____"}, {"5_/6_/____", "05/06/2025"},
  };
  for (const Case& c : cases) {
    date.SetWindowText(c.typed);
    ui_.Focus(&date);
    ui_.Press(VK_TAB);
    EXPECT_EQ(Text(date), c.shown) << c.typed;
  }
}

TEST_F(JulianTest, DatesAreReadByTheFieldsOwnRuleAndPastedOnlyWhenValid) {
  EXPECT_EQ(CVKTJulian::ReadOleDateTime("05/03/2024").GetMonth(), 3);
  EXPECT_EQ(CVKTJulian::ReadOleDateTime("5/3/2024").GetDay(), 5);
  EXPECT_EQ(CVKTJulian::ReadOleDateTime("05.03.24").GetYear(), 2024);
  EXPECT_FALSE(CVKTJulian::ReadOleDateTime("2024-03-05").IsValid());
  EXPECT_FALSE(CVKTJulian::ReadOleDateTime("31/04/2024").IsValid());
  EXPECT_FALSE(CVKTJulian::ReadOleDateTime("__/__/____").IsValid());
  EXPECT_FALSE(CVKTJulian::ReadOleDateTime("05/03/2024 x").IsValid());
  CVKTJulian date;
  Attach(date, 1001);
  ui_.Focus(&date);
  fake_.SetClipboardText("5/3/2024");
  ui_.Press(VK_INSERT, vkt::win::kShift);
  EXPECT_EQ(Text(date), "05/03/2024");
  fake_.SetClipboardText("non una data");
  ui_.Press(VK_INSERT, vkt::win::kShift);
  EXPECT_EQ(Text(date), "05/03/2024");
  fake_.SetClipboardText("\t7/4/24\r\n");  // a spreadsheet cell: its tab and line end dropped
  ui_.Press(VK_INSERT, vkt::win::kShift);
  EXPECT_EQ(Text(date), "07/04/2024");
  fake_.SetClipboardText("07/04/2024 0000000000000000000000000");  // overlong: not a date
  date.SendMessage(WM_PASTE);
  EXPECT_EQ(Text(date), "07/04/2024");
  EXPECT_EQ(date.GetWindowTextLength(), 10);
  date.SetJulian(0);
  EXPECT_EQ(Text(date), "__/__/____");
  EXPECT_EQ(date.GetJulian(), 0);
  date.SetJulian(Day(2000, 1, 1));
  EXPECT_EQ(Text(date), "01/01/2000");
  EXPECT_EQ(date.GetJulian(), 2451545);
}

TEST_F(JulianTest, MonthAndWeekArithmeticOfTheDateValue) {
  CVKTDateTime wed(Day(2024, 5, 15));
  EXPECT_EQ(wed.FirstDayOfTheWeek().GetDay(), 13);
  EXPECT_EQ(wed.LastDayOfTheWeek().GetDay(), 19);
  CVKTDateTime sun(Day(2024, 5, 19));
  EXPECT_EQ(sun.FirstDayOfTheWeek().GetDay(), 13);
  EXPECT_EQ(sun.LastDayOfTheWeek().GetDay(), 19);
  EXPECT_EQ(CVKTDateTime(Day(2024, 2, 10)).LastDayOfTheMonth().GetDay(), 29);
  EXPECT_EQ(CVKTDateTime(Day(2023, 2, 10)).LastDayOfTheMonth().GetDay(), 28);
  EXPECT_EQ(CVKTDateTime(Day(2023, 9, 10)).LastDayOfTheMonth().GetDay(), 30);
  EXPECT_EQ(CVKTDateTime(Day(2023, 9, 10)).FirstDayOfTheMonth().GetDay(), 1);
  CVKTDateTime leap(Day(2024, 2, 29));
  leap.NextDeadline(12);
  EXPECT_EQ(leap.GetJulian(), Day(2025, 2, 28));
  CVKTDateTime end(Day(2024, 1, 31));
  end.NextDeadline(1);
  EXPECT_EQ(end.GetJulian(), Day(2024, 2, 29));
  end.NextDeadline(1);
  EXPECT_EQ(end.GetJulian(), Day(2024, 3, 31));
  end.NextDeadline(0);
  EXPECT_EQ(end.GetJulian(), Day(2024, 3, 31));
  CVKTDateTime copy = end;
  EXPECT_EQ(copy.anchor_day(), 31);
  // Past the year 9999 the value cannot move: it becomes invalid, no loop.
  CVKTDateTime last(Day(9999, 12, 31));
  last.NextDeadline(1);
  EXPECT_FALSE(last.IsValid());
  last.NextDeadline(1);  // stays invalid
  EXPECT_FALSE(last.IsValid());
  EXPECT_EQ(last.GetJulian(), 0);
}

TEST_F(JulianTest, DoubleClickOpensTheCalendarAndTheChosenDayIsShown) {
  CVKTJulian date;
  Attach(date, 1001);
  date.SetJulian(Day(2024, 3, 12));
  date.SetModified(0);
  bool pictured = false;
  ui_.Then([&] {
    ASSERT_EQ(vkt::win::ModalWindows().size(), 1u);
    CWnd* calendar = CWnd::GetFocus();
    ASSERT_NE(calendar, nullptr);
    CRect field, cal;
    date.GetWindowRect(&field);
    calendar->GetWindowRect(&cal);
    EXPECT_EQ(cal.top, field.bottom);
    EXPECT_EQ(cal.right, field.right);  // opens to the left of the field's right edge
    ui_.Press(VK_RIGHT);
    ui_.Press(VK_DOWN);
    std::filesystem::create_directories(VKT_SNAPSHOT_DIR);
    pictured = vkt::win::SavePng(calendar, std::string(VKT_SNAPSHOT_DIR) + "/calendar.png");
    ui_.Press(VK_RETURN);
  });
  EXPECT_TRUE(ui_.DoubleClick(&date));
  EXPECT_TRUE(pictured);
  EXPECT_EQ(Text(date), "20/03/2024");
  EXPECT_EQ(date.GetModified(), 1);
  EXPECT_EQ(CWnd::GetFocus(), &date);
  // Escape closes it without a choice.
  ui_.Then([&] { ui_.Press(VK_ESCAPE); });
  ui_.DoubleClick(&date);
  EXPECT_EQ(Text(date), "20/03/2024");
  EXPECT_EQ(ui_.stalls(), 0);
}

TEST_F(JulianTest, TheHostsCalendarControlClosesOnEscape) {
  CVKTDatePickerControl picker;
  bool chosen = true;
  ui_.Then([&] { ui_.Press(VK_ESCAPE); });
  chosen = picker.GoModal(CRect(10, 10, 220, 200), &dlg_);
  EXPECT_FALSE(chosen);
  EXPECT_EQ(picker.m_hWnd, nullptr);
  EXPECT_EQ(ui_.stalls(), 0);
}

TEST_F(JulianTest, EnterAndTheArrowsMoveOnAndTheValueReadsZeroWhenInvalid) {
  CVKTJulian date, other;
  Attach(date, 1001);
  Attach(other, 1002);
  EXPECT_EQ(date.GetYear(), 0);
  EXPECT_EQ(date.GetMonth(), 0);
  EXPECT_EQ(date.GetDay(), 0);
  EXPECT_FALSE(date.GetDateTime().IsValid());
  ui_.Focus(&date);
  ui_.Type("1503");
  ui_.Press(VK_RETURN);  // completed on the way out
  EXPECT_EQ(CWnd::GetFocus(), &other);
  EXPECT_EQ(Text(date), "15/03/2025");
  ui_.Focus(&date);
  ui_.Press(VK_DOWN);
  EXPECT_EQ(CWnd::GetFocus(), &other);
  ui_.Focus(&other);
  ui_.Press(VK_UP);
  EXPECT_EQ(CWnd::GetFocus(), &date);
  EXPECT_EQ(dlg_.Count(IDOK, CN_COMMAND), 0);
  // A text put in by other means that is no date reads as 0.
  date.SetWindowText("31/04/2024");
  EXPECT_EQ(date.GetJulian(), 0);
  EXPECT_EQ(date.GetDay(), 0);
  COleDateTime zero;
  date.SetDateTime(zero);
  EXPECT_EQ(Text(date), "__/__/____");
  EXPECT_TRUE(CVKTJulian::IsLeapYear(2000));
  EXPECT_FALSE(CVKTJulian::IsLeapYear(1900));
}

TEST_F(JulianTest, TheLeftPopupOpensTheCalendarFromTheFieldsLeftEdge) {
  CVKTJulian date;
  Attach(date, 1001);
  date.SetLeftPopup(true);
  ui_.Then([&] {
    CWnd* calendar = CWnd::GetFocus();
    ASSERT_NE(calendar, nullptr);
    CRect field, cal;
    date.GetWindowRect(&field);
    calendar->GetWindowRect(&cal);
    EXPECT_EQ(cal.left, field.left);
    EXPECT_EQ(cal.top, field.bottom);
    ui_.Press(VK_ESCAPE);
  });
  date.SetModified(0);
  EXPECT_TRUE(ui_.DoubleClick(&date));
  EXPECT_EQ(Text(date), "__/__/____");  // cancelled: nothing chosen
  EXPECT_EQ(date.GetModified(), 1);      // but marked, whatever the outcome
  EXPECT_EQ(ui_.stalls(), 0);
}

TEST_F(JulianTest, TheDateValueStartsAtZeroAndTheWeekKeepsTheTimeOfDay) {
  CVKTDateTime none;
  EXPECT_TRUE(none.IsValid());
  EXPECT_EQ(static_cast<double>(none), 0.0);
  EXPECT_EQ(none.anchor_day(), 0);
  CVKTDateTime at(COleDateTime(2024, 5, 15, 10, 30, 0));  // a Wednesday
  COleDateTime monday = at.FirstDayOfTheWeek(), sunday = at.LastDayOfTheWeek();
  EXPECT_EQ(monday.GetDay(), 13);
  EXPECT_EQ(monday.GetHour(), 10);
  EXPECT_EQ(monday.GetMinute(), 30);
  EXPECT_EQ(sunday.GetDay(), 19);
  EXPECT_EQ(sunday.GetHour(), 10);
  COleDateTime first = at.FirstDayOfTheMonth();
  EXPECT_EQ(first.GetDay(), 1);
  EXPECT_EQ(first.GetHour(), 0);
  // A deadline is at 00:00; the anchor comes from the value the first time.
  CVKTDateTime due(COleDateTime(2024, 1, 30, 18, 0, 0));
  CVKTDateTime copy(due);
  copy = due;
  EXPECT_EQ(copy.anchor_day(), 30);
  copy.NextDeadline(1);
  EXPECT_EQ(copy.GetJulian(), Day(2024, 2, 29));
  EXPECT_EQ(copy.GetHour(), 0);
  copy.NextDeadline(11);
  EXPECT_EQ(copy.GetJulian(), Day(2025, 1, 30));
  CVKTDateTime invalid;
  invalid.SetStatus(COleDateTime::invalid);
  invalid.NextDeadline(3);  // nothing to move, and no endless search
  EXPECT_FALSE(invalid.IsValid());
}

TEST_F(JulianTest, TheCalendarNumbersItsRowsByIsoWeek) {
  // 1 March 2024 is a Friday in week 9; the row of 4 March is week 10.
  EXPECT_EQ(CXTPDatePickerControl::IsoWeek(COleDateTime(2024, 3, 1, 0, 0, 0)), 9);
  EXPECT_EQ(CXTPDatePickerControl::IsoWeek(COleDateTime(2024, 3, 4, 0, 0, 0)), 10);
  EXPECT_EQ(CXTPDatePickerControl::IsoWeek(COleDateTime(2024, 3, 3, 0, 0, 0)), 9);  // Sunday
  // Week 1 holds the first Thursday; the days before it may be last year's.
  EXPECT_EQ(CXTPDatePickerControl::IsoWeek(COleDateTime(2026, 1, 1, 0, 0, 0)), 1);
  EXPECT_EQ(CXTPDatePickerControl::IsoWeek(COleDateTime(2025, 12, 29, 0, 0, 0)), 1);
  EXPECT_EQ(CXTPDatePickerControl::IsoWeek(COleDateTime(2021, 1, 3, 0, 0, 0)), 53);
  EXPECT_EQ(CXTPDatePickerControl::IsoWeek(COleDateTime(2027, 1, 1, 0, 0, 0)), 53);
}

}  // namespace
