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
    double lo, hi;
  };
  CVKTCurrency3 c3;
  CVKTUCurrency4 uc4;
  CVKTDouble4 d4;
  CVKTUDouble3 ud3;
  CVKTPercent5 p5;
  CVKTUPercent1 up1;
  CVKTLong l;
  CVKTUShort us;
  const Preset presets[] = {
      {&c3, 3, true, -999999999999.0, 999999999999.0}, {&uc4, 4, true, 0, 999999999999.0},
      {&d4, 4, false, -999999999999.0, 999999999999.0}, {&ud3, 3, false, 0, 999999999999.0},
      {&p5, 5, false, -100, 100}, {&up1, 1, false, 0, 100},
      {&l, 0, false, -2147483648.0, 2147483647.0}, {&us, 0, false, 0, 65535},
  };
  for (const Preset& p : presets) {
    EXPECT_EQ(p.n->GetDecimalPlaces(), p.dec);
    EXPECT_EQ(p.n->IsSeparator(), p.sep);
    double lo, hi;
    p.n->GetRange(&lo, &hi);
    EXPECT_EQ(lo, p.lo);
    EXPECT_EQ(hi, p.hi);
  }
}

}  // namespace
