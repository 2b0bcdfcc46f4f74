#include "run/RunMetrics.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <vector>

#include "OwnFiles.h"
#include "base/RunFiles.h"
#include "base/TimeStamp.h"
#include "run/ShieldSteering.h"

namespace host {

namespace {

// Prometheus text: each metric with its HELP and TYPE once, then its samples.
class PrometheusText {
 public:
  void Add(const char *name, const char *type, const char *help, double value,
           const std::string &labels = "") {
    if (name != last_) {
      text_ << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
      last_ = name;
    }
    text_ << name;
    if (!labels.empty()) text_ << "{" << labels << "}";
    text_ << " " << std::setprecision(15) << value << "\n";
  }
  std::string Text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::string last_;
};

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

// A label's value as the Prometheus text format writes it: backslash, double quote and line
// feed escaped. A log's path is the operator's, and may hold any of them.
std::string LabelValue(const std::string &value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (char c : value) {
    if (c == '\n') {
      escaped += "\\n";
      continue;
    }
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

}  // namespace

std::string RunMetrics::Text(Session &session, const LineStats &lines, const LineSource &source,
                             const SyslogSource *syslog) {
  PrometheusText p;
  p.Add("flowdeck_lines_read_total", "counter", "Log lines read.", lines.lines);
  p.Add("flowdeck_lines_total", "counter", "Log lines read, by what they held.", lines.requests,
        "kind=\"request\"");
  p.Add("flowdeck_lines_total", "counter", "", lines.withoutRequest, "kind=\"without_request\"");
  p.Add("flowdeck_lines_total", "counter", "", lines.malformed, "kind=\"malformed\"");
  for (size_t kind = 1; kind < kLineFaultKinds; ++kind) {
    p.Add("flowdeck_line_faults_total", "counter", "Log lines with a fault, by its kind.",
          lines.faults[kind],
          "fault=\"" + std::string(LineFaultLabel(static_cast<LineFault>(kind))) + "\"");
  }
  p.Add("flowdeck_requests_streamed_total", "counter", "Requests streamed to the plug-ins.",
        session.Requests());
  p.Add("flowdeck_requests_ignored_total", "counter",
        "Requests not streamed because their address is in IgnoreAddresses.", session.Ignored());
  p.Add("flowdeck_follow_lag_bytes", "gauge", "Bytes of the followed logs not read yet.",
        source.BytesBehind());
  const std::vector<LogStatus> logs = source.Logs();
  for (const LogStatus &log : logs) {
    p.Add("flowdeck_log_readable", "gauge",
          "Whether each followed log can be read now (1) or is missing or unreadable (0).",
          log.error == 0 ? 1 : 0, "log=\"" + LabelValue(log.path) + "\"");
  }
  for (const LogStatus &log : logs) {
    p.Add("flowdeck_log_lines_total", "counter", "Lines read from each followed log.", log.lines,
          "log=\"" + LabelValue(log.path) + "\"");
  }
  const MonitorFigures monitor = session.Monitor();
  p.Add("flowdeck_visitors", "gauge", "Visitors the monitor holds after its latest cycle.",
        monitor.visitors);
  for (int level = 0; level < 3; ++level) {
    p.Add("flowdeck_visitors_at_level", "gauge", "Visitors at each alert level in the snapshot.",
          monitor.levels[level], "level=\"" + std::to_string(level) + "\"");
  }
  p.Add("flowdeck_alerts_raised_total", "counter", "Alert lines the monitor appended.",
        monitor.alerts);
  p.Add("flowdeck_cycles_total", "counter", "Cycles of each plug-in.", session.ShieldCycles(),
        "plugin=\"KvVantrel\"");
  p.Add("flowdeck_cycles_total", "counter", "", monitor.cycles, "plugin=\"KvCorvane\"");
  p.Add("flowdeck_cycle_seconds_total", "counter", "Time the cycles of each plug-in took.",
        session.ShieldCycleSeconds(), "plugin=\"KvVantrel\"");
  p.Add("flowdeck_cycle_seconds_total", "counter", "", monitor.cycleSeconds,
        "plugin=\"KvCorvane\"");
  p.Add("flowdeck_last_cycle_seconds", "gauge", "Time the latest cycle of each plug-in took.",
        session.LastShieldCycleSeconds(), "plugin=\"KvVantrel\"");
  p.Add("flowdeck_last_cycle_seconds", "gauge", "", monitor.lastCycleSeconds,
        "plugin=\"KvCorvane\"");
  const ShieldTally &shields = session.Shields().Tally();
  p.Add("flowdeck_shields_total", "counter", "Shield requests, by what became of them.",
        shields.raised, "outcome=\"raised\"");
  p.Add("flowdeck_shields_total", "counter", "", shields.lifted, "outcome=\"lifted\"");
  p.Add("flowdeck_shields_total", "counter", "", shields.refused, "outcome=\"refused\"");
  p.Add("flowdeck_shields_total", "counter", "", shields.spared, "outcome=\"never_shield\"");
  p.Add("flowdeck_shields_active", "gauge", "Shields in force.", session.Shields().InForce());
  p.Add("flowdeck_reload_failures_total", "counter",
        "Map files their web server does not hold: a reload, or the test before it, failed.",
        static_cast<double>(session.Shields().ActionCounts().reloadFailures));
  const ShieldListener::Counts &port = session.Listener().Stats();
  p.Add("flowdeck_shield_requests_foreign_total", "counter",
        "Connections to the shield port from other machines, closed unread.", port.foreign);
  p.Add("flowdeck_shield_requests_forged_total", "counter",
        "Requests for the shield path without the shield route's key, not acted on.", port.forged,
        "route=\"shield_port\"");
  p.Add("flowdeck_shield_requests_forged_total", "counter", "", session.LoggedForgedRequests(),
        "route=\"web_server_log\"");
  p.Add("flowdeck_shield_connections_dropped_total", "counter",
        "Connections to the shield port closed before a whole line came, by cause.", port.slow,
        "cause=\"slow\"");
  p.Add("flowdeck_shield_connections_dropped_total", "counter", "", port.oversized,
        "cause=\"oversized\"");
  p.Add("flowdeck_shield_connections_dropped_total", "counter", "", port.crowded,
        "cause=\"crowded\"");
  p.Add("flowdeck_shield_accept_failures_total", "counter",
        "Times the shield port could not accept: no file descriptor was free.", port.descriptors);
  p.Add("flowdeck_shields_over_limit_total", "counter",
        "Shields refused (and counted as refused) while MaxShields were in force.",
        shields.overLimit);
  p.Add("flowdeck_shields_spared_total", "counter",
        "Shields filed but never acted on, by what spared them.", shields.spared,
        "by=\"never_shield\"");
  p.Add("flowdeck_shields_spared_total", "counter", "", shields.allowed, "by=\"allow_list\"");
  p.Add("flowdeck_shields_spared_total", "counter", "", shields.verified,
        "by=\"verified_crawler\"");
  p.Add("flowdeck_crawl_judgements_total", "counter",
        "Visitors the crawl test judged crawlers, by what became of the judgement.", shields.crawl,
        "outcome=\"shielded\"");
  p.Add("flowdeck_crawl_judgements_total", "counter", "", shields.crawlReported,
        "outcome=\"reported\"");
  p.Add("flowdeck_shields_false_crawler_total", "counter",
        "Shields of addresses whose user agent claims a crawler that did not verify.",
        shields.falseClaims);
  // Written once there is one, so that a run where every request could be judged has the
  // figures it always had.
  if (const uint64_t unjudged = session.PaceUnjudged(); unjudged > 0) {
    p.Add("flowdeck_pace_unjudged_total", "counter",
          "Requests of watched records the pace test could not judge: the hits their tripwire "
          "requires, or its deflect, cannot be worked out.",
          static_cast<double>(unjudged));
  }
  if (const std::optional<BotVerifier::Counts> verifier = session.Shields().VerifierCounts()) {
    const char *name = "flowdeck_crawler_verifications_total";
    p.Add(name, "counter", "Crawler verifications by DNS, by outcome.", verifier->verified,
          "outcome=\"verified\"");
    p.Add(name, "counter", "", verifier->failed - verifier->timeouts, "outcome=\"failed\"");
    p.Add(name, "counter", "", verifier->timeouts, "outcome=\"timeout\"");
    p.Add("flowdeck_crawler_verification_cache_hits_total", "counter",
          "Crawler verifications answered from the cache.", verifier->cacheHits);
    p.Add("flowdeck_crawler_verification_ranges_total", "counter",
          "Crawler verifications answered from VerifiedBotRanges.", verifier->inRanges);
    p.Add("flowdeck_crawler_verification_seconds_total", "counter",
          "Time the finished DNS verifications took.", verifier->secondsTotal);
  }
  p.Add("flowdeck_shields_repeat_total", "counter",
        "Shields raised for an address with offences within OffenceMemory.", shields.repeat);
  p.Add("flowdeck_shields_whole_address_total", "counter",
        "Shields raised for every request of their address.", shields.wholeAddress);
  p.Add("flowdeck_shields_by_hand_total", "counter", "Shields raised and lifted by hand.",
        shields.raisedByHand, "event=\"raise\"");
  p.Add("flowdeck_shields_by_hand_total", "counter", "", shields.liftedByHand, "event=\"lift\"");
  p.Add("flowdeck_shields_lifted_covered_total", "counter",
        "Shields lifted because NeverShield or the allow list came to cover them.",
        shields.liftedCovered);
  if (const ControlSocket *control = session.Control()) {
    // The operator's commands on the control socket; "refused" is a peer without rights,
    // closed before a byte of it was read.
    const ControlSocket::Counts &asked = control->Stats();
    const char *name = "flowdeck_control_requests_total";
    p.Add(name, "counter", "Commands on the control socket, by what became of them.",
          asked.answered, "outcome=\"answered\"");
    p.Add(name, "counter", "", asked.refused, "outcome=\"refused\"");
    p.Add(name, "counter", "", asked.unreadable, "outcome=\"unreadable\"");
    p.Add(name, "counter", "", asked.slow, "outcome=\"slow\"");
    p.Add(name, "counter", "", asked.oversized, "outcome=\"oversized\"");
    p.Add(name, "counter", "", asked.crowded, "outcome=\"crowded\"");
  }
  if (syslog != nullptr) {
    // What the syslog listener refused, by cause: "sender", a datagram or connection from outside
    // SyslogSenders, dropped unread (or a connection from an address a reload took off the list);
    // "connections", the connection idle the longest, closed for a new one at
    // SyslogMaxConnections; "idle", a connection closed after 5 minutes without a byte;
    // "descriptors", an accept that found no file descriptor left (a connection was closed to
    // make room, or the new one refused).
    const SyslogReceiver::Counts counts = syslog->Counts();
    const char *name = "flowdeck_syslog_refused_total";
    p.Add(name, "counter", "Syslog datagrams and connections refused or closed, by cause.",
          counts.refused.sender, "cause=\"sender\"");
    p.Add(name, "counter", "", counts.refused.connections, "cause=\"connections\"");
    p.Add(name, "counter", "", counts.refused.idle, "cause=\"idle\"");
    p.Add(name, "counter", "", counts.refused.descriptors, "cause=\"descriptors\"");
    p.Add("flowdeck_syslog_connections", "gauge", "Syslog TCP connections open.", counts.open);
  }
  p.Add("flowdeck_plugin_error_log_failures_total", "counter",
        "Plug-in calls that failed and could not write their error log.", session.FailedCalls());
  p.Add("flowdeck_metrics_time_seconds", "gauge", "When these figures were written (Unix time).",
        static_cast<double>(std::time(nullptr)));
  return p.Text();
}

static_assert(std::string_view(RunMetrics::kFileName) == host::RunFiles::kMetrics,
              "the run directory's check must know the metrics file");

std::string RunMetrics::PluginErrorText(const PluginErrorLogs &logs) {
  PrometheusText p;
  for (const PluginErrorLogs::Log &log : logs.Logs()) {
    p.Add("flowdeck_plugin_errors_total", "counter",
          "Errors each plug-in wrote to its error log this run, a line each.",
          static_cast<double>(log.lines), "plugin=\"" + log.plugin + "\"");
  }
  return p.Text();
}

void RunMetrics::Write(Session &session, const LineStats &lines, const LineSource &source) const {
  errorLogs_.Update();
  const std::string text = Text(session, lines, source, syslog_) + PluginErrorText(errorLogs_);
  host::WriteFileAtomically(path_, text, "the metrics");
  // The operator's copy is for node_exporter, which reads it as a user of its own; the figures
  // are counts, nothing of a visitor.
  if (!extraPath_.empty()) host::WriteFileAtomically(extraPath_, text, "the metrics", 0644);
}

namespace {

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
  for (const std::string &name : host::RunFiles::WrittenNames()) {
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
    err << "flowdeck status: " << MissingFigures(dir, errnum) << "\n";
    return 1;
  }
  std::string written;
  const std::vector<StatusRow> rows = StatusRows(*text, written);
  if (rows.empty()) {
    err << "flowdeck status: " << dir << "/" << RunMetrics::kFileName
        << ": no figures in it (a file a run was writing, or not one of flowdeck's)\n";
    return 1;
  }
  PrintRows(out, rows);
  if (!written.empty()) {
    const int64_t at = std::llround(Seconds(written));
    const int64_t age = static_cast<int64_t>(std::time(nullptr)) - at;
    out << "written " << host::FormatTimeStamp(at) << ", " << age
        << (age == 1 ? " second" : " seconds") << " ago\n";
  }
  // Then the shields in force, as "flowdeck shields" lists them: the first twenty.
  SteerOrder order;
  order.first = 20;
  try {
    const ControlReply shields = SteerRun(dir, order);
    out << "\nshields in force:\n" << shields.out;
  } catch (const std::exception &error) {
    err << "flowdeck status: the shields in force cannot be listed: " << error.what() << "\n";
  }
  return 0;
}

}  // namespace host
