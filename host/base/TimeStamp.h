#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace host {

// flowdeck's one way of writing a time, in what it prints and in its own files: RFC 3339 in
// this machine's local time with its offset, "2026-12-09T17:49:30+01:00". The plug-ins' files
// keep their own.
std::string FormatTimeStamp(int64_t unixSeconds);

// The Unix seconds of a time as FormatTimeStamp writes it, with any offset or "Z" (as earlier
// versions wrote their files), fractions of a second dropped; nothing for any other text.
std::optional<int64_t> ReadTimeStamp(std::string_view text);

}  // namespace host
