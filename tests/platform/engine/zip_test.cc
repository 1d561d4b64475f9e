// The ZIP object on real folders: what goes in comes out byte for byte, the
// events arrive in order with true sizes, an abort leaves no archive behind,
// and hostile entry names are refused.
#include "engine/zip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct TempDir {
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "vkt-zip-XXXXXX").string();
    path = mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(path); }
  std::string path;
};

void Put(const std::string& path, const std::string& data) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    out.push_back(fs::relative(e.path(), dir).string() + (e.is_directory() ? "/" : ""));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Records every event; aborts at the first event whose text starts with
// `abort_at`.
class Recorder : public CkZipProgress {
 public:
  std::vector<std::string> events;
  std::string abort_at;
  int percent = -1;
  bool percent_rose = true;

  void AbortCheck(bool* abort) override { Note("AbortCheck", abort); }
  void PercentDone(int p, bool* abort) override {
    if (p <= percent) percent_rose = false;
    percent = p;
    Note("PercentDone", abort, false);
  }
  void DirToBeAdded(const char* path, bool* abort) override {
    Note("DirToBeAdded " + Base(path), abort);
  }
  void AddFilesBegin() override { events.push_back("AddFilesBegin"); }
  void AddFilesEnd() override { events.push_back("AddFilesEnd"); }
  void WriteZipBegin() override { events.push_back("WriteZipBegin"); }
  void WriteZipEnd() override { events.push_back("WriteZipEnd"); }
  void UnzipBegin() override { events.push_back("UnzipBegin"); }
  void UnzipEnd() override { events.push_back("UnzipEnd"); }
  void ToBeAdded(const char* path, uint32_t size, bool* abort) override {
    Note("ToBeAdded " + Base(path) + " " + std::to_string(size), abort);
  }
  void FileAdded(const char* path, uint32_t size, bool* abort) override {
    Note("FileAdded " + Base(path) + " " + std::to_string(size), abort);
  }
  void ToBeZipped(const char* name, uint32_t size, bool* abort) override {
    Note("ToBeZipped " + std::string(name) + " " + std::to_string(size), abort);
  }
  void FileZipped(const char* name, uint32_t size, uint32_t compressed, bool* abort) override {
    compressed_[name] = compressed;
    Note("FileZipped " + std::string(name) + " " + std::to_string(size), abort);
  }
  void ToBeUnzipped(const char* name, uint32_t c, uint32_t size, bool* abort) override {
    Note("ToBeUnzipped " + std::string(name) + " " + std::to_string(c) + " " +
             std::to_string(size),
         abort);
  }
  void FileUnzipped(const char* name, uint32_t, uint32_t size, bool* abort) override {
    Note("FileUnzipped " + std::string(name) + " " + std::to_string(size), abort);
  }
  uint32_t CompressedSize(const std::string& name) { return compressed_[name]; }
  // The events without the periodic ones.
  std::vector<std::string> Main() const {
    std::vector<std::string> out;
    for (const auto& e : events) {
      if (e != "AbortCheck") out.push_back(e);
    }
    return out;
  }

 private:
  static std::string Base(const char* path) { return fs::path(path).filename().string(); }
  void Note(const std::string& text, bool* abort, bool record = true) {
    if (record) events.push_back(text);
    if (!abort_at.empty() && text.rfind(abort_at, 0) == 0) *abort = true;
  }
  std::map<std::string, uint32_t> compressed_;
};

// A folder like a program directory: a log folder with a nested one.
void MakeTree(const std::string& root) {
  Put(root + "/log/sql.txt", std::string(5000, 'a') + "fine");
  Put(root + "/log/old/serlog.txt", "linea \xE8\r\n");
  Put(root + "/log/empty.txt", "");
  Put(root + "/other.txt", "not in the archive");
}

TEST(CkZipTest, RoundTripsAFolderWithEventsInOrderAndRealSizes) {
  TempDir dir;
  MakeTree(dir.path + "/prog");
  Recorder rec;
  CkZip zip;
  zip.put_EventCallbackObject(&rec);
  ASSERT_TRUE(zip.NewZip(dir.path + "/log.zip"));
  zip.put_AppendFromDir(dir.path + "/prog");
  ASSERT_TRUE(zip.AppendFiles("log", true)) << zip.LastErrorText();
  EXPECT_EQ(rec.events, (std::vector<std::string>{
                            "AddFilesBegin", "DirToBeAdded log", "ToBeAdded empty.txt 0",
                            "FileAdded empty.txt 0", "DirToBeAdded old",
                            "ToBeAdded serlog.txt 9", "FileAdded serlog.txt 9",
                            "ToBeAdded sql.txt 5004", "FileAdded sql.txt 5004", "AddFilesEnd"}));
  ASSERT_EQ(zip.get_NumEntries(), 5);
  EXPECT_EQ(zip.EntryName(0), "log/");
  EXPECT_EQ(zip.EntryName(4), "log/sql.txt");
  EXPECT_FALSE(fs::exists(dir.path + "/log.zip"));  // nothing on disk before WriteZip

  rec.events.clear();
  ASSERT_TRUE(zip.WriteZip()) << zip.LastErrorText();
  EXPECT_EQ(rec.Main(),
            (std::vector<std::string>{"WriteZipBegin", "ToBeZipped log/empty.txt 0",
                                      "FileZipped log/empty.txt 0",
                                      "ToBeZipped log/old/serlog.txt 9",
                                      "FileZipped log/old/serlog.txt 9",
                                      "ToBeZipped log/sql.txt 5004", "FileZipped log/sql.txt 5004",
                                      "WriteZipEnd"}));
  EXPECT_EQ(rec.percent, 100);
  EXPECT_TRUE(rec.percent_rose);
  // 5000 equal bytes compress well; the reported size is the stored one.
  uint32_t compressed = rec.CompressedSize("log/sql.txt");
  EXPECT_GT(compressed, 0u);
  EXPECT_LT(compressed, 100u);
  zip_t* za = zip_open((dir.path + "/log.zip").c_str(), ZIP_RDONLY | ZIP_CHECKCONS, nullptr);
  ASSERT_NE(za, nullptr);
  zip_stat_t st;
  ASSERT_EQ(zip_stat(za, "log/sql.txt", 0, &st), 0);
  EXPECT_EQ(st.comp_size, compressed);
  EXPECT_EQ(st.comp_method, ZIP_CM_DEFLATE);
  zip_discard(za);

  // The written archive stays open and extracts byte for byte.
  rec.events.clear();
  const std::string out = dir.path + "/restore";
  ASSERT_EQ(zip.Unzip(out), 3) << zip.LastErrorText();
  EXPECT_EQ(Listing(out), (std::vector<std::string>{"log/", "log/empty.txt", "log/old/",
                                                    "log/old/serlog.txt", "log/sql.txt"}));
  EXPECT_EQ(Slurp(out + "/log/sql.txt"), std::string(5000, 'a') + "fine");
  EXPECT_EQ(Slurp(out + "/log/old/serlog.txt"), "linea \xE8\r\n");
  std::vector<std::string> unzip = rec.Main();
  ASSERT_EQ(unzip.size(), 8u);
  EXPECT_EQ(unzip.front(), "UnzipBegin");
  EXPECT_EQ(unzip[5], "ToBeUnzipped log/sql.txt " + std::to_string(compressed) + " 5004");
  EXPECT_EQ(unzip[6], "FileUnzipped log/sql.txt 5004");
  EXPECT_EQ(unzip.back(), "UnzipEnd");
  struct stat src_st, out_st;
  ASSERT_EQ(stat((dir.path + "/prog/log/sql.txt").c_str(), &src_st), 0);
  ASSERT_EQ(stat((out + "/log/sql.txt").c_str(), &out_st), 0);
  EXPECT_EQ(out_st.st_mtime, src_st.st_mtime - src_st.st_mtime % 2) << "DOS times keep even seconds";
}

TEST(CkZipTest, WildcardsRecursionAndReopenedArchivesKeepTheirEntries) {
  TempDir dir;
  MakeTree(dir.path + "/prog");
  CkZip zip;
  ASSERT_TRUE(zip.NewZip(dir.path + "/a.zip"));
  // Without AppendFromDir, names are relative to the pattern's folder.
  ASSERT_TRUE(zip.AppendFiles(dir.path + "/prog/log/*.txt", false));
  ASSERT_EQ(zip.get_NumEntries(), 2);
  EXPECT_EQ(zip.EntryName(0), "empty.txt");
  EXPECT_EQ(zip.EntryName(1), "sql.txt");
  EXPECT_FALSE(zip.AppendFiles(dir.path + "/prog/log/*.doc", false));
  ASSERT_TRUE(zip.AppendString("note/readme.txt", "ciao"));
  ASSERT_TRUE(zip.AppendString("sql.txt", "replaced"));  // same name: the later wins
  ASSERT_EQ(zip.get_NumEntries(), 3);
  ASSERT_TRUE(zip.WriteZipAndClose()) << zip.LastErrorText();

  // Open, add one more, write again: the old entries are copied, not lost.
  ASSERT_TRUE(zip.OpenZip(dir.path + "/a.zip")) << zip.LastErrorText();
  ASSERT_EQ(zip.get_NumEntries(), 3);
  ASSERT_TRUE(zip.AppendOneFileOrDir(dir.path + "/prog/other.txt", false));
  ASSERT_TRUE(zip.WriteZip()) << zip.LastErrorText();
  ASSERT_EQ(zip.Unzip(dir.path + "/out"), 4);
  EXPECT_EQ(Slurp(dir.path + "/out/sql.txt"), "replaced");
  EXPECT_EQ(Slurp(dir.path + "/out/note/readme.txt"), "ciao");
  EXPECT_EQ(Slurp(dir.path + "/out/other.txt"), "not in the archive");

  // A folder named without recursion gives its own files only.
  CkZip flat;
  ASSERT_TRUE(flat.NewZip(dir.path + "/flat.zip"));
  ASSERT_TRUE(flat.AppendFiles(dir.path + "/prog/log", false));
  std::vector<std::string> names;
  for (int i = 0; i < flat.get_NumEntries(); ++i) names.push_back(flat.EntryName(i));
  EXPECT_EQ(names, (std::vector<std::string>{"log/", "log/empty.txt", "log/sql.txt"}));

  // With save_extra_path the whole path is the name.
  CkZip full;
  ASSERT_TRUE(full.NewZip(dir.path + "/full.zip"));
  ASSERT_TRUE(full.AppendOneFileOrDir(dir.path + "/prog/other.txt", true));
  EXPECT_EQ(full.EntryName(0), (dir.path + "/prog/other.txt").substr(1));

  // An archive with no entries is still a valid archive.
  CkZip empty;
  ASSERT_TRUE(empty.NewZip(dir.path + "/empty.zip"));
  ASSERT_TRUE(empty.WriteZip());
  EXPECT_EQ(empty.get_NumEntries(), 0);
  EXPECT_EQ(empty.Unzip(dir.path + "/none"), 0);
  EXPECT_EQ(fs::file_size(dir.path + "/empty.zip"), 22u);
}

TEST(CkZipTest, AnAbortLeavesTheEarlierArchiveAndNoPartFile) {
  TempDir dir;
  MakeTree(dir.path + "/prog");
  const std::string target = dir.path + "/out/log.zip";
  fs::create_directories(dir.path + "/out");
  Put(target, "the earlier archive");

  // AbortCheck comes only while libzip writes the archive itself.
  for (const char* at :
       {"ToBeZipped log/old", "FileZipped log/sql.txt", "PercentDone", "AbortCheck"}) {
    Recorder rec;
    rec.abort_at = at;
    CkZip zip;
    zip.put_EventCallbackObject(&rec);
    ASSERT_TRUE(zip.NewZip(target));
    zip.put_AppendFromDir(dir.path + "/prog");
    ASSERT_TRUE(zip.AppendFiles("log", true));
    EXPECT_FALSE(zip.WriteZip()) << at;
    EXPECT_EQ(zip.LastErrorText(), "aborted");
    EXPECT_EQ(rec.events.back(), "WriteZipEnd");
    EXPECT_EQ(Slurp(target), "the earlier archive") << at;
    EXPECT_EQ(Listing(dir.path + "/out"), std::vector<std::string>{"log.zip"}) << at;
  }

  // An abort while adding adds nothing from that call.
  Recorder rec;
  rec.abort_at = "FileAdded serlog";
  CkZip zip;
  zip.put_EventCallbackObject(&rec);
  ASSERT_TRUE(zip.NewZip(target));
  ASSERT_TRUE(zip.AppendString("keep.txt", "k"));
  EXPECT_FALSE(zip.AppendFiles(dir.path + "/prog/log", true));
  EXPECT_EQ(zip.get_NumEntries(), 1);
  EXPECT_EQ(rec.events.back(), "AddFilesEnd");

  // An abort while extracting keeps the files done and no part file.
  CkZip whole;
  ASSERT_TRUE(whole.NewZip(dir.path + "/whole.zip"));
  ASSERT_TRUE(whole.AppendFiles(dir.path + "/prog/log", true));
  ASSERT_TRUE(whole.WriteZip());
  Recorder unz;
  unz.abort_at = "ToBeUnzipped log/sql.txt";
  whole.put_EventCallbackObject(&unz);
  EXPECT_EQ(whole.Unzip(dir.path + "/x"), -1);
  EXPECT_EQ(Listing(dir.path + "/x"), (std::vector<std::string>{"log/", "log/empty.txt",
                                                                "log/old/", "log/old/serlog.txt"}));
  EXPECT_EQ(unz.events.back(), "UnzipEnd");
}

// An archive written directly with libzip, holding the given names.
void MakeHostileZip(const std::string& path, const std::vector<std::string>& names) {
  zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
  ASSERT_NE(za, nullptr);
  for (const auto& n : names) {
    zip_source_t* src = zip_source_buffer(za, "evil", 4, 0);
    ASSERT_GE(zip_file_add(za, n.c_str(), src, ZIP_FL_ENC_RAW), 0) << n;
  }
  ASSERT_EQ(zip_close(za), 0);
}

TEST(CkZipTest, RefusesEntriesThatWouldLeaveTheTargetFolder) {
  TempDir dir;
  const std::string target = dir.path + "/target";
  fs::create_directories(target);
  const std::vector<std::string> hostile = {"../escape.txt", "/etc/vkt-evil", "a/../../up.txt",
                                            "..\\win.txt", "C:\\boot.ini", "ok/..\\..\\x"};
  for (const auto& name : hostile) {
    const std::string file = dir.path + "/evil.zip";
    MakeHostileZip(file, {"fine.txt", name});
    CkZip zip;
    ASSERT_TRUE(zip.OpenZip(file)) << zip.LastErrorText();
    EXPECT_EQ(zip.Unzip(target), -1) << name;
    EXPECT_NE(zip.LastErrorText().find("outside"), std::string::npos) << name;
    EXPECT_TRUE(fs::is_empty(target)) << name << ": nothing at all is written";
  }
  EXPECT_FALSE(fs::exists(dir.path + "/escape.txt"));
  EXPECT_FALSE(fs::exists(dir.path + "/up.txt"));

  // A link already in the target folder is not followed.
  fs::create_directories(dir.path + "/elsewhere");
  fs::create_directory_symlink(dir.path + "/elsewhere", target + "/link");
  MakeHostileZip(dir.path + "/link.zip", {"link/planted.txt"});
  CkZip zip;
  ASSERT_TRUE(zip.OpenZip(dir.path + "/link.zip"));
  EXPECT_EQ(zip.Unzip(target), -1);
  EXPECT_NE(zip.LastErrorText().find("symbolic link"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(dir.path + "/elsewhere"));

  // Harmless oddities are accepted: "./" steps and backslashes as separators.
  MakeHostileZip(dir.path + "/odd.zip", {"./a.txt", "sub\\b.txt"});
  ASSERT_TRUE(zip.OpenZip(dir.path + "/odd.zip"));
  EXPECT_EQ(zip.Unzip(dir.path + "/odd"), 2) << zip.LastErrorText();
  EXPECT_EQ(Slurp(dir.path + "/odd/sub/b.txt"), "evil");
}

TEST(CkZipTest, ReportsMissingFilesDamagedArchivesAndMisuse) {
  TempDir dir;
  CkZip zip;
  EXPECT_FALSE(zip.AppendString("a.txt", "x"));  // no archive started
  EXPECT_FALSE(zip.WriteZip());
  EXPECT_EQ(zip.Unzip(dir.path), -1);
  EXPECT_FALSE(zip.OpenZip(dir.path + "/missing.zip"));
  Put(dir.path + "/junk.zip", "this is not an archive at all");
  EXPECT_FALSE(zip.OpenZip(dir.path + "/junk.zip"));
  EXPECT_FALSE(zip.LastErrorText().empty());

  ASSERT_TRUE(zip.NewZip(dir.path + "/a.zip"));
  EXPECT_FALSE(zip.AppendFiles(dir.path + "/nothing-here", true));
  EXPECT_FALSE(zip.AppendString("../x", "x"));
  Put(dir.path + "/gone.txt", "soon gone");
  ASSERT_TRUE(zip.AppendOneFileOrDir(dir.path + "/gone.txt", false));
  fs::remove(dir.path + "/gone.txt");
  EXPECT_FALSE(zip.WriteZip());
  EXPECT_NE(zip.LastErrorText().find("gone.txt"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.path + "/a.zip"));

  // A damaged entry is reported, and its file is not left half-written.
  CkZip good;
  ASSERT_TRUE(good.NewZip(dir.path + "/b.zip"));
  std::string data;
  for (int i = 0; i < 20000; ++i) data += std::to_string(i * 7919 % 10007);
  ASSERT_TRUE(good.AppendString("data.txt", data));
  ASSERT_TRUE(good.WriteZipAndClose());
  std::string bytes = Slurp(dir.path + "/b.zip");
  bytes[bytes.size() / 2] ^= 0x55;
  Put(dir.path + "/b.zip", bytes);
  ASSERT_TRUE(good.OpenZip(dir.path + "/b.zip"));
  EXPECT_EQ(good.Unzip(dir.path + "/bad"), -1);
  EXPECT_FALSE(fs::exists(dir.path + "/bad/data.txt"));
  EXPECT_TRUE(fs::is_empty(dir.path + "/bad"));
}

}  // namespace
