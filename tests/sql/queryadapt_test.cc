// Query adaptation: row limits in each server's syntax, the pseudo-schema
// resolved per layout, and names that would break the SQL refused.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "frame/vktapp.h"
#include "sql/vktpostgresql.h"
#include "win/services.h"

namespace {

class QueryAdapt : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&par_, 0, sizeof par_);
    std::strcpy(par_.app_name, "MIRTO");
    std::strcpy(par_.archive, "ARC");
    par_.company = &company_;
    VKTDlgInitialize(&par_);
  }
  void TearDown() override { vkt::LibraryLoad(); }
  std::string Adapt(int kind, const char* q, int32_t limit = 0, int32_t offset = 0) {
    return pg_.QueryAdapt(kind, q, limit, offset, 0).str();
  }
  VKTAPPPARAM par_;
  int32_t company_ = 7;
  CVKTPostgreSQL pg_{1};
  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
};

TEST_F(QueryAdapt, CompanyLayoutResolvesSharedAndCompanyTables) {
  EXPECT_EQ(Adapt(1, "  \n\tSELECT a FROM admin.clienti1"), "SELECT a FROM clienti1");
  EXPECT_EQ(Adapt(3, "SELECT a FROM admin.clienti1"), "SELECT a FROM arc.clienti1");
  EXPECT_EQ(Adapt(4, "SELECT a FROM admin.clienti1"), "SELECT a FROM arc.clienti1");
  EXPECT_EQ(Adapt(1, "SELECT * FROM admin.moviment"), "SELECT * FROM arc00007.moviment");
  EXPECT_EQ(Adapt(2, "SELECT * FROM admin.vuotimov JOIN admin.vuoti USING (k)"),
            "SELECT * FROM arc00007.vuotimov JOIN vuoti USING (k)");
  EXPECT_EQ(Adapt(3, "SELECT * FROM admin.vuotimov, admin.vuoti"),
            "SELECT * FROM arc00007.vuotimov, arc.vuoti");
  // Listed names also take longer names that begin with them, as intended.
  EXPECT_EQ(Adapt(3, "SELECT * FROM admin.zone2"), "SELECT * FROM arc.zone2");
  EXPECT_EQ(Adapt(1, "a\t=b"), "a =b");
  EXPECT_EQ(Adapt(1, "a\t= b"), "a = b");
  company_ = 12;
  EXPECT_EQ(Adapt(1, "x admin.y"), "x arc00012.y");
  EXPECT_EQ(pg_.QueryAdapt("SELECT 1 FROM admin.conti", 0, 0, 0), "SELECT 1 FROM conti");
}

TEST_F(QueryAdapt, RowLimitsInEachDialect) {
  EXPECT_EQ(Adapt(0, "select x from t", 10, 20), "select TOP 10 SKIP 20 x from t");
  EXPECT_EQ(Adapt(0, "SELECT x FROM t", 0, 5), "SELECT SKIP 5 x FROM t");
  EXPECT_EQ(Adapt(0, "UPDATE t SET a = 1", 10, 0), "UPDATE t SET a = 1");
  EXPECT_EQ(Adapt(0, "SELECT * FROM admin.t"), "SELECT * FROM admin.t");  // never rewritten
  EXPECT_EQ(Adapt(0, "SELECT * FROM admin.t", 3, 0), "SELECT TOP 3 * FROM admin.t");
  EXPECT_EQ(Adapt(1, "SELECT * FROM t", 10, 0), "SELECT * FROM t LIMIT 10");
  EXPECT_EQ(Adapt(3, "SELECT * FROM t", 10, 5), "SELECT * FROM t LIMIT 10 OFFSET 5");
  EXPECT_EQ(Adapt(5, "SELECT * FROM t", -1, 5), "SELECT * FROM t OFFSET 5");
  // The limit goes before a final ";" and after a final "--" comment line.
  EXPECT_EQ(Adapt(1, "SELECT * FROM t;", 10, 0), "SELECT * FROM t LIMIT 10;");
  EXPECT_EQ(Adapt(1, "SELECT * FROM t ;  \n", 10, 0), "SELECT * FROM t  LIMIT 10;  \n");
  EXPECT_EQ(Adapt(1, "SELECT * FROM t -- all rows", 10, 0),
            "SELECT * FROM t -- all rows\n LIMIT 10");
  EXPECT_EQ(Adapt(1, "SELECT * FROM t; -- done", 10, 0), "SELECT * FROM t LIMIT 10; -- done");
  // Dashes inside quotes are no comment.
  EXPECT_EQ(Adapt(1, "SELECT '--' FROM t", 10, 0), "SELECT '--' FROM t LIMIT 10");
  EXPECT_EQ(Adapt(1, "SELECT a -- x\nFROM t", 10, 0), "SELECT a -- x\nFROM t LIMIT 10");
}

TEST_F(QueryAdapt, OtherApplicationsUseTheirSchemaName) {
  std::strcpy(par_.app_name, "VERDEX");
  EXPECT_EQ(Adapt(1, "SELECT * FROM admin.clienti1 WHERE s = nextval('admin_seq')"),
            "SELECT * FROM clienti1 WHERE s = nextval('seq')");
  std::strcpy(par_.sql_schema, "admin");
  EXPECT_EQ(Adapt(1, "SELECT * FROM admin.clienti1, admin_x"), "SELECT * FROM admin.clienti1, admin_x");
  std::strcpy(par_.sql_schema, "verdex");
  EXPECT_EQ(Adapt(2, "SELECT * FROM admin.t, admin_s, administrator"),
            "SELECT * FROM verdex.t, verdex_s, administrator");
  // A schema whose own name holds "admin_" is written once, not rewritten again.
  std::strcpy(par_.sql_schema, "admin_x");
  EXPECT_EQ(Adapt(1, "admin.t"), "admin_x.t");
  // The company layout is chosen by exact name.
  std::strcpy(par_.app_name, "mirto");
  std::strcpy(par_.sql_schema, "");
  EXPECT_EQ(Adapt(1, "admin.moviment"), "moviment");
}

TEST_F(QueryAdapt, NamesThatCouldBreakTheSqlAreRefused) {
  // The user exception's text, its line number put as "#": what was wrong,
  // with the value as typed, and where.
  auto refusal = [&](const std::function<void()>& f) -> std::string {
    try {
      f();
    } catch (const SAException& e) {
      EXPECT_EQ(e.ErrClass(), SA_UserGenerated_Error);
      EXPECT_EQ(e.ErrNativeCode(), 0);
      std::string text = e.ErrText().str();
      const size_t line = text.find("\n\nLine\t: ");
      if (line != std::string::npos) {
        const size_t digits = line + 9;
        const size_t end = text.find_first_not_of("0123456789", digits);
        if (end != std::string::npos && end > digits) text.replace(digits, end - digits, "#");
      }
      return text;
    }
    return "(accepted)";
  };
  auto where = [](const std::string& what) {
    return what + " (ammessi solo lettere, cifre e _)\n\nFile\t: VKTPostgreSQL.cpp\n\nLine\t: #"
                  "\n\nFunc\t: CVKTPostgreSQL::QueryAdapt";
  };
  std::strcpy(par_.archive, "a;DROP");
  EXPECT_EQ(refusal([&] { Adapt(1, "SELECT * FROM admin.moviment"); }),
            where("Codice archivio non valido per SQL: \"a;DROP\""));
  std::strcpy(par_.archive, "ar ch");
  EXPECT_EQ(refusal([&] { Adapt(3, "SELECT * FROM admin.clienti1"); }),
            where("Codice archivio non valido per SQL: \"ar ch\""));
  // Nothing to write, nothing to refuse.
  EXPECT_EQ(Adapt(1, "SELECT 1"), "SELECT 1");
  std::strcpy(par_.app_name, "VERDEX");
  std::strcpy(par_.sql_schema, "x.y");
  EXPECT_EQ(refusal([&] { Adapt(1, "SELECT * FROM admin.t"); }),
            where("Schema SQL non valido per SQL: \"x.y\""));
  std::strcpy(par_.sql_schema, "s\"--");
  EXPECT_EQ(refusal([&] { Adapt(1, "SELECT * FROM admin.t"); }),
            where("Schema SQL non valido per SQL: \"s\"--\""));
  // A plain schema passes; the refusal came from the name alone.
  std::strcpy(par_.sql_schema, "s_1");
  EXPECT_EQ(Adapt(1, "SELECT * FROM admin.t"), "SELECT * FROM s_1.t");
  EXPECT_TRUE(vkt::sql::IsPlainIdentifier("Arc_01"));
  EXPECT_FALSE(vkt::sql::IsPlainIdentifier(""));
  EXPECT_FALSE(vkt::sql::IsPlainIdentifier("ar\xE8"));
  EXPECT_FALSE(vkt::sql::IsPlainIdentifier(nullptr));
}

}  // namespace
