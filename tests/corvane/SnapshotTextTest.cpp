#include "SnapshotText.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <random>

#include "modKvGlobal.h"

namespace {

// The direct way must give exactly what the field-by-field subtraction gives: on one day and
// across days, with fields that are no real time (seconds 75, hour 25), late, equal, zero and
// fractional serials.
TEST(SnapshotText, ElapsedBetweenEqualsTheElapsedSerialForAnyPair) {
  std::mt19937_64 random(11);
  auto pick = [&](int below) {
    return static_cast<double>(random() % static_cast<unsigned>(below));
  };
  auto serial = [&](double day) {
    const bool real = random() % 4 != 0;
    return day * 1e9 + pick(real ? 24 : 100) * 1e7 + pick(real ? 60 : 100) * 1e5 +
           pick(real ? 60 : 100) * 1e3 + pick(1000);
  };
  for (int i = 0; i < 200000; ++i) {
    const double day = pick(100) * 10000 + (pick(13) + 1) * 100 + pick(31) + 1;
    double start = serial(day);
    double end = random() % 5 == 0 ? serial(day + pick(2)) : serial(day);
    if (random() % 50 == 0) start = 0;
    if (random() % 50 == 0) end += 0.5;
    if (random() % 3 == 0 && start > end) std::swap(start, end);
    ASSERT_EQ(corvane::ElapsedBetween(start, end), common::ElapsedSerial(start, end))
        << std::fixed << start << " " << end;
  }
}

// Whole serials as integers; anything else as the general conversion writes it.
TEST(SnapshotText, WholeNumbersReadAsTheGeneralConversionWritesThem) {
  auto general = [](double value) {
    char digits[400];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 0);
    return std::string(digits, result.ptr);
  };
  std::mt19937_64 random(12);
  std::vector<double> values = {0.0,
                                -0.0,
                                1.0,
                                0.5,
                                1.5,
                                2.5,
                                -3.0,
                                1e15,
                                1e15 - 1,
                                1e16,
                                1e300,
                                260305140709250.0,
                                std::numeric_limits<double>::infinity()};
  for (int i = 0; i < 100000; ++i) {
    values.push_back(static_cast<double>(random() % 1'000'000'000'000'000));
    values.push_back(static_cast<double>(random() % 1'000'000) + 0.25 * (random() % 4));
  }
  for (double value : values) {
    std::string out = "x";
    corvane::AppendWholeNumber(out, value);
    ASSERT_EQ(out, "x" + general(value)) << value;
  }
}

}  // namespace
