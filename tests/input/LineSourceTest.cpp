// The sources of a run: the replay's merger and the live follower read the same bytes by the
// same rule, and hand lines on in the order and at the clock the run relies on.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <ctime>

#include "Clock.h"
#include "input/LiveSource.h"
#include "input/LogMerger.h"
#include "support/LocalZone.h"
#include "support/TempDir.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

std::string Line(const std::string &address, const std::string &time, const std::string &path) {
  return address + " - - [" + time + "] \"GET " + path + " HTTP/1.1\" 200 5 \"-\" \"agent\"\n";
}

struct Taken {
  std::vector<std::string> clients;
  std::vector<std::string> serverNames;
  std::vector<double> times;
};

Taken TakeAll(host::LineSource &source) {
  Taken taken;
  host::SourceLine line;
  while (source.Next(line)) {
    taken.clients.emplace_back(line.record->client);
    taken.serverNames.emplace_back(line.serverName);
    taken.times.push_back(line.time.local);
  }
  return taken;
}

// The run's clock in its two forms is one instant: the local date-time is the UTC milliseconds
// moved by the zone's offset, and both are now.
TEST(RunTime, TheSystemClockGivesOneInstantInBothForms) {
  host::RunTime now;
  const auto before = static_cast<int64_t>(time(nullptr));
  {
    testing_support::LocalZone zone("XST-5:30");  // five and a half hours east, in any database
    now = host::RunTime::System();
  }
  EXPECT_GE(now.utcMilliseconds / 1000, before);
  EXPECT_LE(now.utcMilliseconds / 1000, before + 2);
  const double local = common::AddSeconds(common::MakeDateTime(1970, 1, 1, 0, 0, 0),
                                          static_cast<double>(now.utcMilliseconds) / 1000 + 19800);
  EXPECT_NEAR(now.local, local, 0.002 / 86400);
}

TEST(LogMerger, HandsOnTheEarliestLineInUtcWhateverTheLogsZones) {
  TempDir dir;
  // 12:00:01 in Berlin is 11:00:01 UTC: earlier than everything in the second log.
  WriteFile(dir.File("a.log"), Line("a1", "07/Dec/2026:12:00:01 +0100", "/") +
                                   Line("a2", "07/Dec/2026:13:00:05 +0100", "/"));
  WriteFile(dir.File("b.log"), Line("b1", "07/Dec/2026:11:00:02 +0000", "/") +
                                   Line("b2", "07/Dec/2026:11:00:03 +0000", "/") +
                                   Line("b3", "07/Dec/2026:12:00:09 +0000", "/"));
  host::LineStats stats;
  host::LineReader reader(host::LogFormat(), host::RealClient(), stats);
  host::LogMerger merger({{dir.File("b.log"), "b.example"}, {dir.File("a.log"), ""}}, reader);
  const Taken taken = TakeAll(merger);
  EXPECT_EQ(taken.clients, (std::vector<std::string>{"a1", "b1", "b2", "a2", "b3"}));
  EXPECT_EQ(taken.serverNames[0], "");
  EXPECT_EQ(taken.serverNames[1], "b.example") << "each log's lines carry its own host";
  // The clock is each line's own local time, as the line wrote it.
  EXPECT_DOUBLE_EQ(taken.times[0], common::MakeDateTime(2026, 12, 7, 12, 0, 1));
  EXPECT_DOUBLE_EQ(taken.times[1], common::MakeDateTime(2026, 12, 7, 11, 0, 2));
  EXPECT_DOUBLE_EQ(merger.Now().local, common::MakeDateTime(2026, 12, 7, 12, 0, 9));
  EXPECT_EQ(merger.Now().utcMilliseconds, 1796644809000) << "12:00:09 UTC on 7 Dec 2026";
  EXPECT_EQ(stats.lines, 5u);
}

// The same awkward bytes through a replay and through a follow give the same counts.
TEST(LineSources, CountBlankOverLongAndMalformedLinesByOneRule) {
  const std::string good = Line("1.2.3.4", "07/Dec/2026:12:00:01 +0000", "/");
  std::string overLong = Line("1.2.3.4", "07/Dec/2026:12:00:02 +0000", "/");
  overLong.insert(overLong.find(" HTTP"), std::string(host::LogReader::kMaxLine, 'x'));
  const std::string bytes = good + "\n" + "\r\n" + overLong + "garbage\n" +
                            "1.2.3.4 - - [07/Dec/2026:12:00:03 +0000] \"-\" 400 0 \"-\" \"-\"\n" +
                            good;
  TempDir dir;
  WriteFile(dir.File("replay.log"), bytes);
  host::LineStats replayed;
  host::LineReader replayReader(host::LogFormat(), host::RealClient(), replayed);
  host::LogMerger merger({{dir.File("replay.log"), ""}}, replayReader);
  TakeAll(merger);

  WriteFile(dir.File("follow.log"), "");
  host::LineStats followed;
  host::LineReader followReader(host::LogFormat(), host::RealClient(), followed);
  std::atomic<bool> stop{false};
  host::LiveSource live({{dir.File("follow.log"), ""}}, false, followReader, stop);
  WriteFile(dir.File("follow.log"), bytes);
  TakeAll(live);

  for (const host::LineStats *stats : {&replayed, &followed}) {
    EXPECT_EQ(stats->lines, 7u);
    EXPECT_EQ(stats->malformed, 2u) << "the over-long line and the garbage";
    EXPECT_EQ(stats->faults[static_cast<size_t>(host::LineFault::kLineTooLong)], 1u);
    EXPECT_EQ(stats->faults[static_cast<size_t>(host::LineFault::kShape)], 1u);
    EXPECT_EQ(stats->withoutRequest, 0u) << "counted by the run, not the source";
    ASSERT_EQ(stats->firstMalformed.size(), 2u);
  }
  EXPECT_EQ(replayed.firstMalformed[0], dir.File("replay.log") + ":4");
  EXPECT_EQ(followed.firstMalformed[0], dir.File("follow.log") + ":4");
  EXPECT_EQ(followed.firstMalformed[1], dir.File("follow.log") + ":5");
}

TEST(LiveSource, TakesLinesFromEveryLogAtTheTimeTheyWereReadAndStopsWhenAsked) {
  TempDir dir;
  WriteFile(dir.File("a.log"), "");
  std::atomic<bool> stop{false};
  host::LineStats stats;
  host::LineReader reader(host::LogFormat(), host::RealClient(), stats);
  // b.log does not exist yet: it is waited for.
  host::LiveSource live({{dir.File("a.log"), "a.example"}, {dir.File("b.log"), "b.example"}}, false,
                        reader, stop);
  host::SourceLine line;
  EXPECT_FALSE(live.Next(line));
  EXPECT_FALSE(live.Ended());
  std::string many;
  for (int i = 0; i < 600; ++i) many += Line("a", "07/Dec/2020:12:00:00 +0000", "/");
  WriteFile(dir.File("a.log"), many);
  WriteFile(dir.File("b.log"), Line("b", "07/Dec/2020:12:00:00 +0000", "/"));
  const double before = common::SystemNow();
  const host::RunTime waited = live.Wait(before);  // looks for rotation and new files
  EXPECT_NEAR(static_cast<double>(waited.utcMilliseconds) / 1000,
              static_cast<double>(time(nullptr)), 2);
  const Taken taken = TakeAll(live);
  ASSERT_EQ(taken.clients.size(), 601u);
  // A busy log does not keep a quiet one waiting for all of its lines.
  const auto b = std::find(taken.clients.begin(), taken.clients.end(), "b");
  EXPECT_LT(b - taken.clients.begin(), 600);
  EXPECT_EQ(taken.serverNames[b - taken.clients.begin()], "b.example");
  const auto a = std::find(taken.clients.begin(), taken.clients.end(), "a");
  EXPECT_EQ(taken.serverNames[a - taken.clients.begin()], "a.example");
  for (double time : taken.times) {
    EXPECT_GE(time, before) << "a live line is timed when it is read, not by the log's own time";
    EXPECT_LT(std::abs(time - before) * 86400, 60);
  }
  stop = true;
  EXPECT_TRUE(live.Ended());
}

}  // namespace
