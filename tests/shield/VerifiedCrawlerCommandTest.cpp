// Search engines' crawlers as a replay --apply meets them, against a real DNS server of the
// test's own: a steady "Googlebot" whose address verifies is spared and said so; one whose
// reverse name lies elsewhere, or whose name does not give its address back, is shielded as
// anyone and marked; a resolver that never answers holds back only the shields that wait for it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <regex>

#include "support/ChildProcess.h"
#include "support/DnsServer.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using testing_support::DnsServer;
using testing_support::ReadFile;
using testing_support::TempDir;

constexpr const char *kGooglebot =
    "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)";

std::string Line(const std::string &address, double seconds, const std::string &agent) {
  const int s = static_cast<int>(seconds);
  char time[64];
  std::snprintf(time, sizeof time, "[07/Dec/2026:%02d:%02d:%02d +0000]", 12 + s / 3600, s / 60 % 60,
                s % 60);
  return address + " - - " + time + " \"GET /api/price?item=9 HTTP/1.1\" 200 512 \"-\" \"" + agent +
         "\"\n";
}

// Four clients on the price tripwire, each delay drawn from 5 to 15 s (the pace test's to judge):
// three say they are Googlebot, the last says nothing of the kind.
std::string Traffic() {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> delay(5, 15);
  std::vector<std::pair<double, std::string>> lines;
  for (const char *address : {"127.0.0.81", "127.0.0.82", "127.0.0.83", "127.0.0.84"}) {
    const std::string agent = std::string(address) == "127.0.0.84" ? "curl/8.0" : kGooglebot;
    double t = 0;
    for (int i = 0; i < 40; ++i, t += delay(random)) lines.emplace_back(t, Line(address, t, agent));
  }
  std::stable_sort(lines.begin(), lines.end(),
                   [](const auto &a, const auto &b) { return a.first < b.first; });
  std::string log;
  for (const auto &line : lines) log += line.second;
  return log;
}

struct Replayed {
  int status = -1;
  std::string output, events, map;
};

Replayed Replay(const TempDir &dir, const std::string &resolver) {
  testing_support::WriteFile(dir.File("flowdeck.conf"),
                             "NginxMapFile = " + dir.File("shields.map") +
                                 "\nNginxReload = /bin/true\nNginxTest "
                                 "=\nNeverShield =\nResolver = " +
                                 resolver + "\n");
  testing_support::WriteFile(dir.File("access.log"), Traffic());
  std::filesystem::remove_all(dir.File("out"));
  Replayed run;
  testing_support::Port80 port80;
  run.status = testing_support::RunProgram(
      {FLOWDECK_BIN, "replay", "--apply", "--quiet", "--config", dir.File("flowdeck.conf"), "--out",
       dir.File("out"), "--plugin", FLOWDECK_PLUGIN_DIR, "--tripwires",
       FLOWDECK_EXAMPLES "/tripwires.cfg", dir.File("access.log")},
      run.output);
  run.events = ReadFile(dir.File("out/flowdeck-shields.log"));
  run.map = ReadFile(dir.File("shields.map"));
  return run;
}

// The raise line of an address, without its time.
std::string Raise(const std::string &events, const std::string &address) {
  std::smatch match;
  const std::regex line("(\\S+) raise pace " +
                        std::regex_replace(address, std::regex("\\."), "\\.") + " [^\n]*");
  return std::regex_search(events, match, line) ? match.str(0) : "";
}

TEST(VerifiedCrawlerCommand, AVerifiedCrawlerIsSparedAndFalseOnesAreShieldedAndMarked) {
  if (!DnsServer::Available()) GTEST_SKIP() << "dnsmasq is not installed (scripts/test-deps)";
  DnsServer dns;
  dns.AddReverse("127.0.0.81", "crawl-127-0-0-81.googlebot.com");
  dns.AddHost("crawl-127-0-0-81.googlebot.com", "127.0.0.81");
  dns.AddReverse("127.0.0.82", "host-82.example.net");
  dns.AddHost("host-82.example.net", "127.0.0.82");
  dns.AddReverse("127.0.0.83", "crawl-127-0-0-83.googlebot.com");
  dns.AddHost("crawl-127-0-0-83.googlebot.com", "127.0.0.99");
  ASSERT_TRUE(dns.Start()) << dns.Problem();
  TempDir dir;
  const Replayed run = Replay(dir, dns.Resolver());
  ASSERT_EQ(run.status, 0) << run.output;

  EXPECT_NE(run.events.find(" spare pace 127.0.0.81 localhost /api/price -> /sorry/price.htm "
                            "(verified googlebot)\n"),
            std::string::npos)
      << run.events;
  EXPECT_EQ(run.map.find("127.0.0.81"), std::string::npos) << run.map;
  EXPECT_NE(run.output.find("  spared: 127.0.0.81 localhost/api/price (verified googlebot)\n"),
            std::string::npos)
      << run.output;
  for (const char *address : {"127.0.0.82", "127.0.0.83"}) {
    const std::string raise = Raise(run.events, address);
    EXPECT_NE(raise.find("claims to be googlebot, is not"), std::string::npos) << address << "\n"
                                                                               << run.events;
    EXPECT_NE(run.map.find(address), std::string::npos) << address << "\n" << run.map;
  }
  EXPECT_NE(Raise(run.events, "127.0.0.82").find("host-82.example.net"), std::string::npos);
  EXPECT_NE(Raise(run.events, "127.0.0.83").find("does not give the address back"),
            std::string::npos)
      << Raise(run.events, "127.0.0.83");
  EXPECT_EQ(Raise(run.events, "127.0.0.84").find("claims"), std::string::npos);
  EXPECT_NE(run.output.find("search engines' crawlers: 1 shield(s) spared as verified, 2 acted "
                            "on as claiming a crawler they are not"),
            std::string::npos)
      << run.output;

  // A resolver that never answers: the crawlers' shields wait for their time limit and then act
  // as unverified; the shield that claimed nothing is raised when it was without DNS.
  const int silent = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length);
  TempDir quiet;
  const Replayed unanswered = Replay(quiet, "127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
  close(silent);
  ASSERT_EQ(unanswered.status, 0) << unanswered.output;
  EXPECT_EQ(Raise(unanswered.events, "127.0.0.84"), Raise(run.events, "127.0.0.84"))
      << unanswered.events;
  for (const char *crawler : {"127.0.0.81", "127.0.0.82", "127.0.0.83"}) {
    EXPECT_NE(Raise(unanswered.events, crawler).find("claims to be googlebot, is not"),
              std::string::npos)
        << crawler << "\n"
        << unanswered.events;
  }
}

}  // namespace
