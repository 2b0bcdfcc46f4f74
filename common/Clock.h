#pragma once

#include <cstdint>

#include "DateTime.h"

namespace common {

using ClockFunction = double (*)(void *context);

// The current local date-time: the host's clock when it set one, else the system's.
DateTime Now();

// Replaces the clock for every caller of Now in this plug-in; nullptr restores the system's.
void SetClock(ClockFunction clock, void *context) noexcept;

// The system's clock at one instant, in both forms: the local date-time, and UTC milliseconds
// since 1970 for lifetimes that must not move with a zone.
struct SystemInstant {
  DateTime local = 0;
  int64_t utcMilliseconds = 0;
};

// The system's clock now, whatever clock is set.
SystemInstant SystemInstantNow();

// The system's local date-time, whatever clock is set.
DateTime SystemNow();

}  // namespace common
