#include "shield/CrawlTest.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "AsciiCase.h"
#include "StreamFields.h"
#include "base/Error.h"
#include "shield/ShieldValues.h"

namespace host {

namespace {

// The variance of the difference of two whole-second roundings: 1/6 s², in milliseconds².
constexpr double kRoundingVariance = 1e6 / 6;
// A visitor is forgotten this long after its latest page request, as the plug-ins forget one.
constexpr int64_t kVisitorLifetime = 300'000;

std::string_view View(const flowdeck_text &text) {
  return {text.data, text.size};
}

// What the test judged, for the event log, the summary and the report.
std::string Figures(const PageRing &ring) {
  char text[128];
  std::snprintf(text, sizeof text, "pages %u of the latest %u, mean gap %.3f s, spread %.3f",
                static_cast<unsigned>(ring.distinct), static_cast<unsigned>(ring.count),
                ring.MeanGapSeconds(), ring.Spread());
  return text;
}

}  // namespace

PageRing::PageRing(size_t window)
    : pages(std::make_unique<Page[]>(window)), capacity(static_cast<uint16_t>(window)) {}

void PageRing::Clear() {
  oldest = count = distinct = fractional = 0;
  sum = squares = 0;
}

void PageRing::Add(uint64_t key, int64_t time) {
  if (count > 0) {
    const int64_t newest = Newest();
    if (time - newest > kLongestGap) Clear();
    time = std::max(time, newest);
  }
  // One pass: is the page leaving the window held elsewhere in it, is the new one held at all?
  bool leavingKept = false, arrivingHeld = false;
  const bool full = count == capacity;
  const Page leaving = full ? pages[oldest] : Page{};
  for (uint16_t i = full ? 1 : 0; i < count; ++i) {
    const uint64_t held = pages[(oldest + i) % capacity].key;
    leavingKept = leavingKept || held == leaving.key;
    arrivingHeld = arrivingHeld || held == key;
  }
  if (full) {
    const int64_t gap = pages[(oldest + 1) % capacity].time - leaving.time;
    sum -= gap;
    squares -= gap * gap;
    if (!leavingKept) --distinct;
    if (leaving.time % 1000 != 0) --fractional;
    oldest = static_cast<uint16_t>((oldest + 1) % capacity);
    --count;
  }
  if (count > 0) {
    const int64_t gap = time - Newest();
    sum += gap;
    squares += gap * gap;
  }
  if (!arrivingHeld) ++distinct;
  if (time % 1000 != 0) ++fractional;
  pages[(oldest + count) % capacity] = Page{key, time};
  ++count;
}

double PageRing::Spread() const {
  if (count < 2 || sum <= 0) return -1;
  // In whole numbers as far as they go: n x squares - sum² is exact within 64 bits.
  const int64_t gaps = count - 1;
  const double mean = static_cast<double>(sum) / static_cast<double>(gaps);
  double variance = static_cast<double>(gaps * squares - sum * sum) /
                    (static_cast<double>(gaps) * static_cast<double>(gaps));
  if (fractional == 0) variance -= kRoundingVariance;
  return std::sqrt(std::max(variance, 0.0)) / mean;
}

double PageRing::MeanGapSeconds() const {
  return count < 2 ? 0 : static_cast<double>(sum) / (count - 1) / 1000;
}

CrawlTest::Settings CrawlTest::Settings::Read(const HostConfig &config) {
  Settings settings;
  const std::string &mode = config.Get("CrawlTest");
  settings.mode = mode == "Report"                 ? Mode::kReport
                  : config.GetBoolean("CrawlTest") ? Mode::kAct
                                                   : Mode::kOff;
  settings.window = static_cast<size_t>(config.GetInteger("CrawlWindow"));
  settings.minPages = static_cast<size_t>(config.GetInteger("CrawlMinPages"));
  if (settings.minPages > settings.window) {
    throw Error("CrawlMinPages (" + std::to_string(settings.minPages) +
                    ") is more than CrawlWindow (" + std::to_string(settings.window) + ")",
                "no window could hold that many distinct pages");
  }
  const std::string &spread = config.Get("CrawlMaxSpread");
  settings.maxSpread =
      std::strtod((spread.empty() ? config.Get("PaceMaxSpread") : spread).c_str(), nullptr);
  for (std::string word : HostConfig::Words(config.Get("CrawlAssetExtensions"))) {
    common::LowerAsciiInPlace(word);
    settings.assets.push_back(std::move(word));
  }
  settings.deflect = config.Get("CrawlDeflect");
  std::string why = settings.deflect.empty() ? "a crawl shield needs a deflect"
                                             : ShieldValues::DeflectRefusal(settings.deflect);
  if (!why.empty()) throw Error::Setting("CrawlDeflect", settings.deflect, why);
  return settings;
}

CrawlTest::CrawlTest(Settings settings, ShieldedWhole shieldedWhole)
    : settings_(std::move(settings)), shieldedWhole_(std::move(shieldedWhole)) {
  PackAssets();
}

void CrawlTest::Reconfigure(Settings settings) {
  if (settings.window != settings_.window)
    visitors_.All().clear();  // their windows are another size
  settings_ = std::move(settings);
  PackAssets();
}

CrawlTest::Packed CrawlTest::Pack(std::string_view extension) {
  Packed packed;
  for (size_t i = 0; i < extension.size() && i < 16; ++i) {
    const auto byte =
        static_cast<uint64_t>(static_cast<unsigned char>(common::LowerAscii(extension[i])));
    (i < 8 ? packed.low : packed.high) |= byte << (8 * (i % 8));
  }
  return packed;
}

void CrawlTest::PackAssets() {
  assets_.clear();
  for (const std::string &asset : settings_.assets) assets_.push_back(Pack(asset));
}

bool CrawlTest::IsPage(std::string_view path, std::string_view status) const {
  if (status.size() == 3 && status[0] == '3') return false;  // a redirect: the page comes next
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return true;
  const std::string_view extension = name.substr(dot + 1);
  // No listed extension is longer, or holds a zero byte (which packs as the padding does).
  if (extension.empty() || extension.size() > HostConfig::kLongestExtension ||
      extension.find('\0') != std::string_view::npos)
    return true;
  const Packed wanted = Pack(extension);
  return std::find(assets_.begin(), assets_.end(), wanted) == assets_.end();
}

uint64_t CrawlTest::PageKey(std::string_view host, std::string_view path) {
  // Two texts hashed apart and mixed, as the pace test keys its records.
  return common::HashIgnoreCase(host) * 0x9E3779B97F4A7C15ull ^ common::HashIgnoreCase(path);
}

void CrawlTest::Request(const flowdeck_text fields[FLOWDECK_FIELD_COUNT], std::string_view status,
                        int64_t time, int64_t now) {
  using namespace common;
  const std::string_view path = View(fields[kPathInfo]);
  if (!IsPage(path, status)) return;
  // A visitor seen before costs no copy and no allocation.
  Visitor &visitor = visitors_.FindOrAdd(View(fields[kKey]), View(fields[kRemoteAddr]), [&] {
    return Visitor{{}, 0, PageRing(settings_.window), false};
  });
  visitor.expires = now + kVisitorLifetime;
  if (visitor.judged) return;
  visitor.ring.Add(PageKey(View(fields[kServerName]), path), time);
  if (visitor.ring.distinct >= settings_.minPages) Judge(visitor);
}

void CrawlTest::Judge(Visitor &visitor) {
  const double spread = visitor.ring.Spread();
  if (spread < 0 || spread > settings_.maxSpread) return;
  // Asked only of a visitor that looks a crawler, which is rare; its shield's lapse starts it
  // afresh as any.
  visitor.judged = true;
  if (shieldedWhole_ && shieldedWhole_(visitor.remoteAddr)) return;
  ShieldRequest shield;
  shield.address = visitor.remoteAddr;
  shield.deflect = settings_.deflect;
  shield.source = "crawl";
  shield.figures = Figures(visitor.ring);
  judged_.push_back(std::move(shield));
}

std::vector<ShieldRequest> CrawlTest::Cycle(int64_t now) {
  // Gone quiet: its expiry at least a second in the past, as the plug-ins purge.
  std::erase_if(visitors_.All(),
                [&](const auto &entry) { return now - entry.second.expires >= 1000; });
  std::vector<ShieldRequest> judged = std::move(judged_);
  judged_.clear();
  return judged;
}

void CrawlTest::Lapsed(std::string_view address, std::string_view host, std::string_view resource) {
  if (!host.empty() || !resource.empty()) return;  // a crawl shield is of the whole address
  visitors_.ForVisitorsOf(address, [](Visitor &visitor) {
    // The pages before the lift were judged already: only those after it count.
    visitor.ring.Clear();
    visitor.judged = false;
  });
}

}  // namespace host
