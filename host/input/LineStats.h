#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "input/LineFault.h"

namespace host {

// What reading the logs found, for the summary.
struct LineStats {
  static constexpr size_t kExamples = 5;

  uint64_t lines = 0;
  uint64_t requests = 0;
  uint64_t withoutRequest = 0;  // "-", bytes that are not HTTP
  uint64_t malformed = 0;       // lines that gave no record, over-long ones included
  uint64_t bytes = 0;
  std::array<uint64_t, kLineFaultKinds> faults{};  // by kind; kForwardedChain lines still count
  std::vector<std::string> firstMalformed;         // "file:line"

  void Malformed(LineFault fault, const std::string &path, uint64_t line) {
    ++malformed;
    ++faults[static_cast<size_t>(fault)];
    if (firstMalformed.size() < kExamples)
      firstMalformed.push_back(path + ":" + std::to_string(line));
  }
};

}  // namespace host
