// syslog over UDP on loopback: access lines sent at a set rate by a thread, received and
// counted; every message sent must be counted. The rate is the benchmark's argument (0: as
// fast as the sender can).
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "input/SyslogReceiver.h"
#include "input/SyslogSource.h"

namespace {

using Clock = std::chrono::steady_clock;

// What nginx sends for one request with "access_log syslog:server=...,tag=web1 combined".
std::string Datagram(int i) {
  return "<190>Dec  7 21:34:55 web1 nginx: 198.51." + std::to_string(i % 256) + "." +
         std::to_string(i / 256 % 256) + " - - [07/Dec/2026:21:34:55 +0100] \"GET /shop/item/" +
         std::to_string(i) +
         "?ref=mail HTTP/1.1\" 200 5120 \"https://shop.example/\" \"Mozilla/5.0 (X11; Linux "
         "x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36\"";
}

// Sends `count` datagrams to the port at `rate` a second (0: unpaced), in batches.
void Send(uint16_t port, uint64_t count, double rate) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
  constexpr size_t kBatch = 32;
  std::vector<std::string> texts;
  for (size_t i = 0; i < 4096; ++i) texts.push_back(Datagram(static_cast<int>(i)));
  mmsghdr headers[kBatch];
  iovec vectors[kBatch];
  const auto start = Clock::now();
  for (uint64_t sent = 0; sent < count;) {
    const size_t batch = static_cast<size_t>(std::min<uint64_t>(kBatch, count - sent));
    for (size_t i = 0; i < batch; ++i) {
      std::string &text = texts[(sent + i) % texts.size()];
      vectors[i] = iovec{text.data(), text.size()};
      headers[i] = mmsghdr{};
      headers[i].msg_hdr.msg_iov = &vectors[i];
      headers[i].msg_hdr.msg_iovlen = 1;
    }
    if (rate > 0) {
      std::this_thread::sleep_until(start + std::chrono::duration<double>(sent / rate));
    }
    const int n = sendmmsg(fd, headers, static_cast<unsigned>(batch), 0);
    if (n > 0) sent += static_cast<uint64_t>(n);
  }
  close(fd);
}

// Polls until `expected` messages are counted or nothing came for a second.
uint64_t Receive(host::SyslogReceiver &receiver, uint64_t expected) {
  uint64_t received = 0;
  auto last = Clock::now();
  while (received < expected && Clock::now() - last < std::chrono::seconds(1)) {
    const uint64_t before = received;
    receiver.Poll(50, [&](const host::SyslogMessage &) { ++received; });
    if (received != before) last = Clock::now();
  }
  return received;
}

void BM_SyslogUdpReceived(benchmark::State &state) {
  const double rate = static_cast<double>(state.range(0));
  const uint64_t count = rate > 0 ? static_cast<uint64_t>(rate) : 1'000'000;  // one second
  host::SyslogReceiver receiver({host::SyslogReceiver::Endpoint::Parse("udp://127.0.0.1:0")});
  uint64_t sent = 0, received = 0;
  for (auto _ : state) {
    std::thread sender([&] { Send(receiver.Port(0), count, rate); });
    received += Receive(receiver, count);
    sender.join();
    sent += count;
  }
  state.counters["sent"] = static_cast<double>(sent);
  state.counters["lost"] = static_cast<double>(sent - received);
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(received), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SyslogUdpReceived)
    ->Arg(300'000)
    ->Arg(600'000)
    ->Arg(0)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same through the run's source: received on its own thread, each line parsed.
void BM_SyslogUdpParsed(benchmark::State &state) {
  const double rate = static_cast<double>(state.range(0));
  const uint64_t count = static_cast<uint64_t>(rate);
  host::LineStats stats;
  host::LineReader reader(host::LogFormat::Compile("combined"), host::RealClient(), stats);
  std::atomic<bool> stop{false};
  host::SyslogSource source({host::SyslogReceiver::Endpoint::Parse("udp://127.0.0.1:0")}, reader,
                            stop, true);
  uint64_t sent = 0, requests = 0;
  for (auto _ : state) {
    std::thread sender([&] { Send(source.Port(0), count, rate); });
    host::SourceLine line;
    auto last = Clock::now();
    const uint64_t goal = requests + count;
    while (requests < goal && Clock::now() - last < std::chrono::seconds(1)) {
      if (source.Next(line)) {
        requests += line.outcome == host::ParseOutcome::kRequest;
        last = Clock::now();
      } else {
        source.Wait(source.Now().local + 0.05 / 86400);
      }
    }
    sender.join();
    sent += count;
  }
  state.counters["sent"] = static_cast<double>(sent);
  state.counters["lost"] = static_cast<double>(sent - requests);
  state.counters["dropped"] = static_cast<double>(source.Dropped());
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(requests), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SyslogUdpParsed)
    ->Arg(300'000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
