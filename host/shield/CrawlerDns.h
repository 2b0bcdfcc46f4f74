#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/IpAddress.h"

namespace host {

// Forward-confirmed reverse DNS through c-ares, on a thread of its own: the reverse (PTR) names
// of an address, the first of them that belongs to a crawler, and that name's A or AAAA records,
// which must hold the address again. The caller hands addresses over and goes on; each result
// comes back through a callback on the DNS thread.
class CrawlerDns {
 public:
  enum class Outcome {
    kConfirmed,    // the crawler's name gives the address back
    kNoName,       // no reverse name
    kForeignName,  // reverse names, none of them a crawler's
    kBadName,      // reverse names, none of them a host name
    kMismatch,     // the crawler's name does not give the address back
    kTimeout,      // no result within the time limit
    kError,        // the resolver failed otherwise
  };
  struct Result {
    IpAddress address;
    Outcome outcome = Outcome::kError;
    size_t crawler = 0;  // whose name it was: kConfirmed, kMismatch
    std::string name;    // the reverse name judged, cleaned, or shown safely for kBadName
    std::string detail;  // the resolver's error: kError
    double seconds = 0;  // from the start of the lookup
  };
  // The crawler a clean (lower-case, no trailing dot) host name belongs to, if any.
  using Owner = std::function<std::optional<size_t>(std::string_view name)>;
  using Done = std::function<void(Result)>;

  // A host name has at most 253 characters; an answer may carry many reverse names, of which
  // only the first few are looked at.
  static constexpr size_t kLongestName = 253;
  static constexpr size_t kNamesLooked = 8;

  // `servers` is c-ares's list ("127.0.0.1:5353", "[::1]:53"), empty for the system's resolver.
  // Throws Error when c-ares cannot start or does not take the servers.
  CrawlerDns(const std::string &servers, std::chrono::milliseconds timeLimit, Owner owner,
             Done done);
  // Ends the lookups under way without results.
  ~CrawlerDns();
  CrawlerDns(const CrawlerDns &) = delete;
  CrawlerDns &operator=(const CrawlerDns &) = delete;

  // Starts a lookup; returns at once.
  void Start(const IpAddress &address);
  // Lookups started and not ended, those given up at the time limit whose queries are still
  // out included: what a caller bounds.
  size_t Busy() const { return busy_.load(); }

  // A reverse name as an answer carries it, in lower case without its trailing dot; empty when
  // it is no host name (letters, digits, '-' in labels of 1 to 63, at most 253 in all).
  static std::string CleanName(std::string_view name);
  // A hostile name shown safely in a sentence: printable ASCII, at most 80 characters.
  static std::string Shown(std::string_view name);

  // What c-ares calls back; public only for its C callbacks.
  struct Lookup;
  void OnReverse(Lookup &lookup, int status, const unsigned char *answer, int length);
  void OnForward(Lookup &lookup, int status, const unsigned char *answer, int length);
  void OnSocket(int fd, bool readable, bool writable);

 private:
  void Loop();
  void Begin(const IpAddress &address);
  void Query(Lookup &lookup, const std::string &name, int type, bool forward);
  void Finish(Lookup &lookup, Outcome outcome, std::string name = {}, std::string detail = {});
  void GiveUpOverdue();
  void Sweep();
  int WaitMilliseconds();
  void Wake();

  std::chrono::milliseconds timeLimit_;
  Owner owner_;
  Done done_;
  void *channel_ = nullptr;  // ares_channel, used on the DNS thread only once it runs
  int wake_ = -1;            // an eventfd the caller writes when it hands work over

  std::mutex mutex_;
  std::vector<IpAddress> queued_;
  bool stopping_ = false;
  std::atomic<size_t> busy_{0};

  // The DNS thread's own.
  std::vector<std::unique_ptr<Lookup>> lookups_;
  std::map<int, std::pair<bool, bool>> sockets_;  // fd: wants to read, to write

  std::thread thread_;  // last: it starts once everything it uses exists
};

}  // namespace host
