// Transactions, savepoints, lock clauses and the classification of server
// errors for every SQL server kind.
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>

#include "frame/vktapp.h"
#include "saapi/sadriver.h"
#include "sql/sqlexception.h"
#include "sql/vktpostgresql.h"
#include "win/services.h"
#include "win/winconst.h"

namespace {

using vkt::sql::kSourceFile;

// Between attempts of the runners on one connection (2^9 x 100 ms) and of
// the runner on two commands.
constexpr uint32_t kRunnerWaitMs = 51200;
constexpr uint32_t kDistributedWaitMs = 100;
constexpr int kAttempts = 9;

bool IsPgKind(int kind) { return kind == 1 || kind == 2; }
bool IsMyKind(int kind) { return kind == 3 || kind == 4; }

bool IsServerError(const SAException& e) { return e.ErrClass() == SA_DBMS_API_Error; }

// PostgreSQL's errors start with their SQLSTATE.
std::string SqlState(const SAException& e) { return e.ErrText().str().substr(0, 5); }

bool NativeIn(const SAException& e, std::initializer_list<int> codes) {
  for (int c : codes)
    if (e.ErrNativeCode() == c) return true;
  return false;
}

bool StateIn(const SAException& e, std::initializer_list<const char*> states) {
  const std::string s = SqlState(e);
  for (const char* c : states)
    if (s == c) return true;
  return false;
}

std::string Caption() {
  if (vktpar != nullptr && vktpar->app_name[0] != '\0')
    return std::string(vktpar->app_name, strnlen(vktpar->app_name, sizeof vktpar->app_name));
  return "VKTDlg";
}

void Notice(const std::string& what, const SAException& e) {
  vkt::services().Notice(what + ": " + e.ErrText().str());
}

// The host sees psql_transaction true exactly while its WriteFunc runs.
class InWriteFunc {
 public:
  InWriteFunc() { psql_transaction = true; }
  ~InWriteFunc() { psql_transaction = false; }
  InWriteFunc(const InWriteFunc&) = delete;
  InWriteFunc& operator=(const InWriteFunc&) = delete;
};

// The lock-waiting statement of a kind; empty for kind 5 and unknown kinds.
// The runner on two commands does not wait at all.
const char* LockStatement(int kind, bool distributed) {
  if (kind == 0) return distributed ? "call fc_set_blockinglock( 0 )" : "call fc_set_blockinglock( -2 )";
  if (IsPgKind(kind)) return distributed ? "SET lock_timeout TO '50'" : "SET lock_timeout TO 2000";
  if (IsMyKind(kind))
    return distributed ? "set innodb_lock_wait_timeout=0;" : "set innodb_lock_wait_timeout = 2;";
  return "";
}

// Executed at the start of every attempt: on PostgreSQL the setting belongs
// to the transaction, and the roll-back of a failed attempt undoes it.
void SetLockWaiting(SACommand* cmd, int kind, bool distributed) {
  const char* sql = LockStatement(kind, distributed);
  if (*sql == '\0') return;
  cmd->setCommandText(sql, SA_CmdUnknown);
  cmd->Execute();
  cmd->Close();
}

void RollbackQuietly(SAConnection* conn) {
  try {
    conn->Rollback();
  } catch (const SAException& e) {
    // A lost link has nothing left to roll back; the caller reports the
    // error that made it roll back.
    Notice("Rollback", e);
  }
}

bool IsRetryable(const SAException& e, int kind) {
  if (e.ErrClass() == SA_UserGenerated_Error) return e.ErrNativeCode() == -10;
  return CVKTPostgreSQL::IsLockErrOfKind(kind, e);
}

// What the runners change on a host's connection, put back on every way
// out: auto-commit mode, isolation level and the server's lock waiting.
class SavedSettings {
 public:
  SavedSettings(SAConnection* conn, int kind)
      : conn_(conn), autocommit_(conn->AutoCommit()), isolation_(conn->IsolationLevel()) {
    // Read in auto-commit mode, so that the read begins no transaction at
    // the host's isolation level.
    const bool open = conn->isTransactionOpen();
    if (!open) conn->setAutoCommit(SA_AutoCommitOn);
    try {
      restore_ = RestoreStatement(kind);
    } catch (...) {
      conn->setAutoCommit(autocommit_);
      throw;
    }
    if (!open) conn->setAutoCommit(autocommit_);
  }
  ~SavedSettings() { Restore(); }
  SavedSettings(const SavedSettings&) = delete;
  SavedSettings& operator=(const SavedSettings&) = delete;

  SAConnection* connection() const { return conn_; }

  void Restore() noexcept {
    if (restored_) return;
    restored_ = true;
    if (conn_->isTransactionOpen()) RollbackQuietly(conn_);
    try {
      if (!restore_.empty() && conn_->isConnected()) {
        conn_->setAutoCommit(SA_AutoCommitOn);
        SACommand cmd(conn_, SAString(restore_));
        cmd.Execute();
      }
    } catch (const SAException& e) {
      Notice("Ripristino attesa lock", e);
    }
    try {
      conn_->setAutoCommit(autocommit_);
    } catch (const SAException& e) {
      Notice("Ripristino auto-commit", e);
    }
    conn_->setIsolationLevel(isolation_);
  }

 private:
  std::string RestoreStatement(int kind) {
    if (IsPgKind(kind)) {
      SACommand q(conn_, "SHOW lock_timeout");
      q.Execute();
      if (!q.FetchNext()) return "";
      return "SET lock_timeout TO " + vkt::sql::QuoteLiteral(q[1].asString().str());
    }
    if (IsMyKind(kind)) {
      SACommand q(conn_, "SELECT @@SESSION.innodb_lock_wait_timeout");
      q.Execute();
      if (!q.FetchNext()) return "";
      std::string v = q[1].asString().str();
      if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos) return "";
      return "SET SESSION innodb_lock_wait_timeout = " + v;
    }
    // The c-tree server cannot be asked for its blocking mode.
    return "";
  }

  SAConnection* conn_;
  SAAutoCommit_t autocommit_;
  SAIsolationLevel_t isolation_;
  std::string restore_;
  bool restored_ = false;
};

// Closes the runner's own connection on every way out.
class Disconnector {
 public:
  explicit Disconnector(SAConnection* conn) : conn_(conn) {}
  ~Disconnector() {
    try {
      conn_->Disconnect();
    } catch (const SAException& e) {
      Notice("Disconnect", e);
      conn_->Destroy();
    }
  }
  Disconnector(const Disconnector&) = delete;
  Disconnector& operator=(const Disconnector&) = delete;

 private:
  SAConnection* conn_;
};

void BeginWork(SAConnection* conn, int kind) {
  conn->setAutoCommit(SA_AutoCommitOff);
  conn->setIsolationLevel(kind == 0 ? SA_RepeatableRead : SA_Serializable);
}

// A delete must be allowed and confirmed before anything is opened.
void CheckDelete(int operation, const char* function) {
  if (operation != 2) return;
  if (vktpar != nullptr && vktpar->no_delete != nullptr && *vktpar->no_delete != 0) {
    vkt::services().Beep(1000, 10);
    ThrowUserException(-14, kSourceFile, __LINE__, function, nullptr);
  }
  int answer = vkt::ReportUnlessSilent("Confermi la Cancellazione....", Caption(),
                                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  if (answer != IDYES) ThrowUserException(-14, kSourceFile, __LINE__, function, nullptr);
}

SAConnection* ConnectionOf(SACommand* cmd, const char* function) {
  if (cmd == nullptr || cmd->Connection() == nullptr)
    ThrowUserException("Comando senza connessione", kSourceFile, __LINE__, function, nullptr);
  return cmd->Connection();
}

[[noreturn]] void BadSavepoint(int line, const char* function) {
  ThrowUserException("Savepoint name not valid!", kSourceFile, line, function, nullptr);
}

void RunSavepoint(int kind, SACommand* cmd, const SAString& name, const char* verb, int line,
                  const char* function) {
  if (kind == 0) return;
  // The name goes into the text unquoted: only a plain identifier may.
  if (!vkt::sql::IsPlainIdentifier(name.GetMultiByteChars())) BadSavepoint(line, function);
  if (cmd == nullptr || cmd->Connection() == nullptr)
    ThrowUserException("Comando senza connessione", kSourceFile, line, function, nullptr);
  cmd->setCommandText(SAString(std::string(verb) + name.str()), SA_CmdUnknown);
  cmd->Execute();
}

}  // namespace

// --- Savepoints and lock clauses ---------------------------------------------------

void CVKTPostgreSQL::CreateSavePoint(SACommand* cmd, SAString& name) {
  RunSavepoint(dbType, cmd, name, "SAVEPOINT ", __LINE__, "CVKTPostgreSQL::CreateSavePoint");
}

void CVKTPostgreSQL::RollbackSavepoint(SACommand* cmd, SAString& name) {
  RunSavepoint(dbType, cmd, name, "ROLLBACK TO SAVEPOINT ", __LINE__,
               "CVKTPostgreSQL::RollbackSavepoint");
}

void CVKTPostgreSQL::ReleaseSavepoint(SACommand* cmd, SAString& name) {
  RunSavepoint(dbType, cmd, name, "RELEASE SAVEPOINT ", __LINE__,
               "CVKTPostgreSQL::ReleaseSavepoint");
}

SAString CVKTPostgreSQL::GetLockString(int16_t mode) {
  if (mode == 1) return SAString(dbType == 0 ? "" : " FOR SHARE");
  if (mode == 2) return SAString(dbType == 5 ? " FOR UPDATE NOWAIT 2" : " FOR UPDATE");
  return SAString();
}

// --- Error classifiers --------------------------------------------------------------

bool CVKTPostgreSQL::IsDupKeyErr(SAException& e) {
  if (e.ErrClass() == SA_UserGenerated_Error && e.ErrNativeCode() == -12) return true;
  if (!IsServerError(e)) return false;
  if (dbType == 0) return NativeIn(e, {-17002, -17420});
  if (IsPgKind(dbType)) return StateIn(e, {"23505"});
  if (IsMyKind(dbType)) return NativeIn(e, {1061, 1062});
  return false;
}

bool CVKTPostgreSQL::IsDupColumnErr(SAException& e) {
  if (!IsServerError(e)) return false;
  if (dbType == 0) return NativeIn(e, {-20010});
  if (IsPgKind(dbType)) return StateIn(e, {"42701"});
  if (IsMyKind(dbType)) return NativeIn(e, {1060});
  return false;
}

bool CVKTPostgreSQL::IsDupConstraintErr(SAException& e) {
  if (!IsServerError(e)) return false;
  if (IsPgKind(dbType)) return StateIn(e, {"42710"});
  if (IsMyKind(dbType)) return NativeIn(e, {1826});
  return false;
}

bool CVKTPostgreSQL::IsViewNotExistErr(SAException& e) {
  if (!IsServerError(e)) return false;
  if (dbType == 0) return NativeIn(e, {-20179});
  if (IsPgKind(dbType)) return StateIn(e, {"42P01"});
  if (IsMyKind(dbType)) return NativeIn(e, {1051});
  return false;
}

bool CVKTPostgreSQL::IsTableNotExistErr(SAException& e) {
  if (!IsServerError(e)) return false;
  if (dbType == 0) return NativeIn(e, {-20005});
  if (IsPgKind(dbType)) return StateIn(e, {"42P01"});
  return false;
}

bool CVKTPostgreSQL::IsLockErrOfKind(int kind, const SAException& e) {
  if (!IsServerError(e)) return false;
  if (kind == 0) return NativeIn(e, {-17042, -17057, -17086, -17156});
  if (IsPgKind(kind)) {
    std::string s = SqlState(e);
    for (char& c : s)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s == "55P03" || s == "40P01" || s == "40001";
  }
  if (IsMyKind(kind))
    return NativeIn(e, {1015, 1099, 1205, 1206, 1207, 1213, 1223, 1428, 1614, 1689, 3058, 3177,
                        3572});
  return false;
}

bool CVKTPostgreSQL::IsLockErr(SAException& e) { return IsLockErrOfKind(dbType, e); }

bool CVKTPostgreSQL::IsDatabaseNotExist(SAException& e) {
  if (!IsServerError(e)) return false;
  if (dbType == 0) return NativeIn(e, {-21094, -17012, -26018});
  if (dbType == 1) return StateIn(e, {"08001"});
  if (dbType == 2) {
    if (e.ErrNativeCode() != 1) return false;
    SAString want;
    want.Format("FATALE:  il database \"%-s\" non esiste\n",
                vktpar != nullptr ? vktpar->archive : "");
    return e.ErrText() == want;
  }
  if (IsMyKind(dbType)) return NativeIn(e, {1049});
  return false;
}

bool CVKTPostgreSQL::IsTriggerAlreadyExist(SAException& e) {
  if (dbType == 0 || IsPgKind(dbType)) {
    vkt::Report("Da Implementare", Caption(), MB_OK);
    return false;
  }
  if (!IsServerError(e)) return false;
  if (IsMyKind(dbType)) return NativeIn(e, {1359});
  return false;
}

bool CVKTPostgreSQL::IsColumnNameNonExistErr(SAException& e) {
  if (!IsServerError(e)) return false;
  if (dbType == 0) return NativeIn(e, {-22507});
  if (IsPgKind(dbType)) return StateIn(e, {"42703"});
  if (IsMyKind(dbType)) return NativeIn(e, {1054});
  return false;
}

// --- Runners ------------------------------------------------------------------------

namespace {

// The attempts of the runners on one connection. Returns after the commit;
// nothing after a successful commit is inside the retried block.
void RunAttempts(CVKTPostgreSQL* self, SAConnection* conn, SACommand* cmd, int operation,
                 void* record, void* extra, bool flag, const char* function) {
  const int kind = self->GetDbType();
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    try {
      SetLockWaiting(cmd, kind, false);
      {
        InWriteFunc inside;
        self->WriteFunc(cmd, operation, record, extra, flag);
      }
      conn->Commit();
      return;
    } catch (const SAException& e) {
      RollbackQuietly(conn);
      if (!IsRetryable(e, kind)) throw;
    } catch (...) {
      RollbackQuietly(conn);
      throw;
    }
    vkt::services().Sleep(kRunnerWaitMs);
  }
  ThrowUserException(86, kSourceFile, __LINE__, function, nullptr);
}

}  // namespace

void CVKTPostgreSQL::SqlTransaction(int operation, void* record, void* extra, bool flag,
                                    int32_t year) {
  static const char* const kFunction = "CVKTPostgreSQL::SqlTransaction";
  psql_transaction = false;
  CheckDelete(operation, kFunction);
  SAConnection conn;
  SACommand cmd;
  // Destroyed in reverse order: the connection is closed, then the cursor
  // goes off, also when OpenConnection throws.
  vkt::WaitCursorGuard cursor;
  Disconnector closer(&conn);
  OpenConnection(&conn, &cmd, false, year);
  BeginWork(&conn, dbType);
  RunAttempts(this, &conn, &cmd, operation, record, extra, flag, kFunction);
}

void CVKTPostgreSQL::SqlTransaction(SACommand* cmd, int operation, void* record, void* extra,
                                    bool flag) {
  static const char* const kFunction = "CVKTPostgreSQL::SqlTransaction";
  psql_transaction = false;
  CheckDelete(operation, kFunction);
  SAConnection* conn = ConnectionOf(cmd, kFunction);
  vkt::WaitCursorGuard cursor;
  SavedSettings saved(conn, dbType);
  BeginWork(conn, dbType);
  RunAttempts(this, conn, cmd, operation, record, extra, flag, kFunction);
}

void CVKTPostgreSQL::SqlDitribuitedTransaction(DIST_TRANSACTION* work, void* record, void* extra,
                                               bool flag) {
  static const char* const kFunction = "CVKTPostgreSQL::SqlDitribuitedTransaction";
  psql_transaction = false;
  if (work == nullptr)
    ThrowUserException("Transazione senza descrittore", kSourceFile, __LINE__, kFunction, nullptr);
  CheckDelete(work->operation1, kFunction);
  struct Side {
    SACommand* cmd;
    SAConnection* conn;
    int kind;
    int operation;
  };
  Side one{work->command1, ConnectionOf(work->command1, kFunction), work->dbType1,
           work->operation1};
  Side two{work->command2, ConnectionOf(work->command2, kFunction), work->dbType2,
           work->operation2};
  Side& first = work->firstBeforeSecond ? one : two;
  Side& second = work->firstBeforeSecond ? two : one;
  const bool shared = first.conn == second.conn;

  SavedSettings saved_first(first.conn, first.kind);
  std::optional<SavedSettings> saved_second;
  if (!shared) saved_second.emplace(second.conn, second.kind);
  BeginWork(first.conn, first.kind);
  if (!shared) BeginWork(second.conn, second.kind);
  vkt::WaitCursorGuard cursor;

  auto rollback_both = [&] {
    RollbackQuietly(first.conn);
    if (!shared) RollbackQuietly(second.conn);
  };
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    const Side* failing = &first;
    bool first_committed = false;
    try {
      SetLockWaiting(first.cmd, first.kind, true);
      failing = &second;
      SetLockWaiting(second.cmd, second.kind, true);
      {
        InWriteFunc inside;
        failing = &first;
        WriteFunc(first.cmd, first.operation, record, extra, flag);
        failing = &second;
        WriteFunc(second.cmd, second.operation, record, extra, flag);
      }
      failing = &first;
      first.conn->Commit();
      first_committed = true;
    } catch (const SAException& e) {
      rollback_both();
      // A failure is judged by the server that raised it.
      if (!IsRetryable(e, failing->kind)) throw;
    } catch (...) {
      rollback_both();
      throw;
    }
    if (first_committed) {
      // The first connection's work is kept whatever happens now, so the
      // second commit is never retried: applying the first part again would
      // write it twice.
      if (!shared) saved_first.Restore();
      try {
        second.conn->Commit();
      } catch (const SAException& e) {
        RollbackQuietly(second.conn);
        ThrowUserException(
            "Transazione distribuita incompleta: confermata la prima connessione, non la seconda",
            kSourceFile, __LINE__, kFunction, e.ErrText().GetMultiByteChars());
      }
      return;
    }
    vkt::services().Sleep(kDistributedWaitMs);
  }
  ThrowUserException(86, kSourceFile, __LINE__, kFunction, nullptr);
}
