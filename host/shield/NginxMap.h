#pragma once

#include <string>

#include "ActiveShields.h"
#include "Shield.h"

namespace host {

// The nginx map file: one entry per active shield, `"ADDRESS HOST PATH" DEFLECT;`, for a map
// over "$remote_addr $host $uri" (the snippet in examples/). Keys are always quoted and
// escaped, so that no value can end an entry or start another; the deflect path is quoted only
// when it needs to be.
class NginxMap {
 public:
  // nginx reads one parameter of at most 4096 bytes; longer ones stop the whole configuration.
  static constexpr size_t kLongestToken = 4000;

  // Why the shield cannot be written into the file, or empty when it can.
  static std::string Refusal(const Shield &shield);
  // Appends the shield's line; the shield must be normalized (ActiveShields::Normalize).
  static void AppendEntry(std::string &out, const Shield &shield);
  // The whole file. nginx compares keys without regard to ASCII case and refuses a
  // configuration that holds one twice, so of shields nginx cannot tell apart only the first
  // is written; shields that cannot be written are left out.
  static std::string Render(const ActiveShields &active);
};

}  // namespace host
