#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace host {

// A format string that cannot be compiled: what is wrong, and where. The position counts
// bytes from the start of the text that was compiled (0 for the first); a fault of the whole
// format (a field it lacks) points just past its end.
struct FormatError : std::runtime_error {
  FormatError(const std::string &what, size_t at) : std::runtime_error(what), position(at) {}
  size_t position;
};

}  // namespace host
