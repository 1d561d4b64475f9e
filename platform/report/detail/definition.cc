#include "report/detail/definition.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "report/detail/formula.h"

namespace vkt::report::detail {
namespace {

class Line {
 public:
  explicit Line(const std::string& s) : s_(s) {}
  void Skip() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  bool AtEnd() {
    Skip();
    return i_ >= s_.size();
  }
  std::string Word() {
    Skip();
    size_t start = i_;
    while (i_ < s_.size() && s_[i_] != ' ' && s_[i_] != '\t') ++i_;
    return s_.substr(start, i_ - start);
  }
  // A double-quoted text ("" for one quote); false when it is missing or
  // not closed.
  bool Quoted(std::string* out) {
    Skip();
    if (i_ >= s_.size() || s_[i_] != '"') return false;
    out->clear();
    for (size_t k = i_ + 1; k < s_.size(); ++k) {
      if (s_[k] == '"') {
        if (k + 1 < s_.size() && s_[k + 1] == '"') {
          *out += '"';
          ++k;
          continue;
        }
        i_ = k + 1;
        return true;
      }
      *out += s_[k];
    }
    return false;
  }
  std::string Rest() {
    Skip();
    std::string r = s_.substr(i_);
    i_ = s_.size();
    while (!r.empty() && (r.back() == ' ' || r.back() == '\t')) r.pop_back();
    return r;
  }

 private:
  const std::string& s_;
  size_t i_ = 0;
};

bool ValidName(const std::string& s) {
  if (s.empty() || s.size() > 128) return false;
  for (char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '_' || c == '-' || u >= 0x80)) return false;
  }
  return true;
}

bool ValidLocation(const std::string& s) {
  if (s.empty() || s.size() > 259) return false;
  for (char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '_' || c == '-' || c == '.' || c == '/' || u >= 0x80)) return false;
  }
  return true;
}

// "{t.f}" split into its parts.
bool FieldRef(const std::string& s, std::string* table, std::string* field) {
  if (s.size() < 5 || s.front() != '{' || s.back() != '}') return false;
  std::string body = s.substr(1, s.size() - 2);
  size_t dot = body.find('.');
  if (dot == std::string::npos) return false;
  *table = body.substr(0, dot);
  *field = body.substr(dot + 1);
  return ValidName(*table) && ValidName(*field);
}

bool CheckExpr(const std::string& text, std::string* why) {
  std::string w;
  auto n = ParseFormula(text, &w);
  if (!n) {
    *why = "formula '" + text.substr(0, 60) + "': " + w;
    return false;
  }
  return true;
}

}  // namespace

bool ParseDefinition(const std::string& text, Definition* out, std::string* why) {
  if (text.size() > kMaxDefinitionBytes) {
    *why = "the file is too large for a report definition";
    return false;
  }
  Definition* cur = out;
  bool header = false, in_sub = false;
  size_t pos = 0;
  int number = 0;
  std::string reason;
  auto fail = [&](const std::string& r) {
    *why = "line " + std::to_string(number) + ": " + r;
    return false;
  };
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLineBytes) return fail("the line is too long");
    if (line.find('\0') != std::string::npos) return fail("the line holds a zero byte");
    Line l(line);
    if (l.AtEnd()) continue;
    std::string key = l.Word();
    if (key[0] == '#') continue;
    if (!header) {
      if (key != "VKTREPORT" || l.Word() != "1" || !l.AtEnd())
        return fail("not a report definition (VKTREPORT 1 expected)");
      header = true;
      continue;
    }
    if (key == "TITLE" || key == "SUBJECT" || key == "AUTHOR" || key == "KEYWORDS" ||
        key == "COMMENTS") {
      std::string v;
      if (!l.Quoted(&v) || !l.AtEnd()) return fail(key + " takes one text in double quotes");
      Summary& s = cur->summary;
      (key == "TITLE" ? s.title : key == "SUBJECT" ? s.subject : key == "AUTHOR" ? s.author
       : key == "KEYWORDS" ? s.keywords : s.comments) = v;
    } else if (key == "TABLE") {
      TableInfo t;
      t.name = l.Word();
      t.location = l.Word();
      if (!ValidName(t.name) || !ValidLocation(t.location) || !l.AtEnd())
        return fail("TABLE takes a name and a location");
      for (const TableInfo& o : cur->tables)
        if (Lower(o.name) == Lower(t.name)) return fail("table " + t.name + " is named twice");
      cur->tables.push_back(t);
    } else if (key == "LINK") {
      LinkDef k;
      if (!FieldRef(l.Word(), &k.from_table, &k.from_field) ||
          !FieldRef(l.Word(), &k.to_table, &k.to_field) || !l.AtEnd())
        return fail("LINK takes two fields {table.field}");
      cur->links.push_back(k);
    } else if (key == "PARAMETER") {
      ParameterInfo p;
      p.name = l.Word();
      std::string type = l.Word();
      if (!ValidName(p.name)) return fail("PARAMETER needs a name");
      if (type == "NUMBER") p.type = ParamType::kNumber;
      else if (type == "DATE") p.type = ParamType::kDate;
      else if (type == "TEXT") p.type = ParamType::kText;
      else if (type == "TIME") p.type = ParamType::kTime;
      else return fail("parameter type NUMBER, DATE, TEXT or TIME expected");
      if (!l.AtEnd() && !l.Quoted(&p.prompt)) return fail("the prompt is a text in double quotes");
      if (!l.AtEnd()) {
        std::string lit = l.Rest(), w;
        auto n = ParseFormula(lit, &w);
        if (!n || n->op != Node::kLit) return fail("the default of a parameter is a literal");
        const Kind want = p.type == ParamType::kNumber ? Kind::kNumber
                          : p.type == ParamType::kDate ? Kind::kDate
                          : p.type == ParamType::kText ? Kind::kText : Kind::kNumber;
        if (n->lit.kind != want) return fail("the default does not match the parameter's type");
        p.has_default = true;
        p.default_value = p.type == ParamType::kTime ? Value::Time(static_cast<int32_t>(n->lit.num))
                                                      : n->lit;
      }
      for (const ParameterInfo& o : cur->params)
        if (Lower(o.name) == Lower(p.name)) return fail("parameter " + p.name + " is named twice");
      cur->params.push_back(std::move(p));
    } else if (key == "FORMULA") {
      FormulaDef f;
      f.name = l.Word();
      f.text = l.Rest();
      if (!ValidName(f.name) || f.text.empty()) return fail("FORMULA takes a name and an expression");
      if (!CheckExpr(f.text, &reason)) return fail(reason);
      cur->formulas.push_back(std::move(f));
    } else if (key == "COLUMN") {
      ColumnDef c;
      std::string w = l.Word();
      char* e = nullptr;
      c.width_mm = std::strtod(w.c_str(), &e);
      if (w.empty() || *e != '\0' || !std::isfinite(c.width_mm) || c.width_mm < 1 || c.width_mm > 2000)
        return fail("COLUMN width in millimetres (1-2000) expected");
      if (!l.Quoted(&c.heading)) return fail("COLUMN heading in double quotes expected");
      c.expr = l.Rest();
      // A trailing "DEC n" sets the decimals.
      size_t d = c.expr.rfind(" DEC ");
      if (d != std::string::npos) {
        std::string n = c.expr.substr(d + 5);
        if (n.size() == 1 && std::isdigit(static_cast<unsigned char>(n[0]))) {
          c.decimals = n[0] - '0';
          c.expr.erase(d);
        }
      }
      if (c.expr.empty()) return fail("COLUMN needs an expression");
      if (!CheckExpr(c.expr, &reason)) return fail(reason);
      cur->columns.push_back(std::move(c));
    } else if (key == "GROUP") {
      std::string e = l.Rest();
      if (e.empty() || !CheckExpr(e, &reason)) return fail(e.empty() ? "GROUP needs an expression" : reason);
      cur->groups.push_back(e);
    } else if (key == "SORT") {
      std::string e = l.Rest();
      bool desc = false;
      if (e.size() > 5 && e.compare(e.size() - 5, 5, " DESC") == 0) {
        desc = true;
        e.erase(e.size() - 5);
      } else if (e.size() > 4 && e.compare(e.size() - 4, 4, " ASC") == 0) {
        e.erase(e.size() - 4);
      }
      if (e.empty() || !CheckExpr(e, &reason)) return fail(e.empty() ? "SORT needs an expression" : reason);
      cur->sorts.emplace_back(e, desc);
    } else if (key == "SELECT") {
      std::string e = l.Rest();
      if (e.empty() || !CheckExpr(e, &reason)) return fail(e.empty() ? "SELECT needs a formula" : reason);
      cur->select = e;
    } else if (key == "SUBREPORT") {
      if (in_sub) return fail("a sub-report cannot hold another");
      std::string name = l.Word();
      if (!ValidName(name) || !l.AtEnd()) return fail("SUBREPORT takes a name");
      if (out->subs.size() >= static_cast<size_t>(kMaxSubreports)) return fail("too many sub-reports");
      for (const auto& s : out->subs)
        if (Lower(s->name) == Lower(name)) return fail("sub-report " + name + " is named twice");
      out->subs.push_back(std::make_unique<Definition>());
      cur = out->subs.back().get();
      cur->name = name;
      in_sub = true;
    } else if (key == "END") {
      if (!in_sub || !l.AtEnd()) return fail("END without SUBREPORT");
      in_sub = false;
      cur = out;
    } else {
      return fail("unknown statement " + key.substr(0, 40));
    }
  }
  if (!header) {
    number = 1;
    return fail("not a report definition (VKTREPORT 1 expected)");
  }
  if (in_sub) return fail("the sub-report " + cur->name + " has no END");
  auto check = [&](const Definition& d) {
    if (d.tables.empty()) return fail((d.name.empty() ? std::string("the report") : "sub-report " + d.name) +
                                      " has no TABLE");
    return true;
  };
  if (!check(*out)) return false;
  for (const auto& s : out->subs)
    if (!check(*s)) return false;
  return true;
}

}  // namespace vkt::report::detail
