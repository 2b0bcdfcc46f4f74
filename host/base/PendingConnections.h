#pragma once

#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace host {

// The connections a listener keeps while their request comes in or their answer goes out:
// at most a bound of them, each until its deadline, so that no peer can hold the run up or
// fill its descriptors. Each is closed when it is dropped. `Connection` has the members
// `int fd` and `std::chrono::steady_clock::time_point deadline`.
template <typename Connection>
class PendingConnections {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  explicit PendingConnections(size_t most) : most_(most) {}
  ~PendingConnections() {
    for (const Connection &connection : connections_) close(connection.fd);
  }
  PendingConnections(const PendingConnections &) = delete;
  PendingConnections &operator=(const PendingConnections &) = delete;

  // Lets each move on (`over(connection)` is true when it is done) and drops those that are
  // done or past their deadline. Returns how many ran out of time.
  template <typename Over>
  uint64_t Tend(Over over, TimePoint now) {
    uint64_t late = 0;
    std::erase_if(connections_, [&](Connection &connection) {
      bool done = over(connection);
      if (!done && now >= connection.deadline) {
        ++late;
        done = true;
      }
      if (done) close(connection.fd);
      return done;
    });
    return late;
  }

  // Keeps a new one. When the bound is reached the oldest, the nearest to its time limit,
  // gives way: true then.
  bool Keep(Connection connection) {
    bool crowded = false;
    if (!connections_.empty() && connections_.size() >= most_) {
      close(connections_.front().fd);
      connections_.erase(connections_.begin());
      crowded = true;
    }
    connections_.push_back(std::move(connection));
    return crowded;
  }

  size_t size() const { return connections_.size(); }

 private:
  size_t most_;
  std::vector<Connection> connections_;
};

}  // namespace host
