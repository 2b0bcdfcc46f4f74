#pragma once

#include <string_view>

namespace corvane {

// One record of the hit export buffer: a whole export line without its line end. A view into
// the buffer, valid until the buffer changes.
class clsHitData {
 public:
  explicit clsHitData(std::string_view text) noexcept : text_(text) {}
  std::string_view Text() const noexcept { return text_; }

 private:
  std::string_view text_;
};

}  // namespace corvane
