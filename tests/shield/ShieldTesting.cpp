#include "ShieldTesting.h"

#include <filesystem>

#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace shield_testing {

namespace {

std::string ReplaceAll(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

}  // namespace

std::string ExampleWith(const std::string &name, const std::string &from, const std::string &to) {
  std::string text = testing_support::ReadFile(std::string(FLOWDECK_EXAMPLES) + "/" + name);
  if (from.empty()) return text;
  return ReplaceAll(std::move(text), from, to);
}

std::string SnippetWith(const std::string &name, const std::string &map, std::string addressMap) {
  if (addressMap.empty()) {
    const std::filesystem::path path(map);
    addressMap = (path.parent_path() / ("address-" + path.filename().string())).string();
  }
  std::string text = ExampleWith(name, "", "");
  for (const char *server : {"nginx", "apache"}) {
    const std::string maps = std::string("/var/lib/flowdeck/maps/") + server;
    text = ReplaceAll(ReplaceAll(text, maps + "-shields.map", map), maps + "-address-shields.map",
                      addressMap);
  }
  if (!testing_support::FileExists(addressMap)) testing_support::WriteFile(addressMap, "");
  return text;
}

std::string UseShieldSnippets(testing_support::NginxServer &nginx) {
  const std::string map = nginx.File("shields.map");
  nginx.SetHttpLines(SnippetWith("nginx-shields-http.conf", map));
  nginx.SetServerLines(ExampleWith("nginx-shields-server.conf", "", ""));
  return map;
}

}  // namespace shield_testing
