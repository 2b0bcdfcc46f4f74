#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "KvError.h"

namespace common {

// Locale-independent conversions of text to values. A number is: optional blanks, an optional
// sign, digits with an optional "." fraction, an optional exponent, optional blanks. A boolean
// is "True" or "False" in any letter case, or a number (0 is false). Text that is not a number
// or boolean fails with error 13, a value out of the target's range with error 6; both are
// raised at the given site.

// The number the text holds, or nothing when it holds none. Never raises.
std::optional<double> ParseNumber(std::string_view text) noexcept;

double TextToDouble(const Site &site, std::string_view text);
float TextToSingle(const Site &site, std::string_view text);
int16_t TextToInteger(const Site &site, std::string_view text);
uint8_t TextToByte(const Site &site, std::string_view text);
bool TextToBoolean(const Site &site, std::string_view text);

// Rounds to the nearest whole number, a half to the even neighbour.
double RoundHalfEven(double value) noexcept;
// A number rounded half to even into 16 bits; error 6 outside -32768 to 32767.
int16_t ToInteger(const Site &site, double value);

// The general number form with the given significant digits (15 for doubles, 7 for singles):
// trailing zeros dropped, "." as decimal point, an exponent ("1E-05", "1E+15") only below 1E-4
// or from 10 to the power of the digits on.
std::string GeneralNumber(double value, int significantDigits);

// "True" or "False".
std::string_view BooleanText(bool value) noexcept;

// ASCII upper case of a byte; bytes above 127 stay as they are.
inline char UpperAscii(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Equality without regard to ASCII letter case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept;
// A hash of the ASCII upper case of a text, read eight bytes at a time: texts equal without
// regard to letter case hash alike, and no upper-cased copy is made.
uint64_t HashIgnoreCase(std::string_view text) noexcept;
std::string UpperCase(std::string_view text);

}  // namespace common
