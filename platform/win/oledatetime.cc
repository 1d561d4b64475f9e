#include "win/oledatetime.h"

#include <cmath>
#include <cstdio>

#include "win/services.h"

namespace vkt::ole {

bool IsLeap(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int64_t year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Howard Hinnant's days-from-civil over 400-year eras, which keeps the
// arithmetic exact for any year, negative ones included.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  // Bring the month into 1..12 first, carrying into the year.
  int64_t mm = static_cast<int64_t>(m) - 1;
  y += mm >= 0 ? mm / 12 : -((11 - mm) / 12);
  mm = ((mm % 12) + 12) % 12;
  int64_t month = mm + 1;
  y -= month <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = (month + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (m <= 2);
  *month = m;
  *day = d;
}

namespace {

// 30 December 1899 in days from 1970-01-01.
const int64_t kEpoch = DaysFromCivil(1899, 12, 30);
const int64_t kMinDay = DaysFromCivil(100, 1, 1) - kEpoch;     // -657434
const int64_t kMaxDay = DaysFromCivil(9999, 12, 31) - kEpoch;  // 2958465
constexpr int64_t kNanosPerDay = 86400LL * 1000000000LL;

}  // namespace

double ToLinear(DATE d) {
  if (d >= 0) return d;
  const double whole = std::ceil(d);
  return whole - (d - whole);
}

DATE FromLinear(double linear) {
  if (linear >= 0) return linear;
  const double whole = std::floor(linear);
  return whole + (whole - linear);
}

bool InRange(DATE d) {
  if (!std::isfinite(d)) return false;
  const double whole = std::trunc(d);
  return whole >= static_cast<double>(kMinDay) &&
         whole <= static_cast<double>(kMaxDay);
}

bool FromParts(int year, int month, int day, int hour, int minute, int second,
               DATE* out) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59) {
    return false;
  }
  const double days = static_cast<double>(DaysFromCivil(year, month, day) - kEpoch);
  const double time = (hour * 3600 + minute * 60 + second) / 86400.0;
  // Before the epoch the time is the magnitude of the fraction.
  *out = days >= 0 ? days + time : days - time;
  return true;
}

bool Split(DATE d, int64_t unit_ns, Parts* out) {
  if (!InRange(d) || unit_ns <= 0) return false;
  const double whole = std::trunc(d);
  int64_t index = static_cast<int64_t>(whole);  // calendar day from the epoch
  const double frac = std::fabs(d - whole);
  int64_t ns = std::llround(frac * (static_cast<double>(kNanosPerDay) /
                                    static_cast<double>(unit_ns))) * unit_ns;
  if (ns >= kNanosPerDay) {  // rounded up to the next midnight
    ns -= kNanosPerDay;
    ++index;
    if (index > kMaxDay) return false;
  }
  int64_t y = 0;
  int m = 0, dd = 0;
  CivilFromDays(index + kEpoch, &y, &m, &dd);
  const int64_t secs = ns / 1000000000LL;
  out->year = static_cast<int>(y);
  out->month = m;
  out->day = dd;
  out->hour = static_cast<int>(secs / 3600);
  out->minute = static_cast<int>(secs % 3600 / 60);
  out->second = static_cast<int>(secs % 60);
  out->nanos = static_cast<int32_t>(ns % 1000000000LL);
  // 30 December 1899 was a Saturday.
  out->day_of_week = static_cast<int>(((index % 7) + 7 + 6) % 7);
  out->day_of_year = static_cast<int>(index + kEpoch - DaysFromCivil(y, 1, 1) + 1);
  return true;
}

}  // namespace vkt::ole

namespace {

constexpr int64_t kSecond = 1000000000LL;

// Span parts from the total rounded to the second, so 0.99999999 of a day
// reads as 1 day, not 23:59:59 and a fraction.
int64_t RoundedSeconds(double span_days) {
  const double s = span_days * 86400.0;
  if (!std::isfinite(s) || std::fabs(s) > 9.0e18) return 0;
  return std::llround(s);
}

const char* const kDayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};
const char* const kMonthNames[12] = {"January", "February", "March",     "April",
                                     "May",     "June",     "July",      "August",
                                     "September", "October", "November", "December"};

}  // namespace

// --- COleDateTimeSpan ------------------------------------------------------

COleDateTimeSpan::COleDateTimeSpan(int32_t days, int hours, int minutes,
                                   int seconds)
    : m_span(days + (hours * 3600.0 + minutes * 60.0 + seconds) / 86400.0) {}

int32_t COleDateTimeSpan::GetDays() const {
  return static_cast<int32_t>(RoundedSeconds(m_span) / 86400);
}
int COleDateTimeSpan::GetHours() const {
  return static_cast<int>(RoundedSeconds(m_span) / 3600 % 24);
}
int COleDateTimeSpan::GetMinutes() const {
  return static_cast<int>(RoundedSeconds(m_span) / 60 % 60);
}
int COleDateTimeSpan::GetSeconds() const {
  return static_cast<int>(RoundedSeconds(m_span) % 60);
}

COleDateTimeSpan COleDateTimeSpan::operator+(const COleDateTimeSpan& o) const {
  COleDateTimeSpan r(m_span + o.m_span);
  if (m_status != valid || o.m_status != valid) r.m_status = invalid;
  return r;
}

COleDateTimeSpan COleDateTimeSpan::operator-(const COleDateTimeSpan& o) const {
  COleDateTimeSpan r(m_span - o.m_span);
  if (m_status != valid || o.m_status != valid) r.m_status = invalid;
  return r;
}

COleDateTimeSpan COleDateTimeSpan::operator-() const {
  COleDateTimeSpan r(-m_span);
  r.m_status = m_status;
  return r;
}

// --- COleDateTime -----------------------------------------------------------

COleDateTime::COleDateTime(DATE d)
    : m_dt(d), m_status(vkt::ole::InRange(d) ? valid : invalid) {}

COleDateTime::COleDateTime(int year, int month, int day, int hour, int minute,
                           int second) {
  SetDateTime(year, month, day, hour, minute, second);
}

COleDateTime::COleDateTime(int64_t unix_seconds) {
  std::tm tm{};
  if (!vkt::services().LocalTime(unix_seconds, &tm)) {
    m_dt = 0.0;
    m_status = invalid;
    return;
  }
  SetDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
              tm.tm_min, tm.tm_sec > 59 ? 59 : tm.tm_sec);  // leap second
}

COleDateTime COleDateTime::GetCurrentTime() {
  const int64_t micros = vkt::services().NowMicros();
  // Floor division: a clock before 1970 still gives the second it is in.
  int64_t secs = micros / 1000000;
  if (micros % 1000000 < 0) --secs;
  return COleDateTime(secs);
}

int COleDateTime::SetDateTime(int year, int month, int day, int hour,
                              int minute, int second) {
  DATE d = 0.0;
  if (!vkt::ole::FromParts(year, month, day, hour, minute, second, &d)) {
    m_dt = 0.0;
    m_status = invalid;
    return 1;
  }
  m_dt = d;
  m_status = valid;
  return 0;
}

int COleDateTime::SetDate(int year, int month, int day) {
  return SetDateTime(year, month, day, 0, 0, 0);
}

int COleDateTime::SetTime(int hour, int minute, int second) {
  return SetDateTime(1899, 12, 30, hour, minute, second);
}

namespace {

bool SplitValid(const COleDateTime& t, vkt::ole::Parts* p) {
  return t.m_status == COleDateTime::valid && vkt::ole::Split(t.m_dt, kSecond, p);
}

}  // namespace

int COleDateTime::GetYear() const {
  vkt::ole::Parts p;
  return SplitValid(*this, &p) ? p.year : -1;
}
int COleDateTime::GetMonth() const {
  vkt::ole::Parts p;
  return SplitValid(*this, &p) ? p.month : -1;
}
int COleDateTime::GetDay() const {
  vkt::ole::Parts p;
  return SplitValid(*this, &p) ? p.day : -1;
}
int COleDateTime::GetHour() const {
  vkt::ole::Parts p;
  return SplitValid(*this, &p) ? p.hour : -1;
}
int COleDateTime::GetMinute() const {
  vkt::ole::Parts p;
  return SplitValid(*this, &p) ? p.minute : -1;
}
int COleDateTime::GetSecond() const {
  vkt::ole::Parts p;
  return SplitValid(*this, &p) ? p.second : -1;
}
int COleDateTime::GetDayOfWeek() const {
  vkt::ole::Parts p;
  return SplitValid(*this, &p) ? p.day_of_week + 1 : -1;
}
int COleDateTime::GetDayOfYear() const {
  vkt::ole::Parts p;
  return SplitValid(*this, &p) ? p.day_of_year : -1;
}

bool COleDateTime::GetAsTm(std::tm* out) const {
  vkt::ole::Parts p;
  if (out == nullptr || !SplitValid(*this, &p)) return false;
  *out = std::tm{};
  out->tm_year = p.year - 1900;
  out->tm_mon = p.month - 1;
  out->tm_mday = p.day;
  out->tm_hour = p.hour;
  out->tm_min = p.minute;
  out->tm_sec = p.second;
  out->tm_wday = p.day_of_week;
  out->tm_yday = p.day_of_year - 1;
  out->tm_isdst = -1;
  return true;
}

std::string COleDateTime::Format(const char* format) const {
  vkt::ole::Parts p;
  if (format == nullptr || !SplitValid(*this, &p)) return std::string();
  std::string out;
  char num[16];
  for (const char* f = format; *f != '\0'; ++f) {
    if (*f != '%') {
      out += *f;
      continue;
    }
    ++f;
    bool no_pad = false;
    if (*f == '#') {
      no_pad = true;
      ++f;
    }
    auto two = [&](int v) {
      std::snprintf(num, sizeof num, no_pad ? "%d" : "%02d", v);
      out += num;
    };
    switch (*f) {
      case 'd': two(p.day); break;
      case 'm': two(p.month); break;
      case 'y': two(p.year % 100); break;
      case 'H': two(p.hour); break;
      case 'I': two(p.hour % 12 == 0 ? 12 : p.hour % 12); break;
      case 'M': two(p.minute); break;
      case 'S': two(p.second); break;
      case 'Y':
        std::snprintf(num, sizeof num, no_pad ? "%d" : "%04d", p.year);
        out += num;
        break;
      case 'j':
        std::snprintf(num, sizeof num, no_pad ? "%d" : "%03d", p.day_of_year);
        out += num;
        break;
      case 'w': out += static_cast<char>('0' + p.day_of_week); break;
      case 'p': out += p.hour < 12 ? "AM" : "PM"; break;
      case 'a': out.append(kDayNames[p.day_of_week], 3); break;
      case 'A': out += kDayNames[p.day_of_week]; break;
      case 'b': out.append(kMonthNames[p.month - 1], 3); break;
      case 'B': out += kMonthNames[p.month - 1]; break;
      case '%': out += '%'; break;
      case '\0': return out;  // a lone '%' at the end
      default:  // unknown: kept as written
        out += '%';
        out += *f;
        break;
    }
  }
  return out;
}

COleDateTimeSpan COleDateTime::operator-(const COleDateTime& o) const {
  COleDateTimeSpan r(vkt::ole::ToLinear(m_dt) - vkt::ole::ToLinear(o.m_dt));
  if (m_status != valid || o.m_status != valid) r.m_status = COleDateTimeSpan::invalid;
  return r;
}

COleDateTime COleDateTime::operator+(const COleDateTimeSpan& s) const {
  COleDateTime r(vkt::ole::FromLinear(vkt::ole::ToLinear(m_dt) + s.m_span));
  if (m_status != valid || s.m_status != COleDateTimeSpan::valid) r.m_status = invalid;
  return r;
}

COleDateTime COleDateTime::operator-(const COleDateTimeSpan& s) const {
  return *this + (-s);
}

bool COleDateTime::operator==(const COleDateTime& o) const {
  return m_status == o.m_status && m_dt == o.m_dt;
}

bool COleDateTime::operator<(const COleDateTime& o) const {
  return vkt::ole::ToLinear(m_dt) < vkt::ole::ToLinear(o.m_dt);
}
