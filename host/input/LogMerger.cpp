#include "LogMerger.h"

namespace host {

LogMerger::LogMerger(const std::vector<std::string> &paths, LogFormat format, LineStats &stats)
    : format_(format), stats_(stats) {
  sources_.resize(paths.size());
  for (size_t i = 0; i < paths.size(); ++i)
    sources_[i].reader = std::make_unique<LogReader>(paths[i]);
  for (Source &source : sources_) Advance(source);
}

void LogMerger::Advance(Source &source) {
  source.ready = false;
  std::string_view line;
  bool tooLong = false;
  while (source.reader->Next(line, tooLong)) {
    ++stats_.lines;
    if (tooLong || line.empty()) {
      if (tooLong) stats_.Malformed(source.reader->Path(), source.reader->LineNumber());
      continue;
    }
    source.outcome = ParseLogLine(line, format_, source.record);
    if (source.outcome == ParseOutcome::kMalformed) {
      stats_.Malformed(source.reader->Path(), source.reader->LineNumber());
      continue;
    }
    source.ready = true;
    return;
  }
}

const LogRecord *LogMerger::Next(ParseOutcome &outcome) {
  if (taken_ != nullptr) Advance(*taken_);
  taken_ = nullptr;
  for (Source &source : sources_) {
    if (!source.ready) continue;
    if (taken_ == nullptr ||
        source.record.time.UtcMilliseconds() < taken_->record.time.UtcMilliseconds()) {
      taken_ = &source;
    }
  }
  if (taken_ == nullptr) return nullptr;
  outcome = taken_->outcome;
  return &taken_->record;
}

uint64_t LogMerger::BytesRead() const {
  uint64_t bytes = 0;
  for (const Source &source : sources_) bytes += source.reader->BytesRead();
  return bytes;
}

}  // namespace host
