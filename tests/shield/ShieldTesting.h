#pragma once

#include <string>
#include <vector>

#include "base/Shield.h"

namespace testing_support {
class NginxServer;
}  // namespace testing_support

namespace shield_testing {

// A shield of the examples: a steady visitor on 127.0.0.66 shielded from the login page.
inline host::Shield MakeShield(std::string address = "127.0.0.66", std::string host = "shop.test",
                               std::string resource = "/admin/login.php",
                               std::string deflect = "/deflect.html", int64_t raisedAt = 1700000000,
                               int64_t lifetime = 3600) {
  host::Shield shield;
  shield.address = std::move(address);
  shield.host = std::move(host);
  shield.resource = std::move(resource);
  shield.deflect = std::move(deflect);
  shield.raisedAt = raisedAt;
  shield.expiresAt = raisedAt + lifetime;
  return shield;
}

// The texts of the problems the actions or the keeper report, to compare.
template <typename Problems>
std::vector<std::string> Texts(const Problems &problems) {
  std::vector<std::string> texts;
  for (const auto &problem : problems) texts.push_back(problem.text);
  return texts;
}

// The text of an example file with its placeholder map path replaced.
std::string ExampleWith(const std::string &name, const std::string &from, const std::string &to);

// The text of a web server snippet of the examples with its maps at these paths instead of
// /var/lib/flowdeck/maps: `map` for the shields of resources, `addressMap` (by default
// "address-" and the name of `map`, beside it) for those of whole addresses, created empty when
// missing, as the package does, so that the server starts where no test writes it.
std::string SnippetWith(const std::string &name, const std::string &map,
                        std::string addressMap = "");

// Puts the example nginx snippets in the server's configuration, with the map in its prefix;
// returns the map's path.
std::string UseShieldSnippets(testing_support::NginxServer &nginx);

}  // namespace shield_testing
