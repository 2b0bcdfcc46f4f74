#pragma once

#include <string>

namespace common {

// Host names, extensions and option words compare without case, in ASCII only: a byte above
// 0x7f is never folded, whatever the locale would say.
constexpr char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c;
}

inline void LowerAsciiInPlace(std::string &text) {
  for (char &c : text) c = LowerAscii(c);
}

}  // namespace common
