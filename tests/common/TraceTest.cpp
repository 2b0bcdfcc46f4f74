#include "Trace.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "PluginDirectory.h"
#include "support/TempDir.h"

namespace tracing_testing {

// A piece that counts how often it is put into a line.
struct CountedPart {
  int *formatted;
};

void AppendTracePart(std::string &line, CountedPart part) {
  ++*part.formatted;
  line.append("counted");
}

TEST(WriteTrace, OffFormatsNothingOnJoinsTextsNumbersAndGeneralNumbersIntoOneLine) {
  testing_support::TempDir dir;
  common::SetPluginDirectory(dir.Path());
  common::clsConfig config(common::ConfigLayout::kVantrel);
  config.Initialize("s;u;f;a;r;0.9;0.1;20;2;False;/p/;False");
  int formatted = 0;
  auto trace = [&] {
    common::WriteTrace(config, "n=", int16_t{-7}, " max=", std::numeric_limits<int64_t>::max(),
                       " r=", common::TracedNumber{0.1f, 15}, " s=", common::TracedNumber{0.7f, 7},
                       " ", CountedPart{&formatted});
  };
  trace();
  EXPECT_EQ(formatted, 0);
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvTestTrace.LOG")));
  config.Initialize("s;u;f;a;r;0.9;0.1;20;2;False;/p/;True");  // traces the settings
  const std::string before = testing_support::ReadFile(dir.File("KvTestTrace.LOG"));
  trace();
  EXPECT_EQ(formatted, 1);
  EXPECT_EQ(testing_support::ReadFile(dir.File("KvTestTrace.LOG")).substr(before.size()),
            "n=-7 max=9223372036854775807 r=0.100000001490116 s=0.7 counted\r\n");
  common::SetPluginDirectory("");
}

}  // namespace tracing_testing
