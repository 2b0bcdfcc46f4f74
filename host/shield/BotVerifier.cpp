#include "shield/BotVerifier.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

#include "base/DidYouMean.h"
#include "base/Error.h"
#include "shield/BotClaims.h"

namespace host {

namespace {

// The domains whose names each operator documents for its crawlers' reverse names; an address
// is verified only by a name strictly below one of them, which gives the address back.
//   googlebot: developers.google.com/search/docs/crawling-indexing/verifying-googlebot
//     (crawl-*.googlebot.com, geo-crawl-*.geo.googlebot.com, rate-limited-proxy-*.google.com).
//     googleusercontent.com is left out on purpose: Google names only its user-triggered
//     fetchers there (gae.googleusercontent.com), which are no crawlers, and the same domain
//     names every rented Google Cloud machine (*.bc.googleusercontent.com), so anybody could
//     pass as googlebot through it.
//   bingbot: www.bing.com/webmasters/help/how-to-verify-bingbot-3905dc26 (*.search.msn.com)
//   applebot: support.apple.com/en-us/119829 (*.applebot.apple.com)
//   yandexbot: yandex.com/support/webmaster/robot-workings/check-yandex-robots.html
//     (yandex.ru, yandex.net, yandex.com)
//   baiduspider: www.baidu.com/search/spider.html and help.baidu.com's "how to identify
//     Baiduspider" (*.baidu.com, *.baidu.jp)
//   duckduckbot: publishes addresses instead, duckduckgo.com/duckduckgo-help-pages/results/
//     duckduckbot (and duckduckgo.com/duckduckbot.json): only VerifiedBotRanges verifies it.
const std::vector<std::string_view> kDomains[BotClaims::kCrawlers] = {
    {"googlebot.com", "google.com"},           {"search.msn.com"},        {"applebot.apple.com"},
    {"yandex.ru", "yandex.net", "yandex.com"}, {"baidu.com", "baidu.jp"}, {},
};

bool Below(std::string_view name, std::string_view domain) {
  return name.size() > domain.size() + 1 && name.ends_with(domain) &&
         name[name.size() - domain.size() - 1] == '.';
}

std::string Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

// Why a range is too wide to stand for a crawler, or empty: a slip such as "0.0.0.0/0" would
// spare every address.
std::string TooWide(const std::string &range) {
  const size_t slash = range.find('/');
  if (slash == std::string::npos) return "";
  int bits = 0;
  std::from_chars(range.data() + slash + 1, range.data() + range.size(), bits);
  const bool v4 = range.find(':') == std::string::npos;
  if (v4 && bits < 8) return "an IPv4 range of a crawler is /8 or narrower";
  if (!v4 && bits < 16) return "an IPv6 range of a crawler is /16 or narrower";
  return "";
}

const char *const kResolverForm =
    "expected ADDRESS[:PORT], e.g. 127.0.0.53, 10.0.0.2:5353 or [::1]:53";

bool ReadPort(std::string_view text, int &port) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  return !text.empty() && text.size() <= 5 && error == std::errc() &&
         end == text.data() + text.size() && port >= 1 && port <= 65535;
}

}  // namespace

size_t BotVerifier::KeyHash::operator()(const Key &key) const {
  return std::hash<uint64_t>()(key.high * 0x9e3779b97f4a7c15ULL ^ key.low);
}

std::string BotVerifier::ResolverServers(const std::string &resolver) {
  if (resolver.empty()) return "";
  const auto refuse = [&resolver]() { return Error::Setting("Resolver", resolver, kResolverForm); };
  std::string address;
  int port = 53;
  if (resolver.front() == '[') {
    const size_t close = resolver.find(']');
    if (close == std::string::npos) throw refuse();
    address = resolver.substr(1, close - 1);
    const std::string rest = resolver.substr(close + 1);
    if (!rest.empty() && (rest[0] != ':' || !ReadPort(std::string_view(rest).substr(1), port)))
      throw refuse();
    if (address.find(':') == std::string::npos) throw refuse();
  } else if (std::count(resolver.begin(), resolver.end(), ':') == 1) {
    const size_t colon = resolver.find(':');
    address = resolver.substr(0, colon);
    if (!ReadPort(std::string_view(resolver).substr(colon + 1), port)) throw refuse();
  } else {
    address = resolver;  // a bare IPv6 address, or IPv4 without a port
  }
  IpAddress parsed;
  if (!IpAddress::Parse(address, parsed)) throw refuse();
  const std::string text = parsed.Text();
  const bool v6 = text.find(':') != std::string::npos;
  return (v6 ? "[" + text + "]" : text) + ":" + std::to_string(port);
}

namespace {

// One line of the ranges file, "CRAWLER ADDRESS/PREFIX", added to its crawler's list; a comment
// or a blank line adds nothing. Throws Error for a line it cannot use.
void ReadRangeLine(const std::string &line, std::string lists[BotClaims::kCrawlers]) {
  const std::string content = Trim(std::string_view(line).substr(0, line.find('#')));
  if (content.empty()) return;
  for (char c : content) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
      throw Error("", "a line cannot hold control characters");
  }
  std::istringstream words(content);
  std::string bot, range, extra;
  words >> bot >> range >> extra;
  if (range.empty() || !extra.empty()) {
    throw Error("", "expected 'CRAWLER ADDRESS/PREFIX', got '" + CrawlerDns::Shown(content) + "'");
  }
  const size_t crawler = BotClaims::CrawlerIndex(bot);
  if (crawler == BotClaims::kCrawlers) {
    throw Error("", "unknown crawler '" + CrawlerDns::Shown(bot) + "'" +
                        DidYouMean(bot, BotClaims::CrawlerNames()));
  }
  std::string problem = AddressRanges::Problem(range);
  if (problem.empty()) problem = TooWide(range);
  if (!problem.empty()) throw Error("", problem);
  lists[crawler] += range + " ";
}

}  // namespace

std::vector<std::pair<size_t, AddressRanges>> BotVerifier::ReadRanges(const std::string &path) {
  std::vector<std::pair<size_t, AddressRanges>> ranges;
  if (path.empty()) return ranges;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error("VerifiedBotRanges", "cannot read " + path);
  std::string text(kRangesFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > kRangesFileBytes) {
    throw Error("VerifiedBotRanges",
                path + " is larger than " + std::to_string(kRangesFileBytes) + " bytes");
  }
  std::string lists[BotClaims::kCrawlers];
  std::istringstream lines(text);
  std::string line;
  for (size_t number = 1; std::getline(lines, line); ++number) {
    Within("VerifiedBotRanges: " + path + ":" + std::to_string(number), [&] {
      if (number > kRangesFileLines) {
        throw Error("", "more than " + std::to_string(kRangesFileLines) + " lines");
      }
      ReadRangeLine(line, lists);
    });
  }
  for (size_t crawler = 0; crawler < BotClaims::kCrawlers; ++crawler) {
    if (!lists[crawler].empty()) ranges.emplace_back(crawler, AddressRanges::Parse(lists[crawler]));
  }
  return ranges;
}

BotVerifier::Settings BotVerifier::Read(const HostConfig &config) {
  Settings settings;
  settings.active = BotClaims::ActiveCrawlers(config.Get("VerifiedBots"));
  settings.servers = ResolverServers(config.Get("Resolver"));
  settings.ranges = ReadRanges(config.Get("VerifiedBotRanges"));
  return settings;
}

BotVerifier::BotVerifier(const HostConfig &config, std::chrono::milliseconds timeLimit)
    : timeLimit_(timeLimit), settings_(Read(config)) {
  dns_ = MakeDns(settings_, generation_);
}

BotVerifier::~BotVerifier() {
  dns_.reset();  // its thread ends before the cache it delivers to
}

std::unique_ptr<CrawlerDns> BotVerifier::MakeDns(const Settings &settings, uint64_t generation) {
  const uint32_t active = settings.active;
  return std::make_unique<CrawlerDns>(
      settings.servers, timeLimit_,
      [this, active](std::string_view name) { return Owner(name, active); },
      [this, generation](CrawlerDns::Result result) { Deliver(generation, std::move(result)); });
}

std::optional<size_t> BotVerifier::Owner(std::string_view name, uint32_t active) const {
  for (size_t crawler = 0; crawler < BotClaims::kCrawlers; ++crawler) {
    if ((active >> crawler & 1u) == 0) continue;
    for (std::string_view domain : kDomains[crawler]) {
      if (Below(name, domain)) return crawler;
    }
  }
  return std::nullopt;
}

void BotVerifier::Deliver(uint64_t generation, CrawlerDns::Result result) {
  std::lock_guard lock(mutex_);
  if (generation != generation_) return;
  const Key key{result.address.High(), result.address.Low()};
  const auto asked = pending_.find(key);
  if (asked == pending_.end()) return;
  const int64_t askedMs = asked->second;
  pending_.erase(asked);

  const bool verified = result.outcome == CrawlerDns::Outcome::kConfirmed;
  ++(verified ? counts_.verified : counts_.failed);
  if (result.outcome == CrawlerDns::Outcome::kTimeout) ++counts_.timeouts;
  counts_.secondsTotal += result.seconds;

  Forget(key);
  while (cache_.size() >= kCacheLimit) Forget(ages_.front());
  ages_.push_back(key);
  cache_.emplace(
      key, Entry{result.outcome, result.crawler, std::move(result.name), std::move(result.detail),
                 askedMs + (verified ? kVerifiedMs : kFailedMs), std::prev(ages_.end())});
}

void BotVerifier::Forget(const Key &key) {
  const auto found = cache_.find(key);
  if (found == cache_.end()) return;
  ages_.erase(found->second.age);
  cache_.erase(found);
}

BotVerifier::Answer BotVerifier::Told(const Entry &entry, std::string_view claimed) const {
  using Outcome = CrawlerDns::Outcome;
  const std::string bot(claimed);
  switch (entry.outcome) {
    case Outcome::kConfirmed:
      return {Verdict::kVerified, std::string(BotClaims::Crawler(entry.crawler)),
              "reverse name " + entry.name + " gives the address back"};
    case Outcome::kNoName:
      return {Verdict::kFailed, bot, "the address has no reverse name"};
    case Outcome::kForeignName:
      return {Verdict::kFailed, bot,
              "reverse name " + entry.name + " is not " +
                  (bot.empty() ? std::string("a verified crawler's") : bot + "'s")};
    case Outcome::kBadName:
      return {Verdict::kFailed, bot,
              "the reverse name is no host name" +
                  (entry.name.empty() ? std::string() : " ('" + entry.name + "')")};
    case Outcome::kMismatch:
      return {Verdict::kFailed, bot,
              "reverse name " + entry.name + " does not give the address back"};
    case Outcome::kTimeout:
      return {Verdict::kFailed, bot,
              "no answer from DNS within " + std::to_string(timeLimit_.count()) + " ms"};
    case Outcome::kError:
      break;
  }
  return {Verdict::kFailed, bot, "the DNS lookup failed: " + entry.detail};
}

BotVerifier::Answer BotVerifier::Check(const std::string &address, std::string_view claimed,
                                       int64_t nowMs) {
  const std::string bot(claimed);
  IpAddress ip;
  std::lock_guard lock(mutex_);
  if (!IpAddress::Parse(address, ip)) {
    ++counts_.refused;
    return {Verdict::kFailed, bot, "'" + CrawlerDns::Shown(address) + "' is no address"};
  }
  if (settings_.active == 0) return {Verdict::kFailed, bot, "VerifiedBots is empty"};
  for (const auto &[crawler, ranges] : settings_.ranges) {
    if ((settings_.active >> crawler & 1u) != 0 && ranges.Contains(ip)) {
      ++counts_.inRanges;
      const std::string name(BotClaims::Crawler(crawler));
      return {Verdict::kVerified, name, "the address is in " + name + "'s published ranges"};
    }
  }
  const Key key{ip.High(), ip.Low()};
  const auto cached = cache_.find(key);
  if (cached != cache_.end()) {
    if (nowMs < cached->second.expiresMs) {
      ++counts_.cacheHits;
      return Told(cached->second, claimed);
    }
    Forget(key);
  }
  if (pending_.count(key) != 0) return {Verdict::kPending, bot, "looking the address up"};
  if (dns_->Busy() >= kInFlightLimit) {
    return {Verdict::kPending, bot,
            "waiting: " + std::to_string(kInFlightLimit) + " lookups are under way"};
  }
  pending_.emplace(key, nowMs);
  ++counts_.lookups;
  dns_->Start(ip);
  return {Verdict::kPending, bot, "looking the address up"};
}

void BotVerifier::Reconfigure(const HostConfig &config) {
  Settings fresh = Read(config);
  std::unique_ptr<CrawlerDns> retired;
  {
    std::lock_guard lock(mutex_);
    const bool same = fresh.active == settings_.active && fresh.servers == settings_.servers;
    if (same) {
      settings_.ranges = std::move(fresh.ranges);
      return;
    }
  }
  // A new resolver is made before anything changes, so that a failure changes nothing.
  std::unique_ptr<CrawlerDns> dns = MakeDns(fresh, generation_ + 1);
  {
    std::lock_guard lock(mutex_);
    ++generation_;
    settings_ = std::move(fresh);
    cache_.clear();
    ages_.clear();
    pending_.clear();
    retired = std::move(dns_);
    dns_ = std::move(dns);
  }
  retired.reset();  // outside the lock: its thread may be delivering, and is dropped
}

BotVerifier::Counts BotVerifier::Stats() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

}  // namespace host
