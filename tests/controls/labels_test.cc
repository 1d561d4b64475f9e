// Labels, buttons, check boxes and group boxes on a real dialog: fonts,
// transparent painting, the arrows between controls, the focus highlight.
#include <gtest/gtest.h>

#include "controls/vktbutton.h"
#include "controls/vktstatic.h"
#include "form.h"
#include "win/canvas.h"

namespace {

using vkt::test::FormTest;

class LabelsTest : public FormTest {
 protected:
  HWND Add(const char* cls, const char* text, UINT id, DWORD style, CRect r) {
    HWND h = ::CreateWindowEx(0, cls, text, WS_CHILD | WS_VISIBLE | style, r, dlg_.m_hWnd, id);
    ::SendMessage(h, WM_SETFONT, reinterpret_cast<WPARAM>(dlg_.GetFont()->GetSafeHandle()), 0);
    return h;
  }
  LOGFONT FontOf(CWnd& w) {
    LOGFONT lf;
    EXPECT_TRUE(w.GetFont() && w.GetFont()->GetLogFont(&lf));
    return lf;
  }
};

TEST_F(LabelsTest, FontSettersChangeOneAttributeAndKeepOneOwnedFont) {
  Add("Static", "Totale", 2001, 0, CRect(10, 240, 120, 260));
  CVKTStatic label;
  ASSERT_TRUE(label.SubclassDlgItem(2001, &dlg_));
  size_t before = vkt::win::LiveGdiObjects();
  label.SetBold(1);
  EXPECT_EQ(FontOf(label).lfWeight, FW_BOLD);
  label.SetItalic(1);
  LOGFONT lf = FontOf(label);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);  // the bold face is kept
  EXPECT_EQ(lf.lfItalic, 1);
  label.SetBold(2);  // only 1 means bold
  EXPECT_EQ(FontOf(label).lfWeight, FW_NORMAL);
  label.SetUnderline(1);
  label.SetStrikeOut(1);
  label.SetFontWeight(600);
  lf = FontOf(label);
  EXPECT_EQ(lf.lfWeight, 600);
  EXPECT_EQ(lf.lfUnderline, 1);
  EXPECT_EQ(lf.lfStrikeOut, 1);
  // Every change replaced the owned font: one font more than at the start.
  EXPECT_EQ(vkt::win::LiveGdiObjects(), before + 1);
  EXPECT_EQ(label.GetOwnedFont()->GetSafeHandle(), label.GetFont()->GetSafeHandle());

  Add("Button", "Attivo", 2002, BS_AUTOCHECKBOX | WS_TABSTOP, CRect(10, 264, 120, 284));
  CVKTCheckBox check;
  ASSERT_TRUE(check.SubclassDlgItem(2002, &dlg_));
  check.SetBold(2);
  EXPECT_EQ(FontOf(check).lfWeight, FW_NORMAL);
  check.SetBold(1);
  EXPECT_EQ(FontOf(check).lfWeight, FW_BOLD);
}

TEST_F(LabelsTest, StaticPaintsTransparentlyUnlessItHasABackColour) {
  Add("Static", "", 2001, 0, CRect(10, 240, 120, 262));
  CVKTStatic label;
  ASSERT_TRUE(label.SubclassDlgItem(2001, &dlg_));
  label.SetBorder(0);
  // Transparent: the dialog's face shows through (client at 1, 25).
  vkt::win::Image img = vkt::win::Render(&dlg_);
  EXPECT_EQ(img.At(1 + 60, 25 + 250), vkt::win::GetSysColor(COLOR_BTNFACE));
  label.SetBackColor(RGB(255, 255, 200));
  img = vkt::win::Render(&dlg_);
  EXPECT_EQ(img.At(1 + 60, 25 + 250), RGB(255, 255, 200));
  // The default border is a sunken edge: its top-left line is the shadow.
  label.SetBorder(1);
  img = vkt::win::Render(&dlg_);
  EXPECT_EQ(img.At(1 + 60, 25 + 240), vkt::win::GetSysColor(COLOR_BTNSHADOW));
  // Text colour: the system's button text until set.
  EXPECT_EQ(label.GetForeColor(), vkt::win::GetSysColor(COLOR_BTNTEXT));
}

TEST_F(LabelsTest, NewTextRepaintsTheParentSoNoOldTextStays) {
  Add("Static", "vecchio", 2001, 0, CRect(10, 240, 120, 262));
  Add("Static", "vecchio", 2003, 0, CRect(130, 240, 220, 262));
  Add("Button", "Gruppo", 2004, BS_GROUPBOX, CRect(230, 236, 370, 268));
  CVKTStatic label;
  CVKTStatic2 plain;
  CVKTGroupBox group;
  ASSERT_TRUE(label.SubclassDlgItem(2001, &dlg_));
  ASSERT_TRUE(plain.SubclassDlgItem(2003, &dlg_));
  ASSERT_TRUE(group.SubclassDlgItem(2004, &dlg_));
  for (CWnd* w : {static_cast<CWnd*>(&label), static_cast<CWnd*>(&plain), static_cast<CWnd*>(&group)}) {
    int before = vkt::win::InvalidationCount(dlg_.m_hWnd);
    w->SetWindowText("nuovo");
    EXPECT_EQ(vkt::win::InvalidationCount(dlg_.m_hWnd), before + 1);
    EXPECT_EQ(w->GetWindowTextString(), CString("nuovo"));
  }
}

TEST_F(LabelsTest, ArrowsMoveBetweenTheDialogsControlsAndWrapAround) {
  CVKTButton first, second;
  Add("Button", "Uno", 2001, BS_PUSHBUTTON | WS_TABSTOP, CRect(10, 240, 80, 262));
  Add("Button", "Due", 2002, BS_PUSHBUTTON | WS_TABSTOP, CRect(90, 240, 160, 262));
  ASSERT_TRUE(first.SubclassDlgItem(2001, &dlg_));
  ASSERT_TRUE(second.SubclassDlgItem(2002, &dlg_));
  ui_.Focus(&second);
  ui_.Press(VK_UP);
  EXPECT_EQ(ui_.focus(), &first);
  ui_.Press(VK_DOWN);
  EXPECT_EQ(ui_.focus(), &second);
  // The last control: Down goes round to the dialog's first one.
  ui_.Press(VK_DOWN);
  EXPECT_EQ(ui_.focus(), Item(1001));

  // Not on a dialog: the key takes its normal course.
  CWnd frame;
  ASSERT_TRUE(frame.Create("Frame", "", WS_POPUP | WS_VISIBLE, CRect(0, 0, 200, 100), nullptr, 0));
  CVKTButton loose;
  ASSERT_TRUE(loose.Create("Libero", WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(0, 0, 50, 20), &frame, 5));
  ui_.Focus(&loose);
  ui_.Press(VK_DOWN);
  EXPECT_EQ(ui_.focus(), &loose);
}

TEST_F(LabelsTest, CheckBoxStateHighlightAndEnabling) {
  Add("Button", "Attivo", 2001, BS_AUTOCHECKBOX | WS_TABSTOP, CRect(10, 240, 120, 262));
  Add("Button", "Si", 2002, BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, CRect(130, 240, 200, 262));
  CVKTCheckBox check;
  CVKTRadioButton radio;
  ASSERT_TRUE(check.SubclassDlgItem(2001, &dlg_));
  ASSERT_TRUE(radio.SubclassDlgItem(2002, &dlg_));
  EXPECT_FALSE(check.GetBool());
  int before = vkt::win::InvalidationCount(check.m_hWnd);
  check.SetBool(true);
  EXPECT_TRUE(check.GetBool());
  EXPECT_EQ(check.GetBOOL(), TRUE);
  EXPECT_GT(vkt::win::InvalidationCount(check.m_hWnd), before);  // repainted at once
  check.SetBOOL(0);
  EXPECT_FALSE(check.GetBool());
  ui_.Focus(&check);
  ui_.Press(VK_SPACE);  // the user ticks it
  EXPECT_TRUE(check.GetBool());
  EXPECT_TRUE(check.highlighted());
  ui_.Focus(&radio);
  EXPECT_FALSE(check.highlighted());
  EXPECT_TRUE(radio.highlighted());
  radio.SetBool(true);
  EXPECT_EQ(radio.GetBOOL(), TRUE);
  check.SetEnabled(0);
  EXPECT_EQ(check.GetEnabled(), 0);
  EXPECT_FALSE(ui_.Click(&check));
  check.SetText("Attivo dal 2025");
  EXPECT_EQ(check.GetWindowTextString(), CString("Attivo dal 2025"));

  CVKTButton button;
  Add("Button", "Vai", 2003, BS_PUSHBUTTON | WS_TABSTOP, CRect(210, 240, 280, 262));
  ASSERT_TRUE(button.SubclassDlgItem(2003, &dlg_));
  button.SetBookmark(MakeVariant(int32_t{42}));
  EXPECT_EQ(button.GetBookmark().lVal, 42);
  button.SetEnabled(0);
  EXPECT_EQ(button.GetEnabled(), 0);

  // The focused check box draws hot: its box frame takes the accent colour.
  check.SetEnabled(1);
  ui_.Focus(&check);
  vkt::win::Image img = vkt::win::Render(&dlg_);
  EXPECT_EQ(img.At(1 + 10, 25 + 245), RGB(0, 120, 215));
  ui_.Focus(&radio);
  img = vkt::win::Render(&dlg_);
  EXPECT_EQ(img.At(1 + 10, 25 + 245), RGB(51, 51, 51));
}

}  // namespace
