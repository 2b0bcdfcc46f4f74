#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace host {

// An IPv4 or IPv6 address. IPv4 addresses are held in their IPv4-mapped IPv6 form
// (::ffff:a.b.c.d), so that one 128-bit value serves both families.
class IpAddress {
 public:
  // Reads dotted IPv4 or IPv6 text (no zone, no brackets, no port) without allocating.
  static bool Parse(std::string_view text, IpAddress &address);
  static bool IsValid(std::string_view text);
  // The address of a socket peer; false for a family that has none (a Unix socket).
  static bool FromSocket(const sockaddr_storage &peer, IpAddress &address);

  bool IsV4() const;
  // The form web servers print: dotted for IPv4, compressed lower-case hex for IPv6.
  std::string Text() const;
  // The address as two 64-bit halves, most significant first.
  uint64_t High() const { return high_; }
  uint64_t Low() const { return low_; }
  bool IsLoopback() const;

  friend bool operator==(const IpAddress &, const IpAddress &) = default;

 private:
  uint64_t high_ = 0;
  uint64_t low_ = 0;
};

}  // namespace host
