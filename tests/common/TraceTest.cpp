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

class Trace : public testing::Test {
 protected:
  void SetUp() override { common::SetPluginDirectory(dir.Path()); }
  void TearDown() override { common::SetPluginDirectory(""); }
  // Settings with tracing switched on or off.
  static common::clsConfig Settings(bool trace) {
    common::clsConfig config(common::ConfigLayout::kVantrel);
    config.Initialize(std::string("s;u;f;a;r;0.9;0.1;20;2;False;/p/;") +
                      (trace ? "True" : "False"));
    return config;
  }
  std::string Log() const { return testing_support::ReadFile(dir.File("KvTestTrace.LOG")); }
  testing_support::TempDir dir;
};

TEST_F(Trace, OffWritesAndFormatsNothing) {
  const common::clsConfig off = Settings(false);
  int formatted = 0;
  common::WriteTrace(off, "a", CountedPart{&formatted}, 7);
  EXPECT_EQ(formatted, 0);
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvTestTrace.LOG")));
}

TEST_F(Trace, OnJoinsTextsNumbersAndGeneralNumbersIntoOneLine) {
  const common::clsConfig on = Settings(true);
  const std::string before = Log();
  int formatted = 0;
  common::WriteTrace(on, "n=", int16_t{-7}, " max=", std::numeric_limits<int64_t>::max(),
                     " r=", common::TracedNumber{0.1f, 15}, " s=", common::TracedNumber{0.7f, 7},
                     " ", CountedPart{&formatted});
  EXPECT_EQ(formatted, 1);
  EXPECT_EQ(Log().substr(before.size()),
            "n=-7 max=9223372036854775807 r=0.100000001490116 s=0.7 counted\r\n");
}

}  // namespace tracing_testing
