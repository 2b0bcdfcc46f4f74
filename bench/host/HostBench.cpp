// Speed of the host on a generated 1,000,000-line Combined log: reading and parsing alone,
// a whole replay through both plug-ins, and `wc -l` on the same file for scale.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "SampleDay.h"
#include "cli/CommandLine.h"
#include "cli/RunCommand.h"
#include "input/LogParser.h"
#include "input/LogReader.h"

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
      benchmark::DoNotOptimize(host::ParseCommonLine(line, host::CommonLayout::kAuto, record));
      ++lines;
    }
  }
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadAndParse)->Unit(benchmark::kMillisecond)->UseRealTime();

// The first lines of the sample log, held in memory, so that parsing alone is measured.
const std::vector<std::string> &SampleLines() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> read;
    host::LogReader reader(SampleFile());
    std::string_view line;
    bool tooLong = false;
    while (read.size() < 200'000 && reader.Next(line, tooLong)) read.emplace_back(line);
    return read;
  }();
  return lines;
}

void ParseLines(benchmark::State &state, const host::LogFormat &format,
                const std::vector<std::string> &lines) {
  host::LogRecord record;
  uint64_t parsed = 0, requests = 0;
  for (auto _ : state) {
    for (const std::string &line : lines) {
      requests += format.Parse(line, record) == host::ParseOutcome::kRequest;
    }
    parsed += lines.size();
  }
  if (requests != parsed) state.SkipWithError("a line did not parse");
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(parsed), benchmark::Counter::kIsRate);
}

// The built-in Combined parser against an nginx format string equal to Combined.
void BM_ParseCombinedBuiltIn(benchmark::State &state) {
  ParseLines(state, host::LogFormat::Compile("combined"), SampleLines());
}
BENCHMARK(BM_ParseCombinedBuiltIn)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ParseCombinedNginxFormat(benchmark::State &state) {
  ParseLines(
      state,
      host::LogFormat::Compile("$remote_addr - $remote_user [$time_local] \"$request\" $status "
                               "$body_bytes_sent \"$http_referer\" \"$http_user_agent\""),
      SampleLines());
}
BENCHMARK(BM_ParseCombinedNginxFormat)->Unit(benchmark::kMillisecond)->UseRealTime();

constexpr const char *kJsonTemplate =
    "{\"time\":\"$time_iso8601\",\"addr\":\"$remote_addr\",\"user\":\"$remote_user\","
    "\"req\":\"$request\",\"status\":$status,\"bytes\":$body_bytes_sent,"
    "\"ref\":\"$http_referer\",\"ua\":\"$http_user_agent\","
    "\"xff\":\"$http_x_forwarded_for\",\"host\":\"$host\"}";

// The sample lines as nginx writes them with the 10-field escape=json template above.
const std::vector<std::string> &JsonLines() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> written;
    host::LogRecord record;
    for (const std::string &line : SampleLines()) {
      host::ParseCommonLine(line, host::CommonLayout::kAuto, record);
      char time[40];
      std::snprintf(time, sizeof time, "%04d-%02d-%02dT%02d:%02d:%02d+00:00", record.time.year,
                    record.time.month, record.time.day, record.time.hour, record.time.minute,
                    record.time.second);
      std::ostringstream json;
      json << "{\"time\":\"" << time << "\",\"addr\":\"" << record.client
           << "\",\"user\":\"\",\"req\":\"" << record.method << ' ' << record.target << ' '
           << record.protocol << "\",\"status\":200,\"bytes\":5120,\"ref\":\"" << record.referrer
           << "\",\"ua\":\"" << record.userAgent << "\",\"xff\":\"\",\"host\":\"www.example.com\"}";
      written.push_back(json.str());
    }
    return written;
  }();
  return lines;
}

void BM_ParseNginxJson(benchmark::State &state) {
  ParseLines(state, host::LogFormat::Compile(kJsonTemplate), JsonLines());
}
BENCHMARK(BM_ParseNginxJson)->Unit(benchmark::kMillisecond)->UseRealTime();

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
