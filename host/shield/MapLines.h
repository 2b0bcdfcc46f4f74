#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Shield.h"

namespace host {

// The lines of one map file, kept rendered between batches: a batch renders only the shields
// it raises, and the file is the lines still in force copied one after the other, in the order
// they were raised. A map of 100,000 shields is then a copy of 8 MB of contiguous memory, not
// a walk through 100,000 shields scattered over the heap.
class MapLines {
 public:
  // `append` writes a shield's line (false when it cannot be written). With `foldCase`, keys
  // that differ only in ASCII letter case are one key, of which one line is written (nginx
  // folds its map keys and refuses a key it has twice).
  using Append = bool (*)(std::string &out, const Shield &shield);
  MapLines(Append append, bool foldCase);

  // Adds the shield's line, or renews it; the shield must be normalized. False when its line
  // cannot be written.
  bool Raise(const Shield &shield);
  void Lift(const Shield &shield);
  void Clear();
  // Makes room for this many shields at once (a start with many restored).
  void Reserve(size_t shields);

  // The whole file, into `file` (whose memory is used again).
  void Render(std::string &file);
  size_t LineCount() const { return entries_.size(); }

 private:
  // Where a line lies in the store.
  struct Segment {
    size_t offset;
    uint32_t size;
    bool live;
  };
  // The shields that share one line's key, the first of which the line shows.
  struct Entry {
    std::vector<Shield> shields;
    size_t segment;
  };

  std::string KeyOf(const Shield &shield) const;
  // Writes the entry's first shield as a new line, retiring the one it had.
  void RenderLine(Entry &entry);
  void Retire(size_t segment);
  void Compact();

  Append append_;
  bool foldCase_;
  std::unordered_map<std::string, Entry> entries_;
  std::string store_;
  std::vector<Segment> segments_;
  size_t deadBytes_ = 0;
};

}  // namespace host
