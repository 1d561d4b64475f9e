// The CSV table: the export's "|" files, quoting of awkward cells, reading
// back, and file replacement.
#include "engine/csv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct TempDir {
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "vkt-csv-XXXXXX").string();
    path = mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(path); }
  std::string path;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(CkCsvTest, SavesNamedColumnsWithThePipeDelimiterAndCrLf) {
  TempDir dir;
  CkCsv csv;
  csv.put_HasColumnNames(true);
  csv.put_Crlf(true);
  ASSERT_TRUE(csv.put_Delimiter("|"));
  csv.SetColumnName(0, "codice");
  csv.SetColumnName(1, "nome");
  csv.SetColumnName(2, "data");
  csv.SetCell(0, 0, "1");
  csv.SetCell(0, 1, "Citt\xE0 di Castello");
  csv.SetCell(0, 2, "03/02/2025");
  csv.SetCell(1, 0, "2");  // a short row gets empty fields
  const std::string file = dir.path + "/CLIENTI.CSV";
  ASSERT_TRUE(csv.SaveFile(file)) << csv.LastErrorText();
  EXPECT_EQ(Slurp(file),
            "codice|nome|data\r\n"
            "1|Citt\xE0 di Castello|03/02/2025\r\n"
            "2||\r\n");
  csv.put_Crlf(false);
  EXPECT_EQ(csv.SaveToString().substr(0, 17), "codice|nome|data\n");
}

TEST(CkCsvTest, QuotesCellsHoldingTheDelimiterQuotesOrLineBreaksAndReadsThemBack) {
  CkCsv csv;
  ASSERT_TRUE(csv.put_Delimiter("|"));
  const std::string awkward[] = {"a|b", "say \"hi\"", "two\r\nlines", "lf\nonly", "C:\\dir\\\\x",
                                 "plain", ""};
  for (int i = 0; i < 7; ++i) csv.SetCell(0, i, awkward[i]);
  const std::string text = csv.SaveToString();
  EXPECT_EQ(text,
            "\"a|b\"|\"say \"\"hi\"\"\"|\"two\r\nlines\"|\"lf\nonly\"|C:\\dir\\\\x|plain|\r\n");
  CkCsv back;
  ASSERT_TRUE(back.put_Delimiter("|"));
  ASSERT_TRUE(back.LoadFromString(text)) << back.LastErrorText();
  ASSERT_EQ(back.get_NumRows(), 1);
  ASSERT_EQ(back.get_NumColumns(), 7);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(back.GetCell(0, i), awkward[i]) << i;

  // A one-column table with an empty cell must not save as a blank line.
  CkCsv one;
  one.SetCell(0, 0, "x");
  one.SetCell(1, 0, "");
  one.SetCell(2, 0, "y");
  ASSERT_TRUE(back.put_Delimiter(","));
  ASSERT_TRUE(back.LoadFromString(one.SaveToString()));
  EXPECT_EQ(back.get_NumRows(), 3);
  EXPECT_EQ(back.GetCell(2, 0), "y");
}

TEST(CkCsvTest, LoadsHeadersLineEndsAndTrimsAndRefusesUnterminatedQuotes) {
  CkCsv csv;
  csv.put_HasColumnNames(true);
  csv.put_AutoTrim(true);
  ASSERT_TRUE(csv.LoadFromString("id, name \r\n1, Rossi \n\n2,\" Bianchi \"\r3,x"));
  EXPECT_EQ(csv.GetColumnName(1), "name");
  EXPECT_EQ(csv.GetIndex("name"), 1);
  EXPECT_EQ(csv.GetIndex("nope"), -1);
  ASSERT_EQ(csv.get_NumRows(), 3);  // the blank line is no row
  EXPECT_EQ(csv.GetCellByName(0, "name"), "Rossi");
  EXPECT_EQ(csv.GetCell(1, 1), " Bianchi ");  // quoted blanks stay
  EXPECT_EQ(csv.GetCell(2, 1), "x");
  EXPECT_EQ(csv.GetCell(9, 9), "");

  EXPECT_FALSE(csv.LoadFromString("a,\"open\nb,c"));
  EXPECT_NE(csv.LastErrorText().find("unterminated"), std::string::npos);
  EXPECT_EQ(csv.get_NumRows(), 0);
}

TEST(CkCsvTest, RefusesBadIndexesAndDelimitersAndKeepsTheOldFileOnFailure) {
  TempDir dir;
  CkCsv csv;
  EXPECT_FALSE(csv.SetCell(-1, 0, "x"));
  EXPECT_FALSE(csv.SetCell(0, CkCsv::kMaxColumns, "x"));
  EXPECT_FALSE(csv.SetCell(CkCsv::kMaxRows, 0, "x"));
  EXPECT_FALSE(csv.SetColumnName(-1, "x"));
  EXPECT_FALSE(csv.SetCellByName(0, "missing", "x"));
  EXPECT_FALSE(csv.put_Delimiter("\""));
  EXPECT_FALSE(csv.put_Delimiter("||"));
  EXPECT_FALSE(csv.put_Delimiter("\n"));
  EXPECT_EQ(csv.get_Delimiter(), ",");

  const std::string file = dir.path + "/OUT.CSV";
  csv.SetCell(0, 0, "first");
  ASSERT_TRUE(csv.SaveFile(file));
  csv.SetCell(0, 0, "second");
  EXPECT_FALSE(csv.SaveFile(dir.path + "/missing/OUT.CSV"));
  EXPECT_FALSE(csv.LastErrorText().empty());
  EXPECT_EQ(Slurp(file), "first\r\n");
  ASSERT_TRUE(csv.SaveFile(file));
  EXPECT_EQ(Slurp(file), "second\r\n");
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir.path)) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);  // no temporary left behind

  CkCsv loaded;
  ASSERT_TRUE(loaded.LoadFile(file));
  EXPECT_EQ(loaded.GetCell(0, 0), "second");
  EXPECT_FALSE(loaded.LoadFile(dir.path + "/none.csv"));
}

}  // namespace
