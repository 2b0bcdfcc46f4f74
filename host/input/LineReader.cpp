#include "input/LineReader.h"

namespace host {

bool LineReader::Take(std::string_view line, bool tooLong, LogRecord &record, ParseOutcome &outcome,
                      const std::string &where, uint64_t lineNumber) {
  ++stats_.lines;
  if (!tooLong && line.empty()) return false;
  outcome = tooLong ? ParseOutcome::kMalformed : format_.Parse(line, record);
  if (outcome == ParseOutcome::kMalformed) {
    stats_.Malformed(tooLong ? LineFault::kLineTooLong : record.fault, where, lineNumber);
    return false;
  }
  if (realClient_.TrustsAny() && realClient_.Apply(record) == RealClient::Outcome::kUnreadable) {
    ++stats_.faults[static_cast<size_t>(LineFault::kForwardedChain)];
  }
  return true;
}

}  // namespace host
