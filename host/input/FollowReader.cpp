#include "input/FollowReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/Error.h"

namespace host {

namespace {
constexpr size_t kChunk = 1 << 16;
}  // namespace

FollowReader::FollowReader(std::string path, bool fromStart) : path_(std::move(path)) {
  struct stat info {};
  const bool there = stat(path_.c_str(), &info) == 0;
  if (there && S_ISDIR(info.st_mode)) {
    throw host::Error(path_, std::string("cannot read: ") + std::strerror(EISDIR));
  }
  if (!Open(!fromStart) && there && !fromStart) {
    unreadInode_ = info.st_ino;
    unreadSize_ = info.st_size;
  }
}

FollowReader::~FollowReader() {
  if (fd_ >= 0) close(fd_);
}

bool FollowReader::Open(bool atEnd) {
  int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = errno;
    return false;
  }
  struct stat info {};
  const int problem = fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
  if (problem != 0) {  // not a log (yet)
    close(fd);
    error_ = problem;
    return false;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  inode_ = info.st_ino;
  offset_ = atEnd ? info.st_size : 0;
  if (unreadInode_ != 0 && info.st_ino == unreadInode_ && unreadSize_ <= info.st_size) {
    offset_ = unreadSize_;  // what was there at the start is old; what came since is new
  }
  unreadInode_ = 0;
  lseek(fd_, offset_, SEEK_SET);
  // Whatever the old file still held was read before Next returned false.
  buffer_.clear();
  begin_ = 0;
  skippingLongLine_ = false;
  error_ = 0;
  return true;
}

bool FollowReader::ReadMore() {
  if (fd_ < 0) return false;
  if (begin_ > 0) {
    buffer_.erase(0, begin_);
    begin_ = 0;
  }
  size_t old = buffer_.size();
  buffer_.resize(old + kChunk);
  ssize_t n = read(fd_, buffer_.data() + old, kChunk);
  buffer_.resize(old + (n > 0 ? static_cast<size_t>(n) : 0));
  if (n <= 0) return false;
  offset_ += n;
  ++reads_;
  bytesRead_ += static_cast<uint64_t>(n);
  return true;
}

bool FollowReader::Next(std::string_view &line, bool &tooLong) {
  tooLong = false;
  for (;;) {
    size_t newline = buffer_.find('\n', begin_);
    if (newline != std::string::npos && skippingLongLine_) {
      begin_ = newline + 1;
      skippingLongLine_ = false;
      continue;
    }
    if (newline != std::string::npos) {
      line = std::string_view(buffer_).substr(begin_, newline - begin_);
      begin_ = newline + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.size() > kMaxLine) {
        line = line.substr(0, kMaxLine);
        tooLong = true;
      }
      ++lineNumber_;
      return true;
    }
    if (skippingLongLine_) {
      begin_ = buffer_.size();
    } else if (buffer_.size() - begin_ > kMaxLine) {  // an endless line: hand on its head only
      line = std::string_view(buffer_).substr(begin_, kMaxLine);
      begin_ = buffer_.size();
      skippingLongLine_ = true;
      tooLong = true;
      ++lineNumber_;
      return true;
    }
    if (!ReadMore()) return false;
  }
}

uint64_t FollowReader::BytesBehind() const {
  struct stat info {};
  const uint64_t buffered = buffer_.size() - begin_;
  if (fd_ < 0 || fstat(fd_, &info) != 0 || info.st_size < offset_) return buffered;
  return static_cast<uint64_t>(info.st_size - offset_) + buffered;
}

void FollowReader::Poll() {
  struct stat info {};
  if (stat(path_.c_str(), &info) != 0) {  // rotated away and the new file not there yet, or gone
    error_ = errno;
    return;
  }
  if (fd_ < 0 || info.st_ino != inode_) {
    Open(false);
  } else if (info.st_size < offset_) {
    lseek(fd_, 0, SEEK_SET);  // truncated: start again from its beginning
    offset_ = 0;
    buffer_.clear();
    begin_ = 0;
    skippingLongLine_ = false;
    error_ = 0;
  } else {
    error_ = 0;
  }
}

}  // namespace host
