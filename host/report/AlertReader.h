#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/ReportData.h"

namespace report {

// One alert line: its first character is the separator, then the time stamp and eleven
// fields. Nothing for a line of any other shape.
std::optional<Alert> ParseAlertLine(std::string_view line);

// Reads the alert file ("KvCorvaneAlerts.Out") in file order; foreign lines are skipped and
// counted, blank lines ignored.
Source ReadAlerts(const std::string &path, std::vector<Alert> &alerts, int64_t &foreignLines);

}  // namespace report
