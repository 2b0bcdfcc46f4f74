#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "input/TimeParts.h"

namespace host {

// A strftime format (Apache's %{format}t) turned into a reader of the times it writes.
// Numbers are read as strftime writes them in the C locale; names of months and days in
// English. %Z reads a zone name: UTC and GMT make the time UTC, any other name leaves it on
// this machine's clock.
class TimePattern {
 public:
  // Throws FormatError at the offending conversion; `offset` is the position of the
  // format's first byte in the whole format string.
  static TimePattern Compile(std::string_view format, size_t offset);

  // Reads the time at text[at] and moves `at` past it.
  bool Read(std::string_view text, size_t &at, TimeParts &parts) const;

 private:
  enum class Piece : uint8_t {
    kLiteral,
    kYear,       // %Y
    kShortYear,  // %y: 69-99 are 1969-1999, 00-68 are 2000-2068
    kMonth,
    kMonthName,
    kDay,
    kSpacedDay,  // %e: " 5"
    kHour,
    kHour12,
    kMinute,
    kSecond,
    kAmPm,
    kDayName,
    kOffset,
    kZoneName,
    kEpoch,
    kSkipDigits,  // week day and week numbers, day of the year, century: read, not used
  };
  struct Step {
    Piece piece;
    char literal;
  };

  void Add(std::string_view conversion, size_t at);

  std::vector<Step> steps_;
};

}  // namespace host
