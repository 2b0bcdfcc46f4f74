#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace host {

// What a generated log holds.
struct SampleOptions {
  uint64_t seed = 1;
  int humans = 40;            // people browsing pages with their assets, at irregular gaps
  int crawlers = 1;           // robots walking many pages at loosely even gaps
  int scanners = 1;           // fast bursts over many probe paths
  int steadyClients = 0;      // clients hitting one URL at a steady pace (1% jitter)
  int randomClients = 0;      // clients on one URL whose delay is drawn from a range of a period
  double randomJitter = 0.5;  // their delays: (1 - jitter) to (1 + jitter) times the period
  int randomHits = 60;        // and how many requests each makes
  int refreshers = 0;         // people reloading one page by hand, 40 times
  bool probe = true;          // one script probing a tripwired path every 5 s
  double hours = 1;           // the span the traffic is spread over
  int64_t minimumLines = 0;   // add humans until there are this many lines

  // Crawlers reading distinct pages of the site, each kind on its own address block (see
  // SampleAddress). Every second one asks for /robots.txt first; every third also fetches each
  // page's assets, as a headless browser does.
  int fixedCrawlers = 0;   // the same delay of 1 to 30 s after every page
  int jitterCrawlers = 0;  // a delay of 1 to 30 s jittered by +-10 to 50 %
  int randomCrawlers = 0;  // a delay of 0.5 to 1.5 times a period of 2 to 30 s
  int crawlerPages = 200;  // the distinct pages each reads, at most kSitePages
  int feedReaders = 0;     // polling one to three feeds every 1 to 15 min (+-2 %)
  int uptimeChecks = 0;    // polling one to three URLs every 10 s to 5 min (+-2 %)
  int verifiedBots = 0;    // steady crawlers with Googlebot's agent from addresses that verify
  int falseBots = 0;       // the same from addresses that do not
};

// The pages of the made-up site a crawler can read.
constexpr int kSitePages = 4000;
// At most this many visitors of each of the kinds above, so that each keeps its address block.
constexpr int kMostOfAKind = 10000;
// At most this many verified crawlers (they share one /24, which a resolver must answer for).
constexpr int kMostVerifiedBots = 250;

// The kinds of visitor that have an address block of their own.
enum class SampleKind {
  kFixedCrawler,
  kJitterCrawler,
  kRandomCrawler,
  kFeedReader,
  kUptimeCheck,
  kFalseBot,
  kVerifiedBot
};

// The address of the index-th visitor of a kind (from 0): 172.16/16 fixed-delay crawlers,
// 172.17/16 jittered, 172.18/16 randomized (a third byte of 128 and up for those that fetch
// assets too), 172.19/16 feed readers, 172.20/16 uptime checks, 66.249.70.1 and on verified
// crawlers (reverse name crawl-66-249-70-N.googlebot.com), 172.21/16 false ones.
std::string SampleAddress(SampleKind kind, int index);

// One request of the generated traffic.
struct SampleHit {
  double seconds;  // since the start of the day, 7 December 2026 08:00 +0000
  std::string address, method, path, agent, referrer;
  int status, bytes;
};

// The traffic of a made-up site, in time order; the same for the same options.
std::vector<SampleHit> GenerateSample(const SampleOptions &options);

// Writes it as Combined log lines (times in whole seconds).
void WriteSampleLog(std::ostream &out, const SampleOptions &options);

}  // namespace host
