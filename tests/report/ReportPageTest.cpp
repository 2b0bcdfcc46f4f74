// The page made from a run, its charts, and writing it.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <regex>
#include <sstream>

#include "Posix.h"
#include "RunFileTexts.h"
#include "base/Say.h"
#include "cli/ReportCommand.h"
#include "report/AlertChart.h"
#include "report/GapChart.h"
#include "report/Report.h"
#include "support/LocalZone.h"
#include "support/TempDir.h"

namespace {

using namespace report_testing;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kHostileAgent = "<script>alert(1)</script>\" onmouseover=\"alert(2)";
const std::string kHostileAgentXml =
    "&lt;script&gt;alert(1)&lt;/script&gt;&quot; onmouseover=&quot;alert(2)";

size_t Count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string Between(const std::string &text, const std::string &open, const std::string &close) {
  const size_t start = text.find(open);
  if (start == std::string::npos) return "";
  const size_t end = text.find(close, start + open.size());
  return text.substr(start + open.size(), end - start - open.size());
}

// Every start tag of the page outside its style sheet and script, its attribute values emptied;
// since values never bring a raw "<" or double quote, these are all the page's own.
std::vector<std::string> Tags(const std::string &page) {
  std::string markup = page;
  for (const char *element : {"style", "script"}) {
    const std::string pattern =
        std::string("(<") + element + " nonce[^>]*>)[^]*?</" + element + ">";
    markup = std::regex_replace(markup, std::regex(pattern), "$1");
  }
  std::vector<std::string> tags;
  const std::regex tag("<[a-zA-Z][^>]*>"), quoted("\"[^\"]*\"");
  for (auto it = std::sregex_iterator(markup.begin(), markup.end(), tag);
       it != std::sregex_iterator(); ++it) {
    tags.push_back(std::regex_replace(it->str(), quoted, "\"\""));  // the names, not the values
  }
  return tags;
}

// A run with a hostile visitor everywhere a value can go.
void WriteHostileRun(const TempDir &dir) {
  const std::string key = "k&lt;/script&gt;&lt;script&gt;alert(3)&lt;/script&gt;";
  WriteFile(
      dir.File("KvCorvane.xml"),
      Snapshot({{UserLine(key, kHostileAgentXml, 2),
                 HitLine("261207081500000", "/&lt;img src=x onerror=alert(4)&gt;"),
                 HitLine("261207081505000", "/b", 2, "q=&quot;&gt;&lt;svg onload=alert(5)&gt;"),
                 HitLine("261207081510000", "/c")},
                {UserLine("100.64.0.6", "Mozilla/5.0", 0)}}));
  WriteFile(dir.File("KvCorvaneAlerts.Out"),
            AlertLine("12/07/2026 08:15:10", "k</script>", 2, '^', kHostileAgent));
  WriteFile(dir.File("KvVantrel.xml"),
            Tripwires({TripwireLine("12/07/2026 08:16:40 AM", "203.0.113.66",
                                    "&lt;/script&gt;&lt;script&gt;alert(6)&lt;/script&gt;")}));
}

TEST(ReportPage, HostileValuesStayTextAndOnlyThePageOwnScriptRuns) {
  TempDir dir;
  WriteHostileRun(dir);
  const std::string page = report::RenderReport(report::ReadRun(dir.Path()));
  // Only the data block and the page's script; no handler, no element from a value.
  EXPECT_EQ(Count(page, "<script"), 2u);
  EXPECT_EQ(Count(page, "</script>"), 2u);
  for (const std::string &tag : Tags(page)) {
    EXPECT_FALSE(std::regex_search(tag, std::regex("\\son[a-z]+=", std::regex::icase))) << tag;
    EXPECT_FALSE(std::regex_search(tag, std::regex("^<(img|iframe|object|embed)\\b"))) << tag;
  }
  EXPECT_NE(page.find("title=\"&lt;script&gt;alert(1)&lt;/script&gt;&quot; onmouseover=&quot;"
                      "alert(2)\""),
            std::string::npos);
  EXPECT_NE(page.find("<dd>&lt;script&gt;alert(1)&lt;/script&gt;&quot; onmouseover="),
            std::string::npos);
  EXPECT_NE(page.find("&lt;/script&gt;&lt;script&gt;alert(6)&lt;/script&gt;</td>"),
            std::string::npos);
  const std::string data =
      Between(page, "<script type=\"application/json\" id=\"report-data\">", "</script>");
  EXPECT_EQ(data.find('<'), std::string::npos) << data;
  EXPECT_NE(data.find("\"visitors\":2,\"levels\":[1,0,1],\"shields\":1,\"alerts\":1"),
            std::string::npos)
      << data;
}

TEST(ReportPage, PolicyAllowsOnlyTheNoncedStyleAndScript) {
  TempDir dir;
  WriteHostileRun(dir);
  const report::RunData run = report::ReadRun(dir.Path());
  const std::string page = report::RenderReport(run);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(
      page, match,
      std::regex("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                 "style-src 'nonce-([0-9a-f]{32})'; script-src 'nonce-([0-9a-f]{32})'; "
                 "img-src 'none'; base-uri 'none'; form-action 'none'\">")));
  const std::string nonce = match[1];
  EXPECT_EQ(match[2], nonce);
  EXPECT_LT(page.find("Content-Security-Policy"), page.find("<style"));
  EXPECT_NE(page.find("<style nonce=\"" + nonce + "\">"), std::string::npos);
  EXPECT_NE(page.find("<script nonce=\"" + nonce + "\">"), std::string::npos);
  EXPECT_EQ(page.find(" style=\""), std::string::npos);
  for (const std::string &tag : Tags(page)) {
    EXPECT_FALSE(std::regex_search(tag, std::regex("\\s(src|href|action|srcset)="))) << tag;
  }
  for (const char *external : {"@import", "url(", "http://", "https://"}) {
    EXPECT_EQ(page.find(external), std::string::npos) << external;
  }
  EXPECT_NE(report::RenderReport(run).find("nonce-" + nonce), 0u) << "a fresh nonce each time";
  EXPECT_EQ(report::RenderReport(run).find("nonce-" + nonce), std::string::npos);
}

TEST(ReportPage, FiguresSectionsAndLevelTwoRows) {
  const testing_support::LocalZone zone("UTC");
  TempDir dir;
  WriteHostileRun(dir);
  const std::string page = report::RenderReport(report::ReadRun(dir.Path()));
  EXPECT_NE(page.find("<dt>Visitors held</dt><dd>2</dd>"), std::string::npos);
  EXPECT_NE(page.find("<dt>Level 2</dt><dd>1</dd>"), std::string::npos);
  EXPECT_NE(page.find("<dt>Shields</dt><dd>1</dd>"), std::string::npos);
  EXPECT_NE(page.find("<dt>Alerts</dt><dd>1</dd>"), std::string::npos);
  EXPECT_NE(page.find("<dd>2026-12-07T08:06:15+00:00 to 08:16:40+00:00 (10m 25s)</dd>"),
            std::string::npos);
  EXPECT_EQ(Count(page, "<tbody class=\"lvl2\">"), 1u);
  EXPECT_EQ(Count(page, "<tr class=\"runs\" id=\"runs-"), 2u);
  EXPECT_NE(page.find("<svg class=\"alert-chart\""), std::string::npos);
  EXPECT_NE(page.find("<svg class=\"gaps\""), std::string::npos);
  EXPECT_NE(page.find("@media print"), std::string::npos);

  std::filesystem::remove(dir.File("KvVantrel.xml"));
  WriteFile(dir.File("KvCorvane.xml"), Snapshot({}));
  WriteFile(dir.File("KvCorvaneAlerts.Out"), "not an alert\r\n");
  const std::string empty = report::RenderReport(report::ReadRun(dir.Path()));
  EXPECT_NE(empty.find("No KvVantrel.xml in this directory"), std::string::npos);
  EXPECT_NE(empty.find("<dt>Shields</dt><dd>\u2014</dd>"), std::string::npos);
  EXPECT_NE(empty.find("The monitor held no visitor at the end."), std::string::npos);
  EXPECT_NE(empty.find("No alert was raised."), std::string::npos);
  EXPECT_NE(empty.find("1 line of the file are not alerts"), std::string::npos);
  EXPECT_EQ(empty.find("<table id=\"visitor-table\">"), std::string::npos);
}

std::vector<report::HitRun> RunsAt(const std::vector<const char *> &serials) {
  std::vector<report::HitRun> runs;
  for (const char *serial : serials) {
    runs.push_back({});
    runs.back().at = report::MomentFromSerial(serial);
  }
  return runs;
}

TEST(ReportPage, GapChartIsFlatForASteadyPace) {
  // Across midnight: the serials' numbers jump, the gaps stay 5 seconds.
  const auto gaps = report::GapsBetweenRuns(
      RunsAt({"261207235950000", "261207235955000", "261208000000000", "261208000005000"}));
  EXPECT_EQ(gaps, (std::vector<int64_t>{5000, 5000, 5000}));
  const std::string steady = report::GapChartSvg(gaps);
  const std::string points = Between(steady, "points=\"", "\"");
  EXPECT_TRUE(std::regex_match(points, std::regex("3\\.0,(\\S+) 60\\.0,\\1 117\\.0,\\1")))
      << points;
  EXPECT_NE(steady.find("3 gaps, 5s to 5s, median 5s"), std::string::npos);
  EXPECT_EQ(report::GapChartSvg({5000}), "");
  const auto ragged = report::GapChartSvg({1000, 9000, 3000});
  EXPECT_EQ(Between(ragged, "points=\"", "\""), "3.0,22.6 60.0,3.0 117.0,17.7");
}

report::Alert AlertAt(const char *serial, int level) {
  report::Alert alert;
  alert.at = *report::MomentFromSerial(serial);
  alert.level = level;
  return alert;
}

TEST(ReportPage, AlertsAreCountedPerRoundBucketAndLevel) {
  const std::vector<report::Alert> alerts = {
      AlertAt("261207081640000", 1), AlertAt("261207081655000", 2), AlertAt("261207094959000", 2),
      AlertAt("261207094959000", 3)};
  const auto run = report::TimeSpan{*report::MomentFromSerial("261207080000000"),
                                    *report::MomentFromSerial("261207100000000")};
  const report::AlertBuckets buckets = report::BucketAlerts(alerts, run);
  EXPECT_EQ(buckets.size, 5 * 60 * 1000);  // two hours: 24 buckets of five minutes
  ASSERT_EQ(buckets.counts.size(), 25u);
  EXPECT_EQ(buckets.counts[3].level1, 1);
  EXPECT_EQ(buckets.counts[3].level2, 1);
  EXPECT_EQ(buckets.counts[21].level2, 1);
  EXPECT_EQ(buckets.counts[21].other, 1);
  const std::string svg = report::AlertChartSvg(buckets);
  EXPECT_EQ(Count(svg, "<rect"), 4u);
  EXPECT_NE(svg.find("<title>08:15 to 08:20: 2 alerts (1 at level 1, 1 at level 2)</title>"),
            std::string::npos);
  // One alert alone still gets a time axis, not one bar as wide as the chart.
  EXPECT_EQ(report::BucketAlerts({alerts[0]}, std::nullopt).counts.size(), 12u);
  EXPECT_TRUE(report::BucketAlerts({}, run).counts.empty());
}

ssize_t FailingWrite(int, const void *, size_t) {
  errno = ENOSPC;
  return -1;
}

TEST(ReportPage, WriteReportReplacesThePageInOneStep) {
  TempDir dir;
  WriteHostileRun(dir);
  const std::string output = dir.File("report.html");
  report::WriteReport(dir.Path(), output);
  const std::string first = ReadFile(output);
  EXPECT_EQ(first.rfind("<!DOCTYPE html>", 0), 0u);

  common::Posix().write = FailingWrite;
  try {
    report::WriteReport(dir.Path(), output);
    ADD_FAILURE() << "a failed write must throw";
  } catch (const std::runtime_error &error) {
    EXPECT_EQ(std::string(error.what()),
              "cannot write the report " + output + ": No space left on device");
  }
  common::Posix() = common::RealPosix();
  EXPECT_EQ(ReadFile(output), first) << "the old page stays whole";
  size_t files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir.Path())) {
    files += entry.path().filename().string().find(".tmp") != std::string::npos;
  }
  EXPECT_EQ(files, 0u) << "no temporary file is left behind";

  EXPECT_THROW(report::WriteReport(dir.Path(), dir.File("no/such/dir/report.html")),
               std::runtime_error);
}

// As main runs it: what flowdeck says names the command.
int Command(const std::vector<std::string> &args, std::string &out, std::string &err) {
  std::ostringstream o, e;
  host::SayAs("report");
  const int status = host::RunReportCommand(args, o, e);
  host::SayAs("");
  out = o.str();
  err = e.str();
  return status;
}

TEST(ReportPage, CommandExitStatuses) {
  TempDir dir;
  std::string out, err;
  EXPECT_EQ(Command({dir.Path()}, out, err), 0) << err;
  EXPECT_EQ(out, "report written to " + dir.File("report.html") + "\n");
  EXPECT_TRUE(testing_support::FileExists(dir.File("report.html")));
  EXPECT_EQ(Command({"--output", dir.File("r.html"), dir.Path()}, out, err), 0);
  EXPECT_TRUE(testing_support::FileExists(dir.File("r.html")));
  EXPECT_EQ(Command({"--help"}, out, err), 0);
  EXPECT_NE(out.find("usage: flowdeck report [--output FILE] DIR"), std::string::npos);

  EXPECT_EQ(Command({}, out, err), 2);
  EXPECT_EQ(err, "flowdeck report: no directory given\nTry 'flowdeck report --help'.\n");
  EXPECT_EQ(Command({"--bogus", dir.Path()}, out, err), 2);
  EXPECT_EQ(Command({dir.Path(), dir.Path()}, out, err), 2);
  EXPECT_EQ(Command({dir.Path(), "--output"}, out, err), 2);
  EXPECT_EQ(Command({dir.File("missing")}, out, err), 2);
  EXPECT_NE(err.find(dir.File("missing") + ": not a directory"), std::string::npos) << err;
  EXPECT_EQ(Command({"--output", dir.File("missing/r.html"), dir.Path()}, out, err), 1);
  EXPECT_NE(err.find("cannot write the report " + dir.File("missing/r.html")), std::string::npos);
}

}  // namespace
