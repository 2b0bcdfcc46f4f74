#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// A request path split at its separator, upper-cased, with the name and extension of its last
// part: done once per request, whatever the number of masks it is held against. The buffers are
// kept from one request to the next.
class RequestPath {
 public:
  void Split(std::string_view path, char separator);

  // Parts between separators; an empty path has none, a leading separator gives an empty first.
  int32_t PartCount() const noexcept { return static_cast<int32_t>(parts_.size()); }
  std::string_view Part(int32_t index) const noexcept { return parts_[static_cast<size_t>(index)]; }
  // The dots of the last part, or -1 when the last part is empty (a directory request).
  int32_t DotCount() const noexcept { return dotCount_; }
  // The last part up to its first dot, and the text between its first and second dot.
  std::string_view Name() const noexcept { return name_; }
  std::string_view Extension() const noexcept { return extension_; }

 private:
  std::string upper_;
  std::vector<std::string_view> parts_;
  int32_t dotCount_ = -1;
  std::string_view name_;
  std::string_view extension_;
};

}  // namespace vantrel
