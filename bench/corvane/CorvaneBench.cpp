// Speed and memory of the monitor, measured on its core as the plug-in runs it:
//   build-corvane/bin/corvane_bench
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Clock.h"
#include "Corvane.h"
#include "PluginDirectory.h"

namespace {

constexpr int kPaths = 50;
constexpr int kVisitors = 10'000;

// A fresh directory for the plug-in's files, removed afterwards.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-bench-XXXXXX");
    path_ = mkdtemp(pattern.data());
    common::SetPluginDirectory(path_);
  }
  ~ScratchDirectory() {
    common::SetPluginDirectory("");
    std::filesystem::remove_all(path_);
  }
  const std::string &Path() const { return path_; }

 private:
  std::string path_;
};

// The nineteen texts of one call, and the views Stream takes.
struct Call {
  std::array<std::string, FLOWDECK_FIELD_COUNT> text;
  common::StreamFields View() const {
    common::StreamFields view;
    for (size_t i = 0; i < text.size(); ++i) view[i] = text[i];
    return view;
  }
};

Call Action(const std::string &action, const std::string &settings = "") {
  Call call;
  call.text[common::kAction] = action;
  call.text[common::kUserAgent] = settings;
  return call;
}

// Possible from r = 0.5, certain from 0.9, r from 3 hits on; no trace.
std::string Settings(bool exporting, const std::string &directory) {
  return std::string("srv;url;uri;add;remove;1;0.1;3;0;") + (exporting ? "1;" : "0;") + directory +
         "/;0;5;1;0";
}

// A request as a real site sends them: visitor keys of 20 bytes, paths and physical paths out
// of a set, two ports, a query string now and then.
Call Request(int visitor, int hit, bool varyPath) {
  const int path = varyPath ? (visitor + hit) % kPaths : visitor % kPaths;
  Call call;
  char key[32];
  std::snprintf(key, sizeof key, "Visitor-%05d-Session", visitor);
  call.text[common::kAction] = "GET";
  char serial[32];  // 5 March 2004, 14:00:00 plus one second per hit
  std::snprintf(serial, sizeof serial, "40305%02d%02d%02d000", 14 + hit / 3600, hit / 60 % 60,
                hit % 60);
  call.text[common::kArrivalSerial] = serial;
  call.text[common::kKey] = key;
  call.text[common::kCountry] = "us";
  call.text[common::kResolvedAddr] = "host" + std::to_string(visitor) + ".example.net";
  call.text[common::kRemoteAddr] =
      "10.0." + std::to_string(visitor / 250) + "." + std::to_string(visitor % 250);
  call.text[common::kRemoteHost] = call.text[common::kResolvedAddr];
  call.text[common::kPathInfo] = "/shop/catalogue/item" + std::to_string(path) + ".html";
  call.text[common::kPathTranslated] =
      "/srv/www/shop/catalogue/item" + std::to_string(path) + ".html";
  call.text[common::kQueryString] = hit % 5 == 0 ? "ref=home&page=" + std::to_string(hit % 10) : "";
  call.text[common::kServerName] = "www.example.net";
  call.text[common::kServerPort] = path % 4 == 0 ? "443" : "80";
  call.text[common::kUserAgent] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";
  call.text[common::kLocked] = "0";
  return call;
}

double gNow = 38051.5;  // 5 March 2004, noon: a host clock that stands still
double ReadNow(void *) {
  return gNow;
}

void Fill(corvane::Corvane &monitor, int visitors, int hitsEach, bool varyPath) {
  for (int hit = 0; hit < hitsEach; ++hit) {
    for (int visitor = 0; visitor < visitors; ++visitor) {
      monitor.Stream(Request(visitor, hit, varyPath).View());
    }
  }
}

// Stream for a known visitor, 10,000 visitors held with 500 hits each (every call drops one),
// trace off, the system clock; argument 1 with the hit export on. The export buffer is written
// out, untimed, every 2^18 calls.
void BM_StreamKnownVisitor(benchmark::State &state) {
  const bool exporting = state.range(0) != 0;
  ScratchDirectory directory;
  corvane::Corvane monitor;
  monitor.Stream(Action("CONFIG", Settings(exporting, directory.Path())).View());
  Fill(monitor, kVisitors, 500, false);
  std::vector<Call> calls;
  for (int i = 0; i < 4096; ++i) calls.push_back(Request(i * 7919 % kVisitors, 500, false));
  std::vector<common::StreamFields> views;
  for (const Call &call : calls) views.push_back(call.View());
  const Call cycleCall = Action("CYCLE");
  const common::StreamFields cycle = cycleCall.View();
  size_t i = 0;
  for (auto _ : state) {
    monitor.Stream(views[i++ & 4095]);
    if (exporting && (i & ((1 << 18) - 1)) == 0) {
      state.PauseTiming();
      monitor.Stream(cycle);
      std::filesystem::remove(directory.Path() + "/KvCorvaneHits.Out");
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StreamKnownVisitor)->Arg(0)->Arg(1)->Iterations(4'000'000);

// Visitors with 500 hits each, every hit on another path than the one before, so that every
// hit is a HIT line of the snapshot.
void FillForSnapshot(corvane::Corvane &monitor, const ScratchDirectory &directory, int visitors) {
  monitor.Stream(Action("CONFIG", Settings(false, directory.Path())).View());
  Fill(monitor, visitors, 500, true);
}

void CountSnapshotBytes(benchmark::State &state, const ScratchDirectory &directory) {
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations()) *
      static_cast<int64_t>(std::filesystem::file_size(directory.Path() + "/KvCorvane.xml")));
}

// A cycle over 10,000 visitors with 500 hits each: bytes are the snapshot's.
void BM_SnapshotCycle(benchmark::State &state) {
  ScratchDirectory directory;
  common::SetClock(ReadNow, nullptr);
  {
    corvane::Corvane monitor;
    FillForSnapshot(monitor, directory, kVisitors);
    const Call cycleCall = Action("CYCLE");
    const common::StreamFields cycle = cycleCall.View();
    for (auto _ : state) monitor.Stream(cycle);
    if (std::filesystem::exists(directory.Path() + "/KvCorvaneErrors.LOG")) {
      state.SkipWithError("the cycle failed: see its error log");
    }
    CountSnapshotBytes(state, directory);
  }
  common::SetClock(nullptr, nullptr);
}
BENCHMARK(BM_SnapshotCycle)->Iterations(3)->Unit(benchmark::kMillisecond);

// The cycles of a busy site: 200 visitors with 500 hits each, and one new hit per visitor (untimed)
// before each cycle. The visitors' HIT lines are kept from cycle to cycle, so a cycle builds a line
// or two per visitor and writes the rest as kept.
void BM_SnapshotCycleKept(benchmark::State &state) {
  constexpr int kBusyVisitors = 200;
  ScratchDirectory directory;
  common::SetClock(ReadNow, nullptr);
  {
    corvane::Corvane monitor;
    FillForSnapshot(monitor, directory, kBusyVisitors);
    const Call cycleCall = Action("CYCLE");
    const common::StreamFields cycle = cycleCall.View();
    monitor.Stream(cycle);
    int hit = 500;
    for (auto _ : state) {
      state.PauseTiming();
      for (int visitor = 0; visitor < kBusyVisitors; ++visitor) {
        monitor.Stream(Request(visitor, hit, true).View());
      }
      ++hit;
      state.ResumeTiming();
      monitor.Stream(cycle);
    }
    CountSnapshotBytes(state, directory);
  }
  common::SetClock(nullptr, nullptr);
}
BENCHMARK(BM_SnapshotCycleKept)->Iterations(50)->Unit(benchmark::kMillisecond);

// A cycle that finds N visitors of one hit expired; linear in N.
void BM_PurgeExpired(benchmark::State &state) {
  ScratchDirectory directory;
  common::SetClock(ReadNow, nullptr);
  const int visitors = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    gNow = 38051.5;
    auto monitor = std::make_unique<corvane::Corvane>();
    monitor->Stream(Action("CONFIG", Settings(false, directory.Path())).View());
    Fill(*monitor, visitors, 1, false);
    gNow += 301.0 / 86400;
    state.ResumeTiming();
    monitor->Stream(Action("CYCLE").View());
    state.PauseTiming();
    if (monitor->Count() != 0) state.SkipWithError("visitors left after the purge");
    monitor.reset();
    state.ResumeTiming();
  }
  gNow = 38051.5;
  common::SetClock(nullptr, nullptr);
  state.SetComplexityN(visitors);
}
BENCHMARK(BM_PurgeExpired)
    ->RangeMultiplier(2)
    ->Range(25'000, 100'000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// Bytes in use from the heap and from blocks the allocator maps on their own.
size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Heap bytes per held hit, everything counted (visitors, pool, index), for 10,000 visitors
// with 1 and with 500 hits each; "marginal" is what one more hit costs.
void BM_MemoryPerHit(benchmark::State &state) {
  ScratchDirectory directory;
  common::SetClock(ReadNow, nullptr);
  for (auto _ : state) {
    const size_t before = HeapInUse();
    auto monitor = std::make_unique<corvane::Corvane>();
    monitor->Stream(Action("CONFIG", Settings(false, directory.Path())).View());
    Fill(*monitor, kVisitors, 1, true);
    const size_t oneHit = HeapInUse() - before;
    Fill(*monitor, kVisitors, 499, true);
    const size_t fullLists = HeapInUse() - before;
    state.counters["bytes_per_hit"] = static_cast<double>(fullLists) / (kVisitors * 500.0);
    state.counters["marginal_bytes_per_hit"] =
        static_cast<double>(fullLists - oneHit) / (kVisitors * 499.0);
  }
  common::SetClock(nullptr, nullptr);
}
BENCHMARK(BM_MemoryPerHit)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
