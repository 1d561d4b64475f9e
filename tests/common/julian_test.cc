// Day numbers, times of day and their conversions.
#include "common/julian.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "engine/json.h"
#include "frame/vktapp.h"
#include "win/services.h"

namespace {

constexpr int32_t kJan1st2000 = 2451545;   // Julian Day Number
constexpr int32_t kMay17th2024 = 2460448;  // Julian Day Number
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class JulianTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "Europe/Rome", 1);
    tzset();
    vkt::LibraryLoad();  // vktpar null
    std::memset(&par_, 0, sizeof par_);
  }
  void TearDown() override { vkt::LibraryLoad(); }

  // Installs a block whose selector holds `base`.
  void UseDateBase(int base) {
    date_base_ = base;
    par_.date_base = &date_base_;
    vktpar = &par_;
  }

  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
  VKTAPPPARAM par_;
  int date_base_ = 0;
};

TEST_F(JulianTest, JulianDayNumbersMatchTheOleCalendar) {
  EXPECT_EQ(DateToJulian(36526.0, 0), kJan1st2000);
  EXPECT_EQ(DateToJulian(36526.75, 0), kJan1st2000);
  EXPECT_EQ(JulianToDate(kJan1st2000, 0), 36526.0);
  EXPECT_EQ(DateToJulian(COleDateTime(2024, 5, 17, 23, 59, 59), 0), kMay17th2024);
  EXPECT_EQ(JulianToDate(kMay17th2024, 0), 45429.0);
  // No date: the OLE day 0, time-only values, day 0.
  EXPECT_EQ(DateToJulian(0.0, 0), 0);
  EXPECT_EQ(DateToJulian(0.4, 0), 0);
  EXPECT_EQ(JulianToDate(0, 0), 0.0);
  // Before 30 December 1899 the day is the integer part: -1.25 is
  // 29 December 06:00, the day before day 0's 2415019.
  EXPECT_EQ(DateToJulian(-1.25, 0), 2415018);
  EXPECT_EQ(DateToJulian(-1.0, 0), 2415018);
  EXPECT_EQ(DateToJulian(-0.5, 0), 0);
  EXPECT_EQ(JulianToDate(2415018, 0), -1.0);
}

TEST_F(JulianTest, ShortCountFollowsModeOrSelector) {
  EXPECT_EQ(DateToJulian(36526.0, 1), 109514);
  EXPECT_EQ(DateToJulian(COleDateTime(1700, 3, 1, 0, 0, 0), 1), 1);
  EXPECT_EQ(JulianToDate(1, 1), -72987.0);
  EXPECT_EQ(COleDateTime(1700, 3, 1, 0, 0, 0).m_dt, -72987.0);
  EXPECT_EQ(kJan1st2000 - DateToJulian(36526.0, 1), 2342031);

  // No block, or a block without a selector: the Julian Day Number.
  ASSERT_EQ(vktpar, nullptr);
  EXPECT_EQ(DateToJulian(36526.0, 0), kJan1st2000);
  vktpar = &par_;
  EXPECT_EQ(DateToJulian(36526.0, 0), kJan1st2000);
  EXPECT_EQ(Year(kJan1st2000), 2000);

  UseDateBase(1);
  EXPECT_EQ(DateToJulian(36526.0, 0), 109514);
  EXPECT_EQ(JulianToDate(109514, 0), 36526.0);
  EXPECT_EQ(Year(109514), 2000);
  EXPECT_EQ(Month(1), 3);
  int week = 0, year = 0;
  GetWeekNumber(109514, &week, &year);
  EXPECT_EQ(week, 1);
  EXPECT_EQ(year, 2000);
  char sql[13];
  EXPECT_STREQ(JulianToSQL(109514, sql, sizeof sql), "'2000-01-01'");
  UseDateBase(0);
  EXPECT_EQ(DateToJulian(36526.0, 0), kJan1st2000);
}

TEST_F(JulianTest, OutOfRangeDatesAndDaysGiveTheEmptyResult) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {kNaN, inf, -inf, 1e300, -1e300, 2958466.0, -657435.0}) {
    EXPECT_EQ(DateToJulian(bad, 0), 0) << bad;
    EXPECT_EQ(DateToJulian(bad, 1), 0) << bad;
    EXPECT_EQ(DateToJulianTime(bad, 1, 0), 0) << bad;
    EXPECT_EQ(GetUnixTimestamp(bad), 0) << bad;
    EXPECT_TRUE(DateToTmzString(bad).IsEmpty()) << bad;
  }
  // The limits of the calendar: 1 January 100 and 31 December 9999.
  EXPECT_EQ(DateToJulian(-657434.5, 0), -657434 + 2415019);
  EXPECT_EQ(DateToJulian(2958465.9, 0), 2958465 + 2415019);
  for (int32_t bad : {1, -1, 1757584, 5373485, INT32_MAX, INT32_MIN}) {
    EXPECT_EQ(JulianToDate(bad, 0), 0.0) << bad;
    EXPECT_EQ(Year(bad), 0) << bad;
    EXPECT_EQ(Month(bad), 0) << bad;
    EXPECT_EQ(Day(bad), 0) << bad;
    EXPECT_EQ(GetUnixTimestamp(bad), 0) << bad;
    EXPECT_TRUE(JulianToTmzString(bad).IsEmpty()) << bad;
    EXPECT_EQ(JulianToSADateTime(bad), SADateTime()) << bad;
    int week = -1, year = -1;
    GetWeekNumber(bad, &week, &year);
    EXPECT_EQ(week, 0);
    EXPECT_EQ(year, 0);
  }
  EXPECT_EQ(Year(1757585), 100);
  EXPECT_EQ(Year(5373484), 9999);
}

TEST_F(JulianTest, TimeOfDayFromDates) {
  EXPECT_EQ(DateToJulianTime(36526.5, 1, 0), 43200);
  EXPECT_EQ(DateToJulianTime(0.25, 1, 0), 21600);
  EXPECT_EQ(DateToJulianTime(0.25, 0, 0), 0);
  EXPECT_EQ(DateToJulianTime(36526.5, 0, 0), kJan1st2000);
  EXPECT_EQ(DateToJulianTime(36526.5, 2, 1), 109514);  // only 1 asks for time
  EXPECT_EQ(DateToJulianTime(-1.75, 1, 0), 64800);     // 29 Dec 1899 18:00
  EXPECT_EQ(TimeToLong(COleDateTime(2024, 5, 17, 23, 30, 15)), 84615);
  COleDateTime invalid(2023, 2, 30, 10, 0, 0);
  EXPECT_EQ(TimeToLong(invalid), 0);
}

TEST_F(JulianTest, CalendarPartsOfDays) {
  EXPECT_EQ(Year(0), 1899);
  EXPECT_EQ(Month(0), 12);
  EXPECT_EQ(Day(0), 30);
  EXPECT_EQ(Year(kMay17th2024), 2024);
  EXPECT_EQ(Month(kMay17th2024), 5);
  EXPECT_EQ(Day(kMay17th2024), 17);
  EXPECT_EQ(Day(kJan1st2000 - 1), 31);
  EXPECT_EQ(Month(kJan1st2000 + 59), 2);  // 29 February 2000
  EXPECT_EQ(Day(kJan1st2000 + 59), 29);

  EXPECT_EQ(IsLeapYear(2000), 1);
  EXPECT_EQ(IsLeapYear(2024), 1);
  EXPECT_EQ(IsLeapYear(1900), 0);
  EXPECT_EQ(IsLeapYear(2023), 0);
}

TEST_F(JulianTest, TimePartsAndText) {
  EXPECT_EQ(Hour(3725), 1);
  EXPECT_EQ(Minute(3725), 2);
  EXPECT_EQ(Second(3725), 5);
  EXPECT_EQ(Hour(90000), 25);  // not wrapped
  EXPECT_EQ(Hour(-3725), 0);
  EXPECT_EQ(Minute(-3725), 0);
  EXPECT_EQ(Second(-3725), 0);

  EXPECT_EQ(TimeToString(3725), "01:02:05");
  EXPECT_EQ(TimeToString(90000), "25:00:00");
  EXPECT_EQ(TimeToString(0), "00:00:00");
  EXPECT_EQ(TimeToString(360000 + 59), "100:00:59");
  EXPECT_EQ(TimeToString(INT32_MAX), "596523:14:07");
  EXPECT_TRUE(TimeToString(-1).IsEmpty());

  EXPECT_EQ(StringToTime("12:30"), 45000);
  EXPECT_EQ(StringToTime(" 1:2:3 "), 3723);
  EXPECT_EQ(StringToTime("12"), 43200);
  EXPECT_EQ(StringToTime(""), 0);
  EXPECT_EQ(StringToTime("   "), 0);
  EXPECT_EQ(StringToTime(nullptr), 0);
  EXPECT_EQ(StringToTime("08:05"), 29100);
  EXPECT_EQ(StringToTime("1x:30y"), 5400);      // atoi stops at non-digits
  EXPECT_EQ(StringToTime("1:2:3:4"), 3723);     // the rest is the seconds' text
  EXPECT_EQ(StringToTime("ab:cd:ef"), 0);
  EXPECT_EQ(StringToTime("1: 2: 3"), 3723);     // atoi skips leading blanks
  EXPECT_EQ(StringToTime("99999999999999999999999999"), 0);  // no overflow
  EXPECT_EQ(StringToTime("-1:00"), 0);
  // Parts are cut at 20 characters: the 21st digit is not read.
  EXPECT_EQ(StringToTime(("0:" + std::string(20, '0') + "1").c_str()), 0);
  EXPECT_EQ(StringToTime(("0:" + std::string(19, '0') + "1").c_str()), 60);
  // Only the first 99 characters are looked at: "1:" of "1:2:3".
  EXPECT_EQ(StringToTime((std::string(97, ' ') + "1:2:3").c_str()), 3600);
  EXPECT_EQ(StringToTime(TimeToString(86399)), 86399);
}

TEST_F(JulianTest, TimestampText) {
  EXPECT_EQ(TimestampToDate("2023-02-28 10:00:00"),
            COleDateTime(2023, 2, 28, 10, 0, 0).m_dt);
  EXPECT_EQ(TimestampToDate("2023/02/28T10.00.00+01"),  // separators ignored
            COleDateTime(2023, 2, 28, 10, 0, 0).m_dt);
  EXPECT_EQ(TimestampToDate("2023-02-30 10:00:00"), 0.0);
  EXPECT_EQ(TimestampToDate("2023-02-28"), 0.0);
  EXPECT_EQ(TimestampToDate("2023-02-28 10:00:0"), 0.0);  // 18 characters
  EXPECT_EQ(TimestampToDate("2023-02-28 24:00:00"), 0.0);
  EXPECT_EQ(TimestampToDate(""), 0.0);
  EXPECT_EQ(TimestampToDate(nullptr), 0.0);
}

TEST_F(JulianTest, UnixTimestampsIgnoreTheZone) {
  EXPECT_EQ(GetUnixTimestamp(COleDateTime(1970, 1, 2, 0, 0, 0)), 86400);
  EXPECT_EQ(GetUnixTimestamp(36526.0), 946684800);
  EXPECT_EQ(GetUnixTimestamp(kJan1st2000), 946684800);
  EXPECT_EQ(GetUnixTimestamp(2440589), 86400);  // 2 January 1970
  EXPECT_EQ(GetUnixTimestamp(COleDateTime(1969, 12, 31, 0, 0, 0)), -86400);
  EXPECT_EQ(GetUnixTimestamp(0), 0);
  EXPECT_EQ(GetUnixTimestamp(0.0), 0);
  EXPECT_EQ(GetUnixTimestamp(COleDateTime(2023, 2, 30, 0, 0, 0)), 0);
  // Rounded to the nearest second.
  EXPECT_EQ(GetUnixTimestamp(25569.0 + 1.4 / 86400), 1);
  EXPECT_EQ(GetUnixTimestamp(25569.0 + 1.6 / 86400), 2);
  EXPECT_EQ(GetUnixTimestamp(25569.0 - 1.6 / 86400), -2);
  // With the short count the day form reads the same calendar day.
  UseDateBase(1);
  EXPECT_EQ(GetUnixTimestamp(109514), 946684800);
}

TEST_F(JulianTest, UnixTimestampsToLocalDates) {
  // 31 December 1999 23:30 UTC is already 1 January 2000 in Rome.
  EXPECT_EQ(UnixTimestampToJulian(946684800 - 1800), kJan1st2000);
  EXPECT_EQ(UnixTimestampToDATE(946684800), 36526.0 + 1.0 / 24);
  // 17 May 2024 22:30 UTC is 18 May 00:30 in Rome (summer time).
  EXPECT_EQ(UnixTimestampToJulian(1715985000), kMay17th2024 + 1);
  EXPECT_EQ(UnixTimestampToDATE(1715985000), COleDateTime(2024, 5, 18, 0, 30, 0).m_dt);

  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(UnixTimestampToJulian(946684800 - 1800), kJan1st2000 - 1);

  EXPECT_EQ(UnixTimestampToJulian(0), 0);
  EXPECT_EQ(UnixTimestampToDATE(0), 0.0);
  // Beyond the C library and beyond year 9999.
  EXPECT_EQ(UnixTimestampToJulian(INT64_MAX), 0);
  EXPECT_EQ(UnixTimestampToDATE(INT64_MIN), 0.0);
  EXPECT_EQ(UnixTimestampToJulian(253402300800), 0);  // 10000-01-01
  EXPECT_EQ(UnixTimestampToJulian(253402300799), 5373484);
}

TEST_F(JulianTest, TodayComesFromTheLocalClock) {
  fake_.SetNow(1715985000LL * 1000000);  // 17 May 2024 22:30 UTC
  EXPECT_EQ(Now(0), kMay17th2024 + 1);   // already the 18th in Rome
  EXPECT_EQ(Now(1), DateToJulian(COleDateTime(2024, 5, 18, 0, 0, 0), 1));
  setenv("TZ", "America/New_York", 1);
  tzset();
  EXPECT_EQ(Now(0), kMay17th2024);
}

TEST_F(JulianTest, SqlLiteralNeverWritesPastTheBuffer) {
  char buf[32];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(JulianToSQL(kJan1st2000, buf, 12), nullptr);
  EXPECT_EQ(JulianToSQL(kJan1st2000, buf, 0), nullptr);
  EXPECT_EQ(JulianToSQL(kJan1st2000, buf, -5), nullptr);
  EXPECT_EQ(JulianToSQL(kJan1st2000, nullptr, 13), nullptr);
  for (char c : buf) ASSERT_EQ(c, 'x');  // nothing written

  EXPECT_EQ(JulianToSQL(kJan1st2000, buf, 13), buf);
  EXPECT_STREQ(buf, "'2000-01-01'");
  EXPECT_EQ(buf[12], '\0');
  EXPECT_EQ(buf[13], 'x');  // size respected exactly

  std::memset(buf, 'x', sizeof buf);
  EXPECT_STREQ(JulianToSQL(0, buf, 20), "NULL");
  for (int i = 4; i < 20; ++i) EXPECT_EQ(buf[i], '\0') << i;  // zero-filled
  EXPECT_EQ(buf[20], 'x');
  // A day outside the calendar is no date, not a made-up literal.
  EXPECT_STREQ(JulianToSQL(1, buf, 13), "NULL");
  EXPECT_STREQ(JulianToSQL(kMay17th2024, buf, 13), "'2024-05-17'");
}

TEST_F(JulianTest, WeekNumbers) {
  int week = -1, year = -1;
  const int32_t jan1st2025 = DateToJulian(COleDateTime(2025, 1, 1, 0, 0, 0), 0);
  for (int d = 0; d < 4; ++d) {
    GetWeekNumber(jan1st2025 + d, &week, &year);
    EXPECT_EQ(week, 1) << d;
    EXPECT_EQ(year, 2025) << d;
  }
  GetWeekNumber(jan1st2025 + 4, &week, &year);  // 5 January
  EXPECT_EQ(week, 2);
  GetWeekNumber(jan1st2025 + 10, &week, &year);  // 11 January: 7*2-9 = day 5..11
  EXPECT_EQ(week, 2);
  GetWeekNumber(jan1st2025 + 11, &week, &year);  // 12 January
  EXPECT_EQ(week, 3);
  // 2023 is a common year: 27 December is day 361, 28 December day 362.
  GetWeekNumber(DateToJulian(COleDateTime(2023, 12, 27, 0, 0, 0), 0), &week, &year);
  EXPECT_EQ(week, 52);
  EXPECT_EQ(year, 2023);
  GetWeekNumber(DateToJulian(COleDateTime(2023, 12, 28, 0, 0, 0), 0), &week, &year);
  EXPECT_EQ(week, 1);
  EXPECT_EQ(year, 2024);
  // In a leap year 27 December is already day 362.
  GetWeekNumber(DateToJulian(COleDateTime(2024, 12, 27, 0, 0, 0), 0), &week, &year);
  EXPECT_EQ(week, 1);
  EXPECT_EQ(year, 2025);

  GetWeekNumber(0, &week, &year);
  EXPECT_EQ(week, 0);
  EXPECT_EQ(year, 0);
  GetWeekNumber(kJan1st2000, nullptr, &year);  // null outputs are skipped
  EXPECT_EQ(year, 2000);
  GetWeekNumber(kJan1st2000, &week, nullptr);
  EXPECT_EQ(week, 1);
}

TEST_F(JulianTest, SqlDateTimes) {
  SADateTime d = JulianToSADateTime(kMay17th2024);
  EXPECT_EQ(d, SADateTime(2024, 5, 17, 0, 0, 0));
  EXPECT_EQ(JulianToSADateTime(0), SADateTime());

  SADateTime t = TimeToSADateTime(3725);
  EXPECT_EQ(t, SADateTime(1900, 1, 1, 1, 2, 5));
  EXPECT_EQ(SADateTimeToTime(t), 3725);
  EXPECT_EQ(TimeToSADateTime(0), SADateTime(1900, 1, 1, 0, 0, 0));
  EXPECT_EQ(TimeToSADateTime(-1), SADateTime());
  EXPECT_EQ(TimeToSADateTime(86400), SADateTime());

  EXPECT_EQ(SADateTimeToJulian(SADateTime(2024, 5, 17, 23, 30, 0)), kMay17th2024);
  EXPECT_EQ(SADateTimeToJulian(SADateTime()), 0);
  EXPECT_EQ(SADateTimeToJulian(SADateTime(2024, 0, 17, 0, 0, 0)), 0);
  EXPECT_EQ(SADateTimeToJulian(SADateTime(2023, 2, 30, 0, 0, 0)), 0);
  EXPECT_EQ(SADateTimeToDate(SADateTime(2000, 1, 1, 12, 0, 0)), 36526.5);
  EXPECT_EQ(SADateTimeToDate(SADateTime()), 0.0);
  EXPECT_EQ(SADateTimeToDate(SADateTime(2000, 1, 0, 12, 0, 0)), 0.0);
  EXPECT_EQ(SADateTimeToTime(SADateTime()), 0);

  UseDateBase(1);
  EXPECT_EQ(SADateTimeToJulian(SADateTime(2000, 1, 1, 0, 0, 0)), 109514);
  EXPECT_EQ(JulianToSADateTime(109514), SADateTime(2000, 1, 1, 0, 0, 0));
}

TEST_F(JulianTest, IsoTextUsesTheStandardBias) {
  fake_.SetTimeZoneBias(-60);
  EXPECT_EQ(JulianToTmzString(kJan1st2000), "2000-01-01T00:00:00+01:00");
  EXPECT_EQ(DateToTmzString(36526.75), "2000-01-01T18:00:00+01:00");
  // Summer: still the standard offset.
  EXPECT_EQ(DateToTmzString(COleDateTime(2024, 7, 1, 9, 5, 3)), "2024-07-01T09:05:03+01:00");
  fake_.SetTimeZoneBias(0);
  EXPECT_EQ(JulianToTmzString(kJan1st2000), "2000-01-01T00:00:00-00:00");
  fake_.SetTimeZoneBias(300);
  EXPECT_EQ(JulianToTmzString(kJan1st2000), "2000-01-01T00:00:00-05:00");
  fake_.SetTimeZoneBias(-330);
  EXPECT_EQ(DateToTmzString(36526.5), "2000-01-01T12:00:00+05:30");

  EXPECT_TRUE(JulianToTmzString(0).IsEmpty());
  EXPECT_TRUE(DateToTmzString(0.0).IsEmpty());
}

TEST_F(JulianTest, IsoTextFollowsTheSystemZoneByDefault) {
  vkt::TestServices plain;  // no scripted bias: the system's
  vkt::ScopedServices use(&plain);
  EXPECT_EQ(JulianToTmzString(kJan1st2000), "2000-01-01T00:00:00+01:00");
  setenv("TZ", "America/New_York", 1);
  tzset();
  EXPECT_EQ(JulianToTmzString(kJan1st2000), "2000-01-01T00:00:00-05:00");
}

TEST_F(JulianTest, JsonDateMembers) {
  CkJsonObject json;
  ASSERT_TRUE(json.Load(R"({"at": "2024-05-17T23:30:00+02:00", "short": "2024-05-17",
      "padded": "  2024-05-17T08:15:00-05:00  ", "gone": null, "bad": "2024-02-30T10:00:00+01:00",
      "list": [{"when": "2000-01-01T12:00:00+00:00"}], "number": 5})"));
  EXPECT_EQ(JsonStringToJulian(&json, "at"), kMay17th2024);
  EXPECT_EQ(JsonStringToDate(&json, "at"), COleDateTime(2024, 5, 17, 23, 30, 0).m_dt);
  EXPECT_EQ(JsonStringToJulian(&json, "padded"), kMay17th2024);
  EXPECT_EQ(JsonStringToDate(&json, "padded"), COleDateTime(2024, 5, 17, 8, 15, 0).m_dt);
  EXPECT_EQ(JsonStringToDate(&json, "list[0].when"), 36526.5);
  EXPECT_EQ(JsonStringToJulian(&json, "short"), 0);
  EXPECT_EQ(JsonStringToJulian(&json, "missing"), 0);
  EXPECT_EQ(JsonStringToJulian(&json, "gone"), 0);
  EXPECT_EQ(JsonStringToDate(&json, "gone"), 0.0);
  EXPECT_EQ(JsonStringToJulian(&json, "bad"), 0);
  EXPECT_EQ(JsonStringToJulian(&json, "number"), 0);
  EXPECT_EQ(JsonStringToJulian(nullptr, "at"), 0);
  EXPECT_EQ(JsonStringToJulian(&json, nullptr), 0);
  EXPECT_EQ(JsonStringToDate(nullptr, "at"), 0.0);

  UseDateBase(1);
  EXPECT_EQ(JsonStringToJulian(&json, "list[0].when"), 109514);
}

}  // namespace
