#include "cli/StatusCommand.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>

#include "OwnFiles.h"
#include "base/RunFiles.h"
#include "base/Say.h"
#include "base/TimeStamp.h"
#include "run/RunMetrics.h"
#include "run/ShieldSteering.h"

namespace host {

namespace {

double Seconds(const std::string &text) {
  return text.empty() ? 0 : std::strtod(text.c_str(), nullptr);
}

// "Cycles of each plug-in: KvVantrel" for the help text and {plugin="KvVantrel"}.
std::string Described(std::string help, const std::string &labels) {
  if (!help.empty() && help.back() == '.') help.pop_back();
  if (labels.empty()) return help;
  std::string values;
  for (size_t quote = labels.find('"'); quote != std::string::npos;) {
    const size_t end = labels.find('"', quote + 1);
    if (end == std::string::npos) break;
    values += (values.empty() ? "" : ", ") + labels.substr(quote + 1, end - quote - 1);
    quote = labels.find('"', end + 1);
  }
  return help + ": " + values;
}

// The largest metrics file read: flowdeck's own is a few kilobytes.
constexpr size_t kLargestMetrics = 4u << 20;

// One figure as `flowdeck status` prints it.
struct StatusRow {
  std::string what, value, unit;
};

// The unit a metric counts in, from its name (Prometheus names end in their base unit).
std::string UnitOf(std::string_view name) {
  if (name.ends_with("_seconds") || name.ends_with("_seconds_total")) return "seconds";
  if (name.ends_with("_bytes") || name.ends_with("_bytes_total")) return "bytes";
  if (name.starts_with("flowdeck_line") || name.find("_lines") != std::string_view::npos)
    return "lines";
  return "";
}

// A value for a person: seconds to the millisecond, counts whole.
std::string ValueText(const std::string &value, const std::string &unit) {
  char *end = nullptr;
  const double number = std::strtod(value.c_str(), &end);
  if (end == value.c_str() || *end != '\0' || !std::isfinite(number)) return value;
  char text[64];
  if (unit == "seconds") {
    std::snprintf(text, sizeof text, "%.3f", number);
  } else if (number == std::floor(number) && std::fabs(number) < 1e15) {
    std::snprintf(text, sizeof text, "%.0f", number);
  } else {
    std::snprintf(text, sizeof text, "%g", number);
  }
  return text;
}

// Why `dir` holds no figures to read, in the system's words where it has them.
std::string MissingFigures(const std::string &dir, int errnum) {
  struct stat info {};
  if (stat(dir.c_str(), &info) != 0) return dir + ": " + std::strerror(errno);
  if (!S_ISDIR(info.st_mode)) return dir + ": not a run directory: " + std::strerror(ENOTDIR);
  const std::string path = dir + "/" + RunMetrics::kFileName;
  if (errnum == EACCES) {
    return path + ": " + std::strerror(errnum) +
           " (run it as the user the run wrote its files as, or with sudo)";
  }
  if (errnum != ENOENT) return path + ": " + common::OpenFailure(errnum);
  for (const std::string &name : RunFiles::WrittenNames()) {
    if (lstat((dir + "/" + name).c_str(), &info) == 0) {
      return dir + ": no figures yet (a follow writes " + RunMetrics::kFileName +
             " after every cycle, a replay at its end)";
    }
  }
  return dir + ": not a run directory (" + RunMetrics::kFileName +
         " is written in the --out directory of a run)";
}

std::vector<StatusRow> StatusRows(const std::string &text, std::string &written) {
  std::map<std::string, std::string> help;
  std::vector<StatusRow> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("# HELP ")) {
      const size_t space = line.find(' ', 7);
      if (space == std::string::npos) continue;
      const std::string words = line.substr(space + 1);
      if (!words.empty()) help[line.substr(7, space - 7)] = words;
      continue;
    }
    const size_t space = line.rfind(' ');
    if (line.empty() || line[0] == '#' || space == std::string::npos) continue;
    const std::string sample = line.substr(0, space), value = line.substr(space + 1);
    const std::string name = sample.substr(0, sample.find('{'));
    if (name == "flowdeck_metrics_time_seconds") {
      written = value;
      continue;
    }
    const std::string unit = UnitOf(name);
    const std::string what =
        Described(help.contains(name) ? help[name] : name, sample.substr(name.size()));
    rows.push_back(StatusRow{what, ValueText(value, unit), unit});
  }
  return rows;
}

// The rows in two aligned columns: what each figure is, then its value (right-aligned) and unit.
void PrintRows(std::ostream &out, const std::vector<StatusRow> &rows) {
  size_t whatWidth = 0, valueWidth = 0;
  for (const StatusRow &row : rows) {
    whatWidth = std::max(whatWidth, row.what.size());
    valueWidth = std::max(valueWidth, row.value.size());
  }
  for (const StatusRow &row : rows) {
    out << std::left << std::setw(static_cast<int>(whatWidth)) << row.what << "  " << std::right
        << std::setw(static_cast<int>(valueWidth)) << row.value;
    if (!row.unit.empty()) out << " " << row.unit;
    out << "\n";
  }
}

}  // namespace

int RunStatus(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  if (args.size() != 1 || args[0] == "--help" || args[0] == "-h") {
    (args.size() == 1 ? out : err) << "usage: flowdeck status DIR\n\n"
                                      "Prints the figures of the run whose --out is DIR.\n";
    return args.size() == 1 ? 0 : 2;
  }
  const std::string &dir = args[0];
  const std::optional<std::string> text =
      common::ReadRegularFile(dir + "/" + RunMetrics::kFileName, kLargestMetrics);
  if (!text) {
    const int errnum = errno;
    Say(err, Level::kFailure, MissingFigures(dir, errnum));
    return 1;
  }
  std::string written;
  const std::vector<StatusRow> rows = StatusRows(*text, written);
  if (rows.empty()) {
    Say(err, Level::kFailure,
        dir + "/" + RunMetrics::kFileName +
            ": no figures in it (a file a run was writing, or not one of flowdeck's)");
    return 1;
  }
  PrintRows(out, rows);
  if (!written.empty()) {
    const int64_t at = std::llround(Seconds(written));
    const int64_t age = static_cast<int64_t>(std::time(nullptr)) - at;
    out << "written " << FormatTimeStamp(at) << ", " << age << (age == 1 ? " second" : " seconds")
        << " ago\n";
  }
  // Then the shields in force, as "flowdeck shields" lists them: the first twenty.
  SteerOrder order;
  order.first = 20;
  try {
    const ControlReply shields = SteerRun(dir, order);
    out << "\nshields in force:\n" << shields.out;
  } catch (const std::exception &error) {
    Say(err, Level::kWarning,
        std::string("the shields in force cannot be listed: ") + error.what());
  }
  return 0;
}

}  // namespace host
