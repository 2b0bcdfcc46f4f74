#include "base/AddressRanges.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace host {

namespace {

bool IsSeparator(char c) {
  return c == ',' || c == ' ' || c == '\t';
}

// The prefix length after "/", or -1 when it is not a plain decimal number.
int ReadPrefixLength(std::string_view text) {
  int bits = -1;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bits);
  if (text.empty() || text.size() > 3 || error != std::errc() || end != text.data() + text.size())
    return -1;
  return bits;
}

}  // namespace

AddressRanges::Network AddressRanges::Masked(const IpAddress &address, int bits) {
  const uint64_t highMask = bits >= 64 ? ~0ULL : bits == 0 ? 0 : ~0ULL << (64 - bits);
  const uint64_t lowMask = bits <= 64 ? 0 : bits == 128 ? ~0ULL : ~0ULL << (128 - bits);
  return {address.High() & highMask, address.Low() & lowMask};
}

void AddressRanges::Add(const IpAddress &address, int bits) {
  auto level = std::find_if(levels_.begin(), levels_.end(),
                            [bits](const Level &each) { return each.bits == bits; });
  if (level == levels_.end()) level = levels_.insert(levels_.end(), Level{bits, {}});
  const Network network = Masked(address, bits);
  auto at = std::lower_bound(level->networks.begin(), level->networks.end(), network);
  if (at == level->networks.end() || *at != network) level->networks.insert(at, network);
}

AddressRanges AddressRanges::Parse(std::string_view list) {
  AddressRanges ranges;
  size_t at = 0;
  while (at < list.size()) {
    if (IsSeparator(list[at])) {
      ++at;
      continue;
    }
    size_t end = at;
    while (end < list.size() && !IsSeparator(list[end])) ++end;
    const std::string_view entry = list.substr(at, end - at);
    at = end;

    const size_t slash = entry.find('/');
    IpAddress address;
    if (!IpAddress::Parse(entry.substr(0, slash), address)) {
      throw std::invalid_argument("'" + std::string(entry) + "' is not an IPv4 or IPv6 address");
    }
    // IPv6 notation counts its prefix over 128 bits, even for an IPv4-mapped address.
    const bool v4 = entry.substr(0, slash).find(':') == std::string_view::npos;
    const int familyBits = v4 ? 32 : 128;
    int bits = familyBits;
    if (slash != std::string_view::npos) {
      bits = ReadPrefixLength(entry.substr(slash + 1));
      if (bits < 0 || bits > familyBits) {
        throw std::invalid_argument("'" + std::string(entry) + "': the prefix length of an " +
                                    (v4 ? "IPv4 range is 0 to 32" : "IPv6 range is 0 to 128"));
      }
    }
    // An IPv4 range lives in the last 32 bits of the mapped form.
    ranges.Add(address, v4 ? bits + 96 : bits);
  }
  return ranges;
}

std::string AddressRanges::Problem(std::string_view list) {
  try {
    Parse(list);
  } catch (const std::invalid_argument &error) {
    return error.what();
  }
  return "";
}

bool AddressRanges::Contains(const IpAddress &address) const {
  for (const Level &level : levels_) {
    if (std::binary_search(level.networks.begin(), level.networks.end(),
                           Masked(address, level.bits)))
      return true;
  }
  return false;
}

bool AddressRanges::Contains(std::string_view address) const {
  IpAddress parsed;
  return !levels_.empty() && IpAddress::Parse(address, parsed) && Contains(parsed);
}

}  // namespace host
