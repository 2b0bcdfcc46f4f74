#pragma once

#include <netinet/in.h>

#include <string>
#include <thread>

namespace testing_support {

// Port 80 of the loopback addresses, one per machine: every test that binds it, or runs
// something that does (a flowdeck replay listens there), holds one of these, so that test
// processes running side by side take turns. Its socket is one listener of the test's own.
class Port80 {
 public:
  // Waits for the port's turn.
  Port80();
  ~Port80();
  Port80(const Port80 &) = delete;
  Port80 &operator=(const Port80 &) = delete;

  // Listens on port 80 of a loopback address; false when the port cannot be bound there.
  bool Listen(int backlog = 8, const char *address = "127.0.0.1");
  // Accepts one connection in the background and keeps what it sends until it closes; a
  // listener that is to leave its connections unread for a while calls it only then.
  void AcceptOne();
  // What the accepted connection sent; waits for it to close.
  std::string Received();
  // Fills the queue of a listener with backlog 0, so that further connects go unanswered.
  void FillBacklog();
  // True when nothing listens on port 80 of the address (it could be bound, and was let go).
  bool NothingListens(const char *address = "127.0.0.1");

 private:
  int lock_ = -1;
  int listener_ = -1;
  sockaddr_in listenerAddress_{};
  int fillers_[3] = {-1, -1, -1};
  std::thread reader_;
  std::string received_;
};

}  // namespace testing_support
