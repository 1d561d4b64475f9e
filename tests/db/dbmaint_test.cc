// Whole-table maintenance: copies between companies, the copy of a table's
// files, new file ids, deletion and re-creation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "db/db_verify.h"
#include "db/dbexport_fixture.h"
#include "isam/isam_testing.h"
#include "win/winconst.h"

namespace vkt::db::test {
namespace {

namespace fs = std::filesystem;

int32_t Commits() {
  IOPERF_BLOCK b{};
  EXPECT_EQ(IOPERFORMANCEX(&b), 0);
  return b.values[1];
}

class CopyProgress : public vkt::db::ProgressWindow {
 public:
  explicit CopyProgress(std::vector<std::string>* calls) : calls_(calls) {}
  bool Exists() override { return true; }
  void SetStatus(const char* t) override { calls_->push_back(std::string("status ") + t); }
  void SetRange(int l, int u) override {
    calls_->push_back("range " + std::to_string(l) + " " + std::to_string(u));
  }
  void SetStep(int s) override { calls_->push_back("step " + std::to_string(s)); }
  int StepIt() override {
    ++*steps;
    return 0;
  }
  int CheckCancelButton() override { return 0; }
  void HideCancel() override { calls_->push_back("hide cancel"); }
  int* steps = nullptr;

 private:
  std::vector<std::string>* calls_;
};

class CopyProvider : public vkt::db::ProgressProvider {
 public:
  std::unique_ptr<vkt::db::ProgressWindow> Create(const char* caption) override {
    calls.push_back(std::string("create ") + caption);
    auto p = std::make_unique<CopyProgress>(&calls);
    p->steps = &steps;
    return p;
  }
  std::unique_ptr<vkt::db::ProgressWindow> Wrap(CVKTProgressDlg*) override { return nullptr; }
  std::vector<std::string> calls;
  int steps = 0;
};

class MaintTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    InitSession();
    fs::create_directories(dir_ + "/dit00001");
    fs::create_directories(dir_ + "/dit00002");
    schema_ = MovSchema();
    ASSERT_EQ(source_.DBOpen(1), 0);
    int changed = 0;
    ASSERT_EQ(source_.DBPutDoda(schema_.data(), 0, &changed), 0);
  }

  void FillSource(int n) {
    std::vector<Mov> list;
    for (int i = 1; i <= n; ++i) {
      Mov m = MakeMov(i, 45000.0 + i);
      std::snprintf(m.utente, sizeof m.utente, "U%d", i % 7);
      list.push_back(m);
    }
    source_.DBSetLockStamp(1);
    ASSERT_EQ(AddMovs(source_, list), 0);
    source_.DBSetLockStamp(0);
  }

  void OpenTarget() {
    ASSERT_EQ(target_.DBOpen(1), 0);
    int changed = 0;
    ASSERT_EQ(target_.DBPutDoda(schema_.data(), 0, &changed), 0);
  }

  std::vector<std::string> Images(CDBCtree& t) {
    std::vector<std::string> out;
    t.DBSetIndex(2);
    for (int16_t s = t.DBFirstRecord(); s == 0; s = t.DBNextRecord())
      out.emplace_back(static_cast<const char*>(t.DBGetBuffer()), sizeof(Mov));
    return out;
  }

  std::vector<DATOBJ> schema_;
  MovTable src_t_{dir_ + "/dit00001/mov"};
  MovTable dst_t_{dir_ + "/dit00002/mov"};
  Mov sbuf_{}, dbuf_{};
  CDBCtree source_{3, &src_t_.ifil, &sbuf_, PutStandard, nullptr, StampMov, 0};
  CDBCtree target_{3, &dst_t_.ifil, &dbuf_, PutStandard, nullptr, StampMov, 0};
};

TEST_F(MaintTest, CompanyCopyCommitsEvery500AndKeepsTheSourceStamps) {
  FillSource(1001);
  const std::vector<std::string> before = Images(source_);
  ASSERT_EQ(source_.DBCloseIFile(), 0);
  OpenTarget();
  CopyProvider provider;
  vkt::db::ProgressProvider* old = vkt::db::SetProgressProvider(&provider);
  const int32_t commits = Commits();
  EXPECT_EQ(target_.DBCopy(1, 2), 0);
  EXPECT_EQ(Commits() - commits, 3) << "after 500, after 1000 and at the end";
  vkt::db::SetProgressProvider(old);
  ASSERT_GE(provider.calls.size(), 5u);
  EXPECT_EQ(provider.calls[0], "create Attendere...");
  EXPECT_EQ(provider.calls[1], "status Importazione da " + dir_ + "/dit00001/mov.dat ...");
  EXPECT_EQ(provider.calls[2], "range 0 1001");
  EXPECT_EQ(provider.calls[3], "step 1");
  EXPECT_EQ(provider.calls[4], "hide cancel");
  EXPECT_EQ(provider.steps, 1001);
  // Every image as it was, the user stamps included.
  EXPECT_EQ(Images(target_), before);
  std::string why;
  EXPECT_TRUE(VerifyTable(dst_t_.ifil, &why)) << why;
  // The source was closed again: it opens exclusively.
  src_t_.ifil.dfilmod = 0;
  src_t_.ifil.ifilmod = 0;
  ASSERT_EQ(OpenIFileXtd(&src_t_.ifil, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(NbrOfRecords(src_t_.ifil.tfilno), 1001);
  EXPECT_EQ(CloseIFile(&src_t_.ifil), 0);

  // A table with records is left alone, even without a source.
  fs::remove_all(dir_ + "/dit00001");
  EXPECT_EQ(target_.DBCopy(1, 2), 0);
  EXPECT_EQ(target_.DBNbrOfRecords(), 1001);
}

TEST_F(MaintTest, VariableLengthCopyKeepsEveryRecordAtItsOwnLength) {
  ASSERT_EQ(source_.DBCloseIFile(), 0);
  MovTable vs_t(dir_ + "/dit00001/note"), vt_t(dir_ + "/dit00002/note");
  Mov vbuf{};
  CDBCtree vsrc(4, &vs_t.ifil, &vbuf, PutStandard, nullptr, nullptr, 1);
  CDBCtree vdst(4, &vt_t.ifil, &vbuf, PutStandard, nullptr, StampMov, 1);
  ASSERT_EQ(vsrc.DBOpen(1), 0);
  // Each record: the fixed part and a note of its own length behind it.
  std::vector<std::string> images;
  ASSERT_NE(DBBegin(50), 0);
  for (int i = 1; i <= 620; ++i) {
    Mov m = MakeMov(i, 45000.0 + i);
    std::string image(reinterpret_cast<const char*>(&m), sizeof m);
    image += std::string(static_cast<size_t>(i % 300), static_cast<char>('a' + i % 26));
    images.push_back(image);
    ASSERT_EQ(vsrc.DBAddVRecord(image.data(), static_cast<int32_t>(image.size())), 0) << i;
  }
  ASSERT_EQ(DBCommit(0), 0);
  ASSERT_EQ(vsrc.DBCloseIFile(), 0);
  ASSERT_EQ(vdst.DBOpen(1), 0);
  CopyProvider provider;
  vkt::db::ProgressProvider* old = vkt::db::SetProgressProvider(&provider);
  const int32_t commits = Commits();
  EXPECT_EQ(vdst.DBCopyV(1, 2), 0);
  vkt::db::SetProgressProvider(old);
  EXPECT_EQ(Commits() - commits, 2);
  ASSERT_GE(provider.calls.size(), 3u);
  EXPECT_EQ(provider.calls[2], "range 0 620") << "counted in a first pass";
  EXPECT_EQ(provider.steps, 620);
  ASSERT_EQ(vdst.DBNbrOfRecords(), 620);
  std::vector<std::string> copied;
  std::vector<char> area(1024);
  int32_t len = static_cast<int32_t>(area.size());
  for (int16_t s = FirstVRecord(vt_t.ifil.tfilno, area.data(), &len); s == 0;
       len = static_cast<int32_t>(area.size()), s = NextVRecord(vt_t.ifil.tfilno, area.data(), &len))
    copied.emplace_back(area.data(), static_cast<size_t>(len));
  std::sort(copied.begin(), copied.end());
  std::sort(images.begin(), images.end());
  EXPECT_EQ(copied, images) << "unstamped, byte for byte, at their lengths";
  ASSERT_EQ(vdst.DBCloseIFile(), 0);
}

TEST_F(MaintTest, CompanyCopyReportsAMissingSourceOrCompanyPart) {
  ASSERT_EQ(source_.DBCloseIFile(), 0);
  OpenTarget();
  EXPECT_EQ(target_.DBCopy(9, 2), CT_FILE_NOT_FOUND) << "no dit00009";
  // A name without the target's company part names no other company.
  EXPECT_EQ(target_.DBCopy(1, 3), CT_FILE_NOT_FOUND);
  EXPECT_EQ(target_.DBNbrOfRecords(), 0);
}

TEST_F(MaintTest, AFailedAddStopsTheCopyAndKeepsWhatWasCommitted) {
  // The target keys its records on the user stamp, unique: record 701
  // carries the stamp of record 1 and is refused.
  std::vector<Mov> list;
  for (int i = 1; i <= 800; ++i) {
    Mov m = MakeMov(i, 45000.0 + i);
    std::snprintf(m.utente, sizeof m.utente, "U%d", i == 701 ? 1 : i);
    list.push_back(m);
  }
  source_.DBSetLockStamp(1);
  ASSERT_EQ(AddMovs(source_, list), 0);
  ASSERT_EQ(source_.DBCloseIFile(), 0);
  dst_t_.KeyOnUser();
  OpenTarget();
  const int32_t commits = Commits();
  EXPECT_EQ(target_.DBCopy(1, 2), CT_DUPLICATE_KEY);
  EXPECT_EQ(Commits() - commits, 2) << "the full batch and the 200 before the refusal";
  EXPECT_EQ(target_.DBNbrOfRecords(), 700);
  std::string why;
  EXPECT_TRUE(VerifyTable(dst_t_.ifil, &why)) << why;
  // No transaction was left open: the next write has its own.
  Mov late = MakeMov(900, 47000.0);
  EXPECT_EQ(DBWrite(&target_, 0, &late, &target_), 0);
  EXPECT_EQ(target_.DBNbrOfRecords(), 701);
}

TEST_F(MaintTest, FileCopyBesideTheTableAsksBeforeOverwriting) {
  FillSource(30);
  ASSERT_EQ(source_.DBCloseIFile(), 0);
  char dest[300];
  std::snprintf(dest, sizeof dest, "%s/dit00001/mov", dir_.c_str());
  EXPECT_EQ(source_.DBCopyFile(dest, false, false), 0);
  EXPECT_TRUE(fs::exists(dir_ + "/dit00001/mov_old.dat"));
  MovTable old_t(dir_ + "/dit00001/mov_old");
  Mov obuf{};
  CDBCtree old(3, &old_t.ifil, &obuf, PutStandard, nullptr, nullptr, 0);
  ASSERT_EQ(old.DBOpen(0), 0);
  EXPECT_EQ(old.DBNbrOfRecords(), 30);
  std::string why;
  EXPECT_TRUE(VerifyTable(old_t.ifil, &why)) << why;
  ASSERT_EQ(old.DBCloseIFile(), 0);

  // Again: the copy is there. No keeps it.
  ASSERT_EQ(source_.DBOpen(0), 0);
  Mov more = MakeMov(31, 45100.0);
  ASSERT_EQ(AddMovs(source_, {more}), 0);
  ASSERT_EQ(source_.DBCloseIFile(), 0);
  fake_.ClearTranscript();
  fake_.ScriptAnswer(IDNO);
  EXPECT_EQ(source_.DBCopyFile(dest, false, false), CT_FILE_EXISTS);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  auto upper = [](std::string t) {
    for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return t;
  };
  EXPECT_EQ(fake_.transcript()[0].text,
            "Il file " + upper(dir_ + "/dit00001/mov.dat") +
                " esiste nella cartella di destinazione " + upper(dir_ + "/dit00001/mov_old.dat") +
                "\n\nVuoi sovrascriverlo?");
  EXPECT_NE(fake_.transcript()[0].text.find("esiste nella cartella di destinazione"),
            std::string::npos);
  EXPECT_EQ(fake_.transcript()[0].type, static_cast<unsigned>(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
  ASSERT_EQ(old.DBOpen(0), 0);
  EXPECT_EQ(old.DBNbrOfRecords(), 30) << "No leaves the copy as it was";
  ASSERT_EQ(old.DBCloseIFile(), 0);

  // Yes overwrites it with the table as it is now.
  fake_.ClearTranscript();
  fake_.ScriptAnswer(IDYES);
  EXPECT_EQ(source_.DBCopyFile(dest, false, false), 0);
  EXPECT_EQ(fake_.transcript().size(), 1u);
  ASSERT_EQ(old.DBOpen(0), 0);
  EXPECT_EQ(old.DBNbrOfRecords(), 31);
  ASSERT_EQ(old.DBCloseIFile(), 0);

  // The same name in another folder, the overwrite asked for.
  fs::create_directories(dir_ + "/backup");
  std::snprintf(dest, sizeof dest, "%s/backup", dir_.c_str());
  fake_.ClearTranscript();
  EXPECT_EQ(source_.DBCopyFile(dest, true, true), 0);
  EXPECT_TRUE(fake_.transcript().empty());
  MovTable bak_t(dir_ + "/backup/mov");
  CDBCtree bak(3, &bak_t.ifil, &obuf, PutStandard, nullptr, nullptr, 0);
  ASSERT_EQ(bak.DBOpen(0), 0);
  EXPECT_EQ(bak.DBNbrOfRecords(), 31);
  EXPECT_GT(GetDODA(bak_t.ifil.tfilno, 0, nullptr, 4), 0) << "the schema came along";
  ASSERT_EQ(bak.DBCloseIFile(), 0);

  // Its own folder under the same name is no copy: refused, nothing lost.
  std::snprintf(dest, sizeof dest, "%s/dit00001/", dir_.c_str());
  fake_.ClearTranscript();
  EXPECT_EQ(source_.DBCopyFile(dest, true, true), CT_BAD_PARAMETER);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_NE(fake_.transcript()[0].text.find("su se stesso"), std::string::npos) << fake_.transcript()[0].text;
  ASSERT_EQ(source_.DBOpen(0), 0);
  EXPECT_EQ(source_.DBNbrOfRecords(), 31);
  ASSERT_EQ(source_.DBCloseIFile(), 0);

  // A destination too long for its name slot is refused before anything.
  std::string longest(300, 'x');
  EXPECT_EQ(source_.DBCopyFile(longest.data(), false, true), CT_BAD_PARAMETER);
}

TEST_F(MaintTest, NewFileIdsOnlyForAClientOfAServer) {
  const int32_t id = GetCtFileInfo(src_t_.ifil.tfilno, CT_INFO_FILEID);
  ASSERT_EQ(source_.DBCloseIFile(), 0);
  EXPECT_EQ(source_.DBReassignID(), 0);
  ASSERT_EQ(source_.DBOpen(0), 0);
  EXPECT_EQ(GetCtFileInfo(src_t_.ifil.tfilno, CT_INFO_FILEID), id) << "local: untouched";
  ASSERT_EQ(source_.DBCloseIFile(), 0);

  // A client session on a server over the same folder.
  DBCloseISAM(0);
  {
    std::ofstream ini(dir_ + "/isamserv.ini");
    ini << "[FAIRCOMS@LOCALHOST]\nbackend=folder\nfolder=" << dir_ << "\nuser.ADMIN=segreto\n";
  }
  vkt::isam::SetIsamProgramDirectory(dir_.c_str());
  std::strcpy(par_.user, "ADMIN");
  std::strcpy(par_.password, "segreto");
  std::strcpy(par_.server_at_host, "FAIRCOMS@LOCALHOST");
  ASSERT_EQ(DBInitISAM(400, par_.user, par_.password, par_.server_at_host, true, false, false), 0);
  ASSERT_EQ(DBLocal(), 0);
  fake_.SetNow(int64_t{1700000000} * 1000000);
  EXPECT_EQ(source_.DBReassignID(), 0);
  ASSERT_EQ(source_.DBOpen(0), 0);
  EXPECT_EQ(GetCtFileInfo(src_t_.ifil.tfilno, CT_INFO_FILEID), 1700000000);
  std::string why;
  EXPECT_TRUE(VerifyTable(src_t_.ifil, &why)) << why << ": the indexes follow their table";
  ASSERT_EQ(source_.DBCloseIFile(), 0);
  // A table that is not there has nothing to renumber.
  MovTable none(dir_ + "/dit00001/nessuna");
  Mov nbuf{};
  CDBCtree missing(4, &none.ifil, &nbuf, PutStandard, nullptr, nullptr, 0);
  EXPECT_EQ(missing.DBReassignID(), 0);
  EXPECT_FALSE(fs::exists(dir_ + "/dit00001/nessuna.dat"));
}

TEST_F(MaintTest, DeleteAndRecreateLeaveAnEmptyTableWithItsSchema) {
  FillSource(12);
  EXPECT_EQ(source_.DBDeleteIFile(schema_.data()), 0);
  EXPECT_EQ(source_.DBNbrOfRecords(), 0);
  EXPECT_GT(GetDODA(src_t_.ifil.tfilno, 0, nullptr, 4), 0);
  // Open once: after one close no open of it is left, so it opens
  // exclusively.
  ASSERT_EQ(source_.DBCloseIFile(), 0);
  src_t_.ifil.dfilmod = 0;
  src_t_.ifil.ifilmod = 0;
  ASSERT_EQ(OpenIFileXtd(&src_t_.ifil, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(CloseIFile(&src_t_.ifil), 0);

  // From the stored description, and when the files are gone.
  ASSERT_EQ(source_.DBOpen(0), 0);
  Mov m = MakeMov(1, 45001.0);
  ASSERT_EQ(AddMovs(source_, {m}), 0);
  ASSERT_EQ(source_.DBCloseIFile(), 0);
  EXPECT_EQ(source_.DBDeleteAndOpenIFile(schema_.data()), 0);
  EXPECT_EQ(NbrOfRecords(src_t_.ifil.tfilno), 0);
  EXPECT_GT(GetDODA(src_t_.ifil.tfilno, 0, nullptr, 4), 0);
  ASSERT_EQ(source_.DBCloseIFile(), 0);

  MovTable fresh_t(dir_ + "/dit00001/nuova");
  Mov fbuf{};
  CDBCtree fresh(5, &fresh_t.ifil, &fbuf, PutStandard, nullptr, nullptr, 0);
  EXPECT_EQ(fresh.DBDeleteAndOpenIFile(schema_.data()), 0);
  EXPECT_TRUE(fs::exists(dir_ + "/dit00001/nuova.dat"));
  EXPECT_EQ(fresh.DBCheckDoda(schema_.data()), 0);
  ASSERT_EQ(fresh.DBCloseIFile(), 0);
}

}  // namespace
}  // namespace vkt::db::test
