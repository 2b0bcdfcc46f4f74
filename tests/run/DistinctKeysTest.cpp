// The count of a run's visitors: exact through the table's growth, bounded past its limit.
#include <gtest/gtest.h>

#include <string>

#include "run/DistinctKeys.h"

namespace {

TEST(DistinctKeys, CountsEachKeyOnceThroughGrowthAndStopsAtItsLimit) {
  host::DistinctKeys keys;
  EXPECT_EQ(keys.Count(), 0u);
  for (int round = 0; round < 3; ++round) {
    keys.Add("198.51.100.1");
    keys.Add("198.51.100.2");
    keys.Add("");
  }
  EXPECT_EQ(keys.Count(), 3u);
  // Past several doublings of the table, and every key seen again afterwards.
  for (int i = 0; i < 100'000; ++i) keys.Add("visitor " + std::to_string(i));
  for (int i = 0; i < 100'000; i += 7) keys.Add("visitor " + std::to_string(i));
  EXPECT_EQ(keys.Count(), 100'003u);
  EXPECT_FALSE(keys.Full());

  for (size_t i = 0; keys.Count() < host::DistinctKeys::kMost; ++i) {
    keys.Add("more " + std::to_string(i));
  }
  EXPECT_FALSE(keys.Full());
  keys.Add("one too many");
  EXPECT_TRUE(keys.Full());
  EXPECT_EQ(keys.Count(), host::DistinctKeys::kMost);
  keys.Add("and another");
  EXPECT_EQ(keys.Count(), host::DistinctKeys::kMost);
}

}  // namespace
