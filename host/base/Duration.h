#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace host {

// A span of time as an operator writes it: plain seconds, or a whole number with one unit,
// "90s", "15m", "12h", "7d", "1w". Empty for anything else, a negative number or one that does
// not fit in 64 bits as seconds.
std::optional<int64_t> ParseDuration(std::string_view text);

// Seconds as the shortest of those forms that is exact: 5400 as "90m", 604800 as "1w".
std::string FormatDuration(int64_t seconds);

}  // namespace host
