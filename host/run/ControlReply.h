#pragma once

#include <string>

namespace host {

// What a running follow answers to a command on its control socket.
struct ControlReply {
  // 0 done, 1 failed, 2 bad usage, 3 no such shield or entry.
  int status = 0;
  std::string out;  // for the operator's standard output
  std::string err;  // for the operator's standard error
};

}  // namespace host
