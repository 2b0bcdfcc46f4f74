#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace report {

// A local time as milliseconds since 1899-12-30 00:00.
using Moment = int64_t;

// The time an arrival serial stands for: its digits are yyMMddHHnnssfff, so two serials are
// subtracted as times, never as numbers. Nothing when the digits name no real time.
std::optional<Moment> MomentFromSerial(std::string_view digits);

// "12/07/2026 21:34:55", "12/07/2026 09:34:55 PM", "12/7/2026 9:34:55 PM" or the date alone.
std::optional<Moment> MomentFromDateText(std::string_view text);

// "1dy, 2h, 3m, 4s, 5ms" back to milliseconds (a month as 30 days, a year as 365); nothing for
// a text that is not made of such parts. The empty text is 0.
std::optional<int64_t> MillisecondsFromElapsedText(std::string_view text);

// A time flowdeck wrote ("2026-12-07T08:16:40+01:00", or "2026-12-07T07:16:40Z" as earlier
// versions did) as this machine's local time.
std::optional<Moment> MomentFromTimeStamp(std::string_view text);

// RFC 3339 with this machine's offset at that time, as flowdeck writes every time:
// "2026-12-07T21:34:55+01:00".
std::string FormatMoment(Moment moment);
// "21:34:55".
std::string FormatTimeOfDay(Moment moment);
// "2d 3h", "1h 6m", "4m 10s", "12s", "1.25s", "0.4s".
std::string FormatDuration(int64_t milliseconds);

}  // namespace report
