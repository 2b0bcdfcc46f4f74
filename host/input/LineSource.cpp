#include "LineSource.h"

namespace host {

bool TakeLine(std::string_view line, bool tooLong, LogFormat format, LogRecord &record,
              ParseOutcome &outcome, LineStats &stats, const std::string &path,
              uint64_t lineNumber) {
  ++stats.lines;
  if (!tooLong && line.empty()) return false;
  outcome = tooLong ? ParseOutcome::kMalformed : ParseLogLine(line, format, record);
  if (outcome == ParseOutcome::kMalformed) {
    stats.Malformed(path, lineNumber);
    return false;
  }
  return true;
}

}  // namespace host
