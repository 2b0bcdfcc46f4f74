#include "clsHits.h"

#include <algorithm>

#include "KvError.h"
#include "WriteTrace.h"

namespace vantrel {

namespace {

constexpr common::Site kSite{"  Class: Hits  ", "clsHits"};

// The gap PearsonsR takes between two consecutive hits, in milliseconds.
double GapBetween(const clsHit &earlier, const clsHit &later) {
  return common::MillisecondsBetween(earlier.ArrivalSerial(), later.ArrivalSerial());
}

}  // namespace

void clsHits::AddHit(HitAction action, double arrivalSerial) {
  common::Guard(kSite, "Sub: AddHit", [&] {
    const clsHit hit(action, arrivalSerial);
    if (Count() < kKeptHits) {
      Insert(hit);
    } else {
      ReplaceEarliest(hit);
    }
    WriteTrace("\tHit Added");
  });
}

void clsHits::Insert(const clsHit &hit) {
  if (ring_.empty() || hit.ArrivalSerial() >= ring_.back().ArrivalSerial()) {
    if (!ring_.empty() && gapsCurrent_) gaps_.Add(GapBetween(ring_.back(), hit));
    ring_.push_back(hit);
    return;
  }
  gapsCurrent_ = false;
  const auto after = std::upper_bound(
      ring_.begin(), ring_.end(), hit.ArrivalSerial(),
      [](double serial, const clsHit &held) { return serial < held.ArrivalSerial(); });
  ring_.insert(after, hit);
}

// The earliest hit's slot becomes the last of the ring, and the hits later than the new one
// move up into it.
void clsHits::ReplaceEarliest(const clsHit &hit) noexcept {
  if (hit.ArrivalSerial() < At(0).ArrivalSerial()) return;  // earlier than every hit kept
  gapsCurrent_ = false;
  head_ = head_ + 1 == ring_.size() ? 0 : head_ + 1;
  int32_t index = kKeptHits - 1;
  for (; index > 0 && At(index - 1).ArrivalSerial() > hit.ArrivalSerial(); --index) {
    At(index) = At(index - 1);
  }
  At(index) = hit;
}

float clsHits::Correlation() const {
  return common::Guard(common::kGlobalSite, "Function: PearsonsR", [&] {
    if (Count() < 3) return 0.0f;
    if (!gapsCurrent_) {
      gaps_ = {};
      for (int32_t i = 1; i < Count(); ++i) gaps_.Add(GapBetween(At(i - 1), At(i)));
      gapsCurrent_ = true;
    }
    return common::CorrelationOfGaps(gaps_);
  });
}

void clsHits::Clear() {
  common::Guard(kSite, "Sub: Clear", [&] {
    ring_.clear();
    head_ = 0;
    gaps_ = {};
    gapsCurrent_ = true;
  });
}

void clsHits::Release() noexcept {
  std::vector<clsHit>().swap(ring_);
  head_ = 0;
  gaps_ = {};
  gapsCurrent_ = true;
}

const clsHit &clsHits::InvalidPosition() {
  return common::Guard(kSite, "Function: Hit",
                       []() -> const clsHit & { common::Raise(kSite, common::kInvalidArgument); });
}

}  // namespace vantrel
