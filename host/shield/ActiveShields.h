#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "base/Shield.h"

namespace host {

// The shields in force, one per address, host and resource, as the actions see them: the
// address in the form web servers print it, the host in lower case. They are kept in the order
// of address, host and resource, so that the shields of one address form one run.
class ActiveShields {
 public:
  // The shield as the actions key it; false when its address is not an IPv4 or IPv6 address.
  static bool Normalize(Shield &shield);

  // Adds a shield or renews the one with the same key; the shield must be normalized.
  void Raise(const Shield &shield);
  // Removes the shield with the same key; false when none was active.
  bool Lift(const Shield &shield);
  void Clear() { shields_.clear(); }

  // The latest expiry among the active shields of a normalized address, or 0 for none.
  int64_t LatestExpiry(const std::string &address) const;

  size_t Size() const { return shields_.size(); }
  auto begin() const { return shields_.begin(); }
  auto end() const { return shields_.end(); }

 private:
  struct Order {
    bool operator()(const Shield &a, const Shield &b) const;
  };
  std::set<Shield, Order> shields_;
};

}  // namespace host
