#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "DateTime.h"
#include "KvError.h"

namespace common {

inline constexpr Site kGlobalSite{"  Module: modKvGlobal  ", ""};

// Serials are arrival times as the digits yyMMddHHnnssfff held in a double; an elapsed serial
// holds counts of the same units in the same places.

// The time from start to end as an elapsed serial; 0 when either is 0 or start is later.
double ElapsedSerial(double start, double end);
// An elapsed serial in milliseconds, a month counted as 30 days and a year as 365.
double ElapsedMilliseconds(double elapsed);
// ElapsedMilliseconds of ElapsedSerial: the gap between two hits. Worked out directly when both
// serials lie on the same day with valid minutes and seconds, as nearly every pair of hits does.
double MillisecondsBetween(double start, double end);
// The date and time of day (to the second) a serial stands for.
DateTime GetDateFromSerial(const double &serial);
// "1dy, 2h, 3m, 4s, 5ms"; empty for 0.
std::string ElapsedSerialToString(double elapsed);

// The shield plug-in's and the monitor's hit lists both offer Count, Hit(position) and each
// hit's ArrivalSerial, positions from 1.
template <class Hits>
concept HitSeries = requires(const Hits &hits, int32_t position) {
  { hits.Count() } -> std::convertible_to<int32_t>;
  { hits.Hit(position).ArrivalSerial() } -> std::convertible_to<double>;
};

// Sums over the gaps g(k), k = 1..n, between hits in milliseconds, gathered in one pass: all
// that the correlation needs, so a hit list can also keep them up to date as hits arrive.
struct GapSums {
  int32_t gaps = 0;
  double largest = 0;
  long double sum = 0, sumOfSquares = 0, sumByPosition = 0;

  void Add(double gap) {
    ++gaps;
    if (gap > largest) largest = gap;
    const long double g = gap;
    sum += g;
    sumOfSquares += g * g;
    sumByPosition += static_cast<long double>(gaps) * g;
  }
};

// The correlation of the gaps summed up so far.
float CorrelationOfGaps(const GapSums &sums);

// How regular the timing of a series of hits is: the correlation between an even ramp and the
// same ramp with each gap between hits added. 1 for equal gaps; 0 for fewer than three hits.
template <HitSeries Hits>
float PearsonsR(const Hits &hits) {
  return Guard(kGlobalSite, "Function: PearsonsR", [&] {
    const int32_t count = hits.Count();
    if (count < 3) return 0.0f;
    GapSums sums;
    double previous = hits.Hit(1).ArrivalSerial();
    for (int32_t i = 2; i <= count; ++i) {
      const double next = hits.Hit(i).ArrivalSerial();
      sums.Add(MillisecondsBetween(previous, next));
      previous = next;
    }
    return CorrelationOfGaps(sums);
  });
}

// The browser family and version a user agent names ("MSIE" and "6.0").
void GetBroswerAndVersion(const std::string &userAgent, std::string &browser, std::string &version);

// The value of the first name="value" in a line; empty when there is none.
std::string GetTagValue(std::string_view line, std::string_view name);

}  // namespace common
