#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "StreamFields.h"

namespace fuzzing {

// One Stream call of a script, how far the host's clock moves on before it, and how many times
// in a row it is made.
struct ScriptedCall {
  double clockStepSeconds = 0;
  size_t repeat = 1;
  std::array<std::string, FLOWDECK_FIELD_COUNT> fields;

  std::string_view Action() const { return fields[common::kAction]; }
  common::StreamFields View() const;
};

// A fuzz input read as a script of Stream calls. Records end at RS (0x1E) and their fields at
// US (0x1F); ESC (0x1B) takes the next byte as it is, so a field can hold any byte. The first
// record is the set-up (its first field is what the target prepares before the first call,
// such as the definitions file). Every other record is one call: the clock step in whole
// seconds (decimal, optionally followed by "*" and a repeat count, so that a short input can
// fill a visitor's list), the action, then the eighteen fields after the action. An action that
// is one digit names a common one (see kActions); any other text is sent as it is. A script
// holds at most kMaxCalls records and kMaxStreamCalls calls in all.
class CallScript {
 public:
  static constexpr size_t kMaxCalls = 64;
  static constexpr size_t kMaxStreamCalls = 640;
  static constexpr char kRecordEnd = '\x1e';
  static constexpr char kFieldEnd = '\x1f';
  static constexpr char kEscape = '\x1b';
  static constexpr std::array<std::string_view, 9> kActions = {
      "CONFIG", "CYCLE", "GET", "POST", "PUT", "HEAD", "SESSION_END", "LOCKED", "UNLOCKED"};

  CallScript(const uint8_t *data, size_t size);

  const std::string &Setup() const noexcept { return setup_; }
  const std::vector<ScriptedCall> &Calls() const noexcept { return calls_; }

 private:
  void AddRecord(std::vector<std::string> &record);

  std::string setup_;
  bool setupRead_ = false;
  size_t streamCalls_ = 0;
  std::vector<ScriptedCall> calls_;
};

// The text with its semicolon-separated field at a position replaced, when the text has that
// field; any other text comes back unchanged.
std::string WithConfigField(std::string_view text, size_t position, std::string_view value);

}  // namespace fuzzing
