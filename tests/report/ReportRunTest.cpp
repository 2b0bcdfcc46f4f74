// What the page says of a whole run: one row per shield whichever tests judged it, the pace
// test's words from its figures, the visitors alerted or shielded though gone at the end, the
// visitors of the run across a reload, and time labels that never overlap.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "RunFileTexts.h"
#include "report/AlertChart.h"
#include "report/NotedVisitors.h"
#include "report/Report.h"
#include "report/ShieldRows.h"
#include "support/LocalZone.h"
#include "support/TempDir.h"

namespace {

using namespace report_testing;
using testing_support::TempDir;
using testing_support::WriteFile;

size_t Count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A local time ("2026-12-07 08:16:40") as the event log writes it: ISO 8601 in UTC.
std::string IsoUtc(const char *local) {
  std::tm parts{};
  strptime(local, "%Y-%m-%d %H:%M:%S", &parts);
  parts.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&parts);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string PaceRaise(const char *at, const char *until, const std::string &address,
                      const std::string &figures) {
  return IsoUtc(at) + " raise pace " + address + " shop /admin/login.php -> /deflect.html until " +
         IsoUtc(until) + (figures.empty() ? "" : " (" + figures + ")") + "\n";
}

TEST(ReportRun, OneRowPerShieldWhenBothTestsJudgedIt) {
  TempDir dir;
  WriteFile(dir.File("KvVantrel.xml"),
            Tripwires({
                TripwireLine("12/07/2026 08:16:45 AM", "203.0.113.66"),  // after pace's
                TripwireLine("12/07/2026 09:00:00 AM", "203.0.113.66"),  // after it was lifted
                TripwireLine("12/07/2026 10:00:00 AM", "203.0.113.77"),  // before pace's
                TripwireLine("12/07/2026 10:00:05 AM", "203.0.113.88"),  // the plug-in's alone
            }));
  WriteFile(dir.File("flowdeck-shields.log"),
            PaceRaise("2026-12-07 08:16:40", "2026-12-07 08:31:40", "203.0.113.66",
                      "hits 25, mean gap 1.000 s, spread 0.004") +
                PaceRaise("2026-12-07 10:00:30", "2026-12-07 10:15:30", "203.0.113.77",
                          "hits 30, mean gap 10.000 s, spread 0.290") +
                PaceRaise("2026-12-07 11:00:00", "2026-12-07 11:15:00", "203.0.113.99", ""));
  const report::RunData run = report::ReadRun(dir.Path());
  std::string rows;
  for (const report::Shield &shield : run.shields) {
    rows += shield.remoteAddr + " " + shield.test + "+" + shield.alsoJudgedBy + "; ";
  }
  EXPECT_EQ(rows,
            "203.0.113.99 pace+; 203.0.113.88 regularity+; 203.0.113.77 regularity+pace; "
            "203.0.113.66 regularity+; 203.0.113.66 pace+regularity; ");

  const report::Shield &paceFirst = run.shields[4];
  EXPECT_EQ(paceFirst.hits, "25") << "the plug-in's tally";
  EXPECT_EQ(paceFirst.description,
            "pace test: steady, one request every 1s (25 hits, spread 0.004); the regularity "
            "test judged it too at 08:16:45 (25 hits, factor 0.9988)");
  const report::Shield &plugInFirst = run.shields[2];
  EXPECT_EQ(plugInFirst.factor, "0.998765432101234");
  EXPECT_NE(plugInFirst.description.find("login probe; the pace test judged it too at 10:00:30: "
                                         "pace test: even, 10s apart on average"),
            std::string::npos)
      << plugInFirst.description;

  const std::string page = report::RenderReport(run);
  EXPECT_NE(page.find("<dt>Shields</dt><dd>5</dd>"), std::string::npos);
  EXPECT_NE(page.find("<td>pace, then regularity</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>regularity, then pace</td>"), std::string::npos);
}

TEST(ReportRun, PaceWordsSayWhatTheFiguresShow) {
  const std::string timer = report::PaceDescription("hits 25, mean gap 1.000 s, spread 0.012");
  EXPECT_EQ(timer, "steady, one request every 1s (25 hits, spread 0.012)");
  const std::string drawn = report::PaceDescription("hits 40, mean gap 9.850 s, spread 0.287");
  EXPECT_EQ(drawn.rfind("even, 9.85s apart on average and scattered as delays drawn at random", 0),
            0u)
      << drawn;
  EXPECT_NE(drawn.find("(40 hits, spread 0.287)"), std::string::npos);
  // Without figures nothing is claimed of how the delays came about.
  for (const char *unknown : {"", "hits 25", "hits 25, mean gap 1.000 s, spread 0.012 and more",
                              "hits 1, mean gap 1.000 s, spread 0.000"}) {
    EXPECT_EQ(report::PaceDescription(unknown), "gaps between requests too even for a person's")
        << unknown;
  }
}

TEST(ReportRun, VisitorsAlertedOrShieldedAreListedThoughGoneAtTheEnd) {
  TempDir dir;
  WriteFile(dir.File("KvCorvane.xml"), Snapshot({{UserLine("k-held", "Mozilla/5.0", 1)},
                                                 {UserLine("100.64.0.6", "curl", 0)}}));
  WriteFile(dir.File("KvCorvaneAlerts.Out"), AlertLine("12/07/2026 08:10:00", "k-gone", 1) +
                                                 AlertLine("12/07/2026 08:12:00", "k-gone", 2) +
                                                 AlertLine("12/07/2026 08:11:00", "k-held", 1) +
                                                 AlertLine("12/07/2026 08:13:00", "k-zero", 0));
  WriteFile(dir.File("KvVantrel.xml"),
            Tripwires({TripwireLine("12/07/2026 08:12:30 AM", "k-gone"),
                       TripwireLine("12/07/2026 08:14:00 AM", "198.51.100.9")}));
  const report::RunData run = report::ReadRun(dir.Path());
  const std::vector<report::NotedVisitor> noted = report::NoteVisitors(run);
  ASSERT_EQ(noted.size(), 3u);
  EXPECT_EQ(noted[0].key, "k-gone");
  EXPECT_EQ(noted[0].highestLevel, 2);
  EXPECT_EQ(noted[0].alerts, 2);
  EXPECT_EQ(noted[0].shields.size(), 1u);
  EXPECT_EQ(noted[0].held, nullptr);
  EXPECT_EQ(noted[1].key, "k-held");
  ASSERT_NE(noted[1].held, nullptr);
  EXPECT_EQ(noted[1].held->key, "k-held");
  EXPECT_EQ(noted[2].key, "") << "shielded, never alerted";
  EXPECT_EQ(noted[2].remoteAddr, "198.51.100.9");
  EXPECT_EQ(noted[2].shields.size(), 1u);

  const testing_support::LocalZone zone("UTC");
  const std::string page = report::RenderReport(run);
  EXPECT_NE(page.find("<dt>Visitors held</dt><dd>2</dd>"), std::string::npos);
  EXPECT_NE(page.find("<dt>Alerted or shielded</dt><dd>3</dd>"), std::string::npos);
  EXPECT_NE(page.find("Visitors alerted or shielded during the run <span class=\"count\">(3)"),
            std::string::npos);
  const size_t table = page.find("<table id=\"noted-table\">");
  ASSERT_NE(table, std::string::npos);
  const std::string rows = page.substr(table, page.find("</table>", table) - table);
  EXPECT_NE(rows.find("<tr class=\"lvl2\"><td class=\"wrap\">k-gone</td>"), std::string::npos);
  EXPECT_NE(rows.find("<td class=\"num\">2</td><td class=\"num\">1 / 1</td><td "
                      "class=\"time\">2026-12-07T08:10:00+00:00</td><td "
                      "class=\"time\">2026-12-07T08:12:00+00:00</td><td class=\"num\" "
                      "title=\"0.98\">0.9800</td>"),
            std::string::npos)
      << rows;
  EXPECT_NE(rows.find("<td>held, level 1</td>"), std::string::npos);
  EXPECT_NE(rows.find("<span title=\"shop/admin/login.php\"><span class=\"shielded\">regularity"
                      "</span> /admin/login.php</span>"),
            std::string::npos);
  const std::string head = rows.substr(0, rows.find("</tr>"));
  const std::string firstRow = rows.substr(rows.find("<tr class=\"lvl2\">"));
  EXPECT_EQ(Count(head, "<th "), Count(firstRow.substr(0, firstRow.find("</tr>")), "<td"))
      << "a heading for every cell";
  EXPECT_EQ(rows.find("k-zero"), std::string::npos);
  EXPECT_EQ(rows.find("100.64.0.6"), std::string::npos) << "held, never alerted or shielded";
}

TEST(ReportRun, VisitorsOfTheRunAreCountedAcrossAReload) {
  TempDir dir;
  // A reload restarted the monitor: its snapshot is empty; flowdeck's run file counts all.
  WriteFile(dir.File("KvCorvane.xml"), Snapshot({}));
  WriteFile(dir.File("flowdeck-run.txt"), "VisitorsOfRun = 7\nShieldsRaised = 0\n");
  const std::string page = report::RenderReport(report::ReadRun(dir.Path()));
  EXPECT_NE(page.find("<dt>Visitors in the run</dt><dd>7</dd>"), std::string::npos);
  EXPECT_NE(page.find("<dt>Visitors held</dt><dd>0</dd>"), std::string::npos);
  EXPECT_NE(page.find("The monitor held no visitor at the end."), std::string::npos);
}

report::Alert AlertAt(report::Moment at) {
  report::Alert alert;
  alert.at = at;
  alert.level = 1;
  return alert;
}

// The time labels of a chart as (x, text), left to right.
std::vector<std::pair<double, std::string>> TimeLabels(const std::string &svg) {
  std::vector<std::pair<double, std::string>> labels;
  const std::regex label(
      "<text class=\"tick time\" x=\"([0-9.]+)\" y=\"[0-9.]+\" text-anchor=\"start\">([^<]*)<");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), label); it != std::sregex_iterator();
       ++it) {
    labels.emplace_back(std::stod((*it)[1]), (*it)[2]);
  }
  return labels;
}

TEST(ReportRun, AlertTimeLabelsNeverOverlap) {
  const report::Moment day = 86'400'000;
  const report::Moment start = *report::MomentFromSerial("201102095525000");
  // A month with alerts on its first two days, close together; an hour; a single alert.
  const std::vector<std::vector<report::Alert>> runs = {
      {AlertAt(start), AlertAt(start + 60'000), AlertAt(start + day + 5000),
       AlertAt(start + 29 * day)},
      {AlertAt(start), AlertAt(start + 3'600'000)},
      {AlertAt(start)}};
  for (const auto &alerts : runs) {
    const report::TimeSpan span{alerts.front().at, alerts.back().at};
    const std::string svg = report::AlertChartSvg(report::BucketAlerts(alerts, span));
    const auto labels = TimeLabels(svg);
    ASSERT_GE(labels.size(), 3u) << svg;
    // At the page's largest label size, 15 units, a digit is 0.6 of it wide at most.
    for (size_t i = 0; i < labels.size(); ++i) {
      const double right = labels[i].first + labels[i].second.size() * 15 * 0.6;
      EXPECT_LE(right, 720) << labels[i].second;
      if (i + 1 < labels.size()) {
        EXPECT_LT(right, labels[i + 1].first) << labels[i].second << " / " << labels[i + 1].second;
      }
    }
  }
}

}  // namespace
