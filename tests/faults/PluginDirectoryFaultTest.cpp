// The plug-in directory fills up or vanishes mid-run, with the real plug-ins loaded as a host
// loads them: the failed cycle is reported, and the first cycle after the fault writes what was
// pending, once.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FaultTesting.h"

namespace {

using faults::Action;
using faults::Lines;
using faults::LinesWith;
using faults::PluginObject;
using faults::Request;
using faults::Serial;
using testing_support::ReadFile;
using testing_support::ReadLines;
using testing_support::TempDir;

// The serial of the n-th request of a test: every request has its own.
std::string NthSerial(int n) {
  return Serial(n / 10, n % 10 * 100);
}

uintmax_t SizeOf(const std::string &path) {
  return std::filesystem::file_size(path);
}

// The serials of the hit export lines, in file order.
std::vector<std::string> ExportedSerials(const std::string &path) {
  std::vector<std::string> serials;
  for (const std::string &line : ReadLines(path)) {
    const size_t start = line.find(line[0], 1) + 1;
    serials.push_back(line.substr(start, line.find(line[0], start) - start));
  }
  return serials;
}

TEST(FullDisk, TheMonitorWritesEveryPendingExportLineAndAlertOnceThereIsRoomAgain) {
  TempDir dir;
  PluginObject monitor("KvCorvane.so", dir.Path());
  ASSERT_EQ(monitor.Stream(Action("CONFIG", faults::MonitorSettings(dir.Path() + "/", false))), 0);
  std::vector<std::string> sent;
  auto send = [&](const std::string &key) {
    sent.push_back(NthSerial(static_cast<int>(sent.size())));
    EXPECT_EQ(monitor.Stream(Request(key, sent.back(), "/a/p.htm")), 0);
  };
  send("person");
  send("person");
  ASSERT_EQ(monitor.Stream(Action("CYCLE")), 0);
  const std::string hits = dir.File("KvCorvaneHits.Out");
  const std::string errors = dir.File("KvCorvaneErrors.LOG");

  faults::FileSizeLimit full(SizeOf(hits) + 4000);  // room for some 35 more lines
  // Three paced visitors, 40 requests each, 300 ms apart: each rates 2 and raises an alert.
  for (int i = 0; i < 120; ++i) send("k" + std::to_string(i % 3));
  EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  Lines logged = ReadLines(errors);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find(" Error: 61 Disk full: " + hits + " (File too large)"),
            std::string::npos)
      << logged[0];
  const std::string partial = ReadFile(hits);
  EXPECT_TRUE(partial.ends_with("\r\n")) << "the file is cut back to its last whole line";
  EXPECT_LT(ReadLines(hits).size(), 122u);
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvCorvaneAlerts.Out")));
  for (int i = 0; i < 30; ++i) send("k" + std::to_string(i % 3));
  EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  EXPECT_EQ(ReadLines(errors).size(), 2u);
  EXPECT_EQ(ReadFile(hits), partial);

  full.Lift();
  EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  EXPECT_EQ(ExportedSerials(hits), sent);
  const Lines alerts = ReadLines(dir.File("KvCorvaneAlerts.Out"));
  ASSERT_EQ(alerts.size(), 3u);
  for (const char *key : {"^k0^", "^k1^", "^k2^"}) {
    EXPECT_EQ(LinesWith(alerts, key).size(), 1u) << key;
  }
  EXPECT_EQ(ReadLines(errors).size(), 2u);
  faults::ExpectWellFormedXml(dir.File("KvCorvane.xml"));
}

TEST(FullDisk, TheLastCompleteSnapshotStaysUntilANewOneFits) {
  TempDir dir;
  PluginObject monitor("KvCorvane.so", dir.Path());
  ASSERT_EQ(monitor.Stream(Action("CONFIG", faults::MonitorSettings(dir.Path() + "/", false))), 0);
  monitor.SteadyHits("k1", 1);
  ASSERT_EQ(monitor.Stream(Action("CYCLE")), 0);
  const std::string snapshot = dir.File("KvCorvane.xml");
  const std::string before = ReadFile(snapshot);
  const uintmax_t exported = SizeOf(dir.File("KvCorvaneHits.Out"));
  {
    faults::FileSizeLimit full(8000);
    // Each visitor on its own path: some 60 USER and HIT lines, far more than 8000 bytes.
    for (int i = 0; i < 60; ++i) {
      EXPECT_EQ(monitor.Stream(Request("v" + std::to_string(i), NthSerial(100 + i),
                                       "/b/" + std::to_string(i) + ".htm")),
                0);
    }
    EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  }
  const Lines logged = ReadLines(dir.File("KvCorvaneErrors.LOG"));
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("Disk full: " + dir.File("KvCorvane.tmp") + " (File too large)"),
            std::string::npos)
      << logged[0];
  EXPECT_EQ(ReadFile(snapshot), before);
  EXPECT_EQ(SizeOf(dir.File("KvCorvaneHits.Out")), exported) << "the cycle ended before exports";
  EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  EXPECT_EQ(LinesWith(ReadLines(snapshot), "<USER ").size(), 61u);
  EXPECT_EQ(ReadLines(dir.File("KvCorvaneHits.Out")).size(), 63u);
  faults::ExpectWellFormedXml(snapshot);
}

TEST(FullDisk, NoShieldSentWhileTheTripwireFileCouldNotGrowIsMissingFromItLater) {
  TempDir dir;
  testing_support::WriteFile(dir.File("KvVantrel.CFG"), faults::TripwireDefinition());
  // A tripwire file of some 40 kB from earlier runs.
  std::string old = "<?xml version=\"1.0\"?>\r\n<KELVARIN>\r\n\t<TRIPWIRES>\r\n";
  for (int i = 0; i < 400; ++i) {
    old += "\t\t<TRIPWIRE REMOTEADDR=\"192.0.2." + std::to_string(i % 250) +
           "\" HOST=\"shop\" RESOURCE=\"/old/" + std::to_string(i) + ".htm\" INVERSE=\"0\" />\r\n";
  }
  old += "\t</TRIPWIRES>\r\n</KELVARIN>\r\n";
  const std::string tripwires = dir.File("KvVantrel.xml");
  testing_support::WriteFile(tripwires, old);
  PluginObject shield("KvVantrel.so", dir.Path());
  ASSERT_EQ(shield.Stream(Action("CONFIG", faults::ShieldSettings("", false))), 0);
  {
    faults::FileSizeLimit full(old.size() + 100);
    shield.SteadyHits("v1", 1);
    EXPECT_EQ(shield.Stream(Action("CYCLE")), 0);
    shield.SteadyHits("v2", 2, "/a/q.htm");
    EXPECT_EQ(shield.Stream(Action("CYCLE")), 0);
  }
  const Lines logged = ReadLines(dir.File("KvVantrelErrors.LOG"));
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_NE(logged[0].find("Disk full: " + dir.File("KvVantrel.tmp") + " (File too large)"),
            std::string::npos)
      << logged[0];
  EXPECT_EQ(ReadFile(tripwires), old);

  EXPECT_EQ(shield.Stream(Action("CYCLE")), 0);
  EXPECT_EQ(shield.Stream(Action("CYCLE")), 0);
  const Lines lines = ReadLines(tripwires);
  ASSERT_EQ(LinesWith(lines, "<TRIPWIRE ").size(), 402u);
  EXPECT_EQ(LinesWith(lines, "RESOURCE=\"/a/p.htm\"").size(), 1u);
  EXPECT_EQ(LinesWith(lines, "RESOURCE=\"/a/q.htm\"").size(), 1u);
  EXPECT_NE(lines[403].find("RESOURCE=\"/a/p.htm\""), std::string::npos) << "old lines first";
  EXPECT_EQ(ReadLines(dir.File("KvVantrelErrors.LOG")).size(), 2u);
  faults::ExpectWellFormedXml(tripwires);
}

// With the directory gone not even the error log can be written: the call fails for the host,
// as it may only then, and nothing of the run is lost when the directory is back.
TEST(VanishedDirectory, BothPlugInsFailTheirCyclesAndCatchUpWhenItIsBack) {
  TempDir dir;
  testing_support::WriteFile(dir.File("KvVantrel.CFG"), faults::TripwireDefinition());
  PluginObject shield("KvVantrel.so", dir.Path());
  PluginObject monitor("KvCorvane.so", dir.Path());
  ASSERT_EQ(shield.Stream(Action("CONFIG", faults::ShieldSettings("", false))), 0);
  ASSERT_EQ(monitor.Stream(Action("CONFIG", faults::MonitorSettings(dir.Path() + "/", false))), 0);
  {
    faults::DirectoryReplacedByFile gone(dir.Path());
    shield.SteadyHits("v1", 1);
    monitor.SteadyHits("v1", 1);
    EXPECT_EQ(shield.Stream(Action("CYCLE")), 1);
    EXPECT_EQ(monitor.Stream(Action("CYCLE")), 1);
  }
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvVantrelErrors.LOG")));
  EXPECT_EQ(shield.Stream(Action("CYCLE")), 0);
  EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  EXPECT_EQ(LinesWith(ReadLines(dir.File("KvVantrel.xml")), "<TRIPWIRE ").size(), 1u);
  EXPECT_EQ(ReadLines(dir.File("KvCorvaneHits.Out")).size(), 3u);
  EXPECT_EQ(ReadLines(dir.File("KvCorvaneAlerts.Out")).size(), 1u);
  EXPECT_EQ(LinesWith(ReadLines(dir.File("KvCorvane.xml")), "<USER ").size(), 1u);
}

}  // namespace
