#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ReportTime.h"

namespace report {

// One run of hits on the same path, described by its last hit.
struct HitRun {
  std::string sincePrevious;  // the elapsed text since the previous run, empty for the first
  int64_t pages = 0;
  std::string action, path, translatedPath, query, port, arrival;
  std::optional<Moment> at;  // from the arrival serial's digits
  bool shielded = false;
};

// A visitor as the monitor's snapshot holds it.
struct Visitor {
  std::string key, country, userAgent, authUser, resolvedAddr, remoteAddr, remoteHost;
  std::string levelText;
  int level = -1;  // -1 when the level is not a digit
  bool connected = false, locked = false;
  std::string started, visitLength, requests, browser, browserVersion, localHost, serverName;
  std::vector<HitRun> runs;
};

// One line of the alert file.
struct Alert {
  Moment at = 0;
  std::string key, country, authUser, userAgent, resolvedAddr, remoteAddr, remoteHost, localHost,
      serverName, correlation;
  int level = 0;
};

// A shield: one TRIPWIRE element of the shield file (the plug-in's regularity test), or one
// that flowdeck's pace test raised (from its shield event log).
struct Shield {
  std::string test = "regularity";
  std::string dateTime;
  std::optional<Moment> at;
  std::string remoteAddr, resolvedAddr, host, hits, factor, resource, deflect, sensitivity,
      strength, description;
};

// The earliest and latest time found anywhere in a run's files.
struct TimeSpan {
  Moment from = 0, to = 0;
};

// How one input file of the run was found.
struct Source {
  enum class State { kMissing, kRead, kFailed };
  std::string path;
  State state = State::kMissing;
  std::string problem;  // why a failed file could not be read

  bool Read() const { return state == State::kRead; }
};

// Everything a run left in its directory, as the page shows it.
struct RunData {
  std::string directory;
  Source snapshot, alertFile, shieldFile;
  std::vector<Visitor> visitors;
  std::vector<Alert> alerts;
  int64_t foreignAlertLines = 0;
  std::vector<Shield> shields;              // newest first
  std::map<std::string, std::string> info;  // flowdeck's notes on the run, when it left them
};

}  // namespace report
