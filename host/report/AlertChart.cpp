#include "report/AlertChart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/HtmlText.h"

namespace report {

namespace {

constexpr int64_t kMinute = 60 * 1000;
constexpr size_t kMostBuckets = 48, kFewestBuckets = 12;
constexpr double kWidth = 720, kHeight = 200, kLeft = 40, kRight = 8, kTop = 10, kBottom = 26;

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

int64_t BucketSize(int64_t span) {
  static constexpr int64_t kSizes[] = {kMinute,       2 * kMinute,   5 * kMinute,   10 * kMinute,
                                       15 * kMinute,  30 * kMinute,  60 * kMinute,  120 * kMinute,
                                       180 * kMinute, 360 * kMinute, 720 * kMinute, 1440 * kMinute};
  for (int64_t size : kSizes) {
    if (span / size < static_cast<int64_t>(kMostBuckets)) return size;
  }
  int64_t size = 2 * kSizes[std::size(kSizes) - 1];
  while (span / size >= static_cast<int64_t>(kMostBuckets)) size *= 2;
  return size;
}

// A coordinate with one decimal.
std::string N(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// "08:10" within one day, "2026-12-07 08:10" across days.
std::string BucketLabel(Moment start, bool withDate) {
  const std::string text = FormatMoment(start);
  return withDate ? text.substr(0, 16) : text.substr(11, 5);
}

std::string BucketTitle(const AlertBuckets &buckets, size_t i, bool withDate) {
  const Moment start = buckets.first + static_cast<int64_t>(i) * buckets.size;
  const AlertBuckets::Counts &c = buckets.counts[i];
  std::string title =
      BucketLabel(start, withDate) + " to " + BucketLabel(start + buckets.size, withDate) + ": " +
      std::to_string(c.Total()) + (c.Total() == 1 ? " alert" : " alerts") + " (" +
      std::to_string(c.level1) + " at level 1, " + std::to_string(c.level2) + " at level 2";
  if (c.other > 0) title += ", " + std::to_string(c.other) + " other";
  return title + ")";
}

void AppendAxes(std::string &svg, int64_t highest) {
  const double plotHeight = kHeight - kTop - kBottom;
  std::vector<int64_t> ticks{0, highest};
  if (highest >= 4) ticks.push_back(highest / 2);
  for (int64_t tick : ticks) {
    const double y = kTop + plotHeight - plotHeight * static_cast<double>(tick) / highest;
    svg += "<line class=\"grid\" x1=\"" + N(kLeft) + "\" x2=\"" + N(kWidth - kRight) + "\" y1=\"" +
           N(y) + "\" y2=\"" + N(y) + "\"/>";
    svg += "<text class=\"tick\" x=\"" + N(kLeft - 6) + "\" y=\"" + N(y + 4) +
           "\" text-anchor=\"end\">" + std::to_string(tick) + "</text>";
  }
}

// The room a time label takes, in the chart's units, at the largest size the page draws it
// (15 units on a narrow screen): digits and separators at most 0.62 of the font size each.
double LabelWidth(const std::string &label) {
  return static_cast<double>(label.size()) * 15 * 0.62;
}

// Each label starts under the bar whose time it names; labels are spaced by whole buckets so
// that no two overlap and none runs past the chart's right edge.
void AppendTimeLabels(std::string &svg, const AlertBuckets &buckets, bool withDate) {
  constexpr double kLabelGap = 12;
  const size_t n = buckets.counts.size();
  const double slot = (kWidth - kLeft - kRight) / static_cast<double>(n);
  const double room = LabelWidth(BucketLabel(buckets.first, withDate)) + kLabelGap;
  const size_t every = std::max<size_t>(1, static_cast<size_t>(std::ceil(room / slot)));
  for (size_t i = 0; i < n; i += every) {
    const Moment start = buckets.first + static_cast<int64_t>(i) * buckets.size;
    const std::string label = BucketLabel(start, withDate);
    const double x = kLeft + slot * static_cast<double>(i);
    if (x + LabelWidth(label) > kWidth) break;
    svg += "<text class=\"tick time\" x=\"" + N(x) + "\" y=\"" + N(kHeight - 8) +
           "\" text-anchor=\"start\">";
    AppendHtml(svg, label);
    svg += "</text>";
  }
}

}  // namespace

AlertBuckets BucketAlerts(const std::vector<Alert> &alerts, const std::optional<TimeSpan> &run) {
  AlertBuckets buckets;
  if (alerts.empty()) return buckets;
  TimeSpan span = run.value_or(TimeSpan{alerts.front().at, alerts.front().at});
  for (const Alert &alert : alerts) {
    span.from = std::min(span.from, alert.at);
    span.to = std::max(span.to, alert.at);
  }
  buckets.size = BucketSize(span.to - span.from);
  buckets.first = FloorDiv(span.from, buckets.size) * buckets.size;
  const size_t needed = static_cast<size_t>((span.to - buckets.first) / buckets.size) + 1;
  buckets.counts.resize(std::max(needed, kFewestBuckets));
  for (const Alert &alert : alerts) {
    AlertBuckets::Counts &c =
        buckets.counts[static_cast<size_t>((alert.at - buckets.first) / buckets.size)];
    (alert.level == 1 ? c.level1 : alert.level == 2 ? c.level2 : c.other) += 1;
  }
  return buckets;
}

std::string AlertChartSvg(const AlertBuckets &buckets) {
  if (buckets.counts.empty()) return "";
  int64_t highest = 1;
  for (const AlertBuckets::Counts &c : buckets.counts) highest = std::max(highest, c.Total());
  const Moment end = buckets.first + static_cast<int64_t>(buckets.counts.size()) * buckets.size;
  const bool withDate =
      FormatMoment(buckets.first).substr(0, 10) != FormatMoment(end - 1).substr(0, 10);
  std::string svg = "<svg class=\"alert-chart\" viewBox=\"0 0 " + N(kWidth) + " " + N(kHeight) +
                    "\" role=\"img\" aria-labelledby=\"alerts-title\">";
  AppendAxes(svg, highest);
  const double plotHeight = kHeight - kTop - kBottom;
  const double slot = (kWidth - kLeft - kRight) / static_cast<double>(buckets.counts.size());
  const double barWidth = std::max(1.0, slot - std::min(4.0, slot * 0.2));
  for (size_t i = 0; i < buckets.counts.size(); ++i) {
    const AlertBuckets::Counts &c = buckets.counts[i];
    if (c.Total() == 0) continue;
    svg += "<g><title>";
    AppendHtml(svg, BucketTitle(buckets, i, withDate));
    svg += "</title>";
    double base = kTop + plotHeight;
    const double x = kLeft + slot * static_cast<double>(i);
    for (auto [count, name] : {std::pair{c.level1, "l1"}, {c.level2, "l2"}, {c.other, "lx"}}) {
      if (count == 0) continue;
      const double height = plotHeight * static_cast<double>(count) / highest;
      base -= height;
      svg += std::string("<rect class=\"") + name + "\" x=\"" + N(x) + "\" y=\"" + N(base) +
             "\" width=\"" + N(barWidth) + "\" height=\"" + N(height) + "\"/>";
    }
    svg += "</g>";
  }
  AppendTimeLabels(svg, buckets, withDate);
  return svg + "</svg>";
}

}  // namespace report
