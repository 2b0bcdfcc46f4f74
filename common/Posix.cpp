#include "Posix.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace common {

namespace {

int OpenFile(const char *path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}

const PosixCalls kReal{OpenFile, ::read, ::write, ::close, ::rename, ::unlink, ::ftruncate};
PosixCalls gCalls = kReal;

}  // namespace

PosixCalls &Posix() noexcept {
  return gCalls;
}
const PosixCalls &RealPosix() noexcept {
  return kReal;
}

}  // namespace common
