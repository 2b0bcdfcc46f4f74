// The crawl test as an operator meets it: a replay --apply of a log in which a scraper reads the
// site page after page, each delay drawn from 0.5 to 1.5 times ten seconds, shields its whole
// address once, marked crawl; a real nginx with the example snippets then answers every page
// of that address with the slow-down page and 429, while the person browsing beside it is
// served.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "FollowProcess.h"
#include "ShieldTesting.h"
#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/NginxServer.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using testing_support::ReadFile;

constexpr const char *kCrawler = "127.0.0.70";
constexpr const char *kPerson = "127.0.0.71";

std::string Line(const std::string &address, double seconds, const std::string &path) {
  const int s = static_cast<int>(seconds);
  char time[64];
  std::snprintf(time, sizeof time, "[07/Dec/2026:%02d:%02d:%02d +0000]", 12 + s / 3600, s / 60 % 60,
                s % 60);
  return address + " - - " + time + " \"GET " + path + " HTTP/1.1\" 200 512 \"-\" \"scraper\"\n";
}

// The scraper's 60 pages in time order, a person's pages with their assets in between.
std::string Traffic() {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> delay(5, 15);
  std::vector<std::pair<double, std::string>> lines;
  double t = 0;
  for (int page = 1; page <= 60; ++page, t += delay(random))
    lines.emplace_back(t, Line(kCrawler, t, "/shop/item-" + std::to_string(page) + ".html"));
  const double reading[] = {4, 31, 2, 95, 12, 7, 240, 3, 18, 60, 5, 33};
  t = 1;
  for (int page = 0; page < 12; t += reading[page++]) {
    lines.emplace_back(t, Line(kPerson, t, "/blog/post-" + std::to_string(page) + ".html"));
    lines.emplace_back(t + 0.2, Line(kPerson, t + 0.2, "/style.css"));
  }
  std::stable_sort(lines.begin(), lines.end(),
                   [](const auto &a, const auto &b) { return a.first < b.first; });
  std::string log;
  for (const auto &line : lines) log += line.second;
  return log;
}

TEST(CrawlShield, AReplayShieldsARandomizedScraperWholeAndNginxAnswersIt429) {
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  testing_support::NginxServer nginx;
  const std::string map = nginx.File("shields.map"), addressMap = nginx.File("address.map");
  testing_support::WriteFile(map, "");
  nginx.SetHttpLines(shield_testing::SnippetWith("nginx-shields-http.conf", map, addressMap));
  nginx.SetServerLines(shield_testing::ExampleWith("nginx-shields-server.conf",
                                                   "/usr/share/flowdeck/html", nginx.Root()));
  const std::string page = ReadFile(FLOWDECK_EXAMPLES "/flowdeck-slow-down.html");
  nginx.WritePage("/flowdeck-slow-down.html", page);
  nginx.WritePage("/shop/item-1.html", "item 1");
  ASSERT_TRUE(nginx.Start()) << nginx.Problem();

  testing_support::TempDir dir;
  testing_support::WriteFile(dir.File("flowdeck.conf"),
                             "NeverShield =\nNginxMapFile = " + map + "\nNginxAddressMapFile = " +
                                 addressMap + "\nNginxReload = " + nginx.ReloadCommand() +
                                 "\nNginxTest = " + nginx.TestCommand() + "\n");
  testing_support::WriteFile(dir.File("access.log"), Traffic());
  std::string output;
  {
    testing_support::Port80 port80;
    ASSERT_EQ(testing_support::RunProgram(
                  {FLOWDECK_BIN, "replay", "--apply", "--config", dir.File("flowdeck.conf"),
                   "--out", dir.File("out"), dir.File("access.log")},
                  output),
              0)
        << output;
  }
  const std::string events = ReadFile(dir.File("out/flowdeck-shields.log"));
  size_t raises = 0;
  for (size_t at = events.find(" raise "); at != std::string::npos;
       at = events.find(" raise ", at + 1)) {
    ++raises;
  }
  EXPECT_EQ(raises, 1u) << events;
  EXPECT_NE(events.find(" raise crawl 127.0.0.70 - - -> /flowdeck-slow-down.html until "),
            std::string::npos)
      << events;
  EXPECT_NE(events.find("(pages "), std::string::npos) << events;
  EXPECT_EQ(ReadFile(addressMap), "127.0.0.70 /flowdeck-slow-down.html;\n");
  EXPECT_EQ(ReadFile(map), "");

  // The map the replay wrote is in force in nginx: every page of the scraper slowed down (the
  // worker of the map before may answer a request or two until it is gone).
  testing_support::HttpResponse slowed;
  EXPECT_TRUE(shield_testing::WaitUntil(
      [&] {
        slowed = testing_support::HttpGet(kCrawler, nginx.Port(), "shop.test", "/shop/item-1.html");
        return slowed.status == 429 && slowed.body == page &&
               slowed.headers.find("Retry-After: 3600\r\n") != std::string::npos;
      },
      10))
      << slowed.status << "\n"
      << slowed.headers << slowed.body;
  EXPECT_EQ(testing_support::PageSeen(kPerson, nginx.Port(), "shop.test", "/shop/item-1.html"),
            "item 1");
  EXPECT_NE(output.find("crawl"), std::string::npos) << "the summary names it\n" << output;
}

}  // namespace
