// How long an operator waits for `flowdeck shields DIR` and `flowdeck lift DIR ADDRESS` (the
// whole command: start, the control socket's round trip, the answer printed) against a running
// follow, idle or reading a log appended to at about 100,000 lines a second. The counters give
// the lines a second the follow actually read meanwhile, the plug-ins' mean cycle times and the
// latencies per command.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "FollowProcess.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

// Appends `perSecond` lines a second to `log` in slices of 10 ms, from 4096 visitors browsing
// plain pages, stamped with the time they are written.
class LogWriter {
 public:
  LogWriter(std::string log, int64_t perSecond) : log_(std::move(log)), perSecond_(perSecond) {
    if (perSecond_ > 0) thread_ = std::thread([this] { Run(); });
  }
  ~LogWriter() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int64_t Written() const { return written_; }

 private:
  void Run() {
    const int64_t slice = perSecond_ / 100;
    auto next = Clock::now();
    uint32_t visitor = 0;
    std::string chunk;
    while (!stop_) {
      char stamp[64];
      const std::time_t now = std::time(nullptr);
      std::tm local{};
      localtime_r(&now, &local);
      std::strftime(stamp, sizeof stamp, " - - [%d/%b/%Y:%H:%M:%S %z] \"GET /page-", &local);
      chunk.clear();
      for (int64_t i = 0; i < slice; ++i, ++visitor) {
        chunk += "10.9." + std::to_string((visitor >> 8) & 15) + "." +
                 std::to_string(visitor & 255) + stamp + std::to_string(visitor % 97) +
                 ".html HTTP/1.1\" 200 512 \"-\" \"Mozilla/5.0 bench\"\n";
      }
      shield_testing::AppendTo(log_, chunk);
      written_ += slice;
      next += std::chrono::milliseconds(10);
      std::this_thread::sleep_until(next);
    }
  }

  std::string log_;
  int64_t perSecond_;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> written_{0};
  std::thread thread_;
};

// Mean, median and largest of the latencies, in milliseconds.
void Report(benchmark::State &state, const std::string &name, std::vector<double> seconds) {
  if (seconds.empty()) return;
  std::sort(seconds.begin(), seconds.end());
  double sum = 0;
  for (double s : seconds) sum += s;
  state.counters[name + "_mean_ms"] = 1000 * sum / static_cast<double>(seconds.size());
  state.counters[name + "_median_ms"] = 1000 * seconds[seconds.size() / 2];
  state.counters[name + "_max_ms"] = 1000 * seconds.back();
}

void BM_SteerRunningFollow(benchmark::State &state) {
  testing_support::Port80 port80;
  if (!port80.NothingListens(shield_testing::kShieldServer)) {
    state.SkipWithError("needs port 80 of 127.0.0.2");
    return;
  }
  testing_support::TempDir dir;
  const std::string log = dir.File("site.log");
  shield_testing::AppendTo(log, "");
  // A shield cycle every second, as the tests run it; the monitor's cycle, which writes the
  // snapshot of every visitor and answers nothing meanwhile, every second or every minute.
  shield_testing::FollowProcess follow(
      dir.Path(), "NeverShield =\n", {log},
      {"--shield-cycle", "1", "--monitor-cycle", std::to_string(state.range(1))});
  if (!follow.Start()) {
    state.SkipWithError("flowdeck follow did not start");
    return;
  }
  LogWriter writer(log, state.range(0));
  // Under way before the first command.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double readBefore = follow.Metric("flowdeck_lines_read_total");
  const int64_t writtenBefore = writer.Written();
  const auto start = Clock::now();
  std::vector<double> shields, lifts;
  std::string output;
  int round = 0;
  for (auto _ : state) {
    double seconds = 0;
    if (follow.Steer({"shields"}, output, &seconds) != 0) {
      state.SkipWithError(("flowdeck shields failed: " + output).c_str());
      break;
    }
    shields.push_back(seconds);
    const std::string address = "203.0.113." + std::to_string(++round % 250 + 1);
    if (follow.Steer({"shield", address, "--seconds", "600"}, output) != 0 ||
        follow.Steer({"lift", address}, output, &seconds) != 0) {
      state.SkipWithError(("flowdeck shield or lift failed: " + output).c_str());
      break;
    }
    lifts.push_back(seconds);
    state.SetIterationTime(shields.back());
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  state.counters["lines_per_s_written"] =
      static_cast<double>(writer.Written() - writtenBefore) / elapsed;
  // Metrics are written after each cycle: read within a second of the end.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  state.counters["lines_per_s_read"] =
      (follow.Metric("flowdeck_lines_read_total") - readBefore) / (elapsed + 1.1);
  for (const char *plugin : {"KvVantrel", "KvCorvane"}) {
    const std::string label = std::string("{plugin=\"") + plugin + "\"}";
    const double cycles = follow.Metric("flowdeck_cycles_total" + label);
    if (cycles > 0) {
      state.counters[std::string(plugin) + "_cycle_ms"] =
          1000 * follow.Metric("flowdeck_cycle_seconds_total" + label) / cycles;
    }
  }
  Report(state, "shields", shields);
  Report(state, "lift", lifts);
  follow.Stop();
}
BENCHMARK(BM_SteerRunningFollow)
    ->ArgNames({"lines_per_s", "monitor_cycle_s"})
    ->Args({0, 1})
    ->Args({100000, 1})
    ->Args({100000, 60})
    ->UseManualTime()
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
