#pragma once

#include <string>
#include <string_view>

namespace common {

// The value of a hex digit, or -1.
int HexDigitValue(char c);

// Appends text with every "%hh" turned into its byte; a "%" without two hex digits stays.
void AppendPercentDecoded(std::string &out, std::string_view text);

}  // namespace common
