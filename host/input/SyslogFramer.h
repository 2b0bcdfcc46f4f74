#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace host {

// Cuts the byte stream of one TCP syslog connection into messages. Each message is framed
// either by its length ("123 <PRI>...", octet counting) or by a line end (LF or NUL,
// non-transparent framing), told apart by its first byte as RFC 6587 says: a digit starts a
// length. A message longer than kMaxFrame is counted and dropped whole, never held.
class SyslogFramer {
 public:
  static constexpr size_t kMaxFrame = 64 * 1024;
  using Sink = std::function<void(std::string_view frame)>;

  // Bytes as they came; every message they complete goes to `sink` (blank ones do not).
  void Feed(std::string_view bytes, const Sink &sink);
  // The connection is closed: a last message without its line end goes to `sink`.
  void Finish(const Sink &sink);

  uint64_t Oversized() const { return oversized_; }
  // Bytes of a message not complete yet.
  size_t Pending() const { return pending_.size(); }

 private:
  // Reads the messages of `data` from its start; the number of bytes used up.
  size_t Cut(std::string_view data, const Sink &sink);

  std::string pending_;
  uint64_t skip_ = 0;       // bytes of an oversized counted message still to drop
  bool toLineEnd_ = false;  // an oversized line: dropped up to its end
  uint64_t oversized_ = 0;
};

}  // namespace host
