#include "StreamRouting.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KvError.h"

namespace {

using common::clsConfig;
using common::ConfigLayout;
using common::StreamFields;

// The calls a plug-in received, in order; a cycle notes whether the settings were loaded by then.
struct Routed {
  std::vector<std::string> calls;

  void Route(clsConfig &config, std::string_view action, std::string_view userAgent = "") {
    StreamFields fields{};
    fields[common::kAction] = action;
    fields[common::kUserAgent] = userAgent;
    common::RouteStream(
        fields, config, [&] { calls.push_back(config.IsLoaded() ? "cycle (loaded)" : "cycle"); },
        [&] { calls.push_back("forget"); },
        [&](std::string_view other) { calls.push_back("other " + std::string(other)); });
  }
};

TEST(RouteStream, ConfigLoadsThenForgetsThenCyclesAndOnlyExactControlWordsAreControl) {
  clsConfig config(ConfigLayout::kVantrel);
  Routed routed;
  routed.Route(config, "CYCLE");
  routed.Route(config, "CONFIG", "srv;/fd;/filter;add;remove;0.9;0.1;20;2;False;/tmp/;False");
  EXPECT_EQ(config.Server(), "srv");
  for (const char *other : {"GET", "cycle", "CONFIG ", "LOCKED", ""}) routed.Route(config, other);
  EXPECT_EQ(routed.calls,
            (std::vector<std::string>{"cycle", "forget", "cycle (loaded)", "other GET",
                                      "other cycle", "other CONFIG ", "other LOCKED", "other "}));
}

// Settings that fail to load keep the visitors, who were counted under the settings still held.
TEST(RouteStream, ConfigThatFailsRaisesBeforeForgettingOrCycling) {
  clsConfig config(ConfigLayout::kCorvane);
  Routed routed;
  EXPECT_THROW(routed.Route(config, "CONFIG", "too;few"), common::KvError);
  EXPECT_TRUE(routed.calls.empty());
}

}  // namespace
