#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "OwnFiles.h"

namespace host {

// Calls `take(line)` for each line of one of flowdeck's record files (the shields, the allow
// list, the offences) that is neither blank nor a comment ('#'). The file is read as flowdeck
// wrote it: a symbolic link or a FIFO under its name is no record, nor is a file over `largest`
// bytes.
template <typename Take>
void ForEachRecordLine(const std::string &path, size_t largest, Take take) {
  const std::optional<std::string> file = common::ReadRegularFile(path, largest);
  const std::string_view text = file ? std::string_view(*file) : std::string_view();
  for (size_t start = 0, end = 0; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line[0] != '#') take(line);
  }
}

}  // namespace host
