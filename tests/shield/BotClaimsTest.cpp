// The crawler a user agent claims to be, from the user agents the crawlers really send.
#include "shield/BotClaims.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using host::BotClaims;

const uint32_t kAll = BotClaims::ActiveCrawlers("google, bing, apple, yandex, baidu, duckduckgo");

TEST(BotClaims, NamesTheCrawlerOfEachOperatorsDocumentedUserAgents) {
  const BotClaims claims(kAll);
  const std::pair<const char *, const char *> agents[] = {
      {"Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)", "googlebot"},
      {"Mozilla/5.0 (Linux; Android 6.0.1; Nexus 5X Build/MMB29P) AppleWebKit/537.36 (KHTML, "
       "like Gecko) Chrome/120.0.6099.216 Mobile Safari/537.36 (compatible; Googlebot/2.1; "
       "+http://www.google.com/bot.html)",
       "googlebot"},
      {"Googlebot-Image/1.0", "googlebot"},
      {"Mozilla/5.0 (compatible; Google-InspectionTool/1.0;)", "googlebot"},
      {"Mozilla/5.0 (Linux; Android 6.0.1; Nexus 5X) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/99.0.4844.84 Mobile Safari/537.36 (compatible; AdsBot-Google-Mobile; "
       "+http://www.google.com/mobile/adsbot.html)",
       "googlebot"},
      {"Mediapartners-Google", "googlebot"},
      {"GoogleOther", "googlebot"},
      {"Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko; compatible; bingbot/2.0; "
       "+http://www.bing.com/bingbot.htm) Chrome/116.0.1938.76 Safari/537.36",
       "bingbot"},
      {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/112.0.0.0 Safari/537.36 Edg/112.0.1722.48 BingPreview/1.0b",
       "bingbot"},
      {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like "
       "Gecko) Version/17.4 Safari/605.1.15 (Applebot/0.1; +http://www.apple.com/go/applebot)",
       "applebot"},
      {"Mozilla/5.0 (compatible; YandexBot/3.0; +http://yandex.com/bots)", "yandexbot"},
      {"Mozilla/5.0 (compatible; YandexImages/3.0; +http://yandex.com/bots)", "yandexbot"},
      {"Mozilla/5.0 (compatible; YandexAccessibilityBot/3.0; +http://yandex.com/bots)",
       "yandexbot"},
      {"Mozilla/5.0 (compatible; Baiduspider/2.0; +http://www.baidu.com/search/spider.html)",
       "baiduspider"},
      {"Mozilla/5.0 (iPhone;CPU iPhone OS 9_1 like Mac OS X) AppleWebKit/601.1.46 (KHTML, like "
       "Gecko)Version/9.0 Mobile/13B143 Safari/601.1 (compatible; Baiduspider-render/2.0; "
       "+http://www.baidu.com/search/spider.html)",
       "baiduspider"},
      {"DuckDuckBot/1.1; (+http://duckduckgo.com/duckduckbot.html)", "duckduckbot"},
      {"DuckAssistBot/1.2; (+http://duckduckgo.com/duckassistbot.html)", "duckduckbot"},
      // Case does not matter, and a token after a hyphen or in a link is still a claim.
      {"GOOGLEBOT/2.1", "googlebot"},
      {"SiteAuditor/1.0 (+http://example.com/like-googlebot)", "googlebot"},
  };
  for (const auto &[agent, crawler] : agents) EXPECT_EQ(claims.Claimed(agent), crawler) << agent;
}

TEST(BotClaims, BrowsersAndLookAlikesClaimNothing) {
  const BotClaims claims(kAll);
  for (const char *agent : {
           "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
           "Chrome/120.0.0.0 Safari/537.36",
           "Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0",
           "Mozilla/5.0 (iPhone; CPU iPhone OS 17_2 like Mac OS X) AppleWebKit/605.1.15 (KHTML, "
           "like Gecko) Version/17.2 Mobile/15E148 Safari/604.1",
           "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
           "Chrome/118.0.0.0 YaBrowser/23.11.0.0 Safari/537.36",
           "Mozilla/5.0 (Linux; Android 14; Google Pixel 8) AppleWebKit/537.36 (KHTML, like "
           "Gecko) Chrome/120.0.0.0 Mobile Safari/537.36",
           "curl/8.5.0",
           "",
           "bot",
           // A token inside a longer word is no claim.
           "notgooglebot/1.0",
           "Googlebotx/1.0",
           "MyBingbotClone/2.0",
           "YandexSearch/8.10 (Linux; Android 13)",
           "Mozilla/5.0 (compatible; AhrefsBot/7.0; +http://ahrefs.com/robot/)",
           "Mozilla/5.0 (compatible; Googl ebot/2.1)",
       }) {
    EXPECT_EQ(claims.Claimed(agent), "") << agent;
  }
}

TEST(BotClaims, VerifiedBotsChoosesTheCrawlersAndRefusesUnknownNames) {
  const char *google = "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)";
  const char *bing = "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)";
  const BotClaims bingOnly(BotClaims::ActiveCrawlers(" bing "));
  EXPECT_EQ(bingOnly.Claimed(google), "");
  EXPECT_EQ(bingOnly.Claimed(bing), "bingbot");
  const BotClaims none(BotClaims::ActiveCrawlers(""));
  EXPECT_EQ(none.Claimed(google), "");
  EXPECT_EQ(BotClaims::ActiveCrawlers("google,bing\tapple"), 7u);
  EXPECT_EQ(BotClaims::ActiveCrawlers(", ,"), 0u);

  host::HostConfig config;  // the default turns every crawler on
  EXPECT_EQ(BotClaims(config).Active(), kAll);
  EXPECT_EQ(BotClaims(config).Claimed(google), "googlebot");
  config.Set("VerifiedBots", "google, gogle", "test");
  try {
    BotClaims claims(config);
    FAIL() << "an unknown crawler was taken";
  } catch (const std::runtime_error &error) {
    const std::string text = error.what();
    EXPECT_NE(text.find("VerifiedBots: unknown crawler 'gogle'"), std::string::npos) << text;
    EXPECT_NE(text.find("did you mean 'google'?"), std::string::npos) << text;
  }
}

}  // namespace
