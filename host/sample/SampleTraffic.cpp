#include "sample/SampleTraffic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace host {

namespace {

// The day the traffic happens on: 7 December 2026, 08:00 +0000.
constexpr int64_t kStartSecond = 8 * 3600;

const char *kBrowsers[] = {
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/131.0 Safari/537.36",
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 14_2) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/17.2 Safari/605.1.15",
    "Mozilla/5.0 (X11; Linux x86_64; rv:133.0) Gecko/20100101 Firefox/133.0",
    "Mozilla/5.0 (iPhone; CPU iPhone OS 17_2 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
    "Gecko) Version/17.2 Mobile/15E148 Safari/604.1"};
const char *kPages[] = {"/",
                        "/index.html",
                        "/products/",
                        "/products/item-%d.html",
                        "/blog/post-%d.html",
                        "/about.html",
                        "/contact.html",
                        "/search?q=item%d"};
const char *kAssets[] = {"/static/css/site.css", "/static/js/app.js", "/images/logo.png",
                         "/images/item-%d.jpg", "/favicon.ico"};
const char *kProbePaths[] = {"/wp-login.php",         "/.env",
                             "/phpmyadmin/index.php", "/xmlrpc.php",
                             "/admin/config.php",     "/.git/config",
                             "/cgi-bin/test.cgi",     "/backup.zip",
                             "/server-status",        "/wp-admin/setup-config.php"};

// Who reads the site on a timer, and with what.
const char *kCrawlerAgents[] = {"Scrapy/2.11 (+https://scrapy.org)", "python-requests/2.31.0",
                                "Go-http-client/1.1", "Wget/1.21.4",
                                "Mozilla/5.0 (compatible; SiteAuditBot/1.3)"};
const char *kHeadlessAgent =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) HeadlessChrome/131.0 "
    "Safari/537.36";
const char *kGooglebot = "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)";
const char *kFeeds[] = {"/feed.xml", "/blog/feed/", "/products/feed.atom", "/comments/feed/"};
const char *kFeedAgents[] = {"FreshRSS/1.24.0 (Linux; https://freshrss.org)",
                             "Tiny Tiny RSS/24.01 (https://tt-rss.org/)",
                             "NewsBlur Feed Fetcher - 12 subscribers", "Miniflux/2.1.0"};
const char *kCheckUrls[] = {"/", "/health", "/status", "/products/", "/index.html"};
const char *kCheckAgents[] = {"UptimeRobot/2.0; http://www.uptimerobot.com/",
                              "Mozilla/5.0 (compatible; StatusCake)", "check_http/v2.3.3",
                              "Blackbox Exporter/0.25.0"};

// The site's pages by number: products, blog posts, and the listings of categories and tags.
std::string SitePage(int number) {
  char text[64];
  if (number < 2000) {
    std::snprintf(text, sizeof text, "/products/item-%d.html", number + 1);
  } else if (number < 3000) {
    std::snprintf(text, sizeof text, "/blog/post-%d.html", number - 1999);
  } else if (number < 3500) {
    std::snprintf(text, sizeof text, "/products/category-%d/page-%d.html", (number - 3000) / 10 + 1,
                  number % 10 + 1);
  } else {
    std::snprintf(text, sizeof text, "/blog/tag-%d/page-%d/", (number - 3500) / 10 + 1,
                  number % 10 + 1);
  }
  return text;
}
static_assert(kSitePages == 4000, "SitePage names 4000 pages");

// A crawler's pages hold assets every third crawler fetches too.
bool FetchesAssets(int index) {
  return index % 3 == 2;
}

class Generator {
 public:
  Generator(const SampleOptions &options) : options_(options), random_(options.seed) {}

  std::vector<SampleHit> Run() {
    for (int i = 0; i < options_.humans; ++i) Human(i);
    for (int i = 0; i < options_.crawlers; ++i) Crawler(i);
    for (int i = 0; i < options_.scanners; ++i) Scanner(i);
    for (int i = 0; i < options_.steadyClients; ++i) Steady(i);
    for (int i = 0; i < options_.randomClients; ++i) Random(i);
    for (int i = 0; i < options_.refreshers; ++i) Refresher(i);
    if (options_.probe) Probe();
    // The kinds below draw nothing when there are none of them, so the traffic above stays the
    // same for a seed.
    for (int i = 0; i < options_.fixedCrawlers; ++i) PageCrawler(SampleKind::kFixedCrawler, i);
    for (int i = 0; i < options_.jitterCrawlers; ++i) PageCrawler(SampleKind::kJitterCrawler, i);
    for (int i = 0; i < options_.randomCrawlers; ++i) PageCrawler(SampleKind::kRandomCrawler, i);
    for (int i = 0; i < options_.feedReaders; ++i) Poller(SampleKind::kFeedReader, i);
    for (int i = 0; i < options_.uptimeChecks; ++i) Poller(SampleKind::kUptimeCheck, i);
    for (int i = 0; i < options_.verifiedBots; ++i) SearchBot(SampleKind::kVerifiedBot, i);
    for (int i = 0; i < options_.falseBots; ++i) SearchBot(SampleKind::kFalseBot, i);
    for (int i = options_.humans; static_cast<int64_t>(hits_.size()) < options_.minimumLines; ++i) {
      Human(i);
    }
    std::stable_sort(hits_.begin(), hits_.end(),
                     [](const SampleHit &a, const SampleHit &b) { return a.seconds < b.seconds; });
    return std::move(hits_);
  }

 private:
  double Uniform(double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random_);
  }
  int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }
  double Span() const { return options_.hours * 3600; }

  std::string Fill(const char *pattern) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, 1 + Pick(60));
    return text;
  }

  void Add(double at, const std::string &address, const std::string &path, const std::string &agent,
           const std::string &referrer = "-", int status = 200, const char *method = "GET") {
    if (at >= Span()) return;
    hits_.push_back({at, address, method, path, agent, referrer, status, 200 + Pick(30000)});
  }

  // A person: pages at think times of seconds to minutes, each followed by a burst of assets.
  void Human(int index) {
    char who[32];
    std::snprintf(who, sizeof who, "100.%d.%d.%d", 64 + (index >> 16), (index >> 8) & 255,
                  index & 255);
    const std::string agent = kBrowsers[Pick(4)];
    double at = Uniform(0, Span() * 0.9);
    const int pages = 5 + Pick(36);
    std::lognormal_distribution<double> think(std::log(20.0), 1.0);
    std::string previous = "-";
    for (int page = 0; page < pages; ++page) {
      const std::string path = Fill(kPages[Pick(8)]);
      Add(at, who, path, agent, previous);
      const int assets = Pick(9);
      for (int a = 0; a < assets; ++a) {
        Add(at + Uniform(0.05, 2.0), who, Fill(kAssets[Pick(5)]), agent,
            "https://shop.example" + path);
      }
      previous = "https://shop.example" + path;
      at += std::clamp(think(random_), 2.0, 600.0);
    }
  }

  // A search robot: many pages, loosely even gaps.
  void Crawler(int index) {
    const std::string address = "66.249.66." + std::to_string(10 + index);
    double at = Uniform(0, 60);
    while (at < Span()) {
      Add(at, address, Fill(kPages[Pick(8)]),
          "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)");
      at += Uniform(1, 12);
    }
  }

  // A vulnerability scanner: bursts over probe paths, fast and uneven.
  void Scanner(int index) {
    const std::string address = "192.0.2." + std::to_string(50 + index);
    double at = Uniform(0, Span() * 0.5);
    for (int burst = 0; burst < 4; ++burst) {
      for (int i = 0; i < 25; ++i) {
        Add(at, address, kProbePaths[Pick(10)], "Mozilla/5.0 zgrab/0.x", "-", 404);
        at += Uniform(0, 1.5);
      }
      at += Uniform(60, 600);
    }
  }

  // A client on one URL at a steady pace: 1% jitter around its period.
  void Steady(int index) {
    const std::string address = "203.0.113." + std::to_string(100 + index % 150);
    const double period = 2 + Pick(29);
    const std::string path = "/api/price?item=" + std::to_string(1 + Pick(50));
    double at = Uniform(0, Span() * 0.5);
    const int hits = 30 + Pick(171);
    for (int i = 0; i < hits; ++i) {
      Add(at, address, path, "python-requests/2.31.0");
      at += period * Uniform(0.99, 1.01);
    }
  }

  // A client that draws each delay from a range around its period (a crawler framework's
  // default randomization is 0.5 to 1.5 times the delay set).
  void Random(int index) {
    char who[32];
    std::snprintf(who, sizeof who, "198.18.%d.%d", index >> 8, index & 255);
    const double period = 2 + Pick(29);
    const std::string path = "/api/price?item=" + std::to_string(1 + Pick(50));
    double at = Uniform(0, Span() * 0.5);
    for (int i = 0; i < options_.randomHits; ++i) {
      Add(at, who, path, "Scrapy/2.11 (+https://scrapy.org)");
      at += period * Uniform(1 - options_.randomJitter, 1 + options_.randomJitter);
    }
  }

  // A person reloading one page by hand: gaps drawn lognormal with a median of 15 s and a
  // spread factor of 2.2.
  void Refresher(int index) {
    char who[32];
    std::snprintf(who, sizeof who, "198.19.%d.%d", index >> 8, index & 255);
    const std::string agent = kBrowsers[Pick(4)];
    std::lognormal_distribution<double> gap(std::log(15.0), std::log(2.2));
    double at = Uniform(0, Span() * 0.5);
    for (int i = 0; i <= 40; ++i) {
      Add(at, who, "/api/stock?item=7", agent);
      at += gap(random_);
    }
  }

  // The script the sample is about: a loop that tries the admin login and sleeps 5 seconds,
  // so its pace wanders only by the few milliseconds each try takes.
  void Probe() {
    const std::string address = "203.0.113.66";
    double at = Span() * 0.25;
    for (int i = 0; i < 45; ++i) {
      Add(at, address, "/admin/login.php", "curl/8.5.0", "-", 401, i % 2 ? "POST" : "GET");
      at += 5 + Uniform(0.005, 0.015);
    }
  }

  // `count` distinct page numbers of the site in a random order (the first steps of a
  // Fisher-Yates shuffle, written out so that a seed gives the same pages everywhere).
  std::vector<int> DistinctPages(int count) {
    std::vector<int> pages(kSitePages);
    for (int i = 0; i < kSitePages; ++i) pages[i] = i;
    count = std::clamp(count, 0, kSitePages);
    for (int i = 0; i < count; ++i) std::swap(pages[i], pages[i + Pick(kSitePages - i)]);
    pages.resize(count);
    return pages;
  }

  // A crawler's walk: robots.txt first (every second crawler), then its distinct pages, each
  // followed by its assets when the crawler fetches them; `gap` gives the delay after a page.
  template <typename Gap>
  void Walk(const std::string &address, const std::string &agent, double at, bool robots,
            bool assets, Gap gap) {
    if (robots) {
      Add(at, address, "/robots.txt", agent);
      at += gap();
    }
    for (int number : DistinctPages(options_.crawlerPages)) {
      if (at >= Span()) return;
      const std::string path = SitePage(number);
      Add(at, address, path, agent);
      const int count = assets ? 1 + Pick(4) : 0;
      for (int a = 0; a < count; ++a) {
        Add(at + Uniform(0.05, 1.0), address, Fill(kAssets[Pick(5)]), agent,
            "https://shop.example" + path);
      }
      at += gap();
    }
  }

  // A crawler on a delay of its own: fixed (plus the few hundred milliseconds a response takes),
  // jittered by a share of 10 to 50 %, or drawn from 0.5 to 1.5 times a period.
  void PageCrawler(SampleKind kind, int index) {
    const std::string address = SampleAddress(kind, index);
    const bool assets = FetchesAssets(index);
    const std::string agent = assets ? kHeadlessAgent : kCrawlerAgents[Pick(5)];
    const double at = Uniform(0, Span() * 0.25);
    const bool robots = index % 2 == 0;
    if (kind == SampleKind::kFixedCrawler) {
      const double delay = 1 + Pick(30);
      Walk(address, agent, at, robots, assets, [&] { return delay + Uniform(0.01, 0.25); });
    } else if (kind == SampleKind::kJitterCrawler) {
      const double delay = 1 + Pick(30);
      const double jitter = Uniform(0.1, 0.5);
      Walk(address, agent, at, robots, assets,
           [&] { return delay * Uniform(1 - jitter, 1 + jitter); });
    } else {
      const double period = 2 + Pick(29);
      Walk(address, agent, at, robots, assets, [&] { return period * Uniform(0.5, 1.5); });
    }
  }

  // A feed reader or an uptime check: one to three URLs, asked one after the other every
  // period, with a timer's small jitter.
  void Poller(SampleKind kind, int index) {
    const bool feeds = kind == SampleKind::kFeedReader;
    const std::string address = SampleAddress(kind, index);
    const std::string agent = feeds ? kFeedAgents[Pick(4)] : kCheckAgents[Pick(4)];
    const char *const *urls = feeds ? kFeeds : kCheckUrls;
    const int choices = feeds ? 4 : 5;
    const int first = Pick(choices);
    const int count = 1 + Pick(3);
    const double period = feeds ? Uniform(60, 900) : Uniform(10, 300);
    for (double at = Uniform(0, period); at < Span(); at += period * Uniform(0.98, 1.02)) {
      double asked = at;
      for (int u = 0; u < count; ++u) {
        Add(asked, address, urls[(first + u) % choices], agent);
        asked += Uniform(0.05, 0.5);
      }
    }
  }

  // A search engine's crawler at a steady pace (2 to 10 s, +-2 %) over distinct pages.
  void SearchBot(SampleKind kind, int index) {
    const double period = 2 + Pick(9);
    Walk(SampleAddress(kind, index), kGooglebot, Uniform(0, Span() * 0.25), true, false,
         [&] { return period * Uniform(0.98, 1.02); });
  }

  SampleOptions options_;
  std::mt19937_64 random_;
  std::vector<SampleHit> hits_;
};

void WriteTime(std::ostream &out, double seconds) {
  int64_t whole = kStartSecond + static_cast<int64_t>(seconds);
  int day = 7 + static_cast<int>(whole / 86400);
  whole %= 86400;
  char text[64];
  std::snprintf(text, sizeof text, "[%02d/Dec/2026:%02d:%02d:%02d +0000]", day,
                static_cast<int>(whole / 3600), static_cast<int>(whole / 60 % 60),
                static_cast<int>(whole % 60));
  out << text;
}

}  // namespace

std::string SampleAddress(SampleKind kind, int index) {
  char text[32];
  if (kind == SampleKind::kVerifiedBot) {
    std::snprintf(text, sizeof text, "66.249.70.%d", 1 + index % 254);
    return text;
  }
  // One /16 of 172.16/12 per kind, in the order of SampleKind.
  const int block = 16 + static_cast<int>(kind);
  const bool crawler = kind == SampleKind::kFixedCrawler || kind == SampleKind::kJitterCrawler ||
                       kind == SampleKind::kRandomCrawler;
  const int host = 1 + index % 32000;
  std::snprintf(text, sizeof text, "172.%d.%d.%d", block,
                (crawler && FetchesAssets(index) ? 128 : 0) + (host >> 8), host & 255);
  return text;
}

std::vector<SampleHit> GenerateSample(const SampleOptions &options) {
  return Generator(options).Run();
}

void WriteSampleLog(std::ostream &out, const SampleOptions &options) {
  for (const SampleHit &hit : GenerateSample(options)) {
    out << hit.address << " - - ";
    WriteTime(out, hit.seconds);
    out << " \"" << hit.method << ' ' << hit.path << " HTTP/1.1\" " << hit.status << ' '
        << hit.bytes << " \"" << hit.referrer << "\" \"" << hit.agent << "\"\n";
  }
}

}  // namespace host
