#include "run/RunLoop.h"

namespace host {

RunLoop::RunLoop(Session &session, LineSource &source, const Cadence &cadence, LineStats &stats)
    : session_(session), source_(source), cadence_(cadence), stats_(stats) {}

void RunLoop::Run() {
  SourceLine line;
  bool have = source_.Next(line);
  const RunTime start = have ? line.time : source_.Now();
  session_.UseHostClock(start);
  session_.Configure();
  schedule_ = CycleSchedule(cadence_, start.local);
  for (;;) {
    if (have) {
      Advance(line.time);
      Stream(line);
      if ((stats_.lines & 0xff) == 0) session_.Tend();
      if (between_ && (stats_.lines & 0xfff) == 0) between_();
    } else if (source_.Ended()) {
      break;
    } else {
      Advance(source_.Wait(schedule_.NextDue()));
      session_.Tend();
      if (between_) between_();
    }
    have = source_.Next(line);
  }
  session_.AdvanceClock(source_.Now());
  session_.ShieldCycle();
  session_.MonitorCycle();
  session_.Settle();
  if (afterCycles_) afterCycles_(true);
}

void RunLoop::Advance(const RunTime &now) {
  session_.AdvanceClock(now);
  const double clock = session_.Clock();
  const bool shield = schedule_.ShieldDue(clock), monitor = schedule_.MonitorDue(clock);
  if (shield) {
    session_.ShieldCycle();
    schedule_.ShieldRan(clock);
  }
  if (monitor) {
    session_.MonitorCycle();
    schedule_.MonitorRan(clock);
  }
  if ((shield || monitor) && afterCycles_) afterCycles_(monitor);
}

void RunLoop::Stream(const SourceLine &line) {
  if (line.outcome == ParseOutcome::kRequest) {
    ++stats_.requests;
    session_.Request(*line.record, line.serverName);
  } else {
    ++stats_.withoutRequest;
  }
  if (everyFewThousand_ && (stats_.lines & 0x3fff) == 0) {
    everyFewThousand_(stats_.lines, source_.BytesRead());
  }
}

}  // namespace host
