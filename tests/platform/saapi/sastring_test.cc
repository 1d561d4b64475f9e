// The SQL client's 8-bit string.
#include "saapi/sastring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(SAStringTest, ConstructionKeepsBytes) {
  EXPECT_TRUE(SAString().IsEmpty());
  EXPECT_TRUE(SAString(static_cast<const char*>(nullptr)).IsEmpty());
  EXPECT_EQ(SAString("perch\xE9"), "perch\xE9");
  SAString nul("a\0b", 3);
  EXPECT_EQ(nul.GetLength(), 3u);
  EXPECT_NE(nul, SAString("a"));  // the bytes after the NUL count
  EXPECT_EQ(nul, SAString(std::string("a\0b", 3)));
  EXPECT_EQ(SAString('-', 3), "---");
  SAString s = "abc";
  s = static_cast<const char*>(nullptr);
  EXPECT_TRUE(s.IsEmpty());
  s = "xyz";
  EXPECT_STREQ(static_cast<const char*>(s), "xyz");
  EXPECT_STREQ(s.GetMultiByteChars(), "xyz");
  s.Empty();
  EXPECT_EQ(s.GetLength(), 0u);
}

TEST(SAStringTest, FormatHandlesLongResults) {
  SAString s;
  s.Format("%s-%05d-%c", "id", 42, 'x');
  EXPECT_EQ(s, "id-00042-x");
  const std::string big(1000, 'q');
  s.Format("[%s]", big.c_str());
  EXPECT_EQ(s.GetLength(), 1002u);
  EXPECT_EQ(s.Left(2), "[q");
  EXPECT_EQ(s.Right(2), "q]");
  s.Format("%s", "");
  EXPECT_TRUE(s.IsEmpty());
}

TEST(SAStringTest, SubstringsClampToTheText) {
  const SAString s("abcdef");
  EXPECT_EQ(s.Left(3), "abc");
  EXPECT_EQ(s.Left(99), "abcdef");
  EXPECT_EQ(s.Right(2), "ef");
  EXPECT_EQ(s.Right(99), "abcdef");
  EXPECT_EQ(s.Mid(4), "ef");
  EXPECT_EQ(s.Mid(6), "");
  EXPECT_EQ(s.Mid(99), "");
  EXPECT_EQ(s.Mid(1, 2), "bc");
  EXPECT_EQ(s.Mid(5, 99), "f");
  EXPECT_EQ(s.GetAt(0), 'a');
  EXPECT_EQ(s.GetAt(6), '\0');
  EXPECT_EQ(s.Find('d'), 3);
  EXPECT_EQ(s.Find('d', 4), -1);
  EXPECT_EQ(s.Find("cd"), 2);
  EXPECT_EQ(s.Find("cd", 99), -1);
  EXPECT_EQ(s.Find("zz"), -1);
  EXPECT_EQ(SAString("a.b.c").ReverseFind('.'), 3);
}

TEST(SAStringTest, EditingInPlace) {
  SAString q("select * from admin.t join admin.u");
  EXPECT_EQ(q.Replace("admin.", "c001."), 2);
  EXPECT_EQ(q, "select * from c001.t join c001.u");
  SAString a("aaa");
  EXPECT_EQ(a.Replace("aa", "b"), 1);  // left to right, no overlap
  EXPECT_EQ(a, "ba");
  SAString grow("aXa");
  EXPECT_EQ(grow.Replace("a", "aa"), 2);  // replacements are not rescanned
  EXPECT_EQ(grow, "aaXaa");
  EXPECT_EQ(grow.Replace("", "z"), 0);
  EXPECT_EQ(grow.Replace(nullptr, "z"), 0);
  EXPECT_EQ(grow.Replace("X", nullptr), 1);
  EXPECT_EQ(grow, "aaaa");
  EXPECT_EQ(grow.Replace('a', 'b'), 4);

  SAString s("held");
  EXPECT_EQ(s.Insert(0, "Hello "), 10u);
  EXPECT_EQ(s.Insert(99, '!'), 11u);
  EXPECT_EQ(s, "Hello held!");
  EXPECT_EQ(s.Delete(5, 5), 6u);
  EXPECT_EQ(s, "Hello!");
  EXPECT_EQ(s.Delete(99, 1), 6u);
  EXPECT_EQ(s.Remove('l'), 2);
  EXPECT_EQ(s, "Heo!");

  SAString c("Citt\xE0 Ab1");
  c.MakeUpper();
  EXPECT_EQ(c, "CITT\xE0 AB1");  // bytes above 127 untouched
  c.MakeLower();
  EXPECT_EQ(c, "citt\xE0 ab1");
  EXPECT_EQ(SAString("abc").MakeReverse(), "cba");

  SAString t(" \t x y \r\n");
  t.TrimRight();
  EXPECT_EQ(t, " \t x y");
  t.TrimLeft();
  EXPECT_EQ(t, "x y");
  SAString z("00120");
  z.TrimLeft('0');
  EXPECT_EQ(z, "120");
  z.TrimRight("02");
  EXPECT_EQ(z, "1");
  SAString all("    ");
  EXPECT_TRUE(all.Trim().IsEmpty());

  SAString b;
  char* p = b.GetBuffer(10);
  std::strcpy(p, "filled");
  b.ReleaseBuffer();
  EXPECT_EQ(b, "filled");
  EXPECT_EQ(b.GetLength(), 6u);
  b.GetBuffer(2);  // never shrinks below the text
  b.ReleaseBuffer(3);
  EXPECT_EQ(b, "fil");
}

TEST(SAStringTest, ConcatenationAndOrder) {
  SAString s("ab");
  s += "cd";
  s += SAString("ef");
  s += 'g';
  EXPECT_EQ(s, "abcdefg");
  EXPECT_EQ(SAString("x") + "y", "xy");
  EXPECT_EQ("x" + SAString("y"), "xy");
  EXPECT_EQ(SAString("x") + 'y', "xy");
  EXPECT_EQ('x' + SAString("y"), "xy");
  EXPECT_EQ(SAString("x") + SAString("y"), "xy");
  EXPECT_EQ(SAString("x") + static_cast<const char*>(nullptr), "x");

  // Bytes compare unsigned: an accented letter sorts after ASCII.
  EXPECT_LT(SAString("z"), SAString("\xE0"));
  EXPECT_GT("\xE0", SAString("z"));
  EXPECT_LT(SAString("ab"), "abc");
  EXPECT_LE(SAString("ab"), "ab");
  EXPECT_GE("b", SAString("ab"));
  EXPECT_TRUE("ab" == SAString("ab"));
  EXPECT_TRUE(SAString("ab") != "aB");
  EXPECT_EQ(SAString("ab").CompareNoCase("AB"), 0);
  EXPECT_LT(SAString("ab").Compare("abc"), 0);
  EXPECT_EQ(SAString("").Compare(static_cast<const char*>(nullptr)), 0);
  EXPECT_LT(SAString("a", 1).Compare(SAString("a\0", 2)), 0);
}

}  // namespace
