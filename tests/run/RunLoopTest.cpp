// The one order of a run, read from what the two plug-ins were given: CONFIG before any line,
// the cycles due at a line's time before the line, the shield plug-in's cycle (and the locks it
// raised) before the monitor's at one moment, and one more cycle of each at the end.
#include "run/RunLoop.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "RecordingRun.h"
#include "support/TempDir.h"

namespace {

using testing_support::RecordedCall;
using testing_support::RecordedCalls;
using testing_support::ScriptedSource;

TEST(RunLoop, ConfigFirstThenCyclesDueBeforeEachLineShieldBeforeMonitorAndOneMoreAtTheEnd) {
  testing_support::TempDir dir;
  std::ostringstream out, err;
  host::Session session(testing_support::RecordingOptions(dir.Path()), host::HostConfig(), out,
                        err);
  ScriptedSource source(dir.Path());
  // The shield plug-in cycles every 10 s, the monitor every 60 s of the log's clock.
  source.Request(0, "198.51.100.1", "/a");
  source.Request(5, "198.51.100.1", "/b");
  source.Request(10, "198.51.100.2", "/c");  // exactly one shield period in: cycles first
  source.NoRequest(21);                      // cycles, and is streamed to neither
  // Due since 31: the shield cycle runs at 55, before the plug-in's own request is taken.
  source.ShieldRequest(55, "127.0.0.1", "203.0.113.9");
  // Both due (monitor since 60, shield since 65): the shield plug-in's cycle puts the shield in
  // force and the monitor hears of the lock before its own cycle.
  source.Request(66, "198.51.100.3", "/d");
  source.EndAt(70);

  host::LineStats stats;
  host::RunLoop loop(session, source, host::Cadence{10, 60}, stats);
  std::vector<bool> afterCycles;
  loop.AfterCycles([&](bool monitor) { afterCycles.push_back(monitor); });
  loop.Run();
  session.Finish();

  const double start = ScriptedSource::kStart;
  EXPECT_EQ(RecordedCalls(dir.Path(), "shield", start), (std::vector<RecordedCall>{
                                                            {"CONFIG", 0, ""},
                                                            {"GET", 0, "198.51.100.1"},
                                                            {"GET", 5, "198.51.100.1"},
                                                            {"CYCLE", 10, ""},
                                                            {"GET", 10, "198.51.100.2"},
                                                            {"CYCLE", 21, ""},
                                                            {"CYCLE", 55, ""},
                                                            {"CYCLE", 66, ""},
                                                            {"GET", 66, "198.51.100.3"},
                                                            {"CYCLE", 70, ""},
                                                        }));
  EXPECT_EQ(RecordedCalls(dir.Path(), "monitor", start), (std::vector<RecordedCall>{
                                                             {"CONFIG", 0, ""},
                                                             {"GET", 0, "198.51.100.1"},
                                                             {"GET", 5, "198.51.100.1"},
                                                             {"GET", 10, "198.51.100.2"},
                                                             {"LOCKED", 66, "203.0.113.9"},
                                                             {"CYCLE", 66, ""},
                                                             {"GET", 66, "198.51.100.3"},
                                                             {"CYCLE", 70, ""},
                                                         }));
  // Each moment at which something cycled, saying whether the monitor was among them.
  EXPECT_EQ(afterCycles, (std::vector<bool>{false, false, false, true, true}));
  EXPECT_EQ(stats.requests, 5u);  // the shield plug-in's own request counts as a line's request
  EXPECT_EQ(stats.withoutRequest, 1u);
  EXPECT_EQ(session.Requests(), 4u);
  EXPECT_EQ(session.LoggedShieldRequests(), 1u);
  EXPECT_EQ(session.ShieldCycles(), 5u);
  EXPECT_EQ(session.MonitorCycles(), 2u);
  EXPECT_TRUE(session.Shields().Shielded("203.0.113.9"));
}

TEST(RunLoop, ARunWithoutLinesStartsAtTheSourcesClockAndStillCyclesEachOnce) {
  testing_support::TempDir dir;
  std::ostringstream out, err;
  host::Session session(testing_support::RecordingOptions(dir.Path()), host::HostConfig(), out,
                        err);
  ScriptedSource source(dir.Path());
  source.EndAt(3);
  host::LineStats stats;
  host::RunLoop loop(session, source, host::Cadence{}, stats);
  loop.Run();
  session.Finish();
  // The clock starts at the source's time (3 s), not at zero.
  const double start = ScriptedSource::kStart;
  const std::vector<RecordedCall> once{{"CONFIG", 3, ""}, {"CYCLE", 3, ""}};
  EXPECT_EQ(RecordedCalls(dir.Path(), "shield", start), once);
  EXPECT_EQ(RecordedCalls(dir.Path(), "monitor", start), once);
}

}  // namespace
