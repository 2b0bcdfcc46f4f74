#include "TextFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Posix.h"

namespace common {

namespace {

constexpr size_t kWriteBuffer = 1 << 16;
constexpr size_t kReadBuffer = 1 << 16;
// Readable by the group, not by everyone: the exports hold every URL and user agent.
constexpr mode_t kFileMode = 0640;

int OpenForWriting(const std::string &path, TextWriter::Mode mode) {
  int flags =
      O_WRONLY | O_CREAT | O_CLOEXEC | (mode == TextWriter::Mode::kAppend ? O_APPEND : O_TRUNC);
  return Posix().open(path.c_str(), flags, kFileMode);
}

}  // namespace

TextWriter::TextWriter(const Site &site, std::string path, Mode mode)
    : site_(site), path_(std::move(path)) {
  fd_ = OpenForWriting(path_, mode);
  if (fd_ < 0) Fail(errno);
  if (mode == Mode::kAppend) {
    struct stat info {};
    committedSize_ = fstat(fd_, &info) == 0 ? static_cast<long long>(info.st_size) : -1;
  }
}

TextWriter::~TextWriter() {
  if (fd_ >= 0) Posix().close(fd_);
}

void TextWriter::Write(std::string_view text) {
  buffer_.append(text);
  if (buffer_.size() >= kWriteBuffer) Flush();
}

void TextWriter::WriteLine(std::string_view text) {
  buffer_.append(text).append("\r\n", 2);
  ++pendingLines_;
  if (buffer_.size() >= kWriteBuffer) Flush();
}

void TextWriter::WriteLines(std::string_view lines, size_t count) {
  buffer_.append(lines);
  pendingLines_ += count;
  if (buffer_.size() >= kWriteBuffer) Flush();
}

void TextWriter::Flush() {
  size_t done = 0;
  while (done < buffer_.size()) {
    ssize_t n = Posix().write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int errnum = n < 0 ? errno : ENOSPC;
      // Keep only the complete lines of what went out.
      size_t lastLineEnd = buffer_.rfind('\n', done == 0 ? 0 : done - 1);
      size_t keep = (done == 0 || lastLineEnd == std::string::npos) ? 0 : lastLineEnd + 1;
      linesWritten_ += static_cast<size_t>(
          std::count(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(keep), '\n'));
      committedSize_ += static_cast<long long>(keep);
      if (committedSize_ >= 0 && keep < done) Posix().ftruncate(fd_, committedSize_);
      buffer_.clear();
      pendingLines_ = 0;
      Fail(errnum);
    }
    done += static_cast<size_t>(n);
  }
  linesWritten_ += pendingLines_;
  pendingLines_ = 0;
  committedSize_ += static_cast<long long>(buffer_.size());
  buffer_.clear();
}

void TextWriter::Close() {
  if (fd_ < 0) return;
  Flush();
  int fd = fd_;
  fd_ = -1;
  if (Posix().close(fd) != 0) Fail(errno);
}

void TextWriter::Fail(int errnum) {
  throw FileError(site_, errnum, path_);
}

std::optional<TextReader> TextReader::TryOpen(std::string path) {
  int fd = Posix().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  return TextReader(fd, std::move(path));
}

TextReader::TextReader(const Site &site, std::string path) : path_(std::move(path)) {
  fd_ = Posix().open(path_.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd_ < 0) throw FileError(site, errno, path_);
}

TextReader::TextReader(TextReader &&other) noexcept
    : path_(std::move(other.path_)),
      fd_(other.fd_),
      buffer_(std::move(other.buffer_)),
      begin_(other.begin_),
      end_(other.end_),
      eof_(other.eof_) {
  other.fd_ = -1;
}

TextReader::~TextReader() {
  if (fd_ >= 0) Posix().close(fd_);
}

bool TextReader::ReadLine(const Site &site, std::string &line) {
  line.clear();
  // A small file read again and again (the definitions at every shield cycle) should not cost a
  // cleared buffer each time.
  if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kReadBuffer);
  for (;;) {
    const char *start = buffer_.get() + begin_;
    const char *newline = static_cast<const char *>(std::memchr(start, '\n', end_ - begin_));
    if (newline != nullptr) {
      line.append(start, newline);
      begin_ = static_cast<size_t>(newline - buffer_.get()) + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    line.append(start, end_ - begin_);
    begin_ = end_ = 0;
    if (eof_) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return !line.empty();
    }
    ssize_t n = Posix().read(fd_, buffer_.get(), kReadBuffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileError(site, errno, path_);
    }
    if (n == 0) eof_ = true;
    end_ = static_cast<size_t>(n);
  }
}

void AppendLine(const Site &site, const std::string &path, std::string_view text) {
  TextWriter writer(site, path, TextWriter::Mode::kAppend);
  writer.WriteLine(text);
  writer.Close();
}

void CreateIfMissing(const Site &site, const std::string &path) {
  int fd = Posix().open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, kFileMode);
  if (fd < 0) throw FileError(site, errno, path);
  Posix().close(fd);
}

void ReplaceFile(const Site &site, const std::string &from, const std::string &to) {
  if (Posix().rename(from.c_str(), to.c_str()) != 0) throw FileError(site, errno, to);
}

bool RemoveFile(const std::string &path) noexcept {
  return Posix().unlink(path.c_str()) == 0;
}

}  // namespace common
