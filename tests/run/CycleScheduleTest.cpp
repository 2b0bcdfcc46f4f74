// When each plug-in's cycle is due on the run's clock (days): exactly at a whole period after
// the start or after the clock it last ran at, not a tick before, and never a cycle for every
// period an idle run missed.
#include "run/CycleSchedule.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kStart = 46363.5;  // 7 Dec 2026 12:00

// The clock `seconds` after the start, worked out as the schedule works out its periods.
double At(double from, int seconds) {
  return from + seconds / 86400.0;
}

double Before(double clock) {
  return std::nextafter(clock, 0.0);
}

TEST(CycleSchedule, EachCycleIsDueFromExactlyItsPeriodOnAndNotBefore) {
  host::CycleSchedule schedule(host::Cadence{10, 60}, kStart);
  const double shield = At(kStart, 10), monitor = At(kStart, 60);
  EXPECT_FALSE(schedule.ShieldDue(kStart));
  EXPECT_FALSE(schedule.ShieldDue(Before(shield)));
  EXPECT_TRUE(schedule.ShieldDue(shield));
  EXPECT_FALSE(schedule.MonitorDue(Before(monitor)));
  EXPECT_TRUE(schedule.MonitorDue(monitor));
  EXPECT_EQ(schedule.NextDue(), shield);

  // Run late: the next one is a whole period after the clock it ran at.
  const double late = At(kStart, 13);
  schedule.ShieldRan(late);
  EXPECT_FALSE(schedule.ShieldDue(Before(At(late, 10))));
  EXPECT_TRUE(schedule.ShieldDue(At(late, 10)));
  EXPECT_EQ(schedule.NextDue(), At(late, 10));
  // The monitor keeps its own time; the earlier of the two is next.
  schedule.ShieldRan(At(kStart, 55));
  EXPECT_EQ(schedule.NextDue(), monitor);
}

TEST(CycleSchedule, AnIdleRunCyclesOnceNotOnceForEveryPeriodItMissed) {
  host::CycleSchedule schedule(host::Cadence{10, 60}, kStart);
  const double hourLater = At(kStart, 3600);
  ASSERT_TRUE(schedule.ShieldDue(hourLater));
  ASSERT_TRUE(schedule.MonitorDue(hourLater));
  schedule.ShieldRan(hourLater);
  schedule.MonitorRan(hourLater);
  EXPECT_FALSE(schedule.ShieldDue(hourLater));
  EXPECT_FALSE(schedule.MonitorDue(Before(At(hourLater, 60))));
  EXPECT_EQ(schedule.NextDue(), At(hourLater, 10));
}

TEST(CycleSchedule, PeriodsAreSecondsOfTheClockWhateverTheirSize) {
  // A day-long monitor period is one whole day of the clock; a zero period is due at once.
  host::CycleSchedule schedule(host::Cadence{0, 86400}, kStart);
  EXPECT_TRUE(schedule.ShieldDue(kStart));
  EXPECT_EQ(schedule.NextDue(), kStart);
  EXPECT_FALSE(schedule.MonitorDue(Before(kStart + 1)));
  EXPECT_TRUE(schedule.MonitorDue(kStart + 1));
}

}  // namespace
