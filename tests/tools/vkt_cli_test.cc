// The sample host's command line, run as a user runs it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "test_util.h"

namespace {

using Result = vkt::testing::CommandResult;

// Runs vkt with `args` (already shell-quoted), stdout captured, stderr dropped.
Result Vkt(const std::string& args) {
  return vkt::testing::RunCommand(std::string(VKT_BINARY) + " " + args + " 2>/dev/null");
}

TEST(VktCliTest, DateConvertsBothWaysAndRefusesDaysThatDoNotExist) {
  Result r = Vkt("date 01/01/2000");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "2451545 109514\n");
  r = Vkt("date 2451545");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "01/01/2000\n");
  r = Vkt("date 29/02/2024");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "2460370 118339\n");
  r = Vkt("date 2460370");
  EXPECT_EQ(r.out, "29/02/2024\n");
  EXPECT_EQ(Vkt("date 29/02/2023").code, 1);
  EXPECT_EQ(Vkt("date 31/04/2025").code, 1);
  EXPECT_EQ(Vkt("date 00/01/2025").code, 1);
  EXPECT_EQ(Vkt("date 1/1/2000").code, 1);
  EXPECT_EQ(Vkt("date domani").code, 1);
  EXPECT_EQ(Vkt("date 0").code, 1);
  EXPECT_EQ(Vkt("date 99999999999").code, 1);
}

TEST(VktCliTest, CheckPrintsEachTextAndFailsWhenAnyIsInvalid) {
  Result r = Vkt("check cf BBBCCC90B02A000M");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "BBBCCC90B02A000M valid\n");
  r = Vkt("check cf BBBCCC90B02A000M BBBCCC90B02A000N");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "BBBCCC90B02A000M valid\nBBBCCC90B02A000N invalid\n");
  r = Vkt("check piva 12345678903 12345678904 1234567890A");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "12345678903 valid\n12345678904 invalid\n1234567890A invalid\n");
  EXPECT_EQ(Vkt("check piva 12345678903").code, 0);
  EXPECT_EQ(Vkt("check iban IT60X0542811101000000123456").code, 2);
}

TEST(VktCliTest, HelpVersionAndUnknownCommands) {
  Result r = Vkt("--help");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("check cf"), std::string::npos);
  EXPECT_NE(r.out.find("demo"), std::string::npos);
  r = Vkt("--version");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("vkt ", 0), 0u);
  EXPECT_EQ(Vkt("").code, 2);
  EXPECT_EQ(Vkt("volare").code, 2);
}

TEST(VktCliTest, DemoRunsEndToEndInAFolderOfItsOwn) {
  char dir[] = "/tmp/vkt-demo-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  Result r = Vkt(std::string("demo --dir ") + dir);
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("ctol        1234,56 -> milleduecentotrentaquattro"), std::string::npos);
  EXPECT_NE(r.out.find("-> '    1.234.567,89'"), std::string::npos);
  EXPECT_NE(r.out.find("codice fiscale 'BBBCCC90B02A000M': valido"), std::string::npos);
  EXPECT_NE(r.out.find("JulianToSQL -> '2000-01-01'"), std::string::npos);
  // The log line in the terminal is UTF-8: "\xE8" became "è".
  EXPECT_NE(r.out.find("(100% scritto come \xC3\xA8)"), std::string::npos);
  std::system((std::string("rm -rf ") + dir).c_str());
}

}  // namespace
