#include "ShieldListener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "UrlText.h"

namespace host {

namespace {

bool ResolveIPv4(const std::string &server, in_addr &address) {
  if (inet_pton(AF_INET, server.c_str(), &address) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *found = nullptr;
  if (getaddrinfo(server.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  address = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

// Reads one connection's request line; the sender wrote it and closed before we got here, so
// a short wait is only for a sender that is slower than that.
std::string ReadRequestLine(int connection) {
  std::string data;
  char buffer[4096];
  while (data.size() < 65536 && data.find('\n') == std::string::npos) {
    pollfd ready{connection, POLLIN, 0};
    if (poll(&ready, 1, 200) <= 0) break;
    ssize_t n = recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  size_t end = data.find_first_of("\r\n");
  return end == std::string::npos ? data : data.substr(0, end);
}

}  // namespace

bool ParseShieldRequest(const std::string &line, ShieldRequest &shield) {
  shield = ShieldRequest{};
  shield.line = line;
  if (!line.starts_with("GET ")) return false;
  size_t mark = line.find('?');
  if (mark == std::string::npos) return false;
  std::string_view query = std::string_view(line).substr(mark + 1);
  size_t space = query.find(' ');  // a request line with a version after the target
  if (space != std::string_view::npos) query = query.substr(0, space);
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    size_t equals = pair.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view key = pair.substr(0, equals);
    std::string value;
    common::AppendPercentDecoded(value, pair.substr(equals + 1));
    if (key == "B")
      shield.address = value;
    else if (key == "D")
      shield.host = value;
    else if (key == "E")
      shield.resource = value;
    else if (key == "F")
      shield.deflect = value;
  }
  return !shield.address.empty();
}

ShieldListener::ShieldListener(const std::string &server, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (!ResolveIPv4(server, address.sin_addr)) {
    problem_ = "the server name '" + server + "' does not resolve to an IPv4 address";
    return;
  }
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    problem_ = std::string("cannot open a socket: ") + std::strerror(errno);
    return;
  }
  int yes = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      listen(fd_, 128) != 0) {
    problem_ =
        "cannot listen on " + server + ":" + std::to_string(port) + ": " + std::strerror(errno);
    close(fd_);
    fd_ = -1;
  }
}

ShieldListener::~ShieldListener() {
  if (fd_ >= 0) close(fd_);
}

std::vector<ShieldRequest> ShieldListener::Collect() {
  std::vector<ShieldRequest> shields;
  if (fd_ < 0) return shields;
  for (;;) {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    int connection = accept4(fd_, reinterpret_cast<sockaddr *>(&peer), &size, SOCK_CLOEXEC);
    if (connection < 0) break;
    ShieldRequest shield;
    if (!IsOwnAddress(peer)) {
      ++foreign_;
    } else if (ParseShieldRequest(ReadRequestLine(connection), shield)) {
      shields.push_back(shield);
    } else {
      ++unreadable_;
    }
    close(connection);
  }
  return shields;
}

bool IsOwnAddress(std::string_view address) {
  sockaddr_storage peer{};
  const std::string text(address);
  if (inet_pton(AF_INET, text.c_str(), &reinterpret_cast<sockaddr_in &>(peer).sin_addr) == 1) {
    peer.ss_family = AF_INET;
  } else if (inet_pton(AF_INET6, text.c_str(), &reinterpret_cast<sockaddr_in6 &>(peer).sin6_addr) ==
             1) {
    peer.ss_family = AF_INET6;
  } else {
    return false;
  }
  return IsOwnAddress(peer);
}

bool IsOwnAddress(const sockaddr_storage &peer) {
  auto loopback = [](const in_addr &address) { return (ntohl(address.s_addr) >> 24) == 127; };
  if (peer.ss_family == AF_INET) {
    const in_addr address = reinterpret_cast<const sockaddr_in &>(peer).sin_addr;
    if (loopback(address)) return true;
  } else if (peer.ss_family == AF_INET6) {
    const in6_addr &address = reinterpret_cast<const sockaddr_in6 &>(peer).sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&address)) return true;
    if (IN6_IS_ADDR_V4MAPPED(&address)) {
      in_addr v4{};
      std::memcpy(&v4, address.s6_addr + 12, 4);
      if (loopback(v4)) return true;
    }
  } else {
    return false;
  }
  // Asked only for a peer that is not on loopback: rare enough to read the interfaces anew.
  ifaddrs *interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return false;
  bool own = false;
  for (const ifaddrs *entry = interfaces; entry != nullptr && !own; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != peer.ss_family) continue;
    if (peer.ss_family == AF_INET) {
      own = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr.s_addr ==
            reinterpret_cast<const sockaddr_in &>(peer).sin_addr.s_addr;
    } else {
      own = std::memcmp(&reinterpret_cast<const sockaddr_in6 *>(entry->ifa_addr)->sin6_addr,
                        &reinterpret_cast<const sockaddr_in6 &>(peer).sin6_addr,
                        sizeof(in6_addr)) == 0;
    }
  }
  freeifaddrs(interfaces);
  return own;
}

}  // namespace host
