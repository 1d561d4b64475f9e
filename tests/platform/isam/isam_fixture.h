// Shared set-up of the ISAM tests: a fresh folder, a session and a sample
// table "art" of 64-byte records. With VKT_ISAM_BACKEND=postgres the session
// logs on to a server that keeps its folders on the PostgreSQL server of
// VKT_PG_DSN, and the folder's files are the server's.
//
//   0  code   10 bytes text   index 1, unique
//   10 name   30 bytes text   index 2, duplicates, without case (+4 suffix)
//   40 qty    int32           index 3, duplicates, signed, descending (+8)
//   44 price  double
#ifndef VKT_TESTS_PLATFORM_ISAM_ISAM_FIXTURE_H_
#define VKT_TESTS_PLATFORM_ISAM_ISAM_FIXTURE_H_

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "isam/ctree.h"
#include "isam/detail/store.h"
#include "isam/isam_testing.h"
#include "platform/saapi_drivers/server_env.h"

namespace vkt::isam::test {

#pragma pack(push, 1)
struct Art {
  char code[10];
  char name[30];
  int32_t qty;
  double price;
  char pad[12];
};
#pragma pack(pop)
static_assert(sizeof(Art) == 64);

inline Art MakeArt(const std::string& code, const std::string& name, int32_t qty, double price) {
  Art a;
  std::memset(&a, ' ', sizeof a);
  std::memcpy(a.code, code.data(), std::min(code.size(), sizeof a.code));
  std::memcpy(a.name, name.data(), std::min(name.size(), sizeof a.name));
  a.qty = qty;
  a.price = price;
  std::memset(a.pad, 0, sizeof a.pad);
  return a;
}

inline std::string Code(const Art& a) {
  std::string s(a.code, sizeof a.code);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

inline std::string MakeTempDir(const char* tag) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (std::string("isam_") + tag + "_XXXXXX")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  char* d = ::mkdtemp(buf.data());
  return d != nullptr ? std::string(d) : std::string();
}

// A table description that lives as long as the object.
class ArtTable {
 public:
  explicit ArtTable(const std::string& stem, int16_t mode = CT_MODE_SHARED | CT_MODE_PERMANENT,
                    int32_t datno = -1) {
    path_ = stem;
    seg_[0] = {0, 10, CT_SEG_BYTES};
    seg_[1] = {10, 30, CT_SEG_UPPER};
    seg_[2] = {40, 4, CT_SEG_SIGNED | CT_SEG_DESCENDING};
    ix_[0] = IIDX{10, 0, 0, 0, 0, 1, &seg_[0], name1_, nullptr, nullptr, nullptr};
    ix_[1] = IIDX{34, 0, 1, 0, 0, 1, &seg_[1], name2_, nullptr, nullptr, nullptr};
    ix_[2] = IIDX{12, 0, 1, 0, 0, 1, &seg_[2], name3_, nullptr, nullptr, nullptr};
    ifil.pfilnam = path_.data();
    ifil.dfilno = datno;
    ifil.dreclen = sizeof(Art);
    ifil.dxtdsiz = 4096;
    ifil.dfilmod = mode;
    ifil.dnumidx = 3;
    ifil.ixtdsiz = 4096;
    ifil.ifilmod = mode;
    ifil.ix = ix_;
    ifil.rfstfld = first_;
    ifil.rlstfld = last_;
    ifil.tfilno = -1;
  }
  ArtTable(const ArtTable&) = delete;
  ArtTable& operator=(const ArtTable&) = delete;

  int32_t dat() const { return ifil.tfilno; }
  int32_t key(int k) const { return ifil.tfilno + k; }

  ifil4 ifil{};
  ISEG seg_[3];
  IIDX ix_[3];

 private:
  std::string path_;
  char name1_[16] = "ArtCode";
  char name2_[16] = "ArtName";
  char name3_[16] = "ArtQty";
  char first_[8] = "code";
  char last_[8] = "price";
};

// The key of index 1 (the code) for `code`.
inline std::string CodeKey(const std::string& code) {
  std::string k(10, ' ');
  std::memcpy(k.data(), code.data(), std::min<size_t>(code.size(), 10));
  return k;
}

// The server of the settings the fixture writes for a server session.
inline constexpr const char* kIsamServer = "PGTEST@server";

inline bool OnServer() { return vkt::testing::Env("VKT_ISAM_BACKEND") == "postgres"; }

// The server's side of the folders, reached directly (as an administrator
// would): their files and their schemas.
class ServerFolders {
 public:
  ServerFolders() : pg_(PQconnectdb(vkt::testing::Env("VKT_PG_DSN").c_str())) {
    PQsetNoticeProcessor(pg_, [](void*, const char*) {}, nullptr);
  }
  ~ServerFolders() { PQfinish(pg_); }
  bool ok() const { return PQstatus(pg_) == CONNECTION_OK; }

  bool Exists(const std::string& folder, const std::string& name) {
    return Get(folder, name, nullptr);
  }
  bool Get(const std::string& folder, const std::string& name, std::string* image) {
    PGresult* r = Exec("SELECT image FROM " + Files(folder) + " WHERE name=$1", {name});
    const bool found = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1;
    if (found && image != nullptr) *image = std::string(PQgetvalue(r, 0, 0), static_cast<size_t>(PQgetlength(r, 0, 0)));
    PQclear(r);
    return found;
  }
  void Put(const std::string& folder, const std::string& name, const std::string& image) {
    PQclear(Exec("INSERT INTO " + Files(folder) + "(name,image) VALUES($1,$2) ON CONFLICT(name) DO UPDATE SET image=$2",
                 {name, image}));
  }
  void Remove(const std::string& folder, const std::string& name) {
    PQclear(Exec("DELETE FROM " + Files(folder) + " WHERE name=$1", {name}));
  }
  // Every schema of a folder whose path starts with `prefix`, gone.
  void Drop(const std::string& prefix) {
    PGresult* r = Exec("SELECT schema FROM public.isam_folders WHERE substring(path from 1 for length($1))=$1", {prefix});
    std::vector<std::string> schemas;
    if (PQresultStatus(r) == PGRES_TUPLES_OK)
      for (int i = 0; i < PQntuples(r); ++i) schemas.emplace_back(PQgetvalue(r, i, 0), PQgetlength(r, i, 0));
    PQclear(r);
    for (const std::string& s : schemas) {
      PQclear(PQexec(pg_, ("DROP SCHEMA IF EXISTS \"" + s + "\" CASCADE").c_str()));
      PQclear(Exec("DELETE FROM public.isam_folders WHERE schema=convert_from($1,'UTF8')", {s}));
    }
  }

 private:
  static std::string Files(const std::string& folder) {
    return "\"" + vkt::isam::detail::PgSchemaOfFolder(folder) + "\".files";
  }
  // Every argument as bytes; the result in text except bytea in binary.
  PGresult* Exec(const std::string& sql, const std::vector<std::string>& args) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    std::vector<unsigned> types;
    for (const std::string& a : args) {
      values.push_back(a.data());
      lengths.push_back(static_cast<int>(a.size()));
      formats.push_back(1);
      types.push_back(17);
    }
    return PQexecParams(pg_, sql.c_str(), static_cast<int>(args.size()), types.data(), values.data(),
                        lengths.data(), formats.data(), 1);
  }
  PGconn* pg_;
};

class IsamTest : public ::testing::Test {
 protected:
  static constexpr const char* kServer = kIsamServer;

  void SetUp() override {
    ResetIsamForTesting();
    dir_ = MakeTempDir("t");
    ASSERT_FALSE(dir_.empty());
    if (OnServer()) {
      vkt::testing::ServerEnv env = vkt::testing::PgEnv();
      VKT_REQUIRE_PG(env);
      prog_ = MakeTempDir("prog");
      ASSERT_FALSE(prog_.empty());
      std::ofstream ini(prog_ + "/isamserv.ini");
      ini << "[" << kServer << "]\nbackend=postgres\ndsn=" << vkt::testing::Env("VKT_PG_DSN")
          << "\nuser.tester=\n";
    }
    ASSERT_EQ(Init(), 0);
  }
  void TearDown() override {
    ResetIsamForTesting();
    if (OnServer()) {
      ServerFolders server;
      if (server.ok()) server.Drop(dir_);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    if (!prog_.empty()) std::filesystem::remove_all(prog_, ec);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Opens the session as the fixture does, on the suite's backend.
  int16_t Init(int16_t bufs = 15, int16_t fils = 64, int16_t dbufs = 15) {
    if (!OnServer()) return InitISAMXtd(bufs, fils, 16, dbufs, 1, "tester", "", "");
    SetIsamProgramDirectory(prog_.c_str());
    return InitISAMXtd(bufs, fils, 16, dbufs, 1, "tester", "", kServer);
  }

  // The files of the test's folder (or a folder under it: "sub/x.dat"),
  // wherever the backend keeps them.
  bool FileExists(const std::string& name) {
    if (!OnServer()) return std::filesystem::exists(Path(name));
    return ServerFolders().Exists(FolderOf(name), BaseOf(name));
  }
  std::string FileText(const std::string& name) {
    std::string text;
    if (!OnServer()) {
      std::ifstream in(Path(name), std::ios::binary);
      text.assign(std::istreambuf_iterator<char>(in), {});
    } else {
      ServerFolders().Get(FolderOf(name), BaseOf(name), &text);
    }
    return text;
  }
  void PutFile(const std::string& name, const std::string& text) {
    if (!OnServer()) {
      std::ofstream(Path(name), std::ios::binary | std::ios::trunc) << text;
    } else {
      ServerFolders().Put(FolderOf(name), BaseOf(name), text);
    }
  }
  void RemoveFile(const std::string& name) {
    if (!OnServer()) {
      std::error_code ec;
      std::filesystem::remove(Path(name), ec);
    } else {
      ServerFolders().Remove(FolderOf(name), BaseOf(name));
    }
  }
  void MoveFile(const std::string& from, const std::string& to) {
    PutFile(to, FileText(from));
    RemoveFile(from);
  }

  // Creates (or opens) the sample table.
  void CreateArt(ArtTable& t) {
    int16_t s = CreateIFileXtd(&t.ifil, nullptr, nullptr, 31710, nullptr, nullptr);
    ASSERT_EQ(s, 0);
  }
  void AddArts(ArtTable& t, const std::vector<Art>& arts) {
    for (Art a : arts) ASSERT_EQ(AddRecord(t.dat(), &a), 0) << Code(a);
  }

  std::string FolderOf(const std::string& name) const {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? dir_ : dir_ + "/" + name.substr(0, slash);
  }
  static std::string BaseOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
  }

  std::string dir_;
  std::string prog_;  // the program folder with the server settings
};

}  // namespace vkt::isam::test

#endif  // VKT_TESTS_PLATFORM_ISAM_ISAM_FIXTURE_H_
