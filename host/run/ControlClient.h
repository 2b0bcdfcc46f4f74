#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "run/ControlReply.h"

namespace host {

// The operator's end of a follow's control socket (see ControlSocket).
class ControlClient {
 public:
  // Sends `arguments` to the follow that runs on `runDirectory` and waits at most `timeLimit`
  // for its reply. Nothing when no follow runs there (no socket, or one nobody answers on);
  // throws Error naming the socket and the cause for anything else: an argument
  // that cannot be sent, no right to ask, no reply in time, a reply that cannot be read.
  static std::optional<ControlReply> Ask(const std::string &runDirectory,
                                         const std::vector<std::string> &arguments,
                                         std::chrono::milliseconds timeLimit);
};

}  // namespace host
