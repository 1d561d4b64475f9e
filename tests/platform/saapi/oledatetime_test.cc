// OLE Automation dates: the calendar, the negative-date rule, validity and
// the local clock.
#include "win/oledatetime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "win/services.h"

namespace {

class OleDateTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "Europe/Rome", 1);
    tzset();
  }
  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
};

void ExpectParts(const COleDateTime& t, int y, int mo, int d, int h, int mi, int s) {
  EXPECT_EQ(t.GetYear(), y);
  EXPECT_EQ(t.GetMonth(), mo);
  EXPECT_EQ(t.GetDay(), d);
  EXPECT_EQ(t.GetHour(), h);
  EXPECT_EQ(t.GetMinute(), mi);
  EXPECT_EQ(t.GetSecond(), s);
}

TEST_F(OleDateTimeTest, PartsAndValuesAgree) {
  EXPECT_EQ(COleDateTime(2000, 1, 1, 0, 0, 0).m_dt, 36526.0);
  EXPECT_EQ(COleDateTime(2000, 1, 1, 18, 0, 0).m_dt, 36526.75);
  EXPECT_EQ(COleDateTime(1899, 12, 30, 0, 0, 0).m_dt, 0.0);
  EXPECT_EQ(COleDateTime(1899, 12, 30, 6, 0, 0).m_dt, 0.25);
  EXPECT_EQ(COleDateTime(1970, 1, 1, 0, 0, 0).m_dt, 25569.0);
  EXPECT_EQ(COleDateTime(100, 1, 1, 0, 0, 0).m_dt, -657434.0);
  EXPECT_EQ(COleDateTime(9999, 12, 31, 0, 0, 0).m_dt, 2958465.0);
  ExpectParts(COleDateTime(45429.979166666664), 2024, 5, 17, 23, 30, 0);
  ExpectParts(COleDateTime(0.0), 1899, 12, 30, 0, 0, 0);
  EXPECT_TRUE(COleDateTime().IsValid());
  EXPECT_EQ(COleDateTime().m_dt, 0.0);
}

TEST_F(OleDateTimeTest, NegativeDatesKeepTheTimeAsTheFractionsMagnitude) {
  // -1.25 is 29 December 1899 06:00, not 28 December 18:00.
  EXPECT_EQ(COleDateTime(1899, 12, 29, 6, 0, 0).m_dt, -1.25);
  ExpectParts(COleDateTime(-1.25), 1899, 12, 29, 6, 0, 0);
  ExpectParts(COleDateTime(-1.75), 1899, 12, 29, 18, 0, 0);
  // -0.5 is the same moment as 0.5.
  ExpectParts(COleDateTime(-0.5), 1899, 12, 30, 12, 0, 0);
  ExpectParts(COleDateTime(-657434.5), 100, 1, 1, 12, 0, 0);

  // Ordering and differences follow time, not the raw double.
  const COleDateTime morning(-1.25), evening(-1.75);
  EXPECT_TRUE(morning < evening);
  EXPECT_TRUE(evening > morning);
  EXPECT_DOUBLE_EQ((evening - morning).GetTotalSeconds(), 12 * 3600.0);
  EXPECT_DOUBLE_EQ((COleDateTime(0.25) - morning).GetTotalDays(), 1.0);
  const COleDateTime next = evening + COleDateTimeSpan(0, 12, 0, 0);
  EXPECT_EQ(next.m_dt, 0.25);
  EXPECT_EQ((next - COleDateTimeSpan(1.0)).m_dt, -1.25);
  EXPECT_EQ((COleDateTime(0.5) - COleDateTimeSpan(0, 18, 0, 0)).m_dt, -1.75);
}

TEST_F(OleDateTimeTest, NonexistentDatesAreInvalid) {
  EXPECT_FALSE(COleDateTime(2023, 2, 29, 0, 0, 0).IsValid());
  EXPECT_TRUE(COleDateTime(2024, 2, 29, 0, 0, 0).IsValid());
  EXPECT_TRUE(COleDateTime(2000, 2, 29, 0, 0, 0).IsValid());
  EXPECT_FALSE(COleDateTime(1900, 2, 29, 0, 0, 0).IsValid());
  EXPECT_FALSE(COleDateTime(2023, 4, 31, 0, 0, 0).IsValid());
  EXPECT_FALSE(COleDateTime(2023, 13, 1, 0, 0, 0).IsValid());
  EXPECT_FALSE(COleDateTime(2023, 0, 1, 0, 0, 0).IsValid());
  EXPECT_FALSE(COleDateTime(2023, 1, 0, 0, 0, 0).IsValid());
  EXPECT_FALSE(COleDateTime(2023, 1, 1, 24, 0, 0).IsValid());
  EXPECT_FALSE(COleDateTime(2023, 1, 1, 0, 60, 0).IsValid());
  EXPECT_FALSE(COleDateTime(2023, 1, 1, 0, 0, 60).IsValid());
  EXPECT_FALSE(COleDateTime(2023, 1, 1, -1, 0, 0).IsValid());
  EXPECT_FALSE(COleDateTime(99, 12, 31, 0, 0, 0).IsValid());
  EXPECT_FALSE(COleDateTime(10000, 1, 1, 0, 0, 0).IsValid());

  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double bad : {nan, std::numeric_limits<double>::infinity(), 2958466.0,
                     -657435.0, 1e300}) {
    COleDateTime t(bad);
    EXPECT_EQ(t.GetStatus(), COleDateTime::invalid) << bad;
    EXPECT_EQ(t.GetYear(), -1) << bad;
    EXPECT_EQ(t.GetSecond(), -1) << bad;
    EXPECT_EQ(t.GetDayOfWeek(), -1) << bad;
    EXPECT_EQ(t.Format("%d/%m/%Y"), "") << bad;
  }
  // Setting parts that do not exist leaves the value invalid.
  COleDateTime t(2024, 5, 17, 0, 0, 0);
  EXPECT_EQ(t.SetDate(2024, 2, 30), 1);
  EXPECT_FALSE(t.IsValid());
  EXPECT_EQ(t.SetDate(2024, 2, 29), 0);
  EXPECT_TRUE(t.IsValid());
  EXPECT_EQ(t.SetTime(12, 0, 0), 0);
  EXPECT_EQ(t.m_dt, 0.5);
  // Arithmetic out of the calendar, or on invalid values, is invalid.
  EXPECT_FALSE((COleDateTime(9999, 12, 31, 0, 0, 0) + COleDateTimeSpan(1.0)).IsValid());
  EXPECT_FALSE((COleDateTime(nan) + COleDateTimeSpan(1.0)).IsValid());
  EXPECT_EQ((COleDateTime(nan) - COleDateTime(0.0)).GetStatus(), COleDateTimeSpan::invalid);
}

TEST_F(OleDateTimeTest, PartsRoundToTheNearestSecond) {
  // Half a second before midnight reads as the next day.
  ExpectParts(COleDateTime(36526.0 + 86399.6 / 86400), 2000, 1, 2, 0, 0, 0);
  ExpectParts(COleDateTime(36526.0 + 86399.4 / 86400), 2000, 1, 1, 23, 59, 59);
  // 12:30:15 is not exact in binary; it must not read as 12:30:14.
  ExpectParts(COleDateTime(36526.0 + 45015.0 / 86400), 2000, 1, 1, 12, 30, 15);
  // Before the epoch the carry goes to the next calendar day as well.
  ExpectParts(COleDateTime(-1.0 - 86399.6 / 86400), 1899, 12, 30, 0, 0, 0);
  // At the very end of the calendar there is no next day.
  EXPECT_EQ(COleDateTime(2958465.0 + 86399.9 / 86400).GetYear(), -1);
}

TEST_F(OleDateTimeTest, CalendarArithmeticRoundTripsOverTheWholeRange) {
  int last_weekday = 0;
  for (int64_t day = -657434; day <= 2958465; day += 997) {
    COleDateTime t(static_cast<double>(day));
    ASSERT_TRUE(t.IsValid()) << day;
    COleDateTime back(t.GetYear(), t.GetMonth(), t.GetDay(), 0, 0, 0);
    ASSERT_EQ(back.m_dt, static_cast<double>(day)) << day;
    // 997 days move the weekday by 997 mod 7 = 3.
    if (day > -657434) {
      ASSERT_EQ(t.GetDayOfWeek() - 1, (last_weekday + 3) % 7) << day;
    }
    last_weekday = t.GetDayOfWeek() - 1;
  }
  EXPECT_EQ(COleDateTime(2000, 1, 1, 0, 0, 0).GetDayOfWeek(), 7);   // Saturday
  EXPECT_EQ(COleDateTime(2024, 5, 17, 0, 0, 0).GetDayOfWeek(), 6);  // Friday
  EXPECT_EQ(COleDateTime(1899, 12, 30, 0, 0, 0).GetDayOfWeek(), 7);
  EXPECT_EQ(COleDateTime(-1.25).GetDayOfWeek(), 6);
  EXPECT_EQ(COleDateTime(2024, 12, 31, 0, 0, 0).GetDayOfYear(), 366);
  EXPECT_EQ(COleDateTime(2023, 12, 31, 0, 0, 0).GetDayOfYear(), 365);
}

TEST_F(OleDateTimeTest, LocalClockAndUnixTimes) {
  // 1 January 2000 00:00 UTC is 01:00 in Rome; 1 July is summer time.
  ExpectParts(COleDateTime(int64_t{946684800}), 2000, 1, 1, 1, 0, 0);
  ExpectParts(COleDateTime(int64_t{962409600}), 2000, 7, 1, 2, 0, 0);
  EXPECT_FALSE(COleDateTime(std::numeric_limits<int64_t>::max()).IsValid());

  fake_.SetNow(946684800LL * 1000000 + 999999);
  ExpectParts(COleDateTime::GetCurrentTime(), 2000, 1, 1, 1, 0, 0);
  fake_.SetNow(-1);  // a microsecond before 1970: still 1969
  ExpectParts(COleDateTime::GetCurrentTime(), 1970, 1, 1, 0, 59, 59);

  std::tm tm{};
  ASSERT_TRUE(COleDateTime(2024, 5, 17, 23, 30, 5).GetAsTm(&tm));
  EXPECT_EQ(tm.tm_year, 124);
  EXPECT_EQ(tm.tm_mon, 4);
  EXPECT_EQ(tm.tm_mday, 17);
  EXPECT_EQ(tm.tm_wday, 5);
  EXPECT_EQ(tm.tm_yday, 137);
  EXPECT_FALSE(COleDateTime(2023, 2, 30, 0, 0, 0).GetAsTm(&tm));
}

TEST_F(OleDateTimeTest, FormatAndSpans) {
  const COleDateTime t(2024, 3, 5, 9, 7, 3);
  EXPECT_EQ(t.Format("%d/%m/%Y"), "05/03/2024");
  EXPECT_EQ(t.Format("%#d/%#m/%y"), "5/3/24");
  EXPECT_EQ(t.Format("%H:%M:%S"), "09:07:03");
  EXPECT_EQ(t.Format("%H:%M"), "09:07");
  EXPECT_EQ(t.Format("%I %p %j %w"), "09 AM 065 2");
  EXPECT_EQ(t.Format("%a %A %b %B 100%%"), "Tue Tuesday Mar March 100%");
  EXPECT_EQ(t.Format("%Q%"), "%Q");
  EXPECT_EQ(COleDateTime(0.5).Format("%I %p"), "12 PM");
  EXPECT_EQ(t.Format(nullptr), "");

  const COleDateTimeSpan s(1, 2, 3, 4);
  EXPECT_EQ(s.GetDays(), 1);
  EXPECT_EQ(s.GetHours(), 2);
  EXPECT_EQ(s.GetMinutes(), 3);
  EXPECT_EQ(s.GetSeconds(), 4);
  EXPECT_DOUBLE_EQ(s.GetTotalSeconds(), 93784.0);
  EXPECT_DOUBLE_EQ((-s).GetTotalSeconds(), -93784.0);
  EXPECT_EQ((-s).GetHours(), -2);
  EXPECT_DOUBLE_EQ((COleDateTime(1970, 1, 2, 0, 0, 0) - COleDateTime(1970, 1, 1, 0, 0, 0))
                       .GetTotalSeconds(),
                   86400.0);
  EXPECT_TRUE(COleDateTime(36526.0) == COleDateTime(2000, 1, 1, 0, 0, 0));
  EXPECT_TRUE(COleDateTime(36526.0) != COleDateTime(36526.5));
  EXPECT_TRUE(COleDateTime(36526.0) <= COleDateTime(36526.0));
}

}  // namespace
