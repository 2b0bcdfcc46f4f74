#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace host {

// "flowdeck status DIR": the figures of the run in DIR, as a person reads them. Returns the
// exit status.
int RunStatus(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

}  // namespace host
