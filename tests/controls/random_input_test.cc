// Random keyboard and clipboard input, the same every run: whatever is
// typed or pasted, every field keeps its shape (length, pattern, range).
#include <random>
#include <string>

#include "common/checks.h"
#include "controls/vktedit.h"
#include "controls/vktjulian.h"
#include "controls/vktnumeric.h"
#include "controls/vkttime.h"
#include "form.h"

namespace {

using vkt::test::FormTest;

class RandomInputTest : public FormTest {
 protected:
  // One random action on the focused field: a byte typed (any value but 0
  // and Escape), an editing key, or a paste of random or number-like bytes.
  void RandomAction(std::mt19937& rng) {
    std::uniform_int_distribution<int> kind(0, 9), byte(1, 255), len(0, 30);
    int k = kind(rng);
    if (k <= 5) {
      int b = byte(rng);
      if (b == 27) b = 28;  // Escape would cancel the form itself
      ui_.Type(std::string(1, static_cast<char>(b)));
    } else if (k == 6) {
      const UINT keys[] = {VK_BACK, VK_DELETE, VK_HOME, VK_END, VK_LEFT, VK_RIGHT};
      ui_.Press(keys[std::uniform_int_distribution<int>(0, 5)(rng)],
                std::uniform_int_distribution<int>(0, 3)(rng) == 0 ? vkt::win::kShift
                                                                   : vkt::win::kNoMods);
    } else {
      // Half the pastes look like numbers or dates, the rest are any bytes.
      static const char kNumberish[] = "0123456789,.-+/ \t\n";
      bool numberish = std::uniform_int_distribution<int>(0, 1)(rng) == 1;
      std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kNumberish) - 2);
      std::string clip;
      for (int i = len(rng); i > 0; --i)
        clip += numberish ? kNumberish[pick(rng)] : static_cast<char>(byte(rng));
      fake_.SetClipboardText(clip);
      if (k == 7) ui_.Press('V', vkt::win::kCtrl);
      else if (k == 8) ui_.Press(VK_INSERT, vkt::win::kShift);
      else CWnd::GetFocus()->SendMessage(WM_PASTE);
    }
  }
};

bool PrintableOnly(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}

TEST_F(RandomInputTest, EveryFieldKeepsItsShape) {
  CVKTEdit text, digits, masked;
  CVKTUCurrency2 amount;
  CVKTPercent2 pct;
  CVKTJulian date;
  CVKTTime time, short_time;
  Attach(text, 1001);
  Attach(digits, 1002);
  Attach(masked, 1003);
  Attach(amount, 1004);
  Attach(pct, 1005);
  Attach(date, 1006);
  Attach(time, 1007);
  Attach(short_time, 1008);
  short_time.SetShowSeconds(0);
  short_time.SetMilitary(0);
  text.SetFormat(12, "U<!_", nullptr, nullptr);
  digits.SetFormat(5, ">", filter_digit, nullptr);
  masked.SetFormat("00000-LL", "<!_", "_____-__", '_');
  ui_.Answer(IDNO);
  std::mt19937 rng(20250315);
  int filled = 0;  // rounds that left something in the field
  for (int round = 0; round < 400; ++round) {
    CWnd* fields[] = {&text, &digits, &masked, &amount, &pct, &date, &time, &short_time};
    CWnd* f = fields[round % 8];
    ui_.Focus(f);
    for (int i = 0; i < 12; ++i) RandomAction(rng);
    ui_.Press(VK_TAB);  // leaving formats, completes, checks
    std::string t = Text(*f);
    SCOPED_TRACE("round " + std::to_string(round) + ", field " + std::to_string(f->GetDlgCtrlID()) + " shows \"" + t + "\"");
    EXPECT_TRUE(PrintableOnly(t));
    if (t.find_first_not_of(" _/:-,0") != std::string::npos) ++filled;
    switch (f->GetDlgCtrlID()) {
      case 1001:
        EXPECT_LE(t.size(), 12u);
        break;
      case 1002:
        EXPECT_EQ(t.size(), 5u);  // right-aligned to the length
        EXPECT_EQ(t.find_first_not_of(" 0123456789"), std::string::npos);
        break;
      case 1003:
        ASSERT_EQ(t.size(), 8u);
        EXPECT_EQ(t[5], '-');
        break;
      case 1004:
        EXPECT_GE(amount.GetValue(), 0.0);
        EXPECT_LE(amount.GetValue(), 999999999999.0);
        break;
      case 1005:
        EXPECT_LE(pct.GetValue(), 100.0);
        EXPECT_GE(pct.GetValue(), -100.0);
        break;
      case 1006:
        ASSERT_EQ(t.size(), 10u);
        EXPECT_TRUE(t == kVktEmptyDate || date.GetJulian() != 0);
        break;
      case 1007:
        ASSERT_EQ(t.size(), 8u);
        EXPECT_EQ(t[2], ':');
        EXPECT_EQ(t[5], ':');
        EXPECT_LT(time.GetLong(), 24 * 3600);
        break;
      case 1008:  // 12-hour input, no seconds
        ASSERT_EQ(t.size(), 5u);
        EXPECT_EQ(t[2], ':');
        EXPECT_LT(short_time.GetLong(), 13 * 3600);
        EXPECT_EQ(short_time.GetLong() % 60, 0);
        break;
    }
  }
  EXPECT_GT(filled, 100);  // the input really reached the fields
  EXPECT_EQ(ui_.stalls(), 0);
}

}  // namespace
