#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace host {

// How many different visitor keys a run streamed to the monitor: the visitors of the run, which
// the monitor's own count (those it holds now) loses at every restart of the plug-ins. A key is
// kept as a 64-bit fingerprint in an open-addressed table (8 bytes a visitor, at most half
// full); after kMost visitors the count stops and says so, so that a long run stays bounded.
class DistinctKeys {
 public:
  static constexpr size_t kMost = 1'000'000;

  void Add(std::string_view key);
  // The keys seen, at most kMost.
  size_t Count() const { return count_; }
  // More keys came than kMost: Count() is a lower bound.
  bool Full() const { return full_; }

 private:
  bool Insert(uint64_t fingerprint);
  void Grow();

  std::vector<uint64_t> slots_;  // 0: empty
  size_t count_ = 0;
  bool full_ = false;
};

}  // namespace host
