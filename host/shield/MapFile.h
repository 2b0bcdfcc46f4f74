#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace host {

// A file the web server reads, which flowdeck writes whole: the new content goes to a
// temporary file beside it, which then takes the file's place in one step, so that a reader
// finds the old content or the new, never a part. Content the file already holds is not
// written again, so that an unchanged map costs the web server no reload. The temporary file
// is a new one under a name no one can foresee, and nothing but a regular file under the map's
// name is read or replaced: the directory may be one that others can write in.
class MapFile {
 public:
  // Throws Error naming the path when something other than a regular file (a
  // symbolic link, a FIFO, a directory) stands under its name.
  explicit MapFile(std::string path);

  struct Outcome {
    bool written = false;   // the content changed
    bool replaced = false;  // and a file was there before: a server may hold the old content
    std::string problem;    // why the file could not be written
  };
  // Makes the file hold `content`. When it writes, `content` and the copy it keeps trade
  // places, so that the caller gets a buffer of the right size back for the next content.
  // With `anyLineOrder`, a file that holds the same lines in another order is left as it is
  // (a restart that restores the shields in force must not make the server reload).
  Outcome Update(std::string &content, bool anyLineOrder = false);

  const std::string &Path() const { return path_; }
  // What the file holds, as far as flowdeck knows; nothing when that is unknown.
  const std::optional<std::string> &Held() const { return held_; }
  // Readable by all: Apache's children, which read the map, run as the web server's user.
  static constexpr mode_t kMode = 0644;

 private:
  std::optional<std::string> ReadCurrent() const;
  std::string Replace(const std::string &content) const;

  std::string path_;
  std::optional<std::string> held_;  // what the file holds, as far as flowdeck knows
};

}  // namespace host
