#include "ShieldRows.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

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
bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

bool SameShield(const Shield &a, const Shield &b) {
  return a.remoteAddr == b.remoteAddr && EqualsIgnoreCase(a.host, b.host) &&
         EqualsIgnoreCase(a.resource, b.resource);
}

// The regularity row, not yet taken, that the pace shield's lifetime covers, the nearest in
// time; none when the pace shield's end is not known.
Shield *Counterpart(const Shield &pace, std::vector<Shield> &shields,
                    const std::vector<bool> &taken) {
  if (!pace.at || !pace.until || *pace.until < *pace.at) return nullptr;
  const Moment lifetime = *pace.until - *pace.at;
  Shield *nearest = nullptr;
  Moment nearestDistance = 0;
  for (size_t i = 0; i < shields.size(); ++i) {
    Shield &other = shields[i];
    if (other.test != "regularity" || taken[i] || !other.alsoJudgedBy.empty() || !other.at ||
        !SameShield(pace, other)) {
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

}  // namespace

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
  for (size_t i = 0; i < shields.size(); ++i) {
    Shield &pace = shields[i];
    if (pace.test != "pace" || merged[i]) continue;
    Shield *regularity = Counterpart(pace, shields, merged);
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
