// The monitor's export directory is missing for a while, then created.
#include <gtest/gtest.h>

#include <filesystem>

#include "FaultTesting.h"

namespace {

using faults::Action;
using faults::Request;
using testing_support::ReadLines;

TEST(MissingExportPath, BufferedRecordsAreWrittenOnceInOrderWhenThePathAppears) {
  testing_support::TempDir dir;
  const std::string exports = dir.File("fernwick");
  faults::PluginObject monitor("KvCorvane.so", dir.Path());
  ASSERT_EQ(monitor.Stream(Action("CONFIG", faults::MonitorSettings(exports + "/", false))), 0);
  std::vector<std::string> sent;
  auto send = [&](const std::string &key) {
    sent.push_back(faults::Serial(static_cast<int>(sent.size())));
    EXPECT_EQ(monitor.Stream(Request(key, sent.back(), "/a")), 0);
  };
  for (const char *key : {"k1", "k1", "k1", "person"}) send(key);
  EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  for (const char *key : {"k1", "person"}) send(key);
  EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  const faults::Lines errors = ReadLines(dir.File("KvCorvaneErrors.LOG"));
  ASSERT_EQ(errors.size(), 2u);
  for (const std::string &line : errors) {
    EXPECT_NE(line.find(" Error: 76 Path not found: " + exports +
                        "/KvCorvaneHits.Out (No such file or directory)"),
              std::string::npos)
        << line;
  }
  // The snapshot comes first in a cycle and is written all the same.
  EXPECT_EQ(faults::LinesWith(ReadLines(dir.File("KvCorvane.xml")), "<USER ").size(), 2u);

  std::filesystem::create_directory(exports);
  EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  send("person");
  EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  const faults::Lines lines = ReadLines(exports + "/KvCorvaneHits.Out");
  ASSERT_EQ(lines.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_NE(lines[i].find("^GET^" + sent[i] + "^"), std::string::npos) << lines[i];
  }
  const faults::Lines alerts = ReadLines(exports + "/KvCorvaneAlerts.Out");
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_NE(alerts[0].find("^k1^"), std::string::npos);
  EXPECT_EQ(ReadLines(dir.File("KvCorvaneErrors.LOG")).size(), 2u);
}

}  // namespace
