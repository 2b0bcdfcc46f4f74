#pragma once

// What every parsed record must hold, whatever line and format it came from.
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "input/LogFormat.h"
#include "input/LogParser.h"

namespace fuzz {

// The formats a target reads its input with, compiled once at its start.
inline std::vector<host::LogFormat> CompileAll(std::initializer_list<const char *> texts) {
  std::vector<host::LogFormat> compiled;
  for (const char *text : texts) compiled.push_back(host::LogFormat::Compile(text));
  return compiled;
}

inline void Check(bool condition) {
  if (!condition) std::abort();
}

inline bool Inside(std::string_view part, std::string_view whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

// Touches every byte of every field (the sanitizers see a view that dangles) and checks the
// outcome against the record. With `line`, every field must view the line or the record's
// storage: no field is made out of nothing.
inline void CheckRecord(host::ParseOutcome outcome, const host::LogRecord &record,
                        std::string_view line, bool viewsLine) {
  Check((outcome == host::ParseOutcome::kMalformed) == (record.fault != host::LineFault::kNone));
  if (outcome == host::ParseOutcome::kMalformed) return;
  unsigned sum = 0;
  for (std::string_view field :
       {record.vhost, record.port, record.client, record.authUser, record.method, record.target,
        record.protocol, record.referrer, record.userAgent, record.forwardedFor}) {
    for (char c : field) sum += static_cast<unsigned char>(c);
    Check(field.size() <= host::LogRecord::kMaxField + 1 + host::LogRecord::kMaxField);
    if (viewsLine) Check(Inside(field, line) || Inside(field, record.storage));
  }
  Check(sum != 0xFFFFFFFF);
  Check(!record.client.empty());
  Check(record.time.month >= 1 && record.time.month <= 12);
  Check(record.time.day >= 1 && record.time.day <= 31);
  Check(record.time.Serial() >= 0 && record.time.Serial() < 1e15);
  if (outcome == host::ParseOutcome::kRequest) {
    Check(host::IsRequestMethod(record.method) && !record.target.empty());
    std::string path;
    std::string_view query;
    host::SplitTarget(record.target, path, query);
  }
}

}  // namespace fuzz
