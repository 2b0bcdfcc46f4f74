#include "Posix.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {

namespace {

// Every file opened here is flowdeck's or a plug-in's own, in a directory that others may reach:
// a symbolic link under its name is never followed (the write would land in whatever it points
// at), and nothing but a regular file or a directory is opened. O_NONBLOCK keeps a FIFO from
// holding the open until someone comes to its other end; a FIFO, socket or device that does
// open is closed again and refused with ENXIO, as the kernel refuses a FIFO without a reader.
// A directory is left to fail on its own, as it does for every read and write.
int OpenFile(const char *path, int flags, mode_t mode) {
  const int fd = ::open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return fd;
  struct stat opened {};
  if (::fstat(fd, &opened) == 0 && (S_ISREG(opened.st_mode) || S_ISDIR(opened.st_mode))) return fd;
  ::close(fd);
  errno = ENXIO;
  return -1;
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

const PosixCalls kReal{OpenFile, ::read,   ::write,     ::writev, ::close,
                       MoveOver, ::unlink, ::ftruncate, ::fsync};
PosixCalls gCalls = kReal;

}  // namespace

PosixCalls &Posix() noexcept {
  return gCalls;
}
const PosixCalls &RealPosix() noexcept {
  return kReal;
}

}  // namespace common
