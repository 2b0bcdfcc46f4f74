// Costs of the shield plug-in's request path, hit recording and cycle.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Clock.h"
#include "PluginDirectory.h"
#include "SharedObjects.h"
#include "Vantrel.h"
#include "clsUsers.h"

namespace {

double gNow = 38051.5;  // 5 March 2004, noon: nobody expires while the clock stands still
double FixedClock(void *) {
  return gNow;
}

// A plug-in directory of its own holding a definitions file of `count` tripwires.
class BenchDirectory {
 public:
  explicit BenchDirectory(int count) {
    char pattern[] = "/tmp/vantrel-bench-XXXXXX";
    path_ = mkdtemp(pattern);
    std::ofstream(path_ + "/KvVantrel.CFG", std::ios::binary) << Definitions(count);
    common::SetPluginDirectory(path_);
    common::SetClock(FixedClock, nullptr);
  }
  ~BenchDirectory() {
    vantrel::ReleaseSharedObjects();
    common::SetPluginDirectory("");
    std::filesystem::remove_all(path_);
  }

 private:
  // A mix of hosts (one in five for every host) and of mask forms: whole directories, single
  // files, wildcard directories, extensions, physical paths.
  static std::string Definitions(int count) {
    static const char *const kHosts[] = {"", "shop", "www", "api", "admin"};
    std::string text = "<TRIPWIRES>\r\n";
    for (int k = 0; k < count; ++k) {
      const std::string n = std::to_string(k);
      const std::string masks[] = {"/area" + n + "/*.*", "/area" + n + "/secret.asp",
                                   "/*/admin" + n + ".asp", "/cgi" + n + "/*/run.*",
                                   "C:\\site\\area" + n + "\\*.*"};
      text += "<TRIPWIRE ACTIVE=\"1\" HOST=\"" + std::string(kHosts[k % 5]) + "\" RESOURCE=\"" +
              masks[k % 5] +
              "\" DEFLECT=\"/sorry/*.htm\" SENSITIVITY=\"0\" STRENGTH=\"0\" INVERSE=\"" +
              (k % 17 == 16 ? "1" : "0") + "\" CARRYPARAMETERS=\"0\" />\r\n";
    }
    return text + "</TRIPWIRES>\r\n";
  }

  std::string path_;
};

// Request fields that stay alive for the whole benchmark.
struct Request {
  std::vector<std::string> texts;
  common::StreamFields fields{};

  Request(const std::string &method, const std::string &serial, const std::string &key,
          const std::string &host, const std::string &path, const std::string &physical)
      : texts{method, serial, key, host, path, physical} {
    fields[common::kAction] = texts[0];
    fields[common::kArrivalSerial] = texts[1];
    fields[common::kKey] = texts[2];
    fields[common::kRemoteAddr] = "10.0.0.1";
    fields[common::kServerName] = texts[3];
    fields[common::kPathInfo] = texts[4];
    fields[common::kPathTranslated] = texts[5];
  }
};

// Ordinary traffic: pages, images and scripts on several hosts; about one request in 16 falls
// under a tripwire.
std::vector<std::unique_ptr<Request>> Traffic() {
  static const char *const kHosts[] = {"shop", "www", "api", "static"};
  static const char *const kPaths[] = {
      "/products/item.htm",  "/images/logo.gif",    "/",
      "/css/site.css",       "/search/results.asp", "/shop/cart.asp",
      "/help/faq/index.htm", "/js/app.min.js"};
  std::vector<std::unique_ptr<Request>> traffic;
  for (int i = 0; i < 64; ++i) {
    const std::string host = kHosts[i % 4];
    std::string path = kPaths[i % 8];
    if (i % 16 == 5) path = "/area" + std::to_string(i % 10 * 5) + "/page.htm";
    const std::string physical = "C:\\site" + path;
    traffic.push_back(std::make_unique<Request>(i % 8 == 3 ? "POST" : "GET", "40305140709000",
                                                "visitor" + std::to_string(i % 7), host, path,
                                                physical));
  }
  return traffic;
}

void BM_StreamRequest(benchmark::State &state) {
  BenchDirectory directory(static_cast<int>(state.range(0)));
  vantrel::Vantrel plugin;
  const auto traffic = Traffic();
  size_t next = 0;
  for (auto _ : state) {
    plugin.Stream(traffic[next]->fields);
    next = (next + 1) % traffic.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StreamRequest)->Arg(100)->Arg(10);

// The path of record n, written into one buffer, as a host hands over a request it just read.
std::string_view RecordPath(std::string &buffer, size_t n) {
  buffer = "/area0/page00000.htm";
  for (size_t digit = 15; digit > 10; --digit, n /= 10)
    buffer[digit] = static_cast<char>('0' + n % 10);
  return buffer;
}

void BM_RecordHit(benchmark::State &state) {
  BenchDirectory directory(1);
  const size_t records = static_cast<size_t>(state.range(0));
  std::string path;
  vantrel::clsUsers users;
  for (size_t i = 0; i < records; ++i) {
    users.AddTransaction(vantrel::HitAction::kGet, 1, "visitor", "10.0.0.1", "r",
                         RecordPath(path, i), "", "shop", 1);
  }
  size_t next = 0;
  double serial = 40305140709000;
  for (auto _ : state) {
    users.AddTransaction(vantrel::HitAction::kGet, serial, "VISITOR", "10.0.0.1", "r",
                         RecordPath(path, next), "", "shop", 1);
    serial += 1;
    next = (next + 7919) % records;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordHit)->Arg(10)->Arg(10000);

// 100,000 visitors with 20 hits each on one tripwired resource, judged every cycle: the
// threshold is out of reach, so no record is ever shielded and every one is weighed. With
// `fresh`, every visitor gets one more hit before each cycle, so every correlation is worked
// out anew.
void BM_Cycle(benchmark::State &state) {
  const bool fresh = state.range(0) != 0;
  BenchDirectory directory(100);
  vantrel::Vantrel plugin;
  Request config("CONFIG", "", "", "", "", "");
  config.fields[common::kUserAgent] = ";/f/;x.dll;Add;Remove;2;0;10;0;False;;False";
  plugin.Stream(config.fields);
  constexpr int kVisitors = 100000;
  constexpr int kHits = 20;
  Request hit("GET", "", "", "www", "/area0/page.htm", "");
  std::vector<std::string> keys;
  for (int v = 0; v < kVisitors; ++v) keys.push_back("visitor" + std::to_string(v));
  auto addHit = [&](int v, int h) {
    char serial[32];
    std::snprintf(serial, sizeof serial, "403051400%02d%03d", h * 2 % 60,
                  (v * 37 + h * 113) % 1000);
    hit.texts[1] = serial;
    hit.fields[common::kArrivalSerial] = hit.texts[1];
    hit.fields[common::kKey] = keys[static_cast<size_t>(v)];
    plugin.Stream(hit.fields);
  };
  for (int v = 0; v < kVisitors; ++v) {
    for (int h = 0; h < kHits; ++h) addHit(v, h);
  }
  Request cycle("CYCLE", "", "", "", "", "");
  int round = kHits;
  for (auto _ : state) {
    if (fresh) {
      state.PauseTiming();
      for (int v = 0; v < kVisitors; ++v) addHit(v, round);
      ++round;
      state.ResumeTiming();
    }
    plugin.Stream(cycle.fields);
  }
}
BENCHMARK(BM_Cycle)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
