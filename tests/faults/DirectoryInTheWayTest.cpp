// A directory stands where a plug-in replaces its snapshot or its tripwire file: it is never
// moved, and the plug-in goes on with everything else it writes.
#include <gtest/gtest.h>

#include <filesystem>

#include "FaultTesting.h"

namespace {

using faults::Action;
using faults::LinesWith;
using faults::PluginObject;
using testing_support::ReadLines;
using testing_support::TempDir;

// A directory under a file's name, holding a file of its own.
void PutDirectoryAt(const std::string &path) {
  std::filesystem::create_directory(path);
  testing_support::WriteFile(path + "/kept", "kept\n");
}

bool DirectoryStillHolds(const std::string &path) {
  return std::filesystem::is_directory(path) &&
         testing_support::ReadFile(path + "/kept") == "kept\n";
}

TEST(DirectoryInTheWay, TheMonitorLeavesItAndKeepsWritingItsExports) {
  TempDir dir;
  PluginObject monitor("KvCorvane.so", dir.Path());
  ASSERT_EQ(monitor.Stream(Action("CONFIG", faults::MonitorSettings(dir.Path() + "/", false))), 0);
  const std::string snapshot = dir.File("KvCorvane.xml");
  std::filesystem::remove(snapshot);
  PutDirectoryAt(snapshot);
  for (int second = 1; second <= 2; ++second) {
    EXPECT_EQ(monitor.Stream(faults::Request("k1", faults::Serial(second), "/a")), 0);
    EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  }
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvCorvaneErrors.LOG")));
  EXPECT_EQ(ReadLines(dir.File("KvCorvaneHits.Out")).size(), 2u);
  EXPECT_TRUE(DirectoryStillHolds(snapshot));
  // The snapshot that could not be put in place waits under the temporary name.
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.File("KvCorvane.tmp")));
  EXPECT_EQ(LinesWith(ReadLines(dir.File("KvCorvane.tmp")), "<USER ").size(), 1u);
}

TEST(DirectoryInTheWay, TheShieldPlugInLeavesItAndFilesItsShieldsOnceItIsGone) {
  TempDir dir;
  testing_support::WriteFile(dir.File("KvVantrel.CFG"), faults::TripwireDefinition());
  PluginObject shield("KvVantrel.so", dir.Path());
  ASSERT_EQ(shield.Stream(Action("CONFIG", faults::ShieldSettings("", false))), 0);
  const std::string tripwires = dir.File("KvVantrel.xml");
  PutDirectoryAt(tripwires);
  // A directory is no old tripwire file to copy from: each cycle with a shield to file fails
  // there, before any shield is sent, and nothing is moved.
  for (int second = 1; second <= 2; ++second) {
    shield.SteadyHits("v" + std::to_string(second), second);
    EXPECT_EQ(shield.Stream(Action("CYCLE")), 0);
  }
  const faults::Lines errors = ReadLines(dir.File("KvVantrelErrors.LOG"));
  ASSERT_EQ(errors.size(), 2u);
  for (const std::string &line : errors) {
    EXPECT_NE(line.find(" Error: 75 Path/File access error: " + tripwires + " (Is a directory)"),
              std::string::npos)
        << line;
  }
  EXPECT_TRUE(DirectoryStillHolds(tripwires));
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.File("KvVantrel.tmp")));

  std::filesystem::remove_all(tripwires);
  EXPECT_EQ(shield.Stream(Action("CYCLE")), 0);
  EXPECT_EQ(ReadLines(dir.File("KvVantrelErrors.LOG")).size(), 2u);
  EXPECT_EQ(LinesWith(ReadLines(tripwires), "<TRIPWIRE ").size(), 2u);
}

}  // namespace
