#include "FollowProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/TempDir.h"

namespace shield_testing {

using testing_support::ReadFile;

bool WaitUntil(const std::function<bool()> &condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string LogLine(const std::string &address, const std::string &target) {
  char time[64];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(time, sizeof time, "[%d/%b/%Y:%H:%M:%S %z]", &local);
  return address + " - - " + time + " \"GET " + target + " HTTP/1.1\" 200 5 \"-\" \"agent\"\n";
}

void AppendTo(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::app | std::ios::binary) << text;
}

std::vector<std::string> LinesOf(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

namespace {

std::string PercentEncoded(const std::string &value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      out.push_back(c);
    } else {
      out.append(1, '%').append(1, kHex[byte >> 4]).append(1, kHex[byte & 15]);
    }
  }
  return out;
}

// The value of `name="..."` in the element that starts at `at`.
std::string Attribute(const std::string &text, size_t at, const std::string &name) {
  const size_t end = text.find('>', at);
  const size_t start = text.find(" " + name + "=\"", at);
  if (start == std::string::npos || start > end) return "";
  const size_t value = start + name.size() + 3;
  return text.substr(value, text.find('"', value) - value);
}

}  // namespace

std::string ShieldRequestTarget(const std::string &address, const std::string &host,
                                const std::string &resource, const std::string &deflect) {
  return "/flowdeck/shield?A=add&B=" + PercentEncoded(address) + "&C=1&D=" + PercentEncoded(host) +
         "&E=" + PercentEncoded(resource) + "&F=" + PercentEncoded(deflect) + "&G=1&H=0&I=1";
}

bool SendShieldRequest(const std::string &target) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(80);
  inet_pton(AF_INET, kShieldServer, &address.sin_addr);
  const std::string request = "GET " + target + " HTTP/1.0\r\n\r\n";
  const bool sent =
      fd >= 0 && connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size());
  if (fd >= 0) close(fd);
  return sent;
}

std::string FlowdeckBinary() {
  return FLOWDECK_BIN;
}

FollowProcess::FollowProcess(std::string dir, std::string settings, std::vector<std::string> logs,
                             std::vector<std::string> options)
    : dir_(std::move(dir)), logs_(std::move(logs)), options_(std::move(options)) {
  testing_support::WriteFile(dir_ + "/flowdeck.conf",
                             std::string("Server = ") + kShieldServer + "\n" + settings);
}

FollowProcess::~FollowProcess() = default;

std::string FollowProcess::Keyed(const std::string &target) const {
  constexpr std::string_view kLabel = "AddShieldURL=";
  std::string trace;
  size_t label = std::string::npos;
  // The plug-in traces its settings when the run has configured it, just after the start.
  WaitUntil(
      [&] {
        trace = testing_support::ReadFile(OutFile("KvVantrelTrace.LOG"));
        label = trace.rfind(kLabel);
        return label != std::string::npos;
      },
      5);
  const size_t mark = target.find('?');
  if (label == std::string::npos || mark == std::string::npos) return "";
  const size_t start = label + kLabel.size();
  const std::string addShieldURL = trace.substr(start, trace.find_first_of("\r\n", start) - start);
  const size_t end = target.find('&', mark);
  return target.substr(0, mark + 1) + addShieldURL +
         (end == std::string::npos ? "" : target.substr(end));
}

bool FollowProcess::Start() {
  std::filesystem::remove(dir_ + "/metrics.prom");  // a run before left its own
  std::vector<std::string> argv = {FLOWDECK_BIN,  "follow",
                                   "--config",    dir_ + "/flowdeck.conf",
                                   "--out",       dir_ + "/out",
                                   "--plugin",    FLOWDECK_PLUGIN_DIR,
                                   "--tripwires", FLOWDECK_EXAMPLES "/tripwires.cfg",
                                   "--metrics",   dir_ + "/metrics.prom"};
  argv.insert(argv.end(), options_.begin(), options_.end());
  argv.insert(argv.end(), logs_.begin(), logs_.end());
  const size_t said = Output().size();
  process_ = std::make_unique<testing_support::ChildProcess>(argv, dir_ + "/output");
  if (!process_->Started()) {
    AppendTo(dir_ + "/output", process_->Problem() + "\n");
    return false;
  }
  // It says what it watches once its logs are open.
  return WaitUntil(
             [&] {
               return Output().find("flowdeck follow: watching ", said) != std::string::npos ||
                      !process_->Running();
             },
             30) &&
         process_->Running();
}

bool FollowProcess::Stop() {
  if (!process_) return false;
  const int status = process_->Stop(SIGTERM, 30);
  process_.reset();
  return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool FollowProcess::Reload(const std::string &settings) {
  testing_support::WriteFile(dir_ + "/flowdeck.conf",
                             std::string("Server = ") + kShieldServer + "\n" + settings);
  return process_ && process_->Running() && kill(process_->Pid(), SIGHUP) == 0;
}

int FollowProcess::Steer(const std::vector<std::string> &words, std::string &output,
                         double *seconds) const {
  std::vector<std::string> argv = {FLOWDECK_BIN};
  if (!words.empty()) argv.push_back(words[0]);
  argv.push_back(RunDirectory());
  if (!words.empty()) argv.insert(argv.end(), words.begin() + 1, words.end());
  const auto start = std::chrono::steady_clock::now();
  const int status = testing_support::RunProgram(argv, output, 30);
  if (seconds != nullptr)
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return status;
}

std::string FollowProcess::Output() const {
  return ReadFile(dir_ + "/output");
}

std::string FollowProcess::Events() const {
  return ReadFile(OutFile("flowdeck-shields.log"));
}

std::string FollowProcess::Locked(const std::string &address) const {
  const std::string snapshot = ReadFile(OutFile("KvCorvane.xml"));
  const size_t user = snapshot.find(" REMADR=\"" + address + "\"");
  if (user == std::string::npos) return "";
  return Attribute(snapshot, snapshot.rfind('<', user), "LCKD");
}

double FollowProcess::Metric(const std::string &name) const {
  const std::string metrics = ReadFile(dir_ + "/metrics.prom");
  const size_t at = metrics.find("\n" + name + " ");
  if (at == std::string::npos) return -1;
  return std::atof(metrics.c_str() + at + name.size() + 2);
}

}  // namespace shield_testing
