#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace host {

std::string ReportHelp();

// "flowdeck report [--output FILE] DIR": returns the exit status, 0 when the page was written,
// 2 for bad usage or a directory that cannot be read, 1 when the page cannot be written.
int RunReportCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

}  // namespace host
