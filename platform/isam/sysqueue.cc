// System queues: named FIFO/LIFO message queues that every process of the
// same server or program folder shares through "<folder>/isamqueue.db".
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "isam/ctree.h"
#include "isam/detail/session.h"
#include "isam/detail/sidedb.h"
#include "win/services.h"

using namespace vkt::isam::detail;  // NOLINT: the exported names are global

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS queue(name BLOB NOT NULL, seq INTEGER NOT NULL, body BLOB NOT NULL,"
    " PRIMARY KEY(name, seq)) WITHOUT ROWID";
constexpr uint32_t kPollMs = 20;

struct Queue {
  std::string name;
  std::shared_ptr<SideDb> db;
};

struct Queues {
  std::mutex mu;
  std::map<std::string, std::shared_ptr<SideDb>> dbs;  // by folder
  std::map<int, Queue> open;
  int next = 1;
};

Queues& Q() {
  static auto* q = new Queues();
  return *q;
}

int Ret(Status s) {
  isam_err = uerr_cod = s.code;
  sysio_cod = static_cast<int16_t>(s.sys);
  return s.code;
}

int RetVal(Status s, int value) {
  Ret(s);
  return value;
}

// A handle of the open session (82 once the session is closed, 33 unknown).
Status Find(int handle, Queue* out) {
  {
    std::lock_guard<std::recursive_mutex> l(SessionMutex());
    if (!Cur().init) return CT_NOT_INITIALISED;
  }
  Queues& q = Q();
  std::lock_guard<std::mutex> l(q.mu);
  auto it = q.open.find(handle);
  if (it == q.open.end()) return CT_BAD_PARAMETER;
  *out = it->second;
  return {};
}

Status Put(int handle, const void* message, int msglen, bool lifo) {
  Queue q;
  VKT_ISAM_RETURN_IF_ERROR(Find(handle, &q));
  if (message == nullptr || msglen <= 0 || msglen > kSysQueueMaxMessage) return CT_BAD_PARAMETER;
  const std::string body(static_cast<const char*>(message), static_cast<size_t>(msglen));
  return q.db->Write([&] {
    std::vector<SideRow> rows;
    VKT_ISAM_RETURN_IF_ERROR(q.db->Exec(
        lifo ? "SELECT coalesce(min(seq), 1) - 1 FROM queue WHERE name = ?1"
             : "SELECT coalesce(max(seq), 0) + 1 FROM queue WHERE name = ?1",
        {SideValue::Blob(q.name)}, &rows));
    const int64_t seq = rows.empty() ? 1 : rows[0][0].i;
    return q.db->Exec("INSERT INTO queue(name, seq, body) VALUES(?1, ?2, ?3)", {SideValue::Blob(q.name), seq, SideValue::Blob(body)});
  });
}

// The first message (without taking it), waiting up to timeout ms.
Status Peek(const Queue& q, int32_t timeout, int64_t* seq, std::string* body) {
  const int64_t start = vkt::services().MonotonicMicros();
  for (;;) {
    std::vector<SideRow> rows;
    VKT_ISAM_RETURN_IF_ERROR(
        q.db->Exec("SELECT seq, body FROM queue WHERE name = ?1 ORDER BY seq LIMIT 1", {SideValue::Blob(q.name)}, &rows));
    if (!rows.empty()) {
      *seq = rows[0][0].i;
      *body = rows[0][1].s;
      return {};
    }
    if (timeout == 0) return CT_TIMEOUT;
    if (timeout > 0 && vkt::services().MonotonicMicros() - start >= int64_t{timeout} * 1000)
      return CT_TIMEOUT;
    vkt::services().Sleep(kPollMs);
  }
}

}  // namespace

namespace vkt::isam::detail {

void ResetSysQueuesForTesting() {
  Queues& q = Q();
  std::lock_guard<std::mutex> l(q.mu);
  q.open.clear();
  q.dbs.clear();
}

}  // namespace vkt::isam::detail

int ctSysQueueOpen(char* qname, int qmode) {
  std::string folder;
  {
    Call c;
    if (c.faulted()) return c.Val(c.fault(), -1);
    if (Status s = NeedInit(); !s.ok()) return c.Val(s, -1);
    folder = SideFolder();
  }
  if (qname == nullptr || qname[0] == '\0' || strnlen(qname, kSysQueueMaxName + 1) > kSysQueueMaxName ||
      qmode != 0)
    return RetVal(CT_BAD_PARAMETER, -1);
  Queues& q = Q();
  std::lock_guard<std::mutex> l(q.mu);
  std::shared_ptr<SideDb>& db = q.dbs[folder];
  if (!db) {
    auto fresh = std::make_shared<SideDb>();
    if (Status s = fresh->Open(folder + "/isamqueue.db", true, kSchema); !s.ok()) {
      q.dbs.erase(folder);
      if (s.code == CT_FILE_NOT_FOUND && (s.sys == EACCES || s.sys == EPERM)) s.code = CT_CREATE_DENIED;
      return RetVal(s, -1);
    }
    db = fresh;
  }
  const int handle = q.next++;
  q.open[handle] = Queue{qname, db};
  return RetVal({}, handle);
}

int ctSysQueueClose(int qhandle) {
  Queues& q = Q();
  std::lock_guard<std::mutex> l(q.mu);
  if (q.open.erase(qhandle) == 0) return Ret(CT_BAD_PARAMETER);
  return Ret({});
}

int ctSysQueueWrite(int qhandle, void* message, int msglen) {
  return Ret(Put(qhandle, message, msglen, false));
}

int ctSysQueueLIFOWrite(int qhandle, void* message, int msglen) {
  return Ret(Put(qhandle, message, msglen, true));
}

int ctSysQueueRead(int qhandle, void* buffer, int bufsiz, int32_t timeout) {
  Queue q;
  if (Status s = Find(qhandle, &q); !s.ok()) return Ret(s);
  if (buffer == nullptr || bufsiz <= 0 || timeout < -1) return Ret(CT_BAD_PARAMETER);
  for (;;) {
    int64_t seq = 0;
    std::string body;
    if (Status s = Peek(q, timeout, &seq, &body); !s.ok()) return Ret(s);
    if (body.size() > static_cast<size_t>(bufsiz)) return Ret(CT_BUFFER_TOO_SMALL);
    // Taken only when it is still there: another reader may have been first.
    bool taken = false;
    Status s = q.db->Write([&] {
      std::vector<SideRow> rows;
      VKT_ISAM_RETURN_IF_ERROR(
          q.db->Exec("DELETE FROM queue WHERE name = ?1 AND seq = ?2 RETURNING seq", {SideValue::Blob(q.name), seq}, &rows));
      taken = !rows.empty();
      return Status{};
    });
    if (!s.ok()) return Ret(s);
    if (taken) {
      std::memcpy(buffer, body.data(), body.size());
      return Ret({});
    }
  }
}

int ctSysQueueMlen(int qhandle, int32_t timeout) {
  Queue q;
  if (Status s = Find(qhandle, &q); !s.ok()) return RetVal(s, -1);
  if (timeout < -1) return RetVal(CT_BAD_PARAMETER, -1);
  int64_t seq = 0;
  std::string body;
  if (Status s = Peek(q, timeout, &seq, &body); !s.ok()) return RetVal(s, -1);
  return RetVal({}, static_cast<int>(body.size()));
}

int ctSysQueueCount(int qhandle) {
  Queue q;
  if (Status s = Find(qhandle, &q); !s.ok()) return RetVal(s, -1);
  std::vector<SideRow> rows;
  if (Status s = q.db->Exec("SELECT count(*) FROM queue WHERE name = ?1", {SideValue::Blob(q.name)}, &rows); !s.ok())
    return RetVal(s, -1);
  return RetVal({}, rows.empty() ? 0 : static_cast<int>(rows[0][0].i));
}
