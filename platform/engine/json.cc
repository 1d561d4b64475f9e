#include "engine/json.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdio>
#include <iterator>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

// Ordered, so that members come out in the order they went in.
using Json = nlohmann::ordered_json;

// Numbers added from text keep the text byte for byte ("1.500000"): they are
// held as binary values with this subtype, which parsing never produces.
constexpr std::uint8_t kRawNumber = 'N';
// Deeper documents are refused on load, so that walking them cannot exhaust
// the stack.
constexpr std::size_t kMaxDepth = 512;

struct Document {
  Json root;
  std::size_t last_emit = 0;  // size of the last text emitted, to reserve the next
};

// One step of a path: a member name or an array index.
struct Step {
  bool is_index = false;
  std::string name;
  std::size_t index = 0;
};

}  // namespace

struct CkJsonObject::Impl {
  std::shared_ptr<Document> doc;
  std::vector<Step> location;  // from the document's root to this view
  bool compact = true;
  bool crlf = true;
  std::string error;
};

namespace {

using Impl = CkJsonObject::Impl;

std::unique_ptr<Impl> NewDocument(Json root) {
  auto impl = std::make_unique<Impl>();
  impl->doc = std::make_shared<Document>();
  impl->doc->root = std::move(root);
  return impl;
}

bool ParsePath(const std::string& path, std::vector<Step>* out) {
  out->clear();
  if (path.empty()) return false;
  std::size_t i = 0;
  const std::size_t n = path.size();
  while (true) {
    // A name (may be empty only when indices follow).
    std::size_t start = i;
    while (i < n && path[i] != '.' && path[i] != '[' && path[i] != ']') ++i;
    if (i > start) {
      Step s;
      s.name = path.substr(start, i - start);
      out->push_back(std::move(s));
    } else if (i >= n || path[i] != '[') {
      return false;
    }
    while (i < n && path[i] == '[') {
      ++i;
      std::size_t value = 0;
      std::size_t digits = 0;
      while (i < n && path[i] >= '0' && path[i] <= '9') {
        if (value > 100000000) return false;  // no document is that long
        value = value * 10 + static_cast<std::size_t>(path[i] - '0');
        ++i;
        ++digits;
      }
      if (digits == 0 || i >= n || path[i] != ']') return false;
      ++i;
      Step s;
      s.is_index = true;
      s.index = value;
      out->push_back(std::move(s));
    }
    if (i == n) return true;
    if (path[i] != '.') return false;
    ++i;
    if (i == n) return false;  // trailing "."
  }
}

Json* Walk(Json* node, const std::vector<Step>& steps) {
  for (const Step& s : steps) {
    if (node == nullptr) return nullptr;
    if (s.is_index) {
      if (!node->is_array() || s.index >= node->size()) return nullptr;
      node = &(*node)[s.index];
    } else {
      if (!node->is_object()) return nullptr;
      auto it = node->find(s.name);
      if (it == node->end()) return nullptr;
      node = &*it;
    }
  }
  return node;
}

// The node this view stands for, or null when its place is gone.
Json* Self(const Impl* impl) {
  if (impl == nullptr || !impl->doc) return nullptr;
  return Walk(&impl->doc->root, impl->location);
}

Json* SelfObject(const Impl* impl) {
  Json* j = Self(impl);
  return j != nullptr && j->is_object() ? j : nullptr;
}

Json* SelfArray(const Impl* impl) {
  Json* j = Self(impl);
  return j != nullptr && j->is_array() ? j : nullptr;
}

const Json* AtPath(const Impl* impl, const std::string& path) {
  std::vector<Step> steps;
  Json* self = SelfObject(impl);
  if (self == nullptr || !ParsePath(path, &steps)) return nullptr;
  return Walk(self, steps);
}

// The place at `steps` below `node`, made when missing; null when it cannot
// be made. Checks first and changes nothing on failure.
Json* Make(Json* node, const std::vector<Step>& steps) {
  const Json* probe = node;
  for (const Step& s : steps) {
    if (probe == nullptr) {  // below a new member: only fresh containers
      if (s.is_index && s.index != 0) return nullptr;
      continue;
    }
    if (s.is_index) {
      if (!probe->is_array() || s.index > probe->size()) return nullptr;
      probe = s.index < probe->size() ? &(*probe)[s.index] : nullptr;
    } else {
      if (!probe->is_object()) return nullptr;
      auto it = probe->find(s.name);
      probe = it == probe->end() ? nullptr : &*it;
    }
  }
  for (const Step& s : steps) {
    if (node->is_null()) {
      if (s.is_index) {
        *node = Json::array();
      } else {
        *node = Json::object();
      }
    }
    if (s.is_index) {
      if (s.index == node->size()) node->push_back(nullptr);
      node = &(*node)[s.index];
    } else {
      node = &(*node)[s.name];
    }
  }
  return node;
}

bool IsJsonNumber(const std::string& t) {
  std::size_t i = 0;
  const std::size_t n = t.size();
  if (i < n && t[i] == '-') ++i;
  if (i >= n) return false;
  if (t[i] == '0') {
    ++i;
  } else if (t[i] >= '1' && t[i] <= '9') {
    while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
  } else {
    return false;
  }
  if (i < n && t[i] == '.') {
    ++i;
    const std::size_t d = i;
    while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
    if (i == d) return false;
  }
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    const std::size_t d = i;
    while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
    if (i == d) return false;
  }
  return i == n;
}

Json RawNumber(const std::string& text) {
  return Json::binary(std::vector<std::uint8_t>(text.begin(), text.end()), kRawNumber);
}

bool IsRaw(const Json& j) { return j.is_binary(); }

std::string RawText(const Json& j) {
  const auto& b = j.get_binary();
  return std::string(b.begin(), b.end());
}

std::string FloatText(double v) { return Json(v).dump(); }

std::string ScalarString(const Json* j) {
  if (j == nullptr) return std::string();
  switch (j->type()) {
    case Json::value_t::string: return j->get_ref<const std::string&>();
    case Json::value_t::binary: return RawText(*j);
    case Json::value_t::number_integer: return std::to_string(j->get<std::int64_t>());
    case Json::value_t::number_unsigned: return std::to_string(j->get<std::uint64_t>());
    case Json::value_t::number_float: return FloatText(j->get<double>());
    case Json::value_t::boolean: return j->get<bool>() ? "true" : "false";
    default: return std::string();
  }
}

int ScalarInt(const Json* j) {
  if (j == nullptr) return -1;
  if (j->is_number_unsigned()) {
    const auto v = j->get<std::uint64_t>();
    return v <= static_cast<std::uint64_t>(INT_MAX) ? static_cast<int>(v) : -1;
  }
  if (j->is_number_integer()) {
    const auto v = j->get<std::int64_t>();
    return v >= INT_MIN && v <= INT_MAX ? static_cast<int>(v) : -1;
  }
  if (IsRaw(*j)) {
    const std::string t = RawText(*j);
    int v = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    return ec == std::errc() && end == t.data() + t.size() ? v : -1;
  }
  return -1;
}

double ScalarDouble(const Json* j) {
  if (j == nullptr) return 0.0;
  if (j->is_number()) return j->get<double>();
  if (IsRaw(*j)) {
    const std::string t = RawText(*j);
    double v = 0.0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    return ec == std::errc() ? v : 0.0;
  }
  return 0.0;
}

void WriteString(const std::string& s, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  *out += '"';
  const char* p = s.data();
  const char* const end = p + s.size();
  while (p < end) {
    // The run that needs no escape goes in whole (UTF-8 passes through).
    const char* run = p;
    while (p < end && static_cast<unsigned char>(*p) >= 0x20 && *p != '"' && *p != '\\') ++p;
    if (p > run) out->append(run, static_cast<size_t>(p - run));
    if (p == end) break;
    const char c = *p++;
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\b': *out += "\\b"; break;
      case '\f': *out += "\\f"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      default: {
        const auto u = static_cast<unsigned char>(c);
        *out += "\\u00";
        *out += kHex[u >> 4];
        *out += kHex[u & 15];
      }
    }
  }
  *out += '"';
}

struct Writer {
  bool compact;
  const char* eol;
  std::string out;

  void Indent(std::size_t depth) { out.append(depth * 2, ' '); }

  void Value(const Json& j, std::size_t depth) {
    switch (j.type()) {
      case Json::value_t::object: {
        if (j.empty()) {
          out += "{}";
          return;
        }
        out += '{';
        bool first = true;
        for (auto it = j.begin(); it != j.end(); ++it) {
          if (!first) out += ',';
          first = false;
          if (!compact) {
            out += eol;
            Indent(depth + 1);
          }
          WriteString(it.key(), &out);
          out += compact ? ":" : ": ";
          Value(*it, depth + 1);
        }
        if (!compact) {
          out += eol;
          Indent(depth);
        }
        out += '}';
        return;
      }
      case Json::value_t::array: {
        if (j.empty()) {
          out += "[]";
          return;
        }
        out += '[';
        bool first = true;
        for (const Json& e : j) {
          if (!first) out += ',';
          first = false;
          if (!compact) {
            out += eol;
            Indent(depth + 1);
          }
          Value(e, depth + 1);
        }
        if (!compact) {
          out += eol;
          Indent(depth);
        }
        out += ']';
        return;
      }
      case Json::value_t::string: WriteString(j.get_ref<const std::string&>(), &out); return;
      case Json::value_t::binary: {
        const auto& b = j.get_binary();
        out.append(reinterpret_cast<const char*>(b.data()), b.size());
        return;
      }
      case Json::value_t::null:
      case Json::value_t::discarded: out += "null"; return;
      case Json::value_t::number_integer:
      case Json::value_t::number_unsigned: {
        char b[24];
        auto r = j.is_number_unsigned() ? std::to_chars(b, b + sizeof b, j.get<std::uint64_t>())
                                        : std::to_chars(b, b + sizeof b, j.get<std::int64_t>());
        out.append(b, r.ptr);
        return;
      }
      default: out += ScalarString(&j); return;
    }
  }
};

std::string EmitNode(const Impl* impl, const Json* node) {
  if (node == nullptr) return std::string();
  Writer w{impl->compact, impl->crlf ? "\r\n" : "\n", std::string()};
  // A document emitted again (or the next of a series) is about as long.
  const bool whole = impl->doc && impl->location.empty();
  if (whole) w.out.reserve(impl->doc->last_emit + impl->doc->last_emit / 8);
  w.Value(*node, 0);
  if (!impl->compact) w.out += w.eol;
  if (whole) impl->doc->last_emit = w.out.size();
  return std::move(w.out);
}

bool Parse(const std::string& text, Json* out, std::string* error) {
  bool too_deep = false;
  Json::parser_callback_t depth_check = [&too_deep](int depth, Json::parse_event_t,
                                                    Json&) {
    if (static_cast<std::size_t>(depth) > kMaxDepth) too_deep = true;
    return true;
  };
  Json parsed = Json::parse(text, depth_check, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) {
    *error = "JSON text is not valid";
    return false;
  }
  if (too_deep) {
    *error = "JSON text nested too deeply";
    return false;
  }
  *out = std::move(parsed);
  return true;
}

// Inserts `value` as member `name` before position `index` (-1: at the end).
bool InsertMember(Impl* impl, int index, const std::string& name, Json value) {
  Json* self = SelfObject(impl);
  if (self == nullptr) {
    if (impl != nullptr) impl->error = "object no longer exists";
    return false;
  }
  const std::size_t size = self->size();
  if (name.empty() || index < -1 || (index >= 0 && static_cast<std::size_t>(index) > size)) {
    impl->error = "invalid member name or index";
    return false;
  }
  if (self->contains(name)) {
    impl->error = "member already exists: " + name;
    return false;
  }
  const std::size_t at = index < 0 ? size : static_cast<std::size_t>(index);
  if (at == size) {
    // Known to be new: appended without a second search.
    auto& members = static_cast<Json::object_t::Container&>(self->get_ref<Json::object_t&>());
    // Growing copies every member (their names are const): records of a
    // dozen fields grow once at most.
    if (members.size() == members.capacity()) members.reserve(members.size() < 8 ? 16 : members.size() * 2);
    members.emplace_back(name, std::move(value));
    return true;
  }
  Json rebuilt = Json::object();
  std::size_t i = 0;
  for (auto it = self->begin(); it != self->end(); ++it, ++i) {
    if (i == at) rebuilt[name] = std::move(value);
    rebuilt[it.key()] = std::move(*it);
  }
  *self = std::move(rebuilt);
  return true;
}

Json* MemberAt(const Impl* impl, int index) {
  Json* self = SelfObject(impl);
  if (self == nullptr || index < 0 || static_cast<std::size_t>(index) >= self->size()) {
    return nullptr;
  }
  auto it = self->begin();
  std::advance(it, index);
  return &*it;
}

bool SetMember(Impl* impl, int index, Json value) {
  Json* m = MemberAt(impl, index);
  if (m == nullptr) {
    if (impl != nullptr) impl->error = "no member at that index";
    return false;
  }
  *m = std::move(value);
  return true;
}

bool UpdateAt(Impl* impl, const std::string& path, Json value) {
  Json* self = SelfObject(impl);
  std::vector<Step> steps;
  if (self == nullptr || !ParsePath(path, &steps)) {
    if (impl != nullptr) impl->error = "invalid path: " + path;
    return false;
  }
  Json* target = Make(self, steps);
  if (target == nullptr) {
    impl->error = "path cannot be created: " + path;
    return false;
  }
  *target = std::move(value);
  return true;
}

bool InsertElement(Impl* impl, int index, Json value) {
  Json* self = SelfArray(impl);
  if (self == nullptr) {
    if (impl != nullptr) impl->error = "array no longer exists";
    return false;
  }
  const std::size_t size = self->size();
  if (index < -1 || (index >= 0 && static_cast<std::size_t>(index) > size)) {
    impl->error = "invalid index";
    return false;
  }
  const std::size_t at = index < 0 ? size : static_cast<std::size_t>(index);
  self->insert(self->begin() + static_cast<std::ptrdiff_t>(at), std::move(value));
  return true;
}

const Json* ElementAt(const Impl* impl, int index) {
  const Json* self = SelfArray(impl);
  if (self == nullptr || index < 0 || static_cast<std::size_t>(index) >= self->size()) {
    return nullptr;
  }
  return &(*self)[static_cast<std::size_t>(index)];
}

std::unique_ptr<Impl> ViewOf(const Impl* parent, std::vector<Step> extra) {
  auto v = std::make_unique<Impl>();
  v->doc = parent->doc;
  v->location = parent->location;
  for (Step& s : extra) v->location.push_back(std::move(s));
  v->compact = parent->compact;
  v->crlf = parent->crlf;
  return v;
}

Step NameStep(const std::string& name) {
  Step s;
  s.name = name;
  return s;
}

Step IndexStep(std::size_t index) {
  Step s;
  s.is_index = true;
  s.index = index;
  return s;
}

const std::string& NoError() {
  static const std::string empty;
  return empty;
}

}  // namespace

// --- CkStringBuilder -------------------------------------------------------

bool CkStringBuilder::WriteFile(const std::string& path, const std::string& charset,
                                bool emit_bom) {
  std::string cs;
  for (char c : charset) cs += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (cs != "utf-8" && cs != "utf8") {
    last_error_ = "unsupported charset: " + charset;
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    last_error_ = "cannot open " + path;
    return false;
  }
  bool ok = true;
  if (emit_bom) ok = std::fwrite("\xEF\xBB\xBF", 1, 3, f) == 3;
  if (ok && !text_.empty()) ok = std::fwrite(text_.data(), 1, text_.size(), f) == text_.size();
  if (std::fclose(f) != 0) ok = false;
  if (!ok) last_error_ = "cannot write " + path;
  return ok;
}

// --- CkJsonObject ----------------------------------------------------------

CkJsonObject::CkJsonObject() : impl_(NewDocument(Json::object())) {}
CkJsonObject::CkJsonObject(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CkJsonObject::~CkJsonObject() = default;
CkJsonObject::CkJsonObject(CkJsonObject&&) noexcept = default;
CkJsonObject& CkJsonObject::operator=(CkJsonObject&&) noexcept = default;

bool CkJsonObject::Load(const std::string& json) {
  Json* self = Self(impl_.get());
  if (self == nullptr) return false;
  Json parsed;
  if (!Parse(json, &parsed, &impl_->error)) return false;
  if (!parsed.is_object()) {
    impl_->error = "JSON text is not an object";
    return false;
  }
  *self = std::move(parsed);
  return true;
}

bool CkJsonObject::get_EmitCompact() const { return impl_ && impl_->compact; }
void CkJsonObject::put_EmitCompact(bool compact) {
  if (impl_) impl_->compact = compact;
}
bool CkJsonObject::get_EmitCrLf() const { return impl_ && impl_->crlf; }
void CkJsonObject::put_EmitCrLf(bool crlf) {
  if (impl_) impl_->crlf = crlf;
}

std::string CkJsonObject::Emit() const {
  return EmitNode(impl_.get(), SelfObject(impl_.get()));
}

bool CkJsonObject::EmitSb(CkStringBuilder& sb) const {
  const Json* self = SelfObject(impl_.get());
  if (self == nullptr) return false;
  sb.Append(EmitNode(impl_.get(), self));  // moved in when the builder is empty
  return true;
}

bool CkJsonObject::HasMember(const std::string& path) const {
  return AtPath(impl_.get(), path) != nullptr;
}

bool CkJsonObject::IsNullOf(const std::string& path) const {
  const Json* j = AtPath(impl_.get(), path);
  return j != nullptr && j->is_null();
}

std::string CkJsonObject::StringOf(const std::string& path) const {
  return ScalarString(AtPath(impl_.get(), path));
}

int CkJsonObject::IntOf(const std::string& path) const {
  return ScalarInt(AtPath(impl_.get(), path));
}

bool CkJsonObject::BoolOf(const std::string& path) const {
  const Json* j = AtPath(impl_.get(), path);
  return j != nullptr && j->is_boolean() && j->get<bool>();
}

double CkJsonObject::DoubleOf(const std::string& path) const {
  return ScalarDouble(AtPath(impl_.get(), path));
}

int CkJsonObject::SizeOfArray(const std::string& path) const {
  const Json* j = AtPath(impl_.get(), path);
  return j != nullptr && j->is_array() ? static_cast<int>(j->size()) : -1;
}

std::unique_ptr<CkJsonObject> CkJsonObject::ObjectOf(const std::string& path) const {
  std::vector<Step> steps;
  Json* self = SelfObject(impl_.get());
  if (self == nullptr || !ParsePath(path, &steps)) return nullptr;
  const Json* j = Walk(self, steps);
  if (j == nullptr || !j->is_object()) return nullptr;
  return std::unique_ptr<CkJsonObject>(new CkJsonObject(ViewOf(impl_.get(), std::move(steps))));
}

std::unique_ptr<CkJsonArray> CkJsonObject::ArrayOf(const std::string& path) const {
  std::vector<Step> steps;
  Json* self = SelfObject(impl_.get());
  if (self == nullptr || !ParsePath(path, &steps)) return nullptr;
  const Json* j = Walk(self, steps);
  if (j == nullptr || !j->is_array()) return nullptr;
  return std::unique_ptr<CkJsonArray>(new CkJsonArray(ViewOf(impl_.get(), std::move(steps))));
}

bool CkJsonObject::UpdateString(const std::string& path, const std::string& value) {
  return UpdateAt(impl_.get(), path, Json(value));
}

bool CkJsonObject::UpdateInt(const std::string& path, int64_t value) {
  return UpdateAt(impl_.get(), path, Json(value));
}

bool CkJsonObject::UpdateNumber(const std::string& path, const std::string& numeric_text) {
  if (!IsJsonNumber(numeric_text)) {
    if (impl_) impl_->error = "not a number: " + numeric_text;
    return false;
  }
  return UpdateAt(impl_.get(), path, RawNumber(numeric_text));
}

bool CkJsonObject::UpdateBool(const std::string& path, bool value) {
  return UpdateAt(impl_.get(), path, Json(value));
}

bool CkJsonObject::UpdateNull(const std::string& path) {
  return UpdateAt(impl_.get(), path, Json(nullptr));
}

int CkJsonObject::get_Size() const {
  const Json* self = SelfObject(impl_.get());
  return self == nullptr ? 0 : static_cast<int>(self->size());
}

std::string CkJsonObject::NameAt(int index) const {
  const Json* self = SelfObject(impl_.get());
  if (self == nullptr || index < 0 || static_cast<std::size_t>(index) >= self->size()) {
    return std::string();
  }
  auto it = self->begin();
  std::advance(it, index);
  return it.key();
}

int CkJsonObject::IndexOf(const std::string& name) const {
  const Json* self = SelfObject(impl_.get());
  if (self == nullptr) return -1;
  int i = 0;
  for (auto it = self->begin(); it != self->end(); ++it, ++i) {
    if (it.key() == name) return i;
  }
  return -1;
}

bool CkJsonObject::AddStringAt(int index, const std::string& name, const std::string& value) {
  return InsertMember(impl_.get(), index, name, Json(value));
}

bool CkJsonObject::AddIntAt(int index, const std::string& name, int64_t value) {
  return InsertMember(impl_.get(), index, name, Json(value));
}

bool CkJsonObject::AddNumberAt(int index, const std::string& name,
                               const std::string& numeric_text) {
  if (!IsJsonNumber(numeric_text)) {
    if (impl_) impl_->error = "not a number: " + numeric_text;
    return false;
  }
  return InsertMember(impl_.get(), index, name, RawNumber(numeric_text));
}

bool CkJsonObject::AddBoolAt(int index, const std::string& name, bool value) {
  return InsertMember(impl_.get(), index, name, Json(value));
}

bool CkJsonObject::AddNullAt(int index, const std::string& name) {
  return InsertMember(impl_.get(), index, name, Json(nullptr));
}

bool CkJsonObject::AddObjectAt(int index, const std::string& name) {
  return InsertMember(impl_.get(), index, name, Json::object());
}

bool CkJsonObject::AddArrayAt(int index, const std::string& name) {
  return InsertMember(impl_.get(), index, name, Json::array());
}

std::unique_ptr<CkJsonObject> CkJsonObject::AppendObject(const std::string& name) {
  if (!AddObjectAt(-1, name)) return nullptr;
  return std::unique_ptr<CkJsonObject>(new CkJsonObject(ViewOf(impl_.get(), {NameStep(name)})));
}

std::unique_ptr<CkJsonArray> CkJsonObject::AppendArray(const std::string& name) {
  if (!AddArrayAt(-1, name)) return nullptr;
  return std::unique_ptr<CkJsonArray>(new CkJsonArray(ViewOf(impl_.get(), {NameStep(name)})));
}

bool CkJsonObject::SetStringAt(int index, const std::string& value) {
  return SetMember(impl_.get(), index, Json(value));
}

bool CkJsonObject::SetIntAt(int index, int64_t value) {
  return SetMember(impl_.get(), index, Json(value));
}

bool CkJsonObject::SetNumberAt(int index, const std::string& numeric_text) {
  if (!IsJsonNumber(numeric_text)) {
    if (impl_) impl_->error = "not a number: " + numeric_text;
    return false;
  }
  return SetMember(impl_.get(), index, RawNumber(numeric_text));
}

bool CkJsonObject::SetBoolAt(int index, bool value) {
  return SetMember(impl_.get(), index, Json(value));
}

bool CkJsonObject::SetNullAt(int index) {
  return SetMember(impl_.get(), index, Json(nullptr));
}

std::unique_ptr<CkJsonObject> CkJsonObject::ObjectAt(int index) const {
  const Json* m = MemberAt(impl_.get(), index);
  if (m == nullptr || !m->is_object()) return nullptr;
  return std::unique_ptr<CkJsonObject>(
      new CkJsonObject(ViewOf(impl_.get(), {NameStep(NameAt(index))})));
}

std::unique_ptr<CkJsonArray> CkJsonObject::ArrayAt(int index) const {
  const Json* m = MemberAt(impl_.get(), index);
  if (m == nullptr || !m->is_array()) return nullptr;
  return std::unique_ptr<CkJsonArray>(
      new CkJsonArray(ViewOf(impl_.get(), {NameStep(NameAt(index))})));
}

bool CkJsonObject::Delete(const std::string& name) {
  Json* self = SelfObject(impl_.get());
  return self != nullptr && self->erase(name) > 0;
}

void CkJsonObject::Clear() {
  Json* self = SelfObject(impl_.get());
  if (self != nullptr) *self = Json::object();
}

const std::string& CkJsonObject::LastErrorText() const {
  return impl_ ? impl_->error : NoError();
}

// --- CkJsonArray -----------------------------------------------------------

CkJsonArray::CkJsonArray() : impl_(NewDocument(Json::array())) {}
CkJsonArray::CkJsonArray(std::unique_ptr<CkJsonObject::Impl> impl) : impl_(std::move(impl)) {}
CkJsonArray::~CkJsonArray() = default;
CkJsonArray::CkJsonArray(CkJsonArray&&) noexcept = default;
CkJsonArray& CkJsonArray::operator=(CkJsonArray&&) noexcept = default;

bool CkJsonArray::Load(const std::string& json) {
  Json* self = Self(impl_.get());
  if (self == nullptr) return false;
  Json parsed;
  if (!Parse(json, &parsed, &impl_->error)) return false;
  if (!parsed.is_array()) {
    impl_->error = "JSON text is not an array";
    return false;
  }
  *self = std::move(parsed);
  return true;
}

bool CkJsonArray::get_EmitCompact() const { return impl_ && impl_->compact; }
void CkJsonArray::put_EmitCompact(bool compact) {
  if (impl_) impl_->compact = compact;
}
bool CkJsonArray::get_EmitCrLf() const { return impl_ && impl_->crlf; }
void CkJsonArray::put_EmitCrLf(bool crlf) {
  if (impl_) impl_->crlf = crlf;
}

std::string CkJsonArray::Emit() const {
  return EmitNode(impl_.get(), SelfArray(impl_.get()));
}

int CkJsonArray::get_Size() const {
  const Json* self = SelfArray(impl_.get());
  return self == nullptr ? 0 : static_cast<int>(self->size());
}

std::string CkJsonArray::StringAt(int index) const {
  return ScalarString(ElementAt(impl_.get(), index));
}

int CkJsonArray::IntAt(int index) const { return ScalarInt(ElementAt(impl_.get(), index)); }

bool CkJsonArray::BoolAt(int index) const {
  const Json* j = ElementAt(impl_.get(), index);
  return j != nullptr && j->is_boolean() && j->get<bool>();
}

double CkJsonArray::DoubleAt(int index) const {
  return ScalarDouble(ElementAt(impl_.get(), index));
}

bool CkJsonArray::IsNullAt(int index) const {
  const Json* j = ElementAt(impl_.get(), index);
  return j != nullptr && j->is_null();
}

std::unique_ptr<CkJsonObject> CkJsonArray::ObjectAt(int index) const {
  const Json* j = ElementAt(impl_.get(), index);
  if (j == nullptr || !j->is_object()) return nullptr;
  return std::unique_ptr<CkJsonObject>(
      new CkJsonObject(ViewOf(impl_.get(), {IndexStep(static_cast<std::size_t>(index))})));
}

std::unique_ptr<CkJsonArray> CkJsonArray::ArrayAt(int index) const {
  const Json* j = ElementAt(impl_.get(), index);
  if (j == nullptr || !j->is_array()) return nullptr;
  return std::unique_ptr<CkJsonArray>(
      new CkJsonArray(ViewOf(impl_.get(), {IndexStep(static_cast<std::size_t>(index))})));
}

bool CkJsonArray::AddStringAt(int index, const std::string& value) {
  return InsertElement(impl_.get(), index, Json(value));
}

bool CkJsonArray::AddIntAt(int index, int64_t value) {
  return InsertElement(impl_.get(), index, Json(value));
}

bool CkJsonArray::AddNumberAt(int index, const std::string& numeric_text) {
  if (!IsJsonNumber(numeric_text)) {
    if (impl_) impl_->error = "not a number: " + numeric_text;
    return false;
  }
  return InsertElement(impl_.get(), index, RawNumber(numeric_text));
}

bool CkJsonArray::AddBoolAt(int index, bool value) {
  return InsertElement(impl_.get(), index, Json(value));
}

bool CkJsonArray::AddNullAt(int index) { return InsertElement(impl_.get(), index, Json(nullptr)); }

bool CkJsonArray::AddObjectAt(int index) {
  return InsertElement(impl_.get(), index, Json::object());
}

bool CkJsonArray::AddArrayAt(int index) { return InsertElement(impl_.get(), index, Json::array()); }

std::unique_ptr<CkJsonObject> CkJsonArray::AppendObject() {
  if (!AddObjectAt(-1)) return nullptr;
  const auto last = static_cast<std::size_t>(get_Size() - 1);
  return std::unique_ptr<CkJsonObject>(new CkJsonObject(ViewOf(impl_.get(), {IndexStep(last)})));
}

std::unique_ptr<CkJsonArray> CkJsonArray::AppendArray() {
  if (!AddArrayAt(-1)) return nullptr;
  const auto last = static_cast<std::size_t>(get_Size() - 1);
  return std::unique_ptr<CkJsonArray>(new CkJsonArray(ViewOf(impl_.get(), {IndexStep(last)})));
}

bool CkJsonArray::DeleteAt(int index) {
  Json* self = SelfArray(impl_.get());
  if (self == nullptr || index < 0 || static_cast<std::size_t>(index) >= self->size()) {
    return false;
  }
  self->erase(static_cast<std::size_t>(index));
  return true;
}

void CkJsonArray::Clear() {
  Json* self = SelfArray(impl_.get());
  if (self != nullptr) *self = Json::array();
}

const std::string& CkJsonArray::LastErrorText() const {
  return impl_ ? impl_->error : NoError();
}
