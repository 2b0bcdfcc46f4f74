#include "XmlText.h"

#include <array>
#include <cstdint>

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

// The length of the valid UTF-8 sequence of a non-ASCII character at the front of text, or 0.
// Sets *codePoint to the character.
size_t Utf8Length(std::string_view text, uint32_t *codePoint) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(0);
  size_t length;
  uint32_t value;
  uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *codePoint = value;
  return length;
}

void AppendLatin1(std::string &out, uint8_t byte) {
  out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
  out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
}

}  // namespace

void AppendXmlAttribute(std::string &out, std::string_view value) {
  size_t i = 0;
  while (i < value.size()) {
    size_t plainEnd = i;
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
          uint32_t codePoint = 0;
          size_t length = Utf8Length(value.substr(i), &codePoint);
          if (length == 0) {
            AppendLatin1(out, c);
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
