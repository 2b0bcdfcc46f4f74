#pragma once

#include <string_view>

#include "clsConfig.h"

namespace corvane {

// The monitor's settings: one object per thread that uses the plug-in, created empty on first
// use and kept for the thread's life, whatever happens to the Corvane objects.
common::clsConfig &gConfig();

// Appends one line to the trace log whatever the Trace switch says: callers test it first, so
// that a line that is off costs no formatting.
void WriteTrace(std::string_view text);

}  // namespace corvane
