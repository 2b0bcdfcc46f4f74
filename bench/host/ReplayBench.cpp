// `flowdeck replay` as a user runs it, timed from outside like any other command, on generated
// days of Combined log, and GoAccess on the same log in the same run, the two taking turns:
//   build/bin/replay_bench
// BM_ReplayCommand/1/0 is a million-line day at the default cycles, /1/60 at --cycle 60, /5/0
// five times as many lines in the same day. FLOWDECK_BENCH_ROUNDS sets the turns of
// BM_ReplayVersusGoAccess (3); it is skipped where goaccess is not installed.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "SampleDay.h"

namespace {

// What one command took: wall time, and the most memory it held at once.
struct CommandRun {
  double seconds = 0;
  double peakMiB = 0;
  bool succeeded = false;
};

// Runs a program found on the PATH (or by its path) with its output thrown away.
CommandRun Run(const std::vector<std::string> &command) {
  std::vector<char *> argv;
  for (const std::string &arg : command) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  // The last run's files still on their way to the disk would otherwise slow this one down.
  sync();
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  CommandRun run;
  if (child > 0 && wait4(child, &status, 0, &usage) == child) {
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    run.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return run;
}

std::string TempPath(const std::string &name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

std::vector<std::string> ReplayCommand(const std::string &log, int cycle) {
  std::vector<std::string> command = {FLOWDECK_BIN,
                                      "replay",
                                      "--quiet",
                                      "--out",
                                      TempPath("flowdeck-replay-bench"),
                                      "--tripwires",
                                      FLOWDECK_EXAMPLES "/tripwires.cfg",
                                      log};
  if (cycle > 0) command.insert(command.begin() + 2, {"--cycle", std::to_string(cycle)});
  return command;
}

std::vector<std::string> GoAccessCommand(const std::string &log) {
  return {"goaccess",      log,  "--log-format=COMBINED",
          "--no-progress", "-o", TempPath("flowdeck-bench-goaccess.html")};
}

bool GoAccessInstalled() {
  return Run({"goaccess", "--version"}).succeeded;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Lines per second of each run, slowest and fastest, and the most memory any run held.
void CountRuns(benchmark::State &state, const std::string &prefix, double lines,
               const std::vector<CommandRun> &runs) {
  std::vector<double> rates;
  double peak = 0;
  for (const CommandRun &run : runs) {
    rates.push_back(lines / run.seconds);
    peak = std::max(peak, run.peakMiB);
  }
  state.counters[prefix + "lines/s_slowest"] = *std::min_element(rates.begin(), rates.end());
  state.counters[prefix + "lines/s_median"] = Median(rates);
  state.counters[prefix + "lines/s_fastest"] = *std::max_element(rates.begin(), rates.end());
  state.counters[prefix + "peak_MiB"] = peak;
}

// Arguments: millions of lines in the day; the cycle in seconds, 0 for the default cycles.
void BM_ReplayCommand(benchmark::State &state) {
  const std::string &log = bench::SampleDay(static_cast<int>(state.range(0)));
  const auto lines = static_cast<double>(bench::LinesIn(log));
  std::vector<CommandRun> runs;
  for (auto _ : state) {
    runs.push_back(Run(ReplayCommand(log, static_cast<int>(state.range(1)))));
    if (!runs.back().succeeded) {
      state.SkipWithError("flowdeck replay failed");
      return;
    }
    state.SetIterationTime(runs.back().seconds);
  }
  CountRuns(state, "", lines, runs);
}
BENCHMARK(BM_ReplayCommand)
    ->Args({1, 0})
    ->Args({1, 60})
    ->Args({5, 0})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The million-line day at the default cycles and GoAccess's HTML report of it, in turns.
void BM_ReplayVersusGoAccess(benchmark::State &state) {
  if (!GoAccessInstalled()) {
    state.SkipWithError("goaccess is not installed");
    return;
  }
  const char *rounds = std::getenv("FLOWDECK_BENCH_ROUNDS");
  const int turns = rounds != nullptr ? std::max(1, std::atoi(rounds)) : 3;
  const std::string &log = bench::SampleDay(1);
  const auto lines = static_cast<double>(bench::LinesIn(log));
  std::vector<CommandRun> flowdeck, goaccess;
  std::vector<double> ratios;
  for (auto _ : state) {
    for (int turn = 0; turn < turns; ++turn) {
      flowdeck.push_back(Run(ReplayCommand(log, 0)));
      goaccess.push_back(Run(GoAccessCommand(log)));
      if (!flowdeck.back().succeeded || !goaccess.back().succeeded) {
        state.SkipWithError("a command failed");
        return;
      }
      ratios.push_back(goaccess.back().seconds / flowdeck.back().seconds);
    }
  }
  CountRuns(state, "flowdeck_", lines, flowdeck);
  CountRuns(state, "goaccess_", lines, goaccess);
  state.counters["times_faster_lowest"] = *std::min_element(ratios.begin(), ratios.end());
  state.counters["times_faster_median"] = Median(ratios);
}
BENCHMARK(BM_ReplayVersusGoAccess)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
