// How long an operator waits for a running follow: the time from Ask to its reply when the
// follow's loop does other work per line and looks at its control socket every 256 lines, as
// it does between lines; and what such a look costs when nobody asks.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "run/ControlClient.h"
#include "run/ControlSocket.h"

namespace {

// A directory of its own under the temporary directory, removed at the end.
class BenchDir {
 public:
  BenchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "flowdeck-control-bench-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : "/tmp";
  }
  ~BenchDir() { std::filesystem::remove_all(path_); }
  const std::string &Path() const { return path_; }

 private:
  std::string path_;
};

host::ControlReply Echo(const std::vector<std::string> &arguments) {
  host::ControlReply reply;
  for (const std::string &argument : arguments) reply.out += argument + "\n";
  return reply;
}

// Stands in for reading, parsing and streaming one line: `rounds` hashes of a line's length.
size_t LineWork(const std::string &line, int64_t rounds) {
  size_t seen = 0;
  for (int64_t i = 0; i < rounds; ++i) seen += std::hash<std::string>{}(line) + seen;
  return seen;
}

void BM_ControlTendIdle(benchmark::State &state) {
  BenchDir dir;
  host::ControlSocket socket(dir.Path());
  for (auto _ : state) socket.Tend(Echo);
}
BENCHMARK(BM_ControlTendIdle);

// Ask's round trip while another thread runs the loop; the counter line_ns is what a line of
// the loop took (work and looks together).
void BM_ControlAskWhileBusy(benchmark::State &state) {
  BenchDir dir;
  host::ControlSocket socket(dir.Path());
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> lines{0};
  std::thread loop([&] {
    const std::string line(300, 'x');
    size_t sink = 0;
    for (uint64_t n = 1; !stop.load(std::memory_order_relaxed); ++n) {
      sink += LineWork(line, state.range(0));
      if ((n & 0xff) == 0) {
        socket.Tend(Echo);
        lines.store(n, std::memory_order_relaxed);
      }
    }
    benchmark::DoNotOptimize(sink);
  });
  const auto start = std::chrono::steady_clock::now();
  const uint64_t startLines = lines.load();
  std::minstd_rand pause(7);
  for (auto _ : state) {
    // Asked at a moment of no relation to the loop's looks, as an operator would; otherwise
    // one look answers one ask after another, each asked as soon as the last was answered.
    std::this_thread::sleep_for(std::chrono::microseconds(pause() % 2000));
    const auto asked = std::chrono::steady_clock::now();
    const auto reply =
        host::ControlClient::Ask(dir.Path(), {"shields", "203.0.113.5"}, std::chrono::seconds(5));
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count());
    if (!reply) state.SkipWithError("no follow answered");
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const uint64_t looped = lines.load() - startLines;
  stop = true;
  loop.join();
  if (looped > 0) state.counters["line_ns"] = seconds * 1e9 / static_cast<double>(looped);
}
BENCHMARK(BM_ControlAskWhileBusy)
    ->Arg(1)
    ->Arg(10)
    ->Arg(50)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Iterations(300);

}  // namespace

BENCHMARK_MAIN();
