#include "OwnFiles.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

#include "Posix.h"

namespace common {

namespace {

constexpr size_t kRandomLetters = 12;
// Names to try before giving up: a clash with one of 62^12 names is a sign of something else.
constexpr int kTries = 16;

std::string RandomLetters() {
  static constexpr char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[kRandomLetters];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (errno != EINTR) {
      break;
    }
  }
  std::random_device fallback;  // only when the kernel had no random bytes to give
  while (got < sizeof bytes) bytes[got++] = static_cast<unsigned char>(fallback());
  std::string letters;
  // A byte modulo 62 favours a few letters slightly; the name stays beyond guessing.
  for (unsigned char byte : bytes) letters += kAlphabet[byte % (sizeof kAlphabet - 1)];
  return letters;
}

// Opens for reading what the path leads to, which must be a regular file: without waiting on a
// FIFO, with EISDIR for a directory and ENXIO for anything else.
int OpenFollowingLink(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fd;
  struct stat opened {};
  if (fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) return fd;
  const int errnum = S_ISDIR(opened.st_mode) ? EISDIR : ENXIO;
  ::close(fd);
  errno = errnum;
  return -1;
}

FileFailure Failed(FileFailure::Step step, std::string path, int errnum) {
  return FileFailure{step, std::move(path), OpenFailure(errnum), errnum};
}

std::string TypeName(mode_t mode) {
  if (S_ISLNK(mode)) return "is a symbolic link, which flowdeck does not follow";
  if (S_ISDIR(mode)) return "is a directory";
  if (S_ISFIFO(mode)) return "is a FIFO, not a regular file";
  if (S_ISSOCK(mode)) return "is a socket, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
  return "is not a regular file";
}

}  // namespace

int CreateUniqueFile(const std::string &prefix, std::string_view suffix, mode_t mode,
                     std::string &path) {
  for (int attempt = 0; attempt < kTries; ++attempt) {
    path = prefix + RandomLetters();
    path.append(suffix);
    const int fd = Posix().open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return fd;
    // The umask may have taken bits that a reader of the file needs.
    if (fchmod(fd, mode) != 0) {
      const int errnum = errno;
      Posix().close(fd);
      Posix().unlink(path.c_str());
      errno = errnum;
      return -1;
    }
    return fd;
  }
  errno = EEXIST;
  return -1;
}

std::optional<std::string> ReadRegularFile(const std::string &path, size_t limit, bool followLink) {
  const int fd = followLink ? OpenFollowingLink(path) : Posix().open(path.c_str(), O_RDONLY, 0);
  if (fd < 0) return std::nullopt;
  std::string content;
  char buffer[65536];
  int errnum = 0;
  for (;;) {
    const ssize_t n = Posix().read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) errnum = errno;
    if (n <= 0) break;
    if (content.size() + static_cast<size_t>(n) > limit) {
      errnum = EFBIG;
      break;
    }
    content.append(buffer, static_cast<size_t>(n));
  }
  Posix().close(fd);
  if (errnum == 0) return content;
  errno = errnum;
  return std::nullopt;
}

std::string WriteRefusal(const std::string &path) {
  struct stat standing {};
  if (lstat(path.c_str(), &standing) != 0 || S_ISREG(standing.st_mode)) return "";
  return TypeName(standing.st_mode);
}

// Writes all of text; false with errno set when it cannot.
bool WriteAll(int fd, std::string_view text) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = Posix().write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

FileFailure WriteWholeFile(const std::string &path, std::string_view content,
                           const WholeFile &how) {
  if (std::string refusal = WriteRefusal(path); !refusal.empty()) {
    return FileFailure{FileFailure::Step::kRefused, path, std::move(refusal), 0};
  }
  std::string temporary;
  const int fd =
      CreateUniqueFile(path + how.temporaryInfix, how.temporarySuffix, how.mode, temporary);
  if (fd < 0) return Failed(FileFailure::Step::kCreate, path, errno);
  bool written = WriteAll(fd, content);
  if (written && how.beforeRename) how.beforeRename(fd);
  if (written && how.sync && Posix().fsync(fd) != 0) written = false;
  int errnum = errno;
  if (Posix().close(fd) != 0 && written) written = false, errnum = errno;
  if (!written) {
    Posix().unlink(temporary.c_str());
    return Failed(FileFailure::Step::kWrite, temporary, errnum);
  }
  if (Posix().rename(temporary.c_str(), path.c_str()) != 0) {
    errnum = errno;
    Posix().unlink(temporary.c_str());
    return Failed(FileFailure::Step::kReplace, path, errnum);
  }
  return {};
}

std::string OpenFailure(int errnum) {
  if (errnum == ELOOP) return "a symbolic link stands there, which flowdeck does not follow";
  if (errnum == ENXIO) return "not a regular file (a FIFO, socket or device)";
  return std::strerror(errnum);
}

}  // namespace common
