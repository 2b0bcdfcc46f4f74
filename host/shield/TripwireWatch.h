#pragma once

#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <string>

namespace host {

// Notices that the definitions file a run follows was changed (written, replaced, removed), so
// that it is checked and handed over without a SIGHUP. A change is told once the file has
// stayed as it is for kSettle: an editor that writes it in steps is not caught halfway, and a
// fault is said once per change, not at every look.
class TripwireWatch {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kSettle = std::chrono::seconds(1);

  // The file as it is now is the one in use; an empty path is never changed.
  explicit TripwireWatch(std::string path);

  // Whether the file differs from the one in use and has settled; it is the one in use then.
  // One stat() a call.
  bool Changed(Clock::time_point now = Clock::now());
  // The file as it is now is the one in use: a reload has just read it.
  void Rebase();

 private:
  // What tells one version of the file from another, or why it cannot be looked at.
  struct Look {
    int error = 0;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{}, changed{};

    bool operator==(const Look &other) const noexcept;
  };
  Look LookNow() const;

  std::string path_;
  Look inUse_, seen_;
  Clock::time_point seenSince_{};
};

}  // namespace host
