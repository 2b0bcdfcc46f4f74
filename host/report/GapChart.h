#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/ReportData.h"

namespace report {

// The gaps in milliseconds between a visitor's consecutive runs of hits, from the arrival
// times; a run whose time cannot be read breaks no gap, it is left out.
std::vector<int64_t> GapsBetweenRuns(const std::vector<HitRun> &runs);

// A small inline SVG line of the gaps: a script's steady pace draws a flat line, a person's a
// ragged one. An empty text when there are fewer than two gaps.
std::string GapChartSvg(const std::vector<int64_t> &gaps);

// "12 gaps, 4s to 6s, median 5s": the chart's words for screen readers and tooltips.
std::string DescribeGaps(const std::vector<int64_t> &gaps);

}  // namespace report
