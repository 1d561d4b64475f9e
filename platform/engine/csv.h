// The engine's CSV table: cells by row and column, optional column names,
// read from and written to delimited text.
//
//   CkCsv csv;
//   csv.put_HasColumnNames(true);
//   csv.put_Delimiter("|");
//   csv.SetColumnName(0, "code");
//   csv.SetCell(0, 0, "A|1");                // saved as "A|1" in quotes
//   if (!csv.SaveFile("/srv/mirto/out/CLIENTI.CSV")) log(csv.LastErrorText());
//
// Cells are bytes as given (the library's Windows-1252 texts are written
// unconverted). A cell holding the delimiter, a double quote, a CR or a LF is
// written between double quotes with its quotes doubled, so every saved file
// reads back cell for cell; every line carries as many fields as the table
// has columns. One object is for one thread at a time.
#ifndef VKT_ENGINE_CSV_H_
#define VKT_ENGINE_CSV_H_

#include <string>
#include <string_view>
#include <vector>

#include "vkt_export.h"

class VKT_API CkCsv {
 public:
  // Tables larger than this are refused, so that a wild index cannot
  // exhaust memory.
  static constexpr int kMaxRows = 1 << 24;
  static constexpr int kMaxColumns = 1 << 14;

  CkCsv();

  // One character, not a double quote, CR or LF; false (and the delimiter
  // unchanged) otherwise. Default ",".
  bool put_Delimiter(std::string_view delimiter);
  std::string get_Delimiter() const { return std::string(1, delimiter_); }
  // The first line holds the column names, on load and on save. Default
  // false.
  void put_HasColumnNames(bool on) { has_names_ = on; }
  bool get_HasColumnNames() const { return has_names_; }
  // Lines end with CR-LF when saved (default true), else LF. Loading accepts
  // either, and a lone CR.
  void put_Crlf(bool on) { crlf_ = on; }
  bool get_Crlf() const { return crlf_; }
  // Loading trims blanks and tabs around unquoted cells. Default false.
  void put_AutoTrim(bool on) { auto_trim_ = on; }
  bool get_AutoTrim() const { return auto_trim_; }

  bool SetColumnName(int index, std::string_view name);
  // Empty when out of range.
  std::string GetColumnName(int index) const;
  // -1 when no column has that name.
  int GetIndex(std::string_view name) const;
  // The widest of the column names and the rows.
  int get_NumColumns() const;

  // Creates the row and column as needed. False for a negative or too large
  // index.
  bool SetCell(int row, int column, std::string_view text);
  bool SetCellByName(int row, std::string_view column_name, std::string_view text);
  // Empty when out of range.
  std::string GetCell(int row, int column) const;
  std::string GetCellByName(int row, std::string_view column_name) const;
  int get_NumRows() const { return static_cast<int>(rows_.size()); }
  // Forgets every row and column name; the options stay.
  void Clear();

  // Replace the table with the parsed text. False on an unterminated quoted
  // cell or a table too large; the table is then empty.
  bool LoadFromString(std::string_view text);
  bool LoadFile(const std::string& path);
  std::string SaveToString() const;
  // Replaces the file whole: written under a temporary name beside it and
  // renamed, so a failure leaves any earlier file as it was.
  bool SaveFile(const std::string& path);

  const std::string& LastErrorText() const { return last_error_; }

 private:
  bool Fail(std::string text);
  void AppendField(std::string* out, const std::string& field, int columns) const;

  char delimiter_ = ',';
  bool has_names_ = false;
  bool crlf_ = true;
  bool auto_trim_ = false;
  std::vector<std::string> names_;
  std::vector<std::vector<std::string>> rows_;
  std::string last_error_;
};

#endif  // VKT_ENGINE_CSV_H_
