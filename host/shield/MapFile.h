#pragma once

#include <optional>
#include <string>

namespace host {

// A file the web server reads, which flowdeck writes whole: the new content goes to a
// temporary file beside it, which then takes the file's place in one step, so that a reader
// finds the old content or the new, never a part. Content the file already holds is not
// written again, so that an unchanged map costs the web server no reload.
class MapFile {
 public:
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
  std::string TemporaryPath() const { return path_ + ".flowdeck-new"; }

 private:
  std::optional<std::string> ReadCurrent() const;
  std::string Replace(const std::string &content) const;

  std::string path_;
  std::optional<std::string> held_;  // what the file holds, as far as flowdeck knows
};

}  // namespace host
