// The transaction runners against real servers, with two or more sessions
// driven step by step: a second session holds locks, commits from inside
// the runner's wait (the services' Sleep) or from the host's WriteFunc, and
// kills the runner's backend.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "frame/vktapp.h"
#include "platform/saapi_drivers/odbc_checks.h"
#include "platform/saapi_drivers/server_env.h"
#include "sql/vktpostgresql.h"
#include "win/services.h"

namespace {

using namespace vkt::testing;

std::string g_database, g_user, g_password;
eSAClient g_client = SA_PostgreSQL_Client;

SAString Database(int32_t, int, bool) { return SAString(g_database); }
SAString User(int) { return SAString(g_user); }
SAString Password(int) { return SAString(g_password); }
eSAClient Client() { return g_client; }

// The outside world with a hook in the runner's wait: the test's second
// session acts while the runner "sleeps".
class HookedServices : public vkt::TestServices {
 public:
  std::function<void(int)> on_sleep;
  int sleeps_seen = 0;
  void Sleep(uint32_t ms) override {
    TestServices::Sleep(ms);
    ++sleeps_seen;
    if (on_sleep) on_sleep(sleeps_seen);
  }
};

// A host table class whose WriteFunc runs the test's script; the errors
// its statements raise are noted on their way out.
class Host : public CVKTPostgreSQL {
 public:
  explicit Host(int kind) : CVKTPostgreSQL(kind) {}
  std::function<void(SACommand*, int attempt)> write;
  int attempts = 0;
  std::vector<std::string> errors;
  void WriteFunc(SACommand* cmd, int, void*, void*, bool) override {
    ++attempts;
    try {
      write(cmd, attempts);
    } catch (const SAException& e) {
      errors.push_back(g_client == SA_MySQL_Client ? std::to_string(e.ErrNativeCode())
                                                   : e.ErrText().Left(5).str());
      throw;
    }
  }
};

void Sql(SACommand* cmd, const std::string& sql) {
  cmd->setCommandText(SAString(sql));
  cmd->Execute();
}

// Waits until `probe` on the observer answers "1" (a session is waiting for
// a lock); false after 10 s.
bool WaitFor(SAConnection* observer, const std::string& probe) {
  for (int i = 0; i < 500; ++i) {
    if (One(observer, probe) != "0") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

class Concurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&par_, 0, sizeof par_);
    std::strcpy(par_.app_name, "MIRTO");
    std::strcpy(par_.archive, "arc");
    par_.company = &company_;
    par_.year = &year_;
    par_.pg_param = {Database, User, Password, Client};
    VKTDlgInitialize(&par_);
  }
  void TearDown() override {
    holder_.Destroy();
    observer_.Destroy();
    host_.Destroy();
    if (!admin_db_.empty()) {
      SAConnection a;
      try {
        a.Connect(SAString(admin_db_), SAString(g_user), SAString(g_password), g_client);
        Exec(&a, g_client == SA_MySQL_Client ? "DROP DATABASE IF EXISTS " + db_
                                             : "DROP DATABASE IF EXISTS " + db_ + " WITH (FORCE)");
      } catch (const SAException&) {
      }
    }
    vkt::LibraryLoad();
  }

  bool StartPg() {
    ServerEnv env = PgEnv();
    if (!env.ok) return false;
    g_client = SA_PostgreSQL_Client;
    g_user = env.user;
    g_password = env.password;
    db_ = "vkt_sqlconc_" + std::to_string(getpid());
    std::string base = "host=" + env.host + " port=" + std::to_string(env.port);
    admin_db_ = base + " dbname=postgres";
    SAConnection a;
    a.Connect(SAString(admin_db_), SAString(g_user), SAString(g_password), g_client);
    Exec(&a, "DROP DATABASE IF EXISTS " + db_ + " WITH (FORCE)");
    Exec(&a, "CREATE DATABASE " + db_);
    // A runner that waited without limit would fail the test, not hang it.
    g_database = base + " dbname=" + db_ + " options='-c statement_timeout=20000'";
    Connect(&observer_);
    Exec(&observer_, "CREATE TABLE conti (k integer PRIMARY KEY, v integer NOT NULL)");
    Exec(&observer_, "INSERT INTO conti VALUES (1, 10), (2, 20)");
    Connect(&holder_);
    holder_.setAutoCommit(SA_AutoCommitOff);
    return true;
  }

  bool StartMy() {
    ServerEnv env = MyEnv();
    if (!env.ok) return false;
    g_client = SA_MySQL_Client;
    g_user = env.user;
    g_password = env.password;
    db_ = "vkt_sqlconc_" + std::to_string(getpid());
    admin_db_ = env.host + ":" + std::to_string(env.port) + "@";
    SAConnection a;
    a.Connect(SAString(admin_db_), SAString(g_user), SAString(g_password), g_client);
    Exec(&a, "DROP DATABASE IF EXISTS " + db_);
    Exec(&a, "CREATE DATABASE " + db_);
    g_database = admin_db_ + db_;
    Connect(&observer_);
    Exec(&observer_, "CREATE TABLE conti (k integer PRIMARY KEY, v integer NOT NULL) ENGINE=InnoDB");
    Exec(&observer_, "INSERT INTO conti VALUES (1, 10), (2, 20)");
    Connect(&holder_);
    holder_.setAutoCommit(SA_AutoCommitOff);
    return true;
  }

  void Connect(SAConnection* c) {
    c->Connect(SAString(g_database), SAString(g_user), SAString(g_password), g_client);
  }
  std::string V(int k) { return One(&observer_, "SELECT v FROM conti WHERE k = " + std::to_string(k)); }
  void ExpectClean() {
    EXPECT_EQ(fake_.wait_cursor_depth(), 0);
    EXPECT_FALSE(psql_transaction);
  }

  VKTAPPPARAM par_;
  int32_t company_ = 1;
  int32_t year_ = 2024;
  HookedServices fake_;
  vkt::ScopedServices use_{&fake_};
  std::string db_, admin_db_;
  SAConnection observer_;  // auto-commit, looks from outside
  SAConnection holder_;    // the other user, holding locks
  SAConnection host_;      // the host's own connection
  SACommand cmd_;
};

#define REQUIRE_PG()                     \
  do {                                   \
    ServerEnv env_ = PgEnv();            \
    VKT_REQUIRE_PG(env_);                \
    ASSERT_TRUE(StartPg());              \
  } while (0)
#define REQUIRE_MY()                     \
  do {                                   \
    ServerEnv env_ = MyEnv();            \
    VKT_REQUIRE_MY(env_);                \
    ASSERT_TRUE(StartMy());              \
  } while (0)

TEST_F(Concurrency, PgNowaitIsRetriedUntilTheHolderCommits) {
  REQUIRE_PG();
  Exec(&holder_, "UPDATE conti SET v = 11 WHERE k = 1");  // row 1 locked
  Host host(2);
  host.OpenConnection(&host_, &cmd_, false, 0);
  host.write = [&](SACommand* cmd, int) {
    Sql(cmd, "SELECT v FROM conti WHERE k = 1" + host.GetLockString(2).str() + " NOWAIT");
    ASSERT_TRUE(cmd->FetchNext());
    const int v = (*cmd)[1].asLong();
    Sql(cmd, "UPDATE conti SET v = " + std::to_string(v + 100) + " WHERE k = 1");
  };
  fake_.on_sleep = [&](int n) {
    if (n == 1) holder_.Commit();
  };
  host.SqlTransaction(&cmd_, 1, nullptr, nullptr, false);
  EXPECT_EQ(host.attempts, 2);
  EXPECT_EQ(host.errors, std::vector<std::string>{"55P03"});
  EXPECT_EQ(fake_.sleeps(), std::vector<uint32_t>{51200});
  EXPECT_EQ(V(1), "111");
  // The host's connection is as it was.
  EXPECT_EQ(host_.AutoCommit(), SA_AutoCommitOn);
  EXPECT_EQ(One(&host_, "SHOW lock_timeout"), "0");
  EXPECT_EQ(One(&host_, "SHOW transaction_isolation"), "read committed");
  ExpectClean();
}

TEST_F(Concurrency, PgLockTimeoutHoldsOnEveryAttempt) {
  REQUIRE_PG();
  Exec(&holder_, "UPDATE conti SET v = 11 WHERE k = 1");
  Host host(1);
  std::vector<std::string> timeouts;
  host.write = [&](SACommand* cmd, int) {
    timeouts.push_back(One(cmd->Connection(), "SHOW lock_timeout"));
    Sql(cmd, "UPDATE conti SET v = v + 1 WHERE k = 1");  // waits 2 s for the lock
  };
  fake_.on_sleep = [&](int n) {
    if (n == 2) holder_.Commit();
  };
  auto start = std::chrono::steady_clock::now();
  host.SqlTransaction(1, nullptr, nullptr, false, 0);  // a connection of its own
  auto took = std::chrono::steady_clock::now() - start;
  // A roll-back on PostgreSQL undoes the SET: each attempt sets it again.
  EXPECT_EQ(timeouts, (std::vector<std::string>{"2s", "2s", "2s"}));
  EXPECT_EQ(host.errors, (std::vector<std::string>{"55P03", "55P03"}));
  EXPECT_EQ(V(1), "12");
  EXPECT_LT(took, std::chrono::seconds(10));
  ExpectClean();
}

TEST_F(Concurrency, PgDeadlockVictimIsRetried) {
  REQUIRE_PG();
  Exec(&holder_, "SET deadlock_timeout = '10s'");  // the runner detects it first
  Exec(&holder_, "UPDATE conti SET v = 11 WHERE k = 1");
  const std::string holder_pid = One(&holder_, "SELECT pg_backend_pid()");
  Host host(1);
  host.OpenConnection(&host_, &cmd_, false, 0);
  Exec(&host_, "SET deadlock_timeout = '100ms'");
  std::thread other;
  host.write = [&](SACommand* cmd, int attempt) {
    Sql(cmd, "UPDATE conti SET v = v + 1 WHERE k = 2");
    if (attempt == 1) {
      other = std::thread([&] { Exec(&holder_, "UPDATE conti SET v = 21 WHERE k = 2"); });
      ASSERT_TRUE(WaitFor(&observer_, "SELECT count(*) FROM pg_stat_activity WHERE pid = " +
                                          holder_pid + " AND wait_event_type = 'Lock'"));
    }
    Sql(cmd, "UPDATE conti SET v = v + 1 WHERE k = 1");
  };
  fake_.on_sleep = [&](int n) {
    if (n != 1) return;
    other.join();  // the victim's roll-back let the holder go on
    holder_.Commit();
  };
  host.SqlTransaction(&cmd_, 1, nullptr, nullptr, false);
  if (other.joinable()) other.join();
  EXPECT_EQ(host.errors, std::vector<std::string>{"40P01"});
  EXPECT_EQ(host.attempts, 2);
  EXPECT_EQ(V(1), "12");
  EXPECT_EQ(V(2), "22");
  ExpectClean();
}

TEST_F(Concurrency, PgSerializationFailureIsRetriedAndDuplicatesAreNot) {
  REQUIRE_PG();
  Host host(2);
  host.write = [&](SACommand* cmd, int attempt) {
    Sql(cmd, "SELECT v FROM conti WHERE k = 1");
    if (attempt == 1) Exec(&observer_, "UPDATE conti SET v = 50 WHERE k = 1");
    Sql(cmd, "UPDATE conti SET v = v + 1 WHERE k = 1");
  };
  host.SqlTransaction(1, nullptr, nullptr, false, 0);
  EXPECT_EQ(host.errors, std::vector<std::string>{"40001"});
  EXPECT_EQ(V(1), "51");
  EXPECT_EQ(fake_.sleeps().size(), 1u);

  Host dup(2);
  dup.write = [&](SACommand* cmd, int) {
    Sql(cmd, "INSERT INTO conti VALUES (3, 30)");
    Sql(cmd, "INSERT INTO conti VALUES (2, 99)");
  };
  try {
    dup.SqlTransaction(0, nullptr, nullptr, false, 0);
    ADD_FAILURE() << "no exception";
  } catch (SAException& e) {
    EXPECT_TRUE(dup.IsDupKeyErr(e));
    EXPECT_FALSE(dup.IsLockErr(e));
  }
  EXPECT_EQ(dup.attempts, 1);
  EXPECT_EQ(fake_.sleeps().size(), 1u);
  EXPECT_EQ(One(&observer_, "SELECT count(*) FROM conti WHERE k = 3"), "0");
  ExpectClean();
}

TEST_F(Concurrency, PgSavepointsRollBackExactlyTheirPart) {
  REQUIRE_PG();
  Host host(1);
  host.OpenConnection(&host_, &cmd_, false, 0);
  host.write = [&](SACommand* cmd, int) {
    SAString s1("s1"), s2("s2");
    Sql(cmd, "INSERT INTO conti VALUES (100, 1)");
    host.CreateSavePoint(cmd, s1);
    Sql(cmd, "INSERT INTO conti VALUES (101, 1)");
    Sql(cmd, "UPDATE conti SET v = 0 WHERE k = 1");
    host.RollbackSavepoint(cmd, s1);
    Sql(cmd, "INSERT INTO conti VALUES (102, 1)");
    host.CreateSavePoint(cmd, s2);
    Sql(cmd, "INSERT INTO conti VALUES (103, 1)");
    host.ReleaseSavepoint(cmd, s2);
  };
  host.SqlTransaction(&cmd_, 0, nullptr, nullptr, false);
  EXPECT_EQ(One(&observer_, "SELECT string_agg(k::text, ',' ORDER BY k) FROM conti WHERE k >= 100"),
            "100,102,103");
  EXPECT_EQ(V(1), "10");
  // An invalid name is refused inside the work: all of it is rolled back.
  host.write = [&](SACommand* cmd, int) {
    Sql(cmd, "INSERT INTO conti VALUES (104, 1)");
    SAString bad("s1; DELETE FROM conti");
    host.CreateSavePoint(cmd, bad);
  };
  EXPECT_THROW(host.SqlTransaction(&cmd_, 0, nullptr, nullptr, false), SAException);
  EXPECT_EQ(One(&observer_, "SELECT count(*) FROM conti"), "5");
  ExpectClean();
}

TEST_F(Concurrency, PgConnectionLostMidTransactionLeavesNothingHalfWritten) {
  REQUIRE_PG();
  Host host(1);
  host.OpenConnection(&host_, &cmd_, false, 0);
  const std::string pid = One(&host_, "SELECT pg_backend_pid()");
  host.write = [&](SACommand* cmd, int) {
    Sql(cmd, "INSERT INTO conti VALUES (200, 1)");
    Exec(&observer_, "SELECT pg_terminate_backend(" + pid + ")");
    ASSERT_TRUE(WaitFor(&observer_, "SELECT count(*) = 0 FROM pg_stat_activity WHERE pid = " + pid));
    Sql(cmd, "INSERT INTO conti VALUES (201, 1)");
  };
  try {
    host.SqlTransaction(&cmd_, 0, nullptr, nullptr, false);
    ADD_FAILURE() << "no exception";
  } catch (SAException& e) {
    EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
    EXPECT_FALSE(host.IsLockErr(e));
    // The server's own words say what happened.
    EXPECT_NE(e.ErrText().Find("terminat"), -1) << e.ErrText().str();
  }
  EXPECT_EQ(host.attempts, 1);
  EXPECT_TRUE(fake_.sleeps().empty());
  EXPECT_EQ(One(&observer_, "SELECT count(*) FROM conti WHERE k >= 200"), "0");
  EXPECT_FALSE(host_.isAlive());
  EXPECT_EQ(host_.AutoCommit(), SA_AutoCommitOn);
  ExpectClean();
  // The host reconnects and goes on.
  host.OpenConnection(&host_, &cmd_, false, 0);
  host.write = [&](SACommand* cmd, int) { Sql(cmd, "INSERT INTO conti VALUES (202, 1)"); };
  host.SqlTransaction(&cmd_, 0, nullptr, nullptr, false);
  EXPECT_EQ(One(&observer_, "SELECT count(*) FROM conti WHERE k >= 200"), "1");
}

TEST_F(Concurrency, PgTwoCommandsOnTwoConnectionsFailOnEitherSide) {
  REQUIRE_PG();
  Exec(&observer_, "CREATE TABLE righe (k integer UNIQUE DEFERRABLE INITIALLY DEFERRED)");
  Exec(&observer_, "INSERT INTO righe VALUES (1)");
  Host host(1);
  SAConnection other;
  SACommand other_cmd;
  host.OpenConnection(&host_, &cmd_, false, 0);
  host.OpenConnection(&other, &other_cmd, false, 0);
  DIST_TRANSACTION work{&cmd_, &other_cmd, 1, 1, 0, 0, true};
  std::vector<std::string> script1, script2;
  host.write = [&](SACommand* cmd, int) {
    for (const std::string& s : cmd == &cmd_ ? script1 : script2) Sql(cmd, s);
  };
  auto count = [&](const char* where) {
    return One(&observer_, std::string("SELECT count(*) FROM ") + where);
  };

  // The second side fails: the first side's work is rolled back with it.
  script1 = {"INSERT INTO conti VALUES (300, 1)"};
  script2 = {"INSERT INTO conti VALUES (1, 1)"};
  EXPECT_THROW(host.SqlDitribuitedTransaction(&work, nullptr, nullptr, false), SAException);
  EXPECT_EQ(count("conti WHERE k = 300"), "0");
  EXPECT_EQ(host.attempts, 2);

  // The first side meets a lock (no waiting on this runner): retried after
  // 100 ms until the holder commits; each side's work is kept once.
  Exec(&holder_, "UPDATE conti SET v = 11 WHERE k = 1");
  script1 = {"INSERT INTO conti VALUES (301, 1)", "UPDATE conti SET v = v + 1 WHERE k = 1"};
  script2 = {"INSERT INTO righe VALUES (2)"};
  fake_.on_sleep = [&](int n) {
    if (n == 1) holder_.Commit();
  };
  host.SqlDitribuitedTransaction(&work, nullptr, nullptr, false);
  EXPECT_EQ(fake_.sleeps(), std::vector<uint32_t>{100});
  EXPECT_EQ(host.errors.back(), "55P03");
  EXPECT_EQ(count("conti WHERE k = 301"), "1");
  EXPECT_EQ(V(1), "12");
  EXPECT_EQ(count("righe"), "2");
  EXPECT_EQ(One(&host_, "SHOW lock_timeout"), "0");
  EXPECT_EQ(One(&other, "SHOW lock_timeout"), "0");

  // The first side commits, the second's commit fails (a deferred unique
  // key): nothing is retried, so the first side's row is there once.
  const int before = host.attempts;
  script1 = {"INSERT INTO conti VALUES (302, 1)"};
  script2 = {"INSERT INTO righe VALUES (1)"};
  try {
    host.SqlDitribuitedTransaction(&work, nullptr, nullptr, false);
    ADD_FAILURE() << "no exception";
  } catch (const SAException& e) {
    EXPECT_EQ(e.ErrText().Left(34), "Transazione distribuita incompleta");
    EXPECT_NE(e.ErrText().Find("23505"), -1);
  }
  EXPECT_EQ(host.attempts, before + 2);
  EXPECT_EQ(count("conti WHERE k = 302"), "1");
  EXPECT_EQ(count("righe"), "2");
  EXPECT_EQ(other.AutoCommit(), SA_AutoCommitOn);
  ExpectClean();
}

TEST_F(Concurrency, MariaDbLockWaitTimeoutIsRetried) {
  REQUIRE_MY();
  Exec(&holder_, "UPDATE conti SET v = 11 WHERE k = 1");
  Host host(3);
  std::vector<std::string> timeouts;
  host.write = [&](SACommand* cmd, int) {
    timeouts.push_back(One(cmd->Connection(), "SELECT @@innodb_lock_wait_timeout"));
    Sql(cmd, "UPDATE conti SET v = v + 1 WHERE k = 1");
  };
  fake_.on_sleep = [&](int n) {
    if (n == 1) holder_.Commit();
  };
  host.SqlTransaction(1, nullptr, nullptr, false, 0);
  EXPECT_EQ(host.errors, std::vector<std::string>{"1205"});
  EXPECT_EQ(timeouts, (std::vector<std::string>{"2", "2"}));
  EXPECT_EQ(V(1), "12");
  ExpectClean();

  Host dup(3);
  dup.write = [&](SACommand* cmd, int) { Sql(cmd, "INSERT INTO conti VALUES (2, 1)"); };
  try {
    dup.SqlTransaction(0, nullptr, nullptr, false, 0);
    ADD_FAILURE() << "no exception";
  } catch (SAException& e) {
    EXPECT_TRUE(dup.IsDupKeyErr(e));
  }
  EXPECT_EQ(dup.attempts, 1);
}

TEST_F(Concurrency, MariaDbDeadlockVictimIsRetriedAndSettingsComeBack) {
  REQUIRE_MY();
  // The holder's transaction is the heavier one: the runner is the victim.
  Exec(&observer_, "CREATE TABLE peso (n integer) ENGINE=InnoDB");
  for (int i = 0; i < 20; ++i) Exec(&holder_, "INSERT INTO peso VALUES (" + std::to_string(i) + ")");
  Exec(&holder_, "UPDATE conti SET v = 11 WHERE k = 1");
  const std::string holder_id = One(&holder_, "SELECT CONNECTION_ID()");
  Host host(4);
  host.OpenConnection(&host_, &cmd_, false, 0);
  Exec(&host_, "SET SESSION innodb_lock_wait_timeout = 7");
  std::thread other;
  host.write = [&](SACommand* cmd, int attempt) {
    Sql(cmd, "UPDATE conti SET v = v + 1 WHERE k = 2");
    if (attempt == 1) {
      other = std::thread([&] { Exec(&holder_, "UPDATE conti SET v = 21 WHERE k = 2"); });
      // The holder's statement is on the server; whichever of the two
      // then waits first, the cycle's lighter side is the runner.
      ASSERT_TRUE(WaitFor(&observer_, "SELECT count(*) FROM information_schema.PROCESSLIST "
                                      "WHERE id = " + holder_id + " AND info LIKE 'UPDATE conti%'"));
    }
    Sql(cmd, "UPDATE conti SET v = v + 1 WHERE k = 1");
  };
  fake_.on_sleep = [&](int n) {
    if (n != 1) return;
    other.join();
    holder_.Commit();
  };
  host.SqlTransaction(&cmd_, 1, nullptr, nullptr, false);
  if (other.joinable()) other.join();
  EXPECT_EQ(host.errors, std::vector<std::string>{"1213"});
  EXPECT_EQ(V(1), "12");
  EXPECT_EQ(V(2), "22");
  EXPECT_EQ(One(&host_, "SELECT @@SESSION.innodb_lock_wait_timeout"), "7");
  EXPECT_EQ(host_.AutoCommit(), SA_AutoCommitOn);
  ExpectClean();
}

}  // namespace
