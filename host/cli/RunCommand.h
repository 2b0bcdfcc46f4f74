#pragma once

#include <iosfwd>

#include "cli/CommandLine.h"
#include "input/LineSource.h"
#include "input/LineStats.h"
#include "input/RealClient.h"

namespace host {

class SyslogSource;

// "flowdeck replay": returns the exit status.
int RunReplay(RunOptions &options, std::ostream &out, std::ostream &err);

// "flowdeck follow": returns the exit status.
int RunFollow(RunOptions &options, std::ostream &out, std::ostream &err);

// What replay (live = false) and follow (live = true) do once their logs are open, for lines
// from any source: streams them through both plug-ins, then prints the summary and writes the
// report; `syslog`, the source's listener if it has one, is bounded and counted. Returns the
// exit status.
int RunLines(RunOptions &options, LineSource &source, LineStats &stats, bool live,
             std::ostream &out, std::ostream &err, SyslogSource *syslog = nullptr);

// The real client behind the configuration's TrustedProxies.
RealClient TrustedProxies(const HostConfig &config);

}  // namespace host
