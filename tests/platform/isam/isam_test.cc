// The ISAM client in one process: statuses, key order, writes, transactions,
// variable-length records, repairs, schemas, resources, history and faults.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "isam_fixture.h"

namespace vkt::isam::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> CodesInOrder(int32_t keyno) {
  std::vector<std::string> out;
  Art a;
  for (int16_t s = FirstRecord(keyno, &a); s == 0; s = NextRecord(keyno, &a)) out.push_back(Code(a));
  return out;
}

std::vector<std::string> CodesBackwards(int32_t keyno) {
  std::vector<std::string> out;
  Art a;
  for (int16_t s = LastRecord(keyno, &a); s == 0; s = PreviousRecord(keyno, &a)) out.push_back(Code(a));
  return out;
}

std::string NameKey(const std::string& name) {
  std::string k(34, '\0');
  std::memset(k.data(), ' ', 30);
  std::memcpy(k.data(), name.data(), std::min<size_t>(name.size(), 30));
  return k;
}

TEST_F(IsamTest, OpenCreateCloseGiveTheFileStatuses) {
  ArtTable t(Path("art"));
  EXPECT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), CT_FILE_NOT_FOUND);
  EXPECT_EQ(sysio_cod, ENOENT);
  CreateArt(t);
  EXPECT_GE(t.dat(), 0);
  EXPECT_TRUE(FileExists("art.dat"));
  EXPECT_TRUE(FileExists("art.idx"));
  EXPECT_EQ(GetCtFileInfo(t.dat(), CT_INFO_RECLEN), 64);
  EXPECT_EQ(GetCtFileInfo(t.key(2), CT_INFO_KEYLEN), 34);
  EXPECT_EQ(GetCtFileInfo(t.key(2), CT_INFO_DUPKEY), 1);
  EXPECT_EQ(CloseIFile(&t.ifil), 0);

  ArtTable again(Path("art"));
  EXPECT_EQ(CreateIFileXtd(&again.ifil, nullptr, nullptr, 31710, nullptr, nullptr), CT_FILE_EXISTS);
  EXPECT_EQ(OpenIFileXtd(&again.ifil, nullptr, nullptr, nullptr), 0);
  const int32_t first = again.dat();
  ArtTable fixed(Path("art"), CT_MODE_SHARED, first);
  EXPECT_EQ(OpenIFileXtd(&fixed.ifil, nullptr, nullptr, nullptr), CT_FILE_NUMBER_IN_USE);
  // A program whose index differs from the built one finds the index stale.
  ArtTable changed(Path("art"));
  changed.ix_[0].ikeydup = 1;
  changed.ix_[0].ikeylen = 14;
  EXPECT_EQ(OpenIFileXtd(&changed.ifil, nullptr, nullptr, nullptr), CT_INDEX_DAMAGED);
  EXPECT_EQ(CloseIFile(&again.ifil), 0);
  EXPECT_EQ(CloseIFile(&again.ifil), CT_FILE_NOT_OPEN);
}

TEST_F(IsamTest, KeysOrderAsTheirValuesInEveryIndex) {
  ArtTable t(Path("art"));
  CreateArt(t);
  AddArts(t, {MakeArt("B02", "pera", 5, 1.5), MakeArt("A01", "Mela", -3, 2.0),
              MakeArt("C03", "banana", 12, 0.5), MakeArt("A10", "mela", 300, 9.0),
              MakeArt("Z99", "Zucca", 0, -1.0)});
  EXPECT_EQ(NbrOfRecords(t.dat()), 5);
  EXPECT_EQ(CodesInOrder(t.key(1)), (std::vector<std::string>{"A01", "A10", "B02", "C03", "Z99"}));
  EXPECT_EQ(CodesBackwards(t.key(1)), (std::vector<std::string>{"Z99", "C03", "B02", "A10", "A01"}));
  // Names without case, duplicates in the order they were added.
  EXPECT_EQ(CodesInOrder(t.key(2)), (std::vector<std::string>{"C03", "A01", "A10", "B02", "Z99"}));
  // Signed quantities, descending.
  EXPECT_EQ(CodesInOrder(t.key(3)), (std::vector<std::string>{"A10", "C03", "B02", "Z99", "A01"}));
  // Physical order is the order of addition.
  EXPECT_EQ(CodesInOrder(t.dat()), (std::vector<std::string>{"B02", "A01", "C03", "A10", "Z99"}));

  Art a;
  std::string k = CodeKey("B02");
  EXPECT_EQ(GetRecord(t.key(1), TransformKey(t.key(1), k.data()), &a), 0);
  EXPECT_EQ(a.qty, 5);
  k = CodeKey("B");
  EXPECT_EQ(GetRecord(t.key(1), k.data(), &a), CT_NOT_FOUND);
  EXPECT_EQ(GetGTERecord(t.key(1), k.data(), &a), 0);
  EXPECT_EQ(Code(a), "B02");
  k = CodeKey("B02");
  EXPECT_EQ(GetGTRecord(t.key(1), k.data(), &a), 0);
  EXPECT_EQ(Code(a), "C03");
  EXPECT_EQ(GetLTERecord(t.key(1), k.data(), &a), 0);
  EXPECT_EQ(Code(a), "B02");
  EXPECT_EQ(GetLTRecord(t.key(1), k.data(), &a), 0);
  EXPECT_EQ(Code(a), "A10");
  k = CodeKey("A");
  EXPECT_EQ(GetLTRecord(t.key(1), k.data(), &a), CT_NOT_FOUND);
  k = CodeKey("ZZ");
  EXPECT_EQ(GetGTERecord(t.key(1), k.data(), &a), CT_NOT_FOUND);

  // Equal on an index with duplicates finds the first of them, and Next
  // walks on through the others.
  std::string nk = NameKey("MELA");
  EXPECT_EQ(GetRecord(t.key(2), TransformKey(t.key(2), nk.data()), &a), 0);
  EXPECT_EQ(Code(a), "A01");
  EXPECT_EQ(NextRecord(t.key(2), &a), 0);
  EXPECT_EQ(Code(a), "A10");
  // The current key read back finds exactly that record again.
  char cur[64];
  int32_t len = sizeof cur;
  ASSERT_EQ(CurrentISAMKey(t.key(2), cur, &len), 0);
  EXPECT_EQ(len, 34);
  EXPECT_EQ(GetRecord(t.key(2), cur, &a), 0);
  EXPECT_EQ(Code(a), "A10");

  // Ends of the file.
  EXPECT_EQ(LastRecord(t.key(1), &a), 0);
  EXPECT_EQ(NextRecord(t.key(1), &a), CT_NOT_FOUND);
  EXPECT_EQ(FirstRecord(t.key(1), &a), 0);
  EXPECT_EQ(PreviousRecord(t.key(1), &a), CT_NOT_FOUND);

  // Signed, descending and double keys transform so that memcmp orders them.
  int32_t q = -3;
  std::string qk(12, '\0');
  std::memcpy(qk.data(), &q, 4);
  EXPECT_EQ(GetRecord(t.key(3), TransformKey(t.key(3), qk.data()), &a), 0);
  EXPECT_EQ(Code(a), "A01");
}

TEST_F(IsamTest, DuplicateKeysAreRefusedWithoutLeavingAnything) {
  ArtTable t(Path("art"));
  CreateArt(t);
  AddArts(t, {MakeArt("A01", "uno", 1, 1), MakeArt("A02", "due", 2, 2)});
  Art dup = MakeArt("A01", "altro", 7, 7);
  EXPECT_EQ(AddRecord(t.dat(), &dup), CT_DUPLICATE_KEY);
  EXPECT_EQ(NbrOfRecords(t.dat()), 2);
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(NbrOfKeyEntries(t.key(k)), 2) << k;

  // A rewrite into another record's key is refused and changes nothing.
  Art a;
  std::string k = CodeKey("A02");
  ASSERT_EQ(GetRecord(t.key(1), k.data(), &a), 0);
  Art changed = a;
  std::memcpy(changed.code, "A01       ", 10);
  changed.qty = 99;
  EXPECT_EQ(ReWriteRecord(t.dat(), &changed), CT_DUPLICATE_KEY);
  ASSERT_EQ(ReReadRecord(t.dat(), &a), 0);
  EXPECT_EQ(Code(a), "A02");
  EXPECT_EQ(a.qty, 2);
  EXPECT_EQ(CodesInOrder(t.key(3)), (std::vector<std::string>{"A02", "A01"}));
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(NbrOfKeyEntries(t.key(i)), 2) << i;
}

TEST_F(IsamTest, RewriteMovesKeysAndDeleteLetsNavigationGoOn) {
  ArtTable t(Path("art"));
  CreateArt(t);
  AddArts(t, {MakeArt("A", "a", 1, 1), MakeArt("B", "b", 2, 2), MakeArt("C", "c", 3, 3)});
  Art a;
  std::string k = CodeKey("B");
  ASSERT_EQ(GetRecord(t.key(1), k.data(), &a), 0);
  std::memcpy(a.code, "D", 1);
  a.qty = 40;
  ASSERT_EQ(ReWriteRecord(t.dat(), &a), 0);
  EXPECT_EQ(GetRecord(t.key(1), k.data(), &a), CT_NOT_FOUND);
  EXPECT_EQ(CodesInOrder(t.key(1)), (std::vector<std::string>{"A", "C", "D"}));
  EXPECT_EQ(CodesInOrder(t.key(3)), (std::vector<std::string>{"D", "C", "A"}));

  k = CodeKey("C");
  ASSERT_EQ(GetRecord(t.key(1), k.data(), &a), 0);
  ASSERT_EQ(DeleteRecord(t.dat()), 0);
  EXPECT_EQ(ReReadRecord(t.dat(), &a), CT_NO_CURRENT_RECORD);
  EXPECT_EQ(ReWriteRecord(t.dat(), &a), CT_NO_CURRENT_RECORD);
  EXPECT_EQ(NextRecord(t.key(1), &a), 0);
  EXPECT_EQ(Code(a), "D");
  EXPECT_EQ(NbrOfRecords(t.dat()), 2);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(NbrOfKeyEntries(t.key(i)), 2);

  // A record deleted through another open of the table: 160 on re-read.
  ArtTable other(Path("art"));
  ASSERT_EQ(OpenIFileXtd(&other.ifil, nullptr, nullptr, nullptr), 0);
  k = CodeKey("A");
  ASSERT_EQ(GetRecord(t.key(1), k.data(), &a), 0);
  Art b;
  ASSERT_EQ(GetRecord(other.key(1), k.data(), &b), 0);
  ASSERT_EQ(DeleteRecord(other.dat()), 0);
  EXPECT_EQ(ReReadRecord(t.dat(), &a), CT_RECORD_DELETED);
  EXPECT_EQ(ReWriteRecord(t.dat(), &a), CT_RECORD_DELETED);
}

TEST_F(IsamTest, TransactionsAreAllOrNothingWithSavePoints) {
  ArtTable t(Path("art"));
  CreateArt(t);
  EXPECT_EQ(Commit(0), CT_NO_TRANSACTION);
  EXPECT_EQ(Abort(), CT_NO_TRANSACTION);
  EXPECT_EQ(SetSavePoint(), 0);
  EXPECT_EQ(uerr_cod, CT_NO_TRANSACTION);

  ASSERT_NE(Begin(50), 0);
  EXPECT_EQ(Begin(50), 0);
  EXPECT_EQ(uerr_cod, CT_TRANSACTION_ACTIVE);
  Art a = MakeArt("X", "x", 1, 1);
  ASSERT_EQ(AddRecord(t.dat(), &a), 0);
  ASSERT_EQ(Abort(), 0);
  EXPECT_EQ(NbrOfRecords(t.dat()), 0);

  ASSERT_NE(Begin(50), 0);
  Art r1 = MakeArt("A", "a", 1, 1), r2 = MakeArt("B", "b", 2, 2), r3 = MakeArt("C", "c", 3, 3);
  ASSERT_EQ(AddRecord(t.dat(), &r1), 0);
  int16_t sp = SetSavePoint();
  ASSERT_GT(sp, 0);
  ASSERT_EQ(AddRecord(t.dat(), &r2), 0);
  ASSERT_EQ(RestoreSavePoint(sp), 0);
  EXPECT_EQ(RestoreSavePoint(static_cast<int16_t>(sp + 5)), CT_BAD_PARAMETER);
  ASSERT_EQ(AddRecord(t.dat(), &r3), 0);
  // A duplicate inside a transaction fails alone; the rest stays.
  Art dup = MakeArt("A", "z", 9, 9);
  EXPECT_EQ(AddRecord(t.dat(), &dup), CT_DUPLICATE_KEY);
  ASSERT_EQ(Commit(0), 0);
  EXPECT_EQ(CodesInOrder(t.key(1)), (std::vector<std::string>{"A", "C"}));
  EXPECT_EQ(CodesInOrder(t.key(3)), (std::vector<std::string>{"C", "A"}));

  // A table created in an aborted transaction never existed.
  ArtTable n(Path("newone"));
  ASSERT_NE(Begin(50), 0);
  CreateArt(n);
  Art x = MakeArt("N", "n", 1, 1);
  ASSERT_EQ(AddRecord(n.dat(), &x), 0);
  ASSERT_EQ(Abort(), 0);
  EXPECT_EQ(AddRecord(n.dat(), &x), CT_FILE_NOT_OPEN);
  EXPECT_FALSE(FileExists("newone.dat"));
  ArtTable n2(Path("newone"));
  EXPECT_EQ(OpenIFileXtd(&n2.ifil, nullptr, nullptr, nullptr), CT_FILE_NOT_FOUND);
}

TEST_F(IsamTest, ChangesSurviveAReopenOfTheSession) {
  {
    ArtTable t(Path("art"));
    CreateArt(t);
    ASSERT_NE(Begin(50), 0);
    AddArts(t, {MakeArt("K1", "k", 1, 1), MakeArt("K2", "k", 2, 2)});
    ASSERT_EQ(Commit(0), 0);
    ASSERT_EQ(CloseISAM(), 0);
  }
  // A closed folder holds everything in its files: no log left behind.
  if (!OnServer()) {
    EXPECT_FALSE(fs::exists(Path("isam.db-wal")) && fs::file_size(Path("isam.db-wal")) > 0);
  }
  ASSERT_EQ(Init(), 0);
  ArtTable t(Path("art"));
  ASSERT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(CodesInOrder(t.key(1)), (std::vector<std::string>{"K1", "K2"}));
}

TEST_F(IsamTest, VariableLengthRecordsKeepTheirLengthAndNeverOverrunABuffer) {
  ArtTable t(Path("memo"), CT_MODE_SHARED | CT_MODE_VLENGTH);
  CreateArt(t);
  std::string img(200, 'v');
  Art head = MakeArt("V1", "lungo", 1, 1);
  std::memcpy(img.data(), &head, sizeof head);
  ASSERT_EQ(AddVRecord(t.dat(), img.data(), 200), 0);
  EXPECT_EQ(AddVRecord(t.dat(), img.data(), 63), CT_BAD_PARAMETER);  // shorter than the fixed part
  EXPECT_EQ(AddVRecord(t.dat(), img.data(), -1), CT_BAD_PARAMETER);
  EXPECT_EQ(AddVRecord(t.dat(), nullptr, 100), CT_BAD_PARAMETER);
  EXPECT_EQ(VRecordLength(t.dat()), 200);

  std::vector<char> small(120, '#');
  EXPECT_EQ(ReReadVRecord(t.dat(), small.data(), 100), CT_BUFFER_TOO_SMALL);
  EXPECT_EQ(small[0], '#');  // nothing written
  std::vector<char> whole(300, '#');
  ASSERT_EQ(ReReadVRecord(t.dat(), whole.data(), 300), 0);
  EXPECT_EQ(std::string(whole.data(), 200), img);
  EXPECT_EQ(whole[200], '#');

  int32_t len = 100;
  std::vector<char> part(110, '#');
  ASSERT_EQ(FirstVRecord(t.dat(), part.data(), &len), 0);
  EXPECT_EQ(len, 200);
  EXPECT_EQ(part[99], 'v');
  EXPECT_EQ(part[100], '#');

  // A partial rewrite keeps the tail; a fixed rewrite keeps it too.
  std::string front(70, 'p');
  std::memcpy(front.data(), &head, sizeof head);
  ASSERT_EQ(ReWritePartialRecord(t.dat(), front.data(), 70), 0);
  ASSERT_EQ(ReReadVRecord(t.dat(), whole.data(), 300), 0);
  EXPECT_EQ(whole[69], 'p');
  EXPECT_EQ(whole[70], 'v');
  EXPECT_EQ(VRecordLength(t.dat()), 200);
  std::string longer(500, 'L');
  std::memcpy(longer.data(), &head, sizeof head);
  ASSERT_EQ(ReWriteVRecord(t.dat(), longer.data(), 500), 0);
  EXPECT_EQ(VRecordLength(t.dat()), 500);
  Art fixed = head;
  fixed.qty = 77;
  ASSERT_EQ(ReWriteRecord(t.dat(), &fixed), 0);
  EXPECT_EQ(VRecordLength(t.dat()), 500);
}

TEST_F(IsamTest, BadInputGivesAStatusAndChangesNothing) {
  ArtTable t(Path("art"));
  CreateArt(t);
  Art a = MakeArt("A", "a", 1, 1);
  ASSERT_EQ(AddRecord(t.dat(), &a), 0);
  EXPECT_EQ(AddRecord(-1, &a), CT_BAD_FILE_NUMBER);
  EXPECT_EQ(AddRecord(63, &a), CT_FILE_NOT_OPEN);
  EXPECT_EQ(AddRecord(5000, &a), CT_BAD_FILE_NUMBER);
  EXPECT_EQ(AddRecord(t.key(1), &a), CT_WRONG_FILE_KIND);
  EXPECT_EQ(AddRecord(t.dat(), nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(ReWriteRecord(t.dat(), nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(GetRecord(t.dat(), a.code, &a), CT_WRONG_FILE_KIND);
  EXPECT_EQ(GetRecord(t.key(1), nullptr, &a), CT_BAD_PARAMETER);
  EXPECT_EQ(GetRecord(t.key(1), a.code, nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(FirstInSet(t.key(1), a.code, &a, 11), CT_BAD_PARAMETER);  // longer than the key
  EXPECT_EQ(FirstInSet(t.key(1), a.code, &a, -2), CT_BAD_PARAMETER);
  EXPECT_EQ(TransformKey(t.key(1), nullptr), nullptr);
  EXPECT_EQ(isam_err, CT_BAD_PARAMETER);
  EXPECT_EQ(ReWriteVRecord(t.dat(), &a, 65), CT_BAD_PARAMETER);  // fixed file, wrong length
  EXPECT_EQ(SystemConfiguration(nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(NbrOfRecords(t.dat()), 1);
  ASSERT_EQ(FirstRecord(t.key(1), &a), 0);
  EXPECT_EQ(a.qty, 1);

  // A description that is impossible: a segment outside the record.
  ArtTable bad(Path("bad"));
  bad.seg_[0].soffset = 60;
  EXPECT_EQ(CreateIFileXtd(&bad.ifil, nullptr, nullptr, 0, nullptr, nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(CreateIFileXtd(nullptr, nullptr, nullptr, 0, nullptr, nullptr), CT_BAD_PARAMETER);

  // Session parameters.
  ASSERT_EQ(CloseISAM(), 0);
  EXPECT_EQ(AddRecord(0, &a), CT_NOT_INITIALISED);
  EXPECT_EQ(Begin(50), 0);
  EXPECT_EQ(InitISAMXtd(2, 64, 16, 2, 1, "", "", ""), CT_BUFFERS_TOO_FEW);
  EXPECT_EQ(InitISAMXtd(15, 64, 16, 32001, 1, "", "", ""), CT_TOO_MUCH_SPACE);
  EXPECT_EQ(InitISAMXtd(15, 2, 16, 15, 1, "", "", ""), CT_FILES_TOO_FEW);
  EXPECT_EQ(InitISAMXtd(15, 32001, 16, 15, 1, "", "", ""), CT_TOO_MANY_FILES);
  ASSERT_EQ(Init(), 0);
  EXPECT_EQ(Init(), CT_ALREADY_INITIALISED);
}

TEST_F(IsamTest, ForeignAndDamagedFilesGiveTheirStatusesAndRebuildRepairs) {
  {
    ArtTable t(Path("art"));
    CreateArt(t);
    AddArts(t, {MakeArt("A", "a", 1, 1), MakeArt("B", "b", 2, 2)});
    ASSERT_EQ(CloseIFile(&t.ifil), 0);
  }
  ArtTable t(Path("art"));
  // An index file that is gone: the index is damaged, a rebuild restores it.
  RemoveFile("art.idx");
  EXPECT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), CT_INDEX_DAMAGED);
  t.ifil.tfilno = -99;
  EXPECT_EQ(RebuildIFileXtd(&t.ifil, nullptr, nullptr, 31710, nullptr, nullptr), 0);
  ASSERT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(CodesInOrder(t.key(1)), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(NbrOfKeyEntries(t.key(3)), 2);
  EXPECT_EQ(RebuildIFileXtd(&t.ifil, nullptr, nullptr, 0, nullptr, nullptr), CT_FILE_NUMBER_IN_USE);
  ASSERT_EQ(CloseIFile(&t.ifil), 0);

  // A data file that is not ours, and one cut short.
  const std::string text = FileText("art.dat");
  ASSERT_FALSE(text.empty());
  static const char kForeign[] = "MZ\x90\x00 some other program's file";
  PutFile("art.dat", std::string(kForeign, sizeof kForeign - 1));
  EXPECT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), CT_NOT_ISAM_FILE);
  PutFile("art.dat", text.substr(0, text.size() / 2));
  EXPECT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), CT_NOT_ISAM_FILE);
  PutFile("art.dat", text);
  // An index file left from an earlier build: stale.
  PutFile("old.idx", FileText("art.idx"));
  t.ifil.tfilno = -99;
  ASSERT_EQ(RebuildIFile(&t.ifil), 0);
  MoveFile("old.idx", "art.idx");
  EXPECT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), CT_INDEX_FOREIGN);
  ASSERT_EQ(CompactIFile(&t.ifil), 0);
  ASSERT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(NbrOfRecords(t.dat()), 2);
}

TEST_F(IsamTest, RebuildUnderAUniqueIndexReportsOrRemovesDuplicates) {
  {
    ArtTable t(Path("art"));
    t.ix_[0].ikeydup = 1;
    t.ix_[0].ikeylen = 14;
    CreateArt(t);
    AddArts(t, {MakeArt("A", "1", 1, 1), MakeArt("A", "2", 2, 2), MakeArt("B", "3", 3, 3),
                MakeArt("A", "4", 4, 4)});
    ASSERT_EQ(CloseIFile(&t.ifil), 0);
  }
  ArtTable t(Path("art"));  // index 1 unique now
  EXPECT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), CT_INDEX_DAMAGED);
  EXPECT_EQ(CompactIFile(&t.ifil), CT_DUPLICATE_KEY);
  t.ifil.tfilno = -99;
  EXPECT_EQ(RebuildIFile(&t.ifil), CT_DUPLICATES_FOUND);
  ASSERT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(NbrOfRecords(t.dat()), 4);
  EXPECT_EQ(NbrOfKeyEntries(t.key(1)), 2);  // the later duplicates left out
  ASSERT_EQ(CloseIFile(&t.ifil), 0);
  t.ifil.tfilno = -200;
  EXPECT_EQ(RebuildIFile(&t.ifil), CT_DUPLICATES_REMOVED);
  ASSERT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(NbrOfRecords(t.dat()), 2);
  Art a;
  ASSERT_EQ(FirstRecord(t.key(1), &a), 0);
  EXPECT_EQ(a.qty, 1);  // the first of the duplicates stays
  EXPECT_EQ(NbrOfKeyEntries(t.key(2)), 2);
}

TEST_F(IsamTest, SchemaAndDescriptionAreStoredAndGivenBack) {
  ArtTable t(Path("art"));
  CreateArt(t);
  EXPECT_EQ(GetDODA(t.dat(), 0, nullptr, 4), 0);
  EXPECT_EQ(uerr_cod, CT_NOT_FOUND);
  char n1[] = "code", n2[] = "name", n3[] = "qty", n4[] = "price";
  DATOBJ doda[] = {{n1, nullptr, 144, 10, {1, 2, 3, 4}}, {n2, nullptr, 144, 30, {}},
                   {n3, nullptr, 51, 4, {}}, {n4, nullptr, 103, 8, {}}};
  ASSERT_EQ(PutDODA(t.dat(), doda, 4), 0);
  int32_t size = GetDODA(t.dat(), 0, nullptr, 4);
  ASSERT_GT(size, 0);
  std::vector<char> buf(static_cast<size_t>(size));
  EXPECT_EQ(GetDODA(t.dat(), size - 1, buf.data(), 4), 0);
  EXPECT_EQ(uerr_cod, CT_BUFFER_TOO_SMALL);
  ASSERT_EQ(GetDODA(t.dat(), size, buf.data(), 4), size);
  auto* got = reinterpret_cast<DATOBJ*>(buf.data());
  EXPECT_STREQ(got[0].fsymb, "code");
  EXPECT_EQ(got[0].ftype, 144);
  EXPECT_EQ(got[0].fextra[3], 4u);
  EXPECT_STREQ(got[3].fsymb, "price");
  EXPECT_EQ(got[3].flen, 8);
  EXPECT_EQ(got[4].fsymb, nullptr);

  int32_t isize = GetIFile(t.dat(), 0, nullptr);
  ASSERT_GT(isize, static_cast<int32_t>(sizeof(ifil4)));
  std::vector<char> ib(static_cast<size_t>(isize));
  ASSERT_EQ(GetIFile(t.dat(), isize, ib.data()), isize);
  auto* d = reinterpret_cast<ifil4*>(ib.data());
  EXPECT_EQ(d->dreclen, 64);
  EXPECT_EQ(d->dnumidx, 3);
  EXPECT_EQ(d->dxtdsiz, 4096);
  EXPECT_STREQ(d->rfstfld, "code");
  EXPECT_STREQ(d->rlstfld, "price");
  EXPECT_STREQ(d->ix[1].ridxnam, "ArtName");
  EXPECT_EQ(d->ix[2].seg[0].segmode, CT_SEG_SIGNED | CT_SEG_DESCENDING);
  EXPECT_EQ(d->ix[0].aidxnam, nullptr);

  // A stored description with another extension size is given back so.
  t.ifil.dxtdsiz = 8192;
  ASSERT_EQ(PutIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(GetIFile(t.dat(), isize, ib.data()), isize);
  EXPECT_EQ(reinterpret_cast<ifil4*>(ib.data())->dxtdsiz, 8192);

  // Filters read the schema's fields.
  AddArts(t, {MakeArt("A", "x", 1, 1), MakeArt("B", "y", 10, 2), MakeArt("C", "x", 20, 3)});
  char f1[] = "qty >= 10 && name != \"y\"";
  ASSERT_EQ(SetDataFilter(t.dat(), f1), 0);
  EXPECT_EQ(CodesInOrder(t.key(1)), (std::vector<std::string>{"C"}));
  char bad[] = "qty >> 3";
  EXPECT_EQ(SetDataFilter(t.dat(), bad), CT_NOT_SUPPORTED);
  ASSERT_EQ(SetDataFilter(t.dat(), nullptr), 0);
  EXPECT_EQ(CodesInOrder(t.key(1)).size(), 3u);
  // A conditional index holds only the records that match.
  char c1[] = "qty < 15";
  ASSERT_EQ(UpdateConditionalIndex(t.key(3), c1), 0);
  EXPECT_EQ(NbrOfKeyEntries(t.key(3)), 2);
  Art a = MakeArt("D", "z", 5, 1);
  ASSERT_EQ(AddRecord(t.dat(), &a), 0);
  a = MakeArt("E", "z", 50, 1);
  ASSERT_EQ(AddRecord(t.dat(), &a), 0);
  EXPECT_EQ(CodesInOrder(t.key(3)), (std::vector<std::string>{"B", "D", "A"}));
  char cbuf[32];
  EXPECT_EQ(GetConditionalIndex(t.key(3), cbuf, sizeof cbuf), 8);
  EXPECT_STREQ(cbuf, "qty < 15");
}

TEST_F(IsamTest, ResourcesAreAddedFoundUpdatedAndNumbered) {
  ArtTable t(Path("art"));
  CreateArt(t);
  auto res = [](uint32_t type, uint32_t number, const std::string& name, const std::string& data) {
    std::string r(8, '\0');
    std::memcpy(r.data(), &type, 4);
    std::memcpy(r.data() + 4, &number, 4);
    r += name;
    r.push_back('\0');
    r += data;
    return r;
  };
  std::string r1 = res(0x10000, 1, "uno", "dati1");
  ASSERT_EQ(AddCtResource(t.dat(), r1.data(), static_cast<int32_t>(r1.size())), 0);
  EXPECT_EQ(AddCtResource(t.dat(), r1.data(), static_cast<int32_t>(r1.size())), CT_DUPLICATE_KEY);
  std::string r2 = res(0x10000, 0xffffffffu, "auto", "dati2");
  ASSERT_EQ(AddCtResource(t.dat(), r2.data(), static_cast<int32_t>(r2.size())), 0);
  uint32_t assigned = 0;
  std::memcpy(&assigned, r2.data() + 4, 4);
  EXPECT_EQ(assigned, 2u);
  std::string noterm = "\x01\0\0\0\x01\0\0\0abc";
  EXPECT_EQ(AddCtResource(t.dat(), noterm.data(), static_cast<int32_t>(noterm.size())), CT_BAD_PARAMETER);

  char buf[64];
  std::string key = res(0x10000, 1, "", "");
  EXPECT_EQ(GetCtResource(t.dat(), key.data(), buf, sizeof buf, CT_RES_TYPNUM), static_cast<int32_t>(r1.size()));
  EXPECT_EQ(std::string(buf, r1.size()), r1);
  EXPECT_EQ(GetCtResource(t.dat(), key.data(), buf, 3, CT_RES_TYPNUM), 0);
  EXPECT_EQ(uerr_cod, CT_BUFFER_TOO_SMALL);
  char name[] = "auto";
  EXPECT_EQ(GetCtResource(t.dat(), name, buf, sizeof buf, CT_RES_NAME), static_cast<int32_t>(r2.size()));
  EXPECT_EQ(GetCtResource(t.dat(), key.data(), buf, sizeof buf, CT_RES_NEXT), static_cast<int32_t>(r2.size()));
  std::string r1b = res(0x10000, 1, "uno", "nuovi dati");
  ASSERT_EQ(UpdateCtResource(t.dat(), r1b.data(), static_cast<int32_t>(r1b.size())), 0);
  EXPECT_EQ(GetCtResource(t.dat(), key.data(), nullptr, 0, CT_RES_LENGTH), static_cast<int32_t>(r1b.size()));
  ASSERT_EQ(DeleteCtResource(t.dat(), key.data()), 0);
  EXPECT_EQ(GetCtResource(t.dat(), key.data(), buf, sizeof buf, CT_RES_TYPNUM), 0);
  EXPECT_EQ(uerr_cod, CT_NOT_FOUND);
}

TEST_F(IsamTest, HistoryKeepsEveryImageOfARecordWithItsUser) {
  ASSERT_EQ(SetNodeName("PC-CASSA"), 0);
  ArtTable t(Path("art"), CT_MODE_SHARED | CT_MODE_TRNLOG);
  CreateArt(t);
  Art a = MakeArt("H", "storia", 1, 1);
  ASSERT_NE(Begin(50), 0);
  ASSERT_EQ(AddRecord(t.dat(), &a), 0);
  ASSERT_EQ(Commit(0), 0);
  const int32_t pos = CurrentFileOffset(t.dat());
  ASSERT_GT(pos, 0);
  a.qty = 2;
  ASSERT_EQ(ReWriteRecord(t.dat(), &a), 0);
  // An aborted change leaves no entry.
  ASSERT_NE(Begin(50), 0);
  a.qty = 3;
  ASSERT_EQ(ReWriteRecord(t.dat(), &a), 0);
  ASSERT_EQ(Abort(), 0);
  ASSERT_EQ(ReReadRecord(t.dat(), &a), 0);
  ASSERT_EQ(DeleteRecord(t.dat()), 0);

  std::vector<char> buf(20480);
  ASSERT_EQ(TransactionHistory(-1, nullptr, nullptr, 5, 0, ctHISTlog), 0);
  std::vector<std::pair<int16_t, int32_t>> seen;
  ctSETHGH(0);
  int16_t s = TransactionHistory(static_cast<int16_t>(t.dat()), nullptr, buf.data(), pos, 20479,
                                 ctHISTdata | ctHISTpos | ctHISTfirst);
  while (s == 0) {
    int16_t type = 0;
    std::memcpy(&type, buf.data() + 40, 2);
    Art img;
    std::memcpy(&img, buf.data() + 44, sizeof img);
    seen.emplace_back(type, img.qty);
    EXPECT_STREQ(buf.data() + 44 + 64, "tester|PC-CASSA");
    int32_t at = 0;
    std::memcpy(&at, buf.data() + 12, 4);
    EXPECT_EQ(at, pos);
    s = TransactionHistory(static_cast<int16_t>(t.dat()), nullptr, buf.data(), 0, 20480, ctHISTnext);
  }
  EXPECT_EQ(s, CT_NOT_FOUND);
  EXPECT_EQ(TransactionHistory(-1, nullptr, nullptr, -1, 0, ctHISTend), 0);
  EXPECT_EQ(FreeHistory(), 0);
  EXPECT_EQ(seen, (std::vector<std::pair<int16_t, int32_t>>{
                      {ctHIST_NEWIMAGE, 1}, {ctHIST_OLDIMAGE, 1}, {ctHIST_NEWIMAGE, 2}, {ctHIST_DELETE, 2}}));
  EXPECT_EQ(TransactionHistory(static_cast<int16_t>(t.dat()), nullptr, buf.data(), pos, 60,
                               ctHISTdata | ctHISTpos | ctHISTfirst),
            CT_BUFFER_TOO_SMALL);
}

TEST_F(IsamTest, SetsRangesAndKeyPositions) {
  ArtTable t(Path("art"));
  CreateArt(t);
  AddArts(t, {MakeArt("AA1", "a", 1, 1), MakeArt("AA2", "b", 2, 2), MakeArt("AB1", "c", 3, 3),
              MakeArt("B01", "d", 4, 4), MakeArt("B02", "e", 5, 5)});
  Art a;
  std::string k = CodeKey("AA");
  ASSERT_EQ(FirstInSet(t.key(1), k.data(), &a, 2), 0);
  std::vector<std::string> got{Code(a)};
  while (NextInSet(t.key(1), &a) == 0) got.push_back(Code(a));
  EXPECT_EQ(got, (std::vector<std::string>{"AA1", "AA2"}));
  ASSERT_EQ(LastInSet(t.key(1), k.data(), &a, 1), 0);
  EXPECT_EQ(Code(a), "AB1");
  EXPECT_EQ(PreviousInSet(t.key(1), &a), 0);
  EXPECT_EQ(Code(a), "AA2");
  k = CodeKey("C");
  EXPECT_EQ(FirstInSet(t.key(1), k.data(), &a, 1), CT_NOT_FOUND);

  // qty between 2 and 4 (descending index: the order is 4, 3, 2).
  int32_t lo = 2, hi = 4;
  std::string lk(12, '\0'), hk(12, '\0');
  std::memcpy(lk.data(), &hi, 4);  // descending: the high value is the low key
  std::memcpy(hk.data(), &lo, 4);
  TransformKey(t.key(3), lk.data());
  TransformKey(t.key(3), hk.data());
  int ops[] = {CTIX_BET};
  ASSERT_EQ(AllocateRange(t.key(3), 1, lk.data(), hk.data(), ops), 0);
  got.clear();
  for (int16_t s = FirstInRange(t.key(3), &a); s == 0; s = NextInRange(t.key(3), &a)) got.push_back(Code(a));
  EXPECT_EQ(got, (std::vector<std::string>{"B01", "AB1", "AA2"}));
  ASSERT_EQ(LastInRange(t.key(3), &a), 0);
  EXPECT_EQ(Code(a), "AA2");
  EXPECT_EQ(FreeRange(t.key(3)), 0);
  EXPECT_EQ(FirstInRange(t.key(3), &a), CT_NO_CURRENT_RECORD);

  // The position of a record in key order, and the key some entries away.
  char first[16], cur[16];
  ASSERT_GT(FirstKey(t.key(1), first), 0);
  k = CodeKey("AB1");
  ASSERT_EQ(GetRecord(t.key(1), k.data(), &a), 0);
  int32_t len = sizeof cur;
  ASSERT_EQ(CurrentISAMKey(t.key(1), cur, &len), 0);
  EXPECT_EQ(NbrOfKeysInRange(t.key(1), first, cur), 3);
  char away[16];
  ASSERT_GT(KeyAtDistance(t.key(1), cur, 2, away), 0);
  EXPECT_EQ(std::string(away, 3), "B02");
  ASSERT_GT(KeyAtDistance(t.key(1), cur, -2, away), 0);
  EXPECT_EQ(std::string(away, 3), "AA1");
  EXPECT_EQ(KeyAtDistance(t.key(1), cur, 3, away), 0);
  EXPECT_EQ(uerr_cod, CT_NOT_FOUND);

  // A batch of the records of a key prefix, with positions.
  std::vector<unsigned char> req(14 + 10, 0);
  int16_t sig = 1;
  std::memcpy(req.data() + 12, &sig, 2);
  req[14] = 'B';
  std::vector<char> out(8 + 64 + 10);  // room for one record at a time
  ASSERT_EQ(DoBatch(t.key(1), req.data(), out.data(), static_cast<int32_t>(out.size()), BAT_GET | BAT_RPOS), 0);
  int32_t total = 0, avail = 0, ret = 0;
  std::memcpy(&total, req.data(), 4);
  std::memcpy(&avail, req.data() + 4, 4);
  std::memcpy(&ret, req.data() + 8, 4);
  EXPECT_EQ(total, 2);
  EXPECT_EQ(avail, 1);
  EXPECT_EQ(ret, 1);
  EXPECT_EQ(std::string(out.data() + 8, 3), "B01");
  ASSERT_EQ(DoBatch(t.key(1), req.data(), out.data(), static_cast<int32_t>(out.size()), BAT_NXT), 0);
  EXPECT_EQ(std::string(out.data() + 8, 3), "B02");
  EXPECT_EQ(DoBatch(t.key(1), req.data(), out.data(), static_cast<int32_t>(out.size()), BAT_NXT), CT_NOT_FOUND);
  EXPECT_EQ(DoBatch(t.key(1), req.data(), nullptr, 0, BAT_CAN), 0);
}

TEST_F(IsamTest, RecordLocksConflictBetweenOpensAndEndWithTheTransaction) {
  ArtTable t(Path("art"));
  CreateArt(t);
  AddArts(t, {MakeArt("L", "l", 1, 1)});
  ArtTable other(Path("art"));
  ASSERT_EQ(OpenIFileXtd(&other.ifil, nullptr, nullptr, nullptr), 0);
  std::string k = CodeKey("L");
  Art a, b;
  ASSERT_NE(Begin(50), 0);
  ASSERT_EQ(GetRecord(t.key(1), k.data(), &a), 0);  // locked until the end
  EXPECT_EQ(GetRecord(other.key(1), k.data(), &b), CT_LOCKED);
  ASSERT_EQ(LockISAM(0), 0);  // released inside the transaction
  EXPECT_EQ(GetRecord(other.key(1), k.data(), &b), 0);
  ASSERT_EQ(Commit(0), 0);
  // Outside a transaction a write still refuses a record someone locked.
  ASSERT_EQ(LockRecord(other.dat(), CurrentFileOffset(other.dat()), 1), 0);
  ASSERT_EQ(GetRecord(t.key(1), k.data(), &a), 0);
  a.qty = 5;
  EXPECT_EQ(ReWriteRecord(t.dat(), &a), CT_LOCKED);
  EXPECT_EQ(LockRecord(other.dat(), CurrentFileOffset(other.dat()), 0), 0);
  EXPECT_EQ(ReWriteRecord(t.dat(), &a), 0);

  // Exclusive opens and file blocks.
  ArtTable ex(Path("art"), CT_MODE_EXCLUSIVE);
  EXPECT_EQ(OpenIFileXtd(&ex.ifil, nullptr, nullptr, nullptr), CT_FILE_LOCKED);
  EXPECT_EQ(DeleteIFile(&t.ifil), CT_FILE_LOCKED);  // shared open: not deletable
  ASSERT_EQ(CloseIFile(&t.ifil), 0);
  ASSERT_EQ(CloseIFile(&other.ifil), 0);
  ASSERT_EQ(OpenIFileXtd(&ex.ifil, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(DeleteIFile(&ex.ifil), 0);
  EXPECT_FALSE(FileExists("art.dat"));
  EXPECT_FALSE(FileExists("art.idx"));
  EXPECT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), CT_FILE_NOT_FOUND);
}

TEST_F(IsamTest, EveryStorageFaultInACommitLeavesAllOrNothing) {
  ArtTable t(Path("art"));
  CreateArt(t);
  int faults_hit = 0;
  for (int64_t n = 1; n < 200; ++n) {
    std::string code = "F" + std::to_string(n);
    std::string c2 = code + "b", c3 = code + "c";
    Art r1 = MakeArt(code, "x", 1, 1), r2 = MakeArt(c2, "y", 2, 2), r3 = MakeArt(c3, "z", 3, 3);
    const int32_t before = NbrOfRecords(t.dat());
    FailNthStorageOp(n, CT_WRITE_ERROR, ENOSPC);
    bool ok = Begin(50) != 0;
    ok = ok && AddRecord(t.dat(), &r1) == 0;
    ok = ok && AddRecord(t.dat(), &r2) == 0;
    ok = ok && AddRecord(t.dat(), &r3) == 0;
    int16_t cs = ok ? Commit(0) : (Abort(), int16_t{-1});
    FailNthStorageOp(0, 0, 0);
    const int32_t after = NbrOfRecords(t.dat());
    if (cs == 0) {
      ASSERT_EQ(after, before + 3) << n;
      if (n > 1 && faults_hit > 0) break;  // the fault point lies past the work now
    } else {
      ++faults_hit;
      ASSERT_EQ(after, before) << "fault at statement " << n;
      if (cs > 0) {
        EXPECT_EQ(cs, CT_WRITE_ERROR);
      }
    }
    for (int k = 1; k <= 3; ++k) ASSERT_EQ(NbrOfKeyEntries(t.key(k)), after) << n;
  }
  EXPECT_GT(faults_hit, 5);

  // A failed call through the call hook changes nothing and says why.
  Art x = MakeArt("HOOK", "h", 1, 1);
  FailNthIsamCall(1, CT_WRITE_ERROR, EIO);
  EXPECT_EQ(AddRecord(t.dat(), &x), CT_WRITE_ERROR);
  EXPECT_EQ(sysio_cod, EIO);
  std::string k = CodeKey("HOOK");
  Art y;
  EXPECT_EQ(GetRecord(t.key(1), k.data(), &y), CT_NOT_FOUND);
}

TEST_F(IsamTest, FileNumbersResourcesOfOpenAndPlainFiles) {
  {
    ArtTable t(Path("art"));
    CreateArt(t);
    AddArts(t, {MakeArt("P", "p", 1, 1)});
    ASSERT_EQ(CloseIFile(&t.ifil), 0);
  }
  std::string dat = Path("art.dat");
  int32_t n = OpenFileWithResource(-1, dat.data(), CT_MODE_SHARED);
  ASSERT_GE(n, 0);
  EXPECT_EQ(GetCtFileInfo(n, CT_INFO_INDEXES), 3);
  char name[300];
  ASSERT_EQ(GetCtFileName(n + 1, name, sizeof name), 0);
  EXPECT_EQ(std::string(name), fs::canonical(dir_).string() + "/art.idx");
  EXPECT_EQ(GetCtFileName(n, name, 5), CT_BUFFER_TOO_SMALL);
  const int32_t free_block = AvailableFileNbr(4);
  EXPECT_GE(free_block, n + 4);
  EXPECT_EQ(CloseRFile(n), 0);
  std::string missing = Path("nothere.dat");
  EXPECT_EQ(OpenFileWithResource(-1, missing.data(), CT_MODE_SHARED), -1);
  EXPECT_EQ(isam_err, CT_FILE_NOT_FOUND);
  EXPECT_EQ(sysio_cod, ENOENT);

  // Removing the index file plainly: the next open finds the index damaged.
  std::string idx = Path("art.idx");
  ASSERT_EQ(OpenCtFile(10, idx.data(), CT_MODE_EXCLUSIVE), 0);
  ASSERT_NE(Begin(50), 0);
  ASSERT_EQ(DeleteCtFile(10), 0);
  ASSERT_EQ(Commit(0), 0);
  EXPECT_FALSE(FileExists("art.idx"));
  ArtTable t(Path("art"));
  EXPECT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), CT_INDEX_DAMAGED);

  // A copy of a folder carries the same file ids: 463 until one is renewed.
  // (A server's folder is copied by the server's tools.)
  if (OnServer()) return;
  t.ifil.tfilno = -99;
  ASSERT_EQ(RebuildIFile(&t.ifil), 0);
  ASSERT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(CloseIFile(&t.ifil), 0);
  std::string copy = MakeTempDir("copy");
  for (const char* f : {"art.dat", "art.idx", "isam.db"})
    fs::copy_file(Path(f), copy + "/" + f, fs::copy_options::overwrite_existing);
  ASSERT_EQ(OpenIFileXtd(&t.ifil, nullptr, nullptr, nullptr), 0);
  ArtTable c(copy + "/art");
  EXPECT_EQ(OpenIFileXtd(&c.ifil, nullptr, nullptr, nullptr), CT_FILE_ID_NOT_UNIQUE);
  std::string cdat = copy + "/art.dat";
  int32_t cn = OpenFileWithResource(-1, cdat.data(), CT_MODE_SHARED + CT_MODE_NOIDCHECK);
  ASSERT_GE(cn, 0);
  EXPECT_EQ(UpdateHeader(cn, GetCtFileInfo(t.dat(), CT_INFO_FILEID), 4), CT_FILE_ID_NOT_UNIQUE);
  ASSERT_EQ(UpdateHeader(cn, 123457, 4), 0);
  ASSERT_EQ(CloseRFile(cn), 0);
  EXPECT_EQ(OpenIFileXtd(&c.ifil, nullptr, nullptr, nullptr), 0);
  fs::remove_all(copy);
}

TEST_F(IsamTest, ServerNamesResolveThroughTheSettingsFile) {
  ASSERT_EQ(CloseISAM(), 0);
  std::string data = MakeTempDir("srv");
  {
    std::ofstream ini(Path("isamserv.ini"));
    ini << "[FAIRCOM@host1]\nbackend=folder\nfolder=" << data << "\nuser.ADMIN=segreto\nuser.MARIO=\n"
        << "[PG@host2]\nbackend=postgres\nuser.ADMIN=x\n"
        << "[PG@host3]\nbackend=postgres\nuser.ADMIN=x\ndsn=host=127.0.0.1 port=1 connect_timeout=2\n"
        << "[ORA@host4]\nbackend=oracle\nuser.ADMIN=x\n";
  }
  SetIsamProgramDirectory(dir_.c_str());
  EXPECT_EQ(InitISAMXtd(15, 64, 16, 15, 1, "ADMIN", "segreto", "NONE@x"), CT_SERVER_NOT_FOUND);
  EXPECT_EQ(isam_err, CT_SERVER_NOT_FOUND);
  EXPECT_EQ(InitISAMXtd(15, 64, 16, 15, 1, "NOBODY", "segreto", "FAIRCOM@host1"), CT_BAD_USER);
  EXPECT_EQ(InitISAMXtd(15, 64, 16, 15, 1, "ADMIN", "sbagliata", "FAIRCOM@host1"), CT_BAD_PASSWORD);
  EXPECT_EQ(InitISAMXtd(15, 64, 16, 15, 1, "ADMIN", "segreto", "bad name"), CT_BAD_SERVER_NAME);
  EXPECT_EQ(InitISAMXtd(15, 64, 16, 15, 1, "ADMIN", "x", "ORA@host4"), CT_PROTOCOL_NOT_FOUND);
  // A database server without its connection, or one that does not answer.
  EXPECT_EQ(InitISAMXtd(15, 64, 16, 15, 1, "ADMIN", "x", "PG@host2"), CT_SERVER_NOT_FOUND);
  EXPECT_EQ(InitISAMXtd(15, 64, 16, 15, 1, "ADMIN", "x", "PG@host3"), CT_SERVER_NOT_FOUND);
  ASSERT_EQ(InitISAMXtd(15, 64, 16, 15, 1, "ADMIN", "segreto", "FAIRCOM@host1"), 0);
  int32_t cfg[256];
  ASSERT_EQ(SystemConfiguration(cfg), 0);
  EXPECT_EQ(cfg[128], 0);
  EXPECT_EQ(cfg[150], '/');
  ArtTable t("rel");  // relative names live in the server's folder
  CreateArt(t);
  EXPECT_TRUE(fs::exists(data + "/rel.dat"));
  IOPERF_BLOCK perf;
  ASSERT_EQ(IOPERFORMANCEX(&perf), 0);
  EXPECT_NEAR(perf.values[18], static_cast<double>(time(nullptr)), 5);
  char u[] = "ADMIN", p[] = "segreto", s[] = "FAIRCOM@host1", wrong[] = "no";
  EXPECT_EQ(StopServerXtd(u, wrong, s, 0), CT_BAD_PASSWORD);
  EXPECT_EQ(StopServerXtd(u, p, s, 0), 0);
  EXPECT_EQ(CloseISAM(), CT_NOT_INITIALISED);  // the stop ended the session
  fs::remove_all(data);
}

TEST_F(IsamTest, InstancesAndThreadsKeepTheirOwnState) {
  ArtTable t(Path("art"));
  CreateArt(t);
  char other[] = "second";
  ASSERT_EQ(RegisterCtree(other), 0);
  EXPECT_EQ(RegisterCtree(other), CT_ALREADY_INITIALISED);
  ASSERT_EQ(SwitchCtree(other), 0);
  Art a = MakeArt("I", "i", 1, 1);
  EXPECT_EQ(AddRecord(t.dat(), &a), CT_NOT_INITIALISED);  // a fresh instance
  ASSERT_EQ(UnRegisterCtree(other), 0);
  EXPECT_EQ(AddRecord(t.dat(), &a), 0);  // back on the first one

  // Error variables belong to the thread that made the call.
  EXPECT_EQ(AddRecord(t.dat(), nullptr), CT_BAD_PARAMETER);
  int16_t in_thread = 0;
  std::thread th([&] { in_thread = isam_err; });
  th.join();
  EXPECT_EQ(in_thread, -1);
  EXPECT_EQ(isam_err, CT_BAD_PARAMETER);
  ctThrdTerm();
  EXPECT_EQ(uerr_cod, -1);
  ctThrdInit(1, 0, nullptr);
  EXPECT_EQ(uerr_cod, 0);
}

}  // namespace
}  // namespace vkt::isam::test
