// The cost of BotClaims::Claimed, asked for every request: browsers (most requests, turned away
// by the stem pass) and crawlers (which also walk the tokens).
#include <benchmark/benchmark.h>

#include "shield/BotClaims.h"

namespace {

const host::BotClaims kClaims(
    host::BotClaims::ActiveCrawlers("google, bing, apple, yandex, baidu, duckduckgo"));

void Claimed(benchmark::State &state, const char *agent) {
  const std::string text(agent);
  for (auto _ : state) benchmark::DoNotOptimize(kClaims.Claimed(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

BENCHMARK_CAPTURE(Claimed, chrome,
                  "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
                  "Gecko) Chrome/120.0.0.0 Safari/537.36");
BENCHMARK_CAPTURE(Claimed, iphone,
                  "Mozilla/5.0 (iPhone; CPU iPhone OS 17_2 like Mac OS X) AppleWebKit/605.1.15 "
                  "(KHTML, like Gecko) Version/17.2 Mobile/15E148 Safari/604.1");
BENCHMARK_CAPTURE(Claimed, googlebot_smartphone,
                  "Mozilla/5.0 (Linux; Android 6.0.1; Nexus 5X Build/MMB29P) AppleWebKit/537.36 "
                  "(KHTML, like Gecko) Chrome/120.0.6099.216 Mobile Safari/537.36 (compatible; "
                  "Googlebot/2.1; +http://www.google.com/bot.html)");
BENCHMARK_CAPTURE(Claimed, ahrefs_no_claim,
                  "Mozilla/5.0 (compatible; AhrefsBot/7.0; +http://ahrefs.com/robot/)");

}  // namespace

BENCHMARK_MAIN();
