// DBWrite: rights, confirmation, transaction, lock retries; DBRead.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "db/dbctree.h"
#include "win/oledatetime.h"
#include "db/db_fixture.h"
#include "isam/ctree.h"
#include "isam/isam_testing.h"
#include "win/services.h"
#include "win/winconst.h"

namespace vkt::db::test {
namespace {

class WriteTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    InitSession();
    OpenClienti(t_, table_);
    AddClienti(table_, SomeClienti());
    fake_.ClearTranscript();
  }

  // No transaction is left open: a new one can begin.
  static bool NoTransactionOpen() {
    if (Begin(50) == 0) return false;
    return Abort() == 0;
  }
  bool Exists(const char* codice) {
    CodeKey k(codice);
    table_.DBSetIndex(1);
    return table_.DBGetRecord(k.bytes) == 0;
  }

  ClientiTable t_{Path("clienti")};
  Cliente buf_{};
  CDBCtree table_{1, &t_.ifil, &buf_, PutStandard, nullptr, StampCliente, 0};
};

int16_t g_calls = 0;
int16_t g_answer = 0;
int16_t Scripted(int, void*, void*) {
  ++g_calls;
  return g_answer;
}

TEST_F(WriteTest, AddRewriteAndDeleteRunInTransactionsAndStampTheUser) {
  Cliente c = MakeCliente("C010", "Esposito Gennaro", "SPSGNR60M10F839Q", "07643520567", "Napoli", 500);
  std::strcpy(par_.user, "VERDI");
  EXPECT_EQ(DBWrite(&table_, 0, &c, &table_), 0);
  EXPECT_STREQ(par_.last_user, "VERDI");
  EXPECT_EQ(VKT_FIELD(c, utente), "VERDI");  // stamped through the callback
  EXPECT_EQ(std::memcmp(&buf_, &c, sizeof c), 0);
  EXPECT_TRUE(NoTransactionOpen());

  ASSERT_TRUE(Exists("C010"));
  Cliente edit = buf_;
  edit.fido = 750;
  std::strcpy(par_.user, "NERI");
  EXPECT_EQ(DBWrite(&table_, 1, &edit, &table_), 0);
  ASSERT_TRUE(Exists("C010"));
  EXPECT_EQ(int32_t{buf_.fido}, 750);  // packed: read by value
  EXPECT_EQ(VKT_FIELD(buf_, utente), "NERI");

  // Duplicate key on add: -12, nothing added, nothing left open.
  Cliente dup = MakeCliente("C010", "Altro", "", "", "", 1);
  EXPECT_EQ(DBWrite(&table_, 0, &dup, &table_), DB_DUPLICATE);
  EXPECT_TRUE(NoTransactionOpen());

  fake_.ScriptAnswer(IDYES);
  ASSERT_TRUE(Exists("C010"));
  EXPECT_EQ(DBWrite(&table_, 2, &buf_, &table_), 0);
  EXPECT_FALSE(Exists("C010"));
  EXPECT_EQ(table_.DBNbrOfRecords(), 4);
  EXPECT_EQ(fake_.wait_cursor_depth(), 0);
}

TEST_F(WriteTest, UserLongerThanTheCopyIsCutAtFiftyCharacters) {
  std::memset(par_.user, 'u', 100);
  par_.user[100] = '\0';
  Cliente c = MakeCliente("C020", "X", "", "", "", 0);
  EXPECT_EQ(DBWrite(&table_, 0, &c, &table_), 0);
  EXPECT_EQ(std::string(par_.last_user), std::string(50, 'u'));
}

TEST_F(WriteTest, DeleteIsRefusedWithoutRightsAndWithoutConfirmation) {
  unsigned char forbidden = 1;
  par_.no_delete = &forbidden;
  ASSERT_TRUE(Exists("C001"));
  EXPECT_EQ(DBWrite(&table_, 2, &buf_, &table_), DB_CANCELLED);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Cancellazioni non abilitate per l' utente !");
  EXPECT_EQ(fake_.transcript()[0].type, MB_OK | MB_ICONSTOP);
  EXPECT_EQ(fake_.beeps().size(), 1u);
  EXPECT_TRUE(Exists("C001"));

  forbidden = 0;
  fake_.ScriptAnswer(IDNO);
  ASSERT_TRUE(Exists("C001"));
  EXPECT_EQ(DBWrite(&table_, 2, &buf_, &table_), DB_CANCELLED);
  EXPECT_EQ(fake_.transcript().back().text, "Confermi la cancellazione...");
  EXPECT_TRUE(Exists("C001"));
  // The refusal is silent in DBISAM.
  fake_.ClearTranscript();
  EXPECT_EQ(DBISAM(DB_CANCELLED, "clienti"), DB_CANCELLED);
  EXPECT_TRUE(fake_.transcript().empty());
  EXPECT_TRUE(NoTransactionOpen());
}

TEST_F(WriteTest, LockedEveryTimeGivesUpAfter150AttemptsHalfASecondApart) {
  table_.putCallback = Scripted;
  g_calls = 0;
  g_answer = DB_LOCKED;
  Cliente c = buf_;
  EXPECT_EQ(DBWrite(&table_, 1, &c, &table_), CT_LOCK_RETRIES);
  EXPECT_EQ(DBGetUerrCod(), CT_LOCK_RETRIES);  // read before another call clears it
  EXPECT_EQ(g_calls, 150);
  ASSERT_EQ(fake_.sleeps().size(), 150u);
  for (uint32_t ms : fake_.sleeps()) EXPECT_EQ(ms, 500u);
  EXPECT_EQ(fake_.slept_ms(), 75000u);
  EXPECT_EQ(fake_.wait_cursor_depth(), 0);
  EXPECT_TRUE(NoTransactionOpen());

  for (int16_t lock : {CT_LOCKED, CT_FILE_LOCKED, CT_LOCK_RETRIES}) {
    g_calls = 0;
    g_answer = lock;
    EXPECT_EQ(DBWrite(&table_, 7, &c, &table_), CT_LOCK_RETRIES) << lock;
    EXPECT_EQ(g_calls, 150) << lock;
  }
}

TEST_F(WriteTest, OtherFailuresEndAfterOneAttemptAndAnAbort) {
  table_.putCallback = Scripted;
  g_calls = 0;
  g_answer = CT_DUPLICATE_KEY;
  Cliente c = buf_;
  EXPECT_EQ(DBWrite(&table_, 0, &c, &table_), CT_DUPLICATE_KEY);
  EXPECT_EQ(g_calls, 1);
  EXPECT_TRUE(fake_.sleeps().empty());
  EXPECT_EQ(DBGetUerrCod(), CT_DUPLICATE_KEY);  // read afresh, not the abort's 0
  EXPECT_TRUE(NoTransactionOpen());

  // What the callback wrote before failing is rolled back.
  table_.putCallback = [](int, void* rec, void* t) -> int16_t {
    int16_t s = static_cast<CDBCtree*>(t)->DBAddRecord(rec);
    return s != 0 ? s : int16_t{36};
  };
  Cliente fresh = MakeCliente("C030", "Parziale", "", "", "", 0);
  EXPECT_EQ(DBWrite(&table_, 0, &fresh, &table_), 36);
  EXPECT_FALSE(Exists("C030"));

  table_.putCallback = nullptr;
  EXPECT_EQ(DBWrite(&table_, 0, &c, &table_), 633);
  EXPECT_TRUE(NoTransactionOpen());
}

TEST_F(WriteTest, ANullRecordOrTableIsAStatusNotACrash) {
  EXPECT_EQ(DBWrite(&table_, 0, nullptr, &table_), CT_BAD_PARAMETER);
  EXPECT_EQ(DBWrite(&table_, 1, nullptr, &table_), CT_BAD_PARAMETER);
  Cliente c = MakeCliente("C040", "Senza tabella", "", "", "", 0);
  EXPECT_EQ(DBWrite(&table_, 0, &c, nullptr), CT_BAD_PARAMETER);  // PutStandard needs its table
  EXPECT_EQ(DBWrite(nullptr, 0, &c, &table_), CT_BAD_PARAMETER);
  EXPECT_EQ(PutStandard(0, &c, nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(PutStandard(9, &c, &table_), 0);
  EXPECT_FALSE(Exists("C040"));
  EXPECT_TRUE(NoTransactionOpen());
}

TEST_F(WriteTest, AFailedBeginIsNeverASuccess) {
  Cliente c = MakeCliente("C050", "Nessuna transazione", "", "", "", 0);
  // Begin answers 0 with uerr_cod 0: the write still reports a failure.
  vkt::isam::FailNthIsamCall(1, 0, 0);
  int16_t s = DBWrite(&table_, 0, &c, &table_);
  EXPECT_NE(s, 0);
  EXPECT_EQ(s, CT_NO_TRANSACTION);
  EXPECT_EQ(DBGetUerrCod(), CT_NO_TRANSACTION);
  // With a reason from the client, that reason.
  vkt::isam::FailNthIsamCall(1, CT_FILE_LOCKED, 0);
  EXPECT_EQ(DBWrite(&table_, 0, &c, &table_), CT_FILE_LOCKED);
  EXPECT_FALSE(Exists("C050"));
  EXPECT_EQ(fake_.wait_cursor_depth(), 0);
}

TEST_F(WriteTest, AFailedCommitIsAbortedAndReported) {
  Cliente c = MakeCliente("C060", "Disco pieno", "", "", "", 0);
  // Begin, AddRecord, then the commit fails before doing anything.
  vkt::isam::FailNthIsamCall(3, CT_WRITE_ERROR, 28);
  EXPECT_EQ(DBWrite(&table_, 0, &c, &table_), CT_WRITE_ERROR);
  EXPECT_EQ(DBGetSysIOCod(), 28);
  EXPECT_TRUE(NoTransactionOpen());
  EXPECT_FALSE(Exists("C060"));
}

TEST_F(WriteTest, SchemaAndResourcesAreWrittenByDBWriteItself) {
  std::vector<DATOBJ> schema = ClientiSchema();
  EXPECT_EQ(DBWrite(&table_, 3, schema.data(), nullptr), 0);
  EXPECT_EQ(table_.DBCheckDoda(schema.data()), 0);

  struct {
    uint32_t type;
    uint32_t number;
    char name[24];
    char body[16];
  } res = {0x10000, 1, "listino", "prezzi 2025"};
  int32_t len = sizeof res;
  EXPECT_EQ(DBWrite(&table_, 10, &res, nullptr), CT_BAD_PARAMETER);  // length missing
  EXPECT_EQ(DBWrite(&table_, 10, &res, &len), 0);
  std::strcpy(res.body, "prezzi 2026");
  EXPECT_EQ(DBWrite(&table_, 11, &res, &len), 0);
  char back[sizeof res] = {};
  EXPECT_EQ(GetCtResource(t_.ifil.tfilno, &res, back, sizeof back, CT_RES_TYPNUM), len);
  EXPECT_STREQ(back + 32, "prezzi 2026");
  EXPECT_EQ(DBWrite(&table_, 11, &res, nullptr), CT_BAD_PARAMETER);
}

int16_t g_read_calls = 0;
int16_t ReadHook(void* extra) {
  ++g_read_calls;
  return static_cast<int16_t>(*static_cast<int*>(extra));
}

TEST_F(WriteTest, ReadCopiesTheBufferAndCallsTheHookOnlyWithItsArgument) {
  table_.readCallback = ReadHook;
  ASSERT_TRUE(Exists("C002"));
  fake_.SetNow(int64_t{1738570025} * 1000000);
  Cliente out;
  std::memset(&out, 0x55, sizeof out);
  g_read_calls = 0;
  EXPECT_EQ(DBRead(&table_, &out, nullptr), 0);
  EXPECT_EQ(g_read_calls, 0);
  EXPECT_EQ(std::memcmp(&out, &buf_, sizeof out), 0);
  EXPECT_EQ(VKT_FIELD(out, codice), "C002");
  EXPECT_NEAR(table_.lastRead, COleDateTime(2025, 2, 3, 9, 7, 5), 1e-6);
  int answer = 20010;
  EXPECT_EQ(DBRead(&table_, &out, &answer), 20010);
  EXPECT_EQ(g_read_calls, 1);
  EXPECT_EQ(DBRead(&table_, nullptr, &answer), CT_BAD_PARAMETER);
}

}  // namespace
}  // namespace vkt::db::test
