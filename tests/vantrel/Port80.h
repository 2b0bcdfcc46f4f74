#pragma once

#include <string>
#include <thread>

namespace vantrel_testing {

// Port 80 of 127.0.0.1 for one test at a time: a lock file keeps the socket tests of parallel
// test processes apart while one of them holds the port.
class Port80 {
 public:
  Port80();
  ~Port80();
  Port80(const Port80 &) = delete;
  Port80 &operator=(const Port80 &) = delete;

  // Listens on 127.0.0.1:80; false when the port cannot be bound.
  bool Listen(int backlog = 8);
  // Accepts one connection in the background and keeps what it sends until it closes.
  void AcceptOne();
  // What the accepted connection sent; waits for it to close.
  std::string Received();
  // Fills the queue of a listener with backlog 0, so that further connects go unanswered.
  void FillBacklog();
  // True when nothing listens on the port (it could be bound, and was let go again).
  bool NothingListens();

 private:
  int lock_ = -1;
  int listener_ = -1;
  int fillers_[3] = {-1, -1, -1};
  std::thread reader_;
  std::string received_;
};

}  // namespace vantrel_testing
