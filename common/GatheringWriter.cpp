#include "GatheringWriter.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>

#include "Posix.h"

namespace common {

namespace {

constexpr size_t kMostPieces = IOV_MAX;
// Readable by the group, not by everyone: the exports hold every URL and user agent.
constexpr mode_t kFileMode = 0640;

}  // namespace

GatheringWriter::GatheringWriter(const Site &site, std::string path)
    : site_(site), path_(std::move(path)) {
  fd_ = Posix().open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
  if (fd_ < 0) Fail(errno);
  queued_.reserve(kMostPieces);
}

GatheringWriter::~GatheringWriter() {
  if (fd_ >= 0) Posix().close(fd_);
}

void GatheringWriter::Add(std::string_view piece) {
  if (piece.empty()) return;
  if (queued_.size() == kMostPieces) Flush();
  queued_.push_back({const_cast<char *>(piece.data()), piece.size()});
}

// A write may stop part-way through a piece; the rest goes out with the next call.
void GatheringWriter::Flush() {
  iovec *next = queued_.data();
  iovec *const end = next + queued_.size();
  while (next != end) {
    const ssize_t n = Posix().writev(fd_, next, static_cast<int>(end - next));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      queued_.clear();
      Fail(n < 0 ? errno : ENOSPC);
    }
    auto written = static_cast<size_t>(n);
    while (next != end && written >= next->iov_len) written -= next++->iov_len;
    if (written > 0) {
      next->iov_base = static_cast<char *>(next->iov_base) + written;
      next->iov_len -= written;
    }
  }
  queued_.clear();
}

void GatheringWriter::Close() {
  if (fd_ < 0) return;
  Flush();
  const int fd = fd_;
  fd_ = -1;
  if (Posix().close(fd) != 0) Fail(errno);
}

void GatheringWriter::Fail(int errnum) {
  throw FileError(site_, errnum, path_);
}

}  // namespace common
