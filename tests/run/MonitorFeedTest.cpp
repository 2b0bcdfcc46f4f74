// The monitor on its own thread reads the clock of each call as it was sent: visitors expire at
// exactly the second they would with the monitor called directly.
#include "run/MonitorFeed.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "run/PluginLibrary.h"
#include "support/PluginLoader.h"
#include "support/TempDir.h"

namespace {

using Fields = std::array<std::string, FLOWDECK_FIELD_COUNT>;

void Send(host::MonitorFeed &feed, const Fields &fields, double clock) {
  flowdeck_text texts[FLOWDECK_FIELD_COUNT];
  for (size_t i = 0; i < FLOWDECK_FIELD_COUNT; ++i) texts[i] = {fields[i].data(), fields[i].size()};
  feed.Send(texts, clock);
}

Fields Call(const std::string &action, const std::string &key = "", const std::string &text = "") {
  Fields fields{};
  fields[0] = action;
  fields[1] = "40305140000000";
  fields[2] = key;
  fields[13] = text;
  return fields;
}

TEST(MonitorFeed, EachCallRunsAtTheClockItWasSentWith) {
  testing_support::TempDir dir;
  const std::string path = dir.File("KvCorvane.so");
  std::filesystem::copy_file(std::string(FLOWDECK_PLUGIN_DIR) + "/KvCorvane.so", path);
  host::PluginLibrary monitor(path, "KvCorvane.Corvane");
  const double start = testing_support::LocalDate(2004, 3, 5, 14, 0, 0);
  auto at = [&](int seconds) { return start + seconds / 86400.0; };
  {
    host::MonitorFeed feed(monitor);
    feed.UseCallClock();
    // Settings with tracing on; calls go through the feed, so they are that thread's.
    Send(feed, Call("CONFIG", "", "srv;url;uri;add;remove;0.9;0.1;10;1;0;;2;1;3;1"), at(0));
    Send(feed, Call("GET", "stays"), at(0));         // expires 300 seconds on
    Send(feed, Call("SESSION_END", "ends"), at(0));  // 15 seconds on
    // All in one batch: nothing but the clock of each call tells the cycles apart.
    for (int seconds : {15, 16, 300, 301}) Send(feed, Call("CYCLE"), at(seconds));
  }
  std::vector<std::string> counts;
  for (const std::string &line : testing_support::ReadLines(dir.File("KvCorvaneTrace.LOG"))) {
    if (line.starts_with("\tLooping to check ")) counts.push_back(line.substr(18));
  }
  EXPECT_EQ(counts,
            (std::vector<std::string>{"0 users", "2 users", "1 users", "1 users", "0 users"}));
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvCorvaneErrors.LOG")));
}

}  // namespace
