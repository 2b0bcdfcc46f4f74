// flowdeck follow as a service runs it: several logs (one appearing late), its figures after
// every cycle, SIGHUP with changed settings, and SIGTERM with a summary that matches them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "support/ChildProcess.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

// A Combined line stamped now: follow times a line when it reads it anyway.
std::string Line(const std::string &address, const std::string &path) {
  char time[64];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(time, sizeof time, "[%d/%b/%Y:%H:%M:%S %z]", &local);
  return address + " - - " + time + " \"GET " + path + " HTTP/1.1\" 200 5 \"-\" \"agent\"\n";
}

void Append(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::app) << text;
}

// The samples of a Prometheus text file; fails the test on a line that is not one.
std::map<std::string, double> Samples(const std::string &text) {
  std::map<std::string, double> samples;
  static const std::regex kSample(R"(^(flowdeck_[a-z_]+(\{[a-z_]+="[^"]*"\})?) (-?[0-9.e+-]+)$)");
  static const std::regex kComment(R"(^# (HELP|TYPE) flowdeck_[a-z_]+ .*$)");
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    start = end == std::string::npos ? text.size() : end + 1;
    std::smatch match;
    if (std::regex_match(line, match, kSample)) {
      samples[match[1]] = std::stod(match[3]);
    } else {
      EXPECT_TRUE(std::regex_match(line, kComment)) << "not Prometheus text: " << line;
    }
  }
  return samples;
}

// Waits until the metrics say `name` has reached `value`.
bool WaitFor(const std::string &metrics, const std::string &name, double value) {
  for (int i = 0; i < 150; ++i) {
    auto samples = Samples(ReadFile(metrics));
    if (samples.count(name) > 0 && samples[name] >= value) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

TEST(FollowCommand, FollowsSeveralLogsReloadsOnSighupAndItsFiguresMatchItsSummary) {
  testing_support::Port80 port80;
  TempDir dir;
  const std::string a = dir.File("a.log"), b = dir.File("b.log"), metrics = dir.File("m.prom");
  const std::string config = dir.File("flowdeck.conf"), output = dir.File("output");
  Append(a, "");
  testing_support::WriteFile(config, "ShieldSeconds = 600\n");
  testing_support::ChildProcess follow(
      {FLOWDECK_BIN, "follow", "--quiet", "--cycle", "1", "--config", config, "--metrics", metrics,
       "--out", dir.File("out"), "--plugin", FLOWDECK_PLUGIN_DIR, "--tripwires",
       FLOWDECK_EXAMPLES "/tripwires.cfg", a, "--server-name", "b.example", b},
      output);
  ASSERT_TRUE(follow.Started()) << follow.Problem();
  ASSERT_TRUE(WaitFor(metrics, "flowdeck_cycles_total{plugin=\"KvCorvane\"}", 1))
      << ReadFile(output);
  Append(a, Line("198.51.100.1", "/") + Line("198.51.100.2", "/shop"));
  Append(b, Line("198.51.100.3", "/late"));  // b.log appears only now
  ASSERT_TRUE(WaitFor(metrics, "flowdeck_visitors", 3)) << ReadFile(metrics) << ReadFile(output);
  const std::string snapshot = ReadFile(dir.File("out/KvCorvane.xml"));
  const size_t late = snapshot.find("REMADR=\"198.51.100.3\"");
  ASSERT_NE(late, std::string::npos) << snapshot;
  EXPECT_NE(snapshot.find("SVR=\"b.example\"", late), std::string::npos) << "b.log's own host";

  // flowdeck's own settings only: every visitor is kept.
  testing_support::WriteFile(config, "ShieldSeconds = 60\nNeverShield = 10.0.0.0/8\n");
  kill(follow.Pid(), SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_NE(ReadFile(output).find("every visitor is kept"), std::string::npos) << ReadFile(output);
  EXPECT_EQ(Samples(ReadFile(metrics))["flowdeck_visitors"], 3);
  // A file that does not parse keeps the running settings.
  testing_support::WriteFile(config, "PeriodBase = many\n");
  kill(follow.Pid(), SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_NE(ReadFile(output).find("flowdeck.conf:1: PeriodBase = 'many': expected a number"),
            std::string::npos)
      << ReadFile(output);
  EXPECT_EQ(Samples(ReadFile(metrics))["flowdeck_visitors"], 3);
  // A threshold the plug-ins read: both start their visitors afresh.
  testing_support::WriteFile(config, "PeriodBase = 40\n");
  kill(follow.Pid(), SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_NE(ReadFile(output).find("start their visitors afresh"), std::string::npos);
  EXPECT_EQ(Samples(ReadFile(metrics))["flowdeck_visitors"], 0);
  Append(a, Line("198.51.100.4", "/after"));
  ASSERT_TRUE(WaitFor(metrics, "flowdeck_lines_read_total", 4));

  const int status = follow.Stop(SIGTERM);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(output);
  const std::string summary = ReadFile(output);
  auto samples = Samples(ReadFile(metrics));
  EXPECT_NE(summary.find("lines read: " +
                         std::to_string(static_cast<int>(samples["flowdeck_lines_read_total"])) +
                         " (4 requests"),
            std::string::npos)
      << summary << ReadFile(metrics);
  EXPECT_NE(summary.find(" of the shield plug-in"), std::string::npos);
  const std::string cycles =
      std::to_string(static_cast<int>(samples["flowdeck_cycles_total{plugin=\"KvVantrel\"}"])) +
      " of the shield plug-in (every 1 s), " +
      std::to_string(static_cast<int>(samples["flowdeck_cycles_total{plugin=\"KvCorvane\"}"])) +
      " of the monitor";
  EXPECT_NE(summary.find(cycles), std::string::npos) << summary << ReadFile(metrics);
  EXPECT_NE(summary.find("visitors held: " +
                         std::to_string(static_cast<int>(samples["flowdeck_visitors"]))),
            std::string::npos)
      << summary;
  // The reload that restarted the monitor emptied it; the visitors of the run are all four.
  EXPECT_NE(summary.find(" (4 in the run)\n"), std::string::npos) << summary;
  EXPECT_NE(ReadFile(dir.File("out/flowdeck-run.txt")).find("VisitorsOfRun = 4\n"),
            std::string::npos)
      << ReadFile(dir.File("out/flowdeck-run.txt"));
}

// logrotate renames the exports and logs without copytruncate: each monitor cycle opens them
// anew, so nothing is lost and nothing is written twice.
TEST(FollowCommand, ExportsRenamedMidRunLoseNoLineAndRepeatNone) {
  testing_support::Port80 port80;
  TempDir dir;
  const std::string log = dir.File("access.log"), metrics = dir.File("m.prom");
  const std::string config = dir.File("flowdeck.conf"), output = dir.File("output");
  Append(log, "");
  testing_support::WriteFile(config, "Trace = True\n");
  testing_support::ChildProcess follow(
      {FLOWDECK_BIN, "follow", "--quiet", "--cycle", "1", "--config", config, "--metrics", metrics,
       "--out", dir.File("out"), "--plugin", FLOWDECK_PLUGIN_DIR, "--tripwires",
       FLOWDECK_EXAMPLES "/tripwires.cfg", log},
      output);
  ASSERT_TRUE(follow.Started()) << follow.Problem();
  // Lines written before follow has opened the log are not its to read: wait for its first cycle.
  ASSERT_TRUE(WaitFor(metrics, "flowdeck_cycles_total{plugin=\"KvCorvane\"}", 1))
      << ReadFile(output);
  auto cyclesNow = [&] {
    return Samples(ReadFile(metrics))["flowdeck_cycles_total{plugin=\"KvCorvane\"}"];
  };
  auto streamUntilExported = [&](int first, int count) {
    std::string lines;
    for (int i = first; i < first + count; ++i) {
      lines += Line("198.51.100." + std::to_string(i), "/page-" + std::to_string(i));
    }
    Append(log, lines);
    ASSERT_TRUE(WaitFor(metrics, "flowdeck_requests_streamed_total", first + count - 1))
        << ReadFile(output) << ReadFile(metrics);
    ASSERT_TRUE(WaitFor(metrics, "flowdeck_cycles_total{plugin=\"KvCorvane\"}", cyclesNow() + 2));
  };
  streamUntilExported(1, 40);
  const std::string hits = dir.File("out/KvCorvaneHits.Out");
  const std::string trace = dir.File("out/KvCorvaneTrace.LOG");
  ASSERT_EQ(std::rename(hits.c_str(), (hits + ".1").c_str()), 0);
  ASSERT_EQ(std::rename(trace.c_str(), (trace + ".1").c_str()), 0);
  streamUntilExported(41, 30);
  ASSERT_EQ(WEXITSTATUS(follow.Stop(SIGTERM)), 0) << ReadFile(output);

  std::map<std::string, int> seen;
  for (const std::string &file : {hits + ".1", hits}) {
    for (const std::string &line : testing_support::ReadLines(file)) {
      const size_t at = line.find("198.51.100.");
      ASSERT_NE(at, std::string::npos) << line;
      ++seen[line.substr(at, line.find(line[0], at) - at)];
    }
  }
  EXPECT_EQ(seen.size(), 70u) << "every request exported";
  for (const auto &[address, count] : seen) EXPECT_EQ(count, 1) << address << " exported twice";
  EXPECT_EQ(testing_support::ReadLines(hits).size(), 30u) << "the new file has what came after";
  EXPECT_FALSE(ReadFile(trace).empty()) << "the trace goes on in a new file";
}

}  // namespace
