#include "report/GapChart.h"

#include <algorithm>
#include <cstdio>

#include "report/HtmlText.h"

namespace report {

namespace {

constexpr double kWidth = 120, kHeight = 28, kPad = 3;

void AppendPoint(std::string &out, double x, double y) {
  char point[48];
  std::snprintf(point, sizeof point, "%s%.1f,%.1f", out.back() == '"' ? "" : " ", x, y);
  out.append(point);
}

}  // namespace

std::vector<int64_t> GapsBetweenRuns(const std::vector<HitRun> &runs) {
  std::vector<int64_t> gaps;
  const HitRun *previous = nullptr;
  for (const HitRun &run : runs) {
    if (!run.at) continue;
    if (previous != nullptr) gaps.push_back(*run.at - *previous->at);
    previous = &run;
  }
  return gaps;
}

std::string DescribeGaps(const std::vector<int64_t> &gaps) {
  if (gaps.empty()) return "no gaps between requests";
  std::vector<int64_t> sorted = gaps;
  std::sort(sorted.begin(), sorted.end());
  return std::to_string(gaps.size()) + (gaps.size() == 1 ? " gap, " : " gaps, ") +
         FormatDuration(sorted.front()) + " to " + FormatDuration(sorted.back()) + ", median " +
         FormatDuration(sorted[sorted.size() / 2]);
}

std::string GapChartSvg(const std::vector<int64_t> &gaps) {
  if (gaps.size() < 2) return "";
  const int64_t longest = std::max<int64_t>(*std::max_element(gaps.begin(), gaps.end()), 1);
  const double step = (kWidth - 2 * kPad) / static_cast<double>(gaps.size() - 1);
  std::string svg =
      "<svg class=\"gaps\" viewBox=\"0 0 120 28\" width=\"120\" height=\"28\" role=\"img\" "
      "aria-label=\"";
  const std::string words = DescribeGaps(gaps);
  AppendHtml(svg, words);
  svg.append("\"><title>");
  AppendHtml(svg, "Gaps between requests: " + words);
  svg.append("</title><polyline points=\"");
  for (size_t i = 0; i < gaps.size(); ++i) {
    const double share = static_cast<double>(std::max<int64_t>(gaps[i], 0)) / longest;
    AppendPoint(svg, kPad + step * static_cast<double>(i),
                kHeight - kPad - share * (kHeight - 2 * kPad));
  }
  svg.append("\"/></svg>");
  return svg;
}

}  // namespace report
