#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace common {

// Files flowdeck keeps in directories that others may reach (a run directory, the web server's
// map directory): a temporary file has a name no one can foresee and is created new, never
// opened where something already stands; nothing is read or written through a symbolic link,
// and nothing waits on a FIFO. Opens go through Posix(), so tests can make them fail.

// Creates a file that did not exist, named `prefix`, 12 random letters and digits, `suffix`,
// with exactly `mode` whatever the umask; its name in `path`. The descriptor, or -1 with errno.
int CreateUniqueFile(const std::string &prefix, std::string_view suffix, mode_t mode,
                     std::string &path);

// The content of a regular file, read to its end; nothing (errno set) when it is missing, is
// not a regular file, cannot be read or holds more than `limit` bytes (EFBIG). A symbolic link
// is followed only with `followLink`: for a file the operator names, not one of flowdeck's own.
std::optional<std::string> ReadRegularFile(const std::string &path, size_t limit,
                                           bool followLink = false);

// Why something that stands at `path` must not be written: "is a symbolic link", "is a
// directory", "is a FIFO", ...; empty when nothing is there or a regular file is.
std::string WriteRefusal(const std::string &path);

// Writes all of text at fd, through a write cut short or interrupted; false with errno set
// when it cannot (ENOSPC for a write that takes nothing).
bool WriteAll(int fd, std::string_view text);

// How WriteWholeFile puts a file in place.
struct WholeFile {
  mode_t mode = 0640;  // exactly, whatever the umask
  // The temporary file beside it: the path, the infix, 12 random letters and digits, the suffix.
  std::string temporaryInfix = ".";
  std::string temporarySuffix = ".tmp";
  // On disk before it takes the name: for a file whose loss to a crash costs what no later
  // write gives back (the shields in force, the allow list). Everything else is written again
  // soon anyway, and a flush each time would make every cycle wait on the disk.
  bool sync = false;
  // Called with the written temporary file before it takes the name.
  std::function<void(int fd)> beforeRename;
};

// Why a whole file was not put in place; `step` is kNone when it was.
struct FileFailure {
  enum class Step { kNone, kRefused, kCreate, kWrite, kReplace };
  Step step = Step::kNone;
  std::string path;   // what could not be replaced, or the temporary file that was not written
  std::string cause;  // in words: WriteRefusal's for kRefused, else OpenFailure's
  int errnum = 0;     // 0 for kRefused

  explicit operator bool() const noexcept { return step != Step::kNone; }
};

// Writes `content` as the file at `path` through a new temporary file beside it and a rename,
// so that a reader finds the old file or the new one, never a part, and never the name missing.
// Something other than a regular file at `path` (a symbolic link, a FIFO, a directory) was not
// put there by flowdeck and is left as it is. The temporary file never outlives a failure.
FileFailure WriteWholeFile(const std::string &path, std::string_view content, const WholeFile &how);

// The cause of a failed open in words, with the two refusals of Posix().open told plainly.
std::string OpenFailure(int errnum);

}  // namespace common
