#include "report/detail/source.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "isam/ctree.h"
#include "saapi/saapi.h"

namespace vkt::report::detail {
namespace {

constexpr const char* kDatabase = "Database";

// ISAM: every read opens a session when none is open (and closes it after),
// opens the file set with its stored description and schema, and decodes
// each record by the schema.
class IsamSource : public Source {
 public:
  IsamSource(std::string folder, int base) : folder_(std::move(folder)), base_(base) {}

  bool ReadTable(const std::string& location, Rows* out, Error* error) override {
    return Walk(location, out, true, error);
  }
  bool Describe(const std::string& location, std::vector<std::string>* fields,
                Error* error) override {
    Rows r;
    if (!Walk(location, &r, false, error)) return false;
    *fields = std::move(r.fields);
    return true;
  }
  bool Query(const std::string&, Rows*, Error* error) override {
    error->Set(kErrConnect, kDatabase, "SQL statements need an SQL data source");
    return false;
  }
  const char* kind() const override { return "ISAM"; }

 private:
  struct Field {
    std::string name;
    uint16_t type, len;
    size_t offset;
  };

  std::string PathOf(const std::string& location) const {
    std::string p = location;
    for (char& c : p)
      if (c == '\\') c = '/';
    if (!p.empty() && p[0] != '/' && !folder_.empty()) p = folder_ + "/" + p;
    if (p.size() < 4 || p.compare(p.size() - 4, 4, ".dat") != 0) p += ".dat";
    return p;
  }

  Value Decode(const Field& f, const std::vector<char>& rec) const {
    if (f.offset + f.len > rec.size()) return Value();
    const char* at = rec.data() + f.offset;
    auto load = [&](auto v) {
      std::memcpy(&v, at, sizeof v);
      return v;
    };
    switch (f.type) {
      case 8: case 16: case 24: return Value::Number(static_cast<unsigned char>(*at));
      case 33: return Value::Number(load(int16_t{}));
      case 41: return Value::Number(f.len == 2 ? load(uint16_t{}) : load(uint32_t{}));
      case 51: case 59: return Value::Number(load(int32_t{}));
      case 75: {
        const int32_t day = load(int32_t{});
        if (day == 0) return Value();
        // The short count differs from the Julian Day Number by 2342031.
        return Value::Date(base_ == 1 ? day + 2342031 : day);
      }
      case 83: {
        // 0 is what an empty time is stored as: it shows nothing, as in
        // the library's other text forms of the field.
        const int32_t seconds = load(int32_t{});
        return seconds == 0 ? Value() : Value::Time(seconds);
      }
      case 91: return Value::Number(load(float{}));
      case 103: case 124: return Value::Number(load(double{}));
      default: {
        size_t n = strnlen(at, f.len);
        std::string s(at, n);
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return Value::Text(std::move(s));
      }
    }
  }

  bool Walk(const std::string& location, Rows* out, bool records, Error* error) {
    const bool own = InitISAMXtd(15, 64, 16, 15, 1, "", "", "") == 0;
    bool ok = WalkOpen(location, out, records, error);
    if (own) CloseISAM();
    return ok;
  }

  bool WalkOpen(const std::string& location, Rows* out, bool records, Error* error) {
    std::string path = PathOf(location);
    const int32_t filno = OpenFileWithResource(-1, path.data(), CT_MODE_SHARED);
    if (filno < 0) {
      error->Set(kErrConnect, kDatabase,
                 "The table " + location + " cannot be opened (" + path + ", error " +
                     std::to_string(isam_err) + ")");
      return false;
    }
    bool ok = Read(filno, location, out, records, error);
    CloseRFile(filno);
    return ok;
  }

  bool Read(int32_t filno, const std::string& location, Rows* out, bool records, Error* error) {
    const int32_t size = GetDODA(filno, 0, nullptr, 4);
    if (size <= 0) {
      error->Set(kErrData, kDatabase, "The table " + location + " has no stored schema");
      return false;
    }
    std::vector<char> buf(static_cast<size_t>(size));
    if (GetDODA(filno, size, buf.data(), 4) <= 0) {
      error->Set(kErrData, kDatabase, "The schema of " + location + " cannot be read");
      return false;
    }
    std::vector<Field> fields;
    size_t offset = 0;
    for (const DATOBJ* d = reinterpret_cast<const DATOBJ*>(buf.data());
         d->fsymb != nullptr && d->fsymb[0] != '\0'; ++d) {
      fields.push_back({d->fsymb, d->ftype, d->flen, offset});
      offset += d->flen;
      out->fields.push_back(d->fsymb);
    }
    if (!records) return true;
    const int32_t reclen = GetCtFileInfo(filno, CT_INFO_RECLEN);
    if (reclen <= 0) {
      error->Set(kErrData, kDatabase, "The table " + location + " has no record length");
      return false;
    }
    std::vector<char> rec(static_cast<size_t>(reclen) + 1, 0);
    rec.resize(static_cast<size_t>(reclen));
    int16_t s = FirstRecord(filno, rec.data());
    while (s == 0) {
      std::vector<Value> row;
      row.reserve(fields.size());
      for (const Field& f : fields) row.push_back(Decode(f, rec));
      out->rows.push_back(std::move(row));
      s = NextRecord(filno, rec.data());
    }
    if (s != CT_NOT_FOUND && s != CT_NO_CURRENT_RECORD) {
      error->Set(kErrData, kDatabase,
                 "Reading " + location + " failed with error " + std::to_string(s));
      return false;
    }
    return true;
  }

  std::string folder_;
  int base_;
};

bool SafeTableName(const std::string& s) {
  if (s.empty() || s.size() > 259) return false;
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.')) return false;
  return s.front() != '.' && s.back() != '.';
}

Value FromField(SAField& f) {
  if (f.isNull()) return Value();
  switch (f.DataType()) {
    case SA_dtBool:
    case SA_dtShort:
    case SA_dtUShort:
    case SA_dtLong:
    case SA_dtULong:
    case SA_dtDouble:
    case SA_dtNumeric:
    case SA_dtInt64:
    case SA_dtUInt64:
      return Value::Number(f.asDouble());
    case SA_dtDateTime: {
      SADateTime d = f.asDateTime();
      return Value::DateYmd(d.GetYear(), d.GetMonth(), d.GetDay());
    }
    default: {
      std::string t = f.asString().GetMultiByteChars();
      // SQLite keeps dates as ISO texts: "YYYY-MM-DD" with or without a time.
      int y = 0, m = 0, d = 0;
      if ((t.size() == 10 || (t.size() == 19 && t[10] == ' ')) && t[4] == '-' && t[7] == '-' &&
          std::sscanf(t.c_str(), "%4d-%2d-%2d", &y, &m, &d) == 3 && IsCivilDate(y, m, d) &&
          std::all_of(t.begin(), t.begin() + 4, [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return Value::DateYmd(y, m, d);
      return Value::Text(std::move(t));
    }
  }
}

class SqlSource : public Source {
 public:
  bool Connect(eSAClient client, const std::string& database, const std::string& user,
               const std::string& password, Error* error) {
    try {
      con_.Connect(database.c_str(), user.c_str(), password.c_str(), client);
      return true;
    } catch (const SAException& e) {
      error->Set(kErrConnect, kDatabase,
                 std::string("The database cannot be reached: ") + e.ErrText().GetMultiByteChars());
      return false;
    }
  }
  bool ReadTable(const std::string& location, Rows* out, Error* error) override {
    if (!SafeTableName(location)) {
      error->Set(kErrUnknownName, kDatabase, "The table name " + location.substr(0, 80) + " is not valid");
      return false;
    }
    return Run("SELECT * FROM " + location, out, error);
  }
  bool Describe(const std::string& location, std::vector<std::string>* fields,
                Error* error) override {
    Rows r;
    if (!SafeTableName(location)) {
      error->Set(kErrUnknownName, kDatabase, "The table name " + location.substr(0, 80) + " is not valid");
      return false;
    }
    if (!Run("SELECT * FROM " + location + " WHERE 1 = 0", &r, error)) return false;
    *fields = std::move(r.fields);
    return true;
  }
  bool Query(const std::string& sql, Rows* out, Error* error) override { return Run(sql, out, error); }
  const char* kind() const override { return "SQL"; }

 private:
  bool Run(const std::string& sql, Rows* out, Error* error) {
    try {
      SACommand cmd(&con_, sql.c_str(), SA_CmdSQLStmtRaw);
      cmd.Execute();
      if (!cmd.isResultSet()) {
        error->Set(kErrData, kDatabase, "The statement gives no rows");
        return false;
      }
      for (int i = 1; i <= cmd.FieldCount(); ++i)
        out->fields.push_back(cmd.Field(i).Name().GetMultiByteChars());
      while (cmd.FetchNext()) {
        std::vector<Value> row;
        row.reserve(out->fields.size());
        for (int i = 1; i <= cmd.FieldCount(); ++i) row.push_back(FromField(cmd.Field(i)));
        out->rows.push_back(std::move(row));
      }
      return true;
    } catch (const SAException& e) {
      error->Set(kErrData, kDatabase, std::string(e.ErrText().GetMultiByteChars()));
      return false;
    }
  }

  SAConnection con_;
};

}  // namespace

std::unique_ptr<Source> MakeIsamSource(const std::string& folder, int day_base) {
  return std::make_unique<IsamSource>(folder, day_base);
}

std::unique_ptr<Source> MakeSqlSource(eSAClient client, const std::string& database,
                                      const std::string& user, const std::string& password,
                                      Error* error) {
  auto s = std::make_unique<SqlSource>();
  if (!s->Connect(client, database, user, password, error)) return nullptr;
  return s;
}

}  // namespace vkt::report::detail
