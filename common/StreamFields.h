#pragma once

#include <array>
#include <string_view>

#include <flowdeck/plugin.h>

namespace common {

// Positions of the nineteen Stream fields.
enum StreamField : size_t {
  kAction,
  kArrivalSerial,
  kKey,
  kCountry,
  kResolvedAddr,
  kRemoteAddr,
  kRemoteHost,
  kAuthUser,
  kPathInfo,
  kPathTranslated,
  kQueryString,
  kServerName,
  kServerPort,
  kUserAgent,
  kShieldLink,
  kShieldUnLink,
  kLocked,
  kLocalHost,
  kReferrer,
};

// The nineteen fields of one Stream call, viewed, not copied.
using StreamFields = std::array<std::string_view, FLOWDECK_FIELD_COUNT>;

inline StreamFields ViewFields(const flowdeck_text fields[FLOWDECK_FIELD_COUNT]) noexcept {
  StreamFields view{};
  for (size_t i = 0; i < FLOWDECK_FIELD_COUNT; ++i) {
    if (fields[i].data != nullptr) view[i] = std::string_view(fields[i].data, fields[i].size);
  }
  return view;
}

// Runs a call of the C interface: whatever escapes the body becomes a nonzero result, so no
// exception ever reaches the host.
template <class Body>
int CallFromHost(Body &&body) noexcept {
  try {
    body();
    return 0;
  } catch (...) {
    return 1;
  }
}

}  // namespace common
