// The pace test's statistic at its bound, and the records it keeps as the shield plug-in keeps
// its own.
#include "shield/PaceTest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "run/RequestFields.h"
#include "support/TempDir.h"

namespace {

using testing_support::TempDir;

host::PaceSums SumsOf(const std::vector<int64_t> &times) {
  host::PaceSums sums;
  for (int64_t time : times) sums.Add(time);
  return sums;
}

TEST(PaceSums, SpreadIsTheGapsDeviationOverTheirMeanLessTheWholeSecondRounding) {
  // Gaps of 8.5 and 11.5 s, at times with milliseconds: mean 10 s, deviation 1.5 s.
  EXPECT_NEAR(SumsOf({500, 9000, 20500, 29000, 40500}).Spread(), 0.15, 1e-12);
  // The same pace in whole seconds (gaps of 8 and 12 s) has the rounding's 1/6 s² taken off.
  EXPECT_NEAR(SumsOf({0, 8000, 20000, 28000, 40000}).Spread(), std::sqrt(4 - 1.0 / 6) / 10, 1e-12);
  // Nothing to tell: one hit, or every gap 0 (a flood within one second).
  EXPECT_LT(SumsOf({5000}).Spread(), 0);
  EXPECT_LT(SumsOf({5000, 5000, 5000}).Spread(), 0);
  // A steady pace in whole seconds shows no spread at all rather than the rounding's.
  EXPECT_EQ(SumsOf({0, 10000, 20000, 30000}).Spread(), 0);
  // A hit earlier than the latest (a line a little out of order) is left out.
  host::PaceSums late = SumsOf({0, 10000, 20000});
  late.Add(15000);
  EXPECT_EQ(late.gaps, 2u);
  EXPECT_EQ(late.last, 20000);
}

// Streams one client's requests on one resource through a pace test in a run directory
// holding the example tripwires.
struct Watched {
  TempDir dir;
  host::HostConfig config;
  std::unique_ptr<host::PaceTest> pace;

  explicit Watched(const std::string &bound) {
    std::filesystem::copy_file(FLOWDECK_EXAMPLES "/tripwires.cfg", dir.File("KvVantrel.CFG"));
    config.Set("PaceMaxSpread", bound, "test");
    pace = std::make_unique<host::PaceTest>(dir.Path(), config);
  }
  // The shields of one cycle after the client's hits at `times` (seconds, with milliseconds).
  std::vector<host::ShieldRequest> Stream(const std::string &key, const std::string &path,
                                          const std::vector<double> &times) {
    host::RequestFields fields({});
    for (double time : times) {
      host::LogRecord record;
      record.client = key;
      record.method = "GET";
      record.target = path;
      const auto milliseconds = static_cast<int64_t>(std::llround(time * 1000));
      pace->Request(fields.Build(record, "0"), milliseconds, milliseconds);
    }
    return pace->Cycle(static_cast<int64_t>(times.back() * 1000));
  }
};

// Times of 20 hits (the example's SENSITIVITY 5 needs 30 - 2 x 5) whose gaps alternate around
// 10 s: their spread is exactly `spread` before floating point.
std::vector<double> Alternating(double spread, int hits = 20) {
  std::vector<double> times{0.5};
  for (int i = 1; i < hits; ++i)
    times.push_back(times.back() + 10 * (1 + (i % 2 ? spread : -spread)));
  return times;
}

TEST(PaceTest, ShieldsARecordAtItsBoundOnceWithTheDefinitionsDeflect) {
  const std::vector<double> times = Alternating(0.3);
  std::vector<int64_t> milliseconds;
  for (double time : times) milliseconds.push_back(std::llround(time * 1000));
  const double spread = SumsOf(milliseconds).Spread();
  ASSERT_NEAR(spread, 0.3, 0.01);
  char bound[64];
  std::snprintf(bound, sizeof bound, "%.17g", spread);
  Watched atBound(bound);
  std::vector<host::ShieldRequest> shields =
      atBound.Stream("203.0.113.5", "/admin/login.php", times);
  ASSERT_EQ(shields.size(), 1u) << "a spread equal to the bound shields";
  EXPECT_EQ(shields[0].address, "203.0.113.5");
  EXPECT_EQ(shields[0].host, "localhost");
  EXPECT_EQ(shields[0].resource, "/admin/login.php");
  EXPECT_EQ(shields[0].deflect, "/sorry/login.htm")
      << "the definition's deflect, built as the plug-in builds it";
  EXPECT_EQ(shields[0].source, "pace");
  // More hits of the same record shield it no more.
  EXPECT_TRUE(atBound.Stream("203.0.113.5", "/ADMIN/login.php", {300.5, 310.5}).empty());

  std::snprintf(bound, sizeof bound, "%.17g", std::nextafter(spread, 0.0));
  Watched belowBound(bound);
  EXPECT_TRUE(belowBound.Stream("203.0.113.5", "/admin/login.php", times).empty());
  // One hit too few is no judgement, whatever the pace.
  Watched tooFew("0.35");
  EXPECT_TRUE(tooFew.Stream("203.0.113.5", "/admin/login.php", Alternating(0, 19)).empty());
}

TEST(PaceTest, JudgesOnlyWatchedRecordsAndLeavesWhatTheRegularityTestShielded) {
  Watched watched("0.35");
  const std::vector<double> times = Alternating(0.1);
  // Exempted by an inverse definition, and watched by none: never judged.
  EXPECT_TRUE(watched.Stream("203.0.113.6", "/admin/health.txt", times).empty());
  EXPECT_TRUE(watched.Stream("203.0.113.6", "/blog/index.html", times).empty());
  EXPECT_EQ(watched.pace->Records(), 0u);
  // Shielded by the plug-in in the meantime: the pace test does not shield it again.
  watched.Stream("203.0.113.7", "/api/price", {times[0], times[1]});
  watched.pace->ShieldedElsewhere("203.0.113.7", "LOCALHOST", "/api/price");
  const std::vector<double> rest(times.begin() + 2, times.end());
  EXPECT_TRUE(watched.Stream("203.0.113.7", "/api/price", rest).empty());
  EXPECT_EQ(watched.Stream("203.0.113.8", "/api/price", times).size(), 1u) << "the same pace";
  EXPECT_EQ(watched.pace->Records(), 2u);
  // A visitor quiet for 300 s is forgotten with its records.
  watched.pace->Cycle(static_cast<int64_t>((rest.back() + 301) * 1000));
  EXPECT_EQ(watched.pace->Records(), 0u);
}

TEST(PaceTest, NewDefinitionsAreMatchedAfreshForEveryResource) {
  Watched watched("0.35");
  watched.Stream("203.0.113.9", "/api/price", {0.5, 10.5});
  watched.Stream("203.0.113.9", "/admin/login.php", {20.5});
  EXPECT_EQ(watched.pace->Records(), 2u);
  testing_support::WriteFile(
      watched.dir.File("KvVantrel.CFG"),
      "<TRIPWIRE ACTIVE=\"True\" DESCRIPTION=\"d\" HOST=\"\" RESOURCE=\"/other\" DEFLECT=\"\" "
      "SENSITIVITY=\"5\" STRENGTH=\"2\" INVERSE=\"False\" CARRYPARAMETERS=\"False\" />\n");
  watched.pace->Cycle(30'000);  // reads them, and every record starts afresh
  EXPECT_EQ(watched.pace->Records(), 0u);
  // Resources matched under the old definitions are watched no more; the new one is.
  watched.Stream("203.0.113.9", "/api/price", {40.5});
  watched.Stream("203.0.113.9", "/admin/login.php", {50.5});
  EXPECT_EQ(watched.pace->Records(), 0u);
  watched.Stream("203.0.113.9", "/other", {60.5});
  EXPECT_EQ(watched.pace->Records(), 1u);
}

}  // namespace

namespace {

std::vector<double> Steady(double from, int hits, double period = 1) {
  std::vector<double> times;
  for (int i = 0; i < hits; ++i) times.push_back(from + i * period);
  return times;
}

}  // namespace

// After a lift the record starts afresh: a client still at its pace is judged again once it
// has its tripwire's hits after the lift (by the regularity threshold, a steady timer rating
// 1), one that stopped is not, and with PaceTest off only such records are judged.
TEST(PaceTest, ARecordWhoseShieldLapsedIsJudgedAfreshOnItsHitsAfterTheLift) {
  Watched watched("0.35");
  // The regularity test shielded the first lifetime.
  watched.Stream("203.0.113.9", "/admin/login.php", Steady(0, 3));
  watched.pace->ShieldedElsewhere("203.0.113.9", "localhost", "/admin/login.php");
  EXPECT_TRUE(watched.Stream("203.0.113.9", "/admin/login.php", Steady(3, 30)).empty());
  watched.pace->Lapsed("203.0.113.9", "localhost", "/admin/login.php");
  // 19 hits after the lift are one too few (SENSITIVITY 5 needs 20), the 20th shields.
  EXPECT_TRUE(watched.Stream("203.0.113.9", "/admin/login.php", Steady(40, 19)).empty());
  std::vector<host::ShieldRequest> again =
      watched.Stream("203.0.113.9", "/admin/login.php", Steady(59, 1));
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].source, "regularity");
  EXPECT_NE(again[0].figures.find("hits 20,"), std::string::npos) << again[0].figures;
  EXPECT_NE(again[0].figures.find("correlation 1.000000"), std::string::npos);
  EXPECT_NE(again[0].figures.find("judged again"), std::string::npos);

  // A whole-address shield lapses for every record of the address; one that stopped at the
  // lift, or came back at a person's pace, is not shielded again.
  watched.pace->Lapsed("203.0.113.9", "", "");
  EXPECT_TRUE(watched
                  .Stream("203.0.113.9", "/admin/login.php",
                          {70,  71.2, 90,  91,  130, 131, 132, 200, 205, 260, 261,
                           262, 263,  270, 290, 291, 292, 295, 296, 297, 298})
                  .empty());

  // With PaceTest off nothing is judged by pace, a lapsed record still is.
  host::HostConfig off;
  off.Set("PaceTest", "False", "test");
  watched.pace->Reconfigure(off);
  EXPECT_TRUE(watched.Stream("203.0.113.10", "/api/price", Alternating(0.1)).empty());
  watched.pace->Lapsed("203.0.113.10", "localhost", "/api/price");
  const std::vector<double> later = Alternating(0.1, 20);
  std::vector<double> shifted;
  for (double time : later) shifted.push_back(time + 300);
  std::vector<host::ShieldRequest> byPace = watched.Stream("203.0.113.10", "/api/price", shifted);
  ASSERT_EQ(byPace.size(), 1u);
  EXPECT_EQ(byPace[0].source, "pace") << "alternating gaps rate below the regularity threshold";
}

namespace {

std::string Definition(const std::string &resource, const std::string &active,
                       const std::string &sensitivity) {
  return "<TRIPWIRE ACTIVE=\"" + active + "\" HOST=\"\" RESOURCE=\"" + resource +
         "\" DEFLECT=\"/sorry/*.htm\" SENSITIVITY=\"" + sensitivity +
         "\" STRENGTH=\"2\" INVERSE=\"False\" CARRYPARAMETERS=\"False\" />\n";
}

}  // namespace

// A definitions file that stops at a failure is watched up to it, and the failure is kept; a
// record whose hits cannot be worked out (30 - 2 x 20000 is outside 16 bits, as in the plug-in)
// is counted at each of its requests, never dropped without a word.
TEST(PaceTest, WatchesTheDefinitionsBeforeAFailureAndCountsWhatItCannotJudge) {
  Watched watched("0.35");
  testing_support::WriteFile(
      watched.dir.File("KvVantrel.CFG"),
      Definition("/api/*", "True", "5") + Definition("/huge/*", "True", "20000") +
          Definition("/bad/*", "yes", "5") + Definition("/late/*", "True", "5"));
  host::HostConfig config;
  config.Set("PaceMaxSpread", "0.35", "test");
  watched.pace = std::make_unique<host::PaceTest>(watched.dir.Path(), config);
  EXPECT_EQ(watched.pace->DefinitionsFailure(), "error 13 Type mismatch");
  EXPECT_EQ(watched.Stream("203.0.113.5", "/api/price", Alternating(0.1)).size(), 1u);
  EXPECT_TRUE(watched.Stream("203.0.113.6", "/late/x", Alternating(0.1)).empty());
  EXPECT_EQ(watched.pace->Records(), 1u) << "nothing past the failure is watched";
  EXPECT_EQ(watched.pace->Unjudged(), 0u);
  EXPECT_TRUE(watched.Stream("203.0.113.7", "/huge/x", Alternating(0.1, 3)).empty());
  EXPECT_EQ(watched.pace->Unjudged(), 3u);

  // Mended, the file is read whole at the next cycle and the failure is gone.
  testing_support::WriteFile(
      watched.dir.File("KvVantrel.CFG"),
      Definition("/api/*", "True", "5") + Definition("/late/*", "True", "5"));
  watched.pace->Cycle(400'000);
  EXPECT_EQ(watched.pace->DefinitionsFailure(), "");
  std::vector<double> later;
  for (double time : Alternating(0.1)) later.push_back(time + 400);
  EXPECT_EQ(watched.Stream("203.0.113.6", "/late/x", later).size(), 1u);
}
