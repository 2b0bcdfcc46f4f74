#include "shield/NginxMap.h"

#include <cstdint>
#include <string_view>

#include "shield/ByteClass.h"

namespace host {

namespace {

// What nginx's reader makes of a byte. Inside a double-quoted parameter it turns \" \\ \r \n
// and \t back into their bytes and takes every other byte as it is; outside quotes only some
// bytes can stand wherever they are. A map value is a text with variables, and nginx has no
// escape for "$".
enum ByteFlag : uint8_t { kEscaped = 1, kNotBare = 2, kNul = 4, kDollar = 8 };

constexpr std::string_view kBare =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-~%&?=+,:@!*";
constexpr ByteClass kBytes = ByteClass()
                                 .MarkAllBut(kBare, kNotBare)
                                 .Mark("\"\\\r\n\t", kEscaped)
                                 .Mark(std::string_view("\0", 1), kNul)
                                 .Mark("$", kDollar);

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
    if ((kBytes.Of(text[i]) & kEscaped) == 0) continue;
    out.append(text.substr(plain, i - plain)).append(Escape(text[i]));
    plain = i + 1;
  }
  out.append(text.substr(plain));
}

enum class Fault { kNone, kNul, kNoDeflect, kDollar, kTooLong };

// Appends the shield's line in one pass over its values; appends nothing when it cannot. The
// key is the address alone for the map of whole addresses, the address, host and path else.
Fault AppendChecked(std::string &out, const Shield &shield, bool addressOnly) {
  const uint8_t address = kBytes.OfAll(shield.address), host = kBytes.OfAll(shield.host),
                resource = kBytes.OfAll(shield.resource), deflect = kBytes.OfAll(shield.deflect);
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
