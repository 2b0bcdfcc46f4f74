#pragma once

#include <cstdint>
#include <functional>

#include "input/LineSource.h"
#include "input/LineStats.h"
#include "run/CycleSchedule.h"
#include "run/Session.h"

namespace host {

// The one order of a run, whatever its lines come from: the clock starts at the first line
// (or now), CONFIG goes to both plug-ins, then every line advances the clock, runs the cycles
// that are due and is streamed; at the end both plug-ins cycle once more and the monitor is
// settled.
class RunLoop {
 public:
  RunLoop(Session &session, LineSource &source, const Cadence &cadence, LineStats &stats);

  // Called after the cycles due at one moment have run (the last ones included), saying
  // whether the monitor cycled.
  void AfterCycles(std::function<void(bool monitor)> hook) { afterCycles_ = std::move(hook); }
  // Called between lines now and then (whenever the source is idle, and every few thousand
  // lines): where a live run looks at its signals.
  void Between(std::function<void()> hook) { between_ = std::move(hook); }
  // Called every few thousand lines with the lines and bytes read so far: where a progress
  // line is drawn.
  void EveryFewThousand(std::function<void(uint64_t lines, uint64_t bytes)> hook) {
    everyFewThousand_ = std::move(hook);
  }

  void Run();

 private:
  // Moves the clock to `now` and runs the cycles due by then: the shield plug-in's first, so
  // that its shields are locked in the monitor before anything else reaches it.
  void Advance(const RunTime &now);
  void Stream(const SourceLine &line);

  Session &session_;
  LineSource &source_;
  Cadence cadence_;
  LineStats &stats_;
  std::function<void(bool)> afterCycles_;
  std::function<void()> between_;
  std::function<void(uint64_t, uint64_t)> everyFewThousand_;
  CycleSchedule schedule_{Cadence{}, 0};
};

}  // namespace host
