// Day numbers and times of day, and their conversions.
//
// A date is kept as a day number (0 = no date) and a time of day as seconds
// since midnight. Two day counts exist: the Julian Day Number (1 January 2000
// is 2451545) and the short count whose day 1 is 1 March 1700 (1 January 2000
// is 109514). A function with a `mode` uses the short count when `mode` is 1
// or the host's `date_base` selector holds 1; the functions without one
// follow the selector alone.
//
//   int32_t day = DateToJulian(COleDateTime(2024, 5, 17, 0, 0, 0), 0);
//   char sql[13];
//   JulianToSQL(day, sql, sizeof sql);          // "'2024-05-17'"
//   SAString t = TimeToString(StringToTime("8:05"));   // "08:05:00"
//
// Every function is reentrant. Impossible or empty inputs (day numbers or
// OLE dates outside years 100-9999, NaN, negative times, null texts) give
// the empty result of the type: 0, 0.0, an empty string or a default
// SADateTime.
#ifndef VKT_COMMON_JULIAN_H_
#define VKT_COMMON_JULIAN_H_

#include <cstdint>

#include "saapi/sadatetime.h"
#include "saapi/sastring.h"
#include "vkt_export.h"
#include "win/oledatetime.h"

class CkJsonObject;

// Day number of the date part of an OLE date; 0 when that is 30 December
// 1899 (the date part of a time-only value).
VKT_API int32_t DateToJulian(double date, int mode);
// The OLE date at 00:00 of the day; 0.0 for day 0.
VKT_API double JulianToDate(int32_t day, int mode);
// With `want_time` 1 the time of day of `date` in seconds (rounded to the
// second); otherwise DateToJulian.
VKT_API int32_t DateToJulianTime(double date, int want_time, int mode);
// Today on the local clock.
VKT_API int32_t Now(int mode);
// "YYYY-MM-DD HH:MM:SS" (separators not looked at) to an OLE date; 0.0 for a
// shorter text or a date-time that does not exist.
VKT_API double TimestampToDate(const char* text);

// Calendar parts of a day number; 0 when out of range. Day 0 reads as the OLE
// date 0.0: 30 December 1899.
VKT_API int Year(int32_t day);
VKT_API int Month(int32_t day);
VKT_API int Day(int32_t day);
// Parts of a time of day (hours not wrapped at 24); 0 for negative times.
VKT_API int Hour(int32_t time);
VKT_API int Minute(int32_t time);
VKT_API int Second(int32_t time);
// Seconds since midnight of a date-time; 0 when it is not valid.
VKT_API int32_t TimeToLong(COleDateTime t);
VKT_API int IsLeapYear(int year);

// Seconds from 1970-01-01 00:00:00, with no time-zone conversion, rounded to
// the nearest second; 0 for an invalid value, the OLE date 0.0 or day 0.
VKT_API int64_t GetUnixTimestamp(COleDateTime t);
VKT_API int64_t GetUnixTimestamp(double date);
VKT_API int64_t GetUnixTimestamp(int32_t day);
// The local date (day number) or date-time of a Unix timestamp; 0 for the
// timestamp 0 and for one that cannot be converted.
VKT_API int32_t UnixTimestampToJulian(int64_t ts);
VKT_API double UnixTimestampToDATE(int64_t ts);

// Writes "'YYYY-MM-DD'" (or "NULL" for day 0 and impossible days) into `buf`,
// zero-filled to `size`. A null `buf` or a `size` below 13 writes nothing and
// returns null; otherwise returns `buf`.
VKT_API char* JulianToSQL(int32_t day, char* buf, int size);
// Week of the year as the applications count it (days 1-4 are week 1, a week
// every 7 days after; from day 362 on, week 1 of the next year) and the year
// it belongs to; both 0 for day 0. Null outputs are skipped.
VKT_API void GetWeekNumber(int32_t day, int* week, int* year);

// The day at 00:00:00; default for day 0.
VKT_API SADateTime JulianToSADateTime(int32_t day);
// The time of day on 1 January 1900; default for a time outside 0-86399.
VKT_API SADateTime TimeToSADateTime(int32_t time);
// 0 (0.0) when the year, month or day is 0 or the date does not exist.
VKT_API int32_t SADateTimeToJulian(SADateTime d);
VKT_API double SADateTimeToDate(SADateTime d);
VKT_API int32_t SADateTimeToTime(SADateTime d);

// ISO 8601 with the zone's standard offset (daylight saving never added):
// "2000-01-01T00:00:00+01:00". Empty for day 0 or the OLE date 0.0.
VKT_API SAString JulianToTmzString(int32_t day);
VKT_API SAString DateToTmzString(double date);
// "HH:MM:SS", hours of 100 or more in full; empty for negative times.
VKT_API SAString TimeToString(int32_t time);
// "h[:m[:s]]" (blanks around ignored, each part read as atoi does) to
// seconds; 0 for a null text or a result outside 0..2^31-1.
VKT_API int32_t StringToTime(const char* text);

// An ISO 8601 string member "YYYY-MM-DDTHH:MM:SS+hh:mm" taken as written
// (the offset is not applied); 0 (0.0) for null, missing, short or
// impossible values.
VKT_API int32_t JsonStringToJulian(CkJsonObject* json, const char* path);
VKT_API double JsonStringToDate(CkJsonObject* json, const char* path);

#endif  // VKT_COMMON_JULIAN_H_
