#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace host {

// Follows a growing log as "tail -F" does: reads what was appended, and when the file is
// rotated (a new file under the name) or truncated, finishes the old one and starts the new
// one from its beginning. A missing file is waited for.
class FollowReader {
 public:
  // Throws std::runtime_error when the path is a directory: there is nothing to follow.
  FollowReader(std::string path, bool fromStart);
  ~FollowReader();
  FollowReader(const FollowReader &) = delete;
  FollowReader &operator=(const FollowReader &) = delete;

  // The next complete line, if one is there now; the view is valid until the next call.
  bool Next(std::string_view &line);
  // Checks for rotation and truncation; call when Next has nothing.
  void Poll();

 private:
  bool Open(bool atEnd);
  bool ReadMore();

  std::string path_;
  int fd_ = -1;
  ino_t inode_ = 0;
  off_t offset_ = 0;
  std::string buffer_;
  size_t begin_ = 0;
  bool skippingLongLine_ = false;  // the head of the line was handed on; the rest is dropped
};

}  // namespace host
