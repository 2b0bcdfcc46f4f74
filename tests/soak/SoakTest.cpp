// Both plug-ins, loaded as a host loads them, under a long stream of requests from many visitors
// that come and go. Size: FLOWDECK_SOAK_REQUESTS (default kCiRequests, some seconds in the
// optimised build); the full run, 10 million requests from about 100,000 visitors, is
// FLOWDECK_SOAK_REQUESTS=10000000 build/bin/soak_tests
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "SoakTraffic.h"
#include "support/PluginLoader.h"
#include "support/TempDir.h"

namespace {

using testing_support::Fields;
using testing_support::LoadedPlugin;

#if defined(__SANITIZE_ADDRESS__)
#define SOAK_UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_UNDER_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef SOAK_UNDER_ADDRESS_SANITIZER
// The sanitizer slows everything down some tenfold and keeps freed memory in quarantine, so
// its run is smaller and does not judge memory.
constexpr uint64_t kCiRequests = 200'000;
constexpr bool kMemoryJudged = false;
#else
constexpr uint64_t kCiRequests = 1'000'000;
constexpr bool kMemoryJudged = true;
#endif
// The flood: one address hitting one tripwired script, unevenly, never steadily enough for a
// shield. FLOWDECK_SOAK_FLOOD_REQUESTS sets its size; the full run is 10 million.
constexpr uint64_t kCiFloodRequests = kCiRequests;
// Growth that the flood may cause at most: what a record keeps of it (32767 hits of 16 bytes)
// and the monitor's 500 latest hits, with room for what the allocator keeps.
constexpr size_t kFloodGrowthBound = size_t{4} << 20;
constexpr int64_t kCycleMilliseconds = 60'000;
constexpr int64_t kDayMilliseconds = 86'400'000;
constexpr uint32_t kHitCap = 500;
constexpr uint32_t kShieldHits = 15;  // PeriodBase 20 - Sensitivity 5 * PeriodIncrement 1

// The tripwired probe path, a path that the second definition exempts, and one no visitor uses.
constexpr char kDefinitions[] =
    "<TRIPWIRE ACTIVE=\"True\" DESCRIPTION=\"probes\" HOST=\"\" RESOURCE=\"/scripts/*.*\" "
    "DEFLECT=\"/sorry/*.htm\" SENSITIVITY=\"5\" STRENGTH=\"3\" INVERSE=\"False\" "
    "CARRYPARAMETERS=\"False\" />\r\n"
    "<TRIPWIRE ACTIVE=\"True\" DESCRIPTION=\"exempt\" HOST=\"\" RESOURCE=\"/scripts/ok.cgi\" "
    "DEFLECT=\"\" SENSITIVITY=\"0\" STRENGTH=\"0\" INVERSE=\"True\" CARRYPARAMETERS=\"False\" "
    "/>\r\n"
    "<TRIPWIRE ACTIVE=\"True\" DESCRIPTION=\"admin\" HOST=\"shop\" RESOURCE=\"/admin/*.php\" "
    "DEFLECT=\"/sorry.htm\" SENSITIVITY=\"0\" STRENGTH=\"0\" INVERSE=\"False\" "
    "CARRYPARAMETERS=\"False\" />\r\n";
// No server: the shields of this test are counted in the tripwire file, and no request leaves
// the process.
constexpr char kShieldSettings[] = ";/flowdeck;/filter;A=1;R=1;0.97;0.01;20;1;False;;False";

uint64_t RequestsToStream(const char *variable, uint64_t otherwise) {
  const char *text = std::getenv(variable);
  if (text == nullptr || *text == '\0') return otherwise;
  return std::strtoull(text, nullptr, 10);
}

size_t ResidentBytes() {
  long pages = 0, resident = 0;
  if (std::FILE *statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

size_t PeakResidentBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<size_t>(usage.ru_maxrss) * 1024;
}

double Megabytes(size_t bytes) {
  return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// The arrival serial of 5 March 2004 at a time of day.
std::string Serial(int64_t milliseconds) {
  char text[24];
  std::snprintf(text, sizeof text, "40305%02d%02d%02d%03d",
                static_cast<int>(milliseconds / 3'600'000),
                static_cast<int>(milliseconds / 60'000 % 60),
                static_cast<int>(milliseconds / 1000 % 60), static_cast<int>(milliseconds % 1000));
  return text;
}

std::string VisitorKey(uint32_t visitor) {
  return "v" + std::to_string(visitor);
}

std::string AttributeOf(const std::string &line, const std::string &name) {
  const std::string opening = " " + name + "=\"";
  const size_t start = line.find(opening);
  if (start == std::string::npos) return std::string();
  const size_t from = start + opening.size();
  return line.substr(from, line.find('"', from) - from);
}

// Two plug-ins that get the same calls, one after the other, as a host sends them.
class BothPlugins {
 public:
  explicit BothPlugins(const std::string &directory)
      : shield_("KvVantrel.so", directory), monitor_("KvCorvane.so", directory) {
    shield_.SetClock(&now_);
    monitor_.SetClock(&now_);
    shieldObject_ = shield_.Create();
    monitorObject_ = monitor_.Create();
  }
  ~BothPlugins() {
    shield_.Destroy(shieldObject_);
    monitor_.Destroy(monitorObject_);
  }

  void SetTime(int64_t milliseconds) {
    now_ = base_ + static_cast<double>(milliseconds) / static_cast<double>(kDayMilliseconds);
  }
  void Stream(const Fields &fields) {
    ASSERT_EQ(shield_.Stream(shieldObject_, fields), 0);
    ASSERT_EQ(monitor_.Stream(monitorObject_, fields), 0);
  }
  void Configure(const std::string &shieldText, const std::string &monitorText) {
    Fields fields{};
    fields[0] = "CONFIG";
    fields[13] = shieldText;
    ASSERT_EQ(shield_.Stream(shieldObject_, fields), 0);
    fields[13] = monitorText;
    ASSERT_EQ(monitor_.Stream(monitorObject_, fields), 0);
  }
  int32_t Visitors() const {
    int32_t count = -1;
    EXPECT_EQ(monitor_.Count(monitorObject_, &count), 0);
    return count;
  }

 private:
  LoadedPlugin shield_;
  LoadedPlugin monitor_;
  flowdeck_plugin *shieldObject_ = nullptr;
  flowdeck_plugin *monitorObject_ = nullptr;
  double base_ = testing_support::LocalDate(2004, 3, 5, 0, 0, 0);
  double now_ = base_;
};

// The fields of a request, rebuilt in place for each one.
class RequestFields {
 public:
  RequestFields() {
    fields_[3] = "us";
    fields_[11] = "shop";
    fields_[12] = "80";
    fields_[13] = "Mozilla/5.0 (X11; Linux x86_64) Soak/1.0";
    fields_[16] = "0";
  }
  const Fields &For(const soak::SoakRequest &request) {
    fields_[0] = request.action;
    fields_[1] = Serial(request.milliseconds);
    fields_[2] = VisitorKey(request.visitor);
    const uint32_t v = request.visitor;
    char address[24];
    std::snprintf(address, sizeof address, "10.%u.%u.%u", v >> 16 & 255, v >> 8 & 255, v & 255);
    fields_[4] = fields_[5] = fields_[6] = address;
    fields_[8] = request.path;
    fields_[9] = "/var/www/html" + std::string(request.path);
    fields_[10] = "rid=" + std::to_string(request.id);
    return fields_;
  }

 private:
  Fields fields_{};
};

struct MemorySample {
  size_t resident;
  int32_t visitors;
};

// Reads the hit export file: every request's line is there exactly once and whole.
void ExpectEveryRequestExportedOnce(const std::string &path, uint64_t requests) {
  std::vector<bool> seen(requests, false);
  std::ifstream file(path, std::ios::binary);
  std::string line;
  uint64_t lines = 0, duplicates = 0, malformed = 0;
  while (std::getline(file, line)) {
    ++lines;
    if (line.empty() || line.back() != '\r') {
      ++malformed;
      continue;
    }
    line.pop_back();
    const char separator = line.front();
    if (std::count(line.begin(), line.end(), separator) != 15) ++malformed;
    // The query string, "rid=" and the request's number, is the 11th value.
    size_t separatorAt = 0;
    for (int value = 1; value < 11 && separatorAt != std::string::npos; ++value) {
      separatorAt = line.find(separator, separatorAt + 1);
    }
    const bool tagged =
        separatorAt != std::string::npos && line.compare(separatorAt + 1, 4, "rid=") == 0;
    const uint64_t id =
        tagged ? std::strtoull(line.c_str() + separatorAt + 5, nullptr, 10) : requests;
    if (id >= requests) {
      ++malformed;
    } else if (seen[id]) {
      ++duplicates;
    } else {
      seen[id] = true;
    }
  }
  EXPECT_EQ(lines, requests) << "exported lines vs requests";
  EXPECT_EQ(duplicates, 0u);
  EXPECT_EQ(malformed, 0u);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), false), 0) << "requests never exported";
  std::printf("soak: exported lines %llu for %llu requests\n",
              static_cast<unsigned long long>(lines), static_cast<unsigned long long>(requests));
}

// The snapshot lists exactly the visitors held, each with its hits up to the cap: those whose
// expiry lies ahead are there, those whose expiry passed a second or more ago are gone.
void ExpectSnapshotMatches(const std::string &path, const soak::SoakTraffic &traffic, int64_t now,
                           int32_t held) {
  std::unordered_map<std::string, std::string> listed;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (line.starts_with("\t\t<USER "))
      listed[AttributeOf(line, "KEY")] = AttributeOf(line, "REQS");
  }
  EXPECT_EQ(static_cast<int32_t>(listed.size()), held) << "snapshot visitors vs Count";
  const auto visitors = traffic.Visitors();
  int64_t surelyHeld = 0;
  for (uint32_t v = 0; v < visitors.size(); ++v) {
    const soak::VisitorHistory &visitor = visitors[v];
    if (visitor.requests == 0) continue;
    const int64_t expires = visitor.lastMilliseconds + (visitor.endedSession ? 15'000 : 300'000);
    const auto entry = listed.find(VisitorKey(v));
    if (now <= expires - 10) {
      ++surelyHeld;
      ASSERT_NE(entry, listed.end()) << "visitor " << v << " is missing from the snapshot";
      const std::string expected = visitor.requests > kHitCap ? "&gt;" + std::to_string(kHitCap)
                                                              : std::to_string(visitor.requests);
      EXPECT_EQ(entry->second, expected) << "hits of visitor " << v;
    } else if (now >= expires + 1010) {
      EXPECT_EQ(entry, listed.end()) << "expired visitor " << v << " is still in the snapshot";
    }
  }
  EXPECT_GT(surelyHeld, 0);
  std::printf("soak: snapshot lists %zu visitors, Count %d\n", listed.size(), held);
}

// Each probe that made enough steady requests was shielded once; nobody else was.
void ExpectProbesShielded(const std::string &path, const soak::SoakTraffic &traffic) {
  int64_t probes = 0;
  for (const soak::VisitorHistory &visitor : traffic.Visitors()) {
    if (visitor.probe && visitor.requests >= kShieldHits) ++probes;
  }
  int64_t shields = 0;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (line.find("<TRIPWIRE ") == std::string::npos) continue;
    ++shields;
    EXPECT_EQ(AttributeOf(line, "RESOURCE"), soak::SoakTraffic::kProbePath);
  }
  EXPECT_EQ(shields, probes);
  EXPECT_GT(shields, 0);
  std::printf("soak: %lld shields in the tripwire file\n", static_cast<long long>(shields));
}

// Memory once the visitor set is steady: the last quarter of the run holds no more than the
// quarter before it did, give or take a little that the allocator keeps.
void ExpectNoGrowth(const std::vector<MemorySample> &samples) {
  ASSERT_GE(samples.size(), 8u);
  const size_t half = samples.size() / 2, threeQuarters = samples.size() * 3 / 4;
  size_t earlier = 0, later = 0;
  int32_t fewest = INT32_MAX, most = 0;
  for (size_t i = half; i < samples.size(); ++i) {
    size_t &peak = i < threeQuarters ? earlier : later;
    peak = std::max(peak, samples[i].resident);
    fewest = std::min(fewest, samples[i].visitors);
    most = std::max(most, samples[i].visitors);
  }
  std::printf(
      "soak: second half: %d to %d visitors held; resident %.1f MB at most in its first "
      "half, %.1f MB in its second\n",
      fewest, most, Megabytes(earlier), Megabytes(later));
  if (!kMemoryJudged) {
    std::printf("soak: memory not judged under AddressSanitizer\n");
    return;
  }
  EXPECT_LE(later, earlier + earlier / 50 + (1u << 20)) << "memory grows with a steady visitor set";
}

TEST(SoakTest, ManyVisitorsWithChurnStayBoundedAndExportEveryRequestOnce) {
  const uint64_t requests = RequestsToStream("FLOWDECK_SOAK_REQUESTS", kCiRequests);
  ASSERT_GE(requests, 100'000u) << "FLOWDECK_SOAK_REQUESTS is too small for a steady state";
  testing_support::TempDir dir;
  testing_support::WriteFile(dir.File("KvVantrel.CFG"), kDefinitions);
  const auto started = std::chrono::steady_clock::now();
  BothPlugins plugins(dir.Path());
  plugins.Configure(kShieldSettings,
                    "127.0.0.1;;;;;0.95;0.01;20;1;True;" + dir.Path() + "/;0;2;3;False");

  soak::SoakTraffic traffic(requests, 20040305);
  RequestFields fields;
  std::vector<MemorySample> samples;
  samples.reserve(static_cast<size_t>(2 * kDayMilliseconds / kCycleMilliseconds));
  Fields cycle{};
  cycle[0] = "CYCLE";
  int64_t nextCycle = kCycleMilliseconds;
  soak::SoakRequest request;
  while (traffic.Next(request)) {
    ASSERT_LT(request.milliseconds, kDayMilliseconds) << "the run stays within one day";
    for (; nextCycle <= request.milliseconds; nextCycle += kCycleMilliseconds) {
      plugins.SetTime(nextCycle);
      plugins.Stream(cycle);
      samples.push_back({ResidentBytes(), plugins.Visitors()});
    }
    plugins.SetTime(request.milliseconds);
    plugins.Stream(fields.For(request));
    if (testing::Test::HasFatalFailure()) return;
  }
  const int64_t end = nextCycle;
  plugins.SetTime(end);
  plugins.Stream(cycle);
  const int32_t held = plugins.Visitors();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::printf(
      "soak: %llu requests from %zu visitors (%u at once) in %.1f s, %zu cycles; "
      "%d visitors held at the end; peak resident %.1f MB\n",
      static_cast<unsigned long long>(requests), traffic.Visitors().size(), traffic.Concurrency(),
      seconds, samples.size() + 1, held, Megabytes(PeakResidentBytes()));
  ExpectNoGrowth(samples);
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvVantrelErrors.LOG")));
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvCorvaneErrors.LOG")));
  ExpectEveryRequestExportedOnce(dir.File("KvCorvaneHits.Out"), requests);
  ExpectSnapshotMatches(dir.File("KvCorvane.xml"), traffic, end, held);
  ExpectProbesShielded(dir.File("KvVantrel.xml"), traffic);
}

// A visitor that floods one tripwired resource without ever pacing steadily is judged at every
// cycle and never shielded: what it leaves behind must not grow with the number of requests.
TEST(SoakTest, AOneAddressFloodOnOneResourceHoldsBoundedMemory) {
  const uint64_t requests = RequestsToStream("FLOWDECK_SOAK_FLOOD_REQUESTS", kCiFloodRequests);
  ASSERT_GE(requests, 100'000u) << "FLOWDECK_SOAK_FLOOD_REQUESTS is too small to tell growth";
  testing_support::TempDir dir;
  testing_support::WriteFile(dir.File("KvVantrel.CFG"), kDefinitions);
  BothPlugins plugins(dir.Path());
  plugins.Configure(kShieldSettings, "127.0.0.1;;;;;0.95;0.01;20;1;False;;0;2;3;False");
  const size_t before = ResidentBytes();
  const auto started = std::chrono::steady_clock::now();

  std::mt19937_64 random(20040305);
  RequestFields fields;
  soak::SoakRequest request;
  request.action = "GET";
  request.path = soak::SoakTraffic::kProbePath;
  Fields cycle{};
  cycle[0] = "CYCLE";
  int64_t nextCycle = kCycleMilliseconds;
  for (uint64_t i = 0; i < requests; ++i) {
    request.milliseconds += static_cast<int64_t>(random() % 17);  // 8 ms apart on average
    request.id = i;
    ASSERT_LT(request.milliseconds, kDayMilliseconds) << "the flood stays within one day";
    for (; nextCycle <= request.milliseconds; nextCycle += kCycleMilliseconds) {
      plugins.SetTime(nextCycle);
      plugins.Stream(cycle);
    }
    plugins.SetTime(request.milliseconds);
    plugins.Stream(fields.For(request));
    if (testing::Test::HasFatalFailure()) return;
  }
  plugins.SetTime(nextCycle);
  plugins.Stream(cycle);
  const size_t after = ResidentBytes();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  const size_t growth = after > before ? after - before : 0;
  std::printf(
      "soak: flood of %llu requests from one address in %.1f s, %lld cycles; resident %.1f MB "
      "before, %.1f MB after: %.2f MB more\n",
      static_cast<unsigned long long>(requests), seconds,
      static_cast<long long>(nextCycle / kCycleMilliseconds), Megabytes(before), Megabytes(after),
      Megabytes(growth));
  EXPECT_EQ(plugins.Visitors(), 1);
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvVantrel.xml"))) << "the flood was shielded";
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvVantrelErrors.LOG")));
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvCorvaneErrors.LOG")));
  if (!kMemoryJudged) {
    std::printf("soak: memory not judged under AddressSanitizer\n");
    return;
  }
  EXPECT_LE(growth, kFloodGrowthBound) << "a flood on one resource holds memory without bound";
}

}  // namespace
