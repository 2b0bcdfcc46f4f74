// flowdeck-sample: writes a generated access log of a made-up site to standard output.
#include <charconv>
#include <cstring>
#include <iostream>
#include <string>

#include "sample/SampleTraffic.h"

namespace {

bool ReadNumber(const char *text, auto &value) {
  auto [end, error] = std::from_chars(text, text + std::strlen(text), value);
  return error == std::errc() && *end == '\0';
}

// A count of visitors or pages, refused outside [0, most].
bool ReadCount(const char *text, int &value, int most) {
  return ReadNumber(text, value) && value >= 0 && value <= most;
}

}  // namespace

constexpr const char *kUsage =
    "usage: flowdeck-sample [--seed N] [--humans N] [--crawlers N] [--scanners N]\n"
    "                       [--steady N] [--random N] [--jitter J] [--random-hits N]\n"
    "                       [--refreshers N] [--hours H] [--lines N] [--no-probe]\n"
    "                       [--fixed-crawlers N] [--jitter-crawlers N] [--random-crawlers N]\n"
    "                       [--crawler-pages N] [--feed-readers N] [--uptime-checks N]\n"
    "                       [--verified-bots N] [--false-bots N]\n"
    "Writes a generated Combined access log of a made-up shop to standard output: people\n"
    "browsing with asset bursts, crawlers, scanners, clients on one URL at a steady pace with\n"
    "1% jitter, clients on one URL whose delay is drawn from (1 - J) to (1 + J) times a\n"
    "period of 2 to 30 s (J 0.5 unless --jitter), people reloading one page by hand 40 times,\n"
    "and a script trying the admin login every 5 seconds.\n"
    "Crawlers reading --crawler-pages distinct pages (default 200, at most 4000) of the site:\n"
    "with a fixed delay of 1 to 30 s, a delay of 1 to 30 s jittered by +-10 to 50 %, or a\n"
    "delay of 0.5 to 1.5 times a period of 2 to 30 s; every second one asks for /robots.txt\n"
    "first, every third (index 2, 5, 8, ...) fetches each page's assets too. Feed readers\n"
    "polling one to three feeds every 1 to 15 minutes and uptime checks polling one to three\n"
    "URLs every 10 s to 5 minutes, both +-2 %. Steady crawlers (2 to 10 s, +-2 %) with\n"
    "Googlebot's user agent, from addresses that verify and from addresses that do not.\n"
    "At most 10000 of each kind, 250 verified crawlers.\n"
    "Who is where (N counts each kind's visitors from 1; crawlers that fetch assets have\n"
    "128 added to the third byte):\n"
    "  100.64.0.0/10   people                   66.249.66.10+  crawlers (--crawlers)\n"
    "  192.0.2.50+     scanners                 203.0.113.66   the admin-login script\n"
    "  203.0.113.100+  steady clients           198.18.0.0/16  random clients\n"
    "  198.19.0.0/16   people reloading a page\n"
    "  172.16.0.0/16   fixed-delay crawlers     172.17.0.0/16  jittered-delay crawlers\n"
    "  172.18.0.0/16   randomized-delay crawlers\n"
    "  172.19.0.0/16   feed readers             172.20.0.0/16  uptime checks\n"
    "  172.21.0.0/16   Googlebots that do not verify\n"
    "  66.249.70.N     Googlebots that verify: their resolver must give N's address the\n"
    "                  reverse name crawl-66-249-70-N.googlebot.com, and that name the address\n";

int main(int argc, char **argv) {
  host::SampleOptions options;
  int i = 1;
  while (i < argc) {
    const std::string arg = argv[i++];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--no-probe") {
      options.probe = false;
      continue;
    }
    const char *value = i < argc ? argv[i++] : nullptr;
    bool ok = value != nullptr;
    if (arg == "--seed" && ok)
      ok = ReadNumber(value, options.seed);
    else if (arg == "--humans" && ok)
      ok = ReadNumber(value, options.humans);
    else if (arg == "--crawlers" && ok)
      ok = ReadNumber(value, options.crawlers);
    else if (arg == "--scanners" && ok)
      ok = ReadNumber(value, options.scanners);
    else if (arg == "--steady" && ok)
      ok = ReadNumber(value, options.steadyClients);
    else if (arg == "--random" && ok)
      ok = ReadNumber(value, options.randomClients);
    else if (arg == "--jitter" && ok)
      ok = ReadNumber(value, options.randomJitter) && options.randomJitter >= 0 &&
           options.randomJitter < 1;
    else if (arg == "--random-hits" && ok)
      ok = ReadNumber(value, options.randomHits);
    else if (arg == "--refreshers" && ok)
      ok = ReadNumber(value, options.refreshers);
    else if (arg == "--hours" && ok)
      ok = ReadNumber(value, options.hours);
    else if (arg == "--lines" && ok)
      ok = ReadNumber(value, options.minimumLines);
    else if (arg == "--fixed-crawlers" && ok)
      ok = ReadCount(value, options.fixedCrawlers, host::kMostOfAKind);
    else if (arg == "--jitter-crawlers" && ok)
      ok = ReadCount(value, options.jitterCrawlers, host::kMostOfAKind);
    else if (arg == "--random-crawlers" && ok)
      ok = ReadCount(value, options.randomCrawlers, host::kMostOfAKind);
    else if (arg == "--crawler-pages" && ok)
      ok = ReadCount(value, options.crawlerPages, host::kSitePages) && options.crawlerPages > 0;
    else if (arg == "--feed-readers" && ok)
      ok = ReadCount(value, options.feedReaders, host::kMostOfAKind);
    else if (arg == "--uptime-checks" && ok)
      ok = ReadCount(value, options.uptimeChecks, host::kMostOfAKind);
    else if (arg == "--verified-bots" && ok)
      ok = ReadCount(value, options.verifiedBots, host::kMostVerifiedBots);
    else if (arg == "--false-bots" && ok)
      ok = ReadCount(value, options.falseBots, host::kMostOfAKind);
    else
      ok = false;
    if (!ok) {
      std::cerr << kUsage;
      return 2;
    }
  }
  std::ios::sync_with_stdio(false);
  host::WriteSampleLog(std::cout, options);
  return 0;
}
