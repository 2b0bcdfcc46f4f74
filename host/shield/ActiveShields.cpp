#include "shield/ActiveShields.h"

#include "AsciiCase.h"
#include "base/IpAddress.h"

namespace host {

bool ActiveShields::Normalize(Shield &shield) {
  IpAddress address;
  if (!IpAddress::Parse(shield.address, address)) return false;
  shield.address = address.Text();
  common::LowerAsciiInPlace(shield.host);
  return true;
}

bool ActiveShields::Order::operator()(const Shield &a, const Shield &b) const {
  if (int order = a.address.compare(b.address)) return order < 0;
  if (int order = a.host.compare(b.host)) return order < 0;
  return a.resource < b.resource;
}

void ActiveShields::Raise(const Shield &shield) {
  auto [at, added] = shields_.insert(shield);
  if (!added) {
    shields_.erase(at);
    shields_.insert(shield);
  }
}

bool ActiveShields::Lift(const Shield &shield) {
  return shields_.erase(shield) > 0;
}

int64_t ActiveShields::LatestExpiry(const std::string &address) const {
  Shield first;
  first.address = address;
  int64_t latest = 0;
  for (auto at = shields_.lower_bound(first); at != shields_.end() && at->address == address; ++at)
    latest = std::max(latest, at->expiresAt);
  return latest;
}

}  // namespace host
