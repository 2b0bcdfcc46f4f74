#pragma once

#include <string>

#include "base/Shield.h"

namespace host {

// The Apache RewriteMap text files: one line per active shield of a resource,
// `ADDRESS|HOST|PATH DEFLECT`, and one per active shield of a whole address, `ADDRESS DEFLECT`,
// for the lookups in examples/. Apache ends a key or a value at white space and has no way to
// quote, so a shield whose values hold any cannot be written; nor a line longer than Apache
// reads at once, whose rest it would take for a line of its own.
class ApacheMap {
 public:
  // Apache reads a map line in pieces of 1024 bytes, its line end included.
  static constexpr size_t kLongestLine = 1023;

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
