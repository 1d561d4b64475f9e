// The SQL client's date-time value: parts as given, OLE dates both ways.
#include "saapi/sadatetime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>

#include "win/services.h"

namespace {

TEST(SADateTimeTest, DefaultIsNoDate) {
  SADateTime d;
  EXPECT_EQ(d.GetYear(), 0);
  EXPECT_EQ(d.GetMonth(), 0);
  EXPECT_EQ(d.GetDay(), 0);
  EXPECT_EQ(d.GetHour(), 0);
  EXPECT_EQ(d.Fraction(), 0u);
  EXPECT_EQ(static_cast<double>(d), 0.0);
  EXPECT_EQ(d.GetDayOfWeek(), 0);
}

TEST(SADateTimeTest, PartsConvertToOleDates) {
  EXPECT_EQ(static_cast<double>(SADateTime(2000, 1, 1, 18, 0, 0)), 36526.75);
  EXPECT_EQ(static_cast<double>(SADateTime(1899, 12, 29, 6, 0, 0)), -1.25);
  // Parts that are not a date-time convert to no date, but stay readable.
  SADateTime feb30(2023, 2, 30, 10, 0, 0);
  EXPECT_EQ(static_cast<double>(feb30), 0.0);
  EXPECT_EQ(feb30.GetDay(), 30);
  EXPECT_EQ(static_cast<double>(SADateTime(2023, 1, 1, 25, 0, 0)), 0.0);

  std::tm tm{};
  tm.tm_year = 124;
  tm.tm_mon = 4;
  tm.tm_mday = 17;
  tm.tm_hour = 23;
  tm.tm_min = 30;
  SADateTime from_tm(tm);
  EXPECT_EQ(from_tm, SADateTime(2024, 5, 17, 23, 30, 0));
  EXPECT_EQ(from_tm.GetDayOfWeek(), 6);  // Friday
  const std::tm back = from_tm;
  EXPECT_EQ(back.tm_year, 124);
  EXPECT_EQ(back.tm_mon, 4);
  EXPECT_EQ(back.tm_wday, 5);
  EXPECT_EQ(back.tm_yday, 137);

  SADateTime copy(from_tm);
  EXPECT_EQ(copy, from_tm);
  EXPECT_NE(copy, SADateTime(2024, 5, 17, 23, 30, 1));
}

TEST(SADateTimeTest, OleDatesSplitToTheMillisecond) {
  SADateTime t(36526.5 + 0.25 / 86400);
  EXPECT_EQ(t, [] {
    SADateTime e(2000, 1, 1, 12, 0, 0);
    e.SetFraction(250000000);
    return e;
  }());
  // 12:30:15 is not exact in binary: it must not read as 12:30:14.999.
  SADateTime s(36526.0 + 45015.0 / 86400);
  EXPECT_EQ(s.GetSecond(), 15);
  EXPECT_EQ(s.Fraction(), 0u);
  EXPECT_NEAR(static_cast<double>(t), 36526.5 + 0.25 / 86400, 1e-10);

  SADateTime before(-1.75);
  EXPECT_EQ(before, SADateTime(1899, 12, 29, 18, 0, 0));
  EXPECT_EQ(static_cast<double>(before), -1.75);

  EXPECT_EQ(SADateTime(std::numeric_limits<double>::quiet_NaN()), SADateTime());
  EXPECT_EQ(SADateTime(1e12), SADateTime());

  SADateTime f;
  EXPECT_FALSE(f.SetFraction(1000000000u));
  EXPECT_TRUE(f.SetFraction(999999999u));
  EXPECT_EQ(f.Fraction(), 999999999u);
}

TEST(SADateTimeTest, CurrentTimeIsLocalWithItsFraction) {
  setenv("TZ", "Europe/Rome", 1);
  tzset();
  vkt::TestServices fake;
  vkt::ScopedServices use(&fake);
  fake.SetNow(946684800LL * 1000000 + 123456);
  SADateTime now = SADateTime::currentDateTime();
  EXPECT_EQ(now.GetYear(), 2000);
  EXPECT_EQ(now.GetHour(), 1);
  EXPECT_EQ(now.GetSecond(), 0);
  EXPECT_EQ(now.Fraction(), 123456000u);
}

}  // namespace
