#include "engine/csv.h"

#include <algorithm>
#include <utility>

#include "engine/detail/files.h"

CkCsv::CkCsv() = default;

bool CkCsv::Fail(std::string text) {
  last_error_ = std::move(text);
  return false;
}

bool CkCsv::put_Delimiter(std::string_view delimiter) {
  if (delimiter.size() != 1 || delimiter[0] == '"' || delimiter[0] == '\r' ||
      delimiter[0] == '\n') {
    return Fail("the delimiter must be one character other than a quote or a line end");
  }
  delimiter_ = delimiter[0];
  return true;
}

bool CkCsv::SetColumnName(int index, std::string_view name) {
  if (index < 0 || index >= kMaxColumns) return Fail("column index out of range");
  if (static_cast<size_t>(index) >= names_.size()) names_.resize(static_cast<size_t>(index) + 1);
  names_[static_cast<size_t>(index)] = name;
  return true;
}

std::string CkCsv::GetColumnName(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= names_.size()) return {};
  return names_[static_cast<size_t>(index)];
}

int CkCsv::GetIndex(std::string_view name) const {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (names_[i] == name) return static_cast<int>(i);
  }
  return -1;
}

int CkCsv::get_NumColumns() const {
  size_t n = names_.size();
  for (const auto& row : rows_) n = std::max(n, row.size());
  return static_cast<int>(n);
}

bool CkCsv::SetCell(int row, int column, std::string_view text) {
  if (row < 0 || row >= kMaxRows) return Fail("row index out of range");
  if (column < 0 || column >= kMaxColumns) return Fail("column index out of range");
  const auto r = static_cast<size_t>(row), c = static_cast<size_t>(column);
  if (r >= rows_.size()) rows_.resize(r + 1);
  auto& cells = rows_[r];
  if (c >= cells.size()) cells.resize(c + 1);
  cells[c] = text;
  return true;
}

bool CkCsv::SetCellByName(int row, std::string_view column_name, std::string_view text) {
  int column = GetIndex(column_name);
  if (column < 0) return Fail("no column named " + std::string(column_name));
  return SetCell(row, column, text);
}

std::string CkCsv::GetCell(int row, int column) const {
  if (row < 0 || column < 0 || static_cast<size_t>(row) >= rows_.size()) return {};
  const auto& cells = rows_[static_cast<size_t>(row)];
  if (static_cast<size_t>(column) >= cells.size()) return {};
  return cells[static_cast<size_t>(column)];
}

std::string CkCsv::GetCellByName(int row, std::string_view column_name) const {
  int column = GetIndex(column_name);
  return column < 0 ? std::string() : GetCell(row, column);
}

void CkCsv::Clear() {
  names_.clear();
  rows_.clear();
}

void CkCsv::AppendField(std::string* out, const std::string& field, int columns) const {
  bool quote = field.find_first_of(std::string{delimiter_, '"', '\r', '\n'}) != std::string::npos;
  // A lone empty field would make an empty line, which reads as no row.
  if (field.empty() && columns == 1) quote = true;
  if (!quote) {
    *out += field;
    return;
  }
  *out += '"';
  for (char c : field) {
    if (c == '"') *out += '"';
    *out += c;
  }
  *out += '"';
}

std::string CkCsv::SaveToString() const {
  const int columns = get_NumColumns();
  const char* eol = crlf_ ? "\r\n" : "\n";
  static const std::string kEmpty;
  std::string out;
  auto line = [&](const std::vector<std::string>& cells) {
    for (int c = 0; c < columns; ++c) {
      if (c > 0) out += delimiter_;
      const auto i = static_cast<size_t>(c);
      AppendField(&out, i < cells.size() ? cells[i] : kEmpty, columns);
    }
    out += eol;
  };
  if (columns == 0) return out;
  if (has_names_) line(names_);
  for (const auto& row : rows_) line(row);
  return out;
}

bool CkCsv::SaveFile(const std::string& path) {
  std::string error;
  if (!vkt::engine::detail::WriteFileAtomic(path, SaveToString(), &error)) return Fail(error);
  return true;
}

bool CkCsv::LoadFromString(std::string_view text) {
  Clear();
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> cells;
  std::string field;
  bool quoted = false;     // the current field began with a quote
  bool in_quotes = false;  // inside its quotes now
  bool line_has_content = false;
  int line_number = 1;
  auto trim = [&](std::string& s) {
    if (!auto_trim_ || quoted) return;
    size_t b = s.find_first_not_of(" \t");
    size_t e = s.find_last_not_of(" \t");
    s = b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
  };
  auto end_field = [&] {
    trim(field);
    if (cells.size() >= static_cast<size_t>(kMaxColumns)) return false;
    cells.push_back(std::move(field));
    field.clear();
    quoted = false;
    return true;
  };
  auto end_line = [&] {
    if (line_has_content) {
      if (!end_field()) return false;
      if (rows.size() >= static_cast<size_t>(kMaxRows) + (has_names_ ? 1 : 0)) return false;
      rows.push_back(std::move(cells));
    }
    cells.clear();
    field.clear();
    quoted = false;
    line_has_content = false;
    ++line_number;
    return true;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_quotes) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          in_quotes = false;
        }
      } else {
        if (c == '\n') ++line_number;
        field += c;
      }
      continue;
    }
    if (c == '"' && field.find_first_not_of(" \t") == std::string::npos && !quoted) {
      // A quote opens a quoted field only at its start (blanks before it are
      // dropped); anywhere else it is an ordinary character.
      field.clear();
      quoted = in_quotes = line_has_content = true;
    } else if (c == delimiter_) {
      line_has_content = true;
      if (!end_field()) return Fail("too many columns at line " + std::to_string(line_number));
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      if (!end_line()) return Fail("table too large at line " + std::to_string(line_number));
    } else {
      field += c;
      line_has_content = true;
    }
  }
  if (in_quotes) {
    Clear();
    return Fail("unterminated quoted field at line " + std::to_string(line_number));
  }
  if (!end_line()) return Fail("table too large");
  if (has_names_ && !rows.empty()) {
    names_ = std::move(rows.front());
    rows.erase(rows.begin());
  }
  rows_ = std::move(rows);
  return true;
}

bool CkCsv::LoadFile(const std::string& path) {
  std::string data, error;
  if (!vkt::engine::detail::ReadWholeFile(path, &data, &error)) {
    Clear();
    return Fail(error);
  }
  return LoadFromString(data);
}
