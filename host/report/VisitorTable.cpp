#include "report/VisitorTable.h"

#include <cmath>
#include <cstdio>
#include <numeric>

#include "report/GapChart.h"
#include "report/HtmlText.h"

namespace report {

namespace {

struct Column {
  const char *title;
  const char *type;   // "text" or "number"
  const char *first;  // the direction of a first click: the interesting end first
  bool rightAligned;
};

constexpr Column kColumns[] = {
    {"Key", "text", "ascending", false},
    {"Address", "text", "ascending", false},
    {"Country", "text", "ascending", false},
    {"Browser", "text", "ascending", false},
    {"Level", "number", "descending", true},
    {"Connected", "number", "descending", false},
    {"Locked", "number", "descending", false},
    {"Requests", "number", "descending", true},
    {"Visit length", "number", "descending", true},
    {"Server", "text", "ascending", false},
    {"Pace", "number", "ascending", false},
};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));

void AppendHead(std::string &out) {
  out += "<thead><tr>";
  for (const Column &column : kColumns) {
    out += std::string("<th scope=\"col\" data-type=\"") + column.type + "\" data-first=\"" +
           column.first + "\"" + (column.rightAligned ? " class=\"num\"" : "") +
           "><button type=\"button\">" + column.title + "</button></th>";
  }
  out += "</tr></thead>";
}

// A cell sorted by a key other than its text.
void AppendSortedCell(std::string &out, const std::string &key, const std::string &inner,
                      const char *classes) {
  out += *classes == '\0' ? std::string("<td data-sort=\"")
                          : std::string("<td class=\"") + classes + "\" data-sort=\"";
  AppendHtml(out, key);
  out += "\">" + inner + "</td>";
}

std::string LevelBadge(const Visitor &visitor) {
  const std::string level = visitor.level >= 0 ? std::to_string(visitor.level) : "";
  return "<span class=\"badge l" + level + "\">" + Html(visitor.levelText) + "</span>";
}

std::string RequestCount(const std::string &requests) {
  std::string digits;
  for (char c : requests) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return digits;
}

// How far the gaps stray from their mean (the coefficient of variation): 0 for a steady pace.
std::string Scatter(const std::vector<int64_t> &gaps) {
  if (gaps.size() < 2) return "";
  const double mean = std::accumulate(gaps.begin(), gaps.end(), 0.0) / gaps.size();
  if (mean <= 0) return "";
  double squares = 0;
  for (int64_t gap : gaps) squares += (gap - mean) * (gap - mean);
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", std::sqrt(squares / gaps.size()) / mean);
  return text;
}

// What the pace chart shows, in words; for a visitor with too few runs for a chart, what its
// one run says: a script hammering one path makes a single run of many pages.
std::string PaceText(const Visitor &visitor, const std::vector<int64_t> &gaps) {
  if (gaps.size() >= 2) return DescribeGaps(gaps);
  if (gaps.size() == 1) return "two runs, " + FormatDuration(gaps[0]) + " apart";
  const int64_t pages = visitor.runs.empty() ? 0 : visitor.runs[0].pages;
  if (pages <= 1) return pages == 1 ? "one request" : "no requests";
  std::string text = std::to_string(pages) + " requests on one path";
  const std::optional<int64_t> length = MillisecondsFromElapsedText(visitor.visitLength);
  if (length && *length > 0) text += ", ~" + FormatDuration(*length / (pages - 1)) + " apart";
  return text;
}

void AppendMainRow(std::string &out, const Visitor &visitor, const std::string &runsId,
                   const std::vector<int64_t> &gaps) {
  out +=
      "<tr class=\"visitor\"><td class=\"wrap\"><button type=\"button\" class=\"open\" "
      "aria-expanded=\"false\" aria-controls=\"" +
      runsId + "\">";
  AppendHtml(out, visitor.key);
  out += "</button></td>";
  AppendCell(out, visitor.remoteAddr);
  AppendCell(out, visitor.country);
  out += "<td title=\"";
  AppendHtml(out, visitor.userAgent);
  out += "\">";
  AppendHtml(
      out, visitor.browser + (visitor.browserVersion.empty() ? "" : " ") + visitor.browserVersion);
  out += "</td>";
  AppendSortedCell(out, std::to_string(visitor.level), LevelBadge(visitor), "num");
  AppendSortedCell(out, visitor.connected ? "1" : "0", visitor.connected ? "yes" : "no", "");
  AppendSortedCell(out, visitor.locked ? "1" : "0", visitor.locked ? "locked" : "no", "");
  AppendSortedCell(out, RequestCount(visitor.requests), Html(visitor.requests), "num");
  const std::optional<int64_t> length = MillisecondsFromElapsedText(visitor.visitLength);
  AppendSortedCell(out, length ? std::to_string(*length) : "",
                   Html(length ? FormatDuration(*length) : visitor.visitLength), "num");
  AppendCell(out, visitor.serverName);
  const std::string chart = GapChartSvg(gaps);
  AppendSortedCell(
      out, Scatter(gaps),
      chart.empty() ? "<span class=\"muted\">" + Html(PaceText(visitor, gaps)) + "</span>" : chart,
      "pace");
  out += "</tr>";
}

void AppendDetail(std::string &out, const char *label, std::string_view value) {
  if (value.empty()) return;
  out += std::string("<dt>") + label + "</dt><dd>";
  AppendHtml(out, value);
  out += "</dd>";
}

void AppendDetails(std::string &out, const Visitor &visitor, const std::vector<int64_t> &gaps) {
  out += "<dl class=\"details\">";
  AppendDetail(out, "User agent", visitor.userAgent);
  AppendDetail(out, "Resolved address", visitor.resolvedAddr);
  AppendDetail(out, "Remote host", visitor.remoteHost);
  AppendDetail(out, "Authenticated user", visitor.authUser);
  AppendDetail(out, "Local host", visitor.localHost);
  const std::optional<Moment> started = MomentFromDateText(visitor.started);
  AppendDetail(out, "First request held", started ? FormatMoment(*started) : visitor.started);
  AppendDetail(out, "Visit length", visitor.visitLength);
  AppendDetail(out, "Pace", PaceText(visitor, gaps));
  out += "</dl>";
}

void AppendRunRows(std::string &out, const Visitor &visitor) {
  out +=
      "<table class=\"run-table\"><thead><tr><th scope=\"col\">Time</th><th scope=\"col\" "
      "class=\"num\">After</th><th scope=\"col\" class=\"num\">Pages</th><th "
      "scope=\"col\">Action</th><th scope=\"col\">Path</th><th "
      "scope=\"col\">Query</th></tr></thead><tbody>";
  const HitRun *previous = nullptr;
  for (const HitRun &run : visitor.runs) {
    out += "<tr>";
    AppendCell(out, run.at ? FormatMoment(*run.at) : run.arrival, "time");
    const bool gap = run.at && previous != nullptr && previous->at;
    AppendCell(out, gap ? FormatDuration(*run.at - *previous->at) : run.sincePrevious, "num");
    AppendCell(out, std::to_string(run.pages), "num");
    out += "<td>";
    AppendHtml(out, run.action);
    if (run.shielded) out += " <span class=\"shielded\">shielded</span>";
    out += "</td>";
    AppendCell(out, run.path, "wrap");
    AppendCell(out, run.query, "wrap");
    out += "</tr>";
    previous = &run;
  }
  out += "</tbody></table>";
}

void AppendVisitor(std::string &out, const Visitor &visitor, size_t position) {
  const std::string runsId = "runs-" + std::to_string(position);
  const std::vector<int64_t> gaps = GapsBetweenRuns(visitor.runs);
  out += visitor.level == 2 ? "<tbody class=\"lvl2\">" : "<tbody>";
  AppendMainRow(out, visitor, runsId, gaps);
  out += "<tr class=\"runs\" id=\"" + runsId + "\" hidden><td colspan=\"" +
         std::to_string(kColumnCount) + "\">";
  AppendDetails(out, visitor, gaps);
  AppendRunRows(out, visitor);
  out += "</td></tr></tbody>";
}

}  // namespace

void AppendVisitorTable(std::string &out, const std::vector<Visitor> &visitors) {
  out += "<div class=\"table-wrap\"><table id=\"visitor-table\">";
  AppendHead(out);
  for (size_t i = 0; i < visitors.size(); ++i) AppendVisitor(out, visitors[i], i + 1);
  out += "</table></div>";
}

}  // namespace report
