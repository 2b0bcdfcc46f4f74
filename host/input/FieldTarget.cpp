#include "input/FieldTarget.h"

#include "input/FormatError.h"
#include "input/TimeText.h"

namespace host {

bool FieldTarget::Fills(LogSlot wanted) const {
  switch (use) {
    case FieldUse::kSlot:
      return slot == wanted;
    case FieldUse::kHostAndPort:
      return wanted == LogSlot::kVhost || wanted == LogSlot::kPort;
    case FieldUse::kMarkedQuery:
      return wanted == LogSlot::kQuery;
    case FieldUse::kUriAndArgs:
      return wanted == LogSlot::kTarget;
    default:
      return false;
  }
}

bool FieldTarget::ReadTime(std::string_view text, size_t &at, TimeParts &parts) const {
  switch (time) {
    case TimeForm::kClf:
      return ReadClfTime(text, at, parts);
    case TimeForm::kIso:
      return ReadIsoTime(text, at, parts);
    case TimeForm::kEpochFraction:
      return ReadEpoch(text, at, 1, true, parts);
    case TimeForm::kEpochSeconds:
      return ReadEpoch(text, at, 1, false, parts);
    case TimeForm::kEpochMillis:
      return ReadEpoch(text, at, 1000, false, parts);
    case TimeForm::kEpochMicros:
      return ReadEpoch(text, at, 1000000, false, parts);
    case TimeForm::kMillisFraction:
      return ReadFraction(text, at, 3, parts);
    case TimeForm::kMicrosFraction:
      return ReadFraction(text, at, 6, parts);
    case TimeForm::kPattern:
      return pattern != nullptr && pattern->Read(text, at, parts);
    case TimeForm::kAny: {
      const bool read = ReadAnyTime(text.substr(at), parts);
      at = text.size();
      return read;
    }
  }
  return false;
}

void RequireEssentialFields(const std::vector<const FieldTarget *> &targets, size_t end) {
  auto any = [&](auto test) {
    for (const FieldTarget *target : targets) {
      if (test(*target)) return true;
    }
    return false;
  };
  auto fills = [&](LogSlot slot) {
    return any([slot](const FieldTarget &target) { return target.Fills(slot); });
  };
  if (!fills(LogSlot::kClient)) {
    throw FormatError("the format names no client address ($remote_addr, %h or %a)", end);
  }
  if (!any([](const FieldTarget &target) { return target.use == FieldUse::kTime; })) {
    throw FormatError("the format names no time ($time_local, $time_iso8601, $msec or %t)", end);
  }
  const bool request =
      fills(LogSlot::kRequest) ||
      (fills(LogSlot::kMethod) && (fills(LogSlot::kTarget) || fills(LogSlot::kPath)));
  if (!request) {
    throw FormatError(
        "the format names no request ($request, or $request_method with $request_uri or $uri; "
        "%r, or %m with %U)",
        end);
  }
}

}  // namespace host
