#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// Where the files of one run are: the plug-ins' and flowdeck's own in the run's directory, the
// two exports where the run's FernwickPath put them (flowdeck notes that in its run file).
class RunFiles {
 public:
  static constexpr const char *kShields = "KvVantrel.xml";
  static constexpr const char *kDefinitions = "KvVantrel.CFG";
  static constexpr const char *kSnapshot = "KvCorvane.xml";
  static constexpr const char *kHits = "KvCorvaneHits.Out";
  static constexpr const char *kAlerts = "KvCorvaneAlerts.Out";
  static constexpr const char *kRunInfo = "flowdeck-run.txt";
  static constexpr const char *kShieldRecord = "flowdeck-shields.tsv";  // the shields in force
  static constexpr const char *kShieldEvents = "flowdeck-shields.log";  // raised, lifted, refused
  static constexpr const char *kOffences = "flowdeck-offences.tsv";     // of repeat offenders
  static constexpr const char *kAllowList = "flowdeck-allow.tsv";       // kept across runs
  static constexpr const char *kControlSocket = "flowdeck.sock";
  static constexpr const char *kMetrics = "flowdeck.prom";
  // Keys of the run file.
  static constexpr const char *kExportPath = "ExportPath";
  static constexpr const char *kShieldCycle = "ShieldCycleSeconds";
  static constexpr const char *kMonitorCycle = "MonitorCycleSeconds";
  static constexpr const char *kShieldsRaised = "ShieldsRaised";
  static constexpr const char *kShieldsLifted = "ShieldsLifted";
  static constexpr const char *kShieldsRefused = "ShieldsRefused";
  static constexpr const char *kShieldsSpared = "ShieldsNeverActedOn";
  static constexpr const char *kShieldsInForce = "ShieldsInForce";
  // Visitors the monitor was given in the run, a reload that restarted it included; "+" after
  // the number when there were more than flowdeck counts.
  static constexpr const char *kVisitorsOfRun = "VisitorsOfRun";

  // The run in `directory`, with its exports under `exportPrefix` (written in front of the
  // export names); empty: in the directory.
  RunFiles(std::string directory, std::string exportPrefix);
  // The run in `directory`, its exports where its run file (read as `info`) says.
  static RunFiles Of(const std::string &directory, const std::map<std::string, std::string> &info);

  const std::string &Directory() const { return directory_; }
  std::string In(const char *name) const { return directory_ + "/" + name; }
  std::string Hits() const { return exportPrefix_ + kHits; }
  std::string Alerts() const { return exportPrefix_ + kAlerts; }

  // What a run leaves that the next fresh run in the same directory starts without.
  static const std::vector<std::string> &FreshStartNames();
  // Every name that flowdeck or its plug-ins write in a run directory (the exports as long as
  // they go there).
  static const std::vector<std::string> &WrittenNames();
  // Before a run writes anything in `directory`: throws Error naming the first of
  // WrittenNames that stands there as anything but a regular file (a symbolic link, which a
  // write would follow; a FIFO, which would hold it). Files an earlier version left readable by
  // everyone lose that.
  static void CheckWritable(const std::string &directory);

 private:
  std::string directory_, exportPrefix_;
};

// flowdeck's notes on a run ("key = value" lines in flowdeck-run.txt): where its exports went,
// the cycle periods, its counts. Read back by the report; a missing file reads as empty.
using RunInfo = std::map<std::string, std::string>;
RunInfo ReadRunInfo(const std::string &directory);
// Replaces the file atomically; throws Error naming it when it cannot.
void WriteRunInfo(const std::string &directory, const RunInfo &info);

// The mode of the files flowdeck writes: they hold visitors' addresses and requests.
constexpr mode_t kRunFileMode = 0640;

// Whether a file written whole must be on disk before it replaces the old one: the state a
// restart reads back (the shields in force, offences, the allow list) must not come back empty
// after a crash; the rest is written again soon.
enum class Durability { kRewritten, kSurvivesCrash };

// Writes text to path as common::WriteWholeFile does (a new temporary file beside it under a
// name no one can foresee, then a rename; nothing but a regular file at path is replaced); the
// file gets exactly `mode`. Throws Error: "cannot write <what> <path>: <cause>".
void WriteFileAtomically(const std::string &path, const std::string &text, const std::string &what,
                         mode_t mode = kRunFileMode,
                         Durability durability = Durability::kRewritten);

// Appends text to the file at path, creating it (kRunFileMode) when missing; never through a
// symbolic link, never waiting on a FIFO. The problem ("cannot append to <path>: <cause>"), or
// empty.
std::string AppendToFile(const std::string &path, std::string_view text);

// Puts a copy of the regular file `from` (a file the operator names: a symbolic link to it is
// fine, a FIFO is not) at `to` as WriteFileAtomically does. Throws Error:
// "<from>: cannot read: <cause>" or WriteFileAtomically's.
void CopyFileAtomically(const std::string &from, const std::string &to, const std::string &what);

}  // namespace host
