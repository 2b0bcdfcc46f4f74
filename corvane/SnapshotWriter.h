#pragma once

#include <cstdint>
#include <string>

#include "GatheringWriter.h"
#include "HitLines.h"
#include "KvError.h"
#include "UserLine.h"
#include "clsUser.h"

namespace corvane {

// The visitor snapshot. Its lines are kept with the visitors from cycle to cycle and brought up
// to date here; the file is then written straight from where they are kept, many lines to one
// system call, rather than copied into a buffer first. Every value that came with a request is
// escaped, so the file is well-formed XML whatever bytes the requests carried.
class SnapshotWriter {
 public:
  // Where a visitor's lines are built: kept with it, or in scratch space that the next visitor
  // uses again, whose lines are then written at once.
  struct Lines {
    UserLine &user;
    HitLines &hits;
    bool kept;
  };

  // Creates the file afresh; file errors are raised at the site.
  SnapshotWriter(const common::Site &site, std::string path);

  void WriteHead();
  // The visitor's element: its USER line, with the level of this cycle, and one HIT line per
  // run of hits on one path, the lines brought up to date first.
  void WriteUser(const clsUser &user, uint8_t level, const Lines &lines);
  // Writes the closing lines and closes the file.
  void WriteTail();

 private:
  common::GatheringWriter file_;
};

}  // namespace corvane
