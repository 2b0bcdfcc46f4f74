#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/ReportData.h"

namespace report {

// Alerts counted per time bucket and level.
struct AlertBuckets {
  Moment first = 0;  // the start of the first bucket
  int64_t size = 0;  // milliseconds per bucket
  struct Counts {
    int64_t level1 = 0, level2 = 0, other = 0;
    int64_t Total() const { return level1 + level2 + other; }
  };
  std::vector<Counts> counts;
};

// Buckets of a round size (a minute, five minutes, an hour, a day, ...) over the run's time
// span and the alerts' own, at most 48 of them and at least 12, so that a bar's width tells
// how long it stands for. No buckets without alerts.
AlertBuckets BucketAlerts(const std::vector<Alert> &alerts, const std::optional<TimeSpan> &run);

// The buckets as an inline SVG bar chart, the levels stacked in each bar; empty without alerts.
std::string AlertChartSvg(const AlertBuckets &buckets);

}  // namespace report
