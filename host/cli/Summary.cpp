#include "cli/Summary.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <ostream>
#include <string>

#include "base/TimeStamp.h"
#include "report/Report.h"
#include "report/ReportTime.h"
#include "report/ShieldRows.h"

namespace host {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kDaysFrom1899To1970 = 25569;

// A time the plug-ins wrote, as flowdeck writes every time. The plug-ins write the wall clock of
// the run: this machine's in a follow, the log's in a replay. A log of another zone than this
// machine's (told by the offset of its latest line) is put right with that offset; one of this
// machine's zone is taken as it is, summer time and all.
std::string PluginTime(report::Moment moment, const Session &session) {
  const int64_t utc = session.UtcMilliseconds();
  const int64_t wall = std::llround(session.Clock() * 86400e3) - kDaysFrom1899To1970 * 86400'000;
  // Offsets are whole minutes; the two clocks may differ by a rounded millisecond.
  const int64_t offset = std::llround(static_cast<double>(wall - utc) / 60e3) * 60;
  const time_t now = static_cast<time_t>(utc / 1000);
  tm local{};
  if (localtime_r(&now, &local) == nullptr || offset == local.tm_gmtoff)
    return report::FormatMoment(moment);
  return FormatTimeStamp(moment / 1000 - kDaysFrom1899To1970 * 86400 - offset);
}

// The shields the plug-in's regularity test raised; those the pace test raised first (the
// plug-in may have judged them too) are listed with the pace test's tally.
void PrintShields(std::ostream &out, const std::vector<report::Shield> &newestFirst,
                  const Session &session) {
  const bool none =
      std::none_of(newestFirst.begin(), newestFirst.end(),
                   [](const report::Shield &shield) { return shield.test != "pace"; });
  out << (none ? "shields: none\n" : "shields:\n");
  for (auto shield = newestFirst.rbegin(); shield != newestFirst.rend(); ++shield) {
    if (shield->test == "pace") continue;
    out << "  " << shield->remoteAddr << "  " << shield->host << shield->resource << "  hits "
        << shield->hits << "  factor " << shield->factor << "  at "
        << (shield->at ? PluginTime(*shield->at, session) : shield->dateTime) << "\n";
  }
}

void PrintShieldTally(std::ostream &out, const Session &session) {
  const ShieldKeeper &keeper = session.Shields();
  const ShieldTally &tally = keeper.Tally();
  out << "shields raised: " << tally.raised << ", lifted: " << tally.lifted
      << ", refused: " << tally.refused << ", in force at the end: " << keeper.InForce();
  if (tally.restored > 0) out << " (" << tally.restored << " carried over from the last run)";
  out << "\n";
  if (tally.pace > 0) {
    out << "shields of the pace test (gaps too even for a person's): " << tally.pace << "\n";
  }
  for (const Shield &shield : tally.paceShields) {
    out << "  " << shield.address << "  " << shield.host << shield.resource << "  pace  at "
        << IsoTime(shield.raisedAt) << "  " << report::PaceDescription(shield.figures) << "\n";
  }
  if (tally.crawl > 0) {
    out << "shields of the crawl test (many pages at a machine's pace): " << tally.crawl << "\n";
  }
  for (const Shield &shield : tally.crawlShields) {
    out << "  " << shield.address << "  the whole address  crawl  at " << IsoTime(shield.raisedAt)
        << "  " << shield.figures << "\n";
  }
  if (tally.crawlReported > 0) {
    out << "crawlers judged and only reported (CrawlTest = Report): " << tally.crawlReported
        << "\n";
  }
  for (const Shield &shield : tally.crawlReports) {
    out << "  " << shield.address << "  judged at " << IsoTime(shield.raisedAt) << "  "
        << shield.figures << "\n";
  }
  for (const std::string &shield : tally.sparedShields) out << "  spared: " << shield << "\n";
  if (tally.verified + tally.falseClaims > 0) {
    out << "search engines' crawlers: " << tally.verified << " shield(s) spared as verified, "
        << tally.falseClaims << " acted on as claiming a crawler they are not\n";
  }
  if (tally.repeat > 0 || tally.wholeAddress > 0) {
    out << "shields of repeat offenders (longer each time): " << tally.repeat
        << ", of the whole address: " << tally.wholeAddress << "\n";
  }
  for (const std::string &shield : tally.repeatShields) out << "  " << shield << "\n";
  if (tally.raisedByHand + tally.liftedByHand + tally.liftedCovered > 0) {
    out << "shields by hand: " << tally.raisedByHand << " raised, " << tally.liftedByHand
        << " lifted; lifted as NeverShield or the allow list came to cover them: "
        << tally.liftedCovered << "\n";
  }
  if (tally.overLimit > 0) {
    out << "  of them refused because MaxShields were in force: " << tally.overLimit << "\n";
  }
  const ShieldListener::Counts &port = session.Listener().Stats();
  const uint64_t forged = port.forged + session.LoggedForgedRequests();
  if (forged > 0) {
    out << "forged shield requests (without the shield route's key), not acted on: " << forged
        << " (" << port.forged << " at the shield port, " << session.LoggedForgedRequests()
        << " in the web server's log)\n";
  }
  if (port.foreign > 0) {
    out << "shield requests from other machines, closed unread: " << port.foreign << "\n";
  }
  if (port.unreadable > 0) {
    out << "shield requests with the key that held no shield: " << port.unreadable << "\n";
  }
  if (port.slow + port.oversized + port.crowded + port.descriptors > 0) {
    out << "connections to the shield port closed unread: " << port.slow
        << " too slow to send a line, " << port.oversized << " with a line too long, "
        << port.crowded << " crowded out, " << port.descriptors
        << " times no file descriptor was free\n";
  }
  if (session.LoggedShieldRequests() > 0) {
    out << "shield requests taken from the web server's log: " << session.LoggedShieldRequests()
        << "\n";
  }
  if (session.Ignored() > 0) {
    out << "requests not streamed (IgnoreAddresses): " << session.Ignored() << "\n";
  }
}

void PrintLevels(std::ostream &out, const std::vector<report::Visitor> &visitors) {
  std::array<uint64_t, 3> levels{};
  for (const report::Visitor &visitor : visitors) {
    if (visitor.level >= 0 && visitor.level <= 2) ++levels[visitor.level];
  }
  out << "alert levels at the last cycle: " << levels[0] << " at 0, " << levels[1] << " at 1, "
      << levels[2] << " at 2\n";
}

void PrintAlerts(std::ostream &out, const std::vector<report::Alert> &alerts,
                 const Session &session) {
  constexpr size_t kShown = 20;
  out << "alerts raised: " << alerts.size() << (alerts.empty() ? "" : ":") << "\n";
  for (size_t i = 0; i < alerts.size() && i < kShown; ++i) {
    out << "  level " << alerts[i].level << "  " << alerts[i].key << "  rating "
        << alerts[i].correlation << "  at " << PluginTime(alerts[i].at, session) << "\n";
  }
  if (alerts.size() > kShown) out << "  (" << alerts.size() - kShown << " more)\n";
}

void PrintFiles(std::ostream &out, const std::string &dir) {
  out << "files in " << dir << ":\n";
  std::vector<std::pair<std::string, uintmax_t>> files;
  for (const fs::directory_entry &entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().extension() != ".so") {
      files.emplace_back(entry.path().filename().string(), entry.file_size());
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto &[name, size] : files)
    out << "  " << std::left << std::setw(22) << name << size << " bytes\n";
}

}  // namespace

void PrintSummary(std::ostream &out, const RunFacts &facts, Session &session) {
  const LineStats &lines = facts.lines;
  out << "lines read: " << lines.lines << " (" << lines.requests << " requests, "
      << lines.withoutRequest << " without a request, " << lines.malformed
      << " that do not parse)\n";
  for (size_t kind = 1; kind < kLineFaultKinds; ++kind) {
    if (lines.faults[kind] == 0) continue;
    out << "  " << lines.faults[kind] << (lines.faults[kind] == 1 ? " line " : " lines ")
        << LineFaultText(static_cast<LineFault>(kind))
        << (static_cast<LineFault>(kind) == LineFault::kForwardedChain
                ? " (the connecting address was taken)"
                : "")
        << "\n";
  }
  if (!lines.firstMalformed.empty()) {
    out << "first lines that do not parse:";
    for (const std::string &where : lines.firstMalformed) out << " " << where;
    out << "\n";
  }
  const DistinctKeys &visitors = session.VisitorsOfRun();
  out << "visitors held: " << session.Visitors() << " (" << visitors.Count()
      << (visitors.Full() ? " or more" : "") << " in the run)\n"
      << "cycles: " << session.ShieldCycles() << " of the shield plug-in (every "
      << facts.cadence.shieldSeconds << " s), " << session.MonitorCycles()
      << " of the monitor (every " << facts.cadence.monitorSeconds << " s)\n"
      << "watched: " << facts.tripwires.Description() << "\n";
  const report::RunData run = report::ReadRun(session.OutDir());
  PrintLevels(out, run.visitors);
  PrintAlerts(out, run.alerts, session);
  PrintShields(out, run.shields, session);
  PrintShieldTally(out, session);
  if (session.FailedCalls() > 0) {
    out << "plug-in calls whose error log could not be written: " << session.FailedCalls() << "\n";
  }
  PrintFiles(out, session.OutDir());
  const double rate = facts.seconds > 0 ? static_cast<double>(lines.lines) / facts.seconds : 0;
  out << std::fixed << std::setprecision(2) << "time: " << facts.seconds << " s, "
      << std::setprecision(0) << rate << " lines per second\n";
}

}  // namespace host
