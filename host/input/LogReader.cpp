#include "input/LogReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/Error.h"

namespace host {

namespace {

constexpr size_t kChunk = 1 << 18;

gzFile AsGz(void *handle) {
  return static_cast<gzFile>(handle);
}

}  // namespace

LogReader::LogReader(const std::string &path) : path_(path) {
  // zlib reads a file that is not compressed as it is, so one reader serves both.
  int fd = path == "-" ? dup(STDIN_FILENO) : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd >= 0 && fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    fd = -1;
    errno = EISDIR;
  }
  if (fd < 0) throw Error(path, std::string("cannot read: ") + std::strerror(errno));
  gz_ = gzdopen(fd, "rb");
  if (gz_ == nullptr) {
    close(fd);
    throw Error(path, "cannot read: out of memory");
  }
  gzbuffer(AsGz(gz_), kChunk);
  buffer_.resize(kChunk * 2);
}

LogReader::~LogReader() {
  if (gz_ != nullptr) gzclose(AsGz(gz_));
}

bool LogReader::Fill() {
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buffer_.size() - end_ < kChunk) buffer_.resize(end_ + kChunk);
  int n = gzread(AsGz(gz_), buffer_.data() + end_, static_cast<unsigned>(kChunk));
  if (n < 0) {
    int code = 0;
    const char *message = gzerror(AsGz(gz_), &code);
    throw Error(path_,
                std::string("read error: ") + (code == Z_ERRNO ? std::strerror(errno) : message));
  }
  if (n == 0) eof_ = true;
  end_ += static_cast<size_t>(n);
  bytesRead_ += static_cast<uint64_t>(n);
  return n > 0;
}

bool LogReader::Next(std::string_view &line, bool &tooLong) {
  tooLong = false;
  size_t scanned = 0;  // bytes of the current line known to hold no line end
  for (;;) {
    const char *start = buffer_.data() + begin_;
    const void *newline = std::memchr(start + scanned, '\n', end_ - begin_ - scanned);
    if (newline != nullptr) {
      size_t length = static_cast<size_t>(static_cast<const char *>(newline) - start);
      line = std::string_view(start, length);
      begin_ += length + 1;
      ++lineNumber_;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.size() > kMaxLine) {
        line = line.substr(0, kMaxLine);
        tooLong = true;
      }
      return true;
    }
    scanned = end_ - begin_;
    if (scanned > kMaxLine) {
      SkipRestOfLine();
      line = std::string_view(buffer_.data() + begin_, kMaxLine);
      begin_ += kMaxLine;
      tooLong = true;
      ++lineNumber_;
      return true;
    }
    if (eof_ || !Fill()) {
      if (end_ == begin_) return false;
      line = std::string_view(buffer_.data() + begin_, end_ - begin_);  // a last line, cut off
      begin_ = end_;
      ++lineNumber_;
      return true;
    }
  }
}

void LogReader::SkipRestOfLine() {
  // Keep the line's first kMaxLine bytes and drop everything after them up to its line end.
  for (;;) {
    const size_t keepEnd = begin_ + kMaxLine;
    const void *newline = std::memchr(buffer_.data() + keepEnd, '\n', end_ - keepEnd);
    if (newline != nullptr) {
      size_t after = static_cast<size_t>(static_cast<const char *>(newline) - buffer_.data()) + 1;
      std::memmove(buffer_.data() + keepEnd, buffer_.data() + after, end_ - after);
      end_ = keepEnd + (end_ - after);
      return;
    }
    end_ = keepEnd;
    if (eof_ || !Fill()) return;
  }
}

}  // namespace host
