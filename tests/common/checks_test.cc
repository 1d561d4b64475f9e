// Field checks, character filters, rounding and the zero test.
#include "common/checks.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

// glibc keeps the search list it builds from LOCPATH in newlocale without
// freeing it; only the leak checker of the sanitizer build reads this.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:__argz_add_sep\n";
}

namespace {

TEST(FiscalCodeTest, CheckCharacterAndLength) {
  EXPECT_TRUE(CheckCodFiscale(""));
  EXPECT_TRUE(CheckCodFiscale("                "));
  EXPECT_TRUE(CheckCodFiscale(nullptr));
  EXPECT_TRUE(CheckCodFiscale("BBBCCC90B02A000M"));
  EXPECT_TRUE(CheckCodFiscale("RSSMRA85T10A562S"));
  EXPECT_FALSE(CheckCodFiscale("BBBCCC90B02A000N"));
  EXPECT_FALSE(CheckCodFiscale("RSSMRA85T10A562T"));
  EXPECT_FALSE(CheckCodFiscale("BBBCCC90B02A000"));  // 15 characters
  EXPECT_FALSE(CheckCodFiscale("BBBCCC90B02A00 M"));
  // Only the first 16 characters count.
  EXPECT_TRUE(CheckCodFiscale("BBBCCC90B02A000M   "));
  EXPECT_TRUE(CheckCodFiscale("BBBCCC90B02A000MXYZ"));
  EXPECT_FALSE(CheckCodFiscale("BBBCCC90B02A000NXYZ"));
  // Lower case is refused: the fields turn the text to upper case first.
  EXPECT_FALSE(CheckCodFiscale("bbbccc90b02a000m"));
  EXPECT_FALSE(CheckCodFiscale("BBBCCC90B02A000m"));
  EXPECT_FALSE(CheckCodFiscale("bBBCCC90B02A000M"));
  // A homonym's code has letters where digits stand: any letter or digit.
  EXPECT_TRUE(CheckCodFiscale("RSSMRA85T10A56NH"));
}

TEST(FiscalCodeTest, AnyBytesAreJudgedWithoutReadingOutsideTheTable) {
  // Every byte at every position: refused unless it is a letter or digit,
  // and never an index outside the odd-position table.
  std::string code = "RSSMRA85T10A562S";
  for (size_t pos = 0; pos < 16; ++pos) {
    for (int b = 1; b < 256; ++b) {
      std::string t = code;
      t[pos] = static_cast<char>(b);
      bool ok = CheckCodFiscale(t.c_str());
      bool alnum = (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9');
      if (!alnum) {
        ASSERT_FALSE(ok) << pos << " " << b;
      }
      if (static_cast<char>(b) == code[pos]) {
        ASSERT_TRUE(ok);
      }
    }
  }
}

TEST(VatNumberTest, CheckDigitAfterTrimming) {
  EXPECT_TRUE(CheckPartIva(" 12345678903 "));
  EXPECT_TRUE(CheckPartIva("12345678903"));
  EXPECT_TRUE(CheckPartIva("00743110157"));
  EXPECT_FALSE(CheckPartIva("12345678904"));
  EXPECT_FALSE(CheckPartIva("1234567890"));
  EXPECT_FALSE(CheckPartIva("1234567890A"));
  EXPECT_FALSE(CheckPartIva("123456789031"));
  EXPECT_FALSE(CheckPartIva("12345 78903"));
  EXPECT_TRUE(CheckPartIva(""));
  EXPECT_TRUE(CheckPartIva("    "));
  EXPECT_TRUE(CheckPartIva(nullptr));
  // Only the first 28 characters are read.
  EXPECT_TRUE(CheckPartIva((std::string(17, ' ') + "12345678903").c_str()));
  EXPECT_FALSE(CheckPartIva((std::string(18, ' ') + "12345678903").c_str()));
  // Every single-digit change of a valid number is caught.
  std::string good = "12345678903";
  for (size_t pos = 0; pos < 11; ++pos) {
    for (char d = '0'; d <= '9'; ++d) {
      if (d == good[pos]) continue;
      std::string t = good;
      t[pos] = d;
      EXPECT_FALSE(CheckPartIva(t.c_str())) << t;
    }
  }
}

TEST(OneLetterChecksTest, WholeTextMustBeOneOfTheLetters) {
  EXPECT_TRUE(CheckNumFiscale(""));
  EXPECT_TRUE(CheckNumFiscale("RSSMRA85T10A562S"));
  EXPECT_TRUE(CheckNumFiscale("12345678903"));
  EXPECT_FALSE(CheckNumFiscale("12345678904"));

  for (const char* s : {"m", "M", "f", "F"}) EXPECT_TRUE(CheckSesso(s)) << s;
  for (const char* s : {"m ", " m", "", "x", "mf"}) EXPECT_FALSE(CheckSesso(s)) << s;
  for (const char* s : {"s", "S", "n", "N"}) EXPECT_TRUE(CheckYesno(s));
  EXPECT_FALSE(CheckYesno("y"));
  EXPECT_FALSE(CheckYesno(""));
  for (const char* s : {"d", "D", "a", "A"}) {
    EXPECT_TRUE(CheckDareAvere(s));
    EXPECT_TRUE(CheckDareAvereSpace(s));
  }
  EXPECT_FALSE(CheckDareAvere(""));
  EXPECT_TRUE(CheckDareAvereSpace(""));
  EXPECT_FALSE(CheckDareAvereSpace(" "));
  for (const char* s : {"c", "C", "p", "P"}) EXPECT_TRUE(CheckCorrPrec(s));
  EXPECT_FALSE(CheckCorrPrec("cp"));
  EXPECT_FALSE(CheckSesso(nullptr));
  EXPECT_TRUE(CheckDareAvereSpace(nullptr));
}

TEST(FilterTest, EachFilterAcceptsExactlyItsSetAndNoCodeAbove255) {
  std::setlocale(LC_ALL, "C");
  auto in = [](unsigned c, const char* set) {
    return c != 0 && std::strchr(set, static_cast<int>(c)) != nullptr;
  };
  const char* digits = "0123456789";
  for (unsigned c = 0; c < 256; ++c) {
    bool digit = in(c, digits);
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    EXPECT_EQ(filter_space(c), c != ' ') << c;
    EXPECT_EQ(filter_space_letter(c), c != ' ') << c;
    EXPECT_EQ(filter_letter(c), letter) << c;
    EXPECT_EQ(filter_digit(c), digit) << c;
    EXPECT_EQ(filter_phone(c), digit) << c;
    EXPECT_EQ(filter_digit_star(c), digit || in(c, "*?")) << c;
    EXPECT_EQ(filter_digit_comma(c), digit || c == ',') << c;
    EXPECT_EQ(filter_digit_dot(c), digit || c == '.') << c;
    EXPECT_EQ(filter_sitecode(c), digit || in(c, "abcdefABCDEF")) << c;
    EXPECT_EQ(filter_sesso(c), in(c, "mMfF")) << c;
    EXPECT_EQ(filter_yesno(c), in(c, "sSnN")) << c;
    EXPECT_EQ(filter_annomese(c), in(c, "aAmM")) << c;
    EXPECT_EQ(filter_dareavere(c), in(c, "dDaA")) << c;
    EXPECT_EQ(filter_corrprec(c), in(c, "cCpP")) << c;
    EXPECT_EQ(filter_cau_pag_rit_acc(c), digit || (letter && !in(c, "fFjJkK"))) << c;
    EXPECT_FALSE(filter_all(c));
  }
  // A code above 255 is no character: refused, even when its low byte
  // would be accepted.
  bool (*all[])(unsigned) = {
      filter_space,     filter_letter,   filter_digit,       filter_phone,
      filter_digit_star, filter_digit_comma, filter_digit_dot, filter_sitecode,
      filter_sesso,     filter_yesno,    filter_annomese,    filter_dareavere,
      filter_corrprec,  filter_cau_pag_rit_acc, filter_all,  filter_space_letter};
  for (auto f : all) {
    for (unsigned c : {0x100u + '1', 0x100u + 'm', 0x100u + 'a', 0x10000u + 'd',
                       0x7FFFFFFFu, 0xFFFFFFFFu}) {
      EXPECT_FALSE(f(c)) << c;
    }
  }
}

TEST(RoundingTest, HalvesUpAndDirectedRounding) {
  EXPECT_EQ(Round(2.5, 0), 3);
  EXPECT_EQ(Round(-0.5, 0), 0);
  EXPECT_EQ(Round(-1.5, 0), -1);
  EXPECT_DOUBLE_EQ(Round(1.2345, 2), 1.23);
  EXPECT_DOUBLE_EQ(Round(1.235001, 2), 1.24);
  EXPECT_DOUBLE_EQ(Round(1234.5, -1), 1230);  // floor((x + 50) / 10) * 10
  EXPECT_DOUBLE_EQ(MyCeil(0.25, 1), 0.3);
  EXPECT_DOUBLE_EQ(MyFloor(0.25, 1), 0.2);
  EXPECT_DOUBLE_EQ(MyCeil(-0.25, 1), -0.2);
  EXPECT_DOUBLE_EQ(MyFloor(-0.25, 1), -0.3);
  for (double x : {-2.5, -0.1, 0.0, 0.1, 2.5, 7.0}) {
    EXPECT_EQ(MyCeil(x, 0), std::ceil(x));
    EXPECT_EQ(MyFloor(x, 0), std::floor(x));
    EXPECT_EQ(MyCeil(x, -3), std::ceil(x));  // no multiplication at all
  }
  EXPECT_DOUBLE_EQ(CeilToFiveCents(1.01), 1.05);
  EXPECT_DOUBLE_EQ(CeilToFiveCents(1.25), 1.25);
  EXPECT_DOUBLE_EQ(CeilToFiveCents(1.26), 1.3);
  EXPECT_DOUBLE_EQ(CeilToFiveCents(-1.26), -1.25);
  for (int cents = 0; cents <= 10000; cents += 5) {
    ASSERT_DOUBLE_EQ(CeilToFiveCents(cents / 100.0), cents / 100.0) << cents;
  }
}

std::string Cleared(std::string s, char sep) {
  auto buf = std::make_unique<char[]>(s.size() + 1);
  std::memcpy(buf.get(), s.c_str(), s.size() + 1);
  ClearZeri(buf.get(), sep);
  return buf.get();
}

TEST(RoundingTest, ClearZeriCutsTrailingDecimalZeros) {
  EXPECT_EQ(Cleared("12,500", ','), "12,5");
  EXPECT_EQ(Cleared("12,000", ','), "12");
  EXPECT_EQ(Cleared("12,", ','), "12");
  EXPECT_EQ(Cleared("1200", ','), "1200");
  EXPECT_EQ(Cleared("12,50 ", ','), "12,50 ");
  EXPECT_EQ(Cleared("100,0", ','), "100");
  EXPECT_EQ(Cleared("1.000,00", ','), "1.000");
  EXPECT_EQ(Cleared("0.10", '.'), "0.1");
  EXPECT_EQ(Cleared("12,500", '\0'), "12,500");
  ClearZeri(nullptr, ',');
}

TEST(ZeroTestTest, ClearsWhatShowsAsZeroAndTruncatesTheRest) {
  double v = 0.004;
  EXPECT_EQ(TestIfZero(&v, 2), 1);
  EXPECT_EQ(v, 0.0);
  v = 0.129;
  EXPECT_EQ(TestIfZero(&v, 2), 0);
  EXPECT_DOUBLE_EQ(v, 0.12);
  v = -0.001;
  EXPECT_EQ(TestIfZero(&v, 2), 1);
  EXPECT_EQ(v, 0.0);
  v = -0.129;
  EXPECT_EQ(TestIfZero(&v, 2), 0);
  EXPECT_DOUBLE_EQ(v, -0.12);
  v = 1.5;
  EXPECT_EQ(TestIfZero(&v, 2), 0);
  EXPECT_EQ(v, 1.5);
  v = 0.7;
  EXPECT_EQ(TestIfZero(&v, 0), 1);
  EXPECT_EQ(v, 0.0);
  v = -0.7;
  EXPECT_EQ(TestIfZero(&v, 0), 1);
  v = 1.0;
  EXPECT_EQ(TestIfZero(&v, 0), 0);
  EXPECT_EQ(v, 1.0);
  v = 0.123456789;
  EXPECT_EQ(TestIfZero(&v, 8), 0);
  EXPECT_DOUBLE_EQ(v, 0.12345679);  // printed at 8 decimals, rounded there
  v = 0.00000000999;
  EXPECT_EQ(TestIfZero(&v, 8), 1);

  float f = 0.004f;
  EXPECT_EQ(TestIfZero(&f, 2), 1);
  EXPECT_EQ(f, 0.0f);
  f = 0.129f;
  EXPECT_EQ(TestIfZero(&f, 2), 0);
  EXPECT_FLOAT_EQ(f, 0.12f);
  f = 1.5f;
  EXPECT_EQ(TestIfZero(&f, 2), 0);
  EXPECT_EQ(f, 1.5f);
}

TEST(ZeroTestTest, DecimalsOutsideZeroToEightOrNaNLeaveTheValue) {
  for (short d : {-1, 9, 20, -32768, 32767}) {
    double v = 0.5;
    EXPECT_EQ(TestIfZero(&v, d), 0) << d;
    EXPECT_EQ(v, 0.5) << d;
    float f = 0.25f;
    EXPECT_EQ(TestIfZero(&f, d), 0) << d;
    EXPECT_EQ(f, 0.25f) << d;
  }
  double n = std::nan("");
  EXPECT_EQ(TestIfZero(&n, 2), 0);
  EXPECT_TRUE(std::isnan(n));
  float nf = std::nanf("");
  EXPECT_EQ(TestIfZero(&nf, 0), 0);
  EXPECT_TRUE(std::isnan(nf));
  double inf = -INFINITY;
  EXPECT_EQ(TestIfZero(&inf, 2), 0);
  EXPECT_EQ(inf, -INFINITY);
  EXPECT_EQ(TestIfZero(static_cast<double*>(nullptr), 2), 0);
}

// An Italian locale (decimal comma), built from the system's locale sources
// into a temporary folder when none is installed. Empty when neither works.
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

std::string Printed(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

TEST(LocaleTest, AfterAnyRoundingCallNumbersPrintWithAPoint) {
  const std::string italian = ItalianLocaleName();
  using Call = void (*)();
  const Call calls[] = {
      [] { (void)Round(1.25, 1); },
      [] { (void)MyCeil(1.25, 1); },
      [] { (void)MyFloor(1.25, 1); },
      [] { double v = 0.5; (void)TestIfZero(&v, 2); },
      [] { float v = 0.5f; (void)TestIfZero(&v, 2); },
  };
  for (Call call : calls) {
    if (!italian.empty()) {
      ASSERT_NE(std::setlocale(LC_ALL, italian.c_str()), nullptr);
      ASSERT_EQ(Printed(1.5), "1,5");  // the comma is really in force
    }
    call();
    EXPECT_EQ(Printed(1.5), "1.5");
    EXPECT_DOUBLE_EQ(std::atof("2.25"), 2.25);
  }
  std::setlocale(LC_ALL, "C");
  if (italian.empty()) std::printf("note: no Italian locale; invariant checked in C only\n");
}

TEST(LocaleTest, ZeroTestFormatsWithAPointWhateverTheThreadLocale) {
  const std::string italian = ItalianLocaleName();
  if (italian.empty()) GTEST_SKIP() << "no Italian locale available";
  // A thread locale outlives the process-wide change the call makes.
  locale_t it = newlocale(LC_ALL_MASK, italian.c_str(), static_cast<locale_t>(0));
  ASSERT_NE(it, static_cast<locale_t>(0));
  locale_t old = uselocale(it);
  ASSERT_EQ(Printed(1.5), "1,5");
  double v = 0.7;
  EXPECT_EQ(TestIfZero(&v, 0), 1);  // "0." matched, not "0,"
  EXPECT_EQ(v, 0.0);
  v = -0.3;
  EXPECT_EQ(TestIfZero(&v, 0), 1);
  v = 0.129;
  EXPECT_EQ(TestIfZero(&v, 2), 0);
  EXPECT_DOUBLE_EQ(v, 0.12);
  v = 0.55555;
  EXPECT_EQ(TestIfZero(&v, 3), 0);
  EXPECT_DOUBLE_EQ(v, 0.555);
  uselocale(old);
  freelocale(it);
}

}  // namespace
