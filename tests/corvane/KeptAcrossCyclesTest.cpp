#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>

#include "HitLines.h"
#include "MonitorTesting.h"
#include "clsHits.h"
#include "modKvGlobal.h"

namespace {

using monitor_testing::Request;
using monitor_testing::View;

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

}  // namespace
