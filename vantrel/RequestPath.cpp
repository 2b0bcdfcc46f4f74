#include "RequestPath.h"

#include <algorithm>

#include "Convert.h"

namespace vantrel {

void RequestPath::Split(std::string_view path, char separator) {
  upper_.assign(path);
  for (char &c : upper_) c = common::UpperAscii(c);
  parts_.clear();
  dotCount_ = -1;
  name_ = extension_ = {};
  if (upper_.empty()) return;
  const std::string_view text(upper_);
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts_.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  const std::string_view last = parts_.back();
  if (last.empty()) return;
  dotCount_ = static_cast<int32_t>(std::count(last.begin(), last.end(), '.'));
  const size_t dot = last.find('.');
  name_ = last.substr(0, dot);
  if (dot != std::string_view::npos)
    extension_ = last.substr(dot + 1, last.find('.', dot + 1) - dot - 1);
}

}  // namespace vantrel
