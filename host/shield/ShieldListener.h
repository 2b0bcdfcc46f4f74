#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// A shield the shield plug-in asked for: its request's parameters, decoded.
struct ShieldRequest {
  std::string address;                // B
  std::string host;                   // D
  std::string resource;               // E
  std::string deflect;                // F
  std::string line;                   // the request line as received, without CR LF
  std::string source = "regularity";  // the test that asked: the plug-in's, or flowdeck's "pace"
};

// Decodes "GET <path>?<query>": the parameters B, D, E and F.
bool ParseShieldRequest(const std::string &line, ShieldRequest &shield);

// Whether a peer is this machine itself: a loopback address or one of its interfaces'. Only
// such a peer may ask for a shield.
bool IsOwnAddress(const sockaddr_storage &peer);
// The same for an address as text; false for a text that is no address.
bool IsOwnAddress(std::string_view address);

// The web server end of the shield loop: listens on port 80 of the configured server while the
// host runs and collects each shield request. The plug-in sends its request from the host's own
// thread, so the kernel completes the connection in the backlog and the host reads it
// afterwards: no thread is needed.
class ShieldListener {
 public:
  explicit ShieldListener(const std::string &server, int port = 80);
  ~ShieldListener();
  ShieldListener(const ShieldListener &) = delete;
  ShieldListener &operator=(const ShieldListener &) = delete;

  bool Listening() const { return fd_ >= 0; }
  // Why the port could not be bound, when it could not.
  const std::string &Problem() const { return problem_; }
  // The shield requests that arrived since the last call from this machine itself; a
  // connection from anywhere else is closed unread.
  std::vector<ShieldRequest> Collect();

  // Connections from elsewhere, and requests from here that were no shield request.
  uint64_t Foreign() const { return foreign_; }
  uint64_t Unreadable() const { return unreadable_; }

 private:
  int fd_ = -1;
  std::string problem_;
  uint64_t foreign_ = 0, unreadable_ = 0;
};

}  // namespace host
