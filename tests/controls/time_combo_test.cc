// The time field and the keyed combo box.
#include "controls/vktedit.h"
#include "controls/vkttime.h"
#include "form.h"
#include "win/canvas.h"

namespace {

using vkt::test::FormTest;

class TimeTest : public FormTest {};

TEST_F(TimeTest, DigitsAreCheckedAgainstTheClock) {
  CVKTTime t;
  Attach(t, 1001);
  EXPECT_TRUE(t.GetStyle() & ES_CENTER);
  t.SetLong(0);
  ui_.Focus(&t);
  ui_.Press(VK_HOME);
  ui_.Type("24");
  EXPECT_EQ(Text(t), "2_:__:__");
  ui_.Type("3");
  EXPECT_EQ(Text(t), "23:__:__");
  ui_.Type("61");  // minutes' first digit above 5
  EXPECT_EQ(Text(t), "23:1_:__");
  CVKTTime twelve;
  Attach(twelve, 1002);
  twelve.SetMilitary(0);
  twelve.SetLong(0);
  ui_.Focus(&twelve);
  ui_.Press(VK_HOME);
  ui_.Type("2");
  EXPECT_EQ(Text(twelve), "__:__:__");
  ui_.Type("13");
  EXPECT_EQ(Text(twelve), "1_:__:__");
  ui_.Type("2");
  EXPECT_EQ(Text(twelve), "12:__:__");
}

TEST_F(TimeTest, ValuesShowByTheDisplayRuleAndNeverOutgrowTheMask) {
  CVKTTime t;
  Attach(t, 1001);
  t.SetLong(0);
  EXPECT_EQ(Text(t), "__:__:__");
  t.SetLong(3661);
  EXPECT_EQ(Text(t), "01:01:01");
  EXPECT_EQ(t.GetHours(), 1);
  t.SetLong(90000);
  EXPECT_EQ(Text(t), "25:00:00");
  EXPECT_EQ(t.GetLong(), 90000);
  t.SetLong(-5);
  EXPECT_EQ(Text(t), "__:__:__");
  t.SetLong(400000);
  EXPECT_EQ(Text(t), "99:59:59");
  t.SetHours(1000);
  EXPECT_EQ(Text(t).size(), 8u);
  t.SetShowSeconds(0);
  t.SetLong(3661);
  EXPECT_EQ(Text(t), "01:01");
  EXPECT_EQ(t.GetLong(), 3660);
  CString s;
  t.FormatOleDateTime(s, COleDateTime(2024, 5, 1, 8, 30, 15));
  EXPECT_EQ(s, CString("08:30"));
  t.SetShowSeconds(1);
  t.FormatOleDateTime(s, COleDateTime());
  EXPECT_EQ(s, CString("00:00:00"));
}

TEST_F(TimeTest, LeavingTheFieldFillsBlanksWithZeros) {
  CVKTTime t, other;
  Attach(t, 1001);
  Attach(other, 1002);
  t.SetLong(0);
  ui_.Focus(&t);
  ui_.Press(VK_HOME);
  ui_.Type("083");
  ui_.Press(VK_TAB);
  EXPECT_EQ(Text(t), "08:30:00");
  EXPECT_EQ(t.GetLong(), 30600);
  t.SetWindowText("1_:3_:__");
  ui_.Focus(&t);
  ui_.Press(VK_TAB);
  EXPECT_EQ(t.GetLong(), 37800);
  t.SetLong(0);
  ui_.Focus(&t);
  ui_.Press(VK_TAB);
  EXPECT_EQ(Text(t), "__:__:__");  // all blank stays "no time"
  // Up and Down move between fields whatever the auto flag.
  t.SetAutoUpDownEnter(0);
  ui_.Focus(&t);
  ui_.Press(VK_DOWN);
  EXPECT_EQ(CWnd::GetFocus(), &other);
  ui_.Press(VK_UP);
  EXPECT_EQ(CWnd::GetFocus(), &t);
}

TEST_F(TimeTest, TheTimeFieldKeepsItsOwnColoursAndHighlightsWhileFocused) {
  CVKTTime t;
  CVKTEdit e;
  Attach(t, 1001);
  Attach(e, 1002);
  e.SetFormat(10, "", nullptr, nullptr);
  // The base's colour setters do not reach the time field's painting.
  t.SetBackColor(RGB(255, 255, 180));
  t.SetForeColor(RGB(200, 0, 0));
  t.SetLong(30600);
  vkt::win::Image img = vkt::win::Render(&dlg_);
  // Field 1001 at client (130, 8)-(360, 30); client origin (1, 25).
  EXPECT_EQ(img.At(1 + 140, 25 + 18), RGB(255, 255, 255));
  int red = 0, dark = 0;
  for (int x = 131; x < 360; ++x)
    for (int y = 25 + 10; y < 25 + 28; ++y) {
      COLORREF c = img.At(x, y);
      if (GetRValue(c) > 120 && GetGValue(c) < 90) ++red;
      if (GetRValue(c) < 90 && GetGValue(c) < 90 && GetBValue(c) < 90) ++dark;
    }
  EXPECT_EQ(red, 0);
  EXPECT_GT(dark, 10);  // black text
  ui_.Focus(&t);
  t.SetSel(0, 0);
  img = vkt::win::Render(&dlg_);
  EXPECT_EQ(img.At(1 + 140, 25 + 18), kVktHighlightColor);
  ui_.Focus(&e);
  img = vkt::win::Render(&dlg_);
  EXPECT_EQ(img.At(1 + 140, 25 + 18), RGB(255, 255, 255));
  EXPECT_EQ(Text(t), "08:30:00");
}

class ComboTest : public FormTest {};

TEST_F(ComboTest, EntriesAreSelectedAndReadByKey) {
  CVKTComboBox combo;
  EXPECT_EQ(combo.GetLong(), -1);  // no window
  EXPECT_EQ(combo.GetText(), CString());
  Attach(combo, 1010);
  EXPECT_TRUE(combo.GetExtendedUI());
  EXPECT_EQ(combo.GetCurItem(), -1);
  EXPECT_EQ(combo.FindItem(7), -1);
  EXPECT_EQ(combo.AddItem("Cliente", 10), 0);
  EXPECT_EQ(combo.AddItem("Fornitore", 20), 1);
  EXPECT_EQ(combo.AddItem("Agente", 30), 2);
  EXPECT_EQ(combo.FindItem(30), 2);
  EXPECT_EQ(combo.SetCurItem(20), 1);
  EXPECT_EQ(combo.GetCurItem(), 20);
  EXPECT_EQ(combo.GetText(), CString("Fornitore"));
  EXPECT_EQ(combo.SetCurItem(99), -1);
  EXPECT_EQ(combo.GetCurItem(), 20);  // unchanged
  int before = dlg_.Count(1010, CBN_SELCHANGE);
  combo.SetLong(99);
  EXPECT_EQ(combo.GetLong(), -1);
  EXPECT_EQ(dlg_.Count(1010, CBN_SELCHANGE), before);
  combo.SetLong(30);
  EXPECT_EQ(combo.GetLong(), 30);
  EXPECT_EQ(dlg_.Count(1010, CBN_SELCHANGE), before + 1);
  combo.ClearSel();
  EXPECT_EQ(combo.GetText(), CString());
  combo.SetEnabled(0);
  EXPECT_EQ(combo.GetEnabled(), 0);
  combo.SetEnabled(1);
  EXPECT_EQ(combo.GetEnabled(), 1);
}

TEST_F(ComboTest, KeysOpenCloseAndMoveBetweenFields) {
  CVKTComboBox combo;
  Attach(combo, 1010);
  combo.AddItem("Cliente", 10);
  combo.AddItem("Fornitore", 20);
  combo.SetLong(10);
  ui_.Focus(&combo);
  ui_.Press(VK_SPACE);
  EXPECT_TRUE(combo.GetDroppedState());
  ui_.Press(VK_DOWN);  // open: moves in the list
  EXPECT_EQ(combo.GetLong(), 20);
  EXPECT_TRUE(combo.GetDroppedState());
  ui_.Press(VK_ESCAPE);
  EXPECT_FALSE(combo.GetDroppedState());
  EXPECT_EQ(dlg_.Count(IDCANCEL, CN_COMMAND), 0);  // the dialog was not cancelled
  ui_.Press(VK_RETURN);  // closed: the next field
  EXPECT_EQ(CWnd::GetFocus()->GetDlgCtrlID(), IDOK);
  EXPECT_EQ(dlg_.Count(IDOK, CN_COMMAND), 0);
  ui_.Focus(&combo);
  ui_.Press(VK_UP);  // closed: the previous field
  EXPECT_EQ(CWnd::GetFocus()->GetDlgCtrlID(), 1008);
  ui_.Focus(&combo);
  ui_.Type("c");  // a letter opens the list and selects by it
  EXPECT_TRUE(combo.GetDroppedState());
  EXPECT_EQ(combo.GetLong(), 10);
  ui_.Press(VK_RETURN);  // open: chooses and closes
  EXPECT_FALSE(combo.GetDroppedState());
  EXPECT_EQ(CWnd::GetFocus(), &combo);
}

TEST_F(ComboTest, UpInAnOpenListChoosesThePreviousEntry) {
  CVKTComboBox combo;
  Attach(combo, 1010);
  combo.AddItem("Cliente", 10);
  combo.AddItem("Fornitore", 20);
  combo.AddItem("Agente", 30);
  combo.SetLong(30);
  ui_.Focus(&combo);
  ui_.Press(VK_SPACE);
  ASSERT_TRUE(combo.GetDroppedState());
  ui_.Press(VK_UP);
  EXPECT_EQ(combo.GetLong(), 20);
  EXPECT_TRUE(combo.GetDroppedState());
  EXPECT_EQ(CWnd::GetFocus(), &combo);
  ui_.Press(VK_F4);  // function keys pass unchanged: the extended list ignores F4
  EXPECT_TRUE(combo.GetDroppedState());
  ui_.Press(VK_ESCAPE);
  EXPECT_FALSE(combo.GetDroppedState());
  EXPECT_EQ(combo.GetText(), CString("Fornitore"));
}

}  // namespace
