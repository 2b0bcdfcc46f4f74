#include "report/NotedVisitors.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string_view>

namespace report {

namespace {

// A correlation as a number for comparing; text that is none compares lowest.
double Rating(const std::string &text) {
  char *end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  return text.empty() || *end != '\0' ? -1e300 : value;
}

void AddAlert(NotedVisitor &visitor, const Alert &alert) {
  // The latest alert says where the visitor came from last.
  visitor.remoteAddr = alert.remoteAddr;
  visitor.resolvedAddr = alert.resolvedAddr;
  visitor.country = alert.country;
  visitor.userAgent = alert.userAgent;
  visitor.serverName = alert.serverName;
  ++visitor.alerts;
  visitor.level1Alerts += alert.level == 1;
  visitor.level2Alerts += alert.level == 2;
  visitor.highestLevel = std::max(visitor.highestLevel, alert.level);
  if (!visitor.firstAlert || alert.at < *visitor.firstAlert) visitor.firstAlert = alert.at;
  if (!visitor.lastAlert || alert.at > *visitor.lastAlert) visitor.lastAlert = alert.at;
  if (visitor.highestRating.empty() || Rating(alert.correlation) > Rating(visitor.highestRating))
    visitor.highestRating = alert.correlation;
}

// Orders the visitors as the table shows them.
bool Before(const NotedVisitor &a, const NotedVisitor &b) {
  if (a.highestLevel != b.highestLevel) return a.highestLevel > b.highestLevel;
  if (a.shields.size() != b.shields.size()) return a.shields.size() > b.shields.size();
  return a.lastAlert.value_or(INT64_MIN) > b.lastAlert.value_or(INT64_MIN);
}

}  // namespace

std::vector<NotedVisitor> NoteVisitors(const RunData &run) {
  std::vector<NotedVisitor> noted;
  std::map<std::string, size_t, std::less<>> byKey;
  for (const Alert &alert : run.alerts) {
    if (alert.level < 1) continue;  // level 0 is no alert
    auto [entry, added] = byKey.try_emplace(alert.key, noted.size());
    if (added) noted.emplace_back().key = alert.key;
    AddAlert(noted[entry->second], alert);
  }
  for (const Shield &shield : run.shields) {
    bool named = false;
    for (NotedVisitor &visitor : noted) {
      if (visitor.remoteAddr != shield.remoteAddr) continue;
      visitor.shields.push_back(&shield);
      named = true;
    }
    if (named || shield.remoteAddr.empty()) continue;
    NotedVisitor &visitor = noted.emplace_back();
    visitor.remoteAddr = shield.remoteAddr;
    visitor.resolvedAddr = shield.resolvedAddr;
    visitor.serverName = shield.host;
    visitor.shields.push_back(&shield);
  }
  for (NotedVisitor &visitor : noted) {
    for (const Visitor &held : run.visitors) {
      const bool same =
          visitor.key.empty() ? held.remoteAddr == visitor.remoteAddr : held.key == visitor.key;
      if (!same) continue;
      visitor.held = &held;
      if (visitor.userAgent.empty()) visitor.userAgent = held.userAgent;
      if (visitor.country.empty()) visitor.country = held.country;
      break;
    }
  }
  std::stable_sort(noted.begin(), noted.end(), Before);
  return noted;
}

}  // namespace report
