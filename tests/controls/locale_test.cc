// The fields read and print numbers and dates by their own rules: an
// Italian process locale (decimal comma in the C library) changes nothing.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <locale.h>

#include "common/julian.h"
#include "controls/vktjulian.h"
#include "controls/vktnumeric.h"
#include "controls/vkttime.h"
#include "form.h"

namespace {

using vkt::test::FormTest;

// An Italian locale, built from the system's locale sources into a
// temporary folder when none is installed. Empty when neither works.
std::string ItalianLocaleName() {
  static const std::string name = [] {
    for (const char* n : {"it_IT.UTF-8", "it_IT.utf8", "it_IT", "it_IT@euro"}) {
      if (locale_t l = newlocale(LC_ALL_MASK, n, static_cast<locale_t>(0))) {
        freelocale(l);
        return std::string(n);
      }
    }
    char dir[] = "/tmp/vkt-locale-XXXXXX";
    if (mkdtemp(dir) == nullptr) return std::string();
    static std::string made = dir;
    std::atexit([] { std::filesystem::remove_all(made); });
    std::string cmd = "localedef -i it_IT -f UTF-8 " + made + "/it_IT.UTF-8 >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return std::string();
    setenv("LOCPATH", dir, 1);
    locale_t l = newlocale(LC_ALL_MASK, "it_IT.UTF-8", static_cast<locale_t>(0));
    if (l == static_cast<locale_t>(0)) return std::string();
    freelocale(l);
    return std::string("it_IT.UTF-8");
  }();
  return name;
}

class LocaleTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    italian_ = ItalianLocaleName();
    if (italian_.empty()) {
      // CI must prove the point, not skip it: its machine has the locale sources.
      if (std::getenv("CI") != nullptr) FAIL() << "no Italian locale can be made here";
      GTEST_SKIP() << "no Italian locale can be made here";
    }
    ASSERT_NE(std::setlocale(LC_ALL, italian_.c_str()), nullptr);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 1.5);
    ASSERT_STREQ(buf, "1,5");  // the comma is really in force
  }
  void TearDown() override {
    std::setlocale(LC_ALL, "C");
    FormTest::TearDown();
  }
  std::string italian_;
};

TEST_F(LocaleTest, NumbersAndDatesIgnoreTheProcessLocale) {
  CVKTCurrency2 amount;
  Attach(amount, 1001);
  amount.SetValue(1234.5);
  EXPECT_EQ(Text(amount), "1.234,50");
  EXPECT_DOUBLE_EQ(amount.GetValue(), 1234.5);
  ui_.Focus(&amount);
  ui_.Press(VK_DELETE);
  ui_.Type("12,75");
  ui_.Press(VK_TAB);
  EXPECT_EQ(Text(amount), "12,75");
  EXPECT_DOUBLE_EQ(amount.GetValue(), 12.75);
  EXPECT_DOUBLE_EQ(CVKTNumeric::ParseNumber("1.000.000,25"), 1000000.25);
  CVKTUQuantity3 qty;
  Attach(qty, 1002);
  qty.SetValue(0.125);
  EXPECT_EQ(Text(qty), "0,125");
  CVKTPercent2 pct;
  Attach(pct, 1003);
  ui_.Focus(&pct);
  ui_.Press(VK_DELETE);
  ui_.Type("99,5");  // tried as 99.5, not as 99
  ui_.Type("9");
  EXPECT_EQ(Text(pct), "99,59");
  pct.SetText("100,5");  // above the maximum only when read with its decimals
  ui_.Press(VK_END);
  ui_.Type("1");
  EXPECT_EQ(Text(pct), "100,5");

  CVKTJulian date;
  Attach(date, 1004);
  date.SetJulian(DateToJulian(COleDateTime(2024, 3, 5, 0, 0, 0), 0));
  EXPECT_EQ(Text(date), "05/03/2024");
  EXPECT_EQ(CVKTJulian::ReadOleDateTime("05/03/2024").GetMonth(), 3);
  CVKTTime time;
  Attach(time, 1005);
  time.SetLong(30600);
  EXPECT_EQ(Text(time), "08:30:00");
}

}  // namespace
