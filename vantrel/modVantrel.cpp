#include "modVantrel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "KvError.h"
#include "UrlText.h"
#include "WriteTrace.h"

namespace vantrel {

namespace {

constexpr common::Site kSite{"  Module: modVantrel  ", ""};
constexpr int32_t kHttpPort = 80;
constexpr std::chrono::milliseconds kConnectTimeout{2000};
constexpr uint32_t kNoAddress = INADDR_NONE;

// A socket that is closed however the procedure ends.
class OwnedSocket {
 public:
  OwnedSocket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)) {}
  ~OwnedSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnedSocket(const OwnedSocket &) = delete;
  OwnedSocket &operator=(const OwnedSocket &) = delete;

  bool IsOpen() const noexcept { return fd_ >= 0; }
  int Fd() const noexcept { return fd_; }

 private:
  int fd_;
};

// Bytes in network order read as a signed little-endian number, as the trace shows them.
int16_t LittleEndian16(const void *bytes) {
  unsigned char b[2];
  std::memcpy(b, bytes, sizeof b);
  return static_cast<int16_t>(static_cast<uint16_t>(b[0] | (b[1] << 8)));
}

int32_t LittleEndian32(const void *bytes) {
  unsigned char b[4];
  std::memcpy(b, bytes, sizeof b);
  return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                              (static_cast<uint32_t>(b[2]) << 16) |
                              (static_cast<uint32_t>(b[3]) << 24));
}

bool IsUnreserved(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::strchr("-._~/:@!$'()*,;", c) != nullptr && c != '\0';
}

// The first IPv4 address of a name; no lookup at all for an empty name.
uint32_t ResolveName(const std::string &name) {
  if (name.empty()) return kNoAddress;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    return kNoAddress;
  }
  uint32_t address = kNoAddress;
  if (found->ai_addr != nullptr && found->ai_addr->sa_family == AF_INET) {
    address = reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr.s_addr;
  }
  freeaddrinfo(found);
  return address;
}

// The server's IPv4 address in network order, or kNoAddress.
uint32_t GetAddress(std::string_view server) {
  const std::string name(server);
  uint32_t address = inet_addr(name.c_str());
  if (address == kNoAddress) address = ResolveName(name);
  WriteTrace("GetAddress of ", server, " is ", LittleEndian32(&address));
  return address;
}

// Connects without ever waiting longer than the timeout; the socket stays non-blocking, so the
// send cannot hold the host's thread either.
bool ConnectWithin(int fd, const sockaddr_in &target, std::chrono::milliseconds timeout) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;
  if (connect(fd, reinterpret_cast<const sockaddr *>(&target), sizeof target) == 0) return true;
  if (errno != EINPROGRESS) return false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd wait{fd, POLLOUT, 0};
    const int ready = poll(&wait, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready > 0) break;
    if (ready == 0 || errno != EINTR) return false;
  }
  int error = 0;
  socklen_t size = sizeof error;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

}  // namespace

std::string BuildDeflectString(std::string_view pathInfo, std::string_view pathTranslated,
                               std::string_view deflectTemplate) {
  return common::Guard(kSite, "Function: BuildDeflectString", [&] {
    std::string text(deflectTemplate);
    const size_t firstStar = text.find('*');
    if (firstStar == std::string::npos) return text;
    const bool fileSystem = text.find('\\') != std::string::npos;
    const char separator = fileSystem ? '\\' : '/';
    const std::string_view path = fileSystem ? pathTranslated : pathInfo;
    const size_t lastSeparator = text.rfind(separator);
    if (lastSeparator == std::string::npos || firstStar < lastSeparator) {
      common::Raise(kSite, common::kInvalidArgument);
    }
    const size_t firstDot = text.find('.');
    const size_t nameStart = path.rfind(separator);
    const std::string_view fileName =
        nameStart == std::string_view::npos ? path : path.substr(nameStart + 1);
    const size_t fileDot = fileName.find('.');
    const std::string_view name = fileName.substr(0, fileDot);
    const std::string_view extension =
        fileDot == std::string_view::npos ? std::string_view() : fileName.substr(fileDot + 1);
    size_t afterName = 0;
    if (firstDot != std::string::npos && firstStar < firstDot) {
      text.replace(firstStar, 1, name);
      afterName = firstStar + name.size();
    }
    if (firstDot == std::string::npos) return text;
    // The extension takes the template's next wildcard, never a "*" of the inserted name.
    const size_t nextStar = text.find('*', afterName);
    if (nextStar != std::string::npos) text.replace(nextStar, 1, extension);
    return text;
  });
}

void AppendPercentEncoded(std::string &out, std::string_view value) {
  common::AppendPercentEncoded(out, value, [](unsigned char c) { return !IsUnreserved(c); });
}

std::string ShieldRequest(std::string_view flowdeckURL, std::string_view filterURI,
                          std::string_view addShieldURL, std::string_view remoteAddr,
                          std::string_view host, std::string_view resource,
                          std::string_view deflect) {
  std::string request("GET ");
  request.append(flowdeckURL).append(filterURI).append("?").append(addShieldURL);
  request.append("&B=");
  AppendPercentEncoded(request, remoteAddr);
  request.append("&C=1&D=");
  AppendPercentEncoded(request, host);
  request.append("&E=");
  AppendPercentEncoded(request, resource);
  request.append("&F=");
  AppendPercentEncoded(request, deflect);
  request.append("&G=1&H=0&I=1\r\n");
  return request;
}

void SendShieldToHost(std::string_view server, std::string_view flowdeckURL,
                      std::string_view filterURI, std::string_view addShieldURL,
                      std::string_view remoteAddr, std::string_view host, std::string_view resource,
                      std::string_view deflect) {
  common::Guard(kSite, "Sub: SendShieldToHost", [&] {
    WriteTrace("WSAPI Started");
    const OwnedSocket socket;
    if (!socket.IsOpen()) return;
    WriteTrace("\tSocket opened");
    const uint32_t address = GetAddress(server);
    if (address == kNoAddress) {
      WriteTrace("\tINVALID ADDRESS");
      return;
    }
    int32_t port = kHttpPort;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(UnsignedToInteger(port)));
    target.sin_addr.s_addr = address;
    if (!ConnectWithin(socket.Fd(), target, kConnectTimeout)) {
      WriteTrace("\tConnect Failed for port:", LittleEndian16(&target.sin_port),
                 " Address:", LittleEndian32(&target.sin_addr),
                 " Family:", static_cast<int>(target.sin_family));
      return;
    }
    WriteTrace("\tSocket Connected");
    const std::string request =
        ShieldRequest(flowdeckURL, filterURI, addShieldURL, remoteAddr, host, resource, deflect);
    if (IsConnected(socket.Fd())) {
      // A peer that has gone must not raise SIGPIPE in the host's process.
      (void)::send(socket.Fd(), request.data(), request.size(), MSG_NOSIGNAL);
      WriteTrace("\tData Sent=", request);
    }
  });
}

int16_t UnsignedToInteger(const int32_t &value) {
  return common::Guard(kSite, "Function: UnsignedToInteger", [&] {
    if (value < 0 || value > 65535) common::Raise(kSite, common::kOverflow);
    return static_cast<int16_t>(value > 32767 ? value - 65536 : value);
  });
}

bool IsConnected(int socket) {
  return common::Guard(kSite, "Function: IsConnected", [&] {
    pollfd probe{socket, POLLOUT, 0};
    return poll(&probe, 1, 0) > 0 && (probe.revents & POLLOUT) != 0;
  });
}

}  // namespace vantrel
