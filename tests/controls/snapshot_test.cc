// A form with one field of each kind, painted to PNG files (build dir,
// snapshots/) for a person to look at, and checked by a few pixels.
#include <filesystem>

#include "common/checks.h"
#include "common/julian.h"
#include "controls/vktedit.h"
#include "controls/vktjulian.h"
#include "controls/vktnumeric.h"
#include "controls/vkttime.h"
#include "form.h"
#include "win/canvas.h"

namespace {

using vkt::test::FormTest;

class SnapshotTest : public FormTest {};

std::string SnapshotPath(const std::string& name) {
  std::filesystem::create_directories(VKT_SNAPSHOT_DIR);
  return std::string(VKT_SNAPSHOT_DIR) + "/" + name;
}

TEST_F(SnapshotTest, AFormWithEveryKindOfField) {
  // Labels for the fields.
  const char* labels[] = {"Ragione sociale", "Codice fiscale", "Importo", "Quantit\xE0",
                          "Data", "Ora", "Sconto %", "Note", "Tipo"};
  for (int i = 0; i < 9; ++i) {
    HWND h = ::CreateWindowEx(0, "Static", labels[i], WS_CHILD | WS_VISIBLE,
                              CRect(10, 12 + i * 26, 125, 28 + i * 26), dlg_.m_hWnd, 0);
    ::SendMessage(h, WM_SETFONT, reinterpret_cast<WPARAM>(dlg_.GetFont()->GetSafeHandle()), 0);
  }
  CVKTEdit name, cf, note;
  CVKTCurrency2 amount;
  CVKTUQuantity3 qty;
  CVKTJulian date;
  CVKTTime time;
  CVKTPercent2 discount;
  CVKTComboBox kind;
  Attach(name, 1001);
  Attach(cf, 1002);
  Attach(amount, 1003);
  Attach(qty, 1004);
  Attach(date, 1005);
  Attach(time, 1006);
  Attach(discount, 1007);
  Attach(note, 1008);
  Attach(kind, 1010);
  name.SetFormat(40, "<!_", nullptr, nullptr);
  cf.SetFormat(16, "U<!_", filter_space, CheckCodFiscale);
  note.SetFormat(60, "", nullptr, nullptr);
  note.SetBackColor(RGB(255, 255, 220));
  note.SetForeColor(RGB(0, 0, 160));
  note.SetItalic(1);
  cf.SetBold(1);
  kind.AddItem("Cliente", 1);
  kind.AddItem("Fornitore", 2);
  kind.SetLong(2);
  amount.SetValue(-1234567.5);
  qty.SetValue(2.5);
  date.SetJulian(DateToJulian(COleDateTime(2025, 3, 15, 0, 0, 0), 0));
  time.SetLong(30600);
  discount.SetValue(12.5);
  note.SetText("perch\xE9 s\xEC, citt\xE0 \x80 100");
  ui_.Focus(&cf);
  ui_.Type("bbbccc90b02a000m");
  ui_.Focus(&name);
  ui_.Type("Mario Rossi & C. s.r.l.");
  name.SetSel(6, 11);

  vkt::win::Image img = vkt::win::Render(&dlg_);
  // The focused field's background is the highlight colour; the note keeps
  // its own; the amount is right-aligned.
  EXPECT_EQ(img.At(1 + 350, 25 + 18), kVktHighlightColor);
  EXPECT_EQ(img.At(1 + 350, 25 + 200), RGB(255, 255, 220));
  EXPECT_EQ(img.At(1 + 135, 25 + 70), RGB(255, 255, 255));
  ASSERT_TRUE(vkt::win::SavePng(&dlg_, SnapshotPath("controls_form.png")));

  // Into the amount: the editing form, all selected.
  ui_.Press(VK_TAB);
  ui_.Press(VK_TAB);
  EXPECT_EQ(Text(amount), "-1234567,50");
  ASSERT_TRUE(vkt::win::SavePng(&dlg_, SnapshotPath("controls_form_amount.png")));

  // A date half typed, the caret after it; the note disabled keeps its
  // colours.
  note.SetEnabled(0);
  ui_.Focus(&date);
  ui_.Type("120");
  EXPECT_EQ(Text(date), "12/0_/____");
  img = vkt::win::Render(&dlg_);
  EXPECT_EQ(img.At(1 + 350, 25 + 200), RGB(255, 255, 220));
  EXPECT_EQ(img.At(1 + 350, 25 + 122), kVktHighlightColor);
  ASSERT_TRUE(vkt::win::SavePng(&dlg_, SnapshotPath("controls_form_date.png")));
}

}  // namespace
