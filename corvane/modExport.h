#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace corvane {

// Export lines for the companion program: each value behind one separator, the first of
// "^|~#" that none of the line's values holds, so the line's first byte names its separator.

// What one scan of a line's values finds.
struct ExportScan {
  // The separator, or '\0' when the values hold all four: such a line cannot be written.
  char separator = '\0';
  // A CR or LF is among the values.
  bool lineBreaks = false;
  // The length of the fields: the values and a separator before each.
  size_t size = 0;
};

ExportScan ScanExportValues(std::span<const std::string_view> values) noexcept;

// Writes the separator and each value behind it, scan.size bytes, and returns their end. A CR
// or LF inside a value is written as a blank: one request or alert is always one line.
char *WriteExportFields(char *out, const ExportScan &scan,
                        std::span<const std::string_view> values) noexcept;

}  // namespace corvane
