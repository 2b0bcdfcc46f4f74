// Verification latency against a local dnsmasq: the time from the Check that starts a lookup
// to the answer (reverse and forward query), over a few hundred addresses, none cached. Reports
// the mean and the 99th percentile of the lookups' own times.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "shield/BotVerifier.h"
#include "support/DnsServer.h"

namespace {

using host::BotVerifier;

void BM_VerifyAgainstLocalDns(benchmark::State &state) {
  const int addresses = static_cast<int>(state.range(0));
  testing_support::DnsServer dns;
  for (int i = 0; i < addresses; ++i) {
    const std::string address =
        "66.249." + std::to_string(64 + i / 250) + "." + std::to_string(1 + i % 250);
    std::string name = "crawl-" + address + ".googlebot.com";
    std::replace(name.begin(), name.end() - 14, '.', '-');
    dns.AddReverse(address, name);
    dns.AddHost(name, address);
  }
  if (!dns.Start()) {
    state.SkipWithError(dns.Problem().c_str());
    return;
  }
  host::HostConfig config;
  config.Set("Resolver", dns.Resolver(), "bench");
  std::vector<double> seconds;
  int64_t now = 1'700'000'000'000;
  for (auto _ : state) {
    BotVerifier verifier(config);
    for (int i = 0; i < addresses; ++i) {
      const std::string address =
          "66.249." + std::to_string(64 + i / 250) + "." + std::to_string(1 + i % 250);
      const auto start = std::chrono::steady_clock::now();
      while (verifier.Check(address, "googlebot", now).verdict == BotVerifier::Verdict::kPending)
        std::this_thread::sleep_for(std::chrono::microseconds(20));
      seconds.push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    now += BotVerifier::kVerifiedMs;
  }
  std::sort(seconds.begin(), seconds.end());
  double total = 0;
  for (double each : seconds) total += each;
  state.counters["mean_ms"] = 1000 * total / static_cast<double>(seconds.size());
  state.counters["p99_ms"] = 1000 * seconds[seconds.size() * 99 / 100];
  state.counters["max_ms"] = 1000 * seconds.back();
}
BENCHMARK(BM_VerifyAgainstLocalDns)->Arg(400)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
