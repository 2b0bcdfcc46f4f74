#pragma once

#include <string>
#include <vector>

namespace report_testing {

// The files a run leaves, written as the plug-ins write them (CR LF lines, escaped values).

// A USER line with the attributes a test cares about; the rest empty or usual.
std::string UserLine(const std::string &key, const std::string &agent, int level,
                     const std::string &requests = "3", const std::string &time = "12s");
// A HIT line for one run of hits.
std::string HitLine(const std::string &serial, const std::string &path, int pages = 1,
                    const std::string &query = "");
// A snapshot of visitors, each a USER line followed by its HIT lines.
std::string Snapshot(const std::vector<std::vector<std::string>> &visitors);

std::string AlertLine(const std::string &stamp, const std::string &key, int level,
                      char separator = '^', const std::string &agent = "curl/8.5.0");

std::string TripwireLine(const std::string &dateTime, const std::string &address,
                         const std::string &description = "login probe");
std::string Tripwires(const std::vector<std::string> &lines);

}  // namespace report_testing
