#include "HtmlText.h"

#include <cstdint>
#include <cstdio>

namespace report {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string &out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// The length of a valid UTF-8 sequence of two or more bytes at the front of text, with its
// code point in code; 0, code untouched, when there is none.
size_t DecodeMultiByte(std::string_view text, char32_t &code) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(0);
  size_t length;
  char32_t minimum, decoded;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, decoded = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, decoded = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, decoded = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    decoded = (decoded << 6) | (byte(i) & 0x3F);
  }
  const bool surrogate = decoded >= 0xD800 && decoded <= 0xDFFF;
  if (decoded < minimum || decoded > 0x10FFFF || surrogate) return 0;
  code = decoded;
  return length;
}

bool Allowed(char32_t code) {
  if (code == '\t' || code == '\n' || code == '\r') return true;
  if (code < 0x20 || code == 0x7F) return false;
  return code != 0xFFFE && code != 0xFFFF;
}

// Calls emit(code) for each character of the bytes, cleaned as CleanUtf8 says.
template <class Emit>
void ForEachCharacter(std::string_view bytes, Emit &&emit) {
  while (!bytes.empty()) {
    char32_t code = static_cast<uint8_t>(bytes.front());
    size_t length = 1;
    if (code >= 0x80) {
      const size_t multi = DecodeMultiByte(bytes, code);
      if (multi > 0) length = multi;
    }
    emit(Allowed(code) ? code : kReplacement);
    bytes.remove_prefix(length);
  }
}

}  // namespace

std::string CleanUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  ForEachCharacter(bytes, [&](char32_t code) { AppendUtf8(out, code); });
  return out;
}

void AppendHtml(std::string &out, std::string_view value) {
  ForEachCharacter(value, [&](char32_t code) {
    switch (code) {
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
      case '\'':
        out.append("&#39;");
        break;
      default:
        AppendUtf8(out, code);
    }
  });
}

std::string Html(std::string_view value) {
  std::string out;
  AppendHtml(out, value);
  return out;
}

void AppendCell(std::string &out, std::string_view value, const char *classes) {
  out += classes == nullptr ? "<td>" : std::string("<td class=\"") + classes + "\">";
  AppendHtml(out, value);
  out += "</td>";
}

void AppendJsonString(std::string &out, std::string_view value) {
  out.push_back('"');
  ForEachCharacter(value, [&](char32_t code) {
    switch (code) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      case '<':
      case '>':
      case '&':
      case 0x2028:
      case 0x2029: {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
        out.append(escape);
        break;
      }
      default:
        AppendUtf8(out, code);
    }
  });
  out.push_back('"');
}

}  // namespace report
