// A parsed report definition (the file format is described in report.h).
#ifndef VKT_REPORT_DETAIL_DEFINITION_H_
#define VKT_REPORT_DETAIL_DEFINITION_H_

#include <memory>
#include <string>
#include <vector>

#include "report/report.h"

namespace vkt::report::detail {

struct ColumnDef {
  double width_mm = 20;
  std::string heading;
  std::string expr;
  int decimals = -1;  // -1: as the value needs
};

struct FormulaDef {
  std::string name;
  std::string text;
};

struct LinkDef {
  std::string from_table, from_field, to_table, to_field;
};

struct Definition {
  std::string name;
  Summary summary;
  std::vector<TableInfo> tables;
  std::vector<LinkDef> links;
  std::vector<ParameterInfo> params;
  std::vector<FormulaDef> formulas;
  std::vector<ColumnDef> columns;
  std::vector<std::string> groups;
  std::vector<std::pair<std::string, bool>> sorts;  // expression, descending
  std::string select;
  std::vector<std::unique_ptr<Definition>> subs;
};

// Largest definition file read, and longest line.
constexpr size_t kMaxDefinitionBytes = 4u << 20;
constexpr size_t kMaxLineBytes = 65536;

// False with "line N: reason".
bool ParseDefinition(const std::string& text, Definition* out, std::string* why);

}  // namespace vkt::report::detail

#endif  // VKT_REPORT_DETAIL_DEFINITION_H_
