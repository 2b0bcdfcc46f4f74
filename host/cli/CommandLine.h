#pragma once

#include <string>
#include <vector>

#include "base/Error.h"
#include "base/HostConfig.h"
#include "input/LineSource.h"
#include "input/LogParser.h"
#include "run/CycleSchedule.h"
#include "run/Session.h"

namespace host {

// A mistake in the command line or a file the run cannot read: exit status 2.
struct UsageError : Error {
  explicit UsageError(std::string cause) : Error("", std::move(cause)) {}
  explicit UsageError(const Error &error) : Error(error) {}
};

// Everything a replay or follow run was asked to do.
inline constexpr const char *kDefaultServerName = "localhost";

struct RunOptions {
  std::vector<LogInput> logs;
  LogFormat format;  // --log-format, else LogFormat of the configuration, else auto
  // follow: syslog endpoints to listen on ("udp://ADDR:PORT", "tcp://ADDR:PORT").
  std::vector<std::string> listen;
  bool serverNameFromTag = false;  // a syslog line's tag names its server
  Cadence cadence;
  bool fromStart = false;     // follow: read the whole file first
  std::string configPath;     // read again on SIGHUP while following
  std::string shippedRanges;  // VerifiedBotRanges when the configuration leaves it empty
  std::string reportPath;
  std::string metricsPath;  // Prometheus text for node_exporter, beside the run's own copy  // an
                            // HTML page of the run, written at the end (follow: each cycle)
  bool help = false;
  SessionOptions session;
  HostConfig config;
};

// Reads the options of "replay" (follow = false) or "follow"; throws UsageError.
RunOptions ParseRunOptions(const std::vector<std::string> &args, bool follow);
// The settings of the configuration file (none: the defaults), with the files flowdeck ships
// where they leave them empty; throws Error naming file and line.
HostConfig LoadConfig(const RunOptions &options);

std::string ReplayHelp();
std::string FollowHelp();
std::string MainHelp();

}  // namespace host
