// The SQL client's date-time value.
//
// Holds the calendar parts as given (a struct tm's worth) plus a fraction of
// a second in nanoseconds, as the SQL client keeps them; it is not checked
// at construction. The default value has every part 0 and stands for "no
// date". Conversion to an OLE Automation date gives 0.0 for parts that do not
// form a real date-time.
//
//   SADateTime t(2024, 5, 17, 23, 30, 0);
//   double ole = t;                  // 45429.979166...
//   SADateTime back(ole);            // 2024-05-17 23:30:00.000
#ifndef VKT_SAAPI_SADATETIME_H_
#define VKT_SAAPI_SADATETIME_H_

#include <cstdint>
#include <ctime>

#include "vkt_export.h"

class VKT_API SADateTime {
 public:
  SADateTime() = default;
  SADateTime(int year, int month, int day, int hour, int minute, int second);
  // tm_year counts from 1900 and tm_mon from 0; tm_mday 0 keeps day 0.
  explicit SADateTime(const std::tm& tm);
  // An OLE date, split by the OLE rules to the nearest millisecond; a value
  // out of range (or NaN) gives the default value.
  explicit SADateTime(double ole_date);
  SADateTime(const SADateTime&) = default;
  SADateTime& operator=(const SADateTime&) = default;

  // The current local date and time, through the services seam.
  static SADateTime currentDateTime();

  int GetYear() const { return year_; }
  int GetMonth() const { return month_; }
  int GetDay() const { return day_; }
  int GetHour() const { return hour_; }
  int GetMinute() const { return minute_; }
  int GetSecond() const { return second_; }
  // 1 = Sunday ... 7 = Saturday; 0 when the parts are not a date.
  int GetDayOfWeek() const;
  // Nanoseconds within the second, 0..999999999.
  uint32_t Fraction() const { return fraction_; }
  // Values of 1e9 or more are refused (false).
  bool SetFraction(uint32_t nanoseconds);

  // The OLE date with time of day and fraction; 0.0 when the parts do not
  // form a date-time of years 100-9999.
  operator double() const;  // NOLINT: implicit, as the SQL client's
  // The parts as a C tm (tm_wday/tm_yday filled when the date is real).
  operator std::tm() const;  // NOLINT

  bool operator==(const SADateTime& o) const;
  bool operator!=(const SADateTime& o) const { return !(*this == o); }

 private:
  int year_ = 0, month_ = 0, day_ = 0;
  int hour_ = 0, minute_ = 0, second_ = 0;
  uint32_t fraction_ = 0;
};

#endif  // VKT_SAAPI_SADATETIME_H_
