#pragma once

#include <vector>

#include "report/ReportData.h"

namespace report {

// Every visitor the run's alerts and shields name, with what they say of it, and whether the
// monitor still held it at the end: the snapshot lists only the visitors held then, though the
// alerts and shields of a long run mostly went to visitors gone before it. The highest level
// first, then the most shields, then the latest alert. Points into `run`, which must outlive
// the result.
std::vector<NotedVisitor> NoteVisitors(const RunData &run);

}  // namespace report
