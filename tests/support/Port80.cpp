#include "support/Port80.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

namespace {

sockaddr_in Port80Of(const char *loopback) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(80);
  inet_pton(AF_INET, loopback, &address.sin_addr);
  return address;
}

bool WaitReadable(int fd, int milliseconds) {
  pollfd wait{fd, POLLIN, 0};
  return poll(&wait, 1, milliseconds) > 0;
}

}  // namespace

Port80::Port80() {
  lock_ = open("/tmp/flowdeck-port80.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666);
  if (lock_ >= 0) flock(lock_, LOCK_EX);
}

Port80::~Port80() {
  if (reader_.joinable()) reader_.join();
  for (int fd : fillers_) {
    if (fd >= 0) close(fd);
  }
  if (listener_ >= 0) close(listener_);
  if (lock_ >= 0) close(lock_);
}

bool Port80::Listen(int backlog, const char *loopback) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  listenerAddress_ = Port80Of(loopback);
  const sockaddr_in &address = listenerAddress_;
  return bind(listener_, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
         listen(listener_, backlog) == 0;
}

void Port80::AcceptOne() {
  reader_ = std::thread([this] {
    if (!WaitReadable(listener_, 10000)) return;
    const int peer = accept(listener_, nullptr, nullptr);
    if (peer < 0) return;
    char buffer[4096];
    while (WaitReadable(peer, 10000)) {
      const ssize_t n = read(peer, buffer, sizeof buffer);
      if (n <= 0) break;
      received_.append(buffer, static_cast<size_t>(n));
    }
    close(peer);
  });
}

std::string Port80::Received() {
  if (reader_.joinable()) reader_.join();
  return received_;
}

void Port80::FillBacklog() {
  const sockaddr_in &address = listenerAddress_;
  for (int &fd : fillers_) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
  }
  usleep(200 * 1000);  // lets the handshakes that can complete do so
}

bool Port80::NothingListens(const char *loopback) {
  const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const sockaddr_in address = Port80Of(loopback);
  const bool free = bind(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
  close(probe);
  return free;
}

}  // namespace testing_support
