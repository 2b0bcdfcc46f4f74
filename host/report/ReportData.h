#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "report/ReportTime.h"

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
// that flowdeck raised (from its shield event log): the pace test's, one by hand, a whole
// address, or any other source's.
struct Shield {
  std::string test = "regularity";  // the source that raised it
  std::string dateTime;
  std::optional<Moment> at;
  std::optional<Moment> until;  // the end flowdeck gave it, when its log says
  std::string remoteAddr, resolvedAddr, host, hits, factor, resource, deflect, sensitivity,
      strength, description;
  std::string figures;      // what the event log says in brackets after a raise, as it stands
  std::string paceFigures;  // the pace test's: "hits 22, mean gap 1.000 s, spread 0.012"
  // When both tests judged the shield, the one that came second, its time and its tally.
  std::string alsoJudgedBy;
  std::optional<Moment> alsoJudgedAt;
  // From flowdeck's raise: the address's offences, this one included, and the lifetime.
  std::optional<int> offence;
  std::optional<int64_t> lifetime;  // milliseconds
  // Whether the event log holds flowdeck's raise: without a lift after it, it is in force.
  bool raiseLogged = false;
  std::optional<Moment> liftedAt;
  std::string liftWhy;  // empty when lifted at the end of its lifetime
};

// A shield flowdeck did not raise though a test asked for it: its address is in NeverShield or
// on the allow list, or it is a search engine's verified crawler.
struct SparedShield {
  std::string source, dateTime;
  std::optional<Moment> at;
  std::string remoteAddr, host, resource, why;
};

// A visitor that reached level 1 or 2 or was shielded during the run, held at the end or not:
// from the alert file and the shields. One per visitor key; a shielded address that no alert
// names is a visitor of its own, without a key.
struct NotedVisitor {
  std::string key, remoteAddr, resolvedAddr, country, userAgent, serverName;
  int highestLevel = 0;
  int64_t alerts = 0, level1Alerts = 0, level2Alerts = 0;
  std::optional<Moment> firstAlert, lastAlert;
  std::string highestRating;  // the largest correlation of its alerts
  std::vector<const Shield *> shields;
  const Visitor *held = nullptr;  // in the snapshot at the end
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
  std::vector<SparedShield> spared;         // oldest first, the first ones of the log
  int64_t sparedNotListed = 0;              // past those
  int64_t unreadShieldEvents = 0;           // lines of the event log that are no event
  int64_t raisesLeftOut = 0;                // the oldest raises of a log too long to show whole
  std::map<std::string, std::string> info;  // flowdeck's notes on the run, when it left them
};

}  // namespace report
