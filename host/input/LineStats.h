#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// What reading the logs found, for the summary.
struct LineStats {
  static constexpr size_t kExamples = 5;

  uint64_t lines = 0;
  uint64_t requests = 0;
  uint64_t withoutRequest = 0;  // "-", bytes that are not HTTP
  uint64_t malformed = 0;       // over-long lines included
  uint64_t bytes = 0;
  std::vector<std::string> firstMalformed;  // "file:line"

  void Malformed(const std::string &path, uint64_t line) {
    ++malformed;
    if (firstMalformed.size() < kExamples)
      firstMalformed.push_back(path + ":" + std::to_string(line));
  }
};

}  // namespace host
