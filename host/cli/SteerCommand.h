#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace host {

// "flowdeck shields|lift|shield|allow DIR ...": sends the order to the follow that runs on DIR,
// which carries it out at once, or, when none runs, writes it in DIR's files for the next one.
// Returns the exit status: 0 done, 1 failed, 2 bad usage, 3 no such shield or entry.
int RunSteer(const std::string &verb, const std::vector<std::string> &args, std::ostream &out,
             std::ostream &err);

// Whether `command` is one of the steering commands.
bool IsSteerCommand(const std::string &command);

std::string SteerHelp(const std::string &verb);

}  // namespace host
