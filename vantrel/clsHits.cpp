#include "clsHits.h"

#include <algorithm>

#include "KvError.h"
#include "WriteTrace.h"

namespace vantrel {

namespace {

constexpr common::Site kSite{"  Class: Hits  ", "clsHits"};

// The gap PearsonsR takes between two consecutive hits, in milliseconds.
double GapBetween(const clsHit &earlier, double later) {
  return common::MillisecondsBetween(earlier.ArrivalSerial(), later);
}

}  // namespace

void clsHits::AddHit(HitAction action, double arrivalSerial) {
  common::Guard(kSite, "Sub: AddHit", [&] {
    const clsHit hit(action, arrivalSerial);
    if (hits_.empty() || arrivalSerial >= hits_.back().ArrivalSerial()) {
      if (!hits_.empty() && gapsCurrent_) gaps_.Add(GapBetween(hits_.back(), arrivalSerial));
      hits_.push_back(hit);
    } else {
      gapsCurrent_ = false;
      auto after = std::upper_bound(
          hits_.begin(), hits_.end(), arrivalSerial,
          [](double serial, const clsHit &held) { return serial < held.ArrivalSerial(); });
      hits_.insert(after, hit);
    }
    WriteTrace("\tHit Added");
  });
}

float clsHits::Correlation() const {
  return common::Guard(common::kGlobalSite, "Function: PearsonsR", [&] {
    if (Count() < 3) return 0.0f;
    if (!gapsCurrent_) {
      gaps_ = {};
      for (size_t i = 1; i < hits_.size(); ++i) {
        gaps_.Add(GapBetween(hits_[i - 1], hits_[i].ArrivalSerial()));
      }
      gapsCurrent_ = true;
    }
    return common::CorrelationOfGaps(gaps_);
  });
}

void clsHits::Clear() {
  common::Guard(kSite, "Sub: Clear", [&] {
    hits_.clear();
    gaps_ = {};
    gapsCurrent_ = true;
  });
}

void clsHits::Release() noexcept {
  std::vector<clsHit>().swap(hits_);
  gaps_ = {};
  gapsCurrent_ = true;
}

const clsHit &clsHits::InvalidPosition() {
  return common::Guard(kSite, "Function: Hit",
                       []() -> const clsHit & { common::Raise(kSite, common::kInvalidArgument); });
}

}  // namespace vantrel
