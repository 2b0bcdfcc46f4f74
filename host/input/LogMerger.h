#pragma once

#include <memory>
#include <string>
#include <vector>

#include "input/LineReader.h"
#include "input/LineSource.h"
#include "input/LogParser.h"
#include "input/LogReader.h"

namespace host {

// The source of a replay: several logs read as the one stream of traffic they were. Each next
// line is the earliest (in UTC) among the heads of the logs, and the run's clock is that
// line's own local time.
class LogMerger : public LineSource {
 public:
  // Throws Error naming a log that cannot be opened.
  LogMerger(const std::vector<LogInput> &logs, LineReader &reader);

  bool Next(SourceLine &line) override;
  bool Ended() override { return true; }  // a replay is never idle: no line means the end
  RunTime Wait(double) override { return Now(); }
  // The time of the latest line, or the system time before the first.
  RunTime Now() override;
  uint64_t BytesRead() const override;

 private:
  struct Source {
    std::unique_ptr<LogReader> reader;
    std::string serverName;
    LogRecord record;
    ParseOutcome outcome = ParseOutcome::kMalformed;
    bool ready = false;
  };
  void Advance(Source &source);

  std::vector<Source> sources_;
  LineReader &lines_;
  Source *taken_ = nullptr;
  RunTime lastTime_;  // of the latest line handed on
  bool started_ = false;
};

}  // namespace host
