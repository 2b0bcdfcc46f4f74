#include "ShieldListener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace {

TEST(ShieldListener, DecodesTheParametersOfAShieldRequest) {
  host::ShieldRequest shield;
  ASSERT_TRUE(host::ParseShieldRequest(
      "GET /flowdeck/shield?A=add&B=203.0.113.66&C=1&D=shop&E=/admin/a%20b.php&F=/sorry/"
      "login.htm&G=1&H=0&I=1",
      shield));
  EXPECT_EQ(shield.address, "203.0.113.66");
  EXPECT_EQ(shield.host, "shop");
  EXPECT_EQ(shield.resource, "/admin/a b.php");
  EXPECT_EQ(shield.deflect, "/sorry/login.htm");
  EXPECT_FALSE(host::ParseShieldRequest("POST /x?B=1", shield));
  EXPECT_FALSE(host::ParseShieldRequest("GET /x?C=1", shield));
}

}  // namespace

namespace {

sockaddr_storage Peer(const char *text) {
  sockaddr_storage peer{};
  if (std::string(text).find(':') == std::string::npos) {
    auto &v4 = reinterpret_cast<sockaddr_in &>(peer);
    v4.sin_family = AF_INET;
    inet_pton(AF_INET, text, &v4.sin_addr);
  } else {
    auto &v6 = reinterpret_cast<sockaddr_in6 &>(peer);
    v6.sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &v6.sin6_addr);
  }
  return peer;
}

// The first address of an interface that is not loopback, if the machine has one.
std::string InterfaceAddress() {
  ifaddrs *interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return "";
  std::string found;
  for (const ifaddrs *entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr, text,
              sizeof text);
    if (std::string(text).rfind("127.", 0) != 0) {
      found = text;
      break;
    }
  }
  freeifaddrs(interfaces);
  return found;
}

TEST(ShieldListener, TakesShieldRequestsFromThisMachineOnly) {
  for (const char *own : {"127.0.0.1", "127.12.0.66", "::1", "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(host::IsOwnAddress(Peer(own))) << own;
  }
  for (const char *stranger : {"203.0.113.5", "10.255.255.254", "2001:db8::1", "::ffff:8.8.8.8"}) {
    EXPECT_FALSE(host::IsOwnAddress(Peer(stranger))) << stranger;
  }
  sockaddr_storage unix{};
  unix.ss_family = AF_UNIX;
  EXPECT_FALSE(host::IsOwnAddress(unix));
  const std::string address = InterfaceAddress();
  if (address.empty()) GTEST_SKIP() << "no interface beside loopback";
  EXPECT_TRUE(host::IsOwnAddress(Peer(address.c_str()))) << address;
}

}  // namespace
