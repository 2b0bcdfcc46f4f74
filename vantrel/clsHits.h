#pragma once

#include <cstdint>
#include <vector>

#include "clsHit.h"
#include "modKvGlobal.h"

namespace vantrel {

// The latest hits of one resource record in arrival-serial order; equal serials keep the order
// in which they came. The sums behind PearsonsR grow with every hit that arrives in order, so
// judging a record does not walk its hits again.
class clsHits {
 public:
  // A record keeps at most this many hits: the largest number of hits a tripwire can require
  // (a 16-bit count), so the hit test answers as if every hit were kept. Past it the earliest
  // hit makes way for each new one, in constant time: a flood on one resource holds half a
  // megabyte at most, and the correlation of such a record, like the HITS its shield reports,
  // covers its latest kKeptHits hits only.
  static constexpr int32_t kKeptHits = 32767;

  int32_t Count() const noexcept { return static_cast<int32_t>(ring_.size()); }

  // Position 1 is the earliest hit kept; a position outside 1 to Count is error 5.
  const clsHit &Hit(int32_t position) const {
    if (position < 1 || position > Count()) return InvalidPosition();
    return At(position - 1);
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

  const clsHit &At(int32_t index) const noexcept { return ring_[Slot(index)]; }
  clsHit &At(int32_t index) noexcept { return ring_[Slot(index)]; }
  size_t Slot(int32_t index) const noexcept {
    const size_t slot = head_ + static_cast<size_t>(index);
    return slot >= ring_.size() ? slot - ring_.size() : slot;
  }
  void Insert(const clsHit &hit);
  void ReplaceEarliest(const clsHit &hit) noexcept;

  // Below the cap a plain vector from head 0; at the cap it holds kKeptHits hits and turns.
  std::vector<clsHit> ring_;
  size_t head_ = 0;
  // The gaps between consecutive hits, summed; redone in full after a hit came out of order or
  // the earliest one went.
  mutable common::GapSums gaps_;
  mutable bool gapsCurrent_ = true;
};

}  // namespace vantrel
