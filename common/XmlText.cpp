#include "XmlText.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "Utf8.h"

namespace common {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// True for the bytes that pass as they are.
constexpr std::array<bool, 256> MakePlainTable() {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x80; ++c) plain[c] = true;
  plain['&'] = plain['<'] = plain['>'] = plain['"'] = false;
  return plain;
}
constexpr std::array<bool, 256> kPlain = MakePlainTable();

// True when none of eight bytes needs escaping: each from 0x20 to 0x7F and none of & < > ".
// Most values are plain ASCII throughout, and pass here eight bytes a step.
bool EightPlain(const char *bytes) noexcept {
  constexpr uint64_t kOnes = 0x0101010101010101, kHigh = 0x8080808080808080;
  uint64_t x;
  std::memcpy(&x, bytes, sizeof x);
  const auto hasZero = [](uint64_t v) { return ((v - kOnes) & ~v & kHigh) != 0; };
  if ((x & kHigh) != 0) return false;
  if (((x - kOnes * 0x20) & ~x & kHigh) != 0) return false;  // a byte below 0x20
  return !hasZero(x ^ (kOnes * '&')) && !hasZero(x ^ (kOnes * '<')) &&
         !hasZero(x ^ (kOnes * '>')) && !hasZero(x ^ (kOnes * '"'));
}

}  // namespace

void AppendXmlAttribute(std::string &out, std::string_view value) {
  size_t i = 0;
  while (i < value.size()) {
    size_t plainEnd = i;
    while (plainEnd + 8 <= value.size() && EightPlain(value.data() + plainEnd)) plainEnd += 8;
    while (plainEnd < value.size() && kPlain[static_cast<uint8_t>(value[plainEnd])]) ++plainEnd;
    out.append(value.data() + i, plainEnd - i);
    i = plainEnd;
    if (i == value.size()) break;
    const uint8_t c = static_cast<uint8_t>(value[i]);
    switch (c) {
      case '&':
        out.append("&amp;");
        break;
      case '<':
        out.append("&lt;");
        break;
      case '>':
        out.append("&gt;");
        break;
      case '"':
        out.append("&quot;");
        break;
      case '\t':
        out.append("&#9;");
        break;
      case '\n':
        out.append("&#10;");
        break;
      case '\r':
        out.append("&#13;");
        break;
      default:
        if (c < 0x80) {
          out.append(kReplacement);  // a control character
        } else {
          char32_t codePoint = 0;
          size_t length = DecodeUtf8Sequence(value.substr(i), codePoint);
          if (length == 0) {
            AppendUtf8(out, c);  // the byte read as Latin-1
          } else {
            if (codePoint == 0xFFFE || codePoint == 0xFFFF) {
              out.append(kReplacement);
            } else {
              out.append(value.data() + i, length);
            }
            i += length;
            continue;
          }
        }
    }
    ++i;
  }
}

}  // namespace common
