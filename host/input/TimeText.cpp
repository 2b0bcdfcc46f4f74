#include "input/TimeText.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "AsciiCase.h"
#include "Convert.h"

namespace host {

namespace {

constexpr std::string_view kMonths[] = {"January",   "February", "March",    "April",
                                        "May",       "June",     "July",     "August",
                                        "September", "October",  "November", "December"};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Exactly `count` digits.
bool Digits(std::string_view text, size_t &at, size_t count, int &value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t end = at + count; at < end; ++at) {
    if (!IsDigit(text[at])) return false;
    value = value * 10 + (text[at] - '0');
  }
  return true;
}

bool Char(std::string_view text, size_t &at, char expected) {
  if (at >= text.size() || text[at] != expected) return false;
  ++at;
  return true;
}

// ".123456": the milliseconds of a fraction of any length (at least one digit).
bool Fraction(std::string_view text, size_t &at, int &millisecond) {
  size_t digits = 0;
  int value = 0;
  for (; at < text.size() && IsDigit(text[at]); ++at, ++digits) {
    if (digits < 3) value = value * 10 + (text[at] - '0');
  }
  for (size_t d = digits; d < 3; ++d) value *= 10;
  millisecond = value;
  return digits > 0;
}

// "+hhmm"; with colonOptional also "+hh:mm" and "+hh".
bool Offset(std::string_view text, size_t &at, bool colonOptional, TimeParts &parts) {
  if (at >= text.size() || (text[at] != '+' && text[at] != '-')) return false;
  const int sign = text[at++] == '-' ? -1 : 1;
  int hours = 0, minutes = 0;
  if (!Digits(text, at, 2, hours)) return false;
  if (colonOptional) {
    const bool colon = Char(text, at, ':');
    if ((colon || (at < text.size() && IsDigit(text[at]))) && !Digits(text, at, 2, minutes)) {
      return false;
    }
  } else if (!Digits(text, at, 2, minutes)) {
    return false;
  }
  if (hours > 23 || minutes > 59) return false;
  parts.zone = TimeParts::Zone::kOffset;
  parts.zoneMinutes = sign * (hours * 60 + minutes);
  return true;
}

bool Clock(std::string_view text, size_t &at, TimeParts &parts, bool secondsOptional) {
  if (!Digits(text, at, 2, parts.hour) || !Char(text, at, ':') ||
      !Digits(text, at, 2, parts.minute)) {
    return false;
  }
  parts.second = 0;
  if (!Char(text, at, ':')) return secondsOptional;
  if (!Digits(text, at, 2, parts.second)) return false;
  if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
    ++at;
    if (!Fraction(text, at, parts.millisecond)) return false;
  }
  return true;
}

// The month of a three-letter abbreviation at text[at] (case ignored), or 0. Every Common
// Log line has one: the three bytes are compared as one number.
int MonthAbbreviation(std::string_view text, size_t at) {
  if (at + 3 > text.size()) return 0;
  const auto lower = [&](size_t i) {
    return static_cast<uint32_t>(common::LowerAscii(text[at + i]));
  };
  const uint32_t key = lower(0) << 16 | lower(1) << 8 | lower(2);
  static constexpr uint32_t kKeys[] = {
      'j' << 16 | 'a' << 8 | 'n', 'f' << 16 | 'e' << 8 | 'b', 'm' << 16 | 'a' << 8 | 'r',
      'a' << 16 | 'p' << 8 | 'r', 'm' << 16 | 'a' << 8 | 'y', 'j' << 16 | 'u' << 8 | 'n',
      'j' << 16 | 'u' << 8 | 'l', 'a' << 16 | 'u' << 8 | 'g', 's' << 16 | 'e' << 8 | 'p',
      'o' << 16 | 'c' << 8 | 't', 'n' << 16 | 'o' << 8 | 'v', 'd' << 16 | 'e' << 8 | 'c'};
  for (int month = 0; month < 12; ++month) {
    if (kKeys[month] == key) return month + 1;
  }
  return 0;
}

}  // namespace

int ReadMonthName(std::string_view text, size_t &at) {
  if (const int month = MonthAbbreviation(text, at); month != 0) {
    // A full name starts with its abbreviation ("Sep" + "tember").
    const std::string_view rest = kMonths[month - 1].substr(3);
    if (common::EqualsIgnoreCase(text.substr(at + 3, rest.size()), rest)) at += rest.size();
    at += 3;
    return month;
  }
  return 0;
}

bool ReadClfTime(std::string_view text, size_t &at, TimeParts &parts) {
  if (!Digits(text, at, 2, parts.day) || !Char(text, at, '/')) return false;
  parts.month = MonthAbbreviation(text, at);
  at += 3;
  if (parts.month == 0 || !Char(text, at, '/') || !Digits(text, at, 4, parts.year) ||
      !Char(text, at, ':') || !Clock(text, at, parts, false)) {
    return false;
  }
  return Char(text, at, ' ') && Offset(text, at, false, parts);
}

bool ReadIsoTime(std::string_view text, size_t &at, TimeParts &parts) {
  if (!Digits(text, at, 4, parts.year) || at >= text.size()) return false;
  const char separator = text[at];
  if ((separator != '-' && separator != '/') || !Char(text, at, separator) ||
      !Digits(text, at, 2, parts.month) || !Char(text, at, separator) ||
      !Digits(text, at, 2, parts.day) || at >= text.size()) {
    return false;
  }
  if (text[at] != 'T' && text[at] != 't' && text[at] != ' ') return false;
  ++at;
  if (!Clock(text, at, parts, true)) return false;
  if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) {
    ++at;
    parts.zone = TimeParts::Zone::kUtc;
    return true;
  }
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    return Offset(text, at, true, parts);
  }
  parts.zone = TimeParts::Zone::kNone;
  return true;
}

bool ReadEpoch(std::string_view text, size_t &at, int unitsPerSecond, bool fraction,
               TimeParts &parts) {
  const size_t start = at;
  int64_t whole = 0;
  for (; at < text.size() && IsDigit(text[at]); ++at) {
    if (at - start >= 16) return false;  // beyond year 9999 in any unit flowdeck reads
    whole = whole * 10 + (text[at] - '0');
  }
  if (at == start) return false;
  int millisecond = 0;
  if (fraction && at < text.size() && text[at] == '.') {
    ++at;
    if (!Fraction(text, at, millisecond)) return false;
  }
  parts.hasEpoch = true;
  if (unitsPerSecond == 1) {
    if (whole > 253402300799) return false;
    parts.epochMilliseconds = whole * 1000 + millisecond;
  } else {
    parts.epochMilliseconds = whole / (unitsPerSecond / 1000);
  }
  return true;
}

bool ReadZoneOffset(std::string_view text, size_t &at, TimeParts &parts) {
  return Offset(text, at, true, parts);
}

bool ReadFraction(std::string_view text, size_t &at, int digits, TimeParts &parts) {
  int value = 0;
  if (!Digits(text, at, static_cast<size_t>(digits), value)) return false;
  for (int d = digits; d > 3; --d) value /= 10;
  parts.millisecond = value;
  return true;
}

bool ReadAnyTime(std::string_view text, TimeParts &parts) {
  size_t at = 0;
  TimeParts read;
  if (ReadIsoTime(text, at, read) && at == text.size()) {
    parts = read;
    return true;
  }
  at = 0;
  read = TimeParts();
  if (ReadClfTime(text, at, read) && at == text.size()) {
    parts = read;
    return true;
  }
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value) || value <= 0) {
    return false;
  }
  // Seconds until the year 5138, then milliseconds, microseconds and nanoseconds.
  const double milliseconds = value < 1e11   ? value * 1e3
                              : value < 1e14 ? value
                              : value < 1e17 ? value / 1e3
                                             : value / 1e6;
  if (milliseconds > 253402300799999.0) return false;
  parts = TimeParts();
  parts.hasEpoch = true;
  parts.epochMilliseconds = std::llround(milliseconds);
  return true;
}

}  // namespace host
