#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "input/LineStats.h"
#include "input/LogFormat.h"
#include "input/LogRecord.h"
#include "input/RealClient.h"

namespace host {

// How every source of a run reads a line: one format, one rule for what counts, and the real
// client behind the trusted proxies. Used on the run's own thread.
class LineReader {
 public:
  LineReader(LogFormat format, RealClient realClient, LineStats &stats)
      : format_(std::move(format)), realClient_(std::move(realClient)), stats_(stats) {}

  // Reads one line read from `where`: a blank line is counted and skipped, a line cut at the
  // length limit is malformed whatever its head looks like, every other line is parsed and
  // malformed when it does not fit the format; each fault is counted by its kind. A record
  // that is handed on (true) has the real client as its client.
  bool Take(std::string_view line, bool tooLong, LogRecord &record, ParseOutcome &outcome,
            const std::string &where, uint64_t lineNumber);

 private:
  LogFormat format_;
  RealClient realClient_;
  LineStats &stats_;
};

}  // namespace host
