// The sample generator's visitors as the crawl measurements rely on them: each kind on its own
// address block, in lines the log reader takes, crawlers over distinct pages, pollers over a few
// URLs, every kind's gaps of the shape it is named for, and the same traffic for the same seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "input/LogParser.h"
#include "sample/SampleTraffic.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

using host::SampleHit;
using host::SampleKind;

// Only the new kinds, over a span long enough for every crawler to read all its pages.
host::SampleOptions NewKinds(uint64_t seed) {
  host::SampleOptions o;
  o.seed = seed;
  o.humans = o.crawlers = o.scanners = 0;
  o.probe = false;
  o.hours = 6;
  o.fixedCrawlers = o.jitterCrawlers = o.randomCrawlers = 4;
  o.crawlerPages = 60;
  o.feedReaders = o.uptimeChecks = 3;
  o.verifiedBots = o.falseBots = 2;
  return o;
}

std::map<SampleKind, int> Counts(const host::SampleOptions &o) {
  return {{SampleKind::kFixedCrawler, o.fixedCrawlers},
          {SampleKind::kJitterCrawler, o.jitterCrawlers},
          {SampleKind::kRandomCrawler, o.randomCrawlers},
          {SampleKind::kFeedReader, o.feedReaders},
          {SampleKind::kUptimeCheck, o.uptimeChecks},
          {SampleKind::kFalseBot, o.falseBots},
          {SampleKind::kVerifiedBot, o.verifiedBots}};
}

bool IsAsset(const std::string &path) {
  return path.starts_with("/static/") || path.starts_with("/images/") || path == "/favicon.ico";
}

std::map<std::string, std::vector<SampleHit>> ByAddress(const std::vector<SampleHit> &hits) {
  std::map<std::string, std::vector<SampleHit>> visitors;
  for (const SampleHit &hit : hits) visitors[hit.address].push_back(hit);
  return visitors;
}

// The gaps between a visitor's page requests (robots.txt counts: a crawler waits after it too).
std::vector<double> PageGaps(const std::vector<SampleHit> &hits) {
  std::vector<double> gaps;
  double last = -1;
  for (const SampleHit &hit : hits) {
    if (IsAsset(hit.path)) continue;
    if (last >= 0) gaps.push_back(hit.seconds - last);
    last = hit.seconds;
  }
  return gaps;
}

// Whether every gap lies within [low * d, high * d] + offset for some whole d in [first, last].
bool FitsSomePeriod(const std::vector<double> &gaps, int first, int last, double low, double high,
                    double offsetLow = 0, double offsetHigh = 0) {
  for (int d = first; d <= last; ++d) {
    if (std::all_of(gaps.begin(), gaps.end(), [&](double gap) {
          return gap >= low * d + offsetLow - 1e-9 && gap <= high * d + offsetHigh + 1e-9;
        })) {
      return true;
    }
  }
  return false;
}

double Range(const std::vector<double> &gaps) {
  const auto [low, high] = std::minmax_element(gaps.begin(), gaps.end());
  return *high - *low;
}

double Mean(const std::vector<double> &gaps) {
  double sum = 0;
  for (double gap : gaps) sum += gap;
  return sum / gaps.size();
}

TEST(SampleTraffic, EachKindKeepsToItsBlockInLinesTheReaderTakes) {
  // The documented blocks, which the measuring script tells the kinds apart by.
  EXPECT_EQ(host::SampleAddress(SampleKind::kFixedCrawler, 0), "172.16.0.1");
  EXPECT_EQ(host::SampleAddress(SampleKind::kJitterCrawler, 1), "172.17.0.2");
  EXPECT_EQ(host::SampleAddress(SampleKind::kRandomCrawler, 2), "172.18.128.3");
  EXPECT_EQ(host::SampleAddress(SampleKind::kRandomCrawler, 300), "172.18.1.45");
  EXPECT_EQ(host::SampleAddress(SampleKind::kFeedReader, 0), "172.19.0.1");
  EXPECT_EQ(host::SampleAddress(SampleKind::kUptimeCheck, 0), "172.20.0.1");
  EXPECT_EQ(host::SampleAddress(SampleKind::kFalseBot, 0), "172.21.0.1");
  EXPECT_EQ(host::SampleAddress(SampleKind::kVerifiedBot, 0), "66.249.70.1");
  EXPECT_EQ(host::SampleAddress(SampleKind::kVerifiedBot, host::kMostVerifiedBots - 1),
            "66.249.70.250");

  const host::SampleOptions options = NewKinds(5);
  std::ostringstream out;
  host::WriteSampleLog(out, options);
  const std::vector<SampleHit> hits = host::GenerateSample(options);
  std::istringstream lines(out.str());
  std::string line;
  size_t count = 0;
  host::LogRecord record;
  for (; std::getline(lines, line); ++count) {
    ASSERT_LT(count, hits.size());
    ASSERT_EQ(host::ParseCommonLine(line, host::CommonLayout::kCombined, record),
              host::ParseOutcome::kRequest)
        << line;
    const SampleHit &hit = hits[count];
    EXPECT_EQ(record.client, hit.address) << line;
    EXPECT_EQ(record.target, hit.path) << line;
    EXPECT_EQ(record.userAgent, hit.agent) << line;
    EXPECT_EQ(record.time.hour * 3600 + record.time.minute * 60 + record.time.second - 8 * 3600,
              static_cast<int>(hit.seconds))
        << line;
  }
  EXPECT_EQ(count, hits.size());

  // Exactly the asked visitors of each kind, and nobody else.
  std::set<std::string> expected;
  for (const auto &[kind, asked] : Counts(options)) {
    for (int i = 0; i < asked; ++i) expected.insert(host::SampleAddress(kind, i));
  }
  const auto visitors = ByAddress(hits);
  EXPECT_EQ(visitors.size(), expected.size());
  for (const auto &visitor : visitors) {
    EXPECT_EQ(expected.count(visitor.first), 1u) << visitor.first;
  }
  for (int i = 0; i < options.verifiedBots; ++i) {
    for (const std::string &address : {host::SampleAddress(SampleKind::kVerifiedBot, i),
                                       host::SampleAddress(SampleKind::kFalseBot, i)}) {
      ASSERT_EQ(visitors.count(address), 1u) << address;
      EXPECT_NE(visitors.at(address)[0].agent.find("Googlebot/2.1"), std::string::npos);
    }
  }
}

TEST(SampleTraffic, CrawlersReadDistinctPagesAndPollersAFewUrls) {
  const host::SampleOptions options = NewKinds(7);
  const auto visitors = ByAddress(host::GenerateSample(options));
  for (SampleKind kind :
       {SampleKind::kFixedCrawler, SampleKind::kJitterCrawler, SampleKind::kRandomCrawler,
        SampleKind::kVerifiedBot, SampleKind::kFalseBot}) {
    for (int i = 0; i < Counts(options)[kind]; ++i) {
      const std::string address = host::SampleAddress(kind, i);
      const std::vector<SampleHit> &hits = visitors.at(address);
      const bool bot = kind == SampleKind::kVerifiedBot || kind == SampleKind::kFalseBot;
      // robots.txt once, first, for every second crawler and every search engine.
      const bool robots = bot || i % 2 == 0;
      EXPECT_EQ(hits[0].path == "/robots.txt", robots) << address;
      std::set<std::string> pages;
      size_t assets = 0;
      std::string lastPage;
      for (const SampleHit &hit : hits) {
        EXPECT_EQ(hit.status, 200) << address;
        if (IsAsset(hit.path)) {
          ++assets;
          EXPECT_EQ(hit.referrer, "https://shop.example" + lastPage) << address;
          continue;
        }
        EXPECT_TRUE(pages.insert(hit.path).second) << address << " reads " << hit.path << " twice";
        lastPage = hit.path;
      }
      EXPECT_EQ(pages.size(), static_cast<size_t>(options.crawlerPages) + (robots ? 1 : 0))
          << address;
      // Every third crawler fetches each page's assets, as its third address byte says.
      const bool withAssets = !bot && i % 3 == 2;
      EXPECT_EQ(assets >= static_cast<size_t>(options.crawlerPages), withAssets) << address;
      EXPECT_EQ(assets == 0, !withAssets) << address;
      EXPECT_EQ(address.find(".128.") != std::string::npos, withAssets) << address;
    }
  }
  for (SampleKind kind : {SampleKind::kFeedReader, SampleKind::kUptimeCheck}) {
    for (int i = 0; i < Counts(options)[kind]; ++i) {
      const std::string address = host::SampleAddress(kind, i);
      std::map<std::string, int> urls;
      for (const SampleHit &hit : visitors.at(address)) ++urls[hit.path];
      EXPECT_GE(urls.size(), 1u) << address;
      EXPECT_LE(urls.size(), 3u) << address;
      // Each URL once a poll: 6 hours at most 15 minutes apart.
      for (const auto &[url, polls] : urls) {
        EXPECT_FALSE(IsAsset(url)) << address;
        EXPECT_GE(polls, 22) << address << " " << url;
      }
    }
  }
}

TEST(SampleTraffic, EachKindsGapsHaveTheShapeItIsNamedFor) {
  for (uint64_t seed : {1, 2, 3}) {
    host::SampleOptions options = NewKinds(seed);
    options.fixedCrawlers = options.jitterCrawlers = options.randomCrawlers = 8;
    const auto visitors = ByAddress(host::GenerateSample(options));
    const auto gaps = [&](SampleKind kind, int i) {
      return PageGaps(visitors.at(host::SampleAddress(kind, i)));
    };
    for (int i = 0; i < 8; ++i) {
      // A whole-second delay plus the 10 to 250 ms a response takes.
      const std::vector<double> fixed = gaps(SampleKind::kFixedCrawler, i);
      EXPECT_TRUE(FitsSomePeriod(fixed, 1, 30, 1, 1, 0.01, 0.25)) << "seed " << seed << " " << i;
      // Within +-50 % of a delay of 1 to 30 s, scattered by at least +-5 % of it, at most the
      // delay itself.
      const std::vector<double> jittered = gaps(SampleKind::kJitterCrawler, i);
      EXPECT_TRUE(FitsSomePeriod(jittered, 1, 30, 0.5, 1.5)) << "seed " << seed << " " << i;
      EXPECT_GE(Range(jittered), 0.1 * Mean(jittered)) << "seed " << seed << " " << i;
      EXPECT_LE(Range(jittered), 1.0 * Mean(jittered) * 1.1) << "seed " << seed << " " << i;
      // 0.5 to 1.5 times a period of 2 to 30 s, the whole of that range nearly covered.
      const std::vector<double> randomized = gaps(SampleKind::kRandomCrawler, i);
      EXPECT_TRUE(FitsSomePeriod(randomized, 2, 30, 0.5, 1.5)) << "seed " << seed << " " << i;
      EXPECT_GE(Range(randomized), 0.7 * Mean(randomized)) << "seed " << seed << " " << i;
    }
    for (SampleKind kind : {SampleKind::kVerifiedBot, SampleKind::kFalseBot}) {
      for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(FitsSomePeriod(gaps(kind, i), 2, 10, 0.98, 1.02)) << "seed " << seed;
      }
    }
    // A poller asks each URL once a period of its range, within +-2 %.
    for (SampleKind kind : {SampleKind::kFeedReader, SampleKind::kUptimeCheck}) {
      const double low = kind == SampleKind::kFeedReader ? 60 : 10;
      const double high = kind == SampleKind::kFeedReader ? 900 : 300;
      for (int i = 0; i < 3; ++i) {
        std::map<std::string, std::vector<double>> times;
        for (const SampleHit &hit : visitors.at(host::SampleAddress(kind, i))) {
          times[hit.path].push_back(hit.seconds);
        }
        for (const auto &[url, at] : times) {
          std::vector<double> between;
          for (size_t k = 1; k < at.size(); ++k) between.push_back(at[k] - at[k - 1]);
          const auto [shortest, longest] = std::minmax_element(between.begin(), between.end());
          // Asking the next URL of a poll takes up to 1 s, which shifts a URL's gaps too.
          EXPECT_LE(*longest, *shortest * 1.02 / 0.98 + 2) << url;
          EXPECT_GE(Mean(between), low * 0.98) << url;
          EXPECT_LE(Mean(between), high * 1.02) << url;
        }
      }
    }
  }
}

TEST(SampleTraffic, TheSameSeedGivesTheSameTrafficAndNewKindsLeaveTheOldAlone) {
  const auto written = [](const host::SampleOptions &options) {
    std::ostringstream out;
    host::WriteSampleLog(out, options);
    return out.str();
  };
  EXPECT_EQ(written(NewKinds(11)), written(NewKinds(11)));
  EXPECT_NE(written(NewKinds(11)), written(NewKinds(12)));
  // The bundled sample is the default invocation's output, to the byte.
  EXPECT_EQ(written(host::SampleOptions{}),
            testing_support::ReadFile(FLOWDECK_EXAMPLES "/sample.log"));

  // Adding the new kinds changes nothing of the traffic the older kinds make.
  host::SampleOptions old;
  old.humans = 30;
  old.steadyClients = old.randomClients = old.refreshers = 3;
  host::SampleOptions both = old;
  both.fixedCrawlers = both.jitterCrawlers = both.randomCrawlers = both.feedReaders = 2;
  both.uptimeChecks = both.verifiedBots = both.falseBots = 2;
  std::vector<SampleHit> mixed = host::GenerateSample(both);
  std::erase_if(mixed, [](const SampleHit &hit) {
    return hit.address.starts_with("172.") || hit.address.starts_with("66.249.70.");
  });
  const std::vector<SampleHit> alone = host::GenerateSample(old);
  ASSERT_EQ(mixed.size(), alone.size());
  for (size_t i = 0; i < alone.size(); ++i) {
    EXPECT_EQ(mixed[i].address + " " + mixed[i].path, alone[i].address + " " + alone[i].path);
    EXPECT_EQ(mixed[i].seconds, alone[i].seconds);
  }
}

TEST(SampleTrafficCommand, TakesTheNewKindsAndRefusesCountsPastTheirBounds) {
  std::string output;
  ASSERT_EQ(
      testing_support::RunProgram({FLOWDECK_SAMPLE_BIN, "--humans", "0", "--no-probe", "--crawlers",
                                   "0", "--scanners", "0", "--hours", "6", "--random-crawlers", "2",
                                   "--crawler-pages", "30", "--verified-bots", "1"},
                                  output),
      0)
      << output;
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 2 * 30 + 1 + 31) << output;
  EXPECT_NE(output.find("172.18.0.1 - - "), std::string::npos);
  EXPECT_NE(output.find("66.249.70.1 - - "), std::string::npos);
  for (const std::vector<std::string> &wrong : {std::vector<std::string>{"--verified-bots", "251"},
                                                {"--fixed-crawlers", "-1"},
                                                {"--feed-readers", "10001"},
                                                {"--crawler-pages", "0"},
                                                {"--crawler-pages", "4001"},
                                                {"--uptime-checks", "x"}}) {
    std::vector<std::string> argv = {FLOWDECK_SAMPLE_BIN};
    argv.insert(argv.end(), wrong.begin(), wrong.end());
    EXPECT_EQ(testing_support::RunProgram(argv, output), 2) << wrong[0] << " " << wrong[1];
  }
}

}  // namespace
