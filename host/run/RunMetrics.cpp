#include "run/RunMetrics.h"

#include <ctime>
#include <iomanip>
#include <sstream>
#include <string_view>
#include <vector>

#include "base/RunFiles.h"

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

static_assert(std::string_view(RunMetrics::kFileName) == RunFiles::kMetrics,
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
  WriteFileAtomically(path_, text, "the metrics");
  // The operator's copy is for node_exporter, which reads it as a user of its own; the figures
  // are counts, nothing of a visitor.
  if (!extraPath_.empty()) WriteFileAtomically(extraPath_, text, "the metrics", 0644);
}

}  // namespace host
