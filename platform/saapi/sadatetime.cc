#include "saapi/sadatetime.h"

#include "win/oledatetime.h"
#include "win/services.h"

SADateTime::SADateTime(int year, int month, int day, int hour, int minute,
                       int second)
    : year_(year), month_(month), day_(day), hour_(hour), minute_(minute),
      second_(second) {}

SADateTime::SADateTime(const std::tm& tm)
    : year_(tm.tm_year + 1900), month_(tm.tm_mon + 1), day_(tm.tm_mday),
      hour_(tm.tm_hour), minute_(tm.tm_min), second_(tm.tm_sec) {}

SADateTime::SADateTime(double ole_date) {
  vkt::ole::Parts p;
  // Milliseconds: finer digits of a DATE are noise at its precision.
  if (!vkt::ole::Split(ole_date, 1000000, &p)) return;
  year_ = p.year;
  month_ = p.month;
  day_ = p.day;
  hour_ = p.hour;
  minute_ = p.minute;
  second_ = p.second;
  fraction_ = static_cast<uint32_t>(p.nanos);
}

SADateTime SADateTime::currentDateTime() {
  const int64_t micros = vkt::services().NowMicros();
  int64_t secs = micros / 1000000;
  int64_t rest = micros % 1000000;
  if (rest < 0) {
    --secs;
    rest += 1000000;
  }
  std::tm tm{};
  if (!vkt::services().LocalTime(secs, &tm)) return SADateTime();
  SADateTime t(tm);
  if (t.second_ > 59) t.second_ = 59;  // leap second
  t.fraction_ = static_cast<uint32_t>(rest * 1000);
  return t;
}

bool SADateTime::SetFraction(uint32_t nanoseconds) {
  if (nanoseconds >= 1000000000u) return false;
  fraction_ = nanoseconds;
  return true;
}

int SADateTime::GetDayOfWeek() const {
  DATE d = 0.0;
  if (!vkt::ole::FromParts(year_, month_, day_, 0, 0, 0, &d)) return 0;
  return COleDateTime(d).GetDayOfWeek();
}

SADateTime::operator double() const {
  DATE d = 0.0;
  if (!vkt::ole::FromParts(year_, month_, day_, hour_, minute_, second_, &d)) {
    return 0.0;
  }
  const double extra = fraction_ / 86400e9;
  // Before the epoch the time of day is the magnitude of the fraction.
  return d >= 0 ? d + extra : d - extra;
}

SADateTime::operator std::tm() const {
  std::tm tm{};
  tm.tm_year = year_ - 1900;
  tm.tm_mon = month_ - 1;
  tm.tm_mday = day_;
  tm.tm_hour = hour_;
  tm.tm_min = minute_;
  tm.tm_sec = second_;
  tm.tm_isdst = -1;
  DATE d = 0.0;
  if (vkt::ole::FromParts(year_, month_, day_, 0, 0, 0, &d)) {
    COleDateTime t(d);
    tm.tm_wday = t.GetDayOfWeek() - 1;
    tm.tm_yday = t.GetDayOfYear() - 1;
  }
  return tm;
}

bool SADateTime::operator==(const SADateTime& o) const {
  return year_ == o.year_ && month_ == o.month_ && day_ == o.day_ &&
         hour_ == o.hour_ && minute_ == o.minute_ && second_ == o.second_ &&
         fraction_ == o.fraction_;
}
