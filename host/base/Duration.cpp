#include "base/Duration.h"

#include <charconv>
#include <limits>

namespace host {

namespace {

struct Unit {
  char letter;
  int64_t seconds;
};
// Largest first: FormatDuration takes the first that divides evenly.
constexpr Unit kUnits[] = {{'w', 604800}, {'d', 86400}, {'h', 3600}, {'m', 60}, {'s', 1}};

}  // namespace

std::optional<int64_t> ParseDuration(std::string_view text) {
  int64_t scale = 1;
  if (!text.empty() && (text.back() < '0' || text.back() > '9')) {
    scale = 0;
    for (const Unit &unit : kUnits) {
      if (text.back() == unit.letter) scale = unit.seconds;
    }
    if (scale == 0) return std::nullopt;
    text.remove_suffix(1);
  }
  // Digits only: no sign, no blank, no fraction.
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  int64_t count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (count > std::numeric_limits<int64_t>::max() / scale) return std::nullopt;
  return count * scale;
}

std::string FormatDuration(int64_t seconds) {
  if (seconds <= 0) return std::to_string(seconds) + "s";
  for (const Unit &unit : kUnits) {
    if (seconds % unit.seconds == 0) return std::to_string(seconds / unit.seconds) + unit.letter;
  }
  return std::to_string(seconds) + "s";
}

}  // namespace host
