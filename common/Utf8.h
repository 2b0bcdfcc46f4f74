#pragma once

#include <string>
#include <string_view>

namespace common {

// The length of a valid UTF-8 sequence of two or more bytes at the front of text, with its code
// point in code; 0, code untouched, when there is none (overlong forms and surrogates included).
size_t DecodeUtf8Sequence(std::string_view text, char32_t &code) noexcept;

// Appends a code point below 0x110000 as UTF-8.
void AppendUtf8(std::string &out, char32_t code);

}  // namespace common
