#include "ReadOnlyDirectory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "Posix.h"

namespace faults {

namespace {

std::string gDirectory;

// A name directly inside the directory: its entry is what the directory's permission guards.
bool EntryOfDirectory(std::string_view path) {
  return path.size() > gDirectory.size() + 1 && path.starts_with(gDirectory) &&
         path[gDirectory.size()] == '/' &&
         path.find('/', gDirectory.size() + 1) == std::string_view::npos;
}

int Denied() {
  errno = EACCES;
  return -1;
}

int Open(const char *path, int flags, mode_t mode) {
  if ((flags & O_CREAT) != 0 && EntryOfDirectory(path) && access(path, F_OK) != 0) {
    return Denied();
  }
  return common::RealPosix().open(path, flags, mode);
}

int Rename(const char *from, const char *to) {
  if (EntryOfDirectory(from) || EntryOfDirectory(to)) return Denied();
  return common::RealPosix().rename(from, to);
}

int Unlink(const char *path) {
  if (EntryOfDirectory(path)) return Denied();
  return common::RealPosix().unlink(path);
}

}  // namespace

ReadOnlyDirectory::ReadOnlyDirectory(const std::string &directory) {
  gDirectory = directory;
  common::Posix().open = Open;
  common::Posix().rename = Rename;
  common::Posix().unlink = Unlink;
}

ReadOnlyDirectory::~ReadOnlyDirectory() {
  common::Posix() = common::RealPosix();
}

}  // namespace faults
