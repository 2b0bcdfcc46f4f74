#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <sys/socket.h>

#include "base/AddressRanges.h"
#include "input/SyslogFramer.h"
#include "input/SyslogMessage.h"

namespace host {

// Receives access lines by syslog from a farm of web servers: UDP datagrams (one message
// each) and TCP connections (SyslogFramer), on any number of endpoints. Every socket is
// non-blocking and each sender gets a bounded share of every poll, so that a TCP sender that
// stalls mid-message or floods never holds up the others. Whoever can reach the port is
// hostile until SyslogSenders names it: anything else is dropped unread. Connections are
// bounded, and idle ones give way, so that idle connections never shut a web server out nor
// use up the run's file descriptors.
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

  // What is taken in, and from whom (SyslogSenders, SyslogMaxConnections).
  struct Limits {
    static constexpr const char *kDefaultSenders = "127.0.0.0/8, ::1";

    AddressRanges senders = AddressRanges::Parse(kDefaultSenders);
    size_t maxConnections = 256;
    // A TCP connection without a byte for this long is closed.
    std::chrono::milliseconds idle = std::chrono::minutes(5);
  };

  // What was refused or closed, by cause (the metric flowdeck_syslog_refused_total).
  struct Refused {
    uint64_t sender = 0;       // datagrams and connections from outside SyslogSenders, unread
    uint64_t connections = 0;  // connections idle the longest, closed for a new one at the bound
    uint64_t idle = 0;         // connections closed after Limits::idle without a byte
    uint64_t descriptors = 0;  // accepts that failed for want of a file descriptor
  };

  struct Counts {
    uint64_t datagrams = 0;    // UDP datagrams received from senders
    uint64_t frames = 0;       // TCP messages framed
    uint64_t messages = 0;     // syslog messages handed on
    uint64_t notSyslog = 0;    // datagrams and frames without a syslog header: dropped
    uint64_t oversized = 0;    // messages longer than SyslogFramer::kMaxFrame: dropped
    uint64_t connections = 0;  // TCP connections accepted from senders
    uint64_t open = 0;         // TCP connections open now
    uint64_t bytes = 0;
    Refused refused;
  };

  using Sink = std::function<void(const SyslogMessage &message)>;

  // File descriptors left to the rest of the run (followed logs, the plug-ins' files, the
  // shield listener) when the open-file limit bounds the connections.
  static constexpr size_t kDescriptorsKept = 128;

  // Binds every endpoint; throws Error naming the one that cannot be bound.
  SyslogReceiver(const std::vector<Endpoint> &endpoints, Limits limits);
  explicit SyslogReceiver(const std::vector<Endpoint> &endpoints)
      : SyslogReceiver(endpoints, Limits()) {}
  ~SyslogReceiver();
  SyslogReceiver(const SyslogReceiver &) = delete;
  SyslogReceiver &operator=(const SyslogReceiver &) = delete;

  // Waits up to timeoutMilliseconds for traffic, takes in what is there (a bounded share
  // from each socket) and hands every message to `sink`. Views are valid during the call.
  void Poll(int timeoutMilliseconds, const Sink &sink);

  // New senders and bound (a reload): connections from addresses no longer listed are closed
  // (counted as refused for their sender), and the ones idle the longest beyond the bound.
  void Reconfigure(AddressRanges senders, size_t maxConnections);

  // The port an endpoint listens on (the one the system chose for port 0).
  uint16_t Port(size_t endpoint) const;
  // The connections kept at most: Limits::maxConnections, or fewer when the open-file limit
  // leaves no room for as many beside kDescriptorsKept.
  size_t MaxConnections() const { return maxConnections_; }
  const Counts &Stats() const { return counts_; }

 private:
  using Clock = std::chrono::steady_clock;

  struct Listener {
    int fd = -1;
    bool tcp = false;
    uint16_t port = 0;
    Clock::time_point pausedUntil{};  // out of descriptors with nothing to give way
  };
  struct Connection {
    int fd = -1;
    IpAddress peer;
    Clock::time_point heard;
    SyslogFramer framer;
  };
  // Least recently heard first: the front is the one to give way.
  using Connections = std::list<Connection>;
  struct Datagrams;  // recvmmsg buffers

  void ReadDatagrams(int fd, const Sink &sink);
  void Accept(Listener &listener, Clock::time_point now);
  // After an accept failed for want of a descriptor: the connection waiting, if any, accepted
  // on the reserve's descriptor (-1 with errno when there is none).
  int AcceptOnReserve(Listener &listener, sockaddr_storage &peer, Clock::time_point now);
  // Keeps a connection accepted from `peer`, or closes it.
  void Take(int fd, const sockaddr_storage &peer, bool onReserve, Clock::time_point now);
  // False when the connection is over; `heard` when bytes came.
  bool ReadConnection(Connection &connection, const Sink &sink, bool &heard);
  void CloseIdle(Clock::time_point now);
  void CloseFront();
  void Hand(std::string_view frame, const Sink &sink);

  std::vector<Listener> listeners_;
  Connections connections_;
  std::vector<Connections::iterator> polled_;
  std::unique_ptr<Datagrams> datagrams_;
  std::vector<char> readBuffer_;
  AddressRanges senders_;
  size_t maxConnections_;
  const std::chrono::milliseconds idle_;
  int reserve_ = -1;  // a descriptor held back to refuse a connection when none is left
  Counts counts_;
};

}  // namespace host
