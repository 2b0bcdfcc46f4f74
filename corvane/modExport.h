#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace corvane {

// Export lines for the companion program: each value behind one separator, the first of
// "^|~#" that none of the line's values holds, so the line's first byte names its separator.
// Values that hold all four are written with "#" as the separator and each "#" inside them as
// "%23": a visitor cannot hide from the export by putting every separator in its user agent.

// What one scan of a line's values finds.
struct ExportScan {
  // The separator: '#' too when the values hold all four, then escaped inside them.
  char separator = '\0';
  // Each "#" inside a value is written as "%23".
  bool escapeSeparator = false;
  // A CR or LF is among the values.
  bool lineBreaks = false;
  // The length of the fields: the values and a separator before each.
  size_t size = 0;
};

ExportScan ScanExportValues(std::span<const std::string_view> values) noexcept;

// Writes the separator and each value behind it, scan.size bytes, and returns their end. A CR
// or LF inside a value is written as a blank: one request or alert is always one line; a "#"
// as "%23" when the scan says so.
char *WriteExportFields(char *out, const ExportScan &scan,
                        std::span<const std::string_view> values) noexcept;

}  // namespace corvane
