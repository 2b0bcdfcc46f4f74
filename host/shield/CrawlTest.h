#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <flowdeck/plugin.h>

#include "Convert.h"
#include "base/HostConfig.h"
#include "shield/FollowedVisitors.h"
#include "shield/ShieldListener.h"

namespace host {

// A visitor's latest page requests, at most a window of them, oldest overwritten first: the
// distinct pages among them and the running sums of the gaps between them. Taking a request
// costs one pass over the window (to count distinct pages) and nothing else; the slots are
// allocated once, when the visitor is first seen.
struct PageRing {
  struct Page {
    uint64_t key = 0;  // of host and path, letter case ignored
    int64_t time = 0;  // UTC milliseconds
  };
  static_assert(sizeof(Page) == 16, "a page request takes 16 bytes of a visitor's window");
  // Gaps longer than this start the window afresh: the visitor would have been forgotten. It
  // also keeps the sums of squares well inside 64 bits (1000 gaps of 300 s: 9e13 ms²).
  static constexpr int64_t kLongestGap = 300'000;

  std::unique_ptr<Page[]> pages;
  uint16_t capacity = 0;
  uint16_t oldest = 0;      // the slot of the oldest page
  uint16_t count = 0;       // pages held
  uint16_t distinct = 0;    // distinct keys among them
  uint16_t fractional = 0;  // pages whose time has milliseconds: the log is not in seconds
  int64_t sum = 0;          // of the gaps between consecutive pages, milliseconds
  int64_t squares = 0;      // of those gaps squared

  explicit PageRing(size_t window);
  // Takes the next page request. One earlier than the latest (a line a little out of order)
  // is taken at the latest's time; one more than kLongestGap after it starts afresh.
  void Add(uint64_t key, int64_t time);
  void Clear();
  // The gaps' standard deviation over their mean; with every time in whole seconds, the
  // rounding's own variance (1/6 s²) taken off first, as the pace test does. Negative when
  // there is no spread to tell (no gap, or gaps of 0 on average).
  double Spread() const;
  double MeanGapSeconds() const;
  int64_t Newest() const { return pages[(oldest + count - 1) % capacity].time; }
};

// flowdeck's test of a visitor's whole traffic, beside the pace test of tripwired records: a
// crawler reads page after page of a site at a pace it sets itself (a fixed delay, a jittered
// one, a framework's 0.5 to 1.5 times a period), and touches no tripwire. Among its latest
// CrawlWindow page requests (a path that is no asset of CrawlAssetExtensions, answered with
// anything but a redirect), it asks for many distinct pages, which tells it from a feed
// reader or an uptime check polling a few; and its gaps scatter as little as the pace test's
// steady clients' do, which tells it from a person, whose gaps are heavy-tailed (reading,
// thinking, one long pause). Judged at each page request once the window holds CrawlMinPages
// distinct pages: a spread of at most CrawlMaxSpread judges it a crawler, once, until its
// shield lapses (then it starts afresh). The verdict is a shield of the whole address, source
// "crawl", which the keeper spares as any (NeverShield, the allow list, a verified crawler).
// A visitor is forgotten 300 s after its latest page request, as the plug-ins forget theirs.
class CrawlTest {
 public:
  enum class Mode { kOff, kAct, kReport };
  struct Settings {
    Mode mode = Mode::kAct;
    size_t window = 40;
    size_t minPages = 25;
    double maxSpread = 0.35;
    std::vector<std::string> assets;  // in lower case
    std::string deflect;

    // Throws Error for settings that cannot work together.
    static Settings Read(const HostConfig &config);
  };
  // Whether an address is shielded whole already: such a visitor is not judged.
  using ShieldedWhole = std::function<bool(std::string_view address)>;

  explicit CrawlTest(Settings settings, ShieldedWhole shieldedWhole = {});

  // A streamed request; `status` as logged (empty when the log holds none), `time` the log
  // line's (UTC milliseconds), `now` the run's.
  void Request(const flowdeck_text fields[FLOWDECK_FIELD_COUNT], std::string_view status,
               int64_t time, int64_t now);
  // At a shield cycle: forgets visitors gone quiet and hands over the crawlers judged since the
  // last cycle, each a whole-address shield request of source "crawl".
  std::vector<ShieldRequest> Cycle(int64_t now);
  // A shield of the address was lifted: for a whole-address shield its visitors start afresh,
  // judged again on the pages that come from now on.
  void Lapsed(std::string_view address, std::string_view host, std::string_view resource);
  // New settings; a new window starts every visitor afresh.
  void Reconfigure(Settings settings);

  bool Reporting() const { return settings_.mode == Mode::kReport; }
  bool IsPage(std::string_view path, std::string_view status) const;
  size_t Visitors() const { return visitors_.Size(); }

  struct Visitor {
    std::string remoteAddr;
    int64_t expires = 0;
    PageRing ring;
    bool judged = false;  // until its shield lapses, or it is forgotten
  };
  static_assert(sizeof(Visitor) <= 88, "a visitor's own part stays small");
  // What one visitor costs at most, its window and its entry in the table of visitors (the key
  // held in the entry, a next pointer and the cached hash) included; a visitor key longer than
  // the string's own buffer (15 characters: an IPv6 address, an address with its user agent)
  // adds its length. 88 + 16 x 40 + 48 = 776 bytes at the default window; with the allocator's
  // headers and the table's buckets 20,000 visitors measured 800 bytes each.
  static constexpr size_t BytesPerVisitor(size_t window) {
    return sizeof(Visitor) + window * sizeof(PageRing::Page) + sizeof(std::string) +
           2 * sizeof(void *);
  }

 private:
  // An extension of at most 16 letters and digits in lower case, packed in two words, zeros
  // after it: compared whole, as asked for every request.
  struct Packed {
    uint64_t low = 0, high = 0;
    bool operator==(const Packed &) const = default;
  };
  static Packed Pack(std::string_view extension);
  void PackAssets();
  static uint64_t PageKey(std::string_view host, std::string_view path);
  void Judge(Visitor &visitor);

  Settings settings_;
  std::vector<Packed> assets_;  // settings_.assets, packed
  ShieldedWhole shieldedWhole_;
  FollowedVisitors<Visitor> visitors_;
  std::vector<ShieldRequest> judged_;  // since the last cycle
};
static_assert(CrawlTest::BytesPerVisitor(40) <= 800, "a judged visitor holds under 800 bytes");

}  // namespace host
