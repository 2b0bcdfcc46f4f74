#pragma once

#include "DateTime.h"

namespace common {

using ClockFunction = double (*)(void *context);

// The current local date-time: the host's clock when it set one, else the system's.
DateTime Now();

// Replaces the clock for every caller of Now in this plug-in; nullptr restores the system's.
void SetClock(ClockFunction clock, void *context) noexcept;

// The system's local date-time, whatever clock is set.
DateTime SystemNow();

}  // namespace common
