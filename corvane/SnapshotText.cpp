#include "SnapshotText.h"

#include <cmath>
#include <cstdint>

#include "modKvGlobal.h"

namespace corvane {

void AppendWholeNumber(std::string &out, double value) {
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
