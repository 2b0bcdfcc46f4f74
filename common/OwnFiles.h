#pragma once

#include <sys/types.h>

#include <cstddef>
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

// The cause of a failed open in words, with the two refusals of Posix().open told plainly.
std::string OpenFailure(int errnum);

}  // namespace common
