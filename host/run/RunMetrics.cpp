#include "RunMetrics.h"

#include <cmath>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <map>
#include <ostream>
#include <sstream>
#include <vector>

#include "RunFiles.h"

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
  p.Add("flowdeck_plugin_calls_failed_total", "counter",
        "Plug-in calls whose error log could not be written.", session.FailedCalls());
  p.Add("flowdeck_metrics_time_seconds", "gauge", "When these figures were written (Unix time).",
        static_cast<double>(std::time(nullptr)));
  return p.Text();
}

static_assert(std::string_view(RunMetrics::kFileName) == report::RunFiles::kMetrics,
              "the run directory's check must know the metrics file");

void RunMetrics::Write(Session &session, const LineStats &lines, const LineSource &source) const {
  const std::string text = Text(session, lines, source, syslog_);
  report::WriteFileAtomically(path_, text, "the metrics");
  // The operator's copy is for node_exporter, which reads it as a user of its own; the figures
  // are counts, nothing of a visitor.
  if (!extraPath_.empty()) report::WriteFileAtomically(extraPath_, text, "the metrics", 0644);
}

int RunStatus(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  if (args.size() != 1 || args[0] == "--help" || args[0] == "-h") {
    (args.size() == 1 ? out : err) << "usage: flowdeck status DIR\n\n"
                                      "Prints the figures of the run whose --out is DIR.\n";
    return args.size() == 1 ? 0 : 2;
  }
  std::ifstream in(args[0] + "/" + RunMetrics::kFileName);
  if (!in) {
    err << "flowdeck status: " << args[0] << ": no figures there (" << RunMetrics::kFileName
        << " is written by a run with this --out)\n";
    return 1;
  }
  std::map<std::string, std::string> help;
  std::string line, written;
  while (std::getline(in, line)) {
    if (line.starts_with("# HELP ")) {
      const size_t space = line.find(' ', 7);
      const std::string text = line.substr(space + 1);
      if (!text.empty()) help[line.substr(7, space - 7)] = text;
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.rfind(' ');
    const std::string sample = line.substr(0, space), value = line.substr(space + 1);
    const std::string name = sample.substr(0, sample.find('{'));
    if (name == "flowdeck_metrics_time_seconds") {
      written = value;
      continue;
    }
    out << std::left << std::setw(52) << Described(help[name], sample.substr(name.size())) << " "
        << value << "\n";
  }
  if (!written.empty()) {
    const auto age = static_cast<long long>(std::time(nullptr) - std::llround(Seconds(written)));
    out << "written " << age << " s ago\n";
  }
  return 0;
}

}  // namespace host
