#include "report/detail/formula.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vkt::report::detail {
namespace {

// Trees taller than this would make evaluation recurse too deep; long
// chains of one operator ("1+1+...") grow the tree without nesting.
constexpr int kMaxHeight = 256;
constexpr size_t kMaxText = 65536;
constexpr size_t kMaxNumberChars = 40;
constexpr double kMaxNumber = 1e15;

bool IEq(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::unique_ptr<Node> Make(Node::Op op) {
  auto n = std::make_unique<Node>();
  n->op = op;
  return n;
}

class Parser {
 public:
  explicit Parser(const std::string& t) : t_(t) {}

  std::unique_ptr<Node> Run(std::string* why) {
    if (t_.size() > kMaxText) {
      *why = "The formula is too long";
      return nullptr;
    }
    auto n = Or();
    Skip();
    if (n && i_ < t_.size()) Fail("The remaining text is not part of the formula");
    if (!err_.empty()) {
      *why = err_ + " (position " + std::to_string(err_pos_ + 1) + ")";
      return nullptr;
    }
    return n;
  }

 private:
  void Fail(const std::string& what) {
    if (err_.empty()) {
      err_ = what;
      err_pos_ = i_;
    }
  }
  bool Failed() const { return !err_.empty(); }
  void Skip() {
    while (i_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[i_]))) ++i_;
  }
  bool Peek(const char* s) {
    Skip();
    return t_.compare(i_, std::strlen(s), s) == 0;
  }
  bool Eat(const char* s) {
    if (!Peek(s)) return false;
    i_ += std::strlen(s);
    return true;
  }
  // A keyword: the word, not the start of a longer name.
  bool EatWord(const char* w) {
    Skip();
    size_t n = std::strlen(w);
    if (i_ + n > t_.size()) return false;
    std::string word = t_.substr(i_, n);
    if (!IEq(word, w)) return false;
    if (i_ + n < t_.size() && (std::isalnum(static_cast<unsigned char>(t_[i_ + n])) || t_[i_ + n] == '_'))
      return false;
    i_ += n;
    return true;
  }
  // Guards every recursive descent.
  struct Depth {
    explicit Depth(Parser* p) : p_(p) {
      if (++p_->depth_ > kMaxFormulaDepth) p_->Fail("The formula is nested too deeply");
    }
    ~Depth() { --p_->depth_; }
    Parser* p_;
  };
  std::unique_ptr<Node> Join(Node::Op op, std::unique_ptr<Node> a, std::unique_ptr<Node> b) {
    if (!a || !b) return nullptr;
    auto n = Make(op);
    n->height = 1 + std::max(a->height, b->height);
    if (n->height > kMaxHeight) {
      Fail("The formula is too complex");
      // Keep the chain from growing: the error is final anyway.
    }
    n->a = std::move(a);
    n->b = std::move(b);
    return n;
  }
  std::unique_ptr<Node> Or() {
    auto n = And();
    while (n && !Failed() && EatWord("or")) n = Join(Node::kOr, std::move(n), And());
    return Failed() ? nullptr : std::move(n);
  }
  std::unique_ptr<Node> And() {
    auto n = Not();
    while (n && !Failed() && EatWord("and")) n = Join(Node::kAnd, std::move(n), Not());
    return Failed() ? nullptr : std::move(n);
  }
  std::unique_ptr<Node> Not() {
    if (EatWord("not")) {
      Depth d(this);
      if (Failed()) return nullptr;
      auto a = Not();
      if (!a) return nullptr;
      auto n = Make(Node::kNot);
      n->height = a->height + 1;
      n->a = std::move(a);
      return n;
    }
    return Cmp();
  }
  std::unique_ptr<Node> Cmp() {
    auto a = Add();
    if (!a) return nullptr;
    static const char* const kOps[] = {"<>", "<=", ">=", "=", "<", ">"};
    for (const char* op : kOps) {
      if (Eat(op)) {
        auto n = Join(Node::kCmp, std::move(a), Add());
        if (n) n->cmp = op;
        return Failed() ? nullptr : std::move(n);
      }
    }
    return a;
  }
  std::unique_ptr<Node> Add() {
    auto n = Mul();
    while (n && !Failed()) {
      if (Eat("+")) n = Join(Node::kAdd, std::move(n), Mul());
      else if (Eat("-")) n = Join(Node::kSub, std::move(n), Mul());
      else if (Eat("&")) n = Join(Node::kCat, std::move(n), Mul());
      else break;
    }
    return Failed() ? nullptr : std::move(n);
  }
  std::unique_ptr<Node> Mul() {
    auto n = Unary();
    while (n && !Failed()) {
      if (Eat("*")) n = Join(Node::kMul, std::move(n), Unary());
      else if (Eat("/")) n = Join(Node::kDiv, std::move(n), Unary());
      else break;
    }
    return Failed() ? nullptr : std::move(n);
  }
  std::unique_ptr<Node> Unary() {
    if (Eat("-")) {
      Depth d(this);
      if (Failed()) return nullptr;
      auto a = Unary();
      if (!a) return nullptr;
      auto n = Make(Node::kNeg);
      n->height = a->height + 1;
      n->a = std::move(a);
      return n;
    }
    return Primary();
  }
  std::unique_ptr<Node> Literal(Value v) {
    auto n = Make(Node::kLit);
    n->lit = std::move(v);
    return n;
  }
  bool Number(double* out) {
    Skip();
    size_t start = i_;
    while (i_ < t_.size() && (std::isdigit(static_cast<unsigned char>(t_[i_])) || t_[i_] == '.')) ++i_;
    std::string s = t_.substr(start, i_ - start);
    if (s.empty() || s == ".") {
      i_ = start;
      Fail("A number is expected here");
      return false;
    }
    if (s.size() > kMaxNumberChars || std::count(s.begin(), s.end(), '.') > 1) {
      i_ = start;
      Fail("The number is not valid");
      return false;
    }
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (!std::isfinite(v) || v > kMaxNumber) {
      i_ = start;
      Fail("The number is too large");
      return false;
    }
    *out = v;
    return true;
  }
  std::unique_ptr<Node> DateLiteral() {
    // #yyyy-mm-dd#
    size_t start = i_;
    size_t close = t_.find('#', i_ + 1);
    if (close == std::string::npos || close - i_ > 12) {
      Fail("The date literal is not closed");
      return nullptr;
    }
    std::string body = t_.substr(i_ + 1, close - i_ - 1);
    int y = 0, m = 0, d = 0;
    char c1 = 0, c2 = 0;
    int used = 0;
    if (std::sscanf(body.c_str(), "%4d%c%2d%c%2d%n", &y, &c1, &m, &c2, &d, &used) != 5 ||
        used != static_cast<int>(body.size()) || c1 != '-' || c2 != '-' || !IsCivilDate(y, m, d)) {
      i_ = start;
      Fail("The date is not valid");
      return nullptr;
    }
    i_ = close + 1;
    return Literal(Value::DateYmd(y, m, d));
  }
  std::unique_ptr<Node> DateCall() {
    // Date(y, m, d) with literal parts.
    double p[3];
    if (!Eat("(")) {
      Fail("'(' is expected after Date");
      return nullptr;
    }
    for (int k = 0; k < 3; ++k) {
      if (k > 0 && !Eat(",")) {
        Fail("',' is expected");
        return nullptr;
      }
      if (!Number(&p[k])) return nullptr;
    }
    if (!Eat(")")) {
      Fail("')' is expected");
      return nullptr;
    }
    if (!IsCivilDate(static_cast<int>(p[0]), static_cast<int>(p[1]), static_cast<int>(p[2])) ||
        p[0] != std::floor(p[0]) || p[1] != std::floor(p[1]) || p[2] != std::floor(p[2])) {
      Fail("The date is not valid");
      return nullptr;
    }
    return Literal(Value::DateYmd(static_cast<int>(p[0]), static_cast<int>(p[1]), static_cast<int>(p[2])));
  }
  std::unique_ptr<Node> Text(char quote) {
    std::string s;
    size_t start = i_;
    ++i_;
    for (;;) {
      if (i_ >= t_.size()) {
        i_ = start;
        Fail("The text is not closed");
        return nullptr;
      }
      if (t_[i_] == quote) {
        if (i_ + 1 < t_.size() && t_[i_ + 1] == quote) {
          s += quote;
          i_ += 2;
          continue;
        }
        ++i_;
        break;
      }
      s += t_[i_++];
    }
    return Literal(Value::Text(std::move(s)));
  }
  static bool NameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ' ' || c == '-' ||
           static_cast<unsigned char>(c) >= 0x80;
  }
  std::unique_ptr<Node> Reference() {
    size_t start = i_;
    size_t close = t_.find_first_of("}{\n", i_ + 1);
    if (close == std::string::npos || t_[close] != '}') {
      i_ = start;
      Fail("The closing brace is missing");
      return nullptr;
    }
    std::string body = t_.substr(i_ + 1, close - i_ - 1);
    i_ = close + 1;
    std::unique_ptr<Node> n;
    std::string name;
    if (!body.empty() && (body[0] == '@' || body[0] == '?')) {
      n = Make(body[0] == '@' ? Node::kFormula : Node::kParam);
      name = body.substr(1);
    } else {
      size_t dot = body.find('.');
      if (dot == std::string::npos || dot == 0) {
        i_ = start;
        Fail("A field is written {table.field}");
        return nullptr;
      }
      n = Make(Node::kField);
      n->table = body.substr(0, dot);
      name = body.substr(dot + 1);
    }
    if (name.empty() || name.size() > 128 ||
        !std::all_of(name.begin(), name.end(), NameChar) ||
        !std::all_of(n->table.begin(), n->table.end(), NameChar)) {
      i_ = start;
      Fail("The name in braces is not valid");
      return nullptr;
    }
    n->name = name;
    return n;
  }
  std::unique_ptr<Node> Primary() {
    Skip();
    if (i_ >= t_.size()) {
      Fail("The formula ends too soon");
      return nullptr;
    }
    char c = t_[i_];
    if (c == '(') {
      Depth d(this);
      if (Failed()) return nullptr;
      ++i_;
      auto n = Or();
      if (!n) return nullptr;
      if (!Eat(")")) {
        Fail("The closing parenthesis is missing");
        return nullptr;
      }
      return n;
    }
    if (c == '{') return Reference();
    if (c == '"' || c == '\'') return Text(c);
    if (c == '#') return DateLiteral();
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
      double v = 0;
      if (!Number(&v)) return nullptr;
      return Literal(Value::Number(v));
    }
    if (EatWord("true")) return Literal(Value::Bool(true));
    if (EatWord("false")) return Literal(Value::Bool(false));
    if (EatWord("date")) return DateCall();
    Fail("A value, a field or '(' is expected here");
    return nullptr;
  }

  const std::string& t_;
  size_t i_ = 0;
  int depth_ = 0;
  std::string err_;
  size_t err_pos_ = 0;
};

// Texts compare with trailing blanks ignored, as fixed-width fields hold them.
std::string_view Clip(const std::string& s) {
  std::string_view v(s);
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  return v;
}

}  // namespace

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::unique_ptr<Node> ParseFormula(const std::string& text, std::string* why) {
  Parser p(text);
  return p.Run(why);
}

bool Resolve(Node* n, Resolver* r, std::string* why) {
  if (n == nullptr) return true;
  switch (n->op) {
    case Node::kField:
      n->slot = r->Field(n->table, n->name);
      if (n->slot < 0) {
        *why = "The field {" + n->table + "." + n->name + "} is not known";
        return false;
      }
      return true;
    case Node::kFormula:
      n->target = r->Formula(n->name, why);
      return n->target != nullptr;
    case Node::kParam: {
      Value v;
      if (!r->Param(n->name, &v, why)) return false;
      n->op = Node::kLit;
      n->lit = v;
      return true;
    }
    default:
      return Resolve(n->a.get(), r, why) && Resolve(n->b.get(), r, why);
  }
}

int CompareValues(const Value& x, const Value& y) {
  if (x.kind == Kind::kNull || y.kind == Kind::kNull)
    return (x.kind == Kind::kNull ? 0 : 1) - (y.kind == Kind::kNull ? 0 : 1);
  const bool xt = x.kind == Kind::kText, yt = y.kind == Kind::kText;
  if (xt && yt) {
    int c = Clip(x.text).compare(Clip(y.text));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  if (xt != yt) return xt ? 1 : -1;
  return x.num < y.num ? -1 : (x.num > y.num ? 1 : 0);
}

namespace {
bool Comparable(const Value& x, const Value& y) {
  auto cls = [](Kind k) { return k == Kind::kBool ? Kind::kNumber : k; };
  return cls(x.kind) == cls(y.kind);
}
}  // namespace

Value Eval(const Node* n, const std::vector<Value>& row) {
  switch (n->op) {
    case Node::kLit:
      return n->lit;
    case Node::kField:
      return n->slot >= 0 && static_cast<size_t>(n->slot) < row.size() ? row[static_cast<size_t>(n->slot)]
                                                                       : Value();
    case Node::kFormula:
      return n->target != nullptr ? Eval(n->target, row) : Value();
    case Node::kParam:
      return Value();
    case Node::kNot:
      return Value::Bool(!Eval(n->a.get(), row).Truthy());
    case Node::kAnd:
      return Value::Bool(Eval(n->a.get(), row).Truthy() && Eval(n->b.get(), row).Truthy());
    case Node::kOr:
      return Value::Bool(Eval(n->a.get(), row).Truthy() || Eval(n->b.get(), row).Truthy());
    case Node::kNeg: {
      Value a = Eval(n->a.get(), row);
      if (a.kind != Kind::kNumber) return Value();
      return Value::Number(-a.num);
    }
    case Node::kCmp: {
      Value x = Eval(n->a.get(), row), y = Eval(n->b.get(), row);
      if (x.kind == Kind::kNull || y.kind == Kind::kNull) return Value::Bool(false);
      if (!Comparable(x, y)) return Value::Bool(n->cmp == "<>");
      int c = CompareValues(x, y);
      const std::string& op = n->cmp;
      bool r = op == "=" ? c == 0 : op == "<>" ? c != 0 : op == "<" ? c < 0 : op == "<=" ? c <= 0
             : op == ">" ? c > 0 : c >= 0;
      return Value::Bool(r);
    }
    case Node::kCat: {
      Value x = Eval(n->a.get(), row), y = Eval(n->b.get(), row);
      return Value::Text(std::string(Clip(x.text)) + std::string(y.text));
    }
    case Node::kAdd:
    case Node::kSub:
    case Node::kMul:
    case Node::kDiv: {
      Value x = Eval(n->a.get(), row), y = Eval(n->b.get(), row);
      if (n->op == Node::kAdd && x.kind == Kind::kText && y.kind == Kind::kText)
        return Value::Text(std::string(Clip(x.text)) + y.text);
      if (x.kind == Kind::kNull || y.kind == Kind::kNull || x.kind == Kind::kText ||
          y.kind == Kind::kText)
        return Value();
      double r = 0;
      Kind k = Kind::kNumber;
      switch (n->op) {
        case Node::kAdd:
          r = x.num + y.num;
          if (x.kind == Kind::kDate || y.kind == Kind::kDate) k = Kind::kDate;
          break;
        case Node::kSub:
          r = x.num - y.num;
          if (x.kind == Kind::kDate && y.kind != Kind::kDate) k = Kind::kDate;
          break;
        case Node::kMul:
          r = x.num * y.num;
          break;
        default:
          if (y.num == 0) return Value();
          r = x.num / y.num;
      }
      if (!std::isfinite(r)) return Value();
      Value v;
      v.kind = k;
      v.num = r;
      return v;
    }
  }
  return Value();
}

void CollectFields(const Node* n, std::vector<std::pair<std::string, std::string>>* out) {
  if (n == nullptr) return;
  if (n->op == Node::kField) out->emplace_back(n->table, n->name);
  CollectFields(n->a.get(), out);
  CollectFields(n->b.get(), out);
}

}  // namespace vkt::report::detail
