// DBReadSql on a real ISAM table (its schema stored in the data file) and
// rows from the embedded SQLite server.
#include "sql/sqlrecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame/vktapp.h"
#include "isam/ctree.h"
#include "isam/isam_testing.h"
#include "platform/saapi_drivers/server_env.h"
#include "test_util.h"
#include "win/services.h"

namespace {

#pragma pack(push, 1)
struct Row {
  char flag;       //  0  type 8
  char ch;         //  1  type 16
  char uc;         //  2  type 24
  int16_t s16;     //  3  type 33
  int32_t i32;     //  5  type 51
  int32_t day;     //  9  type 75
  int32_t time;    // 13  type 83
  float f;         // 17  type 91
  double d;        // 21  type 103
  double ts;       // 29  type 124
  char text[11];   // 37  type 144
};
#pragma pack(pop)
static_assert(sizeof(Row) == 48);

constexpr const char* kSelect =
    "SELECT 2 AS flag, 'Zeta' AS ch, 1 AS uc, -123 AS s16, 123456 AS i32, '2000-01-01' AS day, "
    "'10:30:15' AS time, 1.5 AS f, 2.25 AS d, '2024-02-29 12:00:00' AS ts, "
    "'  ABCDEFGHIJKLMN  ' AS text";

int16_t g_callback_calls = 0;
int16_t ReadCallback(void* extra) {
  ++g_callback_calls;
  return *static_cast<int16_t*>(extra);
}

class ReadSql : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&par_, 0, sizeof par_);
    std::strcpy(par_.app_name, "MIRTO");
    par_.date_base = &date_base_;
    VKTDlgInitialize(&par_);
    ASSERT_EQ(InitISAMXtd(15, 64, 16, 15, 1, "", "", ""), 0);
    stem_ = dir_ / "righe";
    ifil_.pfilnam = stem_.data();
    ifil_.dfilno = -1;
    ifil_.dreclen = sizeof(Row);
    ifil_.dfilmod = CT_MODE_SHARED;
    ifil_.ifilmod = CT_MODE_SHARED;
    ifil_.dnumidx = 0;
    ASSERT_EQ(CreateIFileXtd(&ifil_, nullptr, nullptr, 0, nullptr, nullptr), 0);
    con_.Connect(":memory:", "", "", SA_SQLite_Client);
    cmd_.setConnection(&con_);
  }
  void TearDown() override {
    vkt::isam::ResetIsamForTesting();
    vkt::LibraryLoad();
  }

  // Stores the schema: names, types and lengths.
  void Store(const std::vector<std::pair<const char*, std::pair<uint16_t, uint16_t>>>& fields) {
    names_.clear();
    for (const auto& f : fields) names_.push_back(f.first);
    std::vector<DATOBJ> doda;
    for (size_t i = 0; i < fields.size(); ++i)
      doda.push_back(DATOBJ{names_[i].data(), nullptr, fields[i].second.first,
                            fields[i].second.second, {}});
    ASSERT_EQ(PutDODA(ifil_.tfilno, doda.data(), static_cast<uint16_t>(doda.size())), 0);
  }
  void StoreRowSchema(uint16_t text_length = 11) {
    Store({{"flag", {8, 1}},  {"ch", {16, 1}},   {"uc", {24, 1}}, {"s16", {33, 2}},
           {"i32", {51, 4}},  {"day", {75, 4}},  {"time", {83, 4}}, {"f", {91, 4}},
           {"d", {103, 8}},   {"ts", {124, 8}},  {"text", {144, text_length}}});
  }
  void Select(const char* sql) {
    cmd_.setCommandText(sql);
    cmd_.Execute();
    ASSERT_TRUE(cmd_.FetchNext());
  }

  VKTAPPPARAM par_;
  int date_base_ = 0;
  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
  vkt::testing::TempDir dir_{"sqlrecord"};
  std::string stem_;
  std::vector<std::string> names_;
  ifil4 ifil_{};
  SAConnection con_;
  SACommand cmd_;
};

TEST_F(ReadSql, EveryTypeIsWrittenAsTheIsamRecordHoldsIt) {
  StoreRowSchema();
  Select(kSelect);
  Row r;
  std::memset(&r, 0x5A, sizeof r);
  CDBCtree table(1, &ifil_, &r, nullptr, ReadCallback, nullptr, 0);
  EXPECT_EQ(DBReadSql(table, cmd_, &r, nullptr), 0);
  EXPECT_EQ(r.flag, 0);  // only 1 is true
  EXPECT_EQ(r.ch, 'Z');
  EXPECT_EQ(r.uc, 1);
  EXPECT_EQ(+r.s16, -123);
  EXPECT_EQ(+r.i32, 123456);
  EXPECT_EQ(+r.day, 2451545);
  EXPECT_EQ(+r.time, 37815);
  EXPECT_EQ(+r.f, 1.5f);
  EXPECT_EQ(+r.d, 2.25);
  EXPECT_EQ(+r.ts, 45351.5);
  EXPECT_EQ(std::string(r.text, sizeof r.text), std::string("ABCDEFGHIJ\0", 11));
  EXPECT_EQ(g_callback_calls, 0);  // no extra: no callback

  // The short day count, a true flag, an impossible date and empty texts.
  date_base_ = 1;
  Select("SELECT 1 AS flag, '' AS ch, 0 AS uc, 0 AS s16, 0 AS i32, '2000-01-01' AS day, "
         "NULL AS time, 0 AS f, 0 AS d, NULL AS ts, '' AS text");
  int16_t answer = 77;
  EXPECT_EQ(table.DBReadSql(cmd_, &r, &answer), 77);
  EXPECT_EQ(g_callback_calls, 1);
  EXPECT_EQ(r.flag, 1);
  EXPECT_EQ(r.ch, 0);
  EXPECT_EQ(+r.day, 109514);
  EXPECT_EQ(+r.ts, 0.0);
  EXPECT_EQ(std::string(r.text, sizeof r.text), std::string(11, '\0'));
  Select("SELECT 0 AS flag, 'a' AS ch, 0 AS uc, 0 AS s16, 0 AS i32, NULL AS day, "
         "'00:00:01' AS time, 0 AS f, 0 AS d, NULL AS ts, 'x' AS text");
  EXPECT_EQ(DBReadSql(table, cmd_, &r, nullptr), 0);
  EXPECT_EQ(+r.day, 0);
  EXPECT_EQ(+r.time, 1);
}

TEST_F(ReadSql, NothingIsWrittenPastTheRecordAndEmptyFieldsTakeNothing) {
  StoreRowSchema();
  Select(kSelect);
  // The host's description says 40 bytes: the text field has 3 left.
  std::vector<char> buf(64, '\x7E');
  ifil4 shorter = ifil_;
  shorter.dreclen = 40;
  CDBCtree table(1, &shorter, buf.data(), nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(DBReadSql(table, cmd_, buf.data(), nullptr), 0);
  EXPECT_EQ(std::string(buf.data() + 37, 3), "ABC");
  for (size_t i = 40; i < buf.size(); ++i) ASSERT_EQ(buf[i], '\x7E') << i;
  // A record shorter than the first fields: integers are cut too.
  shorter.dreclen = 4;
  std::fill(buf.begin(), buf.end(), '\x7E');
  EXPECT_EQ(DBReadSql(table, cmd_, buf.data(), nullptr), 0);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], 'Z');
  for (size_t i = 4; i < buf.size(); ++i) ASSERT_EQ(buf[i], '\x7E') << i;

  // A text field of length 0 writes nothing and moves nothing.
  Store({{"text", {144, 0}}, {"i32", {51, 4}}});
  std::fill(buf.begin(), buf.end(), '\x7E');
  shorter.dreclen = 8;
  EXPECT_EQ(DBReadSql(table, cmd_, buf.data(), nullptr), 0);
  int32_t v;
  std::memcpy(&v, buf.data(), 4);
  EXPECT_EQ(v, 123456);
  for (size_t i = 8; i < buf.size(); ++i) ASSERT_EQ(buf[i], '\x7E') << i;
}

TEST_F(ReadSql, FailuresAreStatusesOrTheServersException) {
  Row r;
  CDBCtree table(1, &ifil_, &r, nullptr, nullptr, nullptr, 0);
  Select(kSelect);
  // No schema stored: the client's status, never 0.
  EXPECT_EQ(DBReadSql(table, cmd_, &r, nullptr), CT_NOT_FOUND);
  // A client that fails without a code still fails.
  vkt::isam::FailNthIsamCall(1, 0, 0);
  EXPECT_NE(DBReadSql(table, cmd_, &r, nullptr), 0);
  vkt::isam::FailNthIsamCall(0, 0, 0);

  // An unknown type stops the copy after the fields before it.
  Store({{"i32", {51, 4}}, {"odd", {41, 4}}, {"s16", {33, 2}}});
  EXPECT_EQ(DBReadSql(table, cmd_, &r, nullptr), 120);
  int32_t first;
  std::memcpy(&first, &r, 4);
  EXPECT_EQ(first, 123456);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Tipo campo odd non riconosciuto");
  EXPECT_EQ(fake_.transcript()[0].type, MB_OK | MB_ICONERROR);
  EXPECT_EQ(std::string(buf_stampa), "Tipo campo odd non riconosciuto");
  // With a log file the message goes there instead.
  vkt::testing::TempDir logs("sqlrecord-log");
  par_.log_file = std::fopen((logs / "log.txt").c_str(), "w+");
  Store({{"x59", {59, 4}}});
  EXPECT_EQ(DBReadSql(table, cmd_, &r, nullptr), 120);
  std::fclose(par_.log_file);
  par_.log_file = nullptr;
  EXPECT_EQ(fake_.transcript().size(), 1u);
  EXPECT_NE(vkt::testing::ReadFile(logs / "log.txt").find("Tipo campo x59 non riconosciuto"),
            std::string::npos);

  // A column the row does not have.
  Store({{"i32", {51, 4}}, {"missing", {51, 4}}});
  try {
    DBReadSql(table, cmd_, &r, nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const SAException& e) {
    EXPECT_EQ(e.ErrClass(), SA_Library_Error);
    EXPECT_NE(e.ErrText().Find("missing"), -1);
  }
  // A value that is no number.
  Store({{"ch", {51, 4}}});
  EXPECT_THROW(DBReadSql(table, cmd_, &r, nullptr), SAException);
}

// Each failure sets the three error variables afresh, as the record layer's
// failures do; a read that succeeds leaves them clear.
TEST_F(ReadSql, FailuresSetTheErrorVariablesAndASuccessClearsThem) {
  Row r;
  CDBCtree table(1, &ifil_, &r, nullptr, nullptr, nullptr, 0);
  Select(kSelect);
  StoreRowSchema();
  auto stale = [] { isam_err = uerr_cod = sysio_cod = 77; };
  auto errors = [] { return std::vector<int>{isam_err, uerr_cod, sysio_cod}; };

  stale();
  EXPECT_EQ(DBReadSql(table, cmd_, nullptr, nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(errors(), (std::vector<int>{CT_BAD_PARAMETER, CT_BAD_PARAMETER, 0}));
  CDBCtree no_table(1, nullptr, &r, nullptr, nullptr, nullptr, 0);
  stale();
  EXPECT_EQ(DBReadSql(no_table, cmd_, &r, nullptr), CT_BAD_PARAMETER);
  EXPECT_EQ(errors(), (std::vector<int>{CT_BAD_PARAMETER, CT_BAD_PARAMETER, 0}));

  stale();
  ASSERT_EQ(DBReadSql(table, cmd_, &r, nullptr), 0);
  EXPECT_EQ(errors(), (std::vector<int>{0, 0, 0}));
  int32_t i32 = 0;
  std::memcpy(&i32, &r.i32, sizeof i32);  // packed: no reference to it
  EXPECT_EQ(i32, 123456);

  // The client failing without a code: the layer's own status, set.
  stale();
  vkt::isam::FailNthIsamCall(1, 0, 0);
  EXPECT_EQ(DBReadSql(table, cmd_, &r, nullptr), 120);
  vkt::isam::FailNthIsamCall(0, 0, 0);
  EXPECT_EQ(errors(), (std::vector<int>{120, 120, 0}));
  // The client's own code stays as the client set it.
  vkt::isam::FailNthIsamCall(1, CT_READ_ERROR, 5);
  EXPECT_EQ(DBReadSql(table, cmd_, &r, nullptr), CT_READ_ERROR);
  vkt::isam::FailNthIsamCall(0, 0, 0);
  EXPECT_EQ(errors(), (std::vector<int>{CT_READ_ERROR, CT_READ_ERROR, 5}));

  // A type the copy does not know.
  Store({{"i32", {51, 4}}, {"odd", {41, 4}}});
  stale();
  EXPECT_EQ(DBReadSql(table, cmd_, &r, nullptr), 120);
  EXPECT_EQ(errors(), (std::vector<int>{120, 120, 0}));
  // And clear again after a good read, with the host's callback answering.
  StoreRowSchema();
  int16_t answer = 0;
  CDBCtree with_callback(1, &ifil_, &r, nullptr, ReadCallback, nullptr, 0);
  stale();
  EXPECT_EQ(DBReadSql(with_callback, cmd_, &r, &answer), 0);
  EXPECT_EQ(errors(), (std::vector<int>{0, 0, 0}));
}

// The server's own types: boolean, bpchar with its blanks, date, time,
// real, timestamp.
TEST_F(ReadSql, PostgresRowsGiveTheSameBytes) {
  vkt::testing::ServerEnv env = vkt::testing::PgEnv();
  VKT_REQUIRE_PG(env);
  StoreRowSchema();
  SAConnection pg;
  pg.Connect(SAString("host=" + env.host + " port=" + std::to_string(env.port) + " dbname=postgres"),
             SAString(env.user), SAString(env.password), SA_PostgreSQL_Client);
  SACommand q(&pg,
              "SELECT true AS flag, 'Z'::char(1) AS ch, true AS uc, (-123)::smallint AS s16, "
              "123456 AS i32, DATE '2000-01-01' AS day, TIME '10:30:15' AS time, 1.5::real AS f, "
              "2.25::float8 AS d, TIMESTAMP '2024-02-29 12:00:00' AS ts, "
              "'  ABCDEFGHIJKLMN  '::char(18) AS text");
  q.Execute();
  ASSERT_TRUE(q.FetchNext());
  Row r;
  CDBCtree table(1, &ifil_, &r, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(DBReadSql(table, q, &r, nullptr), 0);
  EXPECT_EQ(r.flag, 1);
  EXPECT_EQ(r.ch, 'Z');
  EXPECT_EQ(r.uc, 1);
  EXPECT_EQ(+r.s16, -123);
  EXPECT_EQ(+r.i32, 123456);
  EXPECT_EQ(+r.day, 2451545);
  EXPECT_EQ(+r.time, 37815);
  EXPECT_EQ(+r.f, 1.5f);
  EXPECT_EQ(+r.d, 2.25);
  EXPECT_EQ(+r.ts, 45351.5);
  EXPECT_EQ(std::string(r.text, sizeof r.text), std::string("ABCDEFGHIJ\0", 11));
}

}  // namespace
