#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/IpAddress.h"

namespace host {

// A list of addresses and CIDR ranges ("127.0.0.0/8, ::1, 2001:db8::/32"), asked whether it
// holds an address once per request: a lookup is one binary search per distinct prefix length,
// without allocating. IPv4 ranges also hold the IPv4-mapped IPv6 forms of their addresses.
class AddressRanges {
 public:
  AddressRanges() = default;

  // Reads a list whose entries are separated by commas or blanks; throws std::invalid_argument
  // naming the first entry that is not an address or a range.
  static AddressRanges Parse(std::string_view list);
  // Why the list cannot be read, or empty when it can.
  static std::string Problem(std::string_view list);

  bool Contains(std::string_view address) const;
  bool Contains(const IpAddress &address) const;
  bool Empty() const { return levels_.empty(); }

 private:
  struct Network {
    uint64_t high, low;
    auto operator<=>(const Network &) const = default;
  };
  // Every range with one prefix length (counted over 128 bits), as sorted masked networks.
  struct Level {
    int bits;
    std::vector<Network> networks;
  };

  void Add(const IpAddress &address, int bits);
  static Network Masked(const IpAddress &address, int bits);

  std::vector<Level> levels_;
};

}  // namespace host
