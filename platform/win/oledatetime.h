// OLE Automation dates: the date-time value of the framework's COleDateTime.
//
// A DATE is a double counting days from 30 December 1899 00:00; its fraction
// is the time of day. Before that day the integer part is negative and the
// time is still the *magnitude* of the fraction: -1.25 is 29 December 1899
// 06:00, not 28 December 18:00. So DATE values are not linear below zero;
// arithmetic and comparison go through the linear form (days, possibly
// fractional, from the epoch).
//
//   COleDateTime d(2024, 5, 17, 23, 30, 0);
//   if (d.GetStatus() == COleDateTime::valid) {
//     double ole = d;                       // 45429.979166...
//     std::string s = d.Format("%d/%m/%Y"); // "17/05/2024"
//   }
//   COleDateTimeSpan span = d - COleDateTime(1970, 1, 1, 0, 0, 0);
//
// Valid values lie between 1 January 100 and 31 December 9999; parts are read
// rounded to the nearest second. Pure arithmetic, no platform calls except
// the current time and the local-time conversion of a time_t, both taken
// through the services seam.
#ifndef VKT_WIN_OLEDATETIME_H_
#define VKT_WIN_OLEDATETIME_H_

#include <cstdint>
#include <ctime>
#include <string>

#include "vkt_export.h"

typedef double DATE;

// A length of time in days (may be negative or fractional).
class VKT_API COleDateTimeSpan {
 public:
  enum DateTimeSpanStatus { valid = 0, invalid = 1, null = 2 };

  COleDateTimeSpan() = default;
  explicit COleDateTimeSpan(double days) : m_span(days) {}
  COleDateTimeSpan(int32_t days, int hours, int minutes, int seconds);

  DateTimeSpanStatus GetStatus() const { return m_status; }
  void SetStatus(DateTimeSpanStatus s) { m_status = s; }

  double GetTotalDays() const { return m_span; }
  double GetTotalHours() const { return m_span * 24.0; }
  double GetTotalMinutes() const { return m_span * 1440.0; }
  double GetTotalSeconds() const { return m_span * 86400.0; }
  // Whole days and the parts of the remainder, rounded to the second; the
  // parts carry the span's sign.
  int32_t GetDays() const;
  int GetHours() const;
  int GetMinutes() const;
  int GetSeconds() const;

  COleDateTimeSpan operator+(const COleDateTimeSpan& o) const;
  COleDateTimeSpan operator-(const COleDateTimeSpan& o) const;
  COleDateTimeSpan operator-() const;
  bool operator==(const COleDateTimeSpan& o) const { return m_span == o.m_span; }
  bool operator<(const COleDateTimeSpan& o) const { return m_span < o.m_span; }

  double m_span = 0.0;
  DateTimeSpanStatus m_status = valid;
};

class VKT_API COleDateTime {
 public:
  enum DateTimeStatus { valid = 0, invalid = 1, null = 2 };

  // 30 December 1899 00:00, valid (the OLE date 0.0).
  COleDateTime() = default;
  // Invalid when `d` is NaN, infinite or outside years 100-9999.
  COleDateTime(DATE d);  // NOLINT: implicit, as the framework's
  // Invalid when the date or time does not exist (31 April, 24:00, year 99).
  COleDateTime(int year, int month, int day, int hour, int minute, int second);
  // Local date and time of a Unix second count, through the services seam;
  // invalid when it cannot be converted.
  explicit COleDateTime(int64_t unix_seconds);

  // Now on the local clock, to the second.
  static COleDateTime GetCurrentTime();

  DateTimeStatus GetStatus() const { return m_status; }
  void SetStatus(DateTimeStatus s) { m_status = s; }
  bool IsValid() const { return m_status == valid; }

  // 0 on success, 1 (and status invalid) when the parts do not exist.
  int SetDateTime(int year, int month, int day, int hour, int minute, int second);
  int SetDate(int year, int month, int day);
  // The time on 30 December 1899.
  int SetTime(int hour, int minute, int second);

  // Parts, or -1 when the value is not valid. Day of week: 1 = Sunday ...
  // 7 = Saturday; day of year: 1 = 1 January.
  int GetYear() const;
  int GetMonth() const;
  int GetDay() const;
  int GetHour() const;
  int GetMinute() const;
  int GetSecond() const;
  int GetDayOfWeek() const;
  int GetDayOfYear() const;
  // All parts at once, C style (tm_year from 1900, tm_mon from 0, tm_wday
  // from Sunday = 0, tm_isdst -1); false when not valid.
  bool GetAsTm(std::tm* out) const;

  // strftime-like, C locale: %d %m %Y %y %H %I %M %S %p %j %w %a %A %b %B %%
  // and '#' after '%' to drop leading zeros (%#d). Empty when not valid.
  std::string Format(const char* format) const;

  operator DATE() const { return m_dt; }  // NOLINT: implicit, as the framework's

  COleDateTimeSpan operator-(const COleDateTime& o) const;
  COleDateTime operator+(const COleDateTimeSpan& s) const;
  COleDateTime operator-(const COleDateTimeSpan& s) const;
  COleDateTime& operator+=(const COleDateTimeSpan& s) { return *this = *this + s; }
  COleDateTime& operator-=(const COleDateTimeSpan& s) { return *this = *this - s; }

  // Ordered by time (the linear form), whatever the sign of the DATE.
  bool operator==(const COleDateTime& o) const;
  bool operator!=(const COleDateTime& o) const { return !(*this == o); }
  bool operator<(const COleDateTime& o) const;
  bool operator>(const COleDateTime& o) const { return o < *this; }
  bool operator<=(const COleDateTime& o) const { return !(o < *this); }
  bool operator>=(const COleDateTime& o) const { return !(*this < o); }

  DATE m_dt = 0.0;
  DateTimeStatus m_status = valid;
};

namespace vkt::ole {

// Calendar helpers shared by the date-time types.
VKT_API bool IsLeap(int64_t year);
VKT_API int DaysInMonth(int64_t year, int month);
// Days from 1970-01-01 of a proleptic Gregorian date (month and day need not
// be in range: they carry as in the civil-from-days algorithms).
VKT_API int64_t DaysFromCivil(int64_t year, int month, int day);
VKT_API void CivilFromDays(int64_t days, int64_t* year, int* month, int* day);
// DATE <-> days from the epoch as a straight line.
VKT_API double ToLinear(DATE d);
VKT_API DATE FromLinear(double linear);
// True when `d` is a finite DATE of years 100-9999.
VKT_API bool InRange(DATE d);
// The DATE of valid parts; false (and *out untouched) when they do not exist.
VKT_API bool FromParts(int year, int month, int day, int hour, int minute,
                       int second, DATE* out);

// A DATE split into calendar parts, the time rounded to `unit_ns`
// nanoseconds (1e9 = whole seconds). False when out of range.
struct Parts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int32_t nanos = 0;
  int day_of_week = 0;  // 0 = Sunday
  int day_of_year = 0;  // 1 = 1 January
};
VKT_API bool Split(DATE d, int64_t unit_ns, Parts* out);

}  // namespace vkt::ole

#endif  // VKT_WIN_OLEDATETIME_H_
