#pragma once

#include <string>
#include <vector>

#include "report/ReportData.h"

namespace report {

// The visitors as a table with one <tbody> per visitor: its row, then its hidden runs row, so
// that sorting and filtering move both together.
void AppendVisitorTable(std::string &out, const std::vector<Visitor> &visitors);

}  // namespace report
