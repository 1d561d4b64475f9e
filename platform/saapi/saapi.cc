#include "saapi/saapi.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "saapi/sadriver.h"

// --- exceptions ---------------------------------------------------------------

SAException::SAException(SAErrorClass_t err_class, int native_code, int err_pos,
                         const SAString& text, const SAString& sqlstate,
                         const SAString& command_text)
    : class_(err_class),
      native_(native_code),
      pos_(err_pos),
      text_(text),
      sqlstate_(sqlstate),
      command_(command_text) {}
SAException::SAException(const SAException&) = default;
SAException& SAException::operator=(const SAException&) = default;
SAException::~SAException() = default;

void SAException::throwUserException(int code, const char* format, ...) {
  SAString text;
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    text.FormatV(format, args);
    va_end(args);
  }
  throw SAException(SA_UserGenerated_Error, code, -1, text);
}

SAString SAException::ErrMessage() const {
  if (command_.IsEmpty()) return text_;
  return text_ + "\n" + command_;
}

namespace vkt::sa {

void ThrowLibraryError(const std::string& text) {
  throw SAException(SA_Library_Error, -1, -1, SAString(text));
}

void ThrowServerError(const std::string& sqlstate, int native_code, int position,
                      const std::string& message, const std::string& command) {
  std::string text = sqlstate.empty() ? message : sqlstate + " " + message;
  throw SAException(SA_DBMS_API_Error, native_code, position, SAString(text),
                    SAString(sqlstate), SAString(command));
}

Cursor::~Cursor() = default;
Connection::~Connection() = default;
Driver::~Driver() = default;
std::string Connection::Placeholder(int) const { return "?"; }
void Connection::SetOption(const std::string&, const std::string&) {}

namespace {

Driver* g_override[16];

int ClientSlot(eSAClient client) {
  int c = static_cast<int>(client);
  return c >= 0 && c < 16 ? c : -1;
}

}  // namespace

Driver* SetDriver(eSAClient client, Driver* driver) {
  int slot = ClientSlot(client);
  if (slot < 0) return nullptr;
  Driver* previous = g_override[slot];
  g_override[slot] = driver;
  return previous;
}

Driver* FindDriver(eSAClient client) {
  int slot = ClientSlot(client);
  if (slot < 0) return nullptr;
  if (g_override[slot] != nullptr) return g_override[slot];
  switch (client) {
    case SA_PostgreSQL_Client: return PostgresDriver();
    case SA_SQLite_Client: return SqliteDriver();
    case SA_ODBC_Client: return OdbcDriver();
    case SA_MySQL_Client: return MysqlDriver();
    default: return nullptr;
  }
}

HostDb SplitHostDb(const std::string& text) {
  HostDb r;
  size_t at = text.rfind('@');
  if (at == std::string::npos) {
    r.database = text;
    return r;
  }
  r.database = text.substr(at + 1);
  std::string host = text.substr(0, at);
  size_t colon = host.rfind(':');
  // A socket path may hold colons; only a numeric tail is a port.
  if (colon != std::string::npos && colon + 1 < host.size() &&
      host.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
    r.port = std::atoi(host.c_str() + colon + 1);
    host.resize(colon);
  }
  r.host = host;
  return r;
}

namespace {

bool Digits(const std::string& t, size_t pos, size_t n, int* out) {
  if (pos + n > t.size()) return false;
  int v = 0;
  for (size_t k = pos; k < pos + n; ++k) {
    if (t[k] < '0' || t[k] > '9') return false;
    v = v * 10 + (t[k] - '0');
  }
  *out = v;
  return true;
}

// "HH:MM:SS[.fffffffff]" at `pos`; returns the position after it or npos.
size_t ParseTime(const std::string& t, size_t pos, int* h, int* mi, int* s,
                 uint32_t* frac) {
  if (!Digits(t, pos, 2, h) || t.size() < pos + 8 || t[pos + 2] != ':' ||
      !Digits(t, pos + 3, 2, mi) || t[pos + 5] != ':' || !Digits(t, pos + 6, 2, s))
    return std::string::npos;
  pos += 8;
  *frac = 0;
  if (pos < t.size() && t[pos] == '.') {
    ++pos;
    uint32_t f = 0;
    int n = 0;
    while (pos < t.size() && t[pos] >= '0' && t[pos] <= '9') {
      if (n < 9) {
        f = f * 10 + static_cast<uint32_t>(t[pos] - '0');
        ++n;
      }
      ++pos;
    }
    while (n < 9) {
      f *= 10;
      ++n;
    }
    *frac = f;
  }
  return pos;
}

}  // namespace

bool ParseDateTimeText(const std::string& t, SADateTime* out) {
  int y, mo, d, h = 0, mi = 0, s = 0;
  uint32_t frac = 0;
  if (t.size() >= 8 && t[2] == ':') {
    size_t end = ParseTime(t, 0, &h, &mi, &s, &frac);
    if (end == std::string::npos) return false;
    // A time of day alone sits on the OLE date's zero day.
    *out = SADateTime(1899, 12, 30, h, mi, s);
    out->SetFraction(frac);
    return true;
  }
  if (!Digits(t, 0, 4, &y) || t.size() < 10 || t[4] != '-' || !Digits(t, 5, 2, &mo) ||
      t[7] != '-' || !Digits(t, 8, 2, &d))
    return false;
  if (t.size() > 10 && (t[10] == ' ' || t[10] == 'T')) {
    if (ParseTime(t, 11, &h, &mi, &s, &frac) == std::string::npos) return false;
  }
  *out = SADateTime(y, mo, d, h, mi, s);
  out->SetFraction(frac);
  return true;
}

std::string DateTimeText(const SADateTime& t) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.GetYear(),
                        t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute(),
                        t.GetSecond());
  if (t.Fraction() != 0 && n > 0 && n < 40) {
    std::snprintf(buf + n, sizeof buf - n, ".%06u", t.Fraction() / 1000);
  }
  return buf;
}

}  // namespace vkt::sa

// --- values --------------------------------------------------------------------

namespace {

using vkt::sa::ThrowLibraryError;

std::string ShortestDouble(double d) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

// A number from text: integers exactly, anything else through strtod.
bool TextToDouble(const std::string& s, double* out) {
  const char* p = s.c_str();
  while (*p == ' ') ++p;
  if (*p == '\0') return false;
  char* end = nullptr;
  errno = 0;
  double d = std::strtod(p, &end);
  while (*end == ' ') ++end;
  if (*end != '\0' || errno == ERANGE) return false;
  *out = d;
  return true;
}

bool TextToInt64(const std::string& s, int64_t* out) {
  const char* p = s.c_str();
  while (*p == ' ') ++p;
  const char* e = s.c_str() + s.size();
  while (e > p && e[-1] == ' ') --e;
  if (*p == '+') ++p;
  auto r = std::from_chars(p, e, *out);
  if (r.ec == std::errc() && r.ptr == e) return true;
  // "12.50" and the like: a number with a fraction truncates, as a cast does.
  double d;
  if (!TextToDouble(std::string(p, e), &d)) return false;
  if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18)) return false;
  *out = static_cast<int64_t>(d);
  return true;
}

int64_t ValueToInt64(const vkt::sa::Value& v) {
  if (v.null) return 0;
  switch (v.type) {
    case SA_dtBool:
    case SA_dtShort:
    case SA_dtUShort:
    case SA_dtLong:
    case SA_dtULong:
    case SA_dtInt64:
    case SA_dtUInt64:
      return v.i;
    case SA_dtDouble:
      if (!(v.d >= -9.2233720368547758e18 && v.d < 9.2233720368547758e18))
        ThrowLibraryError("Value " + ShortestDouble(v.d) + " out of range of an integer");
      return static_cast<int64_t>(v.d);
    case SA_dtNumeric:
    case SA_dtString:
    case SA_dtLongChar:
    case SA_dtCLob:
    case SA_dtUnknown: {
      int64_t r = 0;
      if (!TextToInt64(v.s, &r))
        ThrowLibraryError("Cannot convert '" + v.s + "' to a number");
      return r;
    }
    default:
      ThrowLibraryError("Cannot convert this value to a number");
  }
}

template <typename T>
T Narrow(int64_t v) {
  if (v < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
      v > static_cast<int64_t>(std::numeric_limits<T>::max()))
    ThrowLibraryError("Value " + std::to_string(v) + " out of range");
  return static_cast<T>(v);
}

}  // namespace

SAValueRead::~SAValueRead() = default;

bool SAValueRead::asBool() const {
  if (v_.null) return false;
  if (v_.type == SA_dtString || v_.type == SA_dtLongChar) {
    const std::string& s = v_.s;
    if (s == "t" || s == "T" || s == "true" || s == "TRUE" || s == "y" || s == "Y")
      return true;
    if (s == "f" || s == "F" || s == "false" || s == "FALSE" || s == "n" || s == "N" ||
        s.empty())
      return false;
  }
  if (v_.type == SA_dtDouble) return v_.d != 0;
  return ValueToInt64(v_) != 0;
}

int16_t SAValueRead::asShort() const { return Narrow<int16_t>(ValueToInt64(v_)); }
uint16_t SAValueRead::asUShort() const { return Narrow<uint16_t>(ValueToInt64(v_)); }
int32_t SAValueRead::asLong() const { return Narrow<int32_t>(ValueToInt64(v_)); }
uint32_t SAValueRead::asULong() const { return Narrow<uint32_t>(ValueToInt64(v_)); }
int64_t SAValueRead::asInt64() const { return ValueToInt64(v_); }

double SAValueRead::asDouble() const {
  if (v_.null) return 0;
  switch (v_.type) {
    case SA_dtDouble:
    case SA_dtNumeric:
      if (v_.type == SA_dtDouble || v_.s.empty()) return v_.d;
      [[fallthrough]];
    case SA_dtString:
    case SA_dtLongChar:
    case SA_dtCLob:
    case SA_dtUnknown: {
      double d;
      if (!TextToDouble(v_.s, &d)) ThrowLibraryError("Cannot convert '" + v_.s + "' to a number");
      return d;
    }
    case SA_dtDateTime:
      return static_cast<double>(v_.dt);
    case SA_dtBytes:
    case SA_dtLongBinary:
    case SA_dtBLob:
      ThrowLibraryError("Cannot convert binary data to a number");
    default:
      return static_cast<double>(v_.i);
  }
}

SADateTime SAValueRead::asDateTime() const {
  if (v_.null) return SADateTime();
  switch (v_.type) {
    case SA_dtDateTime:
      return v_.dt;
    case SA_dtString:
    case SA_dtLongChar:
    case SA_dtUnknown: {
      SADateTime t;
      if (v_.s.empty()) return t;
      if (!vkt::sa::ParseDateTimeText(v_.s, &t))
        ThrowLibraryError("Cannot convert '" + v_.s + "' to a date");
      return t;
    }
    case SA_dtDouble: {
      // An OLE date kept as a number (SQLite and ODBC sources).
      return SADateTime(v_.d);
    }
    default:
      ThrowLibraryError("Cannot convert this value to a date");
  }
}

SAString SAValueRead::asString() const {
  if (v_.null) return SAString();
  switch (v_.type) {
    case SA_dtBool:
      return SAString(v_.i ? "1" : "0");
    case SA_dtShort:
    case SA_dtUShort:
    case SA_dtLong:
    case SA_dtULong:
    case SA_dtInt64:
    case SA_dtUInt64:
      return SAString(std::to_string(v_.i));
    case SA_dtDouble:
      return SAString(ShortestDouble(v_.d));
    case SA_dtDateTime:
      return SAString(vkt::sa::DateTimeText(v_.dt));
    default:
      return SAString(v_.s);
  }
}

SAString SAValueRead::asBytes() const {
  if (v_.null) return SAString();
  return v_.type == SA_dtBytes || v_.type == SA_dtLongBinary || v_.type == SA_dtBLob
             ? SAString(v_.s)
             : asString();
}

// --- parameters ----------------------------------------------------------------

namespace {
void SetInt(vkt::sa::Value* v, SADataType_t t, int64_t i) {
  *v = vkt::sa::Value();
  v->type = t;
  v->null = false;
  v->i = i;
}
}  // namespace

void SAParam::setAsNull() {
  SADataType_t keep = v_.type;
  v_ = vkt::sa::Value();
  v_.type = keep;
}
void SAParam::setAsBool(bool v) { SetInt(&v_, SA_dtBool, v ? 1 : 0); }
void SAParam::setAsShort(int16_t v) { SetInt(&v_, SA_dtShort, v); }
void SAParam::setAsUShort(uint16_t v) { SetInt(&v_, SA_dtUShort, v); }
void SAParam::setAsLong(int32_t v) { SetInt(&v_, SA_dtLong, v); }
void SAParam::setAsULong(uint32_t v) { SetInt(&v_, SA_dtULong, v); }
void SAParam::setAsInt64(int64_t v) { SetInt(&v_, SA_dtInt64, v); }
void SAParam::setAsDouble(double v) {
  v_ = vkt::sa::Value();
  v_.type = SA_dtDouble;
  v_.null = false;
  v_.d = v;
}
void SAParam::setAsNumeric(const SAString& digits) {
  double d;
  if (!TextToDouble(digits.str(), &d))
    ThrowLibraryError("'" + digits.str() + "' is not a number");
  v_ = vkt::sa::Value();
  v_.type = SA_dtNumeric;
  v_.null = false;
  v_.d = d;
  v_.s = digits.str();
}
void SAParam::setAsDateTime(const SADateTime& v) {
  v_ = vkt::sa::Value();
  v_.type = SA_dtDateTime;
  v_.null = false;
  v_.dt = v;
}
void SAParam::setAsString(const SAString& v) {
  v_ = vkt::sa::Value();
  v_.type = SA_dtString;
  v_.null = false;
  v_.s = v.str();
}
void SAParam::setAsBytes(const SAString& v) {
  v_ = vkt::sa::Value();
  v_.type = SA_dtBytes;
  v_.null = false;
  v_.s = v.str();
}

// --- connection ----------------------------------------------------------------

namespace {
std::string Lower(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}
}  // namespace

SAConnection::SAConnection() = default;

SAConnection::~SAConnection() {
  for (SACommand* c : commands_) c->Detached();
  commands_.clear();
  if (link_ != nullptr) {
    // Commands are detached above: no cursor refers to the link any more.
    try {
      if (in_transaction_) link_->Rollback();
    } catch (...) {
      // The link is freed below whatever the server answered.
    }
    link_->Destroy();
  }
}

void SAConnection::setClient(eSAClient client) { client_ = client; }

void SAConnection::Connect(const SAString& database, const SAString& user,
                           const SAString& password, eSAClient client,
                           void (*)(SAConnection&, int)) {
  if (link_ != nullptr) ThrowLibraryError("Connection is already connected");
  if (client != SA_Client_NotSpecified) client_ = client;
  vkt::sa::Driver* driver = vkt::sa::FindDriver(client_);
  if (driver == nullptr)
    ThrowLibraryError("No client library for client " + std::to_string(client_));
  std::unique_ptr<vkt::sa::Connection> link = driver->NewConnection();
  for (const auto& [name, value] : options_) link->SetOption(name, value.str());
  link->Connect(database.str(), user.str(), password.str());
  link_ = std::move(link);
  in_transaction_ = false;
}

bool SAConnection::isConnected() const { return link_ != nullptr; }

bool SAConnection::isAlive() { return link_ != nullptr && link_->IsAlive(); }

void SAConnection::CloseCommands(bool drop) noexcept {
  for (SACommand* c : commands_) {
    c->Close();
    // A cursor never outlives the link it was made on.
    if (drop) c->DropCursor();
  }
}

void SAConnection::Disconnect() {
  if (link_ == nullptr) return;
  CloseCommands(true);
  if (in_transaction_) {
    in_transaction_ = false;
    // Leaving without a commit keeps nothing half-written.
    try {
      link_->Rollback();
    } catch (const SAException&) {
      // A dead link has nothing to roll back; Disconnect reports the rest.
    }
  }
  link_->Disconnect();
  link_.reset();
}

void SAConnection::Destroy() noexcept {
  CloseCommands(true);
  in_transaction_ = false;
  if (link_ != nullptr) {
    link_->Destroy();
    link_.reset();
  }
}

void SAConnection::Reset() noexcept {
  Destroy();
  client_ = SA_Client_NotSpecified;
  options_.clear();
  isolation_ = SA_LevelUnknown;
  autocommit_ = SA_AutoCommitOn;
}

SAString SAConnection::ServerVersionString() const {
  return link_ != nullptr ? SAString(link_->ServerVersion()) : SAString();
}

void SAConnection::setIsolationLevel(SAIsolationLevel_t level) { isolation_ = level; }

void SAConnection::setAutoCommit(SAAutoCommit_t mode) {
  if (mode == SA_AutoCommitUnknown) return;
  if (mode == SA_AutoCommitOn && in_transaction_) Commit();
  autocommit_ = mode;
}

void SAConnection::Commit() {
  if (!in_transaction_ || link_ == nullptr) return;
  CloseCommands(false);
  in_transaction_ = false;
  link_->Commit();
}

void SAConnection::Rollback() {
  if (!in_transaction_ || link_ == nullptr) return;
  CloseCommands(false);
  in_transaction_ = false;
  link_->Rollback();
}

SAString& SAConnection::setOption(const SAString& name) {
  return options_[Lower(name.str())];
}

SAString SAConnection::Option(const SAString& name) const {
  auto it = options_.find(Lower(name.str()));
  return it == options_.end() ? SAString() : it->second;
}

vkt::sa::Connection* SAConnection::ForStatement() {
  if (link_ == nullptr) ThrowLibraryError("Connection is not connected");
  if (autocommit_ == SA_AutoCommitOff && !in_transaction_) {
    link_->Begin(isolation_);
    in_transaction_ = true;
  }
  return link_.get();
}

void SAConnection::Attach(SACommand* cmd) {
  if (std::find(commands_.begin(), commands_.end(), cmd) == commands_.end())
    commands_.push_back(cmd);
}

void SAConnection::Detach(SACommand* cmd) {
  commands_.erase(std::remove(commands_.begin(), commands_.end(), cmd), commands_.end());
}

// --- command -------------------------------------------------------------------

SACommand::SACommand() = default;

SACommand::SACommand(SAConnection* connection, const SAString& text,
                     SACommandType_t type) {
  setConnection(connection);
  if (!text.IsEmpty()) setCommandText(text, type);
}

SACommand::~SACommand() {
  Close();
  if (connection_ != nullptr) connection_->Detach(this);
}

void SACommand::Detached() noexcept {
  Close();
  DropCursor();
  connection_ = nullptr;
}

void SACommand::DropCursor() noexcept {
  cursor_.reset();
  prepared_for_ = nullptr;
}

void SACommand::setConnection(SAConnection* connection) {
  if (connection == connection_) return;
  Close();
  if (connection_ != nullptr) connection_->Detach(this);
  connection_ = connection;
  if (connection_ != nullptr) connection_->Attach(this);
}

void SACommand::setCommandText(const SAString& text, SACommandType_t type) {
  Close();
  text_ = text;
  type_ = type;
  prepared_for_ = nullptr;
  ParseParams();
}

namespace {
bool IsIdentChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
}  // namespace

// Finds ":name" and ":n" outside quotes and comments. The pieces of text
// between them are kept so each driver can write its own placeholders.
void SACommand::ParseParams() {
  params_.clear();
  pieces_.clear();
  occurrences_.clear();
  next_param_ = 0;
  const std::string& s = text_.str();
  if (type_ == SA_CmdSQLStmtRaw) {
    pieces_.push_back(s);
    return;
  }
  std::string piece;
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    char c = s[i];
    if (c == '\'' || c == '"' || c == '`') {
      // Quoted text; a doubled quote stays inside.
      size_t j = i + 1;
      while (j < n) {
        if (s[j] == c) {
          if (j + 1 < n && s[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        if (c == '\'' && s[j] == '\\' && j + 1 < n && i > 0 && (s[i - 1] == 'E' || s[i - 1] == 'e')) {
          j += 2;  // E'...\'...'
          continue;
        }
        ++j;
      }
      j = std::min(j + 1, n);
      piece.append(s, i, j - i);
      i = j;
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      size_t j = s.find('\n', i);
      j = j == std::string::npos ? n : j;
      piece.append(s, i, j - i);
      i = j;
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      size_t j = s.find("*/", i + 2);
      j = j == std::string::npos ? n : j + 2;
      piece.append(s, i, j - i);
      i = j;
    } else if (c == '$' && i + 1 < n && (i == 0 || !IsIdentChar(s[i - 1]))) {
      // PostgreSQL dollar quoting: $$...$$ or $tag$...$tag$ ($1 is no tag).
      size_t k = i + 1;
      if (!(s[k] >= '0' && s[k] <= '9'))
        while (k < n && IsIdentChar(s[k])) ++k;
      if (k < n && s[k] == '$') {
        std::string tag = s.substr(i, k - i + 1);
        size_t close = s.find(tag, k + 1);
        size_t j = close == std::string::npos ? n : close + tag.size();
        piece.append(s, i, j - i);
        i = j;
      } else {
        piece += c;
        ++i;
      }
    } else if (c == ':' && i + 1 < n && s[i + 1] == ':') {
      piece += "::";
      i += 2;
    } else if (c == ':' && i + 1 < n && IsIdentChar(s[i + 1]) && (i == 0 || s[i - 1] != ':')) {
      size_t j = i + 1;
      while (j < n && IsIdentChar(s[j])) ++j;
      std::string name = s.substr(i + 1, j - i - 1);
      int index = -1;
      for (size_t k = 0; k < params_.size(); ++k)
        if (params_[k]->name_.CompareNoCase(name.c_str()) == 0) index = static_cast<int>(k);
      if (index < 0) {
        auto p = std::make_unique<SAParam>();
        p->name_ = SAString(name);
        params_.push_back(std::move(p));
        index = static_cast<int>(params_.size()) - 1;
      }
      pieces_.push_back(std::move(piece));
      piece.clear();
      occurrences_.push_back(index);
      i = j;
    } else {
      piece += c;
      ++i;
    }
  }
  pieces_.push_back(std::move(piece));
  // Numbered parameters are bound in number order, not order of appearance.
  bool all_numbers = !params_.empty();
  for (const auto& p : params_)
    if (p->name_.str().find_first_not_of("0123456789") != std::string::npos)
      all_numbers = false;
  if (all_numbers) {
    std::vector<int> order(params_.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int>(k);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      return std::atoi(params_[a]->name_) < std::atoi(params_[b]->name_);
    });
    std::vector<int> new_index(params_.size());
    std::vector<std::unique_ptr<SAParam>> sorted;
    for (size_t k = 0; k < order.size(); ++k) {
      new_index[order[k]] = static_cast<int>(k);
      sorted.push_back(std::move(params_[order[k]]));
    }
    params_ = std::move(sorted);
    for (int& o : occurrences_) o = new_index[o];
  }
}

void SACommand::Execute() {
  if (connection_ == nullptr) ThrowLibraryError("Command has no connection");
  if (text_.IsEmpty()) ThrowLibraryError("Command text is empty");
  vkt::sa::Connection* link = connection_->ForStatement();
  if (prepared_for_ != link || cursor_ == nullptr) {
    Close();
    cursor_ = link->NewCursor();
    native_sql_ = pieces_.empty() ? std::string() : pieces_[0];
    for (size_t k = 0; k < occurrences_.size(); ++k) {
      native_sql_ += link->Placeholder(static_cast<int>(k) + 1);
      native_sql_ += pieces_[k + 1];
    }
    prepared_for_ = link;
  }
  std::vector<const vkt::sa::Value*> values;
  values.reserve(occurrences_.size());
  for (int o : occurrences_) values.push_back(&params_[o]->value());
  executed_ = false;
  fields_.clear();
  next_param_ = 0;
  cursor_->Execute(native_sql_, values);
  executed_ = true;
  for (const vkt::sa::ColumnInfo& c : cursor_->Columns()) {
    auto f = std::make_unique<SAField>();
    f->name_ = SAString(c.name);
    f->v_.type = c.type;
    f->size_ = c.size;
    f->scale_ = c.scale;
    f->required_ = c.required;
    fields_.push_back(std::move(f));
  }
}

bool SACommand::isResultSet() const { return executed_ && !fields_.empty(); }

bool SACommand::FetchNext() {
  if (!executed_ || cursor_ == nullptr || fields_.empty()) return false;
  thread_local std::vector<vkt::sa::Value> row;
  row.clear();
  if (!cursor_->Fetch(&row)) return false;
  size_t n = std::min(row.size(), fields_.size());
  for (size_t k = 0; k < n; ++k) {
    SADataType_t declared = fields_[k]->v_.type;
    fields_[k]->v_ = std::move(row[k]);
    if (fields_[k]->v_.null && fields_[k]->v_.type == SA_dtUnknown)
      fields_[k]->v_.type = declared;
  }
  return true;
}

long SACommand::RowsAffected() const {
  return executed_ && cursor_ != nullptr ? static_cast<long>(cursor_->RowsAffected()) : -1;
}

void SACommand::Close() noexcept {
  if (cursor_ != nullptr) cursor_->Close();
  executed_ = false;
  next_param_ = 0;
}

SAField& SACommand::Field(int index) {
  if (index < 1 || index > static_cast<int>(fields_.size()))
    ThrowLibraryError("Field index " + std::to_string(index) + " out of range");
  return *fields_[index - 1];
}

SAField& SACommand::Field(const SAString& name) {
  for (auto& f : fields_)
    if (f->name_.CompareNoCase(name) == 0) return *f;
  ThrowLibraryError("Field '" + name.str() + "' not found");
}

SAParam& SACommand::ParamByIndex(int index) {
  if (index < 1 || index > static_cast<int>(params_.size()))
    ThrowLibraryError("Parameter index " + std::to_string(index) + " out of range");
  return *params_[index - 1];
}

SAParam& SACommand::Param(const SAString& name) {
  for (auto& p : params_)
    if (p->name_.CompareNoCase(name) == 0) return *p;
  ThrowLibraryError("Parameter '" + name.str() + "' not found");
}

SAParam& SACommand::Param(int number) { return Param(SAString(std::to_string(number))); }

SAParam& SACommand::NextParam() {
  if (next_param_ >= params_.size())
    ThrowLibraryError("More values than the command's " + std::to_string(params_.size()) +
                      " parameters");
  return *params_[next_param_++];
}

SACommand& SACommand::operator<<(const SANull&) { NextParam().setAsNull(); return *this; }
SACommand& SACommand::operator<<(bool v) { NextParam().setAsBool(v); return *this; }
SACommand& SACommand::operator<<(int16_t v) { NextParam().setAsShort(v); return *this; }
SACommand& SACommand::operator<<(int32_t v) { NextParam().setAsLong(v); return *this; }
SACommand& SACommand::operator<<(long v) { NextParam().setAsInt64(v); return *this; }
SACommand& SACommand::operator<<(double v) { NextParam().setAsDouble(v); return *this; }
SACommand& SACommand::operator<<(const SADateTime& v) { NextParam().setAsDateTime(v); return *this; }
SACommand& SACommand::operator<<(const SAString& v) { NextParam().setAsString(v); return *this; }
SACommand& SACommand::operator<<(const char* v) {
  SAParam& p = NextParam();
  if (v == nullptr) p.setAsNull(); else p.setAsString(SAString(v));
  return *this;
}

SAString& SACommand::setOption(const SAString& name) { return options_[Lower(name.str())]; }

SAString SACommand::Option(const SAString& name) const {
  auto it = options_.find(Lower(name.str()));
  return it == options_.end() ? SAString() : it->second;
}
