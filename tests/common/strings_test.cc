// String functions: widths, edits, numbers in words, quoting, matching,
// UTF-8; and that none of them writes or reads outside the caller's room.
#include "common/vktstring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

namespace {

// A heap copy of `text` in exactly `size` bytes, so that the address
// sanitizer catches a byte written or read past it.
std::unique_ptr<char[]> Room(const std::string& text, size_t size) {
  auto buf = std::make_unique<char[]>(size);
  std::memcpy(buf.get(), text.c_str(), std::min(size, text.size() + 1));
  return buf;
}

std::string InPlace(char* (*fn)(char*), std::string text) {
  auto buf = Room(text, text.size() + 1);
  return fn(buf.get());
}

std::string Width(char* (*fn)(char*, int), std::string text, int n) {
  auto buf = Room(text, std::max<size_t>(text.size(), n < 0 ? 0 : n) + 1);
  return fn(buf.get(), n);
}

std::string Comma(const std::string& text) { return InPlace(strcomma, text); }

TEST(StringWidthTest, ClipPadAndAlign) {
  EXPECT_EQ(InPlace(strclip, "    "), "");
  EXPECT_EQ(InPlace(strclip, "ab \t  "), "ab \t");  // a tab is not a blank
  EXPECT_EQ(InPlace(strpreclip, "  a b "), "a b ");
  EXPECT_EQ(InPlace(strpreclip, "\t a"), "\t a");
  EXPECT_EQ(InPlace(strpreclip, ""), "");
  EXPECT_EQ(InPlace(strtrim, "  a b  "), "a b");
  EXPECT_EQ(Width(strleft, "  ab", 5), "ab   ");
  EXPECT_EQ(Width(strleft, "  abcdef", 3), "abc");
  EXPECT_EQ(Width(strright, "ab  ", 5), "   ab");
  EXPECT_EQ(Width(strright, "abcdef", 3), "abcdef");
  EXPECT_EQ(Width(strcenter, "ab", 5), " ab  ");
  EXPECT_EQ(Width(strcenter, "  ab ", 6), "  ab  ");
  EXPECT_EQ(Width(strcenter, "abcdef", 3), "abcdef");
  EXPECT_EQ(Width(strpad, "abcdef", 3), "abc");
  EXPECT_EQ(Width(strpad, "ab", 4), "ab  ");
  EXPECT_EQ(Width(strpad, "ab", 0), "");

  auto buf = Room("ab", 6);
  EXPECT_STREQ(strpadwith(buf.get(), '0', 5), "ab000");
  buf = Room("ab  ", 6);
  EXPECT_STREQ(StrFill(buf.get(), '*', 5), "ab***");
  buf = Room("abcdef", 7);
  EXPECT_STREQ(StrFill(buf.get(), '*', 4), "abcd");
  buf = Room("whatever", 9);
  EXPECT_STREQ(strfill(buf.get(), '*', 3), "***");

  // A negative width leaves the text as it was, blanks included.
  for (auto fn : {strpad, strleft, strright, strcenter}) {
    EXPECT_EQ(Width(fn, "  ab  ", -1), "  ab  ");
  }
  buf = Room(" ab ", 5);
  EXPECT_STREQ(strpadwith(buf.get(), '0', -2), " ab ");
  EXPECT_STREQ(StrFill(buf.get(), '*', -2), " ab ");
  EXPECT_STREQ(strfill(buf.get(), '*', -2), " ab ");
}

TEST(StringEditTest, CompactSubstituteRemoveRotateProper) {
  EXPECT_EQ(InPlace(strcompact, "12 34-56.7\t"), "1234567");
  EXPECT_EQ(InPlace(strcompact, "\r\n a,b"), "a,b");
  auto buf = Room("a.b.c", 6);
  strsost(buf.get(), '.', ',');
  EXPECT_STREQ(buf.get(), "a,b,c");

  buf = Room("b-a-n-a-n-a", 12);
  RemoveChar(buf.get(), '-');
  EXPECT_STREQ(buf.get(), "banana");
  std::string long_text(250, 'x');
  buf = Room(long_text, 251);
  RemoveChar(buf.get(), 'y');
  EXPECT_EQ(std::string(buf.get()), std::string(200, 'x'));
  // Only the first 201 characters are looked at: one removal among them
  // still leaves 200, and the "-" at position 210 is dropped with the tail.
  std::string t = "-" + std::string(209, 'x') + "-" + std::string(10, 'x');
  buf = Room(t, t.size() + 1);
  RemoveChar(buf.get(), '-');
  EXPECT_EQ(std::string(buf.get()), std::string(200, 'x'));
  buf = Room("\xE0x\xE0", 4);
  RemoveChar(buf.get(), 0xE0);  // the byte, however the caller passes it
  EXPECT_STREQ(buf.get(), "x");

  EXPECT_EQ(InPlace(strrotate, "abcde"), "edcba");
  EXPECT_EQ(InPlace(strrotate, "ab"), "ba");
  EXPECT_EQ(InPlace(strrotate, ""), "");
  EXPECT_EQ(InPlace(strproper, "mARIO  rossi"), "Mario  Rossi");
  EXPECT_EQ(InPlace(strproper, "a\tb c"), "A\tb C");  // only a blank starts a word

  EXPECT_EQ(static_cast<unsigned char>(invert_char('\x4A')), 0xA4);
  for (int b = 0; b < 256; ++b) {
    char c = static_cast<char>(b);
    EXPECT_EQ(invert_char(invert_char(c)), c);
  }
}

TEST(StringNumberTest, ThousandsSeparatorsUseTheLeadingBlanks) {
  EXPECT_EQ(Comma("    1234567,89"), "  1.234.567,89");
  EXPECT_EQ(Comma("      -1234567"), "    -1.234.567");
  EXPECT_EQ(Comma("   1.2345,6"), "   12.345,6");
  EXPECT_EQ(Comma("    1234.567"), "   1.234.567");
  EXPECT_EQ(Comma("   123"), "   123");
  EXPECT_EQ(Comma("  1.234"), "  1.234");
  EXPECT_EQ(Comma("    1234,5678"), "   1.234,5678");  // decimals untouched
  EXPECT_EQ(Comma(""), "");
  // A mark in the first column stays there.
  EXPECT_EQ(Comma("-  1234567"), "-1.234.567");
  EXPECT_EQ(Comma("*   1234,00"), "*  1.234,00");
}

TEST(StringNumberTest, ThousandsSeparatorsNeverPushOutADigitOrSign) {
  // No spare blank: the separator is left out, nothing is lost.
  EXPECT_EQ(Comma("1234"), "1234");
  EXPECT_EQ(Comma("-1234"), "-1234");
  EXPECT_EQ(Comma("1234567,8"), "1234567,8");
  // Room for one of two separators.
  EXPECT_EQ(Comma(" 1234567"), "1234.567");
  EXPECT_EQ(Comma("- 1234567"), "-1234.567");
  // A stray "." is removed by moving the number right; the sign moves with
  // it and is not copied back into the first column.
  EXPECT_EQ(Comma("-1.2"), " -12");
  EXPECT_EQ(Comma(" -1.2,5"), "  -12,5");
}

TEST(StringNumberTest, RemovingSeparatorsKeepsTheWidth) {
  EXPECT_EQ(InPlace(strnocomma, "  1.234.567"), "    1234567");
  EXPECT_EQ(InPlace(strnocomma, "1.234,5"), " 1234,5");
  EXPECT_EQ(InPlace(strnocomma, "..."), "   ");
  EXPECT_EQ(InPlace(strnocomma, "12"), "12");
}

std::string Words(double v) {
  auto out = std::make_unique<char[]>(132);
  std::memset(out.get(), 'x', 132);
  ctol(v, out.get());
  return out.get();
}

TEST(StringNumberTest, AmountsInItalianWords) {
  EXPECT_EQ(Words(21), "ventuno");
  EXPECT_EQ(Words(28), "ventotto");
  EXPECT_EQ(Words(33), "trentatre");
  EXPECT_EQ(Words(101), "centouno");
  EXPECT_EQ(Words(108), "centootto");
  EXPECT_EQ(Words(180), "centoottanta");
  EXPECT_EQ(Words(200), "duecento");
  EXPECT_EQ(Words(1000), "mille");
  EXPECT_EQ(Words(1001), "milleuno");
  EXPECT_EQ(Words(2000), "duemila");
  EXPECT_EQ(Words(21000), "ventunomila");
  EXPECT_EQ(Words(1100000), "unmilionecentomila");
  EXPECT_EQ(Words(2000000), "duemilioni");
  EXPECT_EQ(Words(1000000000), "unmiliardo");
  EXPECT_EQ(Words(3000000017.0), "tremiliardidiciassette");
  EXPECT_EQ(Words(1234.56), "milleduecentotrentaquattro");
  EXPECT_EQ(Words(0.99), "zero");
  EXPECT_EQ(Words(0), "zero");
  EXPECT_EQ(Words(999999999999.0),
            "novecentonovantanovemiliardinovecentonovantanovemilioni"
            "novecentonovantanovemilanovecentonovantanove");
  // The longest text of the domain fills the 132 bytes exactly.
  EXPECT_EQ(Words(454454454454.0).size(), 131u);
  // Outside the domain: empty, and nothing written past the buffer.
  EXPECT_EQ(Words(1e12), "");
  EXPECT_EQ(Words(-5), "");
  EXPECT_EQ(Words(std::nan("")), "");
}

TEST(StringNumberTest, OptimalStep) {
  EXPECT_EQ(CalcOptimalStep(-5), 1);
  EXPECT_EQ(CalcOptimalStep(99), 1);
  EXPECT_EQ(CalcOptimalStep(100), 1);
  EXPECT_EQ(CalcOptimalStep(101), 2);
  EXPECT_EQ(CalcOptimalStep(10000), 100);
  EXPECT_EQ(CalcOptimalStep(10001), 11);
  EXPECT_EQ(CalcOptimalStep(25000), 25);
}

TEST(StringQuoteTest, BoundedCopy) {
  auto buf = Room("zzzzz", 5);
  EXPECT_EQ(strzcpy(buf.get(), "abcdefgh", 5), buf.get());
  EXPECT_EQ(std::string(buf.get(), 5), std::string("abcd\0", 5));
  buf = Room("zzzzz", 5);
  strzcpy(buf.get(), "ab", 5);
  EXPECT_EQ(std::string(buf.get(), 5), std::string("ab\0\0\0", 5));
  strzcpy(buf.get(), nullptr, 5);
  EXPECT_EQ(std::string(buf.get(), 5), std::string(5, '\0'));
  // A size of 0 or less writes nothing at all.
  buf = Room("zzzz", 4);
  strzcpy(buf.get(), "abc", 0);
  strzcpy(buf.get(), "abc", -3);
  EXPECT_EQ(std::string(buf.get(), 3), "zzz");
  buf = Room("z", 1);
  strzcpy(buf.get(), "abc", 1);
  EXPECT_EQ(buf[0], '\0');
}

TEST(StringQuoteTest, EscapesInPlaceAndIntoAnotherBuffer) {
  std::string src = "a\"b\\c";
  auto dst = Room("", src.size() + 2 + 1);
  EXPECT_STREQ(strquote(dst.get(), src.c_str()), "a\\\"b\\\\c");
  auto same = Room(src, src.size() + 2 + 1);
  EXPECT_STREQ(strquote(same.get(), same.get()), "a\\\"b\\\\c");
  auto three = Room("a\"b", 5);
  EXPECT_STREQ(strquote(three.get(), three.get()), "a\\\"b");

  std::string filter = "O'Hara*";
  auto q = Room(filter, filter.size() + 3 + 1);
  EXPECT_STREQ(strsqlquote(q.get(), q.get()), "'O''Hara%'");
  auto q2 = Room("", 9);
  EXPECT_STREQ(strsqlquote(q2.get(), "''?x"), "'''''_x'");
  auto q3 = Room("", 3);
  EXPECT_STREQ(strsqlquote(q3.get(), ""), "''");
}

TEST(StringQuoteTest, SqlQuoteEscapesThenAddsWildcardsAndQuotes) {
  EXPECT_EQ(SqlQuote("d'arco", false, true, true), "'d''arco%'");
  EXPECT_EQ(SqlQuote("ab*", true, true, true), "'ab%'");
  EXPECT_EQ(SqlQuote("a?c", true, true, false), "a_c");
  EXPECT_EQ(SqlQuote("50_", true, true, false), "50_");  // the user's own
  EXPECT_EQ(SqlQuote("abc", true, true, false), "%abc%");
  EXPECT_EQ(SqlQuote("abc", false, false, false), "abc");
  // Backslashes are doubled first, so the escapes of controls stay single.
  EXPECT_EQ(SqlQuote("a\\b\tc\n\r\b\x1A", false, false, false),
            "a\\\\b\\tc\\n\\r\\b\\Z");
  EXPECT_EQ(SqlQuote("", true, false, true), "'%'");
}

TEST(StringTestsTest, SuffixAndCharacterClasses) {
  EXPECT_TRUE(endswith("fattura.dat", ".dat"));
  EXPECT_FALSE(endswith("fattura.dat", ".DAT"));
  EXPECT_FALSE(endswith("at", "dat"));
  EXPECT_TRUE(endswith("abc", ""));
  EXPECT_TRUE(endswith("", ""));
  EXPECT_FALSE(endswith(nullptr, ""));
  EXPECT_FALSE(endswith("abc", nullptr));

  EXPECT_EQ(AllAlphaDigits("abc123XYZ"), 1);
  EXPECT_EQ(AllAlphaDigits("abc 1"), 0);
  EXPECT_EQ(AllAlphaDigits(""), 1);
  EXPECT_EQ(AllDigits("0123456789"), 1);
  EXPECT_EQ(AllDigits("12a"), 0);
  EXPECT_EQ(AllDigits("\xB2"), 0);  // superscript two, a high byte
  EXPECT_EQ(AllDigits(""), 1);
  EXPECT_EQ(AllPrintable(" ~azAZ09"), 1);
  EXPECT_EQ(AllPrintable("a\x7F"), 0);
  EXPECT_EQ(AllPrintable("perch\xE9"), 0);
  EXPECT_EQ(AllPrintable("a\tb"), 0);
  EXPECT_EQ(AllPrintable(""), 1);
}

// The matching rules as first written, recursively: the reference the
// iterative matcher must agree with.
int LikeReference(const char* p, const char* t) {
  if (*p == '\0' && *t == '\0') return 0;
  if (*p == '*' && p[1] == '\0') return 0;
  if (*t == '\0') return 1;
  if (*p == '*') {
    for (const char* r = t; *r != '\0'; ++r) {
      if (LikeReference(p + 1, r) == 0) return 0;
    }
    return 1;
  }
  if (*p == '\\' && p[1] != '\0') return p[1] == *t ? LikeReference(p + 2, t + 1) : 1;
  if (*p == '?' || *p == *t) return LikeReference(p + 1, t + 1);
  return 1;
}

TEST(StringMatchTest, WildcardsEscapesAndEmptyTexts) {
  EXPECT_EQ(Like("a*b", "axxb"), 0);
  EXPECT_EQ(Like("a*b", "axxbc"), 1);
  EXPECT_EQ(Like("a?c", "abc"), 0);
  EXPECT_EQ(Like("a?c", "ac"), 1);
  EXPECT_EQ(Like("\\*", "*"), 0);
  EXPECT_EQ(Like("\\*", "x"), 1);
  EXPECT_EQ(Like("\\?", "x"), 1);
  EXPECT_EQ(Like("a\\\\b", "a\\b"), 0);
  EXPECT_EQ(Like("", ""), 0);
  EXPECT_EQ(Like("", "a"), 1);
  EXPECT_EQ(Like("*", ""), 0);
  EXPECT_EQ(Like("*", "anything"), 0);
  EXPECT_EQ(Like("ABC", "abc"), 1);  // case counts
  EXPECT_EQ(Like("*x*y", "axbxcy"), 0);
  // A lone backslash at the end is a literal backslash, nothing beyond.
  std::string pat = "ab\\";
  auto p = Room(pat, pat.size() + 1);
  EXPECT_EQ(Like(p.get(), "ab\\"), 0);
  EXPECT_EQ(Like(p.get(), "ab"), 1);
  EXPECT_EQ(Like(p.get(), "abc"), 1);
  EXPECT_EQ(Like(nullptr, nullptr), 0);
  EXPECT_EQ(Like(nullptr, "a"), 1);
  EXPECT_EQ(Like("*", nullptr), 0);
}

TEST(StringMatchTest, IterativeMatchAgreesWithTheRulesAndNeverBlowsUp) {
  std::mt19937 rng(7);
  const char pattern_chars[] = "ab*?\\";
  const char text_chars[] = "ab*?\\";
  for (int round = 0; round < 20000; ++round) {
    std::string p, t;
    int pl = static_cast<int>(rng() % 8), tl = static_cast<int>(rng() % 9);
    for (int i = 0; i < pl; ++i) p += pattern_chars[rng() % 5];
    for (int i = 0; i < tl; ++i) t += text_chars[rng() % 5];
    ASSERT_EQ(Like(p.c_str(), t.c_str()), LikeReference(p.c_str(), t.c_str()))
        << "pattern '" << p << "' text '" << t << "'";
  }
  std::string many(5000, 'a');
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Like("a*a*a*a*a*a*a*a*b", many.c_str()), 1);
  EXPECT_EQ(Like("*a*a*a*a*a*a*a*a", many.c_str()), 0);
  std::string stars(3000, '*');
  EXPECT_EQ(Like((stars + "b").c_str(), many.c_str()), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(StringMatchTest, RegularExpressionsMustMatchTheWholeText) {
  EXPECT_TRUE(VerifyString("AB123", "[A-Z]{2}\\d{3}"));
  EXPECT_FALSE(VerifyString("xAB123", "[A-Z]{2}\\d{3}"));
  EXPECT_FALSE(VerifyString("AB1234", "[A-Z]{2}\\d{3}"));
  EXPECT_TRUE(VerifyString("", ".*"));
  EXPECT_TRUE(VerifyString(nullptr, ""));
  EXPECT_THROW(VerifyString("a", "(unclosed"), std::runtime_error);  // regex_error
}

// Well-formedness by decoding: the value must need exactly that many bytes
// and be neither a surrogate nor above U+10FFFF.
bool ReferenceWellFormed(const unsigned char* b, size_t n) {
  if (n == 1) return b[0] < 0x80;
  int lead_bits = n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07;
  int marker = n == 2 ? 0xC0 : n == 3 ? 0xE0 : 0xF0;
  if ((b[0] & ~lead_bits & 0xFF) != marker) return false;
  uint32_t v = b[0] & lead_bits;
  for (size_t i = 1; i < n; ++i) {
    if ((b[i] & 0xC0) != 0x80) return false;
    v = (v << 6) | (b[i] & 0x3F);
  }
  uint32_t min = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
  return v >= min && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF);
}

TEST(StringUtf8Test, CheckFindsTheFirstIllFormedSequence) {
  EXPECT_EQ(Utf8Check("plain"), -1);
  EXPECT_EQ(Utf8Check(""), -1);
  EXPECT_EQ(Utf8Check("perch\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), -1);
  EXPECT_EQ(Utf8Check("\xC0\x80"), 0);
  EXPECT_EQ(Utf8Check("ab\xE2\x82"), 2);  // cut by the end
  EXPECT_EQ(Utf8Check("ab\xE2\x82z"), 2);
  EXPECT_EQ(Utf8Check("a\x80"), 1);
  EXPECT_EQ(Utf8Check("\xF4\x90\x80\x80"), 0);  // above U+10FFFF
  EXPECT_EQ(Utf8Check("ok\xED\xA0\x80"), 2);    // surrogate
  EXPECT_EQ(Utf8Check("\xE0\x9F\xBF"), 0);      // overlong
  EXPECT_EQ(Utf8Check("\xF5\x80\x80\x80"), 0);
  EXPECT_EQ(Utf8Check(nullptr), -1);

  // Every two- and three-byte sequence agrees with decoding by hand.
  unsigned char seq[5] = {};
  for (int a = 0x80; a < 0x100; ++a) {
    for (int b = 1; b < 0x100; ++b) {
      seq[0] = static_cast<unsigned char>(a);
      seq[1] = static_cast<unsigned char>(b);
      seq[2] = 0;
      bool ok = ReferenceWellFormed(seq, 2);
      ASSERT_EQ(Utf8Check(reinterpret_cast<char*>(seq)) == -1, ok) << a << " " << b;
    }
  }
  for (int a = 0xE0; a < 0xF0; ++a) {
    for (int b = 0x70; b < 0xD0; ++b) {
      for (int c = 0x70; c < 0xD0; ++c) {
        seq[0] = static_cast<unsigned char>(a);
        seq[1] = static_cast<unsigned char>(b);
        seq[2] = static_cast<unsigned char>(c);
        seq[3] = 0;
        bool ok = ReferenceWellFormed(seq, 3);
        ASSERT_EQ(Utf8Check(reinterpret_cast<char*>(seq)) == -1, ok) << a << " " << b << " " << c;
      }
    }
  }
  for (int a : {0xF0, 0xF4}) {
    for (int b = 0x70; b < 0xD0; ++b) {
      seq[0] = static_cast<unsigned char>(a);
      seq[1] = static_cast<unsigned char>(b);
      seq[2] = 0x80;
      seq[3] = 0xBF;
      seq[4] = 0;
      ASSERT_EQ(Utf8Check(reinterpret_cast<char*>(seq)) == -1, ReferenceWellFormed(seq, 4)) << b;
    }
  }
}

TEST(StringUtf8Test, ConversionResultLivesUntilTheNextCall) {
  const char* first = StrToUtf8("perch\xE9 \x80");
  EXPECT_STREQ(first, "perch\xC3\xA9 \xE2\x82\xAC");
  std::string kept = first;
  const char* second = StrToUtf8("\x93x\x94");
  EXPECT_STREQ(second, "\xE2\x80\x9Cx\xE2\x80\x9D");
  EXPECT_EQ(kept, "perch\xC3\xA9 \xE2\x82\xAC");
  EXPECT_STREQ(StrToUtf8(nullptr), "");
  EXPECT_STREQ(StrToUtf8(""), "");
  StrToUtf8(std::string(10000, '\xE0').c_str());
  vkt::ResetStrToUtf8();  // frees the buffer; the next call starts afresh
  EXPECT_STREQ(StrToUtf8("a"), "a");
  vkt::ResetStrToUtf8();
}

TEST(StringNullTest, NullTextGivesTheEmptyResult) {
  for (auto fn : {strclip, strpreclip, strtrim, strcompact, strrotate, strproper,
                  strcomma, strnocomma}) {
    EXPECT_EQ(fn(nullptr), nullptr);
  }
  for (auto fn : {strpad, strleft, strright, strcenter}) EXPECT_EQ(fn(nullptr, 5), nullptr);
  EXPECT_EQ(strpadwith(nullptr, '0', 3), nullptr);
  EXPECT_EQ(strfill(nullptr, '0', 3), nullptr);
  EXPECT_EQ(StrFill(nullptr, '0', 3), nullptr);
  strsost(nullptr, 'a', 'b');
  RemoveChar(nullptr, 'a');
  ctol(5, nullptr);
  EXPECT_EQ(strzcpy(nullptr, "a", 4), nullptr);
  EXPECT_EQ(strquote(nullptr, "a"), nullptr);
  EXPECT_EQ(strsqlquote(nullptr, "a"), nullptr);
  auto buf = Room("zzz", 4);
  EXPECT_STREQ(strquote(buf.get(), nullptr), "");
  EXPECT_STREQ(strsqlquote(buf.get(), nullptr), "''");
  EXPECT_EQ(AllAlphaDigits(nullptr), 1);
  EXPECT_EQ(AllDigits(nullptr), 1);
  EXPECT_EQ(AllPrintable(nullptr), 1);
}

// Random texts through every function, each given exactly the room it is
// entitled to; run under the address sanitizer this catches any byte past it.
TEST(StringRoomTest, EveryFunctionStaysInsideTheRoomItIsGiven) {
  std::mt19937 rng(2024);
  const std::string alphabet = "  a Z19.,-'\"\\*?\t\xE0\x80\xC3";
  const std::string numeric = "    0123456789.,-";
  auto random_text = [&](const std::string& from, size_t max_len) {
    std::string s;
    size_t len = rng() % (max_len + 1);
    for (size_t i = 0; i < len; ++i) s += from[rng() % from.size()];
    return s;
  };
  auto strip = [](const std::string& s, const char* drop) {
    std::string out;
    for (char c : s) {
      if (std::strchr(drop, c) == nullptr) out += c;
    }
    return out;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string text = random_text(alphabet, 40);
    const size_t len = text.size();
    const int n = static_cast<int>(rng() % 45) - 4;
    const size_t width_room = std::max<size_t>(len, n < 0 ? 0 : n) + 1;

    for (auto fn : {strclip, strpreclip, strtrim, strcompact, strrotate, strproper,
                    strnocomma}) {
      auto buf = Room(text, len + 1);
      fn(buf.get());
    }
    {
      auto buf = Room(text, len + 1);
      strsost(buf.get(), ' ', '_');
      RemoveChar(buf.get(), 'a');
    }
    for (auto fn : {strpad, strleft, strright, strcenter}) {
      auto buf = Room(text, width_room);
      std::string out = fn(buf.get(), n);
      if (n < 0) {
        ASSERT_EQ(out, text);
      }
    }
    {
      auto buf = Room(text, width_room);
      std::string out = strpadwith(buf.get(), '0', n);
      if (n >= 0) {
        ASSERT_EQ(out.size(), static_cast<size_t>(n));
      }
      buf = Room(text, width_room);
      out = StrFill(buf.get(), '*', n);
      if (n >= 0) {
        ASSERT_EQ(out.size(), static_cast<size_t>(n));
      }
      if (n >= 0) {
        auto fill = std::make_unique<char[]>(n + 1);
        ASSERT_EQ(std::string(strfill(fill.get(), '#', n)), std::string(n, '#'));
      }
    }
    {
      // strzcpy: exactly n bytes; none at all for n <= 0.
      if (n > 0) {
        auto dst = std::make_unique<char[]>(n);
        strzcpy(dst.get(), text.c_str(), n);
        ASSERT_EQ(std::string(dst.get()), text.substr(0, n - 1));
      } else {
        char guard[2] = {'g', 'g'};
        strzcpy(guard, text.c_str(), n);
        ASSERT_EQ(guard[0], 'g');
      }
    }
    {
      size_t quotes = 0, singles = 0;
      for (char c : text) {
        quotes += (c == '"' || c == '\\');
        singles += (c == '\'');
      }
      auto dst = Room("", len + quotes + 1);
      std::string quoted = strquote(dst.get(), text.c_str());
      auto same = Room(text, len + quotes + 1);
      ASSERT_EQ(std::string(strquote(same.get(), same.get())), quoted);
      auto sql = Room("", len + 2 + singles + 1);
      std::string sq = strsqlquote(sql.get(), text.c_str());
      auto sql_same = Room(text, len + 2 + singles + 1);
      ASSERT_EQ(std::string(strsqlquote(sql_same.get(), sql_same.get())), sq);
    }
    {
      auto t = Room(text, len + 1);
      std::string pat = random_text(alphabet, 12);
      auto p = Room(pat, pat.size() + 1);
      Like(p.get(), t.get());
      Utf8Check(t.get());
      AllAlphaDigits(t.get());
      AllDigits(t.get());
      AllPrintable(t.get());
      endswith(t.get(), p.get());
    }
    {
      // Numbers: the width stays and no character but blanks and dots is
      // lost, moved out of order or duplicated.
      const std::string num = random_text(numeric, 20);
      auto buf = Room(num, num.size() + 1);
      std::string out = strcomma(buf.get());
      ASSERT_EQ(out.size(), num.size()) << "'" << num << "'";
      ASSERT_EQ(strip(out, " ."), strip(num, " .")) << "'" << num << "'";
    }
    {
      auto out = std::make_unique<char[]>(132);
      ctol(static_cast<double>(rng() % 1000000) * static_cast<double>(rng() % 1000000),
           out.get());
      ASSERT_LE(std::strlen(out.get()), 131u);
    }
  }
}

}  // namespace
