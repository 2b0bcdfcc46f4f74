#pragma once

#include <iosfwd>

#include "CommandLine.h"

namespace host {

// "flowdeck replay": returns the exit status.
int RunReplay(RunOptions &options, std::ostream &out, std::ostream &err);

// "flowdeck follow": returns the exit status.
int RunFollow(RunOptions &options, std::ostream &out, std::ostream &err);

}  // namespace host
