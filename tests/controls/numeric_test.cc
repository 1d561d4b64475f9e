// The numeric field and its presets: display and editing forms, keys tried
// against the range, values read back.
#include "controls/vktnumeric.h"
#include "form.h"

namespace {

using vkt::test::FormTest;

class NumericTest : public FormTest {};

TEST_F(NumericTest, DisplayFormIsItalianAndEditingFormDropsTheSeparators) {
  CVKTCurrency2 amount;
  Attach(amount, 1001);
  EXPECT_EQ(Text(amount), "0,00");  // formatted when attached, right-aligned
  EXPECT_TRUE(amount.GetStyle() & ES_RIGHT);
  amount.SetValue(-1234567.5);
  EXPECT_EQ(Text(amount), "-1.234.567,50");
  ui_.Focus(&amount);
  EXPECT_EQ(Text(amount), "-1234567,50");
  EXPECT_FALSE(amount.GetStyle() & ES_RIGHT);
  ui_.Press(VK_TAB);
  EXPECT_EQ(Text(amount), "-1.234.567,50");
  EXPECT_DOUBLE_EQ(amount.GetValue(), -1234567.5);

  CVKTUQuantity3 qty;
  Attach(qty, 1002);
  qty.SetValue(2.5);
  EXPECT_EQ(Text(qty), "2,5");
  qty.SetValue(3);
  EXPECT_EQ(Text(qty), "3");
  CVKTDouble2 plain;
  Attach(plain, 1003);
  plain.SetValue(1234.5);
  EXPECT_EQ(Text(plain), "1234,50");
  plain.SetValue(-0.001);
  EXPECT_EQ(Text(plain), "-0,00");
  CVKTCurrency5 big;
  Attach(big, 1004);
  big.SetValue(999999999999.0);
  EXPECT_EQ(Text(big), "999.999.999.999,00000");
  char buf[8];
  big.GetText(buf, sizeof buf);
  EXPECT_STREQ(buf, "999.999");  // cut at the buffer, terminated
}

TEST_F(NumericTest, KeysAreTriedAgainstTheRangeAndTheSign) {
  CVKTUCurrency2 positive;
  Attach(positive, 1001);
  ui_.Focus(&positive);
  ui_.Type("-12");
  EXPECT_EQ(Text(positive), "12");  // "-" refused: the minimum is 0
  CVKTPercent2 pct;
  Attach(pct, 1002);
  ui_.Focus(&pct);
  pct.SetText("99");
  ui_.Press(VK_END);
  ui_.Type("0");  // 990 > 100
  EXPECT_EQ(Text(pct), "99");
  ui_.Type("-");  // "-" switches the sign
  EXPECT_EQ(Text(pct), "-99");
  ui_.Type("-");
  EXPECT_EQ(Text(pct), "99");
  CVKTDouble0 whole;
  Attach(whole, 1003);
  ui_.Focus(&whole);
  ui_.Press(VK_BACK);  // "0" all selected: emptied
  ui_.Type(",");       // no decimals: refused
  EXPECT_EQ(Text(whole), "");
  CVKTDouble2 dec;
  Attach(dec, 1004);
  ui_.Focus(&dec);
  ui_.Press(VK_DELETE);
  ui_.Type(",");
  EXPECT_EQ(Text(dec), "0,");
  ui_.Type("5,");  // a second "," is refused
  EXPECT_EQ(Text(dec), "0,5");
  ui_.Press(VK_HOME);
  ui_.Press(VK_BACK);  // at the start: nothing
  EXPECT_EQ(Text(dec), "0,5");
  ui_.Type("-");
  ui_.Type("+");
  EXPECT_EQ(Text(dec), "0,5");
  CVKTShort small;
  Attach(small, 1005);
  ui_.Focus(&small);
  ui_.Type("-3276");
  ui_.Type("9");  // below -32768
  EXPECT_EQ(Text(small), "-3276");
  ui_.Type("8");
  EXPECT_EQ(Text(small), "-32768");
}

TEST_F(NumericTest, AMinimumAboveZeroDoesNotBlockTyping) {
  CVKTNumeric n(0, false, false, 10, 100);
  Attach(n, 1001);
  ui_.Focus(&n);
  ui_.Press(VK_BACK);
  ui_.Type("1");  // on the way to 15: accepted while typing
  ui_.Type("5");
  EXPECT_EQ(Text(n), "15");
  ui_.Type("0");  // 150 > 100
  EXPECT_EQ(Text(n), "15");
  ui_.Press(VK_BACK);
  ui_.Press(VK_BACK);  // the last digit can be deleted
  EXPECT_EQ(Text(n), "");
  ui_.Type("-");  // the sign is still checked
  EXPECT_EQ(Text(n), "");
}

TEST_F(NumericTest, ValuesAreReadBackFromTheTextWithTheFieldsOwnSeparators) {
  CVKTCurrency2 amount;
  Attach(amount, 1001);
  ui_.Focus(&amount);
  ui_.Type("1236");
  ui_.Type(".");  // the point types the decimal comma
  ui_.Type("789");
  EXPECT_EQ(Text(amount), "1236,789");
  ui_.Press(VK_TAB);  // printed with 2 decimals and read back
  EXPECT_EQ(Text(amount), "1.236,79");
  EXPECT_DOUBLE_EQ(amount.GetValue(), 1236.79);
  amount.SetText("2,9");
  EXPECT_EQ(amount.GetValueInteger(), 2);
  amount.SetText("-2,9");
  EXPECT_EQ(amount.GetValueInteger(), -2);
  amount.SetText("1.000.000,5xyz");
  EXPECT_DOUBLE_EQ(amount.GetValue(), 1000000.5);
  amount.SetText("abc");
  EXPECT_DOUBLE_EQ(amount.GetValue(), 0.0);
  // Values of the unsigned long preset fit the 64-bit interface.
  CVKTULong big;
  Attach(big, 1002);
  big.SetValueInteger(4294967295LL);
  EXPECT_EQ(Text(big), "4294967295");
  EXPECT_EQ(big.GetValueInteger(), 4294967295LL);
  EXPECT_DOUBLE_EQ(CVKTNumeric::ParseNumber("12,5"), 12.5);
  EXPECT_DOUBLE_EQ(CVKTNumeric::ParseNumber("1e5"), 1.0);
  EXPECT_DOUBLE_EQ(CVKTNumeric::ParseNumber("-"), 0.0);
}

TEST_F(NumericTest, PresetsCarryTheirDecimalsSeparatorsAndRanges) {
  struct Preset {
    CVKTNumeric* n;
    short dec;
    bool sep;
    bool rem;
    double lo, hi;
  };
  constexpr double kBig = 999999999999.0;
  CVKTCurrency2 c2;
  CVKTCurrency3 c3;
  CVKTCurrency4 c4;
  CVKTCurrency5 c5;
  CVKTUCurrency2 uc2;
  CVKTUCurrency3 uc3;
  CVKTUCurrency4 uc4;
  CVKTUCurrency5 uc5;
  CVKTDouble0 d0;
  CVKTDouble1 d1;
  CVKTDouble2 d2;
  CVKTDouble3 d3;
  CVKTDouble4 d4;
  CVKTUDouble2 ud2;
  CVKTUDouble3 ud3;
  CVKTUDouble4 ud4;
  CVKTPercent1 p1;
  CVKTPercent2 p2;
  CVKTPercent3 p3;
  CVKTPercent4 p4;
  CVKTPercent5 p5;
  CVKTUPercent1 up1;
  CVKTUPercent2 up2;
  CVKTUPercent3 up3;
  CVKTUQuantity3 uq3;
  CVKTLong l;
  CVKTULong ul;
  CVKTShort sh;
  CVKTUShort us;
  CVKTNumeric plain;
  const Preset presets[] = {
      {&c2, 2, true, false, -kBig, kBig},  {&c3, 3, true, false, -kBig, kBig},
      {&c4, 4, true, false, -kBig, kBig},  {&c5, 5, true, false, -kBig, kBig},
      {&uc2, 2, true, false, 0, kBig},     {&uc3, 3, true, false, 0, kBig},
      {&uc4, 4, true, false, 0, kBig},     {&uc5, 5, true, false, 0, kBig},
      {&d0, 0, false, false, -kBig, kBig}, {&d1, 1, false, false, -kBig, kBig},
      {&d2, 2, false, false, -kBig, kBig}, {&d3, 3, false, false, -kBig, kBig},
      {&d4, 4, false, false, -kBig, kBig}, {&ud2, 2, false, false, 0, kBig},
      {&ud3, 3, false, false, 0, kBig},    {&ud4, 4, false, false, 0, kBig},
      {&p1, 1, false, false, -100, 100},   {&p2, 2, false, false, -100, 100},
      {&p3, 3, false, false, -100, 100},   {&p4, 4, false, false, -100, 100},
      {&p5, 5, false, false, -100, 100},   {&up1, 1, false, false, 0, 100},
      {&up2, 2, false, false, 0, 100},     {&up3, 3, false, false, 0, 100},
      {&uq3, 3, false, true, 0, kBig},     {&l, 0, false, false, -2147483648.0, 2147483647.0},
      {&ul, 0, false, false, 0, 4294967295.0}, {&sh, 0, false, false, -32768, 32767},
      {&us, 0, false, false, 0, 65535},    {&plain, 2, true, false, -kBig, kBig},
  };
  for (const Preset& p : presets) {
    EXPECT_EQ(p.n->GetDecimalPlaces(), p.dec);
    EXPECT_EQ(p.n->IsSeparator(), p.sep);
    EXPECT_EQ(p.n->IsRemoveNonSigDigits(), p.rem);
    double lo, hi;
    p.n->GetRange(&lo, &hi);
    EXPECT_EQ(lo, p.lo);
    EXPECT_EQ(hi, p.hi);
    EXPECT_EQ(p.n->GetValueMin(), p.lo);
    EXPECT_EQ(p.n->GetValueMax(), p.hi);
    EXPECT_EQ(p.n->GetModified(), 0);
  }
}

TEST_F(NumericTest, SettingsTakeEffectAtTheNextFormatAndDeleteKeepsTheCaret) {
  CVKTNumeric n;
  Attach(n, 1001);
  n.SetValue(1234.5);
  EXPECT_EQ(Text(n), "1.234,50");
  n.SetDecimalPlaces(3);
  n.SetSeparator(false);
  EXPECT_EQ(Text(n), "1.234,50");  // not reformatted yet
  n.SetValueReal(1234.5);
  EXPECT_EQ(Text(n), "1234,500");
  n.SetRemoveNonSigDigits(true);
  EXPECT_EQ(n.GetText(), CString("1234,5"));
  n.SetRange(-5, 5);
  EXPECT_EQ(n.GetValueMin(), -5);
  n.SetValueMin(-10);
  n.SetValueMax(2000);
  n.SetValueInteger(-7);
  EXPECT_EQ(Text(n), "-7");
  EXPECT_DOUBLE_EQ(n.GetValueReal(), -7.0);
  // Delete takes the character at the caret and leaves the caret there;
  // Backspace the one before it, the caret moving back.
  n.SetText("1234");
  ui_.Focus(&n);
  n.SetSel(1, 1);
  ui_.Press(VK_DELETE);
  EXPECT_EQ(Text(n), "134");
  int a = 0, b = 0;
  n.GetSel(a, b);
  EXPECT_EQ(a, 1);
  ui_.Press(VK_BACK);
  EXPECT_EQ(Text(n), "34");
  n.GetSel(a, b);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(n.GetModified(), 1);
  // A digit replaces the selection.
  n.SetSel(0, 2);
  ui_.Type("9");
  EXPECT_EQ(Text(n), "9");
  // A value that Delete would push past the maximum is refused: 1,05 -> 105.
  n.SetText("1999,5");
  n.SetSel(4, 4);
  ui_.Press(VK_DELETE);
  EXPECT_EQ(Text(n), "1999,5");
}

TEST_F(NumericTest, PastesGoInOnlyAsNumbersTypingCouldGive) {
  CVKTUCurrency2 amount;
  Attach(amount, 1001);
  ui_.Focus(&amount);
  fake_.SetClipboardText(" 1.234,50\r\n");  // from a report: separators and line end dropped
  ui_.Press(VK_INSERT, vkt::win::kShift);
  EXPECT_EQ(Text(amount), "1234,50");
  EXPECT_DOUBLE_EQ(amount.GetValue(), 1234.5);
  EXPECT_EQ(amount.GetModified(), 1);
  const char* refused[] = {"-5", "12abc", "1,2,3", "1e5", "9999999999999", ""};
  for (const char* clip : refused) {
    amount.SetSel(0, -1);
    fake_.SetClipboardText(clip);
    amount.SendMessage(WM_PASTE);  // the menu's paste
    EXPECT_EQ(Text(amount), "1234,50") << clip;
  }
  // Into the text at the caret, the selection replaced.
  amount.SetSel(4, 7);
  fake_.SetClipboardText("9");
  ui_.Press(VK_INSERT, vkt::win::kShift);
  EXPECT_EQ(Text(amount), "12349");
  int a = 0, b = 0;
  amount.GetSel(a, b);
  EXPECT_EQ(a, 5);
  ui_.Press(VK_TAB);
  EXPECT_EQ(Text(amount), "12.349,00");
  // A signed field takes a leading minus; a whole-number field no comma.
  CVKTShort small;
  Attach(small, 1002);
  ui_.Focus(&small);
  fake_.SetClipboardText("-32768");
  ui_.Press(VK_END);  // after the "0" shown: a minus inside the number
  ui_.Press(VK_INSERT, vkt::win::kShift);
  EXPECT_EQ(Text(small), "0");
  ui_.Press(VK_HOME);  // before it: -327680, past the minimum
  ui_.Press(VK_INSERT, vkt::win::kShift);
  EXPECT_EQ(Text(small), "0");
  small.SetSel(0, -1);
  ui_.Press(VK_INSERT, vkt::win::kShift);
  EXPECT_EQ(Text(small), "-32768");
  EXPECT_EQ(small.GetValueInteger(), -32768);
  small.SetSel(0, -1);
  fake_.SetClipboardText("40000");  // past the maximum
  ui_.Press(VK_INSERT, vkt::win::kShift);
  fake_.SetClipboardText("1,5");
  ui_.Press(VK_INSERT, vkt::win::kShift);
  EXPECT_EQ(small.GetValueInteger(), -32768);
}

}  // namespace
