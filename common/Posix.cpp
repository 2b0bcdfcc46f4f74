#include "Posix.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {

namespace {

int OpenFile(const char *path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}

// Exchanging the two and then deleting the old file does what a rename over it does, without
// the write-back to disk that ext4 starts whenever a rename replaces a file: a monitor that
// replaces its snapshot every few seconds would otherwise wait on the disk each time. Only a
// regular file is exchanged: a directory (or anything else) under the target's name would move
// to the source's name and block it for good. Everything else takes a plain rename, which
// cannot put a file over a directory and so leaves one where it is.
int MoveOver(const char *from, const char *to) {
  struct stat target {};
  if (::lstat(to, &target) == 0 && S_ISREG(target.st_mode) &&
      ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0) {
    ::unlink(from);  // the old file now; a leftover is deleted before the name is used again
    return 0;
  }
  return ::rename(from, to);
}

const PosixCalls kReal{OpenFile, ::read,   ::write,  ::writev,
                       ::close,  MoveOver, ::unlink, ::ftruncate};
PosixCalls gCalls = kReal;

}  // namespace

PosixCalls &Posix() noexcept {
  return gCalls;
}
const PosixCalls &RealPosix() noexcept {
  return kReal;
}

}  // namespace common
