#pragma once

#include <string>
#include <vector>

#include "report/ReportData.h"

namespace report {

// Appends the table of the visitors alerted or shielded during the run: one row each, with
// its alerts, its highest level and rating, its shields, and whether it was held at the end.
void AppendNotedTable(std::string &out, const std::vector<NotedVisitor> &visitors);

}  // namespace report
