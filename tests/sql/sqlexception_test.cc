// The library's user exceptions and the display of any SAException.
#include "sql/sqlexception.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "frame/vktapp.h"
#include "win/services.h"
#include "win/winconst.h"

namespace {

SAException Catch(const std::function<void()>& f) {
  try {
    f();
  } catch (const SAException& e) {
    return e;
  }
  ADD_FAILURE() << "no SAException thrown";
  return SAException(SA_No_Error, 0, 0, "");
}

class SqlException : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&par_, 0, sizeof par_);
    VKTDlgInitialize(&par_);
    fake_.SetStringResource(20421, "Chiave duplicata");
    fake_.SetStringResource(20437, "Parametri connessione remota mancanti");
  }
  void TearDown() override { vkt::LibraryLoad(); }
  VKTAPPPARAM par_;
  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
};

TEST_F(SqlException, ApplicationNumbersBecomeLibraryStatusCodes) {
  SAException e = Catch([] { ThrowUserException(20421, "VKTPostgreSQL.cpp", 120, "F::G", nullptr); });
  EXPECT_EQ(e.ErrClass(), SA_UserGenerated_Error);
  EXPECT_EQ(e.ErrNativeCode(), -12);
  EXPECT_EQ(e.ErrText(),
            "Chiave duplicata\n\nFile\t: VKTPostgreSQL.cpp\n\nLine\t: 120\n\nFunc\t: F::G");
  const int pairs[][2] = {{20142, -20}, {20419, -11}, {20420, -13}, {20422, -15}, {20437, 20437}, {-10, -10}};
  for (const auto& p : pairs)
    EXPECT_EQ(Catch([&] { ThrowUserException(p[0], "f", 1, "g", nullptr); }).ErrNativeCode(), p[1]);

  e = Catch([] { ThrowUserException(86, "f", 7, "g", "tabella clienti1"); });
  EXPECT_EQ(e.ErrText(), "E' stato riscontrato un errore di deadlock! - (tabella clienti1)"
                         "\n\nFile\t: f\n\nLine\t: 7\n\nFunc\t: g");
  e = Catch([] { ThrowUserException(-14, "f", 7, "g", nullptr); });
  EXPECT_EQ(e.ErrText().Left(33), "Operazione annullata dall'utente!");
  // Null places print empty rather than crash.
  e = Catch([] { ThrowUserException(20437, nullptr, 3, nullptr, nullptr); });
  EXPECT_EQ(e.ErrText(), "Parametri connessione remota mancanti\n\nFile\t: \n\nLine\t: 3\n\nFunc\t: ");
  e = Catch([] { ThrowUserException("Savepoint name not valid!", "f", 9, "h", nullptr); });
  EXPECT_EQ(e.ErrNativeCode(), 0);
  EXPECT_EQ(e.ErrText(), "Savepoint name not valid!\n\nFile\t: f\n\nLine\t: 9\n\nFunc\t: h");
  // A "%" in the message is text, not a format.
  e = Catch([] { ThrowUserException("100% %s", "f", 1, "g", "%d"); });
  EXPECT_EQ(e.ErrText().Left(15), "100% %s - (%d)\n");
}

TEST_F(SqlException, DisplayTextFollowsTheErrorClass) {
  SAException server(SA_DBMS_API_Error, 1062, -1, "Duplicate entry");
  EXPECT_EQ(vkt::sql::ExceptionDisplayText(server, "W", false),
            "SQL Error\n\nNative Err\t: 1062\n\nDuplicate entry\n\nW");
  SAException lib(SA_Library_Error, -1, 14, "bad");
  EXPECT_EQ(vkt::sql::ExceptionDisplayText(lib, nullptr, false), "SQLApi Error\n\nErr Pos\t: 14\n\nbad\n\n");
  SAException user(SA_UserGenerated_Error, -12, 5, "dup");
  EXPECT_EQ(vkt::sql::ExceptionDisplayText(user, "x", false), "User Error\n\nNative Err\t: -12\n\ndup\n\nx");
  EXPECT_EQ(vkt::sql::ExceptionDisplayText(user, "x", true), "dup\n");
}

TEST_F(SqlException, DisplayShowsABoxOrWritesTheLog) {
  SAException user(SA_UserGenerated_Error, -12, -1, "dup");
  SAExceptionDisplay(user, "Salva", false);
  SAException server(SA_DBMS_API_Error, 7, 3, "42P01 relation");
  SAExceptionDisplay(server, nullptr, false);
  ASSERT_EQ(fake_.transcript().size(), 2u);
  EXPECT_EQ(fake_.transcript()[0].text, "User Error\n\nNative Err\t: -12\n\ndup\n\nSalva");
  EXPECT_EQ(fake_.transcript()[0].type & MB_ICONMASK, MB_ICONEXCLAMATION);
  EXPECT_EQ(fake_.transcript()[1].type & MB_ICONMASK, MB_ICONERROR);

  FILE* log = std::tmpfile();
  par_.log_file = log;
  SAExceptionDisplay(server, "Where", true);
  EXPECT_EQ(fake_.transcript().size(), 2u);
  std::rewind(log);
  char line[256] = {};
  ASSERT_NE(std::fgets(line, sizeof line, log), nullptr);
  EXPECT_NE(std::strstr(line, " - 42P01 relation"), nullptr) << line;
  std::fclose(log);
  par_.log_file = nullptr;
  par_.silent = 1;
  SAExceptionDisplay(server, "Where", false);
  EXPECT_EQ(fake_.transcript().size(), 2u);
}

}  // namespace
