#include "KvError.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "Project.h"

namespace common {

std::string_view StandardDescription(int32_t number) noexcept {
  switch (number) {
    case kInvalidArgument:
      return "Invalid procedure call or argument";
    case kOverflow:
      return "Overflow";
    case kOutOfMemory:
      return "Out of memory";
    case kSubscriptOutOfRange:
      return "Subscript out of range";
    case kTypeMismatch:
      return "Type mismatch";
    case kFileNotFound:
      return "File not found";
    case kDiskFull:
      return "Disk full";
    case kPermissionDenied:
      return "Permission denied";
    case kPathFileAccessError:
      return "Path/File access error";
    case kPathNotFound:
      return "Path not found";
    case kDuplicateKey:
      return "This key is already associated with an element of this collection";
    default:
      return "Application-defined or object-defined error";
  }
}

void KvError::Prepend(std::string_view label, std::string_view name) {
  std::string source;
  source.reserve(label.size() + name.size() + 1 + source_.size());
  source.append(label).append(name).append(1, '\r').append(source_);
  source_ = std::move(source);
}

void KvError::Append(std::string_view label, std::string_view name) {
  source_.append(1, '\r').append(label).append(name);
}

std::string StartingSource(const Site &site) {
  std::string source(ProjectName());
  if (!site.className.empty()) source.append(1, '.').append(site.className);
  return source;
}

void Raise(const Site &site, int32_t number) {
  throw KvError(number, std::string(StandardDescription(number)), StartingSource(site));
}

static int32_t FileErrorNumber(int errnum, bool pathMissing) {
  switch (errnum) {
    case ENOENT:
      return pathMissing ? kPathNotFound : kFileNotFound;
    case ENOTDIR:
      return kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kPermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kDiskFull;
    default:
      return kPathFileAccessError;
  }
}

KvError FileError(const Site &site, int errnum, std::string_view path) {
  // A missing file in an existing directory is "File not found"; a missing directory is a path.
  bool pathMissing = false;
  if (errnum == ENOENT) {
    std::string dir(path.substr(
        0, path.find_last_of('/') == std::string_view::npos ? 0 : path.find_last_of('/')));
    pathMissing = !dir.empty() && access(dir.c_str(), F_OK) != 0;
  }
  int32_t number = FileErrorNumber(errnum, pathMissing);
  std::string description(StandardDescription(number));
  description.append(": ").append(path).append(" (").append(std::strerror(errnum)).append(")");
  return KvError(number, std::move(description), StartingSource(site));
}

}  // namespace common
