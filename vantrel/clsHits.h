#pragma once

#include <cstdint>
#include <vector>

#include "clsHit.h"
#include "modKvGlobal.h"

namespace vantrel {

// The hits of one resource record in arrival-serial order; equal serials keep the order in which
// they came. The sums behind PearsonsR grow with every hit that arrives in order, so judging a
// record does not walk its hits again.
class clsHits {
 public:
  int32_t Count() const noexcept { return static_cast<int32_t>(hits_.size()); }

  // Position 1 is the earliest hit; a position outside 1 to Count is error 5.
  const clsHit &Hit(int32_t position) const {
    if (position < 1 || position > Count()) return InvalidPosition();
    return hits_[static_cast<size_t>(position - 1)];
  }

  void AddHit(HitAction action, double arrivalSerial);
  // PearsonsR of the hits, to the bit; 0 for fewer than three.
  float Correlation() const;
  void Clear();
  // Frees the memory of every hit: nothing reads the hits of a shielded record again.
  void Release() noexcept;

 private:
  // Raises error 5 as the lookup of a position that is not there.
  static const clsHit &InvalidPosition();

  std::vector<clsHit> hits_;
  // The gaps between consecutive hits, summed; redone in full after a hit came out of order.
  mutable common::GapSums gaps_;
  mutable bool gapsCurrent_ = true;
};

}  // namespace vantrel
