#include "shield/ApacheMap.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace host {

namespace {

// White space as Apache's reader sees it, the NUL that ends its strings, and the separator of
// the key's parts.
enum ByteFlag : uint8_t { kBreak = 1, kSeparator = 2 };

constexpr std::array<uint8_t, 256> MakeByteFlags() {
  std::array<uint8_t, 256> flags{};
  for (char c : {' ', '\t', '\n', '\v', '\f', '\r', '\0'})
    flags[static_cast<unsigned char>(c)] = kBreak;
  flags['|'] = kSeparator;
  return flags;
}
constexpr std::array<uint8_t, 256> kByteFlags = MakeByteFlags();

uint8_t FlagsOf(std::string_view text) {
  uint8_t flags = 0;
  for (char c : text) flags |= kByteFlags[static_cast<unsigned char>(c)];
  return flags;
}

std::string DeflectRefusal(const Shield &shield) {
  if (FlagsOf(shield.deflect) & kBreak)
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
  const uint8_t host = FlagsOf(shield.host);
  if (host & kBreak)
    return "its host holds white space or a NUL byte, which an Apache RewriteMap key cannot hold";
  if (FlagsOf(shield.resource) & kBreak)
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
