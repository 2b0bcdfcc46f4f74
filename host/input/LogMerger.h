#pragma once

#include <memory>
#include <string>
#include <vector>

#include "LineStats.h"
#include "LogParser.h"
#include "LogReader.h"

namespace host {

// Several logs read as the one stream of traffic they were: each next line is the earliest
// (in UTC) among the heads of the logs. Lines that do not parse are counted as they are read.
class LogMerger {
 public:
  LogMerger(const std::vector<std::string> &paths, LogFormat format, LineStats &stats);

  // The next record (a request or a line without one), or nullptr at the end of every log. It
  // stays valid until the next call.
  const LogRecord *Next(ParseOutcome &outcome);

  uint64_t BytesRead() const;

 private:
  struct Source {
    std::unique_ptr<LogReader> reader;
    LogRecord record;
    ParseOutcome outcome = ParseOutcome::kMalformed;
    bool ready = false;
  };
  void Advance(Source &source);

  std::vector<Source> sources_;
  LogFormat format_;
  LineStats &stats_;
  Source *taken_ = nullptr;
};

}  // namespace host
