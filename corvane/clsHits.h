#pragma once

#include <cstdint>
#include <vector>

#include "KvError.h"
#include "StreamFields.h"
#include "StringPool.h"
#include "clsHit.h"

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

  StringPool *pool_;
  // Below the cap the ring is a plain vector from head 0; at the cap it holds kCapacity slots
  // and turns.
  std::vector<clsHit::Record> ring_;
  size_t head_ = 0;
  int32_t count_ = 0;
  double firstArrival_ = 0;
  bool truncated_ = false;
};

}  // namespace corvane
