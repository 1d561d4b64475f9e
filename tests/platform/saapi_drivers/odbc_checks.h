// Checks the ODBC driver passes on every ODBC server.
#ifndef VKT_TESTS_SAAPI_DRIVERS_ODBC_CHECKS_H_
#define VKT_TESTS_SAAPI_DRIVERS_ODBC_CHECKS_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/saapi_drivers/server_env.h"
#include "saapi/saapi.h"

namespace vkt::testing {

inline SAException Catch(const std::function<void()>& f) {
  try {
    f();
  } catch (const SAException& e) {
    return e;
  }
  ADD_FAILURE() << "no SAException thrown";
  return SAException(SA_No_Error, 0, 0, "");
}

inline std::string One(SAConnection* c, const std::string& sql) {
  SACommand q(c, sql.c_str());
  q.Execute();
  if (!q.FetchNext()) return "<none>";
  return q[1].asString().str();
}

inline void Exec(SAConnection* c, const std::string& sql) {
  SACommand q(c, sql.c_str());
  q.Execute();
}

// The checks both ODBC servers pass.
inline void RoundTripTypes(SAConnection* con, const char* create) {
  Exec(con, create);
  SACommand ins(con, "INSERT INTO types VALUES (:1, :2, :3, :4, :5, :6)");
  ins.Param(1).setAsLong(-2147483647 - 1);
  ins.Param(2).setAsDouble(2.5e-3);
  ins.Param(3).setAsNumeric("12345.678");
  ins.Param(4).setAsString("Citt\xE0 perch\xE9 \x80 O'Hara");
  ins.Param(5).setAsDateTime(SADateTime(2024, 2, 29, 23, 59, 58));
  ins.Param(6).setAsDateTime(SADateTime(2000, 1, 1, 0, 0, 0));
  ins.Execute();
  for (int k = 1; k <= 6; ++k) ins.Param(k).setAsNull();
  ins.Execute();
  SACommand sel(con, "SELECT i, f, n, t, ts, d FROM types WHERE i IS NOT NULL");
  sel.Execute();
  ASSERT_TRUE(sel.FetchNext());
  EXPECT_EQ(sel.Field("I").asLong(), -2147483647 - 1);
  EXPECT_EQ(sel.Field("f").asDouble(), 2.5e-3);
  EXPECT_DOUBLE_EQ(sel.Field("n").asDouble(), 12345.678);
  EXPECT_EQ(sel.Field("t").asString(), "Citt\xE0 perch\xE9 \x80 O'Hara");
  EXPECT_EQ(sel.Field("ts").asDateTime(), SADateTime(2024, 2, 29, 23, 59, 58));
  EXPECT_DOUBLE_EQ(static_cast<double>(sel.Field("d").asDateTime()), 36526.0);
  SACommand nul(con, "SELECT i, t, d FROM types WHERE i IS NULL");
  nul.Execute();
  ASSERT_TRUE(nul.FetchNext());
  EXPECT_TRUE(nul.Field("i").isNull());
  EXPECT_EQ(nul.Field("i").asLong(), 0);
  EXPECT_EQ(nul.Field("t").asString(), "");
  EXPECT_EQ(nul.Field("d").asDateTime(), SADateTime());
}

inline void CommitAndRollback(SAConnection* con, SAConnection* other) {
  Exec(con, "CREATE TABLE tx (k INTEGER PRIMARY KEY)");
  con->setAutoCommit(SA_AutoCommitOff);
  con->setIsolationLevel(SA_ReadCommitted);
  Exec(con, "INSERT INTO tx VALUES (1)");
  con->Rollback();
  Exec(con, "INSERT INTO tx VALUES (2)");
  con->Commit();
  con->setAutoCommit(SA_AutoCommitOn);
  EXPECT_EQ(One(other, "SELECT count(*) FROM tx"), "1");
  EXPECT_EQ(One(other, "SELECT max(k) FROM tx"), "2");
  SAException e = Catch([&] { Exec(con, "INSERT INTO tx VALUES (2)"); });
  EXPECT_EQ(e.ErrClass(), SA_DBMS_API_Error);
  EXPECT_EQ(e.ErrText().Left(2), "23") << e.ErrText().str();  // integrity class
}

}  // namespace vkt::testing

#endif  // VKT_TESTS_SAAPI_DRIVERS_ODBC_CHECKS_H_
