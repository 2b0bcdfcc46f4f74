#pragma once

#include <iosfwd>

#include "CycleSchedule.h"
#include "LineStats.h"
#include "Session.h"

namespace host {

// The end of a run, as a person reads it: lines, requests, visitors, alert levels, shields,
// the files written, and the pace.
void PrintSummary(std::ostream &out, const LineStats &lines, Session &session,
                  const Cadence &cadence, double seconds);

}  // namespace host
