// How soon a steady visitor is deflected by a real nginx under flowdeck follow: from the append
// of the hit that makes its record shieldable (the fourth, with the hits lowered to 4) to the
// map file holding its entry, the reload command done, and nginx answering it with the deflect
// page. Each round is a new visitor whose last hit lands at another point of the shield cycle
// (--shield-cycle 1), so the figures cover the whole cycle: the budget is one cycle plus 100 ms.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

#include "FollowProcess.h"
#include "ShieldTesting.h"
#include "support/HttpClient.h"
#include "support/NginxServer.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::system_clock;
using shield_testing::AppendTo;
using testing_support::ReadFile;

// A Combined line of `address` fetching the admin login, stamped `second` (Unix time).
std::string HitAt(const std::string &address, std::time_t second) {
  char time[64];
  std::tm local{};
  localtime_r(&second, &local);
  std::strftime(time, sizeof time, "[%d/%b/%Y:%H:%M:%S %z]", &local);
  return address + " - - " + time + " \"GET /admin/login.php HTTP/1.1\" 200 5 \"-\" \"bench\"\n";
}

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Statistics of one stage over the rounds, in milliseconds.
void Report(benchmark::State &state, const std::string &name, std::vector<double> seconds) {
  if (seconds.empty()) return;
  std::sort(seconds.begin(), seconds.end());
  double sum = 0;
  for (double s : seconds) sum += s;
  state.counters[name + "_mean_ms"] = 1000 * sum / static_cast<double>(seconds.size());
  state.counters[name + "_median_ms"] = 1000 * seconds[seconds.size() / 2];
  state.counters[name + "_max_ms"] = 1000 * seconds.back();
}

void BM_FollowHitToDeflect(benchmark::State &state) {
  testing_support::Port80 port80;
  if (!port80.NothingListens(shield_testing::kShieldServer) ||
      !testing_support::NginxServer::Available()) {
    state.SkipWithError("needs nginx and port 80 of 127.0.0.2");
    return;
  }
  testing_support::NginxServer nginx;
  const std::string map = shield_testing::UseShieldSnippets(nginx);
  nginx.WritePage("/admin/login.php", "real login");
  nginx.WritePage("/sorry/login.htm", "deflected");
  testing_support::TempDir dir;
  // The reload command, and the moment it was done.
  const std::string reload = dir.File("reload"), reloaded = dir.File("reloaded");
  testing_support::WriteFile(
      reload, "#!/bin/sh\n" + nginx.ReloadCommand() + " && date +%s.%N > " + reloaded + "\n");
  chmod(reload.c_str(), 0755);
  const std::string log = dir.File("site.log");
  AppendTo(log, "");
  shield_testing::FollowProcess follow(
      dir.Path(),
      "ShieldSeconds = 3600\nNeverShield =\nPeriodBase = 14\nNginxMapFile = " + map +
          "\nNginxReload = " + reload + "\nNginxTest = " + nginx.TestCommand() + "\n",
      {log}, {"--shield-cycle", "1", "--monitor-cycle", "3600", "--server-name", "shop.test"});
  if (!follow.Start() ||
      !shield_testing::WaitUntil([&] { return testing_support::FileExists(map); }, 10) ||
      !nginx.Start()) {
    state.SkipWithError("flowdeck follow or nginx did not start");
    return;
  }
  std::vector<double> toMap, toReload, toDeflect;
  int round = 0;
  for (auto _ : state) {
    const std::string visitor = "127.0.1." + std::to_string(++round);
    // Three hits a second apart, the fourth in the next second at a point of its own.
    const std::time_t second = std::time(nullptr) + 1;
    AppendTo(log,
             HitAt(visitor, second - 3) + HitAt(visitor, second - 2) + HitAt(visitor, second - 1));
    const double phase = std::fmod(round * 0.377, 0.9);
    std::this_thread::sleep_until(
        Clock::from_time_t(second) +
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(phase)));
    const Clock::time_point hit = Clock::now();
    AppendTo(log, HitAt(visitor, second));
    const std::string entry = "\"" + visitor + " shop.test /admin/login.php\"";
    while (ReadFile(map).find(entry) == std::string::npos && Seconds(hit, Clock::now()) < 10) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    toMap.push_back(Seconds(hit, Clock::now()));
    bool deflected = false;
    while (!deflected && Seconds(hit, Clock::now()) < 10) {
      deflected =
          testing_support::HttpGet(visitor, nginx.Port(), "shop.test", "/admin/login.php").body ==
          "deflected";
      if (!deflected) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double inForce = Seconds(hit, Clock::now());
    if (!deflected) {
      state.SkipWithError("the visitor was not deflected within 10 s");
      break;
    }
    toDeflect.push_back(inForce);
    // The reload command says when it was done just after nginx has its signal.
    double reloadedAt = 0;
    shield_testing::WaitUntil(
        [&] {
          reloadedAt = std::atof(ReadFile(reloaded).c_str());
          return reloadedAt > std::chrono::duration<double>(hit.time_since_epoch()).count();
        },
        5);
    toReload.push_back(reloadedAt - std::chrono::duration<double>(hit.time_since_epoch()).count());
    state.SetIterationTime(inForce);
  }
  Report(state, "map", toMap);
  Report(state, "reload_done", toReload);
  Report(state, "deflect", toDeflect);
  follow.Stop();
}
BENCHMARK(BM_FollowHitToDeflect)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
