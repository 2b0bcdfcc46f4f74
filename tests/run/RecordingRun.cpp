#include "RecordingRun.h"

#include <cmath>
#include <sstream>

#include "support/TempDir.h"

namespace testing_support {

host::SessionOptions RecordingOptions(const std::string &dir) {
  host::SessionOptions options;
  options.shieldPlugin = std::string(FLOWDECK_RECORDING_PLUGIN_DIR) + "/RecordingShield.so";
  options.monitorPlugin = std::string(FLOWDECK_RECORDING_PLUGIN_DIR) + "/RecordingMonitor.so";
  options.outDir = dir;
  options.quiet = true;
  options.shieldPort = 0;
  return options;
}

std::vector<RecordedCall> RecordedCalls(const std::string &dir, const std::string &role,
                                        double start) {
  std::vector<RecordedCall> calls;
  std::istringstream lines(ReadFile(dir + "/calls.txt"));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string who, action, address;
    double clock = 0;
    words >> who >> action >> clock >> address;
    if (who != role) continue;
    const int seconds = static_cast<int>(std::lround((clock - start) * 86400.0));
    calls.push_back({action, seconds, address});
  }
  return calls;
}

void PrintTo(const RecordedCall &call, std::ostream *out) {
  *out << call.action << " at " << call.seconds << " s " << call.address;
}

std::string KeyedShieldTarget(const std::string &dir, const std::string &query) {
  // The settings text is positional: Server, FlowdeckURL, FlowdeckFilterURI, AddShieldURL, ...
  std::vector<std::string> fields;
  std::istringstream text(ReadFile(dir + "/shield-config.txt"));
  for (std::string field; std::getline(text, field, ';');) fields.push_back(field);
  if (fields.size() < 4) return "";
  return fields[1] + fields[2] + "?" + fields[3] + "&" + query;
}

host::RunTime ScriptedSource::At(int seconds) {
  return {kStart + seconds / 86400.0, kStartMilliseconds + int64_t{seconds} * 1000};
}

void ScriptedSource::Request(int seconds, const std::string &client, const std::string &target) {
  lines_.push_back({seconds, host::ParseOutcome::kRequest, client, target, false});
  end_ = seconds;
}

void ScriptedSource::NoRequest(int seconds) {
  lines_.push_back({seconds, host::ParseOutcome::kNoRequest, "198.51.100.99", "", false});
  end_ = seconds;
}

void ScriptedSource::ShieldRequest(int seconds, const std::string &client,
                                   const std::string &address) {
  lines_.push_back({seconds, host::ParseOutcome::kRequest, client,
                    "B=" + address + "&D=shop.example&E=%2Flogin&F=%2Fsorry.htm", true});
  end_ = seconds;
}

bool ScriptedSource::Next(host::SourceLine &line) {
  if (next_ >= lines_.size()) return false;
  const Line &next = lines_[next_++];
  target_ = next.keyed ? KeyedShieldTarget(dir_, next.target) : next.target;
  record_ = host::LogRecord{};
  record_.client = next.client;
  record_.time = {2026, 12, 7, 12, next.seconds / 60, next.seconds % 60, 0, 0};
  if (next.outcome == host::ParseOutcome::kRequest) {
    record_.method = "GET";
    record_.target = target_;
    record_.protocol = "HTTP/1.1";
    record_.status = "200";
    record_.userAgent = "Mozilla/5.0";
  }
  line.outcome = next.outcome;
  line.record = &record_;
  line.time = At(next.seconds);
  line.serverName = {};
  return true;
}

}  // namespace testing_support
