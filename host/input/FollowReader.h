#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "input/LogReader.h"

namespace host {

// Follows a growing log as "tail -F" does: reads what was appended, and when the file is
// rotated (a new file under the name) or truncated, finishes the old one and starts the new
// one from its beginning. A file that cannot be read (missing, in a missing folder, not
// readable) is looked for at every Poll and read once it can be: from its beginning when it
// appeared later, from where it ended at the start when it was there unreadable (its permissions
// fixed), so that a follow from the end never takes old lines for new ones.
class FollowReader {
 public:
  // Throws Error when the path is a directory: there is nothing to follow.
  FollowReader(std::string path, bool fromStart);
  ~FollowReader();
  FollowReader(const FollowReader &) = delete;
  FollowReader &operator=(const FollowReader &) = delete;

  // The next complete line, if one is there now; the view is valid until the next call. A line
  // longer than kMaxLine is handed on as its head, flagged, and the rest of it dropped.
  bool Next(std::string_view &line, bool &tooLong);
  // Checks for rotation and truncation; call when Next has nothing.
  void Poll();

  const std::string &Path() const { return path_; }
  // Lines handed on since following began.
  uint64_t LineNumber() const { return lineNumber_; }
  // 0 while the file under the name is the one being read, else why it cannot be (an errno
  // value: ENOENT for a missing file or folder, EACCES, EISDIR...). The file it was rotated
  // from is still read to its end meanwhile.
  int Error() const { return error_; }
  // Reads that brought new bytes: lines that came in the same read arrived together.
  uint64_t Reads() const { return reads_; }
  uint64_t BytesRead() const { return bytesRead_; }
  // What the file holds beyond the lines handed on so far.
  uint64_t BytesBehind() const;

  static constexpr size_t kMaxLine = LogReader::kMaxLine;  // one limit for every log

 private:
  // Opens the file under the name in place of the one read so far; false (and error_ set) when
  // it cannot be.
  bool Open(bool atEnd);
  bool ReadMore();

  std::string path_;
  int fd_ = -1;
  ino_t inode_ = 0;
  int error_ = 0;
  // A follow from the end whose log was there but unreadable at the start: that file, and where
  // it ended then, for when it can be read.
  ino_t unreadInode_ = 0;
  off_t unreadSize_ = 0;
  off_t offset_ = 0;
  std::string buffer_;
  size_t begin_ = 0;
  bool skippingLongLine_ = false;  // the head of the line was handed on; the rest is dropped
  uint64_t lineNumber_ = 0, reads_ = 0, bytesRead_ = 0;
};

}  // namespace host
