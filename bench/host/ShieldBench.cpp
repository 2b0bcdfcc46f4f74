// Speed of the shield actions: rewriting a map file of 100,000 active shields after a batch
// (the budget is 100 ms), rendering all of them anew as a start with that many restored does,
// the whole path from a queued raise to the reloaded map, and the per-request check of an
// address list.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "base/AddressRanges.h"
#include "base/HostConfig.h"
#include "shield/ActiveShields.h"
#include "shield/ApacheMap.h"
#include "shield/MapFile.h"
#include "shield/MapLines.h"
#include "shield/NginxMap.h"
#include "shield/ShieldActions.h"

namespace {

// A directory of its own under the temporary directory, removed at the end.
class BenchDir {
 public:
  BenchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "flowdeck-shield-bench-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : "/tmp";
  }
  ~BenchDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

host::Shield BenchShield(int64_t i) {
  host::Shield shield;
  char v6[40];
  snprintf(v6, sizeof v6, "2001:db8::%x:%x", static_cast<unsigned>(i % 65536),
           static_cast<unsigned>(i / 65536));
  shield.address = i % 4 == 0 ? std::string(v6)
                              : "10." + std::to_string(i >> 16 & 255) + "." +
                                    std::to_string(i >> 8 & 255) + "." + std::to_string(i & 255);
  shield.host = "shop" + std::to_string(i % 7) + ".example.com";
  shield.resource = "/admin/login" + std::to_string(i) + ".php";
  shield.deflect = "/deflect/login" + std::to_string(i) + ".html";
  shield.raisedAt = 1700000000;
  shield.expiresAt = shield.raisedAt + 3600;
  host::ActiveShields::Normalize(shield);
  return shield;
}

// Putting the file of 100,000 shields in place after a batch that changed one: rendering
// the kept lines, comparing, writing and renaming.
template <bool (*Append)(std::string &, const host::Shield &), bool kFoldCase>
void BM_MapFileRewrite(benchmark::State &state) {
  host::MapLines lines(Append, kFoldCase);
  for (int64_t i = 0; i < state.range(0); ++i) lines.Raise(BenchShield(i));
  BenchDir dir;
  host::MapFile file(dir.File("shields.map"));
  std::string content;
  size_t bytes = 0;
  int64_t round = 0;
  for (auto _ : state) {
    const host::Shield extra = BenchShield(state.range(0) + round++);
    lines.Raise(extra);
    lines.Render(content);
    bytes = content.size();
    const host::MapFile::Outcome outcome = file.Update(content);
    if (!outcome.problem.empty()) state.SkipWithError(outcome.problem.c_str());
    lines.Lift(extra);
  }
  state.counters["file_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_MapFileRewrite<host::NginxMap::AppendEntry, true>)
    ->Name("BM_NginxMapRewrite")
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapFileRewrite<host::ApacheMap::AppendEntry, false>)
    ->Name("BM_ApacheMapRewrite")
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

// Rendering every line anew, as a first start with 100,000 restored shields does.
void BM_NginxMapFirstRender(benchmark::State &state) {
  std::vector<host::Shield> shields;
  for (int64_t i = 0; i < state.range(0); ++i) shields.push_back(BenchShield(i));
  std::string file;
  for (auto _ : state) {
    auto lines = std::make_unique<host::MapLines>(host::NginxMap::AppendEntry, true);
    lines->Reserve(shields.size());
    for (const host::Shield &shield : shields) lines->Raise(shield);
    lines->Render(file);
    benchmark::DoNotOptimize(file.data());
    state.PauseTiming();
    lines.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_NginxMapFirstRender)->Arg(100000)->Unit(benchmark::kMillisecond);

// From Apply on the streaming thread to the map in place and the reload command ("true")
// done, with 100,000 shields already active.
void BM_RaiseToReloadedMap(benchmark::State &state) {
  BenchDir dir;
  host::HostConfig config;
  config.Set("NginxMapFile", dir.File("nginx.map"), "bench");
  config.Set("NginxReload", "true", "bench");
  config.Set("NginxTest", "", "bench");
  host::ShieldActions actions(config);
  std::vector<host::Shield> active;
  for (int64_t i = 0; i < state.range(0); ++i) active.push_back(BenchShield(i));
  actions.Start(active, 1700000000);
  int64_t round = 0;
  for (auto _ : state) {
    host::Shield shield = BenchShield(state.range(0) + round++);
    actions.Apply({shield}, {}, 1700000000);
    actions.Drain();
    state.PauseTiming();
    actions.Apply({}, {shield}, 1700000000);
    actions.Drain();
    state.ResumeTiming();
  }
  for (const host::ShieldProblem &problem : actions.TakeProblems())
    state.SkipWithError(problem.text.c_str());
}
BENCHMARK(BM_RaiseToReloadedMap)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The IgnoreAddresses check every request makes.
void BM_AddressListContains(benchmark::State &state) {
  const host::AddressRanges ranges = host::AddressRanges::Parse(
      "127.0.0.0/8, ::1, 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16, 2001:db8::/32, "
      "203.0.113.7, 198.51.100.0/24");
  const std::string addresses[] = {"203.0.113.9", "192.168.7.1", "2001:db8::1", "8.8.8.8",
                                   "2a00:1450::200e"};
  size_t i = 0, found = 0;
  for (auto _ : state) found += ranges.Contains(addresses[i++ % 5]);
  benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_AddressListContains);

}  // namespace

BENCHMARK_MAIN();
