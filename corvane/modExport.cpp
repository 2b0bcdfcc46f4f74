#include "modExport.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace corvane {

namespace {

constexpr std::string_view kSeparators = "^|~#";
constexpr uint8_t kLineBreak = 1 << kSeparators.size();
// The separator of a line whose values hold all four, and how it is written inside them.
constexpr char kEscapedSeparator = '#';
constexpr std::string_view kEscapedForm = "%23";

// For each byte: the bit of the separator it is, or the line-break bit.
constexpr std::array<uint8_t, 256> MakeByteClasses() {
  std::array<uint8_t, 256> classes{};
  for (size_t i = 0; i < kSeparators.size(); ++i) {
    classes[static_cast<uint8_t>(kSeparators[i])] = static_cast<uint8_t>(1 << i);
  }
  classes['\r'] = classes['\n'] = kLineBreak;
  return classes;
}
constexpr std::array<uint8_t, 256> kByteClasses = MakeByteClasses();

bool IsLineBreak(char c) noexcept {
  return c == '\r' || c == '\n';
}

}  // namespace

ExportScan ScanExportValues(std::span<const std::string_view> values) noexcept {
  // Two accumulators halve the chain of dependent steps.
  uint8_t even = 0;
  uint8_t odd = 0;
  ExportScan scan;
  for (std::string_view value : values) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(value.data());
    size_t i = 0;
    for (; i + 1 < value.size(); i += 2) {
      even |= kByteClasses[bytes[i]];
      odd |= kByteClasses[bytes[i + 1]];
    }
    if (i < value.size()) even |= kByteClasses[bytes[i]];
    scan.size += 1 + value.size();
  }
  const uint8_t found = even | odd;
  scan.lineBreaks = (found & kLineBreak) != 0;
  for (size_t i = 0; i < kSeparators.size(); ++i) {
    if ((found & (1 << i)) == 0) {
      scan.separator = kSeparators[i];
      return scan;
    }
  }
  scan.separator = kEscapedSeparator;
  scan.escapeSeparator = true;
  for (std::string_view value : values) {
    scan.size += 2 * static_cast<size_t>(std::count(value.begin(), value.end(), kEscapedSeparator));
  }
  return scan;
}

char *WriteExportFields(char *out, const ExportScan &scan,
                        std::span<const std::string_view> values) noexcept {
  for (std::string_view value : values) {
    *out++ = scan.separator;
    if (scan.escapeSeparator) {
      for (char c : value) {
        if (c == kEscapedSeparator) {
          out = std::copy(kEscapedForm.begin(), kEscapedForm.end(), out);
        } else {
          *out++ = IsLineBreak(c) ? ' ' : c;
        }
      }
      continue;
    }
    if (!value.empty()) std::memcpy(out, value.data(), value.size());
    if (scan.lineBreaks) std::replace_if(out, out + value.size(), IsLineBreak, ' ');
    out += value.size();
  }
  return out;
}

}  // namespace corvane
