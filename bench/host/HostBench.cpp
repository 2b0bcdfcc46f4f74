// Speed of the host on a generated 1,000,000-line Combined log: reading and parsing alone,
// a whole replay through both plug-ins, and `wc -l` on the same file for scale.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "CommandLine.h"
#include "LogParser.h"
#include "LogReader.h"
#include "RunCommand.h"
#include "SampleDay.h"

namespace {

const std::string &SampleFile() {
  return bench::SampleDay(1);
}

using bench::LinesIn;

void BM_ReadAndParse(benchmark::State &state) {
  const std::string &path = SampleFile();
  uint64_t lines = 0;
  for (auto _ : state) {
    host::LogReader reader(path);
    host::LogRecord record;
    std::string_view line;
    bool tooLong = false;
    while (reader.Next(line, tooLong)) {
      benchmark::DoNotOptimize(host::ParseLogLine(line, host::LogFormat::kAuto, record));
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
