// Painting window trees: what a form looks like, checked by its pixels and
// written as a PNG for a person to look at.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "win/canvas.h"
#include "win/dialog.h"
#include "win/driver.h"
#include "win/services.h"
#include "win/stdctrls.h"
#include "win/winconst.h"

namespace {

using vkt::win::DialogTemplate;

std::string SnapshotPath(const std::string& name) {
  std::filesystem::create_directories(VKT_SNAPSHOT_DIR);
  return std::string(VKT_SNAPSHOT_DIR) + "/" + name;
}

int CountColour(const vkt::win::Image& img, const CRect& r, COLORREF c) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x)
      if (img.At(x, y) == c) ++n;
  return n;
}

// Anti-aliased text: count the pixels that are clearly ink.
int CountDark(const vkt::win::Image& img, const CRect& r) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x)
      if (GetRValue(img.At(x, y)) < 110 && GetGValue(img.At(x, y)) < 110) ++n;
  return n;
}

TEST(CanvasTest, AFormPaintsItsFrameControlsSelectionAndOpenList) {
  vkt::TestServices fake;
  vkt::ScopedServices use(&fake);
  vkt::win::ResetWindows();
  DialogTemplate t;
  t.caption = "Anagrafica cliente";
  t.rect = CRect(40, 30, 360, 230);
  t.style |= WS_VISIBLE;
  const DWORD field = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER;
  t.items = {
      {"Static", "Ragione sociale", 1, WS_CHILD | WS_VISIBLE, CRect(10, 14, 110, 30)},
      {"Edit", "", 1001, field, CRect(115, 10, 300, 32)},
      {"Static", "Citt\xE0", 2, WS_CHILD | WS_VISIBLE, CRect(10, 44, 110, 60)},
      {"Edit", "", 1002, field | ES_RIGHT, CRect(115, 40, 300, 62)},
      {"ComboBox", "", 1003, field | CBS_DROPDOWNLIST, CRect(115, 70, 300, 92)},
      {"Button", "Privato", 1004, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, CRect(115, 100, 220, 120)},
      {"Button", "Dati", 1005, WS_CHILD | WS_VISIBLE | BS_GROUPBOX, CRect(5, 0, 315, 130)},
      {"Button", "OK", IDOK, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, CRect(130, 160, 210, 186)},
      {"Button", "Annulla", IDCANCEL, WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(220, 160, 300, 186)},
  };
  CDialog dlg;
  ASSERT_TRUE(dlg.CreateIndirect(t));
  vkt::win::Driver ui;
  CEdit name_ctl, city_ctl;
  CComboBox kind_ctl;
  ASSERT_TRUE(name_ctl.SubclassDlgItem(1001, &dlg));
  ASSERT_TRUE(city_ctl.SubclassDlgItem(1002, &dlg));
  ASSERT_TRUE(kind_ctl.SubclassDlgItem(1003, &dlg));
  CEdit* name = &name_ctl;
  CEdit* city = &city_ctl;
  CComboBox* kind = &kind_ctl;
  kind->AddString("Cliente");
  kind->AddString("Fornitore");
  kind->SetCurSel(0);
  ui.Focus(city);
  ui.Type("Forl\xEC");
  ui.Click(dlg.GetDlgItem(1004));
  ui.Focus(name);
  ui.Type("Mario Rossi & C.");
  name->SetSel(6, 11);  // "Rossi" selected

  vkt::win::Image img = vkt::win::Render(&dlg);
  ASSERT_EQ(img.width, 322);
  ASSERT_EQ(img.height, 226);
  // Client origin (1, 25): the selection shows in the highlight colour
  // inside the focused field, and the field's inside is white elsewhere.
  CRect name_rect(116 + 1, 35 + 1, 301 - 1, 57 - 1);
  EXPECT_GT(CountColour(img, name_rect, RGB(0, 120, 215)), 60);
  EXPECT_GT(CountColour(img, name_rect, RGB(255, 255, 255)), 500);
  // The dialog face around the controls.
  EXPECT_EQ(img.At(5, 215), RGB(240, 240, 240));
  // The right-aligned field has its text at the right end.
  CRect city_left(117, 66, 200, 86), city_right(260, 66, 299, 86);
  EXPECT_EQ(CountDark(img, city_left), 0);
  EXPECT_GT(CountDark(img, city_right), 20);
  ASSERT_TRUE(vkt::win::SavePng(&dlg, SnapshotPath("window_form.png")));

  // An open list is painted below its combo box, over the buttons.
  ui.Focus(kind);
  ui.Press(VK_F4);
  vkt::win::Image open = vkt::win::Render(&dlg);
  CRect list_area(118, 25 + 93, 300, 25 + 93 + 30);
  EXPECT_GT(CountColour(open, list_area, RGB(0, 120, 215)), 100);  // the current item
  ASSERT_TRUE(vkt::win::SavePng(&dlg, SnapshotPath("window_form_list.png")));
  EXPECT_FALSE(vkt::win::SavePng(nullptr, SnapshotPath("none.png")));
  vkt::win::ResetWindows();
}

}  // namespace
