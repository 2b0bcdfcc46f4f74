#include "report/ShieldRows.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "Convert.h"

namespace report {

namespace {

struct PaceFigures {
  unsigned hits = 0;
  double meanGapSeconds = 0, spread = 0;
};

// A spread at or below this is a timer: every gap within a few hundredths of a second of the
// mean at a one-second period. Delays drawn between 0.5 and 1.5 periods spread about 0.29.
constexpr double kSteadySpread = 0.1;

std::optional<PaceFigures> ParseFigures(std::string_view text) {
  PaceFigures figures;
  const std::string copy(text);
  int consumed = -1;
  if (std::sscanf(copy.c_str(), "hits %u, mean gap %lf s, spread %lf%n", &figures.hits,
                  &figures.meanGapSeconds, &figures.spread, &consumed) != 3 ||
      consumed != static_cast<int>(copy.size()) || figures.hits < 2 ||
      !(figures.meanGapSeconds > 0) || !(figures.spread >= 0)) {
    return std::nullopt;
  }
  return figures;
}

// ASCII letters in either case: flowdeck keys a shield's host so, and the pace test its path.
bool SameShield(const Shield &a, const Shield &b) {
  return a.remoteAddr == b.remoteAddr && common::EqualsIgnoreCase(a.host, b.host) &&
         common::EqualsIgnoreCase(a.resource, b.resource);
}

// The regularity row, not yet taken, that the pace shield's lifetime covers, the nearest in
// time; none when the pace shield's end is not known. ofAddress: the regularity rows of its
// address.
Shield *Counterpart(const Shield &pace, std::vector<Shield> &shields,
                    const std::vector<size_t> &ofAddress, const std::vector<bool> &taken) {
  if (!pace.at || !pace.until || *pace.until < *pace.at) return nullptr;
  const Moment lifetime = *pace.until - *pace.at;
  Shield *nearest = nullptr;
  Moment nearestDistance = 0;
  for (size_t i : ofAddress) {
    Shield &other = shields[i];
    if (taken[i] || !other.alsoJudgedBy.empty() || !SameShield(pace, other)) {
      continue;
    }
    const Moment distance = *other.at - *pace.at;
    if (distance < -lifetime || distance > lifetime) continue;
    const Moment away = distance < 0 ? -distance : distance;
    if (nearest == nullptr || away < nearestDistance) nearest = &other, nearestDistance = away;
  }
  return nearest;
}

std::string RegularityTally(const Shield &shield) {
  std::string tally = shield.hits.empty() ? "" : shield.hits + " hits";
  if (!shield.factor.empty()) {
    char *end = nullptr;
    const double factor = std::strtod(shield.factor.c_str(), &end);
    char text[48];
    std::snprintf(text, sizeof text, "factor %.4f", factor);
    tally += (tally.empty() ? "" : ", ") + std::string(*end == '\0' ? text : shield.factor);
  }
  return tally;
}

std::string AtTime(const std::optional<Moment> &at) {
  return at ? " at " + FormatTimeOfDay(*at) : "";
}

// Pace judged first: the pace row keeps its time and words, and takes the plug-in's tally.
void TakeRegularity(Shield &pace, const Shield &regularity) {
  pace.hits = regularity.hits;
  pace.factor = regularity.factor;
  if (pace.resolvedAddr.empty()) pace.resolvedAddr = regularity.resolvedAddr;
  pace.sensitivity = regularity.sensitivity;
  pace.strength = regularity.strength;
  pace.alsoJudgedBy = "regularity";
  pace.alsoJudgedAt = regularity.at;
  const std::string tally = RegularityTally(regularity);
  pace.description += "; the regularity test judged it too" + AtTime(regularity.at) +
                      (tally.empty() ? "" : " (" + tally + ")");
}

// The plug-in judged first: its row stays, with the pace test's figures beside its own.
void TakePace(Shield &regularity, const Shield &pace) {
  regularity.paceFigures = pace.paceFigures;
  regularity.alsoJudgedBy = "pace";
  regularity.alsoJudgedAt = pace.at;
  regularity.description += std::string(regularity.description.empty() ? "" : "; ") +
                            "the pace test judged it too" + AtTime(pace.at) + ": " +
                            pace.description;
}

// The pace test's own figures, and the notes flowdeck put after them ("; claims to be X, is
// not (...)", "; offence 3: the whole address, ..."); every other source's are notes alone.
std::pair<std::string, std::string> SplitFigures(const Shield &raise) {
  if (raise.test != "pace") return {"", raise.figures};
  const size_t end = raise.figures.find("; ");
  if (end != std::string::npos && ParseFigures(std::string_view(raise.figures).substr(0, end)))
    return {raise.figures.substr(0, end), raise.figures.substr(end + 2)};
  return {raise.figures, ""};
}

// The regularity raise the plug-in's row stands for: the nearest in time, within its lifetime.
size_t NearestRaise(const Shield &row, const std::vector<Shield> &raises,
                    const std::vector<size_t> &ofAddress, const std::vector<bool> &taken) {
  size_t nearest = raises.size();
  Moment nearestDistance = 0;
  for (size_t i : ofAddress) {
    const Shield &raise = raises[i];
    if (taken[i] || raise.test != "regularity" || !SameShield(row, raise)) continue;
    const Moment distance = *raise.at > *row.at ? *raise.at - *row.at : *row.at - *raise.at;
    if (distance > raise.lifetime.value_or(0)) continue;
    if (nearest == raises.size() || distance < nearestDistance) {
      nearest = i;
      nearestDistance = distance;
    }
  }
  return nearest;
}

void TakeRaise(Shield &row, const Shield &raise) {
  row.until = raise.until;
  row.offence = raise.offence;
  row.lifetime = raise.lifetime;
  row.raiseLogged = true;
  row.liftedAt = raise.liftedAt;
  row.liftWhy = raise.liftWhy;
  row.figures = raise.figures;
  if (!raise.figures.empty())
    row.description += (row.description.empty() ? "" : "; ") + raise.figures;
}

}  // namespace

void DescribeRaise(Shield &raise) {
  auto [figures, notes] = SplitFigures(raise);
  std::string lead;
  if (raise.test == "pace") {
    raise.paceFigures = figures;
    lead = "pace test: " + PaceDescription(figures);
  } else if (raise.test == "manual") {
    // A shield ordered while no follow ran says so: "by hand while flowdeck was down".
    lead = notes.rfind("by hand", 0) == 0 ? "raised " + std::exchange(notes, "") : "raised by hand";
  } else {
    lead = raise.test + " test";
  }
  if (raise.host.empty() && raise.resource.empty() &&
      notes.find("the whole address") == std::string::npos) {
    lead += ", the whole address";
  }
  raise.description = notes.empty() ? lead : lead + "; " + notes;
}

void JoinRaises(std::vector<Shield> &shields, std::vector<Shield> raises) {
  std::unordered_map<std::string, std::vector<size_t>> byAddress;
  for (size_t i = 0; i < raises.size(); ++i) {
    if (raises[i].at) byAddress[raises[i].remoteAddr].push_back(i);
  }
  std::vector<bool> taken(raises.size(), false);
  for (Shield &row : shields) {
    const auto ofAddress = byAddress.find(row.remoteAddr);
    if (!row.at || ofAddress == byAddress.end()) continue;
    const size_t raise = NearestRaise(row, raises, ofAddress->second, taken);
    if (raise == raises.size()) continue;
    TakeRaise(row, raises[raise]);
    taken[raise] = true;
  }
  for (size_t i = 0; i < raises.size(); ++i) {
    if (taken[i]) continue;
    DescribeRaise(raises[i]);
    shields.push_back(std::move(raises[i]));
  }
}

std::string PaceDescription(std::string_view text) {
  const std::optional<PaceFigures> figures = ParseFigures(text);
  if (!figures) return "gaps between requests too even for a person's";
  const auto gap = static_cast<int64_t>(figures->meanGapSeconds * 1000 + 0.5);
  char spread[32];
  std::snprintf(spread, sizeof spread, "%.3f", figures->spread);
  const std::string tally = " (" + std::to_string(figures->hits) + " hits, spread " + spread + ")";
  if (figures->spread <= kSteadySpread) {
    return "steady, one request every " + FormatDuration(gap) + tally;
  }
  return "even, " + FormatDuration(gap) +
         " apart on average and scattered as delays drawn at random around a period are, far "
         "less than a person's" +
         tally;
}

void MergeJudgements(std::vector<Shield> &shields) {
  std::vector<bool> merged(shields.size(), false);
  // By address: a long event log holds thousands of shields, and each looks at its own few.
  std::unordered_map<std::string, std::vector<size_t>> regularityOf;
  for (size_t i = 0; i < shields.size(); ++i) {
    if (shields[i].test == "regularity" && shields[i].at)
      regularityOf[shields[i].remoteAddr].push_back(i);
  }
  for (size_t i = 0; i < shields.size(); ++i) {
    Shield &pace = shields[i];
    if (pace.test != "pace" || merged[i]) continue;
    const auto ofAddress = regularityOf.find(pace.remoteAddr);
    if (ofAddress == regularityOf.end()) continue;
    Shield *regularity = Counterpart(pace, shields, ofAddress->second, merged);
    if (regularity == nullptr) continue;
    // Pace first, or at the same time: the pace line is there because flowdeck raised its
    // shield, which it would not have done with the plug-in's already in force.
    if (*regularity->at < *pace.at) {
      TakePace(*regularity, pace);
      merged[i] = true;
    } else {
      TakeRegularity(pace, *regularity);
      merged[static_cast<size_t>(regularity - shields.data())] = true;
    }
  }
  size_t kept = 0;
  for (size_t i = 0; i < shields.size(); ++i) {
    if (merged[i]) continue;
    if (kept != i) shields[kept] = std::move(shields[i]);
    ++kept;
  }
  shields.resize(kept);
}

}  // namespace report
