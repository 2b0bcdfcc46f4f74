#pragma once

#include <string>
#include <vector>

#include "base/Shield.h"
#include "shield/ProcessRunner.h"

namespace host {

// The command action: a program run for each raise and each lift, which finds the shield in its
// environment (FLOWDECK_EVENT, FLOWDECK_ADDRESS, FLOWDECK_HOST, FLOWDECK_RESOURCE,
// FLOWDECK_DEFLECT, FLOWDECK_TIME, FLOWDECK_SECONDS). No shell reads any value.
class ShieldCommand {
 public:
  ShieldCommand(std::vector<std::string> words, ProcessRunner runner);

  // Why the shield's values cannot reach the program, or empty when they can.
  static std::string Refusal(const Shield &shield);
  // The variables for one event ("raise" or "lift"): the time is the raise time in ISO 8601
  // UTC, the seconds the shield's whole lifetime.
  static std::vector<std::string> Environment(const std::string &event, const Shield &shield);

  ProcessOutcome Run(const std::string &event, const Shield &shield) const;
  const std::vector<std::string> &Words() const { return words_; }

 private:
  std::vector<std::string> words_;
  ProcessRunner runner_;
};

}  // namespace host
