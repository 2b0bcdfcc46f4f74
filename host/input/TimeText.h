#pragma once

#include <cstddef>
#include <string_view>

#include "input/TimeParts.h"

namespace host {

// Readers of the time texts that logs hold. Each reads at text[at], moves `at` past what it
// read and fills `parts`; false when the text there is no such time (then `at` is undefined).

// "10/Oct/2000:13:55:36 -0700", optionally "13:55:36.123": Common Log Format, nginx
// $time_local, Apache %t without its brackets.
bool ReadClfTime(std::string_view text, size_t &at, TimeParts &parts);

// "2000-10-10T13:55:36-07:00": ISO 8601 and RFC 3339 (nginx $time_iso8601, JSON logs): a
// "T" or a blank between date and time, optional fraction, then "Z", "+hh:mm", "+hhmm",
// "+hh" or nothing (the writer's wall clock). "/" between the date's parts is read too.
bool ReadIsoTime(std::string_view text, size_t &at, TimeParts &parts);

// Whole units since 1970 (unitsPerSecond 1 for %{sec}t and %s, 1000 for %{msec}t, 1000000
// for %{usec}t); with `fraction` also a decimal fraction of seconds ("1700000000.123", nginx
// $msec).
bool ReadEpoch(std::string_view text, size_t &at, int unitsPerSecond, bool fraction,
               TimeParts &parts);

// A zone offset "+hhmm" or "+hh:mm" (strftime's %z).
bool ReadZoneOffset(std::string_view text, size_t &at, TimeParts &parts);

// Exactly `digits` digits of a second's fraction (%{msec_frac}t: 3, %{usec_frac}t: 6).
bool ReadFraction(std::string_view text, size_t &at, int digits, TimeParts &parts);

// A whole text of a JSON log's time field, whatever the writer chose: RFC 3339 or another
// ISO 8601 form, a Common Log time, or an epoch number whose size tells its unit (seconds,
// milliseconds, microseconds or nanoseconds since 1970).
bool ReadAnyTime(std::string_view text, TimeParts &parts);

// A month's English name or its three-letter abbreviation at text[at] (case ignored): 1-12,
// or 0.
int ReadMonthName(std::string_view text, size_t &at);

}  // namespace host
