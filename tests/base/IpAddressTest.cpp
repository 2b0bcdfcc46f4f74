// Addresses as visitors' logs and sockets give them: IPv4 held in its IPv4-mapped IPv6 form,
// written back the way web servers print them, and every text that is not exactly an address
// refused.
#include "base/IpAddress.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using host::IpAddress;

// The text an address is written back as; "refused" when it is no address.
std::string Normal(std::string_view text) {
  IpAddress address;
  return IpAddress::Parse(text, address) ? address.Text() : "refused";
}

TEST(IpAddress, Ipv4AtItsEdgesAndInItsMappedForm) {
  IpAddress address;
  ASSERT_TRUE(IpAddress::Parse("1.2.3.4", address));
  EXPECT_TRUE(address.IsV4());
  EXPECT_EQ(address.High(), 0u);
  EXPECT_EQ(address.Low(), 0x0000ffff01020304u);
  EXPECT_EQ(Normal("0.0.0.0"), "0.0.0.0");
  EXPECT_EQ(Normal("255.255.255.255"), "255.255.255.255");
  // The mapped form is the same address, written back as IPv4.
  IpAddress mapped;
  ASSERT_TRUE(IpAddress::Parse("::FFFF:1.2.3.4", mapped));
  EXPECT_EQ(mapped, address);
  EXPECT_EQ(Normal("::ffff:0102:0304"), "1.2.3.4");
  // Only exactly four decimal parts, each at most 255.
  for (const char *text : {"256.0.0.1", "1.2.3.256", "1.2.3", "1.2.3.4.5", "1.2.3.", ".1.2.3.4",
                           "01.2.3.4", "1.2.3.4 ", " 1.2.3.4", "1.2.3.4/32", "0x1.2.3.4",
                           "1.2.3.4:80", "1..3.4", "", "-1.2.3.4"}) {
    EXPECT_EQ(Normal(text), "refused") << '"' << text << '"';
  }
}

TEST(IpAddress, Ipv6IsWrittenCompressedInLowerCase) {
  EXPECT_EQ(Normal("2001:DB8:0:0:0:0:0:1"), "2001:db8::1");
  EXPECT_EQ(Normal("2001:0db8:0000:0000:0000:0000:0000:0001"), "2001:db8::1");
  EXPECT_EQ(Normal("::"), "::");
  EXPECT_EQ(Normal("0:0:0:0:0:0:0:0"), "::");
  // The longest run of zeros is the one compressed, the first of two alike, and a single zero
  // group is not.
  EXPECT_EQ(Normal("1:0:0:2:0:0:0:3"), "1:0:0:2::3");
  EXPECT_EQ(Normal("1:0:0:2:0:0:3:4"), "1::2:0:0:3:4");
  EXPECT_EQ(Normal("1:0:2:3:4:5:6:7"), "1:0:2:3:4:5:6:7");
  // Embedded IPv4 that is not the mapped form stays IPv6.
  IpAddress compatible;
  ASSERT_TRUE(IpAddress::Parse("::1.2.3.4", compatible));
  EXPECT_FALSE(compatible.IsV4());
  EXPECT_EQ(compatible.Low(), 0x01020304u);
  IpAddress halves;
  ASSERT_TRUE(IpAddress::Parse("0102:0304:0506:0708:090a:0b0c:0d0e:0f10", halves));
  EXPECT_EQ(halves.High(), 0x0102030405060708u);
  EXPECT_EQ(halves.Low(), 0x090a0b0c0d0e0f10u);
  for (const char *text : {"1::2::3", ":::", "12345::", "::g", "[::1]", "fe80::1%eth0", "::1/128",
                           "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7", "::ffff:1.2.3.256", ":1::"}) {
    EXPECT_EQ(Normal(text), "refused") << '"' << text << '"';
  }
}

TEST(IpAddress, TheLongestTextFitsAndAnythingLongerOrWithANulIsRefused) {
  // 45 bytes, the most an address can be written in: read.
  const std::string longest = "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255";
  ASSERT_EQ(longest.size(), 45u);
  EXPECT_EQ(Normal(longest), "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
  // One byte more is no address, however it is padded, and far more is refused unread.
  EXPECT_EQ(Normal("0" + longest), "refused");
  EXPECT_EQ(Normal(std::string(4096, '1')), "refused");
  // A NUL ends nothing early: "1.2.3.4" followed by it is not 1.2.3.4.
  EXPECT_EQ(Normal(std::string_view("1.2.3.4\0", 8)), "refused");
  EXPECT_EQ(Normal(std::string_view("::1\0junk", 8)), "refused");
  EXPECT_TRUE(IpAddress::IsValid("::1"));
  EXPECT_FALSE(IpAddress::IsValid("localhost"));
}

TEST(IpAddress, LoopbackIsAllOf127AndOnlyOneIpv6Address) {
  auto loopback = [](const char *text) {
    IpAddress address;
    EXPECT_TRUE(IpAddress::Parse(text, address)) << text;
    return address.IsLoopback();
  };
  EXPECT_TRUE(loopback("127.0.0.0"));
  EXPECT_TRUE(loopback("127.255.255.255"));
  EXPECT_TRUE(loopback("::ffff:127.0.0.2"));
  EXPECT_TRUE(loopback("::1"));
  EXPECT_FALSE(loopback("126.255.255.255"));
  EXPECT_FALSE(loopback("128.0.0.0"));
  EXPECT_FALSE(loopback("::2"));
  EXPECT_FALSE(loopback("::127.0.0.1"));  // not the mapped form
  EXPECT_FALSE(loopback("::"));
}

TEST(IpAddress, APeerIsReadFromItsSocketAddress) {
  sockaddr_storage peer{};
  auto &v4 = reinterpret_cast<sockaddr_in &>(peer);
  v4.sin_family = AF_INET;
  ASSERT_EQ(inet_pton(AF_INET, "203.0.113.9", &v4.sin_addr), 1);
  IpAddress address, parsed;
  ASSERT_TRUE(IpAddress::FromSocket(peer, address));
  ASSERT_TRUE(IpAddress::Parse("203.0.113.9", parsed));
  EXPECT_EQ(address, parsed);

  peer = {};
  auto &v6 = reinterpret_cast<sockaddr_in6 &>(peer);
  v6.sin6_family = AF_INET6;
  ASSERT_EQ(inet_pton(AF_INET6, "2001:db8::ff00:42:8329", &v6.sin6_addr), 1);
  ASSERT_TRUE(IpAddress::FromSocket(peer, address));
  EXPECT_EQ(address.Text(), "2001:db8::ff00:42:8329");

  // A mapped peer (an IPv6 socket taking IPv4) is the IPv4 address.
  ASSERT_EQ(inet_pton(AF_INET6, "::ffff:203.0.113.9", &v6.sin6_addr), 1);
  ASSERT_TRUE(IpAddress::FromSocket(peer, address));
  EXPECT_EQ(address, parsed);

  peer = {};
  peer.ss_family = AF_UNIX;
  EXPECT_FALSE(IpAddress::FromSocket(peer, address));
}

}  // namespace
