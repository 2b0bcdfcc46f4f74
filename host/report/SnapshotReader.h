#pragma once

#include <string>
#include <vector>

#include "report/ReportData.h"

namespace report {

// Reads the monitor's snapshot ("KvCorvane.xml"): its visitors in file order, each with its
// runs of hits. A file that is missing or cannot be read leaves no visitors.
Source ReadSnapshot(const std::string &path, std::vector<Visitor> &visitors);

}  // namespace report
