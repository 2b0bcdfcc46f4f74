// The trace log cannot be written while Trace is on: a directory stands where the file should.
#include <gtest/gtest.h>

#include <filesystem>

#include "FaultTesting.h"

namespace {

using faults::Action;
using faults::PluginObject;
using faults::Request;
using faults::Serial;
using testing_support::ReadLines;
using testing_support::TempDir;

// Every error line names the trace log and why it could not be written.
void ExpectEachLineNamesTheLog(const faults::Lines &errors, const std::string &log) {
  for (const std::string &line : errors) {
    EXPECT_NE(line.find(" Error: 75 Path/File access error: " + log + " (Is a directory)"),
              std::string::npos)
        << line;
  }
}

TEST(UnwritableTraceLog, EachShieldCallThatTracesEndsInOneErrorLineAndTracingResumesAfter) {
  TempDir dir;
  testing_support::WriteFile(dir.File("KvVantrel.CFG"), faults::TripwireDefinition());
  const std::string log = dir.File("KvVantrelTrace.LOG");
  std::filesystem::create_directory(log);
  PluginObject shield("KvVantrel.so", dir.Path());
  const faults::Fields calls[] = {
      Action("CONFIG", faults::ShieldSettings("", true)), Request("v1", Serial(1), "/a/p.htm"),
      Request("v1", Serial(2), "/b/p.htm"), Action("CYCLE"), Action("CYCLE")};
  for (const faults::Fields &call : calls) EXPECT_EQ(shield.Stream(call), 0);
  const faults::Lines errors = ReadLines(dir.File("KvVantrelErrors.LOG"));
  EXPECT_EQ(errors.size(), std::size(calls));
  ExpectEachLineNamesTheLog(errors, log);

  std::filesystem::remove(log);
  shield.SteadyHits("v1", 3);
  EXPECT_EQ(shield.Stream(Action("CYCLE")), 0);
  EXPECT_EQ(ReadLines(dir.File("KvVantrelErrors.LOG")).size(), std::size(calls));
  EXPECT_FALSE(faults::LinesWith(ReadLines(log), "Cycle Started").empty());
  EXPECT_EQ(faults::LinesWith(ReadLines(dir.File("KvVantrel.xml")), "<TRIPWIRE ").size(), 1u);
}

// The trace line of a request held against a mask fails: the matching step's own segment stands
// between the lookup's and the start of the error.
TEST(UnwritableTraceLog, AFailedMatchingTraceNamesTheMatchingStep) {
  TempDir dir;
  testing_support::WriteFile(dir.File("KvVantrel.CFG"), faults::TripwireDefinition());
  PluginObject shield("KvVantrel.so", dir.Path());
  EXPECT_EQ(shield.Stream(Action("CONFIG", faults::ShieldSettings("", true))), 0);
  const std::string log = dir.File("KvVantrelTrace.LOG");
  std::filesystem::remove(log);
  std::filesystem::create_directory(log);
  EXPECT_EQ(shield.Stream(Request("v1", Serial(1), "/a/p.htm")), 0);
  EXPECT_EQ(ReadLines(dir.File("KvVantrelErrors.LOG")),
            faults::Lines{"3/5/2004 2:00:00 PM Error: 75 Path/File access error: " + log +
                          " (Is a directory) Error Source:   Class: Vantrel  Sub: Stream\r"
                          "  Class: clsShieldedResources  Function: ProtectedResourceIndex\r"
                          "  Class: clsShieldedResources  Function: ContainsResource\r"
                          "KvVantrel"});
}

TEST(UnwritableTraceLog, EachMonitorCallThatTracesEndsInOneErrorLineAndTracingResumesAfter) {
  TempDir dir;
  const std::string log = dir.File("KvCorvaneTrace.LOG");
  std::filesystem::create_directory(log);
  PluginObject monitor("KvCorvane.so", dir.Path());
  faults::Fields lock = Action("LOCKED");
  lock[5] = "10.0.0.7";
  lock[16] = "1";
  const faults::Fields calls[] = {Action("CONFIG", faults::MonitorSettings(dir.Path() + "/", true)),
                                  Request("k1", Serial(1), "/a"), lock, Action("CYCLE")};
  for (const faults::Fields &call : calls) EXPECT_EQ(monitor.Stream(call), 0);
  const faults::Lines errors = ReadLines(dir.File("KvCorvaneErrors.LOG"));
  EXPECT_EQ(errors.size(), std::size(calls));
  ExpectEachLineNamesTheLog(errors, log);

  std::filesystem::remove(log);
  monitor.SteadyHits("k1", 2);
  EXPECT_EQ(monitor.Stream(Action("CYCLE")), 0);
  EXPECT_EQ(ReadLines(dir.File("KvCorvaneErrors.LOG")).size(), std::size(calls));
  EXPECT_FALSE(faults::LinesWith(ReadLines(log), "\tXML file complete").empty());
  EXPECT_EQ(ReadLines(dir.File("KvCorvaneHits.Out")).size(), 3u);
  EXPECT_EQ(ReadLines(dir.File("KvCorvaneAlerts.Out")).size(), 1u);
}

}  // namespace
