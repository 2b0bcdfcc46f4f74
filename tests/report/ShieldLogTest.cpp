// The shield table from flowdeck's event log: every raise with its offence, lifetime and lift,
// joined to the plug-in's rows or a row of its own; spared shields listed; the log read within
// bounds.
#include <gtest/gtest.h>

#include "RunFileTexts.h"
#include "report/Report.h"
#include "report/ShieldEventReader.h"
#include "support/LocalZone.h"
#include "support/TempDir.h"

namespace {

using namespace report_testing;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kLogin = " shop /admin/login.php -> /deflect.html ";

std::string Raise(const std::string &at, const std::string &source, const std::string &address,
                  const std::string &target, const std::string &until, int offence,
                  const std::string &figures = "") {
  return "2026-12-07T" + at + "Z raise " + source + " " + address + target + "until 2026-12-07T" +
         until + "Z offence " + std::to_string(offence) +
         (figures.empty() ? "" : " (" + figures + ")") + "\n";
}

std::string Lift(const std::string &at, const std::string &address, const std::string &target,
                 const std::string &why = "") {
  return "2026-12-07T" + at + "Z lift regularity " + address + target +
         (why.empty() ? "" : "(" + why + ")") + "\n";
}

// The row of the shield table that holds the text, from <tr> to </tr>.
std::string RowWith(const std::string &page, const std::string &text) {
  const size_t at = page.find(text, page.find("<table id=\"shield-table\">"));
  if (at == std::string::npos) return "";
  const size_t start = page.rfind("<tr>", at);
  return page.substr(start, page.find("</tr>", at) - start);
}

TEST(ShieldLog, RaisesGiveOffenceLifetimeAndLiftToTheirRows) {
  const testing_support::LocalZone zone("UTC");
  TempDir dir;
  WriteFile(dir.File("KvVantrel.xml"),
            Tripwires({TripwireLine("12/07/2026 08:00:00 AM", "203.0.113.5"),
                       TripwireLine("12/07/2026 09:00:00 AM", "203.0.113.5")}));
  WriteFile(
      dir.File("flowdeck-shields.log"),
      // A lift whose raise is in a rotated log lifts nothing shown.
      Lift("07:59:00", "203.0.113.5", kLogin, "by hand") +
          // The repeat offender: offence 1 lifted by hand, offence 2 twice as long, at its end.
          Raise("08:00:01", "regularity", "203.0.113.5", kLogin, "08:15:01", 1) +
          Lift("08:05:00", "203.0.113.5", kLogin, "by hand") +
          Raise("09:00:00", "regularity", "203.0.113.5", kLogin, "09:30:00", 2,
                "claims to be bingbot, is not (no reverse name)") +
          Lift("09:30:00", "203.0.113.5", kLogin) +
          // Raised again after a lapse: the plug-in's file has it once.
          Raise("11:00:00", "regularity", "203.0.113.5", kLogin, "12:00:00", 3) +
          Raise("10:00:00", "manual", "198.51.100.9", " - - -> /sorry.htm ", "11:00:00", 1) +
          Raise("10:30:00", "pace", "198.51.100.7", " shop /search -> /s ", "10:45:00", 1,
                "hits 20, mean gap 1.000 s, spread 0.012; claims to be googlebot, is not "
                "(forward lookup failed)") +
          "2026-12-07T10:40:00Z spare regularity 66.249.66.1" + kLogin + "(verified googlebot)\n" +
          "2026-12-07T10:41:00Z refuse regularity 10.0.0.1" + kLogin + "(not routable)\n");
  const report::RunData run = report::ReadRun(dir.Path());
  std::string rows;
  for (const report::Shield &shield : run.shields) {
    rows += shield.test + " " + shield.remoteAddr + " " +
            (shield.offence ? std::to_string(*shield.offence) : "?") + "; ";
  }
  EXPECT_EQ(rows,
            "regularity 203.0.113.5 3; pace 198.51.100.7 1; manual 198.51.100.9 1; "
            "regularity 203.0.113.5 2; regularity 203.0.113.5 1; ");
  EXPECT_EQ(run.unreadShieldEvents, 0) << "a refusal is an event, though not a row";
  EXPECT_EQ(run.shields[4].description, "login probe") << "the plug-in's words stay";
  EXPECT_EQ(run.shields[3].description,
            "login probe; claims to be bingbot, is not (no reverse name)");
  EXPECT_EQ(run.shields[0].description, "regularity test");
  EXPECT_EQ(run.shields[1].description,
            "pace test: steady, one request every 1s (20 hits, spread 0.012); claims to be "
            "googlebot, is not (forward lookup failed)");
  EXPECT_EQ(run.shields[2].description, "raised by hand, the whole address");

  const std::string page = report::RenderReport(run);
  EXPECT_NE(page.find("<th scope=\"col\">Source</th>"), std::string::npos);
  EXPECT_EQ(page.find("<th scope=\"col\">Test</th>"), std::string::npos);
  const std::string cells =
      "<td class=\"num\">%</td><td class=\"time\">%</td><td class=\"lifted\">";
  const auto lifeCells = [&](const std::string &offence, const std::string &lifetime) {
    std::string text = cells;
    text.replace(text.find('%'), 1, offence);
    text.replace(text.find('%'), 1, lifetime);
    return text;
  };
  EXPECT_NE(RowWith(page, "08:00:00+00:00")
                .find(lifeCells("1", "15m") + "2026-12-07T08:05:00+00:00 (by hand)</td>"),
            std::string::npos)
      << RowWith(page, "08:00:00+00:00");
  EXPECT_NE(RowWith(page, "09:00:00+00:00")
                .find(lifeCells("2", "30m") + "2026-12-07T09:30:00+00:00</td>"),
            std::string::npos);
  EXPECT_NE(RowWith(page, "11:00:00+00:00").find(lifeCells("3", "1h") + "in force</td>"),
            std::string::npos);
  EXPECT_NE(RowWith(page, "198.51.100.9")
                .find("<td>manual</td><td>198.51.100.9</td><td></td>"
                      "<td></td><td class=\"wrap\"></td>" +
                      lifeCells("1", "1h") + "in force</td>"),
            std::string::npos)
      << RowWith(page, "198.51.100.9");
  EXPECT_NE(page.find("<li>2026-12-07T10:40:00+00:00 66.249.66.1 shop/admin/login.php "
                      "(regularity): verified googlebot</li>"),
            std::string::npos);
  EXPECT_NE(page.find("<dt>Shields</dt><dd>5</dd>"), std::string::npos);
}

// Every word of the log comes from a stranger's request; the page shows it as text.
TEST(ShieldLog, HostileTextOfTheLogIsEscaped) {
  TempDir dir;
  WriteFile(dir.File("KvVantrel.xml"), Tripwires({}));
  WriteFile(dir.File("flowdeck-shields.log"),
            Raise("08:00:00", "pace", "198.51.100.7", " <b>shop /<img%20src=x%20onerror=1> -> /s ",
                  "08:15:00", 1, "hits 20, mean gap 1.000 s, spread 0.012; <script>x</script>") +
                "2026-12-07T08:01:00Z lift pace 198.51.100.7 <b>shop /<img%20src=x%20onerror=1> "
                "-> /s (<i>by hand</i>)\n" +
                "2026-12-07T08:02:00Z spare <u>crawl</u> 66.249.66.1 - /<svg> -> /s "
                "(verified <em>bot</em>)\n");
  const std::string page = report::RenderReport(report::ReadRun(dir.Path()));
  for (const char *markup : {"<b>", "<img", "<script>x", "<i>", "<u>", "<svg>", "<em>"}) {
    EXPECT_EQ(page.find(markup), std::string::npos) << markup;
  }
  for (const char *text : {"&lt;b&gt;shop", "/&lt;img src=x onerror=1&gt;", "&lt;script&gt;x",
                           "(&lt;i&gt;by hand&lt;/i&gt;)", "(&lt;u&gt;crawl&lt;/u&gt;)",
                           "verified &lt;em&gt;bot&lt;/em&gt;"}) {
    EXPECT_NE(page.find(text), std::string::npos) << text;
  }
}

// The log may be as long as the site has run: what is held is bounded, and what is not an
// event is counted rather than shown or guessed at.
TEST(ShieldLog, ReadingIsBoundedAndDamagedLinesAreCounted) {
  TempDir dir;
  const std::string target = " h /a -> /s ";
  std::string log = Raise("07:00:00", "regularity", "192.0.2.1", target, "07:10:00", 1);
  for (size_t i = 0; i < report::ShieldLog::kMostRaises; ++i) {
    log += Raise("08:00:00", "pace", "192.0.2.2", " h /" + std::to_string(i) + " -> /s ",
                 "08:10:00", 1);
  }
  // The first raise is left out: its lift lifts nothing, not a later raise of the same shield.
  log += Lift("07:05:00", "192.0.2.1", target, "by hand");
  log += Raise("08:30:00", "regularity", "192.0.2.1", target, "08:40:00", 2);
  for (size_t i = 0; i <= report::ShieldLog::kMostSpared; ++i) {
    log += "2026-12-07T09:00:00Z spare regularity 192.0.2.3" + target + "(allow list)\r\n";
  }
  log += "2026-12-07T09:00:00Z raise regularity 192.0.2.4" + target + "until x offence 1\n";
  log += "2026-12-07T09:00:00Z raise regularity 192.0.2.4" + target + "until x\n";
  log += "2026-12-07T09:00:00Z raise regularity 192.0.2.4" + target +
         "until 2026-12-07T09:10:00Z offence many\n";
  log += "2026-12-07T09:00:00Z raise - 192.0.2.4" + target + "until 2026-12-07T09:10:00Z\n";
  log += "2026-12-07T09:00:00Z lift regularity 192.0.2.4 h /a /s (by hand)\n";
  log += "2026-12-07T09:00:00Z lift regularity 192.0.2.4" + target + "by hand\n";
  log += "2026-12-07T09:00:00Z raise regularity 192.0.2.4" + target +
         "until 2026-12-07T09:10:00Z (" + std::string(report::ShieldLog::kLongestLine, 'x') + ")\n";
  log += "\n2026-12-07T09:00:00Z raise regularity 192.0.2.5" + target +
         "until 2026-12-07T09:10:00Z (an earlier version's, without the offence)";
  WriteFile(dir.File("flowdeck-shields.log"), log);

  const report::ShieldLog read = report::ReadShieldLog(dir.File("flowdeck-shields.log"));
  ASSERT_EQ(read.raises.size(), report::ShieldLog::kMostRaises);
  EXPECT_EQ(read.raisesLeftOut, 3);
  EXPECT_EQ(read.raises.front().resource, "/2");
  const report::Shield &again = read.raises[read.raises.size() - 2];
  EXPECT_EQ(again.offence, 2);
  EXPECT_FALSE(again.liftedAt) << "a lift belongs to a raise before it";
  const report::Shield &earlier = read.raises.back();
  EXPECT_EQ(earlier.remoteAddr, "192.0.2.5");
  EXPECT_FALSE(earlier.offence);
  EXPECT_EQ(earlier.lifetime, 600'000);
  EXPECT_EQ(earlier.figures, "an earlier version's, without the offence");
  EXPECT_EQ(read.spared.size(), report::ShieldLog::kMostSpared);
  EXPECT_EQ(read.spared[0].why, "allow list") << "a CR LF line end is no part of it";
  EXPECT_EQ(read.sparedNotListed, 1);
  EXPECT_EQ(read.unreadLines, 7);

  WriteFile(dir.File("KvVantrel.xml"), Tripwires({}));
  const std::string page = report::RenderReport(report::ReadRun(dir.Path()));
  EXPECT_NE(page.find("7 lines of the shield event log are not events and were skipped."),
            std::string::npos);
  EXPECT_NE(page.find("its oldest 3 raises are left out."), std::string::npos);
  EXPECT_NE(page.find("(the first 100 of them)"), std::string::npos);
  EXPECT_TRUE(report::ReadShieldLog(dir.File("nowhere")).raises.empty());
}

}  // namespace
