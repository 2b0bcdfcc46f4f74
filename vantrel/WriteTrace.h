#pragma once

#include "SharedObjects.h"
#include "Trace.h"

namespace vantrel {

// Whether the configuration of this thread has tracing switched on.
inline bool TraceOn() {
  return gConfig().Trace();
}

// Appends one line, made of the given pieces, to the trace log while this thread's settings
// have tracing on; see common::WriteTrace.
template <class... Parts>
void WriteTrace(const Parts &...parts) {
  common::WriteTrace(gConfig(), parts...);
}

}  // namespace vantrel
