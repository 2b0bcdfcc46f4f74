#include "shield/ApacheMap.h"

#include <cstdint>
#include <string_view>

#include "shield/ByteClass.h"

namespace host {

namespace {

// White space as Apache's reader sees it, the NUL that ends its strings, and the separator of
// the key's parts.
enum ByteFlag : uint8_t { kBreak = 1, kSeparator = 2 };

constexpr ByteClass kBytes =
    ByteClass().Mark(std::string_view(" \t\n\v\f\r\0", 7), kBreak).Mark("|", kSeparator);

std::string DeflectRefusal(const Shield &shield) {
  if (kBytes.OfAll(shield.deflect) & kBreak)
    return "its deflect path holds white space or a NUL byte, which an Apache RewriteMap value "
           "cannot hold";
  if (shield.deflect.empty()) return "it has no deflect path";
  return "";
}

std::string LineRefusal(size_t line) {
  if (line <= ApacheMap::kLongestLine) return "";
  return "its line would be longer than the " + std::to_string(ApacheMap::kLongestLine) +
         " bytes Apache reads from a RewriteMap text file line";
}

}  // namespace

std::string ApacheMap::Refusal(const Shield &shield) {
  const uint8_t host = kBytes.OfAll(shield.host);
  if (host & kBreak)
    return "its host holds white space or a NUL byte, which an Apache RewriteMap key cannot hold";
  if (kBytes.OfAll(shield.resource) & kBreak)
    return "its resource holds white space or a NUL byte, which an Apache RewriteMap key cannot "
           "hold";
  if (std::string refusal = DeflectRefusal(shield); !refusal.empty()) return refusal;
  // The address comes first and holds no '|', so only the host could move the separators.
  if (host & kSeparator)
    return "its host holds '|', which separates the parts of an Apache RewriteMap key";
  return LineRefusal(shield.address.size() + shield.host.size() + shield.resource.size() +
                     shield.deflect.size() + 3);
}

std::string ApacheMap::AddressRefusal(const Shield &shield) {
  // The address is a valid one, in the form Apache prints it: no blank, no NUL.
  if (std::string refusal = DeflectRefusal(shield); !refusal.empty()) return refusal;
  return LineRefusal(shield.address.size() + shield.deflect.size() + 1);
}

bool ApacheMap::AppendAddressEntry(std::string &out, const Shield &shield) {
  if (!AddressRefusal(shield).empty()) return false;
  out.append(shield.address).append(1, ' ').append(shield.deflect).append(1, '\n');
  return true;
}

bool ApacheMap::AppendEntry(std::string &out, const Shield &shield) {
  if (!Refusal(shield).empty()) return false;
  out.append(shield.address)
      .append(1, '|')
      .append(shield.host)
      .append(1, '|')
      .append(shield.resource)
      .append(1, ' ')
      .append(shield.deflect)
      .append(1, '\n');
  return true;
}

}  // namespace host
