#pragma once

#include <string>
#include <vector>

#include "report/ReportData.h"

namespace report {

// Reads the shield plug-in's tripwire file ("KvVantrel.xml"): every TRIPWIRE element, newest
// first. A file that is missing or cannot be read leaves no shields.
Source ReadShields(const std::string &path, std::vector<Shield> &shields);

}  // namespace report
