#pragma once

#include <string>
#include <string_view>

#include "base/Shield.h"

namespace host {

// The checks every shield passes before it is put in force, whatever actions are configured:
// a shield request may be forged, and its values end up in a web server's map, where a
// deflect path is served as the site's own page and a key is split into its parts again.
class ShieldValues {
 public:
  // How often a deflect path is percent-decoded at most while it is checked: a value still
  // encoded after that is refused, as no template makes one.
  static constexpr int kDecodings = 3;

  // Why the shield must not be put in force, or empty when it may. A whole-address shield
  // passes the same checks: its empty host is no host at all, its deflect is checked as any.
  static std::string Refusal(const Shield &shield);

  // Why the deflect path could reach anything but a page of the site, or empty. It must begin
  // with exactly one '/' (no scheme, no "//host"), and neither it nor its percent-decodings
  // may hold a "." or ".." segment, an encoded '/' or '\', a '\' or a control character. No
  // deflect at all passes: it sends nobody anywhere (the map actions refuse it).
  static std::string DeflectRefusal(std::string_view deflect);

  // Why the host is not a host name or address as a web server takes it from a request
  // (letters, digits, '-', '_', '.', ':', '[' and ']'), or empty. Such a host holds no blank
  // and no separator of a map key, so that a key splits into address, host and path one way
  // only.
  static std::string HostRefusal(std::string_view host);
};

}  // namespace host
