#include "shield/MapFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "OwnFiles.h"
#include "Posix.h"

namespace host {

namespace {

// The largest map flowdeck reads back to compare; a larger one is simply written again.
constexpr size_t kLargestMap = 256u << 20;

std::string Failure(const std::string &what, const std::string &path) {
  return "cannot " + what + " " + path + ": " + common::OpenFailure(errno);
}

std::string Refusal(const std::string &path) {
  std::string refusal = common::WriteRefusal(path);
  if (!refusal.empty()) refusal = "refusing to replace " + path + ": it " + refusal;
  return refusal;
}

std::vector<std::string_view> SortedLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Apache takes a changed map up by its modification time. Two writes within one tick of the
// file system's clock carry the same time, and the server would go on answering from the first:
// the new file is dated a second after the old one then. Best effort: should it fail, the change
// is seen at the next write, as it would be without this.
void DateAfter(int fd, const std::string &previous) {
  struct stat before {
  }, now{};
  if (lstat(previous.c_str(), &before) != 0 || fstat(fd, &now) != 0) return;
  const timespec &old = before.st_mtim, &written = now.st_mtim;
  if (written.tv_sec > old.tv_sec ||
      (written.tv_sec == old.tv_sec && written.tv_nsec > old.tv_nsec))
    return;
  const timespec times[2] = {{0, UTIME_OMIT}, {old.tv_sec + 1, old.tv_nsec}};
  futimens(fd, times);
}

}  // namespace

MapFile::MapFile(std::string path) : path_(std::move(path)) {
  if (std::string refusal = Refusal(path_); !refusal.empty()) throw std::runtime_error(refusal);
}

std::optional<std::string> MapFile::ReadCurrent() const {
  return common::ReadRegularFile(path_, kLargestMap);
}

std::string MapFile::Replace(const std::string &content) const {
  if (std::string refusal = Refusal(path_); !refusal.empty()) return refusal;
  common::PosixCalls &posix = common::Posix();
  std::string temporary;
  const int fd = common::CreateUniqueFile(path_ + ".flowdeck-new.", "", kMode, temporary);
  if (fd < 0) return Failure("create a temporary file beside", path_);
  size_t written = 0;
  while (written < content.size()) {
    ssize_t n = posix.write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::string problem = Failure("write", temporary);
      posix.close(fd);
      posix.unlink(temporary.c_str());
      return problem;
    }
    written += static_cast<size_t>(n);
  }
  DateAfter(fd, path_);
  if (posix.close(fd) != 0) {
    std::string problem = Failure("write", temporary);
    posix.unlink(temporary.c_str());
    return problem;
  }
  if (posix.rename(temporary.c_str(), path_.c_str()) != 0) {
    std::string problem = Failure("replace", path_);
    posix.unlink(temporary.c_str());
    return problem;
  }
  return "";
}

MapFile::Outcome MapFile::Update(std::string &content, bool anyLineOrder) {
  Outcome outcome;
  if (!held_) held_ = ReadCurrent();
  if (held_ && *held_ == content) return outcome;
  if (held_ && anyLineOrder && SortedLines(*held_) == SortedLines(content)) return outcome;
  outcome.problem = Replace(content);
  if (!outcome.problem.empty()) {
    held_.reset();  // unknown now: read again next time
    return outcome;
  }
  outcome.written = true;
  outcome.replaced = held_.has_value();
  if (!held_) held_.emplace();
  held_->swap(content);
  return outcome;
}

}  // namespace host
