#pragma once

#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/AddressRanges.h"
#include "base/HostConfig.h"
#include "base/IpAddress.h"
#include "shield/CrawlerDns.h"

namespace host {

// Whether an address is a real search-engine crawler, verified the way each operator documents
// it: the address's reverse name lies in the operator's published domains and gives the address
// back (CrawlerDns), or the address lies in the ranges the operator publishes (VerifiedBotRanges).
// The verdict is the address's, whatever its user agent claims: an address verified as bingbot
// is spared even when it claims to be googlebot, and one that claims nothing is still looked up.
//
// Lookups run on the DNS thread; Check answers from the cache or says kPending and is asked
// again later. Successes are kept a day and failures an hour, by the caller's clock.
class BotVerifier {
 public:
  enum class Verdict { kPending, kVerified, kFailed };
  struct Answer {
    Verdict verdict;
    std::string bot;  // the crawler verified ("googlebot"), or claimed when not verified
    std::string why;  // "reverse name crawl-1.example.com is not googlebot's"
  };
  struct Counts {
    uint64_t lookups = 0;     // DNS lookups started
    uint64_t cacheHits = 0;   // answers from the cache
    uint64_t verified = 0;    // lookups that verified their address
    uint64_t failed = 0;      // lookups that did not, timeouts included
    uint64_t timeouts = 0;    // lookups given up at the time limit
    double secondsTotal = 0;  // the time of all lookups ended
    uint64_t inRanges = 0;    // answers from VerifiedBotRanges, without DNS
    uint64_t refused = 0;     // addresses that are none, never looked up
  };

  static constexpr size_t kCacheLimit = 100000;     // answers kept; the oldest go first
  static constexpr size_t kInFlightLimit = 64;      // lookups under way at once
  static constexpr int64_t kVerifiedMs = 86400000;  // a success is kept a day
  static constexpr int64_t kFailedMs = 3600000;     // a failure an hour
  // The ranges file: at most this many bytes and lines.
  static constexpr size_t kRangesFileBytes = 4 << 20;
  static constexpr size_t kRangesFileLines = 100000;

  // Reads VerifiedBots, VerifiedBotRanges (the file, now) and Resolver. Throws
  // Error naming the setting for a value it cannot use.
  explicit BotVerifier(const HostConfig &config,
                       std::chrono::milliseconds timeLimit = std::chrono::milliseconds(2000));
  ~BotVerifier();
  BotVerifier(const BotVerifier &) = delete;
  BotVerifier &operator=(const BotVerifier &) = delete;

  // Never blocks: answers from the ranges or the cache, or starts a lookup and answers kPending.
  // `claimed` is the crawler the user agent claims to be (BotClaims), possibly empty; it only
  // shapes the answer's text.
  Answer Check(const std::string &address, std::string_view claimed, int64_t nowMs);
  // Takes changed settings; the ranges file is read again. The cache and the lookups under way
  // are kept unless VerifiedBots or Resolver changed. Throws Error, changing
  // nothing, for a value it cannot use.
  void Reconfigure(const HostConfig &config);
  Counts Stats() const;

  // The c-ares server list of a Resolver value ("127.0.0.1:5353", "[::1]:53"), empty for
  // empty; throws Error for one that is no ADDRESS[:PORT].
  static std::string ResolverServers(const std::string &resolver);

 private:
  struct Settings {
    uint32_t active = 0;
    std::string servers;
    std::vector<std::pair<size_t, AddressRanges>> ranges;  // crawler, its published ranges
  };
  struct Key {
    uint64_t high, low;
    bool operator==(const Key &) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key &key) const;
  };
  struct Entry {
    CrawlerDns::Outcome outcome;
    size_t crawler;
    std::string name, detail;
    int64_t expiresMs;
    std::list<Key>::iterator age;
  };

  static Settings Read(const HostConfig &config);
  static std::vector<std::pair<size_t, AddressRanges>> ReadRanges(const std::string &path);
  std::unique_ptr<CrawlerDns> MakeDns(const Settings &settings, uint64_t generation);
  std::optional<size_t> Owner(std::string_view name, uint32_t active) const;
  void Deliver(uint64_t generation, CrawlerDns::Result result);
  Answer Told(const Entry &entry, std::string_view claimed) const;
  void Forget(const Key &key);

  const std::chrono::milliseconds timeLimit_;

  mutable std::mutex mutex_;
  Settings settings_;
  uint64_t generation_ = 0;  // results of a resolver replaced since are dropped
  std::unordered_map<Key, Entry, KeyHash> cache_;
  std::list<Key> ages_;                                // oldest first
  std::unordered_map<Key, int64_t, KeyHash> pending_;  // asked at (caller's ms)
  Counts counts_;

  std::unique_ptr<CrawlerDns> dns_;  // last: its thread ends before what it calls into
};

}  // namespace host
