#include "support/HttpClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testing_support {

namespace {

// An IPv4 or IPv6 socket address for text and port.
bool SocketAddress(const std::string &text, int port, sockaddr_storage &address, socklen_t &size) {
  std::memset(&address, 0, sizeof address);
  auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    size = sizeof(sockaddr_in);
    return true;
  }
  auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
  if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    size = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

// A socket bound to `source` and connecting to `address`:`port`; -1 with `problem` set when
// the connection was not made in time.
int Connect(const std::string &source, const std::string &address, int port, int timeout,
            std::string &problem) {
  sockaddr_storage from{}, to{};
  socklen_t fromSize = 0, toSize = 0;
  if (!SocketAddress(source, 0, from, fromSize) || !SocketAddress(address, port, to, toSize)) {
    problem = "bad address";
    return -1;
  }
  int fd = socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&from), fromSize) != 0) {
    problem = std::string("cannot bind ") + source + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  if (connect(fd, reinterpret_cast<sockaddr *>(&to), toSize) != 0 && errno != EINPROGRESS) {
    problem = std::string("cannot connect: ") + std::strerror(errno);
    close(fd);
    return -1;
  }
  pollfd ready{fd, POLLOUT, 0};
  int error = 0;
  socklen_t errorSize = sizeof error;
  if (poll(&ready, 1, timeout) != 1 ||
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorSize) != 0 || error != 0) {
    problem = error != 0 ? std::string("cannot connect: ") + std::strerror(error)
                         : "no connection within the time";
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

HttpResponse HttpGet(const std::string &source, int port, const std::string &host,
                     const std::string &target, int timeoutMilliseconds) {
  HttpResponse response;
  int fd = Connect(source, "127.0.0.1", port, timeoutMilliseconds, response.problem);
  if (fd < 0) return response;
  const std::string request = "GET " + target + " HTTP/1.0\r\nHost: " + host +
                              "\r\nUser-Agent: flowdeck-test\r\nConnection: close\r\n\r\n";
  size_t sent = 0;
  while (sent < request.size()) {
    pollfd writable{fd, POLLOUT, 0};
    if (poll(&writable, 1, timeoutMilliseconds) != 1) break;
    ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string raw;
  char buffer[8192];
  for (;;) {
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, timeoutMilliseconds) != 1) {
      response.problem = "no complete answer within the time";
      break;
    }
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    raw.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  size_t space = raw.find(' ');
  size_t bodyStart = raw.find("\r\n\r\n");
  if (!raw.starts_with("HTTP/") || space == std::string::npos || bodyStart == std::string::npos) {
    if (response.problem.empty()) response.problem = "not an HTTP answer: '" + raw + "'";
    return response;
  }
  response.status = std::atoi(raw.c_str() + space + 1);
  const size_t firstLineEnd = raw.find("\r\n");
  response.headers = raw.substr(firstLineEnd + 2, bodyStart + 2 - (firstLineEnd + 2));
  response.body = raw.substr(bodyStart + 4);
  return response;
}

std::string PageSeen(const std::string &source, int port, const std::string &host,
                     const std::string &target) {
  const HttpResponse response = HttpGet(source, port, host, target);
  return response.status == 200 ? response.body
                                : std::to_string(response.status) + " " + response.problem;
}

bool CanConnect(const std::string &source, const std::string &address, int port,
                int timeoutMilliseconds) {
  std::string problem;
  int fd = Connect(source, address, port, timeoutMilliseconds, problem);
  if (fd < 0) return false;
  close(fd);
  return true;
}

int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace testing_support
