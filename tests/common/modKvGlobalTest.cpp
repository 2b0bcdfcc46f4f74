#include "modKvGlobal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "DateTime.h"

namespace {

using common::ElapsedMilliseconds;
using common::ElapsedSerial;
using common::ElapsedSerialToString;

struct TestHit {
  double serial;
  double ArrivalSerial() const { return serial; }
};

struct TestHits {
  std::vector<TestHit> hits;
  int32_t Count() const { return static_cast<int32_t>(hits.size()); }
  const TestHit &Hit(int32_t position) const { return hits.at(static_cast<size_t>(position - 1)); }
};

// Hits one second apart in whole seconds plus the given gaps in milliseconds.
TestHits HitsWithGaps(const std::vector<int> &gaps) {
  double serial = 40305140709000;  // 5 March 2004 14:07:09.000
  TestHits result{{{serial}}};
  int64_t ms = 0;
  for (int gap : gaps) {
    ms += gap;
    // Build the serial of the start plus ms milliseconds within the same hour.
    int64_t seconds = 9 + ms / 1000, minutes = 7 + seconds / 60;
    double next =
        40305140000000 + static_cast<double>(minutes * 100000 + (seconds % 60) * 1000 + ms % 1000);
    result.hits.push_back({next});
  }
  return result;
}

// The correlation exactly as written out step by step: two passes, sums in order.
float ReferencePearsonsR(const std::vector<double> &gaps) {
  const size_t n = gaps.size();
  if (n + 1 < 3) return 0;
  double largest = 0;
  for (double g : gaps) largest = g > largest ? g : largest;
  const double step = largest / static_cast<double>(n + 1);
  std::vector<double> x(n), y(n);
  double mx = 0, my = 0;
  for (size_t k = 0; k < n; ++k) {
    x[k] = static_cast<double>(k + 1) * step;
    y[k] = x[k] + gaps[k];
    mx += x[k];
    my += y[k];
  }
  mx /= static_cast<double>(n);
  my /= static_cast<double>(n);
  double sxx = 0, syy = 0, sxy = 0;
  for (size_t k = 0; k < n; ++k) {
    sxx += (x[k] - mx) * (x[k] - mx);
    syy += (y[k] - my) * (y[k] - my);
    sxy += (x[k] - mx) * (y[k] - my);
  }
  if (sxy == 0) return 0;
  return static_cast<float>(sxy / std::sqrt(sxx * syy));
}

TEST(PearsonsR, MatchesTheTableToTheLastBit) {
  struct Case {
    std::vector<int> gaps;
    float expected;
  } cases[] = {
      {{}, 0.0f},
      {{100}, 0.0f},
      {{100, 100, 100}, 1.0f},
      {{100, 300}, 1.0f},
      {{300, 100}, -1.0f},
      {{100, 300, 200}, static_cast<float>(0.821994960308075)},
      {{200, 100, 300, 100, 200}, 0.6868028f},
      {{50, 50, 50, 500}, 0.9053541f},
      {{0, 0, 0}, 0.0f},
      {{1000, 0, 1000, 0}, 0.0f},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(common::PearsonsR(HitsWithGaps(c.gaps)), c.expected) << "gaps " << c.gaps.size();
  }
}

TEST(PearsonsR, AgreesWithTheStepByStepFormOnRandomGaps) {
  std::mt19937 random(7);
  int differing = 0;
  for (int round = 0; round < 2000; ++round) {
    std::vector<int> gaps(3 + random() % 60);
    for (int &gap : gaps) gap = static_cast<int>(random() % 5000);
    std::vector<double> asDoubles(gaps.begin(), gaps.end());
    float expected = ReferencePearsonsR(asDoubles);
    float actual = common::PearsonsR(HitsWithGaps(gaps));
    ASSERT_NEAR(actual, expected, 1e-6f);
    differing += actual != expected;
  }
  // One pass over the sums rounds differently from two passes only now and then.
  EXPECT_LT(differing, 20);
}

TEST(ElapsedSerial, BorrowsAcrossMillisecondsMidnightAndYear) {
  EXPECT_EQ(ElapsedSerial(0, 40305140709250), 0);
  EXPECT_EQ(ElapsedSerial(40305140709250, 0), 0);
  EXPECT_EQ(ElapsedSerial(40305140709250, 40305140709250), 0);
  EXPECT_EQ(ElapsedSerial(40305140710100, 40305140709250), 0);  // start later than end
  EXPECT_EQ(ElapsedSerial(40305140709250, 40305140710100), 850);
  EXPECT_EQ(ElapsedSerial(40305235959900, 40306000000100), 200);
  EXPECT_EQ(ElapsedSerial(41215000000000, 50115000000000), 1e11);
  // Jan 31 to Mar 1 of a leap year borrows the 31 days of January.
  EXPECT_EQ(ElapsedSerial(40131120000000, 40301120000000), 1e11 + 1e9);
}

TEST(ElapsedSerial, EveryFieldIsNonNegativeThroughALeapAndACommonYear) {
  auto serial = [](int year, int month, int day, int hour) {
    return static_cast<double>(year) * 1e13 + month * 1e11 + day * 1e9 + hour * 1e7 + 30 * 1e5;
  };
  const int daysIn[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                             {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
  for (int year : {4, 5}) {
    const int *lengths = daysIn[year == 4 ? 1 : 0];
    std::vector<double> serials;
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= lengths[month - 1]; ++day) {
        for (int hour : {0, 23}) serials.push_back(serial(year, month, day, hour));
      }
    }
    for (size_t a = 0; a < serials.size(); a += 3) {
      for (size_t b = a; b < serials.size(); b += 5) {
        double elapsed = ElapsedSerial(serials[a], serials[b]);
        // Extract fields the way readers do and check none is negative or out of range.
        double rest = std::floor(elapsed / 1000);
        for (int field = 0; field < 6; ++field) {
          double value = rest - std::floor(rest / 100) * 100;
          ASSERT_GE(value, 0) << serials[a] << " to " << serials[b];
          rest = std::floor(rest / 100);
        }
        ASSERT_GE(elapsed, 0);
        ASSERT_EQ(rest, 0) << "a negative field borrowed past the years";
      }
    }
  }
}

TEST(ElapsedMilliseconds, CountsMonthsAsThirtyDaysAndYearsAs365) {
  EXPECT_EQ(ElapsedMilliseconds(1010203004), 90123004);
  EXPECT_EQ(ElapsedMilliseconds(1e11), 2592000000.0);
  EXPECT_EQ(ElapsedMilliseconds(1e13), 946080000000.0);
}

// The direct gap must be exactly the gap through the elapsed serial: on one day and across
// days, with fields that are no real time (seconds 75, hour 25), late and equal serials.
TEST(MillisecondsBetween, EqualsTheElapsedSerialInMillisecondsForAnyPair) {
  std::mt19937_64 random(7);
  auto pick = [&](int below) {
    return static_cast<double>(random() % static_cast<unsigned>(below));
  };
  auto serial = [&](double day) {
    const bool real = random() % 4 != 0;
    return day * 1e9 + pick(real ? 24 : 26) * 1e7 + pick(real ? 60 : 100) * 1e5 +
           pick(real ? 60 : 100) * 1e3 + pick(1000);
  };
  for (int i = 0; i < 200000; ++i) {
    const double day = pick(100) * 10000 + (pick(13) + 1) * 100 + pick(31) + 1;
    const double start = serial(day);
    const double end = random() % 3 == 0 ? serial(day + pick(2)) : serial(day);
    const double expected = common::ElapsedMilliseconds(common::ElapsedSerial(start, end));
    ASSERT_EQ(common::MillisecondsBetween(start, end), expected) << start << " " << end;
  }
  EXPECT_EQ(common::MillisecondsBetween(261207235959900, 261208000000100), 200);
  EXPECT_EQ(common::MillisecondsBetween(261207100000000, 261207090000000), 0);  // late
  EXPECT_EQ(common::MillisecondsBetween(0, 261207090000000), 0);
  EXPECT_EQ(common::MillisecondsBetween(261207100000000.5, 261207100001000), 999.5);
}

TEST(ElapsedSerialToString, WritesUnitsWithTheirPlurals) {
  EXPECT_EQ(ElapsedSerialToString(0), "");
  EXPECT_EQ(ElapsedSerialToString(850), "850ms");
  EXPECT_EQ(ElapsedSerialToString(1010203004), "1dy, 1h, 2m, 3s, 4ms");
  EXPECT_EQ(ElapsedSerialToString(2e13 + 1e11), "2yrs, 1mth");
  EXPECT_EQ(ElapsedSerialToString(3e9 + 10e5), "3dys, 10m");
  EXPECT_EQ(ElapsedSerialToString(2e11), "2mths");
  EXPECT_EQ(ElapsedSerialToString(2e7), "2h");
  EXPECT_EQ(ElapsedSerialToString(12005), "12s, 5ms");
}

TEST(GetDateFromSerial, RestoresTheLeadingZeroAndDropsMilliseconds) {
  EXPECT_EQ(common::GetDateFromSerial(40305140709250), common::MakeDateTime(2004, 3, 5, 14, 7, 9));
  EXPECT_EQ(common::FormatGeneralDate(common::GetDateFromSerial(40305140709250)),
            "3/5/2004 2:07:09 PM");
  EXPECT_EQ(common::GetDateFromSerial(991231235959000.0),
            common::MakeDateTime(1999, 12, 31, 23, 59, 59));
}

TEST(SerialTexts, DigitsThatAreNoRealTimeNeverFail) {
  // A start later in its seconds than the end leaves a negative elapsed serial.
  const double elapsed = ElapsedSerial(40305140775000, 40305140810000);
  EXPECT_NO_THROW(ElapsedSerialToString(elapsed));
  EXPECT_EQ(ElapsedSerialToString(-5), "");
  EXPECT_EQ(common::GetDateFromSerial(-40305140709250.0), common::GetDateFromSerial(0));
  EXPECT_NO_THROW(common::GetDateFromSerial(1e300));
  EXPECT_NO_THROW(common::GetDateFromSerial(0.5));
  EXPECT_EQ(common::GetDateFromSerial(40399999999000),  // day, hour, minute 99: carried over
            common::MakeDateTime(2004, 3, 99, 99, 99, 99));
}

TEST(GetBroswerAndVersion, NamesTheFamilyByTheFirstMarkerInOrder) {
  struct Case {
    const char *agent, *browser, *version;
  } cases[] = {
      {"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)", "MSIE", "6.0"},
      {"Mozilla/4.0 (compatible; MSIE 5.5)", "MSIE", "5.5"},
      {"Opera/7.11 (Windows NT 5.1; U) [en]", "Opera", "7.11 (Windows NT 5.1"},
      {"Opera 6.0", "Opera", ""},
      {"Mozilla/5.0 (X11; U; Linux i686)", "NS", "5.0"},
      {"Mozilla/4.7 [en] (WinNT; I)", "NS", "4.7 [en]"},
      {"Mozilla", "Hybrid", ""},
      {"", "", ""},
      {"msie 6.0", "Hybrid", ""},
  };
  for (const Case &c : cases) {
    std::string browser = "stale", version = "stale";
    common::GetBroswerAndVersion(c.agent, browser, version);
    EXPECT_EQ(browser, c.browser) << c.agent;
    EXPECT_EQ(version, c.version) << c.agent;
  }
}

TEST(GetTagValue, FindsTheFirstPlainTextMatch) {
  const std::string line = "<TRIPWIRE ACTIVE=\"1\" HOST=\"shop\" />";
  EXPECT_EQ(common::GetTagValue(line, "HOST"), "shop");
  EXPECT_EQ(common::GetTagValue(line, "ACTIVE"), "1");
  EXPECT_EQ(common::GetTagValue(line, "PORT"), "");
  EXPECT_EQ(common::GetTagValue("<T XHOST=\"x\" HOST=\"h\"/>", "HOST"), "x");
  EXPECT_EQ(common::GetTagValue("<T HOST=\"h", "HOST"), "");
  EXPECT_EQ(common::GetTagValue("<T HOST=\"\"/>", "HOST"), "");
}

TEST(GetTagValue, OverflowsPastSixteenBitPositions) {
  const std::string padding(32800, ' ');
  try {
    common::GetTagValue(padding + "HOST=\"x\"", "HOST");
    FAIL() << "no overflow";
  } catch (const common::KvError &error) {
    EXPECT_EQ(error.Number(), 6);
    EXPECT_EQ(error.Source(), "  Module: modKvGlobal  Function: GetTagValue\rKvTest");
  }
  EXPECT_EQ(common::GetTagValue("HOST=\"x\"" + padding, "HOST"), "x");
}

}  // namespace
