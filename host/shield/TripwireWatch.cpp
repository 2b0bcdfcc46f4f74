#include "shield/TripwireWatch.h"

#include <sys/stat.h>

#include <cerrno>

namespace host {

bool TripwireWatch::Look::operator==(const Look &other) const noexcept {
  return error == other.error && device == other.device && inode == other.inode &&
         size == other.size && modified.tv_sec == other.modified.tv_sec &&
         modified.tv_nsec == other.modified.tv_nsec && changed.tv_sec == other.changed.tv_sec &&
         changed.tv_nsec == other.changed.tv_nsec;
}

TripwireWatch::TripwireWatch(std::string path) : path_(std::move(path)) {
  Rebase();
}

TripwireWatch::Look TripwireWatch::LookNow() const {
  Look look;
  struct stat info {};
  // Through a symbolic link: the operator's file may be one, and the file it names is read.
  if (::stat(path_.c_str(), &info) != 0) {
    look.error = errno;
    return look;
  }
  look.device = info.st_dev;
  look.inode = info.st_ino;
  look.size = info.st_size;
  look.modified = info.st_mtim;
  look.changed = info.st_ctim;
  return look;
}

bool TripwireWatch::Changed(Clock::time_point now) {
  if (path_.empty()) return false;
  const Look look = LookNow();
  if (look == inUse_) {
    seen_ = look;
    return false;
  }
  if (!(look == seen_)) {
    seen_ = look;
    seenSince_ = now;
    return false;
  }
  if (now - seenSince_ < kSettle) return false;
  inUse_ = look;
  return true;
}

void TripwireWatch::Rebase() {
  if (path_.empty()) return;
  inUse_ = seen_ = LookNow();
}

}  // namespace host
