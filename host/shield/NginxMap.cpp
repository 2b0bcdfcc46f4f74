#include "NginxMap.h"

#include <string_view>

namespace host {

namespace {

// What stands for a byte inside a double-quoted nginx parameter: the reader turns \" \\ \r \n
// and \t back into their bytes and takes every other byte as it is.
std::string_view Escape(char c) {
  switch (c) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '\r':
      return "\\r";
    case '\n':
      return "\\n";
    case '\t':
      return "\\t";
    default:
      return {};
  }
}

size_t QuotedSize(std::string_view text) {
  size_t size = 0;
  for (char c : text) size += Escape(c).empty() ? 1 : Escape(c).size();
  return size;
}

void AppendEscaped(std::string &out, std::string_view text) {
  size_t plain = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    std::string_view escaped = Escape(text[i]);
    if (escaped.empty()) continue;
    out.append(text.substr(plain, i - plain)).append(escaped);
    plain = i + 1;
  }
  out.append(text.substr(plain));
}

// A byte that nginx takes as part of an unquoted parameter wherever it stands.
bool IsBare(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("/._-~%&?=+,:@!*").find(c) != std::string_view::npos;
}

bool NeedsQuotes(std::string_view text) {
  for (char c : text) {
    if (!IsBare(c)) return true;
  }
  return false;
}

bool HasNul(const std::string &text) {
  return text.find('\0') != std::string::npos;
}

}  // namespace

std::string NginxMap::Refusal(const Shield &shield) {
  if (HasNul(shield.address) || HasNul(shield.host) || HasNul(shield.resource) ||
      HasNul(shield.deflect))
    return "it holds a NUL byte, which an nginx configuration cannot carry";
  if (shield.deflect.empty()) return "it has no deflect path";
  // A map value is a text with variables, and nginx has no escape for "$".
  if (shield.deflect.find('$') != std::string::npos)
    return "its deflect path holds '$', which nginx would read as a variable";
  const size_t key =
      4 + QuotedSize(shield.address) + QuotedSize(shield.host) + QuotedSize(shield.resource);
  if (key > kLongestToken || QuotedSize(shield.deflect) + 2 > kLongestToken)
    return "its map entry would hold a parameter longer than nginx reads (" +
           std::to_string(kLongestToken) + " bytes)";
  return "";
}

void NginxMap::AppendEntry(std::string &out, const Shield &shield) {
  out += '"';
  AppendEscaped(out, shield.address);
  out += ' ';
  AppendEscaped(out, shield.host);
  out += ' ';
  AppendEscaped(out, shield.resource);
  out += "\" ";
  if (NeedsQuotes(shield.deflect)) {
    out += '"';
    AppendEscaped(out, shield.deflect);
    out += '"';
  } else {
    out += shield.deflect;
  }
  out += ";\n";
}

std::string NginxMap::Render(const ActiveShields &active) {
  std::string file;
  file.reserve(active.Size() * 96);
  const Shield *previous = nullptr;
  for (const Shield &shield : active) {
    if (previous != nullptr && previous->address == shield.address &&
        previous->host == shield.host &&
        ActiveShields::SameIgnoringCase(previous->resource, shield.resource))
      continue;
    if (!Refusal(shield).empty()) continue;
    AppendEntry(file, shield);
    previous = &shield;
  }
  return file;
}

}  // namespace host
