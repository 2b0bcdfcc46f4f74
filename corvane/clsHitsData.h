#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "StreamFields.h"
#include "clsHitData.h"

namespace corvane {

// The export lines of the requests since the last written cycle. Lines are packed into chunks
// of a fixed size that never move, so the buffer grows without copying what it holds. Emptied,
// it keeps the chunks it used for the next period, which as a rule needs as many, and frees
// those the last period did not need.
class clsHitsData {
 public:
  // Adds the export line of a request.
  void AddHit(const common::StreamFields &request);
  int32_t Count() const noexcept { return static_cast<int32_t>(lines_.size()); }
  // The record at a position from 1 to Count; error 5 elsewhere.
  clsHitData Item(int32_t position) const;
  void Clear() noexcept;
  // Drops the records at positions 1 to count, which reached the file.
  void RemoveFirst(size_t count) noexcept;

 private:
  struct Line {
    size_t chunk;  // counted from the first chunk ever, dropped ones included
    uint32_t begin;
    uint32_t size;
  };
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    size_t used = 0;
    size_t capacity = 0;
  };

  // The last chunk, or a new one when the last has no room for size bytes.
  Chunk &ChunkWithRoom(size_t size);
  void KeepAsSpare(Chunk &chunk) noexcept;

  std::deque<Chunk> chunks_;
  size_t droppedChunks_ = 0;
  std::vector<Chunk> spareChunks_;
  std::vector<Line> lines_;
};

}  // namespace corvane
