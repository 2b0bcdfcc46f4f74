#pragma once

#include <cstdint>
#include <string_view>

namespace host {

// Why a line gave no record (or, for kForwardedChain, why its forwarded chain was passed
// over). Each kind is counted on its own, so that an operator sees what is wrong with a log.
enum class LineFault : uint8_t {
  kNone,
  kShape,           // the line does not fit its format
  kJson,            // a JSON line that does not parse, or is no object
  kFieldTooLong,    // one field longer than LogRecord::kMaxField
  kTime,            // a time that is no time
  kLineTooLong,     // the reader cut the line at its limit
  kForwardedChain,  // a forwarded chain with an entry that is no address: the connecting
                    // address was kept, the line still counts
};

constexpr size_t kLineFaultKinds = static_cast<size_t>(LineFault::kForwardedChain) + 1;

// How the summary names a kind: "N lines <text>".
constexpr std::string_view LineFaultText(LineFault fault) {
  switch (fault) {
    case LineFault::kNone:
      return "without a fault";
    case LineFault::kShape:
      return "that do not fit the format";
    case LineFault::kJson:
      return "that are not a JSON object";
    case LineFault::kFieldTooLong:
      return "with a field too long";
    case LineFault::kTime:
      return "with a time that is no time";
    case LineFault::kLineTooLong:
      return "too long";
    case LineFault::kForwardedChain:
      return "with a forwarded chain that is no address list";
  }
  return "";
}

// How the metrics label a kind: fault="<label>".
constexpr std::string_view LineFaultLabel(LineFault fault) {
  switch (fault) {
    case LineFault::kNone:
      return "";
    case LineFault::kShape:
      return "shape";
    case LineFault::kJson:
      return "json";
    case LineFault::kFieldTooLong:
      return "field_too_long";
    case LineFault::kTime:
      return "time";
    case LineFault::kLineTooLong:
      return "line_too_long";
    case LineFault::kForwardedChain:
      return "forwarded_chain";
  }
  return "";
}

}  // namespace host
