#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Error.h"
#include "shield/AllowList.h"

namespace host {

// A command line an operator's order cannot be read from: exit status 2.
struct OrderError : Error {
  explicit OrderError(std::string cause) : Error("", std::move(cause)) {}
};

// One of the operator's orders on the shields of a run ("flowdeck shields", "lift", "shield",
// "allow", without the run directory), read and checked the same way by the command that
// sends it and by the follow that carries it out.
struct SteerOrder {
  enum class Verb { kShields, kLift, kShield, kAllow };

  Verb verb = Verb::kShields;
  bool json = false;    // shields: one JSON document
  int64_t first = 0;    // shields: at most this many rows, then a count (0: all)
  bool all = false;     // lift: every shield
  bool remove = false;  // allow: take the entry out
  bool list = false;    // allow: print the list
  std::optional<AddressSelector> target;
  std::string host, resource, deflect, why;
  int64_t seconds = 0;     // shield: its lifetime, 0 for what the address's offences give it
  int64_t forSeconds = 0;  // allow: how long the entry lasts, 0 for good

  // The words after the run directory, the verb first; throws OrderError.
  static SteerOrder Parse(const std::vector<std::string> &words);
  // The words that Parse reads back into this order.
  std::vector<std::string> Words() const;
  // The verb's name: "shields", "lift", "shield", "allow".
  const char *Name() const;
  bool Changes() const { return verb != Verb::kShields && !(verb == Verb::kAllow && list); }
};

// The deflect of a shield raised by hand without --deflect.
inline constexpr const char *kManualDeflect = "/flowdeck-slow-down.html";

// Exit statuses of the steering commands.
inline constexpr int kSteerDone = 0, kSteerFailed = 1, kSteerUsage = 2, kSteerNoSuch = 3;

}  // namespace host
