#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "support/PluginLoader.h"
#include "support/TempDir.h"

namespace {

// The dynamic symbols a shared object defines, as nm lists them.
std::set<std::string> DefinedSymbols(const std::string &path) {
  std::set<std::string> symbols;
  std::string command = "nm -D --defined-only " + path;
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return symbols;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    size_t space = text.find_last_of(' ');
    std::string name = text.substr(space + 1);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    symbols.insert(name);
  }
  pclose(pipe);
  return symbols;
}

const std::set<std::string> kInterface = {"flowdeck_plugin_name", "flowdeck_plugin_create",
                                          "flowdeck_plugin_destroy", "flowdeck_plugin_stream",
                                          "flowdeck_plugin_set_clock"};

TEST(PluginInterface, EachPluginExportsExactlyTheFunctionsOfTheHeader) {
  EXPECT_EQ(DefinedSymbols(std::string(FLOWDECK_PLUGIN_DIR) + "/KvVantrel.so"), kInterface);
  std::set<std::string> monitor = kInterface;
  monitor.insert("flowdeck_plugin_count");
  EXPECT_EQ(DefinedSymbols(std::string(FLOWDECK_PLUGIN_DIR) + "/KvCorvane.so"), monitor);
}

TEST(PluginInterface, BothPluginsLiveInOneProcessUnderTheirOwnNames) {
  testing_support::TempDir dir;
  testing_support::LoadedPlugin shield("KvVantrel.so", dir.Path());
  testing_support::LoadedPlugin monitor("KvCorvane.so", dir.Path());
  EXPECT_STREQ(shield.Name(), "KvVantrel.Vantrel");
  EXPECT_STREQ(monitor.Name(), "KvCorvane.Corvane");
  EXPECT_FALSE(shield.HasCount());
  ASSERT_TRUE(monitor.HasCount());
  flowdeck_plugin *a = shield.Create();
  flowdeck_plugin *b = monitor.Create();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  testing_support::Fields fields{};
  fields[0] = "GET";
  fields[1] = "40305140709250";
  EXPECT_EQ(shield.Stream(a, fields), 0);
  EXPECT_EQ(monitor.Stream(b, fields), 0);
  int32_t count = -1;
  EXPECT_EQ(monitor.Count(b, &count), 0);
  EXPECT_GE(count, 0);
  EXPECT_NE(monitor.Count(nullptr, &count), 0);
  EXPECT_NE(shield.Stream(nullptr, fields), 0);
  shield.Destroy(a);
  monitor.Destroy(b);
  shield.Destroy(nullptr);
}

}  // namespace
