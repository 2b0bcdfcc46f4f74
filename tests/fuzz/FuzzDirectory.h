#pragma once

#include <string>
#include <string_view>

namespace fuzzing {

// The plug-in directory of a fuzz target: a temporary directory that every input starts with
// empty, and the host's clock, which starts every input at the same moment and moves only when
// the input says so.
class FuzzDirectory {
 public:
  FuzzDirectory();
  ~FuzzDirectory();
  FuzzDirectory(const FuzzDirectory &) = delete;
  FuzzDirectory &operator=(const FuzzDirectory &) = delete;

  // Empties the directory and sets the clock back to its start.
  void StartInput();
  void AdvanceClock(double seconds);

  const std::string &Path() const noexcept { return path_; }
  std::string File(std::string_view name) const;

 private:
  std::string path_;
  double now_ = 0;
};

}  // namespace fuzzing
