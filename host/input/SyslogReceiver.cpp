#include "input/SyslogReceiver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/Error.h"

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
// A listener out of descriptors, with no connection to give way and no reserve, waits this long
// before it accepts again, rather than wake every poll for a connection it cannot take.
constexpr auto kPauseWithoutDescriptors = std::chrono::seconds(1);
// The fewest connections the open-file limit bounds them to.
constexpr size_t kFewestConnections = 16;

host::Error SocketError(const std::string &endpoint, const char *what) {
  return Error(endpoint, std::string("cannot ") + what + ": " + std::strerror(errno));
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
    throw Error(endpoint.text, std::string("not a numeric address: ") + endpoint.host);
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
  // A farm's servers that connect at once (after a restart) wait in the kernel's queue rather
  // than for their connection attempt to be sent again a second later.
  const bool bound = bind(fd, found->ai_addr, found->ai_addrlen) == 0;
  freeaddrinfo(found);
  if (!bound || (endpoint.tcp && listen(fd, SOMAXCONN) != 0)) {
    const Error error = SocketError(endpoint.text, bound ? "listen" : "bind");
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

// An IPv4-mapped IPv6 peer (a dual-stack socket's IPv4 sender) is the IPv4 address it maps, as
// IpAddress holds every IPv4 address.
bool FromSender(const AddressRanges &senders, const sockaddr_storage &peer, IpAddress &address) {
  return IpAddress::FromSocket(peer, address) && senders.Contains(address);
}

// The connections the open-file limit leaves room for beside the rest of the run.
size_t ConnectionRoom() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  const auto room = static_cast<size_t>(limit.rlim_cur);
  return std::max(kFewestConnections, room > SyslogReceiver::kDescriptorsKept
                                          ? room - SyslogReceiver::kDescriptorsKept
                                          : size_t{0});
}

int OpenReserve() {
  return open("/dev/null", O_RDONLY | O_CLOEXEC);
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
      headers[i].msg_hdr.msg_name = &senders[i];
    }
  }
  // recvmmsg writes the senders' lengths back: each batch starts from the full size.
  void Prepare() {
    for (size_t i = 0; i < kBatch; ++i) headers[i].msg_hdr.msg_namelen = sizeof senders[i];
  }

  std::vector<char> buffer;
  iovec vectors[kBatch];
  sockaddr_storage senders[kBatch];
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

SyslogReceiver::SyslogReceiver(const std::vector<Endpoint> &endpoints, Limits limits)
    : datagrams_(std::make_unique<Datagrams>()),
      readBuffer_(kReadPerPoll),
      senders_(std::move(limits.senders)),
      maxConnections_(std::max<size_t>(1, std::min(limits.maxConnections, ConnectionRoom()))),
      idle_(limits.idle),
      reserve_(OpenReserve()) {
  try {
    for (const Endpoint &endpoint : endpoints) {
      Listener listener;
      listener.tcp = endpoint.tcp;
      listener.fd = Bind(endpoint, listener.port);
      listeners_.push_back(listener);
    }
  } catch (...) {
    for (const Listener &listener : listeners_) close(listener.fd);
    if (reserve_ >= 0) close(reserve_);
    throw;
  }
}

SyslogReceiver::~SyslogReceiver() {
  for (const Listener &listener : listeners_) close(listener.fd);
  for (const Connection &connection : connections_) close(connection.fd);
  if (reserve_ >= 0) close(reserve_);
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
    batch.Prepare();
    const int received = recvmmsg(fd, batch.headers, Datagrams::kBatch, MSG_DONTWAIT, nullptr);
    if (received <= 0) return;
    for (int i = 0; i < received; ++i) {
      const mmsghdr &header = batch.headers[i];
      IpAddress sender;
      if (!FromSender(senders_, batch.senders[i], sender)) {
        ++counts_.refused.sender;
        continue;
      }
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

void SyslogReceiver::Accept(Listener &listener, Clock::time_point now) {
  for (int i = 0; i < kAcceptsPerPoll; ++i) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd = accept4(listener.fd, reinterpret_cast<sockaddr *>(&peer), &length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    const bool onReserve = fd < 0 && (errno == EMFILE || errno == ENFILE);
    if (onReserve) fd = AcceptOnReserve(listener, peer, now);
    if (fd < 0 && (errno == EINTR || errno == ECONNABORTED)) continue;
    if (fd < 0) return;
    Take(fd, peer, onReserve, now);
  }
}

int SyslogReceiver::AcceptOnReserve(Listener &listener, sockaddr_storage &peer,
                                    Clock::time_point now) {
  if (reserve_ < 0) reserve_ = OpenReserve();
  if (reserve_ < 0 && !connections_.empty()) {
    // The reserve went to someone else: the connection idle the longest gives way to get it back.
    CloseFront();
    ++counts_.refused.descriptors;
    reserve_ = OpenReserve();
  }
  if (reserve_ < 0) {
    listener.pausedUntil = now + kPauseWithoutDescriptors;
    errno = EMFILE;
    return -1;
  }
  // Linux finds no descriptor before it looks for a connection: with the reserve's, the accept
  // says whether one is waiting at all.
  close(reserve_);
  socklen_t length = sizeof peer;
  const int fd = accept4(listener.fd, reinterpret_cast<sockaddr *>(&peer), &length,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
  const int error = errno;
  reserve_ = fd >= 0 ? -1 : OpenReserve();
  errno = error;
  return fd;
}

void SyslogReceiver::Take(int fd, const sockaddr_storage &peer, bool onReserve,
                          Clock::time_point now) {
  IpAddress address;
  const bool sender = FromSender(senders_, peer, address);
  if (!sender) ++counts_.refused.sender;
  if (onReserve && sender) ++counts_.refused.descriptors;
  if (!sender || (onReserve && connections_.empty())) {
    close(fd);
    if (onReserve) reserve_ = OpenReserve();
    return;
  }
  // As a web server reuses its idle keep-alive connections: the one idle the longest gives way,
  // at the bound or for want of a descriptor, so that idle connections never shut a sender out.
  if (onReserve) {
    CloseFront();
    reserve_ = OpenReserve();
  } else if (connections_.size() >= maxConnections_) {
    CloseFront();
    ++counts_.refused.connections;
  }
  ++counts_.connections;
  connections_.push_back(Connection{fd, address, now, SyslogFramer()});
}

void SyslogReceiver::CloseFront() {
  close(connections_.front().fd);
  connections_.pop_front();
}

bool SyslogReceiver::ReadConnection(Connection &connection, const Sink &sink, bool &heard) {
  heard = false;
  const ssize_t n = read(connection.fd, readBuffer_.data(), readBuffer_.size());
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
  const uint64_t oversized = connection.framer.Oversized();
  auto frame = [&](std::string_view text) {
    ++counts_.frames;
    Hand(text, sink);
  };
  if (n > 0) {
    heard = true;
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

void SyslogReceiver::CloseIdle(Clock::time_point now) {
  while (!connections_.empty() && now - connections_.front().heard >= idle_) {
    CloseFront();
    ++counts_.refused.idle;
  }
}

void SyslogReceiver::Reconfigure(AddressRanges senders, size_t maxConnections) {
  senders_ = std::move(senders);
  maxConnections_ = std::max<size_t>(1, std::min(maxConnections, ConnectionRoom()));
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (senders_.Contains(it->peer)) {
      ++it;
      continue;
    }
    close(it->fd);
    it = connections_.erase(it);
    ++counts_.refused.sender;
  }
  while (connections_.size() > maxConnections_) {
    CloseFront();
    ++counts_.refused.connections;
  }
  counts_.open = connections_.size();
}

void SyslogReceiver::Poll(int timeoutMilliseconds, const Sink &sink) {
  const Clock::time_point before = Clock::now();
  std::vector<pollfd> waits;
  waits.reserve(listeners_.size() + connections_.size());
  for (const Listener &listener : listeners_) {
    const bool paused = listener.pausedUntil > before;
    waits.push_back(pollfd{paused ? -1 : listener.fd, POLLIN, 0});
  }
  polled_.clear();
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    waits.push_back(pollfd{it->fd, POLLIN, 0});
    polled_.push_back(it);
  }
  const int ready = poll(waits.data(), waits.size(), timeoutMilliseconds);
  const Clock::time_point now = Clock::now();
  // The polled connections first: a connection accepted below may close one of them.
  for (size_t i = 0; ready > 0 && i < polled_.size(); ++i) {
    if (waits[listeners_.size() + i].revents == 0) continue;
    bool heard = false;
    if (!ReadConnection(*polled_[i], sink, heard)) {
      connections_.erase(polled_[i]);
    } else if (heard) {
      polled_[i]->heard = now;
      connections_.splice(connections_.end(), connections_, polled_[i]);
    }
  }
  for (size_t i = 0; ready > 0 && i < listeners_.size(); ++i) {
    if ((waits[i].revents & POLLIN) == 0) continue;
    if (listeners_[i].tcp) {
      Accept(listeners_[i], now);
    } else {
      ReadDatagrams(listeners_[i].fd, sink);
    }
  }
  CloseIdle(now);
  counts_.open = connections_.size();
}

}  // namespace host
