#include "Convert.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace common {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// True when text is sign? digits [. digits] [e sign? digits], with a digit in the mantissa.
bool IsNumberSyntax(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponentDigits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == text.size();
}

// The power of ten of a number's leading digit, plus one, for unsigned number syntax.
long DecimalMagnitude(std::string_view text) {
  size_t exponentAt = text.find_first_of("eE");
  long exponent = 0;
  if (exponentAt != std::string_view::npos) {
    std::string_view digits = text.substr(exponentAt + 1);
    bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-'))
      digits.remove_prefix(1);
    if (std::from_chars(digits.data(), digits.data() + digits.size(), exponent).ec != std::errc()) {
      exponent = 1'000'000;  // more digits than a long holds: far out of any range
    }
    if (negative) exponent = -exponent;
    text = text.substr(0, exponentAt);
  }
  size_t first = text.find_first_of("123456789");
  if (first == std::string_view::npos) return std::numeric_limits<long>::min();
  size_t point = text.find('.');
  if (point == std::string_view::npos) point = text.size();
  long position =
      first < point ? static_cast<long>(point - first) : -static_cast<long>(first - point - 1);
  return position + exponent;
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) noexcept {
  text = TrimBlanks(text);
  if (!IsNumberSyntax(text)) return std::nullopt;
  bool negative = text.front() == '-';
  if (text.front() == '+' || text.front() == '-') text.remove_prefix(1);
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Too large is infinite, which the callers reject as overflow; too small underflows to 0.
    value = DecimalMagnitude(text) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

double TextToDouble(const Site &site, std::string_view text) {
  std::optional<double> value = ParseNumber(text);
  if (!value) Raise(site, kTypeMismatch);
  if (!std::isfinite(*value)) Raise(site, kOverflow);
  return *value;
}

float TextToSingle(const Site &site, std::string_view text) {
  double value = TextToDouble(site, text);
  if (std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max())) {
    Raise(site, kOverflow);
  }
  return static_cast<float>(value);
}

double RoundHalfEven(double value) noexcept {
  return std::nearbyint(value);
}

int16_t ToInteger(const Site &site, double value) {
  double rounded = RoundHalfEven(value);
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) Raise(site, kOverflow);
  return static_cast<int16_t>(rounded);
}

int16_t TextToInteger(const Site &site, std::string_view text) {
  return ToInteger(site, TextToDouble(site, text));
}

uint8_t TextToByte(const Site &site, std::string_view text) {
  double rounded = RoundHalfEven(TextToDouble(site, text));
  if (!(rounded >= 0.0 && rounded <= 255.0)) Raise(site, kOverflow);
  return static_cast<uint8_t>(rounded);
}

bool TextToBoolean(const Site &site, std::string_view text) {
  std::string_view word = TrimBlanks(text);
  if (EqualsIgnoreCase(word, "True")) return true;
  if (EqualsIgnoreCase(word, "False")) return false;
  std::optional<double> value = ParseNumber(text);
  if (!value) Raise(site, kTypeMismatch);
  return *value != 0.0;
}

std::string GeneralNumber(double value, int significantDigits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*G", significantDigits, value);
  std::string result(text);
  // printf writes at least two exponent digits; so does the general number form. Drop a
  // "-0" sign, which the form never shows.
  if (result == "-0") result = "0";
  return result;
}

std::string_view BooleanText(bool value) noexcept {
  return value ? "True" : "False";
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

namespace {

constexpr uint64_t kOnes = 0x0101010101010101;
constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15;

// Upper-cases the ASCII letters among eight bytes at once; bytes above 127 stay.
uint64_t UpperAscii8(uint64_t bytes) noexcept {
  const uint64_t low7 = bytes & (0x7F * kOnes);
  const uint64_t fromA = low7 + (0x80 - 'a') * kOnes;      // high bit set from 'a' on
  const uint64_t pastZ = low7 + (0x80 - 'z' - 1) * kOnes;  // high bit set past 'z'
  const uint64_t lower = fromA & ~pastZ & ~bytes & (0x80 * kOnes);
  return bytes - (lower >> 2);  // 0x80 >> 2 is the 0x20 between the cases
}

uint64_t MixWord(uint64_t hash, uint64_t bytes) noexcept {
  hash = (hash ^ UpperAscii8(bytes)) * kMultiplier;
  return hash ^ (hash >> 29);
}

}  // namespace

uint64_t HashIgnoreCase(std::string_view text) noexcept {
  uint64_t hash = text.size() * kMultiplier;
  const char *bytes = text.data();
  size_t left = text.size();
  for (; left >= 8; left -= 8, bytes += 8) {
    uint64_t word;
    std::memcpy(&word, bytes, 8);
    hash = MixWord(hash, word);
  }
  if (left > 0) {
    uint64_t word = 0;
    std::memcpy(&word, bytes, left);
    hash = MixWord(hash, word);
  }
  return hash ^ (hash >> 32);
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char &c : result) c = UpperAscii(c);
  return result;
}

}  // namespace common
