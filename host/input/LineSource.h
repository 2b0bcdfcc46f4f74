#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "input/LineStats.h"
#include "input/LogParser.h"

namespace host {

// The run's clock at one moment, in the two forms it is used in: the plug-ins' local date-time
// (days, as the log wrote it in a replay) and UTC milliseconds since 1970 for the shields'
// lifetimes, which must not move with a zone.
struct RunTime {
  double local = 0;
  int64_t utcMilliseconds = 0;

  // The system clock now.
  static RunTime System();
  // The system clock now, or `last` where the clock has stepped back: a live run's clock never
  // goes back. Keeps the result in `last`.
  static RunTime SystemNotBefore(RunTime &last);
  // The time a log line was written.
  static RunTime Of(const LogTime &time);
};

// A line a source hands the run: parsed, with the run's clock at that line.
struct SourceLine {
  ParseOutcome outcome = ParseOutcome::kRequest;  // kRequest or kNoRequest
  const LogRecord *record = nullptr;              // valid until the source's next call
  RunTime time;  // a replay's line at its own time, a live line at the time it was read
  std::string_view serverName;  // the host of a line without a vhost; empty: the run's default
};

// A log a run reads, with the host its lines are for when they carry no vhost (empty: the
// run's default).
struct LogInput {
  std::string path;
  std::string serverName;
};

// A followed log as it stands: whether the file under its name can be read, and how much of it
// was read.
struct LogStatus {
  std::string path;
  int error = 0;       // 0 when it can be read, else why not (an errno value)
  uint64_t lines = 0;  // lines read from it (and the files it was rotated from) so far
};

// Where a run's lines come from: the merged logs of a replay, followed logs, a listener.
// Sources read every line through the run's one LineReader, and hand on only the lines that
// parse.
class LineSource {
 public:
  virtual ~LineSource() = default;

  // The next line that is there now; false when there is none now.
  virtual bool Next(SourceLine &line) = 0;
  // After Next gave nothing: true when no line will ever come again.
  virtual bool Ended() = 0;
  // Waits for input, at most until `deadline` on the run's clock, and gives the clock then.
  virtual RunTime Wait(double deadline) = 0;
  // The clock when no line has set it: a replay without any line starts at the system time.
  virtual RunTime Now() = 0;
  virtual uint64_t BytesRead() const = 0;
  // Bytes written to the logs that the run has not read yet (a live run's lag).
  virtual uint64_t BytesBehind() const { return 0; }
  // The logs a live run follows, in the order they were given; none for other sources.
  virtual std::vector<LogStatus> Logs() const { return {}; }
};

}  // namespace host
