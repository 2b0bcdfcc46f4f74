#include "input/LiveSource.h"

#include <poll.h>

#include <algorithm>
#include <cmath>

namespace host {

namespace {

// How long an idle run sleeps between looks at its logs. A line that arrives while it sleeps
// is read only after the cycle it wakes for, so a steady visitor's last hit can wait a cycle and
// this long for its shield: short enough to stay within a cycle and 100 ms.
constexpr double kPollSeconds = 0.05;

}  // namespace

LiveSource::LiveSource(const std::vector<LogInput> &logs, bool fromStart, LineReader &reader,
                       const std::atomic<bool> &stop)
    : lines_(reader), stop_(stop) {
  for (const LogInput &log : logs) {
    logs_.push_back(Log{std::make_unique<FollowReader>(log.path, fromStart), log.serverName, 0});
  }
  now_ = RunTime::System();
}

bool LiveSource::NextFrom(Log &log, SourceLine &line) {
  FollowReader &reader = *log.reader;
  std::string_view text;
  bool tooLong = false;
  while (reader.Next(text, tooLong)) {
    // Lines that came in one read arrived together: one look at the clock serves them all.
    if (reader.Reads() != log.reads) {
      log.reads = reader.Reads();
      Now();
    }
    if (lines_.Take(text, tooLong, record_, line.outcome, reader.Path(), reader.LineNumber())) {
      line.record = &record_;
      line.serverName = log.serverName;
      line.time = now_;
      return true;
    }
  }
  return false;
}

bool LiveSource::Next(SourceLine &line) {
  if (stop_.load()) return false;
  // One look more than there are logs: the current one may only have used up its turn.
  for (size_t tried = 0; tried <= logs_.size(); ++tried) {
    if (taken_ < kTurn && NextFrom(logs_[current_], line)) {
      ++taken_;
      return true;
    }
    current_ = (current_ + 1) % logs_.size();
    taken_ = 0;
  }
  return false;
}

RunTime LiveSource::Wait(double deadline) {
  for (Log &log : logs_) log.reader->Poll();
  const double seconds = (deadline - Now().local) * 86400.0;
  const double sleep = std::clamp(seconds, 0.0, kPollSeconds);
  if (sleep > 0 && !stop_.load()) poll(nullptr, 0, static_cast<int>(std::ceil(sleep * 1000)));
  return Now();
}

RunTime LiveSource::Now() {
  return RunTime::SystemNotBefore(now_);
}

uint64_t LiveSource::BytesBehind() const {
  uint64_t bytes = 0;
  for (const Log &log : logs_) bytes += log.reader->BytesBehind();
  return bytes;
}

uint64_t LiveSource::BytesRead() const {
  uint64_t bytes = 0;
  for (const Log &log : logs_) bytes += log.reader->BytesRead();
  return bytes;
}

std::vector<LogStatus> LiveSource::Logs() const {
  std::vector<LogStatus> logs;
  logs.reserve(logs_.size());
  for (const Log &log : logs_) {
    logs.push_back(LogStatus{log.reader->Path(), log.reader->Error(), log.reader->LineNumber()});
  }
  return logs;
}

}  // namespace host
