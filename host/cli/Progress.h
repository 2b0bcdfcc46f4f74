#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>

namespace host {

// A progress line on standard error while a run works, when that is a terminal.
class Progress {
 public:
  Progress(std::ostream &err, bool enabled);
  // Called every few thousand lines; shows the line at most every so often.
  void Update(uint64_t lines, uint64_t bytes) {
    if (enabled_) Show(lines, bytes);
  }
  void Finish();
  double Seconds() const;

 private:
  void Show(uint64_t lines, uint64_t bytes);

  std::ostream &err_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};

}  // namespace host
