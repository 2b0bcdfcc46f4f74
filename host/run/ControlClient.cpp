#include "run/ControlClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "base/Error.h"
#include "run/ControlSocket.h"
#include "run/ControlWire.h"

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kRightsHint = "run as the run's user, a member of its group, or with sudo";

// The socket's descriptor, closed however Ask ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void Fail(const std::string &path, const std::string &cause) {
  throw Error("", "cannot ask the follow on " + path + ": " + cause);
}

// Waits until `fd` is ready for `events`, or throws when the time is up.
void WaitFor(int fd, short events, Clock::time_point deadline, const std::string &path) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) Fail(path, "no reply in time");
    pollfd watched{fd, events, 0};
    const int ready = poll(&watched, 1, static_cast<int>(left));
    if (ready > 0) return;
    if (ready < 0 && errno != EINTR) Fail(path, std::strerror(errno));
  }
}

// False when nobody listens there.
bool Connect(int fd, const std::string &path, Clock::time_point deadline) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) Fail(path, "the path is too long for a socket");
  std::memcpy(address.sun_path, path.data(), path.size());
  for (;;) {
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) return true;
    const int cause = errno;
    if (cause == ENOENT || cause == ECONNREFUSED) return false;
    if (cause == EACCES || cause == EPERM)
      Fail(path, std::string(std::strerror(cause)) + "; " + kRightsHint);
    // A full queue: the follow is busy for a moment; a non-blocking connect only says so.
    if (cause != EAGAIN && cause != EINTR) Fail(path, std::strerror(cause));
    if (Clock::now() >= deadline) Fail(path, "no reply in time");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void SendAll(int fd, const std::string &data, Clock::time_point deadline, const std::string &path) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      WaitFor(fd, POLLOUT, deadline, path);
    } else if (errno == EPIPE || errno == ECONNRESET) {
      return;  // closed on us: its reply ("refused") says why
    } else if (errno != EINTR) {
      Fail(path, std::strerror(errno));
    }
  }
}

ControlReply Receive(int fd, Clock::time_point deadline, const std::string &path) {
  std::string data;
  std::vector<char> buffer(65536);
  for (;;) {
    ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      WaitFor(fd, POLLIN, deadline, path);
      continue;
    }
    // A reset: the follow dropped the connection with our request unread.
    if (n < 0 && errno == ECONNRESET) n = 0;
    if (n < 0) Fail(path, std::strerror(errno));
    data.append(buffer.data(), static_cast<size_t>(n));
    ControlReply reply;
    switch (ControlWire::DecodeReply(data, reply)) {
      case ControlWire::Reading::kComplete:
        return reply;
      case ControlWire::Reading::kRefused:
        Fail(path, std::string("refused; ") + kRightsHint);
      case ControlWire::Reading::kMalformed:
        Fail(path, "its reply cannot be read");
      case ControlWire::Reading::kIncomplete:
        break;
    }
    if (n == 0)
      Fail(path, "the connection closed before the reply was whole (the follow dropped it)");
  }
}

}  // namespace

std::optional<ControlReply> ControlClient::Ask(const std::string &runDirectory,
                                               const std::vector<std::string> &arguments,
                                               std::chrono::milliseconds timeLimit) {
  const std::string path = ControlSocket::PathIn(runDirectory);
  std::string request;
  const std::string problem = ControlWire::EncodeRequest(arguments, request);
  if (!problem.empty()) Fail(path, problem);
  const Clock::time_point deadline = Clock::now() + timeLimit;
  const Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (socket.Get() < 0) Fail(path, std::strerror(errno));
  if (!Connect(socket.Get(), path, deadline)) return std::nullopt;
  SendAll(socket.Get(), request, deadline, path);
  return Receive(socket.Get(), deadline, path);
}

}  // namespace host
