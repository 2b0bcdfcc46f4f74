#pragma once

#include <sys/types.h>
#include <sys/uio.h>

namespace common {

// The POSIX calls through which the plug-ins touch files, gathered so that a test can make any
// of them fail. Production code never changes the table.
struct PosixCalls {
  // As open(2), but never through a symbolic link, never waiting on a FIFO, and only for a
  // regular file or a directory (ELOOP, ENXIO otherwise).
  int (*open)(const char *path, int flags, mode_t mode);
  ssize_t (*read)(int fd, void *buffer, size_t size);
  ssize_t (*write)(int fd, const void *buffer, size_t size);
  ssize_t (*writev)(int fd, const struct iovec *pieces, int count);
  int (*close)(int fd);
  // Moves from over to in one step, as rename does.
  int (*rename)(const char *from, const char *to);
  int (*unlink)(const char *path);
  int (*ftruncate)(int fd, off_t length);
  int (*fsync)(int fd);
};

// The table in use.
PosixCalls &Posix() noexcept;
// The real calls.
const PosixCalls &RealPosix() noexcept;

}  // namespace common
