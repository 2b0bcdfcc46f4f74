#include "shield/ShieldListener.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

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

std::string PeerText(const sockaddr_storage &peer) {
  IpAddress address;
  return IpAddress::FromSocket(peer, address) ? address.Text() : "?";
}

// The target of "GET <target>[ HTTP/x.y]"; empty for any other line.
std::string_view TargetOf(std::string_view line) {
  if (!line.starts_with("GET ")) return {};
  std::string_view target = line.substr(4);
  return target.substr(0, target.find(' '));
}

}  // namespace

bool ParseShieldRequest(std::string_view target, ShieldRequest &shield) {
  shield = ShieldRequest{};
  const size_t mark = target.find('?');
  if (mark == std::string_view::npos) return false;
  std::string_view query = target.substr(mark + 1);
  query = query.substr(0, query.find(' '));  // a request line with a version after the target
  bool seen[4] = {};
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    const size_t equals = pair.find('=');
    if (equals != 1) continue;
    static constexpr std::string_view kKeys = "BDEF";
    const size_t which = kKeys.find(pair[0]);
    if (which == std::string_view::npos) continue;
    if (seen[which]) return false;
    seen[which] = true;
    std::string *values[] = {&shield.address, &shield.host, &shield.resource, &shield.deflect};
    common::AppendPercentDecoded(*values[which], pair.substr(equals + 1));
  }
  return !shield.address.empty();
}

ShieldListener::ShieldListener(const std::string &server, int port, const ShieldRoute &route)
    : route_(route) {
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

uint16_t ShieldListener::Port() const {
  sockaddr_in bound{};
  socklen_t size = sizeof bound;
  if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr *>(&bound), &size) != 0) return 0;
  return ntohs(bound.sin_port);
}

ShieldListener::~ShieldListener() {
  if (fd_ >= 0) close(fd_);
}

void ShieldListener::Tend(std::chrono::steady_clock::time_point now) {
  if (fd_ < 0) return;
  // Those that sent more since the last look, or ran out of time.
  counts_.slow += waiting_.Tend([&](Waiting &connection) { return Read(connection); }, now);
  Accept(now);
}

void ShieldListener::Accept(std::chrono::steady_clock::time_point now) {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    const int fd =
        accept4(fd_, reinterpret_cast<sockaddr *>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors the connection stays in the backlog, to be taken at a later look.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        ++counts_.descriptors;
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    if (!own_.Contains(peer, now)) {
      ++counts_.foreign;
      close(fd);
      continue;
    }
    Waiting connection{fd, now + kLineTime, PeerText(peer), {}};
    if (Read(connection)) {
      close(fd);
      continue;
    }
    counts_.crowded += waiting_.Keep(std::move(connection));
  }
}

bool ShieldListener::Read(Waiting &connection) {
  char buffer[2048];
  for (;;) {
    const size_t room = kMaxLine - connection.data.size();
    const ssize_t n = recv(connection.fd, buffer, std::min(room + 1, sizeof buffer), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    const size_t before = connection.data.size();
    if (n > 0) connection.data.append(buffer, static_cast<size_t>(n));
    const size_t end = connection.data.find_first_of("\r\n", before);
    if (end != std::string::npos) {
      Judge(connection, std::string_view(connection.data).substr(0, end));
      return true;
    }
    if (connection.data.size() > kMaxLine) {
      ++counts_.oversized;
      return true;
    }
    if (n <= 0) {
      // Closed (or failed) without a line end: what came is the line.
      Judge(connection, connection.data);
      return true;
    }
  }
}

void ShieldListener::Judge(const Waiting &connection, std::string_view line) {
  const std::string_view target = TargetOf(line);
  if (route_.Judge(target) != ShieldRoute::Verdict::kAuthentic) {
    NoteForged(connection, target);
    return;
  }
  ShieldRequest shield;
  if (ParseShieldRequest(target, shield)) {
    requests_.push_back(std::move(shield));
  } else {
    ++counts_.unreadable;
  }
}

void ShieldListener::NoteForged(const Waiting &connection, std::string_view target) {
  ++counts_.forged;
  if (forgedNoted_ == kForgedNoted) return;
  ++forgedNoted_;
  ForgedRequest forged{connection.peer, "shield-port", {}};
  ParseShieldRequest(target, forged.asked);
  forged_.push_back(std::move(forged));
}

std::vector<ShieldRequest> ShieldListener::Collect() {
  Tend();
  return std::exchange(requests_, {});
}

std::vector<ForgedRequest> ShieldListener::TakeForged() {
  return std::exchange(forged_, {});
}

}  // namespace host
