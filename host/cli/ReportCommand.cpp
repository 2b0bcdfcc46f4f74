#include "cli/ReportCommand.h"

#include <ostream>

#include "base/Say.h"
#include "report/Report.h"

namespace host {

namespace {

constexpr const char *kDefaultName = "report.html";

struct Arguments {
  std::string directory, output;
  bool help = false;
};

// Empty when the arguments are good, else what is wrong with them.
std::string Parse(const std::vector<std::string> &args, Arguments &parsed) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
    } else if (arg == "--output" || arg == "-o") {
      if (i + 1 >= args.size()) return arg + " needs a value";
      parsed.output = args[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return "unknown option " + arg;
    } else if (!parsed.directory.empty()) {
      return "one directory only, got '" + parsed.directory + "' and '" + arg + "'";
    } else {
      parsed.directory = arg;
    }
  }
  if (parsed.directory.empty() && !parsed.help) return "no directory given";
  return "";
}

}  // namespace

std::string ReportHelp() {
  return "usage: flowdeck report [--output FILE] DIR\n"
         "\n"
         "Writes one self-contained HTML page about what a run left in DIR (the --out directory\n"
         "of replay or follow): the run's figures, every shield raised (KvVantrel.xml), the\n"
         "alerts over time (KvCorvaneAlerts.Out) and the visitors the monitor holds\n"
         "(KvCorvane.xml), sortable and searchable, each with its runs of requests. A missing\n"
         "file only leaves its section empty. The page needs no network.\n"
         "\n"
         "options:\n"
         "  --output FILE, -o FILE  where to write the page (default DIR/report.html); it is\n"
         "                          replaced in one step\n"
         "  --help, -h              this text\n";
}

int RunReportCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  Arguments arguments;
  const std::string problem = Parse(args, arguments);
  if (!problem.empty()) {
    Say(err, Level::kFailure, problem);
    err << "Try 'flowdeck report --help'.\n";
    return 2;
  }
  if (arguments.help) {
    out << ReportHelp();
    return 0;
  }
  if (arguments.output.empty()) arguments.output = arguments.directory + "/" + kDefaultName;
  try {
    report::WriteReport(arguments.directory, arguments.output);
  } catch (const report::DirectoryError &error) {
    Say(err, Level::kFailure, error.what());
    return 2;
  } catch (const std::exception &error) {
    Say(err, Level::kFailure, error.what());
    return 1;
  }
  out << "report written to " << arguments.output << "\n";
  return 0;
}

}  // namespace host
