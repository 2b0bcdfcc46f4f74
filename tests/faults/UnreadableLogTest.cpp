// flowdeck follow given logs it cannot read: each is named with the system's reason at the start
// and again while it lasts, shown in the metrics, and read once it can be. Replay says why too.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "support/ChildProcess.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using testing_support::ChildProcess;
using testing_support::ReadFile;
using testing_support::TempDir;

// The period at which a problem is said again, shortened from a minute for the test.
constexpr const char *kRepeat = "FLOWDECK_LOG_REPEAT_SECONDS=2";
// Runs a program as nobody, who cannot read a root's 0600 file.
const std::vector<std::string> kAsNobody = {"setpriv", "--reuid=nobody", "--regid=nogroup",
                                            "--clear-groups"};

bool WaitUntil(const std::function<bool()> &condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

size_t Count(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A sample's value in a Prometheus text file ("name{labels}"); -1 when it is not there.
double Sample(const std::string &path, const std::string &sample) {
  const std::string text = "\n" + ReadFile(path);
  const size_t at = text.find("\n" + sample + " ");
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + sample.size() + 2);
}

std::string Line(const std::string &address) {
  char time[64];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(time, sizeof time, "[%d/%b/%Y:%H:%M:%S %z]", &local);
  return address + " - - " + time + " \"GET / HTTP/1.1\" 200 5 \"-\" \"agent\"\n";
}

void Append(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::app) << text;
}

// flowdeck's arguments for a run in `dir` (its run directory out/) reading `logs`.
std::vector<std::string> Arguments(const TempDir &dir, const std::string &command,
                                   const std::vector<std::string> &logs) {
  std::vector<std::string> argv = {FLOWDECK_BIN,  command,
                                   "--cycle",     "1",
                                   "--config",    dir.File("flowdeck.conf"),
                                   "--out",       dir.File("out"),
                                   "--plugin",    FLOWDECK_PLUGIN_DIR,
                                   "--tripwires", FLOWDECK_EXAMPLES "/tripwires.cfg"};
  argv.insert(argv.end(), logs.begin(), logs.end());
  return argv;
}

std::vector<std::string> AsNobody(std::vector<std::string> argv) {
  argv.insert(argv.begin(), kAsNobody.begin(), kAsNobody.end());
  return argv;
}

TEST(UnreadableLog, MissingLogsAndFoldersAreNamedAgainWhileMissingAndReadOnceThere) {
  testing_support::Port80 port80;
  TempDir dir;
  testing_support::WriteFile(dir.File("flowdeck.conf"), "Server = 127.0.0.2\n");
  const std::string missing = dir.File("missing.log"), deep = dir.File("gone/access.log");
  const std::string odd = dir.File("we\"ird\\.log");  // the metrics' label escapes it
  const std::string output = dir.File("output"), metrics = dir.File("out/flowdeck.prom");
  ChildProcess follow(Arguments(dir, "follow", {missing, deep, odd}), output, {kRepeat});
  ASSERT_TRUE(follow.Started()) << follow.Problem();

  const std::string enoent = ": No such file or directory";
  const std::string saidMissing = "warning: cannot read the followed log " + missing + enoent;
  const std::string saidDeep = "warning: cannot read the followed log " + deep + enoent +
                               " (its folder " + dir.File("gone") + " is missing too)";
  const std::string readable = "flowdeck_log_readable{log=\"";
  const std::string oddLabel = dir.File("we\\\"ird\\\\.log");
  EXPECT_TRUE(WaitUntil(
      [&] {
        const std::string said = ReadFile(output);
        return said.find(saidMissing) != std::string::npos &&
               said.find(saidDeep) != std::string::npos &&
               said.find("error: none of the 3 followed logs can be read") != std::string::npos;
      },
      5))
      << ReadFile(output);
  EXPECT_TRUE(WaitUntil([&] { return Sample(metrics, readable + oddLabel + "\"}") == 0; }, 5))
      << ReadFile(metrics);
  EXPECT_EQ(Sample(metrics, readable + missing + "\"}"), 0);
  EXPECT_EQ(Sample(metrics, readable + deep + "\"}"), 0);

  // Said again after the period, each of them.
  EXPECT_TRUE(WaitUntil(
      [&] {
        const std::string said = ReadFile(output);
        return Count(said, saidMissing) >= 2 && Count(said, saidDeep) >= 2 &&
               Count(said, "none of the 3 followed logs") >= 2;
      },
      7))
      << ReadFile(output);

  // The log and the folder appear: every line of them is read.
  Append(missing, Line("192.0.2.1") + Line("192.0.2.2"));
  std::filesystem::create_directory(dir.File("gone"));
  Append(deep, Line("192.0.2.3"));
  EXPECT_TRUE(WaitUntil(
      [&] {
        return Sample(metrics, "flowdeck_log_lines_total{log=\"" + missing + "\"}") == 2 &&
               Sample(metrics, "flowdeck_log_lines_total{log=\"" + deep + "\"}") == 1;
      },
      5))
      << ReadFile(metrics);
  EXPECT_EQ(Sample(metrics, readable + missing + "\"}"), 1);
  EXPECT_EQ(Sample(metrics, readable + deep + "\"}"), 1);
  EXPECT_EQ(Sample(metrics, readable + oddLabel + "\"}"), 0);
  const std::string said = ReadFile(output);
  EXPECT_EQ(Count(said, "flowdeck follow: the followed log " + missing + " is readable again"), 1u)
      << said;
  EXPECT_EQ(Count(said, "flowdeck follow: the followed log " + deep + " is readable again"), 1u)
      << said;
  const int status = follow.Stop(SIGTERM, 30);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(output);

  // A replay's log must be there, and it says why it is not.
  std::string replayed;
  EXPECT_EQ(testing_support::RunProgram(Arguments(dir, "replay", {deep + ".1"}), replayed), 2);
  EXPECT_NE(replayed.find(deep + ".1: cannot read the log" + enoent), std::string::npos)
      << replayed;
}

// The log is there from the start but readable by root only: a follow run as another user
// names it until its permissions are fixed, then reads what was written since it started
// (not the lines that were there before).
TEST(UnreadableLog, ALogTheRunCannotReadIsNamedUntilItCanAndThenReadOnFromTheStart) {
  TempDir dir;
  std::string output;
  const std::string plugin = std::string(FLOWDECK_PLUGIN_DIR) + "/KvVantrel.so";
  chmod(dir.Path().c_str(), 0755);
  if (testing_support::RunProgram(AsNobody({"test", "-r", plugin}), output) != 0) {
    GTEST_SKIP() << "cannot run a program as nobody that reads " << plugin << ": " << output;
  }
  ASSERT_EQ(mkdir(dir.File("out").c_str(), 0755), 0);
  ASSERT_EQ(chown(dir.File("out").c_str(), 65534, 65534), 0);
  testing_support::WriteFile(dir.File("flowdeck.conf"), "Server = 127.0.0.2\n");
  const std::string log = dir.File("secret.log");
  Append(log, Line("192.0.2.1") + Line("192.0.2.2"));  // before the run: not read
  ASSERT_EQ(chmod(log.c_str(), 0600), 0);

  const std::string said = "warning: cannot read the followed log " + log + ": Permission denied";
  const std::string readable = "flowdeck_log_readable{log=\"" + log + "\"}";
  const std::string lines = "flowdeck_log_lines_total{log=\"" + log + "\"}";
  const std::string outputPath = dir.File("output"), metrics = dir.File("out/flowdeck.prom");
  ChildProcess follow(AsNobody(Arguments(dir, "follow", {log})), outputPath, {kRepeat});
  ASSERT_TRUE(follow.Started()) << follow.Problem();
  EXPECT_TRUE(WaitUntil(
      [&] {
        const std::string text = ReadFile(outputPath);
        return Count(text, said) >= 1 &&
               Count(text, "error: the one followed log cannot be read") >= 1 &&
               Sample(metrics, readable) == 0;
      },
      5))
      << ReadFile(outputPath) << ReadFile(metrics);
  EXPECT_TRUE(WaitUntil([&] { return Count(ReadFile(outputPath), said) >= 2; }, 7))
      << ReadFile(outputPath);

  std::string replayed;
  EXPECT_EQ(testing_support::RunProgram(AsNobody(Arguments(dir, "replay", {log})), replayed), 2);
  EXPECT_NE(replayed.find(log + ": cannot read the log: Permission denied"), std::string::npos)
      << replayed;

  ASSERT_EQ(chmod(log.c_str(), 0644), 0);
  Append(log, Line("192.0.2.3"));
  EXPECT_TRUE(WaitUntil([&] { return Sample(metrics, lines) == 1; }, 5)) << ReadFile(metrics);
  EXPECT_EQ(Sample(metrics, readable), 1);
  EXPECT_EQ(Count(ReadFile(outputPath),
                  "flowdeck follow: the followed log " + log + " is readable again"),
            1u)
      << ReadFile(outputPath);
  const int status = follow.Stop(SIGTERM, 30);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(outputPath);
}

}  // namespace
