// Reading what a run left: the snapshot, the alert file and the tripwire file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>

#include "RunFileTexts.h"
#include "report/AlertReader.h"
#include "report/Report.h"
#include "report/ReportTime.h"
#include "report/SnapshotReader.h"
#include "support/LocalZone.h"
#include "support/TempDir.h"

namespace {

using namespace report_testing;
using report::Source;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(ReportRead, MissingFilesLeaveEmptySectionsNotAFailure) {
  TempDir dir;
  const report::RunData run = report::ReadRun(dir.Path() + "/");
  EXPECT_EQ(run.directory, dir.Path());
  for (const Source *source : {&run.snapshot, &run.alertFile, &run.shieldFile}) {
    EXPECT_EQ(source->state, Source::State::kMissing) << source->path;
  }
  EXPECT_EQ(run.snapshot.path, dir.File("KvCorvane.xml"));
  EXPECT_TRUE(run.visitors.empty() && run.alerts.empty() && run.shields.empty());
}

TEST(ReportRead, AnUnreadableDirectoryIsTheOnlyFatalInput) {
  TempDir dir;
  EXPECT_THROW(report::ReadRun(dir.File("nowhere")), report::DirectoryError);
  WriteFile(dir.File("plain"), "x");
  EXPECT_THROW(report::ReadRun(dir.File("plain")), report::DirectoryError);
}

TEST(ReportRead, SnapshotVisitorsCarryTheirRunsAndDecodedValues) {
  TempDir dir;
  WriteFile(dir.File("KvCorvane.xml"),
            Snapshot({{UserLine("203.0.113.66", "&lt;script&gt;&quot; x=&quot;&amp;&#9;", 2,
                                "&gt;500", "3m, 40s"),
                       HitLine("261207081500000", "/admin/login.php", 45, "a=1&amp;b=&lt;")},
                      {UserLine("100.64.0.6", "Mozilla/5.0", 0),
                       HitLine("261207080006000", "/search", 1, "q=item33"),
                       HitLine("261207080007500", "/favicon.ico", 3)}}));
  const report::RunData run = report::ReadRun(dir.Path());
  ASSERT_TRUE(run.snapshot.Read()) << run.snapshot.problem;
  ASSERT_EQ(run.visitors.size(), 2u);
  const report::Visitor &probe = run.visitors[0];
  EXPECT_EQ(probe.key, "203.0.113.66");
  EXPECT_EQ(probe.userAgent, "<script>\" x=\"&\t");
  EXPECT_EQ(probe.level, 2);
  EXPECT_EQ(probe.requests, ">500");
  EXPECT_EQ(probe.visitLength, "3m, 40s");
  EXPECT_TRUE(probe.connected);
  EXPECT_FALSE(probe.locked);
  ASSERT_EQ(probe.runs.size(), 1u);
  EXPECT_EQ(probe.runs[0].pages, 45);
  EXPECT_EQ(probe.runs[0].query, "a=1&b=<");
  const report::Visitor &person = run.visitors[1];
  ASSERT_EQ(person.runs.size(), 2u);
  EXPECT_EQ(person.runs[1].path, "/favicon.ico");
  EXPECT_EQ(*person.runs[1].at - *person.runs[0].at, 1500);
}

TEST(ReportRead, AnEmptySnapshotHoldsNoVisitorsAndABrokenOneSaysWhere) {
  TempDir dir;
  WriteFile(dir.File("KvCorvane.xml"), Snapshot({}));
  report::RunData run = report::ReadRun(dir.Path());
  EXPECT_TRUE(run.snapshot.Read());
  EXPECT_TRUE(run.visitors.empty());

  // A value the parser cannot take: nothing of the file is shown rather than half of it.
  WriteFile(dir.File("KvCorvane.xml"),
            Snapshot({{UserLine("a", "ok", 0), HitLine("261207080006000", "/")},
                      {UserLine("b", "x\" y=\"<", 0)}}));
  run = report::ReadRun(dir.Path());
  EXPECT_EQ(run.snapshot.state, Source::State::kFailed);
  EXPECT_EQ(run.snapshot.problem.rfind("line 9: ", 0), 0u) << run.snapshot.problem;
  EXPECT_TRUE(run.visitors.empty());

  WriteFile(dir.File("KvCorvane.xml"), "");
  EXPECT_EQ(report::ReadRun(dir.Path()).snapshot.state, Source::State::kFailed);
  if (geteuid() != 0) {  // root reads any file
    chmod(dir.File("KvCorvane.xml").c_str(), 0);
    run = report::ReadRun(dir.Path());
    EXPECT_EQ(run.snapshot.state, Source::State::kFailed);
    EXPECT_EQ(run.snapshot.problem, "Permission denied");
  }
}

// The run's figures count the snapshot's visitors by level as the page reads them; half a
// snapshot counts none rather than fewer.
TEST(ReportRead, VisitorsAreCountedByLevelAsTheSnapshotIsRead) {
  TempDir dir;
  const std::string path = dir.File("KvCorvane.xml");
  using Levels = std::array<uint64_t, 3>;
  EXPECT_EQ(report::CountLevels(path), (Levels{}));
  WriteFile(path, Snapshot({{UserLine("a", "x LVL=&quot;0&quot;", 2),
                             HitLine("261207080006000", "/?LVL=&quot;0&quot;")},
                            {UserLine("b", "ok", 0)},
                            {UserLine("c", "ok", 2)},
                            {UserLine("d", "ok", 7)}}));
  std::vector<report::Visitor> visitors;
  ASSERT_TRUE(report::ReadSnapshot(path, visitors).Read());
  Levels read{};
  for (const report::Visitor &visitor : visitors) {
    if (visitor.level >= 0 && visitor.level < 3) ++read[visitor.level];
  }
  EXPECT_EQ(read, (Levels{1, 0, 2}));
  EXPECT_EQ(report::CountLevels(path), read);
}

TEST(ReportRead, ForeignAlertLinesAreSkippedAndCounted) {
  TempDir dir;
  std::string lastLine = AlertLine("12/07/2026 08:18:30", "no-final-line-end", 2, '#');
  lastLine.resize(lastLine.size() - 2);
  WriteFile(dir.File("KvCorvaneAlerts.Out"),
            AlertLine("12/07/2026 08:16:40", "203.0.113.66", 1) + "\r\n" +  // blank: ignored
                AlertLine("12/07/2026 08:17:10", "k^2", 2, '|', "agent^with^carets") +
                "a line of some other program\r\n" +
                AlertLine("12/07/2026 08:17:10 PM", "twelve-hour-stamp", 2) +
                AlertLine("12/07/2026 08:17:99", "bad-second", 2) +
                "^12/07/2026 08:17:10^level-x^us^^curl^a^a^a^localhost^shop^x^0.98\r\n" +
                "^12/07/2026 08:18:00^too^few^fields\r\n" + lastLine);
  std::vector<report::Alert> alerts;
  int64_t foreign = -1;
  ASSERT_TRUE(report::ReadAlerts(dir.File("KvCorvaneAlerts.Out"), alerts, foreign).Read());
  EXPECT_EQ(foreign, 5);
  ASSERT_EQ(alerts.size(), 3u);
  EXPECT_EQ(alerts[0].key, "203.0.113.66");
  EXPECT_EQ(alerts[0].level, 1);
  EXPECT_EQ(alerts[0].correlation, "0.98");
  EXPECT_EQ(alerts[1].key, "k^2");
  EXPECT_EQ(alerts[1].userAgent, "agent^with^carets");
  EXPECT_EQ(alerts[1].at - alerts[0].at, 30000);
  EXPECT_EQ(alerts[2].key, "no-final-line-end");
  EXPECT_FALSE(report::ParseAlertLine("x12/07/2026 08:16:40"));
}

TEST(ReportRead, ShieldsComeNewestFirst) {
  TempDir dir;
  WriteFile(dir.File("KvVantrel.xml"),
            Tripwires({TripwireLine("12/07/2026 08:16:40 AM", "a"),
                       TripwireLine("12/07/2026 12:05:00 AM", "b"), TripwireLine("sometime", "c"),
                       TripwireLine("12/07/2026 01:05:00 PM", "d", "&lt;b&gt;Bold&lt;/b&gt;"),
                       TripwireLine("12/07/2026 08:16:40 AM", "e")}));
  const report::RunData run = report::ReadRun(dir.Path());
  ASSERT_TRUE(run.shieldFile.Read());
  std::string order;
  for (const report::Shield &shield : run.shields) order += shield.remoteAddr;
  EXPECT_EQ(order, "deabc");  // one second: the later line first; no time: last
  EXPECT_EQ(run.shields[0].description, "<b>Bold</b>");
  EXPECT_EQ(run.shields[0].factor, "0.998765432101234");
  EXPECT_EQ(run.shields[0].resource, "/admin/login.php");
}

TEST(ReportRead, PaceShieldsComeFromTheEventLogAndADamagedEscapeIsKept) {
  TempDir dir;
  WriteFile(dir.File("KvVantrel.xml"), Tripwires({TripwireLine("12/07/2026 08:16:40 AM", "a")}));
  WriteFile(dir.File("flowdeck-shields.log"),
            "2026-12-07T09:00:00Z raise pace 198.51.100.7 shop%20one /a%zz%4 -> /sorry.htm until "
            "2026-12-07T10:00:00Z\n"
            "2026-12-07T10:00:00Z lift pace 198.51.100.7 shop%20one /a%zz%4 -> /sorry.htm\n"
            "2026-12-07T07:00:00Z raise regularity 198.51.100.8 h / -> /s until x\n"
            "torn line\n");
  const report::RunData run = report::ReadRun(dir.Path());
  ASSERT_EQ(run.shields.size(), 2u);
  EXPECT_EQ(run.shields[0].test, "pace");
  EXPECT_EQ(run.shields[0].remoteAddr, "198.51.100.7");
  EXPECT_EQ(run.shields[0].host, "shop one");
  EXPECT_EQ(run.shields[0].resource, "/a%zz%4");
  EXPECT_EQ(run.shields[1].remoteAddr, "a") << "the plug-in's own shield, older";
}

// This version tells the offence after the end; the figures behind it are still the pace
// test's.
TEST(ReportRead, PaceFiguresAreReadPastTheOffence) {
  TempDir dir;
  WriteFile(dir.File("KvVantrel.xml"), Tripwires({}));
  WriteFile(dir.File("flowdeck-shields.log"),
            "2026-12-07T09:00:00Z raise pace 198.51.100.7 shop /a -> /s until "
            "2026-12-07T10:00:00Z offence 1 (hits 20, mean gap 1.000 s, spread 0.012)\n");
  const report::RunData run = report::ReadRun(dir.Path());
  ASSERT_EQ(run.shields.size(), 1u);
  EXPECT_EQ(run.shields[0].paceFigures, "hits 20, mean gap 1.000 s, spread 0.012");
  EXPECT_EQ(run.shields[0].description,
            "pace test: steady, one request every 1s (20 hits, spread 0.012)");
}

// The event log of this version (RFC 3339 with the offset) and of earlier ones (UTC, "Z") give
// the same local times.
TEST(ReportRead, PaceShieldTimesOfEitherFormatAreLocalTimes) {
  const testing_support::LocalZone zone("America/New_York");
  TempDir dir;
  WriteFile(dir.File("KvVantrel.xml"), Tripwires({}));
  WriteFile(dir.File("flowdeck-shields.log"),
            "2026-12-07T14:00:00Z raise pace 198.51.100.7 h /a -> /s until 2026-12-07T15:00:00Z\n"
            "2026-12-07T20:30:00+05:30 raise pace 198.51.100.8 h /b -> /s until "
            "2026-12-07T21:30:00+05:30\n");
  const report::RunData run = report::ReadRun(dir.Path());
  ASSERT_EQ(run.shields.size(), 2u);
  for (const report::Shield &shield : run.shields) {
    EXPECT_EQ(shield.at,
              report::MomentFromSerial(shield.remoteAddr == "198.51.100.7" ? "261207090000000"
                                                                           : "261207100000000"))
        << shield.dateTime;
  }
}

}  // namespace
