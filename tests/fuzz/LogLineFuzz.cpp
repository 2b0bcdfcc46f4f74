// Any bytes as an access-log line: the parser never reads outside the line, and what it
// returns holds together.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "input/LogParser.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Inside(std::string_view part, std::string_view whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view line(reinterpret_cast<const char *>(data), size);
  for (host::CommonLayout layout : {host::CommonLayout::kAuto, host::CommonLayout::kCommon,
                                    host::CommonLayout::kVhostCombined}) {
    host::LogRecord record;
    host::ParseOutcome outcome = host::ParseCommonLine(line, layout, record);
    if (outcome == host::ParseOutcome::kMalformed) continue;
    for (std::string_view field : {record.client, record.method, record.target, record.protocol,
                                   record.referrer, record.userAgent, record.authUser}) {
      Check(Inside(field, line) || Inside(field, record.storage));
    }
    Check(record.time.month >= 1 && record.time.month <= 12);
    Check(record.time.Serial() >= 0 && record.time.Serial() < 1e15);
    if (outcome == host::ParseOutcome::kRequest) {
      Check(!record.method.empty() && !record.target.empty());
      std::string path;
      std::string_view query;
      host::SplitTarget(record.target, path, query);
      Check(path.size() <= record.target.size() && Inside(query, record.target));
    }
  }
  return 0;
}
