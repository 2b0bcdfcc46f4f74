#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <string>

#include "Clock.h"
#include "Corvane.h"
#include "HitLines.h"
#include "MonitorTesting.h"
#include "PluginDirectory.h"
#include "clsHits.h"
#include "modKvGlobal.h"
#include "support/TempDir.h"

namespace {

using monitor_testing::Action;
using monitor_testing::Lock;
using monitor_testing::Request;
using monitor_testing::Serial;
using monitor_testing::View;
using testing_support::ReadFile;

// The HIT lines as a snapshot built from nothing has them: one per run of hits on one path.
std::string LinesFromNothing(const corvane::clsHits &hits) {
  std::string lines;
  double previous = 0;
  for (int32_t j = 1; j <= hits.Count(); ++j) {
    int32_t run = 1;
    while (j < hits.Count() && hits.Hit(j + 1).PathInfo() == hits.Hit(j).PathInfo()) ++j, ++run;
    corvane::HitLines::AppendLine(lines, hits.Hit(j), run, previous);
    lines.append("\r\n");
    previous = hits.Hit(j).ArrivalSerial();
  }
  return lines;
}

// The serial (yyMMddHHnnssfff) of a time given in milliseconds from the start of 2026.
double SerialAt(int64_t milliseconds) {
  using namespace std::chrono;
  const sys_time<std::chrono::milliseconds> time =
      sys_days{year{2026} / 1 / 1} + std::chrono::milliseconds{milliseconds};
  const year_month_day date{floor<days>(time)};
  const hh_mm_ss clock{time - floor<days>(time)};
  const double digits[] = {static_cast<double>(static_cast<int>(date.year()) % 100),
                           static_cast<double>(static_cast<unsigned>(date.month())),
                           static_cast<double>(static_cast<unsigned>(date.day())),
                           static_cast<double>(clock.hours().count()),
                           static_cast<double>(clock.minutes().count()),
                           static_cast<double>(clock.seconds().count())};
  double serial = 0;
  for (double field : digits) serial = serial * 100 + field;
  return serial * 1000 + static_cast<double>(clock.subseconds().count());
}

// A visitor's list goes through thousands of cycles: bursts on a few paths, steady stretches
// with equal gaps, the cap dropping hits at the front, late hits, huge and fractional gaps and
// new sessions. What is kept from cycle to cycle must always equal what a fresh count gives.
TEST(KeptAcrossCycles, LinesAndCorrelationEqualAFreshCountAfterEveryChange) {
  std::mt19937 random(20261209);
  auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
  corvane::StringPool pool;
  corvane::clsHits hits(pool);
  corvane::HitLines kept;
  int64_t now = 0;  // milliseconds
  int pathIndex = 0;
  for (int cycle = 0; cycle < 3000; ++cycle) {
    // Most cycles only add hits in order; now and then one brings a disturbance.
    const bool steady = chance(5);
    const bool pause = chance(5);
    const bool late = chance(4);
    const bool far = chance(1);
    const bool fraction = chance(1);
    const bool afresh = chance(1);
    const int added = static_cast<int>(random() % 40) + (late || afresh ? 1 : 0);
    for (int i = 0; i < added; ++i) {
      double at = SerialAt(now);
      if (late && i == 0) {
        at = SerialAt(now - static_cast<int64_t>(random() % 100000));
      } else if (far && i == 0) {
        now += int64_t{10} * 86400000;  // ten days: too long a gap to sum exactly
      } else if (fraction && i == 0) {
        at += 0.5;  // not a whole millisecond
      } else if (pause && i == 0) {
        now += 30000 + static_cast<int64_t>(random() % 10000);  // the largest gap, alone
      } else {
        // The steady gap is the largest, held by many hits at once.
        now += steady ? 40000 : static_cast<int64_t>(random() % 30000);
      }
      if (!steady && chance(60)) pathIndex = static_cast<int>(random() % 4);
      hits.AddHit(View(Request("k", "0", "/p" + std::to_string(pathIndex))), at, false,
                  afresh && i == 0);
    }
    const std::string expected = LinesFromNothing(hits);
    ASSERT_EQ(std::string(kept.Update(hits)), expected) << "cycle " << cycle;
    ASSERT_EQ(kept.RunCount(), static_cast<size_t>(std::ranges::count(expected, '\n')));
    ASSERT_EQ(hits.PearsonsR(), common::PearsonsR(hits)) << "cycle " << cycle;
  }
  EXPECT_TRUE(hits.Truncated());
}

// What a monitor's cycle wrote: the snapshot, and what it appended to the alert file.
struct CycleOutput {
  std::string snapshot;
  std::string alerts;
};

// Two monitors hear the same calls: one keeps its visitors' lines from cycle to cycle, the other
// has no room to keep any and builds every line from nothing at every cycle. Visitors come and
// expire, fill their lists past the cap, end sessions, change server, send lock values, are
// locked and unlocked, and some never make a request between two cycles. After every cycle
// both wrote the same snapshot, byte for byte, and the same alerts.
TEST(KeptAcrossCycles, SnapshotsEqualOnesBuiltFromNothingAfterEveryCycle) {
  testing_support::TempDir dir;
  common::SetPluginDirectory(dir.Path());
  double now = testing_support::LocalDate(2004, 3, 5, 14, 0, 0);
  const double start = now;
  common::SetClock([](void *clock) { return *static_cast<double *>(clock); }, &now);
  corvane::Corvane kept;
  corvane::Corvane fromNothing(0);
  const std::string alertFile = dir.File("KvCorvaneAlerts.Out");
  size_t alertsRead = 0;
  auto cycle = [&](corvane::Corvane &monitor) {
    monitor.Stream(View(Action("CYCLE")));
    CycleOutput output{ReadFile(dir.File("KvCorvane.xml")), ReadFile(alertFile)};
    output.alerts.erase(0, alertsRead);
    alertsRead += output.alerts.size();
    return output;
  };
  auto both = [&](const testing_support::Fields &call) {
    kept.Stream(View(call));
    fromNothing.Stream(View(call));
  };
  const std::string agents[] = {"Mozilla/4.0 (compatible; MSIE 6.0)", "Opera/9.1 \"q\" & more", "",
                                "Mozilla/5.0 (X11; Linux) Gecko/20100101"};
  both(Action("CONFIG", monitor_testing::Settings::Alerting(dir.Path()).Text()));
  std::mt19937 random(20261210);
  auto chance = [&](int perMille) { return static_cast<int>(random() % 1000) < perMille; };
  int seconds = 0, cycles = 0;
  // What the snapshots must have shown now and then for the comparison to mean much.
  constexpr std::string_view kStates[] = {"REQS=\"&gt;500\"", "LCKD=\"True\"", "CONN=\"False\"",
                                          "SVR=\"s2&amp;\"", "LVL=\"2\""};
  std::map<std::string_view, int> seen;
  for (int step = 0; step < 20000; ++step) {
    seconds += step % 5000 == 4999 ? 400 : static_cast<int>(random() % 2);  // then all expire
    now = start + seconds / 86400.0;
    // Three busy visitors fill their lists past the cap; the others come now and then.
    const int visitor = static_cast<int>(chance(500) ? random() % 3 : random() % 25);
    const std::string key = "v" + std::to_string(visitor);
    testing_support::Fields call = Request(
        key,
        Serial(chance(20) ? std::max(0, seconds - 60) : seconds, static_cast<int>(step % 1000)),
        "/p" + std::to_string(visitor < 3 && chance(700) ? 0 : random() % 3));
    call[common::kRemoteAddr] = "10.0.0." + std::to_string(visitor);
    call[common::kUserAgent] = agents[visitor % 4];
    call[common::kServerName] = chance(100) ? "s2&" : "s1";
    if (visitor >= 3 && chance(30)) call[common::kAction] = "SESSION_END";
    if (chance(50)) call[common::kQueryString] = "a=1&b=\"2\"";
    if (chance(20)) call[common::kLocked] = chance(250) ? "2" : "1";
    both(call);
    if (chance(5)) {
      both(Lock(chance(500) ? "LOCKED" : "UNLOCKED", "10.0.0." + std::to_string(random() % 25),
                chance(900) ? "1" : "0"));
    }
    if (chance(12)) {
      ++cycles;
      const CycleOutput expected = cycle(fromNothing);
      const CycleOutput got = cycle(kept);
      ASSERT_EQ(got.snapshot, expected.snapshot) << "cycle " << cycles;
      ASSERT_EQ(got.alerts, expected.alerts) << "cycle " << cycles;
      for (std::string_view state : kStates) {
        seen[state] += expected.snapshot.find(state) != std::string::npos;
      }
      seen["alerts"] += !expected.alerts.empty();
    }
  }
  EXPECT_GT(cycles, 150);
  for (std::string_view state : kStates) EXPECT_GT(seen[state], 5) << state;
  EXPECT_GT(seen["alerts"], 5);
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvCorvaneErrors.LOG")));
  common::SetClock(nullptr, nullptr);
  common::SetPluginDirectory("");
}

}  // namespace
