#pragma once

#include <string_view>

#include "input/LogRecord.h"

namespace host {

// One way of reading a log line into a record: the built-in Common Log Format reader, a
// compiled format string, a JSON template.
class LineLayout {
 public:
  virtual ~LineLayout() = default;
  // Reads one line (without its line end); on kMalformed, record.fault says why.
  virtual ParseOutcome Parse(std::string_view line, LogRecord &record) const = 0;
};

}  // namespace host
