#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace testing_support {

// Port 80 of 127.0.0.1 is one per machine: every test that binds it, or runs something that
// does (a flowdeck replay listens there), holds this lock, so that test processes running side
// by side take turns.
class Port80Lock {
 public:
  Port80Lock() : fd_(open("/tmp/flowdeck-port80.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666)) {
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~Port80Lock() {
    if (fd_ >= 0) close(fd_);
  }
  Port80Lock(const Port80Lock &) = delete;
  Port80Lock &operator=(const Port80Lock &) = delete;

 private:
  int fd_;
};

}  // namespace testing_support
