// Record database objects: sessions with their dictionary of databases and
// tables, database handles connected to one of them, and the ISAM
// transaction reached through a session.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

#include "isam/ctree.h"
#include "isam/detail/descriptor.h"
#include "isam/detail/session.h"
#include "isam/detail/sidedb.h"

using namespace vkt::isam::detail;  // NOLINT: the exported names are global

namespace {

constexpr const char* kDictionary = "isamdict.db";
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS dbs(name TEXT PRIMARY KEY COLLATE NOCASE, path TEXT NOT NULL,"
    " owner TEXT NOT NULL DEFAULT '');"
    "CREATE TABLE IF NOT EXISTS tbls(db TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,"
    " path TEXT NOT NULL, PRIMARY KEY(db, name))";

struct Database;

struct Session {
  CTSESSION_TYPE type = CTSESSION_CTREE;
  bool active = false;     // logged on or attached
  bool owns_isam = false;  // the logon opened the ISAM session
  bool attached = false;
  bool txn = false;        // a transaction begun through this session
  std::string folder;      // the dictionary's folder
  std::shared_ptr<SideDb> dict;
};

struct Database {
  Session* session = nullptr;
  bool connected = false;
  std::string name, path;
  std::vector<std::pair<std::string, std::string>> walk;  // tables of First/NextTable
  size_t next = 0;
};

struct Registry {
  std::set<Session*> sessions;
  std::set<Database*> databases;
};

Registry& R() {
  static auto* r = new Registry();
  return *r;
}

Session* AsSession(CTHANDLE h) {
  auto* s = static_cast<Session*>(h);
  return R().sessions.count(s) != 0 ? s : nullptr;
}

Database* AsDatabase(CTHANDLE h) {
  auto* d = static_cast<Database*>(h);
  return R().databases.count(d) != 0 ? d : nullptr;
}

// Database and table names become file and dictionary names.
bool GoodName(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  const size_t n = strnlen(name, kCtdbMaxName + 1);
  if (n > kCtdbMaxName) return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == '/' || c == '\\') return false;
  }
  return true;
}

bool GoodPath(const char* path) { return path == nullptr || strnlen(path, PATH_MAX) < PATH_MAX; }

std::string Text(const char* p) { return p != nullptr ? p : ""; }

Status FolderOf(char* server, char* user, char* password, std::string* folder) {
  if (server == nullptr || server[0] == '\0') {
    // Local: the program folder.
    const std::string settings = vkt::isam::IsamSettingsPath();
    const size_t slash = settings.rfind('/');
    *folder = slash == std::string::npos || slash == 0 ? std::string(slash == 0 ? "/" : ".")
                                                       : settings.substr(0, slash);
    return {};
  }
  return Logon(user, password, server, folder);
}

Status OpenDictionary(const std::string& folder, bool create, std::shared_ptr<SideDb>* out) {
  const std::string path = folder + "/" + kDictionary;
  if (!create && ::access(path.c_str(), F_OK) != 0) return {CT_FILE_NOT_FOUND, ENOENT};
  auto db = std::make_shared<SideDb>();
  VKT_ISAM_RETURN_IF_ERROR(db->Open(path, create, kSchema));
  *out = std::move(db);
  return {};
}

Status Lookup(Session* s, const char* name, std::string* path, std::string* owner = nullptr) {
  std::vector<SideRow> rows;
  VKT_ISAM_RETURN_IF_ERROR(s->dict->Exec("SELECT path, owner FROM dbs WHERE name = ?1", {Text(name)}, &rows));
  if (rows.empty()) return CT_NOT_FOUND;
  *path = rows[0][0].s;
  if (owner != nullptr) *owner = rows[0][1].s;
  return {};
}

bool Connected(Session* s, const std::string& name) {
  for (Database* d : R().databases)
    if (d->session == s && d->connected && strcasecmp(d->name.c_str(), name.c_str()) == 0) return true;
  return false;
}

std::string Canonical(const std::string& path) {
  char real[PATH_MAX];
  return ::realpath(path.c_str(), real) != nullptr ? std::string(real) : path;
}

void DisconnectAll(Session* s) {
  for (Database* d : R().databases)
    if (d->session == s) {
      d->connected = false;
      d->walk.clear();
    }
}

CTDBRET EndSession(Session* s, bool close_isam) {
  Status result;
  if (s->txn && Cur().txn) result = Status{Abort()};
  s->txn = false;
  DisconnectAll(s);
  if (close_isam && s->owns_isam && Cur().init) {
    Status c{CloseISAM()};
    if (result.ok()) result = c;
  }
  s->active = false;
  s->owns_isam = false;
  s->attached = false;
  s->dict.reset();
  return result.code;
}

Status CopyOut(const std::string& text, char* buf, int32_t size) {
  if (buf == nullptr || size <= 0) return CT_BAD_PARAMETER;
  if (text.size() + 1 > static_cast<size_t>(size)) return CT_BUFFER_TOO_SMALL;
  std::memcpy(buf, text.c_str(), text.size() + 1);
  return {};
}

CTDBRET Walk(Database* d, char* name, int32_t namesize, char* path, int32_t pathsize) {
  if (d->next >= d->walk.size()) return CT_NOT_FOUND;
  const auto& [n, p] = d->walk[d->next];
  if (Status s = CopyOut(n, name, namesize); !s.ok()) return s.code;
  if (path != nullptr || pathsize != 0)
    if (Status s = CopyOut(p, path, pathsize); !s.ok()) return s.code;
  d->next++;
  return 0;
}

// Files of one table of a database: "<stem>.dat", its ".idx" and ".lck".
void RemoveTableFiles(const std::string& folder, const std::string& table) {
  const std::string stem = folder + "/" + table;
  for (const char* ext : {".dat", ".idx", "_2.idx", ".lck"}) ::unlink((stem + ext).c_str());
}

#define VKT_CTDB_CALL()  \
  Call c_;               \
  if (c_.faulted()) return c_.Ret(c_.fault())

}  // namespace

namespace vkt::isam::detail {
void ResetCtdbForTesting() {
  std::lock_guard<std::recursive_mutex> l(SessionMutex());
  for (Session* s : R().sessions) delete s;
  for (Database* d : R().databases) delete d;
  R().sessions.clear();
  R().databases.clear();
}
}  // namespace vkt::isam::detail

CTHANDLE ctdbAllocSession(CTSESSION_TYPE type) {
  Call c;
  if (c.faulted()) return c.Val(c.fault(), static_cast<CTHANDLE>(nullptr));
  if (type != CTSESSION_CTREE && type != CTSESSION_CTDB && type != CTSESSION_SQL)
    return c.Val(CT_BAD_PARAMETER, static_cast<CTHANDLE>(nullptr));
  auto* s = new Session();
  s->type = type;
  R().sessions.insert(s);
  return c.Val({}, static_cast<CTHANDLE>(s));
}

CTDBRET ctdbCreateSession(CTHANDLE session, char* server, char* user, char* password) {
  VKT_CTDB_CALL();
  Session* s = AsSession(session);
  if (s == nullptr) return c_.Ret(Status{CTDBRET_NOTSESSION});
  std::string folder;
  if (Status st = FolderOf(server, user, password, &folder); !st.ok()) return c_.Ret(st);
  if (::access((folder + "/" + kDictionary).c_str(), F_OK) == 0) return c_.Ret(CT_FILE_EXISTS);
  std::shared_ptr<SideDb> dict;
  Status st = OpenDictionary(folder, true, &dict);
  if (st.code == CT_FILE_NOT_FOUND && (st.sys == EACCES || st.sys == EPERM)) st.code = CT_CREATE_DENIED;
  return c_.Ret(st);
}

CTDBRET ctdbLogon(CTHANDLE session, char* server, char* user, char* password) {
  VKT_CTDB_CALL();
  Session* s = AsSession(session);
  if (s == nullptr) return c_.Ret(Status{CTDBRET_NOTSESSION});
  if (s->active) return c_.Ret(Status{CTDBRET_ISACTIVE});
  std::string folder;
  if (Status st = FolderOf(server, user, password, &folder); !st.ok()) return c_.Ret(st);
  std::shared_ptr<SideDb> dict;
  if (Status st = OpenDictionary(folder, false, &dict); !st.ok()) return c_.Ret(st);
  bool owns = false;
  if (!Cur().init) {
    if (int16_t st = InitISAMXtd(15, 400, 16, 15, 1, user, password, server); st != 0) return c_.Ret(st);
    owns = true;
  }
  s->active = true;
  s->owns_isam = owns;
  s->folder = folder;
  s->dict = std::move(dict);
  return c_.Ret({});
}

CTDBRET ctdbLogout(CTHANDLE session) {
  VKT_CTDB_CALL();
  Session* s = AsSession(session);
  if (s == nullptr) return c_.Ret(Status{CTDBRET_NOTSESSION});
  if (!s->active) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  return c_.Ret(Status{static_cast<int16_t>(EndSession(s, true))});
}

void ctdbFreeSession(CTHANDLE session) {
  Call c;
  Session* s = AsSession(session);
  if (s == nullptr) {
    c.Ret(Status{CTDBRET_NOTSESSION});
    return;
  }
  if (s->active) (void)EndSession(s, !s->attached);
  // Its database handles die with it.
  for (auto it = R().databases.begin(); it != R().databases.end();) {
    if ((*it)->session == s) {
      delete *it;
      it = R().databases.erase(it);
    } else {
      ++it;
    }
  }
  R().sessions.erase(s);
  delete s;
  c.Ret({});
}

CTDBRET ctdbAttachSession(CTHANDLE session, CTHANDLE source, CTATTACH_MODE mode, int isTransProcess) {
  VKT_CTDB_CALL();
  (void)isTransProcess;
  Session* s = AsSession(session);
  if (s == nullptr) return c_.Ret(Status{CTDBRET_NOTSESSION});
  if (s->active) return c_.Ret(Status{CTDBRET_ISACTIVE});
  std::string folder;
  if (mode == CTATTACH_SESSION) {
    Session* from = AsSession(source);
    if (from == nullptr || from == s) return c_.Ret(Status{CTDBRET_NOTSESSION});
    if (!from->active) return c_.Ret(Status{CTDBRET_NOTACTIVE});
    folder = from->folder;
  } else if (mode == CTATTACH_CTREEID || mode == CTATTACH_CURRENT) {
    if (!Cur().init) return c_.Ret(Status{CTDBRET_NOTACTIVE});
    folder = SideFolder();
  } else {
    return c_.Ret(CT_BAD_PARAMETER);
  }
  std::shared_ptr<SideDb> dict;
  if (Status st = OpenDictionary(folder, false, &dict); !st.ok()) return c_.Ret(st);
  s->active = true;
  s->attached = true;
  s->owns_isam = false;
  s->folder = folder;
  s->dict = std::move(dict);
  return c_.Ret({});
}

CTDBRET ctdbDetachSession(CTHANDLE session) {
  VKT_CTDB_CALL();
  Session* s = AsSession(session);
  if (s == nullptr) return c_.Ret(Status{CTDBRET_NOTSESSION});
  if (!s->active || !s->attached) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  return c_.Ret(Status{static_cast<int16_t>(EndSession(s, false))});
}

CTHANDLE ctdbAllocDatabase(CTHANDLE session) {
  Call c;
  if (c.faulted()) return c.Val(c.fault(), static_cast<CTHANDLE>(nullptr));
  Session* s = AsSession(session);
  if (s == nullptr) return c.Val(Status{CTDBRET_NOTSESSION}, static_cast<CTHANDLE>(nullptr));
  auto* d = new Database();
  d->session = s;
  R().databases.insert(d);
  return c.Val({}, static_cast<CTHANDLE>(d));
}

void ctdbFreeDatabase(CTHANDLE database) {
  Call c;
  Database* d = AsDatabase(database);
  if (d == nullptr) {
    c.Ret(Status{CTDBRET_NOTDATABASE});
    return;
  }
  R().databases.erase(d);
  delete d;
  c.Ret({});
}

CTDBRET ctdbConnect(CTHANDLE database, char* name) {
  VKT_CTDB_CALL();
  Database* d = AsDatabase(database);
  if (d == nullptr) return c_.Ret(Status{CTDBRET_NOTDATABASE});
  if (!d->session->active) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  if (d->connected) return c_.Ret(Status{CTDBRET_ISACTIVE});
  if (!GoodName(name)) return c_.Ret(Status{CTDBRET_INVNAME});
  std::string path;
  if (Status st = Lookup(d->session, name, &path); !st.ok()) return c_.Ret(st);
  std::vector<SideRow> rows;
  if (Status st = d->session->dict->Exec("SELECT name FROM dbs WHERE name = ?1", {Text(name)}, &rows); !st.ok())
    return c_.Ret(st);
  d->name = rows.empty() ? Text(name) : rows[0][0].s;
  d->path = path;
  d->connected = true;
  d->walk.clear();
  d->next = 0;
  return c_.Ret({});
}

CTDBRET ctdbDisconnect(CTHANDLE database) {
  VKT_CTDB_CALL();
  Database* d = AsDatabase(database);
  if (d == nullptr) return c_.Ret(Status{CTDBRET_NOTDATABASE});
  if (!d->connected) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  d->connected = false;
  d->walk.clear();
  return c_.Ret({});
}

namespace {

CTDBRET AddDb(Call& c, CTHANDLE session, char* name, char* path, bool create) {
  Session* s = AsSession(session);
  if (s == nullptr) return c.Ret(Status{CTDBRET_NOTSESSION});
  if (!s->active) return c.Ret(Status{CTDBRET_NOTACTIVE});
  if (!GoodName(name) || !GoodPath(path)) return c.Ret(Status{CTDBRET_INVNAME});
  std::string folder = path != nullptr && path[0] != '\0' ? std::string(path) : s->folder + "/" + name;
  std::string known;
  Status st = Lookup(s, name, &known);
  if (st.ok()) return c.Ret(CT_FILE_EXISTS);
  if (st.code != CT_NOT_FOUND) return c.Ret(st);
  struct stat info;
  const bool exists = ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  if (!create && !exists) return c.Ret(Status{CT_FILE_NOT_FOUND, ENOENT});
  if (create && !exists && ::mkdir(folder.c_str(), 0777) != 0)
    return c.Ret(Status{errno == EACCES || errno == EPERM ? CT_CREATE_DENIED : CT_CREATE_FAILED, errno});
  folder = Canonical(folder);
  return c.Ret(s->dict->Write([&] {
    return s->dict->Exec("INSERT INTO dbs(name, path) VALUES(?1, ?2)", {Text(name), folder});
  }));
}

CTDBRET RemoveDb(Call& c, CTHANDLE session, char* name, bool files) {
  Session* s = AsSession(session);
  if (s == nullptr) return c.Ret(Status{CTDBRET_NOTSESSION});
  if (!s->active) return c.Ret(Status{CTDBRET_NOTACTIVE});
  if (!GoodName(name)) return c.Ret(Status{CTDBRET_INVNAME});
  std::string folder;
  if (Status st = Lookup(s, name, &folder); !st.ok()) return c.Ret(st);
  if (Connected(s, name)) return c.Ret(Status{CTDBRET_INUSE});
  std::vector<SideRow> tables;
  if (Status st = s->dict->Exec("SELECT name, path FROM tbls WHERE db = ?1", {Text(name)}, &tables); !st.ok())
    return c.Ret(st);
  if (files) {
    // Tables still open here would lose their files under them.
    for (const auto& f : Cur().files)
      if (f->folder != nullptr && f->folder->path == folder) return c.Ret(CT_FILE_LOCKED);
  }
  Status st = s->dict->Write([&] {
    VKT_ISAM_RETURN_IF_ERROR(s->dict->Exec("DELETE FROM tbls WHERE db = ?1", {Text(name)}));
    return s->dict->Exec("DELETE FROM dbs WHERE name = ?1", {Text(name)});
  });
  if (!st.ok() || !files) return c.Ret(st);
  // Tables of other folders keep their files: their records live in those
  // folders' stores.
  for (const SideRow& t : tables)
    if (Canonical(t[1].s) == folder) RemoveTableFiles(folder, t[0].s);
  for (const char* f : {"isam.db", "isam.db-wal", "isam.db-shm"}) ::unlink((folder + "/" + f).c_str());
  ::rmdir(folder.c_str());  // only when nothing else is left in it
  return c.Ret({});
}

}  // namespace

CTDBRET ctdbCreateDatabase(CTHANDLE session, char* name, char* path) {
  VKT_CTDB_CALL();
  return AddDb(c_, session, name, path, true);
}

CTDBRET ctdbAddDatabase(CTHANDLE session, char* name, char* path) {
  VKT_CTDB_CALL();
  return AddDb(c_, session, name, path, false);
}

CTDBRET ctdbDropDatabase(CTHANDLE session, char* name) {
  VKT_CTDB_CALL();
  return RemoveDb(c_, session, name, false);
}

CTDBRET ctdbDeleteDatabase(CTHANDLE session, char* name) {
  VKT_CTDB_CALL();
  return RemoveDb(c_, session, name, true);
}

CTDBRET ctdbFirstTable(CTHANDLE database, char* name, int32_t namesize, char* path, int32_t pathsize) {
  VKT_CTDB_CALL();
  Database* d = AsDatabase(database);
  if (d == nullptr) return c_.Ret(Status{CTDBRET_NOTDATABASE});
  if (!d->connected || !d->session->active) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  std::vector<SideRow> rows;
  if (Status st = d->session->dict->Exec("SELECT name, path FROM tbls WHERE db = ?1 ORDER BY name", {d->name},
                                         &rows);
      !st.ok())
    return c_.Ret(st);
  d->walk.clear();
  for (const SideRow& r : rows) d->walk.emplace_back(r[0].s, r[1].s);
  d->next = 0;
  return c_.Ret(Status{static_cast<int16_t>(Walk(d, name, namesize, path, pathsize))});
}

CTDBRET ctdbNextTable(CTHANDLE database, char* name, int32_t namesize, char* path, int32_t pathsize) {
  VKT_CTDB_CALL();
  Database* d = AsDatabase(database);
  if (d == nullptr) return c_.Ret(Status{CTDBRET_NOTDATABASE});
  if (!d->connected || !d->session->active) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  return c_.Ret(Status{static_cast<int16_t>(Walk(d, name, namesize, path, pathsize))});
}

CTDBRET ctdbAddTable(CTHANDLE database, char* name, char* path) {
  VKT_CTDB_CALL();
  Database* d = AsDatabase(database);
  if (d == nullptr) return c_.Ret(Status{CTDBRET_NOTDATABASE});
  if (!d->connected || !d->session->active) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  if (!GoodName(name) || !GoodPath(path)) return c_.Ret(Status{CTDBRET_INVNAME});
  std::string folder = path != nullptr && path[0] != '\0' ? Canonical(path) : d->path;
  Descriptor desc;
  if (Status st = ReadDescriptor(folder + "/" + name + ".dat", &desc); !st.ok()) return c_.Ret(st);
  if (desc.index) return c_.Ret(CT_WRONG_FILE_KIND);
  Session* s = d->session;
  return c_.Ret(s->dict->Write([&]() -> Status {
    std::vector<SideRow> rows;
    VKT_ISAM_RETURN_IF_ERROR(
        s->dict->Exec("SELECT 1 FROM tbls WHERE db = ?1 AND name = ?2", {d->name, Text(name)}, &rows));
    if (!rows.empty()) return CT_FILE_EXISTS;
    return s->dict->Exec("INSERT INTO tbls(db, name, path) VALUES(?1, ?2, ?3)", {d->name, Text(name), folder});
  }));
}

CTDBRET ctdbDropTable(CTHANDLE database, char* name) {
  VKT_CTDB_CALL();
  Database* d = AsDatabase(database);
  if (d == nullptr) return c_.Ret(Status{CTDBRET_NOTDATABASE});
  if (!d->connected || !d->session->active) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  if (!GoodName(name)) return c_.Ret(Status{CTDBRET_INVNAME});
  Session* s = d->session;
  return c_.Ret(s->dict->Write([&]() -> Status {
    std::vector<SideRow> rows;
    VKT_ISAM_RETURN_IF_ERROR(s->dict->Exec("DELETE FROM tbls WHERE db = ?1 AND name = ?2 RETURNING name",
                                           {d->name, Text(name)}, &rows));
    return rows.empty() ? Status{CT_NOT_FOUND} : Status{};
  }));
}

CTDBRET ctdbBegin(CTHANDLE session) {
  VKT_CTDB_CALL();
  Session* s = AsSession(session);
  if (s == nullptr) return c_.Ret(Status{CTDBRET_NOTSESSION});
  if (!s->active) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  if (Begin(CT_TRN_ENABLE | CT_TRN_LOG) == 0) return c_.Ret(Status{uerr_cod, sysio_cod});
  s->txn = true;
  return c_.Ret({});
}

CTDBRET ctdbCommit(CTHANDLE session) {
  VKT_CTDB_CALL();
  Session* s = AsSession(session);
  if (s == nullptr) return c_.Ret(Status{CTDBRET_NOTSESSION});
  if (!s->active) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  const int16_t st = Commit(0);
  if (st != CT_NO_TRANSACTION) s->txn = false;
  return c_.Ret(Status{st, sysio_cod});
}

CTDBRET ctdbAbort(CTHANDLE session) {
  VKT_CTDB_CALL();
  Session* s = AsSession(session);
  if (s == nullptr) return c_.Ret(Status{CTDBRET_NOTSESSION});
  if (!s->active) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  const int16_t st = Abort();
  s->txn = false;
  return c_.Ret(Status{st, sysio_cod});
}

int ctdbSetSavePoint(CTHANDLE session) {
  Call c;
  if (c.faulted()) return c.Val(c.fault(), 0);
  Session* s = AsSession(session);
  if (s == nullptr) return c.Val(Status{CTDBRET_NOTSESSION}, 0);
  if (!s->active) return c.Val(Status{CTDBRET_NOTACTIVE}, 0);
  const int16_t sp = SetSavePoint();
  return c.Val(Status{sp > 0 ? int16_t{0} : uerr_cod}, static_cast<int>(sp));
}

CTDBRET ctdbRestoreSavePoint(CTHANDLE session, int savepoint) {
  VKT_CTDB_CALL();
  Session* s = AsSession(session);
  if (s == nullptr) return c_.Ret(Status{CTDBRET_NOTSESSION});
  if (!s->active) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  if (savepoint <= 0 || savepoint > INT16_MAX) return c_.Ret(CT_BAD_PARAMETER);
  return c_.Ret(Status{RestoreSavePoint(static_cast<int16_t>(savepoint))});
}

CTDBRET ctdbSetDefaultSqlTableOwner(CTHANDLE database, char* owner) {
  VKT_CTDB_CALL();
  Database* d = AsDatabase(database);
  if (d == nullptr) return c_.Ret(Status{CTDBRET_NOTDATABASE});
  if (!d->connected || !d->session->active) return c_.Ret(Status{CTDBRET_NOTACTIVE});
  if (owner != nullptr && owner[0] != '\0' && !GoodName(owner)) return c_.Ret(Status{CTDBRET_INVNAME});
  Session* s = d->session;
  return c_.Ret(s->dict->Write(
      [&] { return s->dict->Exec("UPDATE dbs SET owner = ?1 WHERE name = ?2", {Text(owner), d->name}); }));
}

int32_t ctdbGetDefaultSqlTableOwner(CTHANDLE database, char* owner, int32_t size) {
  Call c;
  if (c.faulted()) return c.Val(c.fault(), -1);
  Database* d = AsDatabase(database);
  if (d == nullptr) return c.Val(Status{CTDBRET_NOTDATABASE}, -1);
  if (!d->connected || !d->session->active) return c.Val(Status{CTDBRET_NOTACTIVE}, -1);
  std::string path, text;
  if (Status st = Lookup(d->session, d->name.c_str(), &path, &text); !st.ok()) return c.Val(st, -1);
  if (Status st = CopyOut(text, owner, size); !st.ok()) return c.Val(st, -1);
  return c.Val({}, static_cast<int32_t>(text.size()));
}
