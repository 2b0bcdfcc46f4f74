#include "shield/ShieldCommand.h"

#include <ctime>

namespace host {

ShieldCommand::ShieldCommand(std::vector<std::string> words, ProcessRunner runner)
    : words_(std::move(words)), runner_(runner) {}

std::string ShieldCommand::Refusal(const Shield &shield) {
  for (const std::string *value :
       {&shield.address, &shield.host, &shield.resource, &shield.deflect})
    if (value->find('\0') != std::string::npos)
      return "it holds a NUL byte, which an environment value cannot carry";
  return "";
}

std::vector<std::string> ShieldCommand::Environment(const std::string &event,
                                                    const Shield &shield) {
  return {"FLOWDECK_EVENT=" + event,
          "FLOWDECK_ADDRESS=" + shield.address,
          "FLOWDECK_HOST=" + shield.host,
          "FLOWDECK_RESOURCE=" + shield.resource,
          "FLOWDECK_DEFLECT=" + shield.deflect,
          "FLOWDECK_TIME=" + IsoTime(shield.raisedAt),
          "FLOWDECK_SECONDS=" + std::to_string(shield.expiresAt - shield.raisedAt)};
}

ProcessOutcome ShieldCommand::Run(const std::string &event, const Shield &shield) const {
  return runner_.Run(words_, Environment(event, shield));
}

}  // namespace host
