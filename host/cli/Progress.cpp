#include "cli/Progress.h"

#include <unistd.h>

#include <iomanip>
#include <ostream>
#include <string>

namespace host {

Progress::Progress(std::ostream &err, bool enabled)
    : err_(err),
      enabled_(enabled && isatty(STDERR_FILENO) != 0),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

double Progress::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::Show(uint64_t lines, uint64_t bytes) {
  auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::milliseconds(500)) return;
  last_ = now;
  const double seconds = Seconds();
  err_ << "\r" << lines << " lines, " << std::fixed << std::setprecision(0)
       << static_cast<double>(lines) / seconds << " lines/s, " << std::setprecision(1)
       << static_cast<double>(bytes) / seconds / 1e6 << " MB/s   " << std::flush;
  shown_ = true;
}

void Progress::Finish() {
  if (shown_) err_ << "\r" << std::string(60, ' ') << "\r" << std::flush;
}

}  // namespace host
