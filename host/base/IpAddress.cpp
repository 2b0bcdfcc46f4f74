#include "base/IpAddress.h"

#include <arpa/inet.h>

#include <cstring>

namespace host {

namespace {

constexpr uint64_t kMappedPrefix = 0x0000ffff00000000ULL;

uint64_t ReadHalf(const unsigned char *bytes) {
  uint64_t half = 0;
  for (int i = 0; i < 8; ++i) half = half << 8 | bytes[i];
  return half;
}

}  // namespace

bool IpAddress::Parse(std::string_view text, IpAddress &address) {
  // inet_pton wants a terminated string; the longest valid text fits in INET6_ADDRSTRLEN.
  char buffer[INET6_ADDRSTRLEN];
  if (text.empty() || text.size() >= sizeof buffer || text.find('\0') != std::string_view::npos)
    return false;
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  if (text.find(':') == std::string_view::npos) {
    unsigned char v4[4];
    if (inet_pton(AF_INET, buffer, v4) != 1) return false;
    address.high_ = 0;
    address.low_ = kMappedPrefix | uint64_t{v4[0]} << 24 | uint64_t{v4[1]} << 16 |
                   uint64_t{v4[2]} << 8 | v4[3];
    return true;
  }
  unsigned char v6[16];
  if (inet_pton(AF_INET6, buffer, v6) != 1) return false;
  address.high_ = ReadHalf(v6);
  address.low_ = ReadHalf(v6 + 8);
  return true;
}

bool IpAddress::FromSocket(const sockaddr_storage &peer, IpAddress &address) {
  if (peer.ss_family == AF_INET) {
    const auto &v4 = reinterpret_cast<const sockaddr_in &>(peer);
    address.high_ = 0;
    address.low_ = kMappedPrefix | ntohl(v4.sin_addr.s_addr);
    return true;
  }
  if (peer.ss_family != AF_INET6) return false;
  const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(peer);
  address.high_ = ReadHalf(v6.sin6_addr.s6_addr);
  address.low_ = ReadHalf(v6.sin6_addr.s6_addr + 8);
  return true;
}

bool IpAddress::IsLoopback() const {
  if (IsV4()) return (low_ >> 24 & 0xff) == 127;
  return high_ == 0 && low_ == 1;
}

bool IpAddress::IsValid(std::string_view text) {
  IpAddress ignored;
  return Parse(text, ignored);
}

bool IpAddress::IsV4() const {
  return high_ == 0 && (low_ & 0xffffffff00000000ULL) == kMappedPrefix;
}

std::string IpAddress::Text() const {
  char text[INET6_ADDRSTRLEN];
  if (IsV4()) {
    const uint32_t v4 = htonl(static_cast<uint32_t>(low_));
    inet_ntop(AF_INET, &v4, text, sizeof text);
    return text;
  }
  unsigned char v6[16];
  for (int i = 0; i < 8; ++i) {
    v6[i] = static_cast<unsigned char>(high_ >> (56 - 8 * i));
    v6[8 + i] = static_cast<unsigned char>(low_ >> (56 - 8 * i));
  }
  inet_ntop(AF_INET6, v6, text, sizeof text);
  return text;
}

}  // namespace host
