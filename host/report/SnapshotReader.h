#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "report/ReportData.h"

namespace report {

// Reads the monitor's snapshot ("KvCorvane.xml"): its visitors in file order, each with its
// runs of hits. A file that is missing or cannot be read leaves no visitors.
Source ReadSnapshot(const std::string &path, std::vector<Visitor> &visitors);

// How many of the snapshot's visitors stand at alert levels 0, 1 and 2, counted without keeping
// them or parsing the XML: a live run counts after every monitor cycle. A file that is missing
// counts none.
std::array<uint64_t, 3> CountLevels(const std::string &path);

}  // namespace report
