#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "KeyIgnoringCase.h"

namespace host {

// The visitors a test of the host follows, keyed as the plug-ins key theirs: by the visitor key,
// letter case ignored. A visitor is also found by its address (a shield is of an address), by
// lookup while every key is an address alone (the default), else by a walk.
template <typename Visitor>
class FollowedVisitors {
 public:
  using Map = std::unordered_map<std::string, Visitor, vantrel::HashIgnoringCase,
                                 vantrel::EqualIgnoringCase>;

  // The visitor of the key; the first time, one `make()` gives, with the address.
  template <typename Make>
  Visitor &FindOrAdd(std::string_view key, std::string_view remoteAddr, Make make) {
    auto entry = visitors_.find(key);  // a visitor seen before costs no key copy
    if (entry == visitors_.end()) {
      entry = visitors_.emplace(std::string(key), make()).first;
      entry->second.remoteAddr = remoteAddr;
      if (remoteAddr != key) keysAreAddresses_ = false;
    }
    return entry->second;
  }

  // Calls `change` for each visitor of the address.
  template <typename Change>
  void ForVisitorsOf(std::string_view address, Change change) {
    if (keysAreAddresses_) {
      const auto entry = visitors_.find(address);
      if (entry != visitors_.end()) change(entry->second);
      return;
    }
    for (auto &[key, visitor] : visitors_) {
      if (visitor.remoteAddr == address) change(visitor);
    }
  }

  Map &All() noexcept { return visitors_; }
  size_t Size() const noexcept { return visitors_.size(); }

 private:
  Map visitors_;
  bool keysAreAddresses_ = true;  // every visitor seen so far is keyed by its address alone
};

}  // namespace host
