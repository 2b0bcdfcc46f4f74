#pragma once

#include <string>
#include <utility>

namespace corvane {

// One queued alert: a whole alert line without its line end.
class clsUserAlert {
 public:
  explicit clsUserAlert(std::string text) noexcept : text_(std::move(text)) {}
  const std::string &Text() const noexcept { return text_; }

 private:
  std::string text_;
};

}  // namespace corvane
