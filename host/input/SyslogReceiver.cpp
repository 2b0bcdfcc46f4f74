#include "SyslogReceiver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace host {

namespace {

// A burst of datagrams the kernel keeps while the run is busy elsewhere.
constexpr int kUdpBufferBytes = 32 * 1024 * 1024;
// Batches of datagrams taken from one UDP socket in one poll, before the others' turn.
constexpr int kUdpBatchesPerPoll = 32;
// Connections accepted in one poll.
constexpr int kAcceptsPerPoll = 64;
// Bytes read from one connection in one poll.
constexpr size_t kReadPerPoll = 64 * 1024;

std::runtime_error SocketError(const std::string &endpoint, const char *what) {
  return std::runtime_error(endpoint + ": cannot " + what + ": " + std::strerror(errno));
}

int Bind(const SyslogReceiver::Endpoint &endpoint, uint16_t &port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = endpoint.tcp ? SOCK_STREAM : SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo *found = nullptr;
  const std::string service = std::to_string(endpoint.port);
  if (getaddrinfo(endpoint.host.c_str(), service.c_str(), &hints, &found) != 0 ||
      found == nullptr) {
    throw std::runtime_error(endpoint.text + ": not a numeric address: " + endpoint.host);
  }
  const int fd = socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    freeaddrinfo(found);
    throw SocketError(endpoint.text, "open a socket");
  }
  const int yes = 1;
  if (endpoint.tcp) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (!endpoint.tcp) {
    // Beyond the system's limit when running as root; the plain request otherwise.
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kUdpBufferBytes, sizeof kUdpBufferBytes);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kUdpBufferBytes, sizeof kUdpBufferBytes);
  }
  const bool bound = bind(fd, found->ai_addr, found->ai_addrlen) == 0;
  freeaddrinfo(found);
  if (!bound || (endpoint.tcp && listen(fd, 128) != 0)) {
    const std::runtime_error error = SocketError(endpoint.text, bound ? "listen" : "bind");
    close(fd);
    throw error;
  }
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
  port = ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port
                                             : reinterpret_cast<sockaddr_in *>(&address)->sin_port);
  return fd;
}

}  // namespace

struct SyslogReceiver::Datagrams {
  static constexpr size_t kBatch = 32;
  // One byte more than a message may have: a longer datagram comes back with MSG_TRUNC.
  static constexpr size_t kSize = SyslogFramer::kMaxFrame + 1;

  Datagrams() : buffer(kBatch * kSize) {
    for (size_t i = 0; i < kBatch; ++i) {
      vectors[i] = iovec{buffer.data() + i * kSize, kSize};
      headers[i] = mmsghdr{};
      headers[i].msg_hdr.msg_iov = &vectors[i];
      headers[i].msg_hdr.msg_iovlen = 1;
    }
  }

  std::vector<char> buffer;
  iovec vectors[kBatch];
  mmsghdr headers[kBatch];
};

SyslogReceiver::Endpoint SyslogReceiver::Endpoint::Parse(const std::string &text) {
  Endpoint endpoint;
  endpoint.text = text;
  std::string rest;
  if (text.starts_with("udp://")) {
    rest = text.substr(6);
  } else if (text.starts_with("tcp://")) {
    endpoint.tcp = true;
    rest = text.substr(6);
  } else {
    throw std::invalid_argument("'" + text + "': expected udp://ADDR:PORT or tcp://ADDR:PORT");
  }
  size_t colon = rest.rfind(':');
  if (rest.starts_with('[')) {
    const size_t close = rest.find(']');
    if (close == std::string::npos || close + 1 != colon) colon = std::string::npos;
    endpoint.host = close == std::string::npos ? "" : rest.substr(1, close - 1);
  } else if (colon != std::string::npos) {
    endpoint.host = rest.substr(0, colon);
  }
  const std::string port = colon == std::string::npos ? "" : rest.substr(colon + 1);
  unsigned long number = 0;
  for (char c : port)
    number = c >= '0' && c <= '9' && number < 65536 ? number * 10 + (c - '0') : 65536;
  if (endpoint.host.empty() || port.empty() || number > 65535) {
    throw std::invalid_argument("'" + text + "': expected an address and a port 0-65535 (" +
                                (endpoint.tcp ? "tcp" : "udp") + "://127.0.0.1:5514, " +
                                (endpoint.tcp ? "tcp" : "udp") + "://[::1]:5514)");
  }
  endpoint.port = static_cast<uint16_t>(number);
  return endpoint;
}

SyslogReceiver::SyslogReceiver(const std::vector<Endpoint> &endpoints)
    : datagrams_(std::make_unique<Datagrams>()), readBuffer_(kReadPerPoll) {
  try {
    for (const Endpoint &endpoint : endpoints) {
      Listener listener;
      listener.tcp = endpoint.tcp;
      listener.fd = Bind(endpoint, listener.port);
      listeners_.push_back(listener);
    }
  } catch (...) {
    for (const Listener &listener : listeners_) close(listener.fd);
    throw;
  }
}

SyslogReceiver::~SyslogReceiver() {
  for (const Listener &listener : listeners_) close(listener.fd);
  for (const auto &connection : connections_) close(connection->fd);
}

uint16_t SyslogReceiver::Port(size_t endpoint) const {
  return listeners_.at(endpoint).port;
}

void SyslogReceiver::Hand(std::string_view frame, const Sink &sink) {
  SyslogMessage message;
  if (!SyslogMessage::Parse(frame, message)) {
    ++counts_.notSyslog;
    return;
  }
  ++counts_.messages;
  sink(message);
}

void SyslogReceiver::ReadDatagrams(int fd, const Sink &sink) {
  Datagrams &batch = *datagrams_;
  for (int round = 0; round < kUdpBatchesPerPoll; ++round) {
    const int received = recvmmsg(fd, batch.headers, Datagrams::kBatch, MSG_DONTWAIT, nullptr);
    if (received <= 0) return;
    for (int i = 0; i < received; ++i) {
      const mmsghdr &header = batch.headers[i];
      ++counts_.datagrams;
      counts_.bytes += header.msg_len;
      if ((header.msg_hdr.msg_flags & MSG_TRUNC) != 0) {
        ++counts_.oversized;
        continue;
      }
      Hand(std::string_view(batch.buffer.data() + static_cast<size_t>(i) * Datagrams::kSize,
                            header.msg_len),
           sink);
    }
    if (static_cast<size_t>(received) < Datagrams::kBatch) return;
  }
}

void SyslogReceiver::Accept(int fd) {
  for (int i = 0; i < kAcceptsPerPoll; ++i) {
    const int connection = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (connection < 0) return;
    if (connections_.size() >= kMaxConnections) {
      close(connection);
      ++counts_.refused;
      continue;
    }
    ++counts_.connections;
    auto open = std::make_unique<Connection>();
    open->fd = connection;
    connections_.push_back(std::move(open));
  }
}

bool SyslogReceiver::ReadConnection(Connection &connection, const Sink &sink) {
  const ssize_t n = read(connection.fd, readBuffer_.data(), readBuffer_.size());
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
  const uint64_t oversized = connection.framer.Oversized();
  auto frame = [&](std::string_view text) {
    ++counts_.frames;
    Hand(text, sink);
  };
  if (n > 0) {
    counts_.bytes += static_cast<uint64_t>(n);
    connection.framer.Feed(std::string_view(readBuffer_.data(), static_cast<size_t>(n)), frame);
  } else {
    connection.framer.Finish(frame);
  }
  counts_.oversized += connection.framer.Oversized() - oversized;
  if (n > 0) return true;
  close(connection.fd);
  return false;
}

void SyslogReceiver::Poll(int timeoutMilliseconds, const Sink &sink) {
  std::vector<pollfd> waits;
  waits.reserve(listeners_.size() + connections_.size());
  for (const Listener &listener : listeners_) waits.push_back(pollfd{listener.fd, POLLIN, 0});
  for (const auto &connection : connections_) waits.push_back(pollfd{connection->fd, POLLIN, 0});
  if (poll(waits.data(), waits.size(), timeoutMilliseconds) <= 0) return;
  const size_t polled = connections_.size();
  for (size_t i = 0; i < listeners_.size(); ++i) {
    if ((waits[i].revents & POLLIN) == 0) continue;
    if (listeners_[i].tcp) {
      Accept(listeners_[i].fd);
    } else {
      ReadDatagrams(listeners_[i].fd, sink);
    }
  }
  // Connections accepted just now stand after the polled ones and wait for the next poll.
  size_t kept = 0;
  for (size_t i = 0; i < connections_.size(); ++i) {
    const bool ready = i < polled && waits[listeners_.size() + i].revents != 0;
    if (ready && !ReadConnection(*connections_[i], sink)) continue;
    if (kept != i) connections_[kept] = std::move(connections_[i]);
    ++kept;
  }
  connections_.resize(kept);
}

}  // namespace host
