#include "base/TimeStamp.h"

#include <time.h>

#include <cstdio>

#include "DateTime.h"

namespace host {

namespace {

constexpr int64_t kDaysFrom1899To1970 = 25569;

// Exactly `count` decimal digits at the front of text.
bool TakeDigits(std::string_view &text, size_t count, int &value) {
  if (text.size() < count) return false;
  value = 0;
  for (size_t i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  text.remove_prefix(count);
  return true;
}

bool TakeChar(std::string_view &text, char expected) {
  if (text.empty() || text.front() != expected) return false;
  text.remove_prefix(1);
  return true;
}

// "Z", or "+hh:mm" / "-hh:mm", as the whole rest of the text: the offset in seconds east.
std::optional<int> ReadOffset(std::string_view text) {
  if (text == "Z" || text == "z") return 0;
  if (text.size() != 6 || (text[0] != '+' && text[0] != '-')) return std::nullopt;
  const int sign = text[0] == '-' ? -1 : 1;
  text.remove_prefix(1);
  int hours = 0, minutes = 0;
  if (!TakeDigits(text, 2, hours) || !TakeChar(text, ':') || !TakeDigits(text, 2, minutes) ||
      hours > 23 || minutes > 59) {
    return std::nullopt;
  }
  return sign * (hours * 3600 + minutes * 60);
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

std::string FormatTimeStamp(int64_t unixSeconds) {
  const time_t time = static_cast<time_t>(unixSeconds);
  tm local{};
  // Beyond what the C library can break down: the plain seconds, which ReadTimeStamp's readers
  // (the shield record) also take.
  if (localtime_r(&time, &local) == nullptr) return std::to_string(unixSeconds);
  const long offset = local.tm_gmtoff;
  const long east = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, offset < 0 ? '-' : '+', east / 3600, east / 60 % 60);
  return text;
}

std::optional<int64_t> ReadTimeStamp(std::string_view text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!TakeDigits(text, 4, year) || !TakeChar(text, '-') || !TakeDigits(text, 2, month) ||
      !TakeChar(text, '-') || !TakeDigits(text, 2, day) || !TakeChar(text, 'T') ||
      !TakeDigits(text, 2, hour) || !TakeChar(text, ':') || !TakeDigits(text, 2, minute) ||
      !TakeChar(text, ':') || !TakeDigits(text, 2, second)) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 60) {
    return std::nullopt;
  }
  if (TakeChar(text, '.')) {
    size_t digits = 0;
    while (digits < text.size() && digits < 9 && text[digits] >= '0' && text[digits] <= '9')
      ++digits;
    if (digits == 0) return std::nullopt;
    text.remove_prefix(digits);
  }
  const std::optional<int> offset = ReadOffset(text);
  if (!offset) return std::nullopt;
  const int64_t days = common::DaysFromCivil(year, month, day) - kDaysFrom1899To1970;
  return days * 86400 + hour * 3600 + minute * 60 + second - *offset;
}

}  // namespace host
