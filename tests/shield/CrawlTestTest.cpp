// The crawl test's judgement at its bounds, the requests it leaves out, the clients it must
// never take for crawlers, and what becomes of its verdicts in the keeper.
#include "shield/CrawlTest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "run/RequestFields.h"
#include "shield/ShieldKeeper.h"
#include "support/TempDir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

constexpr int64_t kStart = 1'796'644'800'000;  // 7 Dec 2026 12:00:00 UTC, in milliseconds

double SpreadOf(const std::vector<int64_t> &times, size_t window = 40) {
  host::PageRing ring(window);
  for (size_t i = 0; i < times.size(); ++i) ring.Add(i, times[i]);
  return ring.Spread();
}

TEST(PageRing, CountsDistinctPagesAndTheSpreadOfTheWindowsGapsAlone) {
  // Gaps of 8.5 and 11.5 s at times with milliseconds: mean 10 s, deviation 1.5 s.
  EXPECT_NEAR(SpreadOf({500, 9000, 20500, 29000, 40500}), 0.15, 1e-12);
  // In whole seconds (gaps of 8 and 12 s) the rounding's 1/6 s² is taken off.
  EXPECT_NEAR(SpreadOf({0, 8000, 20000, 28000, 40000}), std::sqrt(4 - 1.0 / 6) / 10, 1e-12);
  EXPECT_EQ(SpreadOf({0, 10000, 20000, 30000}), 0);
  EXPECT_LT(SpreadOf({5000}), 0);
  EXPECT_LT(SpreadOf({5000, 5000, 5000}), 0);
  // A window of 3 keeps the latest 3 pages: the long first gap leaves it, and with it the one
  // time with milliseconds, after which the rounding correction applies.
  EXPECT_NEAR(SpreadOf({500, 60000, 68000, 80000}, 3), std::sqrt(4 - 1.0 / 6) / 10, 1e-12);

  host::PageRing ring(4);
  for (uint64_t key : {1, 2, 1, 3}) ring.Add(key, 1000 * static_cast<int64_t>(ring.count));
  EXPECT_EQ(ring.distinct, 3);
  ring.Add(4, 4000);  // the first 1 leaves, the second stays
  EXPECT_EQ(ring.distinct, 4);
  ring.Add(4, 5000);  // 2 leaves
  EXPECT_EQ(ring.distinct, 3);
  EXPECT_EQ(ring.count, 4);
  EXPECT_NEAR(ring.MeanGapSeconds(), 1, 1e-12);
  // A line a little out of order is taken at the latest time: a gap of 0, not a negative one.
  ring.Add(5, 4500);
  EXPECT_EQ(ring.Newest(), 5000);
  EXPECT_EQ(ring.sum, 2000) << "gaps of 1, 1 and 0 s";
  // A pause longer than a visitor is kept starts the window afresh.
  ring.Add(6, 5000 + host::PageRing::kLongestGap + 1);
  EXPECT_EQ(ring.count, 1);
  EXPECT_EQ(ring.distinct, 1);
  EXPECT_EQ(ring.sum, 0);
}

host::HostConfig Config(const std::vector<std::pair<std::string, std::string>> &settings = {}) {
  host::HostConfig config;
  for (const auto &[key, value] : settings) config.Set(key, value, "test");
  return config;
}

// Streams requests through a crawl test, each as the Session gives it.
struct Crawl {
  host::CrawlTest test;
  host::RequestFields fields{{}};
  std::string whole;  // an address shielded whole

  explicit Crawl(const host::HostConfig &config = Config())
      : test(host::CrawlTest::Settings::Read(config),
             [this](std::string_view address) { return address == whole; }) {}

  void Get(const std::string &client, const std::string &target, double seconds,
           std::string_view status = "200") {
    host::LogRecord record;
    record.client = client;
    record.method = "GET";
    record.target = target;
    const auto milliseconds = kStart + static_cast<int64_t>(std::llround(seconds * 1000));
    test.Request(fields.Build(record, "0"), status, milliseconds, milliseconds);
  }
  // The client's pages at `times`, a new page each (or one of `pages` in turn), then a cycle;
  // the verdicts of the cycle.
  std::vector<host::ShieldRequest> Read(const std::string &client, const std::vector<double> &times,
                                        size_t pages = 0) {
    for (size_t i = 0; i < times.size(); ++i)
      Get(client, "/articles/" + std::to_string(pages ? i % pages : i) + ".html", times[i]);
    return Cycle(times.back());
  }
  std::vector<host::ShieldRequest> Cycle(double seconds) {
    return test.Cycle(kStart + static_cast<int64_t>(seconds * 1000));
  }
};

std::vector<double> Steady(int count, double period, double from = 0.25) {
  std::vector<double> times;
  for (int i = 0; i < count; ++i) times.push_back(from + i * period);
  return times;
}

// Gaps alternating around 10 s: their spread is exactly `spread` before floating point.
std::vector<double> Alternating(double spread, int count) {
  std::vector<double> times{0.5};
  for (int i = 1; i < count; ++i)
    times.push_back(times.back() + 10 * (1 + (i % 2 ? spread : -spread)));
  return times;
}

TEST(CrawlTest, JudgesAtExactlyCrawlMinPagesDistinctPagesAndTheSpreadBound) {
  Crawl crawl;
  const std::vector<double> times = Steady(25, 7);
  EXPECT_TRUE(crawl.Read("203.0.113.5", {times.begin(), times.end() - 1}).empty())
      << "24 distinct pages are one too few";
  crawl.Get("203.0.113.5", "/articles/24.html", times.back());
  std::vector<host::ShieldRequest> judged = crawl.Cycle(times.back());
  ASSERT_EQ(judged.size(), 1u) << "the 25th distinct page judges it";
  EXPECT_EQ(judged[0].address, "203.0.113.5");
  EXPECT_EQ(judged[0].host, "");
  EXPECT_EQ(judged[0].resource, "") << "a shield of the whole address";
  EXPECT_EQ(judged[0].deflect, "/flowdeck-slow-down.html");
  EXPECT_EQ(judged[0].source, "crawl");
  EXPECT_EQ(judged[0].figures, "pages 25 of the latest 25, mean gap 7.000 s, spread 0.000");
  // Judged once: more pages at the same pace ask for nothing more.
  EXPECT_TRUE(crawl.Read("203.0.113.5", Steady(30, 7, 200)).empty());

  // 40 requests over 24 distinct pages (letter case ignored) are no crawler at any pace.
  Crawl few;
  for (int i = 0; i < 40; ++i)
    few.Get("203.0.113.6", (i < 24 ? "/Page" : "/page") + std::to_string(i % 24), i * 5.0);
  EXPECT_TRUE(few.Cycle(200).empty());

  // The spread at the bound judges; just above it does not.
  const std::vector<double> drawn = Alternating(0.3, 25);
  std::vector<int64_t> milliseconds;
  for (double time : drawn) milliseconds.push_back(std::llround(time * 1000));
  const double spread = SpreadOf(milliseconds);
  ASSERT_NEAR(spread, 0.3, 1e-9);
  char bound[64];
  std::snprintf(bound, sizeof bound, "%.17g", spread);
  Crawl atBound(Config({{"CrawlMaxSpread", bound}}));
  EXPECT_EQ(atBound.Read("203.0.113.7", drawn).size(), 1u);
  std::snprintf(bound, sizeof bound, "%.17g", std::nextafter(spread, 0.0));
  Crawl below(Config({{"CrawlMaxSpread", bound}}));
  EXPECT_TRUE(below.Read("203.0.113.7", drawn).empty());
  // Without CrawlMaxSpread the bound is PaceMaxSpread's.
  Crawl paced(Config({{"PaceMaxSpread", "0.29"}}));
  EXPECT_TRUE(paced.Read("203.0.113.7", drawn).empty());
}

TEST(CrawlTest, LeavesOutAssetsAndRedirectsAndWaitsNotForThem) {
  Crawl crawl;
  EXPECT_FALSE(crawl.test.IsPage("/static/site.CSS", "200"));
  EXPECT_FALSE(crawl.test.IsPage("/fonts/a.b.woff2", ""));
  EXPECT_FALSE(crawl.test.IsPage("/site.webmanifest", "200"));
  EXPECT_FALSE(crawl.test.IsPage("/old-page", "301"));
  EXPECT_TRUE(crawl.test.IsPage("/docs/manual.pdf", "200")) << "a document is read as a page";
  EXPECT_TRUE(crawl.test.IsPage("/v1.2/index", "404")) << "a dot in a folder is no extension";
  EXPECT_TRUE(crawl.test.IsPage("/archive/", ""));
  EXPECT_TRUE(crawl.test.IsPage("/file.", "200"));
  EXPECT_TRUE(crawl.test.IsPage(std::string_view("/x.css\0", 7), "200")) << "no extension listed";
  EXPECT_FALSE(crawl.test.IsPage("/fonts/x.Woff2", "200"));

  // 30 distinct images and 30 redirects at a machine's pace: nothing watched at all.
  for (int i = 0; i < 30; ++i) {
    crawl.Get("203.0.113.8", "/img/" + std::to_string(i) + ".png?v=2", i * 3.0);
    crawl.Get("203.0.113.8", "/go/" + std::to_string(i), i * 3.0 + 1, "302");
  }
  EXPECT_TRUE(crawl.Cycle(100).empty());
  EXPECT_EQ(crawl.test.Visitors(), 0u);
  // A crawler that fetches each page's assets too is judged on its pages' pace alone.
  for (int i = 0; i < 25; ++i) {
    crawl.Get("203.0.113.9", "/p/" + std::to_string(i), i * 10.0);
    crawl.Get("203.0.113.9", "/style.css", i * 10.0 + 0.3 * (i % 3));
  }
  EXPECT_EQ(crawl.Cycle(250).size(), 1u);
  // A narrower asset list counts images as pages.
  Crawl pages(Config({{"CrawlAssetExtensions", "css js"}}));
  for (int i = 0; i < 25; ++i) pages.Get("203.0.113.8", "/img/" + std::to_string(i) + ".png", i);
  EXPECT_EQ(pages.Cycle(25).size(), 1u);
}

TEST(CrawlTest, NeverJudgesFeedReadersChecksOrPeopleAndCatchesDrawnDelays) {
  Crawl crawl;
  // A feed reader on one URL and an uptime check on three, on exact timers, for hours.
  EXPECT_TRUE(crawl.Read("198.51.100.1", Steady(300, 60), 1).empty());
  EXPECT_TRUE(crawl.Read("198.51.100.2", Steady(600, 30), 3).empty());
  // A person reading 60 distinct pages, gaps heavy-tailed (log-normal, a minute on average).
  std::mt19937 random(7);
  std::lognormal_distribution<double> reading(3.5, 1.0);
  std::vector<double> person{0};
  for (int i = 1; i < 60; ++i) person.push_back(person.back() + std::min(reading(random), 290.0));
  EXPECT_TRUE(crawl.Read("198.51.100.3", person).empty());
  // A crawler framework's delay, 0.5 to 1.5 x 10 s, in whole-second log times, over several
  // seeds: caught within 40 page requests.
  for (unsigned seed = 1; seed <= 5; ++seed) {
    std::uniform_real_distribution<double> drawn(5, 15);
    random.seed(seed);
    const std::string client = "192.0.2." + std::to_string(seed);
    double time = 0;
    int caught = 0;
    for (int page = 1; page <= 40 && caught == 0; ++page) {
      crawl.Get(client, "/shop/item-" + std::to_string(page), std::floor(time));
      if (!crawl.Cycle(time).empty()) caught = page;
      time += drawn(random);
    }
    EXPECT_GE(caught, 25) << "seed " << seed << ": 25 distinct pages come first";
    EXPECT_LE(caught, 40) << "seed " << seed;
  }
}

TEST(CrawlTest, ForgottenLapsedAndWhollyShieldedVisitorsStartAfresh) {
  Crawl crawl;
  // Forgotten 300 s after its latest page: 24 pages before and 24 after are no 25.
  crawl.Read("203.0.113.10", Steady(24, 5));
  EXPECT_EQ(crawl.test.Visitors(), 1u);
  crawl.Cycle(115.25 + 301);
  EXPECT_EQ(crawl.test.Visitors(), 0u);
  EXPECT_TRUE(crawl.Read("203.0.113.10", Steady(24, 5, 500)).empty());

  // Judged, then its shield lapses: judged again on the pages after the lift only.
  ASSERT_EQ(crawl.Read("203.0.113.11", Steady(25, 5)).size(), 1u);
  crawl.test.Lapsed("203.0.113.11", "shop.example", "/login");  // another shield: no change
  EXPECT_TRUE(crawl.Read("203.0.113.11", Steady(5, 5, 130)).empty());
  crawl.test.Lapsed("203.0.113.11", "", "");
  EXPECT_TRUE(crawl.Read("203.0.113.11", Steady(24, 5, 160)).empty());
  crawl.Get("203.0.113.11", "/a-new-page", 280.25);
  EXPECT_EQ(crawl.Cycle(280.25).size(), 1u);

  // An address shielded whole already is not judged.
  crawl.whole = "203.0.113.12";
  EXPECT_TRUE(crawl.Read("203.0.113.12", Steady(40, 5)).empty());
}

TEST(CrawlTest, SettingsAreCheckedTogether) {
  host::HostConfig config;
  EXPECT_THROW(config.Set("CrawlTest", "Maybe", "test"), std::runtime_error);
  EXPECT_THROW(config.Set("CrawlMaxSpread", "11", "test"), std::runtime_error);
  EXPECT_THROW(config.Set("CrawlAssetExtensions", "css, .js", "test"), std::runtime_error);
  EXPECT_THROW(config.Set("CrawlAssetExtensions", "averyveryverylongone", "test"),
               std::runtime_error);
  EXPECT_THROW(config.Set("CrawlWindow", "1", "test"), std::runtime_error);
  EXPECT_EQ(host::CrawlTest::Settings::Read(config).mode, host::CrawlTest::Mode::kAct);
  config.Set("CrawlTest", "Report", "test");
  EXPECT_EQ(host::CrawlTest::Settings::Read(config).mode, host::CrawlTest::Mode::kReport);
  config.Set("CrawlTest", "false", "test");
  EXPECT_EQ(host::CrawlTest::Settings::Read(config).mode, host::CrawlTest::Mode::kOff);
  config.Set("CrawlMinPages", "41", "test");
  EXPECT_THROW(host::CrawlTest::Settings::Read(config), std::runtime_error);
  config.Set("CrawlWindow", "41", "test");
  config.Set("CrawlAssetExtensions", "CSS", "test");
  const host::CrawlTest::Settings read = host::CrawlTest::Settings::Read(config);
  EXPECT_EQ(read.assets, std::vector<std::string>{"css"});
  EXPECT_NEAR(read.maxSpread, 0.35, 1e-12);
  for (const char *deflect : {"", "//elsewhere.example/", "/a/../b"}) {
    config.Set("CrawlDeflect", deflect, "test");
    EXPECT_THROW(host::CrawlTest::Settings::Read(config), std::runtime_error) << deflect;
  }
}

host::ShieldRequest Verdict(const std::string &address, bool reportOnly = false) {
  return {address,   "", "", "/flowdeck-slow-down.html", "crawl", "pages 25 of the latest 25",
          reportOnly};
}

TEST(CrawlTest, TheKeeperSparesAllowedAndNeverShieldAddressesAndReportsWithoutActing) {
  TempDir dir;
  host::HostConfig config;
  config.Set("NeverShield", "127.0.0.0/8, 198.51.100.0/24", "test");
  host::ShieldKeeper keeper(config, {dir.Path(), false, false});
  keeper.Start(kStart);
  keeper.Allow({*host::AddressSelector::Parse("192.0.2.7"), 0, 0, "partner"}, kStart);
  host::ShieldChanges changes = keeper.Cycle(
      {Verdict("198.51.100.9"), Verdict("192.0.2.7"), Verdict("203.0.113.5")}, kStart + 1000);
  ASSERT_EQ(changes.raised.size(), 1u);
  EXPECT_EQ(changes.raised[0].address, "203.0.113.5");
  EXPECT_TRUE(changes.raised[0].WholeAddress());
  EXPECT_TRUE(keeper.ShieldedWhole("203.0.113.5"));
  EXPECT_FALSE(keeper.ShieldedWhole("198.51.100.9"));
  EXPECT_EQ(keeper.Tally().crawl, 1u);
  EXPECT_EQ(keeper.Tally().spared, 1u);
  EXPECT_EQ(keeper.Tally().allowed, 1u);

  // Report mode: noted as a judgement, nothing put in force; an address the keeper spares is
  // spared there too, not judged.
  keeper.Cycle({Verdict("203.0.113.6", true), Verdict("198.51.100.10", true)}, kStart + 2000);
  EXPECT_FALSE(keeper.Shielded("203.0.113.6"));
  EXPECT_EQ(keeper.InForce(), 1u);
  EXPECT_EQ(keeper.Tally().crawlReported, 1u);
  EXPECT_EQ(keeper.Tally().spared, 2u);
  const std::string events = ReadFile(dir.File("flowdeck-shields.log"));
  EXPECT_NE(events.find(" judge crawl 203.0.113.6 - - -> /flowdeck-slow-down.html (pages 25 of "
                        "the latest 25)\n"),
            std::string::npos)
      << events;
  EXPECT_NE(events.find(" raise crawl 203.0.113.5 - - -> "), std::string::npos);
  EXPECT_NE(events.find(" spare crawl 198.51.100.9 "), std::string::npos);
  EXPECT_EQ(events.find(" judge crawl 198.51.100.10 "), std::string::npos) << events;
}

}  // namespace
