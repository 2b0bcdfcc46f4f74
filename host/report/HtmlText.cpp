#include "report/HtmlText.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Utf8.h"

namespace report {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

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
      const size_t multi = common::DecodeUtf8Sequence(bytes, code);
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
  ForEachCharacter(bytes, [&](char32_t code) { common::AppendUtf8(out, code); });
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
        common::AppendUtf8(out, code);
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

void AppendFourPlacesCell(std::string &out, const std::string &value) {
  char *end = nullptr;
  const double number = std::strtod(value.c_str(), &end);
  if (value.empty() || end != value.c_str() + value.size()) return AppendCell(out, value, "num");
  char rounded[32];
  std::snprintf(rounded, sizeof rounded, "%.4f", number);
  out += "<td class=\"num\" title=\"";
  AppendHtml(out, value);
  out += "\">";
  AppendHtml(out, rounded);
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
        common::AppendUtf8(out, code);
    }
  });
  out.push_back('"');
}

}  // namespace report
