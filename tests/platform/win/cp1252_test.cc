// Windows-1252 <-> UTF-8, and the framework string CString.
#include "win/cp1252.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "win/cstring.h"

namespace {

using vkt::win::Cp1252ToUnicode;
using vkt::win::Cp1252ToUtf8;
using vkt::win::UnicodeToCp1252;
using vkt::win::Utf8ToCp1252;

TEST(Cp1252Test, HighRangeMatchesTheWindowsTable) {
  EXPECT_EQ(Cp1252ToUnicode(0x80), U'\u20AC');  // euro
  EXPECT_EQ(Cp1252ToUnicode(0x85), U'\u2026');  // ellipsis
  EXPECT_EQ(Cp1252ToUnicode(0x8A), U'\u0160');
  EXPECT_EQ(Cp1252ToUnicode(0x91), U'\u2018');
  EXPECT_EQ(Cp1252ToUnicode(0x92), U'\u2019');
  EXPECT_EQ(Cp1252ToUnicode(0x96), U'\u2013');
  EXPECT_EQ(Cp1252ToUnicode(0x99), U'\u2122');
  EXPECT_EQ(Cp1252ToUnicode(0x9F), U'\u0178');
  // The five holes pass through as C1 controls.
  for (unsigned char hole : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    EXPECT_EQ(Cp1252ToUnicode(hole), static_cast<char32_t>(hole));
  }
  EXPECT_EQ(Cp1252ToUnicode(0xA0), U'\u00A0');
  EXPECT_EQ(Cp1252ToUnicode(0xE0), U'\u00E0');
  EXPECT_EQ(Cp1252ToUnicode(0xFF), U'\u00FF');
  // C1 code points that Windows-1252 replaced have no byte.
  EXPECT_EQ(UnicodeToCp1252(0x80), -1);
  EXPECT_EQ(UnicodeToCp1252(0x9F), -1);
  EXPECT_EQ(UnicodeToCp1252(0x20AC), 0x80);
  EXPECT_EQ(UnicodeToCp1252(0x0100), -1);
}

TEST(Cp1252Test, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::string utf8 = Cp1252ToUtf8(all);
  std::string back;
  EXPECT_TRUE(Utf8ToCp1252(utf8, &back));
  EXPECT_EQ(back, all);
  EXPECT_EQ(Cp1252ToUtf8("perch\xE9 \x80 5"), "perch\xC3\xA9 \xE2\x82\xAC 5");
  EXPECT_EQ(Cp1252ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Cp1252Test, UnmappableAndIllFormedInputIsReplacedAndReported) {
  std::string out = "old";
  // U+4E2D has no byte; 0xC0 0xAF is an overlong "/"; E2 82 is cut short.
  EXPECT_FALSE(Utf8ToCp1252("a\xE4\xB8\xAD" "b\xC0\xAF" "c\xE2\x82", &out));
  EXPECT_EQ(out, "a?b??c?");
  EXPECT_FALSE(Utf8ToCp1252("\xED\xA0\x80", &out, '#'));  // a surrogate
  EXPECT_EQ(out, "###");
  EXPECT_TRUE(Utf8ToCp1252("", &out));
  EXPECT_EQ(out, "");
  std::string s;
  vkt::win::AppendUtf8(0x110000, &s);
  EXPECT_EQ(s, "\xEF\xBF\xBD");
}

TEST(Cp1252Test, CaseMappingCoversAccentedLetters) {
  EXPECT_EQ(vkt::win::Cp1252ToUpper('\xE0'), '\xC0');  // à
  EXPECT_EQ(vkt::win::Cp1252ToUpper('\x9A'), '\x8A');  // š
  EXPECT_EQ(vkt::win::Cp1252ToUpper('\xFF'), '\x9F');  // ÿ
  EXPECT_EQ(vkt::win::Cp1252ToUpper('\xF7'), '\xF7');  // division sign
  EXPECT_EQ(vkt::win::Cp1252ToUpper('\xDF'), '\xDF');  // sharp s
  EXPECT_EQ(vkt::win::Cp1252ToLower('\xD7'), '\xD7');  // multiplication sign
  EXPECT_EQ(vkt::win::Cp1252ToLower('\xC8'), '\xE8');
  for (int b = 0; b < 256; ++b) {
    char c = static_cast<char>(b);
    char up = vkt::win::Cp1252ToUpper(c);
    if (up != c) {
      EXPECT_EQ(vkt::win::Cp1252ToLower(up), c) << b;
    }
  }
}

TEST(CStringTest, EditsFindAndSlicesClampLikeTheFramework) {
  CString s("O'Hara");
  EXPECT_EQ(s.Replace("'", "''"), 1);
  EXPECT_EQ(s, "O''Hara");
  EXPECT_EQ(s.Replace("", "x"), 0);
  EXPECT_EQ(s.Replace(nullptr, "x"), 0);
  CString a("aaa");
  EXPECT_EQ(a.Replace("a", "aa"), 3);  // replacements are not rescanned
  EXPECT_EQ(a, "aaaaaa");
  EXPECT_EQ(a.Replace("aa", nullptr), 3);
  EXPECT_TRUE(a.IsEmpty());

  CString t("abcdef");
  EXPECT_EQ(t.Left(2), "ab");
  EXPECT_EQ(t.Left(-1), "");
  EXPECT_EQ(t.Left(99), "abcdef");
  EXPECT_EQ(t.Mid(4), "ef");
  EXPECT_EQ(t.Mid(2, 2), "cd");
  EXPECT_EQ(t.Mid(5, 9), "f");
  EXPECT_EQ(t.Mid(9, 1), "");
  EXPECT_EQ(t.Mid(-3, 2), "ab");
  EXPECT_EQ(t.Right(2), "ef");
  EXPECT_EQ(t.Right(99), "abcdef");
  EXPECT_EQ(t.Find("cd"), 2);
  EXPECT_EQ(t.Find("cd", 3), -1);
  EXPECT_EQ(t.Find("a", 7), -1);
  EXPECT_EQ(t.Find('f'), 5);
  EXPECT_EQ(t.ReverseFind('a'), 0);
  EXPECT_EQ(t.FindOneOf("xdz"), 3);
  EXPECT_EQ(t.GetAt(10), '\0');
  EXPECT_EQ(t.Insert(3, "-"), 7);
  EXPECT_EQ(t, "abc-def");
  EXPECT_EQ(t.Delete(3), 6);
  EXPECT_EQ(t.Delete(5, 100), 5);
  EXPECT_EQ(t, "abcde");
  EXPECT_EQ(t.Remove('b'), 1);
  EXPECT_EQ(t, "acde");

  CString u("  \tPerch\xE9 ok\r\n");
  u.Trim();
  EXPECT_EQ(u, "Perch\xE9 ok");
  EXPECT_EQ(CString(u).MakeUpper(), "PERCH\xC9 OK");
  EXPECT_EQ(CString(u).MakeLower(), "perch\xE9 ok");
  EXPECT_EQ(CString("xxabxx").Trim('x'), "ab");
  EXPECT_EQ(CString("00120").TrimLeft('0'), "120");
  EXPECT_EQ(CString("   ").Trim(), "");
}

TEST(CStringTest, ConcatenationComparisonAndFormat) {
  CString s = CString("ab") + "cd" + 'e';
  s += CString("f");
  s += "g";
  s += static_cast<const char*>(nullptr);
  EXPECT_EQ(s, "abcdefg");
  EXPECT_EQ("x" + CString("y"), "xy");
  EXPECT_TRUE(CString("abc") == CString("abc"));
  EXPECT_TRUE(CString("abc") != "abd");
  EXPECT_TRUE(CString("abc") < "abd");
  EXPECT_TRUE(CString("\xE0") > CString("z"));  // bytes compare unsigned
  EXPECT_EQ(CString("Perch\xC9").CompareNoCase("PERCH\xE9"), 0);
  EXPECT_LT(CString("ab").CompareNoCase("ABC"), 0);
  EXPECT_EQ(CString(static_cast<const char*>(nullptr)), "");
  EXPECT_EQ(CString('-', 3), "---");

  CString f;
  f.Format("%-5s|%03d|%.2f", "ab", 7, 1.5);
  EXPECT_EQ(f, "ab   |007|1.50");
  f.Format("%s%s", f.GetString(), "!");  // formats from its own text
  EXPECT_EQ(f, "ab   |007|1.50!");
  std::string big(1000, 'z');
  f.Format("<%s>", big.c_str());
  EXPECT_EQ(f.GetLength(), 1002);
  f.AppendFormat("%d", 42);
  EXPECT_EQ(f.Right(3), ">42");
  EXPECT_STREQ(static_cast<const char*>(CString("q")), "q");
}

TEST(CStringTest, BufferForCCodeTakesTheWrittenLength) {
  CString s("old");
  char* p = s.GetBuffer(10);
  std::snprintf(p, 11, "%s", "0123456789");
  s.ReleaseBuffer();
  EXPECT_EQ(s, "0123456789");
  s.GetBuffer(0)[2] = '\0';
  s.ReleaseBuffer();
  EXPECT_EQ(s, "01");
  s.GetBuffer(5);
  s.ReleaseBuffer(1);
  EXPECT_EQ(s, "0");
  s.Empty();
  EXPECT_EQ(s.GetLength(), 0);
}

}  // namespace
