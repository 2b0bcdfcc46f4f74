#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/HostConfig.h"

namespace host {

// The search-engine crawler a user agent claims to be, for every request. A claim proves
// nothing (anybody can send "Googlebot"); it only tells flowdeck to verify the address before
// it shields it (BotVerifier).
//
// A claim is one of the tokens each operator documents for its crawlers, found case-insensitively
// as a word of its own: "notgooglebot" claims nothing, "compatible; Googlebot/2.1" and
// "+http://example.com/like-googlebot" both claim googlebot. Erring towards a claim costs one
// verification; a claim missed would let a real crawler be shielded.
class BotClaims {
 public:
  // The crawlers, in the order of both name lists below.
  static constexpr size_t kCrawlers = 6;
  // "googlebot", "bingbot", "applebot", "yandexbot", "baiduspider", "duckduckbot".
  static std::string_view Crawler(size_t index);
  // The index of a crawler's name, or kCrawlers.
  static size_t CrawlerIndex(std::string_view name);
  // The names VerifiedBots takes: "google", "bing", "apple", "yandex", "baidu", "duckduckgo".
  static const std::vector<std::string> &SettingNames();
  static const std::vector<std::string> &CrawlerNames();
  // The crawlers a VerifiedBots value turns on, one bit per index; empty turns all off.
  // Throws Error naming the setting for a name it does not know.
  static uint32_t ActiveCrawlers(std::string_view verifiedBots);

  // Throws Error for a VerifiedBots value it cannot use.
  explicit BotClaims(const HostConfig &config);
  explicit BotClaims(uint32_t active) : active_(active) {}

  // The active crawler the user agent claims to be, or empty. Most user agents claim none and
  // are turned away by one pass over their bytes.
  std::string_view Claimed(std::string_view userAgent) const;
  uint32_t Active() const { return active_; }

 private:
  uint32_t active_;
};

}  // namespace host
