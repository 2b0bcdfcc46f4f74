#include "VisitorTraffic.h"

#include <algorithm>

#include "support/HttpClient.h"

namespace shield_testing {

VisitorTraffic::VisitorTraffic(int port, std::string host) : port_(port), host_(std::move(host)) {}

VisitorTraffic::~VisitorTraffic() {
  Stop();
}

void VisitorTraffic::AddSteady(std::string address, std::vector<std::string> targets) {
  visitors_.push_back(Visitor{std::move(address), std::move(targets), {}, {}});
}

void VisitorTraffic::AddIrregular(std::string address, std::vector<std::string> targets,
                                  std::vector<double> gaps) {
  visitors_.push_back(Visitor{std::move(address), std::move(targets), std::move(gaps), {}});
}

void VisitorTraffic::Start() {
  // The next whole second, and a quarter: a request a little late keeps its second.
  const auto second = std::chrono::ceil<std::chrono::seconds>(Clock::now());
  for (Visitor &visitor : visitors_) {
    visitor.next = second + std::chrono::milliseconds(250);
  }
  thread_ = std::thread([this] { Run(); });
}

void VisitorTraffic::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  stopped_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::vector<VisitorTraffic::Visit> VisitorTraffic::Visits() const {
  std::lock_guard lock(mutex_);
  return visits_;
}

void VisitorTraffic::Run() {
  for (;;) {
    auto due = std::min_element(visitors_.begin(), visitors_.end(),
                                [](const Visitor &a, const Visitor &b) { return a.next < b.next; });
    {
      std::unique_lock lock(mutex_);
      if (stopped_.wait_until(lock, due->next, [&] { return stop_; })) return;
    }
    const std::string &target = due->targets[due->turn % due->targets.size()];
    const testing_support::HttpResponse response =
        testing_support::HttpGet(due->address, port_, host_, target, 2000);
    {
      std::lock_guard lock(mutex_);
      visits_.push_back(Visit{due->address, target, response.status, response.body});
    }
    const double gap = due->gaps.empty() ? 1.0 : due->gaps[due->turn % due->gaps.size()];
    due->next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(gap));
    ++due->turn;
  }
}

}  // namespace shield_testing
