// isamtool: loads, checks, lists and copies ISAM data folders.
//
//   isamtool load DIR COUNT    adds COUNT records to DIR/stress, one per
//                              transaction; prints each key once committed
//   isamtool verify DIR        data and every index agree: "ok N"
//   isamtool dump DIR          the unique keys of DIR/stress in order
//   isamtool backup DIR DEST   a consistent copy while others write
//   isamtool queue DIR NAME put TEXT | get [MS] | count
//                              the system queue NAME of the programs of DIR:
//                              adds a message, prints the first one (waiting
//                              up to MS ms), prints how many wait
//
// Before the command, "-s SERVER [-u USER] [-p PASSWORD]" logs on to a
// server of the settings file ($VKT_ISAM_HOME/isamserv.ini, else the one
// beside the program): DIR is then a folder of that server.
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "isam/ctree.h"

namespace {

constexpr int kRecLen = 128;
constexpr int kKeyLen = 10;

// The stress table: a 10-digit key at 0 (unique), a group of 8 characters
// at 10 (duplicates, with an 8-byte position suffix), filler up to 128.
struct Stress {
  ISEG seg[2] = {{0, kKeyLen, CT_SEG_BYTES}, {10, 8, CT_SEG_BYTES}};
  IIDX ix[2];
  char name1[8] = "Key";
  char name2[8] = "Group";
  char first[8] = "key";
  char last[8] = "filler";
  std::string path;
  ifil4 ifil{};

  explicit Stress(const std::string& dir) : path(dir + "/stress") {
    ix[0] = IIDX{kKeyLen, 0, 0, 0, 0, 1, &seg[0], name1, nullptr, nullptr, nullptr};
    ix[1] = IIDX{16, 0, 1, 0, 0, 1, &seg[1], name2, nullptr, nullptr, nullptr};
    ifil.pfilnam = path.data();
    ifil.dfilno = -1;
    ifil.dreclen = kRecLen;
    ifil.dfilmod = CT_MODE_SHARED | CT_MODE_PERMANENT;
    ifil.ifilmod = ifil.dfilmod;
    ifil.dnumidx = 2;
    ifil.ix = ix;
    ifil.rfstfld = first;
    ifil.rlstfld = last;
  }
};

int Fail(const char* what, int status) {
  std::fprintf(stderr, "isamtool: %s: status %d (sysio %d)\n", what, status, sysio_cod);
  return 2;
}

int Usage() {
  std::fprintf(stderr,
               "usage: isamtool [-s SERVER [-u USER] [-p PASSWORD]] COMMAND\n"
               "  COMMAND: load DIR COUNT | verify DIR | dump DIR | backup DIR DEST |\n"
               "       queue DIR NAME put TEXT | queue DIR NAME get [MS] | queue DIR NAME count\n");
  return 2;
}

struct Logon {
  std::string server, user = "isamtool", password;
} g_logon;

bool Init() {
  return InitISAMXtd(15, 1024, 16, 15, 1, g_logon.user.c_str(), g_logon.password.c_str(),
                     g_logon.server.c_str()) == 0;
}

// Opens DIR/stress, creating it when absent (another loader may be creating
// it at the same moment).
int OpenStress(Stress& t, bool create) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    t.ifil.dfilno = -1;
    int16_t s = OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr);
    if (s == 0) return 0;
    if (s != CT_FILE_NOT_FOUND || !create) return s;
    s = CreateIFileXtd(&t.ifil, nullptr, nullptr, 31710, nullptr, nullptr);
    if (s == 0) return 0;
    if (s != CT_FILE_EXISTS && s != CT_LOCKED) return s;
    usleep(20000);
  }
  return CT_LOCKED;
}

uint64_t HighestKey(const Stress& t) {
  char rec[kRecLen];
  int16_t s = LastRecord(t.ifil.tfilno + 1, rec);
  if (s != 0) return 0;
  return std::strtoull(std::string(rec, kKeyLen).c_str(), nullptr, 10);
}

int Load(const std::string& dir, long count) {
  if (!Init()) return Fail("init", isam_err);
  Stress t(dir);
  if (int s = OpenStress(t, true); s != 0) return Fail("open", s);
  const int32_t dat = t.ifil.tfilno;
  uint64_t next = HighestKey(t) + 1;
  for (long done = 0; done < count;) {
    char rec[kRecLen];
    std::memset(rec, ' ', sizeof rec);
    char key[16];
    std::snprintf(key, sizeof key, "%010llu", static_cast<unsigned long long>(next));
    std::memcpy(rec, key, kKeyLen);
    char group[16];
    std::snprintf(group, sizeof group, "G%07llu", static_cast<unsigned long long>(next % 97));
    std::memcpy(rec + 10, group, 8);
    std::snprintf(rec + 20, sizeof rec - 20, "pid %d record %ld", static_cast<int>(getpid()), done);
    if (Begin(50) == 0) {
      if (uerr_cod == CT_LOCKED) continue;
      return Fail("begin", uerr_cod);
    }
    int16_t s = AddRecord(dat, rec);
    if (s != 0) {
      Abort();
      if (s == CT_DUPLICATE_KEY) {  // another loader took it: go past the highest
        next = std::max(next + 1, HighestKey(t) + 1);
        continue;
      }
      if (s == CT_LOCKED) {
        usleep(1000);
        continue;
      }
      return Fail("add", s);
    }
    s = Commit(0);
    if (s == CT_LOCKED) continue;
    if (s != 0) return Fail("commit", s);
    std::printf("%s\n", key);
    std::fflush(stdout);
    ++done;
    ++next;
  }
  CloseISAM();
  return 0;
}

std::vector<std::string> DataFiles(const std::string& dir) {
  std::vector<std::string> out;
  // A server's folder is no directory here: its catalog names the tables.
  if (!g_logon.server.empty()) {
    if (vkt::isam::ListIsamFolder(dir.c_str(), &out) != 0) out.clear();
    return out;
  }
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return out;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.size() > 4 && n.compare(n.size() - 4, 4, ".dat") == 0) out.push_back(dir + "/" + n);
  }
  closedir(d);
  return out;
}

// One table: counts, the order of every index, and every record reachable
// through every index under its own key.
bool VerifyTable(const std::string& path, long* records) {
  std::string name = path;
  int32_t dat = OpenFileWithResource(-1, name.data(), CT_MODE_SHARED | CT_MODE_NOIDCHECK);
  if (dat < 0) {
    std::printf("%s: cannot open (status %d)\n", path.c_str(), isam_err);
    return false;
  }
  bool ok = true;
  const int32_t n = NbrOfRecords(dat);
  const int32_t reclen = GetCtFileInfo(dat, CT_INFO_RECLEN);
  const int nidx = GetCtFileInfo(dat, CT_INFO_INDEXES);
  std::vector<char> rec(static_cast<size_t>(std::max(reclen, 1)) + 16);
  long physical = 0;
  for (int16_t s = FirstRecord(dat, rec.data()); s == 0; s = NextRecord(dat, rec.data())) ++physical;
  if (physical != n) {
    std::printf("%s: %ld records read, %d counted\n", path.c_str(), physical, n);
    ok = false;
  }
  for (int k = 1; k <= nidx; ++k) {
    const int32_t keyno = dat + k;
    const int32_t entries = NbrOfKeyEntries(keyno);
    char cond[8];
    const bool partial = GetConditionalIndex(keyno, cond, sizeof cond) != 0;
    if (!partial && entries != n) {
      std::printf("%s: index %d holds %d keys for %d records\n", path.c_str(), k, entries, n);
      ok = false;
    }
    std::string prev;
    long walked = 0;
    for (int16_t s = FirstRecord(keyno, rec.data()); s == 0; s = NextRecord(keyno, rec.data())) {
      char key[1024];
      int32_t len = sizeof key;
      if (CurrentISAMKey(keyno, key, &len) != 0) {
        std::printf("%s: index %d: no current key\n", path.c_str(), k);
        ok = false;
        break;
      }
      std::string cur(key, static_cast<size_t>(len));
      if (walked > 0 && !(prev < cur)) {
        std::printf("%s: index %d out of order at entry %ld\n", path.c_str(), k, walked);
        ok = false;
      }
      prev = cur;
      ++walked;
    }
    if (walked != entries) {
      std::printf("%s: index %d: %ld keys reach a record, %d keys held\n", path.c_str(), k, walked,
                  entries);
      ok = false;
    }
  }
  // Every record found again through each index under the key it makes.
  for (int16_t s = FirstRecord(dat, rec.data()); s == 0 && ok;) {
    const int32_t pos = CurrentFileOffset(dat);
    for (int k = 1; k <= nidx && ok; ++k) {
      char key[1024];
      int32_t len = sizeof key;
      if (CurrentISAMKey(dat + k, key, &len) != 0) continue;
      std::vector<char> other(rec.size());
      bool found = GetRecord(dat + k, key, other.data()) == 0;
      // Duplicates without a position suffix share one key: look along them.
      while (found && CurrentFileOffset(dat) != pos) {
        char next[1024];
        int32_t nlen = sizeof next;
        found = NextRecord(dat + k, other.data()) == 0 && CurrentISAMKey(dat + k, next, &nlen) == 0 &&
                nlen == len && std::memcmp(next, key, static_cast<size_t>(len)) == 0;
      }
      if (!found) {
        std::printf("%s: record at %d not reached through index %d\n", path.c_str(), pos, k);
        ok = false;
      }
    }
    SetRecord(dat, pos, nullptr, 0);
    s = NextRecord(dat, rec.data());
  }
  CloseRFile(dat);
  *records += n;
  return ok;
}

int Verify(const std::string& dir) {
  if (!Init()) return Fail("init", isam_err);
  long records = 0;
  bool ok = true;
  std::vector<std::string> files = DataFiles(dir);
  if (files.empty()) {
    std::printf("no data files in %s\n", dir.c_str());
    return 1;
  }
  for (const std::string& f : files) ok = VerifyTable(f, &records) && ok;
  CloseISAM();
  if (!ok) return 1;
  std::printf("ok %ld\n", records);
  return 0;
}

int Dump(const std::string& dir) {
  if (!Init()) return Fail("init", isam_err);
  Stress t(dir);
  if (int s = OpenStress(t, false); s != 0) return Fail("open", s);
  char rec[kRecLen];
  int16_t s = FirstRecord(t.ifil.tfilno + 1, rec);
  for (; s == 0; s = NextRecord(t.ifil.tfilno + 1, rec)) std::printf("%.*s\n", kKeyLen, rec);
  if (s != CT_NOT_FOUND) return Fail("read", s);
  CloseISAM();
  return 0;
}

// The queues of a program folder: a local session with DIR as the folder.
int Queue(const std::string& dir, char* name, const std::string& op, const char* arg) {
  vkt::isam::SetIsamProgramDirectory(dir.c_str());
  if (!Init()) return Fail("init", uerr_cod);
  const int q = ctSysQueueOpen(name, 0);
  if (q < 0) return Fail("open", uerr_cod);
  int rc = 0;
  if (op == "put" && arg != nullptr) {
    std::string text = arg;
    const int s = ctSysQueueWrite(q, text.data(), static_cast<int>(text.size()));
    if (s != 0) rc = Fail("write", s);
  } else if (op == "get") {
    char* end = nullptr;
    const long ms = arg != nullptr ? std::strtol(arg, &end, 10) : 0;
    if (arg != nullptr && (*end != '\0' || ms < -1)) {
      rc = Usage();
    } else {
      const int len = ctSysQueueMlen(q, static_cast<int32_t>(ms));
      std::vector<char> buf(len > 0 ? static_cast<size_t>(len) : 1);
      const int s = len < 0 ? uerr_cod : ctSysQueueRead(q, buf.data(), len, 0);
      if (s != 0) {
        rc = Fail("read", s);
      } else {
        std::fwrite(buf.data(), 1, static_cast<size_t>(len), stdout);
        std::fputc('\n', stdout);
      }
    }
  } else if (op == "count") {
    const int n = ctSysQueueCount(q);
    if (n < 0)
      rc = Fail("count", uerr_cod);
    else
      std::printf("%d\n", n);
  } else {
    rc = Usage();
  }
  ctSysQueueClose(q);
  CloseISAM();
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  // Log-on options first; the command's arguments follow.
  while (argc >= 3 && argv[1][0] == '-' && argv[1][1] != '\0' && argv[1][2] == '\0' &&
         std::strchr("sup", argv[1][1]) != nullptr) {
    std::string& slot = argv[1][1] == 's' ? g_logon.server : argv[1][1] == 'u' ? g_logon.user : g_logon.password;
    slot = argv[2];
    argv += 2;
    argc -= 2;
  }
  if (argc < 3) return Usage();
  const std::string cmd = argv[1];
  const std::string dir = argv[2];
  if (cmd == "load" && argc == 4) {
    char* end = nullptr;
    long count = std::strtol(argv[3], &end, 10);
    if (*end != '\0' || count < 0) return Usage();
    return Load(dir, count);
  }
  if (cmd == "verify" && argc == 3) return Verify(dir);
  if (cmd == "dump" && argc == 3) return Dump(dir);
  if (cmd == "backup" && argc == 4) {
    // With a server named, log on first so the call knows whose folder it is.
    if (!g_logon.server.empty() && !Init()) return Fail("logon", uerr_cod);
    int16_t s = vkt::isam::BackupIsamFolder(dir.c_str(), argv[3]);
    if (!g_logon.server.empty()) CloseISAM();
    return s == 0 ? 0 : Fail("backup", s);
  }
  if (cmd == "queue" && argc >= 5 && argc <= 6) return Queue(dir, argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
  return Usage();
}
