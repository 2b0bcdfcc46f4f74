#pragma once

#include <iosfwd>

#include "input/LineStats.h"
#include "run/CycleSchedule.h"
#include "run/Session.h"
#include "shield/TripwireDefinitions.h"

namespace host {

// The end of a run, as a person reads it: lines, requests, visitors, alert levels, shields,
// the files written, and the pace.
// What the run loop and the start of the run found, beside what the plug-ins wrote.
struct RunFacts {
  const LineStats &lines;
  const Cadence &cadence;
  const TripwireDefinitions &tripwires;
  double seconds = 0;
};

void PrintSummary(std::ostream &out, const RunFacts &facts, Session &session);

}  // namespace host
