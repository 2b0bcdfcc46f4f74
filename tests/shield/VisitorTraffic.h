#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace shield_testing {

// Visitors of a web server on 127.0.0.1, each from a loopback source address of its own, on a
// thread of their own: steady ones fetch once a second, at a quarter past each second so
// that the log's whole-second times are exactly one second apart; irregular ones browse with
// gaps that scatter as a person's do. Every answer is kept.
class VisitorTraffic {
 public:
  struct Visit {
    std::string visitor, target;
    int status = 0;
    std::string body;
  };

  VisitorTraffic(int port, std::string host);
  ~VisitorTraffic();
  VisitorTraffic(const VisitorTraffic &) = delete;
  VisitorTraffic &operator=(const VisitorTraffic &) = delete;

  // Before Start: a visitor fetching `targets` in turn, once a second, or after `gaps`
  // (seconds, taken in turn).
  void AddSteady(std::string address, std::vector<std::string> targets);
  void AddIrregular(std::string address, std::vector<std::string> targets,
                    std::vector<double> gaps);

  void Start();
  void Stop();
  std::vector<Visit> Visits() const;

 private:
  using Clock = std::chrono::system_clock;
  struct Visitor {
    std::string address;
    std::vector<std::string> targets;
    std::vector<double> gaps;  // empty: steady
    Clock::time_point next;
    size_t turn = 0;
  };

  void Run();

  int port_;
  std::string host_;
  std::vector<Visitor> visitors_;
  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  bool stop_ = false;
  std::vector<Visit> visits_;
  std::thread thread_;
};

}  // namespace shield_testing
