#include "DateTime.h"

#include <cmath>
#include <cstdio>

namespace common {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
// Days from 1970-01-01 back to 1899-12-30.
constexpr int64_t kUnixEpochSerialDays = 25569;

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Days since 1970-01-01 of a civil date (Howard Hinnant's algorithm).
int64_t UnixDaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = FloorDiv(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromUnixDays(int64_t z, int &year, int &month, int &day) {
  z += 719468;
  const int64_t era = FloorDiv(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// Seconds since 1899-12-30 00:00, to the nearest second.
int64_t ToSeconds(DateTime value) {
  return static_cast<int64_t>(std::llround(value * static_cast<double>(kSecondsPerDay)));
}

int Hour12(int hour) {
  return hour % 12 == 0 ? 12 : hour % 12;
}

}  // namespace

int64_t DaysFromCivil(int64_t year, int month, int day) {
  return UnixDaysFromCivil(year, month, day) + kUnixEpochSerialDays;
}

DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second) {
  // Months carry into years; days, hours, minutes and seconds carry through the day count.
  int64_t months = static_cast<int64_t>(month) - 1;
  int64_t y = year + FloorDiv(months, 12);
  int m = static_cast<int>(months - FloorDiv(months, 12) * 12) + 1;
  int64_t days = DaysFromCivil(y, m, 1) + (static_cast<int64_t>(day) - 1);
  int64_t seconds = days * kSecondsPerDay + static_cast<int64_t>(hour) * 3600 +
                    static_cast<int64_t>(minute) * 60 + second;
  return static_cast<double>(seconds) / static_cast<double>(kSecondsPerDay);
}

DateParts SplitDateTime(DateTime value) {
  const int64_t total = ToSeconds(value);
  const int64_t days = FloorDiv(total, kSecondsPerDay);
  const int64_t secondOfDay = total - days * kSecondsPerDay;
  DateParts parts;
  CivilFromUnixDays(days - kUnixEpochSerialDays, parts.year, parts.month, parts.day);
  parts.hour = static_cast<int>(secondOfDay / 3600);
  parts.minute = static_cast<int>(secondOfDay / 60 % 60);
  parts.second = static_cast<int>(secondOfDay % 60);
  return parts;
}

DateTime AddSeconds(DateTime value, double seconds) {
  return value + seconds / static_cast<double>(kSecondsPerDay);
}

int64_t WholeSecondsBetween(DateTime from, DateTime to) {
  return ToSeconds(to) - ToSeconds(from);
}

std::string FormatGeneralDate(DateTime value) {
  const DateParts p = SplitDateTime(value);
  char text[64];
  if (p.hour == 0 && p.minute == 0 && p.second == 0) {
    std::snprintf(text, sizeof text, "%d/%d/%d", p.month, p.day, p.year);
  } else {
    std::snprintf(text, sizeof text, "%d/%d/%d %d:%02d:%02d %s", p.month, p.day, p.year,
                  Hour12(p.hour), p.minute, p.second, p.hour < 12 ? "AM" : "PM");
  }
  return text;
}

std::string FormatPaddedDate12(DateTime value) {
  const DateParts p = SplitDateTime(value);
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d %s", p.month, p.day, p.year,
                Hour12(p.hour), p.minute, p.second, p.hour < 12 ? "AM" : "PM");
  return text;
}

std::string FormatPaddedDate24(DateTime value) {
  const DateParts p = SplitDateTime(value);
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", p.month, p.day, p.year, p.hour,
                p.minute, p.second);
  return text;
}

}  // namespace common
