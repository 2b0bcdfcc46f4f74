#include "DateTime.h"

#include <gtest/gtest.h>

namespace {

using common::MakeDateTime;

TEST(DateTime, CountsDaysFromTheEpochAndCarriesOverFields) {
  EXPECT_EQ(MakeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
  EXPECT_EQ(MakeDateTime(1900, 1, 1, 0, 0, 0), 2.0);
  EXPECT_EQ(MakeDateTime(2004, 3, 5, 0, 0, 0), 38051.0);
  EXPECT_EQ(MakeDateTime(2004, 13, 1, 0, 0, 0), MakeDateTime(2005, 1, 1, 0, 0, 0));
  EXPECT_EQ(MakeDateTime(2004, 3, 0, 0, 0, 0), MakeDateTime(2004, 2, 29, 0, 0, 0));
  EXPECT_EQ(MakeDateTime(2004, 1, 32, 24, 0, 0), MakeDateTime(2004, 2, 2, 0, 0, 0));
  EXPECT_EQ(MakeDateTime(2004, 0, 1, 0, 0, 0), MakeDateTime(2003, 12, 1, 0, 0, 0));
  EXPECT_DOUBLE_EQ(MakeDateTime(2004, 3, 5, 12, 0, 0), 38051.5);
}

TEST(DateTime, AddsAndDiffersInWholeSeconds) {
  const double start = MakeDateTime(2026, 12, 31, 23, 59, 50);
  EXPECT_EQ(common::FormatPaddedDate24(common::AddSeconds(start, 15)), "01/01/2027 00:00:05");
  EXPECT_EQ(common::WholeSecondsBetween(start, common::AddSeconds(start, 300)), 300);
  EXPECT_EQ(common::WholeSecondsBetween(start, start), 0);
  EXPECT_EQ(common::WholeSecondsBetween(common::AddSeconds(start, 1), start), -1);
  // Many additions of a second still land on whole seconds.
  double t = start;
  for (int i = 0; i < 100000; ++i) t = common::AddSeconds(t, 1);
  EXPECT_EQ(common::WholeSecondsBetween(start, t), 100000);
}

TEST(DateTime, WritesTheThreeTextForms) {
  const double afternoon = MakeDateTime(2004, 3, 5, 14, 7, 9);
  EXPECT_EQ(common::FormatGeneralDate(afternoon), "3/5/2004 2:07:09 PM");
  EXPECT_EQ(common::FormatGeneralDate(MakeDateTime(2004, 3, 5, 0, 0, 0)), "3/5/2004");
  EXPECT_EQ(common::FormatGeneralDate(MakeDateTime(2004, 3, 5, 0, 0, 1)), "3/5/2004 12:00:01 AM");
  EXPECT_EQ(common::FormatGeneralDate(MakeDateTime(2026, 12, 7, 12, 0, 0)),
            "12/7/2026 12:00:00 PM");
  EXPECT_EQ(common::FormatPaddedDate12(MakeDateTime(2004, 3, 5, 0, 5, 0)),
            "03/05/2004 12:05:00 AM");
  EXPECT_EQ(common::FormatPaddedDate12(MakeDateTime(2004, 3, 5, 13, 5, 0)),
            "03/05/2004 01:05:00 PM");
  EXPECT_EQ(common::FormatPaddedDate24(MakeDateTime(2026, 12, 7, 21, 34, 55)),
            "12/07/2026 21:34:55");
}

}  // namespace
