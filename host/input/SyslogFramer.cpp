#include "input/SyslogFramer.h"

#include <algorithm>
#include <cstring>

namespace host {

namespace {

constexpr size_t kMaxLengthDigits = 7;  // a length field longer than this frames nothing

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The end of a line-framed message at or after `from`: LF or NUL.
size_t LineEnd(std::string_view data, size_t from) {
  const char *begin = data.data() + from;
  const size_t size = data.size() - from;
  const void *newline = std::memchr(begin, '\n', size);
  const size_t limit = newline == nullptr ? size : static_cast<const char *>(newline) - begin;
  const void *nul = std::memchr(begin, '\0', limit);
  if (nul != nullptr) return from + static_cast<size_t>(static_cast<const char *>(nul) - begin);
  return newline == nullptr ? std::string_view::npos : from + limit;
}

}  // namespace

size_t SyslogFramer::Cut(std::string_view data, const Sink &sink) {
  size_t at = 0;
  while (at < data.size()) {
    if (skip_ > 0) {
      const size_t dropped = static_cast<size_t>(std::min<uint64_t>(skip_, data.size() - at));
      at += dropped;
      skip_ -= dropped;
      continue;
    }
    if (toLineEnd_) {
      const size_t end = LineEnd(data, at);
      if (end == std::string_view::npos) return data.size();
      toLineEnd_ = false;
      at = end + 1;
      continue;
    }
    if (IsDigit(data[at])) {
      size_t digits = at;
      uint64_t length = 0;
      while (digits < data.size() && digits - at < kMaxLengthDigits && IsDigit(data[digits])) {
        length = length * 10 + static_cast<uint64_t>(data[digits++] - '0');
      }
      if (digits == data.size()) return at;  // the length is not all here yet
      if (data[digits] == ' ') {
        const size_t body = digits + 1;
        if (length > kMaxFrame) {
          ++oversized_;
          skip_ = length;
          at = body;
          continue;
        }
        if (data.size() - body < length) return at;
        if (length > 0) sink(data.substr(body, length));
        at = body + length;
        continue;
      }
      // Digits without a blank: no length, a line.
    }
    const size_t end = LineEnd(data, at);
    if (end == std::string_view::npos) {
      if (data.size() - at <= kMaxFrame) return at;
      ++oversized_;
      toLineEnd_ = true;
      return data.size();
    }
    std::string_view line = data.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) sink(line);
    at = end + 1;
  }
  return at;
}

void SyslogFramer::Feed(std::string_view bytes, const Sink &sink) {
  if (pending_.empty()) {
    // The common case: whole messages, read where they lie.
    const size_t used = Cut(bytes, sink);
    pending_.assign(bytes.substr(used));
    return;
  }
  pending_.append(bytes);
  const size_t used = Cut(pending_, sink);
  pending_.erase(0, used);
}

void SyslogFramer::Finish(const Sink &sink) {
  if (!pending_.empty() && skip_ == 0 && !toLineEnd_ && !IsDigit(pending_[0])) {
    sink(pending_);
  }
  pending_.clear();
  skip_ = 0;
  toLineEnd_ = false;
}

}  // namespace host
