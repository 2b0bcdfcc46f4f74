#pragma once

#include <cstdint>
#include <queue>
#include <random>
#include <span>
#include <string_view>
#include <vector>

namespace soak {

// One request of the generated traffic.
struct SoakRequest {
  int64_t milliseconds = 0;  // since the start of the run
  uint32_t visitor = 0;      // the visitor's number, from 0
  uint64_t id = 0;           // the request's number, from 0: its query string carries it
  std::string_view action;
  std::string_view path;
};

// What the traffic did with one visitor so far.
struct VisitorHistory {
  int64_t lastMilliseconds = -1;  // its latest request; -1 before the first
  uint32_t requests = 0;
  uint32_t remaining = 0;  // requests still to come
  bool probe = false;      // a script that requests one tripwired path every two seconds
  bool endedSession = false;
};

// Traffic of many visitors with churn, in time order: a steady number of visitors browse at
// once; each makes a number of requests (100 on average, some far more than 500) with
// irregular gaps, then leaves, a third of them with a session end, and a new visitor takes its
// place. One visitor in 200 is a probe with a steady pace. Visitors in all: requests / 100.
class SoakTraffic {
 public:
  static constexpr uint32_t kMeanRequests = 100;
  static constexpr int64_t kMeanGapMilliseconds = 2000;
  static constexpr std::string_view kProbePath = "/scripts/run.cgi";

  SoakTraffic(uint64_t requests, uint64_t seed);

  // The next request in time order; false once all were made.
  bool Next(SoakRequest &request);

  // Every visitor so far, by number.
  std::span<const VisitorHistory> Visitors() const noexcept {
    return std::span(visitors_).first(started_);
  }
  // How many visitors browse at once.
  uint32_t Concurrency() const noexcept { return concurrency_; }

 private:
  struct Due {
    int64_t milliseconds;
    uint32_t visitor;
    bool operator>(const Due &other) const noexcept {
      return milliseconds != other.milliseconds ? milliseconds > other.milliseconds
                                                : visitor > other.visitor;
    }
  };

  void StartVisitor(int64_t milliseconds);
  int64_t Gap(bool probe);
  std::string_view HumanPath();

  uint64_t total_;
  uint64_t made_ = 0;
  uint32_t concurrency_;
  std::mt19937_64 random_;
  // Made whole at the start, so that the test's own memory does not grow during the run.
  std::vector<VisitorHistory> visitors_;
  size_t started_ = 0;
  std::priority_queue<Due, std::vector<Due>, std::greater<>> due_;
};

}  // namespace soak
