#pragma once

#include <string>
#include <vector>

#include "ReportData.h"

namespace report {

// Every shield raised, newest first, as a table.
void AppendShieldTable(std::string &out, const std::vector<Shield> &shields);

}  // namespace report
