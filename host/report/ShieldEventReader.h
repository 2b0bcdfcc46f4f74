#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "report/ReportData.h"

namespace report {

// What flowdeck's shield event log ("flowdeck-shields.log") tells of the shields it raised,
// lifted and spared; the plug-in's own judgements are in its tripwire file.
struct ShieldLog {
  // Oldest first: each with its figures, end and offence, and its lift when the log has one.
  std::vector<Shield> raises;
  std::vector<SparedShield> spared;  // the first kMostSpared
  int64_t sparedNotListed = 0;
  int64_t unreadLines = 0;    // neither an event of the log's form nor one it may hold
  int64_t raisesLeftOut = 0;  // the oldest, past kMostRaises

  // A log grows as long as the site runs: the page shows the newest raises, and the first
  // spared shields as a sample.
  static constexpr size_t kMostRaises = 5000;
  static constexpr size_t kMostSpared = 100;
  // A longer line is no line flowdeck writes: skipped whole, counted, never held.
  static constexpr size_t kLongestLine = 16384;
};

// Reads the event log: "TIME EVENT SOURCE ADDRESS HOST RESOURCE -> DEFLECT" and, for a raise,
// "until TIME [offence N]", then "(WHY)" when there is one. A lift belongs to the latest raise
// of the same address, host and resource before it that has no lift yet. A missing log holds
// nothing.
ShieldLog ReadShieldLog(const std::string &path);

}  // namespace report
