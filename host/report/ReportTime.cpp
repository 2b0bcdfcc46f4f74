#include "report/ReportTime.h"

#include <time.h>

#include <cstdio>
#include <iterator>

#include "DateTime.h"
#include "base/TimeStamp.h"

namespace report {

namespace {

constexpr int64_t kSecond = 1000;
constexpr int64_t kMinute = 60 * kSecond;
constexpr int64_t kHour = 60 * kMinute;
constexpr int64_t kDay = 24 * kHour;

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

struct Civil {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

std::optional<Moment> MomentFromCivil(const Civil &c) {
  if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > DaysInMonth(c.year, c.month) ||
      c.hour > 23 || c.minute > 59 || c.second > 59 || c.millisecond > 999) {
    return std::nullopt;
  }
  return common::DaysFromCivil(c.year, c.month, c.day) * kDay + c.hour * kHour +
         c.minute * kMinute + c.second * kSecond + c.millisecond;
}

// Reads 1 to maxDigits decimal digits at the front of text.
bool TakeNumber(std::string_view &text, size_t maxDigits, int &value) {
  size_t n = 0;
  value = 0;
  while (n < text.size() && n < maxDigits && text[n] >= '0' && text[n] <= '9') {
    value = value * 10 + (text[n] - '0');
    ++n;
  }
  text.remove_prefix(n);
  return n > 0;
}

bool Take(std::string_view &text, std::string_view expected) {
  if (!text.starts_with(expected)) return false;
  text.remove_prefix(expected.size());
  return true;
}

// " AM" or " PM" after an hour of the 12-hour clock.
bool TakeMeridiem(std::string_view &text, int &hour) {
  const bool am = Take(text, " AM"), pm = !am && Take(text, " PM");
  if (!am && !pm) return true;
  if (hour < 1 || hour > 12) return false;
  hour = hour % 12 + (pm ? 12 : 0);
  return true;
}

}  // namespace

std::optional<Moment> MomentFromSerial(std::string_view digits) {
  if (digits.empty() || digits.size() > 15) return std::nullopt;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  const std::string padded = std::string(15 - digits.size(), '0') + std::string(digits);
  auto field = [&](size_t first, size_t count) { return std::stoi(padded.substr(first, count)); };
  const int twoDigitYear = field(0, 2);
  Civil civil{twoDigitYear < 30 ? 2000 + twoDigitYear : 1900 + twoDigitYear,
              field(2, 2),
              field(4, 2),
              field(6, 2),
              field(8, 2),
              field(10, 2),
              field(12, 3)};
  return MomentFromCivil(civil);
}

std::optional<Moment> MomentFromDateText(std::string_view text) {
  Civil civil;
  if (!TakeNumber(text, 2, civil.month) || !Take(text, "/") || !TakeNumber(text, 2, civil.day) ||
      !Take(text, "/") || !TakeNumber(text, 4, civil.year) || civil.year < 100) {
    return std::nullopt;
  }
  if (Take(text, " ")) {
    if (!TakeNumber(text, 2, civil.hour) || !Take(text, ":") ||
        !TakeNumber(text, 2, civil.minute) || !Take(text, ":") ||
        !TakeNumber(text, 2, civil.second) || !TakeMeridiem(text, civil.hour)) {
      return std::nullopt;
    }
  }
  if (!text.empty()) return std::nullopt;
  return MomentFromCivil(civil);
}

std::optional<int64_t> MillisecondsFromElapsedText(std::string_view text) {
  struct Unit {
    std::string_view name;
    int64_t milliseconds;
  };
  static constexpr Unit kUnits[] = {{"yrs", 365 * kDay}, {"yr", 365 * kDay}, {"mths", 30 * kDay},
                                    {"mth", 30 * kDay},  {"dys", kDay},      {"dy", kDay},
                                    {"ms", 1},           {"h", kHour},       {"m", kMinute},
                                    {"s", kSecond}};
  int64_t total = 0;
  while (!text.empty()) {
    int count = 0;
    if (!TakeNumber(text, 4, count)) return std::nullopt;
    const Unit *unit = nullptr;
    for (const Unit &candidate : kUnits) {
      if (text.starts_with(candidate.name)) {
        unit = &candidate;
        break;
      }
    }
    if (unit == nullptr) return std::nullopt;
    text.remove_prefix(unit->name.size());
    total += count * unit->milliseconds;
    if (!text.empty() && !Take(text, ", ")) return std::nullopt;
  }
  return total;
}

std::optional<Moment> MomentFromTimeStamp(std::string_view text) {
  const std::optional<int64_t> instant = host::ReadTimeStamp(text);
  if (!instant) return std::nullopt;
  const time_t seconds = static_cast<time_t>(*instant);
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return std::nullopt;
  return MomentFromCivil(Civil{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                               local.tm_min, local.tm_sec, 0});
}

std::string FormatMoment(Moment moment) {
  const int64_t seconds = FloorDiv(moment, kSecond);
  const common::DateParts parts = common::SplitDateTime(static_cast<double>(seconds) / 86400.0);
  // The offset this machine's zone has at that local time (in the hour a clock is put back, the
  // one the C library picks).
  tm local{};
  local.tm_year = parts.year - 1900;
  local.tm_mon = parts.month - 1;
  local.tm_mday = parts.day;
  local.tm_hour = parts.hour;
  local.tm_min = parts.minute;
  local.tm_sec = parts.second;
  local.tm_isdst = -1;
  const long offset = mktime(&local) == static_cast<time_t>(-1) ? 0 : local.tm_gmtoff;
  const long east = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", parts.year,
                parts.month, parts.day, parts.hour, parts.minute, parts.second,
                offset < 0 ? '-' : '+', east / 3600, east / 60 % 60);
  return text;
}

std::string FormatTimeOfDay(Moment moment) {
  return FormatMoment(moment).substr(11, 8);
}

std::string FormatDuration(int64_t milliseconds) {
  struct Unit {
    int64_t size;
    const char *name;
  };
  static constexpr Unit kUnits[] = {{kDay, "d"}, {kHour, "h"}, {kMinute, "m"}, {kSecond, "s"}};
  const std::string sign = milliseconds < 0 ? "-" : "";
  const int64_t ms = milliseconds < 0 ? -milliseconds : milliseconds;
  // Two units at most, the larger first: "2d 3h", "1h", "4m 10s".
  for (size_t i = 0; i + 1 < std::size(kUnits); ++i) {
    const Unit &unit = kUnits[i], &next = kUnits[i + 1];
    if (ms < unit.size) continue;
    std::string text = sign + std::to_string(ms / unit.size) + unit.name;
    const int64_t rest = ms % unit.size / next.size;
    return rest == 0 ? text : text + " " + std::to_string(rest) + next.name;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%s%gs", sign.c_str(), static_cast<double>(ms) / kSecond);
  return text;
}

}  // namespace report
