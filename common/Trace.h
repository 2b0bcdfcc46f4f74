#pragma once

#include <charconv>
#include <concepts>
#include <string>
#include <string_view>

#include "Convert.h"
#include "Logs.h"
#include "clsConfig.h"

namespace common {

// A number traced in the general number form with the given significant digits (15 for a
// double, 7 for a single), formatted only when its line is written.
struct TracedNumber {
  double value;
  int significantDigits;
};

inline void AppendTracePart(std::string &line, std::string_view text) {
  line.append(text);
}

inline void AppendTracePart(std::string &line, TracedNumber number) {
  line.append(GeneralNumber(number.value, number.significantDigits));
}

// Counts and positions print as decimal numbers; a char or bool would be a mistake, so they
// match nothing here and do not compile.
template <class Number>
requires std::integral<Number> &&(!std::same_as<Number, bool>)&&(
    !std::same_as<Number, char>)void AppendTracePart(std::string &line, Number value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  line.append(digits, result.ptr);
}

// Appends one line, made of the given pieces, to the trace log when the settings have tracing
// on. The switch is tested here, so no caller can forget it, and the pieces are only put
// together once the line is known to be written: a line that is off costs one test.
template <class... Parts>
void WriteTrace(const clsConfig &config, const Parts &...parts) {
  if (!config.Trace()) return;
  std::string line;
  (AppendTracePart(line, parts), ...);
  AppendTrace(line);
}

}  // namespace common
