#pragma once

#include <string>

namespace faults {

// Makes the plug-ins' file calls meet a directory as a user who is not root meets one without
// write permission: nothing can be created, renamed or deleted in it, while the files already
// there can still be written. The tests run as root, whom the real permission does not stop.
class ReadOnlyDirectory {
 public:
  explicit ReadOnlyDirectory(const std::string &directory);
  // Gives the plug-ins the real calls back.
  ~ReadOnlyDirectory();
  ReadOnlyDirectory(const ReadOnlyDirectory &) = delete;
  ReadOnlyDirectory &operator=(const ReadOnlyDirectory &) = delete;
};

}  // namespace faults
