#include "report/HtmlPage.h"

#include <algorithm>

#include "base/RunFiles.h"
#include "report/AlertChart.h"
#include "report/HtmlText.h"
#include "report/NotedTable.h"
#include "report/NotedVisitors.h"
#include "report/PageAssets.h"
#include "report/ShieldTable.h"
#include "report/VisitorTable.h"

namespace report {

namespace {

void Widen(std::optional<TimeSpan> &span, std::optional<Moment> moment) {
  if (!moment) return;
  if (!span) {
    span = TimeSpan{*moment, *moment};
  } else {
    span->from = std::min(span->from, *moment);
    span->to = std::max(span->to, *moment);
  }
}

std::string FileName(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void AppendFigure(std::string &out, const char *classes, const char *label,
                  const std::string &value) {
  out += std::string("<div class=\"figure ") + classes + "\"><dt>" + label + "</dt><dd>";
  AppendHtml(out, value);
  out += "</dd></div>";
}

// "2026-12-07T08:00:06+00:00 to 09:06:10+00:00 (1h 6m)" within a day; over days the start and
// how long, "2026-12-07T08:00:06+00:00 for 1d 1h 6m", which fits a phone's width as two whole
// times would not.
std::string SpanText(const TimeSpan &span) {
  const std::string from = FormatMoment(span.from), to = FormatMoment(span.to);
  const std::string length = FormatDuration(span.to - span.from);
  if (from.compare(0, 10, to, 0, 10) != 0) return from + " for " + length;
  return from + " to " + to.substr(11) + " (" + length + ")";
}

std::string Plural(size_t n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::optional<TimeSpan> SpanOf(const RunData &run) {
  std::optional<TimeSpan> span;
  for (const Visitor &visitor : run.visitors) {
    Widen(span, MomentFromDateText(visitor.started));
    for (const HitRun &hit : visitor.runs) Widen(span, hit.at);
  }
  for (const Alert &alert : run.alerts) Widen(span, alert.at);
  for (const Shield &shield : run.shields) Widen(span, shield.at);
  return span;
}

HtmlPage::HtmlPage(const RunData &run, std::string nonce, std::string writtenAt)
    : run_(run),
      nonce_(std::move(nonce)),
      writtenAt_(std::move(writtenAt)),
      span_(SpanOf(run)),
      noted_(NoteVisitors(run)) {}

std::string HtmlPage::Render() const {
  std::string out;
  out.reserve(64 * 1024);
  AppendHead(out);
  out += "<body><header class=\"page\"><h1>Flowdeck report</h1><p>";
  AppendHtml(out, run_.directory);
  out += " &middot; written ";
  AppendHtml(out, writtenAt_);
  out += "</p></header><main>";
  AppendFigures(out);
  AppendShields(out);
  AppendAlerts(out);
  AppendNoted(out);
  AppendVisitors(out);
  out += "</main>";
  AppendData(out);
  out += "<script nonce=\"" + nonce_ + "\">";
  out += PageScript();
  out += "</script></body></html>\n";
  return out;
}

void HtmlPage::AppendHead(std::string &out) const {
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'nonce-" +
      nonce_ + "'; script-src 'nonce-" + nonce_ +
      "'; img-src 'none'; base-uri 'none'; form-action 'none'\">"
      "<meta name=\"referrer\" content=\"no-referrer\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>Flowdeck report: ";
  AppendHtml(out, FileName(run_.directory));
  out += "</title><style nonce=\"" + nonce_ + "\">";
  out += PageStyle();
  out += "</style></head>";
}

int64_t HtmlPage::VisitorsAtLevel(int level) const {
  return std::count_if(run_.visitors.begin(), run_.visitors.end(),
                       [&](const Visitor &visitor) { return visitor.level == level; });
}

void HtmlPage::AppendFigures(std::string &out) const {
  const auto count = [](const Source &source, size_t n) {
    return source.Read() ? std::to_string(n) : std::string("\u2014");
  };
  const auto level = [&](int n) {
    return run_.snapshot.Read() ? std::to_string(VisitorsAtLevel(n)) : std::string("\u2014");
  };
  const auto noted = [&](const char *key) {
    const auto entry = run_.info.find(key);
    return entry == run_.info.end() ? std::string() : entry->second;
  };
  out += "<dl class=\"figures\">";
  // The monitor's snapshot holds the visitors of its latest cycle only, and none after a reload
  // that restarted it: flowdeck counts those of the whole run.
  if (!noted(host::RunFiles::kVisitorsOfRun).empty()) {
    AppendFigure(out, "", "Visitors in the run", noted(host::RunFiles::kVisitorsOfRun));
  }
  AppendFigure(out, "", "Visitors held", count(run_.snapshot, run_.visitors.size()));
  AppendFigure(out, "", "Level 0", level(0));
  AppendFigure(out, VisitorsAtLevel(1) > 0 ? "l1" : "", "Level 1", level(1));
  AppendFigure(out, VisitorsAtLevel(2) > 0 ? "l2" : "", "Level 2", level(2));
  AppendFigure(out, "", "Alerted or shielded",
               run_.alertFile.Read() || run_.shieldFile.Read() ? std::to_string(noted_.size())
                                                               : std::string("\u2014"));
  AppendFigure(out, "", "Shields", count(run_.shieldFile, run_.shields.size()));
  AppendFigure(out, "", "Alerts", count(run_.alertFile, run_.alerts.size()));
  if (!noted(host::RunFiles::kShieldsRaised).empty()) {
    AppendFigure(out, "text", "Raised / lifted / refused",
                 noted(host::RunFiles::kShieldsRaised) + " / " +
                     noted(host::RunFiles::kShieldsLifted) + " / " +
                     noted(host::RunFiles::kShieldsRefused));
  }
  AppendFigure(out, "text", "Time span", span_ ? SpanText(*span_) : "no times in the files");
  if (!noted(host::RunFiles::kShieldCycle).empty() &&
      !noted(host::RunFiles::kMonitorCycle).empty()) {
    AppendFigure(out, "text", "Cycles",
                 "shields " + noted(host::RunFiles::kShieldCycle) + " s, monitor " +
                     noted(host::RunFiles::kMonitorCycle) + " s");
  }
  out += "</dl>";
}

bool HtmlPage::AppendUnread(std::string &out, const Source &source) const {
  if (source.Read()) return false;
  out += "<p class=\"note";
  if (source.state == Source::State::kMissing) {
    out += "\">No ";
    AppendHtml(out, FileName(source.path));
    out += " in this directory, so there is nothing to show here.</p>";
  } else {
    out += " problem\">";
    AppendHtml(out, source.path);
    out += " could not be read: ";
    AppendHtml(out, source.problem);
    out += ".</p>";
  }
  return true;
}

void HtmlPage::AppendShields(std::string &out) const {
  out += "<section id=\"shields\"><h2>Shields <span class=\"count\">";
  if (run_.shieldFile.Read()) out += "(" + std::to_string(run_.shields.size()) + ")";
  out += "</span></h2>";
  if (!AppendUnread(out, run_.shieldFile)) {
    if (run_.shields.empty()) {
      out += "<p class=\"note\">No shield was raised.</p>";
    } else {
      AppendShieldTable(out, run_.shields);
    }
    AppendSparedList(out, run_.spared, run_.sparedNotListed);
    if (run_.raisesLeftOut > 0) {
      out += "<p class=\"note\">The event log is long: its oldest " +
             Plural(static_cast<size_t>(run_.raisesLeftOut), "raise is", "raises are") +
             " left out.</p>";
    }
    if (run_.unreadShieldEvents > 0) {
      out += "<p class=\"note problem\">" +
             Plural(static_cast<size_t>(run_.unreadShieldEvents),
                    "line of the shield event log is not an event and was",
                    "lines of the shield event log are not events and were") +
             " skipped.</p>";
    }
  }
  out += "</section>";
}

void HtmlPage::AppendAlerts(std::string &out) const {
  out += "<section id=\"alerts\"><h2 id=\"alerts-title\">Alerts over time <span class=\"count\">";
  if (run_.alertFile.Read()) out += "(" + std::to_string(run_.alerts.size()) + ")";
  out += "</span></h2>";
  if (!AppendUnread(out, run_.alertFile)) {
    const AlertBuckets buckets = BucketAlerts(run_.alerts, span_);
    if (buckets.counts.empty()) {
      out += "<p class=\"note\">No alert was raised.</p>";
    } else {
      out += "<div class=\"chart-wrap\">" + AlertChartSvg(buckets) + "</div>";
      out +=
          "<p class=\"legend\"><span class=\"l1\">level 1</span><span class=\"l2\">level "
          "2</span>";
      if (std::any_of(buckets.counts.begin(), buckets.counts.end(),
                      [](const AlertBuckets::Counts &c) { return c.other > 0; })) {
        out += "<span class=\"lx\">other levels</span>";
      }
      out += "<span>each bar: " + FormatDuration(buckets.size) + "</span></p>";
    }
    if (run_.foreignAlertLines > 0) {
      out += "<p class=\"note problem\">" +
             Plural(static_cast<size_t>(run_.foreignAlertLines), "line", "lines") +
             " of the file are not alerts and were skipped.</p>";
    }
  }
  out += "</section>";
}

void HtmlPage::AppendNoted(std::string &out) const {
  out +=
      "<section id=\"noted\"><h2>Visitors alerted or shielded during the run <span "
      "class=\"count\">(" +
      std::to_string(noted_.size()) + ")</span></h2>";
  if (noted_.empty()) {
    out += run_.alertFile.Read() || run_.shieldFile.Read()
               ? "<p class=\"note\">No visitor reached level 1 or 2 or was shielded.</p>"
               : "<p class=\"note\">Neither the alert file nor the shield file could be read.</p>";
  } else {
    out +=
        "<p class=\"note\">From the alert file and the shields, held at the end or not; those "
        "held are listed below too, with their hits.</p>";
    AppendNotedTable(out, noted_);
  }
  out += "</section>";
}

void HtmlPage::AppendVisitors(std::string &out) const {
  out += "<section id=\"visitors\"><h2>Visitors held at the end <span class=\"count\">";
  if (run_.snapshot.Read()) out += "(" + std::to_string(run_.visitors.size()) + ")";
  out += "</span></h2>";
  if (!AppendUnread(out, run_.snapshot)) {
    if (run_.visitors.empty()) {
      out += "<p class=\"note\">The monitor held no visitor at the end.</p>";
    } else {
      out +=
          "<div class=\"tools\" id=\"visitor-tools\" hidden><input type=\"search\" "
          "id=\"visitor-search\" placeholder=\"Filter: key, address, browser, path\" "
          "aria-label=\"Filter visitors\" autocomplete=\"off\"><output id=\"visitor-status\" "
          "aria-live=\"polite\"></output></div>";
      AppendVisitorTable(out, run_.visitors);
    }
  }
  out += "</section>";
}

void HtmlPage::AppendData(std::string &out) const {
  out += "<script type=\"application/json\" id=\"report-data\">{\"directory\":";
  AppendJsonString(out, run_.directory);
  out += ",\"visitors\":" + std::to_string(run_.visitors.size()) + ",\"levels\":[" +
         std::to_string(VisitorsAtLevel(0)) + "," + std::to_string(VisitorsAtLevel(1)) + "," +
         std::to_string(VisitorsAtLevel(2)) +
         "],\"shields\":" + std::to_string(run_.shields.size()) +
         ",\"alerts\":" + std::to_string(run_.alerts.size()) +
         ",\"foreignAlertLines\":" + std::to_string(run_.foreignAlertLines) + ",\"from\":";
  AppendJsonString(out, span_ ? FormatMoment(span_->from) : "");
  out += ",\"to\":";
  AppendJsonString(out, span_ ? FormatMoment(span_->to) : "");
  out += "}</script>";
}

}  // namespace report
