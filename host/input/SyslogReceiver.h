#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SyslogFramer.h"
#include "SyslogMessage.h"

namespace host {

// Receives access lines by syslog from a farm of web servers: UDP datagrams (one message
// each) and TCP connections (SyslogFramer), on any number of endpoints. Every socket is
// non-blocking and each sender gets a bounded share of every poll, so that a TCP sender that
// stalls mid-message or floods never holds up the others.
class SyslogReceiver {
 public:
  struct Endpoint {
    bool tcp = false;
    std::string host;  // a numeric IPv4 or IPv6 address
    uint16_t port = 0;
    std::string text;  // as the operator wrote it

    // "udp://ADDR:PORT" or "tcp://ADDR:PORT" ("[v6]:PORT" for IPv6); throws
    // std::invalid_argument saying what is wrong.
    static Endpoint Parse(const std::string &text);
  };

  struct Counts {
    uint64_t datagrams = 0;    // UDP datagrams received
    uint64_t frames = 0;       // TCP messages framed
    uint64_t messages = 0;     // syslog messages handed on
    uint64_t notSyslog = 0;    // datagrams and frames without a syslog header: dropped
    uint64_t oversized = 0;    // messages longer than SyslogFramer::kMaxFrame: dropped
    uint64_t connections = 0;  // TCP connections accepted
    uint64_t refused = 0;      // closed at once: kMaxConnections were open
    uint64_t bytes = 0;
  };

  using Sink = std::function<void(const SyslogMessage &message)>;

  static constexpr size_t kMaxConnections = 1024;

  // Binds every endpoint; throws std::runtime_error naming the one that cannot be bound.
  explicit SyslogReceiver(const std::vector<Endpoint> &endpoints);
  ~SyslogReceiver();
  SyslogReceiver(const SyslogReceiver &) = delete;
  SyslogReceiver &operator=(const SyslogReceiver &) = delete;

  // Waits up to timeoutMilliseconds for traffic, takes in what is there (a bounded share
  // from each socket) and hands every message to `sink`. Views are valid during the call.
  void Poll(int timeoutMilliseconds, const Sink &sink);

  // The port an endpoint listens on (the one the system chose for port 0).
  uint16_t Port(size_t endpoint) const;
  const Counts &Stats() const { return counts_; }

 private:
  struct Listener {
    int fd = -1;
    bool tcp = false;
    uint16_t port = 0;
  };
  struct Connection {
    int fd = -1;
    SyslogFramer framer;
  };
  struct Datagrams;  // recvmmsg buffers

  void ReadDatagrams(int fd, const Sink &sink);
  void Accept(int fd);
  // False when the connection is over.
  bool ReadConnection(Connection &connection, const Sink &sink);
  void Hand(std::string_view frame, const Sink &sink);

  std::vector<Listener> listeners_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::unique_ptr<Datagrams> datagrams_;
  std::vector<char> readBuffer_;
  Counts counts_;
};

}  // namespace host
