#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/ReportData.h"

namespace report {

// Every shield raised, newest first, as a table.
void AppendShieldTable(std::string &out, const std::vector<Shield> &shields);

// The shields flowdeck spared, a line each, under the table; nothing when there are none.
// notListed: those past the list, which the log held as well.
void AppendSparedList(std::string &out, const std::vector<SparedShield> &spared, int64_t notListed);

}  // namespace report
