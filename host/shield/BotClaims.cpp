#include "shield/BotClaims.h"

#include <array>
#include <stdexcept>

#include "AsciiCase.h"
#include "base/DidYouMean.h"
#include "base/Error.h"

namespace host {

namespace {

constexpr std::array<std::string_view, BotClaims::kCrawlers> kCrawlerNames = {
    "googlebot", "bingbot", "applebot", "yandexbot", "baiduspider", "duckduckbot"};
constexpr std::array<std::string_view, BotClaims::kCrawlers> kSettingNames = {
    "google", "bing", "apple", "yandex", "baidu", "duckduckgo"};

enum Crawler : uint8_t { kGoogle, kBing, kApple, kYandex, kBaidu, kDuckDuckGo };

struct Token {
  std::string_view word;  // lower case
  Crawler crawler;
};

// The user-agent tokens each operator documents for the crawlers it verifies by DNS or ranges:
//   Google: developers.google.com/search/docs/crawling-indexing/overview-google-crawlers
//     (common and special-case crawlers; the user-triggered fetchers are not crawlers)
//   Bing: www.bing.com/webmasters/help/which-crawlers-does-bing-use-8c184ec0
//   Apple: support.apple.com/en-us/119829 ("Applebot"; Applebot-Extended never fetches)
//   Yandex: yandex.com/support/webmaster/robot-workings/check-yandex-robots.html (the table of
//     robots in server logs)
//   Baidu: www.baidu.com/search/spider.html ("Baiduspider", "Baiduspider-render", ...)
//   DuckDuckGo: duckduckgo.com/duckduckgo-help-pages/results/duckduckbot
// A token is matched as the start of a word and must end there or at a non-alphanumeric
// character, so "Googlebot-Image/1.0" is googlebot's and "Googlebotx" nobody's.
constexpr Token kTokens[] = {
    {"googlebot", kGoogle},
    {"storebot-google", kGoogle},
    {"google-inspectiontool", kGoogle},
    {"googleother", kGoogle},
    {"google-cloudvertexbot", kGoogle},
    {"adsbot-google", kGoogle},
    {"mediapartners-google", kGoogle},
    {"apis-google", kGoogle},
    {"bingbot", kBing},
    {"msnbot", kBing},
    {"adidxbot", kBing},
    {"bingpreview", kBing},
    {"microsoftpreview", kBing},
    {"applebot", kApple},
    {"yandexbot", kYandex},
    {"yandeximages", kYandex},
    {"yandexmobilebot", kYandex},
    {"yandexaccessibilitybot", kYandex},
    {"yandexrenderresourcesbot", kYandex},
    {"yandexscreenshotbot", kYandex},
    {"yandexmobilescreenshotbot", kYandex},
    {"yandexmetrika", kYandex},
    {"yandexnews", kYandex},
    {"yandexvideo", kYandex},
    {"yandexvideoparser", kYandex},
    {"yandexmedia", kYandex},
    {"yandexwebmaster", kYandex},
    {"yandexfavicons", kYandex},
    {"yandexpagechecker", kYandex},
    {"yandeximageresizer", kYandex},
    {"yandexsitelinks", kYandex},
    {"yandexdirect", kYandex},
    {"yandexdirectdyn", kYandex},
    {"yandexmarket", kYandex},
    {"yandexblogs", kYandex},
    {"yandexcalendar", kYandex},
    {"yandexvertis", kYandex},
    {"yandexverticals", kYandex},
    {"yandexontodb", kYandex},
    {"yandexontodbapi", kYandex},
    {"yandexfordomain", kYandex},
    {"yandexsearchshop", kYandex},
    {"yandexspravbot", kYandex},
    {"yandextracker", kYandex},
    {"yandexadnet", kYandex},
    {"yandexpartner", kYandex},
    {"yandexuserproxy", kYandex},
    {"yandexturbo", kYandex},
    {"baiduspider", kBaidu},
    {"duckduckbot", kDuckDuckGo},
    {"duckassistbot", kDuckDuckGo},
};

// Every token holds one of these five stems; a user agent without any claims nothing. Browsers'
// user agents hold none of them, so they cost one pass of table look-ups.
constexpr uint32_t Stem(const char (&s)[4]) {
  return static_cast<uint32_t>(s[0]) << 16 | static_cast<uint32_t>(s[1]) << 8 |
         static_cast<uint32_t>(s[2]);
}
constexpr uint32_t kStems[] = {Stem("bot"), Stem("goo"), Stem("yan"), Stem("spi"), Stem("pre")};

constexpr size_t kTokenCount = sizeof kTokens / sizeof kTokens[0];

struct Tables {
  std::array<unsigned char, 256> lower{};
  std::array<bool, 256> stemStart{};
  std::array<bool, 256> alnum{};
  // The tokens by their first letter, so that a word start is compared with those alone.
  std::array<std::array<uint8_t, kTokenCount>, 26> byLetter{};
  std::array<uint8_t, 26> letterCount{};
};

constexpr Tables MakeTables() {
  Tables t;
  for (int c = 0; c < 256; ++c) {
    t.lower[c] = static_cast<unsigned char>(common::LowerAscii(static_cast<char>(c)));
    t.alnum[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  }
  for (uint32_t stem : kStems) {
    const unsigned char first = static_cast<unsigned char>(stem >> 16);
    t.stemStart[first] = true;
    t.stemStart[first - 'a' + 'A'] = true;
  }
  for (size_t i = 0; i < kTokenCount; ++i) {
    const size_t letter = static_cast<size_t>(kTokens[i].word[0] - 'a');
    t.byLetter[letter][t.letterCount[letter]++] = static_cast<uint8_t>(i);
  }
  return t;
}
constexpr Tables kTables = MakeTables();

unsigned char Byte(std::string_view text, size_t at) {
  return static_cast<unsigned char>(text[at]);
}

bool HasStem(std::string_view text) {
  for (size_t i = 0; i + 3 <= text.size(); ++i) {
    if (!kTables.stemStart[Byte(text, i)]) continue;
    const uint32_t three = static_cast<uint32_t>(kTables.lower[Byte(text, i)]) << 16 |
                           static_cast<uint32_t>(kTables.lower[Byte(text, i + 1)]) << 8 |
                           kTables.lower[Byte(text, i + 2)];
    for (uint32_t stem : kStems) {
      if (three == stem) return true;
    }
  }
  return false;
}

// Whether `word` (lower case) is at `at`, case ignored, ending at the text's end or at a
// character that is no letter or digit.
bool WordAt(std::string_view text, size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (kTables.lower[Byte(text, at + i)] != static_cast<unsigned char>(word[i])) return false;
  }
  const size_t end = at + word.size();
  return end == text.size() || !kTables.alnum[Byte(text, end)];
}

}  // namespace

std::string_view BotClaims::Crawler(size_t index) {
  return index < kCrawlers ? kCrawlerNames[index] : std::string_view();
}

size_t BotClaims::CrawlerIndex(std::string_view name) {
  for (size_t i = 0; i < kCrawlers; ++i) {
    if (kCrawlerNames[i] == name) return i;
  }
  return kCrawlers;
}

const std::vector<std::string> &BotClaims::SettingNames() {
  static const std::vector<std::string> names(kSettingNames.begin(), kSettingNames.end());
  return names;
}

const std::vector<std::string> &BotClaims::CrawlerNames() {
  static const std::vector<std::string> names(kCrawlerNames.begin(), kCrawlerNames.end());
  return names;
}

uint32_t BotClaims::ActiveCrawlers(std::string_view verifiedBots) {
  uint32_t active = 0;
  size_t at = 0;
  while (at < verifiedBots.size()) {
    const size_t start = verifiedBots.find_first_not_of(", \t", at);
    if (start == std::string_view::npos) break;
    size_t end = verifiedBots.find_first_of(", \t", start);
    if (end == std::string_view::npos) end = verifiedBots.size();
    const std::string_view name = verifiedBots.substr(start, end - start);
    size_t index = 0;
    while (index < kCrawlers && kSettingNames[index] != name) ++index;
    if (index == kCrawlers) {
      throw Error("VerifiedBots", "unknown crawler '" + std::string(name) +
                                      "' (known: google, bing, apple, yandex, baidu, duckduckgo)" +
                                      DidYouMean(name, SettingNames()));
    }
    active |= 1u << index;
    at = end;
  }
  return active;
}

BotClaims::BotClaims(const HostConfig &config)
    : active_(ActiveCrawlers(config.Get("VerifiedBots"))) {}

std::string_view BotClaims::Claimed(std::string_view userAgent) const {
  if (active_ == 0 || !HasStem(userAgent)) return {};
  for (size_t at = 0; at < userAgent.size(); ++at) {
    const bool wordStart = at == 0 || !kTables.alnum[Byte(userAgent, at - 1)];
    if (!wordStart || !kTables.alnum[Byte(userAgent, at)]) continue;
    const unsigned char first = kTables.lower[Byte(userAgent, at)];
    if (first < 'a' || first > 'z') continue;
    const size_t letter = first - 'a';
    for (size_t i = 0; i < kTables.letterCount[letter]; ++i) {
      const Token &token = kTokens[kTables.byLetter[letter][i]];
      if ((active_ >> token.crawler & 1u) == 0) continue;
      if (WordAt(userAgent, at, token.word)) return kCrawlerNames[token.crawler];
    }
  }
  return {};
}

}  // namespace host
