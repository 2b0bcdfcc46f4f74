#pragma once

#include <cstdint>
#include <vector>

#include "KvError.h"
#include "StreamFields.h"
#include "StringPool.h"
#include "clsHit.h"
#include "modKvGlobal.h"

namespace corvane {

// The latest requests of one visitor in ascending arrival order, at most kCapacity of them. A
// ring: at the cap the oldest hit goes in constant time.
class clsHits {
 public:
  static constexpr int32_t kCapacity = 500;
  static constexpr common::Site kSite{"  Class: clsHists ", "clsHits"};

  explicit clsHits(StringPool &pool) noexcept : pool_(&pool) {}
  clsHits(const clsHits &) = delete;
  clsHits &operator=(const clsHits &) = delete;
  ~clsHits() { Clear(); }

  // True once the cap has dropped a hit.
  bool Truncated() const noexcept { return truncated_; }
  // The serial of the hit the list started with, whatever went since.
  double FirstArrival() const noexcept { return firstArrival_; }
  int32_t Count() const noexcept { return count_; }
  void Clear() noexcept;

  // What happened to the list, for those who keep something built from it: hits appended
  // after the last one and hits dropped at the front, counted since the list last changed in
  // any other way (cleared, started afresh, a hit placed before the last one).
  struct History {
    uint64_t layout = 0;
    uint64_t appended = 0;
    uint64_t dropped = 0;
    bool operator==(const History &) const = default;
  };
  const History &Changes() const noexcept { return history_; }

  // The correlation of the gaps between the hits, as common::PearsonsR gives it, from sums
  // kept current as hits come and go, so that a cycle need not walk every hit.
  float PearsonsR() const;

  // The hit at a position from 1 to Count; error 5 elsewhere.
  clsHit Hit(int32_t position) const {
    return common::Guard(kSite, "Function: Hit", [&] {
      if (position < 1 || position > count_) common::Raise(kSite, common::kInvalidArgument);
      return clsHit(At(position - 1), *pool_);
    });
  }

  // Records a request in serial order, dropping the oldest hit at the cap. With startAfresh
  // the old hits make way for it, but only once the new hit is ready: a failure leaves the
  // list as it was, never empty.
  void AddHit(const common::StreamFields &request, double serial, bool shielded, bool startAfresh);

 private:
  const clsHit::Record &At(int32_t index) const noexcept { return ring_[Slot(index)]; }
  clsHit::Record &At(int32_t index) noexcept { return ring_[Slot(index)]; }
  size_t Slot(int32_t index) const noexcept {
    size_t slot = head_ + static_cast<size_t>(index);
    return slot >= ring_.size() ? slot - ring_.size() : slot;
  }

  void MakeRoom();
  clsHit::Record MakeRecord(const common::StreamFields &request, double serial, bool shielded);
  void ReleaseTexts(const clsHit::Record &record) noexcept;
  void StartAfresh() noexcept;
  void DropOldest() noexcept;
  void Insert(const clsHit::Record &record) noexcept;
  void AddGap(double gap) noexcept;
  // Adds a gap to the sums, keeping count of the gaps as large as the largest.
  void CountGap(double gap) const noexcept;
  void RemoveFirstGap() noexcept;
  void ResetGaps() noexcept;
  void SumAllGaps() const noexcept;

  StringPool *pool_;
  // Below the cap the ring is a plain vector from head 0; at the cap it holds kCapacity slots
  // and turns.
  std::vector<clsHit::Record> ring_;
  size_t head_ = 0;
  int32_t count_ = 0;
  double firstArrival_ = 0;
  bool truncated_ = false;
  History history_;
  // Kept current only while every gap is a whole number of milliseconds small enough that
  // taking one away leaves exactly the sums of the rest; otherwise summed afresh when asked.
  mutable common::GapSums gaps_;
  mutable int32_t gapsAtLargest_ = 0;
  mutable bool gapsCurrent_ = true;
};

}  // namespace corvane
