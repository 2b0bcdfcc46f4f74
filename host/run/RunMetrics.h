#pragma once

#include <string>

#include "input/LineSource.h"
#include "input/LineStats.h"
#include "input/SyslogSource.h"
#include "run/PluginErrorLogs.h"
#include "run/Session.h"

namespace host {

// A run's figures in the Prometheus text format that node_exporter's textfile collector reads,
// every name beginning with flowdeck_. They are written whole and atomically into the run
// directory (flowdeck.prom, which `flowdeck status` reads) and, when asked, to a file of the
// operator's: after every cycle of a live run, at the end of a replay.
class RunMetrics {
 public:
  static constexpr const char *kFileName = "flowdeck.prom";

  // `syslog`: the run's syslog listener, when it has one. `fresh`: the run started without the
  // files of an earlier one (not a follow that carries on).
  RunMetrics(std::string runDirectory, std::string extraPath, const SyslogSource *syslog = nullptr,
             bool fresh = true)
      : path_(runDirectory + "/" + kFileName),
        extraPath_(std::move(extraPath)),
        syslog_(syslog),
        errorLogs_(runDirectory, fresh) {}

  // Throws Error naming the file that cannot be written.
  void Write(Session &session, const LineStats &lines, const LineSource &source) const;
  // The lines the plug-ins wrote to their error logs since the run started, by plug-in.
  static std::string PluginErrorText(const PluginErrorLogs &logs);
  static std::string Text(Session &session, const LineStats &lines, const LineSource &source,
                          const SyslogSource *syslog = nullptr);

 private:
  std::string path_, extraPath_;
  const SyslogSource *syslog_;
  // Where the plug-ins' error logs were read to: moved on at each writing of the figures.
  mutable PluginErrorLogs errorLogs_;
};

}  // namespace host
