// The formula language of the report runtime (see report.h): parsing into
// a tree, resolving names against the bound data, evaluating per row.
#ifndef VKT_REPORT_DETAIL_FORMULA_H_
#define VKT_REPORT_DETAIL_FORMULA_H_

#include <memory>
#include <string>
#include <vector>

#include "report/report.h"

namespace vkt::report::detail {

struct Node {
  enum Op { kLit, kField, kFormula, kParam, kNot, kNeg, kAnd, kOr, kCmp, kAdd, kSub, kMul, kDiv, kCat };
  Op op = kLit;
  Value lit;
  std::string table, name;  // references: {table.name}, {@name}, {?name}
  std::string cmp;          // "=", "<>", "<", "<=", ">", ">="
  std::unique_ptr<Node> a, b;
  int slot = -1;                 // resolved column of a field
  const Node* target = nullptr;  // resolved formula
  int height = 1;
};

// Parses a whole expression; null with the reason (and the character
// position) for anything it cannot read.
std::unique_ptr<Node> ParseFormula(const std::string& text, std::string* why);

class Resolver {
 public:
  virtual ~Resolver() = default;
  // Column of the field in the row, -1 when unknown.
  virtual int Field(const std::string& table, const std::string& name) = 0;
  // The formula's tree (resolved on demand), null when unknown or cyclic.
  virtual const Node* Formula(const std::string& name, std::string* why) = 0;
  // The parameter's value; false when unknown or without a value.
  virtual bool Param(const std::string& name, Value* out, std::string* why) = 0;
};

// Binds every reference of the tree; false with the reason.
bool Resolve(Node* node, Resolver* resolver, std::string* why);

// The value of a resolved tree for one row.
Value Eval(const Node* node, const std::vector<Value>& row);

// Three-way comparison used by sorting: nulls first, then by kind.
int CompareValues(const Value& x, const Value& y);

// Every field reference of a tree, as "table.name".
void CollectFields(const Node* node, std::vector<std::pair<std::string, std::string>>* out);

// Lower-case ASCII copy (names match without case).
std::string Lower(std::string s);

}  // namespace vkt::report::detail

#endif  // VKT_REPORT_DETAIL_FORMULA_H_
