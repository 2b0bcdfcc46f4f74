#pragma once

#include <string>

namespace host {

// What a command sent to a running follow gets back: its exit status and what it prints.
struct ControlReply {
  int status = 0;  // 0 done, 1 failed, 2 bad usage, 3 no such shield or entry
  std::string out, err;
};

}  // namespace host
