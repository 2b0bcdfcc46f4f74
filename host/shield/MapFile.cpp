#include "shield/MapFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

#include "OwnFiles.h"
#include "base/Error.h"

namespace host {

namespace {

// The largest map flowdeck reads back to compare; a larger one is simply written again.
constexpr size_t kLargestMap = 256u << 20;

Error Refusal(const std::string &path, const std::string &refusal) {
  return Error("refusing to replace " + path, "it " + refusal);
}

// The problem of a failed write, as the operator reads it beside the map's setting.
std::string Problem(const common::FileFailure &failure) {
  switch (failure.step) {
    case common::FileFailure::Step::kNone:
      return "";
    case common::FileFailure::Step::kRefused:
      return Refusal(failure.path, failure.cause).what();
    case common::FileFailure::Step::kCreate:
      return "cannot create a temporary file beside " + failure.path + ": " + failure.cause;
    case common::FileFailure::Step::kWrite:
      return "cannot write " + failure.path + ": " + failure.cause;
    case common::FileFailure::Step::kReplace:
      return "cannot replace " + failure.path + ": " + failure.cause;
  }
  return failure.cause;
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
  if (std::string refusal = common::WriteRefusal(path_); !refusal.empty()) {
    throw Refusal(path_, refusal);
  }
}

std::optional<std::string> MapFile::ReadCurrent() const {
  return common::ReadRegularFile(path_, kLargestMap);
}

std::string MapFile::Replace(const std::string &content) const {
  common::WholeFile how;
  how.mode = kMode;
  how.temporaryInfix = ".flowdeck-new.";
  how.temporarySuffix = "";
  how.beforeRename = [this](int fd) { DateAfter(fd, path_); };
  return Problem(common::WriteWholeFile(path_, content, how));
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
