#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "input/FieldTarget.h"
#include "input/LogRecord.h"
#include "input/TimeParts.h"

namespace host {

// What the fields of one line gave, slot by slot, before it becomes a record. Where several
// fields fill one slot, the one of highest priority wins, whatever order they come in.
class LineCapture {
 public:
  // A field's text for its target (any use but kTime). Every line puts several: the plain
  // slot is handled here, in place.
  void Put(const FieldTarget &target, std::string_view text) {
    if (target.use == FieldUse::kSlot && text.size() <= LogRecord::kMaxField) {
      Set(target.slot, target.priority, text);
    } else {
      PutOther(target, text);
    }
  }
  // A time field's pieces.
  void PutTime(const FieldTarget &target, const TimeParts &parts);
  // The first fault of the line is the one it is counted by.
  void Fail(LineFault fault) {
    if (fault_ == LineFault::kNone) fault_ = fault;
  }
  bool Failed() const { return fault_ != LineFault::kNone; }

  // Fills the record from the slots. Views stay on the texts put in; a target made of path
  // and query is joined in record.storage, which must have room for it.
  ParseOutcome Assemble(LogRecord &record);

 private:
  void Set(LogSlot slot, uint8_t priority, std::string_view text) {
    const size_t index = static_cast<size_t>(slot);
    // "-" (the server had no value) is kept only until any field gives one.
    if (text.size() == 1 && text[0] == '-') {
      if (priorities_[index] == 0) values_[index] = text;
    } else if (priority > priorities_[index]) {
      values_[index] = text;
      priorities_[index] = priority;
    }
  }
  void PutOther(const FieldTarget &target, std::string_view text);
  std::string_view Value(LogSlot slot) const { return values_[static_cast<size_t>(slot)]; }
  bool Has(LogSlot slot) const { return priorities_[static_cast<size_t>(slot)] != 0; }
  void AssembleRequest(LogRecord &record);

  std::array<std::string_view, kLogSlots> values_{};
  std::array<uint8_t, kLogSlots> priorities_{};
  TimeParts time_;
  uint8_t timePriority_ = 0;
  bool wholeTime_ = false;  // a field held the whole time
  LineFault fault_ = LineFault::kNone;
};

}  // namespace host
