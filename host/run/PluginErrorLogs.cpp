#include "run/PluginErrorLogs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace host {

namespace {

// The most read in one update: a plug-in that writes faster than this is counted over the
// following cycles.
constexpr off_t kMostPerUpdate = 64 << 20;

}  // namespace

PluginErrorLogs::PluginErrorLogs(const std::string &runDirectory, bool fresh) {
  for (const char *plugin : {"KvVantrel", "KvCorvane"}) {
    Log log{plugin, runDirectory + "/" + plugin + "Errors.LOG"};
    if (!fresh) Read(log, false);
    logs_.push_back(std::move(log));
  }
}

void PluginErrorLogs::Update() {
  for (Log &log : logs_) Read(log, true);
}

void PluginErrorLogs::Read(Log &log, bool count) {
  // The plug-ins' own files: never through a symbolic link, never waiting on a FIFO.
  const int fd = open(log.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    log.read = 0;
    log.inode = 0;
    return;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return;
  }
  if (info.st_ino != log.inode || info.st_size < log.read) log.read = 0;
  log.inode = info.st_ino;
  if (!count) {
    log.read = info.st_size;
    close(fd);
    return;
  }
  char buffer[65536];
  const off_t end = std::min<off_t>(info.st_size, log.read + kMostPerUpdate);
  while (log.read < end) {
    const size_t want = static_cast<size_t>(std::min<off_t>(sizeof buffer, end - log.read));
    const ssize_t n = pread(fd, buffer, want, log.read);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    log.lines += static_cast<uint64_t>(std::count(buffer, buffer + n, '\n'));
    log.read += n;
  }
  close(fd);
}

}  // namespace host
