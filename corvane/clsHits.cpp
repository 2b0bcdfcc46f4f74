#include "clsHits.h"

#include <algorithm>
#include <cmath>

#include "modCorvane.h"

namespace corvane {

using common::StreamField;

namespace {

// 500 squares of gaps up to this many milliseconds (37 hours) stay below 2^63: sums of them
// are exact in a long double, so they can be taken apart again.
constexpr double kLargestExactGap = double{1 << 27};

double GapBetween(const clsHit::Record &earlier, const clsHit::Record &later) noexcept {
  return common::MillisecondsBetween(earlier.arrivalSerial, later.arrivalSerial);
}

bool ExactGap(double gap) noexcept {
  return gap >= 0 && gap <= kLargestExactGap && gap == std::floor(gap);
}

}  // namespace

void clsHits::Clear() noexcept {
  for (const clsHit::Record &record : ring_) ReleaseTexts(record);
  ring_.clear();
  head_ = 0;
  count_ = 0;
  history_ = {history_.layout + 1, 0, 0};
  ResetGaps();
}

void clsHits::AddHit(const common::StreamFields &request, double serial, bool shielded,
                     bool startAfresh) {
  common::Guard(kSite, "Sub: AddHit", [&] {
    WriteTrace("Adding Hit");
    if (!startAfresh) MakeRoom();
    const clsHit::Record record = MakeRecord(request, serial, shielded);
    // Nothing below can fail.
    if (startAfresh) StartAfresh();
    if (count_ == 0) firstArrival_ = serial;
    if (count_ >= kCapacity) DropOldest();
    Insert(record);
  });
}

// Below the cap the vector grows by doubling, but never past the cap.
void clsHits::MakeRoom() {
  if (ring_.size() < ring_.capacity() || ring_.size() >= static_cast<size_t>(kCapacity)) return;
  ring_.reserve(std::min<size_t>(kCapacity, std::max<size_t>(4, 2 * ring_.capacity())));
}

clsHit::Record clsHits::MakeRecord(const common::StreamFields &request, double serial,
                                   bool shielded) {
  // A visitor's requests tend to repeat the texts of the one before.
  const clsHit::Record last = count_ > 0 ? At(count_ - 1) : clsHit::Record{};
  clsHit::Record record;
  record.arrivalSerial = serial;
  record.shielded = shielded;
  try {
    record.action = pool_->InternLike(last.action, request[StreamField::kAction]);
    record.pathInfo = pool_->InternLike(last.pathInfo, request[StreamField::kPathInfo]);
    record.pathTranslated =
        pool_->InternLike(last.pathTranslated, request[StreamField::kPathTranslated]);
    record.queryString = pool_->InternLike(last.queryString, request[StreamField::kQueryString]);
    record.serverPort = pool_->InternLike(last.serverPort, request[StreamField::kServerPort]);
  } catch (...) {
    ReleaseTexts(record);
    throw;
  }
  return record;
}

void clsHits::ReleaseTexts(const clsHit::Record &record) noexcept {
  pool_->Release(record.action);
  pool_->Release(record.pathInfo);
  pool_->Release(record.pathTranslated);
  pool_->Release(record.queryString);
  pool_->Release(record.serverPort);
}

// A list after a session end starts as a new one: its first arrival and cap mark go too. The
// storage stays: it has room for the hit that follows.
void clsHits::StartAfresh() noexcept {
  Clear();
  firstArrival_ = 0;
  truncated_ = false;
}

void clsHits::DropOldest() noexcept {
  if (count_ >= 2) RemoveFirstGap();
  ReleaseTexts(ring_[head_]);
  head_ = head_ + 1 == ring_.size() ? 0 : head_ + 1;
  --count_;
  truncated_ = true;
  ++history_.dropped;
}

// Hits come in serial order as a rule: then this appends after one comparison. An older hit
// goes behind the last one held whose serial is not above its own.
void clsHits::Insert(const clsHit::Record &record) noexcept {
  int32_t index = count_;
  while (index > 0 && At(index - 1).arrivalSerial > record.arrivalSerial) --index;
  if (ring_.size() < static_cast<size_t>(kCapacity)) {
    ring_.insert(ring_.begin() + index, record);  // room was made: no allocation
  } else {
    for (int32_t i = count_; i > index; --i) At(i) = At(i - 1);
    At(index) = record;
  }
  ++count_;
  if (index == count_ - 1) {
    ++history_.appended;
    if (count_ >= 2) AddGap(GapBetween(At(count_ - 2), At(count_ - 1)));
  } else {
    history_ = {history_.layout + 1, 0, 0};
    gapsCurrent_ = false;
  }
}

float clsHits::PearsonsR() const {
  return common::Guard(common::kGlobalSite, "Function: PearsonsR", [&] {
    if (count_ < 3) return 0.0f;
    if (!gapsCurrent_) SumAllGaps();
    return common::CorrelationOfGaps(gaps_);
  });
}

void clsHits::AddGap(double gap) noexcept {
  if (!gapsCurrent_) return;
  if (!ExactGap(gap)) {
    gapsCurrent_ = false;
    return;
  }
  CountGap(gap);
}

void clsHits::CountGap(double gap) const noexcept {
  if (gaps_.gaps == 0 || gap > gaps_.largest) gapsAtLargest_ = 0;
  gaps_.Add(gap);
  if (gap == gaps_.largest) ++gapsAtLargest_;
}

// Gaps g1..gn become g2..gn counted from 1: the sum by position loses one of each gap.
void clsHits::RemoveFirstGap() noexcept {
  if (!gapsCurrent_) return;
  const long double gap = GapBetween(At(0), At(1));
  gaps_.sumByPosition -= gaps_.sum;
  gaps_.sum -= gap;
  gaps_.sumOfSquares -= gap * gap;
  --gaps_.gaps;
  if (gaps_.gaps == 0) {
    ResetGaps();
  } else if (gap == gaps_.largest && --gapsAtLargest_ == 0) {
    gapsCurrent_ = false;  // which gap is now the largest is not known here
  }
}

void clsHits::ResetGaps() noexcept {
  gaps_ = {};
  gapsAtLargest_ = 0;
  gapsCurrent_ = true;
}

// In the same order as common::PearsonsR, so the sums, and so the result, are the same.
void clsHits::SumAllGaps() const noexcept {
  gaps_ = {};
  gapsAtLargest_ = 0;
  bool exact = true;
  for (int32_t i = 1; i < count_; ++i) {
    const double gap = GapBetween(At(i - 1), At(i));
    exact = exact && ExactGap(gap);
    CountGap(gap);
  }
  gapsCurrent_ = exact;
}

}  // namespace corvane
