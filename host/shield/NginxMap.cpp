#include "shield/NginxMap.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace host {

namespace {

// What nginx's reader makes of a byte. Inside a double-quoted parameter it turns \" \\ \r \n
// and \t back into their bytes and takes every other byte as it is; outside quotes only some
// bytes can stand wherever they are. A map value is a text with variables, and nginx has no
// escape for "$".
enum ByteFlag : uint8_t { kEscaped = 1, kNotBare = 2, kNul = 4, kDollar = 8 };

constexpr std::array<uint8_t, 256> MakeByteFlags() {
  std::array<uint8_t, 256> flags{};
  for (int c = 0; c < 256; ++c) {
    const bool alphanumeric =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alphanumeric &&
        std::string_view("/._-~%&?=+,:@!*").find(static_cast<char>(c)) == std::string_view::npos)
      flags[c] = kNotBare;
  }
  for (char c : {'"', '\\', '\r', '\n', '\t'}) flags[static_cast<unsigned char>(c)] |= kEscaped;
  flags[0] |= kNul;
  flags['$'] |= kDollar;
  return flags;
}
constexpr std::array<uint8_t, 256> kByteFlags = MakeByteFlags();

// The flags of every byte of a text, together.
uint8_t FlagsOf(std::string_view text) {
  uint8_t flags = 0;
  for (char c : text) flags |= kByteFlags[static_cast<unsigned char>(c)];
  return flags;
}

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
    default:
      return "\\t";
  }
}

void AppendEscaped(std::string &out, std::string_view text, uint8_t flags) {
  if ((flags & kEscaped) == 0) {
    out.append(text);
    return;
  }
  size_t plain = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((kByteFlags[static_cast<unsigned char>(text[i])] & kEscaped) == 0) continue;
    out.append(text.substr(plain, i - plain)).append(Escape(text[i]));
    plain = i + 1;
  }
  out.append(text.substr(plain));
}

enum class Fault { kNone, kNul, kNoDeflect, kDollar, kTooLong };

// Appends the shield's line in one pass over its values; appends nothing when it cannot. The
// key is the address alone for the map of whole addresses, the address, host and path else.
Fault AppendChecked(std::string &out, const Shield &shield, bool addressOnly) {
  const uint8_t address = FlagsOf(shield.address), host = FlagsOf(shield.host),
                resource = FlagsOf(shield.resource), deflect = FlagsOf(shield.deflect);
  if ((address | host | resource | deflect) & kNul) return Fault::kNul;
  if (shield.deflect.empty()) return Fault::kNoDeflect;
  if (deflect & kDollar) return Fault::kDollar;
  const size_t start = out.size();
  if (addressOnly && (address & kNotBare) == 0) {
    out += shield.address;  // "ADDRESS DEFLECT;", the layout operators' scripts read
  } else {
    out += '"';
    AppendEscaped(out, shield.address, address);
    if (!addressOnly) {
      out += ' ';
      AppendEscaped(out, shield.host, host);
      out += ' ';
      AppendEscaped(out, shield.resource, resource);
    }
    out += '"';
  }
  const size_t keyEnd = out.size();
  out += ' ';
  // A deflect path of plain characters stays bare, as operators' scripts expect.
  if (deflect & kNotBare) {
    out += '"';
    AppendEscaped(out, shield.deflect, deflect);
    out += '"';
  } else {
    out += shield.deflect;
  }
  if (keyEnd - start > NginxMap::kLongestToken ||
      out.size() - keyEnd - 1 > NginxMap::kLongestToken) {
    out.resize(start);
    return Fault::kTooLong;
  }
  out += ";\n";
  return Fault::kNone;
}

std::string FaultText(Fault fault) {
  switch (fault) {
    case Fault::kNone:
      return "";
    case Fault::kNul:
      return "it holds a NUL byte, which an nginx configuration cannot carry";
    case Fault::kNoDeflect:
      return "it has no deflect path";
    case Fault::kDollar:
      return "its deflect path holds '$', which nginx would read as a variable";
    case Fault::kTooLong:
      break;
  }
  return "its map entry would hold a parameter longer than nginx reads (" +
         std::to_string(NginxMap::kLongestToken) + " bytes)";
}

}  // namespace

std::string NginxMap::Refusal(const Shield &shield) {
  std::string line;
  return FaultText(AppendChecked(line, shield, false));
}

bool NginxMap::AppendEntry(std::string &out, const Shield &shield) {
  return AppendChecked(out, shield, false) == Fault::kNone;
}

std::string NginxMap::AddressRefusal(const Shield &shield) {
  std::string line;
  return FaultText(AppendChecked(line, shield, true));
}

bool NginxMap::AppendAddressEntry(std::string &out, const Shield &shield) {
  return AppendChecked(out, shield, true) == Fault::kNone;
}

}  // namespace host
