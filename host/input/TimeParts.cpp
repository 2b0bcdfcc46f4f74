#include "input/TimeParts.h"

#include <ctime>

#include "input/LogParser.h"

namespace host {

namespace {

// Four-digit years: a serial keeps two digits of them.
constexpr int kFirstYear = 1000, kLastYear = 9999;
constexpr int64_t kLastMillisecond = 253402300799999;  // 9999-12-31 23:59:59.999 UTC

int64_t FloorDiv(int64_t value, int64_t divisor) {
  int64_t quotient = value / divisor;
  return quotient * divisor > value ? quotient - 1 : quotient;
}

// This machine's offset from UTC, in minutes, at an instant.
int LocalOffsetMinutes(int64_t seconds) {
  const time_t instant = static_cast<time_t>(seconds);
  struct tm local {};
  if (localtime_r(&instant, &local) == nullptr) return 0;
  return static_cast<int>(local.tm_gmtoff / 60);
}

template <class T>
void Take(T &into, T from, T unset) {
  if (from != unset) into = from;
}

}  // namespace

void TimeParts::Merge(const TimeParts &other) {
  Take(year, other.year, -1);
  Take(month, other.month, -1);
  Take(day, other.day, -1);
  Take(hour, other.hour, -1);
  Take(minute, other.minute, -1);
  Take(second, other.second, -1);
  Take(millisecond, other.millisecond, -1);
  if (other.hour12 != -1) hour12 = other.hour12, pm = other.pm;
  if (other.zone != Zone::kNone) zone = other.zone, zoneMinutes = other.zoneMinutes;
  if (other.hasEpoch) hasEpoch = true, epochMilliseconds = other.epochMilliseconds;
}

bool LocalTimeFromEpoch(int64_t milliseconds, LogTime &time) {
  if (milliseconds < 0 || milliseconds > kLastMillisecond) return false;
  const time_t seconds = static_cast<time_t>(FloorDiv(milliseconds, 1000));
  struct tm local {};
  if (localtime_r(&seconds, &local) == nullptr) return false;
  time.year = local.tm_year + 1900;
  time.month = local.tm_mon + 1;
  time.day = local.tm_mday;
  time.hour = local.tm_hour;
  time.minute = local.tm_min;
  time.second = local.tm_sec;
  time.millisecond = static_cast<int>(milliseconds - static_cast<int64_t>(seconds) * 1000);
  time.zoneMinutes = static_cast<int>(local.tm_gmtoff / 60);
  return time.year >= kFirstYear && time.year <= kLastYear;
}

bool TimeParts::Finish(LogTime &time) const {
  if (hasEpoch) {
    // "%{sec}t.%{msec_frac}t": whole seconds in one field, their fraction in the next.
    int64_t instant = epochMilliseconds;
    if (millisecond > 0 && instant % 1000 == 0) instant += millisecond;
    return LocalTimeFromEpoch(instant, time);
  }
  int hours = hour;
  if (hour12 != -1) {
    if (hour12 < 1 || hour12 > 12) return false;
    hours = hour12 % 12 + (pm ? 12 : 0);
  }
  if (year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1 || day > 31 ||
      hours < 0 || hours > 23 || minute < 0 || minute > 59 || second > 60) {
    return false;
  }
  time.year = year;
  time.month = month;
  time.day = day;
  time.hour = hours;
  time.minute = minute;
  time.second = second < 0 ? 0 : second;
  time.millisecond = millisecond < 0 ? 0 : millisecond;
  switch (zone) {
    case Zone::kOffset:
      time.zoneMinutes = zoneMinutes;
      return true;
    case Zone::kUtc:
      time.zoneMinutes = 0;
      return LocalTimeFromEpoch(time.UtcMilliseconds(), time);
    case Zone::kNone: {
      // The wall clock of this machine: its offset at about that instant, for the order of
      // lines from several logs.
      time.zoneMinutes = 0;
      const int64_t wall = FloorDiv(time.UtcMilliseconds(), 1000);
      time.zoneMinutes = LocalOffsetMinutes(wall - LocalOffsetMinutes(wall) * 60);
      return true;
    }
  }
  return false;
}

}  // namespace host
