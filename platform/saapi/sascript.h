// A scripted server for tests that must force a server's answers: errors on
// the Nth statement, refused connects, failed commits, lost links.
//
//   vkt::sa::ScriptedServer server;
//   vkt::sa::ScopedDriver use(SA_ODBC_Client, &server);
//   server.On("SELECT", ScriptedServer::Table({"n"}, {{ScriptedServer::Int(7)}}));
//   server.OnStatement(3, ScriptedServer::Error("40P01", 0, "deadlock detected"));
//   ... run the code under test on an SAConnection with SA_ODBC_Client ...
//   EXPECT_EQ(server.log()[0], "CONNECT db|user|pw");
//
// Every call a connection makes is written to log() as one line:
// "CONNECT database|user|password", "OPTION name=value", "BEGIN <level>",
// "EXEC <sql>" (with " [v1, v2]" when parameters were bound; NULL as NULL),
// "COMMIT", "ROLLBACK", "DISCONNECT", "DESTROY", "ALIVE". Placeholders are
// written "?". Statements without a matching rule succeed with no rows.
#ifndef VKT_SAAPI_SASCRIPT_H_
#define VKT_SAAPI_SASCRIPT_H_

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "saapi/sadriver.h"
#include "vkt_export.h"

namespace vkt::sa {

class VKT_API ScriptedServer : public Driver {
 public:
  struct Reply {
    std::vector<ColumnInfo> columns;
    std::vector<std::vector<Value>> rows;
    int64_t rows_affected = -1;
    bool fail = false;
    std::string sqlstate;
    int native = 0;
    std::string message;
    // The link drops: this call and every later one fails like a dead
    // PostgreSQL link ("08006", native 1) until the next Connect.
    bool lose_link = false;
  };

  static Reply Ok(int64_t rows_affected = 0);
  static Reply Error(const std::string& sqlstate, int native, const std::string& message);
  static Reply LostLink();
  static Reply Table(const std::vector<std::string>& names,
                     const std::vector<std::vector<Value>>& rows);
  static Value Int(int64_t v);
  static Value Dbl(double v);
  static Value Text(const std::string& v);
  static Value Date(const SADateTime& v);
  static Value Null();

  ScriptedServer();
  ~ScriptedServer() override;

  // Statements whose text contains `pattern` get `reply`, `times` times
  // (-1: always). Rules are tried in the order they were added.
  void On(const std::string& pattern, Reply reply, int times = -1);
  // The n-th statement (1-based, counted over every link; begins and ends of
  // transactions not counted) gets `reply`, before any rule.
  void OnStatement(int n, Reply reply);
  // The next `times` connects fail with `reply`'s error.
  void FailConnect(Reply reply, int times = 1);
  void FailBegin(Reply reply, int times = 1);
  void FailCommit(Reply reply, int times = 1);
  // Disconnect throws (a library error) `times` times.
  void FailDisconnect(int times = 1);
  // Drops every open link now: the next call on each fails, IsAlive is false.
  void DropLinks();

  const std::vector<std::string>& log() const { return log_; }
  // The EXEC lines only, without the "EXEC " prefix.
  std::vector<std::string> statements() const;
  int statement_count() const { return statement_count_; }
  int connects() const { return connects_; }
  void ClearLog() { log_.clear(); }

  std::unique_ptr<Connection> NewConnection() override;

  // For the links.
  struct Rule {
    std::string pattern;
    Reply reply;
    int times;
  };
  void Write(std::string line) { log_.push_back(std::move(line)); }
  bool TakeCounted(int* left);
  const Reply* Answer(const std::string& sql);
  int generation() const { return generation_; }

  Reply connect_fail_, begin_fail_, commit_fail_;
  int connect_fail_times_ = 0, begin_fail_times_ = 0, commit_fail_times_ = 0;
  int disconnect_fail_times_ = 0;
  int connects_ = 0;

 private:
  std::vector<Rule> rules_;
  std::map<int, Reply> nth_;
  std::deque<Reply> spent_;  // keeps answered replies alive for the cursor
  std::vector<std::string> log_;
  int statement_count_ = 0;
  int generation_ = 0;
};

}  // namespace vkt::sa

#endif  // VKT_SAAPI_SASCRIPT_H_
