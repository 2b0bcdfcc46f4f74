#include "shield/OwnAddresses.h"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <cstring>

namespace host {

namespace {

constexpr auto kReadEvery = std::chrono::seconds(1);

}  // namespace

void OwnAddresses::Refresh(Clock::time_point now) {
  if (read_ && now - readAt_ < kReadEvery) return;
  read_ = true;
  readAt_ = now;
  ++reads_;
  ifaddrs *interfaces = nullptr;
  // Unreadable now: keep what was read before, and try again in a second.
  if (getifaddrs(&interfaces) != 0) return;
  interfaces_.clear();
  for (const ifaddrs *entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    sockaddr_storage socket{};
    const size_t size = entry->ifa_addr->sa_family == AF_INET    ? sizeof(sockaddr_in)
                        : entry->ifa_addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6)
                                                                 : 0;
    if (size == 0) continue;
    std::memcpy(&socket, entry->ifa_addr, size);
    IpAddress address;
    if (IpAddress::FromSocket(socket, address)) interfaces_.push_back(address);
  }
  freeifaddrs(interfaces);
}

bool OwnAddresses::Contains(const IpAddress &address, Clock::time_point now) {
  if (address.IsLoopback()) return true;
  Refresh(now);
  for (const IpAddress &own : interfaces_) {
    if (own == address) return true;
  }
  return false;
}

bool OwnAddresses::Contains(std::string_view address, Clock::time_point now) {
  IpAddress parsed;
  return IpAddress::Parse(address, parsed) && Contains(parsed, now);
}

bool OwnAddresses::Contains(const sockaddr_storage &peer, Clock::time_point now) {
  IpAddress address;
  return IpAddress::FromSocket(peer, address) && Contains(address, now);
}

}  // namespace host
