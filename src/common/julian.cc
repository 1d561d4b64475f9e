#include "common/julian.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/json.h"
#include "frame/vktapp.h"
#include "win/services.h"

namespace {

// floor(OLE date) + offset = day number.
constexpr int64_t kJulianOffset = 2415019;
constexpr int64_t kShortOffset = 72988;

int64_t Offset(int mode) {
  return mode == 1 || vkt::DateBase() == 1 ? kShortOffset : kJulianOffset;
}

// The OLE date of a day number; false when the day lies outside years
// 100-9999. Day 0 is the OLE date 0.0.
bool OleOfDay(int32_t day, int mode, double* ole) {
  if (day == 0) {
    *ole = 0.0;
    return true;
  }
  const double d = static_cast<double>(static_cast<int64_t>(day) - Offset(mode));
  if (!vkt::ole::InRange(d)) return false;
  *ole = d;
  return true;
}

// The calendar parts of a valid day number.
bool DayParts(int32_t day, vkt::ole::Parts* p) {
  double ole = 0.0;
  return OleOfDay(day, 0, &ole) && vkt::ole::Split(ole, 1000000000LL, p);
}

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atoi over a piece of text: leading white space, a sign, digits; anything
// else ends the number. Saturates instead of overflowing.
int64_t Atoi(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsCSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (v < 100000000000LL) v = v * 10 + (s[i] - '0');
  }
  return negative ? -v : v;
}

int Field(std::string_view s, size_t pos, size_t len) {
  if (pos >= s.size()) return 0;
  return static_cast<int>(Atoi(s.substr(pos, len)));
}

// Blanks (spaces) off both ends.
std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// The fixed-position date-time of a timestamp text; invalid when it does not
// exist.
COleDateTime FixedDateTime(std::string_view s) {
  return COleDateTime(Field(s, 0, 4), Field(s, 5, 2), Field(s, 8, 2),
                      Field(s, 11, 2), Field(s, 14, 2), Field(s, 17, 2));
}

// The date-time of a JSON member holding ISO 8601 text; invalid otherwise.
COleDateTime JsonDateTime(CkJsonObject* json, const char* path) {
  COleDateTime invalid;
  invalid.SetStatus(COleDateTime::invalid);
  if (json == nullptr || path == nullptr || json->IsNullOf(path)) return invalid;
  std::string text = json->StringOf(path);
  if (text.size() > 50) text.resize(50);
  const std::string_view s = TrimBlanks(text);
  if (s.size() < 25) return invalid;
  return FixedDateTime(s);
}

// The zone's standard offset as "+hh:mm" / "-hh:mm" parts (UTC = local +
// bias, so a zone east of Greenwich has a negative bias and prints "+").
void ZoneOffset(char* sign, int* hours, int* minutes) {
  const int64_t bias = vkt::services().TimeZoneBias();
  *sign = bias < 0 ? '+' : '-';
  const int64_t magnitude = bias < 0 ? -bias : bias;
  *hours = static_cast<int>(magnitude / 60);
  *minutes = static_cast<int>(magnitude % 60);
}

}  // namespace

int32_t DateToJulian(double date, int mode) {
  // The day of an OLE date is its integer part: before 1899-12-30 the time
  // is the magnitude of the fraction, so -1.25 is still 29 December.
  if (!vkt::ole::InRange(date)) return 0;
  const auto d = static_cast<int64_t>(std::trunc(date));
  if (d == 0) return 0;
  return static_cast<int32_t>(d + Offset(mode));
}

double JulianToDate(int32_t day, int mode) {
  double ole = 0.0;
  return OleOfDay(day, mode, &ole) ? ole : 0.0;
}

int32_t DateToJulianTime(double date, int want_time, int mode) {
  if (want_time == 1) return TimeToLong(COleDateTime(date));
  return DateToJulian(date, mode);
}

int32_t Now(int mode) {
  const COleDateTime now = COleDateTime::GetCurrentTime();
  return now.IsValid() ? DateToJulian(now.m_dt, mode) : 0;
}

double TimestampToDate(const char* text) {
  if (text == nullptr || strnlen(text, 19) < 19) return 0.0;
  const COleDateTime t = FixedDateTime(std::string_view(text, strnlen(text, 19)));
  return t.IsValid() ? t.m_dt : 0.0;
}

int Year(int32_t day) {
  vkt::ole::Parts p;
  return DayParts(day, &p) ? p.year : 0;
}

int Month(int32_t day) {
  vkt::ole::Parts p;
  return DayParts(day, &p) ? p.month : 0;
}

int Day(int32_t day) {
  vkt::ole::Parts p;
  return DayParts(day, &p) ? p.day : 0;
}

int Hour(int32_t time) { return time < 0 ? 0 : time / 3600; }
int Minute(int32_t time) { return time < 0 ? 0 : time % 3600 / 60; }
int Second(int32_t time) { return time < 0 ? 0 : time % 3600 % 60; }

int32_t TimeToLong(COleDateTime t) {
  if (!t.IsValid()) return 0;
  vkt::ole::Parts p;
  if (!vkt::ole::Split(t.m_dt, 1000000000LL, &p)) return 0;
  return p.hour * 3600 + p.minute * 60 + p.second;
}

int IsLeapYear(int year) {
  return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 1 : 0;
}

int64_t GetUnixTimestamp(COleDateTime t) {
  if (!t.IsValid() || t.m_dt == 0.0) return 0;
  const COleDateTimeSpan span = t - COleDateTime(1970, 1, 1, 0, 0, 0);
  return std::llround(span.GetTotalSeconds());  // halves away from zero
}

int64_t GetUnixTimestamp(double date) { return GetUnixTimestamp(COleDateTime(date)); }

int64_t GetUnixTimestamp(int32_t day) {
  double ole = 0.0;
  if (day == 0 || !OleOfDay(day, 0, &ole)) return 0;
  return GetUnixTimestamp(COleDateTime(ole));
}

int32_t UnixTimestampToJulian(int64_t ts) {
  if (ts == 0) return 0;
  const COleDateTime t(ts);
  return t.IsValid() ? DateToJulian(t.m_dt, 0) : 0;
}

double UnixTimestampToDATE(int64_t ts) {
  if (ts == 0) return 0.0;
  const COleDateTime t(ts);
  return t.IsValid() ? t.m_dt : 0.0;
}

char* JulianToSQL(int32_t day, char* buf, int size) {
  if (buf == nullptr || size < 13) return nullptr;
  std::memset(buf, 0, static_cast<size_t>(size));
  vkt::ole::Parts p;
  // A day outside the calendar has no literal: it is written as no date.
  if (day == 0 || !DayParts(day, &p)) {
    std::memcpy(buf, "NULL", 4);
  } else {
    std::snprintf(buf, static_cast<size_t>(size), "'%04d-%02d-%02d'", p.year,
                  p.month, p.day);
  }
  return buf;
}

void GetWeekNumber(int32_t day, int* week, int* year) {
  if (week != nullptr) *week = 0;
  if (year != nullptr) *year = 0;
  vkt::ole::Parts p;
  if (day == 0 || !DayParts(day, &p)) return;
  int w = (p.day_of_year + 9) / 7;
  int y = p.year;
  if (w < 1) {
    w = 52;
    --y;
  }
  if (w > 52) {
    w = 1;
    ++y;
  }
  if (week != nullptr) *week = w;
  if (year != nullptr) *year = y;
}

SADateTime JulianToSADateTime(int32_t day) {
  vkt::ole::Parts p;
  if (day == 0 || !DayParts(day, &p)) return SADateTime();
  return SADateTime(p.year, p.month, p.day, 0, 0, 0);
}

SADateTime TimeToSADateTime(int32_t time) {
  if (time < 0 || time >= 86400) return SADateTime();
  std::tm tm{};
  tm.tm_hour = time / 3600;
  tm.tm_min = time % 3600 / 60;
  tm.tm_sec = time % 3600 % 60;
  tm.tm_mday = 1;
  return SADateTime(tm);
}

int32_t SADateTimeToJulian(SADateTime d) {
  if (d.GetYear() == 0 || d.GetMonth() == 0 || d.GetDay() == 0) return 0;
  const COleDateTime t(d.GetYear(), d.GetMonth(), d.GetDay(), 0, 0, 0);
  return t.IsValid() ? DateToJulian(t.m_dt, 0) : 0;
}

double SADateTimeToDate(SADateTime d) {
  if (d.GetYear() == 0 || d.GetMonth() == 0 || d.GetDay() == 0) return 0.0;
  return static_cast<double>(d);
}

int32_t SADateTimeToTime(SADateTime d) {
  const int64_t t = static_cast<int64_t>(d.GetHour()) * 3600 +
                    static_cast<int64_t>(d.GetMinute()) * 60 + d.GetSecond();
  return t < 0 || t > INT32_MAX ? 0 : static_cast<int32_t>(t);
}

SAString JulianToTmzString(int32_t day) {
  vkt::ole::Parts p;
  if (day == 0 || !DayParts(day, &p)) return SAString();
  char sign = '-';
  int oh = 0, om = 0;
  ZoneOffset(&sign, &oh, &om);
  SAString s;
  s.Format("%04d-%02d-%02dT00:00:00%c%02d:%02d", p.year, p.month, p.day, sign, oh, om);
  return s;
}

SAString DateToTmzString(double date) {
  vkt::ole::Parts p;
  if (date == 0.0 || !vkt::ole::Split(date, 1000000000LL, &p)) return SAString();
  char sign = '-';
  int oh = 0, om = 0;
  ZoneOffset(&sign, &oh, &om);
  SAString s;
  s.Format("%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", p.year, p.month, p.day,
           p.hour, p.minute, p.second, sign, oh, om);
  return s;
}

SAString TimeToString(int32_t time) {
  if (time < 0) return SAString();
  const int32_t hours = time / 3600;
  const int32_t minutes = (time - hours * 3600) / 60;
  const int32_t seconds = time - hours * 3600 - minutes * 60;
  SAString s;
  s.Format("%02d:%02d:%02d", hours, minutes, seconds);
  return s;
}

int32_t StringToTime(const char* text) {
  if (text == nullptr) return 0;
  const std::string copy(text, strnlen(text, 99));
  const std::string_view s = TrimBlanks(copy);
  std::string_view parts[3];
  const size_t first = s.find(':');
  parts[0] = s.substr(0, first);
  if (first != std::string_view::npos) {
    const std::string_view rest = s.substr(first + 1);
    const size_t second = rest.find(':');
    parts[1] = rest.substr(0, second);
    if (second != std::string_view::npos) parts[2] = rest.substr(second + 1);
  }
  int64_t v[3];
  for (int i = 0; i < 3; ++i) v[i] = Atoi(parts[i].substr(0, 20));
  const int64_t total = v[0] * 3600 + v[1] * 60 + v[2];
  return total < 0 || total > INT32_MAX ? 0 : static_cast<int32_t>(total);
}

int32_t JsonStringToJulian(CkJsonObject* json, const char* path) {
  const COleDateTime t = JsonDateTime(json, path);
  return t.IsValid() ? DateToJulian(t.m_dt, 0) : 0;
}

double JsonStringToDate(CkJsonObject* json, const char* path) {
  const COleDateTime t = JsonDateTime(json, path);
  return t.IsValid() ? t.m_dt : 0.0;
}
