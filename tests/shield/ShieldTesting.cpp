#include "ShieldTesting.h"

#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace shield_testing {

std::string ExampleWith(const std::string &name, const std::string &from, const std::string &to) {
  std::string text = testing_support::ReadFile(std::string(FLOWDECK_EXAMPLES) + "/" + name);
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string UseShieldSnippets(testing_support::NginxServer &nginx) {
  const std::string map = nginx.File("shields.map");
  nginx.SetHttpLines(
      ExampleWith("nginx-shields-http.conf", "/var/lib/flowdeck/maps/nginx-shields.map", map));
  nginx.SetServerLines(ExampleWith("nginx-shields-server.conf", "", ""));
  return map;
}

}  // namespace shield_testing
