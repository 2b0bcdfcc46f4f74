// How fast a log may grow while `flowdeck follow` keeps up with it:
//   build/bin/follow_bench [--benchmark_filter=BM_Follow/200000]
// A writer thread appends the lines of the million-line day (over again when they run out) to a
// log at a fixed rate for a minute, as a busy server would. This process follows the log as
// `flowdeck follow` does, with its default cycles (shields every 10 s, the monitor every 60 s).
// A line's lag is the time from when it was due in the log to when the run took it from the log
// to stream it. The run kept up when no line of the minute waited a monitor cycle or longer (the
// monitor's cycle, at the minute's end, holds the run up while it writes a minute of exports),
// and when in the stretch before that cycle the lines waited under a second: a run slower than
// the log falls a little further behind with every second, and shows it there.
// BM_Follow/RATE measures one rate (FLOWDECK_FOLLOW_RATES="100000,200000" picks them);
// BM_FollowHighestRate searches for the highest rate kept up with, doubling from 200,000 lines/s
// and then narrowing to within 10%. FLOWDECK_FOLLOW_SECONDS shortens the minute. The log and the
// run's files go to the temporary directory (TMPDIR).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SampleDay.h"
#include "cli/CommandLine.h"
#include "cli/RunCommand.h"
#include "input/LiveSource.h"

namespace {

using Clock = std::chrono::steady_clock;
// A run that keeps pace with the log reads it at most a poll interval (50 ms) behind, apart from
// the moments a cycle holds it up.
constexpr double kSteadyLagSeconds = 1;

std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The sample day's bytes, mapped read-only.
class MappedLog {
 public:
  explicit MappedLog(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) throw std::runtime_error(path + ": cannot read");
    size_ = static_cast<size_t>(info.st_size);
    void *data = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (data == MAP_FAILED) throw std::runtime_error(path + ": cannot map");
    data_ = static_cast<const char *>(data);
  }
  ~MappedLog() { munmap(const_cast<char *>(data_), size_); }
  MappedLog(const MappedLog &) = delete;
  MappedLog &operator=(const MappedLog &) = delete;

  // Writes the next `count` lines to fd, going back to the first line after the last.
  void WriteLines(int fd, uint64_t count) {
    while (count > 0) {
      size_t end = offset_;
      for (; count > 0 && end < size_; --count) {
        const void *newline = std::memchr(data_ + end, '\n', size_ - end);
        end = newline != nullptr
                  ? static_cast<size_t>(static_cast<const char *>(newline) - data_) + 1
                  : size_;
      }
      WriteAll(fd, data_ + offset_, end - offset_);
      offset_ = end == size_ ? 0 : end;
    }
  }

 private:
  static void WriteAll(int fd, const char *bytes, size_t size) {
    while (size > 0) {
      const ssize_t n = write(fd, bytes, size);
      if (n <= 0) throw std::runtime_error("cannot append to the followed log");
      bytes += n;
      size -= static_cast<size_t>(n);
    }
  }

  const char *data_ = nullptr;
  size_t size_ = 0;
  size_t offset_ = 0;
};

// When line i (from 0) is due in the log: i / rate seconds after the start.
struct Schedule {
  Clock::time_point start;
  double rate;
  uint64_t lines;
  double Due(uint64_t line) const { return static_cast<double>(line) / rate; }
};

// Appends the lines that are due, a batch at least every half millisecond, none before its time.
// Gives how late the writer itself was at worst, in seconds.
double AppendOnSchedule(MappedLog &source, const std::string &log, const Schedule &schedule,
                        std::atomic<uint64_t> &appended) {
  const int fd = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error(log + ": cannot append");
  std::this_thread::sleep_until(schedule.start);
  double late = 0;
  uint64_t written = 0;
  while (written < schedule.lines) {
    const double now = SecondsSince(schedule.start);
    const auto due = std::min(schedule.lines, static_cast<uint64_t>(now * schedule.rate) + 1);
    if (due > written) {
      late = std::max(late, now - schedule.Due(written));
      source.WriteLines(fd, due - written);
      written = due;
      appended.store(written);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  close(fd);
  return late;
}

// Hands on the lines of a source and notes each one's lag: when the run took it, measured from
// when it was due in the log.
class TimedSource : public host::LineSource {
 public:
  TimedSource(host::LineSource &inner, const Schedule &schedule)
      : inner_(inner), schedule_(schedule) {
    samples_.reserve(schedule.lines / kSampleEvery + 1);
  }

  bool Next(host::SourceLine &line) override {
    if (!inner_.Next(line)) return false;
    const uint64_t index = handed_.load(std::memory_order_relaxed);
    const double lag = SecondsSince(schedule_.start) - schedule_.Due(index);
    maxLag_ = std::max(maxLag_, lag);
    if (index % kSampleEvery == 0) samples_.push_back({schedule_.Due(index), lag});
    if (index + 1 == schedule_.lines) lastLag_ = lag;
    handed_.store(index + 1, std::memory_order_release);
    return true;
  }
  bool Ended() override { return inner_.Ended(); }
  host::RunTime Wait(double deadline) override { return inner_.Wait(deadline); }
  host::RunTime Now() override { return inner_.Now(); }
  uint64_t BytesRead() const override { return inner_.BytesRead(); }
  uint64_t BytesBehind() const override { return inner_.BytesBehind(); }

  uint64_t Handed() const { return handed_.load(std::memory_order_acquire); }
  double MaxLag() const { return maxLag_; }
  double LastLag() const { return lastLag_; }
  // The lag that the given share of the lines due from `from` to `to` seconds stayed under.
  double LagQuantile(double share, double from = 0, double to = 1e300) const {
    std::vector<double> lags;
    for (const Sample &sample : samples_) {
      if (sample.due >= from && sample.due < to) lags.push_back(sample.lag);
    }
    if (lags.empty()) return 0;
    const auto at = static_cast<size_t>(share * static_cast<double>(lags.size() - 1));
    std::nth_element(lags.begin(), lags.begin() + static_cast<std::ptrdiff_t>(at), lags.end());
    return lags[at];
  }

 private:
  static constexpr uint64_t kSampleEvery = 16;
  struct Sample {
    double due, lag;
  };

  host::LineSource &inner_;
  Schedule schedule_;
  std::atomic<uint64_t> handed_{0};
  double maxLag_ = 0, lastLag_ = 1e9;
  std::vector<Sample> samples_;
};

// A sample of the run's figures (flowdeck.prom), 0 when it is missing.
double Figure(const std::string &metrics, const std::string &sample) {
  const size_t at = metrics.find("\n" + sample + " ");
  return at == std::string::npos ? 0 : std::atof(metrics.c_str() + at + sample.size() + 2);
}

// What one rate gave.
struct Probe {
  double rate = 0;  // lines per second asked for
  double appendedPerSecond = 0;
  double writerLate = 0;
  double p50 = 0, p99 = 0, max = 0, last = 0;  // lags, seconds
  double steadyP99 = 0;  // lag of the lines due in the stretch before the first monitor cycle
  double monitorSeconds = 0;
  double monitorCycleSeconds = 0;  // what a monitor cycle took, on average
  bool keptUp = false;
};

double MinuteSeconds() {
  const char *text = std::getenv("FLOWDECK_FOLLOW_SECONDS");
  return text != nullptr ? std::max(1.0, std::atof(text)) : 60.0;
}

// Follows a log that grows at `rate` lines per second for `seconds`.
Probe Follow(double rate, double seconds) {
  MappedLog source(bench::SampleDay(1));
  std::string pattern = (std::filesystem::temp_directory_path() / "flowdeck-follow-XXXXXX");
  const std::string dir = mkdtemp(pattern.data());
  const std::string log = dir + "/access.log";
  close(open(log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  host::RunOptions options =
      host::ParseRunOptions({"--quiet", "--out", dir + "/out", "--plugin", FLOWDECK_PLUGIN_DIR,
                             "--tripwires", FLOWDECK_EXAMPLES "/tripwires.cfg", log},
                            true);
  options.session.shieldPort = 18081;  // the port is not what is measured
  host::LineStats stats;
  std::atomic<bool> stop{false};
  host::LineReader lines(options.format, host::TrustedProxies(options.config), stats);
  host::LiveSource live(options.logs, true, lines, stop);
  // The run starts in the meantime: plug-ins loaded, CONFIG sent.
  const Schedule schedule{Clock::now() + std::chrono::seconds(1), rate,
                          static_cast<uint64_t>(rate * seconds)};
  TimedSource timed(live, schedule);
  std::atomic<uint64_t> appended{0};
  Probe probe;
  probe.rate = rate;
  probe.monitorSeconds = options.cadence.monitorSeconds;
  std::thread writer([&] {
    probe.writerLate = AppendOnSchedule(source, log, schedule, appended);
    probe.appendedPerSecond = static_cast<double>(schedule.lines) / SecondsSince(schedule.start);
    // The run ends once it has every line, or a monitor cycle after the minute.
    const auto end = Clock::now();
    while (timed.Handed() < schedule.lines && SecondsSince(end) < probe.monitorSeconds) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop.store(true);
  });
  std::ostringstream out, err;
  host::RunLines(options, timed, stats, true, out, err);
  writer.join();
  const std::string metrics = ReadFile(dir + "/out/flowdeck.prom");
  const double cycles = Figure(metrics, "flowdeck_cycles_total{plugin=\"KvCorvane\"}");
  if (cycles > 0) {
    probe.monitorCycleSeconds =
        Figure(metrics, "flowdeck_cycle_seconds_total{plugin=\"KvCorvane\"}") / cycles;
  }
  std::filesystem::remove_all(dir);
  probe.p50 = timed.LagQuantile(0.5);
  probe.p99 = timed.LagQuantile(0.99);
  probe.max = timed.MaxLag();
  probe.last = timed.LastLag();
  probe.steadyP99 = timed.LagQuantile(0.99, 0.75 * seconds, 0.9 * seconds);
  probe.keptUp = timed.Handed() == schedule.lines && probe.max < probe.monitorSeconds &&
                 probe.steadyP99 < kSteadyLagSeconds;
  return probe;
}

void Report(benchmark::State &state, const Probe &probe, const std::string &prefix = "") {
  state.counters[prefix + "rate"] = probe.rate;
  state.counters[prefix + "appended/s"] = probe.appendedPerSecond;
  state.counters[prefix + "writer_late_ms"] = probe.writerLate * 1e3;
  state.counters[prefix + "lag_p50_ms"] = probe.p50 * 1e3;
  state.counters[prefix + "lag_p99_ms"] = probe.p99 * 1e3;
  state.counters[prefix + "lag_max_ms"] = probe.max * 1e3;
  state.counters[prefix + "last_line_lag_ms"] = probe.last * 1e3;
  state.counters[prefix + "steady_lag_p99_ms"] = probe.steadyP99 * 1e3;
  state.counters[prefix + "monitor_cycle_s"] = probe.monitorCycleSeconds;
  state.counters[prefix + "kept_up"] = probe.keptUp ? 1 : 0;
}

void BM_Follow(benchmark::State &state) {
  Probe probe;
  for (auto _ : state) probe = Follow(static_cast<double>(state.range(0)), MinuteSeconds());
  Report(state, probe);
}

// Doubles the rate from 200,000 lines/s while the run keeps up, then halves the step between the
// highest rate kept up with and the lowest not, until they are within 10% of each other.
void BM_FollowHighestRate(benchmark::State &state) {
  Probe kept, missed;
  for (auto _ : state) {
    double rate = 200'000;
    for (;;) {
      const Probe probe = Follow(rate, MinuteSeconds());
      (probe.keptUp ? kept : missed) = probe;
      if (!probe.keptUp) break;
      rate *= 2;
    }
    while (kept.rate > 0 ? missed.rate - kept.rate > 0.1 * kept.rate : missed.rate > 12'500) {
      const double rate = kept.rate > 0 ? (kept.rate + missed.rate) / 2 : missed.rate / 2;
      const Probe probe = Follow(rate, MinuteSeconds());
      (probe.keptUp ? kept : missed) = probe;
    }
  }
  Report(state, kept, "highest_");
  Report(state, missed, "missed_");
}

std::vector<int64_t> Rates() {
  const char *text = std::getenv("FLOWDECK_FOLLOW_RATES");
  std::vector<int64_t> rates;
  std::istringstream list(text != nullptr ? text : "50000,100000,200000");
  for (std::string rate; std::getline(list, rate, ',');) rates.push_back(std::atoll(rate.c_str()));
  return rates;
}

}  // namespace

int main(int argc, char **argv) {
  for (int64_t rate : Rates()) {
    benchmark::RegisterBenchmark("BM_Follow", BM_Follow)
        ->Arg(rate)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
  }
  benchmark::RegisterBenchmark("BM_FollowHighestRate", BM_FollowHighestRate)
      ->Iterations(1)
      ->Unit(benchmark::kSecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
