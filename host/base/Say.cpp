#include "base/Say.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>

namespace host {

namespace {

// systemd names the journal's stream in JOURNAL_STREAM as "device:inode"; standard error is
// that stream when they match.
bool ToJournal() {
  static const bool journal = [] {
    const char *stream = std::getenv("JOURNAL_STREAM");
    struct stat info {};
    if (stream == nullptr || fstat(STDERR_FILENO, &info) != 0) return false;
    unsigned long long device = 0, inode = 0;
    return std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
           device == static_cast<unsigned long long>(info.st_dev) &&
           inode == static_cast<unsigned long long>(info.st_ino);
  }();
  return journal;
}

const char *Name(Level level) {
  switch (level) {
    case Level::kError:
      return "error: ";
    case Level::kWarning:
      return "warning: ";
    default:
      return "";
  }
}

}  // namespace

void Say(std::ostream &err, Level level, std::string_view text) {
  if (ToJournal()) err << '<' << static_cast<int>(level) << '>';
  err << "flowdeck: " << Name(level) << text << "\n" << std::flush;
}

}  // namespace host
