#include "run/DistinctKeys.h"

#include <functional>

namespace host {

namespace {

uint64_t Fingerprint(std::string_view key) {
  const uint64_t hash = std::hash<std::string_view>{}(key);
  return hash == 0 ? 1 : hash;
}

}  // namespace

void DistinctKeys::Add(std::string_view key) {
  if (full_) return;
  const uint64_t fingerprint = Fingerprint(key);
  if (slots_.empty()) slots_.resize(1024);
  if (!Insert(fingerprint)) return;
  if (count_ > kMost) {
    count_ = kMost;
    full_ = true;
    slots_ = {};  // the count is final: the table is not needed any more
    return;
  }
  if (2 * count_ > slots_.size()) Grow();
}

bool DistinctKeys::Insert(uint64_t fingerprint) {
  const size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(fingerprint) & mask;; i = (i + 1) & mask) {
    if (slots_[i] == fingerprint) return false;
    if (slots_[i] == 0) {
      slots_[i] = fingerprint;
      ++count_;
      return true;
    }
  }
}

void DistinctKeys::Grow() {
  std::vector<uint64_t> old(slots_.size() * 2, 0);
  old.swap(slots_);
  count_ = 0;
  for (uint64_t fingerprint : old) {
    if (fingerprint != 0) Insert(fingerprint);
  }
}

}  // namespace host
