#include "Replay.h"

#include <poll.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <ostream>
#include <thread>

#include "Clock.h"
#include "DateTime.h"
#include "FollowReader.h"
#include "LogMerger.h"
#include "Progress.h"
#include "Report.h"
#include "Summary.h"

namespace host {

namespace {

double LocalDateTime(const LogTime &time) {
  return common::AddSeconds(
      common::MakeDateTime(time.year, time.month, time.day, time.hour, time.minute, time.second),
      time.millisecond / 1000.0);
}

std::atomic<bool> gStop{false};

void RequestStop(int) {
  gStop.store(true);
}

void ReportListener(const Session &session, std::ostream &err) {
  if (!session.Listening()) {
    err << "flowdeck: " << session.ListenProblem()
        << "; shield requests are not received this run (shields still go to KvVantrel.xml)\n";
  }
}

void WriteReportIfAsked(const RunOptions &options, const Session &session) {
  if (!options.reportPath.empty()) report::WriteReport(session.OutDir(), options.reportPath);
}

// Opens the logs: one that cannot be read is a usage error (exit status 2), as a missing one is.
template <class Reader, class... Arguments>
void OpenLogs(std::optional<Reader> &reader, Arguments &&...arguments) {
  try {
    reader.emplace(std::forward<Arguments>(arguments)...);
  } catch (const std::runtime_error &error) {
    throw UsageError(error.what());
  }
}

}  // namespace

int RunReplay(RunOptions &options, std::ostream &out, std::ostream &err) {
  LineStats stats;
  std::optional<LogMerger> logs;
  OpenLogs(logs, options.logs, options.format, stats);
  LogMerger &merger = *logs;
  Session session(options.session, options.config, out);
  ReportListener(session, err);
  Progress progress(err, !options.session.quiet);
  const double cycle = options.cycleSeconds / 86400.0;
  double nextCycle = 0;
  bool started = false;
  ParseOutcome outcome;
  while (const LogRecord *record = merger.Next(outcome)) {
    const double time = LocalDateTime(record->time);
    if (!started) {
      session.UseHostClock(time);
      session.Configure();
      nextCycle = time + cycle;
      started = true;
    }
    session.AdvanceClock(time);
    if (session.Clock() >= nextCycle) {
      session.Cycle();
      nextCycle = session.Clock() + cycle;
    }
    if (outcome == ParseOutcome::kRequest) {
      ++stats.requests;
      session.Request(*record);
    } else {
      ++stats.withoutRequest;
    }
    progress.Update(stats.lines, merger.BytesRead());
  }
  if (!started) {
    session.UseHostClock(common::SystemNow());
    session.Configure();
  }
  session.Cycle();
  session.Settle();
  progress.Finish();
  stats.bytes = merger.BytesRead();
  PrintSummary(out, stats, session, progress.Seconds());
  WriteReportIfAsked(options, session);
  if (!options.reportPath.empty()) out << "report: " << options.reportPath << "\n";
  return 0;
}

int RunFollow(RunOptions &options, std::ostream &out, std::ostream &err) {
  LineStats stats;
  std::optional<FollowReader> log;
  OpenLogs(log, options.logs.front(), options.fromStart);
  FollowReader &reader = *log;
  Session session(options.session, options.config, out);
  ReportListener(session, err);
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // The monitor works on its own thread, a little behind: each call carries the system time at
  // which the line was read, so that expiry counts from then.
  session.UseHostClock(common::SystemNow());
  session.Configure();
  Progress progress(err, !options.session.quiet);
  LogRecord record;
  auto nextCycle = std::chrono::steady_clock::now() + std::chrono::seconds(options.cycleSeconds);
  while (!gStop.load()) {
    std::string_view line;
    bool any = false;
    while (!gStop.load() && reader.Next(line)) {
      any = true;
      ++stats.lines;
      session.AdvanceClock(common::SystemNow());
      switch (ParseLogLine(line, options.format, record)) {
        case ParseOutcome::kRequest:
          ++stats.requests;
          session.Request(record);
          break;
        case ParseOutcome::kNoRequest:
          ++stats.withoutRequest;
          break;
        case ParseOutcome::kMalformed:
          stats.Malformed(options.logs.front(), stats.lines);
          break;
      }
      if (std::chrono::steady_clock::now() >= nextCycle) break;
    }
    if (std::chrono::steady_clock::now() >= nextCycle) {
      session.AdvanceClock(common::SystemNow());
      session.Cycle();
      session.Settle();
      WriteReportIfAsked(options, session);
      nextCycle = std::chrono::steady_clock::now() + std::chrono::seconds(options.cycleSeconds);
    }
    if (!any) {
      reader.Poll();
      poll(nullptr, 0, 200);
    }
  }
  session.AdvanceClock(common::SystemNow());
  session.Cycle();
  session.Settle();
  WriteReportIfAsked(options, session);
  progress.Finish();
  PrintSummary(out, stats, session, progress.Seconds());
  return 0;
}

}  // namespace host
