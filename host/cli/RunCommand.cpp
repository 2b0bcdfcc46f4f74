#include "cli/RunCommand.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <ostream>

#include "base/RunFiles.h"
#include "base/Say.h"
#include "cli/Progress.h"
#include "cli/Summary.h"
#include "input/CombinedSource.h"
#include "input/LiveSource.h"
#include "input/LogMerger.h"
#include "input/SyslogSource.h"
#include "report/Report.h"
#include "run/FollowedLogs.h"
#include "run/RunLoop.h"
#include "run/RunMetrics.h"
#include "shield/TripwireCheck.h"
#include "shield/TripwireWatch.h"

namespace host {

namespace {

std::atomic<bool> gStop{false}, gReload{false};

void RequestStop(int) {
  gStop.store(true);
}

void RequestReload(int) {
  gReload.store(true);
}

// Reads the definitions the run was given as the shield plug-in reads them, and says what they
// watch: a site must not believe it is guarded when nothing is.
TripwireDefinitions WatchedTripwires(const RunOptions &options, const Session &session,
                                     std::ostream &err) {
  TripwireDefinitions tripwires =
      TripwireDefinitions::Read(session.OutDir(), options.session.tripwires);
  if (!options.session.quiet) Say(err, Level::kInfo, "watching " + tripwires.Description());
  if (!tripwires.Warning().empty()) Say(err, Level::kWarning, tripwires.Warning());
  return tripwires;
}

SyslogReceiver::Limits SyslogLimits(const HostConfig &config) {
  SyslogReceiver::Limits limits;
  limits.senders = AddressRanges::Parse(config.Get("SyslogSenders"));
  limits.maxConnections = static_cast<size_t>(config.GetInteger("SyslogMaxConnections"));
  return limits;
}

// What an operator must know of the syslog listener's bounds before a line comes.
void ReportSyslog(const HostConfig &config, const SyslogSource &syslog, std::ostream &err) {
  if (AddressRanges::Parse(config.Get("SyslogSenders")).Empty()) {
    Say(err, Level::kWarning, "SyslogSenders is empty: every syslog sender is refused");
  }
  const int64_t asked = config.GetInteger("SyslogMaxConnections");
  if (static_cast<size_t>(asked) > syslog.MaxConnections()) {
    Say(err, Level::kWarning,
        "SyslogMaxConnections " + std::to_string(asked) +
            " is more than the open-file limit leaves room for: at most " +
            std::to_string(syslog.MaxConnections()) +
            " syslog connections are kept (raise LimitNOFILE)");
  }
}

// Once a run: the listener found no descriptor left for a connection. It goes on (the
// connection idle the longest gives way), but the rest of the run may be short of them too.
void ReportDescriptors(const SyslogSource &syslog, bool &said, std::ostream &err) {
  if (said || syslog.Counts().refused.descriptors == 0) return;
  said = true;
  Say(err, Level::kError,
      "the syslog listener ran out of file descriptors (Too many open files): connections are "
      "closed to make room, counted in flowdeck_syslog_refused_total{cause=\"descriptors\"}; "
      "raise the open-file limit (LimitNOFILE) or lower SyslogMaxConnections");
}

// The definitions file checked before anything of the run is touched: a fault, or a file that
// cannot be read, ends the run as a mistake on the command line does (exit status 2).
void CheckTripwires(const RunOptions &options) {
  if (options.session.tripwires.empty()) return;
  try {
    TripwireCheck::Checked(options.session.tripwires);
  } catch (const std::runtime_error &error) {
    throw UsageError(error.what());
  }
}

// The definitions file changed while following: handed over as a SIGHUP would, when it has no
// fault; else the plug-in goes on with the tripwires it has.
void TripwiresChanged(const RunOptions &options, Session &session, TripwireDefinitions &watched,
                      std::ostream &err) {
  const std::string &path = options.session.tripwires;
  try {
    session.CopyDefinitions(path);
    Say(err, Level::kNotice, path + " changed: its tripwires are read at the next shield cycle");
    watched = WatchedTripwires(options, session, err);
  } catch (const std::runtime_error &error) {
    Say(err, Level::kError,
        path + " changed and is not used, the running tripwires stay: " + error.what());
  }
}

// SIGHUP: the configuration and the definitions file read again. A file that does not parse,
// or definitions with a fault, keep the running settings and tripwires.
void Reload(const RunOptions &options, Session &session, SyslogSource *syslog,
            TripwireDefinitions &watched, std::ostream &err) {
  try {
    HostConfig config = LoadConfig(options);
    std::optional<SyslogReceiver::Limits> limits;
    if (syslog != nullptr) limits = SyslogLimits(config);
    std::string done = session.Reload(std::move(config), options.session.tripwires);
    if (limits) {
      syslog->Reconfigure(std::move(limits->senders), limits->maxConnections);
      done += "; the syslog listener takes SyslogSenders and SyslogMaxConnections as now set";
    }
    Say(err, Level::kNotice,
        "reloaded " + (options.configPath.empty() ? "the defaults" : options.configPath) + ": " +
            done);
    watched = WatchedTripwires(options, session, err);
  } catch (const TripwireError &error) {
    Say(err, Level::kError,
        std::string("the settings and tripwires were not reloaded, the running ones stay: ") +
            error.what());
  } catch (const std::runtime_error &error) {
    Say(err, Level::kError,
        std::string("the settings were not reloaded, the running ones stay: ") + error.what());
  }
}

void ReportListener(const Session &session, std::ostream &err) {
  if (!session.Listening()) {
    Say(err, Level::kWarning,
        session.ListenProblem() +
            "; shield requests are not received this run (shields still go to KvVantrel.xml)");
  }
}

// Opens a source: a log that cannot be read, or an address that cannot be listened on, is a
// usage error (exit status 2), as a missing log is.
template <class Source, class... Arguments>
std::unique_ptr<Source> Open(Arguments &&...arguments) {
  try {
    return std::make_unique<Source>(std::forward<Arguments>(arguments)...);
  } catch (const std::runtime_error &error) {
    throw UsageError(error.what());
  }
}

// flowdeck's notes on the run so far, for the report and for a person looking in.
void NoteRun(const Session &session, const Cadence &cadence) {
  const ShieldTally &shields = session.Shields().Tally();
  const DistinctKeys &visitors = session.VisitorsOfRun();
  WriteRunInfo(session.OutDir(),
               {{RunFiles::kExportPath, session.ExportPrefix()},
                {RunFiles::kShieldCycle, std::to_string(cadence.shieldSeconds)},
                {RunFiles::kMonitorCycle, std::to_string(cadence.monitorSeconds)},
                {RunFiles::kShieldsRaised, std::to_string(shields.raised)},
                {RunFiles::kShieldsLifted, std::to_string(shields.lifted)},
                {RunFiles::kShieldsRefused, std::to_string(shields.refused)},
                {RunFiles::kShieldsSpared, std::to_string(shields.spared)},
                {RunFiles::kShieldsInForce, std::to_string(session.Shields().InForce())},
                {RunFiles::kVisitorsOfRun,
                 std::to_string(visitors.Count()) + (visitors.Full() ? "+" : "")}});
}

void WriteMetrics(const RunMetrics &metrics, Session &session, const LineStats &stats,
                  const LineSource &source, std::ostream &err) {
  try {
    metrics.Write(session, stats, source);
  } catch (const std::runtime_error &error) {
    Say(err, Level::kWarning, error.what());
  }
}

// How often a followed log that stays unreadable is named again: every minute, or every
// FLOWDECK_LOG_REPEAT_SECONDS seconds (0.1 to 3600) when that is set, for tests that cannot wait
// a minute. Anything else there is ignored.
double LogRepeatSeconds() {
  constexpr double kMinute = 60;
  const char *text = std::getenv("FLOWDECK_LOG_REPEAT_SECONDS");
  if (text == nullptr) return kMinute;
  char *end = nullptr;
  const double seconds = std::strtod(text, &end);
  return end != text && *end == '\0' && seconds >= 0.1 && seconds <= 3600 ? seconds : kMinute;
}

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int RunLines(RunOptions &options, LineSource &source, LineStats &stats, bool live,
             std::ostream &out, std::ostream &err, SyslogSource *syslog) {
  TripwireWatch watchTripwires(options.session.tripwires);  // before the file is read
  CheckTripwires(options);
  Session session(options.session, options.config, out, err);
  ReportListener(session, err);
  if (syslog != nullptr) ReportSyslog(options.config, *syslog, err);
  if (!options.session.quiet) {
    for (const std::string &line : session.Shields().Describe()) Say(err, Level::kInfo, line);
  }
  NoteRun(session, options.cadence);
  TripwireDefinitions tripwires = WatchedTripwires(options, session, err);
  Progress progress(err, !options.session.quiet);
  RunLoop loop(session, source, options.cadence, stats);
  loop.EveryFewThousand([&](uint64_t lines, uint64_t bytes) { progress.Update(lines, bytes); });
  const RunMetrics metrics(session.OutDir(), options.metricsPath, syslog, !options.session.restore);
  auto writeReport = [&] {
    NoteRun(session, options.cadence);
    if (options.reportPath.empty()) return;
    session.Settle();
    report::WriteReport(session.OutDir(), options.reportPath);
  };
  FollowedLogs followed(err, LogRepeatSeconds());
  bool saidDescriptors = false;  // outlives the block: the loop calls back into it
  if (live) {
    followed.Look(source.Logs(), SteadySeconds());
    session.WatchMonitor();
    loop.AfterCycles([&](bool monitor) {
      WriteMetrics(metrics, session, stats, source, err);
      if (monitor) writeReport();
    });
    loop.Between([&] {
      if (gReload.exchange(false)) {
        Reload(options, session, syslog, tripwires, err);
        watchTripwires.Rebase();
      }
      if (watchTripwires.Changed()) TripwiresChanged(options, session, tripwires, err);
      if (syslog != nullptr) ReportDescriptors(*syslog, saidDescriptors, err);
      followed.Look(source.Logs(), SteadySeconds());
    });
  }
  loop.Run();
  session.Finish();
  NoteRun(session, options.cadence);
  WriteMetrics(metrics, session, stats, source, err);
  progress.Finish();
  stats.bytes = source.BytesRead();
  PrintSummary(out, RunFacts{stats, options.cadence, tripwires, progress.Seconds()}, session);
  if (!live) writeReport();
  if (!options.reportPath.empty()) out << "report: " << options.reportPath << "\n";
  return 0;
}

RealClient TrustedProxies(const HostConfig &config) {
  return RealClient(AddressRanges::Parse(config.Get("TrustedProxies")));
}

int RunReplay(RunOptions &options, std::ostream &out, std::ostream &err) {
  LineStats stats;
  LineReader lines(options.format, TrustedProxies(options.config), stats);
  std::unique_ptr<LogMerger> logs = Open<LogMerger>(options.logs, lines);
  return RunLines(options, *logs, stats, false, out, err);
}

int RunFollow(RunOptions &options, std::ostream &out, std::ostream &err) {
  LineStats stats;
  LineReader lines(options.format, TrustedProxies(options.config), stats);
  gStop.store(false);
  std::vector<std::unique_ptr<LineSource>> sources;
  SyslogSource *syslog = nullptr;
  if (!options.logs.empty()) {
    sources.push_back(Open<LiveSource>(options.logs, options.fromStart, lines, gStop));
  }
  if (!options.listen.empty()) {
    // The listener last: it waits for its messages without polling.
    std::vector<SyslogReceiver::Endpoint> endpoints;
    for (const std::string &text : options.listen) {
      endpoints.push_back(SyslogReceiver::Endpoint::Parse(text));
    }
    auto listener = Open<SyslogSource>(endpoints, lines, gStop, options.serverNameFromTag,
                                       SyslogLimits(options.config));
    syslog = listener.get();
    sources.push_back(std::move(listener));
  }
  CombinedSource source(std::move(sources));
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigaction(SIGTERM, &action, nullptr);
  // A second SIGINT ends the run at once, whatever the first one waits for.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  action.sa_flags = 0;
  action.sa_handler = RequestReload;
  sigaction(SIGHUP, &action, nullptr);
  return RunLines(options, source, stats, true, out, err, syslog);
}

}  // namespace host
