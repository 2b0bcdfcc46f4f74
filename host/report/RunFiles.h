#pragma once

#include <map>
#include <string>
#include <vector>

namespace report {

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
  // Keys of the run file.
  static constexpr const char *kExportPath = "ExportPath";
  static constexpr const char *kShieldCycle = "ShieldCycleSeconds";
  static constexpr const char *kMonitorCycle = "MonitorCycleSeconds";
  static constexpr const char *kShieldsRaised = "ShieldsRaised";
  static constexpr const char *kShieldsLifted = "ShieldsLifted";
  static constexpr const char *kShieldsRefused = "ShieldsRefused";
  static constexpr const char *kShieldsSpared = "ShieldsNeverActedOn";
  static constexpr const char *kShieldsInForce = "ShieldsInForce";

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

 private:
  std::string directory_, exportPrefix_;
};

// flowdeck's notes on a run ("key = value" lines in flowdeck-run.txt): where its exports went,
// the cycle periods, its counts. Read back by the report; a missing file reads as empty.
using RunInfo = std::map<std::string, std::string>;
RunInfo ReadRunInfo(const std::string &directory);
// Replaces the file atomically; throws std::runtime_error naming it when it cannot.
void WriteRunInfo(const std::string &directory, const RunInfo &info);

// Writes text to path through a temporary file beside it and a rename, so that a reader sees
// the old file or the new one, never half of one. Throws std::runtime_error: "cannot write
// <what> <path>: <cause>".
void WriteFileAtomically(const std::string &path, const std::string &text, const std::string &what);

}  // namespace report
