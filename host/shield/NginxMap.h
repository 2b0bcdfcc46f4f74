#pragma once

#include <string>

#include "base/Shield.h"

namespace host {

// The nginx map files: one entry per active shield of a resource, `"ADDRESS HOST PATH"
// DEFLECT;`, for a map over "$remote_addr $host $uri", and one per active shield of a whole
// address, `ADDRESS DEFLECT;`, for a map over "$remote_addr" (the snippets in examples/).
// Keys of resources are always quoted and escaped, so that no value can end an entry or start
// another; an address, normalized, holds nothing to quote; the deflect path is quoted only when
// it needs to be.
class NginxMap {
 public:
  // nginx reads one parameter of at most 4096 bytes; longer ones stop the whole configuration.
  static constexpr size_t kLongestToken = 4000;

  // Why the shield cannot be written into the file, or empty when it can.
  static std::string Refusal(const Shield &shield);
  // Appends the shield's line, or nothing and false when Refusal would say why not. The
  // shield must be normalized (ActiveShields::Normalize): the address as web
  // servers print it, the host in lower case.
  static bool AppendEntry(std::string &out, const Shield &shield);

  // The same for the map of whole addresses, whose key is the address alone.
  static std::string AddressRefusal(const Shield &shield);
  static bool AppendAddressEntry(std::string &out, const Shield &shield);
};

}  // namespace host
