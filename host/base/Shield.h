#pragma once

#include <cstdint>
#include <string>

#include "base/TimeStamp.h"

namespace host {

// One shield as every action receives it: who is shielded from which resource, where the
// visitor is sent instead, and for how long.
struct Shield {
  std::string address;   // the visitor's IPv4 or IPv6 address, as text
  std::string host;      // the host the visitor asked for, in lower case
  std::string resource;  // the path as the request carried it, percent-decoded
  std::string deflect;   // where the web server sends the visitor instead
  int64_t raisedAt = 0;  // Unix seconds
  int64_t expiresAt = 0;
  std::string source = "regularity";  // what raised it
  std::string figures;                // what that test saw, when it says (the pace test does)
  // "raise" or "lift": ordered by hand while no follow ran, carried out when the next one
  // starts. A pending raise without an expiry gets the lifetime its offences give it then.
  std::string pending;

  // A shield without host and resource covers every request of its address (an operator's
  // shield of an address, or a repeat offender's). One of them empty alone is a shield of a
  // resource, never of the whole address: a value lost on its way must not widen a shield to
  // every page.
  bool WholeAddress() const { return host.empty() && resource.empty(); }
};

// A Unix time as shields are written down, printed and handed on: RFC 3339 with this machine's
// offset, "2026-12-09T05:12:23+01:00".
inline std::string IsoTime(int64_t seconds) {
  return FormatTimeStamp(seconds);
}

}  // namespace host
