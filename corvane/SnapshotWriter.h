#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "HitLines.h"
#include "KvError.h"
#include "TextFile.h"
#include "clsUser.h"

namespace corvane {

// The visitor snapshot, written line by line through one buffered file; every line is built in
// one reused buffer, and every value that came with a request is escaped, so the file is
// well-formed XML whatever bytes the requests carried.
class SnapshotWriter {
 public:
  // What the cycle worked out for a visitor before writing it.
  struct Rating {
    uint8_t level = 0;
    bool connected = true;
    std::string_view browser;
    std::string_view version;
  };

  // Creates the file afresh; file errors are raised at the site.
  SnapshotWriter(const common::Site &site, std::string path);

  void WriteHead();
  // The visitor's element: its USER line and one HIT line per run of hits on one path, taken
  // from the lines kept for it, which are brought up to date first.
  void WriteUser(const clsUser &user, const Rating &rating, HitLines &lines);
  // Writes the closing lines and closes the file.
  void WriteTail();

 private:
  void WriteUserLine(const clsUser &user, const Rating &rating);
  void EndLine();

  common::TextWriter writer_;
  std::string line_;
};

}  // namespace corvane
