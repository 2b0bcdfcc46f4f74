#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/PendingConnections.h"
#include "base/ShieldRequest.h"
#include "shield/OwnAddresses.h"
#include "shield/ShieldRoute.h"

namespace host {

// Decodes the parameters B, D, E and F of a shield request's target ("/path?query", a version
// after it allowed). False when there is no address, or when a parameter comes twice: a value
// of the plug-in's is percent-encoded and never holds a parameter of its own.
bool ParseShieldRequest(std::string_view target, ShieldRequest &shield);

// A request on the shield route that was not the plug-in's: where it came from and what it
// asked for, without the target itself (which may hold a guess at the key).
struct ForgedRequest {
  std::string peer;     // the sender's address
  std::string route;    // "shield-port" or "web-server-log", one word for the event log
  ShieldRequest asked;  // its parameters as far as they could be read
};

// The web server end of the shield loop: listens on port 80 of the configured server while the
// host runs and collects each shield request. The plug-in sends its request from the host's own
// thread and closes, so its line is there when the connection is accepted; every socket is
// non-blocking, and a sender that is slower than that is kept for at most kLineTime, so that no
// sender can hold the run up.
class ShieldListener {
 public:
  struct Counts {
    uint64_t foreign = 0;      // connections from other machines, closed unread
    uint64_t forged = 0;       // from this machine, without the route's key (or another path)
    uint64_t unreadable = 0;   // with the key, but no shield request in the line
    uint64_t slow = 0;         // no line end within kLineTime
    uint64_t oversized = 0;    // more than kMaxLine bytes without a line end
    uint64_t crowded = 0;      // gave way to a newer one: kMaxWaiting were waiting
    uint64_t descriptors = 0;  // left waiting in the backlog: no file descriptor was free
  };

  static constexpr size_t kMaxLine = 8192;
  static constexpr size_t kMaxWaiting = 64;
  static constexpr std::chrono::milliseconds kLineTime{2000};
  // Forged requests noted one by one for the event log; past it they are only counted.
  static constexpr size_t kForgedNoted = 100;

  ShieldListener(const std::string &server, int port, const ShieldRoute &route);
  ~ShieldListener();
  ShieldListener(const ShieldListener &) = delete;
  ShieldListener &operator=(const ShieldListener &) = delete;

  bool Listening() const { return fd_ >= 0; }
  // The port it listens on (the one the system chose for port 0).
  uint16_t Port() const;
  // Why the port could not be bound, when it could not.
  const std::string &Problem() const { return problem_; }

  // Accepts the connections that wait and reads what they sent, never waiting itself; closes
  // those past their time. Called often, so that the backlog never fills up.
  void Tend(std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());
  // Tends, then hands over the shield requests read since the last call.
  std::vector<ShieldRequest> Collect();
  // The forged requests noted since the last call (at most kForgedNoted in a run).
  std::vector<ForgedRequest> TakeForged();

  const Counts &Stats() const { return counts_; }
  size_t WaitingConnections() const { return waiting_.size(); }

 private:
  struct Waiting {
    int fd = -1;
    std::chrono::steady_clock::time_point deadline;
    std::string peer;
    std::string data;
  };

  void Accept(std::chrono::steady_clock::time_point now);
  // False while the connection's line is still to come.
  bool Read(Waiting &connection);
  void Judge(const Waiting &connection, std::string_view line);
  void NoteForged(const Waiting &connection, std::string_view target);

  int fd_ = -1;
  std::string problem_;
  const ShieldRoute &route_;
  OwnAddresses own_;
  PendingConnections<Waiting> waiting_{kMaxWaiting};
  std::vector<ShieldRequest> requests_;
  std::vector<ForgedRequest> forged_;
  size_t forgedNoted_ = 0;
  Counts counts_;
};

}  // namespace host
