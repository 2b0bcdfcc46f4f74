#pragma once

#include "Trace.h"
#include "clsConfig.h"

namespace corvane {

// The monitor's settings: one object per thread that uses the plug-in, created empty on first
// use and kept for the thread's life, whatever happens to the Corvane objects.
common::clsConfig &gConfig();

// Appends one line, made of the given pieces, to the trace log while this thread's settings
// have tracing on; see common::WriteTrace.
template <class... Parts>
void WriteTrace(const Parts &...parts) {
  common::WriteTrace(gConfig(), parts...);
}

}  // namespace corvane
