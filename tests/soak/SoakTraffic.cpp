#include "SoakTraffic.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace soak {

namespace {

constexpr uint32_t kProbeOneIn = 200;
constexpr uint32_t kSessionEndOneIn = 3;
constexpr std::array<std::string_view, 12> kPages = {
    "/",           "/index.html",    "/shop/cart.asp", "/shop/item.asp", "/news/today.html",
    "/about.html", "/img/logo.png",  "/css/site.css",  "/js/app.js",     "/search",
    "/help/faq",   "/scripts/ok.cgi"};

}  // namespace

SoakTraffic::SoakTraffic(uint64_t requests, uint64_t seed)
    : total_(requests),
      concurrency_(static_cast<uint32_t>(std::max<uint64_t>(4, requests / (50 * kMeanRequests)))),
      random_(seed) {
  visitors_.resize(static_cast<size_t>(2 * requests / kMeanRequests + concurrency_ + 16));
  for (uint32_t i = 0; i < concurrency_; ++i) {
    StartVisitor(static_cast<int64_t>(random_() % (kMeanRequests * kMeanGapMilliseconds)));
  }
}

void SoakTraffic::StartVisitor(int64_t milliseconds) {
  VisitorHistory visitor;
  visitor.probe = random_() % kProbeOneIn == 0;
  const double draw = std::uniform_real_distribution<double>(0, 1)(random_);
  visitor.remaining = 1 + static_cast<uint32_t>(-std::log1p(-draw) * (kMeanRequests - 1));
  if (started_ == visitors_.size()) visitors_.resize(2 * visitors_.size());
  due_.push({milliseconds, static_cast<uint32_t>(started_)});
  visitors_[started_++] = visitor;
}

int64_t SoakTraffic::Gap(bool probe) {
  if (probe) return kMeanGapMilliseconds;
  const double draw = std::uniform_real_distribution<double>(0, 1)(random_);
  return 1 + static_cast<int64_t>(-std::log1p(-draw) * kMeanGapMilliseconds);
}

std::string_view SoakTraffic::HumanPath() {
  return kPages[random_() % kPages.size()];
}

bool SoakTraffic::Next(SoakRequest &request) {
  if (made_ == total_) return false;
  const Due due = due_.top();
  due_.pop();
  VisitorHistory &visitor = visitors_[due.visitor];
  --visitor.remaining;
  const bool last = visitor.remaining == 0;
  visitor.endedSession = last && !visitor.probe && random_() % kSessionEndOneIn == 0;
  visitor.lastMilliseconds = due.milliseconds;
  ++visitor.requests;
  request.milliseconds = due.milliseconds;
  request.visitor = due.visitor;
  request.id = made_++;
  request.action = visitor.endedSession ? "SESSION_END" : (random_() % 10 == 0 ? "POST" : "GET");
  request.path = visitor.probe ? kProbePath : HumanPath();
  if (last) {
    StartVisitor(due.milliseconds + Gap(false));
  } else {
    due_.push({due.milliseconds + Gap(visitor.probe), due.visitor});
  }
  return true;
}

}  // namespace soak
