#include "CallScript.h"

#include <algorithm>

namespace fuzzing {

namespace {

constexpr size_t kLongestRepeat = 600;

// The leading decimal digits of a text, at most five of them; 0 when there are none.
size_t LeadingNumber(std::string_view &text) {
  size_t value = 0;
  for (size_t digits = 0; digits < 5 && !text.empty() && text[0] >= '0' && text[0] <= '9';
       ++digits) {
    value = value * 10 + static_cast<size_t>(text[0] - '0');
    text.remove_prefix(1);
  }
  return value;
}

}  // namespace

common::StreamFields ScriptedCall::View() const {
  common::StreamFields view;
  for (size_t i = 0; i < fields.size(); ++i) view[i] = fields[i];
  return view;
}

CallScript::CallScript(const uint8_t *data, size_t size) {
  std::vector<std::string> record(1);
  for (size_t i = 0; i < size && calls_.size() < kMaxCalls; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == kEscape && i + 1 < size) {
      record.back().push_back(static_cast<char>(data[++i]));
    } else if (c == kFieldEnd) {
      record.emplace_back();
    } else if (c == kRecordEnd) {
      AddRecord(record);
      record.assign(1, std::string());
    } else {
      record.back().push_back(c);
    }
  }
  if (calls_.size() < kMaxCalls) AddRecord(record);
}

void CallScript::AddRecord(std::vector<std::string> &record) {
  if (!setupRead_) {
    setup_ = std::move(record.front());
    setupRead_ = true;
    return;
  }
  if (record.size() < 2) return;
  if (streamCalls_ >= kMaxStreamCalls) return;
  ScriptedCall call;
  std::string_view timing = record[0];
  call.clockStepSeconds = static_cast<double>(LeadingNumber(timing));
  if (timing.starts_with('*')) {
    timing.remove_prefix(1);
    call.repeat = std::clamp<size_t>(LeadingNumber(timing), 1, kLongestRepeat);
  }
  call.repeat = std::min(call.repeat, kMaxStreamCalls - streamCalls_);
  streamCalls_ += call.repeat;
  std::string &action = record[1];
  if (action.size() == 1 && action[0] >= '0' && action[0] <= '9') {
    const auto digit = static_cast<size_t>(action[0] - '0');
    if (digit < kActions.size()) action = kActions[digit];
  }
  for (size_t i = 1; i < record.size() && i - 1 < call.fields.size(); ++i) {
    call.fields[i - 1] = std::move(record[i]);
  }
  calls_.push_back(std::move(call));
}

std::string WithConfigField(std::string_view text, size_t position, std::string_view value) {
  size_t start = 0;
  for (size_t field = 0; field < position; ++field) {
    start = text.find(';', start);
    if (start == std::string_view::npos) return std::string(text);
    ++start;
  }
  if (text.empty()) return std::string(text);
  const size_t end = std::min(text.find(';', start), text.size());
  std::string result(text.substr(0, start));
  result.append(value).append(text.substr(end));
  return result;
}

}  // namespace fuzzing
