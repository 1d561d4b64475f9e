#include "saapi/sascript.h"

#include <utility>

namespace vkt::sa {
namespace {

std::string Show(const Value& v) {
  if (v.null) return "NULL";
  switch (v.type) {
    case SA_dtDouble: {
      SAField f;
      f.mutable_value() = v;
      return f.asString().str();
    }
    case SA_dtDateTime: return DateTimeText(v.dt);
    case SA_dtString: case SA_dtNumeric: case SA_dtBytes: case SA_dtLongChar:
      return "'" + v.s + "'";
    default: return std::to_string(v.i);
  }
}

[[noreturn]] void Raise(const ScriptedServer::Reply& r, const std::string& sql) {
  ThrowServerError(r.sqlstate, r.native, -1, r.message, sql);
}

[[noreturn]] void RaiseLost(const std::string& sql) {
  ThrowServerError("08006", 1, -1, "server closed the connection unexpectedly", sql);
}

class ScriptedCursor : public Cursor {
 public:
  ScriptedCursor(ScriptedServer* s, const bool* dead, const int* gen) : s_(s), dead_(dead), gen_(gen) {}
  void Execute(const std::string& sql, const std::vector<const Value*>& params) override {
    Close();
    std::string line = "EXEC " + sql;
    if (!params.empty()) {
      line += " [";
      for (size_t k = 0; k < params.size(); ++k) {
        if (k > 0) line += ", ";
        line += Show(*params[k]);
      }
      line += "]";
    }
    s_->Write(line);
    if (*dead_ || *gen_ != s_->generation()) RaiseLost(sql);
    const ScriptedServer::Reply* r = s_->Answer(sql);
    if (r == nullptr) {
      affected_ = 0;
      return;
    }
    if (r->lose_link) {
      *const_cast<bool*>(dead_) = true;
      RaiseLost(sql);
    }
    if (r->fail) Raise(*r, sql);
    reply_ = r;
    affected_ = r->rows_affected;
    next_ = 0;
  }
  const std::vector<ColumnInfo>& Columns() const override {
    static const std::vector<ColumnInfo> none;
    return reply_ != nullptr ? reply_->columns : none;
  }
  bool Fetch(std::vector<Value>* row) override {
    if (reply_ == nullptr || next_ >= reply_->rows.size()) return false;
    *row = reply_->rows[next_++];
    return true;
  }
  int64_t RowsAffected() const override { return affected_; }
  void Close() noexcept override {
    reply_ = nullptr;
    next_ = 0;
  }

 private:
  ScriptedServer* s_;
  const bool* dead_;
  const int* gen_;
  const ScriptedServer::Reply* reply_ = nullptr;
  size_t next_ = 0;
  int64_t affected_ = -1;
};

class ScriptedConnection : public Connection {
 public:
  explicit ScriptedConnection(ScriptedServer* s) : s_(s) {}
  void Connect(const std::string& database, const std::string& user,
               const std::string& password) override {
    s_->Write("CONNECT " + database + "|" + user + "|" + password);
    if (s_->TakeCounted(&s_->connect_fail_times_)) Raise(s_->connect_fail_, "");
    ++s_->connects_;
    gen_ = s_->generation();
    dead_ = false;
    connected_ = true;
  }
  void Disconnect() override {
    s_->Write("DISCONNECT");
    if (s_->TakeCounted(&s_->disconnect_fail_times_))
      ThrowLibraryError("Disconnect failed");
    connected_ = false;
  }
  void Destroy() noexcept override {
    if (connected_) s_->Write("DESTROY");
    connected_ = false;
  }
  bool IsAlive() noexcept override {
    s_->Write("ALIVE");
    return connected_ && !dead_ && gen_ == s_->generation();
  }
  void Begin(SAIsolationLevel_t level) override {
    s_->Write("BEGIN " + std::to_string(static_cast<int>(level)));
    Live("BEGIN");
    if (s_->TakeCounted(&s_->begin_fail_times_)) Raise(s_->begin_fail_, "BEGIN");
  }
  void Commit() override {
    s_->Write("COMMIT");
    Live("COMMIT");
    if (s_->TakeCounted(&s_->commit_fail_times_)) Raise(s_->commit_fail_, "COMMIT");
  }
  void Rollback() override {
    s_->Write("ROLLBACK");
    Live("ROLLBACK");
  }
  std::unique_ptr<Cursor> NewCursor() override {
    return std::make_unique<ScriptedCursor>(s_, &dead_, &gen_);
  }
  void SetOption(const std::string& name, const std::string& value) override {
    s_->Write("OPTION " + name + "=" + value);
  }

 private:
  void Live(const char* what) {
    if (dead_ || gen_ != s_->generation()) RaiseLost(what);
  }
  ScriptedServer* s_;
  bool dead_ = false;
  bool connected_ = false;
  int gen_ = 0;
};

}  // namespace

ScriptedServer::ScriptedServer() = default;
ScriptedServer::~ScriptedServer() = default;

ScriptedServer::Reply ScriptedServer::Ok(int64_t rows_affected) {
  Reply r;
  r.rows_affected = rows_affected;
  return r;
}

ScriptedServer::Reply ScriptedServer::Error(const std::string& sqlstate, int native,
                                            const std::string& message) {
  Reply r;
  r.fail = true;
  r.sqlstate = sqlstate;
  r.native = native;
  r.message = message;
  return r;
}

ScriptedServer::Reply ScriptedServer::LostLink() {
  Reply r;
  r.lose_link = true;
  return r;
}

ScriptedServer::Reply ScriptedServer::Table(const std::vector<std::string>& names,
                                            const std::vector<std::vector<Value>>& rows) {
  Reply r;
  for (size_t k = 0; k < names.size(); ++k) {
    ColumnInfo c;
    c.name = names[k];
    c.type = !rows.empty() && k < rows[0].size() ? rows[0][k].type : SA_dtString;
    r.columns.push_back(c);
  }
  r.rows = rows;
  return r;
}

Value ScriptedServer::Int(int64_t v) {
  Value x;
  x.type = SA_dtLong;
  x.null = false;
  x.i = v;
  return x;
}
Value ScriptedServer::Dbl(double v) {
  Value x;
  x.type = SA_dtDouble;
  x.null = false;
  x.d = v;
  return x;
}
Value ScriptedServer::Text(const std::string& v) {
  Value x;
  x.type = SA_dtString;
  x.null = false;
  x.s = v;
  return x;
}
Value ScriptedServer::Date(const SADateTime& v) {
  Value x;
  x.type = SA_dtDateTime;
  x.null = false;
  x.dt = v;
  return x;
}
Value ScriptedServer::Null() { return Value(); }

void ScriptedServer::On(const std::string& pattern, Reply reply, int times) {
  rules_.push_back(Rule{pattern, std::move(reply), times});
}
void ScriptedServer::OnStatement(int n, Reply reply) { nth_[n] = std::move(reply); }
void ScriptedServer::FailConnect(Reply reply, int times) {
  connect_fail_ = std::move(reply);
  connect_fail_times_ = times;
}
void ScriptedServer::FailBegin(Reply reply, int times) {
  begin_fail_ = std::move(reply);
  begin_fail_times_ = times;
}
void ScriptedServer::FailCommit(Reply reply, int times) {
  commit_fail_ = std::move(reply);
  commit_fail_times_ = times;
}
void ScriptedServer::FailDisconnect(int times) { disconnect_fail_times_ = times; }
void ScriptedServer::DropLinks() { ++generation_; }

std::vector<std::string> ScriptedServer::statements() const {
  std::vector<std::string> out;
  for (const std::string& l : log_)
    if (l.rfind("EXEC ", 0) == 0) out.push_back(l.substr(5));
  return out;
}

bool ScriptedServer::TakeCounted(int* left) {
  if (*left == 0) return false;
  if (*left > 0) --*left;
  return true;
}

const ScriptedServer::Reply* ScriptedServer::Answer(const std::string& sql) {
  ++statement_count_;
  auto nth = nth_.find(statement_count_);
  if (nth != nth_.end()) {
    spent_.push_back(std::move(nth->second));
    nth_.erase(nth);
    return &spent_.back();
  }
  for (Rule& r : rules_) {
    if (r.times == 0 || sql.find(r.pattern) == std::string::npos) continue;
    if (r.times > 0) --r.times;
    spent_.push_back(r.reply);
    return &spent_.back();
  }
  return nullptr;
}

std::unique_ptr<Connection> ScriptedServer::NewConnection() {
  return std::make_unique<ScriptedConnection>(this);
}

}  // namespace vkt::sa
