#include "shield/ShieldValues.h"

#include "UrlText.h"

namespace host {

namespace {

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
}

// Where a path segment ends as web servers and the applications behind them read a path: ';'
// starts the parameters of a segment for some ("/..;/" climbs there), '?' and '#' end the path
// for others.
bool EndsSegment(char c) {
  return c == '/' || c == ';' || c == '?' || c == '#';
}

bool IsDotSegment(std::string_view segment) {
  return segment == "." || segment == "..";
}

bool HoldsDotSegment(std::string_view path) {
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !EndsSegment(path[i])) continue;
    if (IsDotSegment(path.substr(start, i - start))) return true;
    start = i + 1;
  }
  return false;
}

// "%2f" or "%5c", in either case: a separator that a decoding further on would make.
bool HoldsEncodedSeparator(std::string_view text) {
  for (size_t at = text.find('%'); at != std::string_view::npos && at + 2 < text.size();
       at = text.find('%', at + 1)) {
    const int high = common::HexDigitValue(text[at + 1]), low = common::HexDigitValue(text[at + 2]);
    if ((high == 2 && low == 0xf) || (high == 5 && low == 0xc)) return true;
  }
  return false;
}

// What is wrong with one decoding of a deflect path, or empty.
std::string_view DecodingFault(std::string_view text) {
  for (char c : text) {
    if (IsControl(c)) return "a control character";
    if (c == '\\') return "'\\'";
  }
  if (HoldsEncodedSeparator(text)) return "an encoded '/' or '\\'";
  if (HoldsDotSegment(text)) return "a '.' or '..' segment";
  return {};
}

bool IsHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == ':' || c == '[' || c == ']';
}

}  // namespace

std::string ShieldValues::Refusal(const Shield &shield) {
  if (std::string refusal = HostRefusal(shield.host); !refusal.empty()) return refusal;
  return DeflectRefusal(shield.deflect);
}

std::string ShieldValues::DeflectRefusal(std::string_view deflect) {
  if (deflect.empty()) return "";
  if (deflect[0] != '/')
    return "its deflect path does not begin with '/', so it is no path of the site";
  if (deflect.size() > 1 && deflect[1] == '/')
    return "its deflect path begins with '//', which names another host";
  std::string text(deflect), decoded;
  for (int decodings = 0;; ++decodings) {
    if (std::string_view fault = DecodingFault(text); !fault.empty()) {
      return "its deflect path holds " + std::string(fault) +
             (decodings == 0 ? "" : " once percent-decoded");
    }
    decoded.clear();
    common::AppendPercentDecoded(decoded, text);
    if (decoded == text) return "";
    if (decodings == kDecodings) break;
    text.swap(decoded);
  }
  return "its deflect path is still percent-encoded after " + std::to_string(kDecodings) +
         " decodings";
}

std::string ShieldValues::HostRefusal(std::string_view host) {
  for (char c : host) {
    if (!IsHostCharacter(c)) {
      return "its host holds a character no host name or address holds (only letters, digits, "
             "'-', '_', '.', ':', '[' and ']')";
    }
  }
  return "";
}

}  // namespace host
