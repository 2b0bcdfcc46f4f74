#include "input/LogMerger.h"

namespace host {

LogMerger::LogMerger(const std::vector<LogInput> &logs, LineReader &reader) : lines_(reader) {
  sources_.resize(logs.size());
  for (size_t i = 0; i < logs.size(); ++i) {
    sources_[i].reader = std::make_unique<LogReader>(logs[i].path);
    sources_[i].serverName = logs[i].serverName;
  }
  for (Source &source : sources_) Advance(source);
}

void LogMerger::Advance(Source &source) {
  source.ready = false;
  std::string_view line;
  bool tooLong = false;
  LogReader &reader = *source.reader;
  while (reader.Next(line, tooLong)) {
    if (lines_.Take(line, tooLong, source.record, source.outcome, reader.Path(),
                    reader.LineNumber())) {
      source.ready = true;
      return;
    }
  }
}

bool LogMerger::Next(SourceLine &line) {
  if (taken_ != nullptr) Advance(*taken_);
  taken_ = nullptr;
  for (Source &source : sources_) {
    if (!source.ready) continue;
    if (taken_ == nullptr ||
        source.record.time.UtcMilliseconds() < taken_->record.time.UtcMilliseconds()) {
      taken_ = &source;
    }
  }
  if (taken_ == nullptr) return false;
  line.outcome = taken_->outcome;
  line.record = &taken_->record;
  line.serverName = taken_->serverName;
  line.time = lastTime_ = RunTime::Of(taken_->record.time);
  started_ = true;
  return true;
}

RunTime LogMerger::Now() {
  return started_ ? lastTime_ : RunTime::System();
}

uint64_t LogMerger::BytesRead() const {
  uint64_t bytes = 0;
  for (const Source &source : sources_) bytes += source.reader->BytesRead();
  return bytes;
}

}  // namespace host
