#pragma once

#include <string>
#include <string_view>

namespace common {

// The value of a hex digit, or -1.
int HexDigitValue(char c);

// Appends text with every "%hh" turned into its byte; a "%" without two hex digits stays.
void AppendPercentDecoded(std::string &out, std::string_view text);

// Appends text with '%' and every byte `escaped` picks written as "%hh" (upper-case hex), which
// AppendPercentDecoded turns back.
template <typename Picks>
void AppendPercentEncoded(std::string &out, std::string_view text, Picks escaped) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '%' || escaped(byte)) {
      out.append(1, '%').append(1, kHex[byte >> 4]).append(1, kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
}

}  // namespace common
