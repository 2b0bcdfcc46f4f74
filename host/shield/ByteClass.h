#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace host {

// Flags for each of the 256 byte values, built at compile time: a map file's writer learns in
// one pass over a value which of its bytes the web server's reader takes specially, and only
// then looks at the bytes one by one.
class ByteClass {
 public:
  // Every byte of `bytes` gains `flag`.
  constexpr ByteClass Mark(std::string_view bytes, uint8_t flag) const {
    ByteClass marked = *this;
    for (char c : bytes) marked.flags_[static_cast<unsigned char>(c)] |= flag;
    return marked;
  }

  // Every byte that is not in `bytes` gains `flag`.
  constexpr ByteClass MarkAllBut(std::string_view bytes, uint8_t flag) const {
    ByteClass marked = *this;
    for (int c = 0; c < 256; ++c) {
      if (bytes.find(static_cast<char>(c)) == std::string_view::npos) marked.flags_[c] |= flag;
    }
    return marked;
  }

  constexpr uint8_t Of(char c) const { return flags_[static_cast<unsigned char>(c)]; }

  // The flags of every byte of a text, together.
  constexpr uint8_t OfAll(std::string_view text) const {
    uint8_t flags = 0;
    for (char c : text) flags |= Of(c);
    return flags;
  }

 private:
  std::array<uint8_t, 256> flags_{};
};

}  // namespace host
