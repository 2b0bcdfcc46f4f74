#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "clsHit.h"
#include "clsHits.h"

namespace corvane {

// The HIT lines of a visitor's snapshot element: one line per run of consecutive hits on one
// path, each ended by CR LF. Kept from cycle to cycle, so that a cycle builds again only the
// lines of the runs that changed: the first when hits went at the front, the last when hits
// came, and the new ones. A steady visitor's 500 hits cost a line or two per cycle, not 500.
class HitLines {
 public:
  // Brings the lines up to date with the hits and returns them; valid until the next call.
  std::string_view Update(const clsHits &hits);
  // Runs of the last Update.
  size_t RunCount() const noexcept { return runs_.size(); }
  // Bytes held, for the owner's memory budget.
  size_t Footprint() const noexcept;
  // Forgets the lines, keeping the memory for the next visitor.
  void Clear() noexcept;
  // Forgets the lines and gives back their memory.
  void Release() noexcept;

  // One HIT line (without its line end).
  static void AppendLine(std::string &out, const clsHit &hit, int32_t runLength,
                         double previousSerial);

 private:
  struct Run {
    size_t offset;  // of its line in text_
    int32_t hits;
  };

  void Rebuild(const clsHits &hits);
  void DropFront(const clsHits &hits, uint64_t dropped);
  void Append(const clsHits &hits, int32_t firstNew);
  // Appends the lines of the runs from index first on; the first of them starts at firstPosition.
  void RenderFrom(const clsHits &hits, size_t first, int32_t firstPosition);
  void RenderFirst(const clsHits &hits);
  void Compact();
  int32_t HeldHits() const noexcept;

  std::string text_;
  size_t begin_ = 0;  // text_ before it is what dropped runs left
  std::vector<Run> runs_;
  clsHits::History seen_;
  bool built_ = false;
};

}  // namespace corvane
