// The monitor's directory stops taking new files mid-run.
#include <gtest/gtest.h>

#include "Corvane.h"
#include "FaultTesting.h"
#include "PluginDirectory.h"
#include "ReadOnlyDirectory.h"

namespace {

using faults::Action;
using testing_support::ReadLines;

class ReadOnlyMonitorDirectory : public ::testing::Test {
 protected:
  ReadOnlyMonitorDirectory() { common::SetPluginDirectory(dir.Path()); }
  ~ReadOnlyMonitorDirectory() override { common::SetPluginDirectory(""); }

  void Stream(const faults::Fields &fields) {
    common::StreamFields view;
    for (size_t i = 0; i < fields.size(); ++i) view[i] = fields[i];
    monitor.Stream(view);
  }
  faults::Lines Errors() const { return ReadLines(dir.File("KvCorvaneErrors.LOG")); }

  testing_support::TempDir dir;
  testing_support::TempDir exports;
  corvane::Corvane monitor;
};

TEST_F(ReadOnlyMonitorDirectory, TheCycleFailsAtTheSnapshotAndTheNextWritesWhatWaited) {
  Stream(Action("CONFIG", faults::MonitorSettings(exports.Path() + "/", false)));
  Stream(faults::Request("k0", "not a number", "/a"));  // the error log now exists
  ASSERT_EQ(Errors().size(), 1u);
  {
    faults::ReadOnlyDirectory readOnly(dir.Path());
    for (int i = 0; i < 3; ++i) Stream(faults::Request("k1", faults::Serial(1, 100 * i), "/a"));
    Stream(Action("CYCLE"));
  }
  ASSERT_EQ(Errors().size(), 2u);
  EXPECT_NE(Errors()[1].find(" Error: 70 Permission denied: " + dir.File("KvCorvane.tmp") +
                             " (Permission denied)"),
            std::string::npos)
      << Errors()[1];
  // The cycle ended before the exports, which live elsewhere and could have been written.
  EXPECT_FALSE(testing_support::FileExists(exports.File("KvCorvaneHits.Out")));
  EXPECT_FALSE(testing_support::FileExists(exports.File("KvCorvaneAlerts.Out")));
  Stream(faults::Request("k2", faults::Serial(2), "/a"));
  Stream(Action("CYCLE"));
  Stream(Action("CYCLE"));
  EXPECT_EQ(ReadLines(exports.File("KvCorvaneHits.Out")).size(), 4u);
  const faults::Lines alerts = ReadLines(exports.File("KvCorvaneAlerts.Out"));
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_NE(alerts[0].find("^k1^"), std::string::npos);
  EXPECT_EQ(Errors().size(), 2u);
  faults::ExpectWellFormedXml(dir.File("KvCorvane.xml"));
}

}  // namespace
