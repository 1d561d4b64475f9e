#include "isam/detail/expr.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "isam/detail/schema.h"

namespace vkt::isam::detail {
namespace {

struct Field {
  std::string name;
  uint16_t type = 0;
  uint16_t len = 0;
  size_t offset = 0;
};

struct Value {
  bool text = false;
  double num = 0;
  std::string str;
  bool Truthy() const { return text ? !str.empty() : num != 0; }
};

template <typename T>
T Load(std::string_view img, size_t at) {
  T v{};
  if (at + sizeof(T) <= img.size()) std::memcpy(&v, img.data() + at, sizeof(T));
  return v;
}

struct Node {
  enum Kind { kNum, kStr, kField, kNot, kAnd, kOr, kCmp } kind = kNum;
  double num = 0;
  std::string str;
  const Field* field = nullptr;
  std::string op;
  std::unique_ptr<Node> a, b;

  Value Eval(std::string_view img) const {
    Value v;
    switch (kind) {
      case kNum:
        v.num = num;
        return v;
      case kStr:
        v.text = true;
        v.str = str;
        return v;
      case kField:
        return Read(img);
      case kNot:
        v.num = a->Eval(img).Truthy() ? 0 : 1;
        return v;
      case kAnd:
        v.num = a->Eval(img).Truthy() && b->Eval(img).Truthy();
        return v;
      case kOr:
        v.num = a->Eval(img).Truthy() || b->Eval(img).Truthy();
        return v;
      case kCmp: {
        Value x = a->Eval(img), y = b->Eval(img);
        int c = 0;
        if (x.text && y.text) {
          c = x.str.compare(y.str);
        } else if (!x.text && !y.text) {
          c = x.num < y.num ? -1 : (x.num > y.num ? 1 : 0);
        } else {
          c = x.text ? 1 : -1;  // text never equals a number
          if (op == "==") { v.num = 0; return v; }
          if (op == "!=") { v.num = 1; return v; }
        }
        bool r = op == "==" ? c == 0 : op == "!=" ? c != 0 : op == "<" ? c < 0
               : op == "<=" ? c <= 0 : op == ">" ? c > 0 : c >= 0;
        v.num = r;
        return v;
      }
    }
    return v;
  }
  Value Read(std::string_view img) const {
    Value v;
    const size_t at = field->offset;
    switch (field->type) {
      case 8: case 16: case 24: v.num = Load<uint8_t>(img, at); break;
      case 33: v.num = Load<int16_t>(img, at); break;
      case 41: v.num = field->len == 2 ? Load<uint16_t>(img, at) : Load<uint32_t>(img, at); break;
      case 51: case 59: case 75: case 83: v.num = Load<int32_t>(img, at); break;
      case 91: v.num = Load<float>(img, at); break;
      case 103: case 124: v.num = Load<double>(img, at); break;
      default: {  // 144: fixed text
        v.text = true;
        size_t end = std::min(img.size(), at + field->len);
        if (at < end) {
          std::string_view s = img.substr(at, end - at);
          size_t z = s.find('\0');
          if (z != std::string_view::npos) s = s.substr(0, z);
          while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
          v.str.assign(s);
        }
      }
    }
    return v;
  }
};

class Parser {
 public:
  Parser(const std::string& t, const std::vector<Field>& f) : t_(t), fields_(f) {}
  std::unique_ptr<Node> Run(std::string* why) {
    auto n = Or();
    Skip();
    if (n && i_ != t_.size()) Fail("unexpected text");
    if (!err_.empty()) {
      *why = err_;
      return nullptr;
    }
    return n;
  }

 private:
  void Skip() { while (i_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[i_]))) ++i_; }
  bool Eat(const char* tok) {
    Skip();
    size_t n = std::strlen(tok);
    if (t_.compare(i_, n, tok) == 0) { i_ += n; return true; }
    return false;
  }
  std::unique_ptr<Node> Fail(const std::string& m) {
    if (err_.empty()) err_ = m;
    return nullptr;
  }
  std::unique_ptr<Node> Bin(Node::Kind k, std::unique_ptr<Node> a, std::unique_ptr<Node> b) {
    if (!a || !b) return nullptr;
    auto n = std::make_unique<Node>();
    n->kind = k;
    n->a = std::move(a);
    n->b = std::move(b);
    return n;
  }
  std::unique_ptr<Node> Or() {
    auto a = And();
    while (a && Eat("||")) a = Bin(Node::kOr, std::move(a), And());
    return a;
  }
  std::unique_ptr<Node> And() {
    auto a = Not();
    while (a && Eat("&&")) a = Bin(Node::kAnd, std::move(a), Not());
    return a;
  }
  std::unique_ptr<Node> Not() {
    Skip();
    if (i_ < t_.size() && t_[i_] == '!' && t_.compare(i_, 2, "!=") != 0) {
      ++i_;
      auto inner = Not();
      if (!inner) return nullptr;
      auto n = std::make_unique<Node>();
      n->kind = Node::kNot;
      n->a = std::move(inner);
      return n;
    }
    return Cmp();
  }
  std::unique_ptr<Node> Cmp() {
    auto a = Primary();
    if (!a) return nullptr;
    static const char* const kOps[] = {"==", "!=", "<=", ">=", "<", ">"};
    for (const char* op : kOps)
      if (Eat(op)) {
        auto n = Bin(Node::kCmp, std::move(a), Primary());
        if (n) n->op = op;
        return n;
      }
    return a;
  }
  std::unique_ptr<Node> Primary() {
    Skip();
    if (i_ >= t_.size()) return Fail("expression ends early");
    auto n = std::make_unique<Node>();
    char c = t_[i_];
    if (c == '(') {
      ++i_;
      auto inner = Or();
      if (!inner) return nullptr;
      if (!Eat(")")) return Fail("missing )");
      return inner;
    }
    if (c == '"') {
      size_t end = t_.find('"', i_ + 1);
      if (end == std::string::npos) return Fail("unterminated text");
      n->kind = Node::kStr;
      n->str = t_.substr(i_ + 1, end - i_ - 1);
      i_ = end + 1;
      return n;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.') {
      char* end = nullptr;
      n->num = std::strtod(t_.c_str() + i_, &end);
      if (end == t_.c_str() + i_) return Fail("bad number");
      n->kind = Node::kNum;
      i_ = static_cast<size_t>(end - t_.c_str());
      return n;
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t s = i_;
      while (i_ < t_.size() && (std::isalnum(static_cast<unsigned char>(t_[i_])) || t_[i_] == '_')) ++i_;
      std::string name = t_.substr(s, i_ - s);
      for (const Field& f : fields_)
        if (f.name == name) {
          n->kind = Node::kField;
          n->field = &f;
          return n;
        }
      return Fail("unknown field " + name);
    }
    return Fail("unexpected character");
  }

  const std::string& t_;
  const std::vector<Field>& fields_;
  size_t i_ = 0;
  std::string err_;
};

class TreeExpr : public Expr {
 public:
  TreeExpr(std::string text, std::vector<Field> fields) : fields_(std::move(fields)) {
    text_ = std::move(text);
  }
  bool Init(std::string* why) {
    Parser p(text_, fields_);
    root_ = p.Run(why);
    return root_ != nullptr;
  }
  bool Match(std::string_view image) const override { return root_->Eval(image).Truthy(); }

 private:
  std::vector<Field> fields_;
  std::unique_ptr<Node> root_;
};

}  // namespace

std::unique_ptr<Expr> Expr::Parse(const std::string& text, std::string_view doda,
                                  std::string* why) {
  const size_t size = DodaArray(doda, nullptr, 0);
  if (size == 0) {
    *why = "no schema stored";
    return nullptr;
  }
  std::vector<char> buf(size);
  DodaArray(doda, buf.data(), buf.size());
  std::vector<Field> fields;
  size_t offset = 0;
  for (const DATOBJ* d = reinterpret_cast<const DATOBJ*>(buf.data()); d->fsymb != nullptr; ++d) {
    Field f{d->fsymb, d->ftype, d->flen, offset};
    switch (f.type) {
      case 8: case 16: case 24: case 33: case 41: case 51: case 59: case 75: case 83:
      case 91: case 103: case 124: case 144:
        break;
      default:
        f.name.clear();  // not usable in expressions
    }
    fields.push_back(std::move(f));
    offset += d->flen;
  }
  auto e = std::make_unique<TreeExpr>(text, std::move(fields));
  if (!e->Init(why)) return nullptr;
  return e;
}

}  // namespace vkt::isam::detail
