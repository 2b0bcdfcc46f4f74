#include "SnapshotText.h"

#include <cmath>
#include <cstdint>

#include "modKvGlobal.h"

namespace corvane {

namespace {

constexpr int64_t kDigitsBelowDay = 1'000'000'000;

// The milliseconds since midnight that a serial's time digits (HHnnssfff) stand for; false when
// the minutes or seconds are out of range, where the digits borrow differently.
bool TimeOfDay(int64_t digits, int64_t &milliseconds) {
  const int64_t ms = digits % 1000, s = digits / 1000 % 100, m = digits / 100'000 % 100,
                h = digits / 10'000'000;
  milliseconds = ((h * 60 + m) * 60 + s) * 1000 + ms;
  return m < 60 && s < 60;
}

}  // namespace

double ElapsedBetween(double from, double to) {
  // A first line (from nothing) or a late hit: no time, as ElapsedSerial has it.
  if (from == 0 || to == 0 || from > to) return 0;
  if (from > 0 && to < 1e15) {
    const auto start = static_cast<int64_t>(from), end = static_cast<int64_t>(to);
    int64_t startTime = 0, endTime = 0;
    if (static_cast<double>(start) == from && static_cast<double>(end) == to &&
        start / kDigitsBelowDay == end / kDigitsBelowDay &&
        TimeOfDay(start % kDigitsBelowDay, startTime) &&
        TimeOfDay(end % kDigitsBelowDay, endTime)) {
      // The same day and valid fields: the digits' order is the time's, and the field-by-field
      // difference with its borrows is the plain difference written in the same fields.
      const int64_t gap = endTime - startTime;
      return static_cast<double>(gap / 3'600'000 * 10'000'000 + gap / 60'000 % 60 * 100'000 +
                                 gap / 1000 % 60 * 1000 + gap % 1000);
    }
  }
  return common::ElapsedSerial(from, to);
}

void AppendWholeNumber(std::string &out, double value) {
  // A serial is as a rule a whole number below 10^15, which reads the same as an integer.
  if (value >= 0 && value < 1e15 && !std::signbit(value)) {
    const auto whole = static_cast<uint64_t>(value);
    if (static_cast<double>(whole) == value) {
      AppendNumber(out, whole);
      return;
    }
  }
  char digits[400];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 0);
  out.append(digits, result.ptr);
}

void AppendElapsedText(std::string &out, double elapsed) {
  if (!(elapsed >= 0 && elapsed < 1e15) || elapsed != std::floor(elapsed)) {
    out.append(common::ElapsedSerialToString(elapsed));
    return;
  }
  struct Unit {
    int64_t placeValue, range;
    std::string_view text;
    bool plural;
  };
  static constexpr Unit kUnits[] = {{10'000'000'000'000, 100, "yr", true},
                                    {100'000'000'000, 100, "mth", true},
                                    {1'000'000'000, 100, "dy", true},
                                    {10'000'000, 100, "h", false},
                                    {100'000, 100, "m", false},
                                    {1'000, 100, "s", false},
                                    {1, 1'000, "ms", false}};
  const auto value = static_cast<int64_t>(elapsed);
  bool first = true;
  for (const Unit &unit : kUnits) {
    const int64_t count = value / unit.placeValue % unit.range;
    if (count == 0) continue;
    if (!first) out.append(", ");
    first = false;
    AppendNumber(out, count);
    out.append(unit.text);
    if (unit.plural && count != 1) out.push_back('s');
  }
}

}  // namespace corvane
