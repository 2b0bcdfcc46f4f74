#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/PendingConnections.h"
#include "run/ControlReply.h"

struct ucred;

namespace host {

// The operator's way into a running follow: the Unix stream socket DIR/flowdeck.sock of its
// run directory, mode 0660 with the directory's group. Only root, flowdeck's own user and the
// members of that group may ask; anybody else is refused, even where the socket's mode was
// widened. Nothing here ever waits: Tend() is called between lines, takes the connections that
// wait, reads what they sent and answers each complete request through the handler; a peer
// that is slow, sends too much or crowds the queue is dropped and counted.
class ControlSocket {
 public:
  using Handler = std::function<ControlReply(const std::vector<std::string> &arguments)>;

  struct Counts {
    uint64_t refused = 0;     // peers that may not ask: closed after the line "refused"
    uint64_t unreadable = 0;  // a line that is no request: answered with status 2
    uint64_t slow = 0;        // no whole request in kRequestTime, or reply not taken in time
    uint64_t oversized = 0;   // more than ControlWire::kMaxRequest bytes without a line end
    uint64_t crowded = 0;     // gave way to a newer one: kMaxWaiting were waiting
    uint64_t answered = 0;    // replies sent whole
  };

  static constexpr std::string_view kFileName = "flowdeck.sock";
  static constexpr size_t kMaxWaiting = 16;
  static constexpr std::chrono::milliseconds kRequestTime{2000};
  // For taking the reply, which may be megabytes, written a little at each Tend.
  static constexpr std::chrono::milliseconds kReplyTime{10000};

  // Listens on DIR/flowdeck.sock. A socket left there by a follow that ended is replaced;
  // throws Error when another follow answers on it, when anything else stands
  // there (it is kept) or when the socket cannot be made.
  explicit ControlSocket(const std::string &runDirectory);
  // Removes the socket, unless something else has taken its place since.
  ~ControlSocket();
  ControlSocket(const ControlSocket &) = delete;
  ControlSocket &operator=(const ControlSocket &) = delete;

  // DIR/flowdeck.sock.
  static std::string PathIn(const std::string &runDirectory);
  const std::string &Path() const { return path_; }

  void Tend(const Handler &handler,
            std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

  const Counts &Stats() const { return counts_; }
  size_t WaitingConnections() const { return waiting_.size(); }

 private:
  struct Connection {
    int fd = -1;
    std::chrono::steady_clock::time_point deadline;
    std::string request;
    std::string reply;
    size_t sent = 0;
    bool answering = false;
    bool understood = false;  // the reply is the handler's
  };

  // Throws unless nothing stands at the path or a socket nobody answers on; true for the latter.
  bool StaleSocketInPlace(const std::string &runDirectory) const;
  void Listen(bool replace);
  void Accept(const Handler &handler, std::chrono::steady_clock::time_point now);
  bool Allowed(const ucred &peer) const;
  // Each true when the connection is over (its deadline aside).
  bool Serve(Connection &connection, const Handler &handler,
             std::chrono::steady_clock::time_point now);
  bool Receive(Connection &connection, const Handler &handler,
               std::chrono::steady_clock::time_point now);
  bool Send(Connection &connection);
  // `whole`: the line came with its end.
  void Answer(Connection &connection, std::string_view line, bool whole, const Handler &handler,
              std::chrono::steady_clock::time_point now);

  std::string path_;
  gid_t group_ = 0;
  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  PendingConnections<Connection> waiting_{kMaxWaiting};
  Counts counts_;
};

}  // namespace host
