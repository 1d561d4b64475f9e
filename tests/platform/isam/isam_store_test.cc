// The store under a folder's tables: its file damaged or cut short, held busy
// by another process past the engine's wait, and the session calls that act
// on the store and the open files (quiesce, file block, history sets, file
// options, serial numbers, record reset, plain close).
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "isam_fixture.h"
#include "test_util.h"

namespace vkt::isam::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class StoreTest : public IsamTest {
 protected:
  // isamtool on the test's folder, on the suite's backend.
  vkt::testing::CommandResult Tool(const std::string& args) {
    std::string cmd = ISAMTOOL_PATH;
    if (OnServer()) cmd = "VKT_ISAM_HOME=" + prog_ + " " + cmd + " -s " + kServer + " -u tester";
    return vkt::testing::RunCommand(cmd + " " + args + " 2>&1");
  }
  // A table of `n` records, closed again with the session.
  void MakeArts(int n) {
    ArtTable t(Path("art"));
    CreateArt(t);
    ASSERT_NE(Begin(50), 0);
    for (int i = 0; i < n; ++i) {
      Art a = MakeArt("A" + std::to_string(100000 + i), std::string(20, static_cast<char>('a' + i % 26)), i, i);
      ASSERT_EQ(AddRecord(t.dat(), &a), 0) << i;
    }
    ASSERT_EQ(Commit(0), 0);
    ASSERT_EQ(CloseISAM(), 0);
  }
};

// --- The store file -------------------------------------------------------------

// The leaf pages of the store table whose name matches `glob`, in tree
// order: (page number, cells), read with SQLite's own page statistics.
std::vector<std::pair<int, int>> Leaves(const std::string& store, const std::string& glob) {
  std::vector<std::pair<int, int>> out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    const std::string sql =
        "SELECT pageno, ncell FROM dbstat WHERE name GLOB ?1 AND pagetype='leaf' ORDER BY path";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
      sqlite3_bind_text(st, 1, glob.c_str(), -1, SQLITE_TRANSIENT);
      while (sqlite3_step(st) == SQLITE_ROW) out.emplace_back(sqlite3_column_int(st, 0), sqlite3_column_int(st, 1));
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

// Page `page` (from 1) of `bytes` overwritten with noise.
std::string Damaged(std::string bytes, int page) {
  const size_t at = static_cast<size_t>(page - 1) * 4096;
  for (size_t i = 0; i < 4096 && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<char>((i * 7 + 13) & 0xff);
  return bytes;
}

TEST_F(StoreTest, ADamagedOrCutShortStoreFileGivesAReadStatusAndVerifySaysSo) {
  if (OnServer()) GTEST_SKIP() << "the server keeps the store: no file of this machine to damage";
  MakeArts(400);
  const std::string store = Path("isam.db");
  ASSERT_FALSE(fs::exists(store + "-wal") && fs::file_size(store + "-wal") > 0);
  const std::string good = Bytes(store);
  ASSERT_GT(good.size(), 16u * 4096u);
  vkt::testing::CommandResult v = Tool("verify " + dir_);
  ASSERT_EQ(v.code, 0) << v.out;
  ASSERT_EQ(v.out, "ok 400\n");
  const std::string cannot = Path("art.dat") + ": cannot open (status 36)\n";
  ArtTable t(Path("art"));

  // Another program's file in its place, and the store cut short anywhere:
  // no table opens, with the read status.
  std::string foreign(good.size(), 'x');
  std::memcpy(foreign.data(), "MZ\x90", 3);
  for (const std::string& bytes : {foreign, good.substr(0, 60), good.substr(0, 4096), good.substr(0, good.size() / 2),
                                   good.substr(0, good.size() - 4096)}) {
    SCOPED_TRACE(bytes.size());
    Write(store, bytes);
    ASSERT_EQ(Init(), 0);
    EXPECT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), CT_READ_ERROR);
    EXPECT_EQ(isam_err, CT_READ_ERROR);
    EXPECT_EQ(sysio_cod & 0xff, bytes.size() == foreign.size() ? SQLITE_NOTADB : SQLITE_CORRUPT);
    EXPECT_EQ(CloseISAM(), 0);
    v = Tool("verify " + dir_);
    EXPECT_EQ(v.code, 1);
    EXPECT_EQ(v.out, cannot);
  }

  // A page of records damaged: the table opens; a walk reads the records
  // before the page and then fails with the read status, never as the end of
  // the records; the records of other pages are still read by key.
  Write(store, good);
  const std::vector<std::pair<int, int>> leaves = Leaves(store, "r[0-9]*");
  ASSERT_GE(leaves.size(), 3u);
  Write(store, Damaged(good, leaves[1].first));
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  Art a;
  int read = 0;
  int16_t s = FirstRecord(t.dat(), &a);
  for (; s == 0 && read < 1000; s = NextRecord(t.dat(), &a)) ++read;
  EXPECT_EQ(s, CT_READ_ERROR);
  EXPECT_EQ(read, leaves[0].second);
  EXPECT_EQ(NbrOfRecords(t.dat()), 0);
  EXPECT_EQ(isam_err, CT_READ_ERROR);
  const int on_page = leaves[0].second;  // the first record of the damaged page
  std::string k = CodeKey("A" + std::to_string(100000 + on_page));
  EXPECT_EQ(GetRecord(t.key(1), k.data(), &a), CT_READ_ERROR);
  k = CodeKey("A" + std::to_string(100000 + on_page - 1));
  ASSERT_EQ(GetRecord(t.key(1), k.data(), &a), 0);
  EXPECT_EQ(a.qty, on_page - 1);
  read = 0;
  for (s = FirstRecord(t.key(1), &a); s == 0 && read < 1000; s = NextRecord(t.key(1), &a)) ++read;
  EXPECT_EQ(s, CT_READ_ERROR);
  EXPECT_EQ(read, on_page);
  EXPECT_EQ(CloseISAM(), 0);
  v = Tool("verify " + dir_);
  EXPECT_EQ(v.code, 1) << v.out;
  EXPECT_EQ(v.out.find("ok "), std::string::npos) << v.out;

  // The same bytes put back: everything is there again.
  Write(store, good);
  v = Tool("verify " + dir_);
  EXPECT_EQ(v.code, 0) << v.out;
  EXPECT_EQ(v.out, "ok 400\n");
}

// --- Busy past the limit ---------------------------------------------------------

// Another process holding the folder's store for writing until told to let
// go: on a local folder a connection of its own to the store file, on a
// server a session that locks the folder's record tables.
class StoreHolder {
 public:
  StoreHolder(const std::string& folder, bool server) {
    if (server) {
      pg_ = PQconnectdb(vkt::testing::Env("VKT_PG_DSN").c_str());
      PQsetNoticeProcessor(pg_, [](void*, const char*) {}, nullptr);
      const std::string schema = "\"" + vkt::isam::detail::PgSchemaOfFolder(folder) + "\"";
      std::string sql = "BEGIN";
      PGresult* r = PQexec(pg_, ("SELECT tablename FROM pg_tables WHERE schemaname='" +
                                 vkt::isam::detail::PgSchemaOfFolder(folder) + "' AND tablename ~ '^r[0-9]+$'")
                                    .c_str());
      for (int i = 0; PQresultStatus(r) == PGRES_TUPLES_OK && i < PQntuples(r); ++i)
        sql += std::string("; LOCK TABLE ") + schema + "." + PQgetvalue(r, i, 0) + " IN EXCLUSIVE MODE";
      tables_ = PQresultStatus(r) == PGRES_TUPLES_OK ? PQntuples(r) : 0;
      PQclear(r);
      r = PQexec(pg_, sql.c_str());
      held_ = PQresultStatus(r) == PGRES_COMMAND_OK && tables_ > 0;
      PQclear(r);
      return;
    }
    int go[2], ack[2];
    if (pipe(go) != 0 || pipe(ack) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(go[1]);
      close(ack[0]);
      sqlite3* db = nullptr;
      char ok = 'n';
      if (sqlite3_open_v2((folder + "/isam.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
          sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK)
        ok = 'y';
      (void)!write(ack[1], &ok, 1);
      char c;
      (void)!read(go[0], &c, 1);  // until told, or the parent is gone
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(db);
      _exit(0);
    }
    close(go[0]);
    close(ack[1]);
    release_ = go[1];
    char ok = 'n';
    held_ = read(ack[0], &ok, 1) == 1 && ok == 'y';
    close(ack[0]);
  }
  ~StoreHolder() { Release(); }
  bool held() const { return held_; }
  void Release() {
    if (pg_ != nullptr) {
      PQclear(PQexec(pg_, "ROLLBACK"));
      PQfinish(pg_);
      pg_ = nullptr;
    }
    if (pid_ > 0) {
      close(release_);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }

 private:
  PGconn* pg_ = nullptr;
  int tables_ = 0;
  pid_t pid_ = -1;
  int release_ = -1;
  bool held_ = false;
};

TEST_F(StoreTest, AStoreHeldBusyByAnotherProcessGivesTheLockStatusAfterTheLimit) {
  MakeArts(3);
  StoreHolder holder(dir_, OnServer());
  ASSERT_TRUE(holder.held());
  ASSERT_EQ(Init(), 0);
  ArtTable t(Path("art"));
  ASSERT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  // Reads go on while the other one writes.
  Clock::time_point start = Clock::now();
  Art a;
  std::string k = CodeKey("A100001");
  EXPECT_EQ(GetRecord(t.key(1), k.data(), &a), 0);
  EXPECT_EQ(a.qty, 1);
  EXPECT_EQ(NbrOfRecords(t.dat()), 3);
  EXPECT_LT(SecondsSince(start), 1.0);
  // A write waits for the limit, then gives the lock status: no hang, and
  // nothing of it is left.
  Art n = MakeArt("BUSY", "busy", 9, 9);
  start = Clock::now();
  EXPECT_EQ(AddRecord(t.dat(), &n), CT_LOCKED);
  const double waited = SecondsSince(start);
  EXPECT_GE(waited, 2.5);
  EXPECT_LT(waited, 10.0);
  EXPECT_EQ(isam_err, CT_LOCKED);
  holder.Release();
  k = CodeKey("BUSY");
  EXPECT_EQ(GetRecord(t.key(1), k.data(), &a), CT_NOT_FOUND);
  EXPECT_EQ(NbrOfRecords(t.dat()), 3);
  // Once the other one let go, the same write goes through at once.
  start = Clock::now();
  EXPECT_EQ(AddRecord(t.dat(), &n), 0);
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_EQ(GetRecord(t.key(1), k.data(), &a), 0);
  EXPECT_EQ(NbrOfRecords(t.dat()), 4);
  EXPECT_EQ(NbrOfKeyEntries(t.key(2)), 4);
}

// --- Calls on the session and the open files ---------------------------------------

// A table numbered by the engine: a 4-byte serial at 0 (unique index), a
// name at 4.
struct Numbered {
  ISEG seg{0, 4, CT_SEG_SERIAL};
  IIDX ix{4, 0, 0, 0, 0, 1, &seg, nullptr, nullptr, nullptr, nullptr};
  std::string path;
  ifil4 ifil{};
  explicit Numbered(const std::string& stem) : path(stem) {
    ifil.pfilnam = path.data();
    ifil.dfilno = -1;
    ifil.dreclen = 32;
    ifil.dfilmod = CT_MODE_SHARED;
    ifil.ifilmod = CT_MODE_SHARED;
    ifil.dnumidx = 1;
    ifil.ix = &ix;
    ifil.tfilno = -1;
  }
};
struct Row {
  uint32_t serial;
  char name[28];
};

TEST_F(StoreTest, QuietHoldsBackWritesUntilLetGo) {
  ArtTable t(Path("art"));
  CreateArt(t);
  AddArts(t, {MakeArt("Q1", "q", 1, 1)});
  // Not inside a transaction of this session.
  ASSERT_NE(Begin(50), 0);
  EXPECT_EQ(QuietCtree(nullptr, 1, 0), CT_TRANSACTION_ACTIVE);
  ASSERT_EQ(Abort(), 0);
  EXPECT_EQ(QuietCtree(nullptr, 3, 0), CT_BAD_PARAMETER);
  ASSERT_EQ(QuietCtree(nullptr, 1, 0), 0);
  Art a = MakeArt("Q2", "q", 2, 2);
  EXPECT_EQ(AddRecord(t.dat(), &a), CT_FILE_LOCKED);
  EXPECT_EQ(Begin(50), 0);
  EXPECT_EQ(isam_err, CT_FILE_LOCKED);
  Art r;
  std::string k = CodeKey("Q1");
  ASSERT_EQ(GetRecord(t.key(1), k.data(), &r), 0);  // reads go on
  r.qty = 5;
  EXPECT_EQ(ReWriteRecord(t.dat(), &r), CT_FILE_LOCKED);
  EXPECT_EQ(DeleteRecord(t.dat()), CT_FILE_LOCKED);
  EXPECT_EQ(NbrOfRecords(t.dat()), 1);
  ASSERT_EQ(GetRecord(t.key(1), k.data(), &r), 0);
  EXPECT_EQ(r.qty, 1);
  if (!OnServer()) {
    // Quiet means the folder can be copied as it is: its store file alone
    // holds every committed record.
    const std::string copy = MakeTempDir("quiet");
    for (const char* f : {"isam.db", "art.dat", "art.idx"}) fs::copy_file(Path(f), copy + "/" + f);
    ASSERT_EQ(QuietCtree(nullptr, 2, 0), 0);
    std::string name = copy + "/art.dat";
    const int32_t c = OpenFileWithResource(-1, name.data(), CT_MODE_SHARED | CT_MODE_NOIDCHECK);
    ASSERT_GE(c, 0) << isam_err;
    EXPECT_EQ(NbrOfRecords(c), 1);
    ASSERT_EQ(GetRecord(c + 1, k.data(), &r), 0);
    EXPECT_EQ(r.qty, 1);
    ASSERT_EQ(CloseRFile(c), 0);
    fs::remove_all(copy);
  } else {
    ASSERT_EQ(QuietCtree(nullptr, 2, 0), 0);
  }
  // Let go: writes and transactions again.
  EXPECT_EQ(AddRecord(t.dat(), &a), 0);
  ASSERT_NE(Begin(50), 0);
  ASSERT_EQ(GetRecord(t.key(1), k.data(), &r), 0);
  r.qty = 5;
  ASSERT_EQ(ReWriteRecord(t.dat(), &r), 0);
  ASSERT_EQ(Commit(0), 0);
  EXPECT_EQ(NbrOfRecords(t.dat()), 2);
  ASSERT_EQ(GetRecord(t.key(1), k.data(), &r), 0);
  EXPECT_EQ(r.qty, 5);
}

TEST_F(StoreTest, AFileBlockKeepsEveryOpenOutUntilReleased) {
  {
    ArtTable t(Path("art"));
    CreateArt(t);
    AddArts(t, {MakeArt("B1", "b", 1, 1)});
    // A file open here cannot be blocked.
    std::string full = Path("art.dat");
    EXPECT_EQ(ctFILBLK(full.data(), 1), CT_FILE_NUMBER_IN_USE);
    ASSERT_EQ(CloseIFile(&t.ifil), 0);
  }
  std::string full = Path("art.dat");
  EXPECT_EQ(ctFILBLK(full.data(), 2), CT_BAD_PARAMETER);
  EXPECT_EQ(ctFILBLK(nullptr, 1), CT_BAD_PARAMETER);
  ASSERT_EQ(ctFILBLK(full.data(), 1), 0);
  ASSERT_EQ(ctFILBLK(full.data(), 1), 0);  // blocked once, whatever the calls
  ArtTable t(Path("art"));
  EXPECT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), CT_FILE_LOCKED);
  std::string dat = Path("art.dat");
  EXPECT_EQ(OpenFileWithResource(-1, dat.data(), CT_MODE_SHARED), -1);
  EXPECT_EQ(isam_err, CT_FILE_LOCKED);
  EXPECT_EQ(OpenCtFile(20, dat.data(), CT_MODE_SHARED), CT_FILE_LOCKED);
  std::string fresh = Path("fresh.dat");
  ASSERT_EQ(ctFILBLK(fresh.data(), 1), 0);
  ArtTable created(Path("fresh"));
  EXPECT_EQ(CreateIFileXtd(&created.ifil, nullptr, nullptr, 0, nullptr, nullptr), CT_FILE_LOCKED);
  EXPECT_FALSE(FileExists("fresh.dat"));  // refused before anything was made
  EXPECT_FALSE(FileExists("fresh.idx"));
  // Another table of the folder is not concerned.
  ArtTable other(Path("other"));
  CreateArt(other);
  ASSERT_EQ(CloseIFile(&other.ifil), 0);
  ASSERT_EQ(ctFILBLK(full.data(), 0), 0);
  ASSERT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(NbrOfRecords(t.dat()), 1);
  ASSERT_EQ(ctFILBLK(fresh.data(), 0), 0);
  ASSERT_EQ(CreateIFileXtd(&created.ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
  EXPECT_TRUE(FileExists("fresh.dat"));
}

TEST_F(StoreTest, HistorySetsKeepTheirOwnSearch) {
  ArtTable t(Path("art"), CT_MODE_SHARED | CT_MODE_TRNLOG);
  CreateArt(t);
  // Two records, each written three times.
  int32_t pos[2];
  for (int r = 0; r < 2; ++r) {
    Art a = MakeArt(r == 0 ? "H0" : "H1", "h", 10 * r, 0);
    ASSERT_EQ(AddRecord(t.dat(), &a), 0);
    pos[r] = CurrentFileOffset(t.dat());
    for (int i = 1; i <= 2; ++i) {
      a.qty = 10 * r + i;
      ASSERT_EQ(ReWriteRecord(t.dat(), &a), 0);
    }
  }
  std::vector<char> buf(4096);
  auto qty = [&buf] {
    Art img;
    std::memcpy(&img, buf.data() + 44, sizeof img);
    return img.qty;
  };
  auto first = [&](int r) {
    return TransactionHistory(static_cast<int16_t>(t.dat()), nullptr, buf.data(), pos[r],
                              static_cast<int32_t>(buf.size()), ctHISTdata | ctHISTpos | ctHISTfirst);
  };
  auto next = [&] {
    return TransactionHistory(static_cast<int16_t>(t.dat()), nullptr, buf.data(), 0,
                              static_cast<int32_t>(buf.size()), ctHISTnext);
  };
  ctSETHGH(0);
  // Set 0 walks the first record, set 1 the second, in turns.
  ASSERT_EQ(first(0), 0);
  EXPECT_EQ(qty(), 0);
  ASSERT_EQ(ChangeHistory(1), 0);
  EXPECT_EQ(next(), CT_NO_CURRENT_RECORD);  // nothing begun in this set
  ASSERT_EQ(first(1), 0);
  EXPECT_EQ(qty(), 10);
  ASSERT_EQ(ChangeHistory(0), 0);
  ASSERT_EQ(next(), 0);
  EXPECT_EQ(qty(), 0);  // the old image of the first rewrite
  ASSERT_EQ(next(), 0);
  EXPECT_EQ(qty(), 1);
  ASSERT_EQ(ChangeHistory(1), 0);
  ASSERT_EQ(next(), 0);
  EXPECT_EQ(qty(), 10);
  ASSERT_EQ(next(), 0);
  EXPECT_EQ(qty(), 11);
  // Freeing the history frees the current set only.
  ASSERT_EQ(FreeHistory(), 0);
  EXPECT_EQ(next(), CT_NO_CURRENT_RECORD);
  ASSERT_EQ(ChangeHistory(0), 0);
  ASSERT_EQ(next(), 0);
  EXPECT_EQ(qty(), 1);
  EXPECT_EQ(ChangeHistory(8), CT_BAD_PARAMETER);
  EXPECT_EQ(ChangeHistory(-1), CT_BAD_PARAMETER);
  ASSERT_EQ(next(), 0);  // still set 0
  EXPECT_EQ(qty(), 2);
}

TEST_F(StoreTest, FileOptionsAndSerialNumbersAreKeptWithTheFile) {
  Numbered n(Path("num"));
  ASSERT_EQ(CreateIFileXtd(&n.ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
  const int32_t dat = n.ifil.tfilno;
  EXPECT_EQ(GetSerialNbr(dat), 0);
  EXPECT_EQ(GetXtdFileOpt(dat, 8192), 0);
  EXPECT_EQ(uerr_cod, CT_NOT_FOUND);
  ASSERT_EQ(PutXtdFileOpt(dat, 0, 7, 8192), 0);
  ASSERT_EQ(PutXtdFileOpt(dat, 0, 3, 4), 0);
  ASSERT_EQ(PutXtdFileOpt(dat, 0, 9, 8192), 0);  // the same flag again replaces it
  EXPECT_EQ(GetXtdFileOpt(dat, 8192), 9);
  EXPECT_EQ(GetXtdFileOpt(dat, 4), 3);
  // Each add takes the next number, written into the caller's record too.
  std::vector<uint32_t> given;
  for (const char* name : {"uno", "due", "tre"}) {
    Row r{};
    r.serial = 999;
    std::strcpy(r.name, name);
    ASSERT_EQ(AddRecord(dat, &r), 0);
    given.push_back(r.serial);
  }
  EXPECT_EQ(given, (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_EQ(GetSerialNbr(dat), 3);
  Row r{};
  uint32_t key = 2;
  ASSERT_EQ(GetRecord(dat + 1, TransformKey(dat + 1, &key), &r), 0);
  EXPECT_STREQ(r.name, "due");
  // The numbers order the index as numbers.
  std::vector<std::string> order;
  for (int16_t s = FirstRecord(dat + 1, &r); s == 0; s = NextRecord(dat + 1, &r)) order.push_back(r.name);
  EXPECT_EQ(order, (std::vector<std::string>{"uno", "due", "tre"}));
  // A second open and a reopen see the same numbers and options.
  Numbered again(Path("num"));
  ASSERT_EQ(OpenIFileXtd(&again.ifil, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(GetSerialNbr(again.ifil.tfilno), 3);
  EXPECT_EQ(GetXtdFileOpt(again.ifil.tfilno, 8192), 9);
  ASSERT_EQ(CloseIFile(&again.ifil), 0);
  ASSERT_EQ(CloseIFile(&n.ifil), 0);
  ASSERT_EQ(CloseISAM(), 0);
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(OpenIFileXtd(&n.ifil, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(GetSerialNbr(n.ifil.tfilno), 3);
  EXPECT_EQ(GetXtdFileOpt(n.ifil.tfilno, 8192), 9);
  Row four{};
  std::strcpy(four.name, "quattro");
  ASSERT_EQ(AddRecord(n.ifil.tfilno, &four), 0);
  EXPECT_EQ(four.serial, 4u);
  EXPECT_EQ(GetSerialNbr(n.ifil.tfilno), 4);
  // Index numbers and unknown numbers are refused.
  EXPECT_EQ(GetSerialNbr(n.ifil.tfilno + 1), 0);
  EXPECT_EQ(uerr_cod, CT_WRONG_FILE_KIND);
  EXPECT_EQ(PutXtdFileOpt(63, 0, 1, 8192), CT_FILE_NOT_OPEN);
  // A table without a serial segment never counts.
  ArtTable t(Path("art"));
  CreateArt(t);
  AddArts(t, {MakeArt("S", "s", 1, 1)});
  EXPECT_EQ(GetSerialNbr(t.dat()), 0);
  EXPECT_EQ(GetXtdFileOpt(t.dat(), 8192), 0);
  EXPECT_EQ(uerr_cod, CT_NOT_FOUND);
}

TEST_F(StoreTest, ResetRecordStartsEveryWalkOverAndLeavesNothingCurrent) {
  ArtTable t(Path("art"));
  CreateArt(t);
  AddArts(t, {MakeArt("R1", "c", 3, 1), MakeArt("R2", "a", 1, 2), MakeArt("R3", "b", 2, 3)});
  Art a;
  ASSERT_EQ(FirstRecord(t.key(1), &a), 0);
  ASSERT_EQ(NextRecord(t.key(1), &a), 0);
  ASSERT_EQ(Code(a), "R2");
  EXPECT_EQ(ResetRecord(t.dat(), 1), CT_BAD_PARAMETER);
  EXPECT_EQ(ResetRecord(t.key(1), 0), CT_WRONG_FILE_KIND);
  ASSERT_EQ(ResetRecord(t.dat(), 0), 0);
  // Nothing current: no position, and no rewrite or delete of what was read.
  EXPECT_EQ(CurrentFileOffset(t.dat()), 0);
  EXPECT_EQ(isam_err, CT_NO_CURRENT_RECORD);
  a.qty = 99;
  EXPECT_EQ(ReWriteRecord(t.dat(), &a), CT_NO_CURRENT_RECORD);
  EXPECT_EQ(DeleteRecord(t.dat()), CT_NO_CURRENT_RECORD);
  // Next gives the first again, in whichever order is walked.
  ASSERT_EQ(NextRecord(t.key(1), &a), 0);
  EXPECT_EQ(Code(a), "R1");
  ASSERT_EQ(ResetRecord(t.dat(), 0), 0);
  ASSERT_EQ(PreviousRecord(t.key(2), &a), 0);
  EXPECT_EQ(Code(a), "R1");  // the last by name ("c")
  ASSERT_EQ(ResetRecord(t.dat(), 0), 0);
  ASSERT_EQ(NextRecord(t.key(3), &a), 0);
  EXPECT_EQ(Code(a), "R1");  // quantities descending: 3 first
  ASSERT_EQ(ResetRecord(t.dat(), 0), 0);
  ASSERT_EQ(NextRecord(t.dat(), &a), 0);
  EXPECT_EQ(Code(a), "R1");  // physical order
  ASSERT_EQ(NextRecord(t.dat(), &a), 0);
  EXPECT_EQ(Code(a), "R2");  // and on from there
  EXPECT_EQ(NbrOfRecords(t.dat()), 3);
  for (const char* c : {"R1", "R2", "R3"}) {
    std::string k = CodeKey(c);
    ASSERT_EQ(GetRecord(t.key(1), k.data(), &a), 0);
    EXPECT_NE(a.qty, 99);
  }
}

TEST_F(StoreTest, ClosingAPlainFileFreesItsNumberAndItsHold) {
  {
    ArtTable t(Path("art"));
    CreateArt(t);
    AddArts(t, {MakeArt("P1", "p", 1, 1), MakeArt("P2", "p", 2, 2)});
    ASSERT_EQ(CloseIFile(&t.ifil), 0);
  }
  std::string dat = Path("art.dat");
  ASSERT_EQ(OpenCtFile(20, dat.data(), CT_MODE_EXCLUSIVE), 0);
  Art a;
  ASSERT_EQ(FirstRecord(20, &a), 0);
  ArtTable t(Path("art"));
  EXPECT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), CT_FILE_LOCKED);
  EXPECT_EQ(OpenCtFile(20, dat.data(), CT_MODE_SHARED), CT_FILE_NUMBER_IN_USE);
  ASSERT_EQ(CloseCtFile(20, 0), 0);
  // The number is free, reads on it say so, and the table opens again.
  EXPECT_EQ(FirstRecord(20, &a), CT_FILE_NOT_OPEN);
  EXPECT_EQ(CloseCtFile(20, 0), CT_FILE_NOT_OPEN);
  ASSERT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(NbrOfRecords(t.dat()), 2);
  // Only the data file's number closes an open file set.
  EXPECT_EQ(CloseCtFile(t.key(1), 0), CT_WRONG_FILE_KIND);
  EXPECT_EQ(NbrOfKeyEntries(t.key(1)), 2);
  const int32_t number = t.dat();
  ASSERT_EQ(CloseCtFile(number, 0), 0);
  EXPECT_EQ(NbrOfKeyEntries(number + 1), 0);
  EXPECT_EQ(uerr_cod, CT_FILE_NOT_OPEN);
  ASSERT_EQ(OpenCtFile(number, dat.data(), CT_MODE_SHARED), 0);
  EXPECT_EQ(NbrOfRecords(number), 2);
  ASSERT_EQ(CloseCtFile(number, 0), 0);
}

}  // namespace
}  // namespace vkt::isam::test
