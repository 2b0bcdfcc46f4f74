// Speed of the host on a generated 1,000,000-line Combined log: reading and parsing alone,
// a whole replay through both plug-ins, and `wc -l` on the same file for scale.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CommandLine.h"
#include "LogParser.h"
#include "LogReader.h"
#include "Replay.h"
#include "SampleTraffic.h"

namespace {

const std::string &SampleFile() {
  static const std::string path = [] {
    std::string file = (std::filesystem::temp_directory_path() / "flowdeck-bench-1m.log").string();
    if (!std::filesystem::exists(file)) {
      std::ofstream out(file);
      host::SampleOptions options;
      options.minimumLines = 1'000'000;
      options.hours = 24;
      options.steadyClients = 20;
      host::WriteSampleLog(out, options);
    }
    return file;
  }();
  return path;
}

uint64_t LinesIn(const std::string &path) {
  host::LogReader reader(path);
  std::string_view line;
  bool tooLong = false;
  uint64_t lines = 0;
  while (reader.Next(line, tooLong)) ++lines;
  return lines;
}

void BM_ReadAndParse(benchmark::State &state) {
  const std::string &path = SampleFile();
  uint64_t lines = 0;
  for (auto _ : state) {
    host::LogReader reader(path);
    host::LogRecord record;
    std::string_view line;
    bool tooLong = false;
    while (reader.Next(line, tooLong)) {
      benchmark::DoNotOptimize(host::ParseCommonLine(line, host::CommonLayout::kAuto, record));
      ++lines;
    }
  }
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadAndParse)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WcL(benchmark::State &state) {
  const std::string command = "wc -l < " + SampleFile() + " > /dev/null";
  const double lines = static_cast<double>(LinesIn(SampleFile()));
  double total = 0;
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("wc failed");
    total += lines;
  }
  state.counters["lines/s"] = benchmark::Counter(total, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WcL)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Replay(benchmark::State &state) {
  const std::string out = (std::filesystem::temp_directory_path() / "flowdeck-bench-out").string();
  const double lines = static_cast<double>(LinesIn(SampleFile()));
  double total = 0;
  for (auto _ : state) {
    host::RunOptions options = host::ParseRunOptions(
        {"--quiet", "--cycle", "60", "--out", out, "--plugin", FLOWDECK_PLUGIN_DIR, "--tripwires",
         FLOWDECK_EXAMPLES "/tripwires.cfg", SampleFile()},
        false);
    options.session.shieldPort = 18080;  // the port is not what is measured
    std::ostringstream summary, errors;
    host::RunReplay(options, summary, errors);
    total += lines;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["lines/s"] = benchmark::Counter(total, benchmark::Counter::kIsRate);
  state.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_Replay)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
