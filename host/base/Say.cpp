#include "base/Say.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

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

std::string &Speaker() {
  static std::string speaker = "flowdeck";
  return speaker;
}

// The syslog priority journald reads from "<N>".
int Priority(Level level) {
  switch (level) {
    case Level::kFailure:
    case Level::kError:
      return 3;
    case Level::kWarning:
      return 4;
    case Level::kNotice:
      return 5;
    default:
      return 6;
  }
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

void SayAs(std::string_view command) {
  Speaker() = "flowdeck";
  if (!command.empty()) Speaker().append(" ").append(command);
}

void Say(std::ostream &err, Level level, std::string_view text) {
  if (ToJournal()) err << '<' << Priority(level) << '>';
  err << Speaker() << ": " << Name(level) << text << "\n" << std::flush;
}

}  // namespace host
