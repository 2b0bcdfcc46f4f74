#include "cli/CommandLine.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include <filesystem>

#include "base/DidYouMean.h"
#include "cli/InstallLayout.h"
#include "input/SyslogReceiver.h"

namespace host {

namespace fs = std::filesystem;

namespace {

// The format an operator gave (the option wins over the configuration's LogFormat), compiled;
// a string that cannot be compiled is a usage error pointing at its column.
LogFormat CompileFormat(const std::string &option, const std::string &optionText,
                        const HostConfig &config, const std::string &configPath) {
  const bool fromOption = !option.empty();
  const std::string &text = fromOption ? optionText : config.Get("LogFormat");
  if (text.empty()) return LogFormat();
  try {
    return LogFormat::Compile(text);
  } catch (const FormatError &error) {
    const std::string where = fromOption ? option : configPath + ": LogFormat";
    throw UsageError(where + ": " + LogFormat::Describe(text, error));
  }
}

// A plug-in path: a directory holding both plug-ins, or one plug-in file.
void PlacePluginPath(const std::string &path, SessionOptions &session) {
  if (fs::is_directory(path)) {
    session.shieldPlugin = (fs::path(path) / "KvVantrel.so").string();
    session.monitorPlugin = (fs::path(path) / "KvCorvane.so").string();
  } else if (fs::path(path).filename().string().starts_with("KvVantrel")) {
    session.shieldPlugin = path;
  } else if (fs::path(path).filename().string().starts_with("KvCorvane")) {
    session.monitorPlugin = path;
  } else {
    throw UsageError("--plugin: '" + path +
                     "' is neither a directory nor KvVantrel.so or KvCorvane.so");
  }
}

void CheckReadable(const std::string &path, const std::string &what) {
  if (path == "-") return;
  if (access(path.c_str(), R_OK) != 0) {
    throw UsageError(path + ": cannot read the " + what + ": " + std::strerror(errno));
  }
  if (fs::is_directory(path)) throw UsageError(path + ": cannot read: Is a directory");
}

// The part of a log's file name that the pattern's '*' stands for, or empty when the name does
// not fit the pattern: "shop.example" for "/var/log/nginx/shop.example.access.log" and
// "*.access.log".
std::string NameFromPattern(const std::string &path, const std::string &pattern) {
  if (pattern.empty()) return "";
  const std::string name = fs::path(path).filename().string();
  const size_t star = pattern.find('*');
  const std::string_view before(pattern.data(), star), after(pattern.data() + star + 1);
  if (name.size() <= before.size() + after.size() || !name.starts_with(before) ||
      !name.ends_with(after)) {
    return "";
  }
  return name.substr(before.size(), name.size() - before.size() - after.size());
}

// A cycle period: whole seconds from 1 to a day.
int Seconds(const std::string &option, const std::string &text) {
  int seconds = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size() || seconds < 1 || seconds > 86400) {
    throw UsageError(option + ": expected a whole number of seconds from 1 to 86400, got '" + text +
                     "'");
  }
  return seconds;
}

// The options of both commands, then those of replay alone and of follow alone.
const std::vector<std::string> kSharedOptions = {"--help",
                                                 "-h",
                                                 "--config",
                                                 "--tripwires",
                                                 "--out",
                                                 "--plugin",
                                                 "--log-format",
                                                 "--format",
                                                 "--key",
                                                 "--server-name",
                                                 "--server-name-pattern",
                                                 "--document-root",
                                                 "--cycle",
                                                 "--shield-cycle",
                                                 "--monitor-cycle",
                                                 "--metrics",
                                                 "--report",
                                                 "--quiet",
                                                 "-q"};
const std::vector<std::string> kReplayOptions = {"--apply"};
const std::vector<std::string> kFollowOptions = {"--listen", "--server-name-from", "--from-start"};

// An option this command does not know: named, with the one meant when it is close, or the
// command it belongs to.
UsageError UnknownOption(const std::string &arg, bool follow) {
  const std::vector<std::string> &own = follow ? kFollowOptions : kReplayOptions;
  const std::vector<std::string> &other = follow ? kReplayOptions : kFollowOptions;
  if (std::find(other.begin(), other.end(), arg) != other.end()) {
    return UsageError(arg + " is an option of 'flowdeck " + (follow ? "replay" : "follow") +
                      "' only");
  }
  std::vector<std::string> known = kSharedOptions;
  known.insert(known.end(), own.begin(), own.end());
  const std::string name = arg.substr(0, arg.find('='));
  if (name.size() < arg.size() && std::find(known.begin(), known.end(), name) != known.end()) {
    return UsageError("unknown option " + arg + "; give the value as a word of its own: " + name +
                      " " + arg.substr(name.size() + 1));
  }
  return UsageError("unknown option " + arg + DidYouMean(arg, known));
}

}  // namespace

RunOptions ParseRunOptions(const std::vector<std::string> &args, bool follow) {
  RunOptions options;
  const InstallLayout layout = InstallLayout::ForThisProgram();
  options.session.shieldPlugin = layout.pluginDir + "/KvVantrel.so";
  options.session.monitorPlugin = layout.pluginDir + "/KvCorvane.so";
  options.session.tripwires = layout.tripwires;
  options.shippedRanges = layout.verifiedBotRanges;
  std::string &configPath = options.configPath;
  configPath = layout.config;
  std::string serverName, serverNamePattern;
  std::string formatOption, formatText;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    auto value = [&]() -> const std::string & {
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--config") {
      configPath = value();
    } else if (arg == "--tripwires") {
      options.session.tripwires = value();
      CheckReadable(options.session.tripwires, "definitions file");
    } else if (arg == "--out") {
      options.session.outDir = value();
    } else if (arg == "--plugin") {
      PlacePluginPath(value(), options.session);
    } else if (arg == "--log-format" || arg == "--format") {
      formatOption = arg;
      formatText = value();
    } else if (arg == "--key") {
      const std::string &key = value();
      if (key == "address")
        options.session.fields.key = VisitorKey::kAddress;
      else if (key == "address+agent")
        options.session.fields.key = VisitorKey::kAddressAndAgent;
      else
        throw UsageError("--key: expected address or address+agent, got '" + key + "'");
    } else if (arg == "--server-name") {
      serverName = value();
      if (options.session.fields.serverName == kDefaultServerName) {
        options.session.fields.serverName = serverName;  // also for the logs before it
      }
    } else if (arg == "--server-name-pattern") {
      serverNamePattern = value();
      if (std::count(serverNamePattern.begin(), serverNamePattern.end(), '*') != 1) {
        throw UsageError("--server-name-pattern: expected a file name with one '*', got '" +
                         serverNamePattern + "'");
      }
    } else if (arg == "--document-root") {
      options.session.fields.documentRoot = value();
    } else if (arg == "--cycle") {
      options.cadence.shieldSeconds = options.cadence.monitorSeconds = Seconds(arg, value());
    } else if (arg == "--shield-cycle") {
      options.cadence.shieldSeconds = Seconds(arg, value());
    } else if (arg == "--monitor-cycle") {
      options.cadence.monitorSeconds = Seconds(arg, value());
    } else if (arg == "--metrics") {
      options.metricsPath = value();
    } else if (arg == "--report") {
      options.reportPath = value();
    } else if (arg == "--quiet" || arg == "-q") {
      options.session.quiet = true;
    } else if (!follow && arg == "--apply") {
      options.session.act = true;
    } else if (follow && arg == "--listen") {
      options.listen.push_back(value());
      try {
        SyslogReceiver::Endpoint::Parse(options.listen.back());
      } catch (const std::invalid_argument &error) {
        throw UsageError("--listen: " + std::string(error.what()));
      }
    } else if (follow && arg == "--server-name-from") {
      if (value() != "tag") throw UsageError("--server-name-from: expected tag");
      options.serverNameFromTag = true;
    } else if (follow && arg == "--from-start") {
      options.fromStart = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UnknownOption(arg, follow);
    } else {
      options.logs.push_back(LogInput{arg, serverName});
    }
  }
  for (LogInput &log : options.logs) {
    if (std::string name = NameFromPattern(log.path, serverNamePattern); !name.empty()) {
      log.serverName = name;
    }
  }
  if (follow) options.session.act = options.session.restore = options.session.control = true;
  if (options.help) return options;
  if (options.logs.empty() && options.listen.empty()) {
    throw UsageError(follow ? "no log given and nothing to listen on" : "no log given");
  }
  // A log to follow may come later; one to replay must be there.
  for (const LogInput &log : options.logs) {
    if (!follow) CheckReadable(log.path, "log");
    if (fs::is_directory(log.path)) throw UsageError(log.path + ": cannot read: Is a directory");
  }
  if (options.session.tripwires.empty()) {
    throw UsageError("no definitions file: give one with --tripwires FILE");
  }
  if (!configPath.empty()) CheckReadable(configPath, "configuration file");
  try {
    options.config = LoadConfig(options);
  } catch (const Error &error) {
    throw UsageError(error);
  }
  options.format = CompileFormat(formatOption, formatText, options.config, configPath);
  return options;
}

HostConfig LoadConfig(const RunOptions &options) {
  HostConfig config;
  if (!options.configPath.empty()) config.Load(options.configPath);
  if (config.Get("VerifiedBotRanges").empty() && !options.shippedRanges.empty())
    config.Set("VerifiedBotRanges", options.shippedRanges, "the ranges flowdeck ships");
  return config;
}

std::string MainHelp() {
  return "usage: flowdeck COMMAND [options]\n"
         "\n"
         "Runs the shield (KvVantrel) and visitor-monitor (KvCorvane) plug-ins on web-server\n"
         "access logs.\n"
         "\n"
         "commands:\n"
         "  replay LOG...   stream logs through both plug-ins in time order, then summarise\n"
         "  follow LOG...   do the same live on growing logs, until SIGINT or SIGTERM\n"
         "  report DIR      write an HTML page about what a run left in DIR\n"
         "  status DIR      print the figures of the run whose --out is DIR\n"
         "  shields DIR     list the shields in force (--json for scripts)\n"
         "  lift DIR ADDRESS|CIDR|--all       lift shields now\n"
         "  shield DIR ADDRESS                raise a shield by hand\n"
         "  allow DIR ADDRESS|CIDR|--list     keep addresses out of the shields' reach\n"
         "                  (answered by the follow running on DIR, else kept for its next start)\n"
         "\n"
         "'flowdeck COMMAND --help' describes each command; 'flowdeck --version' (-V) says\n"
         "which flowdeck this is. Exit status: 0 success, 1 a failure\n"
         "while running, 2 bad usage or a file that cannot be read, 3 (shields, lift, allow) no\n"
         "such shield or entry.\n";
}

namespace {

const char *kCommonOptions =
    "  --config FILE         settings, 'key = value' lines (see examples/flowdeck.conf;\n"
    "                        installed: default /etc/flowdeck/flowdeck.conf)\n"
    "  --tripwires FILE      tripwire definitions (default examples/tripwires.cfg;\n"
    "                        installed: /etc/flowdeck/tripwires.cfg)\n"
    "  --out DIR             where the run writes everything (default ./flowdeck-out); the\n"
    "                        files of a previous run there are replaced (follow: kept)\n"
    "  --plugin PATH         a directory holding KvVantrel.so and KvCorvane.so, or one of\n"
    "                        them (default: ../lib/flowdeck beside the program, or\n"
    "                        build/plugins)\n"
    "  --log-format STRING   how the log's lines are written (default auto: Common,\n"
    "                        Combined or vhost_combined): a preset (common, combined,\n"
    "                        vhost_combined, caddy, traefik), an nginx log_format string\n"
    "                        ('$remote_addr - $remote_user [$time_local] \"$request\" ...'),\n"
    "                        an Apache LogFormat string ('%h %l %u %t \"%r\" %>s %b'), or\n"
    "                        a JSON template ('{\"addr\":\"$remote_addr\",...}'); wins over\n"
    "                        LogFormat in the configuration; --format is the same option\n"
    "  --key KIND            a visitor is an 'address' (default) or 'address+agent'\n"
    "  --server-name NAME    the host of lines without a vhost, for the logs after it (one\n"
    "                        given anywhere names every log; default localhost)\n"
    "  --server-name-pattern PATTERN\n"
    "                        a log whose file name fits PATTERN, which holds one '*', is\n"
    "                        for the host '*' stands for ('*.access.log')\n"
    "  --document-root DIR   joined with each path for the physical path (/var/www/html)\n"
    "  --shield-cycle SECONDS\n"
    "                        the shield plug-in's cycle, which decides how soon a steady\n"
    "                        visitor is shielded (default 10)\n"
    "  --monitor-cycle SECONDS\n"
    "                        the monitor's cycle, which rates visitors and rewrites its\n"
    "                        snapshot (default 60)\n"
    "  --cycle SECONDS       both cycles at once\n"
    "  --report FILE         an HTML page of the run (see 'flowdeck report'), written at the\n"
    "                        end; follow rewrites it after every monitor cycle\n"
    "  --metrics FILE        the run's figures in Prometheus text, for node_exporter's\n"
    "                        textfile collector (follow: after every cycle; replay: at the\n"
    "                        end); the run directory holds a copy for 'flowdeck status'\n"
    "  --quiet, -q           no progress and no line per shield\n"
    "  --help, -h            this text\n";

}  // namespace

std::string ReplayHelp() {
  return std::string(
             "usage: flowdeck replay [options] LOG...\n"
             "\n"
             "Streams every request of the logs (as --log-format says; .gz read\n"
             "as it is; '-' is standard input) to both plug-ins. Several logs are merged in time\n"
             "order. The plug-ins' clock follows the log: each plug-in cycles every so many\n"
             "seconds of log time (--shield-cycle, --monitor-cycle), both once more at the end,\n"
             "as following the log live would have. Shield requests are received on port 80 of "
             "the\n"
             "configured Server; a shielded address is locked in the monitor for ShieldSeconds.\n"
             "A replay of past traffic acts on nobody now unless --apply is given.\n"
             "\n"
             "options:\n") +
         kCommonOptions +
         "  --apply               carry the shields out with the actions of the configuration\n"
         "                        (nginx or Apache map, nftables, command), to try them out\n";
}

std::string FollowHelp() {
  return std::string(
             "usage: flowdeck follow [options] [LOG...]\n"
             "\n"
             "Follows growing logs as 'tail -F' does (rotation included; a log that is not there\n"
             "yet is waited for), and the access lines web servers send by syslog to --listen,\n"
             "and streams each new request to both plug-ins, in the order the lines arrive, on\n"
             "the system clock, cycling each plug-in on its own period.\n"
             "SIGINT or SIGTERM ends it cleanly after a last cycle. Shields are carried out with\n"
             "the configured actions; a follow started again on the same --out keeps its files\n"
             "and the shields still in force.\n"
             "\n"
             "options:\n") +
         kCommonOptions +
         "  --from-start          read the logs from their start, not their end\n"
         "  --listen udp://ADDR:PORT, --listen tcp://ADDR:PORT\n"
         "                        receive access lines by syslog (RFC 3164 or 5424; over TCP\n"
         "                        newline- or octet-counted), as nginx's 'access_log\n"
         "                        syslog:server=ADDR:PORT' sends them; repeatable\n"
         "  --server-name-from tag\n"
         "                        a syslog line's tag names its server (when it has no vhost)\n";
}

}  // namespace host
