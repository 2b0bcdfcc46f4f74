#pragma once

#include <string>
#include <vector>

#include "ReportData.h"

namespace report {

// Adds the shields flowdeck's pace test raised, as its shield event log
// ("flowdeck-shields.log") records them; the plug-in's own are in its tripwire file. A missing
// log adds nothing.
void ReadPaceShields(const std::string &path, std::vector<Shield> &shields);

}  // namespace report
