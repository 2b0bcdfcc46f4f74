#pragma once

#include <sys/socket.h>

#include <chrono>
#include <string_view>
#include <vector>

#include "base/IpAddress.h"

namespace host {

// Whether an address is this machine itself: a loopback address or one of its interfaces'.
// The interfaces are read at most once a second, never per question: a flood of requests from
// elsewhere costs a comparison each, not a system call.
class OwnAddresses {
 public:
  using Clock = std::chrono::steady_clock;

  bool Contains(const IpAddress &address, Clock::time_point now = Clock::now());
  // False for a text that is no address, and for a peer of another family.
  bool Contains(std::string_view address, Clock::time_point now = Clock::now());
  bool Contains(const sockaddr_storage &peer, Clock::time_point now = Clock::now());

  // How often the interfaces were read, for the tests.
  size_t Reads() const { return reads_; }

 private:
  void Refresh(Clock::time_point now);

  std::vector<IpAddress> interfaces_;
  Clock::time_point readAt_{};
  bool read_ = false;
  size_t reads_ = 0;
};

}  // namespace host
