#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "input/TimeParts.h"
#include "input/TimePattern.h"

namespace host {

// Where the value of a format's field goes in a log record.
enum class LogSlot : uint8_t {
  kClient,
  kAuthUser,
  kRequest,  // "GET /a?b HTTP/1.1"
  kMethod,
  kTarget,  // path and query as the client sent them
  kPath,
  kQuery,
  kProtocol,
  kVhost,
  kPort,
  kReferrer,
  kUserAgent,
  kForwarded,  // the X-Forwarded-For chain
  kStatus,     // the response's status
};
constexpr size_t kLogSlots = static_cast<size_t>(LogSlot::kStatus) + 1;

// How a field's text is used.
enum class FieldUse : uint8_t {
  kIgnored,       // read over: a variable flowdeck has no use for, or does not know
  kSlot,          // the text goes to the slot
  kHostAndPort,   // "host:port": the host to kVhost, the port to kPort
  kMarkedQuery,   // Apache's %q: "?query" or nothing
  kQuestionMark,  // nginx's $is_args: "?" or nothing, between $uri and $args
  kUriAndArgs,    // nginx's "$uri$is_args$args" in a text log: without a query, $args is "-"
  kTime,          // read as the time form says
};

// The shapes of the time fields. Every one but kAny reads exactly its shape, so that a time
// field ends itself and may stand right before another field.
enum class TimeForm : uint8_t {
  kClf,             // 10/Oct/2000:13:55:36 -0700
  kIso,             // 2000-10-10T13:55:36-07:00
  kEpochFraction,   // 1700000000.123 (nginx $msec)
  kEpochSeconds,    // 1700000000
  kEpochMillis,     // %{msec}t
  kEpochMicros,     // %{usec}t
  kMillisFraction,  // %{msec_frac}t
  kMicrosFraction,  // %{usec_frac}t
  kPattern,         // a strftime format
  kAny,             // a JSON value: whatever time it holds, to its end
};

struct FieldTarget {
  FieldUse use = FieldUse::kIgnored;
  LogSlot slot = LogSlot::kClient;
  // Of several fields for one slot the highest priority that a line holds wins: $host over
  // $server_name, %a over %h.
  uint8_t priority = 1;
  TimeForm time = TimeForm::kAny;
  std::shared_ptr<const TimePattern> pattern;  // kPattern

  static FieldTarget Slot(LogSlot slot, uint8_t priority = 1) {
    return {FieldUse::kSlot, slot, priority, TimeForm::kAny, nullptr};
  }
  static FieldTarget Use(FieldUse use, uint8_t priority = 1) {
    return {use, LogSlot::kClient, priority, TimeForm::kAny, nullptr};
  }
  static FieldTarget Time(TimeForm form, uint8_t priority = 1) {
    return {FieldUse::kTime, LogSlot::kClient, priority, form, nullptr};
  }

  bool Ends() const { return use == FieldUse::kTime && time != TimeForm::kAny; }
  bool Fills(LogSlot wanted) const;
  // Reads a time field at text[at]; kAny reads the whole rest of the text.
  bool ReadTime(std::string_view text, size_t &at, TimeParts &parts) const;
};

// A format must name the client, the time and the request (whole, or its method and its
// target); throws FormatError at `end` naming what is missing.
void RequireEssentialFields(const std::vector<const FieldTarget *> &targets, size_t end);

}  // namespace host
