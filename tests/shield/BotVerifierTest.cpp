// Verifying crawlers against a real DNS server each test starts (dnsmasq on loopback), and
// against a resolver that never answers.
#include "shield/BotVerifier.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "support/DnsServer.h"
#include "support/TempDir.h"

namespace {

using host::BotVerifier;
using Verdict = host::BotVerifier::Verdict;
using testing_support::DnsServer;
using namespace std::chrono_literals;

constexpr int64_t kNow = 1'700'000'000'000;

// A UDP port on 127.0.0.1 held by the test and never read: a resolver that never answers.
class SilentResolver {
 public:
  SilentResolver() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd_, reinterpret_cast<sockaddr *>(&address), size);
    getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~SilentResolver() { close(fd_); }
  std::string Resolver() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

host::HostConfig Config(
    const std::string &resolver, const std::string &ranges = "",
    const std::string &bots = "google, bing, apple, yandex, baidu, duckduckgo") {
  host::HostConfig config;
  config.Set("Resolver", resolver, "test");
  config.Set("VerifiedBotRanges", ranges, "test");
  config.Set("VerifiedBots", bots, "test");
  return config;
}

// Asks until the answer is no longer pending (at most `most`), as the keeper does each cycle.
BotVerifier::Answer Settle(BotVerifier &verifier, const std::string &address,
                           std::string_view claimed = "googlebot", int64_t now = kNow,
                           std::chrono::milliseconds most = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + most;
  for (;;) {
    BotVerifier::Answer answer = verifier.Check(address, claimed, now);
    if (answer.verdict != Verdict::kPending || std::chrono::steady_clock::now() > deadline)
      return answer;
    std::this_thread::sleep_for(2ms);
  }
}

// Google's documented example, a name elsewhere, a name that points to another address, and
// names that only look like a crawler's.
void AddRecords(DnsServer &dns) {
  dns.AddReverse("66.249.66.1", "crawl-66-249-66-1.googlebot.com");
  dns.AddHost("crawl-66-249-66-1.googlebot.com", "66.249.66.1");
  dns.AddReverse("66.249.66.2", "crawl-66-249-66-2.googlebot.com");
  dns.AddHost("crawl-66-249-66-2.googlebot.com", "66.249.66.200");
  dns.AddReverse("66.249.66.3", "crawl-66-249-66-3.example.com");
  dns.AddHost("crawl-66-249-66-3.example.com", "66.249.66.3");
  dns.AddReverse("66.249.66.4", "crawl.googlebot.com.example.com");
  dns.AddHost("crawl.googlebot.com.example.com", "66.249.66.4");
  dns.AddReverse("66.249.66.5", "evilgooglebot.com");
  dns.AddHost("evilgooglebot.com", "66.249.66.5");
  dns.AddReverse("157.55.39.1", "MSNBOT-157-55-39-1.Search.MSN.com");
  dns.AddHost("msnbot-157-55-39-1.search.msn.com", "157.55.39.1");
  dns.AddReverse("2001:4860:4801:10::1", "crawl-2001-4860-4801-10--1.googlebot.com");
  dns.AddHost("crawl-2001-4860-4801-10--1.googlebot.com", "2001:4860:4801:10::1");
}

TEST(BotVerifier, VerifiesNamesThatGiveTheAddressBackAndFailsTheRest) {
  if (!DnsServer::Available()) GTEST_SKIP() << "dnsmasq is not installed (scripts/test-deps)";
  DnsServer dns;
  AddRecords(dns);
  ASSERT_TRUE(dns.Start()) << dns.Problem();
  BotVerifier verifier(Config(dns.Resolver()));

  EXPECT_EQ(verifier.Check("66.249.66.1", "googlebot", kNow).verdict, Verdict::kPending);
  BotVerifier::Answer answer = Settle(verifier, "66.249.66.1");
  EXPECT_EQ(answer.verdict, Verdict::kVerified) << answer.why;
  EXPECT_EQ(answer.bot, "googlebot");
  EXPECT_NE(answer.why.find("crawl-66-249-66-1.googlebot.com"), std::string::npos) << answer.why;

  answer = Settle(verifier, "66.249.66.3");
  EXPECT_EQ(answer.verdict, Verdict::kFailed);
  EXPECT_EQ(answer.why, "reverse name crawl-66-249-66-3.example.com is not googlebot's");

  answer = Settle(verifier, "66.249.66.2");
  EXPECT_EQ(answer.verdict, Verdict::kFailed);
  EXPECT_EQ(answer.why,
            "reverse name crawl-66-249-66-2.googlebot.com does not give the address back");

  // A crawler's domain must end the name, and at a dot.
  EXPECT_EQ(Settle(verifier, "66.249.66.4").verdict, Verdict::kFailed);
  EXPECT_EQ(Settle(verifier, "66.249.66.5").verdict, Verdict::kFailed);

  // The verdict is the address's: a name in Bing's domain, in any case, verifies bingbot
  // whatever the user agent claimed; IPv6 is asked under ip6.arpa and confirmed by AAAA.
  answer = Settle(verifier, "157.55.39.1", "");
  EXPECT_EQ(answer.verdict, Verdict::kVerified) << answer.why;
  EXPECT_EQ(answer.bot, "bingbot");
  answer = Settle(verifier, "2001:4860:4801:0010:0:0:0:1");
  EXPECT_EQ(answer.verdict, Verdict::kVerified) << answer.why;
  EXPECT_EQ(answer.bot, "googlebot");

  // An address without a reverse name fails; text that is no address never reaches DNS.
  EXPECT_EQ(Settle(verifier, "203.0.113.9").verdict, Verdict::kFailed);
  const BotVerifier::Counts before = verifier.Stats();
  answer = verifier.Check("66.249.66.1.evil.example.com", "googlebot", kNow);
  EXPECT_EQ(answer.verdict, Verdict::kFailed);
  EXPECT_EQ(verifier.Check("1.2.3.4\n5.6.7.8", "", kNow).verdict, Verdict::kFailed);
  const BotVerifier::Counts after = verifier.Stats();
  EXPECT_EQ(after.lookups, before.lookups);
  EXPECT_EQ(after.refused, 2u);
  EXPECT_EQ(after.lookups, 8u);
  EXPECT_EQ(after.verified, 3u);
  EXPECT_EQ(after.failed, 5u);
  EXPECT_GT(after.secondsTotal, 0.0);
}

TEST(BotVerifier, KeepsASuccessADayAndAFailureAnHourByTheCallersClock) {
  if (!DnsServer::Available()) GTEST_SKIP() << "dnsmasq is not installed (scripts/test-deps)";
  DnsServer dns;
  AddRecords(dns);
  ASSERT_TRUE(dns.Start()) << dns.Problem();
  BotVerifier verifier(Config(dns.Resolver()));

  ASSERT_EQ(Settle(verifier, "66.249.66.1").verdict, Verdict::kVerified);
  ASSERT_EQ(Settle(verifier, "66.249.66.3").verdict, Verdict::kFailed);
  const uint64_t hits = verifier.Stats().cacheHits;
  const int64_t day = BotVerifier::kVerifiedMs, hour = BotVerifier::kFailedMs;
  EXPECT_EQ(verifier.Check("66.249.66.1", "googlebot", kNow + day - 1).verdict, Verdict::kVerified);
  EXPECT_EQ(verifier.Check("66.249.66.3", "googlebot", kNow + hour - 1).verdict, Verdict::kFailed);
  EXPECT_EQ(verifier.Stats().cacheHits, hits + 2);
  EXPECT_EQ(verifier.Stats().lookups, 2u);

  // Past their time both are looked up again.
  EXPECT_EQ(verifier.Check("66.249.66.3", "googlebot", kNow + hour).verdict, Verdict::kPending);
  EXPECT_EQ(verifier.Check("66.249.66.1", "googlebot", kNow + day).verdict, Verdict::kPending);
  EXPECT_EQ(verifier.Stats().lookups, 4u);
  EXPECT_EQ(Settle(verifier, "66.249.66.1", "googlebot", kNow + day).verdict, Verdict::kVerified);

  // Unchanged settings keep the cache; another resolver empties it.
  verifier.Reconfigure(Config(dns.Resolver()));
  EXPECT_EQ(verifier.Check("66.249.66.1", "googlebot", kNow + day).verdict, Verdict::kVerified);
  verifier.Reconfigure(Config(dns.Resolver(), "", "bing"));
  EXPECT_EQ(verifier.Check("66.249.66.1", "googlebot", kNow + day).verdict, Verdict::kPending);
  // With only bing verified, a googlebot name verifies nothing.
  EXPECT_EQ(Settle(verifier, "66.249.66.1", "googlebot", kNow + day).verdict, Verdict::kFailed);
}

TEST(BotVerifier, ASilentResolverFailsAtTheTimeLimitWithoutHoldingUpTheCaller) {
  SilentResolver silent;
  const auto limit = 300ms;
  BotVerifier verifier(Config(silent.Resolver()), limit);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(verifier.Check("66.249.66.1", "googlebot", kNow).verdict, Verdict::kPending);
  // Given up at the limit, not whenever the resolver's own retries end (the margin is for a
  // busy machine).
  const BotVerifier::Answer answer = Settle(verifier, "66.249.66.1", "googlebot", kNow, limit + 2s);
  EXPECT_GE(std::chrono::steady_clock::now() - start, limit);
  EXPECT_EQ(answer.verdict, Verdict::kFailed);
  EXPECT_EQ(answer.why, "no answer from DNS within 300 ms");
  EXPECT_EQ(verifier.Stats().timeouts, 1u);

  // While another lookup hangs, the cached answer comes at once; lookups under way are bounded.
  EXPECT_EQ(verifier.Check("66.249.66.2", "googlebot", kNow).verdict, Verdict::kPending);
  EXPECT_EQ(verifier.Check("66.249.66.1", "googlebot", kNow).verdict, Verdict::kFailed);
  BotVerifier::Answer last;
  for (int i = 0; i < 80; ++i) last = verifier.Check("10.0.0." + std::to_string(i), "", kNow);
  EXPECT_EQ(last.verdict, Verdict::kPending);
  EXPECT_NE(last.why.find("64 lookups are under way"), std::string::npos) << last.why;
  EXPECT_LE(verifier.Stats().lookups, 1 + BotVerifier::kInFlightLimit);
  // A failure is kept an hour, so the next cycles do not ask a hanging resolver again.
  EXPECT_EQ(verifier.Check("66.249.66.1", "googlebot", kNow + 1000).verdict, Verdict::kFailed);
}

TEST(BotVerifier, PublishedRangesVerifyWithoutDnsAndBadFilesAreNamedByLine) {
  testing_support::TempDir dir;
  const std::string path = dir.File("ranges");
  testing_support::WriteFile(path,
                             "# DuckDuckGo's published addresses\n"
                             "duckduckbot 20.191.45.212   # one address\n"
                             "duckduckbot 2001:db8:dd::/48\n"
                             "\n"
                             "bingbot 157.55.39.0/24\n");
  SilentResolver silent;
  BotVerifier verifier(Config(silent.Resolver(), path), 300ms);
  BotVerifier::Answer answer = verifier.Check("20.191.45.212", "duckduckbot", kNow);
  EXPECT_EQ(answer.verdict, Verdict::kVerified);
  EXPECT_EQ(answer.bot, "duckduckbot");
  EXPECT_EQ(verifier.Check("2001:db8:dd:1::9", "", kNow).verdict, Verdict::kVerified);
  EXPECT_EQ(verifier.Check("157.55.39.77", "", kNow).bot, "bingbot");
  EXPECT_EQ(verifier.Stats().lookups, 0u);
  EXPECT_EQ(verifier.Stats().inRanges, 3u);
  EXPECT_EQ(verifier.Check("20.191.45.213", "duckduckbot", kNow).verdict, Verdict::kPending);
  // A crawler left out of VerifiedBots is not spared by its ranges either.
  BotVerifier noDuck(Config(silent.Resolver(), path, "bing"), 300ms);
  EXPECT_EQ(noDuck.Check("20.191.45.212", "duckduckbot", kNow).verdict, Verdict::kPending);

  const auto problem = [&](const std::string &content, const std::string &bots = "google") {
    testing_support::WriteFile(path, content);
    try {
      BotVerifier bad(Config("", path, bots));
    } catch (const std::runtime_error &error) {
      return std::string(error.what());
    }
    return std::string("taken");
  };
  EXPECT_EQ(problem("# fine\nduckduckbott 20.191.45.212\n"),
            "VerifiedBotRanges: " + path +
                ":2: unknown crawler 'duckduckbott'; did you mean 'duckduckbot'?");
  EXPECT_EQ(problem("duckduckbot 0.0.0.0/0\n"),
            "VerifiedBotRanges: " + path + ":1: an IPv4 range of a crawler is /8 or narrower");
  EXPECT_NE(problem("duckduckbot 20.191.45.300\n").find(path + ":1: '20.191.45.300'"),
            std::string::npos);
  EXPECT_NE(problem("duckduckbot\n").find(path + ":1: expected 'CRAWLER ADDRESS/PREFIX'"),
            std::string::npos);
  EXPECT_NE(problem(std::string(BotVerifier::kRangesFileBytes + 1, '#')).find("larger than"),
            std::string::npos);
  EXPECT_EQ(problem("duckduckbot 20.191.45.212\n", "google, bingg"),
            "VerifiedBots: unknown crawler 'bingg' (known: google, bing, apple, yandex, baidu, "
            "duckduckgo); did you mean 'bing'?");
  EXPECT_NE(problem("", "google").find("taken"), std::string::npos);
  std::filesystem::remove(path);
  try {
    BotVerifier missing(Config("", path));
    ADD_FAILURE() << "a missing ranges file was taken";
  } catch (const std::runtime_error &error) {
    EXPECT_EQ(std::string(error.what()), "VerifiedBotRanges: cannot read " + path);
  }

  // The file flowdeck ships reads, and holds DuckDuckGo's addresses.
  BotVerifier shipped(Config(silent.Resolver(), FLOWDECK_EXAMPLES "/verified-bot-ranges"), 300ms);
  EXPECT_EQ(shipped.Check("20.191.45.212", "duckduckbot", kNow).verdict, Verdict::kVerified);
}

TEST(BotVerifier, ResolverAndReverseNamesAreCheckedBeforeUse) {
  EXPECT_EQ(BotVerifier::ResolverServers(""), "");
  EXPECT_EQ(BotVerifier::ResolverServers("127.0.0.53"), "127.0.0.53:53");
  EXPECT_EQ(BotVerifier::ResolverServers("10.0.0.2:5353"), "10.0.0.2:5353");
  EXPECT_EQ(BotVerifier::ResolverServers("[::1]:5353"), "[::1]:5353");
  EXPECT_EQ(BotVerifier::ResolverServers("[::1]"), "[::1]:53");
  EXPECT_EQ(BotVerifier::ResolverServers("2001:DB8::1"), "[2001:db8::1]:53");
  // c-ares takes what ResolverServers gives it, IPv6 included.
  EXPECT_NO_THROW(BotVerifier(Config("[::1]:5353")));
  EXPECT_NO_THROW(BotVerifier(Config("127.0.0.53")));
  for (const char *bad : {"dns.example.com", "10.0.0.2:0", "10.0.0.2:65536", "10.0.0.2:", "[::1",
                          "[::1]5353", "[10.0.0.2]:53", "10.0.0.2:53,10.0.0.3:53", "1.2.3.4 "}) {
    EXPECT_THROW(BotVerifier::ResolverServers(bad), std::runtime_error) << bad;
    EXPECT_THROW(BotVerifier(Config(bad)), std::runtime_error) << bad;
  }

  using host::CrawlerDns;
  EXPECT_EQ(CrawlerDns::CleanName("Crawl-66-249-66-1.GoogleBot.COM."),
            "crawl-66-249-66-1.googlebot.com");
  const std::string label63(63, 'a');
  EXPECT_EQ(CrawlerDns::CleanName(label63 + ".googlebot.com"), label63 + ".googlebot.com");
  std::string longest;
  while (longest.size() < 250) longest += label63.substr(0, 9) + ".";
  longest += "googlebot.com";
  EXPECT_EQ(CrawlerDns::CleanName(longest.substr(longest.size() - 253)).size(), 253u);
  for (const std::string &bad :
       {std::string(""), std::string("."), std::string("crawl..googlebot.com"),
        std::string(".googlebot.com"), std::string("crawl.googlebot.com.."),
        std::string("crawl 1.googlebot.com"), std::string("crawl_1.googlebot.com"),
        std::string("crawl\\.googlebot.com"), std::string("crawl\0x.googlebot.com", 21),
        std::string("cr\xc3\xa4wl.googlebot.com"), label63 + "a.googlebot.com",
        longest.substr(longest.size() - 254)}) {
    EXPECT_EQ(CrawlerDns::CleanName(bad), "") << bad;
  }
  EXPECT_EQ(CrawlerDns::Shown("a\nb\x01 c"), "a?b??c");
  EXPECT_EQ(CrawlerDns::Shown(std::string(100, 'x')), std::string(80, 'x') + "...");
}

}  // namespace
