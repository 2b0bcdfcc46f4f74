#pragma once

#include <charconv>
#include <concepts>
#include <string>
#include <string_view>

#include "Logs.h"
#include "SharedObjects.h"

namespace vantrel {

// Whether the configuration of this thread has tracing switched on.
inline bool TraceOn() {
  return gConfig().Trace();
}

inline void AppendTracePart(std::string &line, std::string_view text) {
  line.append(text);
}

template <std::integral Number>
void AppendTracePart(std::string &line, Number value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  line.append(digits, result.ptr);
}

// Appends one line, made of the given pieces, to the trace log while tracing is on. The line is
// only put together when it is written, so tracing costs nothing while it is off.
template <class... Parts>
void WriteTrace(const Parts &...parts) {
  if (!TraceOn()) return;
  std::string line;
  (AppendTracePart(line, parts), ...);
  common::AppendTrace(line);
}

}  // namespace vantrel
