#include "clsConfig.h"

#include <gtest/gtest.h>

#include "KvError.h"
#include "PluginDirectory.h"
#include "support/TempDir.h"

namespace {

using common::clsConfig;
using common::ConfigLayout;

const char *kCorvaneText = "srv;/fd;/filter;add=1;remove=1;0.9;0.1;20;2;True;/tmp/;1;2.5;3.5;True";
const char *kVantrelText = "srv;/fd;/filter;add=1;remove=1;0.9;0.1;20;2;0;/tmp/;1";

class Config : public testing::Test {
 protected:
  void SetUp() override { common::SetPluginDirectory(dir.Path()); }
  void TearDown() override { common::SetPluginDirectory(""); }
  std::vector<std::string> Trace() {
    return testing_support::ReadLines(dir.File("KvTestTrace.LOG"));
  }
  testing_support::TempDir dir;
};

int FailureOf(clsConfig &config, const std::string &text) {
  try {
    config.Initialize(text);
  } catch (const common::KvError &error) {
    EXPECT_EQ(error.Source().substr(0, 40), "  Class: clsConfig  Sub: Initialize\rKvTe");
    return error.Number();
  }
  return 0;
}

TEST_F(Config, ReadsAndTracesTheMonitorLayout) {
  clsConfig config(ConfigLayout::kCorvane);
  config.Initialize(kCorvaneText);
  EXPECT_EQ(config.Server(), "srv");
  EXPECT_EQ(config.ThresholdBase(), 0.9f);
  EXPECT_EQ(config.PeriodBase(), 20);
  EXPECT_TRUE(config.FernwickActive());
  EXPECT_EQ(config.PossibleStrength(), 2);  // 2.5 to the even neighbour
  EXPECT_EQ(config.CertainStrength(), 4);   // 3.5 likewise
  const std::vector<std::string> expected = {"clsConfig - Initialize complete",
                                             "Server=srv",
                                             "FlowdeckURL=/fd",
                                             "FlowdeckFilterURI=/filter",
                                             "AddShieldURL=add=1",
                                             "RemoveShieldURL=remove=1",
                                             "PeriodBase=20",
                                             "PeriodIncrement=2",
                                             "ThresholdBase=0.9",
                                             "ThresholdIncrement=0.1",
                                             "FernwickActive=True",
                                             "FernwickPath=/tmp/",
                                             "Sensitivity=1",
                                             "PossibleStrength=2",
                                             "CertainStrength=4",
                                             "Trace=True"};
  EXPECT_EQ(Trace(), expected);
}

TEST_F(Config, ReadsTheShieldLayoutAndIgnoresExtraFields) {
  clsConfig config(ConfigLayout::kVantrel);
  config.Initialize(std::string(kVantrelText) + ";extra;fields");
  auto lines = Trace();
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[11], "Fernwickpath=/tmp/");
  EXPECT_EQ(lines[12], "Trace=True");
  EXPECT_FALSE(config.FernwickActive());
}

TEST_F(Config, AFailingFieldKeepsItAndLaterFieldsAsTheyWere) {
  clsConfig config(ConfigLayout::kCorvane);
  std::string text = kCorvaneText;
  text.replace(text.find(";True;"), 6, ";False;");  // FernwickActive off, trace on
  config.Initialize(text);
  // Ten fields: positions 0 to 9 are stored, 10 is missing.
  EXPECT_EQ(FailureOf(config, " new;a;b;c;d;0.5;0.25;7;1;True"), 9);
  EXPECT_EQ(config.Server(), " new");  // a leading space is kept
  EXPECT_EQ(config.ThresholdBase(), 0.5f);
  EXPECT_TRUE(config.FernwickActive());
  EXPECT_EQ(config.FernwickPath(), "/tmp/");
  EXPECT_EQ(config.CertainStrength(), 4);
  // Out of range and not a number fail at their own field.
  EXPECT_EQ(FailureOf(config, "s;a;b;c;d;0.5;0.25;40000;1;True;/p/;1;1;1;False"), 6);
  EXPECT_EQ(config.PeriodBase(), 7);
  EXPECT_EQ(FailureOf(config, "s;a;b;c;d;zero;0.25;7;1;True;/p/;1;1;1;False"), 13);
  EXPECT_EQ(FailureOf(config, ""), 9);
  EXPECT_EQ(config.Server(), "s");
  EXPECT_TRUE(config.Trace());
}

TEST_F(Config, IsLoadedOnceEveryFieldWasStoredAndStaysSo) {
  clsConfig config(ConfigLayout::kVantrel);
  EXPECT_FALSE(config.IsLoaded());
  // Eleven fields: the thresholds are stored, the missing Trace fails.
  EXPECT_EQ(FailureOf(config, "s;a;b;c;d;0.5;0.25;7;1;False;/p/"), 9);
  EXPECT_EQ(config.ThresholdBase(), 0.5f);
  EXPECT_FALSE(config.IsLoaded());
  config.Initialize("s;a;b;c;d;0.5;0.25;7;1;False;/p/;False");
  EXPECT_TRUE(config.IsLoaded());
  // A later failure changes some fields but leaves the settings loaded.
  EXPECT_EQ(FailureOf(config, "s;a;b;c;d;0.75"), 9);
  EXPECT_TRUE(config.IsLoaded());
}

TEST_F(Config, TracesNothingWhenTraceIsOff) {
  clsConfig config(ConfigLayout::kVantrel);
  std::string text = kVantrelText;
  text.back() = '0';
  config.Initialize(text);
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvTestTrace.LOG")));
}

}  // namespace
