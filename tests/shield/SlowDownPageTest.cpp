// The example snippets answer flowdeck's slow-down page, the deflect of crawl shields and of
// shields by hand, with 429 Too Many Requests, a Retry-After and the page itself, in a real nginx
// and a real Apache: for a visitor whose whole address is shielded, on any page of any host,
// while every other visitor is served.
#include <gtest/gtest.h>

#include <filesystem>

#include "ShieldTesting.h"
#include "support/ApacheServer.h"
#include "support/HttpClient.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using testing_support::ReadFile;
using testing_support::WebServer;

constexpr const char *kShielded = "127.0.0.66";
constexpr const char *kOther = "127.0.0.67";
const std::string kPage = ReadFile(FLOWDECK_EXAMPLES "/flowdeck-slow-down.html");

// The snippet as the package installs it, with its maps and the page's directory in the
// server's prefix; the shielded address's line in the address map.
std::string Snippet(const WebServer &server, const std::string &name,
                    const std::string &addressLine) {
  const std::string html = server.File("flowdeck-html");
  std::filesystem::create_directories(html);
  std::filesystem::permissions(html, std::filesystem::perms(0755));
  testing_support::WriteFile(html + "/flowdeck-slow-down.html", kPage);
  testing_support::WriteFile(server.File("address.map"), addressLine);
  testing_support::WriteFile(server.File("shields.map"), "");
  std::string text =
      shield_testing::SnippetWith(name, server.File("shields.map"), server.File("address.map"));
  for (size_t at = text.find("/usr/share/flowdeck/html"); at != std::string::npos;
       at = text.find("/usr/share/flowdeck/html", at)) {
    text.replace(at, 24, html);
  }
  return text;
}

void ExpectSlowDown(const WebServer &server) {
  server.WritePage("/index.html", "the index");
  server.WritePage("/shop/cart.html", "the cart");
  for (const char *host : {"shop.test", "blog.test"}) {
    for (const char *target : {"/index.html", "/shop/cart.html?x=1", "/missing.html"}) {
      const testing_support::HttpResponse answer =
          testing_support::HttpGet(kShielded, server.Port(), host, target);
      EXPECT_EQ(answer.status, 429) << host << target << " " << answer.problem;
      EXPECT_EQ(answer.body, kPage) << host << target;
      EXPECT_NE(answer.headers.find("Retry-After: 3600\r\n"), std::string::npos)
          << host << target << "\n"
          << answer.headers;
    }
    EXPECT_EQ(testing_support::PageSeen(kOther, server.Port(), host, "/index.html"), "the index");
  }
}

TEST(SlowDownPage, NginxAnswersAWholeAddressShieldWith429AndRetryAfter) {
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  testing_support::NginxServer nginx;
  nginx.SetHttpLines(
      Snippet(nginx, "nginx-shields-http.conf", "\"127.0.0.66\" /flowdeck-slow-down.html;\n"));
  std::string server = shield_testing::ExampleWith(
      "nginx-shields-server.conf", "/usr/share/flowdeck/html", nginx.File("flowdeck-html"));
  nginx.SetServerLines(server);
  ASSERT_TRUE(nginx.Start()) << nginx.Problem();
  ExpectSlowDown(nginx);
}

TEST(SlowDownPage, ApacheAnswersAWholeAddressShieldWith429AndRetryAfter) {
  if (!testing_support::ApacheServer::Available()) {
    GTEST_SKIP() << "Apache with mod_rewrite is not installed";
  }
  testing_support::ApacheServer apache;
  apache.SetLines(Snippet(apache, "apache-shields.conf", "127.0.0.66 /flowdeck-slow-down.html\n"));
  ASSERT_TRUE(apache.Start()) << apache.Problem();
  ExpectSlowDown(apache);
}

}  // namespace
