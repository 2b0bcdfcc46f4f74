#include "input/CombinedSource.h"

#include <algorithm>
#include <iterator>

namespace host {

CombinedSource::CombinedSource(std::vector<std::unique_ptr<LineSource>> sources)
    : sources_(std::move(sources)) {}

bool CombinedSource::Next(SourceLine &line) {
  // One look more than there are sources: the current one may only have used up its turn.
  for (size_t tried = 0; tried <= sources_.size(); ++tried) {
    if (taken_ < kTurn && sources_[current_]->Next(line)) {
      ++taken_;
      return true;
    }
    current_ = (current_ + 1) % sources_.size();
    taken_ = 0;
  }
  return false;
}

bool CombinedSource::Ended() {
  return std::all_of(sources_.begin(), sources_.end(),
                     [](const std::unique_ptr<LineSource> &source) { return source->Ended(); });
}

RunTime CombinedSource::Wait(double deadline) {
  for (size_t i = 0; i + 1 < sources_.size(); ++i) sources_[i]->Wait(0);
  sources_.back()->Wait(deadline);
  return Now();
}

RunTime CombinedSource::Now() {
  RunTime now;
  for (const std::unique_ptr<LineSource> &source : sources_) {
    const RunTime time = source->Now();
    now.local = std::max(now.local, time.local);
    now.utcMilliseconds = std::max(now.utcMilliseconds, time.utcMilliseconds);
  }
  return now;
}

uint64_t CombinedSource::BytesRead() const {
  uint64_t bytes = 0;
  for (const std::unique_ptr<LineSource> &source : sources_) bytes += source->BytesRead();
  return bytes;
}

uint64_t CombinedSource::BytesBehind() const {
  uint64_t bytes = 0;
  for (const std::unique_ptr<LineSource> &source : sources_) bytes += source->BytesBehind();
  return bytes;
}

std::vector<LogStatus> CombinedSource::Logs() const {
  std::vector<LogStatus> logs;
  for (const std::unique_ptr<LineSource> &source : sources_) {
    std::vector<LogStatus> some = source->Logs();
    logs.insert(logs.end(), std::make_move_iterator(some.begin()),
                std::make_move_iterator(some.end()));
  }
  return logs;
}

}  // namespace host
