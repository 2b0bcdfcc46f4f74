// flowdeck: runs the shield and visitor-monitor plug-ins on web-server access logs.
#include <sys/stat.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "base/DidYouMean.h"
#include "base/Say.h"
#include "cli/CommandLine.h"
#include "cli/ReportCommand.h"
#include "cli/RunCommand.h"
#include "cli/StatusCommand.h"
#include "cli/SteerCommand.h"

namespace {

// Every command, as main tells them apart.
const std::vector<std::string> kCommands = {"replay",  "follow", "report", "status",
                                            "shields", "lift",   "shield", "allow"};

int Run(const std::vector<std::string> &args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << host::MainHelp();
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    std::cout << "flowdeck " << FLOWDECK_VERSION << "\n";
    return 0;
  }
  const std::string &command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (std::find(kCommands.begin(), kCommands.end(), command) == kCommands.end()) {
    std::vector<std::string> known = kCommands;
    known.push_back("--version");
    host::Say(std::cerr, host::Level::kFailure,
              "unknown command '" + command + "'" + host::DidYouMean(command, known));
    std::cerr << host::MainHelp();
    return 2;
  }
  // From here on every line flowdeck says names the command it runs.
  host::SayAs(command);
  if (command == "report") return host::RunReportCommand(rest, std::cout, std::cerr);
  if (command == "status") return host::RunStatus(rest, std::cout, std::cerr);
  if (host::IsSteerCommand(command)) return host::RunSteer(command, rest, std::cout, std::cerr);
  const bool follow = command == "follow";
  try {
    host::RunOptions options = host::ParseRunOptions(rest, follow);
    if (options.help) {
      std::cout << (follow ? host::FollowHelp() : host::ReplayHelp());
      return 0;
    }
    return follow ? host::RunFollow(options, std::cout, std::cerr)
                  : host::RunReplay(options, std::cout, std::cerr);
  } catch (const host::UsageError &error) {
    host::Say(std::cerr, host::Level::kFailure, error.what());
    std::cerr << "Try 'flowdeck " << command << " --help'.\n";
    return 2;
  } catch (const std::exception &error) {
    host::Say(std::cerr, host::Level::kFailure, error.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char **argv) {
  // What flowdeck and its plug-ins write holds every visitor's address, URLs and user agent:
  // files 0640 and directories 0750, whatever umask it was started with. The few files others
  // must read (the web server's maps, node_exporter's copy of the metrics) are given their mode
  // explicitly.
  umask(027);
  std::ios::sync_with_stdio(false);
  return Run(std::vector<std::string>(argv + 1, argv + argc));
}
