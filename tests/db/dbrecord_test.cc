// CDBCtree record access: navigation and keyed reads along each index, sets
// and ranges, positions, writes and their stamps, the lock check, and the
// bounds kept with long records, long keys and missing buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "db/db_fixture.h"
#include "db/dbctree.h"
#include "isam/ctree.h"
#include "isam/isam_testing.h"
#include "win/services.h"

namespace vkt::db::test {
namespace {

int g_stamps = 0;
int16_t CountingStamp(void* record) {
  ++g_stamps;
  return StampCliente(record);
}

class RecordTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    InitSession();
    OpenClienti(t_, table_);
    AddClienti(table_, SomeClienti());
    fake_.ClearTranscript();
    g_stamps = 0;
  }

  std::string Code() const { return VKT_FIELD(buf_, codice); }
  bool BufferIsEmpty() const {
    Cliente zero{};
    return std::memcmp(&buf_, &zero, sizeof buf_) == 0;
  }
  // Index 2 in record form: the 40 characters of the name, room for the
  // position suffix behind them.
  static std::vector<char> NameKey(const char* ragione) {
    std::vector<char> k(64, 0);
    std::snprintf(k.data(), 41, "%-40s", ragione);
    return k;
  }

  ClientiTable t_{Path("clienti")};
  Cliente buf_{};
  CDBCtree table_{1, &t_.ifil, &buf_, PutStandard, nullptr, CountingStamp, 0};
};

TEST_F(RecordTest, NavigationFollowsTheIndexAndAFailedReadLeavesAnEmptyBuffer) {
  // Index 0 is the data file in the order the records were added.
  ASSERT_EQ(table_.DBSetIndex(0), 0);
  std::vector<std::string> physical;
  for (int16_t s = table_.DBFirstRecord(); s == 0; s = table_.DBNextRecord())
    physical.push_back(Code());
  EXPECT_EQ(physical, (std::vector<std::string>{"C003", "C001", "C004", "C002"}));

  ASSERT_EQ(table_.DBSetIndex(1), 0);
  ASSERT_EQ(table_.DBLastRecord(), 0);
  EXPECT_EQ(Code(), "C004");
  EXPECT_EQ(table_.DBNextRecord(), CT_NOT_FOUND);
  EXPECT_TRUE(BufferIsEmpty());
  ASSERT_EQ(table_.DBPreviousRecord(), 0);
  EXPECT_EQ(Code(), "C003");

  // Clamped stepping stays on the last / first record, with a beep.
  ASSERT_EQ(table_.DBLastRecord(), 0);
  EXPECT_EQ(table_.DBSucc(), 0);
  EXPECT_EQ(Code(), "C004");
  ASSERT_EQ(fake_.beeps().size(), 1u);
  EXPECT_EQ(fake_.beeps()[0], std::make_pair(1000u, 10u));
  ASSERT_EQ(table_.DBFirstRecord(), 0);
  EXPECT_EQ(table_.DBPrec(), 0);
  EXPECT_EQ(Code(), "C001");
  EXPECT_EQ(fake_.beeps().size(), 2u);
  EXPECT_EQ(table_.DBSucc(), 0);  // inside the file: no beep
  EXPECT_EQ(Code(), "C002");
  EXPECT_EQ(fake_.beeps().size(), 2u);
}

TEST_F(RecordTest, KeyedReadsTransformTheCallersKeyInPlace) {
  ASSERT_EQ(table_.DBSetIndex(1), 0);
  EXPECT_EQ(table_.DBGetRecord(CodeKey("C002").bytes), 0);
  EXPECT_EQ(Code(), "C002");
  EXPECT_EQ(VKT_FIELD(buf_, cod_fiscale), "BNCCRL82D55G273Z");
  EXPECT_EQ(table_.DBGetGTERecord(CodeKey("C0025").bytes), 0);
  EXPECT_EQ(Code(), "C003");
  EXPECT_EQ(table_.DBGetGTRecord(CodeKey("C003").bytes), 0);
  EXPECT_EQ(Code(), "C004");
  EXPECT_EQ(table_.DBGetLTERecord(CodeKey("C0025").bytes), 0);
  EXPECT_EQ(Code(), "C002");
  EXPECT_EQ(table_.DBGetLTRecord(CodeKey("C001").bytes), CT_NOT_FOUND);
  EXPECT_TRUE(BufferIsEmpty());
  EXPECT_EQ(table_.DBGetRecord(CodeKey("C009").bytes), CT_NOT_FOUND);
  EXPECT_TRUE(BufferIsEmpty());

  // The name index ignores case: the caller's key comes back in the
  // index's form.
  ASSERT_EQ(table_.DBSetIndex(2), 0);
  std::vector<char> key = NameKey("bianchi carla");
  EXPECT_EQ(table_.DBGetGTERecord(key.data()), 0);
  EXPECT_EQ(Code(), "C002");
  EXPECT_EQ(std::string(key.data(), 13), "BIANCHI CARLA");
  key = NameKey("rossi");
  EXPECT_EQ(table_.DBGetGTERecord(key.data()), 0);
  EXPECT_EQ(Code(), "C001");
}

TEST_F(RecordTest, SetsAndRangesSelectAlongTheKey) {
  // Two customers share the VAT number 12345678903.
  ASSERT_EQ(table_.DBSetIndex(3), 0);
  char vat[32] = "12345678903";
  EXPECT_EQ(table_.DBFirstInSet(vat, 11), 0);
  EXPECT_EQ(Code(), "C001");
  EXPECT_EQ(table_.DBNextInSet(), 0);
  EXPECT_EQ(Code(), "C004");
  EXPECT_EQ(table_.DBNextInSet(), CT_NOT_FOUND);
  EXPECT_TRUE(BufferIsEmpty());
  char vat2[32] = "12345678903";
  EXPECT_EQ(table_.DBLastInSet(vat2, 11), 0);
  EXPECT_EQ(Code(), "C004");
  EXPECT_EQ(table_.DBPreviousInSet(), 0);
  EXPECT_EQ(Code(), "C001");

  ASSERT_EQ(table_.DBSetIndex(1), 0);
  CodeKey low("C002"), high("C003");
  int between[1] = {CTIX_BET};
  ASSERT_EQ(table_.DBAllocateRange(1, low.bytes, high.bytes, between), 0);
  std::vector<std::string> in_range;
  for (int16_t s = table_.DBFirstInRange(); s == 0; s = table_.DBNextInRange())
    in_range.push_back(Code());
  EXPECT_EQ(in_range, (std::vector<std::string>{"C002", "C003"}));
  EXPECT_EQ(table_.DBLastInRange(), 0);
  EXPECT_EQ(Code(), "C003");
  EXPECT_EQ(table_.DBPreviousInRange(), 0);
  EXPECT_EQ(Code(), "C002");
  EXPECT_EQ(table_.DBFreeRange(), 0);
  CodeKey from("C002"), to("C004");
  EXPECT_EQ(table_.DBNbrOfKeysInRange(from.bytes, to.bytes), 3);
  EXPECT_EQ(table_.DBNbrOfKeyEntries(), 4);
  EXPECT_EQ(table_.DBNbrOfRecords(), 4);
}

TEST_F(RecordTest, PositionAndSkipCountAlongTheCurrentIndex) {
  ASSERT_EQ(table_.DBSetIndex(1), 0);
  ASSERT_EQ(table_.DBGetRecord(CodeKey("C003").bytes), 0);
  int32_t pos = -1;
  EXPECT_EQ(table_.DBGetPosition(&pos, nullptr, 0), 0);
  EXPECT_EQ(pos, 3);
  CodeKey c002("C002");
  EXPECT_EQ(table_.DBGetPosition(&pos, c002.bytes, 8), 0);
  EXPECT_EQ(pos, 2);  // C002 and C003
  EXPECT_EQ(table_.DBGetPosition(&pos, c002.bytes, 0), 0);  // a length of 0 ignores the key
  EXPECT_EQ(pos, 3);

  // A stated key length outside the 1024-byte work area is refused before
  // anything is copied (the key here is 64 bytes long).
  EXPECT_NE(table_.DBGetPosition(&pos, c002.bytes, -1), 0);
  EXPECT_EQ(pos, 0);
  EXPECT_NE(DBGetUerrCod(), 0);
  pos = 7;
  EXPECT_NE(table_.DBGetPosition(&pos, c002.bytes, 1025), 0);
  EXPECT_EQ(pos, 0);

  ASSERT_EQ(table_.DBGetRecord(CodeKey("C003").bytes), 0);
  EXPECT_EQ(table_.DBSkip(1), 0);
  EXPECT_EQ(Code(), "C004");
  EXPECT_EQ(table_.DBSkip(-3), 0);
  EXPECT_EQ(Code(), "C001");
  EXPECT_NE(table_.DBSkip(-1), 0);  // nothing before the first key
  EXPECT_NE(DBGetUerrCod(), 0);
}

TEST_F(RecordTest, KeysLongerThanTheWorkAreasAreRefusedNotCopied) {
  // A table whose only index is 1100 bytes long.
  struct Long {
    char key[1100];
    char rest[20];
  };
  ClientiTable lt(Path("lunghi"), sizeof(Long));
  ISEG seg{0, 1100, CT_SEG_BYTES};
  lt.ix_[0] = IIDX{1100, 0, 0, 0, 0, 1, &seg, nullptr, nullptr, nullptr, nullptr};
  lt.ifil.dnumidx = 1;
  auto rec = std::make_unique<Long>();
  CDBCtree t(5, &lt.ifil, rec.get(), PutStandard, nullptr, nullptr, 0);
  ASSERT_EQ(t.DBOpen(0), 0);
  for (char c : {'a', 'b'}) {
    Long r{};
    std::memset(r.key, c, sizeof r.key);
    ASSERT_EQ(DBWrite(&t, 0, &r, &t), 0);
  }
  ASSERT_EQ(t.DBSetIndex(1), 0);
  ASSERT_EQ(t.DBFirstRecord(), 0);
  int32_t pos = -1;
  EXPECT_EQ(t.DBGetPosition(&pos, nullptr, 0), CT_BUFFER_TOO_SMALL);
  EXPECT_EQ(pos, 0);
  EXPECT_EQ(t.DBSkip(1), CT_BUFFER_TOO_SMALL);
  EXPECT_EQ(DBGetUerrCod(), CT_BUFFER_TOO_SMALL);
  EXPECT_EQ(t.DBCloseIFile(), 0);
}

TEST_F(RecordTest, WritesStampTheImageUnlessSuspendedAndAnUnchangedRewriteWritesNothing) {
  std::strcpy(par_.last_user, "GIALLI");
  Cliente c = MakeCliente("C100", "Gialli Ugo", "", "", "Bari", 10);
  EXPECT_EQ(table_.DBAddRecord(&c), 0);
  EXPECT_EQ(g_stamps, 1);
  EXPECT_EQ(VKT_FIELD(buf_, utente), "GIALLI");

  table_.DBSetLockStamp(1);
  EXPECT_EQ(table_.DBGetLockStamp(), 1);
  Cliente d = MakeCliente("C101", "Senza timbro", "", "", "", 0);
  EXPECT_EQ(table_.DBAddRecord(&d), 0);
  EXPECT_EQ(g_stamps, 1);
  EXPECT_EQ(VKT_FIELD(buf_, utente), "");
  table_.DBSetLockStamp(0);

  ASSERT_EQ(table_.DBSetIndex(1), 0);
  ASSERT_EQ(table_.DBGetRecord(CodeKey("C100").bytes), 0);
  Cliente same = buf_;
  std::strcpy(par_.last_user, "ALTRO");
  EXPECT_EQ(table_.DBReWriteRecord(&same), 0);
  EXPECT_EQ(g_stamps, 1);  // unchanged: neither stamped nor written
  ASSERT_EQ(table_.DBGetRecord(CodeKey("C100").bytes), 0);
  EXPECT_EQ(VKT_FIELD(buf_, utente), "GIALLI");

  Cliente changed = buf_;
  std::memcpy(changed.citta, "Lecce", 5);
  EXPECT_EQ(table_.DBReWriteRecord(&changed), 0);
  EXPECT_EQ(g_stamps, 2);
  ASSERT_EQ(table_.DBGetRecord(CodeKey("C100").bytes), 0);
  EXPECT_EQ(VKT_FIELD(buf_, citta), "Lecce");
  EXPECT_EQ(VKT_FIELD(buf_, utente), "ALTRO");

  // A delete leaves an empty buffer; the re-read of a deleted record fails.
  EXPECT_EQ(table_.DBDeleteRecord(), 0);
  EXPECT_TRUE(BufferIsEmpty());
  EXPECT_EQ(table_.DBGetRecord(CodeKey("C100").bytes), CT_NOT_FOUND);
  ASSERT_EQ(table_.DBGetRecord(CodeKey("C101").bytes), 0);
  const double before = table_.lastRead;
  fake_.SetNow(int64_t{1767225600} * 1000000);  // 2026-01-01
  EXPECT_EQ(table_.DBReReadRecord(), 0);
  EXPECT_EQ(Code(), "C101");
  EXPECT_NE(table_.lastRead, before);
}

TEST_F(RecordTest, TheLockCheckHandsBackTheRecordOnDiskWhenTheBufferIsStale) {
  ASSERT_EQ(table_.DBSetIndex(1), 0);
  ASSERT_EQ(table_.DBGetRecord(CodeKey("C001").bytes), 0);
  const Cliente on_disk = buf_;
  ASSERT_NE(Begin(50), 0);
  EXPECT_EQ(table_.DBLockRec(), 0);  // the buffer is what is on disk
  ASSERT_EQ(Abort(), 0);

  buf_.fido = 99;  // what this process last saw differs by one field
  ASSERT_NE(Begin(50), 0);
  EXPECT_EQ(table_.DBLockRec(), DB_CHANGED);
  EXPECT_EQ(DBGetUerrCod(), DB_CHANGED);
  EXPECT_EQ(std::memcmp(&buf_, &on_disk, sizeof buf_), 0);
  ASSERT_EQ(Abort(), 0);

  // Through the standard callback the rewrite is not made.
  Cliente edit = buf_;
  edit.fido = 5;
  buf_.saldo = 1.5;
  EXPECT_EQ(DBWrite(&table_, 1, &edit, &table_), DB_CHANGED);
  ASSERT_EQ(table_.DBGetRecord(CodeKey("C001").bytes), 0);
  EXPECT_EQ(int32_t{buf_.fido}, int32_t{on_disk.fido});
}

TEST_F(RecordTest, LongRecordsAreComparedWholeInAnAreaOfTheirOwn) {
  // 30000 bytes: more than the shared scratch area of the lock check.
  constexpr uint16_t kLen = 30000;
  ClientiTable big(Path("grandi"), kLen);
  big.ifil.dnumidx = 1;
  std::vector<char> record(kLen);
  CDBCtree t(6, &big.ifil, record.data(), PutStandard, nullptr, nullptr, 0);
  ASSERT_EQ(t.DBOpen(0), 0);
  fake_.ClearTranscript();
  std::vector<char> image(kLen, 'x');
  std::memcpy(image.data(), "G001    ", 8);
  ASSERT_EQ(DBWrite(&t, 0, image.data(), &t), 0);
  ASSERT_EQ(t.DBSetIndex(1), 0);
  ASSERT_EQ(t.DBGetRecord(CodeKey("G001").bytes), 0);
  EXPECT_EQ(record, image);

  record[29000] = 'y';  // a difference past the first 24576 bytes
  ASSERT_NE(Begin(50), 0);
  EXPECT_EQ(t.DBLockRec(), DB_CHANGED);
  EXPECT_EQ(record[29000], 'x');
  EXPECT_EQ(t.DBLockRec(), 0);
  ASSERT_EQ(Abort(), 0);

  std::vector<char> edit = record;
  edit[kLen - 1] = 'z';
  EXPECT_EQ(DBWrite(&t, 1, edit.data(), &t), 0);
  ASSERT_EQ(t.DBGetRecord(CodeKey("G001").bytes), 0);
  EXPECT_EQ(record[kLen - 1], 'z');
  EXPECT_EQ(t.DBCloseIFile(), 0);
}

TEST_F(RecordTest, MissingBuffersAndArgumentsAreStatusesNotCrashes) {
  CDBCtree bare(7, &t_.ifil, nullptr, PutStandard, nullptr, nullptr, 0);
  ASSERT_EQ(bare.DBSetIndex(1), 0);
  EXPECT_EQ(bare.DBFirstRecord(), CT_BAD_PARAMETER);
  EXPECT_EQ(DBGetIsamErr(), CT_BAD_PARAMETER);
  EXPECT_EQ(DBGetUerrCod(), CT_BAD_PARAMETER);
  EXPECT_EQ(DBGetSysIOCod(), 0);
  EXPECT_EQ(bare.DBGetRecord(CodeKey("C001").bytes), CT_BAD_PARAMETER);
  EXPECT_EQ(bare.DBLockRec(), CT_BAD_PARAMETER);
  EXPECT_EQ(bare.DBReReadRecord(), CT_BAD_PARAMETER);
  Cliente c = MakeCliente("C200", "Nessun buffer", "", "", "", 0);
  EXPECT_EQ(bare.DBAddRecord(&c), CT_BAD_PARAMETER);

  ASSERT_EQ(table_.DBSetIndex(1), 0);
  EXPECT_EQ(table_.DBGetRecord(nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(table_.DBFirstInSet(nullptr, 4), CT_BAD_PARAMETER);
  EXPECT_EQ(table_.DBAddRecord(nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(table_.DBReWriteRecord(nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(table_.DBAllocateRange(1, nullptr, nullptr, nullptr), CT_BAD_PARAMETER);
  int32_t size = 8;
  EXPECT_EQ(DBWrite(&table_, 10, nullptr, &size), CT_BAD_PARAMETER);
  char res[16] = {};
  EXPECT_EQ(DBWrite(&table_, 10, res, nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(DBWrite(&table_, 11, res, nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(table_.DBGetPosition(nullptr, nullptr, 0), CT_BAD_PARAMETER);
  // After all that, a good call reads clean.
  EXPECT_EQ(table_.DBGetRecord(CodeKey("C001").bytes), 0);
  EXPECT_EQ(DBGetIsamErr(), 0);
  EXPECT_EQ(DBGetUerrCod(), 0);
}

TEST_F(RecordTest, FailuresThatCarryNoCodeStillComeBackAsFailures) {
  // The client's call fails but leaves its error variables at 0: the layer
  // must not hand that back as a success.
  ASSERT_EQ(table_.DBSetIndex(1), 0);
  vkt::isam::FailNthIsamCall(1, 0, 0);  // the key transformation
  EXPECT_NE(table_.DBGetRecord(CodeKey("C001").bytes), 0);
  EXPECT_TRUE(BufferIsEmpty());
  ASSERT_EQ(table_.DBGetRecord(CodeKey("C003").bytes), 0);
  int32_t pos = -1;
  vkt::isam::FailNthIsamCall(3, 0, 0);  // key length, current key, first key
  EXPECT_NE(table_.DBGetPosition(&pos, nullptr, 0), 0);
  EXPECT_EQ(pos, 0);
  vkt::isam::FailNthIsamCall(4, 0, 0);  // ... the count
  EXPECT_NE(table_.DBGetPosition(&pos, nullptr, 0), 0);
  EXPECT_EQ(pos, 0);
  vkt::isam::FailNthIsamCall(3, 0, 0);  // key length, current key, key at distance
  EXPECT_NE(table_.DBSkip(1), 0);
  EXPECT_NE(DBGetUerrCod(), 0);
  EXPECT_EQ(table_.DBGetPosition(&pos, nullptr, 0), 0);
  EXPECT_EQ(pos, 3);
}

TEST_F(RecordTest, SetRecordAndPartialCopiesTakeTheShorterLength) {
  ASSERT_EQ(table_.DBSetIndex(1), 0);
  ASSERT_EQ(table_.DBGetRecord(CodeKey("C002").bytes), 0);
  const int32_t at = table_.DBCurrentFileOffset(true);
  ASSERT_GT(at, 0);
  // A caller's image of 9 bytes: only those are copied into the buffer.
  auto head = std::make_unique<char[]>(9);
  std::memcpy(head.get(), "C002    ", 9);
  EXPECT_EQ(table_.DBSetRecord(at, head.get(), 9), 0);
  EXPECT_EQ(Code(), "C002");
  EXPECT_EQ(VKT_FIELD(buf_, ragione), "");  // the rest cleared, not read past the 9 bytes
  EXPECT_EQ(table_.DBSetRecord(at, nullptr, 0), 0);  // the stored image becomes current
  EXPECT_TRUE(BufferIsEmpty());
  EXPECT_EQ(table_.DBReReadRecord(), 0);
  EXPECT_EQ(VKT_FIELD(buf_, ragione), "Bianchi Carla");

  // A partial rewrite of the first 50 bytes keeps the rest of the record;
  // the stamp, which writes into a whole record, leaves such an image alone.
  auto part = std::make_unique<char[]>(50);
  std::memcpy(part.get(), &buf_, 50);
  std::memcpy(part.get() + 9, "BIANCHI", 7);
  EXPECT_EQ(table_.DBReWritePartialRecord(part.get(), 50), 0);
  EXPECT_EQ(g_stamps, 0);
  ASSERT_EQ(table_.DBGetRecord(CodeKey("C002").bytes), 0);
  EXPECT_EQ(VKT_FIELD(buf_, ragione), "BIANCHI Carla");
  EXPECT_EQ(VKT_FIELD(buf_, citta), "Palermo");
  EXPECT_EQ(table_.DBReWritePartialRecord(part.get(), -1), CT_BAD_PARAMETER);
}

TEST_F(RecordTest, VariableLengthRecordsKeepTheirTail) {
  ClientiTable vt(Path("note"));
  vt.ifil.dnumidx = 1;
  Cliente vbuf{};
  CDBCtree t(8, &vt.ifil, &vbuf, PutStandard, nullptr, nullptr, 1);
  ASSERT_EQ(t.DBOpen(0), 0);
  EXPECT_EQ(vt.ifil.dfilmod, 129 + CT_MODE_VLENGTH);
  EXPECT_EQ(vt.ifil.ifilmod, 129);
  std::vector<char> image(sizeof(Cliente) + 300, 'n');
  Cliente head = MakeCliente("V001", "Con note", "", "", "", 0);
  std::memcpy(image.data(), &head, sizeof head);
  EXPECT_EQ(t.DBAddVRecord(image.data(), static_cast<int32_t>(image.size())), 0);
  EXPECT_EQ(std::memcmp(&vbuf, &head, sizeof head), 0);  // the fixed part, no more
  ASSERT_EQ(t.DBSetIndex(1), 0);
  ASSERT_EQ(t.DBGetRecord(CodeKey("V001").bytes), 0);
  EXPECT_EQ(DBVRecordLength(vt.ifil.tfilno), static_cast<int32_t>(image.size()));
  std::vector<char> back(image.size() + 10);
  EXPECT_EQ(t.DBReReadVRecord(back.data(), static_cast<int32_t>(back.size())), 0);
  EXPECT_EQ(std::memcmp(back.data(), image.data(), image.size()), 0);
  image.back() = 'm';
  EXPECT_EQ(t.DBReWriteVRecord(image.data(), static_cast<int32_t>(image.size())), 0);
  EXPECT_EQ(t.DBReReadVRecord(back.data(), static_cast<int32_t>(back.size())), 0);
  EXPECT_EQ(back[image.size() - 1], 'm');
  EXPECT_EQ(t.DBDeleteVRecord(), 0);
  EXPECT_EQ(t.DBGetRecord(CodeKey("V001").bytes), CT_NOT_FOUND);
  EXPECT_EQ(t.DBCloseIFile(), 0);
}

TEST_F(RecordTest, BatchesTransformTheirKeyExceptWhenEndingOrContinuing) {
  ASSERT_EQ(table_.DBSetIndex(2), 0);
  unsigned char request[80] = {};
  const int16_t siglen = 7;
  std::memcpy(request + 12, &siglen, 2);
  std::memcpy(request + 14, "bianchi", 7);
  std::memset(request + 21, ' ', 33);
  std::vector<char> out(4 * sizeof(Cliente), 'q');
  EXPECT_EQ(table_.DBDoBatch(request, out.data(), static_cast<int32_t>(out.size()), BAT_GET), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(request) + 14, 7), "BIANCHI");
  int32_t total = 0, returned = 0;
  std::memcpy(&total, request, 4);
  std::memcpy(&returned, request + 8, 4);
  EXPECT_EQ(total, 2);
  EXPECT_EQ(returned, 2);
  EXPECT_EQ(std::string(out.data(), 4), "C002");
  EXPECT_EQ(std::string(out.data() + sizeof(Cliente), 4), "C004");
  EXPECT_EQ(out[2 * sizeof(Cliente)], 0);  // cleared beyond what came back

  std::memcpy(request + 14, "lower", 5);
  EXPECT_EQ(table_.DBDoBatch(request, nullptr, 0, BAT_CAN), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(request) + 14, 5), "lower");
}

}  // namespace
}  // namespace vkt::db::test
